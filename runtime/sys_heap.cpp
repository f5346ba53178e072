// The runtime's own heap blocks: a doubly linked list of malloc blocks behind a small header.
#include "runtime/sys_heap.h"
#include <cstdlib>
#include <cstring>
#include "os/os.h"
#include "runtime/fatal.h"

namespace tev {

namespace {
struct alignas(16) BlockHeader {
    BlockHeader* prev;
    BlockHeader* next;
    size_t size;  // as requested
};
BlockHeader* list_head = nullptr;
BlockHeader* list_tail = nullptr;
size_t list_count = 0;

BlockHeader* header_of(void* block) { return static_cast<BlockHeader*>(block) - 1; }
void* block_of(BlockHeader* h) { return h + 1; }

// size + header must not wrap around.
size_t checked_total(size_t size, const void* caller) {
    size_t total;
    if (__builtin_add_overflow(size, sizeof(BlockHeader), &total))
        report_runtime_error(RT_OUT_OF_MEMORY, code_address(caller));
    return total;
}

void link_at_tail(BlockHeader* h) {
    h->prev = list_tail;
    h->next = nullptr;
    if (list_tail) list_tail->next = h;
    else list_head = h;
    list_tail = h;
    ++list_count;
}

bool on_list(BlockHeader* h) {
    for (BlockHeader* b = list_head; b; b = b->next)
        if (b == h) return true;
    return false;
}
}  // namespace

static void* alloc_from(size_t size, const void* caller) {
    auto* h = static_cast<BlockHeader*>(std::malloc(checked_total(size, caller)));
    if (!h) report_runtime_error(RT_OUT_OF_MEMORY, code_address(caller));
    h->size = size;
    link_at_tail(h);
    return block_of(h);
}

void* sys_alloc(size_t size) { return alloc_from(size, __builtin_return_address(0)); }

void* sys_alloc_zeroed(size_t size) {
    void* p = alloc_from(size, __builtin_return_address(0));
    std::memset(p, 0, size);
    return p;
}

void sys_free(void* block) {
    if (!block) return;
    BlockHeader* h = header_of(block);
    if (!on_list(h)) return;
    (h->prev ? h->prev->next : list_head) = h->next;
    (h->next ? h->next->prev : list_tail) = h->prev;
    --list_count;
    std::free(h);
}

void* sys_realloc(void* block, size_t size) {
    if (!block) return alloc_from(size, __builtin_return_address(0));
    if (size == 0) {
        sys_free(block);
        return nullptr;
    }
    size_t total = checked_total(size, __builtin_return_address(0));
    BlockHeader* old = header_of(block);
    auto* h = static_cast<BlockHeader*>(std::realloc(old, total));
    if (!h) report_runtime_error(RT_OUT_OF_MEMORY, code_address(__builtin_return_address(0)));
    h->size = size;
    // The block may have moved: its neighbours, or the list ends, must follow it.
    (h->prev ? h->prev->next : list_head) = h;
    (h->next ? h->next->prev : list_tail) = h;
    return block_of(h);
}

void sys_release_all() {
    BlockHeader* b = list_head;
    while (b) {
        BlockHeader* next = b->next;
        std::free(b);
        b = next;
    }
    list_head = list_tail = nullptr;
    list_count = 0;
}

size_t sys_block_count() { return list_count; }

size_t sys_heap_bytes() {
    size_t total = 0;
    for (BlockHeader* b = list_head; b; b = b->next) total += b->size + sizeof(BlockHeader);
    return total;
}

void* sys_virtual_alloc(size_t size) {
    void* p = os::virtual_alloc(size);
    if (!p) runtime_throw(THROW_VM_ALLOC_FAILED);
    return p;
}

void sys_virtual_free(void* address, size_t size) {
    if (!os::virtual_free(address, size)) runtime_throw(THROW_VM_FREE_FAILED);
}

}  // namespace tev

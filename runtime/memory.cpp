// Series buffers and nodes: a provisional allocator (malloc per buffer, no
// collection) that keeps the interface of runtime/memory.h until the framed
// allocator and the collector replace it.
#include "runtime/memory.h"
#include <cstdlib>
#include <cstring>
#include <vector>
#include "runtime/errors.h"

namespace tev {

bool collector_enabled = false;
bool gc_torture = false;

static std::vector<SeriesBuffer*> nodes{nullptr};
static std::vector<Cell*> roots;
static std::vector<MarkHookFn> hooks;

SeriesBuffer* node_buffer(NodeRef node) { return nodes[node]; }

void memory_init() {}
void memory_release_all() {}
void gc_collect() {}
void gc_collect_if_pressure() {}
MemoryStats memory_stats() { return MemoryStats{}; }
void gc_register_mark(TypeId, MarkCellFn) {}
void gc_mark_node(NodeRef) {}
void gc_mark_cell(const Cell*) {}
void gc_mark_cells(const Cell*, size_t) {}
void gc_add_root(Cell* cell) { roots.push_back(cell); }
void gc_add_mark_hook(MarkHookFn fn) { hooks.push_back(fn); }

static SeriesBuffer* raw_alloc(uint64_t bytes, uint32_t unit, int32_t offset) {
    uint64_t size = (bytes + 15) & ~uint64_t(15);
    if (size > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    auto* b = static_cast<SeriesBuffer*>(std::calloc(1, sizeof(SeriesBuffer) + size + 4));
    if (!b) raise_error(err::internal::no_memory);
    b->flags = unit | SER_LIVE | SER_ALLOCATED;
    b->size = uint32_t(size);
    if (offset < 0) { b->flags |= SER_HEAD_ROOM; offset = int32_t(size >> 1); }
    b->head = b->tail = uint32_t(offset);
    return b;
}

NodeRef alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    SeriesBuffer* b = raw_alloc(uint64_t(count) * unit, unit, offset);
    nodes.push_back(b);
    b->node = NodeRef(nodes.size() - 1);
    return b->node;
}
NodeRef alloc_series_cells(uint32_t n) { return alloc_series(n, 16, 0); }
NodeRef alloc_series_unset(uint32_t n) {
    NodeRef node = alloc_series_cells(n);
    SeriesBuffer* b = node_buffer(node);
    Cell* c = reinterpret_cast<Cell*>(b->data);
    for (uint32_t i = 0; i < b->size / 16; ++i) set_unset(c + i);
    return node;
}
NodeRef alloc_series_bytes(uint32_t size) { return alloc_series(size ? size : 16, 1, 0); }
NodeRef alloc_series_units(uint32_t count, uint32_t unit) {
    return alloc_series(count ? count : 16 >> (unit >> 1), unit, 0);
}
NodeRef alloc_series_filled(uint32_t size, uint8_t byte) {
    NodeRef node = alloc_series_bytes(size);
    SeriesBuffer* b = node_buffer(node);
    std::memset(b->data, byte, b->size);
    return node;
}
NodeRef alloc_series_malloc(uint32_t count, uint32_t unit, int32_t offset) {
    NodeRef node = alloc_series(count, unit, offset);
    node_buffer(node)->flags |= SER_MALLOC;
    return node;
}
void set_series_flags(NodeRef node, uint32_t bits) { node_buffer(node)->flags |= bits; }

SeriesBuffer* expand_series(NodeRef node, uint32_t new_size) {
    SeriesBuffer* old = node_buffer(node);
    uint64_t size = new_size ? new_size : uint64_t(old->size) * 2;
    if (size == 0) size = 16;
    uint32_t unit = old->unit();
    SeriesBuffer* b = raw_alloc(size, unit, 0);
    old = node_buffer(node);
    b->flags = (b->flags & ~SER_CONTENT_FLAGS) | (old->flags & SER_CONTENT_FLAGS);
    b->node = node;
    b->tail = old->tail - old->head;
    nodes[node] = b;
    old->node = 0;
    old->flags &= ~SER_LIVE;
    return b;
}
SeriesBuffer* expand_series_copy(NodeRef node, uint32_t new_size) {
    SeriesBuffer* old = node_buffer(node);
    uint32_t from = old->head, len = old->size - old->head;
    SeriesBuffer* b = expand_series(node, new_size);
    std::memcpy(b->data, old->data + from, len < b->size ? len : b->size);
    return b;
}
SeriesBuffer* expand_series_fill(NodeRef node, uint32_t new_size, uint8_t byte) {
    uint32_t old_size = node_buffer(node)->size;
    SeriesBuffer* b = expand_series_copy(node, new_size);
    if (b->size > old_size) std::memset(b->data + old_size, byte, b->size - old_size);
    return b;
}
SeriesBuffer* series_ensure_room(NodeRef node, uint32_t extra) {
    SeriesBuffer* b = node_buffer(node);
    if (b->room() >= extra) return b;
    uint64_t need = uint64_t(b->tail - b->head) + extra;
    uint64_t size = uint64_t(b->size) * 2;
    if (size < need) size = need;
    if (size > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    return expand_series_copy(node, uint32_t(size));
}
NodeRef copy_series(NodeRef node) {
    SeriesBuffer* old = node_buffer(node);
    NodeRef n = alloc_series(old->size, old->unit(), 0);
    old = node_buffer(node);
    SeriesBuffer* b = node_buffer(n);
    b->flags = (b->flags & ~SER_CONTENT_FLAGS) | (old->flags & SER_CONTENT_FLAGS);
    b->tail = old->tail - old->head;
    std::memcpy(b->data, old->data + old->head, old->size - old->head);
    return n;
}

RootCell::RootCell() { cell_ = new Cell; set_unset(cell_); roots.push_back(cell_); }
RootCell::RootCell(const Cell& v) : RootCell() { *cell_ = v; }
RootCell::~RootCell() {
    for (size_t i = roots.size(); i-- > 0;)
        if (roots[i] == cell_) { roots.erase(roots.begin() + long(i)); break; }
    delete cell_;
}

}  // namespace tev

// Handle and slot tables. Handle slots live in a C-heap array that moves when it doubles;
// the slot table is a block series whose tail always covers its whole capacity.
#include "runtime/handles.h"
#include <cstdlib>
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace tev {

// ================================================================ handle kinds

struct HandleKindEntry {
    const char* name;
    HandleReleaseFn release;
};
static HandleKindEntry handle_kinds[MAX_HANDLE_KINDS];
static int handle_kind_count = 0;

uint32_t handle_registry_add(const char* name, HandleReleaseFn release) {
    if (handle_kind_count >= MAX_HANDLE_KINDS) raise_error_int(err::internal::limit_hit, MAX_HANDLE_KINDS);
    handle_kinds[handle_kind_count] = {name, release};
    return uint32_t(++handle_kind_count);
}

const char* handle_kind_name(uint32_t kind) {
    return kind >= 1 && int(kind) <= handle_kind_count ? handle_kinds[kind - 1].name : nullptr;
}

// ================================================================ handle table

struct HandleSlot {
    uint32_t flags;      // kind, HANDLE_FREE, HANDLE_MARK
    void* pointer;
    int32_t next;        // next slot of the free or used list, -1 ends
};

static HandleSlot* handle_slots = nullptr;
static uint32_t handle_capacity = 0;
static int32_t handle_free_head = -1;
static int32_t handle_used_head = -1;

static void link_free(uint32_t from, uint32_t to) {
    for (uint32_t i = from; i < to; ++i)
        handle_slots[i] = {HANDLE_FREE, nullptr, i + 1 < to ? int32_t(i + 1) : -1};
}

static void handle_tables_init() {
    handle_slots = static_cast<HandleSlot*>(std::malloc(HANDLE_TABLE_INITIAL * sizeof(HandleSlot)));
    if (!handle_slots) fatal_out_of_memory();
    handle_capacity = HANDLE_TABLE_INITIAL;
    link_free(0, handle_capacity);
    handle_free_head = 0;
}

// The free list never becomes empty: taking its last slot doubles the table first.
int32_t handle_table_alloc(void* pointer, uint32_t kind) {
    if (!handle_slots) handle_tables_init();
    int32_t index = handle_free_head;
    if (handle_slots[index].next < 0) {
        uint32_t old = handle_capacity;
        auto* grown = static_cast<HandleSlot*>(std::realloc(handle_slots, size_t(old) * 2 * sizeof(HandleSlot)));
        if (!grown) fatal_out_of_memory();
        handle_slots = grown;
        handle_capacity = old * 2;
        link_free(old, handle_capacity);
        handle_slots[index].next = int32_t(old);
    }
    HandleSlot& s = handle_slots[index];
    handle_free_head = s.next;
    s = {kind & HANDLE_KIND_MASK, pointer, handle_used_head};
    handle_used_head = index;
    return index;
}

void handle_table_release(uint32_t flags, void* pointer) {
    uint32_t kind = flags & HANDLE_KIND_MASK;
    if (kind > 0 && int(kind) <= handle_kind_count && handle_kinds[kind - 1].release)
        handle_kinds[kind - 1].release(pointer);
}

int32_t handle_table_free(int32_t index, bool release) {
    HandleSlot& s = handle_slots[index];
    if (release) handle_table_release(s.flags, s.pointer);
    if (handle_used_head == index) {
        handle_used_head = s.next;
    } else {
        for (int32_t i = handle_used_head; i >= 0; i = handle_slots[i].next)
            if (handle_slots[i].next == index) { handle_slots[i].next = s.next; break; }
    }
    s = {HANDLE_FREE, nullptr, handle_free_head};
    handle_free_head = index;
    return -1;
}

void handle_table_replace(int32_t index, void* pointer) {
    HandleSlot& s = handle_slots[index];
    void* old = s.pointer;
    s.pointer = pointer;
    if (old != pointer) handle_table_release(s.flags, old);
}

void* handle_table_pointer(int32_t index) { return handle_slots[index].pointer; }
uint32_t handle_table_flags(int32_t index) { return handle_slots[index].flags; }
uint32_t handle_table_capacity() { return handle_capacity; }

bool handle_table_mark(int32_t index, void* pointer) {
    if (!handle_slots || uint32_t(index) >= handle_capacity) return false;
    HandleSlot& s = handle_slots[index];
    if (pointer) s.pointer = pointer;
    if (s.flags & HANDLE_MARK) return false;
    s.flags |= HANDLE_MARK;
    return true;
}

void handle_table_walk_kind(uint32_t kind, void (*fn)(void*)) {
    for (int32_t i = handle_used_head; i >= 0; i = handle_slots[i].next)
        if ((handle_slots[i].flags & HANDLE_KIND_MASK) == kind) fn(handle_slots[i].pointer);
}

void handle_table_sweep() {
    int32_t prev = -1;
    for (int32_t i = handle_used_head; i >= 0;) {
        HandleSlot& s = handle_slots[i];
        int32_t next = s.next;
        if (s.flags & HANDLE_MARK) {
            s.flags &= ~HANDLE_MARK;
            prev = i;
        } else {
            handle_table_release(s.flags, s.pointer);
            if (prev < 0) handle_used_head = next; else handle_slots[prev].next = next;
            s = {HANDLE_FREE, nullptr, handle_free_head};
            handle_free_head = i;
        }
        i = next;
    }
}

// ================================================================ slot table

// A free cell is an integer! holding the index of the next free cell (-1
// ends); the collector marks every cell, free ones cost nothing.
static Cell slot_table_block;     // block! cell over the table's series
static int32_t slot_free_head = -1;

static void slot_link_free(SeriesBuffer* b, uint32_t from) {
    uint32_t capacity = b->size / 16;
    Cell* cells = reinterpret_cast<Cell*>(b->data);
    for (uint32_t i = from; i < capacity; ++i) {
        set_integer(cells + i, i + 1 < capacity ? int32_t(i + 1) : -1);
    }
    slot_free_head = int32_t(from);
    b->tail = b->size;
}

static void slot_table_init() {
    NodeRef node = alloc_series_cells(SLOT_TABLE_INITIAL);
    set_series(&slot_table_block, T_BLOCK, node);
    slot_link_free(node_buffer(node), 0);
}

uint32_t slot_table_add(const Cell* value) {
    Cell copy = *value;   // value may live in the table's own buffer, which may move
    if (series_node(&slot_table_block) == 0) {
        RootCell keep(copy);
        slot_table_init();
        copy = *keep;
    }
    NodeRef node = series_node(&slot_table_block);
    if (slot_free_head < 0) {
        RootCell keep(copy);
        uint32_t old = node_buffer(node)->size;
        slot_link_free(expand_series_copy(node, old * 2), old / 16);
        copy = *keep;
    }
    SeriesBuffer* b = node_buffer(node);
    Cell* cells = reinterpret_cast<Cell*>(b->data);
    uint32_t index = uint32_t(slot_free_head);
    slot_free_head = get_integer(cells + index);
    cells[index] = copy;
    return index + 1;
}

Cell* slot_table_get(uint32_t index) {
    return reinterpret_cast<Cell*>(node_buffer(series_node(&slot_table_block))->data) + (index - 1);
}

void slot_table_free(uint32_t index) {
    if (index == 0) return;
    Cell* c = slot_table_get(index);
    set_integer(c, slot_free_head);
    slot_free_head = int32_t(index - 1);
}

uint32_t slot_table_capacity() {
    NodeRef node = series_node(&slot_table_block);
    return node ? node_buffer(node)->size / 16 : 0;
}

void slot_table_mark() {
    if (series_node(&slot_table_block)) gc_mark_cell(&slot_table_block);
}

}  // namespace tev

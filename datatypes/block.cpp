// block! and paren!: making, reading, changing, copying, comparing, forming and molding lists of cells.
#include "datatypes/block.h"
#include <cassert>
#include <cstring>
#include "datatypes/registry.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== helpers

static inline SeriesBuffer* buf(const Cell* block) { return node_buffer(series_node(block)); }

void block_make(Cell* out, uint32_t capacity, TypeId type) {
    if (capacity == 0) capacity = 1;
    if (capacity > BLOCK_MAX_CELLS) raise_error(err::internal::no_memory);
    set_unset(out);
    NodeRef node = alloc_series_cells(capacity);
    set_series(out, type, node, 0);
}

Cell* block_push_new(uint32_t capacity, TypeId type) {
    Cell* out = stack_push();
    block_make(out, capacity, type);
    return out;
}

uint32_t block_length(const Cell* block) {
    uint32_t count = buf(block)->count();
    uint32_t index = series_index(block);
    return index < count ? count - index : 0;
}

Cell* block_at(const Cell* block, uint32_t i) {
    SeriesBuffer* b = buf(block);
    assert(uint64_t(series_index(block)) + i <= b->count());
    return b->cells() + series_index(block) + i;
}
Cell* block_head(const Cell* block) {
    SeriesBuffer* b = buf(block);
    uint32_t index = series_index(block);
    return b->cells() + (index < b->count() ? index : b->count());
}
Cell* block_tail(const Cell* block) { return reinterpret_cast<Cell*>(buf(block)->tail_ptr()); }
Cell* block_cell_from_head(const Cell* block, uint32_t n) { return buf(block)->cells() + n; }

// Room for n more cells at the tail, raising no-memory beyond the maximum.
static SeriesBuffer* block_reserve(const Cell* block, uint64_t n) {
    SeriesBuffer* b = buf(block);
    if (uint64_t(b->count()) + n > BLOCK_MAX_CELLS) raise_error(err::internal::no_memory);
    return series_ensure_room(series_node(block), uint32_t(n * 16));
}

void block_append_cells(Cell* block, const Cell* cells, uint32_t n) {
    if (n == 0) return;
    SeriesBuffer* b = buf(block);
    if (b->room() >= n * 16ull) {  // no allocation: the source cannot move
        std::memmove(b->tail_ptr(), cells, size_t(n) * 16);
        b->tail += n * 16;
        return;
    }
    // The source may lie in a buffer that moves when this one grows: stage it
    // on the value stack (which never moves) first.
    StackScope scope;
    Cell* staged = nullptr;
    for (uint32_t i = 0; i < n; ++i) {
        Cell* c = stack_push();
        if (!staged) staged = c;
        *c = cells[i];
    }
    b = block_reserve(block, n);
    std::memcpy(b->tail_ptr(), staged, size_t(n) * 16);
    b->tail += n * 16;
}

void block_append(Cell* block, const Cell* value) {
    Cell v = *value;  // the original stays reachable wherever it lives
    SeriesBuffer* b = block_reserve(block, 1);
    std::memcpy(b->tail_ptr(), &v, 16);
    b->tail += 16;
}

uint32_t block_append_slot(Cell* block) {
    Cell v;
    set_unset(&v);
    block_append(block, &v);
    return buf(block)->count() - 1;
}

Cell* block_push_cells(const Cell* cells, uint32_t n, TypeId type) {
    // Stage the cells on the stack first: they may lie in a buffer that moves.
    Cell* out = stack_push();
    for (uint32_t i = 0; i < n; ++i) *stack_push() = cells[i];
    block_make(out, n, type);
    SeriesBuffer* b = buf(out);
    std::memcpy(b->tail_ptr(), out + 1, size_t(n) * 16);
    b->tail += n * 16;
    stack_drop_to(out + 1);
    return out;
}

void block_clear_rest(const Cell* block) {
    SeriesBuffer* b = buf(block);
    if (series_index(block) < b->count()) b->tail = b->head + series_index(block) * 16;
}

void block_remove_last(const Cell* block) {
    SeriesBuffer* b = buf(block);
    if (b->tail > b->head) b->tail -= 16;
}

Cell* paren_push(const Cell* value) {
    Cell* out = stack_push_copy(value);
    if (type_is_list(cell_type(out))) {
        cell_set_type(out, T_PAREN);
        return out;
    }
    Cell* paren = block_push_new(1, T_PAREN);
    block_append(paren, out);
    *out = *paren;
    stack_drop_to(out + 1);
    return out;
}

}  // namespace tev

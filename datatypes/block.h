// block! and paren!: lists of cells, the values code and data are made of.
//
// The helpers below are what the lexer, the evaluator and every other unit use
// to build and read blocks. THE RULE (runtime/memory.h) applies to all of them:
// a Cell* returned by block_at/block_head/block_tail is valid only until the
// next allocation; a block cell passed in must itself be rooted (value stack,
// RootCell or a reachable series) when the helper may allocate.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// Largest block in cells: a byte size beyond it raises internal/no-memory.
constexpr uint32_t BLOCK_MAX_CELLS = 0x7FFFFFF0u / 16;

// ------------------------------------------------------------------ making

// Writes an empty block of `type` (block!, paren!, a path type) with room for
// `capacity` cells into `out` (0 counts as 1). `out` must be rooted.
void block_make(Cell* out, uint32_t capacity, TypeId type = T_BLOCK);
// Pushes a new empty block on the value stack and returns its (stable) cell.
Cell* block_push_new(uint32_t capacity, TypeId type = T_BLOCK);
// Pushes a new block holding copies of n cells (which may lie anywhere, also
// in a series buffer: they are copied before anything allocates). Up to 64
// cells may be C++ locals; more must come from a reachable series.
Cell* block_push_cells(const Cell* cells, uint32_t n, TypeId type = T_BLOCK);

// ------------------------------------------------------------------ reading

// Cells from the index to the tail; 0 when the index lies past the tail.
uint32_t block_length(const Cell* block);
// Cell i counted from the block's index (no range check beyond an assert).
Cell* block_at(const Cell* block, uint32_t i);
Cell* block_head(const Cell* block);   // the cell at the index
Cell* block_tail(const Cell* block);   // one past the last cell

// ------------------------------------------------------------------ changing

// Appends a copy of `value` at the tail (not at the index). `value` may point
// into any series, even this block: it is copied before the block grows.
void block_append(Cell* block, const Cell* value);
// Appends copies of n cells (read before any allocation; their values must be
// reachable elsewhere, as in any series).
void block_append_cells(Cell* block, const Cell* cells, uint32_t n);
// Appends one unset! cell and returns its index from the buffer's first cell,
// so the caller can fill it through block_cell_from_head after allocating.
uint32_t block_append_slot(Cell* block);
// Cell n counted from the buffer's first cell, ignoring the index.
Cell* block_cell_from_head(const Cell* block, uint32_t n);
// Drops the cells from the index to the tail.
void block_clear_rest(const Cell* block);
// Drops the last cell (when there is one).
void block_remove_last(const Cell* block);

// ------------------------------------------------------------------ values

// Compares two cells with the first one's type compare entry (code op: 12 for
// find, 2 strict, 9 same, 7/8 sort order). Types without a compare entry are
// equal only when their payload is identical. Answers -1, 0, 1 or -2.
int compare_cells(const Cell* a, const Cell* b, int op);
// The compare entry of block! (and of every list type): rest lengths first for
// equality, then cell by cell; the shorter block is the lesser.
int block_compare(const Cell* a, const Cell* b, int op);

// Set operations of the natives unique, union, intersect, exclude and
// difference on two lists at args[0] and args[1] (op SET_UNIQUE..SET_DIFFERENCE;
// skip = record size in cells, 1 by default). The result (a new block at index
// 0) replaces the operand walked last, whose cell is returned.
Cell* block_set_op(Cell* args, bool case_sensitive, int32_t skip, SetOp op);

// ------------------------------------------------------------------ paren!

// Pushes a copy of `value` typed paren! (a list value keeps its node and index).
Cell* paren_push(const Cell* value);

}  // namespace tev

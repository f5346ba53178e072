// hash!: a block that keeps a hash index over its values, so that find and select need not walk it.
//
// The cell is a block cell whose word 3 holds the index table's node (0: no
// index, as in a cell made by code that knows nothing of hash!). The block
// actions report every change through series_changed (datatypes/series.h),
// whose hash! entry keeps the index in step.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// The position of the first match of key at or after the index (every skip-th
// cell; backward for last/reverse), or -1; -2 when the value has no index.
int64_t hash_index_find(const Cell* value, const Cell* key, int op, int32_t skip, bool last, bool reverse);

// Makes `out` (rooted) a hash! over the cells of `block` (rooted), indexed.
void hash_index_block(Cell* out, Cell* block);

}  // namespace tev

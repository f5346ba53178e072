// path!, lit-path!, set-path! and get-path!: blocks of values written with "/" between them.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// Retypes the cell (a list) in place and pushes a copy of it; returns the stack cell.
Cell* path_push(Cell* cell, TypeId type);
// Makes the (rooted) cell an empty path! with room for size cells (0 counts as 1).
void path_make_at(Cell* cell, uint32_t size);

}  // namespace tev

// percent!: a float shown as a percentage; the constructors the lexer and Tevbin use.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// Append at the tail of a rooted block, from the float's bits (Tevbin).
void percent_make_in(Cell* block, uint32_t high, uint32_t low);
inline Cell* percent_make_cell(Cell* c, double d) { set_float(c, d, T_PERCENT); return c; }

}  // namespace tev

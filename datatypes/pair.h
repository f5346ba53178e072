// pair!: two 32-bit integers, x in word 2 and y in word 3; the entries the lexer, Tevbin and other scalars build or compute pairs with.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

Cell* pair_make_cell(Cell* c, int32_t x, int32_t y);
Cell* pair_push(int32_t x, int32_t y);
// Append at the tail of a rooted block (the Tevbin decoder's constructors).
void pair_make_in(Cell* block, int32_t x, int32_t y);
inline int32_t pair_x(const Cell* c) { return int32_t(c->w2); }
inline int32_t pair_y(const Cell* c) { return int32_t(c->w3); }
// The arithmetic engine: the pair in args[0], the operand in args[1].
void pair_do_math(ActionFrame& f, int op);

}  // namespace tev

// tuple!: 3 to 12 byte components packed in the cell; the entries the lexer, images and other scalars use.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

constexpr int TUPLE_MAX = 12;
int tuple_count(const Cell* c);
// Writes a tuple of `count` (3..12) components.
Cell* tuple_make_cell(Cell* c, int count, const uint8_t* bytes);
void tuple_bytes(const Cell* c, uint8_t out[TUPLE_MAX]);
// The arithmetic engine: the tuple in args[0], the operand in args[1].
void tuple_do_math(ActionFrame& f, int op);
bool tuple_is_zero(const Cell* c);
// max(count, 3) components, the low byte of each value (image pixels).
Cell* tuple_from_components(Cell* c, int count, const uint32_t* values);
// Three colour components, and alpha unless it is -1.
Cell* tuple_from_colour(Cell* c, int r, int g, int b, int alpha);

}  // namespace tev

// point2D!: two 32-bit float coordinates in words 1 and 2; the entries other units build or compute points with.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

Cell* point2d_make_cell(Cell* c, double x, double y);
Cell* point2d_push(double x, double y);
// The arithmetic engine: the point in args[0], the operand in args[1].
void point2d_do_math(ActionFrame& f, int op);

}  // namespace tev

// point3D!: three 32-bit float coordinates in words 1, 2 and 3; the entries other units build or compute points with.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

Cell* point3d_make_cell(Cell* c, double x, double y, double z);
Cell* point3d_push(double x, double y, double z);
// The arithmetic engine: the point in args[0], the operand in args[1].
void point3d_do_math(ActionFrame& f, int op);

}  // namespace tev

// point3D!: three single-precision coordinates written (x, y, z); its actions are the point actions of point2d.cpp.
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include <cstring>
#include "datatypes/point_common.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* point3d_make_cell(Cell* c, double x, double y, double z) {
    point2d_make_cell(c, x, y);
    cell_set_type(c, T_POINT3D);
    float f = float(z);
    static_assert(sizeof f == sizeof c->w3);
    std::memcpy(&c->w3, &f, 4);
    return c;
}

Cell* point3d_push(double x, double y, double z) { return point3d_make_cell(stack_push(), x, y, z); }

void point3d_init() { register_point_type(T_POINT3D, "point3D!"); }

}  // namespace tev

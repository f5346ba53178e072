// What pair!, point2D! and point3D! share: accessors, construction specs, comparison, and the point actions both point types register.
#pragma once
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

inline int point_dims(TypeId t) { return t == T_POINT3D ? 3 : 2; }
// One coordinate of a point2D! or point3D! (i: 0 x, 1 y, 2 z).
float point_coord(const Cell* c, int i);

// 1..dims for an integer or one of the words x, y, z (any case); else 0.
int point_accessor(const Cell* element, int dims);
[[noreturn]] void point_raise_bad_path(const PathStep& step);
// pick's accessor in args[1]: out-of-range for another integer, cannot-use for another word.
int point_pick_accessor(ActionFrame& f, int dims);
// make/to: true when the result is already in args[0] (the same type, or text
// loaded to it); else c holds the coordinates to build from. Raises
// malconstruct for a bad block, bad-to-arg for an unsupported source.
bool coords_from_spec(ActionFrame& f, TypeId target, int dims, double c[3]);
int point_compare_cells(const Cell* a, const Cell* b, int op, int dims);
// A number on the left of a pair or point: the number op each component.
void pair_math_scalar_left(ActionFrame& f, int op);
void point_math_scalar_left(ActionFrame& f, int op);

// Registers t with the point actions below (point2D! and point3D! share them).
void register_point_type(TypeId t, const char* name);

// The actions point2D! and point3D! both register.
void point_make(ActionFrame& f);
void point_random(ActionFrame& f);
int32_t point_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit);
int32_t point_mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* arg, int32_t limit,
                   int32_t indent);
void point_eval_path(PathStep& step);
int point_compare(const Cell* a, const Cell* b, int op);
void point_absolute(ActionFrame& f);
void point_add(ActionFrame& f);
void point_divide(ActionFrame& f);
void point_multiply(ActionFrame& f);
void point_negate(ActionFrame& f);
void point_remainder(ActionFrame& f);
void point_round(ActionFrame& f);
void point_subtract(ActionFrame& f);
void point_pick(ActionFrame& f);
void point_reverse(ActionFrame& f);

}  // namespace tev

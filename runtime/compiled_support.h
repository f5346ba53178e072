// The small rules every caller of the runtime shares: checked number-to-integer
// conversion, mold indentation and the angle normalisation of the trigonometric
// natives. Each fixes one observable rule, so each is stated exactly.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// An integer! passes through; a float! (or percent!) is truncated toward zero,
// raising script/out-of-range with the number when it lies above 2147483647.0,
// below -2147483648.0 or is NaN.
int32_t number_to_int_checked(const Cell* number);

// Appends four blanks per level to a string! (rooted) and returns the limit
// lowered by as many.
int32_t mold_indent(Cell* out, int32_t level, int32_t limit);

// Degrees folded into -180..180 (fmod keeps the dividend's sign), then, outside
// -90..90, reflected by mode: 0 shifts by 180 toward zero (tangent), 2 mirrors
// about +-90 (sine, arcsine), any other mode leaves it (cosine). In radians.
double normalize_degrees_to_radians(double degrees, int mode);

}  // namespace tev

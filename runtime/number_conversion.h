// Number conversions with an observable rule: checked number-to-integer and the
// angle folding of the trigonometric natives. Each rule is stated exactly.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// An integer! passes through; a float! (or percent!) is truncated toward zero,
// raising script/out-of-range with the number when it lies above 2147483647.0,
// below -2147483648.0 or is NaN.
int32_t number_to_int_checked(const Cell* number);

// Degrees folded into -180..180 (fmod keeps the dividend's sign), then, outside
// -90..90, reflected by mode: 0 shifts by 180 toward zero (tangent), 2 mirrors
// about +-90 (sine, arcsine), any other mode leaves it (cosine). In radians.
double normalize_degrees_to_radians(double degrees, int mode);

}  // namespace tev

// Number conversions with an observable rule: checked number-to-integer, and angles folded for the trigonometric natives.
#include "runtime/number_conversion.h"
#include <cmath>
#include "runtime/errors.h"

namespace tev {

int32_t number_to_int_checked(const Cell* number) {
    if (cell_is(number, T_INTEGER)) return get_integer(number);
    double d = get_float(number);
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script::out_of_range, number);
    return int32_t(d);  // in range: truncation toward zero is defined
}

double normalize_degrees_to_radians(double degrees, int mode) {
    double x = std::fmod(degrees, 360.0);
    if (x > 180.0 || x < -180.0) x += x >= 0.0 ? -360.0 : 360.0;
    if (x > 90.0 || x < -90.0) {
        if (mode == 0) x = x >= 0.0 ? x - 180.0 : x + 180.0;
        else if (mode == 2) x = x >= 0.0 ? 180.0 - x : -180.0 - x;
    }
    return x * 3.14159265358979323846 / 180.0;
}

}  // namespace tev

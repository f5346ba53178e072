// The small rules every caller of the runtime shares: checked number-to-integer conversion, mold indentation, angles.
#include "runtime/compiled_support.h"
#include <algorithm>
#include <cmath>
#include "datatypes/string.h"
#include "runtime/errors.h"

namespace tev {

int32_t number_to_int_checked(const Cell* number) {
    if (cell_is(number, T_INTEGER)) return get_integer(number);
    double d = get_float(number);
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script::out_of_range, number);
    return int32_t(d);  // in range: truncation toward zero is defined
}

int32_t mold_indent(Cell* out, int32_t level, int32_t limit) {
    static const char blanks[] = "                                ";  // 32
    for (int64_t n = int64_t(level) * 4; n > 0;) {
        int64_t k = n < 32 ? n : 32;
        string_append_ascii(out, blanks, size_t(k));
        n -= k;
    }
    return level > 0 ? int32_t(std::max<int64_t>(int64_t(limit) - int64_t(level) * 4, INT32_MIN)) : limit;
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

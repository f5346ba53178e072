// Number conversions: checked number-to-integer truncation and the angle folding of the trigonometric natives.
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include "runtime/errors.h"
#include "runtime/number_conversion.h"

using namespace tev;

namespace {

TEST(NumberToIntChecked, TruncatesTowardZeroWithinRange) {
    struct Case { double d; int32_t n; };
    const Case cases[] = {{2147483647.0, 2147483647}, {-2147483648.0, INT32_MIN}, {-0.5, 0}, {2.9, 2},
                          {-2.9, -2}, {0.0, 0}};
    for (const Case& c : cases) {
        Cell f;
        set_float(&f, c.d);
        EXPECT_EQ(number_to_int_checked(&f), c.n) << c.d;
    }
    Cell i;
    set_integer(&i, -7);
    EXPECT_EQ(number_to_int_checked(&i), -7);
    for (double d : {2147483647.5, -2147483649.0, std::numeric_limits<double>::quiet_NaN(),
                     std::numeric_limits<double>::infinity()}) {
        Cell f;
        set_float(&f, d);
        uint32_t code = 0;
        try { number_to_int_checked(&f); } catch (const LanguageThrow&) { code = last_error_code(); }
        EXPECT_EQ(code, err::script::out_of_range.code) << d;
    }
}

TEST(NormalizeDegrees, FoldsIntoTheRangeEachFunctionNeeds) {
    const double k = 3.14159265358979323846 / 180.0;
    struct Case { double degrees; int mode; double folded; };
    const Case cases[] = {
        {30, 1, 30}, {390, 1, 30}, {-390, 1, -30}, {270, 1, -90}, {-270, 1, 90},
        {135, 1, 135}, {135, 0, -45}, {-135, 0, 45}, {135, 2, 45}, {-135, 2, -45},
        {180, 2, 0}, {90, 0, 90}, {720, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(normalize_degrees_to_radians(c.degrees, c.mode), c.folded * k, 1e-12)
            << c.degrees << " mode " << c.mode;
}

}  // namespace

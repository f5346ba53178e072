// Float display rules (precision by kind, noise hiding, ".0" completion) and float near-equality.
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <string>
#include "runtime/errors.h"
#include "runtime/float_format.h"

namespace tev {
namespace {

std::string show(double x, int kind, bool pretty = true) {
    bool saved = float_pretty;
    float_pretty = pretty;
    char buf[FLOAT_FORMAT_MAX];
    size_t n = float_format(x, kind, buf);
    float_pretty = saved;
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

TEST(FloatFormat, TextsPerKindAndPrettyFlag) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    struct Row { double x; int kind; bool pretty; const char* expected; } rows[] = {
        {42.0, FLOAT_KIND_FLOAT, true, "42.0"},
        {1e15, FLOAT_KIND_FLOAT, true, "1000000000000000.0"},
        {1e16, FLOAT_KIND_FLOAT, true, "1.0e16"},
        {1e20, FLOAT_KIND_FLOAT, true, "1.0e20"},
        {1.5e-7, FLOAT_KIND_FLOAT, true, "1.5e-7"},
        {0.0001, FLOAT_KIND_FLOAT, true, "0.0001"},
        {0.1, FLOAT_KIND_FLOAT, true, "0.1"},
        {1.0 / 3, FLOAT_KIND_FLOAT, true, "0.3333333333333333"},
        {0.7 + 0.1, FLOAT_KIND_FLOAT, true, "0.8"},
        {0.7 + 0.1, FLOAT_KIND_FLOAT, false, "0.7999999999999999"},
        {0.1 + 0.2, FLOAT_KIND_FLOAT, true, "0.3"},
        {0.1 + 0.2, FLOAT_KIND_FLOAT, false, "0.3"},   // 16 digits already hide the 4e-17
        {-123.456, FLOAT_KIND_FLOAT, true, "-123.456"},
        {5e-324, FLOAT_KIND_FLOAT, true, "0.0"},       // below 2^-52 counts as zero
        {5e-324, FLOAT_KIND_FLOAT, false, "4.940656458412465e-324"},
        {1e-17, FLOAT_KIND_FLOAT, true, "0.0"},
        {-0.0, FLOAT_KIND_FLOAT, true, "0.0"},
        {-0.0, FLOAT_KIND_FLOAT, false, "-0.0"},
        {inf, FLOAT_KIND_FLOAT, true, "1.#INF"},
        {-inf, FLOAT_KIND_FLOAT, true, "-1.#INF"},
        {nan, FLOAT_KIND_FLOAT, true, "1.#NaN"},
        {nan, FLOAT_KIND_PERCENT, true, "1.#NaN"},
        {inf, FLOAT_KIND_POINT, false, "1.#INF"},
        {12.5, FLOAT_KIND_PERCENT, true, "12.5%"},
        {100.0, FLOAT_KIND_PERCENT, true, "100%"},
        {1e-17, FLOAT_KIND_PERCENT, true, "0%"},
        {1e-17, FLOAT_KIND_PERCENT32, true, "0%"},
        {3.0, FLOAT_KIND_POINT, true, "3"},
        {2.5, FLOAT_KIND_POINT, true, "2.5"},
        {-0.0, FLOAT_KIND_POINT, true, "0"},
        {0.1f, FLOAT_KIND_VECTOR32, true, "0.1"},
        {3.0, FLOAT_KIND_VECTOR32, true, "3.0"},
        {5.5, FLOAT_KIND_SECONDS, true, "5.5"},
        {12.3456789, FLOAT_KIND_SECONDS, true, "12.3457"},
        {1e-17, FLOAT_KIND_SECONDS, true, "0.0"},
    };
    for (const Row& r : rows) EXPECT_EQ(show(r.x, r.kind, r.pretty), r.expected) << r.expected;
}

TEST(FloatFormat, NearEqualityForgivesTenUnitsInTheLastPlace) {
    const double nan = std::nan("");
    double one = 1.0;
    double ten_up = one, eleven_up;
    for (int i = 0; i < 10; ++i) ten_up = std::nextafter(ten_up, 2.0);
    eleven_up = std::nextafter(ten_up, 2.0);
    double big = 1e300, big_ten = big;
    for (int i = 0; i < 10; ++i) big_ten = std::nextafter(big_ten, 0.0);
    struct Row { double a, b; bool equal; } rows[] = {
        {0.1 + 0.2, 0.3, true},
        {1.0, 1.0000000000000002, true},
        {1.0, 1.000000000001, false},
        {one, ten_up, true},
        {one, eleven_up, false},
        {big, big_ten, true},
        {-big, -big_ten, true},
        {big, -big, false},
        {0.0, -0.0, true},
        {1e-20, -1e-20, true},     // closer than 2^-52 absolutely
        {nan, nan, false},
        {nan, 1.0, false},
        {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(float_almost_equal_q(r.a, r.b), r.equal) << r.a << " " << r.b;
        EXPECT_EQ(float_almost_equal_q(r.b, r.a), r.equal) << r.b << " " << r.a;
    }
    EXPECT_TRUE(float32_almost_equal_q(1.0f, std::nextafter(1.0f, 2.0f)));
    EXPECT_FALSE(float32_almost_equal_q(1.0f, 1.001f));
    EXPECT_TRUE(float32_almost_equal_q(-0.0f, 0.0f));
    EXPECT_FALSE(float32_almost_equal_q(std::nan(""), std::nan("")));
}

TEST(FloatFormat, RoundToIntHalvesAwayFromZeroAndRefusesWhatDoesNotFit) {
    struct Row { double x; int32_t expected; } rows[] = {
        {2.5, 3}, {0.49999999999999994, 0}, {-1.6, -2}, {-2.5, -3}, {-0.4, 0}, {1.4, 1},
        {2147483647.4, 2147483647}, {-2147483648.4, INT32_MIN},
    };
    for (const Row& r : rows) EXPECT_EQ(float_round_to_int(r.x), r.expected) << r.x;
    for (double x : {2147483647.5, -2147483648.5, 1e300, std::nan(""), -std::numeric_limits<double>::infinity()}) {
        bool raised = false;
        try { float_round_to_int(x); } catch (const LanguageThrow&) { raised = last_error_code() == err::math::overflow.code; }
        EXPECT_TRUE(raised) << x;
    }
}

TEST(FloatFormat, Classification) {
    EXPECT_TRUE(float_nan_q(std::nan("")));
    EXPECT_FALSE(float_nan_q(std::numeric_limits<double>::infinity()));
    EXPECT_TRUE(float_inf_or_nan_q(-std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(float_inf_or_nan_q(1e308));
    EXPECT_FALSE(std::signbit(float_abs(-0.0)));
    EXPECT_TRUE(std::isnan(float_abs(-std::nan(""))));
}

}  // namespace
}  // namespace tev

// Float text conversion: exact reading, shortest and fixed digits, the display layout, the special texts.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include "runtime/float_text.h"

namespace tev {
namespace {

uint64_t bits(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }
double from_bits(uint64_t b) { double d; std::memcpy(&d, &b, 8); return d; }

std::string text(double d, int ndigits = 0, bool point = true) {
    char buf[FLOAT_TEXT_MAX];
    size_t n = float_to_text(d, ndigits, point, buf);
    EXPECT_EQ(n, std::strlen(buf));
    return buf;
}

double read(const std::string& s, size_t* rest = nullptr) {
    return parse_float(s.data(), s.data() + s.size(), 0, rest);
}

TEST(FloatText, ShortestFormLaysOutAsDisplayed) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row { double value; bool point; const char* expected; } rows[] = {
        {0.1, true, "0.1"},
        {0.1 + 0.2, true, "0.30000000000000004"},
        {1e16, true, "10000000000000000.0"},
        {1e17, true, "1.0e17"},
        {1e17, false, "1e17"},
        {1e-7, true, "0.0000001"},
        {1e-8, true, "1.0e-8"},
        {1.5e-8, true, "1.5e-8"},
        {123.0, true, "123.0"},
        {123.0, false, "123"},
        {-2.5, true, "-2.5"},
        {5e-324, true, "5.0e-324"},
        {1.7976931348623157e308, true, "1.7976931348623157e308"},
        {9007199254740992.0, true, "9007199254740992.0"},
        {1.0 / 3, true, "0.3333333333333333"},
        {0.0, true, "0.0"},
        {-0.0, true, "-0.0"},
        {0.0, false, "0"},
        {-0.0, false, "-0"},
        {inf, true, "1.#INF"},
        {-inf, true, "-1.#INF"},
        {std::nan(""), true, "1.#NaN"},
        {-std::nan(""), true, "1.#NaN"},
    };
    for (const Row& r : rows) EXPECT_EQ(text(r.value, 0, r.point), r.expected) << r.expected;
}

TEST(FloatText, FixedDigitsRoundHalfEvenOnTheExactValue) {
    struct Row { double value; int digits; const char* expected; } rows[] = {
        {1.0 / 3, 16, "0.3333333333333333"},
        {0.125, 2, "0.12"},          // an exact tie goes to the even digit
        {0.375, 2, "0.38"},
        {9.5, 1, "10.0"},           // the carry moves the point
        {0.1, 20, "0.10000000000000000555"},
        {5e-324, 16, "4.940656458412465e-324"},
        {25.0, 1, "20.0"},          // whole numbers take the same rule
        {35.0, 1, "40.0"},
        {59.9999999, 6, "60.0"},
        {2.675, 3, "2.67"},         // 2.67499999... below the half
    };
    for (const Row& r : rows) EXPECT_EQ(text(r.value, r.digits, true), r.expected) << r.expected;
}

TEST(FloatText, ReadingGivesTheNearestDouble) {
    struct Row { const char* text; uint64_t expected; } rows[] = {
        {"0.1", 0x3FB999999999999Aull},
        {"+1.5", 0x3FF8000000000000ull},
        {"1.#INF", 0x7FF0000000000000ull},
        {"-1.#INF", 0xFFF0000000000000ull},
        {"1.#NaN", 0x7FF8000000000000ull},
        {"1.#nan", 0x7FF8000000000000ull},
        {"-0", 0x0000000000000000ull},        // no point: plus zero
        {"-0.0", 0x8000000000000000ull},
        {"000.000e5", 0x0000000000000000ull},
        {"1e400", 0x7FF0000000000000ull},
        {"-1e400", 0xFFF0000000000000ull},
        {"1e-400", 0x0000000000000000ull},
        {"4.9406564584124654e-324", 0x0000000000000001ull},
        {"2.4703282292062327e-324", 0x0000000000000000ull},  // just below half the smallest denormal
        {"2.4703282292062328e-324", 0x0000000000000001ull},
        {"9007199254740993", 0x4340000000000000ull},          // tie: the even neighbour 2^53
        {"9007199254740995", 0x4340000000000002ull},          // tie: the even neighbour above
        {"1.7976931348623157e308", 0x7FEFFFFFFFFFFFFFull},
        {"1.7976931348623158e308", 0x7FEFFFFFFFFFFFFFull},
        {"1.7976931348623159e308", 0x7FF0000000000000ull},    // past the half-way point to 2^1024
        {"2.2250738585072011e-308", 0x000FFFFFFFFFFFFFull},
        {"123456789012345678901234567890", 0x45F8EE90FF6C373Eull},
        {".5", 0x3FE0000000000000ull},
        {"1,5", 0x3FF0000000000000ull},       // stops at the comma: the caller judges the rest
    };
    for (const Row& r : rows) EXPECT_EQ(bits(read(r.text)), r.expected) << r.text;
}

TEST(FloatText, ReadingReportsWhatItLeftUnconsumed) {
    struct Row { const char* text; size_t rest; } rows[] = {
        {"1.5", 0}, {"1.5abc", 3}, {"1e", 1}, {"1e+", 2}, {"1e5x", 1}, {"abc", 3}, {"-", 1}, {".", 1},
        {"1.#INF", 0}, {"1.#Iz", 1}, {"12.", 0},
    };
    for (const Row& r : rows) {
        size_t rest = 99;
        read(r.text, &rest);
        EXPECT_EQ(rest, r.rest) << r.text;
    }
}

TEST(FloatText, LongLiteralsRoundOnTheirLastDigit) {
    // 1 + 2^-53 is exactly half-way between 1.0 and the next double.
    const std::string half = "1.00000000000000011102230246251565404236316680908203125";
    std::string zeros(350, '0');
    ASSERT_GT((half + zeros + "1").size(), 400u);
    EXPECT_EQ(bits(read(half + zeros)), bits(1.0));                       // tie: even
    EXPECT_EQ(bits(read(half + zeros + "1")), bits(1.0000000000000002));  // just above
    std::string below = "1.00000000000000011102230246251565404236316680908203124" + std::string(350, '9');
    EXPECT_EQ(bits(read(below)), bits(1.0));
    // Many digits before the point: 2^70 written out with 300 more digits.
    EXPECT_EQ(read("1180591620717411303424." + std::string(300, '0')), std::ldexp(1.0, 70));
}

TEST(FloatText, RandomDoublesRoundTripThroughTheirShortestText) {
    std::mt19937_64 gen(20261210);
    for (int i = 0; i < 100000; ++i) {
        uint64_t b = gen();
        if (i % 4 == 1) b &= 0x000FFFFFFFFFFFFFull;  // denormals
        if (i % 4 == 2) b = bits(double(int64_t(b >> 20)) / 1000.0);
        double d = from_bits(b);
        if (std::isnan(d) || std::isinf(d)) continue;
        std::string s = text(d);
        ASSERT_EQ(bits(read(s)), b) << s;
        FloatDigits digits;
        format_float(d, 0, digits);
        ASSERT_LE(digits.count, 17) << s;
        format_float(d, 17, digits);  // 17 significant digits always read back too
        std::string seventeen = text(d, 17);
        ASSERT_EQ(bits(read(seventeen)), b) << seventeen;
    }
}

}  // namespace
}  // namespace tev

// Float text conversion: correctly rounded decimal <-> double, identical in every build (no C library).
//
// Reading gives the double nearest to the decimal text (ties to even); writing
// gives either the shortest digits that read back as the same double or a fixed
// number of correctly rounded significant digits. Both use exact big-integer
// arithmetic behind fast paths for the common short cases.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

// Decimal point positions that mark the special values (the digits then hold
// their text).
constexpr int FLOAT_POINT_SPECIAL = 9999;  // infinity or NaN
constexpr int FLOAT_POINT_ZERO = 9998;

// Digits of a double: value = 0.d1 d2 ... dn x 10^point, no trailing zeros.
struct FloatDigits {
    char digits[24];   // NUL-terminated; at most 22 digits are ever asked for
    int count;
    int point;
    bool negative;
};

// ndigits <= 0: the shortest digits that read back as the same double;
// ndigits > 0: that many significant digits (at most 22), rounded half-even on
// the exact value, trailing zeros removed.
void format_float(double value, int ndigits, FloatDigits& out);

// Room that every text produced below fits in, NUL included.
constexpr size_t FLOAT_TEXT_MAX = 48;

// The digits of format_float laid out for display: exponent form ("1.5e-8",
// "1.0e17") when the point is 18 or more or -7 or less, else positional. With
// `point` a text that would end in "." gets a "0" ("123.0"), without it the "."
// is dropped ("123"). Specials: "1.#INF", "-1.#INF", "1.#NaN"; zero is "0.0" /
// "-0.0" with `point`, "0" / "-0" without. Returns the length.
size_t float_to_text(double value, int ndigits, bool point, char* out);

// Reads [start, end): an optional sign, digits with an optional "." and an
// optional exponent; "1.#INF", "-1.#INF" and "1.#NaN" read back. `rest` gets
// the number of characters after the last one consumed (all of them when no
// number was found; 0 when the whole text was a number). exponent_adjust is
// added to the text's decimal exponent. Overflow gives an infinity, underflow
// zero. Never fails otherwise.
double parse_float(const char* start, const char* end, int exponent_adjust = 0,
                   size_t* rest = nullptr);

}  // namespace tev

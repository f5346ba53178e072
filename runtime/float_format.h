// Float display: the one routine that turns every shown float into text, and float near-equality.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

// What a float is shown as: picks the precision and the finishing rules.
enum FloatKind : int {
    FLOAT_KIND_VECTOR32 = 0,   // a 32-bit float element of a vector!
    FLOAT_KIND_FLOAT = 1,      // float! and 64-bit vector! elements
    FLOAT_KIND_PERCENT32 = 2,  // a 32-bit percent element (the caller passes the value x 100)
    FLOAT_KIND_PERCENT = 3,    // percent! (the caller passes the value x 100)
    FLOAT_KIND_SECONDS = 4,    // the seconds of a time!
    FLOAT_KIND_POINT = 5,      // a coordinate of point2D!/point3D!
};

// system/options/float: pretty? hides representation noise (0.7999999999999999
// shows as 0.8) and shows near-zero as zero; full? is stored for the language
// level and read by nothing here.
extern bool float_pretty;
extern bool float_full;

// Room that every float_format text fits in, NUL included.
constexpr size_t FLOAT_FORMAT_MAX = 48;

// Writes the display text of x for the kind into out; returns its length.
size_t float_format(double x, int kind, char* out);

// Equality of floats: exact, or within 2^-52 absolutely, or at most 10
// representable doubles apart. NaN equals nothing.
bool float_almost_equal_q(double a, double b);
bool float32_almost_equal_q(float a, float b);

bool float_nan_q(double x);
bool float32_nan_q(float x);
bool float_inf_or_nan_q(double x);
double float_abs(double x);  // clears the sign bit, NaN stays NaN

// Nearest 32-bit integer, halves away from zero (2.5 -> 3, -1.6 -> -2);
// NaN and values outside the 32-bit range raise math overflow.
int32_t float_round_to_int(double x);

}  // namespace tev

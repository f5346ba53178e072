// Mathematical natives: sign tests, max and min, shift, the trigonometric
// natives (degrees unless /radians), logarithms, exp and square-root.
#include <cmath>
#include <cstring>
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/point_common.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr double PI = 3.141592653589793;
constexpr double DOUBLE_EPSILON = 2.220446049250313e-16;
constexpr double LN_2 = 0.6931471805599453;
constexpr double E = 2.718281828459045;

[[noreturn]] void raise_expect_arg(const Cell* value, const char* arg_name) {
    Cell w, type, arg;
    current_call_word(&w);
    set_datatype(&type, cell_type(value));
    arg = word_from_cstring(arg_name);
    raise_error(err::script::expect_arg, &w, &type, &arg);
}

// ================================================================== sign tests

// -1, 0 or 1 for the number types the sign tests accept; others raise expect-arg.
int sign_of(const Cell* v) {
    switch (cell_type(v)) {
    case T_INTEGER: {
        int32_t n = get_integer(v);
        return (n > 0) - (n < 0);
    }
    case T_FLOAT: case T_PERCENT: case T_TIME: {
        double d = get_float(v);
        return (d > 0) - (d < 0);
    }
    case T_MONEY: return money_sign_of(v);
    default: raise_expect_arg(v, "number");
    }
}

void native_negative_q(NativeCall& c) { set_logic(c.args, sign_of(c.args) < 0); }
void native_positive_q(NativeCall& c) { set_logic(c.args, sign_of(c.args) > 0); }
void native_sign_q(NativeCall& c) { set_integer(c.args, sign_of(c.args)); }

void native_zero_q(NativeCall& c) {
    const Cell* v = c.args;
    bool zero;
    switch (cell_type(v)) {
    case T_INTEGER: case T_CHAR: zero = v->w2 == 0; break;
    case T_FLOAT: case T_PERCENT: case T_TIME: zero = get_float(v) == 0.0; break;
    case T_MONEY: zero = money_sign_of(v) == 0; break;
    case T_PAIR: zero = pair_x(v) == 0 && pair_y(v) == 0; break;
    case T_POINT2D: zero = point_coord(v, 0) == 0.0f && point_coord(v, 1) == 0.0f; break;
    case T_POINT3D: zero = point_coord(v, 0) == 0.0f && point_coord(v, 1) == 0.0f && point_coord(v, 2) == 0.0f; break;
    case T_TUPLE: zero = tuple_is_zero(v); break;
    default: zero = false; break;
    }
    set_logic(c.args, zero);
}

void native_nan_q(NativeCall& c) {
    TypeId t = cell_type(c.args);
    set_logic(c.args, (t == T_FLOAT || t == T_PERCENT) && std::isnan(get_float(c.args)));
}

// ================================================================== max and min

bool is_number(TypeId t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }
bool is_nan_number(const Cell* v) {
    TypeId t = cell_type(v);
    return (t == T_FLOAT || t == T_PERCENT) && std::isnan(get_float(v));
}
double number_of(const Cell* v) { return cell_is(v, T_INTEGER) ? double(get_integer(v)) : get_float(v); }

// One component: NaN propagates (the first operand's first), else the greater or lesser.
double pick_double(double a, double b, bool max) {
    if (std::isnan(a)) return a;
    if (std::isnan(b)) return b;
    return max ? (b > a ? b : a) : (b < a ? b : a);
}
int32_t pick_int(int32_t a, int32_t b, bool max) { return max ? (b > a ? b : a) : (b < a ? b : a); }

// The coordinates of a pair or point widened to three doubles; a scalar fills all three.
int coords_of(const Cell* v, double out[3]) {
    switch (cell_type(v)) {
    case T_PAIR: out[0] = pair_x(v); out[1] = pair_y(v); out[2] = 0; return 2;
    case T_POINT2D: out[0] = point_coord(v, 0); out[1] = point_coord(v, 1); out[2] = 0; return 2;
    case T_POINT3D: for (int i = 0; i < 3; ++i) out[i] = point_coord(v, i); return 3;
    default: out[0] = out[1] = out[2] = number_of(v); return 0;
    }
}

bool is_point(TypeId t) { return t == T_POINT2D || t == T_POINT3D; }

// Component-wise on pairs, points and tuples; false when the pair of types is not one of those.
bool max_min_components(const Cell* a, const Cell* b, bool max, Cell* out) {
    TypeId ta = cell_type(a), tb = cell_type(b);
    if (ta == T_PAIR && tb == T_PAIR) {
        pair_make_cell(out, pick_int(pair_x(a), pair_x(b), max), pick_int(pair_y(a), pair_y(b), max));
        return true;
    }
    if ((ta == T_PAIR && is_number(tb)) || (is_number(ta) && tb == T_PAIR)) {
        const Cell* pair = ta == T_PAIR ? a : b;
        const Cell* scalar = ta == T_PAIR ? b : a;
        double d = number_of(scalar);
        if (!cell_is(scalar, T_INTEGER) && (std::isnan(d) || std::trunc(d) < -2147483648.0 || std::trunc(d) > 2147483647.0)) {
            // Out of the pair's reach: the operation is done on points.
            double p[3];
            coords_of(pair, p);
            bool pair_first = pair == a;
            double x = pair_first ? pick_double(p[0], d, max) : pick_double(d, p[0], max);
            double y = pair_first ? pick_double(p[1], d, max) : pick_double(d, p[1], max);
            point2d_make_cell(out, x, y);
            return true;
        }
        int32_t n = int32_t(d);  // in range: checked above
        pair_make_cell(out, pick_int(pair_x(pair), n, max), pick_int(pair_y(pair), n, max));
        return true;
    }
    bool points = (is_point(ta) && (is_point(tb) || tb == T_PAIR || is_number(tb))) ||
                  (is_point(tb) && (ta == T_PAIR || is_number(ta)));
    if (points) {
        double pa[3], pb[3];
        int na = coords_of(a, pa), nb = coords_of(b, pb);
        double r[3];
        for (int i = 0; i < 3; ++i) r[i] = pick_double(pa[i], pb[i], max);
        if ((na > nb ? na : nb) == 3) point3d_make_cell(out, r[0], r[1], r[2]);
        else point2d_make_cell(out, r[0], r[1]);
        return true;
    }
    if (is_number(ta) && tb == T_TUPLE) return max_min_components(b, a, max, out);  // order does not matter
    if (ta == T_TUPLE && (tb == T_TUPLE || is_number(tb))) {
        uint8_t x[TUPLE_MAX] = {}, y[TUPLE_MAX] = {};
        tuple_bytes(a, x);
        int count = tuple_count(a);
        if (tb == T_TUPLE) {
            tuple_bytes(b, y);
            if (tuple_count(b) > count) count = tuple_count(b);
        } else {
            double d = number_of(b);
            uint8_t k = std::isnan(d) || d <= 0 ? 0 : d >= 255 ? 255 : uint8_t(d);
            std::memset(y, k, sizeof y);
        }
        uint8_t r[TUPLE_MAX];
        for (int i = 0; i < count; ++i) r[i] = max ? (x[i] > y[i] ? x[i] : y[i]) : (x[i] < y[i] ? x[i] : y[i]);
        tuple_make_cell(out, count, r);
        return true;
    }
    return false;
}

void max_min(NativeCall& c, bool max) {
    const Cell* a = c.args;
    const Cell* b = c.args + 1;
    // NaN wins over any number.
    if (is_nan_number(a) && is_number(cell_type(b))) return;
    if (is_nan_number(b) && is_number(cell_type(a))) {
        *c.args = *b;
        return;
    }
    Cell out;
    if (max_min_components(a, b, max, &out)) {
        *c.args = out;
        return;
    }
    if (compare_values(b, a, max ? CMP_GREATER : CMP_LESSER)) *c.args = *b;
}

void native_max(NativeCall& c) { max_min(c, true); }
void native_min(NativeCall& c) { max_min(c, false); }

// ================================================================== shift

void native_shift(NativeCall& c) {
    uint32_t data = c.args[0].w2;
    int32_t bits = get_integer(c.args + 1);
    if (bits < 0) bits = 0;
    int32_t r;
    if (c.has(0)) r = bits > 31 ? 0 : int32_t(data << bits);
    else if (c.has(1)) r = bits > 31 ? 0 : int32_t(data >> bits);
    else if (bits > 31) r = int32_t(data) < 0 ? -1 : 0;
    else r = int32_t((data >> bits) | ((data & 0x80000000u) ? ~(0xFFFFFFFFu >> bits) : 0u));
    set_integer(c.args, r);
}

// ================================================================== floating point

// The float natives take integers and percents as floats.
double float_arg(const Cell* v) { return number_of(v); }

// Folds an angle in degrees so that the function sees the smallest equivalent
// argument, then converts it; kind 0 tangent, 1 cosine, 2 sine.
double normalize_degrees_to_radians(double d, int kind) {
    d = std::fmod(d, 360.0);
    if (d > 180 || d < -180) d += d < 0 ? 360 : -360;
    if (d > 90 || d < -90) {
        if (kind == 0) d = d >= 0 ? d - 180 : d + 180;
        else if (kind == 2) d = d >= 0 ? 180 - d : -180 - d;
    }
    return d * PI / 180;
}

double angle_arg(NativeCall& c, int kind) {
    double a = float_arg(c.args);
    return c.has(0) ? a : normalize_degrees_to_radians(a, kind);
}

void result_float(NativeCall& c, double d) { set_float(c.args, d); }
double flush_tiny(double d) { return std::fabs(d) < DOUBLE_EPSILON ? 0.0 : d; }
double to_degrees(NativeCall& c, double r, int radians_ref) { return c.has(radians_ref) ? r : r * 180 / PI; }

void native_sine(NativeCall& c) { result_float(c, flush_tiny(std::sin(angle_arg(c, 2)))); }
void native_cosine(NativeCall& c) { result_float(c, flush_tiny(std::cos(angle_arg(c, 1)))); }

void native_tangent(NativeCall& c) {
    double r = angle_arg(c, 0);
    if (r == PI / 2) result_float(c, INFINITY);
    else if (r == -PI / 2) result_float(c, -INFINITY);
    else result_float(c, std::tan(r));
}

void native_arcsine(NativeCall& c) { result_float(c, to_degrees(c, std::asin(float_arg(c.args)), 0)); }
void native_arccosine(NativeCall& c) { result_float(c, to_degrees(c, std::acos(float_arg(c.args)), 0)); }
void native_arctangent(NativeCall& c) { result_float(c, to_degrees(c, std::atan(float_arg(c.args)), 0)); }
void native_arctangent2(NativeCall& c) {
    result_float(c, to_degrees(c, std::atan2(float_arg(c.args), float_arg(c.args + 1)), 0));
}

void native_log_2(NativeCall& c) { result_float(c, std::log(float_arg(c.args)) / LN_2); }
void native_log_10(NativeCall& c) { result_float(c, std::log10(float_arg(c.args))); }
void native_log_e(NativeCall& c) { result_float(c, std::log(float_arg(c.args))); }
void native_exp(NativeCall& c) { result_float(c, std::pow(E, float_arg(c.args))); }
void native_square_root(NativeCall& c) { result_float(c, std::sqrt(float_arg(c.args))); }

}  // namespace

void natives_math_entries() {
    static const NativeEntry entries[] = {
        {"negative?", native_negative_q}, {"positive?", native_positive_q}, {"sign?", native_sign_q},
        {"zero?", native_zero_q}, {"NaN?", native_nan_q}, {"max", native_max}, {"min", native_min},
        {"shift", native_shift}, {"sine", native_sine}, {"cosine", native_cosine}, {"tangent", native_tangent},
        {"arcsine", native_arcsine}, {"arccosine", native_arccosine}, {"arctangent", native_arctangent},
        {"arctangent2", native_arctangent2}, {"log-2", native_log_2}, {"log-10", native_log_10},
        {"log-e", native_log_e}, {"exp", native_exp}, {"square-root", native_square_root},
    };
    add_native_entries(entries, int(sizeof entries / sizeof entries[0]));
}

}  // namespace tev

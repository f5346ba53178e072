// float!: IEEE doubles; also the arithmetic, comparison and rounding core that percent! and time! inherit.
#include <cfloat>
#include <cmath>
#include <cstring>
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/scalar_left_math.h"
#include "datatypes/string.h"
#include "interpreter/random.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* float_push(double d) {
    Cell* c = stack_push();
    set_float(c, d);
    return c;
}

double float_math_op(double a, double b, int op) {
    switch (op) {
        case OP_ADD: return a + b;
        case OP_SUB: return a - b;
        case OP_MUL: return a * b;
        case OP_DIV: return a / b;
        case OP_REM:
            if (0.0 * b == 0.0) return std::fmod(a, b);  // b finite (fmod by 0 is NaN)
            if (float_nan_q(b)) return b;
            return float_inf_or_nan_q(a) ? std::nan("") : a;
        default: raise_with_call_word_type(err::script::cannot_use, T_FLOAT);
    }
}

void float_mixed_math(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    TypeId lt = cell_type(left), rt = cell_type(right);
    bool number = rt == T_INTEGER || rt == T_FLOAT || rt == T_PERCENT || rt == T_TIME ||
                  (rt == T_CHAR && lt != T_PERCENT && lt != T_TIME);
    if (!number) {
        if (scalar_left_math(f, op)) return;
        raise_error_type(err::script::invalid_type, rt);
    }
    double l = lt == T_INTEGER ? double(get_integer(left)) : get_float(left);
    double r = (rt == T_INTEGER || rt == T_CHAR) ? double(get_integer(right)) : get_float(right);
    TypeId result_type = T_FLOAT;
    if (rt == T_TIME || lt == T_TIME) result_type = T_TIME;
    else if (lt == T_PERCENT) result_type = T_PERCENT;
    set_float(left, float_math_op(l, r, op), result_type);
}

int float_compare_double(double l, TypeId lt, const Cell* right, int op) {
    TypeId rt = cell_type(right);
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && lt != rt) return 1;
    double r;
    if (rt == T_INTEGER) r = double(get_integer(right));
    else if (rt == T_FLOAT || rt == T_PERCENT || rt == T_TIME) r = get_float(right);
    else return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL:
        case CMP_NOT_EQUAL: return float_almost_equal_q(l, r) ? 0 : 1;
        case CMP_STRICT_EQUAL: return l == r ? 0 : 1;
        case CMP_SAME: {
            uint64_t a, b;
            std::memcpy(&a, &l, 8);
            std::memcpy(&b, &r, 8);
            return a == b ? 0 : 1;
        }
        default:
            if (float_nan_q(l) || float_nan_q(r)) {
                if (op == CMP_LESSER || op == CMP_LESSER_EQUAL) return 1;
                if (op == CMP_GREATER || op == CMP_GREATER_EQUAL) return -1;
                return 0;
            }
            return l < r ? -1 : l > r ? 1 : 0;
    }
}

void float_power_action(ActionFrame& f) {
    Cell* base = f.args;
    const Cell* exponent = f.args + 1;
    TypeId et = cell_type(exponent);
    if (et != T_INTEGER && et != T_FLOAT) raise_with_call_word_type(err::script::expect_arg, et, "exponent");
    double e = et == T_INTEGER ? double(get_integer(exponent)) : get_float(exponent);
    put_float(base, std::pow(get_float(base), e));
}

namespace {

// x rounded to a multiple of the scale s (s > 0 and above x's precision) as
// the round refinements in f ask.
double round_to_scale(double x, double s, const ActionFrame& f) {
    double y, r = 0.0;
    int e = 0;
    if (s >= 1.0) y = x / s;
    else {
        // Work with the scale's mantissa so that a denormal scale keeps its precision.
        double m = std::frexp(s, &e);
        if (e <= -1022) x = std::ldexp(x, -e);
        else { e = 0; m = s; }
        r = 1.0 / m;
        y = x * r;
    }
    const double t = std::fabs(y), h = std::floor(t) + 0.5;
    auto with_sign = [&](double magnitude) { return y < 0 ? -magnitude : magnitude; };
    double d;
    if (f.has(ROUND_DOWN)) d = with_sign(std::floor(t));
    else if (f.has(ROUND_FLOOR)) d = std::floor(y);
    else if (f.has(ROUND_CEILING)) d = std::ceil(y);
    else if (h < t) d = with_sign(std::ceil(t));
    else if (h > t) d = with_sign(std::floor(t));
    else if (f.has(ROUND_EVEN)) d = with_sign(std::fmod(t, 2.0) >= 1.0 ? std::ceil(t) : std::floor(t));
    else if (f.has(ROUND_HALF_DOWN)) d = with_sign(std::floor(t));
    else if (f.has(ROUND_HALF_CEILING)) d = std::ceil(y);
    else d = with_sign(std::ceil(t));
    if (s < 1.0) return std::ldexp(d / r, e);
    double result = d * s;
    // Rounding a finite value up past the largest double is an overflow, not infinity.
    if (std::fabs(result) >= DBL_MAX) raise_error(err::math::overflow);
    return result;
}

}  // namespace

void float_round_action(ActionFrame& f) {
    Cell* v = f.args;
    const Cell* scale_cell = f.has(ROUND_TO) ? f.ref_arg(ROUND_TO) : nullptr;
    if (scale_cell && cell_is(scale_cell, T_MONEY)) raise_with_call_word_type(err::script::not_related, T_MONEY);
    // The result takes the scale's type, so the scale must be a number whose
    // payload is a double (or an integer, read as one).
    if (scale_cell && !cell_is(scale_cell, T_INTEGER) && !cell_is(scale_cell, T_FLOAT) &&
        !cell_is(scale_cell, T_PERCENT) && !cell_is(scale_cell, T_TIME))
        raise_with_call_word_type(err::script::expect_arg, cell_type(scale_cell), "scale");
    const bool percent = cell_is(v, T_PERCENT);
    double x = get_float(v);
    double s = percent ? 0.01 : 1.0;
    if (scale_cell) {
        s = cell_is(scale_cell, T_INTEGER) ? std::fabs(double(get_integer(scale_cell))) : float_abs(get_float(scale_cell));
        if (percent) s /= 100.0;
    }
    if (std::fabs(x) * 0x1p-53 > s) return;  // the scale lies below the value's precision
    x = round_to_scale(x, s, f);
    if (!scale_cell) { put_float(v, x); return; }
    if (cell_is(scale_cell, T_INTEGER)) {
        if (integer_out_of_range_q(x)) raise_error(err::math::overflow);
        set_integer(v, int32_t(x));
        return;
    }
    set_float(v, x, cell_type(scale_cell));
}

double float_random(double x, bool secure) {
    if (secure) {
        double s1 = random_secure_draw(), s2 = random_secure_draw();
        return (s1 / 2147483647.0 + s2) / (2147483648.0 / x);
    }
    return double(mt_next()) / 2147483647.0 * x;
}

namespace {

// ------------------------------------------------------------ make and to

// The lexer's float scanner: "," reads as ".", "'" separators are dropped, at
// most 312 characters. False when the text is not one whole number.
bool scan_float_text(const Cell* text, double* value) {
    uint32_t n = string_length(text);
    if (n == 0 || n > 312) return false;
    char buffer[313];
    size_t used = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t c = string_char_at(text, i);
        if (c == '\'') continue;
        if (c > 0x7F) return false;
        buffer[used++] = c == ',' ? '.' : char(c);
    }
    size_t rest = 0;
    *value = parse_float(buffer, buffer + used, 0, &rest);
    return used > 0 && rest == 0;
}

void float_make(ActionFrame& f) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    const TypeId target = f.type == T_PERCENT ? T_PERCENT : T_FLOAT;
    TypeId st = cell_type(spec);
    double d = 0.0;
    switch (st) {
        case T_CHAR:
        case T_INTEGER: d = double(get_integer(spec)); break;
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: d = get_float(spec); break;
        case T_MONEY: d = money_to_float(spec); break;
        case T_BINARY: {
            SeriesBuffer* b = node_buffer(series_node(spec));
            uint32_t at = series_index(spec), count = b->count();
            uint64_t bits = 0;
            for (uint32_t i = 0; i < 8 && at + i < count; ++i) bits = (bits << 8) | b->head_ptr()[at + i];
            std::memcpy(&d, &bits, 8);
            break;
        }
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            SeriesBuffer* b = node_buffer(series_node(spec));
            uint32_t at = series_index(spec), count = b->count();
            if (count < at || count - at != 2) raise_error_type(err::script::bad_to_arg, target, spec);
            double parts[2];
            for (int i = 0; i < 2; ++i) {
                const Cell* c = b->cells() + at + i;
                if (cell_is(c, T_INTEGER)) parts[i] = get_integer(c);
                else if (cell_is(c, T_FLOAT)) parts[i] = get_float(c);
                else raise_error_type(err::script::bad_to_arg, target, c);
            }
            double exponent = std::trunc(parts[1]);
            if (!(std::fabs(exponent) <= 100000.0)) exponent = exponent < 0 ? -100000.0 : 100000.0;
            char power[24] = "1e";
            size_t len = 2 + integer_to_text(int32_t(exponent), power + 2);
            d = parts[0] * parse_float(power, power + len);  // 10^n correctly rounded in every build
            break;
        }
        default:
            if (type_is_string(st) && target == T_FLOAT && scan_float_text(spec, &d)) break;
            if (type_is_string(st) && target == T_PERCENT && scan_one_value(spec, result)) {
                TypeId got = cell_type(result);
                if (got == T_INTEGER) { d = get_integer(result); break; }
                if (got == T_FLOAT || got == T_PERCENT) { d = get_float(result); break; }
            }
            raise_error_type(err::script::bad_to_arg, target, spec);
    }
    set_float(result, d, target);
}

void float_random_action(ActionFrame& f) {
    Cell* v = f.args;
    if (f.has(RANDOM_SEED)) {
        mt_seed(int32_t(v->w2 ^ v->w3));
        set_unset(v);
        return;
    }
    put_float(v, float_random(get_float(v), f.has(RANDOM_SECURE)));
}

int32_t float_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    char text[FLOAT_FORMAT_MAX];
    size_t n = float_format(get_float(value), FLOAT_KIND_FLOAT, text);
    return append_ascii_limit(out, text, n, limit);
}

int32_t float_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    char text[FLOAT_TEXT_MAX];
    size_t n = float_to_text(get_float(value), 0, true, text);
    return append_ascii_limit(out, text, n, limit);
}

int float_compare(const Cell* a, const Cell* b, int op) {
    return float_compare_double(get_float(a), cell_type(a), b, op);
}

void float_add(ActionFrame& f) { float_mixed_math(f, OP_ADD); }
void float_subtract(ActionFrame& f) { float_mixed_math(f, OP_SUB); }
void float_multiply(ActionFrame& f) { float_mixed_math(f, OP_MUL); }
void float_divide(ActionFrame& f) { float_mixed_math(f, OP_DIV); }
void float_remainder(ActionFrame& f) { float_mixed_math(f, OP_REM); }
void float_absolute(ActionFrame& f) { put_float(f.args, float_abs(get_float(f.args))); }
void float_negate(ActionFrame& f) { put_float(f.args, 0.0 - get_float(f.args)); }

// Outside the 32-bit range (and NaN) counts as even.
bool float_low_bit(double x) {
    if (integer_out_of_range_q(x)) return false;
    return (int32_t(x) & 1) != 0;
}
void float_even_q(ActionFrame& f) { set_logic(f.args, !float_low_bit(get_float(f.args))); }
void float_odd_q(ActionFrame& f) { set_logic(f.args, float_low_bit(get_float(f.args))); }

}  // namespace

void float_init() {
    register_datatype(T_FLOAT, T_NONE_ID, "float!",
        float_make, float_random_action, nullptr, float_make, float_form, float_mold, nullptr, nullptr,
        float_compare, float_absolute, float_add, float_divide, float_multiply, float_negate,
        float_power_action, float_remainder, float_round_action, float_subtract, float_even_q, float_odd_q,
        nullptr, nullptr, nullptr, nullptr,
        // series actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

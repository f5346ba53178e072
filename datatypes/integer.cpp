// integer!: 32-bit signed whole numbers whose add, subtract, multiply, power and inexact divide widen to float! instead of wrapping.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include "datatypes/date.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/scalar_left_math.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

// ------------------------------------------------------------ helpers

int32_t append_ascii_limit(Cell* out, const char* text, size_t length, int32_t limit) {
    string_append_ascii(out, text, length);
    return limit_less(limit, int64_t(length));
}

int32_t append_cstr_limit(Cell* out, const char* text, int32_t limit) {
    return append_ascii_limit(out, text, std::strlen(text), limit);
}

void raise_with_call_word(ErrCode code, const Cell* arg2, const char* arg3_word) {
    StackScope scope;
    Cell* word = stack_push();
    evaluation_hooks.current_call_word(word);
    Cell* second = stack_push_copy(arg2);
    if (!arg3_word) raise_error(code, word, second);
    Cell* third = stack_push();
    *third = word_from_cstring(arg3_word);
    raise_error(code, word, second, third);
}

void raise_with_call_word_type(ErrCode code, TypeId t, const char* arg3_word) {
    Cell type;
    set_datatype(&type, t);
    raise_with_call_word(code, &type, arg3_word);
}

Cell* integer_push(int32_t n) {
    Cell* c = stack_push();
    set_integer(c, n);
    return c;
}

int32_t integer_abs(int32_t n) {
    if (n == INT32_MIN) raise_error(err::math::overflow);
    return n < 0 ? -n : n;
}

bool integer_out_of_range_q(double d) { return !(d >= -2147483648.0 && d <= 2147483647.0); }

size_t integer_to_text(int32_t n, char* out) {
    char tmp[12];
    int len = 0;
    uint32_t magnitude = n < 0 ? 0u - uint32_t(n) : uint32_t(n);
    do { tmp[len++] = char('0' + magnitude % 10); magnitude /= 10; } while (magnitude);
    size_t o = 0;
    if (n < 0) out[o++] = '-';
    while (len) out[o++] = tmp[--len];
    out[o] = 0;
    return o;
}

int32_t integer_do_math(int32_t left, int32_t right, int op, Cell* result) {
    int32_t r = 0;
    switch (op) {
        case OP_ADD:
        case OP_SUB:
        case OP_MUL: {
            bool overflow = op == OP_ADD   ? __builtin_add_overflow(left, right, &r)
                            : op == OP_SUB ? __builtin_sub_overflow(left, right, &r)
                                           : __builtin_mul_overflow(left, right, &r);
            if (overflow) {
                double l = left, x = right;
                set_float(result, op == OP_ADD ? l + x : op == OP_SUB ? l - x : l * x);
                return 0;
            }
            break;
        }
        case OP_DIV:
            if (right == 0) raise_error(err::math::zero_divide);
            if (left == INT32_MIN && right == -1) raise_error(err::math::overflow);
            if (result && left % right != 0) {
                set_float(result, double(left) / double(right));
                return 0;
            }
            r = left / right;
            break;
        case OP_REM:
            if (right == 0) raise_error(err::math::zero_divide);
            if (left == INT32_MIN && right == -1) raise_error(err::math::overflow);
            r = left % right;
            break;
        case OP_OR: r = left | right; break;
        case OP_AND: r = left & right; break;
        case OP_XOR: r = left ^ right; break;
        // An op code outside the table is a fault of the runtime, never a language error.
        default: report_runtime_error(RT_NO_SWITCH_MATCH, TEV_CALLER_ADDRESS());
    }
    if (result) put_integer(result, r);
    return r;
}

bool integer_from_hex(const uint32_t* chars, size_t count, int32_t* value) {
    if (count > 8) return false;
    uint32_t v = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = chars[i], digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else return false;  // the whole code point: no folding of wide characters onto hex digits
        v = (v << 4) | digit;
    }
    *value = int32_t(v);
    return true;
}

namespace {

// Decimal text with an optional sign; "'" separators are skipped.
// -1: a bad character (or no digits), -2: overflow.
int scan_integer_text(const Cell* text, int32_t* value) {
    uint32_t n = string_length(text);
    uint32_t i = 0;
    bool negative = false;
    if (i < n && (string_char_at(text, i) == '+' || string_char_at(text, i) == '-')) {
        negative = string_char_at(text, i) == '-';
        ++i;
    }
    int64_t v = 0;
    bool digits = false;
    for (; i < n; ++i) {
        uint32_t c = string_char_at(text, i);
        if (c == '\'') continue;
        if (c < '0' || c > '9') return -1;
        digits = true;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL) return -2;
    }
    if (!digits) return -1;
    if (negative) v = -v;
    if (v > INT32_MAX) return -2;
    *value = int32_t(v);
    return 0;
}

// An issue's spelling read as hexadecimal; invalid-data when it is not one.
int32_t issue_to_integer(const Cell* issue) {
    uint32_t length;
    const uint8_t* spelling = symbol_spelling(word_symbol(issue), &length);
    uint32_t chars[9];
    size_t count = 0;
    const uint8_t* end = spelling + length;
    for (const uint8_t* p = spelling; p < end && count < 9;) {
        int32_t cp;
        p = utf8_next_char(p, end, &cp);
        if (cp < 0) raise_error(err::script::invalid_data, issue);
        chars[count++] = uint32_t(cp);
    }
    int32_t value = 0;
    if (!integer_from_hex(chars, count, &value)) raise_error(err::script::invalid_data, issue);
    return value;
}

// ------------------------------------------------------------ actions

void integer_make_to(ActionFrame& f, bool make) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    if (make && st == T_LOGIC) { set_integer(result, get_logic(spec) ? 1 : 0); return; }
    if (st == T_INTEGER) { *result = *spec; return; }
    int32_t n = 0;
    switch (st) {
        case T_CHAR: n = int32_t(get_char(spec)); break;
        case T_FLOAT:
        case T_PERCENT: {
            double d = get_float(spec);
            if (integer_out_of_range_q(d)) raise_error_type(err::script::type_limit, T_INTEGER);
            n = int32_t(d);
            break;
        }
        case T_TIME: {
            // Whole seconds, halves away from zero on both sides of zero.
            double x = get_float(spec);
            double d = x < 0 ? x - 0.5 : x + 0.5;
            if (integer_out_of_range_q(d)) raise_error_type(err::script::type_limit, T_INTEGER);
            n = int32_t(d);
            break;
        }
        case T_BINARY: {
            SeriesBuffer* b = node_buffer(series_node(spec));
            uint32_t at = series_index(spec), count = b->count();
            uint32_t v = 0;
            for (uint32_t i = 0; i < 4 && at + i < count; ++i) v = (v << 8) | b->head_ptr()[at + i];
            n = int32_t(v);
            break;
        }
        case T_ISSUE: n = issue_to_integer(spec); break;
        case T_MONEY: n = money_to_integer(spec); break;
        case T_DATE: {
            int64_t seconds = date_to_epoch(spec);
            if (seconds < INT32_MIN || seconds > INT32_MAX) raise_error_type(err::script::type_limit, T_INTEGER);
            n = int32_t(seconds);
            break;
        }
        default:
            if (type_is_string(st) && scan_integer_text(spec, &n) == 0) break;
            raise_error_type(err::script::bad_to_arg, T_INTEGER, spec);
    }
    set_integer(result, n);
}
void integer_make(ActionFrame& f) { integer_make_to(f, true); }
void integer_to(ActionFrame& f) { integer_make_to(f, false); }

void integer_random(ActionFrame& f) {
    Cell* v = f.args;
    if (f.has(RANDOM_SEED)) {
        mt_seed(get_integer(v));
        set_unset(v);
        return;
    }
    put_integer(v, random_int_range(f.has(RANDOM_SECURE), get_integer(v)));
}

int32_t integer_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    char text[12];
    size_t n = integer_to_text(get_integer(value), text);
    return append_ascii_limit(out, text, n, limit);
}
int32_t integer_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return integer_form(value, out, arg, limit);
}

int integer_compare(const Cell* a, const Cell* b, int op) {
    TypeId bt = cell_type(b);
    if ((op == CMP_STRICT_EQUAL || op == CMP_FIND) && bt != T_INTEGER) return 1;
    if (bt == T_INTEGER || bt == T_CHAR) {
        int32_t x = get_integer(a), y = get_integer(b);
        return x < y ? -1 : x > y ? 1 : 0;
    }
    if (bt == T_FLOAT || bt == T_PERCENT || bt == T_TIME)
        return float_compare_double(double(get_integer(a)), T_INTEGER, b, op);
    return CMP_NOT_COMPARABLE;
}

void integer_math_op(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    switch (cell_type(right)) {
        case T_INTEGER:
        case T_CHAR: integer_do_math(get_integer(left), get_integer(right), op, left); return;
        case T_FLOAT:
        case T_PERCENT:
        case T_TIME: float_mixed_math(f, op); return;
        default:
            if (scalar_left_math(f, op)) return;
            raise_error_type(err::script::invalid_type, cell_type(right));
    }
}
void integer_add(ActionFrame& f) { integer_math_op(f, OP_ADD); }
void integer_subtract(ActionFrame& f) { integer_math_op(f, OP_SUB); }
void integer_multiply(ActionFrame& f) { integer_math_op(f, OP_MUL); }
void integer_divide(ActionFrame& f) { integer_math_op(f, OP_DIV); }
void integer_remainder(ActionFrame& f) { integer_math_op(f, OP_REM); }
void integer_or(ActionFrame& f) { integer_math_op(f, OP_OR); }
void integer_and(ActionFrame& f) { integer_math_op(f, OP_AND); }
void integer_xor(ActionFrame& f) { integer_math_op(f, OP_XOR); }

void integer_absolute(ActionFrame& f) { put_integer(f.args, integer_abs(get_integer(f.args))); }
void integer_negate(ActionFrame& f) {
    int32_t n = get_integer(f.args);
    if (n == INT32_MIN) raise_error(err::math::overflow);
    put_integer(f.args, -n);
}
void integer_complement(ActionFrame& f) { put_integer(f.args, ~get_integer(f.args)); }
void integer_even_q(ActionFrame& f) { set_logic(f.args, (get_integer(f.args) & 1) == 0); }
void integer_odd_q(ActionFrame& f) { set_logic(f.args, (get_integer(f.args) & 1) != 0); }

void integer_power(ActionFrame& f) {
    Cell* base_cell = f.args;
    const Cell* exponent = f.args + 1;
    TypeId et = cell_type(exponent);
    if (et != T_INTEGER && et != T_FLOAT) raise_with_call_word_type(err::script::expect_arg, et, "exponent");
    int32_t base = get_integer(base_cell);
    if (et == T_INTEGER && get_integer(exponent) >= 0) {
        int32_t e = get_integer(exponent), result = 1;
        bool overflow = false;
        while (e && !overflow) {
            if (e & 1) overflow = __builtin_mul_overflow(result, base, &result);
            e >>= 1;
            if (e && !overflow) overflow = __builtin_mul_overflow(base, base, &base);
        }
        if (!overflow) { set_integer(base_cell, result); return; }
        base = get_integer(base_cell);
    }
    set_float(base_cell, double(base));
    float_power_action(f);
}

void integer_round(ActionFrame& f) {
    Cell* v = f.args;
    const Cell* scale_cell = f.has(ROUND_TO) ? f.ref_arg(ROUND_TO) : nullptr;
    if (scale_cell && cell_is(scale_cell, T_MONEY)) raise_with_call_word_type(err::script::not_related, T_MONEY);
    int32_t value = get_integer(v);
    if (value == INT32_MIN) return;
    int32_t scale = 1;
    if (scale_cell) {
        if (!cell_is(scale_cell, T_INTEGER)) {
            set_float(v, double(value));
            float_round_action(f);
            return;
        }
        scale = integer_abs(get_integer(scale_cell));
        if (scale == 0) return;
    }
    const int64_t a = value < 0 ? -int64_t(value) : value;
    const int64_t r = a % scale;
    if (r == 0) return;
    const int64_t d = scale - r;
    const bool positive = value > 0;
    auto toward = [&] { return positive ? a - r : r - a; };
    auto away = [&] {
        int64_t u = a + d;
        if (u > INT32_MAX) raise_error(err::math::overflow);
        return positive ? u : -u;
    };
    int64_t result;
    if (f.has(ROUND_DOWN)) result = toward();
    else if (f.has(ROUND_FLOOR)) result = positive ? toward() : away();
    else if (f.has(ROUND_CEILING)) result = positive ? away() : toward();
    else if (r < d) result = toward();
    else if (r > d) result = away();
    else if (f.has(ROUND_EVEN)) result = ((a / scale) % 2 == 0) ? toward() : away();
    else if (f.has(ROUND_HALF_DOWN)) result = toward();
    else if (f.has(ROUND_HALF_CEILING)) result = positive ? away() : toward();
    else result = away();
    put_integer(v, int32_t(result));
}

}  // namespace

template <> void register_type<T_INTEGER>() {
    register_datatype(T_INTEGER, {
        .make = integer_make, .random = integer_random, .to = integer_to, .form = integer_form,
        .mold = integer_mold, .compare = integer_compare, .absolute = integer_absolute, .add = integer_add,
        .divide = integer_divide, .multiply = integer_multiply, .negate = integer_negate,
        .power = integer_power, .remainder = integer_remainder, .round = integer_round,
        .subtract = integer_subtract, .even_q = integer_even_q, .odd_q = integer_odd_q, .and_t = integer_and,
        .complement = integer_complement, .or_t = integer_or, .xor_t = integer_xor
    });
}

}  // namespace tev

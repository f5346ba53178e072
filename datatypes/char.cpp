// char!: one Unicode code point (0 to 10FFFFh) kept where integer! keeps its value; arithmetic must stay in range.
#include <cstring>
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* char_push(uint32_t code_point) {
    Cell* c = stack_push();
    set_char(c, code_point);
    return c;
}

namespace {

bool valid_code_point(int64_t n) { return n >= 0 && n <= CHAR_MAX_CODE_POINT; }

void char_math_op(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    int32_t r;
    switch (cell_type(right)) {
        case T_CHAR:
        case T_INTEGER: r = get_integer(right); break;
        case T_FLOAT: {
            double d = get_float(right);
            if (integer_out_of_range_q(d)) raise_error(err::math::overflow);
            r = int32_t(d);
            break;
        }
        default: raise_error_type(err::script::invalid_type, cell_type(right));
    }
    Cell scratch;
    set_integer(&scratch, 0);
    int32_t n = integer_do_math(get_integer(left), r, op, op == OP_DIV ? nullptr : &scratch);
    if (!cell_is(&scratch, T_INTEGER) || !valid_code_point(n)) raise_error(err::math::overflow);
    put_char(left, uint32_t(n));
}
void char_add(ActionFrame& f) { char_math_op(f, OP_ADD); }
void char_subtract(ActionFrame& f) { char_math_op(f, OP_SUB); }
void char_multiply(ActionFrame& f) { char_math_op(f, OP_MUL); }
void char_divide(ActionFrame& f) { char_math_op(f, OP_DIV); }
void char_remainder(ActionFrame& f) { char_math_op(f, OP_REM); }
void char_or(ActionFrame& f) { char_math_op(f, OP_OR); }
void char_and(ActionFrame& f) { char_math_op(f, OP_AND); }
void char_xor(ActionFrame& f) { char_math_op(f, OP_XOR); }

int char_compare(const Cell* a, const Cell* b, int op) {
    TypeId bt = cell_type(b);
    if ((op == CMP_STRICT_EQUAL || op == CMP_FIND) && bt != T_CHAR) return 1;
    if (bt != T_CHAR && bt != T_INTEGER) return CMP_NOT_COMPARABLE;
    int32_t x = get_integer(a), y = get_integer(b);
    return x < y ? -1 : x > y ? 1 : 0;
}

int32_t char_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    string_append_codepoint(out, get_char(value));
    return limit_less(limit, 1);
}

int32_t char_mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    uint32_t before = string_length_from_head(out);
    string_append_ascii(out, "#\"", 2);
    string_append_escaped_char(out, get_char(value), ESCAPE_CARET, all);
    string_append_ascii(out, "\"", 1);
    return limit_less(limit, int64_t(string_length_from_head(out)) - before);
}

// One UTF-8 character at the head of a binary (malformed bytes raise invalid-utf8).
uint32_t decode_utf8_head(const Cell* binary) {
    SeriesBuffer* b = node_buffer(series_node(binary));
    uint32_t at = series_index(binary), count = b->count();
    uint32_t avail = count > at ? count - at : 0;
    if (avail == 0) raise_error_type(err::script::bad_to_arg, T_CHAR, binary);
    int32_t cp = utf8_decode_char(b->head_ptr() + at, &avail);
    if (cp < 0) raise_error(err::access::invalid_utf8, binary);
    return uint32_t(cp);
}

void char_make(ActionFrame& f) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    int64_t n;
    switch (st) {
        case T_CHAR:
        case T_INTEGER: n = get_integer(spec); break;
        case T_FLOAT:
        case T_PERCENT: {
            double d = get_float(spec);
            if (!(d > -1.0 && d < double(CHAR_MAX_CODE_POINT) + 1.0)) raise_error(err::script::out_of_range, spec);
            n = int64_t(d);
            break;
        }
        case T_BINARY: n = decode_utf8_head(spec); break;
        default:
            if (type_is_string(st)) {
                if (string_length(spec) == 0) raise_error_type(err::script::bad_to_arg, T_CHAR, spec);
                n = string_char_at(spec, 0);
                break;
            }
            raise_error_type(err::script::bad_to_arg, T_CHAR, spec);
    }
    if (!valid_code_point(n)) raise_error(err::script::out_of_range, spec);
    set_char(result, uint32_t(n));
}

}  // namespace

template <> void register_type<T_CHAR>() {
    register_datatype(T_CHAR, {
        .make = char_make, .to = char_make, .form = char_form, .mold = char_mold, .compare = char_compare,
        .add = char_add, .divide = char_divide, .multiply = char_multiply, .negate = nullptr,
        .power = nullptr, .remainder = char_remainder, .round = nullptr, .subtract = char_subtract,
        .and_t = char_and, .complement = nullptr, .or_t = char_or, .xor_t = char_xor
    });
}

}  // namespace tev

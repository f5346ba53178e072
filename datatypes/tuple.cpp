// tuple!: 3 to 12 byte components written 1.2.3 (versions, colours); every computed component saturates to 0..255.
//
// The count lives in header bits 19-22; the components fill the twelve payload
// bytes in order, and the bytes past the count stay zero so that 1.2.3 and
// 1.2.3.0 compare and hash alike.
#include <cmath>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "interpreter/random.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

int tuple_count(const Cell* c) { return int((c->header >> TUPLE_COUNT_SHIFT) & 0xF); }

void tuple_bytes(const Cell* c, uint8_t out[TUPLE_MAX]) { std::memcpy(out, &c->w1, TUPLE_MAX); }

Cell* tuple_make_cell(Cell* c, int count, const uint8_t* bytes) {
    if (count < 3) count = 3;
    cell_init(c, T_TUPLE);
    c->header |= uint32_t(count) << TUPLE_COUNT_SHIFT;
    uint8_t all[TUPLE_MAX] = {};
    std::memcpy(all, bytes, size_t(count));
    std::memcpy(&c->w1, all, TUPLE_MAX);
    return c;
}

Cell* tuple_from_components(Cell* c, int count, const uint32_t* values) {
    uint8_t bytes[TUPLE_MAX] = {};
    if (count > TUPLE_MAX) count = TUPLE_MAX;
    for (int i = 0; i < count; ++i) bytes[i] = uint8_t(values[i]);
    return tuple_make_cell(c, count, bytes);
}

Cell* tuple_from_colour(Cell* c, int r, int g, int b, int alpha) {
    const uint8_t bytes[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(alpha)};
    return tuple_make_cell(c, alpha == -1 ? 3 : 4, bytes);
}

bool tuple_is_zero(const Cell* c) { return (c->w1 | c->w2 | c->w3) == 0; }

namespace {

uint8_t clamp_byte(int64_t v) { return v < 0 ? 0 : v > 255 ? 255 : uint8_t(v); }

// c op n in integer arithmetic, wide enough that nothing wraps before the clamp.
uint8_t component_op(int64_t c, int64_t n, int op) {
    switch (op) {
        case OP_ADD: return clamp_byte(c + n);
        case OP_SUB: return clamp_byte(c - n);
        case OP_MUL: return clamp_byte(c * n);
        case OP_DIV:
            if (n == 0) raise_error(err::math::zero_divide);
            return clamp_byte(c / n);
        case OP_REM:
            if (n == 0) raise_error(err::math::zero_divide);
            return clamp_byte(c % n);
        case OP_OR: return clamp_byte(int32_t(c) | int32_t(n));
        case OP_AND: return clamp_byte(int32_t(c) & int32_t(n));
        default: return clamp_byte(int32_t(c) ^ int32_t(n));
    }
}

uint8_t component_op_float(double c, double d, int op) {
    double r = std::trunc(float_math_op(c, d, op));
    if (std::isnan(r)) raise_error(err::math::overflow);
    return r < 0 ? 0 : r > 255 ? 255 : uint8_t(r);
}

}  // namespace

void tuple_do_math(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    if (!cell_is(left, T_TUPLE)) {
        // A number with a tuple: the order only matters where the tuple refuses it.
        if (op == OP_SUB || op == OP_DIV || op == OP_REM) raise_with_call_word_type(err::script::not_related, T_TUPLE);
        Cell number = *left;
        *left = *right;
        f.args[1] = number;
    }
    uint8_t a[TUPLE_MAX], out[TUPLE_MAX] = {};
    tuple_bytes(left, a);
    int count = tuple_count(left);
    switch (cell_type(right)) {
        case T_INTEGER:
            for (int i = 0; i < count; ++i) out[i] = component_op(a[i], get_integer(right), op);
            break;
        case T_FLOAT:
        case T_PERCENT:
            for (int i = 0; i < count; ++i) out[i] = component_op_float(a[i], get_float(right), op);
            break;
        case T_TUPLE: {
            uint8_t b[TUPLE_MAX];
            tuple_bytes(right, b);
            if (tuple_count(right) > count) count = tuple_count(right);
            for (int i = 0; i < count; ++i) out[i] = component_op(a[i], b[i], op);
            break;
        }
        default: raise_error_type(err::script::invalid_type, cell_type(right));
    }
    tuple_make_cell(left, count, out);
}

namespace {

// ------------------------------------------------------------ make and to

// An issue's spelling as a colour: RGB (each digit doubled), RRGGBB or RRGGBBAA.
void tuple_from_issue(const Cell* issue, Cell* result) {
    uint32_t length;
    const uint8_t* s = symbol_spelling(int32_t(issue->w2), &length);
    if (length != 3 && length != 6 && length != 8) raise_error(err::script::invalid_data, issue);
    uint8_t digits[8];
    for (uint32_t i = 0; i < length; ++i) {
        uint8_t c = s[i];
        // Only ASCII hex digits: a byte of a wider character never stands for one.
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10
              : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) raise_error(err::script::invalid_data, issue);
        digits[i] = uint8_t(v);
    }
    uint8_t bytes[4];
    int count = length == 8 ? 4 : 3;
    for (int i = 0; i < count; ++i)
        bytes[i] = length == 3 ? uint8_t(digits[i] * 17) : uint8_t(digits[2 * i] * 16 + digits[2 * i + 1]);
    tuple_make_cell(result, count, bytes);
}

void tuple_make(ActionFrame& f) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    uint8_t bytes[TUPLE_MAX] = {};
    switch (st) {
        case T_TUPLE: *result = *spec; return;
        case T_ISSUE: tuple_from_issue(spec, result); return;
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            uint32_t n = block_length(spec);
            if (n > TUPLE_MAX) raise_error_type(err::script::bad_to_arg, T_TUPLE, spec);
            for (uint32_t i = 0; i < n; ++i) {
                const Cell* v = block_at(spec, i);
                double d;
                if (cell_is(v, T_INTEGER) || cell_is(v, T_CHAR)) d = double(get_integer(v));
                else if (cell_is(v, T_FLOAT)) d = std::trunc(get_float(v));
                else raise_error_type(err::script::bad_to_arg, T_TUPLE, spec);
                if (!(d >= 0 && d <= 255)) raise_error_type(err::script::bad_to_arg, T_TUPLE, spec);  // NaN too
                bytes[i] = uint8_t(d);
            }
            tuple_make_cell(result, int(n), bytes);
            return;
        }
        case T_BINARY: {
            SeriesBuffer* b = node_buffer(series_node(spec));
            uint32_t at = series_index(spec), count = b->count();
            uint32_t n = count > at ? count - at : 0;
            if (n > TUPLE_MAX) n = TUPLE_MAX;
            std::memcpy(bytes, b->head_ptr() + at, n);
            tuple_make_cell(result, int(n), bytes);
            return;
        }
        default:
            if (type_is_string(st) && scan_one_value(spec, result) && cell_is(result, T_TUPLE)) return;
            raise_error_type(err::script::bad_to_arg, T_TUPLE, spec);
    }
}

void tuple_random(ActionFrame& f) {
    Cell* v = f.args;
    if (f.has(RANDOM_SEED)) {
        mt_seed(int32_t(v->w1 ^ v->w2 ^ v->w3));
        set_unset(v);
        return;
    }
    uint8_t b[TUPLE_MAX];
    tuple_bytes(v, b);
    for (int i = 0; i < tuple_count(v); ++i)
        if (b[i]) b[i] = uint8_t(random_int_range(f.has(RANDOM_SECURE), b[i] + 1) - 1);
    tuple_make_cell(v, tuple_count(v), b);
}

int32_t tuple_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    uint8_t b[TUPLE_MAX];
    tuple_bytes(value, b);
    char text[TUPLE_MAX * 4];
    size_t n = 0;
    for (int i = 0; i < tuple_count(value); ++i) {
        if (i) text[n++] = '.';
        n += integer_to_text(b[i], text + n);
    }
    return append_ascii_limit(out, text, n, limit);
}
int32_t tuple_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return tuple_form(value, out, arg, limit);
}

int tuple_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_TUPLE)) return CMP_NOT_COMPARABLE;
    // Strictly (and as a key) the count counts too: 1.2.3 = 1.2.3.0, but they are two keys.
    if ((op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) && tuple_count(a) != tuple_count(b)) return 1;
    uint8_t x[TUPLE_MAX], y[TUPLE_MAX];
    tuple_bytes(a, x);
    tuple_bytes(b, y);
    for (int i = 0; i < TUPLE_MAX; ++i)  // bytes past either count are zero
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
    return 0;
}

// The accessor of a path or pick: 1..count.
int tuple_index(const Cell* tuple, const Cell* element) {
    if (!cell_is(element, T_INTEGER)) raise_error_type(err::script::invalid_type, cell_type(element));
    int32_t n = get_integer(element);
    if (n < 1 || n > tuple_count(tuple)) raise_error(err::script::out_of_range, element);
    return n;
}

void tuple_eval_path(PathStep& step) {
    int n = tuple_index(step.parent, step.element);
    uint8_t b[TUPLE_MAX];
    tuple_bytes(step.parent, b);
    if (!step.set) {
        set_integer(step.result, b[n - 1]);
        return;
    }
    int count = tuple_count(step.parent);
    if (cell_is(step.set, T_INTEGER)) {
        b[n - 1] = clamp_byte(get_integer(step.set));
    } else if (cell_is(step.set, T_NONE)) {
        for (int i = n - 1; i < TUPLE_MAX; ++i) b[i] = 0;
        count = n - 1 < 3 ? 3 : n - 1;
    } else {
        raise_error_type(err::script::invalid_type, cell_type(step.set));
    }
    tuple_make_cell(step.parent, count, b);
    *step.result = *step.set;
}

void tuple_pick(ActionFrame& f) {
    int n = tuple_index(f.args, f.args + 1);
    uint8_t b[TUPLE_MAX];
    tuple_bytes(f.args, b);
    set_integer(f.args, b[n - 1]);
}

[[noreturn]] void raise_refine_arg(const char* refinement, const Cell* value) {
    StackScope scope;
    Cell* word = stack_push();
    *word = word_from_cstring(refinement);
    raise_error(err::script::invalid_refine_arg, word, value);
}

void tuple_reverse(ActionFrame& f) {
    Cell* v = f.args;
    const int count = tuple_count(v);
    int part = count, skip = 1;
    if (f.has(ref::reverse_part)) {
        const Cell* p = f.ref_arg(ref::reverse_part);
        if (!cell_is(p, T_INTEGER)) raise_refine_arg("part", p);
        if (get_integer(p) < 0) raise_error(err::script::out_of_range, p);
        if (get_integer(p) < part) part = get_integer(p);
    }
    if (f.has(ref::reverse_skip)) {
        const Cell* s = f.ref_arg(ref::reverse_skip);
        if (!cell_is(s, T_INTEGER)) raise_refine_arg("skip", s);
        if (get_integer(s) < 1) raise_error(err::script::out_of_range, s);
        if (get_integer(s) == part) return;
        if (part < get_integer(s) || part % get_integer(s) != 0) raise_refine_arg("skip", s);
        skip = get_integer(s);
    }
    uint8_t b[TUPLE_MAX], r[TUPLE_MAX];
    tuple_bytes(v, b);
    std::memcpy(r, b, TUPLE_MAX);
    int groups = part / skip;
    for (int g = 0; g < groups; ++g)
        std::memcpy(r + g * skip, b + (groups - 1 - g) * skip, size_t(skip));
    tuple_make_cell(v, count, r);
}

void tuple_complement(ActionFrame& f) {
    uint8_t b[TUPLE_MAX];
    tuple_bytes(f.args, b);
    for (int i = 0; i < tuple_count(f.args); ++i) b[i] = uint8_t(255 - b[i]);
    tuple_make_cell(f.args, tuple_count(f.args), b);
}

void tuple_length_q(ActionFrame& f) { set_integer(f.args, tuple_count(f.args)); }

void tuple_add(ActionFrame& f) { tuple_do_math(f, OP_ADD); }
void tuple_subtract(ActionFrame& f) { tuple_do_math(f, OP_SUB); }
void tuple_multiply(ActionFrame& f) { tuple_do_math(f, OP_MUL); }
void tuple_divide(ActionFrame& f) { tuple_do_math(f, OP_DIV); }
void tuple_remainder(ActionFrame& f) { tuple_do_math(f, OP_REM); }
void tuple_and(ActionFrame& f) { tuple_do_math(f, OP_AND); }
void tuple_or(ActionFrame& f) { tuple_do_math(f, OP_OR); }
void tuple_xor(ActionFrame& f) { tuple_do_math(f, OP_XOR); }

}  // namespace

void tuple_init() {
    register_datatype(T_TUPLE, T_NONE_ID, "tuple!",
        tuple_make, tuple_random, nullptr, tuple_make, tuple_form, tuple_mold, tuple_eval_path, nullptr,
        tuple_compare, nullptr, tuple_add, tuple_divide, tuple_multiply, nullptr,
        nullptr, tuple_remainder, nullptr, tuple_subtract, nullptr, nullptr,
        tuple_and, tuple_complement, tuple_or, tuple_xor,
        // series actions: length?, pick, reverse
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        tuple_length_q, nullptr, nullptr, tuple_pick, nullptr, nullptr, nullptr, tuple_reverse, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

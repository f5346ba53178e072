// pair!: two 32-bit integers written 1x2; a component that leaves 32 bits turns the whole result into a point2D!.
#include <cmath>
#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point_common.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "interpreter/random.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* pair_make_cell(Cell* c, int32_t x, int32_t y) {
    cell_init(c, T_PAIR);
    c->w2 = uint32_t(x);
    c->w3 = uint32_t(y);
    return c;
}

Cell* pair_push(int32_t x, int32_t y) { return pair_make_cell(stack_push(), x, y); }

void pair_make_in(Cell* block, int32_t x, int32_t y) {
    Cell pair;
    block_append(block, pair_make_cell(&pair, x, y));
}

namespace {

// A float used where the pair needs an integer: truncated toward zero.
int32_t pair_component_of_float(double d) {
    if (float_inf_or_nan_q(d)) {
        Cell v;
        set_float(&v, d);
        raise_error(err::script::invalid_arg, &v);
    }
    if (integer_out_of_range_q(std::trunc(d))) {
        Cell v;
        set_float(&v, d);
        raise_error(err::script::out_of_range, &v);
    }
    return int32_t(d);
}

// Component-wise integer arithmetic; false when a component left 32 bits
// (or an inexact divide asked for a fraction): the caller redoes it as points.
bool pair_integer_math(int32_t lx, int32_t ly, int32_t rx, int32_t ry, int op, Cell* result) {
    Cell x, y;
    set_integer(&x, 0);
    set_integer(&y, 0);
    integer_do_math(lx, rx, op, &x);
    integer_do_math(ly, ry, op, &y);
    if (!cell_is(&x, T_INTEGER) || !cell_is(&y, T_INTEGER)) return false;
    pair_make_cell(result, get_integer(&x), get_integer(&y));
    return true;
}

void pair_as_point_math(Cell* result, double lx, double ly, double rx, double ry, int op) {
    point2d_make_cell(result, float_math_op(lx, rx, op), float_math_op(ly, ry, op));
}

}  // namespace

void pair_do_math(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    int32_t lx = pair_x(left), ly = pair_y(left);
    int32_t rx, ry;
    switch (cell_type(right)) {
        case T_PAIR: rx = pair_x(right); ry = pair_y(right); break;
        case T_INTEGER: rx = ry = get_integer(right); break;
        case T_FLOAT:
        case T_PERCENT: {
            double d = get_float(right);
            if (op == OP_MUL || op == OP_DIV) {
                bool bad = op == OP_MUL ? float_inf_or_nan_q(d) : std::isnan(d);
                if (bad) raise_error(err::script::invalid_arg, right);
                pair_as_point_math(left, lx, ly, d, d, op);
                return;
            }
            rx = ry = pair_component_of_float(d);
            break;
        }
        case T_POINT2D:
            pair_as_point_math(left, lx, ly, point_coord(right, 0), point_coord(right, 1), op);
            return;
        default: raise_error_type(err::script::invalid_type, cell_type(right));
    }
    if (!pair_integer_math(lx, ly, rx, ry, op, left)) pair_as_point_math(left, lx, ly, rx, ry, op);
}

// A number on the left of a pair: the number op each component.
void pair_math_scalar_left(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    int32_t rx = pair_x(right), ry = pair_y(right);
    if (cell_is(left, T_INTEGER)) {
        int32_t n = get_integer(left);
        if (!pair_integer_math(n, n, rx, ry, op, left)) pair_as_point_math(left, n, n, rx, ry, op);
        return;
    }
    double d = get_float(left);
    if (op == OP_MUL || op == OP_DIV) {
        bool bad = op == OP_MUL ? float_inf_or_nan_q(d) : std::isnan(d);
        if (bad) raise_error(err::script::invalid_arg, left);
        pair_as_point_math(left, d, d, rx, ry, op);
        return;
    }
    int32_t n = pair_component_of_float(d);
    if (!pair_integer_math(n, n, rx, ry, op, left)) pair_as_point_math(left, n, n, rx, ry, op);
}

namespace {

void pair_make(ActionFrame& f) {
    double c[3];
    if (coords_from_spec(f, T_PAIR, 2, c)) return;
    pair_make_cell(f.args, pair_component_of_float(c[0]), pair_component_of_float(c[1]));
}

void pair_random(ActionFrame& f) {
    Cell* v = f.args;
    if (f.has(RANDOM_SEED)) {
        mt_seed(int32_t(v->w2 ^ v->w3));
        set_unset(v);
        return;
    }
    bool secure = f.has(RANDOM_SECURE);
    int32_t x = pair_x(v), y = pair_y(v);
    if (x) x = random_int_range(secure, x);
    if (y) y = random_int_range(secure, y);
    pair_make_cell(v, x, y);
}

int32_t pair_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    char text[26];
    size_t n = integer_to_text(pair_x(value), text);
    text[n++] = 'x';
    n += integer_to_text(pair_y(value), text + n);
    return append_ascii_limit(out, text, n, limit);
}
int32_t pair_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return pair_form(value, out, arg, limit);
}

int pair_compare(const Cell* a, const Cell* b, int op) {
    if (cell_is(b, T_POINT2D)) {
        if (op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) return 1;
        Cell p;
        point2d_make_cell(&p, pair_x(a), pair_y(a));
        return point_compare_cells(&p, b, op, 2);
    }
    if (!cell_is(b, T_PAIR)) return CMP_NOT_COMPARABLE;
    int32_t ax = pair_x(a), bx = pair_x(b);
    if (ax != bx) return ax < bx ? -1 : 1;
    int32_t ay = pair_y(a), by = pair_y(b);
    return ay < by ? -1 : ay > by ? 1 : 0;
}

void pair_eval_path(PathStep& step) {
    int n = point_accessor(step.element, 2);
    if (!n) point_raise_bad_path(step);
    if (!step.set) {
        set_integer(step.result, n == 1 ? pair_x(step.parent) : pair_y(step.parent));
        return;
    }
    if (!cell_is(step.set, T_INTEGER)) raise_error_type(err::script::invalid_type, cell_type(step.set));
    (n == 1 ? step.parent->w2 : step.parent->w3) = step.set->w2;
    *step.result = *step.parent;
}

void pair_pick(ActionFrame& f) {
    int n = point_pick_accessor(f, 2);
    set_integer(f.args, n == 1 ? pair_x(f.args) : pair_y(f.args));
}

void pair_absolute(ActionFrame& f) {
    pair_make_cell(f.args, integer_abs(pair_x(f.args)), integer_abs(pair_y(f.args)));
}
void pair_negate(ActionFrame& f) {
    // Wraps at -2147483648 as the pair's negation always has.
    pair_make_cell(f.args, int32_t(0u - f.args->w2), int32_t(0u - f.args->w3));
}
void pair_reverse(ActionFrame& f) { pair_make_cell(f.args, pair_y(f.args), pair_x(f.args)); }

// Each component through integer!'s round, with the matching component of a
// pair or point scale.
void pair_round(ActionFrame& f) {
    Cell* v = f.args;
    Cell* scale = f.has(ROUND_TO) ? f.ref_arg(ROUND_TO) : nullptr;
    if (scale && cell_is(scale, T_MONEY)) raise_with_call_word_type(err::script::not_related, T_MONEY);
    const Cell saved_value = *v;
    const Cell saved_scale = scale ? *scale : Cell{};
    int32_t out[2];
    for (int i = 0; i < 2; ++i) {
        set_integer(v, i == 0 ? pair_x(&saved_value) : pair_y(&saved_value));
        if (scale && cell_is(&saved_scale, T_PAIR)) set_integer(scale, i == 0 ? pair_x(&saved_scale) : pair_y(&saved_scale));
        else if (scale && cell_is(&saved_scale, T_POINT2D)) set_float(scale, point_coord(&saved_scale, i));
        action_of<Act::round>(T_INTEGER)(f);
        out[i] = cell_is(v, T_INTEGER) ? get_integer(v) : pair_component_of_float(get_float(v));
    }
    if (scale) *scale = saved_scale;
    pair_make_cell(v, out[0], out[1]);
}

void pair_add(ActionFrame& f) { pair_do_math(f, OP_ADD); }
void pair_subtract(ActionFrame& f) { pair_do_math(f, OP_SUB); }
void pair_multiply(ActionFrame& f) { pair_do_math(f, OP_MUL); }
void pair_divide(ActionFrame& f) { pair_do_math(f, OP_DIV); }
void pair_remainder(ActionFrame& f) { pair_do_math(f, OP_REM); }
void pair_and(ActionFrame& f) { pair_do_math(f, OP_AND); }
void pair_or(ActionFrame& f) { pair_do_math(f, OP_OR); }
void pair_xor(ActionFrame& f) { pair_do_math(f, OP_XOR); }

}  // namespace

void pair_init() {
    register_datatype(T_PAIR, T_NONE_ID, "pair!",
        pair_make, pair_random, nullptr, pair_make, pair_form, pair_mold, pair_eval_path, nullptr,
        pair_compare, pair_absolute, pair_add, pair_divide, pair_multiply, pair_negate,
        nullptr, pair_remainder, pair_round, pair_subtract, nullptr, nullptr,
        pair_and, nullptr, pair_or, pair_xor,
        // series actions: pick and reverse
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, pair_pick, nullptr, nullptr, nullptr, pair_reverse, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

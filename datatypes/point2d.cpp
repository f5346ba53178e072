// point2D!: two single-precision coordinates written (x, y); also the point actions point3D! shares and the accessors pair! uses.
//
// Coordinates are computed in double precision and stored rounded to single
// precision: a point never holds more precision than it shows.
#include <cmath>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/point_common.h"
#include "datatypes/scalar.h"
#include "interpreter/random.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/key_hash.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

void put_coord(Cell* c, int i, double d) {
    float f = float(d);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    (i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3) = bits;
}

}  // namespace

float point_coord(const Cell* c, int i) {
    uint32_t bits = i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3;
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

Cell* point2d_make_cell(Cell* c, double x, double y) {
    cell_init(c, T_POINT2D);
    put_coord(c, 0, x);
    put_coord(c, 1, y);
    return c;
}

Cell* point2d_push(double x, double y) { return point2d_make_cell(stack_push(), x, y); }

// ------------------------------------------------------------ accessors

int point_accessor(const Cell* element, int dims) {
    if (cell_is(element, T_INTEGER)) {
        int32_t n = get_integer(element);
        return n >= 1 && n <= dims ? n : 0;
    }
    if (!type_is_word(cell_type(element))) return 0;
    static const int32_t names[3] = {symbol_resolve_alias(symbol_from_cstring("x")),
                                     symbol_resolve_alias(symbol_from_cstring("y")),
                                     symbol_resolve_alias(symbol_from_cstring("z"))};
    int32_t symbol = symbol_resolve_alias(int32_t(element->w2));
    for (int i = 0; i < dims; ++i)
        if (names[i] == symbol) return i + 1;
    return 0;
}

void point_raise_bad_path(const PathStep& step) {
    Cell none;
    set_none(&none);
    raise_error(err::script::invalid_path, step.path ? step.path : &none, step.element);
}

int point_pick_accessor(ActionFrame& f, int dims) {
    const Cell* index = f.args + 1;
    int n = point_accessor(index, dims);
    if (n) return n;
    if (type_is_word(cell_type(index))) raise_error(err::script::cannot_use, index, f.args);
    raise_error(err::script::out_of_range, index);
}

bool coords_from_spec(ActionFrame& f, TypeId target, int dims, double c[3]) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    c[0] = c[1] = c[2] = 0.0;
    if (st == target) { *result = *spec; return true; }
    switch (st) {
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            if (block_length(spec) < uint32_t(dims)) raise_error_type(err::syntax::malconstruct, target, spec);
            for (int i = 0; i < dims; ++i) {
                const Cell* v = block_at(spec, uint32_t(i));
                if (cell_is(v, T_INTEGER)) c[i] = get_integer(v);
                else if (cell_is(v, T_FLOAT)) c[i] = get_float(v);
                else raise_error_type(err::syntax::malconstruct, target, spec);
            }
            return false;
        }
        case T_INTEGER: c[0] = c[1] = c[2] = get_integer(spec); return false;
        case T_FLOAT: c[0] = c[1] = c[2] = get_float(spec); return false;
        case T_PAIR: c[0] = pair_x(spec); c[1] = pair_y(spec); return false;
        case T_POINT2D: c[0] = point_coord(spec, 0); c[1] = point_coord(spec, 1); return false;
        default:
            if (type_is_string(st) && scan_one_value(spec, result) && cell_is(result, target)) return true;
            raise_error_type(err::script::bad_to_arg, target, spec);
    }
}

// ------------------------------------------------------------ comparison

int point_compare_cells(const Cell* a, const Cell* b, int op, int dims) {
    for (int i = 0; i < dims; ++i) {
        float x = point_coord(a, i), y = point_coord(b, i);
        switch (op) {
            case CMP_STRICT_EQUAL:
            case CMP_FIND:
                if (!(x == y)) return 1;
                break;
            case CMP_SAME:
                if (std::memcmp(&x, &y, 4) != 0) return 1;
                break;
            case CMP_EQUAL:
            case CMP_NOT_EQUAL:
            case CMP_EQUAL_10:
            case CMP_EQUAL_11:
                if (!float32_almost_equal_q(x, y)) return 1;
                break;
            default:
                if (!float32_almost_equal_q(x, y)) {
                    double d = double(x) - double(y);
                    if (d < 0) return -1;
                    if (d > 0) return 1;
                }
        }
    }
    return 0;
}

int point_compare(const Cell* a, const Cell* b, int op) {
    const int dims = point_dims(cell_type(a));
    if (dims == 2 && cell_is(b, T_PAIR)) {
        if (op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND) return 1;
        Cell p;
        point2d_make_cell(&p, pair_x(b), pair_y(b));
        return point_compare_cells(a, &p, op, 2);
    }
    if (cell_type(b) != cell_type(a)) return CMP_NOT_COMPARABLE;
    return point_compare_cells(a, b, op, dims);
}

// ------------------------------------------------------------ arithmetic

namespace {

// The operand's coordinates, or false when the point cannot take it.
bool operand_coords(const Cell* v, int dims, double r[3]) {
    switch (cell_type(v)) {
        case T_INTEGER: r[0] = r[1] = r[2] = get_integer(v); return true;
        case T_FLOAT:
        case T_PERCENT: r[0] = r[1] = r[2] = get_float(v); return true;
        case T_PAIR:
            if (dims != 2) return false;
            r[0] = pair_x(v); r[1] = pair_y(v); r[2] = 0;
            return true;
        case T_POINT2D:
        case T_POINT3D:
            if (point_dims(cell_type(v)) != dims) return false;
            for (int i = 0; i < dims; ++i) r[i] = point_coord(v, i);
            return true;
        default: return false;
    }
}

void point_store(Cell* c, TypeId t, const double v[3]) {
    cell_init(c, t);
    for (int i = 0; i < point_dims(t); ++i) put_coord(c, i, v[i]);
}

}  // namespace

// The point in args[0], the operand in args[1].
void point_math(ActionFrame& f, int op) {
    Cell* left = f.args;
    const TypeId t = cell_type(left);
    const int dims = point_dims(t);
    double r[3], out[3] = {0, 0, 0};
    if (!operand_coords(f.args + 1, dims, r)) raise_error_type(err::script::invalid_type, cell_type(f.args + 1));
    for (int i = 0; i < dims; ++i) out[i] = float_math_op(point_coord(left, i), r[i], op);
    point_store(left, t, out);
}

void point2d_do_math(ActionFrame& f, int op) { point_math(f, op); }
void point3d_do_math(ActionFrame& f, int op) { point_math(f, op); }

void point_math_scalar_left(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    const TypeId t = cell_type(right);
    const int dims = point_dims(t);
    double l[3], out[3] = {0, 0, 0};
    if (!operand_coords(left, dims, l)) raise_error_type(err::script::invalid_type, cell_type(left));
    for (int i = 0; i < dims; ++i) out[i] = float_math_op(l[i], point_coord(right, i), op);
    point_store(left, t, out);
}

void point_add(ActionFrame& f) { point_math(f, OP_ADD); }
void point_subtract(ActionFrame& f) { point_math(f, OP_SUB); }
void point_multiply(ActionFrame& f) { point_math(f, OP_MUL); }
void point_divide(ActionFrame& f) { point_math(f, OP_DIV); }
void point_remainder(ActionFrame& f) { point_math(f, OP_REM); }

void point_absolute(ActionFrame& f) {
    for (int i = 0; i < point_dims(cell_type(f.args)); ++i) put_coord(f.args, i, float_abs(point_coord(f.args, i)));
}
void point_negate(ActionFrame& f) {
    for (int i = 0; i < point_dims(cell_type(f.args)); ++i) put_coord(f.args, i, 0.0 - double(point_coord(f.args, i)));
}
void point_reverse(ActionFrame& f) {
    int last = point_dims(cell_type(f.args)) - 1;
    float first = point_coord(f.args, 0);
    put_coord(f.args, 0, point_coord(f.args, last));
    put_coord(f.args, last, first);
}

// Each coordinate through float!'s round, with the matching coordinate of a
// pair or point scale.
void point_round(ActionFrame& f) {
    Cell* v = f.args;
    Cell* scale = f.has(ROUND_TO) ? f.ref_arg(ROUND_TO) : nullptr;
    if (scale && cell_is(scale, T_MONEY)) raise_with_call_word_type(err::script::not_related, T_MONEY);
    const Cell saved_value = *v;
    const Cell saved_scale = scale ? *scale : Cell{};
    const TypeId t = cell_type(&saved_value);
    const int dims = point_dims(t);
    double out[3] = {0, 0, 0};
    for (int i = 0; i < dims; ++i) {
        set_float(v, point_coord(&saved_value, i));
        if (scale && cell_is(&saved_scale, T_PAIR)) set_integer(scale, i == 0 ? pair_x(&saved_scale) : pair_y(&saved_scale));
        else if (scale && (cell_is(&saved_scale, T_POINT2D) || cell_is(&saved_scale, T_POINT3D)))
            set_float(scale, i < point_dims(cell_type(&saved_scale)) ? point_coord(&saved_scale, i) : 0.0f);
        float_round_action(f);
        out[i] = cell_is(v, T_INTEGER) ? double(get_integer(v)) : get_float(v);
    }
    if (scale) *scale = saved_scale;
    point_store(v, t, out);
}

// ------------------------------------------------------------ make, text, paths

void point_make(ActionFrame& f) {
    const TypeId target = f.type;
    double c[3];
    if (coords_from_spec(f, target, point_dims(target), c)) return;
    point_store(f.args, target, c);
}

void point_random(ActionFrame& f) {
    Cell* v = f.args;
    const int dims = point_dims(cell_type(v));
    if (f.has(RANDOM_SEED)) {
        uint32_t words[3] = {v->w1, v->w2, v->w3};
        mt_seed(int32_t(murmur3_hash_bytes(words, size_t(dims) * 4)));
        set_unset(v);
        return;
    }
    for (int i = 0; i < dims; ++i) {
        double c = point_coord(v, i);
        if (c != 0.0) put_coord(v, i, float_random(c, f.has(RANDOM_SECURE)));
    }
}

int32_t point_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    const int dims = point_dims(cell_type(value));
    float coords[3] = {point_coord(value, 0), point_coord(value, 1), point_coord(value, 2)};
    char text[3 * FLOAT_FORMAT_MAX + 8];
    size_t n = 0;
    text[n++] = '(';
    for (int i = 0; i < dims; ++i) {
        if (i) { text[n++] = ','; text[n++] = ' '; }
        n += float_format(coords[i], FLOAT_KIND_POINT, text + n);
    }
    text[n++] = ')';
    return append_ascii_limit(out, text, n, limit);
}
int32_t point_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return point_form(value, out, arg, limit);
}

void point_eval_path(PathStep& step) {
    int n = point_accessor(step.element, point_dims(cell_type(step.parent)));
    if (!n) point_raise_bad_path(step);
    if (!step.set) {
        set_float(step.result, point_coord(step.parent, n - 1));
        return;
    }
    if (cell_is(step.set, T_INTEGER)) put_coord(step.parent, n - 1, get_integer(step.set));
    else if (cell_is(step.set, T_FLOAT)) put_coord(step.parent, n - 1, get_float(step.set));
    else raise_error_type(err::script::invalid_type, cell_type(step.set));
    *step.result = *step.parent;
}

void point_pick(ActionFrame& f) {
    int n = point_pick_accessor(f, point_dims(cell_type(f.args)));
    set_float(f.args, point_coord(f.args, n - 1));
}

void register_point_type(TypeId t, const char* name) {
    register_datatype(t, T_NONE_ID, name,
        point_make, point_random, nullptr, point_make, point_form, point_mold, point_eval_path, nullptr,
        point_compare, point_absolute, point_add, point_divide, point_multiply, point_negate,
        nullptr, point_remainder, point_round, point_subtract, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr,
        // series actions: pick and reverse
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, point_pick, nullptr, nullptr, nullptr, point_reverse, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

void point2d_init() { register_point_type(T_POINT2D, "point2D!"); }

}  // namespace tev

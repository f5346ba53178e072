// logic!: true and false (payload word 1 is 1 or 0), and the truth test the whole runtime uses.
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "runtime/errors.h"
#include "runtime/random.h"
#include "runtime/value_stack.h"

namespace tev {

Cell true_value, false_value;

Cell* logic_push(bool flag) {
    Cell* c = stack_push();
    set_logic(c, flag);
    return c;
}

bool logic_value_true(const Cell* value, bool check_unset, const Cell* word) {
    switch (cell_type(value)) {
        case T_NONE: return false;
        case T_LOGIC: return get_logic(value);
        case T_UNSET:
            if (check_unset) raise_error(err::script::no_value, word);
            return true;
        default: return true;
    }
}

namespace {

void logic_to(ActionFrame& f) {
    const Cell* spec = f.args + 1;
    if (cell_is(spec, T_LOGIC)) *f.args = *spec;
    else set_logic(f.args, !cell_is(spec, T_NONE));
}

// Numbers are true when not zero (so make logic! 0 is false while to logic! 0 is true).
void logic_make(ActionFrame& f) {
    const Cell* spec = f.args + 1;
    switch (cell_type(spec)) {
        case T_INTEGER: set_logic(f.args, get_integer(spec) != 0); break;
        case T_FLOAT:
        case T_PERCENT: set_logic(f.args, get_float(spec) != 0.0); break;  // NaN != 0.0: true
        default: logic_to(f);
    }
}

void logic_random(ActionFrame& f) {
    Cell* v = f.args;
    if (f.has(RANDOM_SEED)) {
        mt_seed(int32_t(get_logic(v)));
        set_unset(v);
        return;
    }
    int32_t draw = f.has(RANDOM_SECURE) ? random_secure_draw() : mt_next();
    set_logic(v, draw > 0x3FFFFFFF);
}

int32_t logic_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    return get_logic(value) ? append_ascii_limit(out, "true", 4, limit) : append_ascii_limit(out, "false", 5, limit);
}

int32_t logic_mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell* arg, int32_t limit, int32_t) {
    if (!all) return logic_form(value, out, arg, limit);
    return get_logic(value) ? append_ascii_limit(out, "#(true)", 7, limit) : append_ascii_limit(out, "#(false)", 8, limit);
}

int logic_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_LOGIC)) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT:
        case CMP_CASE_SORT: case CMP_SAME: case CMP_FIND: return int(get_logic(a)) - int(get_logic(b));
        default: return CMP_NOT_COMPARABLE;
    }
}

void logic_complement(ActionFrame& f) { put_logic(f.args, !get_logic(f.args)); }

void logic_bitwise(ActionFrame& f, int op) {
    const Cell* right = f.args + 1;
    if (!cell_is(right, T_LOGIC)) raise_with_call_word_type(err::script::expect_arg, cell_type(right), "value2");
    bool a = get_logic(f.args), b = get_logic(right);
    put_logic(f.args, op == OP_AND ? (a && b) : op == OP_OR ? (a || b) : (a != b));
}
void logic_and(ActionFrame& f) { logic_bitwise(f, OP_AND); }
void logic_or(ActionFrame& f) { logic_bitwise(f, OP_OR); }
void logic_xor(ActionFrame& f) { logic_bitwise(f, OP_XOR); }

}  // namespace

template <> void register_type<T_LOGIC>() {
    set_logic(&true_value, true);
    set_logic(&false_value, false);
    register_datatype(T_LOGIC, {
        .make = logic_make, .random = logic_random, .to = logic_to, .form = logic_form, .mold = logic_mold,
        .compare = logic_compare, .and_t = logic_and, .complement = logic_complement, .or_t = logic_or,
        .xor_t = logic_xor
    });
}

}  // namespace tev

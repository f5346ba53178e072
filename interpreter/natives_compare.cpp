// Comparison, logic, type and set-operation natives.
#include <cstring>
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/date.h"
#include "datatypes/dispatch.h"
#include "datatypes/pair.h"
#include "datatypes/point_common.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== comparison

// Two integers compare inline; everything else goes through the types' comparison.
template <int Op> static void compare_native(NativeCall& c) {
    const Cell* a = c.args;
    const Cell* b = c.args + 1;
    if (cell_is(a, T_INTEGER) && cell_is(b, T_INTEGER)) {
        int32_t x = get_integer(a), y = get_integer(b);
        bool r;
        switch (Op) {
        case CMP_EQUAL: case CMP_STRICT_EQUAL: r = x == y; break;
        case CMP_NOT_EQUAL: r = x != y; break;
        case CMP_LESSER: r = x < y; break;
        case CMP_LESSER_EQUAL: r = x <= y; break;
        case CMP_GREATER: r = x > y; break;
        default: r = x >= y; break;
        }
        set_logic(c.args, r);
        return;
    }
    bool r = compare_values(a, b, Op);
    set_logic(c.args, r);
}

// Identity: the same number bits, the same series at the same index, the same context.
static bool same_values(const Cell* a, const Cell* b) {
    TypeId t = cell_type(a);
    if (t != cell_type(b)) return false;
    switch (t) {
    case T_NONE: case T_UNSET: return true;
    case T_DATATYPE: return get_datatype(a) == get_datatype(b);
    case T_LOGIC: return get_logic(a) == get_logic(b);
    case T_OBJECT: return object_context(a) == object_context(b);
    case T_CHAR: case T_INTEGER: return get_char_or_integer(a) == get_char_or_integer(b);
    case T_BITSET: return series_node(a) == series_node(b);
    // The number's bits, not its value: 0.0 and -0.0 are not the same.
    case T_FLOAT: case T_PERCENT: case T_TIME: return cell_word(a, 2) == cell_word(b, 2) && cell_word(a, 3) == cell_word(b, 3);
    case T_PAIR: return pair_x(a) == pair_x(b) && pair_y(a) == pair_y(b);
    case T_TUPLE: return compare_dispatch(a, b, CMP_STRICT_EQUAL) == 0;
    case T_MONEY: return compare_dispatch(a, b, CMP_SAME) == 0;
    case T_NATIVE: case T_ACTION: return native_index(a) == native_index(b) && callable_spec_node(a) == callable_spec_node(b);
    case T_POINT2D: return point_coord_bits(a, 0) == point_coord_bits(b, 0) && point_coord_bits(a, 1) == point_coord_bits(b, 1);
    case T_OP: return callable_spec_node(a) == callable_spec_node(b) && callable_more(a) == callable_more(b);
    default:
        if (type_is_series(t)) return series_node(a) == series_node(b) && series_index(a) == series_index(b);
        return cell_payload_equal(a, b);
    }
}

void native_equal_q(NativeCall& c) { compare_native<CMP_EQUAL>(c); }
void native_not_equal_q(NativeCall& c) { compare_native<CMP_NOT_EQUAL>(c); }
void native_strict_equal_q(NativeCall& c) { compare_native<CMP_STRICT_EQUAL>(c); }
void native_lesser_q(NativeCall& c) { compare_native<CMP_LESSER>(c); }
void native_greater_q(NativeCall& c) { compare_native<CMP_GREATER>(c); }
void native_lesser_or_equal_q(NativeCall& c) { compare_native<CMP_LESSER_EQUAL>(c); }
void native_greater_or_equal_q(NativeCall& c) { compare_native<CMP_GREATER_EQUAL>(c); }

void native_same_q(NativeCall& c) { set_logic(c.args, same_values(c.args, c.args + 1)); }

void native_not(NativeCall& c) { set_logic(c.args, !is_truthy(c.args)); }

void native_type_q(NativeCall& c) {
    TypeId t = cell_type(c.args);
    if (c.has(0)) {
        *c.args = word_from_cstring(type_names[t].name ? type_names[t].name : "unset!");
        return;
    }
    set_datatype(c.args, t);
}

// ================================================================== set operations

static void set_operation(NativeCall& c, SetOp code, bool unique) {
    Cell* set1 = c.args;
    TypeId t1 = cell_type(set1);
    if (!unique) {
        TypeId t2 = cell_type(c.args + 1);
        bool blocks = t1 == T_BLOCK || t1 == T_HASH;
        bool ok = blocks ? (t2 == T_BLOCK || t2 == T_HASH) : t2 == t1;
        if (!ok) {
            Cell a, b;
            set_datatype(&a, t1);
            set_datatype(&b, t2);
            raise_error(err::script::expect_val, &a, &b);
        }
    }
    bool case_sensitive = c.has(0);
    int32_t skip = 1;
    if (Cell* size = c.ref_arg(1)) {
        skip = get_integer(size);
        if (skip < 1) raise_error(err::script::out_of_range, size);
    }
    // The engines read two operands side by side.
    Cell* operands = stack_push_copy(c.args);
    stack_push_copy(unique ? c.args : c.args + 1);
    switch (t1) {
    case T_BLOCK: case T_HASH: {
        Cell* r = block_set_op(operands, case_sensitive, skip, code);
        *c.args = *r;
        return;
    }
    case T_STRING:
        string_set_op(operands, case_sensitive, skip, code);
        *c.args = *operands;
        return;
    case T_TYPESET:
        typeset_set_operation(operands, code);
        *c.args = *operands;
        return;
    case T_BITSET: {
        ActionFrame f{operands, T_BITSET, {}};
        std::memset(f.refs, -1, sizeof f.refs);
        bitset_set_op(f, code);
        *c.args = *operands;
        return;
    }
    case T_DATE:
        if (code == SET_DIFFERENCE) {
            date_difference(operands, operands + 1);
            *c.args = *operands;
            return;
        }
        [[fallthrough]];
    default: {
        Cell w, type, arg;
        current_call_word(&w);
        set_datatype(&type, t1);
        arg = word_from_cstring(unique ? "set" : "set1");
        raise_error(err::script::expect_arg, &w, &type, &arg);
    }
    }
}

void native_union(NativeCall& c) { set_operation(c, SET_UNION, false); }
void native_intersect(NativeCall& c) { set_operation(c, SET_INTERSECT, false); }
void native_unique(NativeCall& c) { set_operation(c, SET_UNIQUE, true); }
void native_difference(NativeCall& c) { set_operation(c, SET_DIFFERENCE, false); }
void native_exclude(NativeCall& c) { set_operation(c, SET_EXCLUDE, false); }


}  // namespace tev

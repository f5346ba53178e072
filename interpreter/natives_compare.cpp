// Comparison, logic, type and set-operation natives.
#include <cstring>
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/actions.h"
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
    case T_DATATYPE: case T_LOGIC: case T_OBJECT: return a->w1 == b->w1;
    case T_CHAR: case T_INTEGER: case T_BITSET: return a->w2 == b->w2;
    case T_FLOAT: case T_PERCENT: case T_PAIR: case T_TIME: return a->w2 == b->w2 && a->w3 == b->w3;
    case T_TUPLE: return compare_dispatch(a, b, CMP_STRICT_EQUAL) == 0;
    case T_MONEY: return compare_dispatch(a, b, CMP_SAME) == 0;
    case T_NATIVE: case T_ACTION: case T_POINT2D: return a->w1 == b->w1 && a->w2 == b->w2;
    case T_OP: return a->w2 == b->w2 && a->w3 == b->w3;
    default:
        if (type_is_series(t)) return series_node(a) == series_node(b) && series_index(a) == series_index(b);
        return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
    }
}

static void native_same_q(NativeCall& c) { set_logic(c.args, same_values(c.args, c.args + 1)); }

static void native_not(NativeCall& c) { set_logic(c.args, !is_truthy(c.args)); }

static void native_type_q(NativeCall& c) {
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

static void native_union(NativeCall& c) { set_operation(c, SET_UNION, false); }
static void native_intersect(NativeCall& c) { set_operation(c, SET_INTERSECT, false); }
static void native_unique(NativeCall& c) { set_operation(c, SET_UNIQUE, true); }
static void native_difference(NativeCall& c) { set_operation(c, SET_DIFFERENCE, false); }
static void native_exclude(NativeCall& c) { set_operation(c, SET_EXCLUDE, false); }

void natives_compare_entries() {
    static const NativeEntry entries[] = {
        {"equal?", compare_native<CMP_EQUAL>}, {"not-equal?", compare_native<CMP_NOT_EQUAL>},
        {"strict-equal?", compare_native<CMP_STRICT_EQUAL>}, {"lesser?", compare_native<CMP_LESSER>},
        {"greater?", compare_native<CMP_GREATER>}, {"lesser-or-equal?", compare_native<CMP_LESSER_EQUAL>},
        {"greater-or-equal?", compare_native<CMP_GREATER_EQUAL>}, {"same?", native_same_q},
        {"not", native_not}, {"type?", native_type_q}, {"union", native_union},
        {"intersect", native_intersect}, {"unique", native_unique}, {"difference", native_difference},
        {"exclude", native_exclude},
    };
    add_native_entries(entries, int(sizeof entries / sizeof entries[0]));
}

}  // namespace tev

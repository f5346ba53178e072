// typeset!: sets of datatypes in one cell: making, set operations, find, compare, form and mold.
#include "datatypes/typeset.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== bits

// The payload's 96 bits, type id 0 the top bit of the first byte.
static uint8_t* typeset_bytes(Cell* ts) { return cell_payload(ts); }
static const uint8_t* typeset_bytes(const Cell* ts) { return cell_payload(ts); }

// Combines b's bits into a's, byte by byte.
template <class Op> static void typeset_combine(Cell* a, const Cell* b, Op op) {
    uint8_t* x = typeset_bytes(a);
    const uint8_t* y = typeset_bytes(b);
    for (uint32_t i = 0; i < CELL_PAYLOAD_BYTES; ++i) x[i] = uint8_t(op(x[i], y[i]));
}

bool typeset_has_type(const Cell* typeset, uint32_t type_id) {
    return type_id < 96 && (typeset_bytes(typeset)[type_id >> 3] & (0x80 >> (type_id & 7))) != 0;
}

void typeset_add_type(Cell* typeset, uint32_t type_id) {
    if (type_id < 96) typeset_bytes(typeset)[type_id >> 3] |= uint8_t(0x80 >> (type_id & 7));
}

static void typeset_or(Cell* into, const Cell* from) {
    typeset_combine(into, from, [](uint8_t x, uint8_t y) { return x | y; });
}

// The number of types named, for the sort order.
static int typeset_count(const Cell* ts) {
    int n = 0;
    for (int t = 1; t <= highest_type_id; ++t) n += typeset_has_type(ts, uint32_t(t));
    return n;
}

// ================================================================== building

void typeset_append_bits(Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
    Cell ts;
    cell_init(&ts, T_TYPESET);
    const uint32_t words[3] = {w1, w2, w3};
    std::memcpy(typeset_bytes(&ts), words, CELL_PAYLOAD_BYTES);
    block_append(block, &ts);
}

void typeset_append_any(Cell* block) {
    Cell ts;
    cell_init(&ts, T_TYPESET);
    std::memset(typeset_bytes(&ts), 0xFF, CELL_PAYLOAD_BYTES);
    typeset_bytes(&ts)[T_UNSET >> 3] &= uint8_t(~(0x80 >> (T_UNSET & 7)));
    block_append(block, &ts);
}

// A word stands for its value; an unset word raises no-value.
static Cell word_resolved(const Cell* value) {
    if (!cell_is(value, T_WORD)) return *value;
    Cell word = *value;
    Cell v = *evaluation_hooks.word_value(&word);
    if (cell_is(&v, T_UNSET)) raise_error(err::script::no_value, &word);
    return v;
}

void typeset_append_from_spec(Cell* block, const Cell* type_block) {
    Cell ts;
    cell_init(&ts, T_TYPESET);
    uint32_t n = block_length(type_block);
    for (uint32_t i = 0; i < n; ++i) {  // looking words up allocates nothing
        Cell v = word_resolved(block_at(type_block, i));
        switch (cell_type(&v)) {
        case T_DATATYPE: typeset_add_type(&ts, get_datatype(&v)); break;
        case T_TYPESET: typeset_or(&ts, &v); break;
        case T_WORD: typeset_add_type(&ts, T_OBJECT); break;
        case T_BLOCK: break;
        default: raise_error(err::script::invalid_type_spec, &v);
        }
    }
    block_append(block, &ts);
}

void typeset_set_bit(Cell* typeset, const Cell* value) {
    Cell v = word_resolved(value);
    if (cell_is(&v, T_TYPESET)) typeset_or(typeset, &v);
    else if (cell_is(&v, T_DATATYPE)) typeset_add_type(typeset, get_datatype(&v));
    else raise_error(err::script::invalid_arg, &v);
}

// ================================================================== actions

static void typeset_make(ActionFrame& f) {
    Cell* spec = f.args + 1;
    if (cell_is(spec, T_TYPESET)) {
        *f.args = *spec;
        return;
    }
    if (!cell_is(spec, T_BLOCK)) raise_error_type(err::script::bad_to_arg, T_TYPESET, spec);
    Cell ts;
    cell_init(&ts, T_TYPESET);
    uint32_t n = block_length(spec);
    for (uint32_t i = 0; i < n; ++i) typeset_set_bit(&ts, block_at(spec, i));
    *f.args = ts;
}

void typeset_set_operation(Cell* args, int op) {
    if (op == SET_UNIQUE) return;
    Cell b = args[1];
    if (cell_is(&b, T_DATATYPE)) {
        TypeId t = get_datatype(&b);
        cell_init(&b, T_TYPESET);
        typeset_add_type(&b, t);
    } else if (!cell_is(&b, T_TYPESET)) {
        raise_error(err::script::invalid_arg, args + 1);
    }
    Cell* a = args;
    switch (op) {
    case SET_OR: case SET_UNION: typeset_combine(a, &b, [](uint8_t x, uint8_t y) { return x | y; }); break;
    case SET_AND: case SET_INTERSECT: typeset_combine(a, &b, [](uint8_t x, uint8_t y) { return x & y; }); break;
    case SET_XOR: case SET_DIFFERENCE: typeset_combine(a, &b, [](uint8_t x, uint8_t y) { return x ^ y; }); break;
    case SET_EXCLUDE: typeset_combine(a, &b, [](uint8_t x, uint8_t y) { return x & ~y; }); break;
    default: raise_error(err::internal::not_done);
    }
    a->header = T_TYPESET;
}

static void typeset_and(ActionFrame& f) { typeset_set_operation(f.args, SET_AND); }
static void typeset_or_action(ActionFrame& f) { typeset_set_operation(f.args, SET_OR); }
static void typeset_xor(ActionFrame& f) { typeset_set_operation(f.args, SET_XOR); }

static void typeset_complement(ActionFrame& f) {
    Cell* ts = f.args;
    typeset_combine(ts, ts, [](uint8_t x, uint8_t) { return ~x; });
    ts->header = T_TYPESET;
}

static void typeset_find(ActionFrame& f) {
    const Cell* value = f.args + 1;
    if (!cell_is(value, T_DATATYPE)) raise_error(err::script::invalid_arg, value);
    set_logic(f.args, typeset_has_type(f.args, get_datatype(value)));
}

static int typeset_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_TYPESET)) return CMP_NOT_COMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_FIND:
        return cell_payload_equal(a, b) ? 0 : 1;
    case CMP_SORT: case CMP_CASE_SORT: {
        int na = typeset_count(a), nb = typeset_count(b);
        return na < nb ? -1 : na > nb ? 1 : 0;
    }
    default: return CMP_NOT_COMPARABLE;
    }
}

// "make typeset! [integer! float!]"; with only, the names alone.
static int32_t typeset_mold(const Cell* value, Cell* out, bool only, bool, bool, const Cell* arg, int32_t limit,
                            int32_t) {
    Cell ts = *value;  // read before out grows
    if (!only) {
        string_append_cstr(out, "make typeset! [");
        limit -= 15;
    }
    bool written = false;
    for (int t = 1; t <= highest_type_id; ++t) {
        const char* name = datatype_name(TypeId(t));
        if (!typeset_has_type(&ts, uint32_t(t)) || !name) continue;
        if (arg && limit < 0) return limit;
        string_append_cstr(out, name);
        string_append_ascii(out, " ", 1);
        limit -= int32_t(std::strlen(name)) + 1;  // the name's length without "!", + 2
        written = true;
    }
    if (written) string_truncate(series_node(out), string_length_from_head(out) - 1);
    if (only) return written ? limit + 1 : limit;
    string_append_ascii(out, "]", 1);
    return limit;
}

static int32_t typeset_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    return typeset_mold(value, out, false, false, false, arg, limit, 0);
}

// ================================================================== registration

template <> void register_type<T_TYPESET>() {
    register_datatype(T_TYPESET, {
        .make = typeset_make, .to = typeset_make, .form = typeset_form, .mold = typeset_mold,
        .compare = typeset_compare, .and_t = typeset_and, .complement = typeset_complement,
        .or_t = typeset_or_action, .xor_t = typeset_xor, .find = typeset_find
    });
}

}  // namespace tev

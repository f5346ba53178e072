// bitset!: a set of non-negative integers as an array of bits, with a not-flag that makes
// every number beyond the array a member.
//
// Bit n is byte n >> 3, mask 80h >> (n & 7). The stored bits give membership
// directly within the array; beyond it (and for negative numbers) membership is
// the not-flag. Bytes past the tail (spare capacity) always hold the fill byte,
// 00h for a plain bitset and FFh for an inverted one, so growing never changes
// membership.
#include <algorithm>
#include <cmath>
#include <cstring>
#include "datatypes/bitset.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr uint32_t SER_NOT = 0x80000;  // inverted bitset (buffer flag)
constexpr uint32_t MAX_BIT = 0x7FFFFFFF;

enum BitOp { BIT_MEASURE = 0, BIT_SET = 1, BIT_TEST = 2, BIT_CLEAR = 3 };
enum SpecCaller { FOR_MAKE = 0, FOR_TO = 1, FOR_ACTION = 2 };

// ---------------------------------------------------------------- the array

bool is_not(NodeRef bits) { return (node_buffer(bits)->flags & SER_NOT) != 0; }
uint8_t fill_byte(NodeRef bits) { return is_not(bits) ? 0xFF : 0x00; }
uint32_t byte_count(NodeRef bits) { SeriesBuffer* b = node_buffer(bits); return b->tail - b->head; }
uint64_t bit_count(NodeRef bits) { return uint64_t(byte_count(bits)) * 8; }
uint8_t* bytes_of(NodeRef bits) { return node_buffer(bits)->head_ptr(); }

// A new array of `bytes` bytes (and spare capacity), all `fill`, tail at the end.
NodeRef new_bits(uint32_t bytes, bool inverted) {
    NodeRef n = alloc_series_filled(std::max<uint32_t>(bytes, 1), inverted ? 0xFF : 0x00);
    SeriesBuffer* b = node_buffer(n);
    b->tail = b->head + bytes;
    if (inverted) b->flags |= SER_NOT;
    return n;
}

// Makes room for `bit` and moves the tail to cover its byte.
void ensure_bit(NodeRef bits, uint32_t bit) {
    uint32_t need = (bit >> 3) + 1;
    SeriesBuffer* b = node_buffer(bits);
    if (b->size - b->head < need) b = expand_series_fill(bits, need, fill_byte(bits));
    if (b->tail - b->head < need) b->tail = b->head + need;
}

bool bit_at(NodeRef bits, uint32_t n) { return (bytes_of(bits)[n >> 3] & (0x80 >> (n & 7))) != 0; }

// A copy of the array (flag and bytes); with invert, the complement.
NodeRef copy_bits(NodeRef bits, bool invert) {
    uint32_t n = byte_count(bits);
    bool inverted = is_not(bits) != invert;
    NodeRef copy = new_bits(n, inverted);
    const uint8_t* src = bytes_of(bits);
    uint8_t* dst = bytes_of(copy);
    for (uint32_t i = 0; i < n; ++i) dst[i] = invert ? uint8_t(~src[i]) : src[i];
    return copy;
}

// Sets or clears low..high, or tests that all of them are members. Bits beyond
// the array are only stored when storing changes membership: setting on an
// inverted bitset (or clearing on a plain one) changes just the part inside.
bool process_range(NodeRef bits, uint32_t low, uint32_t high, int op) {
    bool inv = is_not(bits);
    if (op == BIT_TEST) {
        uint64_t size = bit_count(bits);
        for (uint64_t n = low; n <= high; ++n) {
            if (n >= size) return inv;
            if (!bit_at(bits, uint32_t(n))) return false;
        }
        return true;
    }
    bool set = op == BIT_SET;
    if (set == inv) {  // beyond the array nothing changes
        uint64_t size = bit_count(bits);
        if (low >= size) return true;
        high = uint32_t(std::min<uint64_t>(high, size - 1));
    } else {
        ensure_bit(bits, high);
    }
    uint8_t* p = bytes_of(bits);
    for (uint64_t n = low; n <= high; ++n) {
        uint8_t mask = uint8_t(0x80 >> (n & 7));
        if (set) p[n >> 3] |= mask;
        else p[n >> 3] &= uint8_t(~mask);
    }
    return true;
}

// ---------------------------------------------------------------- specs

// The number a char!, integer! or float! spec names (floats truncate toward
// zero); negative numbers raise out-of-range except when testing.
int64_t spec_number(const Cell* v, int op) {
    int64_t n;
    if (cell_is(v, T_CHAR)) n = get_char(v);
    else if (cell_is(v, T_INTEGER)) n = get_integer(v);
    else {
        double d = std::trunc(get_float(v));
        if (!(d > -2147483649.0 && d < 2147483648.0)) {
            if (op == BIT_TEST && d < 0) return -1;
            raise_error(err::script::out_of_range, v);
        }
        n = int64_t(d);
    }
    if (n < 0 && op != BIT_TEST) raise_error(err::script::out_of_range, v);
    return n;
}

// c is a copy: interning the dash may allocate and move the spec block.
bool is_range_dash(Cell c) {
    return cell_is(&c, T_WORD) && word_symbol(&c) == symbol_from_cstring("-");
}

[[noreturn]] void raise_bad_spec(const Cell* spec, int caller) {
    if (caller == FOR_MAKE) raise_error_type(err::script::bad_make_arg, T_BITSET, spec);
    if (caller == FOR_TO) raise_error_type(err::script::bad_to_arg, T_BITSET, spec);
    raise_error(err::script::invalid_arg, spec);
}

// Walks a spec: measure gives the highest number met (-1: none); set and clear
// change bits; test answers whether every value is a member. `bits` is 0 for
// measure. Spec values are read through their series at each step: processing
// allocates.
int64_t process_spec(const Cell* spec_in, NodeRef bits, int op, int caller) {
    Cell spec = *spec_in;  // its series stays reachable through the caller
    TypeId t = cell_type(&spec);
    if (t == T_CHAR || t == T_INTEGER || t == T_FLOAT) {
        int64_t n = spec_number(&spec, op);
        if (op == BIT_MEASURE) return n;
        if (n < 0) return is_not(bits);  // testing a negative number
        return process_range(bits, uint32_t(n), uint32_t(n), op);
    }
    if (type_is_string(t)) {
        uint32_t count = string_length(&spec);
        int64_t highest = -1;
        for (uint32_t i = 0; i < count; ++i) highest = std::max<int64_t>(highest, string_char_at(&spec, i));
        if (op == BIT_MEASURE) return highest;
        if (highest < 0) return 1;
        if ((op == BIT_SET) != is_not(bits) && op != BIT_TEST) ensure_bit(bits, uint32_t(highest));
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t cp = string_char_at(&spec, i);
            if (!process_range(bits, cp, cp, op)) return 0;
        }
        return 1;
    }
    if (t == T_BLOCK || t == T_PAREN) {
        NodeRef node = series_node(&spec);
        // Nested blocks are walked in turn: one that holds itself is no spec.
        if (cycle_find(node)) raise_bad_spec(&spec, caller);
        CycleGuard guard(node);
        int64_t highest = -1;
        for (uint32_t i = series_index(&spec); i < node_buffer(node)->count(); ++i) {
            Cell v = node_buffer(node)->cells()[i];
            TypeId vt = cell_type(&v);
            if (vt == T_BINARY) raise_error(err::internal::not_done);
            uint32_t total = node_buffer(node)->count();
            if ((vt == T_CHAR || vt == T_INTEGER) && i + 1 < total && is_range_dash(node_buffer(node)->cells()[i + 1])) {
                if (i + 2 >= total) raise_error(err::script::past_end);
                Cell high = node_buffer(node)->cells()[i + 2];
                if (cell_type(&high) != vt) raise_error(err::script::invalid_arg, &high);
                int64_t lo = spec_number(&v, BIT_SET), hi = spec_number(&high, BIT_SET);
                if (hi < lo) raise_error(err::script::past_end);
                i += 2;
                if (op == BIT_MEASURE) highest = std::max(highest, hi);
                else if (!process_range(bits, uint32_t(lo), uint32_t(hi), op)) return 0;
                continue;
            }
            int64_t r = process_spec(&v, bits, op, caller);
            if (op == BIT_MEASURE) highest = std::max(highest, r);
            else if (op == BIT_TEST && !r) return 0;
        }
        return op == BIT_MEASURE ? highest : 1;
    }
    raise_bad_spec(&spec, caller);
}

uint32_t bytes_for(int64_t highest) {
    if (highest > int64_t(MAX_BIT)) raise_error(err::internal::no_memory);
    return std::max<uint32_t>(uint32_t(((highest + 8) & ~int64_t(7)) / 8), 1);
}

// ---------------------------------------------------------------- make

void set_bitset(Cell* out, NodeRef bits) {
    cell_init(out, T_BITSET);
    series_set_node(out, bits);
}

// Makes the bitset into out (a rooted cell).
void bitset_make(Cell* out, const Cell* spec_in, int caller) {
    StackScope scope;
    Cell* spec = stack_push_copy(spec_in);
    bool inverted = false;
    Cell first;  // a copy: the word lookup may allocate
    set_none(&first);
    if (cell_is(spec, T_BLOCK) && series_index(spec) < node_buffer(series_node(spec))->count())
        first = node_buffer(series_node(spec))->cells()[series_index(spec)];
    if (series_is_word(&first, "not")) {
        inverted = true;
        series_set_index(spec, series_index(spec) + 1);
        const Cell* next = series_index(spec) < node_buffer(series_node(spec))->count()
                               ? node_buffer(series_node(spec))->cells() + series_index(spec) : nullptr;
        if (next && cell_is(next, T_BINARY)) *spec = *next;
    }
    TypeId t = cell_type(spec);
    if (t == T_INTEGER || t == T_FLOAT) {
        if (caller == FOR_TO) raise_error_type(err::script::bad_to_arg, T_BITSET, spec);
        int64_t size = spec_number(spec, BIT_SET);
        NodeRef bits = new_bits(uint32_t((size + 7) / 8), false);
        set_bitset(out, bits);
        return;
    }
    if (t == T_BITSET) {
        NodeRef bits = copy_bits(series_node(spec), false);
        set_bitset(out, bits);
        return;
    }
    if (t == T_BINARY) {
        SeriesBuffer* b = node_buffer(series_node(spec));
        uint32_t n = b->tail - b->head;
        NodeRef bits = new_bits(n, inverted);
        b = node_buffer(series_node(spec));
        uint8_t* dst = bytes_of(bits);
        for (uint32_t i = 0; i < n; ++i) dst[i] = inverted ? uint8_t(~b->head_ptr()[i]) : b->head_ptr()[i];
        set_bitset(out, bits);
        return;
    }
    uint32_t bytes = bytes_for(process_spec(spec, 0, BIT_MEASURE, caller));
    NodeRef bits = new_bits(bytes, inverted);
    set_bitset(out, bits);  // rooted from here on
    process_spec(spec, bits, inverted ? BIT_CLEAR : BIT_SET, caller);
}

// ---------------------------------------------------------------- set operations

uint8_t combine(int op, uint8_t a, uint8_t b) {
    switch (op) {
        case SET_OR: case SET_UNION: return a | b;
        case SET_AND: case SET_INTERSECT: return a & b;
        case SET_EXCLUDE: return a & uint8_t(~b);
        default: return a ^ b;  // xor~, difference
    }
}

// Each operand is taken as infinite: past its array every byte is its fill
// byte. So the result's not-flag is op(notA, notB) and its bytes are op of the
// extended operands; membership is exact whatever the lengths.
void bitset_set_operation(ActionFrame& f, int op) {
    Cell* a = f.args;
    Cell* b = f.args + 1;
    if (!cell_is(b, T_BITSET)) raise_error_type(err::script::invalid_type, cell_type(b));
    if (op == SET_UNIQUE) return;
    NodeRef na = series_node(a), nb = series_node(b);
    uint32_t la = byte_count(na), lb = byte_count(nb);
    bool result_not = combine(op, is_not(na) ? 1 : 0, is_not(nb) ? 1 : 0) & 1;
    uint32_t n = std::max(la, lb);
    // and~ ends at the shorter operand when that changes no member.
    if (op == SET_AND && fill_byte(la < lb ? na : nb) == 0) n = std::min(la, lb);
    NodeRef r = new_bits(n, result_not);
    uint8_t fa = fill_byte(na), fb = fill_byte(nb);
    const uint8_t* pa = bytes_of(na);
    const uint8_t* pb = bytes_of(nb);
    uint8_t* pr = bytes_of(r);
    for (uint32_t i = 0; i < n; ++i) pr[i] = combine(op, i < la ? pa[i] : fa, i < lb ? pb[i] : fb);
    set_bitset(f.args, r);
}

// ---------------------------------------------------------------- form and mold

int32_t append_text(Cell* out, const char* s, int32_t limit) {
    string_append_cstr(out, s);
    return limit - int32_t(std::strlen(s));
}

int32_t form_bitset(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    NodeRef bits = series_node(value);  // read before anything allocates
    bool inv = is_not(bits);
    limit = append_text(out, "make bitset! ", limit);
    if (inv) limit = append_text(out, "[not ", limit);
    limit = append_text(out, "#{", limit);
    for (uint32_t i = 0, n = byte_count(bits); i < n; ++i) {
        uint8_t byte = bytes_of(bits)[i];
        string_append_ascii(out, string_byte_to_hex(inv ? uint8_t(~byte) : byte), 2);
        limit -= 2;
        if (arg && limit < 0) return limit;
    }
    limit = append_text(out, "}", limit);
    if (inv) limit = append_text(out, "]", limit);
    return limit;
}

int32_t mold_bitset(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return form_bitset(value, out, arg, limit);
}

// ---------------------------------------------------------------- compare

int compare_bitset(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_BITSET)) return CMP_NOT_COMPARABLE;
    NodeRef na = series_node(a), nb = series_node(b);
    if (op == CMP_SAME) return na == nb ? 0 : 1;
    uint32_t la = byte_count(na), lb = byte_count(nb);
    if (la != lb) return la > lb ? 1 : -1;
    if (na == nb) return 0;
    if (is_not(na) != is_not(nb)) return is_not(na) ? 1 : -1;  // the plain one is lesser
    const uint8_t* pa = bytes_of(na);
    const uint8_t* pb = bytes_of(nb);
    for (uint32_t i = la; i-- > 0;)
        if (pa[i] != pb[i]) return pa[i] > pb[i] ? 1 : -1;
    return 0;
}

// ---------------------------------------------------------------- actions

void make_bitset(ActionFrame& f) { bitset_make(f.args, f.args + 1, FOR_MAKE); }
void to_bitset(ActionFrame& f) { bitset_make(f.args, f.args + 1, FOR_TO); }

bool is_owned_field(const Cell* field) { return series_is_word(field, "owned"); }

void reflect_bitset(ActionFrame& f) {
    if (!is_owned_field(f.args + 1)) raise_error(err::internal::not_done);
    ownership_get_owner(series_node(f.args), f.args);
}

void modify_bitset(ActionFrame& f) {
    if (!is_owned_field(f.args + 1)) return;
    Cell* value = f.args + 2;
    if (cell_is(value, T_NONE)) {
        ownership_unbind(f.args);
    } else if (cell_is(value, T_BLOCK) && node_buffer(series_node(value))->count() >= series_index(value) + 2) {
        Cell* owner = stack_push_copy(node_buffer(series_node(value))->cells() + series_index(value));
        Cell* word = stack_push_copy(node_buffer(series_node(value))->cells() + series_index(value) + 1);
        ownership_bind(f.args, owner, word);
        stack_pop(2);
    }
}

// Processes args[1] as a spec on the bitset in args[0], announcing the change to
// an owner before and after.
void change_members(ActionFrame& f, int op, ChangeWord before, ChangeWord after) {
    bool owned = ownership_notice(f.args, before, f.args + 1, 0, 0);
    process_spec(f.args + 1, series_node(f.args), op, FOR_ACTION);
    if (owned) ownership_notice(f.args, after, nullptr, 0, 0);
}

void append_bitset(ActionFrame& f) { change_members(f, BIT_SET, ChangeWord::append, ChangeWord::appended); }
void insert_bitset(ActionFrame& f) { change_members(f, BIT_SET, ChangeWord::insert, ChangeWord::inserted); }

void eval_path_bitset(PathStep& step) {
    TypeId et = cell_type(step.element);
    if (et != T_INTEGER && et != T_CHAR) raise_error_type(err::script::invalid_type, et);
    NodeRef bits = series_node(step.parent);
    if (!step.set) {
        set_logic(step.result, process_spec(step.element, bits, BIT_TEST, FOR_ACTION) != 0);
        return;
    }
    const Cell* v = step.set;
    bool off = cell_is(v, T_NONE) || (cell_is(v, T_LOGIC) && !get_logic(v)) ||
               (cell_is(v, T_INTEGER) && get_integer(v) == 0) || (cell_is(v, T_FLOAT) && get_float(v) == 0.0);
    process_spec(step.element, bits, off ? BIT_CLEAR : BIT_SET, FOR_ACTION);
    *step.result = *step.set;
}

void clear_bitset(ActionFrame& f) {
    bool owned = ownership_notice(f.args, ChangeWord::clear, nullptr, 0, 0);
    NodeRef bits = series_node(f.args);
    std::memset(bytes_of(bits), fill_byte(bits), byte_count(bits));
    if (owned) ownership_notice(f.args, ChangeWord::cleared, nullptr, 0, 0);
}

void copy_bitset(ActionFrame& f) {
    NodeRef bits = copy_bits(series_node(f.args), false);
    set_bitset(f.args, bits);
}

// Every byte inverted and the not-flag toggled: the complement.
void complement_bitset(ActionFrame& f) {
    NodeRef bits = copy_bits(series_node(f.args), true);
    set_bitset(f.args, bits);
}

void pick_bitset(ActionFrame& f) {
    bool in = process_spec(f.args + 1, series_node(f.args), BIT_TEST, FOR_ACTION) != 0;
    set_logic(f.args, in);
}

void find_bitset(ActionFrame& f) {
    bool in = process_spec(f.args + 1, series_node(f.args), BIT_TEST, FOR_ACTION) != 0;
    if (in) set_logic(f.args, true);
    else set_none(f.args);
}

void poke_bitset(ActionFrame& f) {
    bool owned = ownership_notice(f.args, ChangeWord::poke, f.args + 2, 0, 0);
    Cell target = *f.args;
    const Cell* v = f.args + 2;
    bool off = cell_is(v, T_NONE) || (cell_is(v, T_LOGIC) && !get_logic(v)) ||
               (cell_is(v, T_INTEGER) && get_integer(v) == 0) || (cell_is(v, T_FLOAT) && get_float(v) == 0.0);
    process_spec(f.args + 1, series_node(&target), off ? BIT_CLEAR : BIT_SET, FOR_ACTION);
    if (owned) ownership_notice(&target, ChangeWord::poked, nullptr, 0, 0);
    f.args[0] = f.args[2];
}

void remove_bitset(ActionFrame& f) {
    if (!f.has(ref::remove_part)) raise_error(err::script::missing_arg);
    bool owned = ownership_notice(f.args, ChangeWord::remove, nullptr, 0, 0);
    NodeRef bits = series_node(f.args);
    process_spec(f.ref_arg(ref::remove_part), bits, is_not(bits) ? BIT_SET : BIT_CLEAR, FOR_ACTION);
    if (owned) ownership_notice(f.args, ChangeWord::removed, nullptr, 0, 0);
}

void length_bitset(ActionFrame& f) {
    uint64_t bits = bit_count(series_node(f.args));
    set_integer(f.args, int32_t(std::min<uint64_t>(bits, INT32_MAX)));
}

void and_bitset(ActionFrame& f) { bitset_set_operation(f, SET_AND); }
void or_bitset(ActionFrame& f) { bitset_set_operation(f, SET_OR); }
void xor_bitset(ActionFrame& f) { bitset_set_operation(f, SET_XOR); }

}  // namespace

bool bitset_complemented(const Cell* bits) { return is_not(series_node(bits)); }

void bitset_from_bytes(Cell* out, const uint8_t* bytes, uint32_t n, bool complemented) {
    NodeRef node = new_bits(n, complemented);
    std::memcpy(bytes_of(node), bytes, n);
    set_bitset(out, node);
}

void bitset_set_op(ActionFrame& f, int op) { bitset_set_operation(f, op); }

template <> void register_type<T_BITSET>() {
    register_datatype(T_BITSET, {
        .make = make_bitset, .reflect = reflect_bitset, .to = to_bitset, .form = form_bitset,
        .mold = mold_bitset, .eval_path = eval_path_bitset, .compare = compare_bitset,
        .negate = complement_bitset, .and_t = and_bitset, .complement = complement_bitset, .or_t = or_bitset,
        .xor_t = xor_bitset, .append = append_bitset, .clear = clear_bitset, .copy = copy_bitset,
        .find = find_bitset, .insert = insert_bitset, .length_q = length_bitset, .pick = pick_bitset,
        .poke = poke_bitset, .remove = remove_bitset, .modify = modify_bitset
    });
}

}  // namespace tev

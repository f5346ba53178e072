// vector!: making, element access, element-wise arithmetic, append/insert/change, comparison, form and mold.
//
// Values are encoded into staging bytes before the vector's buffer is touched:
// a type error leaves the vector unchanged, and no buffer pointer is held
// across an allocation.
#include "datatypes/vector.h"
#include <cfloat>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFF0u;

SeriesBuffer* buf(const Cell* v) { return node_buffer(series_node(v)); }
uint32_t unit_of(const Cell* v) { return buf(v)->unit(); }
bool is_float_type(TypeId t) { return t == T_FLOAT || t == T_PERCENT; }
uint32_t default_unit(TypeId t) { return is_float_type(t) ? 8 : 4; }
uint8_t* element_ptr(const Cell* v, uint32_t pos) { return buf(v)->head_ptr() + size_t(pos) * unit_of(v); }
uint32_t clamp_index(Cell* v) {
    uint32_t total = buf(v)->count();
    if (series_index(v) > total) series_set_index(v, total);
    return series_index(v);
}

// Integer element bits: chars zero-extend, integers sign-extend.
int64_t read_int(const uint8_t* p, uint32_t unit, TypeId type) {
    switch (unit) {
    case 1: return type == T_CHAR ? int64_t(p[0]) : int64_t(int8_t(p[0]));
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return type == T_CHAR ? int64_t(v) : int64_t(int16_t(v)); }
    default: { uint32_t v; std::memcpy(&v, p, 4); return type == T_CHAR ? int64_t(v) : int64_t(int32_t(v)); }
    }
}

double read_float(const uint8_t* p, uint32_t unit) {
    if (unit == 4) { float f; std::memcpy(&f, p, 4); return f; }
    double d; std::memcpy(&d, p, 8); return d;
}

void write_int(uint8_t* p, uint32_t unit, uint32_t bits) {
    if (unit == 1) p[0] = uint8_t(bits);
    else if (unit == 2) { uint16_t v = uint16_t(bits); std::memcpy(p, &v, 2); }
    else std::memcpy(p, &bits, 4);
}

// A double as a single: beyond the single range it is an infinity (the plain
// conversion of an out-of-range value is undefined).
float to_single(double d) {
    if (d > double(FLT_MAX)) return d < INFINITY ? INFINITY : float(d);
    if (d < -double(FLT_MAX)) return d > -INFINITY ? -INFINITY : float(d);
    return float(d);
}

void write_float(uint8_t* p, uint32_t unit, double d) {
    if (unit == 4) { float f = to_single(d); std::memcpy(p, &f, 4); }
    else std::memcpy(p, &d, 8);
}

// A float truncated toward zero for an integer element; NaN and values
// beyond 32 bits raise overflow.
int64_t truncate_checked(double d) {
    if (integer_out_of_range_q(std::trunc(d))) raise_error(err::math::overflow);
    return int64_t(std::trunc(d));
}

}  // namespace

// ---------------------------------------------------------------- elements

uint32_t vector_length(const Cell* v) {
    uint32_t total = buf(v)->count();
    return series_index(v) < total ? total - series_index(v) : 0;
}

void vector_truncate(const Cell* v) {
    SeriesBuffer* b = buf(v);
    if (series_index(v) < b->count()) b->tail = b->head + series_index(v) * b->unit();
}

void vector_append_int32(Cell* v, int32_t value) {
    SeriesBuffer* b = series_ensure_room(series_node(v), 4);
    std::memcpy(b->tail_ptr(), &value, 4);
    b->tail += 4;
}

void vector_read_element(const uint8_t* addr, uint32_t unit, TypeId type, Cell* out) {
    if (is_float_type(type)) set_float(out, read_float(addr, unit), type);
    else if (type == T_CHAR) set_char(out, uint32_t(read_int(addr, unit, type)));
    else set_integer(out, int32_t(read_int(addr, unit, type)));
}

Cell* vector_push_element(const uint8_t* addr, uint32_t unit, TypeId type) {
    Cell element;
    vector_read_element(addr, unit, type, &element);
    return stack_push_copy(&element);
}

void vector_write_element(uint8_t* dst, const Cell* value, uint32_t unit, TypeId type) {
    TypeId t = cell_type(value);
    if (is_float_type(type)) {
        if (!is_float_type(t)) raise_error_type(err::script::invalid_type, t);
        write_float(dst, unit, get_float(value));
    } else {
        if (t != T_CHAR && t != T_INTEGER) raise_error_type(err::script::invalid_type, t);
        write_int(dst, unit, get_char_or_integer(value));
    }
}

void vector_make_cell(Cell* out, uint32_t count, TypeId type, uint32_t unit) {
    if (uint64_t(count) * unit > MAX_BYTES) raise_error(err::internal::no_memory);
    NodeRef node = alloc_series_units(count ? count : 1, unit);
    set_series(out, T_VECTOR, node, 0);
    vector_set_element_type(out, type);
}

void vector_to_block(const Cell* v_in, Cell* out) {
    StackScope scope;
    Cell* v = stack_push_copy(v_in);
    uint32_t n = vector_length(v);
    Cell* block = block_push_new(n);
    for (uint32_t i = 0; i < n; ++i) {
        Cell element;
        vector_read_element(element_ptr(v, series_index(v) + i), unit_of(v), vector_element_type(v), &element);
        block_append(block, &element);
    }
    *out = *block;
}

// ---------------------------------------------------------------- arithmetic

namespace {

int64_t int_op(int64_t a, int64_t b, int op) {
    uint32_t x = uint32_t(a), y = uint32_t(b);
    switch (op) {
    case OP_ADD: return int32_t(x + y);  // the low 32 bits
    case OP_SUB: return int32_t(x - y);
    case OP_MUL: return int32_t(x * y);
    case OP_DIV:
        if (b == 0) raise_error(err::math::zero_divide);
        if (int32_t(x) == INT32_MIN && int32_t(y) == -1) raise_error(err::math::overflow);
        return int32_t(x) / int32_t(y);
    case OP_REM:
        if (b == 0) raise_error(err::math::zero_divide);
        if (int32_t(y) == -1) return 0;
        return int32_t(x) % int32_t(y);
    case OP_OR: return int32_t(x | y);
    case OP_AND: return int32_t(x & y);
    default: return int32_t(x ^ y);
    }
}

double float_op(double a, double b, int op) {
    if (op >= OP_OR) raise_with_call_word_type(err::script::cannot_use, T_FLOAT);
    if (op == OP_DIV) return a / b;  // plain IEEE division: a zero divisor gives an infinity or NaN
    return float_math_op(a, b, op);
}

// One element op: scalar on the left or on the right.
void apply(uint8_t* p, uint32_t unit, TypeId type, int op, bool scalar_left, int64_t si, double sf) {
    if (is_float_type(type)) {
        double e = read_float(p, unit);
        write_float(p, unit, scalar_left ? float_op(sf, e, op) : float_op(e, sf, op));
    } else {
        int64_t e = read_int(p, unit, type);
        write_int(p, unit, uint32_t(scalar_left ? int_op(si, e, op) : int_op(e, si, op)));
    }
}

void vector_with_vector(ActionFrame& f, int op) {
    Cell* a = f.args;
    Cell* b = f.args + 1;
    TypeId type = vector_element_type(a);
    if (vector_element_type(b) != type) raise_error(err::script::not_same_type);
    if (is_float_type(type) && op >= OP_OR) raise_with_call_word_type(err::script::cannot_use, T_FLOAT);
    uint32_t n = std::min(vector_length(a), vector_length(b));
    uint32_t unit = std::max(unit_of(a), unit_of(b));
    Cell* out = stack_push();
    vector_make_cell(out, n, type, unit);
    SeriesBuffer* ob = buf(out);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* pa = element_ptr(a, series_index(a) + i);
        const uint8_t* pb = element_ptr(b, series_index(b) + i);
        uint8_t* dst = ob->head_ptr() + size_t(i) * unit;
        if (is_float_type(type)) write_float(dst, unit, float_op(read_float(pa, unit_of(a)), read_float(pb, unit_of(b)), op));
        else write_int(dst, unit, uint32_t(int_op(read_int(pa, unit_of(a), type), read_int(pb, unit_of(b), type), op)));
    }
    ob->tail = ob->head + n * unit;
    f.args[0] = *out;
}

}  // namespace

void vector_math_with_scalar(int op, Cell* vec, const Cell* scalar, bool scalar_left) {
    TypeId type = vector_element_type(vec);
    TypeId st = cell_type(scalar);
    int64_t si = 0;
    double sf = 0;
    if (st == T_INTEGER || st == T_CHAR) {
        si = st == T_CHAR ? int64_t(get_char(scalar)) : get_integer(scalar);
        sf = double(si);
    } else if (is_float_type(st)) {
        sf = get_float(scalar);
        if (!is_float_type(type)) si = truncate_checked(sf);
    } else {
        raise_error(err::internal::not_done);
    }
    if (is_float_type(type) && op >= OP_OR) raise_with_call_word_type(err::script::cannot_use, T_FLOAT);
    if (!scalar_left) {
        bool identity = is_float_type(type) ? ((op == OP_ADD || op == OP_SUB) && sf == 0) || ((op == OP_MUL || op == OP_DIV) && sf == 1)
                                            : ((op == OP_ADD || op == OP_SUB) && si == 0) || ((op == OP_MUL || op == OP_DIV) && si == 1);
        if (identity) return;
    } else {
        // scalar op element goes to a new vector: the right operand never changes.
        StackScope scope;
        uint32_t index = std::min(series_index(vec), buf(vec)->count());
        Cell* copy = series_push_copy(vec, index, buf(vec)->count() - index);
        *vec = *copy;
    }
    uint32_t unit = unit_of(vec), n = vector_length(vec);
    uint8_t* p = element_ptr(vec, series_index(vec));
    for (uint32_t i = 0; i < n; ++i) apply(p + size_t(i) * unit, unit, type, op, scalar_left, si, sf);
}

static void vector_math(ActionFrame& f, int op) {
    if (cell_is(f.args + 1, T_VECTOR)) vector_with_vector(f, op);
    else vector_math_with_scalar(op, f.args, f.args + 1, false);
}

static void vector_add(ActionFrame& f) { vector_math(f, OP_ADD); }
static void vector_subtract(ActionFrame& f) { vector_math(f, OP_SUB); }
static void vector_multiply(ActionFrame& f) { vector_math(f, OP_MUL); }
static void vector_divide(ActionFrame& f) { vector_math(f, OP_DIV); }
static void vector_remainder(ActionFrame& f) { vector_math(f, OP_REM); }
static void vector_or(ActionFrame& f) { vector_math(f, OP_OR); }
static void vector_and(ActionFrame& f) { vector_math(f, OP_AND); }
static void vector_xor(ActionFrame& f) { vector_math(f, OP_XOR); }

// ---------------------------------------------------------------- make

namespace {

TypeId element_type_named(const Cell* word) {
    for (TypeId t : {T_INTEGER, T_CHAR, T_FLOAT, T_PERCENT})
        if (cell_is(word, T_WORD) && series_is_word(word, type_list_names.by_id[t])) return t;
    return T_NONE_ID;
}

// Encodes the values of a list (from its index, at most `part`) as elements.
void encode_values(const Cell* list, int64_t part, TypeId type, uint32_t unit, bool exact, std::string& out) {
    NodeRef node = series_node(list);
    int64_t left = part >= 0 ? part : INT64_MAX;
    for (uint32_t i = series_index(list); left > 0; ++i, --left) {
        SeriesBuffer* b = node_buffer(node);
        if (i >= b->count()) break;
        const Cell* v = b->cells() + i;
        if (exact && cell_type(v) != type) raise_error(err::script::invalid_arg, v);
        uint8_t bytes[8];
        vector_write_element(bytes, v, unit, type);
        out.append(reinterpret_cast<char*>(bytes), unit);
    }
}

}  // namespace

static void vector_make(ActionFrame& f) {
    StackScope scope;
    Cell* spec = stack_push_copy(f.args + 1);
    TypeId t = cell_type(spec);
    Cell* out = stack_push();
    if (t == T_INTEGER || t == T_FLOAT) {
        double d = t == T_INTEGER ? get_integer(spec) : get_float(spec);
        if (integer_out_of_range_q(d) || d < 0) raise_error(err::script::out_of_range, spec);
        uint32_t n = uint32_t(d);
        vector_make_cell(out, n, T_INTEGER, 4);
        std::memset(buf(out)->head_ptr(), 0, size_t(n) * 4);
        buf(out)->tail = buf(out)->head + n * 4;
        f.args[0] = *out;
        return;
    }
    if (t != T_BLOCK) raise_error(err::internal::not_done);
    uint32_t length = block_length(spec);
    TypeId type = T_INTEGER;
    uint32_t unit = 4;
    int64_t count = 0;
    Cell* values = nullptr;
    if (length == 0) {
        // an empty integer vector
    } else if (cell_is(block_at(spec, 0), T_WORD)) {
        if (length < 2) raise_error_type(err::script::bad_make_arg, T_VECTOR, spec);
        type = element_type_named(block_at(spec, 0));
        if (type == T_NONE_ID) raise_error_type(err::script::bad_make_arg, T_VECTOR, spec);
        uint32_t next = 1;
        const Cell* size = block_at(spec, 1);
        if (cell_is(size, T_INTEGER)) {
            int32_t bits = get_integer(size);
            bool ok = type == T_PERCENT ? bits == 64
                    : type == T_FLOAT   ? bits == 32 || bits == 64
                                        : bits == 8 || bits == 16 || bits == 32;
            if (!ok) raise_error_type(err::script::bad_make_arg, T_VECTOR, spec);
            unit = uint32_t(bits / 8);
            next = 2;
        } else if (type == T_PERCENT) {
            unit = 8;
        } else {
            raise_error(err::script::invalid_spec_field, size);
        }
        if (next < length) {
            const Cell* rest = block_at(spec, next);
            if (cell_is(rest, T_INTEGER)) count = std::max(get_integer(rest), 0);
            else if (cell_is(rest, T_BLOCK)) values = stack_push_copy(rest);
            else raise_error(err::script::invalid_spec_field, rest);
        }
    } else {
        type = cell_type(block_at(spec, 0));
        if (type != T_CHAR && type != T_INTEGER && !is_float_type(type)) raise_error_type(err::script::invalid_type, type);
        unit = default_unit(type);
        values = spec;
    }
    std::string bytes;
    if (values) encode_values(values, -1, type, unit, true, bytes);
    uint64_t n = std::max<uint64_t>(uint64_t(count), bytes.size() / unit);
    if (n * unit > MAX_BYTES) raise_error(err::internal::no_memory);
    vector_make_cell(out, uint32_t(n), type, unit);
    SeriesBuffer* b = buf(out);
    std::memcpy(b->head_ptr(), bytes.data(), bytes.size());
    std::memset(b->head_ptr() + bytes.size(), 0, size_t(n * unit - bytes.size()));
    b->tail = b->head + uint32_t(n * unit);
    f.args[0] = *out;
}

// ---------------------------------------------------------------- append, insert, change

namespace {

// The elements a value brings: one, or those of a list (at most part).
std::string staged_elements(const Cell* vec, const Cell* value, int64_t part) {
    std::string bytes;
    TypeId type = vector_element_type(vec);
    uint32_t unit = unit_of(vec);
    TypeId t = cell_type(value);
    if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        encode_values(value, part, type, unit, false, bytes);
    } else if (t == T_VECTOR) {
        if (vector_element_type(value) != type) raise_error(err::script::not_same_type);
        uint32_t n = vector_length(value);
        if (part >= 0 && part < n) n = uint32_t(part);
        for (uint32_t i = 0; i < n; ++i) {
            Cell element;
            vector_read_element(element_ptr(value, series_index(value) + i), unit_of(value), type, &element);
            uint8_t b[8];
            vector_write_element(b, &element, unit, type);
            bytes.append(reinterpret_cast<char*>(b), unit);
        }
    } else {
        uint8_t b[8];
        vector_write_element(b, value, unit, type);
        bytes.assign(reinterpret_cast<char*>(b), unit);
    }
    return bytes;
}

int64_t refinement_count(ActionFrame& f, int which, const char* name) {
    const Cell* c = f.ref_arg(which);
    if (!cell_is(c, T_INTEGER)) raise_bad_refine(name, c);
    return get_integer(c);
}

// Replaces `replaced` elements at pos by dup copies of the staged run.
void splice(Cell* vec, uint32_t pos, uint32_t replaced, const std::string& run, int64_t dup) {
    uint32_t unit = unit_of(vec);
    uint64_t added = uint64_t(run.size()) * uint64_t(dup);
    if (added > MAX_BYTES || uint64_t(buf(vec)->tail) + added > MAX_BYTES) raise_error(err::internal::no_memory);
    uint64_t removed = uint64_t(replaced) * unit;
    if (added > removed) series_ensure_room(series_node(vec), uint32_t(added - removed));
    SeriesBuffer* b = buf(vec);
    uint8_t* at = b->head_ptr() + size_t(pos) * unit;
    size_t after = b->tail - b->head - size_t(pos) * unit - removed;
    std::memmove(at + added, at + removed, after);
    for (int64_t k = 0; k < dup; ++k) std::memcpy(at + size_t(k) * run.size(), run.data(), run.size());
    b->tail = uint32_t(b->tail + added - removed);
}

void append_or_insert(ActionFrame& f, bool append) {
    Cell* vec = f.args;
    uint32_t index = clamp_index(vec);
    int64_t dup = f.has(ref::append_dup) ? refinement_count(f, ref::append_dup, "dup") : 1;
    int64_t part = f.has(ref::append_part) ? std::max<int64_t>(refinement_count(f, ref::append_part, "part"), 0) : -1;
    if (dup <= 0) return;
    std::string run = staged_elements(vec, f.args + 1, part);
    if (run.empty()) return;
    uint32_t pos = append ? buf(vec)->count() : index;
    bool owned = ownership_notice(vec, append ? ChangeWord::append : ChangeWord::insert, f.args + 1, int32_t(pos), 0);
    pos = append ? buf(vec)->count() : std::min(clamp_index(vec), buf(vec)->count());
    splice(vec, pos, 0, run, dup);
    uint32_t added = uint32_t(run.size() / unit_of(vec) * uint64_t(dup));
    if (owned) ownership_notice(vec, append ? ChangeWord::appended : ChangeWord::inserted, nullptr, int32_t(pos), int32_t(added));
    if (!append) series_set_index(vec, pos + added);
}

}  // namespace

static void vector_append(ActionFrame& f) { append_or_insert(f, true); }
static void vector_insert(ActionFrame& f) { append_or_insert(f, false); }

static void vector_change(ActionFrame& f) {
    Cell* vec = f.args;
    int64_t dup = f.has(ref::append_dup) ? refinement_count(f, ref::append_dup, "dup") : 1;
    int64_t part = f.has(ref::append_part) ? std::max<int64_t>(refinement_count(f, ref::append_part, "part"), 0) : -1;
    if (dup <= 0) return;
    std::string run = staged_elements(vec, f.args + 1, -1);
    uint32_t index = clamp_index(vec);
    bool owned = ownership_notice(vec, ChangeWord::change, f.args + 1, int32_t(index), 0);
    index = clamp_index(vec);
    uint32_t unit = unit_of(vec);
    uint64_t added = run.size() / unit * uint64_t(dup);
    uint32_t rest = vector_length(vec);
    uint32_t replaced = uint32_t(part >= 0 ? std::min<int64_t>(part, rest) : std::min<uint64_t>(added, rest));
    splice(vec, index, replaced, run, dup);
    if (owned) ownership_notice(vec, ChangeWord::changed, nullptr, int32_t(index), int32_t(added));
    series_set_index(vec, index + uint32_t(added));
}

// ---------------------------------------------------------------- find, select, sort

namespace {

// An element as a number for searching and ordering.
double element_number(const Cell* v, uint32_t pos) {
    const uint8_t* p = element_ptr(v, pos);
    TypeId type = vector_element_type(v);
    return is_float_type(type) ? read_float(p, unit_of(v)) : double(read_int(p, unit_of(v), type));
}

// The position of the first element equal to the value (a char!, integer!,
// float! or percent!), walking as find's refinements say; -1 when none.
int64_t find_element(ActionFrame& f, int64_t* after) {
    const Cell* value = f.args + 1;
    TypeId t = cell_type(value);
    double want;
    if (t == T_INTEGER) want = get_integer(value);
    else if (t == T_CHAR) want = get_char(value);
    else if (is_float_type(t)) want = get_float(value);
    else return -1;
    int64_t total = buf(f.args)->count();
    int64_t index = std::min<int64_t>(series_index(f.args), total);
    int64_t skip = f.has(ref::find_skip) ? refinement_count(f, ref::find_skip, "skip") : 1;
    if (skip < 1) raise_error(err::script::out_of_range, f.ref_arg(ref::find_skip));
    int64_t end = total;
    if (f.has(ref::find_part)) end = std::min(total, index + std::max<int64_t>(refinement_count(f, ref::find_part, "part"), 0));
    bool backward = f.has(ref::find_last) || f.has(ref::find_reverse);
    int64_t start = f.has(ref::find_reverse) ? index - 1 : backward ? end - 1 : index;
    for (int64_t p = start; backward ? p >= (f.has(ref::find_reverse) ? 0 : index) : p < end; p += backward ? -skip : skip) {
        if (element_number(f.args, uint32_t(p)) == want) {
            *after = p + 1;
            return p;
        }
        if (f.has(ref::find_match)) break;
    }
    return -1;
}

}  // namespace

static void vector_find(ActionFrame& f) {
    int64_t after = 0;
    int64_t p = find_element(f, &after);
    if (p < 0) set_none(f.args);
    else series_set_index(f.args, uint32_t(f.has(ref::find_tail) ? after : p));
}

static void vector_select(ActionFrame& f) {
    int64_t after = 0;
    int64_t p = find_element(f, &after);
    if (p < 0 || after >= int64_t(buf(f.args)->count())) set_none(f.args);
    else vector_read_element(element_ptr(f.args, uint32_t(after)), unit_of(f.args), vector_element_type(f.args), f.args);
}

// Sorts the elements from the index numerically (ascending, or descending
// with /reverse); a /compare function is not taken.
static void vector_sort(ActionFrame& f) {
    if (f.has(ref::sort_compare) || f.has(ref::sort_skip) || f.has(ref::sort_all)) raise_error(err::internal::not_done);
    Cell* v = f.args;
    uint32_t index = clamp_index(v), n = vector_length(v);
    if (f.has(ref::sort_part)) n = uint32_t(std::clamp<int64_t>(refinement_count(f, ref::sort_part, "part"), 0, n));
    bool owned = ownership_notice(v, ChangeWord::sort, nullptr, int32_t(index), int32_t(n));
    n = std::min(n, vector_length(v));
    uint32_t unit = unit_of(v);
    std::vector<std::pair<double, std::string>> elements(n);
    for (uint32_t i = 0; i < n; ++i)
        elements[i] = {element_number(v, index + i), std::string(reinterpret_cast<const char*>(element_ptr(v, index + i)), unit)};
    bool descending = f.has(ref::sort_reverse);
    std::stable_sort(elements.begin(), elements.end(), [&](const auto& a, const auto& b) {
        return descending ? a.first > b.first : a.first < b.first;
    });
    for (uint32_t i = 0; i < n; ++i) std::memcpy(element_ptr(v, index + i), elements[i].second.data(), unit);
    if (owned) ownership_notice(v, ChangeWord::sorted, nullptr, int32_t(index), 0);
}

// ---------------------------------------------------------------- compare

static int vector_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_VECTOR)) return CMP_NOT_COMPARABLE;
    TypeId type = vector_element_type(a);
    if (vector_element_type(b) != type) raise_error(err::script::not_same_type);
    bool same = series_node(a) == series_node(b) && series_index(a) == series_index(b);
    if (op == CMP_SAME) return same ? 0 : -1;
    if (same) return 0;
    uint32_t la = vector_length(a), lb = vector_length(b);
    bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND;
    if (equality && la != lb) return 1;
    for (uint32_t i = 0, n = std::min(la, lb); i < n; ++i) {
        const uint8_t* pa = element_ptr(a, series_index(a) + i);
        const uint8_t* pb = element_ptr(b, series_index(b) + i);
        if (is_float_type(type)) {
            double x = read_float(pa, unit_of(a)), y = read_float(pb, unit_of(b));
            if (x != y) return x < y ? -1 : 1;
        } else {
            int64_t x = read_int(pa, unit_of(a), type), y = read_int(pb, unit_of(b), type);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return la == lb ? 0 : la < lb ? -1 : 1;
}

// ---------------------------------------------------------------- form and mold

namespace {

const char* type_word(TypeId t) { return type_list_names.by_id[t]; }

// The text of the elements from the index, separated by blanks; molded chars
// are quoted. Stops once the limit is used up when arg is given.
int32_t append_elements(const Cell* v_in, Cell* out, bool mold, const Cell* arg, int32_t limit) {
    StackScope scope;
    Cell* v = stack_push_copy(v_in);
    TypeId type = vector_element_type(v);
    uint32_t unit = unit_of(v);
    for (uint32_t i = 0, n = vector_length(v); i < n; ++i) {
        if (arg && limit < 1) break;
        if (i) limit = append_cstr_limit(out, " ", limit);
        const uint8_t* p = element_ptr(v, series_index(v) + i);
        if (is_float_type(type)) {
            char text[FLOAT_FORMAT_MAX];
            double d = read_float(p, unit);
            int kind = type == T_FLOAT ? (unit == 4 ? FLOAT_KIND_VECTOR32 : FLOAT_KIND_FLOAT)
                                       : (unit == 4 ? FLOAT_KIND_PERCENT32 : FLOAT_KIND_PERCENT);
            size_t len = float_format(type == T_PERCENT ? d * 100 : d, kind, text);
            limit = append_ascii_limit(out, text, len, limit);
        } else if (type == T_CHAR) {
            Cell* c = stack_push();
            set_char(c, uint32_t(read_int(p, unit, type)));
            if (mold) limit = action_required<Act::mold>(T_CHAR)(c, out, false, false, false, arg, limit, 0);
            else limit = action_required<Act::form>(T_CHAR)(c, out, arg, limit);
            stack_drop_to(c);
        } else {
            char text[16];
            size_t len = integer_to_text(int32_t(read_int(p, unit, type)), text);
            limit = append_ascii_limit(out, text, len, limit);
        }
    }
    return limit;
}

}  // namespace

static int32_t vector_mold(const Cell* value, Cell* out, bool only, bool, bool, const Cell* arg, int32_t limit,
                           int32_t) {
    TypeId type = vector_element_type(value);
    uint32_t unit = unit_of(value);
    bool spelled = vector_length(value) == 0 || unit != default_unit(type);
    if (!only) limit = append_cstr_limit(out, "make vector! [", limit);
    if (spelled) {
        std::string head = std::string(type_word(type)) + " " + std::to_string(unit * 8) + " [";
        limit = append_ascii_limit(out, head.data(), head.size(), limit);
    }
    limit = append_elements(value, out, true, arg, limit);
    if (spelled) limit = append_cstr_limit(out, "]", limit);
    if (!only) limit = append_cstr_limit(out, "]", limit);
    return limit;
}

static int32_t vector_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    return append_elements(value, out, false, arg, limit);
}

// ---------------------------------------------------------------- registration

template <> void register_type<T_VECTOR>() {
    register_datatype(T_VECTOR, {
        .make = vector_make, .to = nullptr, .form = vector_form, .mold = vector_mold,
        .eval_path = series_eval_path_by_index, .compare = vector_compare, .add = vector_add,
        .divide = vector_divide, .multiply = vector_multiply, .remainder = vector_remainder,
        .subtract = vector_subtract, .and_t = vector_and, .or_t = vector_or, .xor_t = vector_xor,
        .append = vector_append, .change = vector_change, .find = vector_find, .insert = vector_insert,
        .select = vector_select, .sort = vector_sort, .swap = nullptr, .take = series_take_element,
        .trim = nullptr
    });
}

}  // namespace tev

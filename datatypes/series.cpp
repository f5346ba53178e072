// series!: the shared actions of every series type, working on any unit width.
#include "datatypes/series.h"
#include <cassert>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/key_hash.h"
#include "runtime/ownership.h"
#include "runtime/random.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== positions

static inline SeriesBuffer* buf(const Cell* s) { return node_buffer(series_node(s)); }

uint32_t series_full_length(const Cell* s) { return buf(s)->count(); }

uint32_t series_rest_length(Cell* s, bool from_head) {
    uint32_t total = buf(s)->count();
    if (from_head) return total;
    if (series_index(s) >= total) {
        series_set_index(s, total);
        return 0;
    }
    return total - series_index(s);
}

bool series_at_tail(const Cell* s) { return series_index(s) >= buf(s)->count(); }

bool series_advance(Cell* s, uint32_t n) {
    uint32_t total = buf(s)->count();
    uint64_t next = uint64_t(series_index(s)) + n;
    if (next <= total) series_set_index(s, uint32_t(next));
    return series_index(s) >= total;
}

bool series_same_buffer(const Cell* a, const Cell* b) {
    return cell_type(a) == cell_type(b) && series_node(a) == series_node(b);
}

ActionFrame action_frame(Cell* args, TypeId type) {
    ActionFrame f{};
    f.args = args;
    f.type = type;
    for (auto& r : f.refs) r = -1;
    return f;
}

// Raw units: reading, writing and moving n units at unit positions.
static inline uint8_t* unit_ptr(SeriesBuffer* b, uint32_t pos) { return b->head_ptr() + (size_t(pos) << unit_shift(b->unit())); }

static uint32_t read_unit(SeriesBuffer* b, uint32_t pos) {
    const uint8_t* p = unit_ptr(b, pos);
    switch (b->unit()) {
    case 1: return p[0];
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    default: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    }
}

static void swap_units(SeriesBuffer* b, uint32_t i, uint32_t j, uint32_t n = 1) {
    uint32_t unit = b->unit();
    uint8_t tmp[16];
    uint8_t* a = unit_ptr(b, i);
    uint8_t* c = unit_ptr(b, j);
    for (uint32_t k = 0; k < n; ++k, a += unit, c += unit) {
        std::memcpy(tmp, a, unit);
        std::memcpy(a, c, unit);
        std::memcpy(c, tmp, unit);
    }
}

// Removes count units at pos (count already within the rest).
static void remove_units(SeriesBuffer* b, uint32_t pos, uint32_t count) {
    uint32_t total = b->count();
    uint32_t shift = unit_shift(b->unit());
    std::memmove(unit_ptr(b, pos), unit_ptr(b, pos + count), size_t(total - pos - count) << shift);
    b->tail -= count << shift;
}

bool series_is_word(const Cell* c, const char* spelling) {
    if (!type_is_word(cell_type(c))) return false;
    int32_t symbol = symbol_from_cstring_nocase(spelling);
    return symbol_resolve_alias(word_symbol(c)) == symbol_resolve_alias(symbol);
}

void raise_bad_refine(const char* refinement, const Cell* value) {
    StackScope scope;
    Cell* held = stack_push_copy(value);  // interning the word allocates
    Cell* name = stack_push();
    *name = word_from_cstring(refinement);
    raise_error(err::script::invalid_refine_arg, name, held);
}

// The count a /part argument names: an integer!, or a position in the same
// series (its index less the series' index).
static int64_t part_count(const Cell* s, const Cell* part) {
    if (cell_is(part, T_INTEGER)) return get_integer(part);
    if (series_same_buffer(s, part)) return int64_t(series_index(part)) - int64_t(series_index(s));
    raise_bad_refine("part", part);
}

// ================================================================== moving the index

void series_head(ActionFrame& f) { series_set_index(f.args, 0); }
void series_tail(ActionFrame& f) { series_set_index(f.args, series_full_length(f.args)); }
void series_head_q(ActionFrame& f) { set_logic(f.args, series_index(f.args) == 0); }
void series_tail_q(ActionFrame& f) { set_logic(f.args, series_at_tail(f.args)); }
void series_index_q(ActionFrame& f) { set_integer(f.args, int32_t(series_index(f.args) + 1)); }
void series_length_q(ActionFrame& f) { set_integer(f.args, int32_t(series_rest_length(f.args))); }
void series_back(ActionFrame& f) { if (series_index(f.args) > 0) series_set_index(f.args, series_index(f.args) - 1); }
void series_next(ActionFrame& f) { series_advance(f.args, 1); }

// at counts from 1 (at 0 is at 1); skip counts from 0. Both clamp to the series.
static void move_index(ActionFrame& f, bool from_one) {
    const Cell* offset = f.args + 1;
    if (!cell_is(offset, T_INTEGER)) raise_error(err::script::invalid_arg, offset);
    int64_t n = get_integer(offset);
    if (from_one && n >= 1) n -= 1;
    int64_t index = int64_t(series_index(f.args)) + n;
    int64_t total = series_full_length(f.args);
    series_set_index(f.args, uint32_t(index < 0 ? 0 : index > total ? total : index));
}
void series_at(ActionFrame& f) { move_index(f, true); }
void series_skip(ActionFrame& f) { move_index(f, false); }

// ================================================================== pick and poke

// The index of pick and poke as a number: true names the first value and
// false the second, a char its code point; any other value names nothing.
static int64_t pick_index(const Cell* n_cell) {
    switch (cell_type(n_cell)) {
    case T_INTEGER: return get_integer(n_cell);
    case T_CHAR: return get_char(n_cell);
    case T_LOGIC: return get_logic(n_cell) ? 1 : 2;
    default: return 0;
    }
}

// The unit position index n names (1-based forward, -1 the unit before the
// index), or -1 when n is 0 or the position lies outside the series.
static int64_t pick_position(const Cell* s, int64_t n) {
    if (n == 0) return -1;
    int64_t pos = int64_t(series_index(s)) + (n > 0 ? n - 1 : n);
    if (pos < 0 || pos >= int64_t(series_full_length(s))) return -1;
    return pos;
}

// The element at a unit position as a value: the cell of a list, an integer!
// byte of a binary!, a char! otherwise.
static void element_at(const Cell* s, uint32_t pos, Cell* out) {
    SeriesBuffer* b = buf(s);
    if (b->unit() == 16) *out = b->cells()[pos];
    else if (cell_is(s, T_VECTOR)) vector_read_element(unit_ptr(b, pos), b->unit(), vector_element_type(s), out);
    else if (cell_is(s, T_BINARY)) set_integer(out, int32_t(read_unit(b, pos)));
    else set_char(out, read_unit(b, pos));
}

void series_pick(ActionFrame& f) {
    int64_t pos = pick_position(f.args, pick_index(f.args + 1));
    if (pos < 0) set_none(f.args);
    else element_at(f.args, uint32_t(pos), f.args);
}

// Stores a code point or byte into a text or byte series at a unit position.
static void store_unit(const Cell* s, uint32_t pos, const Cell* value) {
    uint32_t v;
    if (cell_is(s, T_VECTOR)) {
        vector_write_element(unit_ptr(buf(s), pos), value, buf(s)->unit(), vector_element_type(s));
        return;
    }
    if (cell_is(s, T_BINARY)) {
        if (!cell_is(value, T_INTEGER) && !cell_is(value, T_CHAR)) raise_error(err::script::invalid_arg, value);
        int32_t byte = get_integer(value);
        if (byte < 0 || byte > 255) raise_error(err::script::out_of_range, value);
        v = uint32_t(byte);
    } else {
        if (!cell_is(value, T_CHAR)) raise_error(err::script::invalid_arg, value);
        v = get_char(value);
    }
    SeriesBuffer* b = buf(s);
    if (type_is_string(cell_type(s))) {
        string_poke_char(series_node(s), pos, v);  // widens the buffer when cp needs it
        return;
    }
    uint8_t* p = unit_ptr(b, pos);
    switch (b->unit()) {
    case 1: p[0] = uint8_t(v); break;
    case 2: { uint16_t w = uint16_t(v); std::memcpy(p, &w, 2); break; }
    default: std::memcpy(p, &v, 4); break;
    }
}

void series_poke(ActionFrame& f) {
    Cell* value = f.args + 2;
    int64_t n = pick_index(f.args + 1);
    int64_t pos = pick_position(f.args, n);
    if (pos < 0) raise_error_int(err::script::out_of_range, n);
    bool owned = ownership_notice(f.args, ChangeWord::poke, value, int32_t(pos), 1);
    if (uint64_t(pos) < series_full_length(f.args)) {  // the handler may have shortened it
        if (buf(f.args)->unit() == 16) buf(f.args)->cells()[pos] = *value;
        else store_unit(f.args, uint32_t(pos), value);
    }
    series_changed(f.args, SeriesChange::replaced, uint32_t(pos));
    if (owned) ownership_notice(f.args, ChangeWord::poked, nullptr, int32_t(pos), 1);
    *f.args = *value;
}

// ================================================================== clear, remove, take

void series_clear(ActionFrame& f) {
    uint32_t n = series_rest_length(f.args);
    if (n == 0) return;
    uint32_t index = series_index(f.args);
    bool owned = ownership_notice(f.args, ChangeWord::clear, nullptr, int32_t(index), int32_t(n));
    SeriesBuffer* b = buf(f.args);
    if (index < b->count()) b->tail = b->head + (index << unit_shift(b->unit()));
    series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, ChangeWord::cleared, nullptr, int32_t(index), 0);
}

void series_remove(ActionFrame& f) {
    int64_t count = 1;
    if (f.has(ref::remove_part)) count = part_count(f.args, f.ref_arg(ref::remove_part));
    if (count < 1) return;
    if (f.has(ref::remove_key)) {
        if (!series_find_key(f.args, f.ref_arg(ref::remove_key))) {
            set_none(f.args);
            return;
        }
        count += 1;  // the key and the value after it
    }
    uint32_t total = series_full_length(f.args);
    uint32_t index = series_index(f.args);
    if (index >= total) return;
    bool owned = ownership_notice(f.args, ChangeWord::remove, nullptr, int32_t(index), int32_t(count));
    SeriesBuffer* b = buf(f.args);
    total = b->count();
    if (index < total) remove_units(b, index, uint32_t(count < total - index ? count : total - index));
    series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, ChangeWord::removed, nullptr, int32_t(index), 0);
}

Cell* series_push_copy(const Cell* s, uint32_t start, uint32_t count) {
    Cell* out = stack_push_copy(s);  // s may lie in a buffer that moves
    uint32_t unit = buf(out)->unit();
    if (uint64_t(count) * unit > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    NodeRef node = alloc_series_units(count, unit);
    SeriesBuffer* src = buf(out);
    SeriesBuffer* dst = node_buffer(node);
    dst->flags = (dst->flags & ~SER_CONTENT_FLAGS) | (src->flags & SER_CONTENT_FLAGS & ~SER_OWNED);
    std::memcpy(dst->head_ptr(), unit_ptr(src, start), size_t(count) * unit);
    dst->tail = dst->head + count * unit;
    bool new_line = cell_has_flag(out, FLAG_NEW_LINE);
    TypeId element_type = vector_element_type(out);  // word 3 is free in the other types: never read there
    set_series(out, cell_type(out), node, 0);
    if (new_line) cell_set_flag(out, FLAG_NEW_LINE);
    if (cell_is(out, T_VECTOR)) vector_set_element_type(out, element_type);
    return out;
}

void series_eval_path_by_index(PathStep& step) {
    if (!cell_is(step.element, T_INTEGER))
        raise_error(err::script::invalid_path, step.path ? step.path : step.parent, step.element);
    StackScope scope;
    Cell* args = stack_push_copy(step.parent);
    stack_push_copy(step.element);
    if (step.set) stack_push_copy(step.set);
    ActionFrame f = action_frame(args, cell_type(args));
    if (step.set) series_poke(f);
    else series_pick(f);
    *step.result = *args;
}

void series_take_element(ActionFrame& f) {
    bool part = f.has(ref::take_part);
    series_take(f);
    if (part || cell_is(f.args, T_NONE)) return;
    if (series_rest_length(f.args) == 1) element_at(f.args, series_index(f.args), f.args);
    else set_none(f.args);
}

void series_take(ActionFrame& f) {
    uint32_t rest = series_rest_length(f.args);
    if (rest < 1) {
        set_none(f.args);
        return;
    }
    uint32_t index = series_index(f.args);
    bool last = f.has(ref::take_last);
    int64_t n = 1;
    if (f.has(ref::take_part)) {
        const Cell* part = f.ref_arg(ref::take_part);
        if (cell_is(part, T_INTEGER)) n = get_integer(part);
        else if (series_same_buffer(f.args, part)) {
            n = series_index(part) < index ? 0 : int64_t(series_index(part)) - index;
            if (last) n = int64_t(rest) - n;
        } else raise_bad_refine("part", part);
    }
    // A negative count takes the units before the index (nothing with /last).
    bool before = n < 0;
    int64_t limit = before ? index : rest;
    int64_t count = before ? (last ? 0 : -n) : n;
    if (count > limit) count = limit;
    bool owned = ownership_notice(f.args, ChangeWord::take, nullptr, int32_t(index), int32_t(count));
    // The handler may have changed the series: keep the range inside it.
    uint32_t total = series_full_length(f.args);
    uint32_t start = before ? index - uint32_t(count) : last ? total - uint32_t(count) : index;
    if (uint64_t(start) + count > total) count = start < total ? total - start : 0;
    Cell* result = series_push_copy(f.args, start, uint32_t(count));
    SeriesBuffer* b = buf(f.args);
    if (last) b->tail -= uint32_t(count) << unit_shift(b->unit());
    else remove_units(b, start, uint32_t(count));
    if (before) series_set_index(f.args, start);
    series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, ChangeWord::taken, nullptr, int32_t(index), 0);
    *f.args = *result;
}

// ================================================================== copy

void series_copy_range(Cell* s, const Cell* part, uint32_t* start_out, uint32_t* count_out) {
    int64_t total = series_full_length(s);
    int64_t start = series_index(s);
    int64_t count = series_rest_length(s);
    if (part) {
        if (cell_is(part, T_PAIR)) {
            int64_t x = pair_x(part), y = pair_y(part);
            start = start + (x < 0 ? x : x - 1);
            if (start < 0) start = 0;
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(s, part);
        }
        if (count < 0) {
            count = -count;
            start -= count;
            if (start < 0) {
                count = series_index(s);
                start = 0;
            }
        }
    }
    if (start > total) start = total;
    if (start + count > total) count = total - start;
    *start_out = uint32_t(start);
    *count_out = uint32_t(count);
}

void series_copy(ActionFrame& f) {
    uint32_t start, count;
    series_copy_range(f.args, f.ref_arg(ref::copy_part), &start, &count);
    Cell* copy = series_push_copy(f.args, start, count);
    *f.args = *copy;
}

// ================================================================== move

// Strings of different widths: character by character, the target widening as needed.
static void move_text(Cell* source, Cell* target, uint32_t n) {
    bool owned = ownership_notice(source, ChangeWord::move, nullptr, int32_t(series_index(source)), int32_t(n));
    uint32_t from = series_index(source);
    uint32_t ttotal = series_full_length(target);
    uint32_t to = series_index(target) < ttotal ? series_index(target) : ttotal;
    if (series_rest_length(source) < n) raise_error_int(err::script::out_of_range, n);
    for (uint32_t i = 0; i < n; ++i)
        string_insert_char(series_node(target), to + i, read_unit(buf(source), from + i));
    string_remove_chars(series_node(source), from, n);
    if (owned) ownership_notice(source, ChangeWord::moved, nullptr, int32_t(from), 0);
}

void series_move(ActionFrame& f) {
    Cell* source = f.args;
    Cell* target = f.args + 1;
    TypeId tt = cell_type(target);
    if (!type_is_series(tt)) {
        StackScope scope;
        Cell* action = stack_push();
        *action = word_from_cstring("move");
        Cell* type = stack_push();
        set_datatype(type, tt);
        Cell* argument = stack_push();
        *argument = word_from_cstring("target");
        raise_error(err::script::expect_arg, action, type, argument);
    }
    uint32_t rest = series_rest_length(source);
    if (rest == 0) {
        *f.args = *target;
        return;
    }
    int64_t count = 1;
    if (f.has(ref::move_part)) {
        const Cell* part = f.ref_arg(ref::move_part);
        if (!cell_is(part, T_INTEGER)) raise_bad_refine("part", part);
        count = get_integer(part);
        if (count < 1) {
            *f.args = *target;
            return;
        }
    }
    if (count > rest) count = rest;
    uint32_t n = uint32_t(count);
    uint32_t from = series_index(source);

    if (series_node(source) == series_node(target)) {
        uint32_t total = series_full_length(source);
        uint32_t to = series_index(target) < total ? series_index(target) : total;
        if (to == from) return;
        // A target inside the moved range, or too close to the tail to take
        // the units, has no place for them.
        if (to > from && to < from + n) raise_error_int(err::script::out_of_range, to + 1);
        if (to > from && to != total && total - to < n) raise_error_int(err::script::out_of_range, count);
        bool owned = ownership_notice(source, ChangeWord::move, nullptr, int32_t(from), int32_t(n));
        SeriesBuffer* b = buf(source);
        if (b->count() != total) raise_error_int(err::script::out_of_range, count);  // changed by the handler
        uint32_t unit = b->unit();
        // Rotate: the moved units end just before the target position (after
        // the units between) when moving forward, at the target when moving back.
        uint8_t* lo;
        size_t left, right;
        if (to > from) {
            uint32_t end = to == total ? total : to + n;
            if (end > total) end = total;
            lo = unit_ptr(b, from);
            left = size_t(n) * unit;
            right = size_t(end - from - n) * unit;
        } else {
            lo = unit_ptr(b, to);
            left = size_t(from - to) * unit;
            right = size_t(n) * unit;
        }
        // In-place rotation of [lo, lo+left+right) by `left` bytes (three reversals).
        auto reverse_units = [unit](uint8_t* p, size_t bytes) {
            uint8_t tmp[16];
            for (uint8_t *a = p, *z = p + bytes - unit; a < z; a += unit, z -= unit) {
                std::memcpy(tmp, a, unit);
                std::memcpy(a, z, unit);
                std::memcpy(z, tmp, unit);
            }
        };
        if (left && right) {
            reverse_units(lo, left);
            reverse_units(lo + left, right);
            reverse_units(lo, left + right);
        }
        series_changed(source, SeriesChange::rewritten);
        if (owned) ownership_notice(source, ChangeWord::moved, nullptr, int32_t(from), 0);
        *f.args = *target;
        return;
    }

    bool src_list = type_is_list(cell_type(source)), dst_list = type_is_list(tt);
    bool src_text = type_is_string(cell_type(source)), dst_text = type_is_string(tt);
    if ((src_list && dst_text) || (src_text && dst_list) || buf(source)->unit() != buf(target)->unit()) {
        if (src_text && dst_text) {
            move_text(source, target, n);
        } else {
            Cell a, b;
            set_datatype(&a, cell_type(source));
            set_datatype(&b, tt);
            raise_error(err::script::move_bad, &a, &b);
        }
    } else {
        bool owned = ownership_notice(source, ChangeWord::move, nullptr, int32_t(from), int32_t(n));
        if (series_rest_length(source) < n) raise_error_int(err::script::out_of_range, count);
        uint32_t unit = buf(source)->unit();
        SeriesBuffer* tb = series_ensure_room(series_node(target), n * unit);
        uint32_t ttotal = tb->count();
        uint32_t to = series_index(target) < ttotal ? series_index(target) : ttotal;
        std::memmove(unit_ptr(tb, to + n), unit_ptr(tb, to), size_t(ttotal - to) * unit);
        SeriesBuffer* sb = buf(source);  // read after the target grew
        std::memcpy(unit_ptr(tb, to), unit_ptr(sb, from), size_t(n) * unit);
        tb->tail += n * unit;
        remove_units(sb, from, n);
        series_changed(source, SeriesChange::rewritten);
        series_changed(target, SeriesChange::rewritten);
        if (owned) ownership_notice(source, ChangeWord::moved, nullptr, int32_t(from), 0);
    }
    *f.args = *target;
}

// ================================================================== reverse, random

void series_reverse(ActionFrame& f) {
    uint32_t rest = series_rest_length(f.args);
    if (rest == 0) return;
    int64_t count = rest;
    if (f.has(ref::reverse_part)) count = part_count(f.args, f.ref_arg(ref::reverse_part));
    if (count < 1) return;
    if (count > rest) count = rest;
    int64_t skip = 1;
    if (f.has(ref::reverse_skip)) {
        const Cell* s = f.ref_arg(ref::reverse_skip);
        if (!cell_is(s, T_INTEGER)) raise_bad_refine("skip", s);
        skip = get_integer(s);
        if (skip == count) return;
        if (skip < 1) raise_error(err::script::out_of_range, s);
        if (count < skip || count % skip) raise_bad_refine("skip", s);
    }
    uint32_t index = series_index(f.args);
    bool owned = ownership_notice(f.args, ChangeWord::reverse, nullptr, int32_t(index), int32_t(count));
    SeriesBuffer* b = buf(f.args);
    uint32_t total = b->count();
    if (index < total) {
        if (uint64_t(index) + count > total) count = (total - index) / skip * skip;
        uint32_t lo = index, hi = index + uint32_t(count) - uint32_t(skip);
        for (; lo < hi; lo += uint32_t(skip), hi -= uint32_t(skip)) swap_units(b, lo, hi, uint32_t(skip));
    }
    series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, ChangeWord::reversed, nullptr, int32_t(index), 0);
}

static uint32_t module_range(bool secure, uint32_t n) { return uint32_t(random_int_range(secure, int32_t(n))); }
static void module_seed(const void* bytes, uint32_t size) { mt_seed(int32_t(murmur3_hash_bytes(bytes, size))); }
SeriesRandomSource series_random_source = {&module_range, &module_seed};

void series_random(ActionFrame& f) {
    bool secure = f.has(ref::random_secure);
    if (f.has(ref::random_seed)) {
        uint32_t n = series_rest_length(f.args);
        SeriesBuffer* b = buf(f.args);
        series_random_source.seed(unit_ptr(b, series_index(f.args)), n << unit_shift(b->unit()));
        set_unset(f.args);
        return;
    }
    uint32_t n = series_rest_length(f.args);
    if (f.has(ref::random_only)) {
        if (n == 0) set_none(f.args);
        else element_at(f.args, series_index(f.args) + series_random_source.range(secure, n) - 1, f.args);
        return;
    }
    if (n == 0) return;
    uint32_t index = series_index(f.args);
    bool owned = ownership_notice(f.args, ChangeWord::random, nullptr, int32_t(index), int32_t(n));
    // Draws never allocate, so the buffer stays put; the handler above may
    // have changed the length, so read it again.
    n = series_rest_length(f.args);
    SeriesBuffer* b = buf(f.args);
    for (uint32_t k = n, p = index; k > 1; --k, ++p) {
        uint32_t r = series_random_source.range(secure, k);  // 1..k: p + r - 1 stays inside
        assert(r >= 1 && r <= k);
        if (r > 1) swap_units(b, p, p + r - 1);
    }
    series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, ChangeWord::randomized, nullptr, int32_t(index), 0);
}

// ================================================================== reflect, modify

void series_reflect(ActionFrame& f) {
    if (!series_is_word(f.args + 1, "owned")) raise_error(err::internal::not_done);
    Cell owner;
    ownership_get_owner(series_node(f.args), &owner);
    *f.args = owner;
}

void series_modify(ActionFrame& f) {
    Cell* field = f.args + 1;
    Cell* value = f.args + 2;
    if (series_is_word(field, "owned")) {
        if (cell_is(value, T_NONE)) ownership_unbind(f.args);
        else if (cell_is(value, T_BLOCK) && block_length(value) >= 2) {
            StackScope scope;
            Cell* owner = stack_push_copy(block_at(value, 0));
            Cell* word = stack_push_copy(block_at(value, 1));
            ownership_bind(f.args, owner, word);
        }
    }
    *f.args = *value;
}

// ================================================================== find for remove/key


bool series_find_key(Cell* s, const Cell* key) {
    auto find = action_of<Act::find>(cell_type(s));
    if (!find) raise_error_type(err::script::cannot_use, cell_type(s));
    StackScope scope;
    Cell* args = stack_push_copy(s);
    stack_push_copy(key);
    ActionFrame f = action_frame(args, cell_type(s));
    f.refs[ref::find_case] = 0;
    find(f);
    if (cell_is(args, T_NONE)) return false;
    *s = *args;
    return true;
}

// ================================================================== registration

template <> void register_type<T_SERIES>() {
    register_datatype(T_SERIES, {
        .random = series_random, .reflect = series_reflect, .at = series_at, .back = series_back,
        .clear = series_clear, .copy = series_copy, .head = series_head, .head_q = series_head_q,
        .index_q = series_index_q, .length_q = series_length_q, .move = series_move, .next = series_next,
        .pick = series_pick, .poke = series_poke, .remove = series_remove, .reverse = series_reverse,
        .skip = series_skip, .tail = series_tail, .tail_q = series_tail_q, .take = series_take,
        .modify = series_modify
    });
}

// ------------------------------------------------------------------ derived state

static SeriesChangedFn changed_entries[256];

void register_series_changed(TypeId t, SeriesChangedFn fn) { changed_entries[t] = fn; }

void series_changed(const Cell* value, SeriesChange change, uint32_t position) {
    if (SeriesChangedFn fn = changed_entries[cell_type(value)]) fn(value, change, position);
}

}  // namespace tev

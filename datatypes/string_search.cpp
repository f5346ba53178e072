// string! search, modification, sort and set operations: find, select, append, insert, change, swap, take, trim, sort.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/string_internal.h"
#include "runtime/errors.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// Refinement positions, in the order of each action's spec.
enum FindRef { F_PART, F_ONLY, F_CASE, F_SAME, F_ANY, F_WITH, F_SKIP, F_LAST, F_REVERSE, F_TAIL, F_MATCH };
enum AppendRef { A_PART, A_ONLY, A_DUP };
enum TakeRef { T_PART, T_DEEP, T_LAST };
enum TrimRef { TR_HEAD, TR_TAIL, TR_AUTO, TR_LINES, TR_ALL, TR_WITH };
enum SortRef { S_CASE, S_SKIP, S_COMPARE, S_PART, S_ALL, S_REVERSE, S_STABLE };

static std::vector<uint32_t> read_text(const Cell* str) {
    TextView t = text_view(str);
    std::vector<uint32_t> out(t.length);
    for (uint32_t i = 0; i < t.length; ++i) out[i] = t[i];
    return out;
}

// --------------------------------------------------------------- find and select

namespace {
struct FindResult { bool found; uint32_t start, length; };

struct FindOptions {
    bool exact = false, last = false, reverse = false, match = false;
    int64_t skip = 1;
    int64_t part = -1;  // -1: no /part
};

// The value as the code points to look for. May allocate (forming), so it runs
// before the series is read.
// What find looks for: a text (the code points), or membership in a bitset
// (the members among the series' code points, worked out before the scan).
struct FindTarget {
    std::vector<uint32_t> pattern;
    bool bitset = false;
    std::unordered_set<uint32_t> members;
};

std::vector<uint32_t> find_pattern(const Cell* value);

// Asks bitset!'s pick whether cp is a member (its bits, or the not-flag beyond them).
static bool bitset_member(const Cell* bitset, uint32_t cp) {
    ActionFn pick = action_required<Act::pick>(T_BITSET);
    StackScope scope;
    ActionFrame frame{stack_push_copy(bitset), T_BITSET, {}};
    std::memset(frame.refs, -1, sizeof frame.refs);
    set_char(stack_push(), cp);
    pick(frame);
    return cell_is(frame.args, T_LOGIC) && get_logic(frame.args);
}

// Bitset membership is the bitset's own pick (its bits, or its not-flag beyond
// them), asked once per distinct code point of the series.
FindTarget find_target(const Cell* series, const Cell* value) {
    FindTarget target;
    if (!cell_is(value, T_BITSET)) { target.pattern = find_pattern(value); return target; }
    target.bitset = true;
    SeriesBuffer* b = node_buffer(series_node(series));
    std::unordered_set<uint32_t> seen;
    for (uint32_t i = 0; i < b->count(); ++i) seen.insert(unit_get(b->head_ptr() + size_t(i) * b->unit(), b->unit()));
    for (uint32_t cp : seen)
        if (bitset_member(value, cp)) target.members.insert(cp);
    return target;
}

std::vector<uint32_t> find_pattern(const Cell* value) {
    TypeId t = cell_type(value);
    if (t == T_CHAR) return {get_char(value)};
    if (t == T_BINARY) raise_error(err::script::invalid_arg, value);
    if (is_text_type(t) && t != T_TAG) return read_text(value);
    if (type_is_word(t)) {
        // A word is searched by its spelling (UTF-8 in the symbol table).
        uint32_t length;
        const uint8_t* p = symbol_spelling(word_symbol(value), &length);
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < length;) {
            uint32_t avail = length - i;
            int32_t cp = utf8_decode_char(p + i, &avail);
            if (cp < 0) break;
            out.push_back(uint32_t(cp));
            i += avail;
        }
        return out;
    }
    Cell* formed = string_push(16);
    form_value(value, formed, NO_LIMIT);
    std::vector<uint32_t> out = read_text(formed);
    stack_pop(1);
    return out;
}

FindResult find_text(const Cell* series, const FindTarget& target, const FindOptions& o) {
    FindResult none{false, 0, 0};
    SeriesBuffer* b = node_buffer(series_node(series));
    uint32_t total = b->count();
    const std::vector<uint32_t>& pattern = target.pattern;
    uint32_t plen = target.bitset ? 1 : uint32_t(pattern.size());
    if (total == 0 || plen == 0) return none;  // an empty value matches nothing (never read past the text)
    uint32_t unit = b->unit();
    const uint8_t* data = b->head_ptr();
    int64_t index = series_index(series);
    if (!o.reverse && index >= total) return none;
    if (index > total) index = total;
    // The searched range [lo, hi).
    int64_t lo, hi;
    if (o.reverse) {
        if (o.match) return none;
        hi = index;
        lo = o.part >= 0 ? index - o.part : 0;
        if (lo < 0) return none;
    } else {
        lo = index;
        hi = o.part >= 0 ? std::min<int64_t>(total, index + o.part) : total;
    }
    auto same = [&](uint32_t a, uint32_t c) { return a == c || (!o.exact && fold_case(a) == fold_case(c)); };
    auto matches_at = [&](int64_t start) {
        if (start < lo || start + plen > hi) return false;
        if (target.bitset) return target.members.count(unit_get(data + size_t(start) * unit, unit)) != 0;
        for (uint32_t k = 0; k < plen; ++k)
            if (!same(unit_get(data + size_t(start + k) * unit, unit), pattern[k])) return false;
        return true;
    };
    if (o.reverse || o.last) {
        // A backward match ends at the position tried.
        for (int64_t p = hi - 1; p >= lo; p -= o.skip) {
            int64_t start = p - plen + 1;
            if (matches_at(start)) return {true, uint32_t(start), plen};
            if (o.match) break;
        }
        return none;
    }
    for (int64_t p = lo; p + plen <= hi; p += o.skip) {
        if (matches_at(p)) return {true, uint32_t(p), plen};
        if (o.match) break;
    }
    return none;
}

FindOptions find_options(ActionFrame& f, const Cell* series, bool* nothing) {
    FindOptions o;
    *nothing = false;
    if (f.has(F_ANY) || f.has(F_WITH)) raise_error(err::internal::not_done);
    o.exact = f.has(F_CASE) || f.has(F_SAME);
    o.last = f.has(F_LAST);
    o.reverse = f.has(F_REVERSE);
    o.match = f.has(F_MATCH);
    if (f.has(F_SKIP)) {
        Cell* size = f.ref_arg(F_SKIP);
        o.skip = get_integer(size);
        if (o.skip < 1) raise_error(err::script::out_of_range, size);
    }
    if (f.has(F_PART)) {
        int64_t d = string_part_distance(series, f.ref_arg(F_PART), "part");
        if (d < 1) { *nothing = true; return o; }
        o.part = d;  // cut to the rest below for forward searches
    }
    return o;
}

FindResult run_find(ActionFrame& f) {
    Cell* series = f.args;
    bool nothing;
    FindOptions o = find_options(f, series, &nothing);
    if (nothing) return {false, 0, 0};
    FindTarget target = find_target(series, f.args + 1);
    if (o.part >= 0 && !o.reverse) o.part = std::min<int64_t>(o.part, string_rest_length(series));
    return find_text(series, target, o);
}
}  // namespace

void string_find_action(ActionFrame& f) {
    FindResult r = run_find(f);
    if (!r.found) { set_none(f.args); return; }
    series_set_index(f.args, f.has(F_TAIL) ? r.start + r.length : r.start);
}

void string_select_action(ActionFrame& f) {
    FindResult r = run_find(f);
    uint32_t after = r.start + r.length;
    if (!r.found || after >= string_length_from_head(f.args)) { set_none(f.args); return; }
    SeriesBuffer* b = node_buffer(series_node(f.args));
    set_char(f.args, unit_get(b->head_ptr() + size_t(after) * b->unit(), b->unit()));
}

bool string_find_for_path(const Cell* series, const Cell* value, uint32_t* start, uint32_t* length) {
    FindResult r = find_text(series, find_target(series, value), FindOptions{});
    *start = r.start;
    *length = r.length;
    return r.found;
}

bool string_char_in_bitset(const Cell* str, const Cell* bitset) {
    TextView t = text_view(str);
    return t.length > 0 && bitset_member(bitset, t[0]);
}

bool string_match_value(const Cell* str, const Cell* value, int op) {
    TypeId t = cell_type(value);
    TextView s = text_view(str);
    if (t == T_CHAR) {
        if (s.length == 0) return false;
        uint32_t a = s[0], b = get_char(value);
        return a == b || (op != CMP_STRICT_EQUAL && fold_case(a) == fold_case(b));
    }
    if (t == T_TAG) {
        TextView tag = text_view(value);
        if (s.length < tag.length + 2 || s[0] != '<' || s[tag.length + 1] != '>') return false;
        for (uint32_t i = 0; i < tag.length; ++i) {
            uint32_t a = s[i + 1], b = tag[i];
            if (a != b && (op == CMP_STRICT_EQUAL || fold_case(a) != fold_case(b))) return false;
        }
        return true;
    }
    if (is_text_type(t)) return string_compare_text(str, value, op, true) == 0;
    return false;
}

// --------------------------------------------------------------- append, insert, change

namespace {
// Appends the value at the tail of the series' buffer as append does (without
// /dup); returns the code points added.
uint32_t append_value(Cell* series, Cell* value, int64_t part, bool only) {
    uint32_t before = string_length_from_head(series);
    TypeId t = cell_type(value);
    if (t == T_CHAR) {
        if (part != 0) string_append_char(series_node(series), get_char(value));
    } else if (t == T_TAG) {
        int64_t budget = part < 0 ? INT64_MAX : part;
        if (budget > 0) {
            string_append_char(series_node(series), '<');
            --budget;
            int32_t n = int32_t(std::min<int64_t>(budget, string_rest_length(value)));
            string_concatenate(series, value, n, 0, CONCAT_APPEND);
            budget -= n;
            if (budget > 0) string_append_char(series_node(series), '>');
        }
    } else if (is_text_type(t)) {
        string_concatenate(series, value, part < 0 ? -1 : int32_t(std::min<int64_t>(part, INT32_MAX)), 0,
                           CONCAT_APPEND);
    } else if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        NodeRef node = series_node(value);
        int64_t values = (!only && part >= 0) ? part : INT64_MAX;
        for (uint32_t i = series_index(value); values > 0; ++i, --values) {
            SeriesBuffer* b = node_buffer(node);
            if (i >= b->count()) break;
            form_value(b->cells() + i, series, NO_LIMIT);
        }
        if (only && part >= 0) {
            SeriesBuffer* b = node_buffer(series_node(series));
            uint32_t keep = uint32_t(std::min<int64_t>(b->count(), before + part));
            b->tail = b->head + keep * b->unit();
        }
    } else {
        form_value(value, series, NO_LIMIT);
        if (only && part >= 0) {
            SeriesBuffer* b = node_buffer(series_node(series));
            uint32_t keep = uint32_t(std::min<int64_t>(b->count(), before + part));
            b->tail = b->head + keep * b->unit();
        }
    }
    return string_length_from_head(series) - before;
}

// Repeats the last `run` code points so that they stand `dup` times in all.
void repeat_tail(Cell* series, uint32_t run, int64_t dup) {
    if (run == 0 || dup <= 1) return;
    NodeRef node = series_node(series);
    SeriesBuffer* b = node_buffer(node);
    uint32_t unit = b->unit();
    uint64_t bytes = uint64_t(run) * unit * uint64_t(dup - 1);
    if (bytes + b->tail > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    b = series_ensure_room(node, uint32_t(bytes));
    uint8_t* src = b->tail_ptr() - size_t(run) * unit;
    for (int64_t k = 1; k < dup; ++k) {
        std::memcpy(b->tail_ptr(), src, size_t(run) * unit);
        b->tail += run * unit;
    }
}

// Rotates the code points [from, tail) of the buffer so that the last `moved`
// of them come first.
void rotate_to(NodeRef node, uint32_t from, uint32_t moved) {
    SeriesBuffer* b = node_buffer(node);
    uint32_t unit = b->unit(), total = b->count();
    uint8_t* base = b->head_ptr();
    uint32_t mid = total - moved;
    if (unit == 1) std::rotate(base + from, base + mid, base + total);
    else if (unit == 2) {
        auto* p = reinterpret_cast<uint16_t*>(base);
        std::rotate(p + from, p + mid, p + total);
    } else {
        auto* p = reinterpret_cast<uint32_t*>(base);
        std::rotate(p + from, p + mid, p + total);
    }
}

int64_t dup_count(ActionFrame& f) { return f.has(A_DUP) ? int64_t(get_integer(f.ref_arg(A_DUP))) : 1; }

int64_t part_limit(ActionFrame& f, Cell* series) {
    if (!f.has(A_PART)) return -1;
    return std::max<int64_t>(0, string_part_distance(series, f.ref_arg(A_PART), "part"));
}

// Appends the value (with /part, /only, /dup) at the tail; returns the run added.
uint32_t append_with_dup(ActionFrame& f, Cell* series, int64_t part) {
    int64_t dup = dup_count(f);
    if (dup <= 0) return 0;
    uint32_t run = append_value(series, f.args + 1, part, f.has(A_ONLY));
    repeat_tail(series, run, dup);
    return uint32_t(uint64_t(run) * uint64_t(dup));
}
}  // namespace

// The code points a value brings, as far as is known before forming it (the
// part of a change notice).
static int32_t notice_part(const Cell* value) {
    if (cell_is(value, T_CHAR)) return 1;
    if (is_text_type(cell_type(value))) return int32_t(std::min<uint32_t>(string_rest_length(value), INT32_MAX));
    return 0;
}

// The everyday append, text onto a series no owner watches and without
// refinements, needs neither notices nor the length bookkeeping of the general
// path: one copy at the tail does it.
static bool append_plain_text(ActionFrame& f) {
    Cell* series = f.args;
    TypeId t = cell_type(f.args + 1);
    if (f.has(A_PART) || f.has(A_DUP) || t == T_TAG || !is_text_type(t)) return false;
    if (ownership_node_owned(series_node(series))) return false;
    string_concatenate(series, f.args + 1, -1, 0, CONCAT_APPEND);
    series_set_index(series, 0);
    return true;
}

// Everything is read again after the notice: an owner's handler may have
// changed the series or the value.
void string_append_action(ActionFrame& f) {
    if (append_plain_text(f)) return;
    Cell* series = f.args;
    int32_t pos = int32_t(string_length_from_head(series));
    bool owned = ownership_notice(series, ChangeWord::append, f.args + 1, pos, notice_part(f.args + 1));
    append_with_dup(f, series, part_limit(f, series));
    if (owned) ownership_notice(series, ChangeWord::appended, nullptr, pos, 0);
    series_set_index(series, 0);
}

void string_insert_action(ActionFrame& f) {
    Cell* series = f.args;
    bool owned = ownership_notice(series, ChangeWord::insert, f.args + 1, int32_t(string_index_clamp(series)),
                                  notice_part(f.args + 1));
    uint32_t index = string_index_clamp(series);
    uint32_t added = append_with_dup(f, series, part_limit(f, series));
    rotate_to(series_node(series), index, added);
    if (owned) ownership_notice(series, ChangeWord::inserted, nullptr, int32_t(index), 0);
    series_set_index(series, index + added);
}

// A char! or text in another buffer: appending it reads nothing of the series.
static bool is_plain_text_from_elsewhere(const Cell* value, const Cell* series) {
    TypeId t = cell_type(value);
    if (t == T_CHAR) return true;
    return is_text_type(t) && series_node(value) != series_node(series);
}

void string_change_action(ActionFrame& f) {
    Cell* series = f.args;
    int64_t part = f.has(A_PART) ? string_part_distance(series, f.ref_arg(A_PART), "part") : -1;
    bool owned = ownership_notice(series, ChangeWord::change, f.args + 1, int32_t(string_index_clamp(series)),
                                  part >= 0 ? int32_t(std::clamp<int64_t>(part, 0, INT32_MAX)) : notice_part(f.args + 1));
    uint32_t index = string_index_clamp(series);
    uint32_t rest = string_rest_length(series);
    uint32_t added;
    if (part >= rest && is_plain_text_from_elsewhere(f.args + 1, series)) {
        // Everything to the tail goes: drop it first, so that the text neither
        // grows past both runs nor is rotated.
        string_remove_chars(series_node(series), index, rest);
        added = append_with_dup(f, series, -1);
    } else {
        added = append_with_dup(f, series, -1);
        // The new text is at the tail: bring it to the index, then drop the replaced run after it.
        rotate_to(series_node(series), index, added);
        uint32_t replaced = part >= 0 ? uint32_t(std::clamp<int64_t>(part, 0, rest)) : std::min(added, rest);
        string_remove_chars(series_node(series), index + added, replaced);
    }
    if (owned) ownership_notice(series, ChangeWord::changed, nullptr, int32_t(index), 0);
    series_set_index(series, index + added);
}

// --------------------------------------------------------------- pad and join

// A value whose form is text of its own, never a walk through other values,
// and cannot fail: pad and rejoin take these without their library steps.
static bool forms_flat(TypeId t) {
    switch (t) {
    case T_UNSET: case T_NONE: case T_LOGIC: case T_INTEGER: case T_FLOAT: case T_PERCENT: case T_CHAR:
    case T_PAIR: case T_TUPLE: case T_TIME: case T_DATE: case T_MONEY: case T_DATATYPE:
    case T_WORD: case T_LIT_WORD: case T_SET_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
        return true;
    default:
        return is_text_type(t);
    }
}

// Longer padding is left to pad's own steps, which raise what they raise for it.
constexpr int64_t PAD_MOST = int64_t(1) << 24;

bool string_pad(Cell* value, int64_t n, bool left, uint32_t cp) {
    TypeId t = cell_type(value);
    if (t == T_STRING) {
        // An owner hears of the insertion through pad's own steps.
        if (ownership_node_owned(series_node(value))) return false;
    } else {
        if (!forms_flat(t)) return false;
        Cell* text = stack_push();
        form_dispatch(value, text);
        *value = *text;
        stack_pop(1);
    }
    int64_t count = n - int64_t(string_rest_length(value));
    if (count <= 0) return true;
    if (count > PAD_MOST) return false;
    NodeRef node = series_node(value);
    uint32_t total = string_length_from_head(value);
    // The index stays where it was, even past the tail: only insert's own copy is clamped.
    uint32_t at = left ? std::min(series_index(value), total) : total;
    string_append_char(node, cp);
    repeat_tail(value, 1, count);
    if (left) rotate_to(node, at, uint32_t(count));
    return true;
}

// Room at the end of a joined string for the string! values after its
// first, made once: joining many short strings then grows it once.
static void reserve_for_strings(const Cell* out, NodeRef values, uint32_t first_at, uint32_t n) {
    if (node_buffer(series_node(out))->unit() != 1) return;
    uint64_t bytes = 0;
    const Cell* cells = node_buffer(values)->cells() + first_at;
    for (uint32_t k = 1; k < n; ++k)
        if (cell_is(cells + k, T_STRING)) bytes += text_view(cells + k).length;
    if (bytes && bytes < UINT32_MAX / 2) series_ensure_room(series_node(out), uint32_t(bytes));
}

// A one-byte string appended to a one-byte string with the room for it:
// copied as it stands. False, having done nothing, otherwise.
static bool append_narrow_string(const Cell* out, const Cell* str) {
    TextView s = text_view(str);
    SeriesBuffer* b = node_buffer(series_node(out));
    if (s.unit != 1 || b->unit() != 1 || b->room() < s.length) return false;
    std::memcpy(b->tail_ptr(), s.data, s.length);
    b->tail += s.length;
    return true;
}

bool string_join_values(Cell* block) {
    uint32_t n = block_length(block);
    if (n == 0) return true;
    NodeRef values = series_node(block);
    uint32_t first_at = series_index(block);
    const Cell* cells = node_buffer(values)->cells() + first_at;  // nothing allocates in this look
    for (uint32_t k = 1; k < n; ++k)
        if (!forms_flat(cell_type(cells + k))) return false;
    Cell first = *block_at(block, 0);
    TypeId t = cell_type(&first);
    Cell* out;
    if (t == T_STRING) {
        // The copy action itself, as `copy` runs it.
        out = stack_push_copy(&first);
        ActionFrame copy{};
        copy.args = out;
        copy.type = T_STRING;
        for (auto& r : copy.refs) r = -1;
        action_required<Act::copy>(T_STRING)(copy);
    } else if (forms_flat(t) && t != T_UNSET && !is_text_type(t)) {  // rejoin refuses an unset one itself
        out = stack_push();
        form_dispatch(&first, out);
    } else {
        return false;
    }
    // Each value is read again through the block's node: forming the one
    // before may have moved it. Text and characters are what form_value
    // would write, without its copy of the value on the stack (the block
    // keeps the value's text alive).
    reserve_for_strings(out, values, first_at, n);
    for (uint32_t k = 1; k < n; ++k) {
        Cell v = node_buffer(values)->cells()[first_at + k];
        TypeId vt = cell_type(&v);
        if (vt == T_STRING && append_narrow_string(out, &v)) continue;
        if (is_text_type(vt)) string_concatenate(out, &v, -1, 0, CONCAT_APPEND);
        else if (vt == T_CHAR) string_append_char(series_node(out), get_char(&v));
        else form_value(&v, out, NO_LIMIT);
    }
    *block = *out;
    stack_pop(1);
    return true;
}

// --------------------------------------------------------------- swap and take

void string_swap_action(ActionFrame& f) {
    Cell* a = f.args;
    Cell* b = f.args + 1;
    if (!is_text_type(cell_type(b))) raise_error(err::script::invalid_arg, b);
    if (string_rest_length(a) == 0 || string_rest_length(b) == 0) return;
    bool owned_a = ownership_notice(a, ChangeWord::swap, b, int32_t(string_index_clamp(a)), 1);
    bool owned_b = ownership_notice(b, ChangeWord::swap, a, int32_t(string_index_clamp(b)), 1);
    if (string_rest_length(a) == 0 || string_rest_length(b) == 0) return;
    uint32_t ia = string_index_clamp(a), ib = string_index_clamp(b);
    uint32_t ca = string_char_at(a, 0), cb = string_char_at(b, 0);
    string_poke_char(series_node(a), ia, cb);
    string_poke_char(series_node(b), ib, ca);
    if (owned_a) ownership_notice(a, ChangeWord::swaped, nullptr, int32_t(ia), 0);
    if (owned_b) ownership_notice(b, ChangeWord::swaped, nullptr, int32_t(ib), 0);
}

// series!'s take (ranges, /last, negative parts, owner notices); a single code
// point taken without /part comes back as a char!.
void string_take_action(ActionFrame& f) {
    action_required<Act::take>(T_SERIES)(f);
    if (f.has(T_PART) || !is_text_type(cell_type(f.args))) return;
    uint32_t n = string_rest_length(f.args);
    if (n == 1) set_char(f.args, string_char_at(f.args, 0));
    else if (n == 0) set_none(f.args);
}

// --------------------------------------------------------------- trim

bool string_is_space(uint32_t c) {
    if (c >= 1 && c <= 0x20) return true;
    if (c < 0x85) return false;
    return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {
bool is_line_space(uint32_t c) { return c == ' ' || c == '\t' || (c >= 0x85 && string_is_space(c)); }

std::vector<uint32_t> trim_plain(const std::vector<uint32_t>& text, bool head, bool tail) {
    size_t lo = 0, hi = text.size();
    if (head) while (lo < hi && string_is_space(text[lo])) ++lo;
    bool tail_had_lf = false;
    if (tail) while (hi > lo && string_is_space(text[hi - 1])) tail_had_lf |= text[--hi] == '\n';
    if (!(head && tail)) return {text.begin() + ptrdiff_t(lo), text.begin() + ptrdiff_t(hi)};
    std::vector<uint32_t> out, pending;
    bool after_lf = false;
    for (size_t i = lo; i < hi; ++i) {
        uint32_t c = text[i];
        if (c == '\n') { pending.clear(); out.push_back(c); after_lf = true; }
        else if (is_line_space(c)) { if (!after_lf) pending.push_back(c); }
        else { out.insert(out.end(), pending.begin(), pending.end()); pending.clear(); out.push_back(c); after_lf = false; }
    }
    out.insert(out.end(), pending.begin(), pending.end());
    if (tail_had_lf) out.push_back('\n');
    return out;
}

std::vector<uint32_t> trim_lines(const std::vector<uint32_t>& text) {
    std::vector<uint32_t> out;
    bool in_space = false;
    for (uint32_t c : text) {
        if (string_is_space(c)) { in_space = true; continue; }
        if (in_space && !out.empty()) out.push_back(' ');
        in_space = false;
        out.push_back(c);
    }
    return out;
}

std::vector<uint32_t> trim_set(const std::vector<uint32_t>& text, const std::vector<uint32_t>& set) {
    std::vector<uint32_t> out;
    for (uint32_t c : text)
        if (std::find(set.begin(), set.end(), c) == set.end()) out.push_back(c);
    return out;
}
}  // namespace

void string_trim_action(ActionFrame& f) {
    Cell* series = f.args;
    if (f.has(TR_AUTO)) raise_error(err::internal::not_done);
    bool owned = ownership_notice(series, ChangeWord::trim, nullptr, int32_t(string_index_clamp(series)),
                                  int32_t(string_rest_length(series)));
    uint32_t index = string_index_clamp(series);
    std::vector<uint32_t> text = read_text(series), out;
    if (f.has(TR_ALL) || f.has(TR_WITH)) {
        std::vector<uint32_t> set = {9, 10, 13, 32};
        if (f.has(TR_WITH)) {
            Cell* with = f.ref_arg(TR_WITH);
            if (cell_is(with, T_CHAR)) set = {get_char(with)};
            else if (cell_is(with, T_INTEGER)) set = {uint32_t(get_integer(with))};
            else if (is_text_type(cell_type(with))) set = read_text(with);
            else if (cell_is(with, T_BINARY)) {
                SeriesBuffer* b = node_buffer(series_node(with));
                uint32_t from = std::min(series_index(with), b->count());
                set.assign(b->head_ptr() + from, b->tail_ptr());
            } else raise_error(err::script::invalid_arg, with);
        }
        out = trim_set(text, set);
    } else if (f.has(TR_LINES)) {
        out = trim_lines(text);
    } else {
        bool head = f.has(TR_HEAD), tail = f.has(TR_TAIL);
        if (!head && !tail) head = tail = true;
        out = trim_plain(text, head, tail);
    }
    // The result is never wider than the text it came from: write it in place.
    SeriesBuffer* b = node_buffer(series_node(series));
    uint32_t unit = b->unit();
    uint8_t* d = b->head_ptr() + size_t(index) * unit;
    for (size_t i = 0; i < out.size(); ++i) unit_put(d + i * unit, unit, out[i]);
    b->tail = b->head + uint32_t((index + out.size()) * unit);
    if (owned) ownership_notice(series, ChangeWord::trimmed, nullptr, int32_t(index), 0);
}

// --------------------------------------------------------------- sort

namespace {
struct SortContext {
    bool exact;
    bool reverse;
    bool whole;          // /all: compare whole records
    uint32_t offset;     // the compared code point within a record
    uint32_t size;       // code points per record
    Cell* function;      // /compare function, on the value stack, or nullptr
    TypeId type;
};

int compare_points(uint32_t a, uint32_t b, bool exact) {
    if (a != b && !exact) { a = fold_case(a); b = fold_case(b); }
    return a < b ? -1 : a > b ? 1 : 0;
}

int compare_records(const void* pa, const void* pb, void* context) {
    auto* c = static_cast<SortContext*>(context);
    auto* a = static_cast<const uint32_t*>(pa);
    auto* b = static_cast<const uint32_t*>(pb);
    int r = 0;
    if (c->whole) {
        for (uint32_t i = 0; i < c->size && r == 0; ++i) r = compare_points(a[i], b[i], c->exact);
    } else {
        r = compare_points(a[c->offset], b[c->offset], c->exact);
    }
    return c->reverse ? -r : r;
}

// Pushes an item for the comparison function: a char!, or with /all a new
// string holding the record.
Cell* push_item(const SortContext* c, const uint32_t* record) {
    Cell* item = stack_push();
    if (!c->whole) { set_char(item, record[c->offset]); return item; }
    string_make(item, c->size);
    append_codepoints(item, record, c->size);
    cell_set_type(item, c->type);
    return item;
}

// Runs language code: it may raise or collect. The records are in malloc'd
// memory, so neither moves them.
int compare_by_function(const void* pa, const void* pb, void* context) {
    auto* c = static_cast<SortContext*>(context);
    StackScope scope;
    uint32_t a_copy[64], b_copy[64];  // the items are read before pushing (pushing may collect)
    std::vector<uint32_t> big_a, big_b;
    const uint32_t* a = static_cast<const uint32_t*>(pa);
    const uint32_t* b = static_cast<const uint32_t*>(pb);
    if (c->size <= 64) {
        std::memcpy(a_copy, a, c->size * 4); std::memcpy(b_copy, b, c->size * 4);
        a = a_copy; b = b_copy;
    } else {
        big_a.assign(a, a + c->size); big_b.assign(b, b + c->size);
        a = big_a.data(); b = big_b.data();
    }
    Cell* first = push_item(c, c->reverse ? a : b);
    Cell* second = push_item(c, c->reverse ? b : a);
    Cell* result = stack_push();
    sort_function_call(c->function, first, second, result);
    switch (cell_type(result)) {
    case T_LOGIC: return get_logic(result) ? 1 : -1;
    case T_INTEGER: { int32_t v = get_integer(result); return v > 0 ? -1 : v < 0 ? 1 : 0; }
    case T_FLOAT: { double d = get_float(result); return d > 0 ? -1 : d < 0 ? 1 : 0; }
    case T_NONE: return -1;
    default: return 1;
    }
}

// Writes the records back into the series from `from`, bounded by what the
// series holds now (a comparison function may have changed it).
void write_back(NodeRef node, uint32_t from, const std::vector<uint32_t>& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        SeriesBuffer* b = node_buffer(node);
        if (from + i >= b->count()) return;
        string_poke_char(node, uint32_t(from + i), text[i]);
    }
}
}  // namespace

void string_sort_action(ActionFrame& f) {
    Cell* series = f.args;
    uint32_t index = string_index_clamp(series);
    int64_t count = string_rest_length(series);
    if (f.has(S_PART)) {
        count = string_part_distance(series, f.ref_arg(S_PART), "part");
        if (count < 0) {
            if (int64_t(index) + count < 0) return;  // reaches before the head: nothing sorted
            index = uint32_t(int64_t(index) + count);
            count = -count;
            series_set_index(series, index);
        }
        count = std::min<int64_t>(count, string_rest_length(series));
    }
    SortContext c{f.has(S_CASE), f.has(S_REVERSE), false, 0, 1, nullptr, cell_type(series)};
    if (f.has(S_SKIP)) {
        Cell* size = f.ref_arg(S_SKIP);
        int64_t s = get_integer(size);
        if (s < 1 || count % s != 0 || count < s) raise_refine_arg("skip", size);
        c.size = uint32_t(s);
        c.whole = f.has(S_ALL);
    } else if (f.has(S_ALL)) {
        raise_error(err::script::bad_refines);
    }
    if (f.has(S_COMPARE)) {
        Cell* cmp = f.ref_arg(S_COMPARE);
        if (cell_is(cmp, T_INTEGER)) {
            if (!f.has(S_SKIP) || f.has(S_ALL)) raise_error(err::script::bad_refines);
            int32_t at = get_integer(cmp);
            if (at < 1 || uint32_t(at) > c.size) raise_error(err::script::out_of_range, cmp);
            c.offset = uint32_t(at - 1);
        } else if (cell_is(cmp, T_FUNCTION)) {
            if (!sort_function_call) raise_error(err::internal::not_done);
            c.function = cmp;
        } else {
            raise_refine_arg("compare", cmp);
        }
    }
    if (count < 2) return;
    bool owned = ownership_notice(series, ChangeWord::sort, nullptr, int32_t(index), int32_t(count));
    count = std::min<int64_t>(count, int64_t(string_length_from_head(series)) - std::min(index, string_length_from_head(series)));
    if (count < c.size) return;
    // Sorted as code points in pinned memory: the order does not depend on the
    // buffer's unit, and nothing the comparison runs can move or shrink it.
    TextView t = text_view(series);
    std::vector<uint32_t> text(static_cast<size_t>(count));
    for (uint32_t i = 0; i < count; ++i) text[i] = t[i];
    uint32_t records = uint32_t(count) / c.size;
    SortCompare compare = c.function ? compare_by_function : compare_records;
    try {
        if (f.has(S_STABLE)) sort_stable(text.data(), records, c.size * 4, compare, &c);
        else sort_quick(text.data(), records, c.size * 4, compare, &c);
    } catch (...) {
        write_back(series_node(series), index, text);  // a permutation of the records
        throw;
    }
    write_back(series_node(series), index, text);
    if (owned) ownership_notice(series, ChangeWord::sorted, nullptr, int32_t(index), 0);
}

// --------------------------------------------------------------- set operations

void string_set_op(Cell* args, bool case_sensitive, int32_t skip, int op) {
    if (skip < 1) {
        Cell size;
        set_integer(&size, skip);
        raise_refine_arg("skip", &size);
    }
    std::vector<uint32_t> a = read_text(args), b;
    bool two = op != SET_UNIQUE;
    if (two) b = read_text(args + 1);
    auto key = [&](uint32_t cp) { return case_sensitive ? cp : fold_case(cp); };
    // The first code points of the records of a text (every skip-th position).
    auto firsts = [&](const std::vector<uint32_t>& text) {
        std::unordered_set<uint32_t> set;
        for (size_t i = 0; i < text.size(); i += size_t(skip)) set.insert(key(text[i]));
        return set;
    };
    std::vector<uint32_t> out;
    std::unordered_set<uint32_t> taken;
    auto walk = [&](const std::vector<uint32_t>& text, const std::unordered_set<uint32_t>* other, bool want_in) {
        for (size_t i = 0; i < text.size(); i += size_t(skip)) {
            uint32_t k = key(text[i]);
            if (other && (other->count(k) != 0) != want_in) continue;
            if (!taken.insert(k).second) continue;
            size_t end = std::min(text.size(), i + size_t(skip));
            out.insert(out.end(), text.begin() + ptrdiff_t(i), text.begin() + ptrdiff_t(end));
        }
    };
    std::unordered_set<uint32_t> in_a, in_b;
    if (two) { in_a = firsts(a); in_b = firsts(b); }
    switch (op) {
    case SET_UNIQUE: walk(a, nullptr, false); break;
    case SET_UNION: walk(a, nullptr, false); walk(b, nullptr, false); break;
    case SET_INTERSECT: walk(a, &in_b, true); break;
    case SET_EXCLUDE: walk(a, &in_b, false); break;
    case SET_DIFFERENCE: walk(a, &in_b, false); walk(b, &in_a, false); break;
    default: raise_error(err::internal::not_done);
    }
    TypeId type = cell_type(args);
    Cell* result = stack_push();
    string_make(result, uint32_t(out.size()), type);
    append_codepoints(result, out.data(), out.size());
    *args = *result;
    stack_pop(1);
}

}  // namespace tev

// string!: storage primitives, making, converting, comparing, form, mold, case change and registration.
#include "datatypes/string.h"
#include <algorithm>
#include <cmath>
#include "datatypes/dispatch.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/string_internal.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/ownership.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// Actions of string_search.cpp, registered below.
void string_find_action(ActionFrame& f);
void string_select_action(ActionFrame& f);
void string_append_action(ActionFrame& f);
void string_insert_action(ActionFrame& f);
void string_change_action(ActionFrame& f);
void string_swap_action(ActionFrame& f);
void string_take_action(ActionFrame& f);
void string_trim_action(ActionFrame& f);
void string_sort_action(ActionFrame& f);
bool string_find_for_path(const Cell* series, const Cell* value, uint32_t* start, uint32_t* length);

// Runs a /compare function through the evaluator. The two items are passed
// as one run of arguments on the stack.
static void call_sort_function(const Cell* fn, const Cell* a, const Cell* b, Cell* result) {
    StackScope scope;
    Cell* args = stack_push_copy(a);
    stack_push_copy(b);
    *result = *evaluation_hooks.call_with_args(fn, args, 2);
}

SortFunctionCall sort_function_call = call_sort_function;


bool is_text_type(TypeId t) { return type_is_string(t); }

// --------------------------------------------------------------- views and reading

uint32_t string_index_clamp(Cell* str) {
    uint32_t total = node_buffer(series_node(str))->count();
    if (series_index(str) > total) series_set_index(str, total);
    return series_index(str);
}

uint32_t string_rest_length(const Cell* str) { return text_view(str).length; }
uint32_t string_length(const Cell* str) { return text_view(str).length; }
uint32_t string_length_from_head(const Cell* str) { return node_buffer(series_node(str))->count(); }
uint32_t string_char_at(const Cell* str, uint32_t i) { return text_view(str)[i]; }

int32_t string_find_char(const Cell* str, uint32_t cp) {
    TextView t = text_view(str);
    for (uint32_t i = 0; i < t.length; ++i)
        if (t[i] == cp) return int32_t(i);
    return -1;
}

bool string_find_char_skip(const Cell* str, uint32_t cp, uint32_t skip, bool case_sensitive) {
    TextView t = text_view(str);
    if (skip == 0) skip = 1;
    uint32_t want = case_sensitive ? cp : fold_case(cp);
    for (uint32_t i = 0; i < t.length; i += skip) {
        uint32_t c = t[i];
        if ((case_sensitive ? c : fold_case(c)) == want) return true;
    }
    return false;
}

bool string_starts_with_cstring(const Cell* str, const char* s) {
    TextView t = text_view(str);
    size_t n = std::strlen(s);
    if (n > t.length) return false;
    for (size_t i = 0; i < n; ++i)
        if (t[uint32_t(i)] != uint8_t(s[i])) return false;
    return true;
}

std::string string_to_utf8(const Cell* str) {
    TextView t = text_view(str);
    std::string out;
    if (t.unit == 1) {
        // One byte a character: ASCII runs are copied whole (files of text are mostly that).
        out.reserve(t.length);
        const uint8_t* p = t.data;
        const uint8_t* end = p + t.length;
        while (p < end) {
            const uint8_t* run = p;
            p = ascii_run_end(p, end);
            out.append(reinterpret_cast<const char*>(run), size_t(p - run));
            for (; p < end && *p >= 0x80; ++p) {
                out.push_back(char(0xC0 | (*p >> 6)));
                out.push_back(char(0x80 | (*p & 0x3F)));
            }
        }
        return out;
    }
    uint8_t bytes[4];
    for (uint32_t i = 0; i < t.length; ++i) {
        int n = utf8_encode_char(t[i], bytes);
        out.append(reinterpret_cast<char*>(bytes), size_t(n));
    }
    return out;
}

// --------------------------------------------------------------- making

void string_make_width(Cell* out, uint32_t capacity, uint32_t unit, TypeId type) {
    NodeRef node = alloc_series_units(capacity, unit);
    set_series(out, type, node);
}

void string_make(Cell* out, uint32_t capacity, TypeId type) { string_make_width(out, capacity ? capacity : 1, 1, type); }

Cell* string_push(uint32_t capacity) {
    Cell* c = stack_push();
    string_make(c, capacity);
    return c;
}

void string_reset(Cell* str) {
    SeriesBuffer* b = node_buffer(series_node(str));
    b->tail = b->head;
    b->flags = (b->flags & ~SER_UNIT_MASK) | 1;
    series_set_index(str, 0);
}

// --------------------------------------------------------------- writing

static SeriesBuffer* grow_for(NodeRef node, uint64_t extra) {
    if (extra > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    return series_ensure_room(node, uint32_t(extra));
}

SeriesBuffer* string_append_char(NodeRef node, uint32_t cp) {
    SeriesBuffer* b = node_buffer(node);
    if (unit_for_append(cp) > b->unit()) b = string_widen_to(node, unit_for_append(cp));
    uint32_t unit = b->unit();
    if (b->room() < unit) b = grow_for(node, unit);
    unit_put(b->tail_ptr(), unit, cp);
    b->tail += unit;
    return b;
}

SeriesBuffer* string_poke_char(NodeRef node, uint32_t pos, uint32_t cp) {
    SeriesBuffer* b = node_buffer(node);
    if (unit_for_char(cp) > b->unit()) b = string_widen_to(node, unit_for_char(cp));
    unit_put(b->head_ptr() + size_t(pos) * b->unit(), b->unit(), cp);
    return b;
}

SeriesBuffer* string_insert_char(NodeRef node, uint32_t pos, uint32_t cp) {
    SeriesBuffer* b = node_buffer(node);
    if (unit_for_char(cp) > b->unit()) b = string_widen_to(node, unit_for_char(cp));
    uint32_t unit = b->unit();
    if (b->room() < unit) b = grow_for(node, unit);
    pos = std::min(pos, b->count());
    uint8_t* at = b->head_ptr() + size_t(pos) * unit;
    std::memmove(at + unit, at, b->tail_ptr() - at);
    b->tail += unit;
    unit_put(at, unit, cp);
    return b;
}

void string_remove_chars(NodeRef node, uint32_t pos, uint32_t count) {
    SeriesBuffer* b = node_buffer(node);
    uint32_t total = b->count();
    if (pos >= total) return;
    count = std::min(count, total - pos);
    uint32_t unit = b->unit();
    uint8_t* at = b->head_ptr() + size_t(pos) * unit;
    std::memmove(at, at + size_t(count) * unit, b->tail_ptr() - (at + size_t(count) * unit));
    b->tail -= count * unit;
}

// Appends n code points (bytes or 32-bit values) at the tail, widening once.
// The source must not be series data (growing the buffer may move it).
template <class T>
static void append_units(Cell* out, const T* src, size_t n) {
    if (n == 0) return;
    NodeRef node = series_node(out);
    uint32_t widest = 1;
    for (size_t i = 0; i < n; ++i) widest = std::max(widest, unit_for_append(src[i]));
    SeriesBuffer* b = node_buffer(node);
    if (widest > b->unit()) b = string_widen_to(node, widest);
    uint32_t unit = b->unit();
    b = grow_for(node, uint64_t(n) * unit);
    uint8_t* d = b->tail_ptr();
    if (unit == sizeof(T)) std::memcpy(d, src, n * unit);
    else for (size_t i = 0; i < n; ++i) unit_put(d + i * unit, unit, src[i]);
    b->tail += uint32_t(n * unit);
}

void append_codepoints(Cell* out, const uint32_t* cps, size_t n) { append_units(out, cps, n); }

void string_append_codepoint(Cell* str, uint32_t cp) { string_append_char(series_node(str), cp); }

void string_append_ascii(Cell* str, const char* s, size_t n) { string_append_bytes(str, reinterpret_cast<const uint8_t*>(s), n); }
void string_append_cstr(Cell* str, const char* s) { string_append_ascii(str, s, std::strlen(s)); }

void string_append_bytes(Cell* str, const uint8_t* s, size_t n) { append_units(str, s, n); }

int32_t mold_indent(Cell* out, int32_t level, int32_t limit) {
    static const char blanks[] = "                                ";  // 32
    for (int64_t n = int64_t(level) * 4; n > 0;) {
        int64_t k = n < 32 ? n : 32;
        string_append_ascii(out, blanks, size_t(k));
        n -= k;
    }
    return level > 0 ? int32_t(std::max<int64_t>(int64_t(limit) - int64_t(level) * 4, INT32_MIN)) : limit;
}

void string_truncate(NodeRef node, uint32_t n) {
    SeriesBuffer* b = node_buffer(node);
    uint64_t bytes = uint64_t(n) * b->unit();
    if (bytes > uint64_t(b->size) - b->head) return;
    b->tail = std::min(b->tail, b->head + uint32_t(bytes));
}

void string_append_utf8(Cell* str, const char* s, size_t n) {
    // ASCII, the usual case (names, numbers, most text from the system), is
    // its own code points: appended as it stands, decoded from the first
    // byte that is not.
    auto* from = reinterpret_cast<const uint8_t*>(s);
    size_t ascii = size_t(ascii_run_end(from, from + n) - from);
    if (ascii) string_append_bytes(str, reinterpret_cast<const uint8_t*>(s), ascii);
    if (ascii == n) return;
    s += ascii;
    n -= ascii;
    std::vector<uint32_t> cps;
    cps.reserve(n);
    auto* p = reinterpret_cast<const uint8_t*>(s);
    uint32_t i = 0;
    while (i < n) {
        uint32_t avail = uint32_t(n - i);
        int32_t cp = utf8_decode_char(p + i, &avail);
        if (cp < 0) break;
        cps.push_back(uint32_t(cp));
        i += avail;
    }
    append_codepoints(str, cps.data(), cps.size());
}

uint8_t* copy_units(uint8_t* dst, uint32_t du, const uint8_t* src, uint32_t su, uint32_t n) {
    if (du == su) std::memmove(dst, src, size_t(n) * du);
    else for (uint32_t i = 0; i < n; ++i) unit_put(dst + size_t(i) * du, du, unit_get(src + size_t(i) * su, su));
    return dst + size_t(n) * du;
}

void string_concatenate(Cell* dst, const Cell* src, int32_t part, uint32_t offset, int mode) {
    NodeRef dn = series_node(dst), sn = series_node(src);
    TextView s = text_view(src);
    uint32_t count = s.length;
    if (part >= 0 && uint32_t(part) < count) count = uint32_t(part);
    if (count == 0) return;
    uint32_t sindex = s.index, su = s.unit;
    SeriesBuffer* b = node_buffer(dn);
    if (mode == CONCAT_APPEND && sn != dn && su <= b->unit()) {
        // The common case, a distinct text no wider than the destination: one
        // copy at the tail, the source read again after the buffer may have grown.
        uint32_t du = b->unit();
        if (b->room() < uint64_t(count) * du) b = grow_for(dn, uint64_t(count) * du);
        const uint8_t* from = node_buffer(sn)->head_ptr() + size_t(sindex) * su;
        uint8_t* to = b->tail_ptr();
        if (du == 1 && count <= 16) for (uint32_t i = 0; i < count; ++i) to[i] = from[i];  // memmove costs more
        else copy_units(to, du, from, su, count);
        b->tail += count * du;
        return;
    }
    // The source is read through its node after every allocation; when it is the
    // destination's own buffer, its text is taken aside first (the gap would move it).
    std::vector<uint8_t> aside;
    if (sn == dn) aside.assign(s.data, s.data + size_t(count) * su);
    auto source = [&]() -> const uint8_t* {
        if (!aside.empty()) return aside.data();
        return node_buffer(sn)->head_ptr() + (size_t(sindex) << unit_shift(su));
    };
    if (su > b->unit()) {
        // Widen only as far as the copied text needs: a wide buffer may hold narrow text.
        const uint8_t* p = source();
        uint32_t need = 1;
        for (uint32_t i = 0; i < count && need < su; ++i) need = std::max(need, unit_for_append(unit_get(p + size_t(i) * su, su)));
        if (need > b->unit()) b = string_widen_to(dn, need);
    }
    uint32_t du = b->unit();
    if (du < su) {
        // The text fits the narrower unit: convert it down while copying.
        std::vector<uint32_t> cps(count);
        const uint8_t* p = source();
        for (uint32_t i = 0; i < count; ++i) cps[i] = unit_get(p + size_t(i) * su, su);
        aside.resize(count * du);
        for (uint32_t i = 0; i < count; ++i) unit_put(aside.data() + size_t(i) * du, du, cps[i]);
        su = du;
    }
    uint32_t total = b->count();
    uint32_t pos = total;
    if (mode != CONCAT_APPEND) pos = uint32_t(std::min<uint64_t>(uint64_t(std::min(series_index(dst), total)) + offset, total));
    uint64_t extra = uint64_t(count) * du;
    if (mode == CONCAT_OVERWRITE) extra = pos + uint64_t(count) > total ? (pos + uint64_t(count) - total) * du : 0;
    b = grow_for(dn, extra);
    uint8_t* at = b->head_ptr() + size_t(pos) * du;
    if (mode == CONCAT_INSERT) std::memmove(at + size_t(count) * du, at, b->tail_ptr() - at);
    copy_units(at, du, source(), su, count);
    if (mode == CONCAT_OVERWRITE) b->tail = std::max(b->tail, uint32_t(at - b->data) + count * du);
    else b->tail += count * du;
}

// --------------------------------------------------------------- loading and hex

Cell* string_load(const uint8_t* bytes, uint32_t len, Cell* target, int32_t encoding) {
    Cell* out = target ? target : stack_push();
    set_none(out);
    NodeRef node;
    if (encoding == 0) node = string_from_utf8(bytes, len);
    else if (encoding == -1) node = string_load_utf16(bytes, len, nullptr, false);
    else raise_error_int(err::script::invalid_arg, encoding);
    set_series(out, T_STRING, node);
    return out;
}

double string_to_float(const uint8_t* text, uint32_t length, bool* error) {
    size_t rest = 0;
    auto* start = reinterpret_cast<const char*>(text);
    double d = parse_float(start, start + length, 0, &rest);
    *error = length == 0 || rest != 0;
    return d;
}

static const char hex_digits[] = "0123456789ABCDEF";

const char* string_byte_to_hex(uint8_t byte) {
    static char buf[3];
    buf[0] = hex_digits[byte >> 4];
    buf[1] = hex_digits[byte & 15];
    buf[2] = 0;
    return buf;
}

const char* string_int_to_hex(int32_t value, bool trim) {
    static char buf[9];
    uint32_t v = uint32_t(value);
    for (int i = 7; i >= 0; --i) { buf[i] = hex_digits[v & 15]; v >>= 4; }
    buf[8] = 0;
    if (!trim) return buf;
    char lead = value < 0 ? 'F' : '0';
    int first = 0;
    while (first < 6 && buf[first] == lead) ++first;
    return buf + first;
}

// --------------------------------------------------------------- comparing

int string_compare_text(const Cell* a, const Cell* b, int op, bool match) {
    if (series_node(a) == series_node(b) && series_index(a) == series_index(b)) {
        if (op == CMP_SAME || op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND)
            return 0;
    } else if (op == CMP_SAME) {
        return -1;
    }
    TextView ta = text_view(a), tb = text_view(b);
    uint32_t la = ta.length, lb = tb.length, n;
    bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND;
    if (match) {
        if (lb == 0) return op == CMP_FIND ? 1 : 0;
        if (la < lb) return 1;
        n = lb;
    } else {
        if (la != lb && equality) return 1;
        if (lb == 0) return la == 0 ? 0 : 1;
        if (la == 0) return -1;
        n = std::min(la, lb);
    }
    bool exact = op == CMP_STRICT_EQUAL || op == CMP_CASE_SORT;
    uint32_t i = 0;
    // Most text is one byte a code point on both sides: skip the equal run as bytes.
    if (ta.unit == 1 && tb.unit == 1)
        while (i < n && ta.data[i] == tb.data[i]) ++i;
    for (; i < n; ++i) {
        uint32_t ca = ta[i], cb = tb[i];
        if (ca == cb) continue;
        if (!exact) { ca = fold_case(ca); cb = fold_case(cb); if (ca == cb) continue; }
        return ca < cb ? -1 : 1;
    }
    if (match || la == lb) return 0;
    return la > lb ? 1 : -1;
}

// Equality of two texts held one byte a code point, answered as string_compare_text
// answers it. Map and hash keys are mostly such texts, compared once a probe.
static int compare_bytes_equal(const TextView& ta, const TextView& tb, bool exact) {
    if (ta.length != tb.length) return 1;
    for (uint32_t i = 0; i < ta.length; ++i) {
        uint32_t ca = ta.data[i], cb = tb.data[i];
        if (ca == cb) continue;
        if (!exact) { ca = fold_case(ca); cb = fold_case(cb); if (ca == cb) continue; }
        return ca < cb ? -1 : 1;
    }
    return 0;
}

static int compare_string(const Cell* a, const Cell* b, int op) {
    if (cell_type(a) != cell_type(b)) {
        if (is_text_type(cell_type(b)) && (op == CMP_EQUAL || op == CMP_NOT_EQUAL))
            return string_compare_text(a, b, op, false);
        return CMP_NOT_COMPARABLE;
    }
    if (op == CMP_EQUAL || op == CMP_STRICT_EQUAL) {
        TextView ta = text_view(a), tb = text_view(b);
        if (ta.unit == 1 && tb.unit == 1) return compare_bytes_equal(ta, tb, op == CMP_STRICT_EQUAL);
    }
    return string_compare_text(a, b, op, false);
}

// --------------------------------------------------------------- form and mold

// The form/mold budget left after `used` code points, never below INT32_MIN.
static int32_t budget_left(int32_t limit, int64_t used) {
    return int32_t(std::max<int64_t>(int64_t(limit) - used, INT32_MIN));
}

int32_t form_value(const Cell* value, Cell* out, int32_t limit) {
    Cell* v = stack_push_copy(value);
    int32_t left;
    if (is_text_type(cell_type(v))) {
        string_concatenate(out, v, -1, 0, CONCAT_APPEND);
        left = budget_left(limit, string_rest_length(v));
    } else if (cell_is(v, T_CHAR)) {
        string_append_char(series_node(out), get_char(v));
        left = budget_left(limit, 1);
    } else {
        FormFn form = action_of<Act::form>(cell_type(v));
        if (!form) raise_error_type(err::script::cannot_use, cell_type(v));
        left = form(v, out, nullptr, limit);
    }
    stack_pop(1);
    return left;
}

int32_t mold_value(const Cell* value, Cell* out, int32_t limit) {
    Cell* v = stack_push_copy(value);
    MoldFn mold = action_of<Act::mold>(cell_type(v));
    if (!mold) raise_error_type(err::script::cannot_use, cell_type(v));
    int32_t left = mold(v, out, false, false, false, nullptr, limit, 0);
    stack_pop(1);
    return left;
}

static const char caret_letters[] = "@ABCDEFGH-/KLMNOPQRSTUVWXYZ[\\]^_";

static void escaped_char(std::vector<uint32_t>& out, uint32_t cp, int selector, bool all) {
    if (cp == 30 || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        out.push_back('^');
        out.push_back('(');
        for (const char* h = string_int_to_hex(int32_t(cp), true); *h; ++h) out.push_back(uint8_t(*h));
        out.push_back(')');
        return;
    }
    if (selector == ESCAPE_CARET) {
        char e = cp < 32 ? caret_letters[cp] : cp == '"' ? '"' : cp == '^' ? '^' : cp == 127 ? '~' : 0;
        if (e) { out.push_back('^'); out.push_back(uint8_t(e)); return; }
    }
    out.push_back(cp);
}

void string_append_escaped_char(Cell* out, uint32_t cp, int selector, bool all) {
    std::vector<uint32_t> cps;
    escaped_char(cps, cp, selector, all);
    append_codepoints(out, cps.data(), cps.size());
}

static int32_t form_string(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    Cell* v = stack_push_copy(value);
    int32_t part = arg ? std::max(limit, 0) : -1;
    uint32_t rest = string_rest_length(v);
    string_concatenate(out, v, part, 0, CONCAT_APPEND);
    stack_pop(1);
    return budget_left(limit, rest);
}

static int32_t mold_string(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* arg,
                           int32_t limit, int32_t indent) {
    // Everything is read into `text` before out grows (value may be series data).
    TextView t = text_view(value);
    uint32_t n = t.length;
    if (arg) n = limit < 0 ? 0 : std::min<uint32_t>(n, uint32_t(limit));
    std::vector<uint32_t> text(n);
    uint32_t quotes = 0, lines = 0;
    for (uint32_t i = 0; i < n; ++i) {
        text[i] = t[i];
        if (text[i] == '"') ++quotes;
        else if (text[i] == '\n') ++lines;
    }
    bool braced = lines >= 3 || quotes > 0 || t.length >= 50;
    std::vector<uint32_t> cps;
    cps.reserve(n + n / 4 + 2);
    cps.push_back(braced ? '{' : '"');
    if (braced) {
        // The first "{" without a closing "}" after it (nesting counted) is the
        // lowest one left open by a left-to-right bracket match.
        std::vector<uint32_t> open;
        for (uint32_t i = 0; i < n; ++i) {
            if (text[i] == '{') open.push_back(i);
            else if (text[i] == '}' && !open.empty()) open.pop_back();
        }
        uint32_t unbalanced_from = open.empty() ? n : open.front();
        uint32_t depth = 0;
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t c = text[i];
            if (c == '{') {
                if (i >= unbalanced_from) { cps.push_back('^'); cps.push_back('{'); }
                else { ++depth; cps.push_back('{'); }
            } else if (c == '}') {
                if (depth == 0) { cps.push_back('^'); cps.push_back('}'); }
                else { --depth; cps.push_back('}'); }
            } else if (c == '"') {
                cps.push_back('"');
            } else if (c == '^') {
                cps.push_back('^'); cps.push_back('^');
            } else {
                escaped_char(cps, c, 0, all);
            }
        }
    } else {
        for (uint32_t c : text) escaped_char(cps, c, ESCAPE_CARET, all);
    }
    cps.push_back(braced ? '}' : '"');
    append_codepoints(out, cps.data(), cps.size());
    return budget_left(limit, int64_t(n) + 2);
}

// --------------------------------------------------------------- copies and parts

void string_copy_range(Cell* out, const Cell* str, uint32_t from, uint32_t count) {
    TypeId type = cell_type(str);
    NodeRef sn = series_node(str);
    uint32_t unit = node_buffer(sn)->unit();
    NodeRef node = alloc_series_units(count ? count : 1, unit);
    SeriesBuffer* s = node_buffer(sn);
    SeriesBuffer* d = node_buffer(node);
    std::memcpy(d->head_ptr(), s->head_ptr() + size_t(from) * unit, size_t(count) * unit);
    d->tail = d->head + count * unit;
    set_series(out, type, node);
}

[[noreturn]] void raise_refine_arg(const char* refinement, const Cell* value) {
    Cell* v = stack_push_copy(value);  // value may be series data; naming the word allocates
    Cell word = word_from_symbol(symbol_from_cstring(refinement));
    raise_error(err::script::invalid_refine_arg, &word, v);
}

int64_t string_part_distance(const Cell* str, const Cell* part, const char* refinement) {
    if (cell_is(part, T_INTEGER)) return get_integer(part);
    if (cell_type(part) == cell_type(str) && series_node(part) == series_node(str))
        return int64_t(series_index(part)) - int64_t(series_index(str));
    raise_refine_arg(refinement, part);
}

// --------------------------------------------------------------- case change

void string_change_case(Cell* value, const Cell* part, bool upper) {
    if (cell_is(value, T_CHAR)) {
        put_char(value, unicode_map_char_case(get_char(value), upper));
        return;
    }
    uint32_t index = string_index_clamp(value);
    uint32_t rest = string_rest_length(value);
    uint32_t count = rest;
    if (part) {
        int64_t d = string_part_distance(value, part, "part");
        count = uint32_t(std::clamp<int64_t>(d, 0, rest));
    }
    NodeRef node = series_node(value);
    for (uint32_t i = index; i < index + count; ++i) {
        SeriesBuffer* b = node_buffer(node);
        uint32_t cp = unit_get(b->head_ptr() + size_t(i) * b->unit(), b->unit());
        uint32_t mapped = unicode_map_char_case(cp, upper);
        if (mapped != cp) string_poke_char(node, i, mapped);
    }
    ownership_notice(value, upper ? ChangeWord::uppercase : ChangeWord::lowercase, nullptr, int32_t(index),
                     int32_t(count));
}

// --------------------------------------------------------------- make, to, path

static void append_block_formed(Cell* out, const Cell* block) {
    NodeRef node = series_node(block);
    for (uint32_t i = series_index(block);; ++i) {
        SeriesBuffer* b = node_buffer(node);
        if (i >= b->count()) break;
        form_value(b->cells() + i, out, NO_LIMIT);
    }
}

static void to_string(ActionFrame& f) {
    Cell* value = f.args + 1;
    TypeId target = f.type;
    Cell* out = stack_push();
    TypeId vt = cell_type(value);
    if (vt == T_NONE) raise_error_type(err::script::bad_to_arg, T_STRING, value);
    if (vt == T_BLOCK || vt == T_PAREN || vt == T_HASH) {
        string_make(out, 16);
        append_block_formed(out, value);
    } else if (is_text_type(vt)) {
        TextView t = text_view(value);
        string_copy_range(out, value, t.index, t.length);
    } else if (vt == T_REFINEMENT) {
        string_make(out, 16);
        if (target == T_STRING) form_value(value, out, NO_LIMIT);
        else mold_value(value, out, NO_LIMIT);
    } else if (vt == T_BINARY) {
        string_make(out, 16);
        SeriesBuffer* b = node_buffer(series_node(value));
        uint32_t n = b->count();
        uint32_t rest = 0;
        NodeRef node = string_load_utf8_series(series_node(value), 0, n, series_node(out), &rest, false);
        series_set_node(out, node);
        if (rest) {
            Cell* bin = stack_push();
            NodeRef bn = alloc_series_bytes(rest);
            SeriesBuffer* src = node_buffer(series_node(value));
            SeriesBuffer* dst = node_buffer(bn);
            std::memcpy(dst->head_ptr(), src->head_ptr() + (n - rest), rest);
            dst->tail = dst->head + rest;
            set_series(bin, T_BINARY, bn);
            raise_error(err::access::invalid_utf8, bin);
        }
    } else {
        string_make(out, 16);
        form_value(value, out, NO_LIMIT);
    }
    cell_set_type(out, target);
    series_set_index(out, 0);
    text_set_cache_node(out, 0);
    f.args[0] = *out;
}

static void make_string(ActionFrame& f) {
    Cell* spec = f.args + 1;
    if (cell_is(spec, T_INTEGER) || cell_is(spec, T_FLOAT)) {
        int64_t size;
        if (cell_is(spec, T_INTEGER)) size = get_integer(spec);
        else {
            double d = get_float(spec);
            if (!(d >= -2147483648.0 && d < 2147483648.0)) raise_error(err::script::out_of_range, spec);
            size = int64_t(d);
        }
        if (size < 0) raise_error(err::script::out_of_range, spec);
        Cell* out = stack_push();
        NodeRef node = alloc_series_units(uint32_t(size), 1);
        set_series(out, f.type, node);
        f.args[0] = *out;
        return;
    }
    if (f.type == T_BINARY) {
        if (cell_is(spec, T_MONEY)) raise_error_type(err::script::bad_make_arg, T_BINARY, spec);
        action_required<Act::to>(T_BINARY)(f);
        return;
    }
    to_string(f);
}

// Picks (1-based from the index; negative counts back) or pokes one code point.
static void pick_poke(PathStep& step) {
    Cell* s = step.parent;
    int64_t n = get_integer(step.element);
    int64_t pos = int64_t(series_index(s)) + (n > 0 ? n - 1 : n);
    uint32_t total = string_length_from_head(s);
    bool inside = n != 0 && pos >= 0 && pos < int64_t(total);
    if (!step.set) {
        if (inside) set_char(step.result, unit_get(node_buffer(series_node(s))->head_ptr() + size_t(pos) * node_buffer(series_node(s))->unit(), node_buffer(series_node(s))->unit()));
        else set_none(step.result);
        return;
    }
    if (!inside) raise_error(err::script::out_of_range, step.element);
    if (!cell_is(step.set, T_CHAR)) raise_error(err::script::invalid_arg, step.set);
    string_poke_char(series_node(s), uint32_t(pos), get_char(step.set));
    *step.result = *step.set;
}

static void eval_path_string(PathStep& step) {
    TypeId et = cell_type(step.element);
    if (et == T_INTEGER) { pick_poke(step); return; }
    if (et == T_WORD) raise_error(err::script::invalid_path, step.path ? step.path : step.parent, step.element);
    uint32_t start, length;
    bool hit = string_find_for_path(step.parent, step.element, &start, &length);
    Cell* s = step.parent;
    if (!step.set) {
        uint32_t after = start + length;  // select: the code point after the match
        if (hit && after < string_length_from_head(s)) {
            SeriesBuffer* b = node_buffer(series_node(s));
            set_char(step.result, unit_get(b->head_ptr() + size_t(after) * b->unit(), b->unit()));
        } else {
            set_none(step.result);
        }
        return;
    }
    if (!hit) raise_error(err::script::bad_path_set, step.path ? step.path : step.parent, step.element);
    if (!cell_is(step.set, T_CHAR)) raise_error(err::script::invalid_arg, step.set);
    uint32_t pos = start + 1;  // position 2 of the found series
    if (pos >= string_length_from_head(s)) raise_error(err::script::out_of_range, step.element);
    string_poke_char(series_node(s), pos, get_char(step.set));
    *step.result = *step.set;
}

// --------------------------------------------------------------- registration

template <> void register_type<T_STRING>() {
    register_datatype(T_STRING, {
        .make = make_string, .to = to_string, .form = form_string, .mold = mold_string,
        .eval_path = eval_path_string, .compare = compare_string, .append = string_append_action,
        .change = string_change_action, .find = string_find_action, .insert = string_insert_action,
        .select = string_select_action, .sort = string_sort_action, .swap = string_swap_action,
        .take = string_take_action, .trim = string_trim_action
    });
}

}  // namespace tev

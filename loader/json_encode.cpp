// Values to JSON text, the fast path of to-json. It follows the library's Tev
// encoder branch by branch and declines (returns false) wherever that code
// raises or where its meaning rests on code it runs: every error stays the
// encoder's own. The text is built outside the collector's heap and becomes a
// string! at the end; containers being written are held on the value stack and
// re-read through their nodes after each value, since molding one may allocate.
#include "loader/json_encode.h"
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "runtime/context_table.h"
#include "runtime/float_format.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// Below the depth where the Tev encoder runs out of stack when called from
// the top level (some hundreds of maps): deeper values are left to it, so
// that it raises what it raises.
constexpr int MAX_DEPTH = 64;

// ================================================================== the text

// Writes at the tail of a string! (rooted), in the unit appending the same
// characters would give. The write position is kept as an address between
// allocations: sync() stores it as the tail before anything that may allocate,
// and reload() reads the buffer again after.
class TextSink {
public:
    explicit TextSink(Cell* str) : str_(str) { reload(); }

    void put(uint32_t cp) {
        if (unit_for_append(cp) > unit_) widen(unit_for_append(cp));
        if (end_ - at_ < ptrdiff_t(unit_)) grow(unit_);
        if (unit_ == 1) *at_ = uint8_t(cp);
        else unit_put(at_, unit_, cp);
        at_ += unit_;
    }
    void put_ascii(const char* s, size_t n) {
        if (size_t(end_ - at_) < n * unit_) grow(uint32_t(n * unit_));
        if (unit_ == 1) {
            std::memcpy(at_, s, n);
            at_ += n;
            return;
        }
        for (size_t i = 0; i < n; ++i, at_ += unit_) unit_put(at_, unit_, uint8_t(s[i]));
    }
    void put_ascii(const char* s) { put_ascii(s, std::char_traits<char>::length(s)); }
    // Counts the sink's own allocations: a reader of series data re-reads
    // its buffer when the count moved.
    uint32_t allocations() const { return allocations_; }

    void sync() const { buffer()->tail = uint32_t(at_ - buffer()->data); }
    void reload() {
        SeriesBuffer* b = buffer();
        unit_ = b->unit();
        at_ = b->tail_ptr();
        end_ = b->data + b->size;
    }

private:
    SeriesBuffer* buffer() const { return node_buffer(series_node(str_)); }
    void grow(uint32_t bytes) {
        ++allocations_;
        sync();
        series_ensure_room(series_node(str_), bytes < 4096 ? 4096 : bytes);
        reload();
    }
    void widen(uint32_t unit) {
        ++allocations_;
        sync();
        string_widen_to(series_node(str_), unit);
        reload();
    }

    Cell* str_;
    uint32_t unit_ = 1;
    uint8_t* at_ = nullptr;
    uint8_t* end_ = nullptr;
    uint32_t allocations_ = 0;
};

// ================================================================== the encoder

// What same? compares for the containers written: the node, and a block's index.
struct OpenContainer {
    TypeId type;
    NodeRef node;
    uint32_t index;
    bool operator==(const OpenContainer&) const = default;
};

class Encoder {
public:
    // out: the string! written to; scratch: made a string! when a form or
    // mold is first needed. Both rooted.
    Encoder(const JsonEncodeOptions& o, Cell* out, Cell* scratch)
        : out_(out), ascii_(o.ascii), pretty_(cell_is(o.indent, T_STRING)), scratch_(scratch) {
        if (pretty_) {
            uint32_t n = string_length(o.indent);
            for (uint32_t i = 0; i < n; ++i) indent_.push_back(string_char_at(o.indent, i));
        }
    }

    bool value(Cell v, int depth);
    void finish() const { out_.sync(); }

private:
    bool block(const Cell& v, int depth);
    bool map(const Cell& v, int depth);
    bool object(const Cell& v, int depth);
    bool key(Cell k);
    bool enter(const OpenContainer& c);
    void leave() { open_.pop_back(); }
    void open_line(int change);
    void separator();
    void written(const Cell& v, bool mold);

    void integer(int32_t n);
    void finite_float(double d);
    bool is_plain(uint32_t cp) const {
        if (cp < 32 || cp == '"' || cp == '\\') return false;
        return !ascii_ || cp <= 127;
    }
    void escape(uint32_t cp);
    void text(Cell str);
    void spelling(int32_t symbol);

    TextSink out_;
    bool ascii_;
    bool pretty_;
    Cell* scratch_;
    std::vector<uint32_t> indent_;
    int level_ = 0;
    std::vector<OpenContainer> open_;
};

// ------------------------------------------------------------ scalars

void Encoder::integer(int32_t n) {
    char digits[12];
    char* p = digits + sizeof digits;
    uint32_t u = n < 0 ? 0u - uint32_t(n) : uint32_t(n);
    do {
        *--p = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (n < 0) *--p = '-';
    out_.put_ascii(p, size_t(digits + sizeof digits - p));
}

void Encoder::finite_float(double d) {
    char text[FLOAT_FORMAT_MAX];
    out_.put_ascii(text, float_format(d, FLOAT_KIND_FLOAT, text));
}

// ------------------------------------------------------------ strings

// A character outside the plain set: its short escape, else \u with upper-case
// hex digits (a surrogate pair beyond U+FFFF).
void Encoder::escape(uint32_t cp) {
    switch (cp) {
    case '"': out_.put_ascii("\\\""); return;
    case '\\': out_.put_ascii("\\\\"); return;
    case '\b': out_.put_ascii("\\b"); return;
    case '\f': out_.put_ascii("\\f"); return;
    case '\n': out_.put_ascii("\\n"); return;
    case '\r': out_.put_ascii("\\r"); return;
    case '\t': out_.put_ascii("\\t"); return;
    default: break;
    }
    static const char hex[] = "0123456789ABCDEF";
    auto unit16 = [&](uint32_t u) {
        char e[6] = {'\\', 'u', hex[(u >> 12) & 15], hex[(u >> 8) & 15], hex[(u >> 4) & 15], hex[u & 15]};
        out_.put_ascii(e, 6);
    };
    if (cp <= 0xFFFF) {
        unit16(cp);
        return;
    }
    uint32_t rest = cp - 0x10000;
    unit16((rest >> 10) + 0xD800);
    unit16((rest & 0x3FF) + 0xDC00);
}

// The text of a string-kind cell from its index, quoted.
void Encoder::text(Cell str) {
    SeriesBuffer* b = node_buffer(series_node(&str));
    uint32_t total = b->count(), unit = b->unit();
    uint32_t from = series_index(&str) < total ? series_index(&str) : total;
    out_.put('"');
    uint32_t seen = out_.allocations();
    const uint8_t* p = node_buffer(series_node(&str))->head_ptr();
    for (uint32_t i = from; i < total; ++i) {
        if (out_.allocations() != seen) {
            seen = out_.allocations();
            p = node_buffer(series_node(&str))->head_ptr();
        }
        uint32_t cp = unit_get(p + size_t(i) * unit, unit);
        if (is_plain(cp)) out_.put(cp);
        else escape(cp);
    }
    out_.put('"');
}

// A word's spelling as a quoted string, as form gives it.
void Encoder::spelling(int32_t symbol) {
    out_.put('"');
    uint32_t length = 0;
    const uint8_t* head = symbol_spelling(symbol, &length);
    uint32_t seen = out_.allocations();
    for (uint32_t at = 0; at < length;) {
        if (out_.allocations() != seen) {
            seen = out_.allocations();
            head = symbol_spelling(symbol, &length);
        }
        int32_t cp;
        at = uint32_t(utf8_next_char(head + at, head + length, &cp) - head);
        uint32_t c = cp < 0 ? 0xFFFD : uint32_t(cp);
        if (is_plain(c)) out_.put(c);
        else escape(c);
    }
    out_.put('"');
}

// The form (or mold) of a value as a quoted string.
void Encoder::written(const Cell& v, bool mold) {
    StackScope scope;
    Cell* held = stack_push_copy(&v);
    out_.sync();
    if (!cell_is(scratch_, T_STRING)) string_make(scratch_, 64);
    string_reset(scratch_);
    if (mold) mold_dispatch(held, scratch_);
    else form_dispatch(held, scratch_);
    out_.reload();
    text(*scratch_);
}

// ------------------------------------------------------------ containers

bool Encoder::enter(const OpenContainer& c) {
    for (const OpenContainer& o : open_)
        if (o == c) return false;  // a value that holds itself: the Tev encoder raises
    open_.push_back(c);
    return true;
}

// A line break and the indentation, after moving the level by change.
void Encoder::open_line(int change) {
    level_ += change;
    out_.put('\n');
    for (int i = 0; i < level_; ++i)
        for (uint32_t cp : indent_) out_.put(cp);
}

void Encoder::separator() {
    out_.put(',');
    if (pretty_) open_line(0);
}

bool Encoder::block(const Cell& v, int depth) {
    StackScope scope;
    Cell* b = stack_push_copy(&v);
    uint32_t n = block_length(b);
    if (n == 0) {
        out_.put_ascii("[]");
        return true;
    }
    if (!enter({T_BLOCK, series_node(b), series_index(b)})) return false;
    out_.put('[');
    if (pretty_) open_line(1);
    for (uint32_t i = 0; i < n; ++i) {
        if (i) separator();
        if (!value(*block_at(b, i), depth + 1)) return false;
    }
    if (pretty_) open_line(-1);
    out_.put(']');
    leave();
    return true;
}

// A key as the Tev encoder writes it: a word formed, a string as it is, an
// integer molded. Other keys are left to it.
bool Encoder::key(Cell k) {
    switch (cell_type(&k)) {
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: spelling(word_symbol(&k)); return true;
    case T_STRING: text(k); return true;
    case T_INTEGER:
        out_.put('"');
        integer(get_integer(&k));
        out_.put('"');
        return true;
    default: return false;
    }
}

// Entries in their order, deleted ones (a value cell of type 0) skipped.
bool Encoder::map(const Cell& v, int depth) {
    StackScope scope;
    Cell* m = stack_push_copy(&v);
    if (map_size(m) == 0) {
        out_.put_ascii("{}");
        return true;
    }
    if (!enter({T_MAP, series_node(m), 0})) return false;
    out_.put('{');
    if (pretty_) open_line(1);
    bool first = true;
    for (uint32_t i = 0; i < node_buffer(series_node(m))->count(); i += 2) {
        const Cell* entry = node_buffer(series_node(m))->cells() + i;
        if (entry[1].header == 0) continue;
        if (!first) separator();
        first = false;
        Cell name = entry[0], item = entry[1];
        if (!key(name)) return false;
        out_.put(':');
        if (pretty_) out_.put(' ');
        if (!value(item, depth + 1)) return false;
    }
    if (pretty_) open_line(-1);
    out_.put('}');
    leave();
    return true;
}

// Fields in their order. An object with change handlers is left to the Tev code.
bool Encoder::object(const Cell& v, int depth) {
    if (object_handlers(&v) != 0) return false;
    StackScope scope;
    Cell* o = stack_push_copy(&v);
    NodeRef ctx = object_context(o);
    uint32_t n = context_word_count(ctx);
    if (n == 0) {
        out_.put_ascii("{}");
        return true;
    }
    if (!enter({T_OBJECT, ctx, 0})) return false;
    out_.put('{');
    if (pretty_) open_line(1);
    for (uint32_t k = 0; k < n; ++k) {
        if (k) separator();
        spelling(word_symbol(context_word_at(ctx, k)));
        out_.put(':');
        if (pretty_) out_.put(' ');
        Cell item = node_buffer(context_cell_values(context_cell(ctx)))->cells()[k];
        if (!value(item, depth + 1)) return false;
    }
    if (pretty_) open_line(-1);
    out_.put('}');
    leave();
    return true;
}

// ------------------------------------------------------------ any value

bool Encoder::value(Cell v, int depth) {
    if (depth > MAX_DEPTH) return false;
    switch (cell_type(&v)) {
    case T_NONE: out_.put_ascii("null"); return true;
    case T_LOGIC: out_.put_ascii(get_logic(&v) ? "true" : "false"); return true;
    case T_INTEGER: integer(get_integer(&v)); return true;
    case T_FLOAT:
        if (float_inf_or_nan_q(get_float(&v))) return false;  // the Tev encoder raises invalid-data
        finite_float(get_float(&v));
        return true;
    case T_PERCENT: finite_float(get_float(&v)); return true;  // written as the float it stands for
    case T_STRING: text(v); return true;
    case T_BLOCK: return block(v, depth);
    case T_MAP: return map(v, depth);
    case T_OBJECT: return object(v, depth);
    case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: written(v, false); return true;
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
    case T_CHAR: case T_PAIR: case T_TUPLE: case T_TIME: case T_DATE: case T_MONEY:
        written(v, true);
        return true;
    default:
        // Paths, parens and hashes are written as block copies that same? never
        // matches; functions, errors, unset and the rest mold through their own code.
        return false;
    }
}

}  // namespace

bool json_encode(Cell* out, const Cell* value, const JsonEncodeOptions& options) {
    StackScope scope;
    Cell* text = string_push(4000);
    Cell* scratch = stack_push();
    set_none(scratch);
    Encoder encoder(options, text, scratch);
    if (!encoder.value(*value, 0)) return false;
    encoder.finish();
    *out = *text;
    return true;
}

}  // namespace tev

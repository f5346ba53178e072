// CSV's native halves behind load-csv and to-csv. The splitter follows the
// library's grammar step for step (a field tries quoted, then unterminated,
// then plain, as the grammar's alternatives do); the joiner follows
// to-csv-line and escape-value. Positions are unit offsets from the buffer's
// head, and every buffer address is read again after an allocation.
#include "loader/csv_codec.h"
#include <cstring>
#include <vector>
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr uint32_t CR = '\r', LF = '\n';

// The Tev code finds, replaces and compares the quote character folding case.
// An ASCII character that is not a letter folds to itself alone, so exact
// comparisons give the same answers; any other quote is left to the Tev code.
bool quote_folds_to_itself(uint32_t q) {
    uint32_t lower = q | 0x20;
    return q < 0x80 && !(lower >= 'a' && lower <= 'z');
}

bool is_pad(uint32_t c) { return c == ' ' || c == '\t'; }

// The delimiter's code points. A string not at its head is left to the Tev code.
bool delimiter_points(const Cell* d, std::vector<uint32_t>* out) {
    if (cell_is(d, T_CHAR)) {
        out->push_back(get_char(d));
        return true;
    }
    if (!cell_is(d, T_STRING) || series_index(d) != 0) return false;
    uint32_t n = string_length(d);
    for (uint32_t i = 0; i < n; ++i) out->push_back(string_char_at(d, i));
    return true;
}

// ================================================================== splitting

// The rules the splitter takes on: a quote and a delimiter that the grammar
// never confuses with a line end, with each other or (with /trim) with the
// padding, and the doubled quote that the grammar's collapsing expects.
bool split_rules_taken(const CsvSplitRules& r, std::vector<uint32_t>* delimiter) {
    if (!cell_is(r.quote, T_CHAR)) return false;
    uint32_t q = get_char(r.quote);
    if (!quote_folds_to_itself(q) || q == CR || q == LF || (r.trim && is_pad(q))) return false;
    if (!delimiter_points(r.delimiter, delimiter) || delimiter->empty()) return false;
    for (uint32_t c : *delimiter)
        if (c == CR || c == LF || c == q || (r.trim && is_pad(c))) return false;
    return cell_is(r.double_quote, T_STRING) && string_length(r.double_quote) == 2 &&
           string_char_at(r.double_quote, 0) == q && string_char_at(r.double_quote, 1) == q;
}

// One field as the grammar matched it.
struct FieldSpan {
    uint32_t from, to;  // the value's units
    uint32_t next;      // where the field ends: a delimiter, a line end or the end
    bool pairs;         // a quoted value holding doubled quotes
    bool unterminated;  // an opening quote that nothing closes
};

template <class T> class Splitter {
public:
    // `text` must stay rooted: its node is read through it after every allocation.
    Splitter(const Cell* text, uint32_t end, const std::vector<uint32_t>& delimiter, uint32_t quote, bool trim)
        : text_(text), end_(end), delimiter_(delimiter), quote_(quote), trim_(trim),
          new_line_(cell_has_flag(text, FLAG_NEW_LINE)) {}

    uint32_t end() const { return end_; }
    uint32_t delimiter_length() const { return uint32_t(delimiter_.size()); }
    const T* text() const { return reinterpret_cast<const T*>(node_buffer(series_node(text_))->head_ptr()); }
    static bool is_line_end(uint32_t c) { return c == CR || c == LF; }

    bool delimiter_at(const T* t, uint32_t i) const {
        if (t[i] != delimiter_[0]) return false;
        if (end_ - i < delimiter_.size()) return false;
        for (size_t k = 1; k < delimiter_.size(); ++k)
            if (t[i + k] != delimiter_[k]) return false;
        return true;
    }
    bool field_ends_at(const T* t, uint32_t i) const {
        return i >= end_ || is_line_end(t[i]) || delimiter_at(t, i);
    }
    uint32_t skip_pad(const T* t, uint32_t i) const {
        if (trim_)
            while (i < end_ && is_pad(t[i])) ++i;
        return i;
    }

    // The first position at or after i that is not a line end (end_ when none).
    uint32_t skip_line_ends(uint32_t i) const {
        const T* t = text();
        while (i < end_ && is_line_end(t[i])) ++i;
        return i;
    }
    // Past the line end at i (CR LF, CR or LF), if any.
    uint32_t past_line_end(uint32_t i) const {
        const T* t = text();
        if (i >= end_) return i;
        if (t[i] == CR && i + 1 < end_ && t[i + 1] == LF) return i + 2;
        return i + 1;
    }

    FieldSpan field(uint32_t i) const {
        const T* t = text();
        uint32_t q = skip_pad(t, i);
        if (q < end_ && t[q] == quote_) {
            // Runs of other characters and doubled quotes, up to a lone quote.
            uint32_t r = q + 1;
            bool pairs = false;
            for (;;) {
                while (r < end_ && t[r] != quote_) ++r;
                if (r + 1 < end_ && t[r + 1] == quote_) {
                    r += 2;
                    pairs = true;
                    continue;
                }
                break;
            }
            if (r >= end_) return {0, 0, 0, false, true};
            uint32_t after = skip_pad(t, r + 1);
            if (field_ends_at(t, after)) return {q + 1, r, after, pairs, false};
            // Text after the closing quote: the whole field reads as plain text.
        }
        uint32_t e = i;
        if (delimiter_.size() == 1 && delimiter_[0] <= T(~T(0))) {
            T d = T(delimiter_[0]);
            while (e < end_ && t[e] != d && !is_line_end(t[e])) ++e;
        } else {
            while (!field_ends_at(t, e)) ++e;
        }
        uint32_t from = i, to = e;
        if (trim_) {
            while (from < to && string_is_space(t[from])) ++from;
            while (to > from && string_is_space(t[to - 1])) --to;
            if (to - from >= 2 && t[from] == quote_ && t[to - 1] == quote_) {
                ++from;
                --to;
            }
        }
        return {from, to, e, false, false};
    }

    // A new string! (the text's unit, as copy/part makes it) into the rooted
    // cell. Like any copy, it keeps the text cell's new-line mark, which mold
    // shows as a line break before the value.
    void make_value(Cell* out, const FieldSpan& f) const {
        uint32_t count = f.to - f.from;
        NodeRef node = alloc_series_units(count, sizeof(T));
        const T* t = text();
        SeriesBuffer* b = node_buffer(node);
        T* d = reinterpret_cast<T*>(b->head_ptr());
        uint32_t n = 0;
        if (!f.pairs) {
            std::memcpy(d, t + f.from, size_t(count) * sizeof(T));
            n = count;
        } else {
            for (uint32_t k = f.from; k < f.to; ++k) {
                d[n++] = t[k];
                if (t[k] == quote_) ++k;
            }
        }
        b->tail = b->head + n * uint32_t(sizeof(T));
        set_series(out, T_STRING, node);
        if (new_line_) cell_set_flag(out, FLAG_NEW_LINE);
    }

private:
    const Cell* text_;
    uint32_t end_;
    const std::vector<uint32_t>& delimiter_;
    uint32_t quote_;
    bool trim_;
    bool new_line_;
};

// The grammar's rows rule with end-line's checks. Lines and fields are built
// in value-stack cells, so the collector sees them at every allocation.
template <class T>
CsvStop split_lines(Cell* lines, const Splitter<T>& s, uint32_t i, const CsvSplitRules& rules) {
    Cell* row = stack_push();
    Cell* value = stack_push();
    uint32_t expected = 0;
    bool have_expected = false;
    uint32_t content = s.skip_line_ends(i);  // when not below i, the first position at or after i holding no line end
    for (;;) {
        // Only line ends left: they are skipped, and the text is done.
        if (content < i) content = s.skip_line_ends(i);
        if (content >= s.end()) return CsvStop::none;
        block_make(row, have_expected ? expected : 8);
        bool last_empty = false;
        for (;;) {
            FieldSpan f = s.field(i);
            if (f.unterminated) return CsvStop::unterminated;
            s.make_value(value, f);
            block_append(row, value);
            last_empty = f.from == f.to;
            i = f.next;
            if (i < s.end() && s.delimiter_at(s.text(), i)) {
                i += s.delimiter_length();
                continue;
            }
            break;
        }
        i = s.past_line_end(i);
        if (rules.ignore_empty && last_empty) block_remove_last(row);
        uint32_t length = block_length(row);
        if (!have_expected) {
            expected = length;
            have_expected = true;
        } else if (rules.strict && length != expected) {
            return CsvStop::non_aligned;
        }
        block_append(lines, row);
    }
}

// ================================================================== joining

// A bitset's membership read once: its bytes, and what lies beyond them.
struct Membership {
    std::vector<uint8_t> bytes;
    bool beyond;
    explicit Membership(const Cell* bitset) : beyond(bitset_complemented(bitset)) {
        SeriesBuffer* b = node_buffer(series_node(bitset));
        bytes.assign(b->head_ptr(), b->tail_ptr());
    }
    bool has(uint32_t cp) const {
        size_t i = cp >> 3;
        return i < bytes.size() ? (bytes[i] & (0x80 >> (cp & 7))) != 0 : beyond;
    }
};

// Values whose form is plain text made without running code; the Tev code
// forms the others itself.
bool join_takes_value(const Cell* v) {
    switch (cell_type(v)) {
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_CHAR: case T_INTEGER: case T_FLOAT:
    case T_PERCENT: case T_MONEY: case T_LOGIC: case T_NONE: case T_WORD: case T_SET_WORD: case T_LIT_WORD:
    case T_GET_WORD: case T_REFINEMENT: case T_ISSUE: case T_PAIR: case T_TUPLE: case T_TIME: case T_DATE:
        return true;
    default:
        return false;
    }
}

bool join_takes_values(const Cell* block) {
    uint32_t n = block_length(block);
    for (uint32_t i = 0; i < n; ++i)
        if (!join_takes_value(block_at(block, i))) return false;
    return true;
}

bool join_takes_records(const Cell* records, uint32_t size) {
    if (size) return block_length(records) % size == 0 && join_takes_values(records);
    uint32_t n = block_length(records);
    for (uint32_t i = 0; i < n; ++i) {
        const Cell* record = block_at(records, i);
        if (!cell_is(record, T_BLOCK) || !join_takes_values(record)) return false;
    }
    return true;
}

class Joiner {
public:
    Joiner(Cell* output, const Cell* delimiter, uint32_t quote, const Cell* quotable)
        : output_(output), delimiter_(delimiter), quote_(quote), quotable_(quotable) {
        run_ = stack_push();
        value_ = stack_push();
        formed_ = stack_push();
        string_make(formed_, 64);
    }

    // One line of n values starting at cell `first` of block (re-read after
    // every append, which may move it).
    void line(const Cell* block, uint32_t first, uint32_t n) {
        for (uint32_t j = 0; j < n; ++j) {
            if (j) append_delimiter();
            *value_ = *block_at(block, first + j);
            const Cell* text = value_;
            if (!cell_is(value_, T_STRING)) {
                string_reset(formed_);
                form_dispatch(value_, formed_);
                text = formed_;
            }
            append_value(text);
        }
        append_char(LF);
    }

private:
    void append_char(uint32_t cp) { string_append_char(series_node(output_), cp); }
    void append_delimiter() {
        if (cell_is(delimiter_, T_CHAR)) append_char(get_char(delimiter_));
        else string_concatenate(output_, delimiter_, -1, 0, CONCAT_APPEND);
    }
    // Appends count code points of text from position from (in the buffer).
    void append_run(const Cell* text, uint32_t from, uint32_t count) {
        set_series(run_, cell_type(text), series_node(text), from);
        string_concatenate(output_, run_, int32_t(count), 0, CONCAT_APPEND);
    }
    // The first position from `from` whose code point is the quote (with
    // quotes) or quotable (without), else end. Reads without allocating.
    uint32_t scan(const Cell* text, uint32_t from, uint32_t end, bool quotes) const {
        SeriesBuffer* b = node_buffer(series_node(text));
        uint32_t unit = b->unit();
        const uint8_t* p = b->head_ptr();
        for (uint32_t k = from; k < end; ++k) {
            uint32_t c = unit_get(p + size_t(k) * unit, unit);
            if (quotes ? c == quote_ : quotable_.has(c)) return k;
        }
        return end;
    }
    // The text as is, or quoted with its quotes doubled when it holds a quotable character.
    void append_value(const Cell* text) {
        uint32_t end = string_length_from_head(text), from = end - string_length(text);
        if (scan(text, from, end, false) == end) {
            append_run(text, from, end - from);
            return;
        }
        append_char(quote_);
        for (uint32_t pos = from; pos < end;) {
            uint32_t stop = scan(text, pos, end, true);
            append_run(text, pos, stop - pos);
            if (stop == end) break;
            append_char(quote_);
            append_char(quote_);
            pos = stop + 1;
        }
        append_char(quote_);
    }

    Cell* output_;
    const Cell* delimiter_;
    uint32_t quote_;
    Membership quotable_;
    Cell* run_;
    Cell* value_;
    Cell* formed_;
};

}  // namespace

bool csv_split(Cell* lines, const Cell* text, const CsvSplitRules& rules, CsvStop* stop) {
    std::vector<uint32_t> delimiter;
    if (!split_rules_taken(rules, &delimiter)) return false;
    StackScope scope;
    Cell* result = block_push_new(8);
    SeriesBuffer* b = node_buffer(series_node(text));
    uint32_t end = b->count();
    uint32_t begin = series_index(text) < end ? series_index(text) : end;
    uint32_t q = get_char(rules.quote);
    switch (b->unit()) {
    case 1: *stop = split_lines(result, Splitter<uint8_t>(text, end, delimiter, q, rules.trim), begin, rules); break;
    case 2: *stop = split_lines(result, Splitter<uint16_t>(text, end, delimiter, q, rules.trim), begin, rules); break;
    default: *stop = split_lines(result, Splitter<uint32_t>(text, end, delimiter, q, rules.trim), begin, rules); break;
    }
    *lines = *result;
    return true;
}

bool csv_join(Cell* output, const Cell* records, uint32_t size, const Cell* delimiter, const Cell* quote,
              const Cell* quotable) {
    if (!cell_is(quote, T_CHAR) || !quote_folds_to_itself(get_char(quote))) return false;
    if (!join_takes_records(records, size)) return false;
    StackScope scope;
    Joiner joiner(output, delimiter, get_char(quote), quotable);
    uint32_t n = block_length(records);
    if (size) {
        for (uint32_t first = 0; first < n; first += size) joiner.line(records, first, size);
        return true;
    }
    Cell* record = stack_push();
    for (uint32_t i = 0; i < n; ++i) {
        *record = *block_at(records, i);
        joiner.line(record, 0, block_length(record));
    }
    return true;
}

}  // namespace tev

// The lexer's value loaders: each checks a token's text closely and makes its value;
// with no target cell a loader only checks. Also the escape decoder and the decimal
// checker.
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/url.h"
#include "loader/lexer_internal.h"
#include "runtime/context_table.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev::lex {

namespace {

[[noreturn]] void invalid(LexerState& ls, TypeId type) { syntax_error(ls, err::syntax::invalid, type); }

int hex_value(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool same_nocase(const uint8_t* s, const uint8_t* e, const char* word) {
    size_t n = std::strlen(word);
    if (size_t(e - s) != n) return false;
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = s[i];
        if (c >= 'A' && c <= 'Z') c = uint8_t(c + 32);
        if (c != uint8_t(word[i])) return false;
    }
    return true;
}

// ------------------------------------------------------------------ UTF-8

// One strictly decoded character at p (p < e): the code point, or -1 for a
// malformed, overlong, surrogate or cut sequence. Advances p.
int32_t next_char(const uint8_t*& p, const uint8_t* e) {
    uint8_t b = *p++;
    if (b < 0x80) return b;
    int len;
    uint32_t cp, min;
    if (b >= 0xC2 && b <= 0xDF) { len = 1; cp = b & 0x1F; min = 0x80; }
    else if (b >= 0xE0 && b <= 0xEF) { len = 2; cp = b & 0x0F; min = 0x800; }
    else if (b >= 0xF0 && b <= 0xF4) { len = 3; cp = b & 0x07; min = 0x10000; }
    else return -1;
    if (e - p < len) return -1;
    for (int i = 0; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return -1;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    p += len;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
    return int32_t(cp);
}

bool valid_utf8(const uint8_t* s, const uint8_t* e) {
    while (s < e) {
        if (*s < 0x80) { ++s; continue; }
        if (next_char(s, e) < 0) return false;
    }
    return true;
}

// ------------------------------------------------------------------ escapes

struct EscapeName { const char* name; uint32_t cp; };
constexpr EscapeName escape_names[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

// The escape after a "^" at p: the code point, or -1 when malformed. Advances p.
int32_t decode_escape(const uint8_t*& p, const uint8_t* e) {
    if (p >= e) return -1;
    uint8_t c = *p;
    if (c == '(') {
        const uint8_t* s = p + 1;
        const uint8_t* close = s;
        while (close < e && *close != ')' && close - s <= 6) ++close;
        if (close >= e || *close != ')') return -1;
        p = close + 1;
        for (const EscapeName& n : escape_names)
            if (same_nocase(s, close, n.name)) return int32_t(n.cp);
        size_t digits = size_t(close - s);
        if (digits == 0 || digits > 6) return -1;
        uint32_t cp = 0;
        for (const uint8_t* q = s; q < close; ++q) {
            int v = hex_value(*q);
            if (v < 0) return -1;
            cp = cp * 16 + uint32_t(v);
        }
        // Like the char! form: nothing beyond the last code point.
        if (cp > 0x10FFFF) return -1;
        return int32_t(cp);
    }
    switch (c) {
    case '@': ++p; return 0;
    case '/': ++p; return 10;
    case '-': ++p; return 9;
    case '~': ++p; return 127;
    case '"': case '{': case '}': case '^': ++p; return c;
    default: break;
    }
    if (c >= 'a' && c <= 'z') { ++p; return c - 'a' + 1; }
    if ((c >= 'A' && c <= 'Z') || c == '[' || c == '\\' || c == ']' || c == '_') { ++p; return c - 64; }
    return next_char(p, e);  // any other character stands for itself
}

// ------------------------------------------------------------------ strings

uint32_t unit_of_flags(uint32_t flags) { return (flags & F_WIDE4) ? 4 : (flags & F_WIDE2) ? 2 : 1; }
uint32_t unit_of_char(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }


// Decodes [s, e) into a new string of `type` in out; escapes after "^" when
// `escapes`. Raises invalid for `type` on bad UTF-8 or a bad escape.
void load_text(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, bool escapes,
               TypeId type, Cell* out) {
    if (e < s) invalid(ls, type);
    escapes = escapes && (flags & F_CARET);
    uint32_t unit = unit_of_flags(flags);
    if (!(flags & (F_WIDE2 | F_WIDE4)) && !escapes) {
        uint8_t any = 0;
        for (const uint8_t* p = s; p < e; ++p) any |= *p;
        if (any & 0x80) invalid(ls, type);  // a stray continuation byte
        if (!out) return;
        uint32_t count = uint32_t(e - s);
        string_make_width(out, count, 1, type);
        SeriesBuffer* b = node_buffer(series_node(out));
        std::memcpy(b->head_ptr(), s, count);
        b->tail = b->head + count;
        return;
    }
    // One decoding pass into a scratch buffer (no loader runs a hook, so no
    // nested call can be using it), then one copy at the widest unit met.
    static std::vector<uint32_t> chars;
    chars.clear();
    chars.reserve(size_t(e - s));
    uint32_t widest = 0;
    for (const uint8_t* p = s; p < e;) {
        int32_t cp;
        if (*p < 0x80 && *p != '^') cp = *p++;
        else if (escapes && *p == '^') { ++p; cp = decode_escape(p, e); }
        else cp = next_char(p, e);
        if (cp < 0) invalid(ls, type);
        if (uint32_t(cp) > widest) widest = uint32_t(cp);
        chars.push_back(uint32_t(cp));
    }
    if (!out) return;
    if (unit_of_char(widest) > unit) unit = unit_of_char(widest);
    uint32_t count = uint32_t(chars.size());
    string_make_width(out, count, unit, type);
    SeriesBuffer* b = node_buffer(series_node(out));
    uint8_t* dst = b->head_ptr();
    if (unit == 1) for (uint32_t i = 0; i < count; ++i) dst[i] = uint8_t(chars[i]);
    else if (unit == 2) for (uint32_t i = 0; i < count; ++i) { uint16_t v = uint16_t(chars[i]); std::memcpy(dst + 2 * i, &v, 2); }
    else std::memcpy(dst, chars.data(), size_t(count) * 4);
    b->tail = b->head + count * unit;
}

// Percent-decoding for files and urls: "%" and two hexadecimal digits is a byte,
// and runs of such bytes are read as UTF-8 with the rest. An escape that is
// not one (or not a whole character's) stays literal text, never an error.
void load_percent_text(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, TypeId type, Cell* out) {
    if (!(flags & F_PERCENT)) return load_text(ls, s, e, flags, false, type, out);
    if (e < s || !valid_utf8(s, e)) invalid(ls, type);
    if (!out) return;
    string_make(out, uint32_t(e - s), type);
    url_percent_decode(s, size_t(e - s), out);
}

// ------------------------------------------------------------------ words

Cell global_word(int32_t symbol, TypeId kind) {
    Cell w = word_intern_global(symbol, true, true);
    cell_set_type(&w, kind);
    return w;
}

int32_t intern(LexerState& ls, const uint8_t* s, const uint8_t* e, TypeId type) {
    if (s >= e || !valid_utf8(s, e)) invalid(ls, type);
    return symbol_from_utf8(s, uint32_t(e - s));
}

// ------------------------------------------------------------------ numbers

// The decimal checker: a 7-column automaton over the text.
bool is_decimal(const uint8_t* s, const uint8_t* e) {
    if (e - s > 312) return false;
    enum { REJECT = 9 };
    // Columns: other, sign, digit, exponent, ".", "'", end.
    static constexpr uint8_t table[9][7] = {
        {REJECT, 0, 1, REJECT, 4, REJECT, REJECT},
        {REJECT, REJECT, 1, 6, 5, 2, 0xFF},
        {REJECT, REJECT, 1, REJECT, REJECT, REJECT, 0xFF},
        {REJECT, REJECT, 3, 6, REJECT, 4, 0xFF},
        {REJECT, REJECT, 3, REJECT, REJECT, REJECT, 0xFF},
        {REJECT, REJECT, 3, REJECT, REJECT, REJECT, 0xFF},
        {REJECT, 7, 8, REJECT, REJECT, REJECT, REJECT},
        {REJECT, REJECT, 8, REJECT, REJECT, REJECT, REJECT},
        {REJECT, REJECT, 8, REJECT, REJECT, REJECT, 0xFF},
    };
    int state = 0;
    for (const uint8_t* p = s; p < e; ++p) {
        uint8_t c = *p;
        int col = (c == '+' || c == '-') ? 1 : (c >= '0' && c <= '9') ? 2 : (c == 'e' || c == 'E') ? 3
                : c == '.' ? 4 : c == '\'' ? 5 : 0;
        state = table[state][col];
        if (state == REJECT) return false;
    }
    return table[state][6] == 0xFF;
}

// The double of a decimal text, "'" separators dropped.
double decimal_value(const uint8_t* s, const uint8_t* e) {
    const char* cs = reinterpret_cast<const char*>(s);
    const char* ce = reinterpret_cast<const char*>(e);
    if (!std::memchr(s, '\'', size_t(e - s))) return parse_float(cs, ce);
    std::string text;
    text.reserve(size_t(e - s));
    for (const char* p = cs; p < ce; ++p)
        if (*p != '\'') text.push_back(*p);
    return parse_float(text.data(), text.data() + text.size());
}

void load_integer(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    uint64_t value = 0;
    int digits = 0;
    bool separator = false;
    for (; p < e; ++p) {
        if (*p == '\'') {
            if (separator) invalid(ls, T_INTEGER);
            separator = true;
            continue;
        }
        if (*p < '0' || *p > '9') invalid(ls, T_INTEGER);
        separator = false;
        if (++digits <= 10) value = value * 10 + uint64_t(*p - '0');
    }
    if (!digits) invalid(ls, T_INTEGER);
    if (!out) return;
    uint64_t limit = negative ? 2147483648u : 2147483647u;
    if (digits > 10 || value > limit) {
        set_float(out, decimal_value(s, e));
        return;
    }
    set_integer(out, negative ? int32_t(-int64_t(value)) : int32_t(value));
}

// Hexadecimal integers such as FFh: 1 to 8 digits, a single digit only 0-9.
void load_hex(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    size_t n = size_t(e - s) - 1;  // without the "h"
    if (n < 1 || n > 8 || (n == 1 && !(s[0] >= '0' && s[0] <= '9'))) invalid(ls, T_INTEGER);
    uint32_t value = 0;
    for (size_t i = 0; i < n; ++i) {
        int v = hex_value(s[i]);
        if (v < 0) invalid(ls, T_INTEGER);
        value = value * 16 + uint32_t(v);
    }
    if (out) set_integer(out, int32_t(value));
}

void load_float(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    if (!is_decimal(s, e)) invalid(ls, T_FLOAT);
    if (out) set_float(out, decimal_value(s, e));
}

// 1.#NaN, 1.#INF, -1.#INF, any case.
void load_special_float(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (e - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') invalid(ls, T_FLOAT);
    double value;
    if (same_nocase(p + 3, e, "nan")) value = __builtin_nan("");
    else if (same_nocase(p + 3, e, "inf")) value = negative ? -__builtin_inf() : __builtin_inf();
    else invalid(ls, T_FLOAT);
    if (out) set_float(out, value);
}

// [-]h:m, [-]h:m:s[.f], or m:s.f when the second number carries the fraction.
void load_time(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    const uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // Up to three numbers separated by ":"; only the last may have a fraction.
    const uint8_t* field[3];
    const uint8_t* field_end[3];
    int fields = 0;
    while (fields < 3) {
        const uint8_t* f = p;
        while (p < e && *p >= '0' && *p <= '9') ++p;
        if (p == f || p - f > 9) invalid(ls, T_TIME);
        if (p < e && *p == '.') {
            ++p;
            const uint8_t* digits = p;
            while (p < e && *p >= '0' && *p <= '9') ++p;
            if (p == digits || fields == 0) invalid(ls, T_TIME);
            field[fields] = f;
            field_end[fields++] = p;
            break;
        }
        field[fields] = f;
        field_end[fields++] = p;
        if (p == e) break;
        if (*p != ':') invalid(ls, T_TIME);
        ++p;
    }
    if (p != e || fields < 2) invalid(ls, T_TIME);
    if (!out) return;
    auto whole = [](const uint8_t* a, const uint8_t* b) {
        double v = 0;
        for (; a < b; ++a) v = v * 10 + (*a - '0');
        return v;
    };
    const char* last = reinterpret_cast<const char*>(field[fields - 1]);
    double seconds;
    bool last_has_fraction = std::memchr(field[fields - 1], '.', size_t(field_end[fields - 1] - field[fields - 1]));
    if (fields == 2 && last_has_fraction) {
        seconds = whole(field[0], field_end[0]) * 60 + parse_float(last, reinterpret_cast<const char*>(field_end[1]));
    } else {
        seconds = whole(field[0], field_end[0]) * 3600 + whole(field[1], field_end[1]) * 60;
        if (fields == 3) seconds += parse_float(last, reinterpret_cast<const char*>(field_end[2]));
    }
    set_float(out, negative ? -seconds : seconds, T_TIME);
}

// ------------------------------------------------------------------ characters and text

void load_char(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    const uint8_t* p = s + 2;  // after #"
    const uint8_t* end = e - 1; // before the closing quote
    if (p >= end) invalid(ls, T_CHAR);
    int32_t cp;
    if (*p == '^') { ++p; cp = decode_escape(p, end); }
    else cp = next_char(p, end);
    if (cp < 0 || p != end) invalid(ls, T_CHAR);
    if (out) set_char(out, uint32_t(cp));
}

void load_string(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    load_text(ls, s + 1, e - 1, flags, true, T_STRING, out);
}

// {...}: the text between the outer braces; a "{" after a line feed marks the string.
void load_braced_string(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    load_text(ls, s + 1, e - 1, flags, true, T_STRING, out);
}

// n "%" signs, "{", the text, "}" and n "%" signs.
void load_raw_string(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    size_t n = 0;
    while (s + n < e && s[n] == '%') ++n;
    const uint8_t* text = s + n + 1;
    const uint8_t* p = text;
    for (; p < e; ++p) {
        if (*p != '}' || size_t(e - p - 1) < n) continue;
        size_t k = 0;
        while (k < n && p[1 + k] == '%') ++k;
        if (k == n) break;
    }
    if (p >= e || p + 1 + n != e) invalid(ls, T_STRING);
    load_text(ls, text, p, flags & ~F_CARET, false, T_STRING, out);
}

void load_file(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    if (e - s >= 2 && s[1] == '"') {
        if (e - s < 3 || e[-1] != '"') invalid(ls, T_FILE);
        return load_text(ls, s + 2, e - 1, flags, true, T_FILE, out);
    }
    load_percent_text(ls, s + 1, e, flags, T_FILE, out);
}

void load_url(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    if (s < e && (*s == ':' || *s == '\'')) invalid(ls, T_URL);
    load_percent_text(ls, s, e, flags, T_URL, out);
}

void load_issue(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    int32_t symbol = intern(ls, s + 1, e, T_ISSUE);
    if (!out) return;
    *out = global_word(symbol, T_ISSUE);
    out->w3 = uint32_t(-1);
}

void load_refinement(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    int32_t symbol = intern(ls, s + 1, e, T_REFINEMENT);
    if (out) *out = global_word(symbol, T_REFINEMENT);
}

// ------------------------------------------------------------------ forms checked before their datatypes exist
// These check the token fully; making the value lands with each datatype
// (until then a load raises not-done after the check).

// Skips blanks and ";" comments in binary digits; false at the end.
bool skip_binary_blanks(const uint8_t*& p, const uint8_t* e, bool base64) {
    while (p < e) {
        uint8_t c = *p;
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || (base64 && (c == 8 || c == 12 || c == '\''))) ++p;
        else if (c == ';') { while (p < e && *p != '\n') ++p; }
        else return true;
    }
    return false;
}

int base64_value(uint8_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

// [2#|16#|64#]{digits}: the bytes the digits stand for; false when malformed.
// A lone hexadecimal digit at the end is malformed, not dropped.
bool decode_binary_literal(const uint8_t* s, const uint8_t* e, std::string* bytes) {
    int base = 0;
    const uint8_t* p = s;
    for (; p < e && *p >= '0' && *p <= '9'; ++p) {
        base = base * 10 + (*p - '0');
        if (base > 64) return false;
    }
    if (p == s) base = 16;
    if ((base != 2 && base != 16 && base != 64) || e - p < 3 || p[0] != '#' || p[1] != '{' || e[-1] != '}')
        return false;
    p += 2;
    const uint8_t* end = e - 1;
    if (base == 16) {
        while (skip_binary_blanks(p, end, false)) {
            int hi = hex_value(*p++);
            if (hi < 0 || !skip_binary_blanks(p, end, false)) return false;
            int lo = hex_value(*p++);
            if (lo < 0) return false;
            if (bytes) bytes->push_back(char(hi * 16 + lo));
        }
        return true;
    }
    if (base == 2) {
        while (skip_binary_blanks(p, end, false)) {
            int byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                if (bit && !skip_binary_blanks(p, end, false)) return false;
                if (*p != '0' && *p != '1') return false;
                byte = byte * 2 + (*p++ - '0');
            }
            if (bytes) bytes->push_back(char(byte));
        }
        return true;
    }
    while (skip_binary_blanks(p, end, true)) {
        uint32_t group = 0;
        int count = 0;
        while (count < 4 && skip_binary_blanks(p, end, true) && *p != '=') {
            int v = base64_value(*p++);
            if (v < 0) return false;
            group = group << 6 | uint32_t(v);
            ++count;
        }
        if (count == 4) {
            if (bytes) { bytes->push_back(char(group >> 16)); bytes->push_back(char(group >> 8)); bytes->push_back(char(group)); }
            continue;
        }
        // "=" padding after two or three characters ends the data.
        if ((count != 2 && count != 3) || p >= end || *p != '=') return false;
        group <<= 6 * (4 - count);
        if (bytes) {
            bytes->push_back(char(group >> 16));
            if (count == 3) bytes->push_back(char(group >> 8));
        }
        while (p < end && *p == '=') ++p;
        return !skip_binary_blanks(p, end, true);
    }
    return true;
}

namespace {

void load_binary(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    std::string bytes;
    if (!decode_binary_literal(s, e, out ? &bytes : nullptr)) invalid(ls, T_BINARY);
    if (!out) return;
    binary_make_cell(out, uint32_t(bytes.size()));
    binary_append_bytes(out, bytes.data(), uint32_t(bytes.size()));
}

// [sign]digits, within 32 bits; advances p.
bool read_int32(const uint8_t*& p, const uint8_t* e, int64_t* value) {
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const uint8_t* digits = p;
    int64_t v = 0;
    for (; p < e && *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > 2147483648LL) return false;
    }
    if (p == digits) return false;
    v = negative ? -v : v;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    *value = v;
    return true;
}

// Two integers joined by "x": both within 32 bits.
void load_pair(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    const uint8_t* p = s;
    int64_t x, y;
    if (!read_int32(p, e, &x) || p >= e || (*p != 'x' && *p != 'X')) invalid(ls, T_PAIR);
    ++p;
    if (!read_int32(p, e, &y) || p != e) invalid(ls, T_PAIR);
    if (out) pair_make_cell(out, int32_t(x), int32_t(y));
}

// 3 to 12 components of 0 to 255 separated by single dots.
void load_tuple(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    int components = 0;
    uint8_t bytes[TUPLE_MAX] = {};
    for (const uint8_t* p = s; p <= e; ++p) {
        const uint8_t* digits = p;
        int v = 0;
        for (; p < e && *p >= '0' && *p <= '9'; ++p) {
            v = v * 10 + (*p - '0');
            if (v > 255) invalid(ls, T_TUPLE);
        }
        if (p == digits || (p < e && *p != '.') || components == TUPLE_MAX) invalid(ls, T_TUPLE);
        bytes[components++] = uint8_t(v);
    }
    if (components < 3) invalid(ls, T_TUPLE);
    if (out) tuple_make_cell(out, components, bytes);
}

void load_percent(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    if (e - s < 2 || e[-1] != '%' || !is_decimal(s, e - 1)) invalid(ls, T_PERCENT);
    if (out) percent_make_cell(out, decimal_value(s, e - 1) / 100.0);
}

void load_tag(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    if (e - s < 2 || e[-1] != '>') invalid(ls, T_TAG);
    load_text(ls, s + 1, e - 1, flags, false, T_TAG, out);
}

void load_email(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    const void* at = std::memchr(s, '@', size_t(e - s));
    if (!at || std::memchr(static_cast<const uint8_t*>(at) + 1, '@', size_t(e - static_cast<const uint8_t*>(at) - 1)))
        invalid(ls, T_EMAIL);
    load_text(ls, s, e, flags, false, T_EMAIL, out);
}

// "(" two or three numbers (decimal or special floats) separated by "," ")",
// with blanks and tabs around them.
void load_point(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    if (e - s < 2 || *s != '(' || e[-1] != ')') invalid(ls, T_POINT2D);
    int numbers = 0;
    double coords[3] = {0, 0, 0};
    for (const uint8_t* p = s + 1; p < e;) {
        while (p < e - 1 && (*p == ' ' || *p == '\t')) ++p;
        const uint8_t* n = p;
        while (p < e - 1 && *p != ',' && *p != ' ' && *p != '\t') ++p;
        const uint8_t* n_end = p;
        while (p < e - 1 && (*p == ' ' || *p == '\t')) ++p;
        bool special = n_end - n >= 6 && (same_nocase(n_end - 3, n_end, "inf") || same_nocase(n_end - 3, n_end, "nan"));
        if (n == n_end || !(is_decimal(n, n_end) || special)) invalid(ls, T_POINT2D);
        Cell number;
        if (special) load_special_float(ls, n, n_end, 0, &number);
        if (numbers < 3) coords[numbers] = special ? get_float(&number) : decimal_value(n, n_end);
        ++numbers;
        if (*p == ')') break;
        if (*p != ',') invalid(ls, T_POINT2D);
        ++p;
    }
    if (numbers < 2 || numbers > 3) invalid(ls, numbers > 3 ? T_POINT3D : T_POINT2D);
    if (!out) return;
    if (numbers == 2) point2d_make_cell(out, coords[0], coords[1]);
    else point3d_make_cell(out, coords[0], coords[1], coords[2]);
}

}  // namespace

bool make_point_from_cells(Cell* out, const Cell* cells, uint32_t n) {
    if (n != 2 && n != 3) return false;
    double c[3];
    for (uint32_t i = 0; i < n; ++i) {
        if (cell_is(&cells[i], T_INTEGER)) c[i] = get_integer(&cells[i]);
        else if (cell_is(&cells[i], T_FLOAT)) c[i] = get_float(&cells[i]);
        else return false;
    }
    if (n == 2) point2d_make_cell(out, c[0], c[1]);
    else point3d_make_cell(out, c[0], c[1], c[2]);
    return true;
}

namespace {

// Digits with "'" separators, neither first, doubled nor last; false when malformed.
bool separated_digits(const uint8_t*& p, const uint8_t* e, int* count) {
    bool separator = false;
    *count = 0;
    for (; p < e && ((*p >= '0' && *p <= '9') || *p == '\''); ++p) {
        if (*p == '\'') {
            if (!*count || separator) return false;
            separator = true;
        } else {
            ++*count;
            separator = false;
        }
    }
    return !separator;
}

// [sign][3-letter code]$digits[.decimals]: at most 17 integral digits and 5
// decimals. Whether the money builder knows the code is its own check.
void load_money(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    const uint8_t* p = s;
    const bool negative = p < e && *p == '-';
    if (p < e && (*p == '+' || *p == '-')) ++p;
    const uint8_t* code = p;
    while (p < e && ((*p | 0x20) >= 'a' && (*p | 0x20) <= 'z')) ++p;
    if ((p - code != 0 && p - code != 3) || p >= e || *p != '$') invalid(ls, T_MONEY);
    const uint8_t* currency = *p == '$' && p - code == 3 ? code : nullptr;
    ++p;
    int digits, decimals = 0;
    const uint8_t* integral = p;
    if (!separated_digits(p, e, &digits) || digits == 0 || digits > 17) invalid(ls, T_MONEY);
    const uint8_t* integral_end = p;
    const uint8_t* fraction = p;
    if (p < e && *p == '.') {
        fraction = ++p;
        if (!separated_digits(p, e, &decimals) || decimals > 5) invalid(ls, T_MONEY);
    }
    const uint8_t* fraction_end = p;
    if (p != e) invalid(ls, T_MONEY);
    Cell scratch;  // an unknown currency code is the builder's refusal, checked when scanning too
    if (!money_make_from_digits(out ? out : &scratch, negative, currency, integral, integral_end, fraction, fraction_end))
        invalid(ls, T_MONEY);
}

// ------------------------------------------------------------------ dates

constexpr const char* month_names[12] = {"january", "february", "march", "april", "may", "june", "july",
                                         "august", "september", "october", "november", "december"};
constexpr int month_days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool is_leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Up to max digits at p; the count read goes to *count (0: none).
int read_digits(const uint8_t*& p, const uint8_t* e, int max, int* count) {
    int v = 0;
    *count = 0;
    while (p < e && is_digit(*p) && *count < max) { v = v * 10 + (*p++ - '0'); ++*count; }
    return v;
}

// "Z", or a sign, hours and optional (":") two-digit minutes.
bool read_zone(const uint8_t*& p, const uint8_t* e, DateParts& d) {
    if (p < e && (*p == 'Z' || *p == 'z')) { ++p; d.has_zone = true; return true; }
    if (p >= e || (*p != '+' && *p != '-')) return true;  // no zone
    bool west = *p++ == '-';
    int n;
    int value = read_digits(p, e, 4, &n);
    int hours, minutes = 0;
    if (n == 1 || n == 2) {
        hours = value;
        if (p < e && *p == ':') {
            ++p;
            minutes = read_digits(p, e, 2, &n);
            if (n != 2) return false;
        }
    } else if (n == 3 || n == 4) {
        hours = value / 100;
        minutes = value % 100;
    } else {
        return false;
    }
    if (hours > 15 || minutes >= 60) return false;
    d.has_zone = true;
    d.zone_hours = west ? -hours : hours;
    d.zone_minutes = west && hours == 0 ? -minutes : minutes;  // -00:30 keeps its sign
    return true;
}

// hour ":" minutes [":" seconds[.fraction]], then a zone.
bool read_time(const uint8_t*& p, const uint8_t* e, DateParts& d) {
    int n;
    int hour = read_digits(p, e, 2, &n);
    if (!n || p >= e || *p != ':') return false;
    ++p;
    int minute = read_digits(p, e, 2, &n);
    if (n != 2 && n != 1) return false;
    double second = 0;
    if (p < e && *p == ':') {
        const uint8_t* s = ++p;
        while (p < e && (is_digit(*p) || *p == '.')) ++p;
        if (p == s || !is_decimal(s, p)) return false;
        second = parse_float(reinterpret_cast<const char*>(s), reinterpret_cast<const char*>(p));
    }
    if (hour >= 24 || minute >= 60 || !(second < 60.0)) return false;
    d.has_time = true;
    d.time = hour * 3600.0 + minute * 60.0 + second;
    return read_zone(p, e, d);
}

// A month as 1-2 digits or a name of 3 to 9 letters that begins a month's name.
int read_month(const uint8_t*& p, const uint8_t* e) {
    int n;
    int month = read_digits(p, e, 2, &n);
    if (n) return month;
    const uint8_t* s = p;
    while (p < e && ((*p | 0x20) >= 'a' && (*p | 0x20) <= 'z')) ++p;
    size_t len = size_t(p - s);
    if (len < 3 || len > 9) return 0;
    for (int m = 0; m < 12; ++m) {
        if (std::strlen(month_names[m]) < len) continue;
        size_t i = 0;
        while (i < len && (s[i] | 0x20) == month_names[m][i]) ++i;
        if (i == len) return m + 1;
    }
    return 0;
}

}  // namespace

// Dates: d-month-y, y-m-d, d/m/y, YYYY-Www[-d], YYYY-DDD and YYYYMMDDThhmm forms,
// each with an optional time and zone. False when malformed or out of range.
bool parse_date(const uint8_t* s, const uint8_t* e, DateParts& d) {
    d = DateParts{};
    const uint8_t* p = s;
    bool negative = p < e && *p == '-';
    if (negative) ++p;
    int first_digits;
    int first = read_digits(p, e, 4, &first_digits);
    if (!first_digits) return false;
    if (negative) first = -first;
    if (p < e && is_digit(*p)) {
        // YYYYMMDD T hhmm [seconds] [zone]
        if (negative || first_digits != 4) return false;
        int n;
        int mmdd = read_digits(p, e, 4, &n);
        if (n != 4 || p >= e || (*p != 'T' && *p != 't')) return false;
        ++p;
        int hhmm = read_digits(p, e, 4, &n);
        if (n != 4) return false;
        d.year = first;
        d.month = mmdd / 100;
        d.day = mmdd % 100;
        double second = 0;
        const uint8_t* sec = p;
        while (p < e && (is_digit(*p) || *p == '.')) ++p;
        if (p != sec) {
            if (!is_decimal(sec, p)) return false;
            second = parse_float(reinterpret_cast<const char*>(sec), reinterpret_cast<const char*>(p));
        }
        if (hhmm / 100 >= 24 || hhmm % 100 >= 60 || !(second < 60.0)) return false;
        d.has_time = true;
        d.time = (hhmm / 100) * 3600.0 + (hhmm % 100) * 60.0 + second;
        if (!read_zone(p, e, d)) return false;
    } else if (p + 1 < e && *p == '-' && (p[1] == 'W' || p[1] == 'w') && first_digits == 4) {
        // YYYY-Www[-d]
        p += 2;
        int n;
        d.year = first;
        d.week = read_digits(p, e, 2, &n);
        if (n != 2 || d.week < 1 || d.week > 53) return false;
        if (p < e && *p == '-') {
            ++p;
            d.weekday = read_digits(p, e, 1, &n);
            if (n != 1 || d.weekday < 1 || d.weekday > 7) return false;
        }
        if (p < e && (*p == 'T' || *p == 't')) { ++p; if (!read_time(p, e, d)) return false; }
        d.month = d.day = 1;
    } else if (p + 3 < e + 0 && *p == '-' && is_digit(p[1]) && is_digit(p[2]) && is_digit(p[3]) &&
               (p + 4 == e || !is_digit(p[4])) && first_digits == 4 && !(p + 4 < e && (p[4] == '-' || p[4] == '/'))) {
        // YYYY-DDD
        ++p;
        int n;
        d.year = first;
        d.year_day = read_digits(p, e, 3, &n);
        if (d.year_day < 1 || d.year_day > (is_leap(first) ? 366 : 365)) return false;
        if (p < e && (*p == 'T' || *p == 't')) { ++p; if (!read_time(p, e, d)) return false; }
        d.month = d.day = 1;
    } else if (p < e && (*p == '-' || *p == '/')) {
        uint8_t separator = *p++;
        int month = read_month(p, e);
        if (!month || p >= e || *p != separator) return false;
        ++p;
        bool third_negative = p < e && *p == '-';
        if (third_negative) ++p;
        int third_digits;
        int third = read_digits(p, e, 5, &third_digits);
        if (!third_digits) return false;
        if (third_negative) third = -third;
        int year_digits;
        if (third < 0 || third > 31 || first < 100) {
            d.day = first;
            d.year = third;
            year_digits = third_digits;
        } else {
            d.year = first;
            d.day = third;
            year_digits = first_digits;
        }
        if (year_digits < 3 && d.year >= 0 && d.year < 100) d.year += d.year < 50 ? 2000 : 1900;
        d.month = month;
        if (p < e && (*p == '/' || *p == 'T' || *p == 't')) { ++p; if (!read_time(p, e, d)) return false; }
    } else {
        return false;
    }
    if (p != e) return false;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > month_days[d.month - 1]) return false;
    if (d.month == 2 && d.day == 29 && !is_leap(d.year)) return false;
    return d.year >= -9999 && d.year <= 9999;
}

namespace {

void load_date(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t, Cell* out) {
    DateParts d;
    if (!parse_date(s, e, d)) invalid(ls, T_DATE);
    if (!out) return;
    date_make_cell(out, d.year, d.month, d.day, d.time, d.zone_hours, d.zone_minutes, d.has_time);
    if (d.week) {
        date_set_iso_week(out, d.week);
        if (d.weekday) date_set_weekday(out, d.weekday);
    }
    if (d.year_day) date_set_year_day(out, d.year_day);
}

void load_ref(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out) {
    load_text(ls, s + 1, e, flags, false, T_REF, out);
}

}  // namespace

// A word token of a known kind: the spelling without its "'" or ":" marks.
void load_word_text(LexerState& ls, const uint8_t* s, const uint8_t* e, TypeId kind, Cell* out) {
    if (kind == T_LIT_WORD || kind == T_GET_WORD) ++s;
    if (kind == T_SET_WORD) --e;
    int32_t symbol = intern(ls, s, e, T_WORD);
    if (out) *out = global_word(symbol, kind);
}

// #(true) #(false) #(none) #(unset), or a datatype name: a prefix of the first
// registered type name that starts with it, at most one character longer than the
// name without its "!".
void load_construction(LexerState& ls, const uint8_t* s, const uint8_t* e, Cell* out) {
    const uint8_t* name = s + 2;
    const uint8_t* end = e - 1;
    Cell value;
    if (same_nocase(name, end, "true")) set_logic(&value, true);
    else if (same_nocase(name, end, "false")) set_logic(&value, false);
    else if (same_nocase(name, end, "none")) set_none(&value);
    else if (same_nocase(name, end, "unset")) set_unset(&value);
    else {
        size_t n = size_t(end - name);
        int found = 0;
        for (int t = 1; n && t <= highest_type_id && !found; ++t) {
            const char* type_name = type_names[t].name;
            if (!type_name || n > type_names[t].length + 1) continue;
            size_t i = 0;
            for (; i < n; ++i) {
                uint8_t c = name[i];
                if (c >= 'A' && c <= 'Z') c = uint8_t(c + 32);
                if (c != uint8_t(type_name[i])) break;
            }
            if (i == n) found = t;
        }
        if (!found) syntax_error(ls, err::syntax::malconstruct);
        set_datatype(&value, TypeId(found));
    }
    if (out) *out = value;
}

void value_not_made() { raise_error(err::internal::not_done); }

Loader loader_for_exit(int exit) {
    switch (exit) {
    case X_STRING: return load_string;
    case X_BRACE_CLOSE: return load_braced_string;
    case X_RAW_STRING: return load_raw_string;
    case X_ISSUE: return load_issue;
    case X_INTEGER: return load_integer;
    case X_HEX: return load_hex;
    case X_REFINEMENT: return load_refinement;
    case X_CHAR: return load_char;
    case X_FILE: return load_file;
    case X_FLOAT: return load_float;
    case X_SPECIAL_FLOAT: return load_special_float;
    case X_TIME: return load_time;
    case X_URL: return load_url;
    // Checked here, made with their datatypes.
    case X_BINARY: return load_binary;
    case X_PAIR: return load_pair;
    case X_TUPLE: return load_tuple;
    case X_PERCENT: return load_percent;
    case X_TAG: return load_tag;
    case X_EMAIL: return load_email;
    case X_REF: return load_ref;
    case X_POINT: return load_point;
    case X_MONEY: return load_money;
    case X_DATE: return load_date;
    default: return nullptr;
    }
}

}  // namespace tev::lex

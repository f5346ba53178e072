// JSON text to values, the fast path of load-json. It gives what load-json's
// grammar gives for valid text and refuses everything else, so the grammar alone
// decides what an error says. It never recurses: open arrays and objects are
// blocks on the value stack, and nesting beyond a fixed depth is refused too.
#include "loader/json_decode.h"
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// Two value-stack cells per open container; the stack holds 20000 in all.
constexpr int MAX_DEPTH = 512;

struct Decoder {
    const uint8_t* p;
    const uint8_t* end;
    std::string text;  // scratch for strings with escapes
    // Key text -> the word it becomes, or an unset cell when it stays a string.
    std::unordered_map<std::string, Cell> keys;

    // White space: space, tab, line feed and carriage return.
    void skip_ws() {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    }
    bool literal(const char* word, size_t n) {
        if (size_t(end - p) < n || std::memcmp(p, word, n) != 0) return false;
        p += n;
        return true;
    }
    static bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

    bool number(Cell* out);
    bool string(Cell* out, bool key);
    bool key_word(const uint8_t* s, size_t n, Cell* out);
    bool hex4(const uint8_t* q, uint32_t* value);
};

// -------------------------------------------------------------- numbers

// As the lexer reads them: an integer when there is no fraction or exponent and
// it fits 32 bits, else a float.
bool Decoder::number(Cell* out) {
    const uint8_t* start = p;
    bool is_float = false;
    if (p < end && *p == '-') ++p;
    if (p >= end || !is_digit(*p)) return false;
    if (*p == '0') ++p;
    else while (p < end && is_digit(*p)) ++p;
    if (p < end && *p == '.') {
        ++p;
        if (p >= end || !is_digit(*p)) return false;
        while (p < end && is_digit(*p)) ++p;
        is_float = true;
    }
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        if (p < end && (*p == '+' || *p == '-')) ++p;
        if (p >= end || !is_digit(*p)) return false;
        while (p < end && is_digit(*p)) ++p;
        is_float = true;
    }
    size_t n = size_t(p - start);
    if (!is_float && n <= 11) {
        int64_t v = 0;
        for (const uint8_t* q = start + (*start == '-'); q < p; ++q) v = v * 10 + (*q - '0');
        if (*start == '-') v = -v;
        if (v >= INT32_MIN && v <= INT32_MAX) {
            set_integer(out, int32_t(v));
            return true;
        }
    }
    bool error = false;
    double d = string_to_float(start, uint32_t(n), &error);
    if (error) return false;
    set_float(out, d);
    return true;
}

// -------------------------------------------------------------- strings

bool Decoder::hex4(const uint8_t* q, uint32_t* value) {
    if (end - q < 4) return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t c = q[i];
        uint32_t d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return false;
        v = v * 16 + d;
    }
    *value = v;
    return true;
}

void append_utf8(std::string& s, uint32_t cp) {
    uint8_t buf[4];
    int n = utf8_encode_char(cp, buf);
    s.append(reinterpret_cast<char*>(buf), size_t(n));
}

// Characters the grammar keeps out of words (a word's first character is also
// not a digit or an apostrophe); U+00A0 is the one beyond ASCII.
bool not_word_char(uint8_t c) {
    switch (c) {
    case '/': case '\\': case '^': case ',': case '[': case ']': case '(': case ')': case '{': case '}':
    case '"': case '#': case '%': case '$': case '@': case ':': case ';': case '\n': case ' ': case '\t':
    case '\r': case '<': case '>':
        return true;
    default:
        return false;
    }
}

// A key becomes a word when the grammar's word characters spell it and the
// lexer reads it back as that very word (so "+1" or "a^Ab" stay strings).
bool Decoder::key_word(const uint8_t* s, size_t n, Cell* out) {
    std::string key(reinterpret_cast<const char*>(s), n);
    auto it = keys.find(key);
    if (it != keys.end()) {
        if (cell_is(&it->second, T_UNSET)) return false;
        *out = it->second;
        return true;
    }
    bool ok = n > 0 && !is_digit(s[0]) && s[0] != '\'';
    for (size_t i = 0; ok && i < n; ++i) {
        if (not_word_char(s[i])) ok = false;
        else if (s[i] == 0xC2 && i + 1 < n && s[i + 1] == 0xA0) ok = false;
    }
    Cell word;
    set_unset(&word);
    if (ok) {
        StackScope scope;
        Cell* scanned = stack_push();
        TranscodeOptions one;
        one.one = true;
        one.wrap = false;
        try {
            transcode_utf8(scanned, s, n, one);
            if (cell_is(scanned, T_WORD) && symbol_text(word_symbol(scanned)) == key) word = *scanned;
        } catch (const LanguageThrow& t) {
            if (t.code != THROW_ERROR) throw;
        }
    }
    keys.emplace(std::move(key), word);  // a word holds nothing the collector must keep
    if (cell_is(&word, T_UNSET)) return false;
    *out = word;
    return true;
}

// At the opening quote. Lone surrogates become U+FFFD, as in the grammar's unescape.
bool Decoder::string(Cell* out, bool key) {
    ++p;
    const uint8_t* start = p;
    while (p < end && *p != '"' && *p != '\\' && *p >= 0x20) ++p;
    if (p >= end || *p < 0x20) return false;
    if (*p == '"') {
        const uint8_t* stop = p++;
        if (key && key_word(start, size_t(stop - start), out)) return true;
        string_load(start, uint32_t(stop - start), out, 0);
        return true;
    }
    text.assign(reinterpret_cast<const char*>(start), size_t(p - start));
    while (p < end && *p != '"') {
        if (*p < 0x20) return false;
        if (*p != '\\') {
            const uint8_t* run = p;
            while (p < end && *p != '"' && *p != '\\' && *p >= 0x20) ++p;
            text.append(reinterpret_cast<const char*>(run), size_t(p - run));
            continue;
        }
        if (++p >= end) return false;
        uint8_t c = *p++;
        switch (c) {
        case '"': case '\\': case '/': text += char(c); break;
        case 'b': text += '\b'; break;
        case 'f': text += '\f'; break;
        case 'n': text += '\n'; break;
        case 'r': text += '\r'; break;
        case 't': text += '\t'; break;
        case 'u': {
            uint32_t cp, low;
            if (!hex4(p, &cp)) return false;
            p += 4;
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (end - p >= 6 && p[0] == '\\' && p[1] == 'u' && hex4(p + 2, &low) && low >= 0xDC00 &&
                    low <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    p += 6;
                } else {
                    cp = 0xFFFD;
                }
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                cp = 0xFFFD;
            }
            append_utf8(text, cp);
            break;
        }
        default:
            return false;
        }
    }
    if (p >= end) return false;
    ++p;
    if (key && key_word(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out)) return true;
    string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), out, 0);
    return true;
}

}  // namespace

// -------------------------------------------------------------- values

// The open containers are block cells on the value stack, each with a logic!
// cell above it telling an object (whose block collects key, value pairs).
bool json_decode(Cell* out, const Cell* input) {
    StackScope scope;
    std::string source = string_to_utf8(input);
    Decoder d;
    d.p = reinterpret_cast<const uint8_t*>(source.data());
    d.end = d.p + source.size();
    Cell* root = block_push_new(1);
    Cell* value = stack_push();
    int depth = 0;
    Cell* top = root;       // the innermost open block
    bool in_object = false;

    d.skip_ws();
    for (;;) {
        // A value (after a key within an object).
        if (in_object) {
            if (d.p >= d.end || *d.p != '"') return false;
            if (!d.string(value, true)) return false;
            block_append(top, value);
            d.skip_ws();
            if (d.p >= d.end || *d.p != ':') return false;
            ++d.p;
            d.skip_ws();
        }
        if (d.p >= d.end) return false;
        uint8_t c = *d.p;
        bool opened = false;
        if (c == '[' || c == '{') {
            if (++depth > MAX_DEPTH) return false;
            ++d.p;
            top = block_push_new(8);
            Cell* kind = stack_push();
            set_logic(kind, c == '{');
            in_object = c == '{';
            value = stack_push();
            d.skip_ws();
            char close = c == '[' ? ']' : '}';
            if (d.p < d.end && *d.p == close) {
                ++d.p;
            } else {
                continue;  // its first member
            }
            opened = true;
        } else if (c == '"') {
            if (!d.string(value, false)) return false;
        } else if (c == 't' && d.literal("true", 4)) {
            set_logic(value, true);
        } else if (c == 'f' && d.literal("false", 5)) {
            set_logic(value, false);
        } else if (c == 'n' && d.literal("null", 4)) {
            set_none(value);
        } else if (c == '-' || Decoder::is_digit(c)) {
            if (!d.number(value)) return false;
        } else {
            return false;
        }
        // Close what ends here; an empty container arrives already closed.
        for (;;) {
            if (opened) {
                // top, its kind, its value cell: make the finished container the value.
                Cell* kind = top + 1;
                Cell* slot = top - 1;  // the value cell of the container below
                if (get_logic(kind)) map_make_cell(slot, top, 0);
                else *slot = *top;
                stack_drop_to(top);
                value = slot;
                --depth;
                top = depth ? slot - 2 : root;
                in_object = depth && get_logic(top + 1);
                opened = false;
            }
            block_append(top, value);
            d.skip_ws();
            if (!depth) {
                if (d.p != d.end) return false;
                *out = *block_head(root);
                return true;
            }
            if (d.p >= d.end) return false;
            char close = in_object ? '}' : ']';
            if (*d.p == ',') {
                ++d.p;
                d.skip_ws();
                break;
            }
            if (*d.p != close) return false;
            ++d.p;
            opened = true;
        }
    }
}

}  // namespace tev

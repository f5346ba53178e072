// Parse matching: literal tests, the fast repeat loops and the fast to/thru searches over raw units.
//
// Nothing here allocates except the datatype scan of binary input (the lexer),
// so buffer addresses are read once per call and used throughout.
#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "interpreter/parse.h"
#include "loader/lexer.h"
#include "runtime/case_tables.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr uint32_t SER_BITSET_NOT = 0x80000;  // bitset! buffer flag: inverted

inline uint32_t get_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) { uint16_t v; std::memcpy(&v, p, 2); return v; }
    uint32_t v; std::memcpy(&v, p, 4); return v;
}

inline uint32_t fold(uint32_t cp) { return unicode_upper(cp); }

// The units of a series from its buffer's first unit (positions are absolute).
struct Units {
    const uint8_t* data;
    uint32_t unit;
    uint32_t count;
    uint32_t operator[](uint32_t i) const { return get_unit(data + size_t(i) * unit, unit); }
};
Units units_of(const Cell* s) {
    SeriesBuffer* b = node_buffer(series_node(s));
    return Units{b->head_ptr(), b->unit(), b->count()};
}

// The input's units: every position read lies below the caller's limit, so
// its count is left unread (0), which the fast loops would pay for each call.
Units input_units(const Cell* s) {
    SeriesBuffer* b = node_buffer(series_node(s));
    return Units{b->head_ptr(), b->unit(), 0};
}

// A text or binary rule value from its index: the units it must match.
Units pattern_of(const Cell* v) {
    Units u = units_of(v);
    uint32_t index = std::min(series_index(v), u.count);
    return Units{u.data + size_t(index) * u.unit, u.unit, u.count - index};
}

// Bit membership read straight from the bitset's bytes: most significant bit
// first, the not-flag beyond the stored bytes.
struct Bits {
    const uint8_t* bytes;
    uint32_t nbits;
    bool inverted;
    bool has(uint32_t n) const {
        if (n >= nbits) return inverted;
        return (bytes[n >> 3] & (0x80 >> (n & 7))) != 0;
    }
};
Bits bits_of(const Cell* bitset) {
    SeriesBuffer* b = node_buffer(series_node(bitset));
    return Bits{b->head_ptr(), (b->tail - b->head) * 8, (b->flags & SER_BITSET_NOT) != 0};
}

inline bool chars_equal(uint32_t a, uint32_t b, bool exact) {
    return a == b || (!exact && fold(a) == fold(b));
}

bool is_text_value(TypeId t) { return type_is_string(t); }

// Matches pattern p at input position i (the caller checked that it fits).
inline bool units_match_at(const Units& in, uint32_t i, const Units& p, bool exact) {
    for (uint32_t k = 0; k < p.count; ++k)
        if (!chars_equal(in[i + k], p[k], exact)) return false;
    return true;
}

// A tag! needs "<", its text, then ">": answers whether it does at i.
inline bool tag_match_at(const Units& in, uint32_t i, const Units& p, bool exact) {
    return in[i] == '<' && in[i + 1 + p.count] == '>' && units_match_at(in, i + 1, p, exact);
}

// Byte text folded as the text comparisons fold it: two bytes match without
// case when their keys are equal; each byte's partners are the bytes of its key.
struct ByteFolding {
    uint32_t key[256];
    std::vector<uint8_t> partners[256];
    ByteFolding() {
        for (uint32_t b = 0; b < 256; ++b) key[b] = fold(b);
        for (uint32_t b = 0; b < 256; ++b)
            for (uint32_t c = 0; c < 256; ++c)
                if (key[b] == key[c]) partners[b].push_back(uint8_t(c));
    }
};
const ByteFolding& byte_folding() {
    static const ByteFolding folding;
    return folding;
}

// The first position from `from` to `last` (the last start that fits) where
// the m-byte pattern matches: Horspool's skip over one-byte text, so that a
// search reads each byte of the text about once whatever the pattern.
bool search_bytes(const uint8_t* text, uint32_t from, uint32_t last, const uint8_t* pat, uint32_t m, bool exact,
                  uint32_t* at) {
    const ByteFolding& f = byte_folding();
    if (!exact) {
        // A pattern without letters matches the same either way: take the exact path.
        exact = true;
        for (uint32_t j = 0; j < m && exact; ++j) exact = f.partners[pat[j]].size() == 1;
    }
    if (exact && m == 1) {
        const void* hit = std::memchr(text + from, pat[0], last - from + 1);
        if (!hit) return false;
        *at = uint32_t(static_cast<const uint8_t*>(hit) - text);
        return true;
    }
#if defined(__SSE2__)
    // Sixteen windows at a time: those whose first and last bytes match (in
    // either case) are checked in full. Both bytes are rarely common together.
    if (m >= 2 && f.partners[pat[0]].size() <= 3 && f.partners[pat[m - 1]].size() <= 3) {
        __m128i firsts[3], lasts[3];
        size_t nf = 0, nl = 0;
        if (exact) {
            firsts[nf++] = _mm_set1_epi8(char(pat[0]));
            lasts[nl++] = _mm_set1_epi8(char(pat[m - 1]));
        } else {
            for (uint8_t c : f.partners[pat[0]]) firsts[nf++] = _mm_set1_epi8(char(c));
            for (uint8_t c : f.partners[pat[m - 1]]) lasts[nl++] = _mm_set1_epi8(char(c));
        }
        uint64_t i = from;
        for (; i + 15 <= last; i += 16) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + m - 1));
            __m128i fa = _mm_cmpeq_epi8(a, firsts[0]), lb = _mm_cmpeq_epi8(b, lasts[0]);
            for (size_t k = 1; k < nf; ++k) fa = _mm_or_si128(fa, _mm_cmpeq_epi8(a, firsts[k]));
            for (size_t k = 1; k < nl; ++k) lb = _mm_or_si128(lb, _mm_cmpeq_epi8(b, lasts[k]));
            uint32_t mask = uint32_t(_mm_movemask_epi8(_mm_and_si128(fa, lb)));
            while (mask) {
                uint64_t at_i = i + uint32_t(__builtin_ctz(mask));
                mask &= mask - 1;
                bool ok = exact ? std::memcmp(text + at_i + 1, pat + 1, m - 2) == 0 : true;
                for (uint32_t j = 1; !exact && j + 1 < m && ok; ++j) ok = f.key[text[at_i + j]] == f.key[pat[j]];
                if (ok) {
                    *at = uint32_t(at_i);
                    return true;
                }
            }
        }
        from = uint32_t(i);
        if (from > last) return false;
    }
#endif
    // shift[b]: how far the window moves when its last byte is b; 0 for the
    // bytes that match the pattern's last byte, which then checks the rest.
    uint32_t shift[256];
    for (uint32_t& s : shift) s = m;
    for (uint32_t j = 0; j + 1 < m; ++j) {
        if (exact) shift[pat[j]] = m - 1 - j;
        else for (uint8_t c : f.partners[pat[j]]) shift[c] = m - 1 - j;
    }
    uint8_t tail = pat[m - 1];
    uint32_t after_check = shift[tail];
    if (exact) shift[tail] = 0;
    else for (uint8_t c : f.partners[tail]) shift[c] = 0;
    for (uint64_t i = from; i <= last;) {
        uint32_t step = shift[text[i + m - 1]];
        if (step) {
            i += step;
            continue;
        }
        uint32_t j = 0;
        if (exact) {
            if (std::memcmp(text + i, pat, m - 1) == 0) j = m - 1;
        } else {
            while (j + 1 < m && f.key[text[i + j]] == f.key[pat[j]]) ++j;
        }
        if (j + 1 == m) {
            *at = uint32_t(i);
            return true;
        }
        i += after_check;
    }
    return false;
}

}  // namespace

// ================================================================== comparing

bool parse_compare(const Cell* element, const Cell* rule, int mode) {
    TypeId rt = cell_type(rule);
    int op = mode;
    if (rt == T_LIT_WORD || rt == T_LIT_PATH) op = mode == CMP_STRICT_EQUAL ? CMP_EQUAL_10 : CMP_EQUAL_11;
    return compare_cells(element, rule, op) == 0;
}

ParseInputClass parse_input_class(TypeId t) {
    if (type_is_list(t)) return PARSE_IN_BLOCK;
    if (type_is_string(t)) return PARSE_IN_STRING;
    return PARSE_IN_BINARY;
}

// ================================================================== literal values

int64_t parse_match_literal(const Cell* input, uint32_t index, uint32_t limit, const Cell* value, int mode) {
    ParseInputClass cls = parse_input_class(cell_type(input));
    if (index >= limit) return -1;
    if (cls == PARSE_IN_BLOCK) {
        Cell* e = node_buffer(series_node(input))->cells() + index;
        return parse_compare(e, value, mode) ? 1 : -1;
    }
    Units in = input_units(input);
    TypeId vt = cell_type(value);
    bool exact = mode == CMP_STRICT_EQUAL || cls == PARSE_IN_BINARY;
    if (vt == T_CHAR) return chars_equal(in[index], get_char(value), exact) ? 1 : -1;
    if (vt == T_BITSET) return bits_of(value).has(in[index]) ? 1 : -1;
    if (vt == T_TAG && cls == PARSE_IN_STRING) {
        Units p = pattern_of(value);
        if (uint64_t(index) + p.count + 2 > limit) return -1;
        return tag_match_at(in, index, p, exact) ? int64_t(p.count) + 2 : -1;
    }
    if (is_text_value(vt) || vt == T_BINARY) {
        Units p = pattern_of(value);
        if (uint64_t(index) + p.count > limit) return -1;
        return units_match_at(in, index, p, exact) ? int64_t(p.count) : -1;
    }
    return -1;
}

bool parse_empty_match_at_end(const Cell* input, const Cell* value) {
    TypeId vt = cell_type(value);
    if (parse_input_class(cell_type(input)) != PARSE_IN_STRING) return false;
    if (vt != T_STRING && vt != T_FILE && vt != T_URL) return false;
    return pattern_of(value).count == 0;
}

// ================================================================== repeat loops

bool parse_repeat_value(const Cell* input, uint32_t* index, uint32_t limit, const Cell* value,
                        int32_t min, int32_t max, int mode) {
    uint32_t i = *index;
    if (i >= limit || limit - i < uint32_t(min < 0 ? 0 : min)) return false;
    ParseInputClass cls = parse_input_class(cell_type(input));
    uint32_t budget = max < 0 ? UINT32_MAX : uint32_t(max);
    uint32_t passes = 0;
    if (cls == PARSE_IN_BLOCK) {
        while (passes < budget && i < limit) {
            Cell* e = node_buffer(series_node(input))->cells() + i;
            if (!parse_compare(e, value, mode)) break;
            ++i;
            ++passes;
        }
    } else {
        Units in = input_units(input);
        TypeId vt = cell_type(value);
        bool exact = mode == CMP_STRICT_EQUAL || cls == PARSE_IN_BINARY;
        if (vt == T_CHAR) {
            uint32_t c = get_char(value);
            if (in.unit == 1 && (exact || fold(c) == c) && (exact || c >= 0x80 || !(c >= 'A' && c <= 'Z'))) {
                // One byte a unit and no case variant to consider: a plain byte run.
                if (c > 0xFF) return 0 >= min;
                while (passes < budget && i < limit && in.data[i] == c) { ++i; ++passes; }
            } else {
                uint32_t fc = fold(c);
                while (passes < budget && i < limit) {
                    uint32_t u = in[i];
                    if (u != c && (exact || fold(u) != fc)) break;
                    ++i;
                    ++passes;
                }
            }
        } else if (vt == T_BITSET) {
            Bits bits = bits_of(value);
            if (in.unit == 1) {
                const uint8_t* p = in.data;
                uint32_t end = budget == UINT32_MAX ? limit : uint32_t(std::min<uint64_t>(limit, uint64_t(i) + budget));
                uint32_t start = i;
                while (i < end && bits.has(p[i])) ++i;
                passes = i - start;
            } else {
                while (passes < budget && i < limit && bits.has(in[i])) { ++i; ++passes; }
            }
        } else if ((vt == T_TAG && cls == PARSE_IN_STRING) || is_text_value(vt) || vt == T_BINARY) {
            Units p = pattern_of(value);
            bool tag = vt == T_TAG && cls == PARSE_IN_STRING;
            uint32_t len = p.count + (tag ? 2 : 0);
            if (len == 0) { *index = i; return true; }
            while (passes < budget && uint64_t(i) + len <= limit) {
                if (!(tag ? tag_match_at(in, i, p, exact) : units_match_at(in, i, p, exact))) break;
                i += len;
                ++passes;
            }
        } else {
            return false;
        }
    }
    *index = i;
    return passes >= uint32_t(min < 0 ? 0 : min);
}

// ================================================================== searches

bool parse_find_value(const Cell* input, uint32_t index, uint32_t limit, const Cell* value, int mode,
                      uint32_t* start, uint32_t* end) {
    ParseInputClass cls = parse_input_class(cell_type(input));
    if (cls == PARSE_IN_BLOCK) {
        for (uint32_t i = index; i < limit; ++i) {
            Cell* e = node_buffer(series_node(input))->cells() + i;
            if (parse_compare(e, value, mode)) {
                *start = i;
                *end = i + 1;
                return true;
            }
        }
        return false;
    }
    Units in = input_units(input);
    TypeId vt = cell_type(value);
    bool exact = mode == CMP_STRICT_EQUAL || cls == PARSE_IN_BINARY;
    if (vt == T_CHAR) {
        uint32_t c = get_char(value);
        // A byte with no case partner is found the same either way: memchr's.
        if (in.unit == 1 && c <= 0xFF && (exact || byte_folding().partners[c].size() == 1)) {
            if (index >= limit) return false;
            const void* hit = std::memchr(in.data + index, int(c), limit - index);
            if (!hit) return false;
            *start = uint32_t(static_cast<const uint8_t*>(hit) - in.data);
            *end = *start + 1;
            return true;
        }
        if (exact && in.unit <= 2 && c > (in.unit == 1 ? 0xFFu : 0xFFFFu)) return false;
        uint32_t fc = fold(c);
        for (uint32_t i = index; i < limit; ++i) {
            uint32_t u = in[i];
            if (u == c || (!exact && fold(u) == fc)) {
                *start = i;
                *end = i + 1;
                return true;
            }
        }
        return false;
    }
    if (vt == T_BITSET) {
        Bits bits = bits_of(value);
        for (uint32_t i = index; i < limit; ++i) {
            if (bits.has(in[i])) {
                *start = i;
                *end = i + 1;
                return true;
            }
        }
        return false;
    }
    if (is_text_value(vt) || vt == T_BINARY) {
        Units p = pattern_of(value);
        bool tag = vt == T_TAG && cls == PARSE_IN_STRING;
        uint32_t len = p.count + (tag ? 2 : 0);
        if (uint64_t(index) + len > limit) return false;
        uint32_t last = limit - len;  // the last position where the value still fits
        if (len == 0) {
            *start = *end = index;
            return true;
        }
        if (!tag && in.unit == 1 && p.unit == 1) {
            uint32_t at;
            if (!search_bytes(in.data, index, last, p.data, p.count, exact, &at)) return false;
            *start = at;
            *end = at + len;
            return true;
        }
        for (uint32_t i = index; i <= last; ++i) {
            if (tag ? tag_match_at(in, i, p, exact) : units_match_at(in, i, p, exact)) {
                *start = i;
                *end = i + len;
                return true;
            }
        }
        return false;
    }
    raise_error(err::script::parse_rule, value);
}

void parse_find_all(const Cell* input, uint32_t index, uint32_t limit, const Cell* value, int mode,
                    std::vector<std::pair<uint32_t, uint32_t>>* hits) {
    TypeId vt = cell_type(value);
    ParseInputClass cls = parse_input_class(cell_type(input));
    bool text = cls != PARSE_IN_BLOCK && (is_text_value(vt) || vt == T_BINARY) && !(vt == T_TAG && cls == PARSE_IN_STRING);
    if (text && input_units(input).unit == 1 && pattern_of(value).unit == 1 && pattern_of(value).count > 0) {
        // Bytes searched for bytes: the search's own loop, set up once.
        Units in = input_units(input), p = pattern_of(value);
        bool exact = mode == CMP_STRICT_EQUAL || cls == PARSE_IN_BINARY;
        uint32_t at;
        while (uint64_t(index) + p.count <= limit && search_bytes(in.data, index, limit - p.count, p.data, p.count, exact, &at)) {
            hits->emplace_back(at, at + p.count);
            index = at + p.count;
        }
        return;
    }
    uint32_t start, end;
    while (index < limit && parse_find_value(input, index, limit, value, mode, &start, &end) && end > start) {
        hits->emplace_back(start, end);
        index = end;
    }
}

// ================================================================== skipping

namespace {

// Whether unit u may begin a match of the char! or bitset! value v: a
// superset of what the matching routines take, never less.
inline bool may_begin(uint32_t u, const Cell* v, bool exact) {
    return cell_is(v, T_BITSET) ? bits_of(v).has(u) : chars_equal(u, get_char(v), exact);
}

uint32_t first_value_begun(const ParseLeadScan& scan, uint32_t u) {
    if (u < 256) return scan.values_of_byte[u] ? uint32_t(__builtin_ctz(scan.values_of_byte[u])) : scan.n;
    uint32_t k = 0;
    while (k < scan.n && !may_begin(u, scan.values + k, scan.exact)) ++k;
    return k;
}

}  // namespace

void parse_lead_scan_init(ParseLeadScan* scan, const Cell* input, const Cell* values, uint32_t n, int mode) {
    assert(n <= 8);
    scan->values = values;
    scan->n = n;
    scan->exact = mode == CMP_STRICT_EQUAL || parse_input_class(cell_type(input)) == PARSE_IN_BINARY;
    for (uint32_t u = 0; u < 256; ++u) {
        uint8_t begun = 0;
        for (uint32_t k = 0; k < n; ++k)
            if (may_begin(u, values + k, scan->exact)) begun |= uint8_t(1u << k);
        scan->values_of_byte[u] = begun;
    }
}

uint32_t parse_lead_scan(const ParseLeadScan& scan, const Cell* input, uint32_t index, uint32_t limit, uint32_t* which) {
    Units in = input_units(input);
    if (in.unit == 1) {
        while (index < limit && !scan.values_of_byte[in.data[index]]) ++index;
        if (index < limit) *which = uint32_t(__builtin_ctz(scan.values_of_byte[in.data[index]]));
        return index;
    }
    for (; index < limit; ++index) {
        uint32_t k = first_value_begun(scan, in[index]);
        if (k < scan.n) {
            *which = k;
            return index;
        }
    }
    return limit;
}

uint32_t parse_lead_run(const ParseLeadScan& scan, const Cell* input, uint32_t which, uint32_t index, uint32_t limit) {
    Units in = input_units(input);
    if (in.unit == 1) {
        // A bitset's bits are what may begin it: the table holds them exactly.
        uint8_t bit = uint8_t(1u << which);
        while (index < limit && (scan.values_of_byte[in.data[index]] & bit)) ++index;
        return index;
    }
    Bits bits = bits_of(scan.values + which);
    while (index < limit && bits.has(in[index])) ++index;
    return index;
}

// ================================================================== datatypes over bytes

int64_t parse_match_type_binary(const Cell* input, uint32_t index, const Cell* type) {
    StackScope scope;
    Cell* at = stack_push_copy(input);
    series_set_index(at, index);
    Cell* out = stack_push();
    TranscodeOptions options;
    options.mode = LexMode::scan;
    options.one = true;
    TranscodeResult r;
    try {
        r = transcode_value(out, at, options);
    } catch (const LanguageThrow&) {
        return -1;
    }
    if (r.type == T_NONE_ID || r.consumed == 0) return -1;
    bool ok = cell_is(type, T_TYPESET) ? typeset_has_type(type, r.type) : get_datatype(type) == r.type;
    return ok ? int64_t(r.consumed) : -1;
}

}  // namespace tev

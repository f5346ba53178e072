// Text codecs: UTF-8 and UTF-16LE to and from unit-1/2/4 string buffers, and in-place widening.
#include "runtime/unicode.h"
#include <algorithm>
#include "runtime/errors.h"

namespace tev {

// --------------------------------------------------------------- errors

[[noreturn]] static void raise_invalid_char(uint32_t cp) { raise_error_int(err::script::invalid_char, int64_t(cp)); }

// The argument of invalid-utf8 is a binary! of the sequence's bytes (from its
// lead, four or as many as remain). bytes must not be series data.
[[noreturn]] static void raise_invalid_utf8(const uint8_t* bytes, uint32_t avail) {
    uint8_t copy[4];
    uint32_t n = avail < 4 ? avail : 4;
    std::memcpy(copy, bytes, n);
    NodeRef node = alloc_series_bytes(4);
    SeriesBuffer* b = node_buffer(node);
    std::memcpy(b->head_ptr(), copy, n);
    b->tail = b->head + n;
    Cell arg;
    set_series(&arg, T_BINARY, node);
    raise_error(err::access::invalid_utf8, &arg);
}

[[noreturn]] static void raise_invalid_arg(const Cell* v) { raise_error(err::script::invalid_arg, v); }

// --------------------------------------------------------------- UTF-8 scanner

// Byte classes and transitions of the accepting automaton (states are multiples
// of 12; 0 accepts, 12 rejects). It accepts exactly the well-formed sequences.
static const uint8_t utf8_class[256] = {
#define R16(v) v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v
    R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0), R16(0),
    R16(1), R16(9), R16(7), R16(7),
    8, 8, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, R16(2),
    10, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 4, 3, 3,
    11, 6, 6, 6, 5, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
#undef R16
};
static const uint8_t utf8_transition[108] = {
    0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12,
    12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,
    12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,
    12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
};

const uint8_t* utf8_next_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
    if (p >= end) { *cp = -1; return p; }
    uint32_t c = utf8_class[*p];
    uint32_t code = (0xFFu >> c) & *p++;
    uint32_t state = utf8_transition[c];
    while (state != 0) {
        if (state == 12 || p >= end) { *cp = -1; return p; }
        c = utf8_class[*p];
        code = (code << 6) | (*p++ & 0x3Fu);
        state = utf8_transition[state + c];
    }
    *cp = int32_t(code);
    return p;
}

uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end) {
    uint32_t n = 0;
    int32_t cp;
    while (start < end) { start = utf8_next_char(start, end, &cp); ++n; }
    return n;
}

const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n) {
    int32_t cp;
    while (n-- > 0 && p < end) p = utf8_next_char(p, end, &cp);
    return p;
}

int utf8_seq_length(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

int utf8_char_length(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;
    if (cp < 0x110000) return 4;
    raise_invalid_char(cp);
}

uint64_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint64_t size = 0;
    if (unit == 1) {
        for (; start < end; ++start) size += *start < 0x80 ? 1 : 2;
        return size;
    }
    for (; start < end; start += unit) size += uint64_t(utf8_char_length(unit_get(start, unit)));
    return size;
}

int utf8_encode_char(uint32_t cp, uint8_t* dst) {
    if (cp < 0x80) { dst[0] = uint8_t(cp); return 1; }
    if (cp < 0x800) {
        dst[0] = uint8_t(0xC0 | (cp >> 6));
        dst[1] = uint8_t(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        dst[0] = uint8_t(0xE0 | (cp >> 12));
        dst[1] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        dst[2] = uint8_t(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp < 0x110000) {
        dst[0] = uint8_t(0xF0 | (cp >> 18));
        dst[1] = uint8_t(0x80 | ((cp >> 12) & 0x3F));
        dst[2] = uint8_t(0x80 | ((cp >> 6) & 0x3F));
        dst[3] = uint8_t(0x80 | (cp & 0x3F));
        return 4;
    }
    raise_invalid_char(cp);
}

int utf8_encode_char_limited(uint32_t cp, uint8_t* dst, uint32_t room) {
    int len = utf8_char_length(cp);
    if (uint32_t(len) > room) return 0;
    return utf8_encode_char(cp, dst);
}

// The validating decoder without raising: the length of the sequence (code
// point in *cp), 0 when the input ends inside it, -1 when it is malformed.
// Overlong forms and surrogates are accepted except where they would hide an
// ASCII character (a delimiter slipping past a check) and DC00h-DCFFh.
static int decode_one(const uint8_t* p, uint32_t avail, uint32_t* cp) {
    if (avail == 0) return 0;
    uint32_t lead = p[0];
    if (lead < 0x80) { *cp = lead; return 1; }
    int len;
    uint32_t code;
    if (lead < 0xC0 || lead >= 0xF8) return -1;
    if (lead < 0xE0) { len = 2; code = lead - 0xC0; }
    else if (lead < 0xF0) { len = 3; code = lead & 0x0F; }
    else { len = 4; code = lead & 0x07; }
    for (int i = 1; i < len; ++i) {
        if (uint32_t(i) >= avail) return 0;
        uint32_t b = p[i];
        if (b < 0x80 || b > 0xBF) return -1;
        code = (code << 6) | (b - 0x80);
    }
    if (code < 0x80) return -1;
    if (len == 3 && code >= 0xDC00 && code <= 0xDCFF) return -1;
    if (len == 4 && code >= 0x110000) return -1;
    *cp = code;
    return len;
}

int32_t utf8_decode_char(const uint8_t* p, uint32_t* avail) {
    uint32_t cp;
    int len = decode_one(p, *avail, &cp);
    if (len == 0) return -1;
    if (len < 0) raise_invalid_utf8(p, *avail);
    *avail = uint32_t(len);
    return int32_t(cp);
}

// --------------------------------------------------------------- widening

static SeriesBuffer* widen(NodeRef node, uint32_t to) {
    SeriesBuffer* b = node_buffer(node);
    uint32_t from = b->unit();
    if (to <= from) return b;
    uint32_t chars = b->count();
    uint64_t need = uint64_t(chars) * to + to;
    if (uint64_t(b->size) - b->head < need) {
        if (need > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
        b = expand_series_copy(node, uint32_t(need));
    }
    uint8_t* d = b->head_ptr();
    for (uint32_t i = chars; i-- > 0;) unit_put(d + i * to, to, unit_get(d + i * from, from));
    b->tail = b->head + chars * to;
    b->flags = (b->flags & ~SER_UNIT_MASK) | to;
    return b;
}

SeriesBuffer* string_widen_1_to_2(NodeRef node) { return widen(node, 2); }
SeriesBuffer* string_widen_1_to_4(NodeRef node) { return widen(node, 4); }
SeriesBuffer* string_widen_2_to_4(NodeRef node) { return widen(node, 4); }
SeriesBuffer* string_widen_to(NodeRef node, uint32_t to_unit) { return widen(node, to_unit); }

// Makes the node's buffer (or a new one) hold `chars` units of `unit` from its
// head, replacing its content; the unit is set, the tail left at the head.
static NodeRef prepare_target(NodeRef target, uint32_t chars, uint32_t unit) {
    if (!target) return alloc_series_units(chars ? chars : 1, unit);
    SeriesBuffer* b = node_buffer(target);
    uint64_t need = uint64_t(chars) * unit;
    if (uint64_t(b->size) - b->head < need) {
        if (need > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
        b = expand_series(target, uint32_t(need));
    }
    b->flags = (b->flags & ~SER_UNIT_MASK) | unit;
    b->tail = b->head;
    return target;
}

// --------------------------------------------------------------- UTF-8 to strings

namespace {
// Where decoding stops and why: the end, a cut sequence, or malformed bytes.
struct Utf8Plan {
    uint32_t start;     // after the byte-order mark
    uint32_t stop;      // first byte not decoded
    uint32_t chars;
    uint32_t unit;
    bool malformed;
    bool ascii;         // nothing but ASCII and no CR dropped: a plain copy
};

// The ASCII bytes at p that load as they stand (with cr, a CR does not).
inline uint32_t ascii_run_length(const uint8_t* p, uint32_t n, bool cr) {
    return uint32_t((cr ? ascii_run_end_before_cr(p, p + n) : ascii_run_end(p, p + n)) - p);
}

// True when none of the 8 bytes at p has its high bit set (and, with cr, none is CR).
inline bool ascii_block(const uint8_t* p, bool cr) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    if (w & 0x8080808080808080ull) return false;
    if (!cr) return true;
    uint64_t x = w ^ 0x0D0D0D0D0D0D0D0Dull;  // a zero byte where a CR was
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) == 0;
}

Utf8Plan plan_utf8(const uint8_t* s, uint32_t n, uint32_t min_unit, bool cr) {
    Utf8Plan plan{0, 0, 0, min_unit, false, true};
    if (n >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) plan.start = 3;
    uint32_t i = plan.start, chars = 0, widest = 0;
    while (i < n) {
        uint32_t run = ascii_run_length(s + i, n - i, cr);
        i += run;
        chars += run;
        if (i == n) break;
        if (s[i] < 0x80) {
            if (cr && s[i] == '\r') plan.ascii = false;
            if (cr && s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') { ++i; continue; }
            ++i; ++chars;
            continue;
        }
        uint32_t cp;
        int len = decode_one(s + i, n - i, &cp);
        if (len <= 0) { plan.malformed = len < 0; break; }
        plan.ascii = false;
        if (cp > widest) widest = cp;
        i += uint32_t(len);
        ++chars;
    }
    plan.stop = i;
    plan.chars = chars;
    uint32_t u = unit_for_char(widest);
    if (u > plan.unit) plan.unit = u;
    return plan;
}

template <class T>
void store_utf8(const uint8_t* s, const Utf8Plan& plan, T* d, bool cr) {
    for (uint32_t i = plan.start; i < plan.stop;) {
        uint32_t run = ascii_run_length(s + i, plan.stop - i, cr);
        for (uint32_t k = 0; k < run; ++k) *d++ = T(s[i + k]);
        i += run;
        if (i == plan.stop) break;
        uint32_t cp = s[i];
        if (cp < 0x80) {
            ++i;
            if (cr && cp == '\r') {
                if (i < plan.stop && s[i] == '\n') continue;
                cp = '\n';
            }
        } else if (cp < 0xE0) {  // validated by the plan: no checks needed
            cp = ((cp & 0x1F) << 6) | (s[i + 1] & 0x3F);
            i += 2;
        } else if (cp < 0xF0) {
            cp = ((cp & 0x0F) << 12) | ((s[i + 1] & 0x3Fu) << 6) | (s[i + 2] & 0x3F);
            i += 3;
        } else {
            cp = ((cp & 0x07) << 18) | ((s[i + 1] & 0x3Fu) << 12) | ((s[i + 2] & 0x3Fu) << 6) | (s[i + 3] & 0x3F);
            i += 4;
        }
        *d++ = T(cp);
    }
}

template <class Source>
NodeRef load_utf8(Source source, uint32_t n, NodeRef target, uint32_t* rest, bool cr) {
    if (rest) *rest = 0;
    uint32_t min_unit = target ? node_buffer(target)->unit() : 1;
    Utf8Plan plan = plan_utf8(source(), n, min_unit, cr);
    NodeRef node = prepare_target(target, plan.chars, plan.unit);
    SeriesBuffer* b = node_buffer(node);
    const uint8_t* s = source();  // re-read: preparing the target may have moved it
    if (plan.unit == 1 && plan.ascii) std::memcpy(b->head_ptr(), s + plan.start, plan.chars);
    else if (plan.unit == 1) store_utf8(s, plan, b->head_ptr(), cr);
    else if (plan.unit == 2) store_utf8(s, plan, reinterpret_cast<uint16_t*>(b->head_ptr()), cr);
    else store_utf8(s, plan, reinterpret_cast<uint32_t*>(b->head_ptr()), cr);
    b->tail = b->head + plan.chars * plan.unit;
    if (plan.malformed) {
        uint8_t bad[4];
        uint32_t avail = n - plan.stop < 4 ? n - plan.stop : 4;
        std::memcpy(bad, source() + plan.stop, avail);
        raise_invalid_utf8(bad, avail);
    }
    if (rest) *rest = n - plan.stop;
    return node;
}
}  // namespace

NodeRef string_load_utf8(const uint8_t* src, uint32_t n, NodeRef target, uint32_t* rest, bool cr) {
    return load_utf8([src] { return src; }, n, target, rest, cr);
}

NodeRef string_load_utf8_series(NodeRef src_node, uint32_t offset, uint32_t n, NodeRef target,
                                uint32_t* rest, bool cr) {
    return load_utf8([src_node, offset] { return node_buffer(src_node)->head_ptr() + offset; }, n, target,
                     rest, cr);
}

NodeRef string_load_utf8_into(const uint8_t* src, uint32_t n, Cell* str, uint32_t* rest) {
    return string_load_utf8(src, n, series_node(str), rest, false);
}

NodeRef string_from_utf8(const uint8_t* src, uint32_t n) { return string_load_utf8(src, n, 0, nullptr, false); }

// --------------------------------------------------------------- conversion cache

uint8_t* string_cache_buffer(Cell* str, uint32_t size) {
    NodeRef cache = text_cache_node(str);
    if (!cache) {
        cache = alloc_series_bytes(size);
        text_set_cache_node(str, cache);
    } else {
        SeriesBuffer* b = node_buffer(cache);
        if (b->size - b->head < size) expand_series(cache, size);
    }
    SeriesBuffer* b = node_buffer(cache);
    return b->head_ptr();
}

// Characters from the cell's index (clamped to the tail) that a conversion of
// at most `count` (-1: all) takes.
static uint32_t conversion_span(const Cell* str, int32_t count, uint32_t* first) {
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t total = b->count();
    uint32_t index = series_index(str) < total ? series_index(str) : total;
    uint32_t n = total - index;
    if (count >= 0 && uint32_t(count) < n) n = uint32_t(count);
    *first = index;
    return n;
}

NodeRef string_to_utf8_cache(Cell* str, int32_t* count, bool crlf) {
    uint32_t first;
    uint32_t chars = conversion_span(str, *count, &first);
    uint32_t unit = node_buffer(series_node(str))->unit();
    uint64_t size = uint64_t(unit == 4 ? 4 : unit + 1) * (uint64_t(chars) + 1);
    if (size > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    uint8_t* d = string_cache_buffer(str, uint32_t(size));
    const uint8_t* s = node_buffer(series_node(str))->head_ptr() + (first << unit_shift(unit));
    uint8_t* start = d;
    uint32_t i = 0;
    if (unit == 1 && !crlf)
        for (; i + 8 <= chars && ascii_block(s + i, false); i += 8, d += 8) std::memcpy(d, s + i, 8);
    for (; i < chars; ++i) {
        uint32_t cp = unit_get(s + i * unit, unit);
        if (cp < 0x80) {
            if (crlf && cp == '\n') *d++ = '\r';
            *d++ = uint8_t(cp);
        } else {
            d += utf8_encode_char(cp, d);
        }
    }
    *d = 0;
    *count = int32_t(d - start);
    return text_cache_node(str);
}

const char* string_to_utf8(Cell* str, int32_t* count) { return string_to_utf8_ex(str, count, false); }

const char* string_to_utf8_ex(Cell* str, int32_t* count, bool crlf) {
    NodeRef cache = string_to_utf8_cache(str, count, crlf);
    return reinterpret_cast<const char*>(node_buffer(cache)->head_ptr());
}

static bool holds_zero(const Cell* str, int32_t count) {
    uint32_t first;
    uint32_t chars = conversion_span(str, count, &first);
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t unit = b->unit();
    const uint8_t* s = b->head_ptr() + (first << unit_shift(unit));
    for (uint32_t i = 0; i < chars; ++i)
        if (unit_get(s + i * unit, unit) == 0) return true;
    return false;
}

const char* string_to_utf8_os(Cell* str) {
    if (holds_zero(str, -1)) raise_invalid_arg(str);
    int32_t count = -1;
    return string_to_utf8_ex(str, &count, false);
}

uint32_t string_write_utf8(const Cell* str, uint8_t* dst, int32_t max, bool zero) {
    uint32_t first;
    uint32_t chars = conversion_span(str, max, &first);
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t unit = b->unit();
    const uint8_t* s = b->head_ptr() + (first << unit_shift(unit));
    uint8_t* d = dst;
    for (uint32_t i = 0; i < chars; ++i) d += utf8_encode_char(unit_get(s + i * unit, unit), d);
    if (zero) *d = 0;
    return uint32_t(d - dst);
}

uint32_t string_write_utf8_limited(const Cell* str, uint8_t* dst, uint32_t room, int32_t part, bool zero) {
    uint32_t first;
    uint32_t chars = conversion_span(str, part < 1 ? -1 : part, &first);
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t unit = b->unit();
    const uint8_t* s = b->head_ptr() + (first << unit_shift(unit));
    uint32_t used = 0;
    for (uint32_t i = 0; i < chars; ++i) {
        int len = utf8_encode_char_limited(unit_get(s + i * unit, unit), dst + used, room - used);
        if (len == 0) break;
        used += uint32_t(len);
    }
    if (zero) dst[used] = 0;
    return used;
}

// --------------------------------------------------------------- UTF-16LE

static inline uint32_t u16_at(const uint8_t* p, uint32_t i) { return uint32_t(p[2 * i]) | uint32_t(p[2 * i + 1]) << 8; }

uint32_t utf16_scan_unit(const uint8_t* src, uint32_t n) {
    uint32_t unit = 1;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t u = u16_at(src, i);
        if (u >= 0xD800 && u <= 0xDFFF) return 4;
        if (u > 0xFF) unit = 2;
    }
    return unit;
}

NodeRef string_load_utf16(const uint8_t* src, uint32_t n, Cell* target, bool cr) {
    NodeRef cache = src ? 0 : text_cache_node(target);
    auto source = [&] { return src ? src : node_buffer(cache)->head_ptr(); };
    uint32_t unit = utf16_scan_unit(source(), n);
    NodeRef node;
    if (target) node = prepare_target(series_node(target), n, unit);
    else node = n ? alloc_series_units(n, unit) : alloc_series_units(1, 2);
    SeriesBuffer* b = node_buffer(node);
    const uint8_t* s = source();
    uint8_t* d = b->head_ptr();
    uint32_t out = 0;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t u = u16_at(s, i);
        if (cr && u == '\r') continue;
        if (unit == 4 && u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            uint32_t low = u16_at(s, i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                u = (((u & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
                ++i;
            }
        }
        unit_put(d + out * unit, unit, u);
        ++out;
    }
    b->tail = b->head + out * unit;
    return node;
}

uint64_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit) {
    uint64_t extra = 0;
    for (; start < end; start += unit) {
        uint32_t cp = unit_get(start, unit);
        if (cp == '\n' || cp >= 0x10000) extra += 2;
    }
    return extra;
}

const uint16_t* string_to_utf16(Cell* str, int32_t* count, bool crlf) {
    if (holds_zero(str, *count)) raise_invalid_arg(str);
    uint32_t first;
    uint32_t chars = conversion_span(str, *count, &first);
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t unit = b->unit();
    const uint8_t* s = b->head_ptr() + (first << unit_shift(unit));
    uint64_t size = 2ull * chars + 2 + utf16_extra_size(s, s + chars * unit, unit);
    if (size > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    uint8_t* d = string_cache_buffer(str, uint32_t(size));
    s = node_buffer(series_node(str))->head_ptr() + (first << unit_shift(unit));
    uint32_t out = 0;
    auto put = [&](uint32_t u) { d[2 * out] = uint8_t(u); d[2 * out + 1] = uint8_t(u >> 8); ++out; };
    for (uint32_t i = 0; i < chars; ++i) {
        uint32_t cp = unit_get(s + i * unit, unit);
        if (cp == '\n' && crlf) put('\r');
        if (cp < 0x10000) put(cp);
        else if (cp < 0x110000) {
            put(0xD800 + ((cp - 0x10000) >> 10));
            put(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            return nullptr;
        }
    }
    put(0);
    *count = int32_t(out - 1);
    return reinterpret_cast<const uint16_t*>(d);
}

const uint16_t* string_to_utf16_crlf(Cell* str) {
    int32_t count = -1;
    return string_to_utf16(str, &count, true);
}

uint16_t* ascii_to_utf16(const char* s, uint16_t* dst) {
    uint16_t* d = dst;
    while (*s) *d++ = uint8_t(*s++);
    *d = 0;
    return dst;
}

}  // namespace tev

// binary!: byte series. Its actions, text form, bitwise engine and the base 2/16/58/64 engines.
//
// Values are turned into bytes into a staging std::string before the binary's
// buffer is touched, so no pointer into a buffer is held across an allocation.
#include "datatypes/binary.h"
#include <algorithm>
#include "datatypes/block.h"
#include <cstring>
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/series.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tev {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFFF0u;

SeriesBuffer* buf(const Cell* bin) { return node_buffer(series_node(bin)); }

// Units (bytes or characters) of a text or byte series from its index.
// Valid until the next allocation.
struct TextView {
    const uint8_t* data;
    uint32_t unit, length;
    uint32_t operator[](uint32_t i) const {
        const uint8_t* p = data + size_t(i) * unit;
        if (unit == 1) return *p;
        if (unit == 2) { uint16_t v; std::memcpy(&v, p, 2); return v; }
        uint32_t v; std::memcpy(&v, p, 4); return v;
    }
};
TextView text_view(const Cell* s) {
    SeriesBuffer* b = buf(s);
    uint32_t total = b->count(), index = std::min(series_index(s), total);
    return TextView{b->head_ptr() + size_t(index) * b->unit(), b->unit(), total - index};
}

int32_t utf8_encode_char(uint32_t cp, uint8_t* out) {
    if (cp < 0x80) { out[0] = uint8_t(cp); return 1; }
    if (cp < 0x800) { out[0] = uint8_t(0xC0 | cp >> 6); out[1] = uint8_t(0x80 | (cp & 63)); return 2; }
    if (cp < 0x10000) {
        out[0] = uint8_t(0xE0 | cp >> 12); out[1] = uint8_t(0x80 | ((cp >> 6) & 63)); out[2] = uint8_t(0x80 | (cp & 63));
        return 3;
    }
    out[0] = uint8_t(0xF0 | cp >> 18); out[1] = uint8_t(0x80 | ((cp >> 12) & 63));
    out[2] = uint8_t(0x80 | ((cp >> 6) & 63)); out[3] = uint8_t(0x80 | (cp & 63));
    return 4;
}

// The head index, pulled back to the tail in the cell when it lies past it.
uint32_t clamp_index(Cell* bin) {
    uint32_t total = buf(bin)->count();
    if (series_index(bin) > total) series_set_index(bin, total);
    return series_index(bin);
}

uint32_t tuple_count(const Cell* t) { return (t->header >> TUPLE_COUNT_SHIFT) & 0xF; }
const uint8_t* tuple_bytes(const Cell* t) { return cell_payload(t); }

void put_utf8(std::string& out, uint32_t cp) {
    uint8_t bytes[4];
    if (cp > CHAR_MAX_CODE_POINT) raise_error_int(err::script::invalid_char, int64_t(cp));
    int n = utf8_encode_char(cp, bytes);
    out.append(reinterpret_cast<char*>(bytes), size_t(n));
}

void text_utf8(const Cell* text, int64_t part, std::string& out) {
    TextView t = text_view(text);
    uint32_t n = part >= 0 && part < t.length ? uint32_t(part) : t.length;
    for (uint32_t i = 0; i < n; ++i) put_utf8(out, t[i]);
}

bool is_list_type(TypeId t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH; }

// The bytes a value brings to append, insert, change (forming: other types are
// formed instead of refused) and to. part limits bytes, characters or elements.
void value_bytes(const Cell* value_in, int64_t part, bool forming, std::string& out) {
    StackScope scope;
    Cell* value = stack_push_copy(value_in);
    TypeId t = cell_type(value);
    if (t == T_CHAR) {
        if (get_char(value) > CHAR_MAX_CODE_POINT) raise_error(err::script::invalid_char, value);
        if (part != 0) put_utf8(out, get_char(value));
    } else if (t == T_INTEGER) {
        int32_t n = get_integer(value);
        if (n < -128 || n > 255) raise_error(err::script::invalid_arg, value);
        if (part != 0) out.push_back(char(uint8_t(n)));
    } else if (t == T_BINARY) {
        uint32_t n = binary_length(value);
        if (part >= 0 && part < n) n = uint32_t(part);
        out.append(reinterpret_cast<const char*>(binary_head_address(value)), n);
    } else if (t == T_TUPLE) {
        uint32_t n = tuple_count(value);
        if (part >= 0 && part < n) n = uint32_t(part);
        out.append(reinterpret_cast<const char*>(tuple_bytes(value)), n);
    } else if (is_list_type(t)) {
        NodeRef node = series_node(value);
        if (cycle_find(node)) raise_error(err::internal::no_cycle);
        CycleGuard guard(node);
        int64_t left = part >= 0 ? part : INT64_MAX;
        for (uint32_t i = series_index(value); left > 0; ++i, --left) {
            SeriesBuffer* b = node_buffer(node);
            if (i >= b->count()) break;
            value_bytes(b->cells() + i, -1, forming, out);
        }
    } else if (type_is_string(t)) {
        text_utf8(value, part, out);
    } else if (forming) {
        Cell* formed = string_push(16);
        if (auto form = action_of<Act::form>(t)) form(value, formed, nullptr, NO_LIMIT);
        text_utf8(formed, -1, out);
    } else {
        raise_error_type(err::script::bad_to_arg, T_BINARY, value);
    }
}

// A /part argument of a binary action as a count: an integer!, or a position
// in the same series. Negative counts are 0.
int64_t part_count(const Cell* series, const Cell* part) {
    int64_t n;
    if (cell_is(part, T_INTEGER)) n = get_integer(part);
    else if (type_is_series(cell_type(part)) && series_node(part) == series_node(series))
        n = int64_t(series_index(part)) - int64_t(series_index(series));
    else raise_bad_refine("part", part);
    return n < 0 ? 0 : n;
}

// The /dup count; 0 or less means nothing is written.
int64_t dup_count(ActionFrame& f) {
    if (!f.has(ref::append_dup)) return 1;
    const Cell* d = f.ref_arg(ref::append_dup);
    if (!cell_is(d, T_INTEGER)) raise_bad_refine("dup", d);
    return get_integer(d);
}

// Opens a gap of `gap` bytes at `pos` (from the buffer's first byte) and fills
// it with `dup` copies of `bytes`, doubling the written run.
void write_gap(NodeRef node, uint32_t pos, const std::string& bytes, uint64_t gap) {
    SeriesBuffer* b = node_buffer(node);
    if (gap > MAX_BYTES - b->tail) raise_error(err::internal::no_memory);
    b = series_ensure_room(node, uint32_t(gap));
    uint8_t* at = b->head_ptr() + pos;
    std::memmove(at + gap, at, b->count() - pos);
    std::memcpy(at, bytes.data(), bytes.size());
    uint64_t written = bytes.size();
    while (written < gap) {
        uint64_t n = std::min(written, gap - written);
        std::memcpy(at + written, at, size_t(n));
        written += n;
    }
    b->tail += uint32_t(gap);
}

}  // namespace

// ---------------------------------------------------------------- byte-series routines

uint32_t binary_length(const Cell* bin) {
    SeriesBuffer* b = buf(bin);
    uint32_t total = b->count();
    return series_index(bin) < total ? total - series_index(bin) : 0;
}

uint8_t* binary_head_address(const Cell* bin) {
    SeriesBuffer* b = buf(bin);
    return b->head_ptr() + std::min(series_index(bin), b->count());
}

uint8_t binary_byte_at(const Cell* bin, uint32_t index) {
    SeriesBuffer* b = buf(bin);
    if (index >= b->count()) raise_error_int(err::script::out_of_range, int64_t(index) + 1);
    return b->head_ptr()[index];
}

uint32_t binary_append_bytes(Cell* bin, const void* src, uint32_t length) {
    NodeRef node = series_node(bin);
    if (length > MAX_BYTES - buf(bin)->tail) raise_error(err::internal::no_memory);
    SeriesBuffer* b = series_ensure_room(node, length);
    uint32_t at = b->count();
    std::memcpy(b->tail_ptr(), src, length);
    b->tail += length;
    return at;
}

uint32_t binary_insert_bytes(Cell* bin, uint32_t offset, const void* src, uint32_t length) {
    uint32_t pos = std::min<uint64_t>(uint64_t(clamp_index(bin)) + offset, buf(bin)->count());
    write_gap(series_node(bin), pos, std::string(static_cast<const char*>(src), length), length);
    return pos;
}

uint32_t binary_overwrite_bytes(Cell* bin, uint32_t offset, const void* src, uint32_t length) {
    NodeRef node = series_node(bin);
    uint64_t pos = uint64_t(clamp_index(bin)) + offset;
    uint64_t end = pos + length;
    if (end > MAX_BYTES) raise_error(err::internal::no_memory);
    SeriesBuffer* b = node_buffer(node);
    if (end > b->count()) b = series_ensure_room(node, uint32_t(end - b->count()));
    if (pos > b->count()) std::memset(b->tail_ptr(), 0, size_t(pos - b->count()));
    std::memcpy(b->head_ptr() + pos, src, length);
    if (end > b->count()) b->tail = b->head + uint32_t(end);
    return uint32_t(pos);
}

void binary_append_be32(uint32_t value, Cell* bin) {
    uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    binary_append_bytes(bin, bytes, 4);
}

void binary_make_cell(Cell* out, uint32_t capacity) {
    NodeRef node = alloc_series_bytes(capacity);
    set_series(out, T_BINARY, node);
}

Cell* binary_from_memory(Cell* block, const void* src, uint32_t length) {
    std::string staged(static_cast<const char*>(src), length);
    Cell* out = stack_push();
    binary_make_cell(out, length);
    SeriesBuffer* b = buf(out);
    std::memcpy(b->head_ptr(), staged.data(), length);
    b->tail = b->head + length;
    if (!block) return out;
    block_append(block, out);
    stack_pop(1);
    return reinterpret_cast<Cell*>(node_buffer(series_node(block))->tail_ptr()) - 1;
}

Cell* binary_push_memory(const void* src, uint32_t length) { return binary_from_memory(nullptr, src, length); }

void binary_value_to_byte(uint8_t* dst, const Cell* value) {
    if (!cell_is(value, T_CHAR) && !cell_is(value, T_INTEGER)) raise_error(err::script::invalid_arg, value);
    *dst = uint8_t(get_char_or_integer(value));
}

// ---------------------------------------------------------------- comparing

static bool is_equality(int op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND;
}

int binary_compare_values(const Cell* bin, const Cell* other, int op, bool match) {
    TypeId ot = cell_type(other);
    if (ot != T_BINARY && !type_is_string(ot)) return CMP_NOT_COMPARABLE;
    bool same_place = series_node(bin) == series_node(other) && series_index(bin) == series_index(other);
    if (op == CMP_SAME) return same_place ? 0 : -1;
    if (is_equality(op) && same_place) return 0;
    TextView a = text_view(bin);
    TextView b = text_view(other);
    if (match) {
        if (b.length == 0) return op == CMP_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND ? 0 : 1;
        if (a.length < b.length) return -1;
        for (uint32_t i = 0; i < b.length; ++i)
            if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
        return 0;
    }
    if (a.length != b.length && is_equality(op)) return 1;
    uint32_t n = std::min(a.length, b.length);
    for (uint32_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return a.length == b.length ? 0 : a.length < b.length ? -1 : 1;
}

bool binary_byte_in_bitset(const Cell* bin, const Cell* bitset) { return string_char_in_bitset(bin, bitset); }

bool binary_match_value(const Cell* bin, const Cell* value, int op) {
    TypeId t = cell_type(value);
    if (t == T_BINARY || type_is_string(t)) return binary_compare_values(bin, value, op, true) == 0;
    if (t == T_CHAR) return binary_length(bin) > 0 && *binary_head_address(bin) == get_char(value);
    return false;
}

static int binary_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_BINARY)) return CMP_NOT_COMPARABLE;
    return binary_compare_values(a, b, op, false);
}

// ---------------------------------------------------------------- encoders

static const char HEX_DIGITS[] = "0123456789ABCDEF";
static const char BASE58_DIGITS[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
static constexpr char BASE64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char* binary_enbase_2(char* out, const uint8_t* bytes, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i)
        for (int bit = 7; bit >= 0; --bit) *out++ = char('0' + ((bytes[i] >> bit) & 1));
    return out;
}

char* binary_enbase_16(char* out, const uint8_t* bytes, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        *out++ = HEX_DIGITS[bytes[i] >> 4];
        *out++ = HEX_DIGITS[bytes[i] & 15];
    }
    return out;
}

char* binary_enbase_58(char* out, const uint8_t* bytes, uint32_t length) {
    uint32_t zeros = 0;
    while (zeros < length && bytes[zeros] == 0) ++zeros;
    // Digits of the number, least significant first, by repeated division.
    std::string work(reinterpret_cast<const char*>(bytes) + zeros, length - zeros);
    std::string digits;
    size_t start = 0;
    while (start < work.size()) {
        uint32_t rem = 0;
        for (size_t i = start; i < work.size(); ++i) {
            uint32_t v = rem * 256 + uint8_t(work[i]);
            work[i] = char(v / 58);
            rem = v % 58;
        }
        digits.push_back(BASE58_DIGITS[rem]);
        while (start < work.size() && work[start] == 0) ++start;
    }
    for (uint32_t i = 0; i < zeros; ++i) *out++ = '1';
    for (size_t i = digits.size(); i-- > 0;) *out++ = digits[i];
    return out;
}

char* binary_enbase_64(char* out, const uint8_t* bytes, uint32_t length) {
    uint32_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t g = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        *out++ = BASE64_DIGITS[g >> 18];
        *out++ = BASE64_DIGITS[(g >> 12) & 63];
        *out++ = BASE64_DIGITS[(g >> 6) & 63];
        *out++ = BASE64_DIGITS[g & 63];
    }
    if (i < length) {
        uint32_t g = uint32_t(bytes[i]) << 16 | (i + 1 < length ? uint32_t(bytes[i + 1]) << 8 : 0);
        *out++ = BASE64_DIGITS[g >> 18];
        *out++ = BASE64_DIGITS[(g >> 12) & 63];
        *out++ = i + 1 < length ? BASE64_DIGITS[(g >> 6) & 63] : '=';
        *out++ = '=';
    }
    return out;
}

uint64_t binary_enbase_room(int base, uint64_t length) {
    switch (base) {
    case 2: return length * 8;
    case 16: return length * 2;
    case 58: return length * 138 / 100 + 2;
    case 64: return (length + 2) / 3 * 4;
    default: return 0;
    }
}

static char* enbase_into(int base, char* out, const uint8_t* bytes, uint32_t length) {
    switch (base) {
    case 2: return binary_enbase_2(out, bytes, length);
    case 16: return binary_enbase_16(out, bytes, length);
    case 58: return binary_enbase_58(out, bytes, length);
    case 64: return binary_enbase_64(out, bytes, length);
    default: return out;
    }
}

std::string binary_enbase(int base, const uint8_t* bytes, uint32_t length) {
    std::string out;
    out.resize(size_t(binary_enbase_room(base, length)));
    out.resize(size_t(enbase_into(base, out.data(), bytes, length) - out.data()));
    return out;
}

Cell* binary_enbase_push(int base, const Cell* value) {
    std::string utf8;
    const bool text = type_is_string(cell_type(value));
    if (text) utf8 = string_to_utf8(value);
    const uint32_t length = text ? uint32_t(utf8.size()) : binary_length(value);
    // Counted in 64 bits: eight characters a byte overflow 32 bits from 512 MiB on.
    const uint64_t room = binary_enbase_room(base, length);
    if (room >= 0x80000000u) raise_error(err::script::too_long);
    Cell source = *value;  // the binary's node survives in the caller's rooted cell
    Cell* out = stack_push();
    string_make_width(out, uint32_t(room ? room : 1), 1);
    // Both addresses are read after the allocation, which may have moved the binary.
    const uint8_t* bytes = text ? reinterpret_cast<const uint8_t*>(utf8.data()) : binary_head_address(&source);
    SeriesBuffer* b = node_buffer(series_node(out));
    char* start = reinterpret_cast<char*>(b->head_ptr());
    b->tail = b->head + uint32_t(enbase_into(base, start, bytes, length) - start);
    return out;
}

// ---------------------------------------------------------------- decoders

namespace {

// Reads characters of any unit width, skipping ";" comments to the line feed.
struct TextReader {
    const uint8_t* p;
    uint32_t count, unit, i = 0;
    bool more() const { return i < count; }
    uint32_t peek() const { return TextView{p, unit, count}[i]; }
    // The next character that is not skipped, or -1 at the end.
    int64_t next(bool (*skipped)(uint32_t)) {
        while (i < count) {
            uint32_t c = peek();
            ++i;
            if (c == ';') {
                while (i < count && peek() != '\n') ++i;
                continue;
            }
            if (skipped(c)) continue;
            return c;
        }
        return -1;
    }
};

bool up_to_blank(uint32_t c) { return c <= ' '; }
bool base58_64_blank(uint32_t c) {
    return c == 8 || c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ' || c == '\'';
}

// Digit values of byte text; 0x10 marks a character that is not a hex digit.
struct HexTable {
    uint8_t v[256];
    constexpr HexTable() : v() {
        for (int c = 0; c < 256; ++c) v[c] = 0x10;
        for (int c = 0; c < 10; ++c) v['0' + c] = uint8_t(c);
        for (int c = 0; c < 6; ++c) v['A' + c] = v['a' + c] = uint8_t(10 + c);
    }
};
constexpr HexTable HEX_VALUE;

int hex_digit(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

int base58_digit(uint32_t c) {
    if (c > 127) return -1;
    const char* at = std::strchr(BASE58_DIGITS, int(c));
    return c && at ? int(at - BASE58_DIGITS) : -1;
}


// Sixteen hex digits at p into eight bytes at out; false, having written
// nothing, when any of them is not a digit.
#if defined(__SSE2__)
bool hex_sixteen(const uint8_t* p, char* out) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Below `limit` as unsigned bytes: min(x, limit - 1) == x.
    auto below = [](__m128i x, int limit) { return _mm_cmpeq_epi8(_mm_min_epu8(x, _mm_set1_epi8(char(limit - 1))), x); };
    __m128i digit = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    __m128i letter = _mm_sub_epi8(_mm_or_si128(v, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    __m128i is_digit = below(digit, 10), is_letter = below(letter, 6);
    if (_mm_movemask_epi8(_mm_or_si128(is_digit, is_letter)) != 0xFFFF) return false;
    __m128i value = _mm_or_si128(_mm_and_si128(is_digit, digit),
                                 _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
    // Each 16-bit lane holds a pair, its first digit in the low byte.
    __m128i pairs = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(value, _mm_set1_epi16(0xFF)), 4), _mm_srli_epi16(value, 8));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(pairs, pairs));
    return true;
}
#else
bool hex_sixteen(const uint8_t*, char*) { return false; }
#endif

// Characters above 127 are never digits (no folding to 7 bits), and a lone
// final digit is invalid rather than dropped.
bool debase_16(TextReader& r, std::string* out) {
    // Sized once for the most the rest of the text can give (a byte per two
    // characters): sizing at each run of pairs filled the rest again every
    // line, which made text with line breaks quadratic.
    size_t at = out->size();
    out->resize(at + (r.count - r.i) / 2);
    char* o = out->data() + at;
    bool ok = true;
    for (;;) {
        // Byte text without blanks or comments: whole pairs straight from the buffer.
        if (r.unit == 1) {
            // Locals only: a store through `o` may alias anything reached
            // through r, which made every step read r again.
            const uint8_t* p = r.p;
            uint32_t i = r.i, n = r.count;
            char* to = o;
            for (; i + 16 <= n && hex_sixteen(p + i, to); i += 16) to += 8;
            for (; i + 1 < n; i += 2) {
                uint8_t h = HEX_VALUE.v[p[i]], l = HEX_VALUE.v[p[i + 1]];
                if ((h | l) & 0x10) break;
                *to++ = char(h << 4 | l);
            }
            o = to;
            r.i = i;
        }
        int64_t hi = r.next(up_to_blank);
        if (hi < 0) break;
        int64_t lo = r.next(up_to_blank);
        int h = hex_digit(uint32_t(hi)), l = lo < 0 ? -1 : hex_digit(uint32_t(lo));
        if (h < 0 || l < 0) {
            ok = false;
            break;
        }
        *o++ = char(h * 16 + l);
    }
    out->resize(size_t(o - out->data()));
    return ok;
}

bool debase_2(TextReader& r, std::string* out) {
    for (;;) {
        int byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            int64_t c = r.next(up_to_blank);
            if (c < 0) return bit == 0;
            if (c != '0' && c != '1') return false;
            byte = byte * 2 + int(c - '0');
        }
        out->push_back(char(byte));
    }
}

bool debase_58(TextReader& r, std::string* out) {
    std::string digits;
    for (int64_t c; (c = r.next(base58_64_blank)) >= 0;) {
        int d = base58_digit(uint32_t(c));
        if (d < 0) return false;  // also every character above 127
        digits.push_back(char(d));
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    std::string number;  // big-endian bytes of the value
    for (size_t i = zeros; i < digits.size(); ++i) {
        uint32_t carry = uint8_t(digits[i]);
        for (size_t k = number.size(); k-- > 0;) {
            uint32_t v = uint8_t(number[k]) * 58u + carry;
            number[k] = char(v & 0xFF);
            carry = v >> 8;
        }
        while (carry) {
            number.insert(number.begin(), char(carry & 0xFF));
            carry >>= 8;
        }
    }
    out->append(zeros, '\0');
    out->append(number);
    return true;
}

// Character classes of the base-64 decoder: digit values 0-63, then these.
enum : uint8_t { B64_SKIP = 64, B64_COMMENT, B64_PAD, B64_BAD };

struct Base64Table {
    uint8_t cls[128];
    constexpr Base64Table() : cls() {
        for (int c = 0; c < 128; ++c) cls[c] = B64_BAD;
        for (int c = 0; c < 64; ++c) cls[uint8_t(BASE64_DIGITS[c])] = uint8_t(c);
        for (uint8_t c : {uint8_t(8), uint8_t('\t'), uint8_t('\n'), uint8_t('\f'), uint8_t('\r'), uint8_t(' '), uint8_t('\'')})
            cls[c] = B64_SKIP;
        cls[uint8_t(';')] = B64_COMMENT;
        cls[uint8_t('=')] = B64_PAD;
    }
};
constexpr Base64Table BASE64_TABLE;
inline uint8_t base64_class(uint32_t c) { return c < 128 ? BASE64_TABLE.cls[c] : uint8_t(B64_BAD); }

// Four characters to three bytes; "=" after two characters of a group gives
// one byte, after three two, and ends the data; a partial group without it
// is invalid.
bool debase_64(TextReader& r, std::string* out) {
    out->reserve(size_t(r.count) / 4 * 3 + 3);
    uint32_t group = 0;
    int count = 0;
    while (r.i < r.count) {
        // Whole groups of four digits in byte text go straight to three bytes.
        if (r.unit == 1 && count == 0) {
            const uint8_t* p = r.p;
            uint32_t i = r.i;
            for (; i + 4 <= r.count; i += 4) {
                uint8_t a = base64_class(p[i]);
                uint8_t b = base64_class(p[i + 1]);
                uint8_t c = base64_class(p[i + 2]);
                uint8_t d = base64_class(p[i + 3]);
                if ((a | b | c | d) >= 64) break;
                uint32_t g = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | d;
                char bytes[3] = {char(g >> 16), char(g >> 8), char(g)};
                out->append(bytes, 3);
            }
            r.i = i;
            if (i >= r.count) break;
        }
        uint32_t c = r.peek();
        ++r.i;
        uint8_t cls = base64_class(c);
        if (cls < 64) {
            group = group << 6 | cls;
            if (++count == 4) {
                char bytes[3] = {char(group >> 16), char(group >> 8), char(group)};
                out->append(bytes, 3);
                group = 0;
                count = 0;
            }
        } else if (cls == B64_SKIP) {
            continue;
        } else if (cls == B64_COMMENT) {
            while (r.i < r.count && r.peek() != '\n') ++r.i;
        } else if (cls == B64_PAD) {
            if (count != 2 && count != 3) return false;
            group <<= 6 * (4 - count);
            out->push_back(char(group >> 16));
            if (count == 3) out->push_back(char(group >> 8));
            return true;
        } else {
            return false;
        }
    }
    return count == 0;
}

Cell* push_decoded(int base, const void* text, uint32_t count, uint32_t unit) {
    std::string bytes;
    if (!binary_debase_bytes(base, text, count, unit, &bytes)) return nullptr;
    return binary_push_memory(bytes.data(), uint32_t(bytes.size()));
}

}  // namespace

bool binary_debase_bytes(int base, const void* text, uint32_t count, uint32_t unit, std::string* bytes) {
    TextReader r{static_cast<const uint8_t*>(text), count, unit};
    bytes->clear();
    switch (base) {
    case 2: return debase_2(r, bytes);
    case 16: return debase_16(r, bytes);
    case 58: return debase_58(r, bytes);
    case 64: return debase_64(r, bytes);
    default: return false;
    }
}

Cell* binary_debase_2(const void* text, uint32_t count, uint32_t unit) { return push_decoded(2, text, count, unit); }
Cell* binary_debase_16(const void* text, uint32_t count, uint32_t unit) { return push_decoded(16, text, count, unit); }
Cell* binary_debase_58(const void* text, uint32_t count, uint32_t unit) { return push_decoded(58, text, count, unit); }
Cell* binary_debase_64(const void* text, uint32_t count, uint32_t unit) { return push_decoded(64, text, count, unit); }

Cell* binary_debase_push(int base, const Cell* text) {
    TextView v = text_view(text);
    return push_decoded(base, v.data, v.length, v.unit);
}

// ---------------------------------------------------------------- form and mold

static int32_t binary_mold(const Cell* value, Cell* out, bool only, bool, bool flat, const Cell* arg, int32_t limit,
                           int32_t indent) {
    uint32_t n = binary_length(value);
    std::string bytes(reinterpret_cast<const char*>(binary_head_address(value)), n);
    std::string text;
    auto used_up = [&] { return arg && limit_less(limit, int64_t(text.size())) < 1; };
    auto line_break = [&](int32_t level) {
        text.push_back('\n');
        text.append(size_t(4 * std::max(level, 0)), ' ');
    };
    bool lines = n > 30 && !flat;
    if (!only) text += "#{";
    if (lines) line_break(indent + 1);
    for (uint32_t i = 0; i < n && !used_up(); ++i) {
        text.push_back(HEX_DIGITS[uint8_t(bytes[i]) >> 4]);
        text.push_back(HEX_DIGITS[uint8_t(bytes[i]) & 15]);
        if (lines && (i + 1) % 32 == 0) line_break(indent + 1);
    }
    if (lines && n % 32 != 0) line_break(indent);
    if (!only) text += "}";
    string_append_ascii(out, text.data(), text.size());
    return limit_less(limit, int64_t(text.size()));
}

static int32_t binary_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    return binary_mold(value, out, false, false, false, arg, limit, 0);
}

// ---------------------------------------------------------------- to

static void binary_to(ActionFrame& f) {
    StackScope scope;
    Cell* value = stack_push_copy(f.args + 1);
    TypeId t = cell_type(value);
    std::string bytes;
    switch (t) {
    case T_INTEGER: {
        uint32_t v = uint32_t(get_integer(value));
        for (int s = 24; s >= 0; s -= 8) bytes.push_back(char(v >> s));
        break;
    }
    case T_FLOAT: case T_PERCENT: {
        uint64_t v;
        double d = get_float(value);
        std::memcpy(&v, &d, 8);
        for (int s = 56; s >= 0; s -= 8) bytes.push_back(char(v >> s));
        break;
    }
    case T_ISSUE: {
        uint32_t length;
        const uint8_t* spelling = symbol_spelling(word_symbol(value), &length);
        if (!binary_debase_bytes(16, spelling, length, 1, &bytes)) raise_error(err::script::invalid_data, value);
        break;
    }
    case T_BITSET: {
        SeriesBuffer* b = node_buffer(series_node(value));
        bytes.assign(reinterpret_cast<const char*>(b->head_ptr()), b->tail - b->head);
        break;
    }
    case T_BLOCK: case T_PAREN: case T_HASH: case T_CHAR: case T_BINARY: case T_TUPLE:
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF:
        value_bytes(value, -1, false, bytes);
        break;
    default:
        raise_error_type(err::script::bad_to_arg, T_BINARY, value);
    }
    Cell* out = binary_push_memory(bytes.data(), uint32_t(bytes.size()));
    f.args[0] = *out;
}

// ---------------------------------------------------------------- append, insert, change

static void append_or_insert(ActionFrame& f, bool append) {
    Cell* bin = f.args;
    uint32_t index = clamp_index(bin);
    int64_t dup = dup_count(f);
    int64_t part = -1;
    if (f.has(ref::append_part)) part = part_count(f.args + 1, f.ref_arg(ref::append_part));
    uint32_t pos = append ? buf(bin)->count() : index;
    if (dup > 0) {
        bool owned = ownership_notice(bin, append ? ChangeWord::append : ChangeWord::insert, f.args + 1, int32_t(pos), 0);
        std::string bytes;
        value_bytes(f.args + 1, part, false, bytes);
        if (!bytes.empty()) {
            uint64_t total = uint64_t(bytes.size()) * uint64_t(dup);
            if (total > MAX_BYTES) raise_error(err::internal::no_memory);
            pos = append ? buf(bin)->count() : std::min(clamp_index(bin), buf(bin)->count());
            write_gap(series_node(bin), pos, bytes, total);
            if (owned) ownership_notice(bin, append ? ChangeWord::appended : ChangeWord::inserted, nullptr,
                                        int32_t(pos), int32_t(total));
            pos += uint32_t(total);
        }
    }
    series_set_index(bin, append ? 0 : pos);
}

static void binary_append(ActionFrame& f) { append_or_insert(f, true); }
static void binary_insert(ActionFrame& f) { append_or_insert(f, false); }

static void binary_change(ActionFrame& f) {
    Cell* bin = f.args;
    uint32_t index = clamp_index(bin);
    int64_t dup = dup_count(f);
    int64_t part = f.has(ref::append_part) ? part_count(bin, f.ref_arg(ref::append_part)) : -1;
    if (dup <= 0) return;
    bool owned = ownership_notice(bin, ChangeWord::change, f.args + 1, int32_t(index), int32_t(std::min<int64_t>(part, INT32_MAX)));
    std::string bytes;
    value_bytes(f.args + 1, -1, true, bytes);
    uint64_t added = uint64_t(bytes.size()) * uint64_t(dup);
    if (added > MAX_BYTES) raise_error(err::internal::no_memory);
    index = std::min(clamp_index(bin), buf(bin)->count());
    uint32_t rest = buf(bin)->count() - index;
    uint32_t replaced = uint32_t(part >= 0 ? std::min<int64_t>(part, rest) : std::min<uint64_t>(added, rest));
    // Write the new run in a gap at the index, then drop the replaced bytes after it.
    if (added) write_gap(series_node(bin), index, bytes, added);
    SeriesBuffer* b = buf(bin);
    uint8_t* after = b->head_ptr() + index + added;
    std::memmove(after, after + replaced, b->count() - (index + added + replaced));
    b->tail -= replaced;
    if (owned) ownership_notice(bin, ChangeWord::changed, nullptr, int32_t(index), int32_t(added));
    series_set_index(bin, index + uint32_t(added));
}

// ---------------------------------------------------------------- trim

static void binary_trim(ActionFrame& f) {
    Cell* bin = f.args;
    if (f.has(ref::trim_auto) || f.has(ref::trim_lines)) raise_error(err::internal::not_done);
    bool drop[256] = {};
    bool everywhere = f.has(ref::trim_all) || f.has(ref::trim_with);
    if (f.has(ref::trim_with)) {
        const Cell* with = f.ref_arg(ref::trim_with);
        TypeId t = cell_type(with);
        if (t == T_CHAR || t == T_INTEGER) {
            if (get_char_or_integer(with) < 256) drop[get_char_or_integer(with)] = true;
        } else if (t == T_BINARY || type_is_string(t)) {
            TextView v = text_view(with);
            for (uint32_t i = 0; i < v.length; ++i)
                if (v[i] < 256) drop[v[i]] = true;
        } else {
            raise_bad_refine("with", with);
        }
    } else {
        drop[0] = true;
    }
    uint32_t index = clamp_index(bin);
    bool owned = ownership_notice(bin, ChangeWord::trim, nullptr, int32_t(index), 0);
    SeriesBuffer* b = buf(bin);
    uint8_t* p = b->head_ptr() + index;
    uint32_t n = b->count() - index;
    uint32_t kept = 0;
    if (everywhere) {
        for (uint32_t i = 0; i < n; ++i)
            if (!drop[p[i]]) p[kept++] = p[i];
    } else {
        bool head = f.has(ref::trim_head) || !f.has(ref::trim_tail);
        bool tail = f.has(ref::trim_tail) || !f.has(ref::trim_head);
        uint32_t lo = 0, hi = n;
        if (head) while (lo < hi && drop[p[lo]]) ++lo;
        if (tail) while (hi > lo && drop[p[hi - 1]]) --hi;
        kept = hi - lo;
        std::memmove(p, p + lo, kept);
    }
    b->tail = b->head + index + kept;
    if (owned) ownership_notice(bin, ChangeWord::trimmed, nullptr, int32_t(index), 0);
}

// ---------------------------------------------------------------- bitwise

static void bitwise(ActionFrame& f, int op) {
    if (!cell_is(f.args + 1, T_BINARY)) raise_error(err::script::invalid_arg, f.args + 1);
    uint32_t la = binary_length(f.args), lb = binary_length(f.args + 1);
    uint32_t n = std::max(la, lb);
    Cell* out = stack_push();
    binary_make_cell(out, n);
    const uint8_t* a = binary_head_address(f.args);
    const uint8_t* b = binary_head_address(f.args + 1);
    SeriesBuffer* ob = buf(out);
    uint8_t* r = ob->head_ptr();
    uint32_t shorter = std::min(la, lb);
    for (uint32_t i = 0; i < shorter; ++i)
        r[i] = op == OP_AND ? a[i] & b[i] : op == OP_OR ? a[i] | b[i] : a[i] ^ b[i];
    const uint8_t* longer = la > lb ? a : b;
    for (uint32_t i = shorter; i < n; ++i) r[i] = op == OP_AND ? 0 : longer[i];
    ob->tail = ob->head + n;
    f.args[0] = *out;
}

static void binary_and(ActionFrame& f) { bitwise(f, OP_AND); }
static void binary_or(ActionFrame& f) { bitwise(f, OP_OR); }
static void binary_xor(ActionFrame& f) { bitwise(f, OP_XOR); }

static void binary_complement(ActionFrame& f) {
    uint32_t n = binary_length(f.args);
    uint8_t* p = binary_head_address(f.args);
    for (uint32_t i = 0; i < n; ++i) p[i] = uint8_t(~p[i]);
}

// ---------------------------------------------------------------- find, select

// The text search of string! over the bytes: a binary or integer pattern is
// searched as the code points its bytes are, always exactly.
static void search_bytes(ActionFrame& f, Act slot) {
    Cell* pattern = f.args + 1;
    if (cell_is(pattern, T_BINARY)) cell_set_type(pattern, T_STRING);
    else if (cell_is(pattern, T_INTEGER)) {
        int32_t n = get_integer(pattern);
        if (n < 0 || n > 255) raise_error(err::script::invalid_arg, pattern);
        set_char(pattern, uint32_t(n));
    }
    f.refs[ref::find_case] = 0;
    if (slot == Act::find) action_required<Act::find>(T_STRING)(f);
    else action_required<Act::select>(T_STRING)(f);
    if (slot == Act::select && cell_is(f.args, T_CHAR)) set_integer(f.args, int32_t(get_char(f.args)));
}
static void binary_find(ActionFrame& f) { search_bytes(f, Act::find); }
static void binary_select(ActionFrame& f) { search_bytes(f, Act::select); }

// ---------------------------------------------------------------- registration

template <> void register_type<T_BINARY>() {
    register_datatype(T_BINARY, {
        .to = binary_to, .form = binary_form, .mold = binary_mold, .eval_path = series_eval_path_by_index,
        .compare = binary_compare, .and_t = binary_and, .complement = binary_complement, .or_t = binary_or,
        .xor_t = binary_xor, .append = binary_append, .change = binary_change, .find = binary_find,
        .insert = binary_insert, .select = binary_select, .take = series_take_element, .trim = binary_trim
    });
}

}  // namespace tev

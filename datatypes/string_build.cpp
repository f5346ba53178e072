// PROVISIONAL text building for form/mold tests until string! lands: the entries of datatypes/string.h only.
//
// Stores units of 1 byte and widens the whole buffer to 4-byte units when a
// code point above FFh arrives. string! replaces this file with its own unit.
#include <cstring>
#include <vector>
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

void string_make(Cell* out, uint32_t capacity, TypeId type) {
    NodeRef node = alloc_series(capacity ? capacity : 16, 1, 0);
    set_series(out, type, node, 0);
}

Cell* string_push(uint32_t capacity) {
    Cell* c = stack_push();
    string_make(c, capacity);
    return c;
}

static void widen_to_4(NodeRef node, uint32_t extra) {
    SeriesBuffer* b = node_buffer(node);
    std::vector<uint32_t> chars(b->head_ptr(), b->tail_ptr());
    uint64_t bytes = (uint64_t(chars.size()) + extra + 16) * 4;
    if (bytes > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    b = expand_series(node, uint32_t(bytes));
    b->flags = (b->flags & ~SER_UNIT_MASK) | 4;
    b->head = 0;
    b->tail = uint32_t(chars.size() * 4);
    std::memcpy(b->data, chars.data(), chars.size() * 4);
}

static void append_units(Cell* str, const uint32_t* cps, size_t n) {
    NodeRef node = series_node(str);
    uint32_t widest = 0;
    for (size_t i = 0; i < n; ++i) widest = cps[i] > widest ? cps[i] : widest;
    if (widest > 0xFF && node_buffer(node)->unit() == 1) widen_to_4(node, uint32_t(n));
    uint32_t unit = node_buffer(node)->unit();
    if (uint64_t(n) * unit > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    SeriesBuffer* b = series_ensure_room(node, uint32_t(n * unit));
    uint8_t* t = b->tail_ptr();
    for (size_t i = 0; i < n; ++i) {
        if (unit == 1) t[i] = uint8_t(cps[i]);
        else std::memcpy(t + i * 4, &cps[i], 4);
    }
    b->tail += uint32_t(n * unit);
}

void string_append_ascii(Cell* str, const char* s, size_t n) {
    std::vector<uint32_t> cps(s, s + n);
    append_units(str, cps.data(), n);
}

void string_append_cstr(Cell* str, const char* s) { string_append_ascii(str, s, std::strlen(s)); }

void string_append_codepoint(Cell* str, uint32_t cp) { append_units(str, &cp, 1); }

void string_append_utf8(Cell* str, const char* s, size_t n) {
    std::vector<uint32_t> cps;
    const auto* p = reinterpret_cast<const uint8_t*>(s);
    for (size_t i = 0; i < n;) {
        uint32_t c = p[i];
        int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (len > 1) c &= 0x3F >> (len - 1);
        for (int k = 1; k < len && i + k < n; ++k) c = (c << 6) | (p[i + k] & 0x3F);
        cps.push_back(c);
        i += size_t(len);
    }
    append_units(str, cps.data(), cps.size());
}

uint32_t string_length(const Cell* str) {
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t count = b->count();
    return series_index(str) < count ? count - series_index(str) : 0;
}

uint32_t string_char_at(const Cell* str, uint32_t i) {
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t at = series_index(str) + i;
    if (b->unit() == 1) return b->head_ptr()[at];
    uint32_t c;
    std::memcpy(&c, b->head_ptr() + at * 4, 4);
    return c;
}

std::string string_to_utf8(const Cell* str) {
    std::string out;
    uint32_t n = string_length(str);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t c = string_char_at(str, i);
        if (c < 0x80) out += char(c);
        else if (c < 0x800) { out += char(0xC0 | (c >> 6)); out += char(0x80 | (c & 0x3F)); }
        else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12)); out += char(0x80 | ((c >> 6) & 0x3F)); out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18)); out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F)); out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace tev

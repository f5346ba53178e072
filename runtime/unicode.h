// Text codecs: UTF-8 and UTF-16LE to and from strings stored in 1, 2 or 4-byte units, and in-place widening.
//
// A string buffer holds one code point per unit, little-endian: unit 1 holds
// 0..FFh (Latin-1, not UTF-8), unit 2 holds 0..FFFFh (no surrogate pairs), unit 4
// holds anything. Every code point in a buffer fits its unit; buffers only widen.
// Source pointers passed to the loaders must not point into a collected series
// buffer unless the entry says it re-reads them (the loaders allocate).
#pragma once
#include <bit>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace tev {

static_assert(std::endian::native == std::endian::little, "string units are stored little-endian");

// --------------------------------------------------------------- units

inline uint32_t unit_get(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) { uint16_t v; std::memcpy(&v, p, 2); return v; }
    uint32_t v; std::memcpy(&v, p, 4); return v;
}
inline void unit_put(uint8_t* p, uint32_t unit, uint32_t cp) {
    if (unit == 1) *p = uint8_t(cp);
    else if (unit == 2) { uint16_t v = uint16_t(cp); std::memcpy(p, &v, 2); }
    else std::memcpy(p, &cp, 4);
}
// The narrowest unit that holds cp when writing at a position (1 up to FFh).
inline uint32_t unit_for_char(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }
// The unit appending cp asks of a buffer: unit 1 keeps ASCII only.
inline uint32_t unit_for_append(uint32_t cp) { return cp <= 0x7F ? 1 : cp <= 0xFFFF ? 2 : 4; }
inline uint32_t unit_shift(uint32_t unit) { return unit == 1 ? 0 : unit == 2 ? 1 : 2; }

// --------------------------------------------------------------- UTF-8, raw bytes

// The end of the run of ASCII bytes starting at p (end when all are): such a
// run is its own UTF-8 and its own one-byte text. Sixteen bytes a step, as
// text from files and the system is mostly ASCII.
inline const uint8_t* ascii_run_end(const uint8_t* p, const uint8_t* end) {
    while (end - p >= 16) {
        int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        if (high) return p + std::countr_zero(unsigned(high));
        p += 16;
    }
    while (p < end && *p < 0x80) ++p;
    return p;
}

// As ascii_run_end, the run also ending at a CR (which loading may drop or turn into LF).
inline const uint8_t* ascii_run_end_before_cr(const uint8_t* p, const uint8_t* end) {
    const __m128i cr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int stop = _mm_movemask_epi8(v) | _mm_movemask_epi8(_mm_cmpeq_epi8(v, cr));
        if (stop) return p + std::countr_zero(unsigned(stop));
        p += 16;
    }
    while (p < end && *p < 0x80 && *p != '\r') ++p;
    return p;
}

// The lexer's scanner: one sequence at p (never reading at or past end); *cp is
// the code point, or -1 for a rejected or cut sequence. Returns the pointer past
// the bytes taken (a rejected sequence is consumed up to the byte that broke it).
const uint8_t* utf8_next_char(const uint8_t* p, const uint8_t* end, int32_t* cp);
uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end);
const uint8_t* utf8_skip_chars(const uint8_t* p, const uint8_t* end, uint32_t n);
int utf8_seq_length(uint8_t lead);                 // 4, 3, 2 from the lead's top bits, else 0
int utf8_char_length(uint32_t cp);                 // raises invalid-char above 10FFFFh
// UTF-8 size of the units between start and end; raises invalid-char above 10FFFFh.
uint64_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, uint32_t unit);
int utf8_encode_char(uint32_t cp, uint8_t* dst);   // 1-4 bytes; raises invalid-char
// Writes cp only when its whole sequence fits in room (never a cut sequence);
// returns the bytes written, 0 when it did not fit.
int utf8_encode_char_limited(uint32_t cp, uint8_t* dst, uint32_t room);
// Validating decode of one sequence at p with *avail bytes available: the code
// point, or -1 when the input ends inside the sequence; *avail becomes the bytes
// used. Malformed input (also overlong forms of ASCII) raises invalid-utf8.
int32_t utf8_decode_char(const uint8_t* p, uint32_t* avail);

// --------------------------------------------------------------- UTF-8 to strings

// Decodes n bytes into a new string buffer (target 0) or over the content of
// the target's buffer (its unit kept or widened). A leading byte-order mark is
// skipped. When the input ends inside a sequence, *rest (if given) gets the bytes
// left undecoded; otherwise it is set to 0. With cr, CR LF and a lone CR load as
// LF. Malformed input raises invalid-utf8 after storing what decoded before it.
// src must stay valid across allocation (not series data; see _series below).
NodeRef string_load_utf8(const uint8_t* src, uint32_t n, NodeRef target, uint32_t* rest, bool cr);
// The same reading from series data (re-read after allocating): bytes
// [offset, offset + n) of src_node's data from its head.
NodeRef string_load_utf8_series(NodeRef src_node, uint32_t offset, uint32_t n, NodeRef target,
                                uint32_t* rest, bool cr);
NodeRef string_load_utf8_into(const uint8_t* src, uint32_t n, Cell* str, uint32_t* rest);
NodeRef string_from_utf8(const uint8_t* src, uint32_t n);

// --------------------------------------------------------------- strings to UTF-8

// The cell's conversion cache with room for at least size bytes (made or grown;
// writes word 3 of the cell, so pass the cell the caller holds). Valid until the
// next allocation.
uint8_t* string_cache_buffer(Cell* str, uint32_t size);
// At most *count characters (-1: all) from the index as zero-terminated UTF-8 in
// the conversion cache; with crlf each LF is written CR LF. *count becomes the
// bytes written without the zero. Returns the cache node.
NodeRef string_to_utf8_cache(Cell* str, int32_t* count, bool crlf);
const char* string_to_utf8(Cell* str, int32_t* count);
const char* string_to_utf8_ex(Cell* str, int32_t* count, bool crlf);
// The whole string as UTF-8 for a system call: a zero character inside would cut
// the text the system sees, so it raises invalid-arg with the string instead.
const char* string_to_utf8_os(Cell* str);
// Writes at most max characters (-1: all) from the index into dst, then a zero
// byte when asked; returns the bytes without the zero.
uint32_t string_write_utf8(const Cell* str, uint8_t* dst, int32_t max, bool zero);
// The same for at most part characters (below 1: all), producing no more than
// room bytes and whole sequences only; the zero byte follows the last byte
// written (room + 1 bytes needed with it).
uint32_t string_write_utf8_limited(const Cell* str, uint8_t* dst, uint32_t room, int32_t part, bool zero);

// --------------------------------------------------------------- UTF-16LE

// 4 when any unit is a surrogate, else 2 when any is above FFh, else 1. src holds
// n little-endian 16-bit units (any alignment).
uint32_t utf16_scan_unit(const uint8_t* src, uint32_t n);
// Decodes n units into a new buffer (target null) or the target's buffer; with
// src null the target's conversion cache is the source. A surrogate pair becomes
// one code point; an unpaired surrogate (high or low) is kept as it is. With cr,
// CR units are dropped. Returns the node.
NodeRef string_load_utf16(const uint8_t* src, uint32_t n, Cell* target, bool cr);
uint64_t utf16_extra_size(const uint8_t* start, const uint8_t* end, uint32_t unit);
// At most *count characters (-1: all) from the index as zero-terminated UTF-16LE
// in the conversion cache (crlf: LF as CR LF; pairs from 10000h). *count becomes
// the units written. Returns nullptr when a code point is above 10FFFFh. A zero
// character inside the text raises invalid-arg (the text goes to the system).
const uint16_t* string_to_utf16(Cell* str, int32_t* count, bool crlf);
const uint16_t* string_to_utf16_crlf(Cell* str);
uint16_t* ascii_to_utf16(const char* s, uint16_t* dst);

// --------------------------------------------------------------- widening

// In place on the node's buffer (grown by copying when short of room); the
// contents from head to tail keep their code points. Return the (new) buffer.
SeriesBuffer* string_widen_1_to_2(NodeRef node);
SeriesBuffer* string_widen_1_to_4(NodeRef node);
SeriesBuffer* string_widen_2_to_4(NodeRef node);
SeriesBuffer* string_widen_to(NodeRef node, uint32_t to_unit);  // no-op when already as wide

}  // namespace tev

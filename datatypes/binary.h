// binary!: the byte-series routines the whole runtime builds and reads bytes with, and the base 2/16/58/64 engines.
//
// THE RULE (runtime/memory.h) holds: a binary cell passed in must be rooted
// when the routine may allocate, and a source address handed to a routine that
// allocates must not point into a series buffer (it may move): stage it first.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"

namespace tev {

// Bytes from the head to the tail; 0 when the head lies past the tail.
uint32_t binary_length(const Cell* bin);
// The byte at the head. Valid until the next allocation.
uint8_t* binary_head_address(const Cell* bin);
// The byte at `index` counted from the buffer's first byte (not the head);
// an index at or past the tail raises out-of-range.
uint8_t binary_byte_at(const Cell* bin, uint32_t index);

// Writers. They return the offset (from the buffer's first byte) where the
// bytes went. `src` must not lie in a series buffer.
uint32_t binary_append_bytes(Cell* bin, const void* src, uint32_t length);
uint32_t binary_insert_bytes(Cell* bin, uint32_t offset, const void* src, uint32_t length);
// Copies over the bytes at head + offset; the tail moves only when the written
// end lies past it.
uint32_t binary_overwrite_bytes(Cell* bin, uint32_t offset, const void* src, uint32_t length);
void binary_append_be32(uint32_t value, Cell* bin);

// Makes `out` an empty binary with room for `capacity` bytes.
void binary_make_cell(Cell* out, uint32_t capacity);
// A new binary holding a copy of the bytes (which may lie anywhere: they are
// staged before anything allocates), appended to `block` (rooted) or, without
// one, pushed on the value stack. Returns the new cell (valid until the next
// allocation when it lies in the block).
Cell* binary_from_memory(Cell* block, const void* src, uint32_t length);
Cell* binary_push_memory(const void* src, uint32_t length);

// Stores a char! or integer! as one byte (its low 8 bits); anything else raises invalid-arg.
void binary_value_to_byte(uint8_t* dst, const Cell* value);

// -1, 0, 1, or CMP_NOT_COMPARABLE when `other` is not text or binary. In match
// mode only other's length is compared (the binary begins with other's bytes).
int binary_compare_values(const Cell* bin, const Cell* other, int op, bool match);
// Whether the byte at the head is in the bitset (false at the tail).
bool binary_byte_in_bitset(const Cell* bin, const Cell* bitset);
bool binary_match_value(const Cell* bin, const Cell* value, int op);

// ---------------------------------------------------------------- enbase / debase

// Each writes the encoding of length bytes at out and returns the end of what
// it wrote. Output sizes: 8 per byte (2), 2 per byte (16), at most
// length * 138 / 100 + 1 (58), 4 per started 3 bytes (64).
char* binary_enbase_2(char* out, const uint8_t* bytes, uint32_t length);
char* binary_enbase_16(char* out, const uint8_t* bytes, uint32_t length);
char* binary_enbase_58(char* out, const uint8_t* bytes, uint32_t length);
char* binary_enbase_64(char* out, const uint8_t* bytes, uint32_t length);
// The encoding as a std::string (base 2, 16, 58 or 64; other bases give "").
std::string binary_enbase(int base, const uint8_t* bytes, uint32_t length);
// Room the encoding of `length` bytes needs (an upper bound for base 58).
uint64_t binary_enbase_room(int base, uint64_t length);
// Pushes a new string! holding the encoding of a binary! (from its index) or
// of a string's UTF-8 text; `value` must be rooted. Raises too-long when the
// text would reach 2^31 characters.
Cell* binary_enbase_push(int base, const Cell* value);

// Decode `count` characters of `unit` bytes each (1, 2 or 4) into *bytes; false
// when the text is not valid in that base. Nothing allocates in the heap of
// values, so `text` may point into a string's buffer.
bool binary_debase_bytes(int base, const void* text, uint32_t count, uint32_t unit, std::string* bytes);
// The same, pushing a new binary on the value stack; nullptr (nothing pushed)
// when the text is not valid.
Cell* binary_debase_2(const void* text, uint32_t count, uint32_t unit);
Cell* binary_debase_16(const void* text, uint32_t count, uint32_t unit);
Cell* binary_debase_58(const void* text, uint32_t count, uint32_t unit);
Cell* binary_debase_64(const void* text, uint32_t count, uint32_t unit);
// The same for the characters of a string from its index to its tail.
Cell* binary_debase_push(int base, const Cell* text);

}  // namespace tev

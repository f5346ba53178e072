// string! and its kin: text stored in 1, 2 or 4-byte units, widened as wider characters arrive.
// The entries other units use to build text (form, mold, error reports).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include "runtime/cell.h"

namespace tev {

// Make a new empty string! of the given capacity (in characters) into `out`
// (which must be a cell the collector sees: on the value stack or a RootCell).
void string_make(Cell* out, uint32_t capacity, TypeId type = T_STRING);
// Pushes a new empty string! on the value stack and returns it.
Cell* string_push(uint32_t capacity);
// Append at the tail of the string's buffer (not at its index); widen as needed.
void string_append_ascii(Cell* str, const char* s, size_t n);
void string_append_cstr(Cell* str, const char* s);
void string_append_codepoint(Cell* str, uint32_t cp);
void string_append_utf8(Cell* str, const char* s, size_t n);
// Characters from the string's index to its tail.
uint32_t string_length(const Cell* str);
uint32_t string_char_at(const Cell* str, uint32_t i);  // relative to the index
// UTF-8 text of the string from its index (for tests and diagnostics).
std::string string_to_utf8(const Cell* str);

}  // namespace tev

// string! and its kin: text stored in 1, 2 or 4-byte units, widened as wider characters arrive.
// The entries other units use to build text (form, mold, error reports), the
// storage primitives every string operation uses, and string!'s registration.
//
// Cells passed as Cell* must be ones the collector sees (value stack, RootCell)
// when the entry may allocate; routines taking a NodeRef re-read the buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace tev {

// --------------------------------------------------------------- building text

// Make a new empty string! of the given capacity (in characters) into `out`
// (which must be a cell the collector sees: on the value stack or a RootCell).
void string_make(Cell* out, uint32_t capacity, TypeId type = T_STRING);
// The same with a chosen unit (1, 2 or 4).
void string_make_width(Cell* out, uint32_t capacity, uint32_t unit, TypeId type = T_STRING);
// Pushes a new empty string! on the value stack and returns it.
Cell* string_push(uint32_t capacity);
// Append at the tail of the string's buffer (not at its index); widen as needed.
void string_append_ascii(Cell* str, const char* s, size_t n);
void string_append_cstr(Cell* str, const char* s);
void string_append_codepoint(Cell* str, uint32_t cp);
void string_append_utf8(Cell* str, const char* s, size_t n);
// Each byte of s as one code point (Latin-1).
void string_append_bytes(Cell* str, const uint8_t* s, size_t n);
// Characters from the string's index to its tail.
uint32_t string_length(const Cell* str);
uint32_t string_char_at(const Cell* str, uint32_t i);  // relative to the index
// UTF-8 text of the string from its index (for tests and diagnostics).
std::string string_to_utf8(const Cell* str);

// --------------------------------------------------------------- storage primitives

// The cell's index, first set back to the tail in the cell when it lies past it.
uint32_t string_index_clamp(Cell* str);
uint32_t string_rest_length(const Cell* str);     // 0 when the index is past the tail
uint32_t string_length_from_head(const Cell* str);
// Offset from the index of the first code point equal to cp (exact), or -1.
int32_t string_find_char(const Cell* str, uint32_t cp);
bool string_starts_with_cstring(const Cell* str, const char* s);
// True when cp is at the index or at a skip-th position after it (folding
// case unless case_sensitive).
bool string_find_char_skip(const Cell* str, uint32_t cp, uint32_t skip, bool case_sensitive);
// Cuts the text to its first n code points (form and mold with a limit).
void string_truncate(NodeRef node, uint32_t n);
void string_reset(Cell* str);                      // empty, unit 1, index 0
// Writers on a node (positions in code points from the buffer's head). They
// widen the buffer when cp needs a wider unit and return the buffer (valid
// until the next allocation).
SeriesBuffer* string_append_char(NodeRef node, uint32_t cp);
SeriesBuffer* string_poke_char(NodeRef node, uint32_t pos, uint32_t cp);
SeriesBuffer* string_insert_char(NodeRef node, uint32_t pos, uint32_t cp);
// Removes count code points at pos (nothing at or past the tail; clamped to it).
void string_remove_chars(NodeRef node, uint32_t pos, uint32_t count);

// Copies at most `part` (-1: all) code points of src from its index into dst:
// mode 0 appends at the tail, 1 inserts at dst's index + offset, 2 writes over
// there. dst widens when src is wider; src is never changed (it may be a
// literal shared by other values): narrower text is converted while copying.
enum ConcatMode { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };
void string_concatenate(Cell* dst, const Cell* src, int32_t part, uint32_t offset, int mode);

// pad's and rejoin's common cases, done as their library steps do them; each
// answers false, having changed nothing a caller sees, for a value those
// steps must take (one whose form walks other values or could fail, a string
// an owner watches, padding of more than 16M characters).
// pad: the string at *value padded in place to n characters with cp, at its
// position (left) or at its tail, or a new string of the value formed and padded.
bool string_pad(Cell* value, int64_t n, bool left, uint32_t cp);
// rejoin: a reduced block's values joined, replacing *block: a copy of a first
// string! from its position, or a new string of a first value formed, then each
// value after it formed. An empty block is its own result.
bool string_join_values(Cell* block);

// Decodes text bytes into a string! (encoding 0 UTF-8, len in bytes; -1
// UTF-16LE, len in units) in target or a new pushed slot; returns the cell. Any
// other encoding raises invalid-arg with the encoding.
Cell* string_load(const uint8_t* bytes, uint32_t len, Cell* target, int32_t encoding);

// Upper-case hexadecimal digits: two for a byte; eight for a 32-bit value, or
// with trim only those below the leading run of 0 (F for negatives) digits, at
// least two. Each result stays valid until the next call of the same routine.
const char* string_byte_to_hex(uint8_t byte);
const char* string_int_to_hex(int32_t value, bool trim);

// Parses a float from ASCII text (the lexer's and money!'s number text); *error
// is set when the bytes are not all one number.
double string_to_float(const uint8_t* text, uint32_t length, bool* error);

// --------------------------------------------------------------- comparing and molding

// -1, 0, 1 (see CompareOp). Match mode compares only b's length (parse).
int string_compare_text(const Cell* a, const Cell* b, int op, bool match);
// Appends one code point as mold writes it; selector 253 gives the caret escapes.
void string_append_escaped_char(Cell* out, uint32_t cp, int selector, bool all);
constexpr int ESCAPE_CARET = 253;
// Appends four blanks per level to a string! (rooted) and returns the limit
// lowered by as many.
int32_t mold_indent(Cell* out, int32_t level, int32_t limit);

// Changes the case of a char! or of a string from its index in place: all of
// it, or `part` code points (an integer!, or a position in the same series),
// clamped to the tail. Raises invalid-refine-arg for another part value.
void string_change_case(Cell* value, const Cell* part, bool upper);

// The set natives over two strings on the value stack (args[0], args[1]):
// SET_UNIQUE, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE; the result
// replaces args[0].
void string_set_op(Cell* args, bool case_sensitive, int32_t skip, int op);

// True when the string at its index starts with the value (string-group, char!
// or tag!); op CMP_STRICT_EQUAL compares exactly.
bool string_match_value(const Cell* str, const Cell* value, int op);
// True when the code point at the string's index is in the bitset (false at the tail).
bool string_char_in_bitset(const Cell* str, const Cell* bitset);
// The white space trim removes: the controls and space (1-20h) and Unicode's spaces.
bool string_is_space(uint32_t cp);

// The comparison /compare function! of sort calls: runs `fn` with a and b and
// leaves its result in *result (all three on the value stack). Set by the
// evaluator; while unset, sort/compare with a function raises not-done.
using SortFunctionCall = void (*)(const Cell* fn, const Cell* a, const Cell* b, Cell* result);
extern SortFunctionCall sort_function_call;

}  // namespace tev

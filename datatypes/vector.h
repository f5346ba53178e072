// vector!: packed numbers of one element type (char!, integer!: 8/16/32 bits; float!, percent!: 32/64 bits).
//
// A series cell whose word 3 holds the element type; the buffer's unit is the
// element size. Chars read back zero-extended, integers sign-extended.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

inline TypeId vector_element_type(const Cell* v) { return TypeId(v->w3); }
inline void vector_set_element_type(Cell* v, TypeId type) { v->w3 = type; }
// Elements from the index to the tail.
uint32_t vector_length(const Cell* v);
// Sets the tail to the index.
void vector_truncate(const Cell* v);
// Appends four bytes (a 32-bit element) at the tail. v must be rooted.
void vector_append_int32(Cell* v, int32_t value);
// The element at addr as a value of the element type, into out / pushed.
void vector_read_element(const uint8_t* addr, uint32_t unit, TypeId type, Cell* out);
Cell* vector_push_element(const uint8_t* addr, uint32_t unit, TypeId type);
// Stores a value as an element: char!/integer! into char and integer vectors,
// float!/percent! into float and percent vectors; else invalid-type.
void vector_write_element(uint8_t* dst, const Cell* value, uint32_t unit, TypeId type);
// Makes out (rooted) a new block of the elements from the index.
void vector_to_block(const Cell* v, Cell* out);
// Makes out (rooted) an empty vector with room for count elements.
void vector_make_cell(Cell* out, uint32_t count, TypeId type, uint32_t unit);
// Element-wise arithmetic with a scalar (op: MathOp). With scalar_left the
// result is scalar op element, in a new vector (the operand is unchanged);
// otherwise element op scalar, in place. The result is written to *vec.
void vector_math_with_scalar(int op, Cell* vec, const Cell* scalar, bool scalar_left);

}  // namespace tev

// typeset!: a set of datatypes held in one cell's 96 payload bits.
//
// The bit of type id t is in payload byte t >> 3 under the mask 0x80 >> (t & 7)
// (byte 0 is the first byte of word 1). Only ids 1..highest_type_id name
// types; the other bits are carried along but never listed.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

bool typeset_has_type(const Cell* typeset, uint32_t type_id);
void typeset_add_type(Cell* typeset, uint32_t type_id);

// Each appends a new typeset! to a (rooted) block: with exactly the given
// payload words; with every bit but unset!'s (the default argument type); or
// built from a function spec's type block.
void typeset_append_bits(Cell* block, uint32_t w1, uint32_t w2, uint32_t w3);
void typeset_append_any(Cell* block);
void typeset_append_from_spec(Cell* block, const Cell* type_block);

// Adds a value to the typeset: a word's value (no-value when unset), a
// typeset! (ORed in) or a datatype!; anything else raises invalid-arg.
void typeset_set_bit(Cell* typeset, const Cell* value);

// The set operations on args[0] (a typeset!) and args[1] (a typeset! or a
// datatype!): SET_OR/SET_UNION, SET_AND/SET_INTERSECT, SET_XOR/SET_DIFFERENCE,
// SET_EXCLUDE; SET_UNIQUE leaves args[0]. The result replaces args[0].
void typeset_set_operation(Cell* args, int op);

}  // namespace tev

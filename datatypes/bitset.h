// bitset!: its registration and the set-operation entry the set natives use.
#pragma once
#include "datatypes/registry.h"

namespace tev {

// Whether the bits are stored complemented (the not-flag); the stored bytes are
// the array as it stands.
bool bitset_complemented(const Cell* bits);
// Makes out (rooted) a bitset over a copy of n stored bytes (not in a series buffer).
void bitset_from_bytes(Cell* out, const uint8_t* bytes, uint32_t n, bool complemented);
// args[0] and args[1] bitsets (args[1] checked); op a SetOp. The result replaces args[0].
void bitset_set_op(ActionFrame& f, int op);

}  // namespace tev

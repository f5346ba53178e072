// JSON text to values, the fast path of load-json: arrays become blocks, objects
// maps, keys words while they read back as the same word, numbers integers or floats.
#pragma once
#include "runtime/cell.h"

namespace tev {

// Decodes the whole of `input` (a string!, from its index) into `out` (rooted).
// Returns false, leaving `out` alone, when the text is not one JSON value or
// nests deeper than the fast path goes: load-json then runs its grammar, which
// tells where the text went wrong.
bool json_decode(Cell* out, const Cell* input);

}  // namespace tev

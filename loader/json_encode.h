// Values to JSON text, the fast path of to-json: it writes what to-json's Tev
// encoder writes, byte for byte, for the values it takes on, and declines the
// rest (cycles, infinities, unusual datatypes, objects with change handlers,
// deep nesting) so that the Tev encoder writes them or raises its own error.
#pragma once
#include "runtime/cell.h"

namespace tev {

struct JsonEncodeOptions {
    const Cell* indent;  // string! (pretty output, one copy per level) or none!
    bool ascii;          // escape every character outside printable ASCII
};

// Writes the JSON text of `value` into `out` (rooted) as a new string!, or
// returns false, leaving `out` alone, when the Tev encoder must do it.
bool json_encode(Cell* out, const Cell* value, const JsonEncodeOptions& options);

}  // namespace tev

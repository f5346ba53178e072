// Shared text output of the string-kin datatypes (tag!, email!, ref!): their text between optional delimiters.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// Appends open, the text of value from its index and close to out; counts
// every character against limit and returns what is left. With a /part
// argument (arg), the text is cut at the limit.
int32_t text_kin_append(const Cell* value, Cell* out, const Cell* arg, int32_t limit, const char* open,
                        const char* close);

}  // namespace tev

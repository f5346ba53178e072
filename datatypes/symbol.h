// A symbol's string!: made from its spelling on first use and kept in its
// symbol table entry, so asking again costs no allocation.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

NodeRef symbol_ensure_string(int32_t id);
// The symbol's entry, with its string made first. Valid until the next allocation.
Cell* symbol_get(int32_t id);

}  // namespace tev

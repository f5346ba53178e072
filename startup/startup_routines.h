// The routines bound at start-up: small bridges from the language to one
// runtime service each, and the type predicates, as routine! values.
//
// A routine! keeps its entry as a number (cells hold no pointers): the index
// of its row in the routine table, and a second number the entry reads (the
// datatype id or typeset word slot of a predicate).
#pragma once
#include <cstdint>
#include "interpreter/routine_entries.h"
#include "runtime/cell.h"

namespace tev {

// Phase 6, before the library's first section: the global routines and the
// predicates made and bound to their words.
void startup_routines_bind();
// After each section: once the system object exists, its routine fields,
// system/words and the error catalogue are filled in.
void startup_system_fill(uint32_t section);

}  // namespace tev

// Action dispatch for C++ callers: form, mold, compare and any action by slot.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// Append the form or mold of a value to *out, a rooted text series of any string
// type (an unset cell is made an empty string! first). Return the limit left.
int32_t form_dispatch(const Cell* value, Cell* out, int32_t limit = NO_LIMIT);
int32_t mold_dispatch(const Cell* value, Cell* out, bool only = false, bool all = false, bool flat = false,
                   int32_t limit = NO_LIMIT, int32_t indent = 0);

// The type's raw comparison (-1, 0, 1 or CMP_NOT_COMPARABLE); logic! by flag.
int compare_dispatch(const Cell* a, const Cell* b, int op);
// The comparison as a truth value; ordering two values that cannot be ordered
// raises script/invalid-compare.
bool compare_values(const Cell* a, const Cell* b, int op);

// Runs an action's stack entry on copies of the arguments (refinements as in the
// native protocol: -1 absent, else a cell position from the first argument).
// Pushes the result and returns it.
Cell* action_call(Act slot, const Cell* args, int nargs, const int8_t* refs = nullptr, int nrefs = 0);

// Raises script/expect-arg for a type without the action in `slot`.
[[noreturn]] void raise_no_action(TypeId t, int slot);

// Binds every action word globally (start-up, after the symbol table exists).
void actions_bind_words();

}  // namespace tev

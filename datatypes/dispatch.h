// Action dispatch for C++ callers: form, mold, compare and any action by slot,
// with the one error a type without the action raises.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// Words and specs of the actions by slot (slot 7 path evaluation, 8 path
// assignment and 9 comparison have no word).
extern const char* const action_words[ACTION_COUNT + 1];
extern const char* const action_specs[ACTION_COUNT + 1];

// Raises script/expect-arg for a type without the action in `slot`.
[[noreturn]] void raise_no_action(TypeId t, int slot);

// The type's implementation of a slot; raises as raise_no_action when it has none.
template <Act S> inline SlotFn<S> action_required(TypeId t) {
    SlotFn<S> fn = action_of<S>(t);
    if (__builtin_expect(!fn, 0)) raise_no_action(t, int(S));
    return fn;
}

// make and to act for the datatype their first argument names; every other
// action for the first argument's type.
inline TypeId action_dispatch_type(const Cell* first, Act slot) {
    if ((slot == Act::make || slot == Act::to) && cell_is(first, T_DATATYPE)) return get_datatype(first);
    return cell_type(first);
}

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

// Runs the action in `slot` (one taking an ActionFrame) on copies of the
// arguments, refinements encoded as in ActionFrame. Pushes the result and
// returns it.
Cell* action_call(Act slot, const Cell* args, int nargs, const int8_t* refs = nullptr, int nrefs = 0);

}  // namespace tev

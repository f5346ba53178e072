// The evaluator as the datatypes reach it: making an object or an error runs
// its spec block, a function copy guards the machine stack, a mold or compare
// may call a user function. The datatypes sit below the evaluator, so they
// call it only through these entries, which the evaluator fills in when it
// starts; none of them is on a hot evaluation path.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

struct EvaluationHooks {
    // Evaluates a block; the result is on the value stack.
    Cell* (*eval_block)(const Cell* block) = nullptr;
    // Calls a function value with `count` argument cells; the result is on the value stack.
    Cell* (*call_with_args)(const Cell* fn, const Cell* args, uint32_t count) = nullptr;
    // The value cell of a bound word; raises when it has none.
    Cell* (*word_value)(const Cell* word) = nullptr;
    // The value being evaluated, the position errors report as `near`.
    Cell* (*current_evaluation)() = nullptr;
    // The word that names the innermost named call, or none.
    void (*current_call_word)(Cell* out) = nullptr;
    // Turns a break, return or throw the last evaluation left pending into an
    // exception, for callers that cannot return early.
    void (*raise_pending_exit)() = nullptr;
    // Raises a stack overflow when the machine stack runs low.
    void (*check_machine_stack)() = nullptr;
};
extern EvaluationHooks evaluation_hooks;

}  // namespace tev

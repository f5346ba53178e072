// The interpreter: evaluates blocks expression by expression, calls natives, actions,
// ops and functions with the arguments their specs ask for, and carries the
// non-local exits (break, continue, return, exit, throw) to their catch points.
//
// Results: every evaluation entry pushes exactly one result cell on the value stack.
// Exits: errors travel as a C++ exception (LanguageThrow with THROW_ERROR) to the
// nearest `try`. break/continue/return/exit/throw run often, so they travel as a
// pending code instead: the native that raises one sets `pending_exit` and returns;
// every evaluation loop returns as soon as it sees it, and the catch point (loop,
// function call, catch) clears it. C++ code outside the interpreter that evaluates
// language code and cannot return early calls `exit_as_exception()`, which turns
// a pending exit into a LanguageThrow; catch points accept both forms.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/errors.h"
#include "runtime/memory.h"  // SER_LIBRARY_FLAG
#include "runtime/value_stack.h"

namespace tev {

// ------------------------------------------------------------------ exits

extern uint32_t pending_exit;       // 0, or THROW_BREAK .. THROW_THROW
Cell* exit_value();                 // break/return value, thrown value (rooted)
Cell* exit_name();                  // the name of a throw (rooted)
[[noreturn]] void exit_as_exception();
// Catch points call this with a LanguageThrow they caught: errors are thrown on,
// other exits become pending again.
void exit_from_exception(const LanguageThrow& t);

// ------------------------------------------------------------------ evaluation

void interp_init();
// Evaluates a block (or paren) from its index to its tail; pushes the last value
// (unset for an empty block). Check pending_exit afterwards.
Cell* eval_block(const Cell* block);
// Evaluates a block (one a loop keeps rooted) as eval_block does, as the
// catch point of a loop: an exit that arrives as an exception from C++ code
// that evaluated language code becomes pending again, the frames unwound;
// errors go on. Returns the block's value, or nullptr when an exit is
// pending (the stack top is then back where it was).
Cell* eval_block_catching(const Cell* block);
// Evaluates a block as eval_block does, catching what is thrown out of it in
// the same machine frame: an error unwinds one frame less than it would to a
// catch in the caller. nullptr, with *thrown set to the exit's code, when
// something was thrown.
Cell* eval_block_trying(const Cell* block, uint32_t* thrown);
// One run of a loop body, evaluated as eval_block_catching evaluates it:
// break and continue end here, every other exit goes on outward. BODY_NEXT:
// *result holds the body's value; BODY_CONTINUE: it is left as it was;
// BODY_BREAK: it holds the break value; BODY_LEAVE: an exit is pending.
enum BodyOutcome { BODY_NEXT, BODY_CONTINUE, BODY_BREAK, BODY_LEAVE };
BodyOutcome run_loop_body(const Cell* body, Cell* result);
// Evaluates one expression of the block at `index`; pushes its value and returns
// the index after it.
uint32_t eval_next(const Cell* block, uint32_t index);
// Evaluates every expression of a block (rooted) from its index on and pushes
// a new block of their values, new-line markers cleared unless kept; nullptr
// when an exit is pending.
Cell* reduce_block(const Cell* block, bool keep_new_lines);
// Evaluates any value as one expression (a word gives its value, a function is
// called with no arguments available); pushes the result.
Cell* eval_value(const Cell* value);
// Calls a function value with arguments already evaluated (for apply and C++
// callers such as sort comparators); pushes the result.
Cell* call_with_args(const Cell* fn, const Cell* args, uint32_t count);
// As call_with_args; when fn is a function!, *arg_after (a rooted cell) then
// holds the value its argument number `arg` had when the body ended, so that a
// callback can answer by changing an argument (the lexer's input position).
Cell* call_with_args_reading(const Cell* fn, const Cell* args, uint32_t count, uint32_t arg, Cell* arg_after);

// The current-evaluation position (for the `near` of new errors): a block with
// its index at the expression under way, or unset.
Cell* current_evaluation();

// The word that names the innermost non-internal call (for `where`), as a fresh
// word cell in *out; none when there is no call.
void current_call_word(Cell* out);

// Truth: none and false are falsy, everything else (unset too) is truthy.
inline bool is_truthy(const Cell* v) {
    TypeId t = cell_type(v);
    return !(t == T_NONE || (t == T_LOGIC && !get_logic(v)));
}
// The strict test: unset raises script/no-return.
bool is_truthy_strict(const Cell* v);

// ------------------------------------------------------------------ values of words

// The value cell of a word (raises no-value/not-defined/not-in-context as the
// context layer does). Valid until the next allocation.
Cell* word_value_cell(const Cell* word);
// The value cell of a word that reads without the checked lookup (bound, its
// context holding values), else nullptr; never raises.
const Cell* word_value_plain(const Cell* word);
void word_assign(const Cell* word, const Cell* value);

// A word for a symbol: bound in `context` when given and it has the symbol, else global.
void word_from_symbol_in(Cell* out, uint32_t symbol, NodeRef context);

// Calls a callable with argument values taken as they stand from `args` (a
// block), and the refinements named in `refinements` (a block of refinement!
// or word! values, or nullptr). Pushes the result.
Cell* call_quoted(const Cell* fn, const Cell* word, const Cell* args, const Cell* refinements);

// Paths outside an expression: the value a get-path gives; assigning a set-path.
Cell* path_get(const Cell* path);
void path_set(const Cell* path, const Cell* value);

// Source text into a block (installed by the lexer): text is a string!, *out rooted.
using TranscodeFn = void (*)(const Cell* text, Cell* out);
void set_transcode_hook(TranscodeFn fn);

// ------------------------------------------------------------------ machine stack

// Evaluation recursion ends in internal/stack-overflow before the machine stack
// runs out: the budget is measured from the address recorded by interp_init.
void interp_set_machine_stack_budget(size_t bytes);
void interp_check_machine_stack();

}  // namespace tev

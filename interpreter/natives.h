// Natives: their index table and the calling protocol they share with action
// stack entries (arguments from the arguments base on, refinements as in
// ActionFrame, the result left in the first cell).
#pragma once
#include <cstdint>
#include <string>
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// A native takes the frame an action takes (same refinement encoding).
using NativeCall = ActionFrame;
using NativeFn = ActionFn;

// Native indexes (1-based, as native! values carry them), in the table's order.
enum NativeIndex : uint32_t {
    NATIVE_NONE_ = 0,
#define NATIVE(id, word, entry, spec) NATIVE_##id,
#include "interpreter/natives.def"
#undef NATIVE
    NATIVE_END_
};
constexpr int NATIVE_COUNT = int(NATIVE_END_) - 1;
// The evaluator's operator fast path maps these seven onto its own codes in this order.
static_assert(NATIVE_GREATER_OR_EQUAL_Q - NATIVE_EQUAL_Q == 6 && NATIVE_NOT_EQUAL_Q == NATIVE_EQUAL_Q + 1 &&
              NATIVE_STRICT_EQUAL_Q == NATIVE_EQUAL_Q + 2 && NATIVE_LESSER_Q == NATIVE_EQUAL_Q + 3 &&
              NATIVE_GREATER_Q == NATIVE_EQUAL_Q + 4 && NATIVE_LESSER_OR_EQUAL_Q == NATIVE_EQUAL_Q + 5);
// The conditionals the evaluator runs itself, first in the table.
static_assert(NATIVE_IF == 1 && NATIVE_UNLESS == 2 && NATIVE_EITHER == 3 && NATIVE_ANY == 4 && NATIVE_ALL == 5);

// Every native's entry; each family (natives_*.cpp, parse, the lexer, io)
// defines its own.
#define NATIVE(id, word, entry, spec) void entry(NativeCall& call);
#include "interpreter/natives.def"
#undef NATIVE

// A native's definition: its word, its spec in source form, its entry.
struct NativeDef {
    const char* name;
    const char* spec;
    NativeFn fn;
};

// Row i holds native index i + 1.
extern const NativeDef native_defs[NATIVE_COUNT];
inline bool is_native_index(uint32_t index) { return index >= 1 && index <= uint32_t(NATIVE_COUNT); }
inline NativeFn native_entry(uint32_t index) { return native_defs[index - 1].fn; }
// Slot s (1..62) of the action-entry table; slot 8 and 0 are empty.
extern NativeFn action_entry_table[ACTION_COUNT + 1];

// Raises internal/not-done naming the call: a native (or a case of one) that
// has no implementation yet.
[[noreturn]] void raise_not_available(NativeCall& call);

// A native's or action's spec block from its source form (rooted *out).
void spec_from_text(Cell* out, const char* text);

// Start-up: fills the tables and binds every native and action word globally.
void natives_init();
void actions_init();
void actions_bind_words();
void ops_init();
// The evaluator's start-up after the symbol table and global context: the
// interpreter state, actions, natives, operators and the error catalogue.
void evaluator_init();


// Where print and prin send their text (standard output unless a console installs one).
using PrintHook = void (*)(const std::string& text, bool new_line);
void set_print_hook(PrintHook hook);
// True when the last output of print/prin came from print (it ended the line).
extern bool print_ended_line;

// ------------------------------------------------------------------ helpers for natives

// Results.
inline void result_unset(NativeCall& c) { set_unset(c.args); }
inline void result_none(NativeCall& c) { set_none(c.args); }
inline void result_logic(NativeCall& c, bool b) { set_logic(c.args, b); }

}  // namespace tev

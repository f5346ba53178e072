// Natives and the calling protocol shared by natives and action stack entries:
// arguments from the arguments base on, refinements as -1 or a cell position,
// the result left in the first cell.
#pragma once
#include <cstdint>
#include <string>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

constexpr int NATIVE_SLOTS = 120;
constexpr int NATIVE_COUNT = 107;
constexpr int MAX_CALL_REFINEMENTS = 24;
// Indexes the interpreter's operator fast path knows (1-based, as native! values carry them).
// The conditionals and loops the evaluator runs itself, first in the table.
constexpr uint32_t NATIVE_IF = 1, NATIVE_UNLESS = 2, NATIVE_EITHER = 3, NATIVE_ANY = 4, NATIVE_ALL = 5;
constexpr uint32_t NATIVE_EQUAL_Q = 25;            // equal? .. greater-or-equal? follow in table order
constexpr uint32_t NATIVE_GREATER_OR_EQUAL_Q = 31;

struct NativeCall {
    Cell* args;            // args[0] is also the result slot
    uint32_t symbol;       // the word that named the call (0 when none)
    // -1 absent, 0 present without argument, else 1 + the cell position of its
    // first argument (a native without plain arguments has one at position 0).
    int8_t refs[MAX_CALL_REFINEMENTS];
    bool has(int i) const { return refs[i] >= 0; }
    Cell* ref_arg(int i) const { return refs[i] > 0 ? args + refs[i] - 1 : nullptr; }
    Cell* result() const { return args; }
};
using NativeFn = void (*)(NativeCall& call);

// A native's definition: its word, its spec in source form, its entry.
struct NativeDef {
    const char* name;
    const char* spec;
    NativeFn fn;
};

// Slot i (0-based) holds native index i + 1; slots past NATIVE_COUNT are empty.
extern NativeFn natives_table[NATIVE_SLOTS];
extern const NativeDef native_defs[NATIVE_COUNT];
// Slot s (1..62) of the action-entry table; slot 8 and 0 are empty.
extern NativeFn action_entry_table[ACTION_COUNT + 1];
extern const char* const action_specs[ACTION_COUNT + 1];
extern const char* const action_words[ACTION_COUNT + 1];

// A native's or action's spec block from its source form (rooted *out).
void spec_from_text(Cell* out, const char* text);
// Each family's entries (natives_*.cpp), looked up by name when the table is built.
NativeFn find_native_entry(const char* name);
struct NativeEntry { const char* name; NativeFn fn; };
void add_native_entries(const NativeEntry* entries, int count);
void natives_control_entries();
void natives_eval_entries();
void natives_compare_entries();
void natives_output_entries();
void natives_strings_entries();
void natives_math_entries();
void natives_system_entries();
void natives_lexer_entries();   // interpreter/natives_transcode.cpp
void natives_parse_entries();   // interpreter/parse.cpp
void natives_io_entries();      // io/natives_io.cpp
void natives_checksum_entries();  // io/natives_checksum.cpp
void natives_compress_entries();  // io/natives_compress.cpp

// Start-up: fills the tables and binds every native and action word globally.
void natives_init();
void actions_init();
void actions_bind_words();
void ops_init();
// The evaluator's start-up after the symbol table and global context: the
// interpreter state, actions, natives, operators and the error catalogue.
void evaluator_init();

// The native whose index is given has no implementation yet.
[[noreturn]] void raise_not_available(NativeCall& call);

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

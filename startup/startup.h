// Start-up: the program's one entry and the fixed order in which every module starts.
//
// The order is a contract: later steps read what earlier steps made (the type
// tables before any registration, the stacks before any word, the symbol
// table before the boot image). runtime_init lists every step, one per line.
#pragma once
#include <cstdint>

namespace tev {

// Exit codes besides a runtime error's own number.
constexpr int EXIT_OK = 0;
constexpr int EXIT_STARTUP_FAILED = -1;   // bad registration, boot image or boot data

// The program: platform set-up, top-level catch, runtime_init, hand-over.
// Ends the process (through report_runtime_error) and returns only its code
// to main for form's sake.
int program_entry(int argc, char** argv);

// Phase 1 without the hand-over, for test programs: platform set-up and the
// floating-point state. Then run `body` under the top-level catch on a
// thread with the interpreter's big stack, after runtime_init.
int startup_for_tests(int argc, char** argv, int (*body)());

// Every module of the runtime, in the fixed order. Called once.
void runtime_init();

// The processor's floating-point state: every exception masked, double
// precision, round to nearest (x87 control word 0x27F; SSE all masked).
void fpu_set_control();

// A start-up step that cannot go on (after printing its message): release
// everything and exit with EXIT_STARTUP_FAILED, never 0.
[[noreturn]] void startup_failed();

}  // namespace tev

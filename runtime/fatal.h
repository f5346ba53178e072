// The runtime's own non-local exit (throw codes and catch levels) and fatal runtime errors.
//
// A throw carries an unsigned 32-bit code and lands in the innermost catcher
// whose level is at least the code; every other catcher lets it pass. The
// carrier is the C++ exception LanguageThrow (runtime/errors.h), so C++
// unwinding gives the innermost-first search and restores each enclosing
// catcher on the way out. A throw nobody catches reaches the top-level catch
// of start-up: runtime error 95.
//
// A fatal runtime error ends the process: "*** Runtime Error %d: %s\n*** at: %08Xh"
// in a message box titled "Tev App Error" (standard error on the host, or
// under Wine with TEV_REPORT_TO_STDERR=1), then exit with the code.
#pragma once
#include <cstdint>
#include <exception>
#include "runtime/errors.h"

namespace tev {

// ------------------------------------------------------------------ throw codes

// The memory family: its catchers set level THROW_MEMORY_LEVEL and treat every
// code from THROW_VM_FREE_FAILED up to that level as theirs.
constexpr uint32_t THROW_VM_FREE_FAILED = 0x7FFFFFF6;
constexpr uint32_t THROW_VM_ALLOC_FAILED = 0x7FFFFFF7;
constexpr uint32_t THROW_MEMORY_LEVEL = 0x7FFFFFF8;
constexpr uint32_t THROW_INT_OVERFLOW = 0x7FFFFFF9;  // inside integer! arithmetic
// THROW_THROW .. THROW_ERROR (0x7FFFFFFA .. 0x7FFFFFFF) are in runtime/errors.h.
constexpr uint32_t CATCH_EVERYTHING = 0xFFFFFFFF;

// Starts a throw. The code must not be 0: that would be caught by any
// catcher as "nothing happened"; it ends the process with "assertion failed".
[[noreturn]] void runtime_throw(uint32_t code);

// Runs body(); a throw whose code is at most `level` (unsigned) lands in
// on_throw(code), whose result is returned instead; any other throw passes on
// to the enclosing catchers. body and on_throw return the same type.
template <class Body, class OnThrow>
decltype(auto) catch_throw(uint32_t level, Body&& body, OnThrow&& on_throw) {
    try {
        return body();
    } catch (const LanguageThrow& t) {
        if (t.code > level) throw;
        return on_throw(t.code);
    }
}

// ------------------------------------------------------------------ runtime errors

// Runtime error codes that the runtime itself raises.
enum RuntimeError : int {
    RT_ACCESS_VIOLATION = 1,
    RT_STACK_OVERFLOW = 19,
    RT_OUT_OF_MEMORY = 94,
    RT_NO_CATCH = 95,
    RT_ASSERTION_FAILED = 98,
    RT_UNKNOWN_ERROR = 99,
    RT_NO_CASE_MATCH = 100,
    RT_NO_SWITCH_MATCH = 101,
};

// The message of a runtime error code ("unknown error code!" for codes without a row).
const char* runtime_error_message(int code);

// Writes the report text into out (NUL-terminated, cut to fit); returns its length.
size_t format_runtime_error(char* out, size_t size, int code, uintptr_t address);

// Shows the report (nothing for code 0), releases every sys_alloc block and
// exits with the code.
[[noreturn]] void report_runtime_error(int code, uintptr_t address);

// Releases every sys_alloc block and exits with the code, showing nothing.
[[noreturn]] void release_and_exit(int code);

// After a machine fault: the report is formatted in static storage and the
// process ends at once, without touching the heap or running exit handlers.
[[noreturn]] void report_machine_fault(int code, uintptr_t address);

// The code address shown in a report: eight hex digits in the 32-bit product,
// more only when a 64-bit build's address needs them.
uintptr_t code_address(const void* address);
#define TEV_CALLER_ADDRESS() ::tev::code_address(__builtin_return_address(0))

// The top-level catch of start-up: maps whatever reached it to its runtime
// error (a throw: 95, exhausted memory: 94, anything else: 99) and reports it.
[[noreturn]] void top_level_catch(std::exception_ptr caught);

// ------------------------------------------------------------------ system callbacks

// A throw must never unwind through a window procedure, a timer procedure or a
// COM callback: the system's frames in between do not expect it. Run the body
// of such a callback through guard_callback, which parks whatever it throws
// (returning false), and call rethrow_parked() after the system call that led
// to the callback has returned.
void park_exception(std::exception_ptr e) noexcept;
void rethrow_parked();  // does nothing when nothing is parked
template <class Body>
bool guard_callback(Body&& body) noexcept {
    try {
        body();
        return true;
    } catch (...) {
        park_exception(std::current_exception());
        return false;
    }
}

}  // namespace tev

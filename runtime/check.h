// Internal consistency checks: on in the sanitizer and fuzz builds and in the
// host test build whose torture runs exercise the collector (TEV_CHECKS), all
// optimised and built with NDEBUG; compiled out everywhere else.
//
// A failed check is a fault of the implementation, never of the program being
// run: it ends the process (runtime error 98, "assertion failed") at the place
// that broke the invariant, after a line on standard error saying what broke.
#pragma once

namespace tev {

struct Cell;

[[noreturn]] void check_failed(const char* what, const char* file, int line);
// Ends the process when the cell's payload does not fit its type (a series type
// without a live buffer of its unit, a word without a symbol, ...).
void cell_check(const Cell* c, const char* file, int line);
// The reason a cell is malformed, or nullptr when it is sound.
const char* cell_fault(const Cell* c);

}  // namespace tev

#if TEV_CHECKS
#define TEV_ASSERT(cond) ((cond) ? (void)0 : ::tev::check_failed(#cond, __FILE__, __LINE__))
#define TEV_CHECK_CELL(c) ::tev::cell_check((c), __FILE__, __LINE__)
#else
#define TEV_ASSERT(cond) ((void)0)
#define TEV_CHECK_CELL(c) ((void)0)
#endif

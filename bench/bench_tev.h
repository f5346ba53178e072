// Benchmark pieces that run Tev itself: timing with a clean value stack, and running source text.
#pragma once
#include <cstdio>
#include <cstring>
#include <string>
#include "bench/bench_common.h"
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev::bench {

// best_seconds, dropping whatever each round pushed on the value stack.
template <class F> double best_seconds_scoped(int rounds, F f) {
    return best_seconds(rounds, [&] {
        StackScope scope;
        f();
    });
}

// Runs one piece of Tev source; false (with the error printed) when it raised.
inline bool tev_run(const char* source) {
    StackScope scope;
    Cell* code = stack_push();
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(source), std::strlen(source));
    try {
        eval_block(code);
    } catch (const LanguageThrow&) {
        std::printf("  (Tev raised error %u)\n", last_error_code());
        frames_unwind_to(0);
        return false;
    }
    return true;
}

// A job timed in Tev and, as its peer, in Python.
struct TevPyJob {
    const char* name;
    const char* tev_setup;  // evaluated once, not timed
    const char* tev;        // timed; must leave `ok` true
    const char* py_setup;
    const char* py;         // an expression timed by best(); its truth is checked too
};

// Prints the job's row: Tev (best of 3) and Python (best of 5) times and their
// ratio. `imports` are the Python modules the peer needs; `py_prefix` is
// Python code run before the job's setup.
inline void run_tev_py_job(const TevPyJob& j, int width, const std::string& imports = "",
                           const std::string& py_prefix = "") {
    if (!tev_run(j.tev_setup)) return;
    bool ok = true;
    double tev = best_seconds(3, [&] {
        ok = ok && tev_run(j.tev) && tev_run("if not ok [do make error! \"wrong result\"]");
    });
    if (!ok) {
        std::printf("%-*s wrong result\n", width, j.name);
        return;
    }
    double py = python_best_seconds(
        imports, py_prefix + j.py_setup + "\nassert " + j.py + "\nprint(best(lambda: " + j.py + "))\n");
    if (py > 0) std::printf("%-*s %10.1f %12.1f %8.2f\n", width, j.name, tev * 1e3, py * 1e3, tev / py);
    else std::printf("%-*s %10.1f %12s\n", width, j.name, tev * 1e3, "(no python)");
}

inline void print_tev_py_header(int width) {
    std::printf("%-*s %10s %12s %8s\n", width, "job", "tev ms", "python ms", "ratio");
}

template <size_t N> int run_tev_py_jobs(const TevPyJob (&jobs)[N], int width, const char* imports = "") {
    print_tev_py_header(width);
    for (const TevPyJob& j : jobs) run_tev_py_job(j, width, imports);
    return 0;
}

}  // namespace tev::bench

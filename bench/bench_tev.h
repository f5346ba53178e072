// Benchmark pieces that run Tev itself: timing with a clean value stack, and running source text.
#pragma once
#include <cstdio>
#include <cstring>
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

}  // namespace tev::bench

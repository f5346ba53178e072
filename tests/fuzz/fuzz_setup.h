// What every libFuzzer target shares: starting the runtime (with the library
// when the target runs Tev code), the options byte that leads most inputs, Tev
// source run per input with its errors contained, and how a finding is reported.
#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "startup/boot_image.h"
#include "startup/startup.h"
#include "startup/startup_routines.h"

namespace tev::fuzz {

// ------------------------------------------------------------------ findings

// Ends the run as a finding: the reason on stderr, then a trap, which libFuzzer
// reports with the input that caused it.
[[noreturn]] inline void finding(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("finding: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
    va_end(args);
    __builtin_trap();
}

// ------------------------------------------------------------------ inputs

// An input whose first byte holds the target's options and the rest its data.
struct OptionsInput {
    uint8_t options;
    const uint8_t* data;
    size_t size;
};

// False for an empty input, which has no options byte.
inline bool split_options(const uint8_t* data, size_t size, OptionsInput* in) {
    if (size == 0) return false;
    *in = {data[0], data + 1, size - 1};
    return true;
}

// ------------------------------------------------------------------ start-up

// Every module, in the program's order, and the collector on.
inline void start_runtime() {
    fpu_set_control();
    runtime_init();
    collector_enabled = true;
}

// The runtime and the library's boot sections, for targets that call library code.
inline void start_library() {
    start_runtime();
    boot_library_run(startup_routines_bind, startup_system_fill);
}

// Evaluates Tev source at start-up; it raising is a broken target, not a finding.
inline void run_setup_source(const char* source) {
    StackScope scope;
    Cell* code = stack_push();
    try {
        transcode_utf8(code, reinterpret_cast<const uint8_t*>(source), std::strlen(source));
        eval_block(code);
    } catch (const LanguageThrow&) {
        finding("the target's set-up source raised error %u", unsigned(last_error_code()));
    }
}

// ------------------------------------------------------------------ Tev per input

// Sets a global word to a new string of the UTF-8 bytes; false when they are
// not UTF-8 (a string cannot hold them, so the input ends the run).
inline bool set_global_text(const char* name, const uint8_t* bytes, size_t size) {
    StackScope scope;
    Cell* text;
    try {
        text = string_load(bytes, uint32_t(size), nullptr, 0);
    } catch (const LanguageThrow&) {
        return false;
    }
    Cell word = word_from_cstring(name);
    word_assign(stack_push_copy(&word), text);
    return true;
}

// Runs Tev source, with the collector running at every allocation when torture
// is set; true when it raised (the frames it left are unwound). A non-local
// exit left pending at the top is dropped.
inline bool run_source_raised(const char* source, size_t size, bool torture) {
    StackScope scope;
    uint32_t depth = frame_depth();
    Cell* code = stack_push();
    bool raised = false;
    try {
        transcode_utf8(code, reinterpret_cast<const uint8_t*>(source), size);
        gc_torture = torture;
        eval_block(code);
    } catch (const LanguageThrow&) {
        gc_torture = false;  // unwinding need not collect at every step
        frames_unwind_to(depth);
        raised = true;
    }
    gc_torture = false;
    pending_exit = 0;
    return raised;
}

inline bool run_source_raised(const char* source, bool torture) {
    return run_source_raised(source, std::strlen(source), torture);
}

}  // namespace tev::fuzz

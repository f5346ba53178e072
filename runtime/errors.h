// Raising language errors: the one entry every raise site uses, with the
// catalogue's type and id and up to three argument values.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

struct ErrCode { uint32_t code; };
constexpr bool operator==(ErrCode a, ErrCode b) { return a.code == b.code; }

// err::script::out_of_range, err::math::zero_divide ...: the code of each
// catalogue entry, generated at build time from runtime/error_catalog.def.
#include "error_codes.h"

// Raise a catalogue error. The arguments are copied before anything allocates.
// Never returns: unwinds to the nearest try frame (a C++ exception), or ends
// the process with the error report when none exists.
[[noreturn]] void raise_error(ErrCode code, const Cell* arg1 = nullptr,
                              const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

// Raise an existing error! value (`do` of an error!).
[[noreturn]] void raise_error_value(const Cell* error);

// The runtime raises errors before any datatype exists and knows error! values
// only through these entries, which start-up fills in from the layers above;
// until then (and while an error is being made) an error is its code alone.
struct ErrorHooks {
    // Pushes an error! made from the catalogue entry and its arguments (null:
    // none), or returns nullptr while the catalogue is not loaded.
    Cell* (*make)(uint32_t code, const Cell* arg1, const Cell* arg2, const Cell* arg3) = nullptr;
    // The catalogue code an error! carries, or -1 when its code field is not an integer.
    int32_t (*code_of)(const Cell* error) = nullptr;
    // Adds what raising gives an error!: the raising call and the frame depth.
    void (*mark_raised)(Cell* error) = nullptr;
    // Shows a newly made error (rooted) to the trace; it may replace it.
    void (*traced)(Cell* error) = nullptr;
};
extern ErrorHooks error_hooks;

// Convenience raisers for common argument shapes.
[[noreturn]] void raise_error_int(ErrCode code, int64_t arg1);
[[noreturn]] void raise_error_type(ErrCode code, TypeId arg1, const Cell* arg2 = nullptr);

// The C++ exception that carries a language-level non-local exit. The thrown
// value (the error! or the thrown value) lives in a registered root cell, not
// in the exception object, so the collector sees it.
struct LanguageThrow {
    uint32_t code;  // 0x7FFFFFFF error, ...FE break, ...FD continue, ...FC return, ...FB exit, ...FA throw
};
constexpr uint32_t THROW_ERROR = 0x7FFFFFFF;
constexpr uint32_t THROW_BREAK = 0x7FFFFFFE;
constexpr uint32_t THROW_CONTINUE = 0x7FFFFFFD;
constexpr uint32_t THROW_RETURN = 0x7FFFFFFC;
constexpr uint32_t THROW_EXIT = 0x7FFFFFFB;
constexpr uint32_t THROW_THROW = 0x7FFFFFFA;

// The value in flight (error! for THROW_ERROR). Rooted.
Cell* thrown_value();
// The code of the last raised error.
uint32_t last_error_code();
// Its three arguments (none when not given), rooted until the next raise.
const Cell* last_error_args();

}  // namespace tev

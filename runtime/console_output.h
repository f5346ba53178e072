// Console output: the lowest writers to standard output, the escape-sequence
// interpreter of the real Windows console, the output hook tables, and the
// number and typed printers for the runtime's own messages.
//
// Text reaches standard output one of two ways:
//   * a real Windows console: as UTF-16, with ANSI escape sequences turned
//     into console calls by console_escape (a pure function over a screen);
//   * anything else (a file, a pipe, a POSIX terminal): as UTF-8 bytes, escape
//     sequences unchanged.
// Text-output hooks always receive UTF-8 (text, length in bytes, newline flag).
#pragma once
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include "os/os.h"
#include "runtime/cell.h"

namespace tev {

// ------------------------------------------------------------------ hooks

using ValuePrintHook = void (*)(const Cell* value, bool newline);
using TextOutputHook = void (*)(const char* utf8, size_t length, bool newline);

// Both tables start with 5 slots and grow by 5. Start-up calls the init.
void print_hook_tables_init();
// Appends each non-null hook to its table.
void register_output_hooks(ValuePrintHook value_hook, TextOutputHook text_hook);
void call_print_hooks(const Cell* value, bool newline);
void call_text_output_hooks(const char* utf8, size_t length, bool newline);

struct HookTableState {
    uint32_t count, capacity;
};
HookTableState value_print_hooks_state();
HookTableState text_output_hooks_state();

// ------------------------------------------------------------------ escape sequences

// What ESC [ s saved, and the attributes that ESC [ 0 m and clearing restore.
struct EscapeState {
    uint16_t default_attributes = 7;
    int saved_x = 0, saved_y = 0;
};

// Interprets the escape sequence at text[0] (an ESC) on the screen. Returns
// the number of units it takes (0 when the text is not ESC "["). A sequence
// cut by the end of the text takes the rest of the text and does nothing.
size_t console_escape(const char16_t* text, size_t length, os::ConsoleScreen& screen, EscapeState& state);

// ------------------------------------------------------------------ writers

// Where output goes: the real console when `screen` is set, else `write_bytes`.
struct ConsoleTarget {
    os::ConsoleScreen* screen;
    void (*write_bytes)(const void* bytes, size_t length);
};
// Reads the real console's current attributes as the defaults of clearing
// and of ESC [ 0 m. Called early in start-up.
void console_probe_attributes();
// Probes standard output: real console or redirected. Called by start-up.
void console_init();
bool console_is_real();
// Replaces the target (tests use a fake screen or a byte sink); returns the old one.
ConsoleTarget console_set_target(ConsoleTarget target);
EscapeState& console_escape_state();

// Text of `length` bytes in units of 1, 2 or 4 bytes, each unit one code point
// (a unit size of 4 holds any code point: on the console it becomes a
// surrogate pair). Another unit size is a programming error: runtime error 101.
// `newline` adds the platform's line end. No hooks are called: print calls the
// value-print hooks itself.
void console_write_text(const void* text, size_t length, int unit, bool newline);
void console_write_utf32(const uint32_t* text, size_t count);
// UTF-8 text (print's formed value); no hooks.
void console_write_utf8(const char* utf8, size_t length, bool newline);
// NUL-terminated UTF-8; then the text-output hooks.
void console_print_cstring(const char* utf8);
void console_print_char(char byte);

// Number printers; each also calls the text-output hooks with its text.
void console_print_integer(int32_t v);       // decimal
void console_print_byte_hex(uint8_t v);      // 2 upper-case hex digits
void console_print_hex32(uint32_t v);        // 8 upper-case hex digits
void console_print_float64(double v);        // 16 significant digits
void console_print_float32(float v);         // 7 significant digits

// The text of the printers above (no output): for tests and reports. `out`
// holds at least 32 bytes; returns the length.
size_t format_float_general(char* out, double v, int significant_digits);

// ------------------------------------------------------------------ typed print

// One item of the runtime's own messages (start-up failures, diagnostics).
struct PrintItem {
    enum Kind : uint8_t { LOGIC = 1, INTEGER, CHAR, FLOAT32, FLOAT64, TEXT, HEX32 };
    Kind kind;
    union {
        bool logic;
        int32_t integer;
        char ch;
        float f32;
        double f64;
        const char* text;
        uint32_t hex;
    };
    PrintItem(bool v) : kind(LOGIC), logic(v) {}
    PrintItem(int32_t v) : kind(INTEGER), integer(v) {}
    PrintItem(char v) : kind(CHAR), ch(v) {}
    PrintItem(float v) : kind(FLOAT32), f32(v) {}
    PrintItem(double v) : kind(FLOAT64), f64(v) {}
    PrintItem(const char* v) : kind(TEXT), text(v) {}
    static PrintItem hex32(uint32_t v) { PrintItem p(int32_t(0)); p.kind = HEX32; p.hex = v; return p; }
};

// Prints the items; with `spaced`, a blank between two items unless the first
// ended with a blank, LF, CR or tab.
void sys_print_typed(std::initializer_list<PrintItem> items, bool spaced);
inline void sys_print(std::initializer_list<PrintItem> items) { sys_print_typed(items, false); }
void sys_print_line(std::initializer_list<PrintItem> items);

}  // namespace tev

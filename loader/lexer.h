// The lexer: turns UTF-8 text (or a string!/binary! value) into a block of values,
// reporting each step to an optional event hook. The engine behind transcode.
//
// Each call reads its own copy of the text and builds its values in its own region
// of the lexer's cell stack, so a hook may start nested calls freely.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// The six lexer events (bits of an event mask).
enum LexEvent : uint32_t {
    LEX_PRESCAN = 1, LEX_SCAN = 2, LEX_LOAD = 4, LEX_OPEN = 8, LEX_CLOSE = 16, LEX_ERROR = 32,
    LEX_ALL_EVENTS = 63
};

// What a hook receives. Positions are in input units: characters for a string!
// input, bytes otherwise, counted from the start of the text being read.
struct LexEventInfo {
    LexEvent event;
    TypeId type;            // the token's datatype, or T_NONE_ID (then exit_name names it)
    const char* exit_name;  // system/lexer/exit-states entry ("eof", "block!", "comment" ...)
    int32_t line;
    uint32_t start, end;    // the token as 1-based positions of its first unit and the unit after it
    Cell* value;            // LEX_LOAD: the value just made (on the value stack); else nullptr
    uint32_t index;         // where the input stands; a hook may change it to move the lexer
};

// A hook answers false to skip the token (prescan), drop it (scan, load), ignore
// the bracket (open, close) or go on after a syntax error (error). Events outside
// event_mask are not sent and count as true.
struct LexHook {
    bool (*call)(void* context, LexEventInfo& info);
    void* context = nullptr;
    uint32_t event_mask = LEX_ALL_EVENTS;
};

enum class LexMode : uint8_t {
    load,     // make values
    scan,     // classify and validate tokens, make nothing
    prescan,  // classify tokens by the automaton alone
};

struct TranscodeOptions {
    LexMode mode = LexMode::load;
    bool one = false;             // stop after the first complete value
    bool wrap = true;             // with one: false gives the value itself, not a block
    uint32_t part = UINT32_MAX;   // read at most this many input units
    Cell* into = nullptr;         // append to this (rooted) block instead of making one
    LexHook* hook = nullptr;
};

struct TranscodeResult {
    TypeId type;        // datatype of the last token (error! when a scan stopped on one); T_NONE_ID at end
    uint32_t consumed;  // input units read (where the caller's input should advance to)
    int32_t line;       // line reached
};

// `out` must be rooted. Loading, it receives the block (or the single value with
// one and !wrap: none when the text held none); the scan modes leave it alone.
// Syntax errors raise syntax/invalid, missing, bad-char or malconstruct with
// "(line N)" as the first argument and the text from the token on as the last;
// a scan mode ends with type error! instead. A value whose datatype has not
// landed yet (date, money, point, map; binary, pair, tuple, percent, tag, email
// and ref are checked first) raises internal/not-done.
TranscodeResult transcode_utf8(Cell* out, const uint8_t* text, size_t length,
                               const TranscodeOptions& options = {});
// input: a string! (from its index) or a binary! (from its index).
TranscodeResult transcode_value(Cell* out, const Cell* input, const TranscodeOptions& options = {});

// transcode's arguments as the native receives them.
struct TranscodeArgs {
    const Cell* src = nullptr;     // string! or binary!, read from its index
    bool next = false;             // the first value and the input after it
    bool one = false;              // the first value alone
    bool prescan = false;          // the datatype the automaton guesses
    bool scan = false;             // the datatype of the first value, checked
    const Cell* part = nullptr;    // integer!, or a position in a series of src's datatype
    Cell* into = nullptr;          // append to this block
    LexHook* hook = nullptr;       // /trace
};
// Runs transcode into `result` (rooted): the block (or `into`); with /one the
// value; with /next a block of the value and the input after it; with /scan or
// /prescan the datatype (none at the end; error! for a bad token), and with
// /next too, a block of it and the input after it. A /part position of another
// datatype raises not-same-type.
void transcode_call(Cell* result, const TranscodeArgs& args);

// Start-up: registers the collector hook that marks the values under construction.
void lexer_init();

}  // namespace tev

// What the scan loop (lexer.cpp) and the value loaders (lexer_loaders.cpp) share:
// the state of one transcode call and the loaders' entry points.
#pragma once
#include <cstdint>
#include <string>
#include "loader/lexer.h"
#include "loader/lexer_tables.h"
#include "runtime/errors.h"

namespace tev::lex {

// Marks an open block, paren, path, map or point in the cell stack. No datatype
// has this id, so no value can be taken for a marker.
constexpr TypeId T_LEX_MARKER = TypeId(0xFF);
// A marker cell holds the enclosing block's start in word 1, the kind of value
// it opens (and the commas seen, for points, from bit 16) in word 2, and the
// opening bracket's byte offset in the input in word 3.
inline uint32_t marker_enclosing_start(const Cell* m) { return m->w1; }
inline TypeId marker_kind(const Cell* m) { return TypeId(m->w2 & 0xFFFF); }
inline uint32_t marker_commas(const Cell* m) { return m->w2 >> 16; }
inline uint32_t marker_opening_offset(const Cell* m) { return m->w3; }
inline void marker_set_kind(Cell* m, TypeId kind, uint32_t commas) { m->w2 = kind | (commas << 16); }
inline void marker_set(Cell* m, uint32_t enclosing_start, TypeId kind, uint32_t opening_offset) {
    m->w1 = enclosing_start;
    marker_set_kind(m, kind, 0);
    m->w3 = opening_offset;
}

struct LexerState {
    // Cell stack indices: this call's first cell and the innermost open block's
    // first cell (the cell after its marker). The tail is the stack's top.
    uint32_t cells_head, block_start;
    uint32_t open_markers;         // markers above cells_head
    const uint8_t* input_start;
    const uint8_t* input_end;
    const uint8_t* position;       // where the next token starts scanning
    int32_t line;
    TypeId token_type;             // datatype of the last token (T_NONE_ID: none)
    uint8_t mode;                  // state the next token starts in (0, 4, 35 or 59)
    uint8_t previous_state;        // last scanning state before the exit
    // The open braced string: where its "{" is, how deep, and its collected flags.
    const uint8_t* brace_start;
    int32_t brace_depth;
    uint32_t brace_flags;
    const uint8_t* token_start;    // the token being processed
    const uint8_t* token_end;
    LexMode lex_mode;
    bool loading;                  // lex_mode == load
    bool char_units;               // positions seen by hooks are characters (string! input)
    LexHook* hook;
    // Byte offset -> character count cache for char_units inputs.
    uint32_t cache_bytes, cache_chars;
};

// Raises the syntax error `id` (invalid, missing, bad-char, malconstruct) for the
// current token, after offering it to the hook's error event. `type` is the
// datatype named by invalid (T_NONE_ID: worked out from the state) and `missing`
// the character named by missing.
[[noreturn]] void syntax_error(LexerState& ls, ErrCode id, TypeId type = T_NONE_ID, char missing = 0);

// A value loader: checks [s, e) and, when out is not null, makes the value there
// (out is a cell of the lexer's stack, set to none, seen by the collector).
// flags are the class flags collected over the token.
using Loader = void (*)(LexerState& ls, const uint8_t* s, const uint8_t* e, uint32_t flags, Cell* out);

// A value whose datatype has not landed yet: raises internal/not-done.
[[noreturn]] void value_not_made();
// The loader of each exit state 79..101; nullptr while the datatype does not exist.
Loader loader_for_exit(int exit);
// The bytes of a binary literal ("#{...}", "2#{...}", "64#{...}"); false when malformed.
bool decode_binary_literal(const uint8_t* s, const uint8_t* e, std::string* bytes);
// A date token's fields, for the date! loader.
struct DateParts {
    int year = 0, month = 0, day = 0;
    int week = 0, weekday = 0;  // YYYY-Www[-d]: set through the week setters
    int year_day = 0;           // YYYY-DDD: set through the day-of-year setter
    bool has_time = false, has_zone = false;
    double time = 0;            // seconds of the local time of day
    int zone_hours = 0, zone_minutes = 0;  // minutes negative only west of UTC with 0 hours
};
bool parse_date(const uint8_t* s, const uint8_t* e, DateParts& parts);
// A point from the 2 or 3 numbers of a bracketed list; false when they are not that.
bool make_point_from_cells(Cell* out, const Cell* cells, uint32_t n);
// Word kinds share one loader: the token text is checked and the spelling interned.
void load_word_text(LexerState& ls, const uint8_t* s, const uint8_t* e, TypeId kind, Cell* out);
// #( ... ): the construction between the parentheses; raises malconstruct.
void load_construction(LexerState& ls, const uint8_t* s, const uint8_t* e, Cell* out);

}  // namespace tev::lex

// The lexer's automaton: byte classes with their flags, the transition table, and
// what each state stands for. Constant data, built at compile time from the rows in
// lexer_tables.cpp.
#pragma once
#include <array>
#include <cstdint>
#include "runtime/cell.h"

namespace tev::lex {

// Character classes (the low byte of a class entry).
enum Class : uint8_t {
    C_BLANK, C_LF, C_DIGIT, C_ZERO,
    C_LBRACKET, C_RBRACKET, C_LPAREN, C_RPAREN, C_LBRACE, C_RBRACE, C_QUOTE,
    C_HASH, C_APOSTROPHE, C_COLON, C_X, C_T_UPPER, C_H_LOWER, C_E_LOWER, C_E_UPPER,
    C_HEX_LOWER, C_HEX_UPPER,
    C_SLASH, C_BACKSLASH, C_LESS, C_GREATER, C_EQUAL, C_PERCENT, C_COMMA,
    C_SEMICOLON, C_AT, C_DOT, C_DOLLAR, C_PLUS, C_MINUS, C_CARET,
    C_CONTROL, C_CONTINUATION, C_WORD, C_BAD, C_END,
    CLASS_COUNT
};
static_assert(CLASS_COUNT == 40);

// Class flags (the upper bits of a class entry), OR-ed over a token's bytes.
constexpr uint32_t F_PERCENT = 0x40000, F_GREATER = 0x80000, F_LESS = 0x100000,
    F_SIGN = 0x200000, F_NUL = 0x400000, F_HASH = 0x800000, F_EXPONENT = 0x1000000,
    F_APOSTROPHE = 0x2000000, F_COLON = 0x4000000, F_COMMA = 0x8000000,
    F_DOT = 0x10000000, F_CARET = 0x20000000, F_WIDE2 = 0x40000000, F_WIDE4 = 0x80000000;
// Set by the braced-string open step when a line feed precedes the "{".
constexpr uint32_t F_BRACE_NEW_LINE = 0x20000;

extern const std::array<uint32_t, 256> class_table;

// Scanning states 0..64; 66..101 are exit states naming the token just read.
constexpr int SCAN_STATES = 65;
constexpr int FIRST_EXIT = 66;
enum Exit : uint8_t {
    X_END = 66, X_ERROR, X_BLOCK_OPEN, X_BLOCK_CLOSE, X_PAREN_OPEN, X_PAREN_CLOSE,
    X_BRACE_OPEN, X_BRACE_CLOSE, X_MAP_OPEN, X_PATH, X_CONSTRUCT, X_COMMENT, X_COMMA,
    X_STRING, X_WORD, X_ISSUE, X_INTEGER, X_REFINEMENT, X_CHAR, X_FILE, X_BINARY,
    X_PERCENT, X_FLOAT, X_SPECIAL_FLOAT, X_TUPLE, X_DATE, X_PAIR, X_POINT, X_TIME,
    X_MONEY, X_TAG, X_URL, X_EMAIL, X_HEX, X_RAW_STRING, X_REF,
    LAST_EXIT = X_REF
};
static_assert(LAST_EXIT == 101);
constexpr int EXIT_COUNT = LAST_EXIT - FIRST_EXIT + 1;  // 36

// Start states the scan loop enters besides 0.
constexpr uint8_t S_START = 0, S_BRACED = 4, S_POINT = 35, S_PATH = 59;

using Transitions = std::array<std::array<uint8_t, CLASS_COUNT>, SCAN_STATES>;
extern const Transitions transition_table;
// Only the start state skips: the bytes it consumes are blanks before a token
// (as a table: 1 for state 0, 0 for every other state).
// Datatype a state stands for (T_NONE_ID when none), states 0..103.
extern const std::array<uint8_t, 104> state_type_table;
// system/lexer/exit-states: the names callbacks receive for tokens without a
// datatype (exits 66..78), indexed by exit - 66. The list holds 34 names.
constexpr int EXIT_NAME_COUNT = 34;
extern const std::array<const char*, EXIT_NAME_COUNT> exit_state_names;

inline uint8_t class_of(uint8_t byte) { return uint8_t(class_table[byte]); }

}  // namespace tev::lex

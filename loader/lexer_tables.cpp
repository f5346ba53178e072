// The lexer's constant tables: byte classes and the transition table, built at compile
// time from rows written one per state, so that each can be read and checked on its own.
#include "loader/lexer_tables.h"
#include <array>
#include <string_view>

namespace tev::lex {

// ------------------------------------------------------------------ byte classes

static constexpr std::array<uint32_t, 256> make_class_table() {
    std::array<uint32_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        uint32_t c = C_WORD;  // letters not named below, ! & * ? _ ` | ~
        if (b == 0) c = C_END | F_NUL;
        else if (b == '\t' || b == '\r' || b == ' ') c = C_BLANK;
        else if (b == '\n') c = C_LF;
        else if (b < 0x20) c = C_CONTROL;
        else if (b >= '1' && b <= '9') c = C_DIGIT;
        else if (b == '0') c = C_ZERO;
        else if (b == 0x7F || (b >= 0x80 && b <= 0xBF)) c = C_CONTINUATION;
        else if (b == 0xC0 || b == 0xC1 || b >= 0xF8) c = C_BAD;
        else if (b >= 0xC2 && b <= 0xEF) c = C_WORD | F_WIDE2;
        else if (b >= 0xF0) c = C_WORD | F_WIDE4;
        t[b] = c;
    }
    struct Named { char ch; uint32_t entry; };
    constexpr Named named[] = {
        {'[', C_LBRACKET}, {']', C_RBRACKET}, {'(', C_LPAREN}, {')', C_RPAREN},
        {'{', C_LBRACE}, {'}', C_RBRACE}, {'"', C_QUOTE}, {'#', C_HASH | F_HASH},
        {'\'', C_APOSTROPHE | F_APOSTROPHE}, {':', C_COLON | F_COLON},
        {'X', C_X}, {'x', C_X}, {'T', C_T_UPPER}, {'h', C_H_LOWER},
        {'e', C_E_LOWER | F_EXPONENT}, {'E', C_E_UPPER | F_EXPONENT},
        {'a', C_HEX_LOWER}, {'b', C_HEX_LOWER}, {'c', C_HEX_LOWER}, {'d', C_HEX_LOWER}, {'f', C_HEX_LOWER},
        {'A', C_HEX_UPPER}, {'B', C_HEX_UPPER}, {'C', C_HEX_UPPER}, {'D', C_HEX_UPPER}, {'F', C_HEX_UPPER},
        {'/', C_SLASH}, {'\\', C_BACKSLASH}, {'<', C_LESS | F_LESS}, {'>', C_GREATER | F_GREATER},
        {'=', C_EQUAL}, {'%', C_PERCENT | F_PERCENT}, {',', C_COMMA | F_COMMA},
        {';', C_SEMICOLON}, {'@', C_AT}, {'.', C_DOT | F_DOT}, {'$', C_DOLLAR},
        {'+', C_PLUS | F_SIGN}, {'-', C_MINUS | F_SIGN}, {'^', C_CARET | F_CARET},
    };
    for (const Named& n : named) t[uint8_t(n.ch)] = n.entry;
    return t;
}
constexpr std::array<uint32_t, 256> class_table = make_class_table();

// ------------------------------------------------------------------ transitions

// How to read a row: rules separated by "|"; "N: classes" sends every listed class
// to state N, "else N" sends every class not listed. States above 65 are exits.
// Class names: blank, LF, 1-9, 0, the characters themselves for [ ] ( ) { } " # ' :
// / \ < > = % , ; @ . $ + - ^, x (x and X), T, h, e, E, a-f (a b c d f), A-F
// (A B C D F), ctl (other control bytes), cont (0x7F and continuation bytes),
// word (word characters and lead bytes), bad (bytes never in UTF-8), end (NUL and
// the end of the input).
struct Row { TypeId type; const char* rules; };
static constexpr Row rows[SCAN_STATES] = {
/* 0 */ {T_NONE_ID, "0: blank LF ctl | 1: ; | 2: \" | 6: % | 13: / | 16: # | 23: 1-9 0 | 36: $ | 40: E A-F | 43: < | 47: + - | 49: . | 51: ' : | 57: @ | 58: = | 66: end | 67: } \\ cont bad | 68: [ | 69: ] | 70: ( | 71: ) | 72: { | 78: , | else 52"},
/* 1 */ {T_NONE_ID, "67: bad | 77: LF end | else 1"},
/* 2 */ {T_STRING, "3: ^ | 67: LF bad end | 79: \" | else 2"},
/* 3 */ {T_STRING, "67: bad end | else 2"},
/* 4 */ {T_STRING, "5: ^ | 67: bad end | 72: { | 73: } | else 4"},
/* 5 */ {T_STRING, "67: bad end | else 4"},
/* 6 */ {T_FILE, "8: \" | 9: % | 10: { | 54: : | 67: bad | 80: blank LF [ ] ( ) } ; @ ctl end | else 7"},
/* 7 */ {T_FILE, "67: \" bad | 85: blank LF [ ] ( ) { } : ; @ end | else 7"},
/* 8 */ {T_FILE, "67: LF bad end | 85: \" | else 8"},
/* 9 */ {T_FILE, "9: % | 10: { | 67: bad | 80: blank LF [ ] ( ) } \" \\ ; ctl end | else 7"},
/* 10 */ {T_STRING, "11: } | 67: bad end | else 10"},
/* 11 */ {T_STRING, "11: } | 12: % | 67: bad end | else 10"},
/* 12 */ {T_STRING, "12: % | 100: blank LF [ ] ( ) { \" < ; ctl end | else 67"},
/* 13 */ {T_WORD, "15: / | 53: : | 67: , bad | 80: blank LF [ ] ( ) { } \" # ; @ ctl end | else 14"},
/* 14 */ {T_REFINEMENT, "67: : , bad | 83: blank LF [ ] ( ) { } \" / ; @ ctl end | else 14"},
/* 15 */ {T_WORD, "15: / | 67: % , $ bad | 80: blank LF [ ] ( ) { } \" # ; @ ctl end | else 52"},
/* 16 */ {T_ISSUE, "17: { | 19: \" | 21: ( | 67: blank LF ] ) } : < > , bad | 74: [ | 81: ; @ ctl end | else 22"},
/* 17 */ {T_BINARY, "17: blank LF 1-9 0 x T h e E a-f A-F / = + word | 18: ; | 86: } | else 67"},
/* 18 */ {T_NONE_ID, "17: LF | 67: bad end | else 18"},
/* 19 */ {T_CHAR, "20: ^ | 67: bad end | 84: \" | else 19"},
/* 20 */ {T_CHAR, "67: bad end | else 19"},
/* 21 */ {T_NONE_ID, "67: bad end | 76: ) | else 21"},
/* 22 */ {T_ISSUE, "67: : / bad | 81: blank LF [ ] ( ) { } \" ; @ ctl end | else 22"},
/* 23 */ {T_INTEGER, "16: # | 23: 1-9 0 ' | 24: . | 26: e | 27: E | 30: T / - | 31: : | 33: x | 39: A-F | 42: h | 56: @ | 67: a-f \\ > = $ + ^ cont word bad | 87: % | else 82"},
/* 24 */ {T_FLOAT, "25: 1-9 0 ' | 26: e E | 28: # | 33: x | 87: % | 88: blank LF [ ] ( ) { } \" / < , ; ctl end | else 67"},
/* 25 */ {T_FLOAT, "25: 1-9 0 ' | 26: e E | 29: . | 33: x | 56: @ | 67: # T h a-f A-F \\ > = $ + - ^ cont word bad | 87: % | else 88"},
/* 26 */ {T_FLOAT, "26: 1-9 0 + - | 56: @ | 88: blank LF [ ] ( ) { } \" : / < , ; ctl end | else 67"},
/* 27 */ {T_FLOAT, "26: + - | 27: 1-9 0 | 29: . | 40: E A-F | 42: h | 56: @ | 67: # ' x T e a-f \\ > = ; $ ^ cont word bad | 87: % | else 88"},
/* 28 */ {T_FLOAT, "28: x T h e E a-f A-F > = . + - cont word | 67: # ' : % @ $ ^ bad | 88: 1-9 | else 89"},
/* 29 */ {T_TUPLE, "29: 1-9 0 . | 90: blank LF [ ] ( ) { } \" : / < ; ctl end | else 67"},
/* 30 */ {T_DATE, "67: % , @ ^ cont bad | 91: blank LF [ ] ( ) { } \" < ; $ ctl end | else 30"},
/* 31 */ {T_TIME, "32: 1-9 0 | else 67"},
/* 32 */ {T_TIME, "32: 1-9 0 : . | 94: blank LF [ ] ( ) { } \" / < ; ctl end | else 67"},
/* 33 */ {T_PAIR, "34: 1-9 0 + - | 56: @ | else 67"},
/* 34 */ {T_PAIR, "34: 1-9 0 e E . | 56: @ | 92: blank LF [ ] ( ) { } \" : / < ; ctl end | else 67"},
/* 35 */ {T_POINT2D, "35: blank 1-9 0 ] # e E a-f A-F , . + - word | 93: ) | else 67"},
/* 36 */ {T_MONEY, "37: 1-9 0 | else 67"},
/* 37 */ {T_MONEY, "37: 1-9 0 ' | 38: . | 95: blank LF [ ] ( ) { } \" # : / < ; ctl end | else 67"},
/* 38 */ {T_MONEY, "38: 1-9 0 ' | 95: blank LF [ ] ( ) { } \" # : / < ; ctl end | else 67"},
/* 39 */ {T_NONE_ID, "39: 1-9 0 E A-F | 41: h | 56: @ | else 67"},
/* 40 */ {T_INTEGER, "37: $ | 40: 1-9 0 E A-F | 41: h | 52: ' x T e a-f < > = . + - ^ cont word | 53: : | 56: @ | 67: % , bad | 75: / | else 80"},
/* 41 */ {T_WORD, "37: $ | 53: : | 56: @ | 67: # % , bad | 75: / | 99: blank LF [ ] ( ) { } \" \\ ; ctl end | else 52"},
/* 42 */ {T_INTEGER, "37: $ | 56: @ | 75: / | 99: blank LF [ ] ( ) { } \" \\ < ; ctl end | else 67"},
/* 43 */ {T_TAG, "43: < | 46: ' | 52: > = - | 53: : | 67: bad | 80: blank LF [ ] ( ) { } \" ; ctl end | else 44"},
/* 44 */ {T_TAG, "45: \" | 46: ' | 67: bad end | 96: > | else 44"},
/* 45 */ {T_TAG, "44: \" | 67: bad end | else 45"},
/* 46 */ {T_TAG, "44: ' | 67: bad end | else 46"},
/* 47 */ {T_WORD, "23: 1-9 0 | 37: $ | 49: . | 67: ' % ^ bad | 75: / | 80: blank LF [ ] ( ) { } \" # \\ ; ctl end | else 52"},
/* 48 */ {T_WORD, "67: ' % $ ^ bad | 75: / | 80: blank LF [ ] ( ) { } \" # \\ ; ctl end | else 52"},
/* 49 */ {T_WORD, "50: 1-9 0 + - | 53: : | 56: @ | 67: % , $ bad | 75: / | 80: blank LF [ ] ( ) { } \" # \\ ; ctl end | else 52"},
/* 50 */ {T_FLOAT, "33: x | 50: 1-9 0 e E + - | 56: @ | 87: % | 88: blank LF [ ] ( ) { } \" : / < ctl end | else 67"},
/* 51 */ {T_WORD, "13: / | 43: < | 48: + - | 52: x T h e E a-f A-F > . ^ cont word | 54: % | 58: = | else 67"},
/* 52 */ {T_WORD, "36: $ | 53: : | 56: @ | 67: % , bad | 75: / | 80: blank LF [ ] ( ) { } \" # \\ < ; ctl end | else 52"},
/* 53 */ {T_SET_WORD, "67: < bad | 80: blank LF [ ] ( ) { } \" \\ ; ctl end | else 55"},
/* 54 */ {T_WORD, "54: % | 80: blank LF [ ] ( ) { } \\ ; ctl end | else 67"},
/* 55 */ {T_URL, "67: > ^ bad | 97: blank LF [ ] ( ) { } \" \\ < ; ctl end | else 55"},
/* 56 */ {T_EMAIL, "56: 1-9 0 x T h e E a-f A-F % . + - cont word | 67: # ' : > = , @ $ ^ bad | else 98"},
/* 57 */ {T_REF, "67: # ' \\ > = , @ $ ^ bad | 101: blank LF [ ] ( ) { } \" < ; ctl end | else 57"},
/* 58 */ {T_WORD, "67: # % , @ $ bad | 75: / | 80: blank LF [ ] ( ) { } \" : \\ ; ctl end | else 52"},
/* 59 */ {T_PATH, "2: \" | 36: $ | 43: < | 57: @ | 60: 1-9 0 | 61: ' : | 62: x T h e E a-f A-F > = . cont word | 63: # | 64: + - | 70: ( | 71: ) | else 67"},
/* 60 */ {T_INTEGER, "24: . | 26: e E | 33: x | 56: @ | 60: 1-9 0 ' | 82: blank LF [ ] ( ) { } \" : / < ; ctl end | 87: % | else 67"},
/* 61 */ {T_WORD, "62: x T h e E a-f A-F < > = . + - cont word | else 67"},
/* 62 */ {T_WORD, "36: $ | 56: @ | 67: # % , bad | 80: blank LF [ ] ( ) { } \" : / \\ ; ctl end | else 62"},
/* 63 */ {T_ISSUE, "19: \" | 21: [ | 67: blank LF ] ( ) { } : / < > = , ; @ ctl bad end | else 22"},
/* 64 */ {T_WORD, "36: $ | 56: @ | 60: 1-9 0 | 62: x T h e E a-f A-F > = . cont word | 64: + - | 67: # ' < % , ^ bad | else 80"},
};

// Class names in class order, as the rows spell them.
static constexpr std::string_view class_names[CLASS_COUNT] = {
    "blank", "LF", "1-9", "0", "[", "]", "(", ")", "{", "}", "\"", "#", "'", ":",
    "x", "T", "h", "e", "E", "a-f", "A-F", "/", "\\", "<", ">", "=", "%", ",", ";",
    "@", ".", "$", "+", "-", "^", "ctl", "cont", "word", "bad", "end",
};

// A malformed row stops the build: constexpr evaluation cannot throw.
static constexpr void require(bool ok, const char* /*what*/) {
    if (!ok) throw "bad lexer table row";
}

static constexpr int class_index(std::string_view name) {
    for (int c = 0; c < CLASS_COUNT; ++c)
        if (class_names[c] == name) return c;
    require(false, "unknown class name");
    return 0;
}

static constexpr Transitions make_transitions() {
    Transitions t{};
    for (int s = 0; s < SCAN_STATES; ++s) {
        std::string_view text = rows[s].rules;
        std::array<bool, CLASS_COUNT> listed{};
        int fallback = -1;
        while (!text.empty()) {
            size_t bar = text.find('|');
            std::string_view rule = text.substr(0, bar);
            text = bar == std::string_view::npos ? std::string_view{} : text.substr(bar + 1);
            while (!rule.empty() && rule.front() == ' ') rule.remove_prefix(1);
            while (!rule.empty() && rule.back() == ' ') rule.remove_suffix(1);
            bool is_else = rule.substr(0, 5) == "else ";
            if (is_else) rule.remove_prefix(5);
            int target = 0;
            size_t i = 0;
            for (; i < rule.size() && rule[i] >= '0' && rule[i] <= '9'; ++i) target = target * 10 + (rule[i] - '0');
            require(i > 0 && target != 65 && target <= LAST_EXIT, "bad target");
            if (is_else) {
                require(i == rule.size() && fallback < 0, "bad else");
                fallback = target;
                continue;
            }
            require(i < rule.size() && rule[i] == ':', "missing colon");
            rule.remove_prefix(i + 1);
            while (!rule.empty()) {
                while (!rule.empty() && rule.front() == ' ') rule.remove_prefix(1);
                size_t sp = rule.find(' ');
                std::string_view name = rule.substr(0, sp);
                rule = sp == std::string_view::npos ? std::string_view{} : rule.substr(sp);
                if (name.empty()) continue;
                int c = class_index(name);
                require(!listed[c], "class listed twice");
                listed[c] = true;
                t[s][c] = uint8_t(target);
            }
        }
        for (int c = 0; c < CLASS_COUNT; ++c) {
            if (listed[c]) continue;
            require(fallback >= 0, "row leaves a class without a target");
            t[s][c] = uint8_t(fallback);
        }
        // The scan loop relies on the end column always leaving the automaton,
        // and on the start state being left for good once a token begins, its
        // blanks being exactly blank, LF and control bytes.
        require(t[s][C_END] >= FIRST_EXIT, "end of input must exit");
        for (int c = 0; c < CLASS_COUNT; ++c) {
            bool blank = c == C_BLANK || c == C_LF || c == C_CONTROL;
            require((t[s][c] == 0) == (s == 0 && blank), "only the start state skips blanks");
        }
    }
    return t;
}
constexpr Transitions transition_table = make_transitions();


// ------------------------------------------------------------------ state types

static constexpr std::array<uint8_t, 104> make_state_types() {
    std::array<uint8_t, 104> t{};
    for (int s = 0; s < SCAN_STATES; ++s) t[s] = rows[s].type;
    constexpr struct { Exit exit; TypeId type; } exits[] = {
        {X_ERROR, T_ERROR}, {X_BRACE_CLOSE, T_STRING}, {X_STRING, T_STRING}, {X_WORD, T_WORD},
        {X_ISSUE, T_ISSUE}, {X_INTEGER, T_INTEGER}, {X_REFINEMENT, T_REFINEMENT}, {X_CHAR, T_CHAR},
        {X_FILE, T_FILE}, {X_BINARY, T_BINARY}, {X_PERCENT, T_PERCENT}, {X_FLOAT, T_FLOAT},
        {X_SPECIAL_FLOAT, T_FLOAT}, {X_TUPLE, T_TUPLE}, {X_DATE, T_DATE}, {X_PAIR, T_PAIR},
        {X_POINT, T_POINT2D}, {X_TIME, T_TIME}, {X_MONEY, T_MONEY}, {X_TAG, T_TAG}, {X_URL, T_URL},
        {X_EMAIL, T_EMAIL}, {X_HEX, T_INTEGER}, {X_RAW_STRING, T_STRING}, {X_REF, T_REF},
    };
    for (auto e : exits) t[e.exit] = e.type;
    return t;
}
constexpr std::array<uint8_t, 104> state_type_table = make_state_types();

constexpr std::array<const char*, EXIT_NAME_COUNT> exit_state_names = {
    "eof", "error!", "block!", "block!", "paren!", "paren!", "string!", "string!", "map!",
    "path!", "datatype!", "comment", "string!", "word!", "issue!", "integer!", "refinement!",
    "char!", "file!", "binary!", "percent!", "float!", "float!", "tuple!", "date!", "pair!",
    "time!", "money!", "tag!", "url!", "email!", "hex", "rawstring", "ref!",
};

}  // namespace tev::lex

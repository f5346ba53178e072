// The scan loop: runs the automaton token by token, nests blocks, parens, paths,
// maps and braced strings, sends the lexer events and raises syntax errors.
//
// Values are built in the cell stack, one region per active call; a block's cells
// become a series only when it closes, so a flat block costs one allocation.
#include "loader/lexer.h"
#include <cstdlib>
#include <cstring>
#include <string>
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "loader/lexer_internal.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {
using namespace lex;

// ------------------------------------------------------------------ cell stack

namespace {

// The values under construction of every active call, outermost call first.
// It lives outside the collector's frames (it never moves under a collection;
// growing it is ours alone), and a mark hook reports its cells.
struct CellStack {
    Cell* data = nullptr;
    uint32_t size = 0;
    uint32_t capacity = 0;
};
CellStack cells;

void mark_lexer_cells() {
    for (uint32_t i = 0; i < cells.size; ++i)
        if (cell_type(&cells.data[i]) != T_LEX_MARKER) gc_mark_cell(&cells.data[i]);
}

void grow_cells() {
    uint64_t wanted = cells.capacity ? uint64_t(cells.capacity) * 2 : 1000;
    if (wanted * sizeof(Cell) > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    void* p = std::realloc(cells.data, size_t(wanted) * sizeof(Cell));
    if (!p) raise_error(err::internal::no_memory);
    cells.data = static_cast<Cell*>(p);
    cells.capacity = uint32_t(wanted);
}

// A new none cell at the top. Valid until the next push.
Cell* push_cell() {
    if (cells.size == cells.capacity) grow_cells();
    Cell* c = &cells.data[cells.size++];
    set_none(c);
    return c;
}

// Thrown after the error event answered false: the scan loop goes on.
struct LexRecover {};
// Thrown when a scan-only call meets a syntax error: the call ends with error!.
struct LexStop {};

}  // namespace

void lexer_init() {
    static bool done = false;
    if (done) return;
    done = true;
    gc_add_mark_hook(mark_lexer_cells);
}

// ------------------------------------------------------------------ positions

namespace {

uint32_t byte_offset(const LexerState& ls, const uint8_t* p) { return uint32_t(p - ls.input_start); }

// Input units (characters for a string! input) before p.
uint32_t units_at(LexerState& ls, const uint8_t* p) {
    uint32_t off = byte_offset(ls, p);
    if (!ls.char_units) return off;
    // Walk from the last position asked, forward or back: events ask about
    // nearby positions, so each costs about a token's length.
    for (uint32_t b = ls.cache_bytes; b < off; ++b)
        if ((ls.input_start[b] & 0xC0) != 0x80) ++ls.cache_chars;
    for (uint32_t b = off; b < ls.cache_bytes; ++b)
        if ((ls.input_start[b] & 0xC0) != 0x80) --ls.cache_chars;
    ls.cache_bytes = off;
    return ls.cache_chars;
}

// The byte position of input unit n, clamped to the input.
const uint8_t* position_of_units(LexerState& ls, uint32_t n) {
    uint32_t length = byte_offset(ls, ls.input_end);
    if (!ls.char_units) return ls.input_start + (n < length ? n : length);
    uint32_t b = 0, chars = 0;
    if (n >= ls.cache_chars) { b = ls.cache_bytes; chars = ls.cache_chars; }
    while (b < length && chars < n) {
        ++b;
        while (b < length && (ls.input_start[b] & 0xC0) == 0x80) ++b;
        ++chars;
    }
    return ls.input_start + b;
}

// ------------------------------------------------------------------ events

bool has_event(const LexerState& ls, LexEvent ev) { return ls.hook && (ls.hook->event_mask & ev); }

// Sends one event; index_at is where the input stands for the hook. A hook that
// moves the index moves the lexer (clamped to the input).
bool send_event(LexerState& ls, LexEvent ev, TypeId type, int exit, const uint8_t* s, const uint8_t* e,
                const uint8_t* index_at, const Cell* value = nullptr) {
    if (!has_event(ls, ev)) return true;
    StackScope scope;
    LexEventInfo info{};
    info.event = ev;
    info.type = type;
    int name = exit - FIRST_EXIT;
    info.exit_name = (name >= 0 && name < EXIT_NAME_COUNT) ? exit_state_names[name] : "";
    info.line = ls.line;
    info.start = units_at(ls, s) + 1;
    info.end = units_at(ls, e) + 1;
    info.value = value ? stack_push_copy(value) : nullptr;
    uint32_t index = units_at(ls, index_at);
    info.index = index;
    bool answer = ls.hook->call(ls.hook->context, info);
    if (info.index != index) ls.position = position_of_units(ls, info.index);
    return answer;
}

// ------------------------------------------------------------------ errors

// The text an error shows: from the token start to the first line feed, the end
// of the input or 30 bytes, cut at a character boundary.
void make_snippet(Cell* out, const uint8_t* s, const uint8_t* end) {
    const uint8_t* e = s;
    while (e < end && e - s < 30 && *e != '\n') ++e;
    if (e < end && e > s) {
        while (e > s && (*e & 0xC0) == 0x80) --e;  // never split a sequence
    }
    string_make(out, uint32_t(e - s));
    for (const uint8_t* p = s; p < e;) {
        uint32_t cp;
        int n = 1;
        uint8_t b = *p;
        if (b < 0x80) cp = b;
        else {
            int len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 ? 2 : 0;
            cp = 0xFFFD;
            if (len && p + len <= e) {
                uint32_t v = b & (0x3F >> (len - 1));
                int i = 1;
                for (; i < len && (p[i] & 0xC0) == 0x80; ++i) v = (v << 6) | (p[i] & 0x3F);
                if (i == len && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) { cp = v; n = len; }
            }
        }
        string_append_codepoint(out, cp);
        p += n;
    }
}

// The datatype a malformed token names: what the state before the exit was reading.
TypeId error_type(const LexerState& ls) {
    if (ls.token_type && ls.token_type != T_ERROR) return ls.token_type;
    TypeId t = TypeId(state_type_table[ls.previous_state]);
    return t ? t : T_ERROR;
}

}  // namespace

[[noreturn]] void lex::syntax_error(LexerState& ls, ErrCode id, TypeId type, char missing) {
    if (type == T_NONE_ID) type = error_type(ls);
    if (has_event(ls, LEX_ERROR)) {
        const uint8_t* after = ls.token_end > ls.token_start ? ls.token_end : ls.token_start;
        if (!send_event(ls, LEX_ERROR, type, X_ERROR, ls.token_start, after, after)) throw LexRecover{};
    }
    if (!ls.loading) throw LexStop{};
    StackScope scope;
    Cell* line = stack_push();
    {
        std::string text = "(line " + std::to_string(ls.line) + ")";
        string_make(line, uint32_t(text.size()));
        string_append_ascii(line, text.data(), text.size());
    }
    Cell* arg2 = stack_push();
    Cell* snippet = stack_push();
    make_snippet(snippet, ls.token_start, ls.input_end);
    if (id == err::syntax::invalid) {
        set_datatype(arg2, type);
        raise_error(id, line, arg2, snippet);
    }
    if (id == err::syntax::missing) {
        set_char(arg2, uint8_t(missing));
        raise_error(id, line, arg2, snippet);
    }
    raise_error(id, line, snippet);  // bad-char, malconstruct
}

// ------------------------------------------------------------------ markers

namespace {

Cell* innermost_marker(const LexerState& ls) {
    return ls.open_markers ? &cells.data[ls.block_start - 1] : nullptr;
}

bool is_path_kind(TypeId t) { return t >= T_PATH && t <= T_GET_PATH; }

char closing_char(TypeId kind) { return kind == T_BLOCK || kind == T_MAP ? ']' : ')'; }

void open_marker(LexerState& ls, TypeId kind, const uint8_t* opening, bool new_line) {
    Cell* m = push_cell();
    m->header = T_LEX_MARKER | (new_line ? FLAG_NEW_LINE : 0);
    marker_set(m, ls.block_start, kind, byte_offset(ls, opening));
    ls.block_start = cells.size;
    ++ls.open_markers;
}


// Turns the innermost marker and the cells above it into one value of `kind`.
void close_marker(LexerState& ls, TypeId kind) {
    uint32_t marker_index = ls.block_start - 1;
    uint32_t n = cells.size - ls.block_start;
    const Cell* m = &cells.data[marker_index];
    bool new_line = cell_has_flag(m, FLAG_NEW_LINE);
    uint32_t enclosing = marker_enclosing_start(m);
    if (ls.loading) {
        if (kind == T_MAP) {
            if (n % 2) syntax_error(ls, err::syntax::invalid, T_MAP);
            for (uint32_t i = 0; i < n; i += 2)
                if (!map_key_type_valid(cell_type(&cells.data[ls.block_start + i])))
                    syntax_error(ls, err::syntax::invalid, T_MAP);
        }
        if (kind == T_POINT2D || kind == T_POINT3D) {
            Cell* slot = &cells.data[marker_index];
            if (!make_point_from_cells(slot, &cells.data[ls.block_start], n)) syntax_error(ls, err::syntax::invalid, T_POINT2D);
            if (new_line) cell_set_flag(slot, FLAG_NEW_LINE);
            cells.size = marker_index + 1;
            ls.block_start = enclosing;
            --ls.open_markers;
            return;
        }
        Cell* slot = &cells.data[marker_index];
        block_make(slot, n, kind == T_MAP ? T_BLOCK : kind);  // may collect: the cells above are still reported
        slot = &cells.data[marker_index];
        block_append_cells(slot, &cells.data[ls.block_start], n);
        if (kind == T_MAP) {
            StackScope scope;
            Cell* entries = stack_push_copy(slot);
            Cell* map = stack_push();
            map_make_cell(map, entries, 0);
            slot = &cells.data[marker_index];
            *slot = *map;
        }
        if (new_line) cell_set_flag(slot, FLAG_NEW_LINE);
        cells.size = marker_index + 1;
    } else {
        cells.size = marker_index;  // scanning keeps no values
    }
    ls.block_start = enclosing;
    --ls.open_markers;
}

// ------------------------------------------------------------------ tokens

struct Token {
    const uint8_t* start;
    const uint8_t* end;     // past the token
    uint32_t flags;
    int32_t lines_before;   // line feeds among the blanks before the token
    uint8_t exit;
};

// One run of the automaton from the mode state. Bytes of the token are
// consumed; the byte that caused the exit is not, unless it closes the token.
Token scan_token(LexerState& ls) {
    const uint8_t* p = ls.position;
    const uint8_t* end = ls.input_end;
    uint8_t state = ls.mode;
    uint32_t flags = 0;
    int32_t lines = 0, lines_before = 0;
    if (state == S_START) {
        // The blanks the start state consumes (blank, LF and control bytes).
        for (; p < end; ++p) {
            uint8_t cls = uint8_t(class_table[*p]);
            if (cls == C_LF) ++lines_before;
            else if (cls != C_BLANK && cls != C_CONTROL) break;
        }
        lines = lines_before;
    }
    const uint8_t* start = p;
    uint8_t next;
    // No state returns to the start state, so from here every byte is the token's.
    for (;;) {
        if (p == end) { next = transition_table[state][C_END]; break; }
        uint32_t entry = class_table[*p];
        next = transition_table[state][uint8_t(entry)];
        if (next >= FIRST_EXIT) break;
        flags |= entry;
        lines += uint8_t(entry) == C_LF;
        state = next;
        ++p;
    }
    ls.line += lines;
    ls.previous_state = state;
    Token t{start, p, flags & ~0xFFu, lines_before, next};
    // Tokens whose last byte is the one that made the automaton exit.
    switch (next) {
    case X_BLOCK_OPEN: case X_BLOCK_CLOSE: case X_PAREN_OPEN: case X_PAREN_CLOSE:
    case X_BRACE_OPEN: case X_BRACE_CLOSE: case X_MAP_OPEN: case X_CONSTRUCT: case X_COMMA:
    case X_STRING: case X_CHAR: case X_BINARY: case X_POINT: case X_TAG: case X_PERCENT:
        if (p < end) ++t.end;
        break;
    case X_FILE:
        if (state == 8 && p < end) ++t.end;  // %"..." ends with its quote
        break;
    default:
        break;
    }
    return t;
}

bool is_whitespace_char(uint32_t cp) {
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000 || cp == 0x180E;
}

// Length of the whitespace character at p (0 when there is none).
int whitespace_at(const uint8_t* p, const uint8_t* e) {
    uint8_t b = *p;
    if (b < 0xC2 || b > 0xE3) return 0;
    int len = b >= 0xE0 ? 3 : 2;
    if (e - p < len) return 0;
    uint32_t cp = b & (len == 2 ? 0x1F : 0x0F);
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return is_whitespace_char(cp) ? len : 0;
}

uint32_t flags_of(const uint8_t* s, const uint8_t* e) {
    uint32_t f = 0;
    for (; s < e; ++s) f |= class_table[*s];
    return f & ~0xFFu;
}

// Word tokens end at the first Unicode blank; a token of blanks only is skipped.
// Returns false when nothing of the token is left.
bool trim_word_blanks(Token& t) {
    const uint8_t* s = t.start;
    while (s < t.end) {
        int n = whitespace_at(s, t.end);
        if (!n) break;
        s += n;
    }
    if (s == t.end) { t.start = t.end; return false; }
    const uint8_t* p = s;
    while (p < t.end && !whitespace_at(p, t.end)) ++p;
    if (s != t.start || p != t.end) {
        t.start = s;
        t.end = p;
        t.flags = flags_of(s, p);
    }
    return true;
}

// The word kind a word token spells: a leading "'" or ":" or a trailing ":".
TypeId word_kind(LexerState& ls, const uint8_t* s, const uint8_t* e) {
    size_t n = size_t(e - s);
    TypeId kind = T_WORD;
    bool leading_colon = n > 1 && s[0] == ':';
    bool trailing_colon = n > 1 && e[-1] == ':';
    if (n > 1 && s[0] == '\'') kind = T_LIT_WORD;
    if (leading_colon) kind = T_GET_WORD;
    if (trailing_colon) {
        if (kind != T_WORD) syntax_error(ls, err::syntax::invalid, T_WORD);
        kind = T_SET_WORD;
    }
    const uint8_t* inner_s = s + (kind == T_LIT_WORD || kind == T_GET_WORD);
    const uint8_t* inner_e = e - (kind == T_SET_WORD);
    if (inner_s >= inner_e || std::memchr(inner_s, ':', size_t(inner_e - inner_s)))
        syntax_error(ls, err::syntax::invalid, T_WORD);
    return kind;
}

enum class Step { go_on, stop };

struct Scanner {
    LexerState& ls;
    const TranscodeOptions& opt;
    TypeId completed = T_NONE_ID;  // type of the last complete value

    // ------------------------------------------------------ values

    // Called when a value is complete at the current level: continues or
    // closes an enclosing path, and tells whether the scan should stop.
    Step after_value(TypeId type) {
        for (;;) {
            Cell* m = innermost_marker(ls);
            if (!m || !is_path_kind(marker_kind(m))) break;
            const uint8_t* p = ls.position;
            const uint8_t* end = ls.input_end;
            if (p < end && *p == '/') {
                // A get-word may follow ("a/:b"); the element's own state rejects a lone ":".
                if (p + 1 == end) path_error();
                ls.position = p + 1;
                ls.mode = S_PATH;
                return Step::go_on;
            }
            TypeId kind = marker_kind(m);
            if (p < end && *p == ':') {
                if ((p + 1 < end && p[1] == '/') || kind != T_PATH) path_error();
                kind = T_SET_PATH;
                ls.position = p + 1;
            }
            if (send_event(ls, LEX_CLOSE, kind, X_PATH, ls.position, ls.position, ls.position))
                close_marker(ls, kind);
            else
                close_marker_quietly();
            type = kind;
        }
        ls.mode = ls.brace_depth ? S_BRACED : S_START;
        completed = type;
        if ((opt.one || !ls.loading) && ls.open_markers == 0 && ls.brace_depth == 0) return Step::stop;
        return Step::go_on;
    }

    // A hook refused a path's close: its elements stay in the enclosing block.
    void close_marker_quietly() {
        uint32_t marker_index = ls.block_start - 1;
        Cell* m = &cells.data[marker_index];
        ls.block_start = marker_enclosing_start(m);
        --ls.open_markers;
        std::memmove(&cells.data[marker_index], &cells.data[marker_index + 1],
                     (cells.size - marker_index - 1) * sizeof(Cell));
        --cells.size;
    }

    void drop_marker() {
        uint32_t marker_index = ls.block_start - 1;
        ls.block_start = marker_enclosing_start(&cells.data[marker_index]);
        cells.size = marker_index;
        --ls.open_markers;
    }

    [[noreturn]] void path_error() { syntax_error(ls, err::syntax::invalid, T_PATH); }

    // A token that makes one value: checked, announced, loaded, announced.
    Step value_token(const Token& t, int exit, TypeId type) {
        Loader loader = exit == X_CONSTRUCT ? nullptr : loader_for_exit(exit);
        bool checking = (ls.hook || !ls.loading) && ls.lex_mode != LexMode::prescan;
        if (exit == X_WORD) type = word_kind(ls, t.start, t.end);
        if (checking) {
            if (exit == X_CONSTRUCT) load_construction(ls, t.start, t.end, nullptr);
            else if (exit == X_WORD) load_word_text(ls, t.start, t.end, type, nullptr);
            else if (loader) loader(ls, t.start, t.end, t.flags, nullptr);
        }
        ls.token_type = type;
        bool keep = send_event(ls, LEX_SCAN, type, exit, t.start, t.end, t.end);
        if (keep && ls.loading) {
            Cell* slot = push_cell();
            if (exit == X_CONSTRUCT) load_construction(ls, t.start, t.end, slot);
            else if (exit == X_WORD) load_word_text(ls, t.start, t.end, type, slot);
            else if (loader) loader(ls, t.start, t.end, t.flags, slot);
            else value_not_made();
            slot = &cells.data[cells.size - 1];
            if (t.lines_before > 0) cell_set_flag(slot, FLAG_NEW_LINE);
            type = cell_type(slot);
            if (ls.hook && !send_event(ls, LEX_LOAD, type, exit, t.start, t.end, t.end, slot)) --cells.size;
        }
        return after_value(type);
    }

    // ------------------------------------------------------ brackets

    void open(TypeId kind, const Token& t, int exit) {
        if (!send_event(ls, LEX_OPEN, kind, exit, t.start, t.end, t.start)) return;
        open_marker(ls, kind, t.start, t.lines_before > 0);
        ls.mode = S_START;
    }

    Step close(char bracket, const Token& t, int exit) {
        TypeId named = bracket == ']' ? T_BLOCK : T_PAREN;
        if (!send_event(ls, LEX_CLOSE, named, exit, t.start, t.end, t.end)) return Step::go_on;
        Cell* m = innermost_marker(ls);
        if (!m) syntax_error(ls, err::syntax::missing, T_NONE_ID, bracket == ']' ? '[' : '(');
        TypeId kind = marker_kind(m);
        if (closing_char(kind) != bracket || is_path_kind(kind))
            syntax_error(ls, err::syntax::missing, T_NONE_ID, closing_char(kind));
        if (kind == T_POINT2D && marker_commas(m) == 2) kind = T_POINT3D;
        close_marker(ls, kind);
        return after_value(kind);
    }

    // "(" with a run of number characters up to a ",": the whole point is one token.
    bool point_follows(const uint8_t* after) const {
        const uint8_t* p = after;
        const uint8_t* end = ls.input_end;
        if (end - after <= 3) return false;
        for (; p < end; ++p) {
            uint8_t c = *p;
            bool number = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == '#' ||
                          c == ' ' || c == '\t';
            switch (c | 0x20) { case 'a': case 'e': case 'f': case 'i': case 'n': number = true; break; default: break; }
            if (!number) break;
        }
        return p < end && *p == ',' && p > after;
    }

    void comma() {
        Cell* m = innermost_marker(ls);
        TypeId kind = m ? marker_kind(m) : T_NONE_ID;
        if (kind == T_PAREN) marker_set_kind(m, T_POINT2D, 1);
        else if (kind == T_POINT2D && marker_commas(m) == 1) marker_set_kind(m, T_POINT2D, 2);
        else syntax_error(ls, err::syntax::invalid, T_POINT2D);
    }

    // ------------------------------------------------------ braced strings

    void brace_open(const Token& t) {
        if (ls.brace_depth > 0) {
            ++ls.brace_depth;
            ls.brace_flags |= t.flags;
            return;
        }
        if (!send_event(ls, LEX_OPEN, T_STRING, X_BRACE_OPEN, t.start, t.end, t.start)) return;
        ls.brace_depth = 1;
        ls.brace_start = t.start;
        ls.brace_flags = t.flags | (t.lines_before > 0 ? F_BRACE_NEW_LINE : 0);
        ls.mode = S_BRACED;
    }

    Step brace_close(const Token& t) {
        ls.brace_flags |= t.flags;
        if (--ls.brace_depth > 0) return Step::go_on;
        // A hook that moved the input back before the "{" leaves no string to close.
        if (t.end < ls.brace_start + 2) {
            ls.brace_flags = 0;
            ls.mode = S_START;
            syntax_error(ls, err::syntax::invalid, T_STRING);
        }
        // The closing brace pairs with the open event, as a bracket's does.
        send_event(ls, LEX_CLOSE, T_STRING, X_BRACE_CLOSE, t.start, t.end, t.end);
        Token whole{ls.brace_start, t.end, ls.brace_flags, (ls.brace_flags & F_BRACE_NEW_LINE) ? 1 : 0, X_STRING};
        ls.token_start = whole.start;
        ls.brace_flags = 0;
        ls.mode = S_START;
        return value_token(whole, X_BRACE_CLOSE, T_STRING);
    }

    // ------------------------------------------------------ paths

    void path_open(const Token& t) {
        TypeId kind = t.start[0] == '\'' ? T_LIT_PATH : t.start[0] == ':' ? T_GET_PATH : T_PATH;
        const uint8_t* word_start = t.start + (kind != T_PATH);
        const uint8_t* slash = t.end;
        if (slash + 1 >= ls.input_end) path_error();
        if (!send_event(ls, LEX_OPEN, kind, X_PATH, t.start, t.end, t.start)) {
            ls.position = slash + 1;
            return;
        }
        bool checking = (ls.hook || !ls.loading) && ls.lex_mode != LexMode::prescan;
        if (checking || ls.loading) {
            if (word_start >= t.end) path_error();
            if (std::memchr(word_start, ':', size_t(t.end - word_start))) syntax_error(ls, err::syntax::invalid, T_PATH);
        }
        open_marker(ls, kind, t.start, t.lines_before > 0);
        if (ls.loading) {
            Cell* slot = push_cell();
            load_word_text(ls, word_start, t.end, T_WORD, slot);
        }
        ls.position = slash + 1;
        ls.mode = S_PATH;
    }

    // ------------------------------------------------------ end of input

    Step at_end() {
        ls.position = ls.input_end;
        while (Cell* m = innermost_marker(ls)) {
            TypeId kind = marker_kind(m);
            if (is_path_kind(kind)) { close_marker(ls, kind); continue; }
            // Point at the opening bracket: the end of the input shows nothing.
            ls.token_start = ls.input_start + marker_opening_offset(m);
            ls.token_end = ls.input_end;
            try {
                // The trace hears which value is still open (the console waits for more lines).
                syntax_error(ls, err::syntax::missing, kind, closing_char(kind));
            } catch (LexRecover&) {
                m = innermost_marker(ls);  // the hook may have moved the cell stack
                try {
                    close_marker(ls, kind == T_POINT2D && marker_commas(m) == 2 ? T_POINT3D : kind);
                } catch (LexRecover&) {
                    drop_marker();  // it cannot close either: its values go
                }
            }
        }
        return Step::stop;
    }

    // ------------------------------------------------------ one token

    Step step() {
        Token t = scan_token(ls);
        ls.token_start = t.start;
        ls.token_end = t.end;
        ls.token_type = TypeId(state_type_table[t.exit]);
        ls.position = t.end;
        int exit = t.exit;

        if (exit == X_WORD && (t.flags & (F_WIDE2 | F_WIDE4))) {
            if (!trim_word_blanks(t)) return Step::go_on;
            ls.token_start = t.start;
            ls.token_end = t.end;
            ls.position = t.end;
        }
        bool point = exit == X_PAREN_OPEN && point_follows(t.end);
        if (ls.hook && ls.mode != S_BRACED && !point) {
            TypeId type = ls.token_type;
            if (!send_event(ls, LEX_PRESCAN, type, exit, t.start, t.end, type ? t.end : t.start))
                return Step::go_on;
        }
        switch (exit) {
        case X_END: return at_end();
        case X_ERROR: {
            TypeId named = error_type(ls);
            if (ls.mode == S_BRACED) {
                named = T_STRING;
                if (ls.position == ls.input_end) ls.token_start = ls.brace_start;  // show the whole string
            }
            if (ls.previous_state == 21) syntax_error(ls, err::syntax::malconstruct);
            if (named == T_ERROR) syntax_error(ls, err::syntax::bad_char, T_ERROR);
            syntax_error(ls, err::syntax::invalid, named);
        }
        case X_BLOCK_OPEN: open(T_BLOCK, t, exit); return Step::go_on;
        case X_MAP_OPEN: open(T_MAP, t, exit); return Step::go_on;
        case X_PAREN_OPEN:
            if (point) {
                ls.mode = S_POINT;
                ls.position = t.end;
                return point_token(t);
            }
            open(T_PAREN, t, exit);
            return Step::go_on;
        case X_BLOCK_CLOSE: return close(']', t, exit);
        case X_PAREN_CLOSE: return close(')', t, exit);
        case X_BRACE_OPEN: brace_open(t); return Step::go_on;
        case X_BRACE_CLOSE: return brace_close(t);
        case X_PATH: path_open(t); return Step::go_on;
        case X_CONSTRUCT: return value_token(t, exit, T_DATATYPE);
        case X_COMMENT:
            send_event(ls, LEX_SCAN, T_NONE_ID, exit, t.start, t.end, t.end);
            return Step::go_on;
        case X_COMMA: comma(); return Step::go_on;
        default: return value_token(t, exit, ls.token_type);
        }
    }

    // The rest of a point read as one token from state 35.
    Step point_token(const Token& open_paren) {
        Token t = scan_token(ls);
        t.start = open_paren.start;
        t.lines_before = open_paren.lines_before;
        ls.token_start = t.start;
        ls.token_end = t.end;
        ls.position = t.end;
        ls.mode = S_START;
        ls.token_type = TypeId(state_type_table[t.exit]);
        if (t.exit != X_POINT) {
            syntax_error(ls, err::syntax::invalid, T_POINT2D);
        }
        if (ls.hook && !send_event(ls, LEX_PRESCAN, T_POINT2D, X_POINT, t.start, t.end, t.end))
            return Step::go_on;
        return value_token(t, X_POINT, T_POINT2D);
    }
};

// After an error the hook declined: drop what the token half made and go on
// after it (or where the hook moved the input), always making progress.
void recover(LexerState& ls, uint32_t saved_size, const uint8_t* token_scan_start) {
    // Only values the failed token made go; markers stay.
    uint32_t keep = saved_size > ls.block_start ? saved_size : ls.block_start;
    if (keep < cells.size) cells.size = keep;
    const uint8_t* floor = token_scan_start > ls.token_start ? token_scan_start : ls.token_start;
    if (ls.position <= floor) {
        const uint8_t* p = floor;
        if (p < ls.input_end) {
            ++p;
            while (p < ls.input_end && (*p & 0xC0) == 0x80) ++p;
        }
        ls.position = p;
    }
    // A path with an error in it ends there; the lexer reads on from the start state.
    if (Cell* m = innermost_marker(ls)) {
        if (is_path_kind(marker_kind(m))) close_marker(ls, marker_kind(m));
    }
    ls.mode = ls.brace_depth ? S_BRACED : S_START;
    if (ls.position >= ls.input_end) ls.brace_depth = 0;  // an unended braced string is dropped
    if (!ls.brace_depth) ls.mode = S_START;
}

// ------------------------------------------------------------------ calls

struct CallScope {
    LexerState ls{};
    explicit CallScope(LexHook* hook, LexMode mode) {
        ls.cells_head = ls.block_start = cells.size;
        ls.line = 1;
        ls.hook = hook && hook->call ? hook : nullptr;
        ls.lex_mode = mode;
        ls.loading = mode == LexMode::load;
    }
    ~CallScope() {
        cells.size = ls.cells_head;
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;
};

// The end of the values complete at the top level: below the outermost open
// block, whose marker chain leads back from the innermost one.
uint32_t completed_end(const LexerState& ls) {
    uint32_t end = cells.size, start = ls.block_start;
    for (uint32_t k = ls.open_markers; k; --k) {
        end = start - 1;
        start = marker_enclosing_start(&cells.data[end]);
    }
    return end;
}

TranscodeResult run(Cell* out, const uint8_t* text, size_t length, bool char_units,
                    const TranscodeOptions& opt) {
    lexer_init();
    if (length > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
    CallScope scope(opt.hook, opt.mode);
    LexerState& ls = scope.ls;
    ls.input_start = ls.position = text;
    ls.input_end = text + length;
    ls.char_units = char_units;
    Scanner scanner{ls, opt};
    TranscodeResult result{T_NONE_ID, 0, 1};
    bool stopped_on_error = false;
    try {
        for (;;) {
            uint32_t saved_size = cells.size;
            const uint8_t* scan_start = ls.position;
            try {
                if (scanner.step() == Step::stop) break;
            } catch (LexRecover&) {
                recover(ls, saved_size, scan_start);
            } catch (LexStop&) {
                stopped_on_error = true;
                break;
            }
        }
    } catch (LanguageThrow&) {
        // A caller that gave its own block (load/trap) keeps what was read
        // before the error.
        if (ls.loading && opt.into && !opt.one) {
            uint32_t end = completed_end(ls);
            block_append_cells(opt.into, &cells.data[ls.cells_head], end - ls.cells_head);
        }
        throw;
    }
    result.type = stopped_on_error ? T_ERROR : scanner.completed;
    result.consumed = units_at(ls, ls.position);
    result.line = ls.line;
    if (!ls.loading) return result;

    uint32_t n = cells.size - ls.cells_head;
    if (opt.one && !opt.wrap) {
        if (n) *out = cells.data[ls.cells_head];
        else set_none(out);
    } else if (opt.into) {
        block_append_cells(opt.into, &cells.data[ls.cells_head], n);
        if (out != opt.into) *out = *opt.into;
    } else {
        block_make(out, n);
        block_append_cells(out, &cells.data[ls.cells_head], n);
    }
    return result;
}

// The text of a string! from its index as UTF-8, into buffer.
void string_to_text(const Cell* input, uint32_t part, std::string& buffer) {
    SeriesBuffer* b = node_buffer(series_node(input));
    uint32_t unit = b->unit();
    uint32_t count = b->count();
    uint32_t index = series_index(input);
    uint32_t n = index < count ? count - index : 0;
    if (part < n) n = part;
    const uint8_t* p = b->head_ptr() + size_t(index) * unit;
    buffer.clear();
    buffer.reserve(n);
    for (uint32_t i = 0; i < n; ++i, p += unit) {
        uint32_t cp = unit == 1 ? *p : unit == 2 ? uint32_t(p[0] | p[1] << 8)
                                                 : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        if (cp < 0x80) buffer.push_back(char(cp));
        else if (cp < 0x800) { buffer.push_back(char(0xC0 | cp >> 6)); buffer.push_back(char(0x80 | (cp & 0x3F))); }
        else if (cp < 0x10000) {
            buffer.push_back(char(0xE0 | cp >> 12));
            buffer.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            buffer.push_back(char(0x80 | (cp & 0x3F)));
        } else {
            buffer.push_back(char(0xF0 | cp >> 18));
            buffer.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
            buffer.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
            buffer.push_back(char(0x80 | (cp & 0x3F)));
        }
    }
}

}  // namespace

TranscodeResult transcode_utf8(Cell* out, const uint8_t* text, size_t length, const TranscodeOptions& options) {
    if (options.part < length) length = options.part;
    return run(out, text, length, false, options);
}

TranscodeResult transcode_value(Cell* out, const Cell* input, const TranscodeOptions& options) {
    // Each call reads its own copy: the input's buffer may move at the first
    // allocation, and a hook may change the input or start nested calls.
    std::string text;
    TypeId t = cell_type(input);
    bool char_units = type_is_string(t);
    if (char_units) {
        string_to_text(input, options.part, text);
    } else if (t == T_BINARY) {
        SeriesBuffer* b = node_buffer(series_node(input));
        uint32_t count = b->count();
        uint32_t index = series_index(input);
        uint32_t n = index < count ? count - index : 0;
        if (options.part < n) n = options.part;
        text.assign(reinterpret_cast<const char*>(b->head_ptr() + index), n);
    } else {
        raise_error(err::script::invalid_arg, input);
    }
    return run(out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), char_units, options);
}

void transcode_call(Cell* result, const TranscodeArgs& args) {
    TranscodeOptions o;
    TypeId src_type = cell_type(args.src);
    if (args.part) {
        if (cell_is(args.part, T_INTEGER)) {
            int32_t n = get_integer(args.part);
            o.part = n > 0 ? uint32_t(n) : 0;
        } else if (cell_type(args.part) == src_type) {
            int64_t n = int64_t(series_index(args.part)) - int64_t(series_index(args.src));
            o.part = n > 0 ? uint32_t(n) : 0;
        } else {
            raise_error(err::script::not_same_type);
        }
    }
    o.mode = args.scan ? LexMode::scan : args.prescan ? LexMode::prescan : LexMode::load;
    o.one = args.next || args.one;
    o.wrap = !o.one;
    o.into = args.next || args.one ? nullptr : args.into;
    o.hook = args.hook;
    StackScope scope;
    Cell* value = stack_push();
    TranscodeResult r = transcode_value(value, args.src, o);
    if (o.mode != LexMode::load) {
        // A datatype not registered yet (its loader lands with it) reads as none.
        if (r.type == T_NONE_ID || !type_names[r.type].name) set_none(value);
        else set_datatype(value, r.type);
    }
    if (!args.next) {
        *result = *value;
        return;
    }
    Cell* rest = stack_push_copy(args.src);
    series_set_index(rest, series_index(args.src) + r.consumed);
    Cell* pair = block_push_new(2);
    block_append(pair, value);
    block_append(pair, rest);
    *result = *pair;
}

}  // namespace tev

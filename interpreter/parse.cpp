// The parse engine: a state machine over its own work stacks, so that the depth of a grammar never recurses on the machine stack.
//
// A run walks its rules with a rule position and keeps one work record per
// entered block and per pending keyword rule. Records hold positions as offsets
// from their rules block's index and input positions as unit indexes, never
// addresses: a paren may change the rules, the input, or run the collector.
// Every value a run holds across an evaluation is on the value stack (its
// registers) or in a work record (marked by the collector hook below).
// Nested runs (from parens, the trace callback, change handlers) share the two
// work stacks above the outer run's records and give them back on any exit.
#include <algorithm>
#include <cassert>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "interpreter/parse.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// ================================================================== work records

// Rule kinds, as the trace callback sees them in the stack's pair! cells.
enum Kind : int32_t {
    K_BLOCK = 0, K_ITERATE = -1, K_TO = -2, K_THRU = -3, K_COPY = -4, K_SET = -5, K_NOT = -6,
    K_INTO = -7, K_REMOVE = -9, K_WHILE = -11, K_COLLECT = -12, K_KEEP = -13, K_KEEP_PAREN = -14,
    K_AHEAD = -16, K_CHANGE = -17, K_CHANGE_ONLY = -18, K_CASE = -19
};

// One entered block (kind 0) or one pending keyword rule. Kept small: a
// record is pushed, copied and dropped for every block entered.
struct Entry {
    int8_t kind;         // a Kind
    int8_t flag;         // 1 for keep pick
    int8_t child_kind;   // kind of the last rule popped above this one (keep asks whether it was copy)
    bool marker;         // collect into/after: a target marker sits on the value stack
    int32_t min, max;    // collect: max = the into/after target's saved index; case: max = the mode to restore
    int32_t count;       // passes begun, from 1
    int32_t rule_pos;    // rule position when pushed, from the rules block's index (-1 outermost)
    uint32_t input_index;  // input index when the rule started (iterations and to/thru move it on)
    int32_t input_len;   // input units from there to the tail
    Cell value;          // block level: the enclosing rules block; copy/set: the word
};

std::vector<Entry> rule_stack;
std::vector<Cell> input_stack;  // the series a run matches, one more per `into`
uint32_t runs_under_way = 0;

// Work cells allowed in all: three a record and one a nested run, as in a work block.
constexpr size_t WORK_LIMIT = 10000;

void mark_work_stacks() {
    for (const Entry& e : rule_stack) gc_mark_cell(&e.value);
    for (const Cell& c : input_stack) gc_mark_cell(&c);
}

// ================================================================== keywords

enum Keyword : uint8_t {
    KW_USER = 0, KW_BAR, KW_SKIP, KW_ANY, KW_SOME, KW_OPT, KW_WHILE, KW_COPY, KW_SET, KW_TO, KW_THRU,
    KW_REMOVE, KW_INSERT, KW_CHANGE, KW_END, KW_IF, KW_NOT, KW_AHEAD, KW_QUOTE, KW_INTO, KW_COLLECT,
    KW_KEEP, KW_CASE, KW_BREAK, KW_REJECT, KW_FAIL, KW_NONE, KW_PICK, KW_ONLY, KW_AFTER, KW_COUNT
};
const char* const keyword_names[KW_COUNT] = {
    "", "|", "skip", "any", "some", "opt", "while", "copy", "set", "to", "thru",
    "remove", "insert", "change", "end", "if", "not", "ahead", "quote", "into", "collect",
    "keep", "case", "break", "reject", "fail", "none", "pick", "only", "after"};

std::vector<uint8_t> keyword_of_alias;  // by case-folded alias symbol
Cell keyword_words[KW_COUNT];           // for error arguments (global words: nothing to root)
int32_t bar_symbol = 0;

enum Event { EV_PUSH, EV_POP, EV_FETCH, EV_MATCH, EV_ITERATE, EV_PAREN, EV_END, EV_COUNT };
const char* const event_names[EV_COUNT] = {"push", "pop", "fetch", "match", "iterate", "paren", "end"};
Cell event_words[EV_COUNT];

// The keyword of each symbol id met so far (symbols are never renumbered), so
// that a rule word costs one table read; KW_UNKNOWN until first asked.
constexpr uint8_t KW_UNKNOWN = 0xFF;
std::vector<uint8_t> keyword_of_symbol;

Keyword keyword_of_slow(uint32_t symbol) {
    uint32_t alias = uint32_t(symbol_resolve_alias(int32_t(symbol)));
    Keyword k = alias < keyword_of_alias.size() ? Keyword(keyword_of_alias[alias]) : KW_USER;
    if (symbol >= keyword_of_symbol.size()) keyword_of_symbol.resize(size_t(symbol) * 2 + 64, KW_UNKNOWN);
    keyword_of_symbol[symbol] = k;
    return k;
}
inline Keyword keyword_of(const Cell* word) {
    uint32_t symbol = uint32_t(word_symbol(word));
    if (symbol < keyword_of_symbol.size() && keyword_of_symbol[symbol] != KW_UNKNOWN) return Keyword(keyword_of_symbol[symbol]);
    return keyword_of_slow(symbol);
}
inline bool is_keyword(const Cell* c, Keyword k) { return cell_is(c, T_WORD) && keyword_of(c) == k; }

const Cell* kind_word(int32_t kind) {
    switch (kind) {
        case K_TO: return &keyword_words[KW_TO];
        case K_THRU: return &keyword_words[KW_THRU];
        case K_NOT: return &keyword_words[KW_NOT];
        case K_REMOVE: return &keyword_words[KW_REMOVE];
        case K_WHILE: return &keyword_words[KW_WHILE];
        case K_COLLECT: return &keyword_words[KW_COLLECT];
        case K_KEEP: case K_KEEP_PAREN: return &keyword_words[KW_KEEP];
        case K_AHEAD: return &keyword_words[KW_AHEAD];
        default: return nullptr;
    }
}

// ================================================================== a run

struct Run {
    Cell* input;     // the working input: its index is the position
    Cell* rules;     // the rules block being walked
    Cell* val;       // the rule value under way
    Cell* scratch;   // the last paren's result, and values for insert and change
    Cell* copied;    // what the last copy rule stored
    Cell* callback;  // function! or none
    Cell* result;    // the result slot: collect pushes above it
    size_t rule_base, input_base;
    int32_t pos;     // rule position, absolute in the rules buffer
    int32_t tail;
    int64_t part_end;  // absolute, or 0
    int mode;
    bool match = true, brk = false, leave = false, block_done = false, arg_flag = false;
    bool result_block = false, exit_pending = false;
    bool tracing = false;  // a callback is given: every event goes to it, and no step is taken in place
    int32_t collect_depth = 0;
    int64_t record_room = 0;  // records the work stacks may hold while this run steps (see check_limits)
};

// The work stacks from a run's bases are its own; every way out gives them back.
struct RunGuard {
    size_t rules, inputs;
    RunGuard() : rules(rule_stack.size()), inputs(input_stack.size()) { ++runs_under_way; }
    ~RunGuard() {
        rule_stack.resize(rules);
        input_stack.resize(inputs);
        --runs_under_way;
    }
};

inline uint32_t in_count(const Run& R) { return node_buffer(series_node(R.input))->count(); }
inline uint32_t in_index(const Run& R) { return series_index(R.input); }
inline void set_index(Run& R, uint32_t i) { series_set_index(R.input, std::min(i, in_count(R))); }
// The part end limits the run's own input only, not a series entered by `into`.
inline bool has_part(const Run& R) { return R.part_end > 0 && input_stack.size() - R.input_base == 1; }
// The limit of an input of n units.
inline uint32_t limit_within(const Run& R, uint32_t n) {
    return has_part(R) && R.part_end < int64_t(n) ? uint32_t(R.part_end) : n;
}
inline uint32_t limit(const Run& R) { return limit_within(R, in_count(R)); }
inline bool at_end(const Run& R) { return in_index(R) >= limit(R); }
inline int32_t rules_index(const Run& R) { return int32_t(series_index(R.rules)); }
inline int32_t rules_count(const Run& R) { return int32_t(node_buffer(series_node(R.rules))->cell_count()); }
inline Cell* rule_at(const Run& R, int32_t pos) { return node_buffer(series_node(R.rules))->cells() + pos; }
inline Cell* next_rule_cell(const Run& R) { return R.pos + 1 < R.tail ? rule_at(R, R.pos + 1) : nullptr; }
inline bool top_is_rule(const Run& R) { return rule_stack.back().kind != K_BLOCK; }
inline bool same_series(const Cell* a, const Cell* b) {
    return cell_type(a) == cell_type(b) && series_node(a) == series_node(b);
}

// The records allowed while a run steps: the runs under way stay the same
// meanwhile (a nested run ends before its caller steps on), so the bound on
// 3 * records + (runs - 1) work cells is worked out once a run; -1 when the
// nested runs alone use up the room.
int64_t record_room_now() {
    int64_t room = int64_t(WORK_LIMIT) - int64_t(runs_under_way - 1);
    return room < 0 ? -1 : room / 3;
}

inline void check_limits(const Run& R) {
    if (int64_t(rule_stack.size()) > R.record_room || input_stack.size() > WORK_LIMIT) raise_error(err::script::parse_stack);
}
static_assert(sizeof(Entry) <= 48, "a work record grew: every entered block pushes and copies one");

// The fields a keyword rule's record starts from; the push fills the rest.
inline void reset_pending(Entry& p) {
    p.kind = 0;
    p.flag = 0;
    p.min = p.max = -1;
    p.marker = false;
}

constexpr uint32_t kind_bit(Kind k) { return 1u << -k; }
constexpr uint32_t QUIET_COMPLETIONS = kind_bit(K_ITERATE) | kind_bit(K_WHILE) | kind_bit(K_TO) | kind_bit(K_THRU) |
                                       kind_bit(K_NOT) | kind_bit(K_INTO) | kind_bit(K_AHEAD) | kind_bit(K_CASE);
inline bool completion_may_evaluate(int32_t kind) { return (QUIET_COMPLETIONS & (1u << -kind)) == 0; }

// Tells the run's top record which kind of rule just ended above it.
inline void note_child(Run& R, int32_t kind) {
    if (rule_stack.begin() + ptrdiff_t(R.rule_base) < rule_stack.end()) rule_stack.back().child_kind = int8_t(kind);
}

// Drops the top rule record and tells the record below which kind it was.
void drop_rule(Run& R) {
    int32_t kind = rule_stack.back().kind;
    rule_stack.pop_back();
    note_child(R, kind);
}

// ------------------------------------------------------------------ trace events

// The run's work records as the callback sees them: three cells a record.
void build_stack_block(Cell* out, const Run& R) {
    size_t n = rule_stack.size() - R.rule_base;
    block_make(out, uint32_t(3 * n + 1));
    for (size_t k = 0; k < n; ++k) {
        Entry e = rule_stack[R.rule_base + k];
        Cell cells[3];
        if (e.kind == K_BLOCK) {
            set_none(&cells[0]);
            cells[2] = e.value;
        } else {
            if (e.kind == K_COPY || e.kind == K_SET) cells[0] = e.value;
            else cell_store(&cells[0], T_TRIPLE, uint32_t(e.min), uint32_t(e.max), uint32_t(e.count));
            cell_store(&cells[2], T_PAIR, 0, uint32_t(e.kind), uint32_t(e.flag));
        }
        cell_store(&cells[1], T_TRIPLE, uint32_t(e.rule_pos), e.input_index, uint32_t(e.input_len));
        block_append_cells(out, cells, 3);
    }
}

// Calls the trace callback; false when the run must stop (the callback said
// so, or an exit raised in it is pending).
bool emit_slow(Run& R, Event ev) {
    StackScope scope;
    Cell* args = stack_push();
    *args = event_words[ev];
    set_logic(stack_push(), R.match);
    Cell* rules = stack_push_copy(R.rules);
    int32_t at = std::clamp(R.pos, rules_index(R), std::max(rules_index(R), rules_count(R)));
    series_set_index(rules, uint32_t(at));
    stack_push_copy(R.input);
    build_stack_block(stack_push(), R);
    Cell* fn = stack_push_copy(R.callback);
    Cell* r = call_with_args(fn, args, 5);
    if (pending_exit) {
        R.exit_pending = true;
        return false;
    }
    return is_truthy(r);
}
inline bool emit(Run& R, Event ev) { return !R.tracing || emit_slow(R, ev); }

// ------------------------------------------------------------------ evaluation

// Evaluates a paren (rooted) into R.scratch; false when an exit is pending.
bool eval_paren(Run& R, const Cell* paren) {
    Cell* mark = vstack.top;
    Cell* r = eval_block(paren);
    if (pending_exit) {
        vstack.top = mark;
        R.exit_pending = true;
        return false;
    }
    *R.scratch = *r;
    vstack.top = mark;
    return true;
}

// The value insert and change use, from the rule value in R.val, into R.scratch.
// False when the run must stop.
bool obtain_value(Run& R) {
    TypeId t = cell_type(R.val);
    if (t == T_PATH) raise_error(err::script::parse_rule, R.val);
    if (t == T_PAREN) return eval_paren(R, R.val) && emit(R, EV_PAREN);
    if (t == T_WORD) {
        Cell* v = word_value_cell(R.val);
        if (cell_is(v, T_UNSET)) raise_error(err::script::no_value, R.val);
        *R.scratch = *v;
        return true;
    }
    *R.scratch = *R.val;
    return true;
}

// The series value of a word! or get-word! rule cell when it is the input series itself.
bool word_names_input(const Run& R, const Cell* c, Cell* out) {
    if (!cell_is(c, T_WORD) && !cell_is(c, T_GET_WORD)) return false;
    Cell w = *c;
    const Cell* v = word_value_cell(&w);
    if (!same_series(v, R.input)) return false;
    *out = *v;
    return true;
}

// An element of the input as one value: char! of text, integer! of bytes, the cell of a block.
void element_at(const Run& R, uint32_t i, Cell* out) {
    TypeId t = cell_type(R.input);
    SeriesBuffer* b = node_buffer(series_node(R.input));
    if (type_is_list(t)) { *out = b->cells()[i]; return; }
    const uint8_t* p = b->head_ptr() + size_t(i) * b->unit();
    uint32_t u = b->unit() == 1 ? *p : b->unit() == 2 ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
    if (t == T_BINARY) set_integer(out, int32_t(u));
    else set_char(out, u);
}

// A copy of count input units from start, pushed on the stack.
Cell* push_input_copy(const Run& R, uint32_t start, uint32_t count) {
    TypeId t = cell_type(R.input);
    if (t == T_BLOCK || t == T_PAREN || t == T_BINARY || type_is_string(t)) return series_push_copy(R.input, start, count);
    Cell args[2] = {*R.input, {}};
    series_set_index(args, start);
    set_integer(&args[1], int32_t(count));
    const int8_t refs[3] = {1, -1, -1};
    return action_call(Act::copy, args, 2, refs, 3);
}

// ------------------------------------------------------------------ collecting

bool is_target_series(TypeId t) { return type_is_list(t) || type_is_string(t) || t == T_BINARY; }

// collect into/after: the target must be a series the input's values can go into.
bool target_fits_input(const Cell* target, const Cell* input) {
    TypeId tt = cell_type(target), it = cell_type(input);
    if (!is_target_series(tt)) return false;
    return tt == it || type_is_list(tt) || (type_is_string(tt) && (type_is_string(it) || it == T_BINARY));
}

// Puts one value where the innermost collect gathers: appended to its block, or
// through the target's own insert (at its index, which moves past) or append.
// With each, a block value gives its values one by one.
void keep_value(Run& R, Cell* top, Cell* value, bool each) {
    if (cell_is(top, T_BLOCK)) {
        if (each && cell_is(value, T_BLOCK)) {
            uint32_t n = block_length(value);
            for (uint32_t k = 0; k < n; ++k) block_append(top, block_at(value, k));
        } else {
            block_append(top, value);
        }
        return;
    }
    StackScope scope;
    Cell* word = stack_push_copy(top);
    bool into = cell_is(word, T_GET_WORD);
    cell_set_type(word, T_WORD);
    Cell* target = stack_push_copy(word_value_cell(word));
    if (!target_fits_input(target, R.input)) raise_error(err::script::parse_into_type);
    Cell args[2] = {*target, *value};
    const int8_t refs[3] = {-1, int8_t(each ? -1 : 0), -1};
    Cell* r = action_call(into ? Act::insert : Act::append, args, 2, refs, 3);
    if (into) word_assign(word, r);
}

// Adds input units [start, start + count) straight to a text or byte target
// of the input's unit: true when it could.
bool keep_slice(Run& R, Cell* top, uint32_t start, uint32_t count) {
    if (!cell_is(top, T_GET_WORD) && !cell_is(top, T_REFINEMENT)) return false;
    StackScope scope;
    Cell* word = stack_push_copy(top);
    bool into = cell_is(word, T_GET_WORD);
    cell_set_type(word, T_WORD);
    Cell* target = stack_push_copy(word_value_cell(word));
    TypeId tt = cell_type(target), it = cell_type(R.input);
    if (!(type_is_string(tt) && type_is_string(it))) return false;
    if (node_buffer(series_node(target))->unit() != node_buffer(series_node(R.input))->unit()) return false;
    Cell* src = stack_push_copy(R.input);
    series_set_index(src, start);
    uint32_t at = std::min(series_index(target), node_buffer(series_node(target))->count());
    string_concatenate(target, src, int32_t(count), 0, into ? CONCAT_INSERT : CONCAT_APPEND);
    if (into) {
        series_set_index(target, at + count);
        word_assign(word, target);
    }
    return true;
}

// The end of a collect rule, matched or not.
void complete_collect(Run& R, const Entry& e) {
    --R.collect_depth;
    Cell* top = vstack.top - 1;
    Cell marker_word{};
    bool had_marker = e.marker;
    if (top == R.result + 1) {
        if (cell_is(top, T_BLOCK)) R.result_block = true;
        else {  // an outermost into/after marker goes too: a later collect must not feed its target
            marker_word = *top;
            vstack.top = top;
        }
    } else if (cell_is(top, T_BLOCK)) {
        Cell* below = top - 1;
        if (cell_is(below, T_WORD)) {
            word_assign(below, top);
            vstack.top = below;
        } else if (cell_is(below, T_GET_WORD) || cell_is(below, T_REFINEMENT)) {
            keep_value(R, below, top, false);
            vstack.top = top;
        } else {
            block_append(below, top);
            vstack.top = top;
        }
    } else {
        marker_word = *top;
        vstack.top = top;
    }
    if (had_marker) {
        // The target keeps its position: what was kept shows from there on.
        Cell* word = stack_push_copy(&marker_word);
        cell_set_type(word, T_WORD);
        Cell* target = stack_push_copy(word_value_cell(word));
        if (is_target_series(cell_type(target))) {
            series_set_index(target, uint32_t(e.max));
            word_assign(word, target);
        }
        vstack.top = word;
    }
}

// The end of a matched keep rule.
void complete_keep(Run& R, const Entry& e) {
    if (e.kind == K_KEEP_PAREN) {
        Cell* v = stack_push_copy(R.scratch);
        keep_value(R, v - 1, v, e.flag != 0);
        vstack.top = v;
        return;
    }
    uint32_t s = e.input_index, end = in_index(R);
    uint32_t n = end > s ? end - s : 0;
    if (e.child_kind == K_COPY && e.flag == 0) {
        Cell* v = stack_push_copy(R.copied);
        keep_value(R, v - 1, v, false);
        vstack.top = v;
        return;
    }
    if (n == 0) return;
    Cell* v = stack_push();
    if (n == 1) {
        element_at(R, s, v);
        keep_value(R, v - 1, v, false);
    } else if (keep_slice(R, v - 1, s, n)) {
    } else if (e.flag) {
        for (uint32_t i = s; i < s + n && i < in_count(R); ++i) {
            element_at(R, i, v);
            keep_value(R, v - 1, v, false);
        }
    } else {
        *v = *push_input_copy(R, s, n);
        vstack.top = v + 1;
        keep_value(R, v - 1, v, false);
    }
    vstack.top = v;
}

// ------------------------------------------------------------------ modifying the input

// Inserts R.scratch at input position `at`; answers the units inserted.
uint32_t insert_at(Run& R, uint32_t at, bool only) {
    uint32_t before = in_count(R);
    StackScope scope;
    Cell args[2] = {*R.input, *R.scratch};
    series_set_index(args, at);
    const int8_t refs[3] = {-1, int8_t(only ? 0 : -1), -1};
    action_call(Act::insert, args, 2, refs, 3);
    uint32_t after = in_count(R);
    return after > before ? after - before : 0;
}

// Changes count units at `at` to R.scratch; the input goes just after the replacement.
void change_at(Run& R, uint32_t at, uint32_t count, bool only) {
    StackScope scope;
    Cell args[3] = {*R.input, *R.scratch, {}};
    series_set_index(args, at);
    set_integer(&args[2], int32_t(count));
    const int8_t refs[3] = {2, int8_t(only ? 0 : -1), -1};
    Cell* r = action_call(Act::change, args, 3, refs, 3);
    set_index(R, same_series(r, R.input) ? series_index(r) : at);
}

// Removes count units at `at` (or up to the position `part` when given).
void remove_at(Run& R, uint32_t at, uint32_t count) {
    StackScope scope;
    Cell args[2] = {*R.input, {}};
    series_set_index(args, at);
    set_integer(&args[1], int32_t(count));
    const int8_t refs[2] = {1, -1};
    action_call(Act::remove, args, 2, refs, 2);
}

// ------------------------------------------------------------------ keyword arguments matched in place

// The iteration over a value in R.val that the fast loop matches.
inline void repeat_value(Run& R, int32_t min, int32_t max) {
    uint32_t i = in_index(R), count = in_count(R);
    bool ok = parse_repeat_value(R.input, &i, limit_within(R, count), R.val, min, max, R.mode);
    R.match = ok || min == 0;
    series_set_index(R.input, std::min(i, count));
}

// to/thru a searchable value in R.val; true with *start when found.
inline bool search_value(Run& R, int32_t kind, uint32_t* start) {
    uint32_t i = in_index(R), end = 0;
    bool found = parse_find_value(R.input, i, limit(R), R.val, R.mode, start, &end);
    if (found) {
        R.match = true;
        set_index(R, kind == K_TO ? *start : end);
    } else {
        R.match = has_part(R) && int64_t(i) > R.part_end;
    }
    return found;
}

// Loads into R.val the argument at `at` when the keyword can match it without a
// record of its own: a literal value, or a user word naming one. A record
// would only be pushed, matched with the same loop and dropped, and nobody
// sees it unless a callback traces the run. Blocks, keywords, counts, parens,
// datatypes and words naming words take the record's way.
bool load_direct_argument(Run& R, int32_t at) {
    if (R.tracing || at >= R.tail) return false;
    const Cell* c = rule_at(R, at);
    if (cell_is(c, T_WORD)) {
        if (keyword_of(c) != KW_USER) return false;
        Cell word = *c;
        const Cell* v = word_value_cell(&word);
        if (cell_is(v, T_UNSET)) return false;
        *R.val = *v;
    } else {
        *R.val = *c;
    }
    switch (cell_type(R.val)) {
        case T_BLOCK: case T_WORD: case T_INTEGER: case T_PAREN: case T_TYPESET: case T_DATATYPE: return false;
        default: return true;
    }
}

// ------------------------------------------------------------------ passes taken in one loop

// An iterated block [A1 | ... | An | skip] whose alternatives before the lone
// `skip` each begin with a lead rule: one that fails at once, with no effect,
// at a unit outside a known set. A pass at a unit outside every lead set tries
// each Ai in vain and ends by skipping the unit, so such passes are counted in
// one scan. A pass whose first lead holding the unit is the whole alternative,
// under no wrapper but a keep into the collect's own block, is matched in
// place; any other pass goes through the machine.
constexpr uint32_t MAX_LEADS = 8;  // a lead scan's bound
// Wrappers a lead rule may sit under: each pass pushes a record for each.
constexpr int MAX_LEAD_WRAPPERS = 2;

struct Lead {
    Cell set;          // the char! or bitset! the lead rule matches
    bool some;         // `some set`, not the set alone
    bool in_place;     // the whole alternative, under no wrapper or one keep
    int8_t keep_flag;  // under that keep: its pick flag; -1 when there is none
};

inline bool is_bar(const Cell* c) { return cell_is(c, T_WORD) && word_symbol(c) == bar_symbol; }

// The char! or bitset! a rule cell matches units of: itself, or the value of
// a user word that reads without raising; nullptr for any other cell.
const Cell* unit_set_of(const Cell* c) {
    if (cell_is(c, T_CHAR) || cell_is(c, T_BITSET)) return c;
    if (!cell_is(c, T_WORD) || keyword_of(c) != KW_USER) return nullptr;
    const Cell* v = word_value_plain(c);
    return v && (cell_is(v, T_CHAR) || cell_is(v, T_BITSET)) ? v : nullptr;
}

// The lead rule beginning the alternative cells[p, end): a unit set, or `some`
// of one, under at most two of keep [pick], copy word and set word, which act
// only when their rule matches.
bool read_lead(const Run& R, const Cell* cells, uint32_t p, uint32_t end, Lead* lead) {
    int8_t keep_flag = -1;
    bool only_keep = true;
    for (int wrappers = 0; p < end && wrappers <= MAX_LEAD_WRAPPERS; ++wrappers) {
        const Cell* c = cells + p;
        bool some = is_keyword(c, KW_SOME);
        const Cell* set = some ? (p + 1 < end ? unit_set_of(cells + p + 1) : nullptr) : unit_set_of(c);
        if (set) {
            lead->set = *set;
            lead->some = some;
            lead->in_place = p + (some ? 2 : 1) == end && only_keep && wrappers <= 1;
            lead->keep_flag = keep_flag;
            return true;
        }
        if (!cell_is(c, T_WORD)) return false;
        switch (keyword_of(c)) {
            case KW_KEEP:
                if (R.collect_depth == 0) return false;  // the keep would raise
                keep_flag = p + 1 < end && is_keyword(cells + p + 1, KW_PICK) ? 1 : 0;
                p += uint32_t(keep_flag) + 1;
                break;
            case KW_COPY: case KW_SET:
                if (p + 1 >= end || !cell_is(cells + p + 1, T_WORD)) return false;
                only_keep = false;
                p += 2;
                break;
            default:
                return false;
        }
    }
    return false;
}

// The leads of a block of that shape into leads[0, *n); false for any other block.
bool read_skip_block(const Run& R, const Cell* block, Lead* leads, uint32_t* n) {
    SeriesBuffer* b = node_buffer(series_node(block));
    const Cell* cells = b->cells();
    uint32_t tail = b->cell_count(), head = std::min(series_index(block), tail);
    if (tail == head || !is_keyword(cells + tail - 1, KW_SKIP)) return false;
    *n = 0;
    if (tail - head == 1) return true;
    if (!is_bar(cells + tail - 2)) return false;
    uint32_t start = head;
    for (uint32_t p = head; p < tail - 1; ++p) {
        if (!is_bar(cells + p)) continue;
        if (*n == MAX_LEADS || !read_lead(R, cells, start, p, leads + *n)) return false;
        ++*n;
        start = p + 1;
    }
    return true;
}

// Matches a lead rule at `at` as the machine would; true with *after its end.
bool match_lead(Run& R, const ParseLeadScan& scan, const Lead& lead, uint32_t which, uint32_t at, uint32_t* after) {
    if (lead.some && cell_is(&lead.set, T_BITSET)) {
        *after = parse_lead_run(scan, R.input, which, at, limit(R));
        return *after > at;
    }
    if (lead.some) {
        *after = at;
        bool ok = parse_repeat_value(R.input, after, limit(R), &lead.set, 1, -1, R.mode);
        *after = std::min(*after, in_count(R));
        return ok;
    }
    int64_t n = parse_match_literal(R.input, at, limit(R), &lead.set, R.mode);
    *after = at + uint32_t(n);
    return n >= 0;
}

// Moves the iteration on top to the pass that begins at `to`, `passes` later.
void begin_pass_at(Run& R, uint32_t to, uint32_t passes) {
    Entry& e = rule_stack.back();
    e.count += int32_t(passes);
    e.input_index = to;
    e.input_len = int32_t(in_count(R) - to);
    series_set_index(R.input, to);
}

// Before a pass of the iteration on top over the block in R.val: takes the
// passes that need not go through the machine. The leads' sets stay reachable
// through the rules and the words they came from, which a keep into the
// collect's own block cannot change.
void take_quick_passes(Run& R) {
    if (R.tracing || parse_input_class(cell_type(R.input)) == PARSE_IN_BLOCK) return;
    // Every pass checks the work limits with the block's and wrappers' records on.
    if (int64_t(rule_stack.size()) + 1 + MAX_LEAD_WRAPPERS > R.record_room || input_stack.size() > WORK_LIMIT) return;
    Lead leads[MAX_LEADS];
    Cell sets[MAX_LEADS];
    uint32_t n;
    if (!read_skip_block(R, R.val, leads, &n)) return;
    for (uint32_t k = 0; k < n; ++k) sets[k] = leads[k].set;
    ParseLeadScan scan;
    parse_lead_scan_init(&scan, R.input, sets, n, R.mode);
    bool keeps_to_block = R.collect_depth > 0 && cell_is(vstack.top - 1, T_BLOCK);
    // Nothing these passes do changes the input: its limit holds throughout.
    const uint32_t input_limit = limit(R);
    for (uint32_t i = in_index(R);;) {
        const Entry& e = rule_stack.back();
        uint64_t end = input_limit;
        // A counted iteration: the pass that may be its last goes through the machine.
        if (e.max != -1) end = std::min<uint64_t>(end, uint64_t(i) + uint64_t(std::max(0, e.max - e.count)));
        uint32_t k = 0;
        uint32_t to = parse_lead_scan(scan, R.input, i, uint32_t(end), &k);
        begin_pass_at(R, to, to - i);
        if (to >= end) return;
        const Lead& lead = leads[k];
        uint32_t after;
        if (!lead.in_place || (lead.keep_flag >= 0 && !keeps_to_block) || !match_lead(R, scan, lead, k, to, &after)) return;
        series_set_index(R.input, after);
        if (lead.keep_flag >= 0) {
            Entry keep{};
            keep.kind = K_KEEP;
            keep.flag = lead.keep_flag;
            keep.child_kind = lead.some ? K_ITERATE : 0;
            keep.input_index = to;
            complete_keep(R, keep);
        }
        begin_pass_at(R, after, 1);
        i = after;
    }
}

// ================================================================== the state machine

enum State {
    S_PUSH_BLOCK, S_POP_BLOCK, S_PUSH_RULE, S_POP_RULE, S_CHECK_PENDING, S_DO_VALUE, S_NEXT_INPUT,
    S_NEXT_RULE, S_MATCH_VALUE, S_MATCH_RULE, S_MATCH_RULE_VALUE, S_FIND_ALTERNATIVE, S_DISPATCH,
    S_FINISH
};

// Runs the machine; false when it stopped early (callback or pending exit).
bool run_rules(Run& R) {
    State state = S_PUSH_BLOCK;
    Entry pending{};
    bool from_word = false;   // S_DO_VALUE: the value came from a user word
    bool via_word = false;    // S_MATCH_RULE_VALUE: the argument came from a user word
#define EMIT(ev) do { if (!emit(R, ev)) return false; } while (0)
    for (;;) {
        switch (state) {
        case S_PUSH_BLOCK: {
            check_limits(R);
            Entry& e = rule_stack.emplace_back();
            e.kind = K_BLOCK;
            e.rule_pos = R.pos - rules_index(R);
            e.input_index = in_index(R);
            e.input_len = int32_t(in_count(R) - in_index(R));
            e.value = *R.rules;
            *R.rules = *R.val;
            R.tail = rules_count(R);
            series_set_index(R.rules, std::min(series_index(R.rules), uint32_t(R.tail)));
            R.pos = rules_index(R) - 1;
            R.match = true;
            EMIT(EV_PUSH);
            state = S_NEXT_RULE;
            break;
        }
        case S_POP_BLOCK: {
            if (rule_stack.size() - R.rule_base == 1) {
                EMIT(EV_POP);
                state = S_FINISH;
                break;
            }
            R.block_done = R.pos >= R.tail;
            EMIT(EV_POP);
            *R.rules = rule_stack.back().value;
            int32_t offset = rule_stack.back().rule_pos;
            rule_stack.pop_back();
            R.tail = rules_count(R);
            R.pos = std::min(rules_index(R) + offset, R.tail);
            state = top_is_rule(R) ? S_POP_RULE : !R.match ? S_FIND_ALTERNATIVE : S_NEXT_RULE;
            break;
        }
        case S_PUSH_RULE: {
            check_limits(R);
            pending.count = 1;
            pending.rule_pos = R.pos - rules_index(R);
            pending.input_index = in_index(R);
            pending.input_len = int32_t(in_count(R) - in_index(R));
            pending.child_kind = 0;
            if (pending.kind == K_COPY || pending.kind == K_SET) pending.value = *rule_at(R, R.pos);
            else set_none(&pending.value);
            rule_stack.push_back(pending);
            if (R.pos < R.tail) ++R.pos;
            EMIT(EV_PUSH);
            state = S_MATCH_RULE;
            break;
        }
        case S_POP_RULE: {
            if (!top_is_rule(R)) {
                if (R.leave) {
                    R.leave = false;
                    state = S_POP_BLOCK;
                } else {
                    state = S_NEXT_RULE;
                }
                break;
            }
            R.leave = true;
            State next = S_CHECK_PENDING;
            size_t ti = rule_stack.size() - 1;
            // Completions that evaluate or call actions may let nested runs grow
            // the stack: they work on a copy. The others read the record before
            // any event is sent.
            const Entry* top = &rule_stack[ti];
            Entry held;
            if (completion_may_evaluate(top->kind)) {
                held = *top;
                top = &held;
            }
            const Entry& e = *top;
            switch (e.kind) {
            case K_ITERATE: case K_WHILE: {
                uint32_t i = in_index(R);
                int32_t left = int32_t(in_count(R) - i);
                bool more = R.match && (e.max == -1 || e.count < e.max);
                if (e.kind == K_ITERATE && i == e.input_index && left >= e.input_len) {
                    more = false;
                    R.brk = false;
                }
                if (R.brk) {
                    more = false;
                    R.brk = false;
                }
                if (more) {
                    Entry& t = rule_stack[ti];
                    t.input_index = i;
                    t.input_len = left;
                    ++t.count;
                    R.pos = rules_index(R) + e.rule_pos + 1;
                    EMIT(EV_ITERATE);
                    EMIT(EV_FETCH);
                    R.leave = false;
                    next = S_MATCH_RULE;  // the argument again, still as a keyword's argument
                } else if (!R.match) {
                    R.match = e.min == 0 || e.count - 1 >= e.min;
                } else {
                    R.match = e.count >= e.min;
                }
                break;
            }
            case K_TO: case K_THRU:
                if (!R.match) {
                    uint32_t s = e.input_index;
                    if (s >= in_count(R) || (has_part(R) && int64_t(s) + 1 > R.part_end)) break;
                    rule_stack[ti].input_index = s + 1;
                    set_index(R, s + 1);
                    R.pos = rules_index(R) + e.rule_pos + 1;
                    EMIT(EV_POP);
                    EMIT(EV_ITERATE);
                    EMIT(EV_FETCH);
                    R.leave = false;
                    R.match = true;
                    next = S_MATCH_RULE;
                } else if (e.kind == K_TO) {
                    set_index(R, e.input_index);
                }
                break;
            case K_COPY:
                if (R.match) {
                    uint32_t s = std::min(e.input_index, in_count(R)), end = in_index(R);
                    Cell* word = stack_push_copy(&e.value);
                    Cell* c = push_input_copy(R, s, end > s ? end - s : 0);
                    *R.copied = *c;
                    word_assign(word, c);
                    vstack.top = word;
                }
                break;
            case K_SET:
                if (R.match) {
                    Cell* word = stack_push_copy(&e.value);
                    Cell* v = stack_push();
                    if (in_index(R) > e.input_index && e.input_index < in_count(R)) element_at(R, e.input_index, v);
                    else set_none(v);
                    word_assign(word, v);
                    vstack.top = word;
                }
                break;
            case K_NOT:
                R.match = !R.match;
                break;
            case K_INTO: {
                bool ok = R.match && at_end(R) && R.block_done;
                if (!ok) R.match = false;
                input_stack.pop_back();
                *R.input = input_stack.back();
                if (R.match) set_index(R, in_index(R) + 1);
                break;
            }
            case K_REMOVE:
                if (R.match) {
                    uint32_t s = std::min(e.input_index, in_count(R)), end = in_index(R);
                    remove_at(R, s, end > s ? end - s : 0);
                    set_index(R, s);
                }
                break;
            case K_COLLECT:
                complete_collect(R, e);
                break;
            case K_KEEP: case K_KEEP_PAREN:
                if (R.match) complete_keep(R, e);
                break;
            case K_AHEAD:
                set_index(R, e.input_index);
                break;
            case K_CHANGE: case K_CHANGE_ONLY: {
                if (R.pos + 1 >= R.tail) raise_error(err::script::parse_end, &keyword_words[KW_CHANGE]);
                ++R.pos;
                if (R.match) {
                    *R.val = *rule_at(R, R.pos);
                    if (!obtain_value(R)) return false;
                    uint32_t s = std::min(e.input_index, in_count(R)), end = in_index(R);
                    change_at(R, s, end > s ? end - s : 0, e.kind == K_CHANGE_ONLY);
                }
                break;
            }
            case K_CASE:
                R.mode = e.max;
                break;
            default:
                assert(!"parse: impossible rule kind");
            }
            if (R.leave) {
                EMIT(EV_POP);
                drop_rule(R);
                next = S_CHECK_PENDING;
            }
            R.leave = false;
            state = next;
            break;
        }
        case S_CHECK_PENDING:
            state = top_is_rule(R) ? S_POP_RULE : !R.match ? S_FIND_ALTERNATIVE : S_NEXT_RULE;
            break;
        case S_DO_VALUE: {
            TypeId t = cell_type(R.val);
            switch (t) {
            case T_WORD:
                if (from_word) raise_error(err::script::parse_rule, R.val);
                state = S_DISPATCH;
                break;
            case T_BLOCK:
                state = S_PUSH_BLOCK;
                break;
            case T_DATATYPE: case T_TYPESET: {
                ParseInputClass cls = parse_input_class(cell_type(R.input));
                if (cls == PARSE_IN_STRING) raise_error(err::script::parse_unsupported);
                if (at_end(R)) {
                    R.match = false;
                    state = S_CHECK_PENDING;
                    break;
                }
                uint32_t i = in_index(R);
                if (cls == PARSE_IN_BINARY) {
                    int64_t n = parse_match_type_binary(R.input, i, R.val);
                    R.match = n > 0;
                    if (R.match) set_index(R, i + uint32_t(n) - 1);
                } else {
                    TypeId et = cell_type(block_cell_from_head(R.input, i));
                    R.match = t == T_DATATYPE ? get_datatype(R.val) == et : typeset_has_type(R.val, et);
                }
                EMIT(EV_MATCH);
                state = R.match ? S_NEXT_INPUT : S_CHECK_PENDING;
                break;
            }
            case T_SET_WORD:
                word_assign(R.val, R.input);
                state = S_NEXT_RULE;
                break;
            case T_GET_WORD: {
                Cell* v = word_value_cell(R.val);
                if (!same_series(v, R.input)) raise_error(err::script::parse_invalid_ref, R.val);
                set_index(R, series_index(v));
                R.match = true;
                state = S_CHECK_PENDING;
                break;
            }
            case T_INTEGER: {
                // Counts: n rule, or n m rule (m literal or from a word).
                int32_t n = get_integer(R.val);
                if (n < 0) raise_error(err::script::out_of_range, R.val);
                int32_t m = n;
                bool range = false;
                Cell* second = next_rule_cell(R);
                if (second) {
                    if (cell_is(second, T_INTEGER)) {
                        m = get_integer(second);
                        range = true;
                    } else if (cell_is(second, T_WORD)) {
                        Cell w = *second;
                        Cell* v = word_value_cell(&w);
                        if (cell_is(v, T_INTEGER)) {
                            m = get_integer(v);
                            range = true;
                        }
                    }
                }
                int32_t rule_at_pos = R.pos + (range ? 2 : 1);
                if (!second || rule_at_pos >= R.tail || m < n) raise_error(err::script::parse_rule, R.val);
                if (range) ++R.pos;
                if (n == 0 && m == 0) {
                    ++R.pos;  // onto the rule: next-rule steps past it
                    state = S_CHECK_PENDING;
                    break;
                }
                reset_pending(pending);
                pending.kind = K_ITERATE;
                pending.min = n;
                pending.max = m;
                state = S_PUSH_RULE;
                break;
            }
            case T_PAREN: {
                int32_t offset = R.pos - rules_index(R);
                if (!eval_paren(R, R.val)) return false;
                EMIT(EV_PAREN);
                R.tail = rules_count(R);
                R.pos = rules_index(R) + offset;
                if (R.pos >= R.tail) R.pos = R.tail - 1;
                set_index(R, in_index(R));
                state = S_CHECK_PENDING;
                break;
            }
            case T_PATH:
                raise_error(err::script::parse_rule, R.val);
            default:
                state = S_MATCH_VALUE;
            }
            break;
        }
        case S_NEXT_INPUT:
            if (in_index(R) < in_count(R)) series_set_index(R.input, series_index(R.input) + 1);
            state = S_CHECK_PENDING;
            break;
        case S_NEXT_RULE:
            if (R.pos < R.tail) ++R.pos;
            if (R.pos >= R.tail) {
                state = top_is_rule(R) ? S_POP_RULE : S_POP_BLOCK;
                break;
            }
            EMIT(EV_FETCH);
            R.tail = rules_count(R);
            if (R.pos >= R.tail) break;  // the callback shortened the rules
            *R.val = *rule_at(R, R.pos);
            from_word = false;
            state = S_DO_VALUE;
            break;
        case S_MATCH_VALUE: {
            uint32_t i = in_index(R);
            if (!at_end(R)) {
                int64_t n = parse_match_literal(R.input, i, limit(R), R.val, R.mode);
                R.match = n >= 0;
                if (R.match) set_index(R, i + uint32_t(n));
            } else {
                R.match = parse_empty_match_at_end(R.input, R.val);
            }
            EMIT(EV_MATCH);
            state = S_CHECK_PENDING;
            break;
        }
        case S_MATCH_RULE: {
            if (R.pos >= R.tail) {
                if (const Cell* w = kind_word(rule_stack.back().kind)) raise_error(err::script::parse_end, w);
                R.match = true;
                state = S_CHECK_PENDING;
                break;
            }
            *R.val = *rule_at(R, R.pos);
            via_word = false;
            state = S_MATCH_RULE_VALUE;
            break;
        }
        case S_MATCH_RULE_VALUE: {
            TypeId t = cell_type(R.val);
            int32_t kind = rule_stack.back().kind;
            if (t == T_BLOCK) {
                if (kind == K_ITERATE || kind == K_WHILE) take_quick_passes(R);
                state = S_PUSH_BLOCK;
                break;
            }
            if (t == T_WORD && !via_word) {
                R.arg_flag = kind != K_COLLECT && kind != K_KEEP && kind != K_KEEP_PAREN;
                state = S_DISPATCH;
                break;
            }
            if (t == T_INTEGER || t == T_PAREN || t == T_TYPESET || t == T_DATATYPE || t == T_WORD) {
                from_word = via_word;
                state = S_DO_VALUE;
                break;
            }
            if (kind == K_TO || kind == K_THRU) {
                uint32_t start;
                if (search_value(R, kind, &start)) rule_stack.back().input_index = start;
                EMIT(EV_MATCH);
                EMIT(EV_POP);
                drop_rule(R);
                state = S_CHECK_PENDING;
                break;
            }
            if (kind == K_ITERATE || kind == K_WHILE) {
                repeat_value(R, rule_stack.back().min, rule_stack.back().max);
                EMIT(EV_MATCH);
                EMIT(EV_POP);
                drop_rule(R);
                state = S_CHECK_PENDING;
                break;
            }
            from_word = via_word;
            state = S_DO_VALUE;
            break;
        }
        case S_FIND_ALTERNATIVE: {
            set_index(R, rule_stack.back().input_index);
            int32_t i = std::max(R.pos, rules_index(R));
            R.tail = rules_count(R);
            for (; i < R.tail; ++i) {
                Cell* c = rule_at(R, i);
                if (cell_is(c, T_WORD) && word_symbol(c) == bar_symbol) break;
            }
            if (i >= R.tail) {
                state = S_POP_BLOCK;
                break;
            }
            R.pos = i;
            R.match = true;
            state = S_NEXT_RULE;
            break;
        }
        case S_DISPATCH: {
            Cell word = *R.val;  // a word! of the rules
            bool arg = R.arg_flag;
            R.arg_flag = false;
            Keyword k = keyword_of(&word);
            reset_pending(pending);
            switch (k) {
            case KW_BAR:
                R.pos = R.tail;
                state = top_is_rule(R) ? S_POP_RULE : S_POP_BLOCK;
                break;
            case KW_SKIP:
                if (!at_end(R)) {
                    R.match = true;
                    EMIT(EV_MATCH);
                    state = S_NEXT_INPUT;
                } else {
                    R.match = false;
                    EMIT(EV_MATCH);
                    state = S_CHECK_PENDING;
                }
                break;
            case KW_ANY: case KW_SOME: case KW_OPT:
                if (R.pos + 1 >= R.tail) raise_error(err::script::parse_end, &word);
                pending.kind = K_ITERATE;
                pending.min = k == KW_SOME ? 1 : 0;
                pending.max = k == KW_OPT ? 1 : -1;
                state = S_PUSH_RULE;
                if (!R.tracing) {
                    check_limits(R);  // as the record's push would
                    if (load_direct_argument(R, R.pos + 1)) {
                        ++R.pos;
                        repeat_value(R, pending.min, pending.max);
                        note_child(R, K_ITERATE);
                        state = S_CHECK_PENDING;
                    }
                }
                break;
            case KW_WHILE:
                pending.kind = K_WHILE;
                pending.min = 0;
                state = S_PUSH_RULE;
                break;
            case KW_COPY: case KW_SET: {
                Cell* target = next_rule_cell(R);
                if (!target || !cell_is(target, T_WORD) || R.pos + 2 >= R.tail) raise_error(err::script::parse_end, &word);
                ++R.pos;
                pending.kind = k == KW_COPY ? K_COPY : K_SET;
                state = S_PUSH_RULE;
                break;
            }
            case KW_TO: case KW_THRU: {
                Cell* n = next_rule_cell(R);
                if (n && is_keyword(n, KW_END)) {
                    R.match = true;
                    EMIT(EV_MATCH);
                    ++R.pos;
                    set_index(R, limit(R));
                    state = S_CHECK_PENDING;
                    break;
                }
                pending.kind = k == KW_TO ? K_TO : K_THRU;
                state = S_PUSH_RULE;
                if (!R.tracing) {
                    check_limits(R);  // as the record's push would
                    if (load_direct_argument(R, R.pos + 1)) {
                        uint32_t start;
                        ++R.pos;
                        search_value(R, pending.kind, &start);
                        note_child(R, pending.kind);
                        state = S_CHECK_PENDING;
                    }
                }
                break;
            }
            case KW_REMOVE: {
                Cell* n = next_rule_cell(R);
                Cell from;
                if (n && cell_is(n, T_PATH)) raise_error(err::script::parse_rule, &word);
                if (n && word_names_input(R, n, &from)) {
                    uint32_t a = std::min(series_index(&from), in_count(R)), b = in_index(R);
                    uint32_t lo = std::min(a, b), hi = std::max(a, b);
                    remove_at(R, lo, hi - lo);
                    set_index(R, lo);
                    ++R.pos;
                    state = S_CHECK_PENDING;
                    break;
                }
                pending.kind = K_REMOVE;
                state = S_PUSH_RULE;
                break;
            }
            case KW_INSERT: case KW_CHANGE: {
                int32_t p = R.pos + 1;
                bool only = false;
                if (p < R.tail && is_keyword(rule_at(R, p), KW_ONLY)) {
                    only = true;
                    ++p;
                }
                if (k == KW_INSERT && p >= R.tail) raise_error(err::script::parse_end, &word);
                Cell from;
                bool positioned = p < R.tail && word_names_input(R, rule_at(R, p), &from);
                if (k == KW_CHANGE && !positioned) {
                    // The rule form: change [only] rule value.
                    if (only) ++R.pos;
                    pending.kind = only ? K_CHANGE_ONLY : K_CHANGE;
                    state = S_PUSH_RULE;
                    break;
                }
                uint32_t here = in_index(R);
                uint32_t at = here;
                if (positioned) {
                    at = std::min(series_index(&from), in_count(R));
                    ++p;
                    if (p >= R.tail) raise_error(err::script::parse_rule, &word);
                }
                R.pos = p;
                *R.val = *rule_at(R, p);
                if (!obtain_value(R)) return false;
                if (k == KW_INSERT) {
                    uint32_t added = insert_at(R, at, only);
                    set_index(R, at <= here ? here + added : here);
                    state = S_NEXT_RULE;
                } else {
                    uint32_t lo = std::min(at, here), hi = std::max(at, here);
                    change_at(R, lo, hi - lo, only);
                    state = S_CHECK_PENDING;
                }
                break;
            }
            case KW_END:
                R.match = at_end(R);
                EMIT(EV_MATCH);
                state = S_CHECK_PENDING;
                break;
            case KW_IF: {
                Cell* n = next_rule_cell(R);
                if (!n || !cell_is(n, T_PAREN)) raise_error(err::script::parse_end, &word);
                ++R.pos;
                *R.val = *n;
                if (!eval_paren(R, R.val)) return false;
                R.match = is_truthy(R.scratch);
                EMIT(EV_MATCH);
                state = S_CHECK_PENDING;
                break;
            }
            case KW_NOT:
                pending.kind = K_NOT;
                state = S_PUSH_RULE;
                break;
            case KW_AHEAD:
                pending.kind = K_AHEAD;
                state = S_PUSH_RULE;
                break;
            case KW_QUOTE:
                if (R.pos + 1 >= R.tail) raise_error(err::script::parse_end, &word);
                ++R.pos;
                *R.val = *rule_at(R, R.pos);
                state = S_MATCH_VALUE;
                break;
            case KW_INTO: {
                if (parse_input_class(cell_type(R.input)) != PARSE_IN_BLOCK) raise_error(err::script::parse_block, R.input);
                Cell* n = next_rule_cell(R);
                bool ok = n && cell_is(n, T_BLOCK);
                if (n && cell_is(n, T_WORD)) {
                    Cell w = *n;
                    ok = cell_is(word_value_cell(&w), T_BLOCK);
                }
                if (!ok) raise_error(err::script::parse_end, &word);
                // A failed test steps onto the argument, so that an iteration
                // around it goes on after the argument, not into it.
                if (at_end(R)) {
                    ++R.pos;
                    R.match = false;
                    EMIT(EV_MATCH);
                    state = S_CHECK_PENDING;
                    break;
                }
                Cell element = *block_cell_from_head(R.input, in_index(R));
                if (!is_target_series(cell_type(&element))) {
                    ++R.pos;
                    R.match = false;
                    EMIT(EV_MATCH);
                    state = S_CHECK_PENDING;
                    break;
                }
                input_stack.back() = *R.input;
                input_stack.push_back(element);
                *R.input = element;
                set_index(R, in_index(R));
                pending.kind = K_INTO;
                state = S_PUSH_RULE;
                break;
            }
            case KW_COLLECT: {
                Cell* n = next_rule_cell(R);
                Keyword form = n && cell_is(n, T_WORD) ? keyword_of(n) : KW_USER;
                pending.kind = K_COLLECT;
                if (form == KW_INTO || form == KW_AFTER || form == KW_SET) {
                    Cell* w = R.pos + 2 < R.tail ? rule_at(R, R.pos + 2) : nullptr;
                    if (!w || !cell_is(w, T_WORD)) raise_error(err::script::parse_end, &word);
                    Cell target_word = *w;
                    if (form == KW_SET) {
                        stack_push_copy(&target_word);
                        block_push_new(8);
                    } else {
                        Cell target = *word_value_cell(&target_word);
                        if (!target_fits_input(&target, R.input)) raise_error(err::script::parse_into_type);
                        if (series_node(&target) == series_node(R.input)) raise_error(err::script::parse_into_bad);
                        pending.max = int32_t(series_index(&target));
                        pending.marker = true;
                        Cell* m = stack_push_copy(&target_word);
                        cell_set_type(m, form == KW_INTO ? T_GET_WORD : T_REFINEMENT);
                    }
                    R.pos += 2;
                } else {
                    block_push_new(8);
                }
                ++R.collect_depth;
                state = S_PUSH_RULE;
                break;
            }
            case KW_KEEP: {
                if (R.collect_depth == 0) raise_error(err::script::parse_keep, &word);
                Cell* n = next_rule_cell(R);
                if (n && is_keyword(n, KW_PICK)) {
                    pending.flag = 1;
                    ++R.pos;
                    n = next_rule_cell(R);
                }
                pending.kind = n && cell_is(n, T_PAREN) ? K_KEEP_PAREN : K_KEEP;
                state = S_PUSH_RULE;
                break;
            }
            case KW_CASE: {
                Cell* n = next_rule_cell(R);
                if (!n || !cell_is(n, T_WORD)) raise_error(err::script::parse_end, &word);
                Cell w = *n;
                bool strict = is_truthy(word_value_cell(&w));
                ++R.pos;
                pending.kind = K_CASE;
                pending.max = R.mode;
                R.mode = strict ? CMP_STRICT_EQUAL : CMP_EQUAL;
                state = S_PUSH_RULE;
                break;
            }
            case KW_BREAK:
                R.match = true;
                R.brk = R.leave = true;
                if (R.pos < R.tail) ++R.pos;
                EMIT(EV_MATCH);
                state = S_POP_RULE;
                break;
            case KW_REJECT:
                R.match = false;
                R.brk = R.leave = true;
                EMIT(EV_MATCH);
                state = S_POP_RULE;
                break;
            case KW_FAIL:
                R.match = false;
                EMIT(EV_MATCH);
                state = S_POP_RULE;
                break;
            case KW_NONE:
                R.match = true;
                EMIT(EV_MATCH);
                state = S_CHECK_PENDING;
                break;
            default: {
                // A user word: its value is the rule.
                Cell* v = word_value_cell(&word);
                if (cell_is(v, T_UNSET)) raise_error(err::script::parse_rule, &word);
                *R.val = *v;
                if (!arg) {
                    from_word = true;
                    state = S_DO_VALUE;
                } else if (cell_is(R.val, T_WORD)) {
                    state = S_MATCH_VALUE;
                } else {
                    via_word = true;
                    state = S_MATCH_RULE_VALUE;
                }
            }
            }
            break;
        }
        case S_FINISH: {
            if (R.match) R.match = R.pos >= R.tail;
            if (input_stack.size() - R.input_base == 1 && in_index(R) < limit(R)) R.match = false;
            EMIT(EV_END);
            return true;
        }
        }
    }
#undef EMIT
}

// ================================================================== the native

}  // namespace

// Break, continue, return and exit raised in a paren or the trace callback are
// not parse's to catch: they leave through it to the loop or function around.
void native_parse(NativeCall& c) {
    Cell* input = c.args;
    TypeId it = cell_type(input);
    if (!type_is_list(it) && !type_is_string(it) && it != T_BINARY) raise_error(err::script::invalid_arg, input);
    series_set_index(input, std::min(series_index(input), node_buffer(series_node(input))->count()));
    uint32_t index = series_index(input);
    int64_t part_end = 0;
    if (Cell* part = c.ref_arg(1)) {
        int64_t n;
        if (cell_is(part, T_INTEGER)) n = get_integer(part);
        else if (cell_is(part, T_FLOAT) || cell_is(part, T_PERCENT)) n = int64_t(get_float(part));
        else if (series_same_buffer(part, input)) n = int64_t(series_index(part)) - int64_t(index);
        else raise_bad_refine("part", part);
        if (n <= 0) {
            bool empty = index >= node_buffer(series_node(input))->count();
            set_logic(c.args, empty);
            vstack.top = c.args + 1;
            return;
        }
        part_end = int64_t(index) + n;
    }
    Cell* out = stack_push();
    int mode = c.has(0) ? CMP_STRICT_EQUAL : CMP_EQUAL;
    if (!parse_run(out, input, c.args + 1, mode, part_end, c.ref_arg(2))) {
        vstack.top = c.args + 1;
        return;
    }
    *c.args = *out;
    vstack.top = c.args + 1;
}

// ================================================================== entry points

bool parse_run(Cell* out, const Cell* input, const Cell* rules, int mode, int64_t part_end, const Cell* callback) {
    StackScope scope;
    RunGuard guard;
    Run R;
    R.input = stack_push_copy(input);
    R.rules = stack_push_copy(rules);
    R.val = stack_push_copy(rules);
    R.scratch = stack_push();
    R.copied = stack_push();
    R.callback = stack_push();
    if (callback) *R.callback = *callback;
    else set_none(R.callback);
    R.tracing = !cell_is(R.callback, T_NONE);
    R.result = stack_push();
    R.rule_base = rule_stack.size();
    R.input_base = input_stack.size();
    R.part_end = part_end;
    R.mode = mode;
    R.record_room = record_room_now();
    series_set_index(R.input, std::min(series_index(R.input), in_count(R)));
    input_stack.push_back(*R.input);
    R.tail = rules_count(R);
    R.pos = rules_index(R) - 1;
    bool finished = run_rules(R);
    if (R.exit_pending) return false;
    if (finished && R.result_block) *out = *(R.result + 1);
    else set_logic(out, R.match);
    return true;
}

void parse_init() {
    static bool started = false;
    if (started) return;
    started = true;
    int32_t top = 0;
    int32_t aliases[KW_COUNT] = {};
    for (int k = 1; k < KW_COUNT; ++k) {
        keyword_words[k] = word_from_cstring(keyword_names[k]);
        aliases[k] = symbol_resolve_alias(word_symbol(&keyword_words[k]));
        top = std::max(top, aliases[k]);
    }
    keyword_of_alias.assign(size_t(top) + 1, KW_USER);
    for (int k = 1; k < KW_COUNT; ++k) keyword_of_alias[size_t(aliases[k])] = uint8_t(k);
    bar_symbol = word_symbol(&keyword_words[KW_BAR]);
    for (int e = 0; e < EV_COUNT; ++e) event_words[e] = word_from_cstring(event_names[e]);
    gc_add_mark_hook(mark_work_stacks);
}

}  // namespace tev

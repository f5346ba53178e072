// The interpreter: block evaluation, calls with argument fetching, infix operators and paths.
//
// A block is walked by (node, index): its buffer may move whenever something
// allocates, so the buffer is re-read after every step and values taken from it
// are copied first. The block being walked stays reachable through a copy of
// its cell on the value stack.
#include "interpreter/interpreter.h"
#include <bit>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "interpreter/routine_entries.h"
#include "interpreter/trace.h"
#include "runtime/context_table.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev {

uint32_t pending_exit = 0;
static Cell exit_cells[2];
static Cell current_eval_cell;
static uintptr_t machine_stack_origin = 0;  // where evaluation started on the machine stack
// Evaluation below this address raises stack-overflow (the stack grows down on
// every target we build for).
static uintptr_t machine_stack_limit = 0;
#ifdef _WIN32
static size_t machine_stack_budget = 700 * 1024;
#else
static size_t machine_stack_budget = 6 * 1024 * 1024;
#endif

static void machine_stack_limit_update() {
    uintptr_t origin = machine_stack_origin;
    machine_stack_limit = origin > machine_stack_budget ? origin - machine_stack_budget : 0;
}

Cell* exit_value() { return &exit_cells[0]; }
Cell* exit_name() { return &exit_cells[1]; }
Cell* current_evaluation() { return &current_eval_cell; }

void exit_as_exception() {
    uint32_t code = pending_exit;
    pending_exit = 0;
    throw LanguageThrow{code};
}

void exit_from_exception(const LanguageThrow& t) {
    if (t.code == THROW_ERROR) throw t;
    pending_exit = t.code;
}

static void raise_pending_exit() {
    if (pending_exit) exit_as_exception();
}

void interp_init() {
    static bool rooted = false;
    evaluation_hooks.eval_block = eval_block;
    evaluation_hooks.call_with_args = call_with_args;
    evaluation_hooks.word_value = word_value_cell;
    evaluation_hooks.current_evaluation = current_evaluation;
    evaluation_hooks.current_call_word = current_call_word;
    evaluation_hooks.check_machine_stack = interp_check_machine_stack;
    evaluation_hooks.raise_pending_exit = raise_pending_exit;
    machine_stack_origin = uintptr_t(__builtin_frame_address(0));
    machine_stack_limit_update();
    set_unset(&current_eval_cell);
    set_unset(&exit_cells[0]);
    set_none(&exit_cells[1]);
    if (!rooted) {
        rooted = true;
        gc_add_root(&current_eval_cell);
        gc_add_root(&exit_cells[0]);
        gc_add_root(&exit_cells[1]);
    }
    pending_exit = 0;
}

void interp_set_machine_stack_budget(size_t bytes) {
    machine_stack_budget = bytes;
    if (machine_stack_origin) machine_stack_limit_update();
}

void interp_check_machine_stack() {
    if (uintptr_t(__builtin_frame_address(0)) < machine_stack_limit) raise_error(err::internal::stack_overflow);
}

bool is_truthy_strict(const Cell* v) {
    if (cell_is(v, T_UNSET)) raise_error(err::script::no_return);
    return is_truthy(v);
}

// ================================================================== words

// Where a context's cell and values are, remembered by context node while no
// buffer has moved (see buffer_epoch): a word lookup then follows a short chain
// of reads instead of two node resolutions. The values of a context that keeps
// them on the value stack move with every call, so for those the context cell
// is read each time; any other context's values series only changes by
// growing, which moves buffers.
struct ContextCacheEntry {
    uint64_t epoch;
    NodeRef context;
    uint32_t header;          // the context cell's header
    const Cell* context_cell;
    Cell* values_cells;       // not on the stack: its values (nullptr when none)
    Cell* words_cells;        // an object's words (their slot-set flags), else nullptr
};
static ContextCacheEntry context_cache[64];

[[gnu::noinline]] static void context_cache_fill(ContextCacheEntry& e, NodeRef ctx) {
    const Cell* cc = node_buffer(ctx)->cells();
    e.epoch = buffer_epoch;
    e.context = ctx;
    e.header = cc->header;
    e.context_cell = cc;
    e.values_cells = !(cc->header & CTX_ON_STACK) && context_cell_values(cc)
                         ? node_buffer(context_cell_values(cc))->cells()
                         : nullptr;
    bool object = ((cc->header & CTX_KIND_MASK) >> CTX_KIND_SHIFT) == CTX_KIND_OBJECT;
    e.words_cells = e.values_cells && object ? context_word_at(ctx, 0) : nullptr;
}

__attribute__((always_inline)) static inline const ContextCacheEntry& context_cache_entry(NodeRef ctx) {
    ContextCacheEntry& e = context_cache[ctx & 63];
    if (__builtin_expect(e.context != ctx || e.epoch != buffer_epoch, 0)) context_cache_fill(e, ctx);
    return e;
}

// The value cell of a bound word, or nullptr when its context has no values
// (a function context whose call is not running) or the word is unbound. For
// an assignment (`plain`), also nullptr for a field of an object with change
// handlers: they need the full assignment. A field of any other object is
// marked as set, as the full assignment marks it, its value to be stored next.
template <bool plain> __attribute__((always_inline)) static inline Cell* word_slot(const Cell* word) {
    NodeRef ctx = word_context(word);
    uint32_t index = uint32_t(word_index(word));
    if (!ctx || word_index(word) == WORD_NO_INDEX) return nullptr;
    const ContextCacheEntry& e = context_cache_entry(ctx);
    if (e.header & CTX_ON_STACK) {
        uint32_t values = context_cell_values(e.context_cell);
        return values ? vstack.begin + (values - 1) + index : nullptr;
    }
    if (plain && e.words_cells) {
        if (object_handlers(e.context_cell + 1)) return nullptr;
        cell_set_flag(e.words_cells + index, FLAG_SLOT_SET);
    }
    return e.values_cells ? e.values_cells + index : nullptr;
}

static inline Cell* word_value_fast(const Cell* word) { return word_slot<false>(word); }
// The value cell of a word whose assignment needs no more than a copy.
static inline Cell* word_slot_plain(const Cell* word) { return word_slot<true>(word); }

// The checked lookup, for words that are not simply bound (raises as the context layer does).
[[gnu::noinline]] static Cell* word_value_slow(const Cell* word) {
    if (!word_context(word)) raise_error(err::script::not_defined, word);
    if (word_index(word) != WORD_NO_INDEX) raise_error(err::script::not_defined, word);
    return word_get_value(word);  // self and unresolved words: the checked lookup
}

static inline Cell* word_value_checked(const Cell* word) {
    if (Cell* v = word_value_fast(word)) return v;
    return word_value_slow(word);
}

Cell* word_value_cell(const Cell* word) { return word_value_checked(word); }
const Cell* word_value_plain(const Cell* word) { return word_value_fast(word); }

void word_assign(const Cell* word, const Cell* value) {
    if (Cell* slot = word_slot_plain(word)) {
        Cell v = *value;
        *slot = v;
        return;
    }
    NodeRef ctx = word_context(word);
    if (!ctx) raise_error(err::script::not_defined, word);
    Cell w = *word;
    word_set_value(&w, value);
}

void word_from_symbol_in(Cell* out, uint32_t symbol, NodeRef context) {
    *out = context ? word_lookup_in_context(context, int32_t(symbol)) : word_from_symbol(int32_t(symbol));
}

// ================================================================== calls

// The word that names a call, in error reports and traces.
void current_call_word(Cell* out) {
    for (uint32_t i = frame_depth(); i-- > 0;) {
        const CallFrame* f = frame_at(i);
        if (f->symbol) {
            word_from_symbol_in(out, f->symbol, f->word_context);
            return;
        }
    }
    set_none(out);
}

// Raise with the call word as arg1 (the innermost call when `word` is null).
[[noreturn]] static void raise_with_call_word(ErrCode code, const Cell* word, const Cell* a2,
                                              const Cell* a3) {
    Cell w;
    if (word) w = *word;
    else current_call_word(&w);
    raise_error(code, &w, a2, a3);
}

// Byte k of a typeset's 12 bytes (words 1-3 as stored), bit 7 first. Read from
// the words themselves: copying them out to index the bytes made every
// argument check wait for the copy.
static_assert(std::endian::native == std::endian::little, "typeset bytes are read from words");
static inline bool typeset_has(const Cell* ts, TypeId t) {
    uint32_t byte = uint32_t(t) >> 3;
    uint32_t word = cell_word(ts, byte < 4 ? 1 : byte < 8 ? 2 : 3);
    uint32_t bits = (word >> ((byte & 3) * 8)) & 0xFF;
    return (bits & (0x80u >> (t & 7))) != 0;
}

[[noreturn]] static void raise_arg_type(const Cell* entry, const Cell* value, const Cell* fn_word);

static inline void check_arg_type(const Cell* entry, const Cell* value, const Cell* fn_word) {
    if (!typeset_has(entry, cell_type(value))) raise_arg_type(entry, value, fn_word);
}

static void raise_arg_type(const Cell* entry, const Cell* value, const Cell* fn_word) {
    TypeId t = cell_type(value);
    Cell type, arg;
    set_datatype(&type, t);
    word_from_symbol_in(&arg, uint32_t(spec_cache_arg_symbol(entry)), 0);
    raise_with_call_word(err::script::expect_arg, fn_word, &type, &arg);
}

// b: blk's buffer as it is now (the caller has resolved it since its last allocation).
static uint32_t eval_expr(const Cell* blk, SeriesBuffer* b, uint32_t i, bool no_infix);
static inline uint32_t eval_infix(const Cell* blk, uint32_t i, uint32_t start, Cell* out);

// Where a call's refinements come from: the path elements after the function.
struct PathRefs {
    const Cell* path;   // on the stack
    uint32_t first;     // index of the first refinement element
};

// Symbol (alias-resolved) of a path element naming a refinement.
static uint32_t refinement_symbol(const Cell* element) {
    Cell e = *element;
    if (cell_is(&e, T_GET_WORD)) e = *word_value_checked(&e);
    if (!cell_is(&e, T_REFINEMENT) && !cell_is(&e, T_WORD)) raise_error(err::script::bad_refine, element);
    return uint32_t(symbol_resolve_alias(word_symbol(&e)));
}

// A value that evaluates to itself (or a word holding such a value), pushed
// without a full expression step; false for anything else. Only while no trace
// runs, since a step reports events.
// Types that evaluate to themselves: 1; words: 2.
static constexpr struct SimpleTypes {
    uint8_t kind[256] = {};
    constexpr SimpleTypes() {
        for (TypeId t : {T_INTEGER, T_FLOAT, T_STRING, T_BLOCK, T_CHAR, T_NONE, T_LOGIC, T_DATATYPE, T_PERCENT,
                         T_FILE, T_URL, T_TIME, T_PAIR, T_TUPLE})
            kind[t] = 1;
        kind[T_WORD] = 2;
    }
} simple_types;
// Word values that a word does not simply give: unset raises, callables call.
static constexpr uint64_t NOT_SIMPLE_VALUES = (1ull << T_UNSET) | (1ull << T_NATIVE) | (1ull << T_ACTION) |
                                               (1ull << T_FUNCTION) | (1ull << T_ROUTINE) | (1ull << T_OP);
static_assert(T_MAX_ID < 64);

__attribute__((always_inline)) static inline bool push_simple(const Cell* v) {
    switch (simple_types.kind[cell_type(v)]) {
    case 1:
        stack_push_copy(v);
        return true;
    case 2: {
        const Cell* value = word_value_fast(v);
        if (!value || ((NOT_SIMPLE_VALUES >> cell_type(value)) & 1)) return false;
        stack_push_copy(value);
        return true;
    }
    default:
        return false;
    }
}

// Fetches one argument described by `entry` (an argument cell of the cached spec)
// and pushes it. Returns the new block index.
static inline uint32_t fetch_arg(const Cell* blk, uint32_t i, const Cell* entry, const Cell* fn_word,
                                 bool right_of_op, bool quoted) {
    uint32_t kind = (entry->header >> CACHE_KIND_SHIFT) & 3;
    SeriesBuffer* b = node_buffer(series_node(blk));
    if (i >= b->cell_count()) {
        if (typeset_has(entry, T_UNSET)) { stack_push(); return i; }
        Cell arg;
        word_from_symbol_in(&arg, uint32_t(spec_cache_arg_symbol(entry)), 0);
        raise_with_call_word(err::script::no_arg, fn_word, &arg, nullptr);
    }
    if (kind == ARG_EVALUATED && !quoted) {
        Cell* at = vstack.top;
        if (!trace_switch && push_simple(b->cells() + i)) {
            // A simple value then operators: the operators are looked up once, here.
            if (!right_of_op) {
                i = eval_infix(blk, i + 1, i, at);
                if (pending_exit) return i;
            } else {
                ++i;
            }
            check_arg_type(entry, at, fn_word);
            return i;
        }
        i = eval_expr(blk, b, i, right_of_op);
        if (pending_exit) return i;
        check_arg_type(entry, at, fn_word);
        return i;
    }
    Cell* at = stack_push_copy(node_buffer(series_node(blk))->cells() + i);
    check_arg_type(entry, at, fn_word);
    return i + 1;
}

// A callable's spec cache (its argument entries), remembered by the callable's
// node while no buffer moves: a call then skips resolving two nodes in a chain.
struct SpecCacheEntry {
    uint64_t epoch;
    NodeRef more;            // the callable's node (word 3)
    const Cell* entries;     // the spec cache block's cells
    uint32_t count;
};
static SpecCacheEntry spec_cache_entries[64];

static inline const SpecCacheEntry& spec_cache_of(const Cell* fn) {
    SpecCacheEntry& e = spec_cache_entries[callable_more(fn) & 63];
    if (e.more != callable_more(fn) || e.epoch != buffer_epoch) {
        SeriesBuffer* b = node_buffer(callable_spec_cache(fn));
        e.epoch = buffer_epoch;
        e.more = callable_more(fn);
        e.entries = b->cells();
        e.count = b->cell_count();
    }
    return e;
}

static inline const Cell* spec_entries_of(const Cell* fn) { return spec_cache_of(fn).entries; }

// A caller that wants an argument's final value (call_with_args_reading): read
// when the function whose frame is at `depth` ends its body.
struct ArgCapture {
    Cell* out = nullptr;
    uint32_t depth = 0;
    uint32_t index = 0;
};
static ArgCapture arg_capture;

// Runs a function whose arguments (and refinement and local slots) are pushed
// from `base`, its frame on top; leaves the result in *base. False when an exit
// other than return or exit is pending (the caller unwinds).
static inline Cell* eval_block_inline(const Cell* block);

static bool run_function(const Cell* fn_in, Cell* base, const Cell* blk, uint32_t i, const Cell* word) {
    Cell fn = *fn_in;
    Cell body = *function_body(&fn);
    frame_enter_function(function_context(&fn));
    uint32_t depth = frame_depth();
    Cell* mark = vstack.top;
    Cell* r;
    bool traced = trace_active();
    bool was_on = trace_switch;
    // Only a function that switches tracing puts the switch back: `trace false`
    // run inside a plain function must outlive its call.
    bool switches = traced && (fn.header & (FUNCTION_NO_TRACE | FUNCTION_TRACE));
    if (traced) {
        trace_event(TRACE_CALL, blk, int32_t(i), &fn, word);
        if (fn.header & FUNCTION_NO_TRACE) trace_set_switch(false);
        else if (fn.header & FUNCTION_TRACE) trace_set_switch(true);
        trace_event(TRACE_PROLOG, &body, 0, &fn, word);
    }
    try {
        r = eval_block_inline(&body);
    } catch (const LanguageThrow& t) {
        if (switches) trace_set_switch(was_on);
        exit_from_exception(t);
        frames_unwind_to(depth);
        vstack.top = mark;
        r = stack_push();
    }
    if (__builtin_expect(arg_capture.out != nullptr, 0) && arg_capture.depth == depth)
        *arg_capture.out = base[arg_capture.index];
    if (traced) trace_event(TRACE_EPILOG, &body, 0, &fn, word);
    if (switches) trace_set_switch(was_on);
    if (__builtin_expect(pending_exit != 0, 0)) {
        if (pending_exit != THROW_RETURN && pending_exit != THROW_EXIT) return false;
        if (pending_exit == THROW_RETURN) *base = exit_cells[0];
        else set_unset(base);
        pending_exit = 0;
        set_unset(&exit_cells[0]);
        return true;
    }
    *base = *r;
    return true;
}

// Fetches plain arguments k to `plain` of the call whose frame is on top (its
// callable in *fnslot, just below the frame) and checks their types. Returns
// the block index after them; stops early when an exit is pending. b and
// entries are kept current.
__attribute__((always_inline)) static inline uint32_t fetch_plain_args(const Cell* blk, SeriesBuffer*& b, uint32_t i,
                                                                       const Cell* fnslot, const Cell* word,
                                                                       const Cell*& entries, uint32_t k, uint32_t plain) {
    uint64_t epoch = buffer_epoch;
    for (; k <= plain; ++k) {
        Cell* at = vstack.top;
        if (i >= b->cell_count()) {
            Cell entry = spec_entries_of(fnslot)[k];
            if (!typeset_has(&entry, T_UNSET)) {
                Cell arg;
                word_from_symbol_in(&arg, uint32_t(spec_cache_arg_symbol(&entry)), 0);
                raise_with_call_word(err::script::no_arg, word, &arg, nullptr);
            }
            stack_push();
            continue;
        }
        if (!trace_switch && push_simple(b->cells() + i)) i = eval_infix(blk, i + 1, i, at);
        else i = eval_expr(blk, b, i, false);
        if (__builtin_expect(pending_exit != 0, 0)) return i;
        if (__builtin_expect(epoch != buffer_epoch, 0)) {  // the argument may have moved them
            entries = spec_entries_of(fnslot);
            b = node_buffer(series_node(blk));
            epoch = buffer_epoch;
        }
        check_arg_type(entries + k, at, word);
    }
    return i;
}

// Pushes what a simple call of a function pushes after its arguments (see
// CALL_PLAN_SIMPLE): a false for each refinement and the /local slot, a none
// for each of their words.
static inline void push_call_plan_tail(const Cell* entries) {
    uint32_t tail = (entries->header >> CALL_PLAN_TAIL_SHIFT) & 63, falses = spec_cache_tail_falses(entries);
    if (vstack.top + tail + 1 >= vstack.end) raise_stack_overflow();
    for (uint32_t k = 0; k < tail; ++k, falses >>= 1) {
        if (falses & 1) set_logic(vstack.top++, false);
        else set_none(vstack.top++);
    }
}

// The end of every call finds the frames and the value stack as the call
// left them for its callee: the callee popped each frame it pushed, so the
// call's own frame (at `depth`) is on top with its arguments base, and
// nothing below that base was taken.
static inline void check_call_balance(uint32_t depth, const Cell* base) {
    TEV_ASSERT(frame_depth() == depth && vstack.base == base && vstack.top >= base);
}

// A native's, action's or routine's frame over the arguments from base, every
// refinement off.
static inline NativeCall native_call_over(Cell* base) {
    NativeCall call;
    call.args = base;
    std::memset(call.refs, -1, sizeof call.refs);
    return call;
}

// Runs a native, action or routine (`ft`: its type, an operator's source type)
// on the frame given. The one place the interpreter enters C++ code for a call.
static inline void invoke_native(TypeId ft, const Cell* fn, NativeCall& call) {
    if (ft == T_NATIVE) native_entry(native_index(fn))(call);
    else if (ft == T_ACTION) action_entry_table[native_index(fn)](call);
    else if (ft == T_ROUTINE) routine_invoke(fn, call);
    else raise_error(err::internal::not_done);
}

// Ends a call made from a word: its result replaces the callable's cell below the frame.
static inline void call_done(Cell* fnslot, const Cell* base, uint32_t depth) {
    check_call_balance(depth, base);
    frame_pop_keep();
    *fnslot = *base;
    vstack.top = fnslot + 1;
}

// Ends a call that an exit leaves: a placeholder result, the callers stop at the exit.
static inline void call_left(Cell* fnslot, const Cell* base, uint32_t depth) {
    check_call_balance(depth, base);
    frame_pop_drop();
    vstack.top = fnslot;
    stack_push();
}

// The common call, from a word naming a callable whose plain arguments are all
// evaluated, without refinements, while no trace runs: the arguments are
// fetched and the refinement and local slots filled as the spec cache's first
// cell describes, without walking the spec. Pushes the result.
static uint32_t call_plain(const Cell* blk, SeriesBuffer* b, uint32_t i, const Cell* fn_in, const Cell* word_in,
                           const Cell* entries) {
    Cell* fnslot = stack_push_copy(fn_in);  // keeps spec and body alive
    Cell word = *word_in;
    TypeId ft = cell_type(fnslot);
    bool is_function = ft == T_FUNCTION;
    frame_push(is_function ? FRAME_FUNCTION : FRAME_NATIVE,
               uint8_t(FRAME_INTERPRETED | (is_function ? FRAME_IN_FUNCTION : 0)), uint32_t(word_symbol(&word)), word_context(&word));
    Cell* base = vstack.base;
    uint32_t depth = frame_depth();
    uint32_t plain = spec_cache_plain_count(entries);
    i = fetch_plain_args(blk, b, i, fnslot, &word, entries, 1, plain);
    if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
    if (is_function) {
        push_call_plan_tail(entries);  // kept current by fetch_plain_args
        if (!run_function(fnslot, base, blk, i, &word)) goto unwind_pending;
    } else {
        NativeCall call = native_call_over(base);
        invoke_native(ft, fnslot, call);
        if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
        TEV_CHECK_CELL(base);
    }
    call_done(fnslot, base, depth);
    return i;

unwind_pending:
    call_left(fnslot, base, depth);
    return i;
}

// ================================================================== conditionals

// True when cell k of a block is a word naming an operator: a block just
// before it is that operator's left operand, not an argument of its own.
static inline bool operator_at(SeriesBuffer* b, uint32_t k) {
    if (k >= b->cell_count()) return false;
    const Cell* c = b->cells() + k;
    if (!cell_is(c, T_WORD)) return false;
    const Cell* v = word_value_fast(c);
    return v && cell_is(v, T_OP);
}

// A branch of one value that gives itself, or a word's plain value, is not
// entered as a block: nothing between its start and end could raise, call or
// look at the position, so its result is all it would show.
static inline Cell* eval_branch(const Cell* branch) {
    SeriesBuffer* b = node_buffer(series_node(branch));
    uint32_t i = series_index(branch);
    if (i + 1 == b->cell_count() && push_simple(b->cells() + i)) return vstack.top - 1;
    return eval_block_inline(branch);
}

// `if`, `unless` and `either` given literal blocks, and `any` and `all` given a
// literal block (none of them followed by an operator), run here instead of
// through their natives: the caller has checked that the word still holds the
// native and that no trace runs. The call keeps the native's frame (same kind,
// word and depth, the callable and arguments where the native would have
// them), so an error inside names the same call, and each block is evaluated
// as the native evaluates it. A branch given by an expression goes through the
// native, its condition already fetched.
static uint32_t call_conditional(const Cell* blk, SeriesBuffer* b, uint32_t i, const Cell* fn_in,
                                 const Cell* word_in, const Cell* entries) {
    Cell* fnslot = stack_push_copy(fn_in);
    Cell word = *word_in;
    frame_push(FRAME_NATIVE, FRAME_INTERPRETED, uint32_t(word_symbol(&word)), word_context(&word));
    Cell* base = vstack.base;
    uint32_t depth = frame_depth();
    uint32_t native = native_index(fnslot);
    i = fetch_plain_args(blk, b, i, fnslot, &word, entries, 1, 1);
    if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
    {
        uint32_t count = b->cell_count();
        const Cell* next = b->cells() + i;
        uint32_t blocks = native == NATIVE_EITHER ? 2 : 1;
        if (i + blocks > count || !cell_is(next, T_BLOCK) || (blocks == 2 && !cell_is(next + 1, T_BLOCK)) ||
            operator_at(b, i + blocks)) {
            i = fetch_plain_args(blk, b, i, fnslot, &word, entries, 2, spec_cache_plain_count(entries));
            if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
            NativeCall call = native_call_over(base);
            invoke_native(T_NATIVE, fnslot, call);
            if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
            TEV_CHECK_CELL(base);
        } else {
            // The branches are pushed as the native's arguments: the one taken
            // stays rooted while it runs.
            Cell* branch = stack_push_copy(next);
            if (blocks == 2) stack_push_copy(next + 1);
            i += blocks;
            bool taken;
            if (native == NATIVE_EITHER) {
                if (!is_truthy_strict(base)) ++branch;
                taken = true;
            } else {
                taken = is_truthy(base) == (native == NATIVE_IF);
            }
            if (!taken) set_none(base);
            else {
                Cell* r = eval_branch(branch);
                if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
                *base = *r;
            }
        }
    }
    call_done(fnslot, base, depth);
    return i;

unwind_pending:
    call_left(fnslot, base, depth);
    return i;
}

// `any` and `all` over a literal block (see call_conditional): each expression
// in turn, the position of errors at it, as the natives go.
static uint32_t call_any_all(const Cell* blk, SeriesBuffer* b, uint32_t i, const Cell* fn_in, const Cell* word_in) {
    Cell* fnslot = stack_push_copy(fn_in);
    Cell word = *word_in;
    frame_push(FRAME_NATIVE, FRAME_INTERPRETED, uint32_t(word_symbol(&word)), word_context(&word));
    Cell* base = vstack.base;
    uint32_t depth = frame_depth();
    bool all = native_index(fnslot) == NATIVE_ALL;
    Cell* conds = stack_push_copy(b->cells() + i);
    ++i;
    Cell* saved = stack_push_copy(&current_eval_cell);
    Cell* last = stack_push();
    set_none(last);
    // The native `all` holds one cell more while it runs; a trace started
    // inside sees the stack as it would be there.
    if (all) stack_push();
    Cell* mark = vstack.top;
    SeriesBuffer* cb = node_buffer(series_node(conds));
    bool library = (cb->flags & SER_LIBRARY_FLAG) != 0;
    Cell position = *conds;  // what current_eval_cell says at each expression
    position.header = T_BLOCK;
    uint32_t k = series_index(conds);
    while (k < cb->cell_count()) {
        if (!library) {
            series_set_index(&position, k);
            current_eval_cell = position;
        }
        k = eval_expr(conds, cb, k, false);
        current_eval_cell = *saved;
        if (__builtin_expect(pending_exit != 0, 0)) goto unwind_pending;
        // any: the first truthy value; all: the last value, none at the first falsy one.
        if (is_truthy(mark) != all) {
            if (all) set_none(last);
            else *last = *mark;
            break;
        }
        if (all) *last = *mark;
        vstack.top = mark;
        cb = node_buffer(series_node(conds));
    }
    *base = *last;
    call_done(fnslot, base, depth);
    return i;

unwind_pending:
    call_left(fnslot, base, depth);
    return i;
}

// Calls a callable value. Its arguments come from the block after index i (the
// first from `infix_left` for an operator). Pushes the result (or, infix, leaves
// it in *infix_left) and returns the index after the last argument.
static uint32_t call_callable(const Cell* blk, uint32_t i, const Cell* fn_in, const Cell* word,
                              const PathRefs* refs_from, Cell* infix_left, bool quoted = false) {
    Cell fn = *fn_in;
    TypeId ft = cell_type(&fn);
    if (ft == T_OP) ft = op_source_type(&fn);
    Cell* fnslot = nullptr;
    if (!infix_left) fnslot = stack_push_copy(&fn);  // keeps spec and body alive

    bool is_function = ft == T_FUNCTION;
    uint8_t kind = is_function ? FRAME_FUNCTION : FRAME_NATIVE;
    uint8_t flags = FRAME_INTERPRETED | (is_function ? FRAME_IN_FUNCTION : 0);
    uint32_t sym = word ? uint32_t(word_symbol(word)) : 0;
    NodeRef wctx = word ? word_context(word) : 0;
    if (infix_left) {
        vstack.top = infix_left;  // the left operand becomes the first argument
        frame_push(kind, flags, sym, wctx);
        vstack.top = infix_left + 1;
    } else {
        frame_push(kind, flags, sym, wctx);
    }
    Cell* base = vstack.base;
    uint32_t depth = frame_depth();
    if (trace_switch) {
        // The call is reported by its word; a function called as a value has none.
        Cell name = word ? *word : word_from_cstring("anonymous");
        trace_event(TRACE_OPEN, blk, int32_t(i), &name, nullptr);
    }

    NativeCall call = native_call_over(base);

    // Refinements named by the path, alias-resolved, in path order.
    uint32_t used[MAX_CALL_REFINEMENTS];
    uint32_t used_count = 0;
    if (refs_from) {
        uint32_t n = block_length(refs_from->path);
        for (uint32_t k = refs_from->first; k < n; ++k) {
            if (used_count == MAX_CALL_REFINEMENTS) raise_error(err::script::bad_refines);
            used[used_count++] = refinement_symbol(block_at(refs_from->path, k));
        }
    }

    const Cell* wordp = word;
    // The spec cache is read again through the callable after each argument.
    const Cell* holder = fnslot ? fnslot : &fn;
    const SpecCacheEntry& view = spec_cache_of(holder);
    const Cell* spec_entries = view.entries;
    uint64_t cache_epoch = buffer_epoch;
    uint32_t entries = view.count;
    uint32_t e = 1;
    uint32_t args_done = infix_left ? 1 : 0;
    // Plain arguments.
    for (; e < entries; ++e) {
        Cell entry = spec_entries[e];
        if (!cell_is(&entry, T_TYPESET)) break;
        if (args_done) { --args_done; check_arg_type(&entry, infix_left, wordp); continue; }
        i = fetch_arg(blk, i, &entry, wordp, infix_left != nullptr, quoted);
        if (pending_exit) goto unwind_pending;
        if (cache_epoch != buffer_epoch) {  // fetching may have moved it
            spec_entries = spec_entries_of(holder);
            cache_epoch = buffer_epoch;
        }
    }
    // Refinements. A native called without any takes nothing more: its
    // refinements stay off and their arguments are not on the stack.
    if (!is_function && used_count == 0) e = entries;
    {
        uint32_t matched = 0;
        for (; e < entries; ++e) {
            // A native has nothing to push for the refinements after the last one used.
            if (!is_function && matched == used_count) break;
            Cell entry = spec_entries_of(holder)[e];
            if (cell_is(&entry, T_INTEGER)) {  // /local and its words
                if (is_function) {
                    uint32_t n = spec_cache_local_count(&entry);
                    if (n) set_logic(stack_push(), false);
                    for (uint32_t k = 1; k < n; ++k) set_none(stack_push());
                }
                break;
            }
            // T_REFINEMENT
            bool on = false;
            if (used_count) {
                uint32_t rs = uint32_t(symbol_resolve_alias(word_symbol(&entry)));
                for (uint32_t k = 0; k < used_count; ++k)
                    if (used[k] == rs) { on = true; ++matched; break; }
            }
            uint32_t ordinal = spec_cache_refinement_ordinal(&entry);
            if (is_function) set_logic(stack_push(), on);
            else if (on) call.refs[ordinal] = 0;
            // The refinement's own arguments follow it.
            bool first = true;
            while (e + 1 < entries) {
                Cell a = spec_entries_of(holder)[e + 1];
                if (!cell_is(&a, T_TYPESET)) break;
                ++e;
                if (on) {
                    if (!is_function && first) call.refs[ordinal] = int8_t(vstack.top - base);
                    i = fetch_arg(blk, i, &a, wordp, false, quoted);
                    if (pending_exit) goto unwind_pending;
                } else if (is_function) {
                    set_none(stack_push());
                }
                first = false;
            }
        }
        if (matched < used_count) {
            // A refinement the callee does not have.
            Cell w, r;
            if (word) w = *word; else current_call_word(&w);
            for (uint32_t k = 0; k < used_count; ++k) {
                bool found = false;
                for (uint32_t x = 1; x < entries; ++x) {
                    const Cell* en = spec_entries_of(holder) + x;
                    if (cell_is(en, T_REFINEMENT) && uint32_t(symbol_resolve_alias(word_symbol(en))) == used[k]) found = true;
                }
                if (!found) {
                    word_from_symbol_in(&r, used[k], 0);
                    cell_set_type(&r, T_REFINEMENT);
                    raise_error(err::script::no_refine, &w, &r);
                }
            }
        }
    }

    // Run. A function reports its call itself, once its frame is entered.
    if (!is_function && trace_switch) trace_event(TRACE_CALL, blk, int32_t(i), &fn, word);
    if (is_function) {
        if (!run_function(holder, base, blk, i, word)) goto unwind_pending;
    } else {
        invoke_native(ft, holder, call);
        if (pending_exit) goto unwind_pending;
        TEV_CHECK_CELL(base);
    }
    check_call_balance(depth, base);
    frame_pop_keep();
    if (trace_switch) trace_event(TRACE_RETURN, blk, int32_t(i), base, word);
    if (fnslot) {
        *fnslot = *base;
        vstack.top = fnslot + 1;
    }
    return i;

unwind_pending:
    check_call_balance(depth, base);
    frame_pop_drop();
    if (fnslot) vstack.top = fnslot;
    stack_push();  // a placeholder result; callers stop at the pending exit
    return i;
}

// ================================================================== paths

[[noreturn]] static void raise_path(ErrCode code, const Cell* a1, const Cell* a2) {
    raise_error(code, a1, a2);
}

static bool is_callable_type(TypeId t) {
    return t == T_NATIVE || t == T_ACTION || t == T_FUNCTION || t == T_ROUTINE;
}

// A set that changed its parent's own cell (a time's minute, a pair's x: values
// held whole in the cell) changed a copy: store it back into the value that
// held it, and so on up while each holder's cell changes too, ending at the
// path's word. The walk keeps every parent and element on the stack:
// path+2k is element k, path+2k+1 the value it produced (path+1 the word's).
static void path_store_back(Cell* path, uint32_t k, const Cell* first_word) {
    for (uint32_t j = k - 1; j > 0; --j) {
        Cell* holder = path + 2 * j - 1;
        Cell before = *holder;
        Cell* scratch = stack_push();
        PathStep step{holder, path + 2 * j, path + 2 * j + 1, path, scratch, int32_t(j), false, true};
        action_of<Act::eval_path>(cell_type(holder))(step);
        vstack.top = scratch;
        if (std::memcmp(holder, &before, sizeof(Cell)) == 0) return;
    }
    word_assign(first_word, path + 1);
}

// Evaluates a path, get-path or set-path (`set_value` on the stack for the
// last); pushes the result and returns the block index after the path (and its
// arguments when it calls a function).
static uint32_t eval_path(const Cell* blk, uint32_t i, const Cell* path_in, const Cell* set_value) {
    Cell* path = stack_push_copy(path_in);  // rooted for the whole walk
    TypeId pt = cell_type(path);
    SeriesBuffer* pb = node_buffer(series_node(path));
    uint32_t head = series_index(path), count = pb->cell_count();
    uint32_t n = head < count ? count - head : 0;
    if (n == 0) raise_error(err::script::empty_path, path);
    Cell first = pb->cells()[head];
    if (!cell_is(&first, T_WORD)) raise_error(err::script::word_first, path);
    Cell* parent = stack_push_copy(word_value_checked(&first));
    if (cell_is(parent, T_UNSET)) raise_path(err::script::unset_path, path, &first);
    if (is_callable_type(cell_type(parent))) {
        if (pt == T_GET_PATH) raise_error(err::script::invalid_path_get, path);
        if (pt == T_SET_PATH) raise_error(err::script::invalid_path_set, path);
        PathRefs refs{path, 1};
        Cell fn = *parent;
        i = call_callable(blk, i, &fn, &first, &refs, nullptr);
        Cell r = *stack_top();
        vstack.top = path;
        stack_push_copy(&r);
        return i;
    }
    for (uint32_t k = 1; k < n; ++k) {
        SeriesBuffer* eb = node_buffer(series_node(path));
        if (head + k >= eb->cell_count()) break;  // a paren shortened the path
        Cell* element = stack_push_copy(eb->cells() + head + k);
        if (cell_is(element, T_GET_WORD)) *element = *word_value_checked(element);
        else if (cell_is(element, T_PAREN)) {
            Cell* r = eval_block(element);
            if (pending_exit) return i;
            *element = *r;
            vstack.top = element + 1;
        }
        if (cell_is(element, T_UNSET)) raise_path(err::script::invalid_path, path, element);
        TypeId t = cell_type(parent);
        EvalPathFn fn = action_of<Act::eval_path>(t);
        if (!fn) {
            Cell type;
            set_datatype(&type, t);
            raise_error(err::script::bad_path_type2, element, &type);
        }
        Cell* result = stack_push();
        bool last = k + 1 == n;
        bool setting = last && set_value;
        Cell before = *parent;
        PathStep step{parent, element, setting ? const_cast<Cell*>(set_value) : nullptr,
                      path, result, int32_t(k), last, true};
        fn(step);
        if (setting && std::memcmp(parent, &before, sizeof(Cell)) != 0) path_store_back(path, k, &first);
        parent = result;
        vstack.top = parent + 1;
        if (!last && pt == T_PATH && is_callable_type(cell_type(parent))) {
            PathRefs refs{path, k + 1};
            Cell fnv = *parent;
            Cell w = *block_at(path, k);
            i = call_callable(blk, i, &fnv, cell_is(&w, T_WORD) ? &w : nullptr, &refs, nullptr);
            Cell r = *stack_top();
            vstack.top = path;
            stack_push_copy(&r);
            return i;
        }
    }
    if (pt == T_PATH && is_callable_type(cell_type(parent))) {
        Cell fnv = *parent;
        Cell w = *block_at(path, n - 1);
        i = call_callable(blk, i, &fnv, cell_is(&w, T_WORD) ? &w : nullptr, nullptr, nullptr);
        Cell r = *stack_top();
        vstack.top = path;
        stack_push_copy(&r);
        return i;
    }
    Cell r = *parent;
    if (set_value) r = *set_value;
    vstack.top = path;
    stack_push_copy(&r);
    return i;
}

// One step of a path's action, with the stack as eval_path would hold it
// (path, parent, key, result), so the action sees the same step. False,
// having changed nothing, for a read that finds a function a path would call.
static bool path_step_by_action(const Cell* first, const Cell* parent_in, const Cell* key, const Cell* path_in,
                                const Cell* set_value) {
    Cell word = *first;
    Cell* path = stack_push_copy(path_in);
    Cell* parent = stack_push_copy(parent_in);
    Cell* element = stack_push_copy(key);
    Cell* result = stack_push();
    Cell before = *parent;
    PathStep step{parent, element, const_cast<Cell*>(set_value), path, result, 1, true, true};
    action_of<Act::eval_path>(cell_type(parent))(step);
    if (set_value) {
        if (std::memcmp(parent, &before, sizeof(Cell)) != 0) word_assign(&word, parent);
        *result = *set_value;
    } else if (cell_is(path, T_PATH) && is_callable_type(cell_type(result))) {
        vstack.top = path;
        return false;
    }
    *path = *result;
    vstack.top = path + 1;
    return true;
}

// A field read or stored in place when that is all the object's action would
// do. Any other set goes through the action, which runs the change handlers
// or raises as it does for the walk; any other read is left to the walk,
// which raises its errors and calls a function field.
static bool object_path_step(const Cell* first, const Cell* obj, const Cell* key, const Cell* path_in,
                             const Cell* set_value) {
    Cell* field = object_path_field(obj, key, set_value != nullptr);
    if (set_value) {
        Cell v = *set_value;
        if (field) {
            *field = v;
            stack_push_copy(&v);
            return true;
        }
        return path_step_by_action(first, obj, key, path_in, set_value);
    }
    if (!field || cell_is(field, T_UNSET)) return false;
    if (cell_is(path_in, T_PATH) && is_callable_type(cell_type(field))) return false;
    Cell r = *field;
    stack_push_copy(&r);
    return true;
}

// A map's value read, or stored, as the map's path action would: no step
// record, and the map cell stored back only when the store changed it. False,
// having changed nothing, for a read that finds a function a path would call.
static bool map_path_step(const Cell* first, const Cell* map, const Cell* key, const Cell* path_in,
                          const Cell* set_value) {
    if (set_value) {
        Cell word = *first;  // in the path's buffer, which the store may move
        Cell* parent = stack_push_copy(map);
        Cell* element = stack_push_copy(key);
        map_path_put(parent, element, set_value);
        if (std::memcmp(parent, map, sizeof(Cell)) != 0) word_assign(&word, parent);
        *parent = *set_value;
        vstack.top = parent + 1;
        return true;
    }
    const Cell* v = map_path_value(map, key);
    if (v && cell_is(path_in, T_PATH) && is_callable_type(cell_type(v))) return false;
    Cell r;
    if (v) r = *v;
    else set_none(&r);
    stack_push_copy(&r);
    return true;
}

// `word/key` and `word/:key` over a map! or an object!, read or set: the
// commonest paths of table-driven and object code, taken as the one step of
// the value's path action without the general walk. False, having changed
// nothing, for anything else: eval_path then does the whole job. Only while
// no trace runs.
static bool short_path_step(const Cell* path_in, const Cell* set_value) {
    SeriesBuffer* pb = node_buffer(series_node(path_in));
    uint32_t head = series_index(path_in);
    if (head + 2 != pb->cell_count()) return false;
    const Cell* first = pb->cells() + head;
    if (!cell_is(first, T_WORD)) return false;
    const Cell* holder = word_value_fast(first);
    if (!holder || (!cell_is(holder, T_MAP) && !cell_is(holder, T_OBJECT))) return false;
    Cell key = first[1];
    if (cell_is(&key, T_GET_WORD)) {
        const Cell* kv = word_value_fast(&key);
        if (!kv) return false;
        key = *kv;
    } else if (cell_is(&key, T_PAREN)) {
        return false;
    }
    if (cell_is(&key, T_UNSET)) return false;
    Cell parent = *holder;
    if (cell_is(&parent, T_OBJECT)) return object_path_step(first, &parent, &key, path_in, set_value);
    return map_path_step(first, &parent, &key, path_in, set_value);
}

// ================================================================== operator fast paths

enum FastOp { FAST_NONE = 0, FAST_ADD, FAST_SUB, FAST_MUL, FAST_EQ, FAST_NE, FAST_STRICT_EQ, FAST_LT,
              FAST_GT, FAST_LE, FAST_GE };

// Operators made from add, subtract, multiply and the comparison natives.
static inline int op_fast_kind(const Cell* op) {
    TypeId from = op_source_type(op);
    if (from == T_ACTION) {
        switch (Act(native_index(op))) {
        case Act::add: return FAST_ADD;
        case Act::subtract: return FAST_SUB;
        case Act::multiply: return FAST_MUL;
        default: return FAST_NONE;
        }
    }
    if (from == T_NATIVE && native_index(op) >= NATIVE_EQUAL_Q && native_index(op) <= NATIVE_GREATER_OR_EQUAL_Q)
        return FAST_EQ + int(native_index(op) - NATIVE_EQUAL_Q);
    return FAST_NONE;
}

// Two integers: the result into *left, false when the arithmetic overflows
// (the datatype then decides what the result is).
static inline bool integer_op_inline(int kind, Cell* left, const Cell* right) {
    int32_t a = get_integer(left), b = get_integer(right), r;
    switch (kind) {
    case FAST_ADD: if (__builtin_add_overflow(a, b, &r)) return false; set_integer(left, r); return true;
    case FAST_SUB: if (__builtin_sub_overflow(a, b, &r)) return false; set_integer(left, r); return true;
    case FAST_MUL: if (__builtin_mul_overflow(a, b, &r)) return false; set_integer(left, r); return true;
    case FAST_EQ: case FAST_STRICT_EQ: set_logic(left, a == b); return true;
    case FAST_NE: set_logic(left, a != b); return true;
    case FAST_LT: set_logic(left, a < b); return true;
    case FAST_GT: set_logic(left, a > b); return true;
    case FAST_LE: set_logic(left, a <= b); return true;
    case FAST_GE: set_logic(left, a >= b); return true;
    }
    return false;
}

// Arithmetic on integer! and float! operands giving a float!, as the datatypes
// compute it (an integer result out of range becomes a float too); false for
// anything else.
static inline bool float_op_inline(int kind, Cell* left, const Cell* right) {
    if (kind > FAST_MUL) return false;
    TypeId lt = cell_type(left), rt = cell_type(right);
    if ((lt != T_INTEGER && lt != T_FLOAT) || (rt != T_INTEGER && rt != T_FLOAT)) return false;
    double a = lt == T_INTEGER ? double(get_integer(left)) : get_float(left);
    double b = rt == T_INTEGER ? double(get_integer(right)) : get_float(right);
    set_float(left, kind == FAST_ADD ? a + b : kind == FAST_SUB ? a - b : a * b);
    return true;
}

// Calls an operator whose two operands are already at left and left + 1.
static void call_op_with_operands(const Cell* op, const Cell* word, Cell* left) {
    Cell fn = *op;
    TypeId ft = op_source_type(&fn);
    vstack.top = left;
    frame_push(FRAME_NATIVE, FRAME_INTERPRETED, uint32_t(word_symbol(word)), word_context(word));
    uint32_t depth = frame_depth();
    vstack.top = left + 2;
    const Cell* spec_entries = spec_entries_of(&fn);
    Cell first = spec_entries[1], second = spec_entries[2];
    check_arg_type(&first, left, word);
    check_arg_type(&second, left + 1, word);
    NativeCall call = native_call_over(left);
    invoke_native(ft, &fn, call);
    TEV_CHECK_CELL(left);
    check_call_balance(depth, left);
    frame_pop_keep();
}

// ================================================================== expressions

static uint32_t eval_expr(const Cell* blk, SeriesBuffer* b, uint32_t i, bool no_infix) {
    // The block's node is read from its (rooted) cell after anything that may
    // allocate: the collector keeps that cell current.
    Cell* out = vstack.top;
    Cell val = b->cells()[i];
    uint32_t start = i;
    ++i;
    if (trace_switch) {
        trace_event(TRACE_FETCH, blk, int32_t(start), &val, nullptr);
        b = node_buffer(series_node(blk));  // the callback may have moved it
    }
    bool called = false;
    switch (cell_type(&val)) {
    case T_WORD: {
        Cell* vc = word_value_fast(&val);
        if (!vc) vc = word_value_slow(&val);
        switch (cell_type(vc)) {
        case T_UNSET: raise_error(err::script::no_value, &val);
        case T_NATIVE: case T_ACTION: case T_FUNCTION: {
            const Cell* entries = spec_entries_of(vc);
            if (!trace_running && (entries->header & CALL_PLAN_SIMPLE)) {
                // call_plain keeps one call site, where it is inlined.
                if (cell_is(vc, T_NATIVE) && native_index(vc) < NATIVE_ANY)
                    i = call_conditional(blk, b, i, vc, &val, entries);
                else if (cell_is(vc, T_NATIVE) && native_index(vc) <= NATIVE_ALL && i < b->cell_count() &&
                         cell_is(b->cells() + i, T_BLOCK) && !operator_at(b, i + 1))
                    i = call_any_all(blk, b, i, vc, &val);
                else
                    i = call_plain(blk, b, i, vc, &val, entries);
                if (pending_exit) return i;
                called = true;
                break;
            }
        }
            [[fallthrough]];
        case T_ROUTINE: {
            Cell fn = *vc;
            i = call_callable(blk, i, &fn, &val, nullptr, nullptr);
            if (pending_exit) return i;
            called = true;
            break;
        }
        case T_OP: raise_error(err::script::no_op_arg);
        default: stack_push_copy(vc);
        }
        break;
    }
    case T_SET_WORD: {
        // The word's context stays reachable through the block being evaluated.
        if (i >= b->cell_count()) raise_error(err::script::need_value, &val);
        if (!trace_switch && push_simple(b->cells() + i)) i = eval_infix(blk, i + 1, i, out);
        else i = eval_expr(blk, b, i, false);
        if (pending_exit) return i;
        if (cell_is(out, T_UNSET)) raise_error(err::script::need_value, &val);
        if (trace_switch) trace_event(TRACE_SET, blk, int32_t(start), out, &val);
        if (Cell* slot = word_slot_plain(&val)) *slot = *out;
        else word_assign(&val, out);
        vstack.top = out + 1;
        break;
    }
    case T_LIT_WORD:
        val.header = T_WORD;
        stack_push_copy(&val);
        break;
    case T_GET_WORD:
        stack_push_copy(word_value_checked(&val));
        break;
    case T_PAREN:
        eval_block(&val);
        if (pending_exit) return i;
        break;
    case T_PATH: case T_GET_PATH:
        if (!trace_switch && short_path_step(&val, nullptr)) break;
        i = eval_path(blk, i, &val, nullptr);
        if (pending_exit) return i;
        break;
    case T_LIT_PATH:
        val.header = T_PATH;
        stack_push_copy(&val);
        break;
    case T_SET_PATH: {
        if (i >= b->cell_count()) raise_error(err::script::need_value, &val);
        Cell* slot = stack_push_copy(&val);
        i = eval_expr(blk, b, i, false);
        if (pending_exit) return i;
        Cell* v = slot + 1;
        if (cell_is(v, T_UNSET)) raise_error(err::script::need_value, slot);
        if (trace_switch || !short_path_step(slot, v)) eval_path(blk, i, slot, v);
        *out = *v;
        vstack.top = out + 1;
        break;
    }
    case T_NATIVE: case T_ACTION: case T_FUNCTION: case T_ROUTINE:
        i = call_callable(blk, i, &val, nullptr, nullptr, nullptr);
        if (pending_exit) return i;
        break;
    case T_OP:
        raise_error(err::internal::not_done);
    default:
        stack_push_copy(&val);
    }
    if (trace_switch && !called) trace_event(TRACE_PUSH, blk, int32_t(start), out, nullptr);
    if (no_infix) return i;
    return eval_infix(blk, i, start, out);
}

// Applies the operators from i on to the value at out (the expression began at
// start). Operators apply strictly from left to right.
__attribute__((always_inline)) static inline uint32_t eval_infix(const Cell* blk, uint32_t i, uint32_t start, Cell* out) {
    for (;;) {
        SeriesBuffer* b = node_buffer(series_node(blk));
        if (i >= b->cell_count()) break;
        const Cell* next = b->cells() + i;
        if (!cell_is(next, T_WORD)) break;
        Cell* opv = word_value_fast(next);
        if (!opv || !cell_is(opv, T_OP)) break;
        Cell op = *opv, opword = *next;
        vstack.top = out + 1;
        if (trace_switch) trace_event(TRACE_FETCH, blk, int32_t(i), &opword, nullptr);
        int fast = trace_switch ? 0 : op_fast_kind(&op);
        if (fast && i + 1 < b->cell_count()) {
            // The right operand first (no infix: operators group left to right);
            // two integers are then done here, anything else through the call.
            Cell* right = vstack.top;
            uint32_t j;
            if (push_simple(b->cells() + i + 1)) j = i + 2;
            else {
                j = eval_expr(blk, b, i + 1, true);
                if (pending_exit) return j;
            }
            if (!(cell_is(out, T_INTEGER) && cell_is(right, T_INTEGER) && integer_op_inline(fast, out, right)) &&
                !float_op_inline(fast, out, right))
                call_op_with_operands(&op, &opword, out);
            vstack.top = out + 1;
            i = j;
            continue;
        }
        i = call_callable(blk, i + 1, &op, &opword, nullptr, out);
        if (pending_exit) return i;
    }
    if (trace_switch) trace_event(TRACE_EXPR, blk, int32_t(start), out, nullptr);
    return i;
}

__attribute__((always_inline)) static inline Cell* eval_block_inline(const Cell* block) {
    interp_check_machine_stack();
    // Two cells: the block (rooted while it runs, then the result) and the
    // caller's position, rooted (after an error was caught it may name a block
    // nothing else holds) and put back at the end.
    Cell blockv = *block;  // block may be the cell about to be overwritten
    if (vstack.top + 2 >= vstack.end) raise_stack_overflow();
    Cell* slot = vstack.top;
    slot[0] = blockv;
    slot[1] = current_eval_cell;
    Cell* mark = slot + 2;
    vstack.top = mark;
    const SeriesBuffer* b = node_buffer(series_node(&blockv));
    uint32_t i = series_index(&blockv);
    if (i >= b->cell_count()) {
        set_unset(slot);
        vstack.top = slot + 1;
        return slot;
    }
    bool library = (b->flags & SER_LIBRARY_FLAG) != 0;
    trace_event(TRACE_ENTER, slot, int32_t(i), nullptr, nullptr);
    Cell position = blockv;  // what current_eval_cell says at each step
    position.header = T_BLOCK;
    SeriesBuffer* buffer = node_buffer(series_node(&blockv));
    uint64_t epoch = buffer_epoch;
    for (;;) {
        if (!library) {
            series_set_index(&position, i);
            current_eval_cell = position;
        }
        i = eval_expr(slot, buffer, i, false);
        if (__builtin_expect(epoch != buffer_epoch, 0)) {
            buffer = node_buffer(series_node(slot));
            epoch = buffer_epoch;
        }
        if (pending_exit || i >= buffer->cell_count()) break;
        vstack.top = mark;
    }
    current_eval_cell = slot[1];
    trace_event(TRACE_EXIT, slot, int32_t(i), mark, nullptr);
    *slot = *mark;
    vstack.top = slot + 1;
    return slot;
}

Cell* eval_block(const Cell* block) { return eval_block_inline(block); }

// The catch point of a loop's block: see eval_block_catching.
__attribute__((always_inline)) static inline Cell* eval_block_catching_inline(const Cell* block) {
    uint32_t depth = frame_depth();
    Cell* mark = vstack.top;
    try {
        Cell* r = eval_block_inline(block);
        if (!pending_exit) return r;
    } catch (const LanguageThrow& t) {
        exit_from_exception(t);
        frames_unwind_to(depth);
    }
    vstack.top = mark;
    return nullptr;
}

Cell* eval_block_catching(const Cell* block) { return eval_block_catching_inline(block); }

Cell* eval_block_trying(const Cell* block, uint32_t* thrown) {
    try {
        return eval_block_inline(block);
    } catch (const LanguageThrow& t) {
        *thrown = t.code;
        return nullptr;
    }
}

BodyOutcome run_loop_body(const Cell* body, Cell* result) {
    Cell* mark = vstack.top;
    if (Cell* r = eval_block_catching_inline(body)) {
        *result = *r;
        vstack.top = mark;
        return BODY_NEXT;
    }
    if (pending_exit == THROW_BREAK) {
        pending_exit = 0;
        *result = exit_cells[0];
        set_unset(&exit_cells[0]);
        return BODY_BREAK;
    }
    if (pending_exit == THROW_CONTINUE) {
        pending_exit = 0;
        return BODY_CONTINUE;
    }
    return BODY_LEAVE;
}

// ================================================================== reduce

// Copies the values from i on that are their own results (they give themselves
// and no word follows, which could be an operator taking them as its operand)
// straight to the end of `result`, while it has room; returns the index of the
// first value not copied. Nothing here allocates.
static uint32_t reduce_plain_run(const Cell* block, Cell* result, uint32_t i, bool keep_new_lines) {
    SeriesBuffer* b = node_buffer(series_node(block));
    SeriesBuffer* out = node_buffer(series_node(result));
    const Cell* cells = b->cells();
    uint32_t count = b->cell_count(), room = out->room() / sizeof(Cell);
    uint32_t end = i;
    while (end < count && end - i < room && simple_types.kind[cell_type(cells + end)] == 1 &&
           (end + 1 == count || !cell_is(cells + end + 1, T_WORD)))
        ++end;
    Cell* to = reinterpret_cast<Cell*>(out->tail_ptr());
    for (uint32_t k = i; k < end; ++k, ++to) {
        *to = cells[k];
        if (!keep_new_lines) cell_clear_flag(to, FLAG_NEW_LINE);
    }
    out->tail += (end - i) * sizeof(Cell);
    return end;
}

Cell* reduce_block(const Cell* block, bool keep_new_lines) {
    Cell* result = block_push_new(block_length(block));
    uint32_t i = series_index(block);
    while (i < node_buffer(series_node(block))->count()) {
        if (!trace_switch) {
            i = reduce_plain_run(block, result, i, keep_new_lines);
            if (i >= node_buffer(series_node(block))->count()) break;
        }
        Cell* mark = vstack.top;
        // A value that gives itself (or a word's plain value) with no operator
        // after it is its own result: nothing could raise or look at the position.
        SeriesBuffer* b = node_buffer(series_node(block));
        if (!trace_switch && push_simple(b->cells() + i) && !operator_at(b, i + 1)) {
            ++i;
        } else {
            vstack.top = mark;
            i = eval_next(block, i);
            if (pending_exit) return nullptr;
        }
        if (!keep_new_lines) cell_clear_flag(mark, FLAG_NEW_LINE);
        block_append(result, mark);
        vstack.top = mark;
    }
    return result;
}

uint32_t eval_next(const Cell* block, uint32_t index) {
    Cell* slot = stack_push_copy(block);
    uint32_t count = node_buffer(series_node(slot))->cell_count();
    if (index >= count) {
        set_unset(slot);
        return count;
    }
    Cell* saved_eval = stack_push_copy(&current_eval_cell);
    if (!(node_buffer(series_node(slot))->flags & SER_LIBRARY_FLAG)) {
        current_eval_cell = *slot;
        current_eval_cell.header = T_BLOCK;
        series_set_index(&current_eval_cell, index);
    }
    Cell* mark = vstack.top;
    index = eval_expr(slot, node_buffer(series_node(slot)), index, false);
    current_eval_cell = *saved_eval;
    *slot = *mark;
    vstack.top = slot + 1;
    return index;
}

Cell* eval_value(const Cell* value) {
    // A one-value block makes the value an expression of its own.
    Cell* blk = block_push_cells(value, 1);
    Cell* r = eval_block(blk);
    *blk = *r;
    vstack.top = blk + 1;
    return blk;
}

Cell* path_get(const Cell* path_in) {
    Cell* blk = block_push_new(1);
    Cell path = *path_in;
    path.header = T_GET_PATH;
    eval_path(blk, 0, &path, nullptr);
    Cell r = *stack_top();
    vstack.top = blk;
    Cell* out = stack_push();
    *out = r;
    return out;
}

void path_set(const Cell* path_in, const Cell* value) {
    Cell* blk = block_push_new(1);
    Cell* v = stack_push_copy(value);
    Cell path = *path_in;
    path.header = T_SET_PATH;
    eval_path(blk, 0, &path, v);
    vstack.top = blk;
}

Cell* call_quoted(const Cell* fn, const Cell* word, const Cell* args, const Cell* refinements) {
    Cell f = *fn;
    Cell* blk = stack_push_copy(args);
    Cell* refs_block = refinements ? stack_push_copy(refinements) : nullptr;
    PathRefs refs{refs_block, 0};
    Cell w;
    if (word) w = *word;
    call_callable(blk, series_index(blk), &f, word ? &w : nullptr, refs_block ? &refs : nullptr, nullptr, true);
    Cell r = *stack_top();
    vstack.top = blk;
    Cell* out = stack_push();
    *out = r;
    return out;
}

Cell* call_with_args_reading(const Cell* fn, const Cell* args, uint32_t count, uint32_t arg, Cell* arg_after) {
    ArgCapture saved = arg_capture;
    // The callee's frame comes right above the current ones.
    arg_capture = ArgCapture{arg < count ? arg_after : nullptr, frame_depth() + 1, arg};
    try {
        Cell* r = call_with_args(fn, args, count);
        arg_capture = saved;
        return r;
    } catch (...) {
        arg_capture = saved;
        throw;
    }
}

// The return event of a call through a block of the values, the block made
// now in the place kept for it.
static void report_return_through_block(Cell* block_place, const Cell* args, uint32_t count, const Cell* result) {
    Cell* blk = block_push_cells(args, count);
    *block_place = *blk;
    vstack.top = blk;
    trace_event(TRACE_RETURN, block_place, int32_t(count), result, nullptr);
}

// The common value call (a comparator, a handler, a callback): a function
// whose plain arguments are exactly the values given, while no event is
// reported. It builds the frame, checks the arguments and fills the other slots
// as a call through a block of the values would, without making that block;
// nullptr, having done nothing, for any other call.
static Cell* call_function_with_values(const Cell* fn, const Cell* args, uint32_t count) {
    if (trace_switch || !cell_is(fn, T_FUNCTION)) return nullptr;
    const Cell* entries = spec_entries_of(fn);
    if (!(entries->header & CALL_PLAN_SIMPLE) || spec_cache_plain_count(entries) != count) return nullptr;
    // A trace callback's body may switch events back on: the stack it reports
    // then has the block's cell below the call, as a call through the block has.
    Cell* block_place = trace_running ? stack_push() : nullptr;
    Cell* fnslot = stack_push_copy(fn);
    frame_push(FRAME_FUNCTION, FRAME_INTERPRETED | FRAME_IN_FUNCTION, 0, 0);
    Cell* base = vstack.base;
    uint32_t depth = frame_depth();
    for (uint32_t k = 0; k < count; ++k) check_arg_type(entries + 1 + k, stack_push_copy(args + k), nullptr);
    push_call_plan_tail(entries);  // nothing above has allocated
    bool done = run_function(fnslot, base, nullptr, 0, nullptr);
    if (!block_place) {
        if (done) call_done(fnslot, base, depth);
        else call_left(fnslot, base, depth);
        return fnslot;
    }
    if (done) {
        check_call_balance(depth, base);
        frame_pop_keep();
        if (trace_switch) report_return_through_block(block_place, args, count, base);
        *fnslot = *base;
    } else {
        call_left(fnslot, base, depth);
    }
    *block_place = *fnslot;
    vstack.top = block_place + 1;
    return block_place;
}

Cell* call_with_args(const Cell* fn, const Cell* args, uint32_t count) {
    if (Cell* r = call_function_with_values(fn, args, count)) return r;
    // The arguments go in as values: a block holding the function and the
    // arguments, each argument fetched as it stands (no evaluation).
    Cell f = *fn;
    Cell* blk = block_push_new(count + 1);
    for (uint32_t k = 0; k < count; ++k) block_append(blk, &args[k]);
    call_callable(blk, 0, &f, nullptr, nullptr, nullptr, true);
    Cell r = *stack_top();
    vstack.top = blk;
    Cell* out = stack_push();
    *out = r;
    return out;
}

}  // namespace tev

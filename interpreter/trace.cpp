// The trace hook of `do/trace`: the interpreter reports its steps to a callback
// function as events. While no trace runs, each hook costs one flag test.
#include "interpreter/trace.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/error.h"
#include "datatypes/pair.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

bool trace_switch = false;
bool trace_running = false;
uint32_t trace_mask = 0;
static Cell trace_callback;
// Each event's word, interned at its first event of a run: interning hashes the
// spelling and probes the global context, too much to do at every event.
static Cell event_words[16];

static const char* const event_names[] = {"init", "end", "prolog", "epilog", "enter", "exit", "open", "return",
                                          "fetch", "push", "set", "call", "error", "throw", "catch", "expr"};
constexpr uint32_t ALL_EVENTS = 0x1FFFF;

static void ensure_root() {
    static bool rooted = false;
    if (rooted) return;
    rooted = true;
    set_none(&trace_callback);
    gc_add_root(&trace_callback);
    for (Cell& w : event_words) {
        set_none(&w);
        gc_add_root(&w);
    }
}

static Cell event_word(uint32_t code) {
    if (cell_is(&event_words[code], T_NONE)) event_words[code] = word_from_cstring(event_names[code]);
    return event_words[code];
}

// The events a callback asks for: the words of a block that begins its body.
static uint32_t callback_mask(const Cell* fn) {
    Cell body = *function_body(fn);
    if (!cell_is(&body, T_BLOCK) || !block_length(&body)) return ALL_EVENTS;
    Cell first = *block_at(&body, 0);
    if (!cell_is(&first, T_BLOCK) || !block_length(&first)) return ALL_EVENTS;
    uint32_t mask = 0;
    uint32_t n = block_length(&first);
    for (uint32_t k = 0; k < n; ++k) {
        const Cell* w = block_at(&first, k);
        if (!type_is_word(cell_type(w))) continue;
        int32_t s = symbol_resolve_alias(word_symbol(w));
        for (uint32_t e = 0; e < 16; ++e)
            if (symbol_resolve_alias(symbol_from_cstring(event_names[e])) == s) mask |= 1u << e;
    }
    return mask;
}

bool trace_start(const Cell* callback) {
    ensure_root();
    if (trace_running) return false;
    trace_callback = *callback;
    for (Cell& w : event_words) set_none(&w);
    trace_mask = callback_mask(callback);
    trace_running = true;
    trace_switch = true;
    trace_event(TRACE_INIT, nullptr, 0, nullptr, nullptr);
    return true;
}

void trace_stop() {
    if (!trace_running) return;
    uint32_t pending = pending_exit;
    pending_exit = 0;
    try {
        trace_event(TRACE_END, nullptr, 0, nullptr, nullptr);
    } catch (...) {
        trace_running = trace_switch = false;
        set_none(&trace_callback);
        throw;
    }
    pending_exit = pending;
    trace_running = trace_switch = false;
    set_none(&trace_callback);
}

void trace_set_switch(bool on) { trace_switch = on && trace_running; }

void trace_event_slow(uint32_t event, const Cell* block, int32_t offset, const Cell* value, const Cell* ref) {
    if (!(trace_mask & event)) return;
    if (block && (node_buffer(series_node(block))->flags & SER_LIBRARY_FLAG)) return;
    uint32_t code = uint32_t(__builtin_ctz(event));
    StackScope scope;
    uint32_t base = stack_index_of(vstack.base), top = stack_index_of(vstack.top);
    Cell* args = stack_push();
    *args = event_word(code);
    Cell* blk = stack_push();
    if (block) { *blk = *block; series_set_index(blk, 0); } else set_none(blk);
    Cell* off = stack_push();
    set_integer(off, offset);
    Cell* v = stack_push();
    if (value) *v = *value; else set_none(v);
    Cell* r = stack_push();
    if (ref) *r = *ref; else set_none(r);
    Cell* frame = stack_push();
    cell_init(frame, T_PAIR);
    pair_set_x(frame, int32_t(base));
    pair_set_y(frame, int32_t(top));
    Cell* fn = stack_push_copy(&trace_callback);
    // An exit already on its way (a return reported by epilog and exit) is
    // the traced code's, not the callback's: it goes on after the callback,
    // whose own returns and throws must not replace its value.
    uint32_t pending = pending_exit;
    Cell* kept = stack_push_copy(exit_value());
    stack_push_copy(exit_name());
    pending_exit = 0;
    trace_switch = false;
    try {
        call_with_args(fn, args, 6);
    } catch (...) {
        trace_switch = trace_running;
        throw;
    }
    trace_switch = trace_running;
    if (pending_exit) exit_as_exception();  // the callback stops the traced code
    pending_exit = pending;
    *exit_value() = kept[0];
    *exit_name() = kept[1];
}

// ------------------------------------------------------------------ raised errors

void error_mark_raised(Cell* error) {
    Cell* where = error_field(error, ERR_FIELD_WHERE);
    if (cell_is(where, T_NONE)) {
        Cell w;
        current_call_word(&w);
        *error_field(error, ERR_FIELD_WHERE) = w;
    }
    Cell* stack = error_field(error, ERR_FIELD_STACK);
    if (!cell_is(stack, T_BLOCK)) set_integer(stack, int32_t(frame_depth()));
}

void error_trace_raised(Cell* error) {
    if (!trace_switch) return;
    StackScope scope;
    Cell* copy = stack_push_copy(error);
    trace_event(TRACE_ERROR, nullptr, -1, copy, nullptr);
    *error = *copy;
}

}  // namespace tev

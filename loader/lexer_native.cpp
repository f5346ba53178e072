// The transcode native: its refinements, and the /trace callback that receives the
// lexer events as calls of a language function.
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "loader/lexer.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

constexpr const char* event_names[] = {"prescan", "scan", "load", "open", "close", "error"};

int32_t event_symbol(int bit) {
    static int32_t symbols[6] = {};
    if (!symbols[bit]) symbols[bit] = symbol_from_cstring(event_names[bit]);
    return symbols[bit];
}

// A callback whose body starts with a block of event words hears only those.
uint32_t callback_event_mask(const Cell* fn) {
    if (!cell_is(fn, T_FUNCTION) || !fn->w3) return LEX_ALL_EVENTS;
    int32_t wanted[6];
    for (int bit = 0; bit < 6; ++bit) wanted[bit] = symbol_resolve_alias(event_symbol(bit));
    const Cell* body = node_buffer(fn->w3)->cells();  // cell 0 of the function's `more` series
    if (!cell_is(body, T_BLOCK) || block_length(body) == 0) return LEX_ALL_EVENTS;
    const Cell* first = block_at(body, 0);
    if (!cell_is(first, T_BLOCK) || block_length(first) == 0) return LEX_ALL_EVENTS;
    uint32_t mask = 0;
    for (uint32_t i = 0, n = block_length(first); i < n; ++i) {
        const Cell* w = block_at(first, i);
        if (!cell_is(w, T_WORD)) continue;
        int32_t s = symbol_resolve_alias(int32_t(w->w2));
        for (int bit = 0; bit < 6; ++bit)
            if (s == wanted[bit]) mask |= 1u << bit;
    }
    return mask;
}

struct Trace {
    const Cell* fn;   // on the value stack: the native's argument
    const Cell* src;
};

// Calls the function with event, input (at the lexer's position), type, line and
// token (the value for load, else the pair of the token's start and end).
bool call_trace(void* context, LexEventInfo& info) {
    auto* trace = static_cast<Trace*>(context);
    StackScope scope;
    Cell* args = stack_push();
    for (int i = 1; i < 5; ++i) stack_push();
    int bit = __builtin_ctz(uint32_t(info.event));
    args[0] = word_from_symbol(event_symbol(bit));
    args[1] = *trace->src;
    args[1].w1 = series_index(trace->src) + info.index;
    set_none(&args[2]);
    if (info.type != T_NONE_ID) {
        if (type_names[info.type].name) set_datatype(&args[2], info.type);  // else none until it registers
    } else {
        args[2] = word_from_symbol(symbol_from_cstring(info.exit_name));
    }
    set_integer(&args[3], info.line);
    if (info.value) {
        args[4] = *info.value;
    } else {
        cell_init(&args[4], T_PAIR);
        args[4].w2 = info.start;
        args[4].w3 = info.end;
    }
    // The callback moves the lexer by setting its input argument to another
    // position of the same series.
    Cell* input_after = stack_push_copy(&args[1]);
    Cell* result = call_with_args_reading(trace->fn, args, 5, 1, input_after);
    if (pending_exit) exit_as_exception();
    if (cell_type(input_after) == cell_type(trace->src) && series_node(input_after) == series_node(trace->src) &&
        input_after->w1 != args[1].w1) {
        uint32_t from = series_index(trace->src);
        info.index = input_after->w1 > from ? input_after->w1 - from : 0;
    }
    return is_truthy(result);
}

// transcode src /next /one /prescan /scan /part length /into dst /trace callback
void native_transcode(NativeCall& c) {
    enum { NEXT, ONE, PRESCAN, SCAN, PART, INTO, TRACE };
    TypeId t = cell_type(c.args);
    if (t != T_STRING && t != T_BINARY) raise_error(err::script::invalid_arg, c.args);
    TranscodeArgs a;
    a.src = c.args;
    a.next = c.has(NEXT);
    a.one = c.has(ONE);
    a.prescan = c.has(PRESCAN);
    a.scan = c.has(SCAN);
    a.part = c.ref_arg(PART);
    a.into = c.ref_arg(INTO);
    if (a.into && !cell_is(a.into, T_BLOCK) && !cell_is(a.into, T_PAREN))
        raise_error(err::script::invalid_arg, a.into);
    Trace trace{c.ref_arg(TRACE), c.args};
    // The callback is called with the lexer's five event arguments: only a
    // function! can take them (none is no callback).
    if (trace.fn && !cell_is(trace.fn, T_NONE) && !cell_is(trace.fn, T_FUNCTION))
        raise_with_call_word_type(err::script::expect_arg, cell_type(trace.fn), "callback");
    LexHook hook{&call_trace, &trace, LEX_ALL_EVENTS};
    if (trace.fn && !cell_is(trace.fn, T_NONE)) {
        hook.event_mask = callback_event_mask(trace.fn);
        a.hook = &hook;
    }
    // The source stays readable until the end: the result goes in its cell last.
    transcode_call(c.result(), a);
}

}  // namespace

void natives_lexer_entries() {
    static const NativeEntry entries[] = {{"transcode", native_transcode}};
    add_native_entries(entries, 1);
}

}  // namespace tev

// Control natives: conditionals, loops, switch and case, try and catch, and the
// non-local exits break, continue, return, exit and throw.
//
// A non-local exit is checked where it is raised: `break` looks for a loop frame,
// `return` for a function frame, `throw` for a catch frame, none of them crossing a
// try/all frame, so the error for a missing target names the call that raised it
// and leaves the stacks as they were. The exit itself then travels as a pending
// code (see interpreter.h).
#include <cmath>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "interpreter/trace.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== block evaluation

// Evaluates a block; copies its value into *result. Returns false when an exit is
// pending (the stack top is then back at where it was).
static bool do_into(const Cell* block, Cell* result) {
    Cell* mark = vstack.top;
    Cell* r = eval_block(block);
    if (pending_exit) {
        vstack.top = mark;
        return false;
    }
    *result = *r;
    vstack.top = mark;
    return true;
}

// A loop marks a loop frame for the time of its iterations.
struct LoopFrame {
    uint32_t depth;
    LoopFrame() : depth(frame_depth()) { frame_push(FRAME_LOOP, 0, 0, 0); }
    ~LoopFrame() { if (frame_depth() > depth) frames_unwind_to(depth); }
};

// ================================================================== conditionals

void native_if(NativeCall& c) {
    if (!is_truthy(c.args)) { result_none(c); return; }
    Cell body = c.args[1];
    do_into(&body, c.args);
}

void native_unless(NativeCall& c) {
    if (is_truthy(c.args)) { result_none(c); return; }
    Cell body = c.args[1];
    do_into(&body, c.args);
}

void native_either(NativeCall& c) {
    Cell body = is_truthy_strict(c.args) ? c.args[1] : c.args[2];
    do_into(&body, c.args);
}

void native_any(NativeCall& c) {
    Cell* block = c.args;
    uint32_t i = series_index(block);
    for (;;) {
        if (i >= node_buffer(series_node(block))->count()) break;
        Cell* mark = vstack.top;
        i = eval_next(block, i);
        if (pending_exit) return;
        if (is_truthy(mark)) {
            *c.args = *mark;
            vstack.top = c.args + 1;
            return;
        }
        vstack.top = mark;
    }
    result_none(c);
}

void native_all(NativeCall& c) {
    Cell* block = c.args;
    uint32_t i = series_index(block);
    uint32_t count = node_buffer(series_node(block))->count();
    if (i >= count) { result_none(c); return; }
    Cell* last = stack_push();
    for (;;) {
        if (i >= node_buffer(series_node(block))->count()) break;
        Cell* mark = vstack.top;
        i = eval_next(block, i);
        if (pending_exit) return;
        if (!is_truthy(mark)) { result_none(c); return; }
        *last = *mark;
        vstack.top = mark;
    }
    *c.args = *last;
}

// ================================================================== loops

// A loop count: integers as they are, floats truncated toward zero; NaN and
// values beyond 32 bits are out of range.
static int64_t loop_count(const Cell* v) {
    if (cell_is(v, T_INTEGER)) return get_integer(v);
    double d = get_float(v);
    if (!(d > -2147483649.0 && d < 2147483648.0)) raise_error(err::script::out_of_range, v);
    return int64_t(d);
}

void native_while(NativeCall& c) {
    Cell cond = c.args[0], body = c.args[1];
    Cell* held = stack_push_copy(&cond);
    stack_push_copy(&body);
    Cell* scratch = stack_push();
    LoopFrame loop;
    for (;;) {
        Cell* mark = vstack.top;
        Cell* r = eval_block_catching(held);
        if (!r) {
            if (pending_exit == THROW_BREAK || pending_exit == THROW_CONTINUE) {
                pending_exit = 0;
                set_unset(exit_value());
                raise_error(err::throw_::while_cond);
            }
            return;
        }
        bool go = is_truthy_strict(r);
        vstack.top = mark;
        if (!go) break;
        BodyOutcome o = run_loop_body(held + 1, scratch);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
    }
    result_unset(c);
}

// The body's value is the condition; after continue it is not tested.
void native_until(NativeCall& c) {
    Cell body = c.args[0];
    Cell* held = stack_push_copy(&body);
    Cell* result = stack_push();
    LoopFrame loop;
    for (;;) {
        set_unset(result);
        BodyOutcome o = run_loop_body(held, result);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
        if (o == BODY_NEXT && is_truthy_strict(result)) break;
    }
    *c.args = *result;
}

void native_loop(NativeCall& c) {
    int64_t n = loop_count(c.args);
    if (n <= 0) { result_none(c); return; }
    Cell body = c.args[1];
    Cell* held = stack_push_copy(&body);
    Cell* result = stack_push();
    LoopFrame loop;
    for (int64_t k = 0; k < n; ++k) {
        BodyOutcome o = run_loop_body(held, result);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
    }
    *c.args = *result;
}

void native_repeat(NativeCall& c) {
    int64_t n = loop_count(c.args + 1);
    if (n <= 0) { result_none(c); return; }
    Cell* word = c.args;
    Cell* body = c.args + 2;
    Cell* result = stack_push();
    Cell* counter = stack_push();
    LoopFrame loop;
    for (int64_t k = 1; k <= n; ++k) {
        set_integer(counter, int32_t(k));
        word_assign(word, counter);
        BodyOutcome o = run_loop_body(body, result);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
    }
    *c.args = *result;
}

void native_forever(NativeCall& c) {
    Cell* body = c.args;
    Cell* result = stack_push();
    LoopFrame loop;
    for (;;) {
        BodyOutcome o = run_loop_body(body, result);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
    }
    *c.args = *result;
}

// ------------------------------------------------------------------ series walking

static uint32_t series_count(const Cell* s) {
    if (cell_is(s, T_IMAGE)) return image_pixel_count(s);
    SeriesBuffer* b = node_buffer(series_node(s));
    return b->count();
}

// Value k (from the head) of a walked series, into *out (none past the tail).
static void series_pick(const Cell* s, uint32_t k, Cell* out) {
    if (k >= series_count(s)) { set_none(out); return; }
    TypeId t = cell_type(s);
    if (type_is_list(t)) { *out = node_buffer(series_node(s))->cells()[k]; return; }
    if (type_is_string(t)) {
        Cell at = *s;
        series_set_index(&at, 0);
        set_char(out, string_char_at(&at, k));
        return;
    }
    if (t == T_BINARY) { set_integer(out, node_buffer(series_node(s))->head_ptr()[k]); return; }
    if (t == T_IMAGE) { image_pixel_at(s, k, out); return; }
    raise_error(err::internal::not_done);
}

static bool walkable(TypeId t) { return type_is_list(t) || type_is_string(t) || t == T_BINARY; }

// Sets the loop words from position `pos`; returns how many values a step takes.
static uint32_t set_loop_words(const Cell* words, const Cell* series, uint32_t pos) {
    Cell* value = stack_push();
    uint32_t step;
    if (cell_is(words, T_BLOCK)) {
        step = block_length(words);
        for (uint32_t k = 0; k < step; ++k) {
            Cell w = *block_at(words, k);
            if (!type_is_word(cell_type(&w)) || cell_is(&w, T_REFINEMENT) || cell_is(&w, T_ISSUE))
                raise_error(err::script::invalid_arg, words);
            series_pick(series, pos + k, value);
            word_assign(&w, value);
        }
    } else {
        step = 1;
        series_pick(series, pos, value);
        word_assign(words, value);
    }
    vstack.top = value;
    return step;
}

void native_foreach(NativeCall& c) {
    Cell* words = c.args;
    Cell* series = c.args + 1;
    Cell* body = c.args + 2;
    if (cell_is(series, T_MAP)) {
        // A map is walked entry cell by entry cell: two words take one key and its value.
        if (!cell_is(words, T_BLOCK)) raise_error(err::script::invalid_arg, words);
        if (block_length(words) == 0) raise_error(err::script::invalid_arg, words);
        Cell* result = stack_push();
        LoopFrame loop;
        uint32_t position = 0;
        while (map_foreach_next(series, words, &position, word_assign)) {
            BodyOutcome o = run_loop_body(body, result);
            if (o == BODY_BREAK) break;
            if (o == BODY_LEAVE) return;
        }
        *c.args = *result;
        return;
    }
    if (!walkable(cell_type(series)) && !cell_is(series, T_IMAGE)) raise_no_action(cell_type(series), int(Act::pick));
    if (cell_is(words, T_BLOCK) && block_length(words) == 0) raise_error(err::script::invalid_arg, words);
    Cell* result = stack_push();
    LoopFrame loop;
    uint32_t pos = series_index(series);
    // One word over a block, the common walk, takes each value straight from the buffer.
    bool one_word_over_block = !cell_is(words, T_BLOCK) && type_is_list(cell_type(series));
    Cell* value = stack_push();
    auto length = [&] {
        return one_word_over_block ? node_buffer(series_node(series))->cell_count() : series_count(series);
    };
    while (pos < length()) {
        if (one_word_over_block) {
            *value = node_buffer(series_node(series))->cells()[pos++];
            word_assign(words, value);
        } else {
            pos += set_loop_words(words, series, pos);
        }
        BodyOutcome o = run_loop_body(body, result);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
    }
    *c.args = *result;
}

void native_forall(NativeCall& c) {
    Cell* word = c.args;
    Cell* body = c.args + 1;
    Cell* start = stack_push_copy(word_value_cell(word));
    TypeId t = cell_type(start);
    if (!walkable(t) && t != T_VECTOR && t != T_IMAGE) {
        Cell w, type, arg;
        current_call_word(&w);
        set_datatype(&type, t);
        arg = word_from_cstring("word");
        raise_error(err::script::expect_arg, &w, &type, &arg);
    }
    Cell* result = stack_push();
    Cell* pos = stack_push_copy(start);
    LoopFrame loop;
    while (series_index(pos) < series_count(pos)) {
        BodyOutcome o = run_loop_body(body, result);
        if (o == BODY_LEAVE) return;
        if (o == BODY_BREAK) { *c.args = *result; return; }
        *pos = *word_value_cell(word);
        if (!type_is_series(cell_type(pos)) || series_node(pos) != series_node(start))
            raise_error(err::script::bad_loop_series, pos);
        series_set_index(pos, series_index(pos) + 1);
        word_assign(word, pos);
    }
    word_assign(word, start);
    *c.args = *result;
}

void native_remove_each(NativeCall& c) {
    Cell* words = c.args;
    Cell* data = c.args + 1;
    Cell* body = c.args + 2;
    if (!walkable(cell_type(data))) raise_no_action(cell_type(data), int(Act::remove));
    if (cell_is(words, T_BLOCK) && block_length(words) == 0) raise_error(err::script::invalid_arg, words);
    Cell* result = stack_push();
    Cell* at = stack_push_copy(data);
    LoopFrame loop;
    while (series_index(at) < series_count(at)) {
        uint32_t pos = series_index(at);
        uint32_t step = set_loop_words(words, at, pos);
        BodyOutcome o = run_loop_body(body, result);
        if (o == BODY_BREAK) break;
        if (o == BODY_LEAVE) return;
        if (is_truthy(result)) {
            uint32_t count = series_count(at);
            uint32_t n = pos + step > count ? count - pos : step;
            // Through the remove action, so that an owner hears of the change.
            Cell args[2];
            args[0] = *at;
            set_integer(&args[1], int32_t(n));
            int8_t refs[2] = {1, -1};
            action_call(Act::remove, args, 2, refs, 2);
            vstack.top = at + 1;
        } else {
            series_set_index(at, pos + step);
        }
    }
    *c.args = *data;
}

// ================================================================== switch, case

void native_switch(NativeCall& c) {
    Cell* value = c.args;
    Cell* cases = c.args + 1;
    uint32_t n = block_length(cases);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(cases, k);
        if (!compare_values(value, &v, CMP_EQUAL)) continue;
        for (uint32_t j = k + 1; j < n; ++j) {
            Cell b = *block_at(cases, j);
            if (cell_is(&b, T_BLOCK)) {
                do_into(&b, c.args);
                return;
            }
        }
        result_none(c);
        return;
    }
    if (c.has(0)) {
        Cell b = *c.ref_arg(0);
        do_into(&b, c.args);
        return;
    }
    result_none(c);
}

void native_case(NativeCall& c) {
    bool all = c.has(0);
    Cell* cases = stack_push_copy(c.args);
    Cell* result = stack_push();
    bool found = false;
    uint32_t i = series_index(cases);
    if (i >= series_count(cases)) { result_none(c); return; }
    while (i < series_count(cases)) {
        if (all) found = false;
        Cell* mark = vstack.top;
        i = eval_next(cases, i);
        if (pending_exit) return;
        if (i >= series_count(cases)) {
            Cell w;
            w = word_from_cstring("case");
            raise_error(err::script::need_value, &w);
        }
        bool truthy = is_truthy_strict(mark);
        vstack.top = mark;
        if (!truthy) { ++i; continue; }
        Cell next = node_buffer(series_node(cases))->cells()[i];
        if (cell_is(&next, T_BLOCK)) {
            if (!do_into(&next, result)) return;
            ++i;
        } else {
            i = eval_next(cases, i);
            if (pending_exit) return;
            *result = *mark;
            vstack.top = mark;
        }
        found = true;
        if (!all) break;
    }
    if (!found) set_none(result);
    *c.args = *result;
}

// ================================================================== try, catch

// try/keep: the error's stack field becomes the block of the function calls
// that were active where it was raised. The frame records above the current top
// are still intact: the walk reads them before anything pushes a frame again.
static void capture_error_stack(Cell* error) {
    Cell* marker = error_field(error, ERR_FIELD_STACK);
    if (!cell_is(marker, T_INTEGER)) return;
    uint32_t end = uint32_t(get_integer(marker));
    if (end > FRAME_STACK_RECORDS) return;
    std::vector<CallFrame> frames(fstack.begin, fstack.begin + end);
    Cell* calls = block_push_new(20);
    Cell* word = stack_push();
    for (const CallFrame& f : frames) {
        if (!f.symbol) continue;
        word_from_symbol_in(word, f.symbol, 0);
        if (!cell_is(word_value_cell(word), T_FUNCTION)) continue;
        block_append(calls, word);
    }
    *error_field(error, ERR_FIELD_STACK) = *calls;
    vstack.top = calls;
}

void native_try(NativeCall& c) {
    bool all = c.has(0);
    Cell body = c.args[0];
    uint32_t depth = frame_depth();
    Cell* mark = vstack.top;
    Cell* saved_eval = stack_push_copy(current_evaluation());
    mark = vstack.top;
    frame_push(all ? FRAME_TRY_ALL : FRAME_TRY, 0, 0, 0);
    uint32_t thrown = 0;
    if (Cell* r = eval_block_trying(&body, &thrown)) {
        if (pending_exit) {
            frames_unwind_to(depth);
            vstack.top = mark;
            if (!all) return;
            // try/all stops every exit; its value is the result.
            pending_exit = 0;
            *c.args = *exit_value();
            set_unset(exit_value());
            return;
        }
        *c.args = *r;
    } else {
        frames_unwind_to(depth);
        vstack.top = mark;
        *current_evaluation() = *saved_eval;
        if (thrown == THROW_ERROR) {
            *c.args = *thrown_value();
            if (c.has(1) && cell_is(c.args, T_ERROR)) capture_error_stack(c.args);
        } else if (all) {
            *c.args = *exit_value();
            set_unset(exit_value());
        } else {
            pending_exit = thrown;
            return;
        }
    }
    frames_unwind_to(depth);
    vstack.top = c.args + 1;
}

// True when a catch frame lies below the top without a try/all frame between.

static bool catch_name_matches(const Cell* names, const Cell* thrown) {
    if (!cell_is(thrown, T_WORD)) return false;
    int32_t s = symbol_resolve_alias(word_symbol(thrown));
    if (cell_is(names, T_BLOCK)) {
        uint32_t n = block_length(names);
        for (uint32_t k = 0; k < n; ++k)
            if (symbol_resolve_alias(word_symbol(block_at(names, k))) == s) return true;
        return false;
    }
    return symbol_resolve_alias(word_symbol(names)) == s;
}

// The console stops its halt requests with a catch of this name around user
// code: a throw it would not take must still fail where it was thrown, as it
// does with no console around it.
static bool is_console_name(const Cell* names) {
    return cell_is(names, T_WORD) &&
           symbol_resolve_alias(word_symbol(names)) == symbol_resolve_alias(symbol_from_cstring("console"));
}

// Whether a catch below frame `from` would take a throw of this name (null: none).
static bool catch_frame_below(uint32_t from, const Cell* name) {
    bool console_named = name && is_console_name(name);
    for (uint32_t k = from; k-- > 0;) {
        const CallFrame* f = frame_at(k);
        if (f->kind == FRAME_TRY_ALL) return false;
        if (f->kind != FRAME_CATCH) continue;
        if ((f->flags & FRAME_CONSOLE_ONLY) && !console_named) continue;
        return true;
    }
    return false;
}

void native_catch(NativeCall& c) {
    Cell body = c.args[0];
    if (c.has(0)) {
        Cell* names = c.ref_arg(0);
        if (cell_is(names, T_BLOCK)) {
            uint32_t n = block_length(names);
            for (uint32_t k = 0; k < n; ++k)
                if (!cell_is(block_at(names, k), T_WORD)) {
                    Cell w;
                    w = word_from_cstring("name");
                    raise_error(err::script::invalid_refine_arg, &w, names);
                }
        }
    }
    uint32_t depth = frame_depth();
    Cell* mark = vstack.top;
    frame_push(FRAME_CATCH, c.has(0) && is_console_name(c.ref_arg(0)) ? FRAME_CONSOLE_ONLY : 0, 0, 0);
    Cell* r = nullptr;
    try {
        r = eval_block(&body);
    } catch (const LanguageThrow& t) {
        exit_from_exception(t);
    }
    frames_unwind_to(depth);
    if (!pending_exit) {
        *c.args = *r;
        vstack.top = c.args + 1;
        return;
    }
    vstack.top = mark;
    if (pending_exit != THROW_THROW) return;
    bool caught = !c.has(0) || catch_name_matches(c.ref_arg(0), exit_name());
    if (caught) {
        pending_exit = 0;
        *c.args = *exit_value();
        set_unset(exit_value());
        set_none(exit_name());
        vstack.top = c.args + 1;
        trace_event(TRACE_CATCH, nullptr, -1, c.args, nullptr);
        return;
    }
    if (!catch_frame_below(frame_depth() - 1, exit_name())) {
        pending_exit = 0;
        Cell v = *exit_value();
        raise_error(err::throw_::throw_, &v);
    }
}

// ================================================================== exits

// The frame below the native's own one where an exit of `kind` lands, or -1 when
// a try/all frame or the bottom comes first.
static int64_t find_exit_frame(uint8_t kind, uint8_t flag) {
    uint32_t top = frame_depth();
    for (uint32_t k = top - 1; k-- > 0;) {
        const CallFrame* f = frame_at(k);
        if (f->kind == FRAME_TRY_ALL) return -1;
        if (flag ? (f->flags & flag) != 0 : f->kind == kind) return k;
    }
    return -1;
}

void native_break(NativeCall& c) {
    if (find_exit_frame(FRAME_LOOP, 0) < 0) raise_error(err::throw_::break_);
    if (c.has(0)) *exit_value() = *c.ref_arg(0);
    else set_unset(exit_value());
    pending_exit = THROW_BREAK;
}

void native_continue(NativeCall& c) {
    if (find_exit_frame(FRAME_LOOP, 0) < 0) raise_error(err::throw_::continue_);
    set_unset(exit_value());
    pending_exit = THROW_CONTINUE;
}

void native_return(NativeCall& c) {
    if (find_exit_frame(0, FRAME_IN_FUNCTION) < 0) raise_error(err::throw_::return_);
    *exit_value() = c.args[0];
    pending_exit = THROW_RETURN;
}

void native_exit(NativeCall& c) {
    if (find_exit_frame(0, FRAME_IN_FUNCTION) < 0) raise_error(err::throw_::return_);
    set_unset(exit_value());
    pending_exit = THROW_EXIT;
}

void native_throw(NativeCall& c) {
    if (!catch_frame_below(frame_depth() - 1, c.ref_arg(0))) {
        Cell v = c.args[0];
        raise_error(err::throw_::throw_, &v);
    }
    trace_event(TRACE_THROW, nullptr, -1, c.args, c.ref_arg(0));
    *exit_value() = c.args[0];
    if (c.has(0)) *exit_name() = *c.ref_arg(0);
    else set_unset(exit_name());
    pending_exit = THROW_THROW;
}


}  // namespace tev

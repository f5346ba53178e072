// Evaluation, function-making and binding natives: do, reduce, compose, apply, get,
// set, unset, value?, context?, bind, in, func, function, does, has, construct, extend.
#include <cstring>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/word.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "interpreter/trace.h"
#include "runtime/context_table.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== do

// Turns source text into a block; installed by the lexer.
static TranscodeFn transcode_hook = nullptr;
void set_transcode_hook(TranscodeFn fn) { transcode_hook = fn; }

static void do_value(NativeCall& c);

// /trace runs the evaluation under a trace callback, unless a trace run is
// already under way (then it is ignored).
static void native_do(NativeCall& c) {
    if (!c.has(3) || !trace_start(c.ref_arg(3))) {
        do_value(c);
        return;
    }
    try {
        do_value(c);
    } catch (...) {
        trace_stop();
        throw;
    }
    trace_stop();
}

// /expand: the library's preprocessor rewrites the block in place first, with
// the build configuration as its job, as the preprocessor's own entry does.
static void expand_block(const Cell* block) {
    int32_t expand_sym = symbol_from_cstring("expand");
    int32_t build_sym = symbol_from_cstring("build");
    int32_t config_sym = symbol_from_cstring("config");
    Cell pre_word = word_from_cstring("preprocessor");
    Cell system_word = word_from_cstring("system");
    Cell* pre = word_value_cell(&pre_word);
    Cell* fn = cell_is(pre, T_OBJECT) ? object_field(pre, expand_sym) : nullptr;
    if (!fn || !cell_is(fn, T_FUNCTION)) raise_error(err::internal::not_done);
    Cell* args = stack_push_copy(fn);
    stack_push_copy(block);
    Cell* job = stack_push();
    set_none(job);
    Cell* system = word_value_cell(&system_word);
    Cell* build = cell_is(system, T_OBJECT) ? object_field(system, build_sym) : nullptr;
    Cell* config = build && cell_is(build, T_OBJECT) ? object_field(build, config_sym) : nullptr;
    if (config && cell_is(config, T_OBJECT)) *job = *config;
    call_with_args(args, args + 1, 2);
}

static void do_value(NativeCall& c) {
    Cell* value = c.args;
    if (c.has(2)) {
        // /next: evaluate one expression and move the position word past it.
        Cell* word = c.ref_arg(2);
        if (!type_is_list(cell_type(value))) raise_error(err::script::invalid_arg, value);
        uint32_t count = node_buffer(series_node(value))->count();
        uint32_t index = series_index(value) > count ? count : series_index(value);
        Cell* mark = vstack.top;
        uint32_t next = eval_next(value, index);
        if (pending_exit) return;
        Cell position = *value;
        position.w1 = next;
        word_assign(word, &position);
        *c.args = *mark;
        return;
    }
    switch (cell_type(value)) {
    case T_BLOCK: case T_PAREN: case T_HASH: {
        if (c.has(0)) {
            expand_block(value);
            if (pending_exit) return;
            value = c.args;
        }
        Cell block = *value;
        uint32_t count = node_buffer(series_node(&block))->count();
        if (series_index(&block) > count) block.w1 = count;
        Cell* r = eval_block(&block);
        if (pending_exit) return;
        *c.args = *r;
        return;
    }
    case T_STRING: {
        if (!transcode_hook) raise_error(err::internal::not_done);
        Cell* block = stack_push();
        transcode_hook(value, block);
        Cell* r = eval_block(block);
        if (pending_exit) return;
        *c.args = *r;
        return;
    }
    case T_ERROR:
        raise_error_value(value);
    case T_FILE: case T_URL: {
        // Scripts run through the library's do-file, which keeps the header,
        // the script object and the current directory.
        Cell runner_word = word_from_cstring("do-file");
        Cell* args = stack_push();
        *args = *word_value_cell(&runner_word);
        if (!cell_is(args, T_FUNCTION)) raise_error(err::internal::not_done);
        stack_push_copy(value);
        set_none(stack_push());
        if (c.has(1)) stack_push_copy(c.ref_arg(1));
        else set_none(stack_push());
        Cell* r = call_with_args(args, args + 1, 3);
        if (pending_exit) return;
        *c.args = *r;
        return;
    }
    default: {
        Cell* r = eval_value(value);
        if (pending_exit) return;
        *c.args = *r;
    }
    }
}

// ================================================================== reduce, compose

// Inserts the values of `block` at out's position (appended when out is at its
// tail); returns out moved past them, or out as it was when appended.
static void insert_into(Cell* out, const Cell* values, bool only_one) {
    Cell args[2];
    args[0] = *out;
    args[1] = *values;
    int8_t refs[3] = {-1, int8_t(only_one ? 0 : -1), -1};
    Cell* r = action_call(Act::insert, args, 2, refs, 3);
    *out = *r;
}

static void native_reduce(NativeCall& c) {
    Cell* value = c.args;
    TypeId t = cell_type(value);
    if (t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_FUNCTION || t == T_ROUTINE) return;
    if (t != T_BLOCK && t != T_PAREN) {
        Cell* r = eval_value(value);
        if (pending_exit) return;
        if (c.has(0)) {
            Cell* out = c.ref_arg(0);
            Cell* one = block_push_cells(r, 1);
            insert_into(out, one, false);
            *c.args = *out;
        } else {
            *c.args = *r;
        }
        return;
    }
    Cell* result = block_push_new(block_length(value));
    uint32_t i = series_index(value);
    while (i < node_buffer(series_node(value))->count()) {
        Cell* mark = vstack.top;
        i = eval_next(value, i);
        if (pending_exit) return;
        cell_clear_flag(mark, FLAG_NEW_LINE);
        block_append(result, mark);
        vstack.top = mark;
    }
    if (c.has(0)) {
        Cell* out = c.ref_arg(0);
        insert_into(out, result, false);
        *c.args = *out;
        return;
    }
    *c.args = *result;
}

// The blocks a compose/deep walk is inside, innermost first. Only this walk's
// own chain tells a block that contains itself: the shared cycle guard would
// also hold the blocks while their parens run, so a recursive function that
// composes its own body, or a mold or compare of the block from a paren,
// would see a cycle where there is none.
struct ComposeLevel {
    const Cell* block;  // on the value stack, kept current by the collector
    const ComposeLevel* outer;
    uint32_t depth;
};

static void compose_block(const Cell* src_in, bool deep, bool only, Cell* out, const ComposeLevel* outer) {
    Cell* src = stack_push_copy(src_in);
    for (const ComposeLevel* l = outer; l; l = l->outer)
        if (series_node(l->block) == series_node(src)) raise_error(err::internal::no_cycle);
    ComposeLevel level{src, outer, outer ? outer->depth + 1 : 1};
    if (level.depth >= CYCLE_STACK_SIZE) raise_error(err::internal::too_deep);
    uint32_t n = block_length(src);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(src, k);
        if (cell_is(&v, T_PAREN)) {
            Cell* mark = vstack.top;
            Cell* r = eval_block(&v);
            if (pending_exit) return;
            if (cell_is(r, T_UNSET)) { vstack.top = mark; continue; }
            if (cell_is(r, T_BLOCK) && !only) {
                uint32_t m = block_length(r);
                for (uint32_t j = 0; j < m; ++j) {
                    Cell e = *block_at(r, j);
                    block_append(out, &e);
                }
            } else {
                block_append(out, r);
            }
            vstack.top = mark;
        } else if (deep && cell_is(&v, T_BLOCK)) {
            Cell* inner = block_push_new(block_length(&v));
            compose_block(&v, deep, only, inner, &level);
            if (pending_exit) return;
            block_append(out, inner);
            vstack.top = inner;
        } else {
            block_append(out, &v);
        }
        n = block_length(src);
    }
    vstack.top = src;
}

static void native_compose(NativeCall& c) {
    Cell* value = c.args;
    if (!cell_is(value, T_BLOCK)) return;  // anything else composes to itself
    Cell* result = block_push_new(block_length(value));
    compose_block(value, c.has(0), c.has(1), result, nullptr);
    if (pending_exit) return;
    if (c.has(2)) {
        Cell* out = c.ref_arg(2);
        insert_into(out, result, false);
        *c.args = *out;
        return;
    }
    *c.args = *result;
}

// ================================================================== apply

static void native_apply(NativeCall& c) {
    Cell* target = c.args;
    Cell* fn = stack_push();
    Cell* word = nullptr;
    Cell* refinements = nullptr;
    if (cell_is(target, T_WORD)) {
        *fn = *word_value_cell(target);
        word = target;
    } else if (cell_is(target, T_PATH)) {
        Cell first = *block_at(target, 0);
        word = stack_push_copy(&first);
        *fn = *word_value_cell(word);
        refinements = stack_push_copy(target);
        refinements->header = T_BLOCK;
        refinements->w1 += 1;
    } else {
        *fn = *target;
    }
    TypeId t = cell_type(fn);
    if (t != T_FUNCTION && t != T_ACTION && t != T_NATIVE && t != T_ROUTINE && t != T_OP)
        raise_error(err::script::invalid_arg, fn);
    if (t == T_OP) fn->header = (fn->header >> 16) & 0xFF;  // called as a prefix function
    bool all = c.has(0), safer = c.has(1);
    Cell* reduced;
    if (!all) {
        // The argument values, reduced.
        reduced = block_push_new(block_length(c.args + 1));
        uint32_t i = series_index(c.args + 1);
        while (i < node_buffer(series_node(c.args + 1))->count()) {
            Cell* mark = vstack.top;
            i = eval_next(c.args + 1, i);
            if (pending_exit) return;
            block_append(reduced, mark);
            vstack.top = mark;
        }
    } else {
        // /all: every spec argument in order, each value evaluated when its turn
        // comes; a refinement takes a flag, then its arguments: with /safer an
        // inactive refinement's arguments are skipped without being evaluated.
        NodeRef cache = callable_spec_cache(fn);
        Cell* args = block_push_new(8);
        refinements = block_push_new(4);
        Cell* source = c.args + 1;
        uint32_t i = series_index(source);
        uint32_t entries = node_buffer(cache)->count();
        bool on = true;
        for (uint32_t e = 1; e < entries; ++e) {
            Cell entry = node_buffer(cache)->cells()[e];
            if (cell_is(&entry, T_INTEGER)) break;
            bool is_refinement = cell_is(&entry, T_REFINEMENT);
            bool more = i < node_buffer(series_node(source))->count();
            if (!is_refinement && !on && safer) {
                if (more) ++i;
                continue;
            }
            Cell* v = stack_push();
            if (more) {
                vstack.top = v;
                i = eval_next(source, i);
                if (pending_exit) return;
            } else if (is_refinement) {
                set_logic(v, false);
            } else {
                set_none(v);
            }
            if (is_refinement) {
                on = is_truthy(v);
                if (on) {
                    Cell r = word_from_symbol(int32_t(entry.w2));
                    r.header = T_REFINEMENT;
                    block_append(refinements, &r);
                }
            } else if (on) {
                block_append(args, v);
            }
            vstack.top = v;
        }
        // Values past the spec are still reduced, for their effects.
        while (i < node_buffer(series_node(source))->count()) {
            Cell* mark = vstack.top;
            i = eval_next(source, i);
            if (pending_exit) return;
            vstack.top = mark;
        }
        reduced = args;
    }
    Cell* r = call_quoted(fn, word, reduced, refinements);
    if (pending_exit) return;
    *c.args = *r;
}

// ================================================================== get, set

static void native_get(NativeCall& c) {
    Cell* w = c.args;
    TypeId t = cell_type(w);
    if (t == T_OBJECT) {
        Cell* values = object_values_block(w);
        *c.args = *values;
        return;
    }
    if (t == T_PATH || t == T_GET_PATH || t == T_SET_PATH || t == T_LIT_PATH) {
        *c.args = *path_get(w);
        return;
    }
    Cell v = *word_value_cell(w);
    if (cell_is(&v, T_UNSET) && !c.has(0)) raise_error(err::script::no_value, w);
    *c.args = v;
}

static void native_set(NativeCall& c) {
    Cell* target = c.args;
    Cell* value = c.args + 1;
    bool any = c.has(0), only = c.has(2), some = c.has(3);
    TypeId t = cell_type(target);
    if (cell_is(value, T_UNSET) && !any) raise_error(err::script::need_value, target);
    if (t == T_OBJECT) {
        object_set_words(target, value, any, only, some);
    } else if (t == T_BLOCK) {
        uint32_t n = block_length(target);
        for (uint32_t k = 0; k < n; ++k) {
            TypeId et = cell_type(block_at(target, k));
            if (!type_is_word(et) || et == T_REFINEMENT || et == T_ISSUE)
                raise_error(err::script::invalid_arg, block_at(target, k));
        }
        bool spread = cell_is(value, T_BLOCK) && !only;
        Cell* v = stack_push();
        for (uint32_t k = 0; k < n; ++k) {
            Cell w = *block_at(target, k);
            if (spread) {
                if (k < block_length(value)) *v = *block_at(value, k);
                else set_none(v);
            } else {
                *v = *value;
            }
            if (cell_is(v, T_UNSET) && !any) raise_error(err::script::need_value, &w);
            if (some && cell_is(v, T_NONE)) continue;
            word_assign(&w, v);
        }
    } else if (t == T_PATH || t == T_SET_PATH || t == T_GET_PATH || t == T_LIT_PATH) {
        path_set(target, value);
    } else {
        word_assign(target, value);
    }
    *c.args = *value;
}

static void native_unset(NativeCall& c) {
    Cell u;
    set_unset(&u);
    Cell* target = c.args;
    if (cell_is(target, T_WORD)) {
        word_assign(target, &u);
    } else {
        uint32_t n = block_length(target);
        for (uint32_t k = 0; k < n; ++k) {
            Cell w = *block_at(target, k);
            if (cell_is(&w, T_WORD)) word_assign(&w, &u);
        }
    }
    result_unset(c);
}

static void native_value_q(NativeCall& c) {
    Cell* v = c.args;
    if (!type_is_word(cell_type(v))) { result_logic(c, true); return; }
    Cell* value = word_value_cell(v);
    result_logic(c, !cell_is(value, T_UNSET));
}

static void native_context_q(NativeCall& c) {
    NodeRef ctx = c.args->w1;
    if (!ctx) { result_none(c); return; }
    Cell self = *context_self(ctx);
    if (cell_is(&self, T_OBJECT) || cell_is(&self, T_FUNCTION) || cell_is(&self, T_ERROR)) *c.args = self;
    else result_none(c);
}

// ================================================================== bind, in

static NodeRef context_of_target(const Cell* target) {
    TypeId t = cell_type(target);
    if (t == T_FUNCTION || t == T_OBJECT || t == T_ERROR || t == T_PORT) return target->w1;
    if (type_is_word(t)) {
        if (!target->w1) raise_error(err::script::not_defined, target);
        return target->w1;
    }
    raise_error(err::script::invalid_arg, target);
}

static void native_bind(NativeCall& c) {
    Cell* target = c.args;
    Cell* ctx_value = c.args + 1;
    NodeRef ctx = context_of_target(ctx_value);
    bool self_flag = cell_is(ctx_value, T_OBJECT);
    if (cell_is(target, T_BLOCK)) {
        if (c.has(0)) {
            Cell* copy = stack_push();
            block_copy_deep(target, copy);
            *target = *copy;
        }
        context_bind_block(target, ctx, self_flag);
        return;
    }
    context_bind_word(ctx, target);
}

static void native_in(NativeCall& c) {
    NodeRef ctx = context_of_target(c.args);
    Cell w = c.args[1];
    if (context_bind_word(ctx, &w) < 0) { result_none(c); return; }
    *c.args = w;
}

// ================================================================== function makers

static void make_function(NativeCall& c, Cell* spec, Cell* body) {
    uint32_t count = node_buffer(series_node(spec))->count();
    if (series_index(spec) > count) spec->w1 = count;
    count = node_buffer(series_node(body))->count();
    if (series_index(body) > count) body->w1 = count;
    uint32_t flags = function_validate_spec(spec);
    Cell* fn = function_push(spec, body, flags);
    *c.args = *fn;
}

static void native_func(NativeCall& c) { make_function(c, c.args, c.args + 1); }

static void native_function(NativeCall& c) {
    Cell* spec = block_push_cells(block_head(c.args), block_length(c.args));
    function_collect_locals(spec, c.args + 1);
    make_function(c, spec, c.args + 1);
}

static void native_does(NativeCall& c) {
    Cell* spec = block_push_new(1);
    make_function(c, spec, c.args);
}

static void native_has(NativeCall& c) {
    Cell* spec = block_push_new(block_length(c.args) + 1);
    Cell local = word_from_symbol(symbol_from_cstring("local"));
    local.header = T_REFINEMENT;
    block_append(spec, &local);
    uint32_t n = block_length(c.args);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(c.args, k);
        block_append(spec, &v);
    }
    make_function(c, spec, c.args + 1);
}

// ================================================================== objects

static void native_construct(NativeCall& c) {
    Cell* proto = c.has(0) ? c.ref_arg(0) : nullptr;
    Cell* obj = object_construct(c.args, proto, c.has(1));
    *c.args = *obj;
}

// A map takes the pairs of the spec; objects cannot grow.
static void native_extend(NativeCall& c) {
    if (!cell_is(c.args, T_MAP)) raise_error(err::internal::not_done);
    if (cell_is(c.args + 1, T_MAP)) {
        Cell args[2];
        set_datatype(&args[0], T_BLOCK);
        args[1] = c.args[1];
        c.args[1] = *action_call(Act::to, args, 2);
    }
    map_extend(c.args, c.args + 1, c.has(0));
}

void natives_eval_entries() {
    static const NativeEntry entries[] = {
        {"do", native_do}, {"reduce", native_reduce}, {"compose", native_compose}, {"apply", native_apply},
        {"get", native_get}, {"set", native_set}, {"unset", native_unset}, {"value?", native_value_q},
        {"context?", native_context_q}, {"bind", native_bind}, {"in", native_in}, {"func", native_func},
        {"function", native_function}, {"does", native_does}, {"has", native_has},
        {"construct", native_construct}, {"extend", native_extend},
    };
    add_native_entries(entries, int(sizeof entries / sizeof entries[0]));
}

}  // namespace tev

// function!: spec validation, making (with a context whose values live on the value
// stack while a call runs), local collection for `function`, routine! values, form, mold,
// compare, reflect.
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

static bool is_arg_word(TypeId t) { return t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD; }
static int32_t alias_of(const char* text) { return symbol_resolve_alias(symbol_from_cstring(text)); }

// ================================================================== spec validation

uint32_t function_validate_spec(const Cell* spec) {
    uint32_t n = block_length(spec);
    uint32_t flags = 0;
    bool return_seen = false, local_seen = false;
    int32_t local_sym = alias_of("local"), return_sym = alias_of("return");
    auto refuse = [&]() { raise_error(err::script::bad_func_def, spec); };
    uint32_t k = 0;
    if (n && cell_is(block_at(spec, 0), T_BLOCK)) {
        Cell attrs = *block_at(spec, 0);
        uint32_t m = block_length(&attrs);
        int32_t trace_sym = alias_of("trace"), no_trace_sym = alias_of("no-trace");
        for (uint32_t j = 0; j < m; ++j) {
            const Cell* a = block_at(&attrs, j);
            if (!cell_is(a, T_WORD)) refuse();
            int32_t s = symbol_resolve_alias(word_symbol(a));
            if (s == trace_sym) flags |= FUNCTION_TRACE;
            else if (s == no_trace_sym) flags |= FUNCTION_NO_TRACE;
        }
        k = 1;
    }
    for (; k < n; ++k) {
        Cell v = *block_at(spec, k);
        TypeId t = cell_type(&v);
        if (is_arg_word(t)) {
            if (t != T_WORD && local_seen) refuse();
            if (return_seen && !local_seen) refuse();
            if (k + 2 < n && cell_is(block_at(spec, k + 1), T_STRING) && cell_is(block_at(spec, k + 2), T_BLOCK))
                refuse();
            if (k + 1 < n && cell_is(block_at(spec, k + 1), T_BLOCK)) {
                Cell types = *block_at(spec, k + 1);
                uint32_t m = block_length(&types);
                for (uint32_t j = 0; j < m; ++j) {
                    Cell tv = *block_at(&types, j);
                    if (cell_is(&tv, T_WORD)) {
                        bool known;
                        typeset_mask_by_name(symbol_text(word_symbol(&tv)).c_str(), &known);
                        if (known) continue;
                        Cell* value = evaluation_hooks.word_value(&tv);
                        if (cell_is(value, T_UNSET)) raise_error(err::script::no_value, &tv);
                        tv = *value;
                    }
                    if (!cell_is(&tv, T_DATATYPE) && !cell_is(&tv, T_TYPESET) && !cell_is(&tv, T_WORD))
                        raise_error(err::script::invalid_type_spec, &tv);
                }
                ++k;
            }
        } else if (t == T_SET_WORD) {
            if (symbol_resolve_alias(word_symbol(&v)) != return_sym || return_seen || local_seen) refuse();
            return_seen = true;
            if (k + 1 >= n || !cell_is(block_at(spec, k + 1), T_BLOCK)) refuse();
            ++k;
            if (k + 1 < n) {
                TypeId after = cell_type(block_at(spec, k + 1));
                if (after != T_REFINEMENT && after != T_STRING) refuse();
            }
        } else if (t == T_REFINEMENT) {
            if (symbol_resolve_alias(word_symbol(&v)) == local_sym) local_seen = true;
            else if (local_seen || return_seen) refuse();
            if (k + 1 < n) {
                TypeId after = cell_type(block_at(spec, k + 1));
                if (!is_arg_word(after) && after != T_REFINEMENT && after != T_SET_WORD && after != T_STRING)
                    refuse();
            }
        } else if (t != T_STRING) {
            refuse();
        }
    }
    // Repeated argument words (through aliases).
    for (uint32_t a = 0; a < n; ++a) {
        const Cell* x = block_at(spec, a);
        if (!is_arg_word(cell_type(x)) && !cell_is(x, T_REFINEMENT)) continue;
        int32_t sx = symbol_resolve_alias(word_symbol(x));
        for (uint32_t b = a + 1; b < n; ++b) {
            const Cell* y = block_at(spec, b);
            if (!is_arg_word(cell_type(y)) && !cell_is(y, T_REFINEMENT)) continue;
            if (symbol_resolve_alias(word_symbol(y)) == sx) {
                Cell dup = *y;
                raise_error(err::script::dup_vars, &dup);
            }
        }
    }
    return flags;
}

// ================================================================== making

// A deep copy of a block: nested blocks, parens and paths are copied too.
static void copy_deep_into(Cell* out, const Cell* src_in) {
    evaluation_hooks.check_machine_stack();
    Cell* src = stack_push_copy(src_in);
    Cell* copy = block_push_cells(block_head(src), block_length(src), cell_type(src));
    // A function made by library code runs as library code: untraced, and
    // leaving the error position at the user's code that called it.
    if (node_buffer(series_node(src))->flags & SER_LIBRARY_FLAG) set_series_flags(series_node(copy), SER_LIBRARY_FLAG);
    uint32_t n = block_length(copy);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(copy, k);
        if (type_is_list(cell_type(&v))) {
            Cell* inner = stack_push();
            copy_deep_into(inner, &v);
            *block_at(copy, k) = *inner;
            stack_pop(1);
        }
    }
    *out = *copy;
    stack_pop(2);
}

void block_copy_deep(const Cell* src, Cell* out) { copy_deep_into(out, src); }

Cell* function_push(const Cell* spec_in, const Cell* body_in, uint32_t flags) {
    Cell* result = stack_push();
    StackScope scope;
    Cell* spec = stack_push_copy(spec_in);
    Cell* body = stack_push_copy(body_in);
    if (series_index(spec)) {
        Cell* copy = block_push_cells(block_head(spec), block_length(spec));
        *spec = *copy;
    }
    Cell* more = block_push_new(5);
    for (int k = 0; k < 5; ++k) {
        Cell u;
        set_unset(&u);
        block_append(more, &u);
    }
    Cell* body_copy = stack_push();
    copy_deep_into(body_copy, body);
    NodeRef ctx = context_make_from_spec(spec, true, false, CTX_KIND_FUNCTION);
    cell_init(result, T_FUNCTION);
    result->header |= flags;
    function_set_parts(result, ctx, series_node(spec), series_node(more));
    node_buffer(ctx)->cells()[1] = *result;
    Cell* cache = stack_push();
    spec_cache_build(spec, cache);
    Cell* m = node_buffer(series_node(more))->cells();
    m[0] = *body_copy;
    m[1] = *cache;
    context_bind_block(body_copy, ctx, false);
    return result;
}

// ================================================================== `function` locals

static bool word_listed(const Cell* list, int32_t sym) {
    uint32_t n = block_length(list);
    for (uint32_t k = 0; k < n; ++k) {
        const Cell* w = block_at(list, k);
        if (type_is_word(cell_type(w)) && symbol_resolve_alias(word_symbol(w)) == sym) return true;
    }
    return false;
}

static void collect_word(Cell* result, Cell* ignore, const Cell* w_in) {
    Cell w = *w_in;
    w.header = T_WORD;
    word_bind_to(&w, 0, WORD_NO_INDEX);
    int32_t sym = symbol_resolve_alias(word_symbol(&w));
    if (word_listed(ignore, sym)) return;
    block_append(result, &w);
    block_append(ignore, &w);
}

static void collect_in(Cell* result, Cell* ignore, const Cell* block_in, int32_t foreach_sym,
                       int32_t remove_each_sym, int32_t repeat_sym) {
    evaluation_hooks.check_machine_stack();
    Cell* block = stack_push_copy(block_in);
    uint32_t n = block_length(block);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(block, k);
        TypeId t = cell_type(&v);
        if (t == T_SET_WORD) collect_word(result, ignore, &v);
        else if (t == T_BLOCK || t == T_PAREN)
            collect_in(result, ignore, &v, foreach_sym, remove_each_sym, repeat_sym);
        else if (t == T_WORD && k + 1 < n) {
            int32_t s = symbol_resolve_alias(word_symbol(&v));
            Cell next = *block_at(block, k + 1);
            if ((s == foreach_sym || s == remove_each_sym) && cell_is(&next, T_BLOCK)) {
                uint32_t m = block_length(&next);
                for (uint32_t j = 0; j < m; ++j) {
                    Cell e = *block_at(&next, j);
                    if (is_arg_word(cell_type(&e))) collect_word(result, ignore, &e);
                }
            } else if ((s == foreach_sym || s == remove_each_sym || s == repeat_sym) &&
                       (cell_is(&next, T_WORD) || cell_is(&next, T_SET_WORD))) {
                collect_word(result, ignore, &next);
            }
        }
    }
    stack_pop(1);
}

void function_collect_locals(Cell* spec, const Cell* body) {
    StackScope scope;
    Cell* result = block_push_new(8);
    Cell* ignore = block_push_cells(block_head(spec), block_length(spec));
    int32_t extern_sym = alias_of("extern"), local_sym = alias_of("local");
    uint32_t n = block_length(spec);
    int64_t extern_at = -1;
    for (uint32_t k = 0; k < n && extern_at < 0; ++k) {
        const Cell* v = block_at(spec, k);
        if (!cell_is(v, T_REFINEMENT) || symbol_resolve_alias(word_symbol(v)) != extern_sym) continue;
        extern_at = k;
        uint32_t j = k + 1;
        while (j < n && cell_is(block_at(spec, j), T_WORD)) ++j;
        if (j < n && cell_is(block_at(spec, j), T_REFINEMENT) &&
            symbol_resolve_alias(word_symbol(block_at(spec, j))) == local_sym) {
            for (uint32_t x = j + 1; x < n; ++x) {
                Cell w = *block_at(spec, x);
                if (cell_is(&w, T_WORD)) block_append(result, &w);
            }
        }
    }
    uint32_t m = block_length(ignore);
    for (uint32_t k = 0; k < m; ++k) {
        Cell* v = block_at(ignore, k);
        TypeId t = cell_type(v);
        if (t == T_SET_WORD || t == T_LIT_WORD || t == T_GET_WORD || t == T_REFINEMENT) {
            v->header = T_WORD;
        } else if (extern_at >= 0 && t != T_WORD && t != T_BLOCK && t != T_STRING) {
            Cell bad = *v;
            raise_error(err::script::bad_func_extern, &bad);
        }
    }
    // Only a spec that passed the checks loses /extern and what follows it.
    if (extern_at >= 0) {
        SeriesBuffer* b = node_buffer(series_node(spec));
        b->tail = b->head + (series_index(spec) + uint32_t(extern_at)) * 16;
    }
    collect_in(result, ignore, body, alias_of("foreach"), alias_of("remove-each"), alias_of("repeat"));
    uint32_t r = block_length(result);
    if (!r) return;
    // /local goes in unless the spec has it; the word `local` itself is never a local.
    n = block_length(spec);
    bool spec_has_local = false;
    for (uint32_t k = 0; k < n; ++k) {
        const Cell* v = block_at(spec, k);
        if (cell_is(v, T_REFINEMENT) && symbol_resolve_alias(word_symbol(v)) == local_sym) spec_has_local = true;
    }
    if (!spec_has_local) {
        Cell ref;
        cell_init(&ref, T_REFINEMENT);
        word_set_symbol(&ref, symbol_from_cstring("local"));
        word_set_index(&ref, WORD_NO_INDEX);
        block_append(spec, &ref);
    }
    for (uint32_t k = 0; k < r; ++k) {
        Cell w = *block_at(result, k);
        if (symbol_resolve_alias(word_symbol(&w)) == local_sym) continue;
        block_append(spec, &w);
    }
}

// ================================================================== routine!

Cell* routine_push(const Cell* spec_in, const Cell* body_in, int32_t code, int32_t second, bool flag) {
    Cell* result = stack_push();
    StackScope scope;
    Cell* spec = stack_push_copy(spec_in);
    Cell* body = body_in ? stack_push_copy(body_in) : stack_push();
    if (!body_in) set_none(body);
    function_validate_spec(spec);
    if (series_index(spec)) {
        Cell* copy = block_push_cells(block_head(spec), block_length(spec));
        *spec = *copy;
    }
    // The argument count lives in a 5-bit header field: a spec with more
    // arguments cannot be told apart from a smaller one, so it is refused.
    uint32_t arity = 0, n = block_length(spec);
    for (uint32_t k = 0; k < n; ++k)
        if (cell_is(block_at(spec, k), T_WORD)) ++arity;
    if (arity > ROUTINE_MAX_ARITY) raise_error(err::script::bad_func_def, spec);
    Cell* more = block_push_new(5);
    for (int k = 0; k < 5; ++k) {
        Cell u;
        set_unset(&u);
        block_append(more, &u);
    }
    // The new context is held by nothing but the result cell: fill that first.
    NodeRef ctx = context_make_from_spec(spec, true, false, CTX_KIND_FUNCTION);
    cell_init(result, T_ROUTINE);
    if (flag) result->header |= ROUTINE_FLAG;
    result->header = (result->header & ~ROUTINE_ARITY_MASK) | (arity << ROUTINE_ARITY_SHIFT);
    function_set_parts(result, ctx, series_node(spec), series_node(more));
    node_buffer(ctx)->cells()[1] = *result;
    Cell* cache = stack_push();
    spec_cache_build(spec, cache);
    Cell* m = callable_more_cells(result);
    m[0] = *body;
    m[1] = *cache;
    set_integer(&m[2], code);
    set_integer(&m[4], second);
    return result;
}

uint32_t routine_arity(const Cell* routine) { return (routine->header & ROUTINE_ARITY_MASK) >> ROUTINE_ARITY_SHIFT; }

// ================================================================== actions

// make function! [spec body]
static void function_make(ActionFrame& f) {
    Cell* arg = f.args + 1;
    if (!cell_is(arg, T_BLOCK) || block_length(arg) < 2 || !cell_is(block_at(arg, 0), T_BLOCK))
        raise_error(err::script::bad_func_def, arg);
    Cell* spec = stack_push_copy(block_at(arg, 0));
    uint32_t flags = function_validate_spec(spec);
    if (!cell_is(block_at(arg, 1), T_BLOCK)) raise_error(err::script::bad_func_def, arg);
    Cell* body = stack_push_copy(block_at(arg, 1));
    Cell* fn = function_push(spec, body, flags);
    *f.args = *fn;
}

static int32_t function_form(const Cell*, Cell* out, const Cell*, int32_t limit) {
    string_append_cstr(out, "?function?");
    return limit - 10;
}

static int32_t function_mold(const Cell* v_in, Cell* out, bool only, bool all, bool flat, const Cell* arg,
                             int32_t limit, int32_t indent) {
    Cell* v = stack_push_copy(v_in);
    string_append_cstr(out, "func ");
    limit -= 5;
    Cell* spec = stack_push();
    callable_spec(v, spec);
    MoldFn mold = action_required<Act::mold>(T_BLOCK);
    limit = mold(spec, out, false, all, flat, nullptr, limit, indent);
    Cell* body = stack_push_copy(function_body(v));
    if (cell_is(body, T_NONE)) {
        string_append_cstr(out, " none");
        limit -= 5;
    } else {
        limit = mold(body, out, false, all, flat, nullptr, limit, indent);
    }
    stack_pop(3);
    return limit;
}

static int32_t routine_form(const Cell*, Cell* out, const Cell*, int32_t limit) {
    string_append_cstr(out, "?routine?");
    return limit - 9;
}

static int32_t routine_mold(const Cell* v_in, Cell* out, bool, bool all, bool flat, const Cell*, int32_t limit,
                            int32_t indent) {
    Cell* v = stack_push_copy(v_in);
    string_append_cstr(out, "routine ");
    limit -= 8;
    Cell* spec = stack_push();
    callable_spec(v, spec);
    limit = mold_dispatch(spec, out, false, all, flat, limit, indent);
    Cell* body = stack_push_copy(function_body(v));
    if (!cell_is(body, T_BLOCK)) {
        string_append_cstr(out, " ");
        --limit;
    }
    limit = mold_dispatch(body, out, false, all, flat, limit, indent);
    stack_pop(3);
    return limit;
}

// Two functions are the same function when they share their `more` series.
static int function_compare(const Cell* a, const Cell* b, int op) {
    if (cell_type(a) != cell_type(b)) return CMP_NOT_COMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT: case CMP_CASE_SORT:
    case CMP_SAME: case CMP_FIND:
        break;
    default: return CMP_NOT_COMPARABLE;
    }
    return callable_more(a) < callable_more(b) ? -1 : callable_more(a) > callable_more(b) ? 1 : 0;
}

static void function_reflect(ActionFrame& f) {
    Cell* v = f.args;
    Cell* field = f.args + 1;
    std::string name = type_is_word(cell_type(field)) ? symbol_text(word_symbol(field)) : "";
    if (name == "spec") {
        Cell spec;
        callable_spec(v, &spec);
        *f.args = spec;
    } else if (name == "body") {
        Cell body = *function_body(v);
        if (!cell_is(&body, T_BLOCK)) {  // a routine without a body
            *f.args = body;
            return;
        }
        Cell* copy = block_push_cells(block_head(&body), block_length(&body));
        *f.args = *copy;
    } else if (name == "words") {
        Cell table;
        set_series(&table, T_BLOCK, context_words_node(function_context(v)), 0);
        Cell* words = block_push_cells(block_head(&table), block_length(&table));
        *f.args = *words;
    } else {
        raise_error(err::internal::not_done);
    }
}

template <> void register_type<T_FUNCTION>() {
    register_datatype(T_FUNCTION, {
        .make = function_make, .reflect = function_reflect, .form = function_form, .mold = function_mold,
        .compare = function_compare
    });
}
template <> void register_type<T_ROUTINE>() {
    register_datatype(T_ROUTINE, {.make = nullptr, .form = routine_form, .mold = routine_mold});
}

}  // namespace tev

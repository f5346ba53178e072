// path!, lit-path!, set-path! and get-path!: blocks written with "/" between their values.
//
// They share block!'s storage and most of its actions; what is theirs is
// making, converting, forming and molding. Evaluating a path is the
// interpreter's work.
#include "datatypes/path.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"

#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/number_conversion.h"
#include "runtime/value_stack.h"

namespace tev {

static bool is_path_type(TypeId t) { return t >= T_PATH && t <= T_GET_PATH; }

Cell* path_push(Cell* cell, TypeId type) {
    cell_set_type(cell, type);
    return stack_push_copy(cell);
}

void path_make_at(Cell* cell, uint32_t size) { block_make(cell, size, T_PATH); }

// ================================================================== make and to

static bool is_any_block(TypeId t) { return t == T_BLOCK || t == T_PAREN || t == T_HASH || is_path_type(t); }

static void block_to(ActionFrame& f) { action_required<Act::to>(T_BLOCK)(f); }

static void path_make(ActionFrame& f) {
    Cell* spec = f.args + 1;
    TypeId t = cell_type(spec);
    if (is_any_block(t)) {
        block_to(f);
        return;
    }
    if (t == T_INTEGER || t == T_FLOAT || t == T_PERCENT) {
        int32_t size = number_to_int_checked(spec);
        block_make(f.args, size > 0 ? uint32_t(size) : 1, f.type);
        return;
    }
    raise_error_type(err::script::bad_make_arg, f.type, spec);
}

static void path_to(ActionFrame& f) {
    TypeId t = cell_type(f.args + 1);
    if (t == T_OBJECT || t == T_TYPESET || t == T_MAP) {
        StackScope scope;
        Cell* value = stack_push_copy(f.args + 1);
        Cell* out = block_push_new(1, f.type);
        block_append(out, value);
        *f.args = *out;
        return;
    }
    block_to(f);
}

// ================================================================== form and mold

// The elements from the index with "/" between them, each formed or molded.
static int32_t path_write(const Cell* value, Cell* out, bool mold, const Cell* arg, int32_t limit) {
    StackScope scope;
    Cell* path = stack_push_copy(value);  // value may lie in a buffer that moves
    NodeRef node = series_node(path);
    if (cycle_find(node)) {
        const char* marker = cycle_marker(cell_type(path), mold);
        string_append_cstr(out, marker);
        return limit - int32_t(std::strlen(marker));
    }
    CycleGuard guard(node);
    uint32_t end = series_full_length(path);
    for (uint32_t i = series_index(path); i < end; ++i) {
        Cell* element = stack_push_copy(block_cell_from_head(path, i));
        if (mold) {
            limit = action_required<Act::mold>(cell_type(element))(element, out, false, false, false, arg, limit, 0);
        } else {
            limit = action_required<Act::form>(cell_type(element))(element, out, arg, limit);
        }
        stack_drop_to(element);
        if (arg && limit < 1) break;
        end = series_full_length(path);  // an element's mold may run code that changes the path
        if (i + 1 < end) {
            string_append_ascii(out, "/", 1);
            limit -= 1;
        }
    }
    return limit;
}

static int32_t path_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    return path_write(value, out, false, arg, limit);
}

static int32_t path_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return path_write(value, out, true, arg, limit);
}

// lit-path! and get-path! mold with their mark in front.
static int32_t marked_mold(const Cell* value, Cell* out, const char* mark, const Cell* arg, int32_t limit) {
    StackScope scope;
    Cell* path = stack_push_copy(value);
    string_append_ascii(out, mark, 1);
    return path_write(path, out, true, arg, limit - 1);
}

static int32_t lit_path_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit,
                             int32_t) {
    return marked_mold(value, out, "'", arg, limit);
}

static int32_t get_path_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit,
                             int32_t) {
    return marked_mold(value, out, ":", arg, limit);
}

static int32_t set_path_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit,
                             int32_t) {
    limit = path_write(value, out, true, arg, limit);
    string_append_ascii(out, ":", 1);
    return limit - 1;
}

// ================================================================== registration

template <> void register_type<T_PATH>() {
    register_datatype(T_PATH, {
        .make = path_make, .random = nullptr, .to = path_to, .form = path_form, .mold = path_mold,
        .sort = nullptr, .trim = nullptr
    });
}

// The other three take every entry from path! but their mold.
template <> void register_type<T_LIT_PATH>() { register_datatype(T_LIT_PATH, {.mold = lit_path_mold}); }
template <> void register_type<T_SET_PATH>() { register_datatype(T_SET_PATH, {.mold = set_path_mold}); }
template <> void register_type<T_GET_PATH>() { register_datatype(T_GET_PATH, {.mold = get_path_mold}); }

}  // namespace tev

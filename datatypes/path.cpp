// path!, lit-path!, set-path! and get-path!: blocks written with "/" between their values.
//
// They share block!'s storage and most of its actions; what is theirs is
// making, converting, forming and molding. Evaluating a path is the
// interpreter's work.
#include "datatypes/path.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/actions.h"
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

static void block_to(ActionFrame& f) { action_of<Act::to>(T_BLOCK)(f); }

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
            auto fn = action_of<Act::mold>(cell_type(element));
            if (!fn) raise_no_action(cell_type(element), int(Act::mold));
            limit = fn(element, out, false, false, false, arg, limit, 0);
        } else {
            auto fn = action_of<Act::form>(cell_type(element));
            if (!fn) raise_no_action(cell_type(element), int(Act::form));
            limit = fn(element, out, arg, limit);
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

void path_init() {
    register_datatype(T_PATH, T_BLOCK, "path!",
        path_make, nullptr, inherit, path_to, path_form, path_mold, inherit, nullptr, inherit,  // make..compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,       // absolute..subtract
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,                                  // even?..xor~
        inherit, inherit, inherit, inherit, inherit, inherit, inherit,                         // append..find
        inherit, inherit, inherit, inherit, inherit, inherit,                                  // head..move
        inherit, inherit, inherit, inherit, inherit, inherit, inherit,                         // next..select
        nullptr, inherit, inherit, inherit, inherit, inherit, nullptr,                         // sort..trim
        nullptr, nullptr, nullptr, inherit, nullptr, nullptr, nullptr, nullptr, nullptr,       // create..rename
        nullptr, nullptr);                                                                     // update, write
}

// The other three take every entry from path! but their mold.
static void register_path_kind(TypeId t, const char* name, MoldFn mold) {
    register_datatype(t, T_PATH, name,
        inherit, nullptr, inherit, inherit, inherit, mold, inherit, nullptr, inherit,          // make..compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,       // absolute..subtract
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,                                  // even?..xor~
        inherit, inherit, inherit, inherit, inherit, inherit, inherit,                         // append..find
        inherit, inherit, inherit, inherit, inherit, inherit,                                  // head..move
        inherit, inherit, inherit, inherit, inherit, inherit, inherit,                         // next..select
        nullptr, inherit, inherit, inherit, inherit, inherit, nullptr,                         // sort..trim
        nullptr, nullptr, nullptr, inherit, nullptr, nullptr, nullptr, nullptr, nullptr,       // create..rename
        nullptr, nullptr);                                                                     // update, write
}

void lit_path_init() { register_path_kind(T_LIT_PATH, "lit-path!", lit_path_mold); }
void set_path_init() { register_path_kind(T_SET_PATH, "set-path!", set_path_mold); }
void get_path_init() { register_path_kind(T_GET_PATH, "get-path!", get_path_mold); }

}  // namespace tev

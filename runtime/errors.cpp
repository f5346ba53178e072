// Raising language errors: an error! value is made from the catalogue, given the
// call that raised it, and thrown to the nearest try.
#include "runtime/errors.h"
#include "datatypes/error.h"
#include "interpreter/interpreter.h"
#include "interpreter/trace.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

static Cell thrown_cell;
static Cell error_args[3];
static uint32_t last_code = 0;
static bool roots_added = false;

Cell* thrown_value() { return &thrown_cell; }
uint32_t last_error_code() { return last_code; }
const Cell* last_error_args() { return error_args; }

static void add_roots() {
    if (roots_added) return;
    roots_added = true;
    gc_add_root(&thrown_cell);
    for (Cell& c : error_args) gc_add_root(&c);
}

// Raising while an error is being made (no memory, a full stack) must not recurse:
// such an error is recorded by its code alone.
static bool making_error = false;

// What raising adds: the call that raised it and the frame position.
static void mark_raised(Cell* error) {
    Cell* where = error_field(error, ERR_FIELD_WHERE);
    if (cell_is(where, T_NONE)) {
        Cell w;
        current_call_word(&w);
        *error_field(error, ERR_FIELD_WHERE) = w;
    }
    Cell* stack = error_field(error, ERR_FIELD_STACK);
    if (!cell_is(stack, T_BLOCK)) set_integer(stack, int32_t(frame_depth()));
}

void raise_error(ErrCode code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    add_roots();
    const Cell* args[3] = {arg1, arg2, arg3};
    Cell copies[3];
    for (int i = 0; i < 3; ++i) {
        if (args[i]) copies[i] = *args[i];
        else set_none(&copies[i]);
    }
    for (int i = 0; i < 3; ++i) error_args[i] = copies[i];
    last_code = code.code;
    set_integer(&thrown_cell, int32_t(code.code));
    if (errors_ready() && !making_error) {
        making_error = true;
        Cell* mark = vstack.top;
        try {
            Cell* e = error_push_from_code(code.code, args[0] ? &error_args[0] : nullptr,
                                           args[1] ? &error_args[1] : nullptr, args[2] ? &error_args[2] : nullptr);
            mark_raised(e);
            thrown_cell = *e;
        } catch (const LanguageThrow&) {
            set_integer(&thrown_cell, int32_t(code.code));
        }
        vstack.top = mark;
        making_error = false;
        if (trace_switch && cell_is(&thrown_cell, T_ERROR)) {
            Cell* error = stack_push_copy(&thrown_cell);
            trace_event(TRACE_ERROR, nullptr, -1, error, nullptr);
            thrown_cell = *error;
            vstack.top = mark;
        }
    }
    throw LanguageThrow{THROW_ERROR};
}

void raise_error_value(const Cell* error) {
    add_roots();
    thrown_cell = *error;
    if (cell_is(&thrown_cell, T_ERROR)) {
        Cell* code = error_field(&thrown_cell, ERR_FIELD_CODE);
        if (cell_is(code, T_INTEGER)) last_code = uint32_t(get_integer(code));
        mark_raised(&thrown_cell);
    }
    throw LanguageThrow{THROW_ERROR};
}

void raise_error_int(ErrCode code, int64_t arg1) {
    Cell a;
    if (arg1 >= INT32_MIN && arg1 <= INT32_MAX) set_integer(&a, int32_t(arg1));
    else set_float(&a, double(arg1));
    raise_error(code, &a);
}

void raise_error_type(ErrCode code, TypeId arg1, const Cell* arg2) {
    Cell a;
    set_datatype(&a, arg1);
    raise_error(code, &a, arg2);
}

}  // namespace tev

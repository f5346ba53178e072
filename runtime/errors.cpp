// Raising language errors: an error! value is made from the catalogue, given the
// call that raised it, and thrown to the nearest try.
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

ErrorHooks error_hooks;

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
    if (error_hooks.make && !making_error) {
        making_error = true;
        Cell* mark = vstack.top;
        try {
            Cell* e = error_hooks.make(code.code, args[0] ? &error_args[0] : nullptr,
                                       args[1] ? &error_args[1] : nullptr, args[2] ? &error_args[2] : nullptr);
            if (e) {
                if (error_hooks.mark_raised) error_hooks.mark_raised(e);
                thrown_cell = *e;
            }
        } catch (const LanguageThrow&) {
            set_integer(&thrown_cell, int32_t(code.code));
        }
        vstack.top = mark;
        making_error = false;
        if (error_hooks.traced && cell_is(&thrown_cell, T_ERROR)) error_hooks.traced(&thrown_cell);
    }
    throw LanguageThrow{THROW_ERROR};
}

void raise_error_value(const Cell* error) {
    add_roots();
    thrown_cell = *error;
    if (cell_is(&thrown_cell, T_ERROR)) {
        int32_t code = error_hooks.code_of ? error_hooks.code_of(&thrown_cell) : -1;
        if (code >= 0) last_code = uint32_t(code);
        if (error_hooks.mark_raised) error_hooks.mark_raised(&thrown_cell);
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

// Raising language errors. Until error! objects exist the error is recorded as
// its code and arguments in a rooted block of cells; error make replaces the body.
#include "runtime/errors.h"
#include "runtime/memory.h"

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

void raise_error(ErrCode code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    add_roots();
    const Cell* args[3] = {arg1, arg2, arg3};
    for (int i = 0; i < 3; ++i) {
        if (args[i]) error_args[i] = *args[i];
        else set_none(&error_args[i]);
    }
    last_code = code.code;
    set_integer(&thrown_cell, int32_t(code.code));
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

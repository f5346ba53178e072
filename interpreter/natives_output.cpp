// Output natives: print and prin.
#include <string>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/console_output.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {

// The console writer: UTF-16 on a real Windows console, UTF-8 bytes otherwise.
static void stdout_hook(const std::string& text, bool new_line) {
    console_write_utf8(text.data(), text.size(), new_line);
}

static PrintHook print_hook = stdout_hook;
void set_print_hook(PrintHook hook) { print_hook = hook ? hook : stdout_hook; }

bool print_ended_line = false;

// Each call reduces into a block of its own, so a print nested inside the
// reduction cannot disturb the outer one.
static void print_value(NativeCall& c, bool new_line) {
    Cell* value = c.args;
    if (cell_is(value, T_BLOCK)) {
        Cell* reduced = reduce_block(value, false);
        if (!reduced) return;
        *value = *reduced;
        vstack.top = value + 1;
    }
    Cell* text = stack_push();
    string_make(text, 64);
    form_dispatch(value, text);
    print_hook(string_to_utf8(text), new_line);
    print_ended_line = new_line;
    call_print_hooks(text, new_line);  // a front end's copy of everything printed
    result_unset(c);
}

void native_print(NativeCall& c) { print_value(c, true); }
void native_prin(NativeCall& c) { print_value(c, false); }


}  // namespace tev

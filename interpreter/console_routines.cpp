// The host console's bridges to the terminal. The size is refreshed before
// each prompt, so a resized terminal cuts the next results at its new width.
#include "interpreter/console_routines.h"
#include <string>
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "os/os.h"
#include "runtime/console_output.h"
#include "runtime/context_table.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// What a redirected output is taken to be: a common terminal.
constexpr int DEFAULT_COLUMNS = 80;
constexpr int DEFAULT_ROWS = 24;

Cell* object_field(const Cell* object, const char* name) {
    if (!cell_is(object, T_OBJECT)) return nullptr;
    int32_t slot = context_find_symbol(object->w1, symbol_from_cstring(name), true);
    return slot < 0 ? nullptr : context_slot_address_raw(object->w1, uint32_t(slot));
}

}  // namespace

void console_refresh_size() {
    Cell sys = word_from_cstring("system");
    Cell* console = object_field(word_value_cell(&sys), "console");
    Cell* size = console ? object_field(console, "size") : nullptr;
    if (!size) return;
    int columns = DEFAULT_COLUMNS, rows = DEFAULT_ROWS;
    if (!os::terminal_size(&columns, &rows)) {
        columns = DEFAULT_COLUMNS;
        rows = DEFAULT_ROWS;
    }
    pair_make_cell(size, columns, rows);
}

void console_ask(NativeCall& c, int32_t) {
    enum { HIDE };
    console_refresh_size();
    std::string question = string_to_utf8(c.args);
    console_write_utf8(question.data(), question.size(), false);
    std::string line;
    // The end of input leaves the console the way a user would: a piped
    // session ends cleanly instead of asking for ever.
    if (!os::read_stdin_line(&line, c.has(HIDE))) line = "quit";
    string_load(reinterpret_cast<const uint8_t*>(line.data()), uint32_t(line.size()), c.args, 0);
}

void console_set_title(NativeCall& c, int32_t) { set_logic(c.args, os::set_console_title(string_to_utf8(c.args))); }

}  // namespace tev

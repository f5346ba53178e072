// The script runner: `tev FILE` reads a script, checks its header (the word Tev and a
// block), evaluates the rest and reports an error that nothing caught.
#include "interpreter/script_runner.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "loader/lexer.h"
#include "runtime/context_table.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

static void text_as_block(const Cell* text, Cell* out) { transcode_value(out, text); }

static bool read_whole_file(const char* path, std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return true;
}

static void path_string(Cell* out, const char* path) {
    string_make(out, 16);
    string_append_utf8(out, path, std::strlen(path));
}

// Where the header starts: the first "Tev", optionally "/System", then blanks,
// tabs or line feeds, then "["; the length when there is none.
static size_t header_offset(const uint8_t* text, size_t length) {
    for (size_t at = 0; at + 3 < length; ++at) {
        if (std::memcmp(text + at, "Tev", 3) != 0) continue;
        size_t k = at + 3;
        if (k + 7 <= length && std::memcmp(text + k, "/System", 7) == 0) k += 7;
        while (k < length && (text[k] == ' ' || text[k] == '\t' || text[k] == '\n')) ++k;
        if (k < length && text[k] == '[') return at;
    }
    return length;
}

// What nothing caught: the report on standard output, and the exit code.
static int report_uncaught(uint32_t depth, StackScope& scope) {
    frames_unwind_to(depth);
    stack_drop_to(scope.mark());
    pending_exit = 0;
    cycle_reset();  // before the report molds the error's arguments
    Cell* report = stack_push();
    string_make(report, 128);
    Cell* error = stack_push_copy(thrown_value());
    if (cell_is(error, T_ERROR)) error_form_report(error, report, NO_LIMIT);
    else string_append_cstr(report, "*** Internal Error: error raised during start-up");
    std::string out = string_to_utf8(report);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    return EXIT_UNCAUGHT_ERROR;
}

int run_script_text(const uint8_t* text, size_t length, const char* name) {
    StackScope scope;
    uint32_t depth = frame_depth();
    // No walk is under way at the top: an entry left by a run that ended in an
    // error would otherwise show a value as a cycle ("[...]") or stop a compare.
    cycle_reset();
    // An error raised before the script's code runs (a missing header) is near
    // nothing, not near the code a previous run stopped at.
    set_unset(current_evaluation());
    // A script is read as text: a leading byte-order mark is not part of it.
    if (length >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
        text += 3;
        length -= 3;
    }
    // Text before the header (a shell line, a note) is not part of the script.
    size_t start = header_offset(text, length);
    bool found = start < length;
    if (found) {
        text += start;
        length -= start;
    }
    try {
        Cell* code = stack_push();
        transcode_utf8(code, text, length);
        bool header = block_length(code) >= 2 && cell_is(block_at(code, 0), T_WORD) &&
                      cell_is(block_at(code, 1), T_BLOCK) &&
                      symbol_resolve_alias(int32_t(block_at(code, 0)->w2)) ==
                          symbol_resolve_alias(symbol_from_cstring("Tev"));
        // A systems-dialect script needs the compiler.
        if (found && length >= 10 && std::memcmp(text, "Tev/System", 10) == 0)
            raise_error(err::internal::tev_system);
        if (!header) {
            Cell* arg = stack_push();
            path_string(arg, name);
            raise_error(err::syntax::no_header, arg);
        }
        code->w1 = 2;
        eval_block(code);
        pending_exit = 0;  // every exit that reaches the top was refused where it was raised
        return 0;
    } catch (const LanguageThrow&) {
        return report_uncaught(depth, scope);
    }
}

int run_script_file(const char* path) {
    std::vector<uint8_t> bytes;
    if (!read_whole_file(path, bytes)) {
        StackScope scope;
        try {
            Cell* arg = stack_push();
            path_string(arg, path);
            raise_error(err::access::cannot_open, arg);
        } catch (const LanguageThrow&) {
            Cell* report = stack_push();
            string_make(report, 64);
            error_form_report(thrown_value(), report, NO_LIMIT);
            std::string out = string_to_utf8(report);
            std::printf("%s\n", out.c_str());
            return EXIT_UNCAUGHT_ERROR;
        }
    }
    return run_script_text(bytes.data(), bytes.size(), path);
}

// The hand-over's own code counts as the library's: an error in what the
// console runs is near the user's code, or near nothing, never near this.
static Cell* eval_text(const char* text) {
    Cell* code = stack_push();
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    node_buffer(series_node(code))->flags |= SER_LIBRARY_FLAG;
    return eval_block(code);
}

bool console_present() {
    StackScope scope;
    Cell* r = eval_text("object? system/console");
    return is_truthy(r);
}

int run_console_launch() {
    StackScope scope;
    uint32_t depth = frame_depth();
    cycle_reset();
    set_unset(current_evaluation());
    try {
        Cell* status = eval_text("system/console/launch");
        pending_exit = 0;
        return cell_is(status, T_INTEGER) ? int(get_integer(status)) : 0;
    } catch (const LanguageThrow&) {
        return report_uncaught(depth, scope);
    }
}

void script_runner_init() { set_transcode_hook(text_as_block); }

}  // namespace tev

// The process the program runs in and the children it starts: command line, environment, OS description, `call`.
#include "io/process.h"
#include <algorithm>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "io/files.h"
#include "os/os.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== this process

static void push_utf8_string(Cell* block, const std::string& text) {
    Cell* s = string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), nullptr, 0);
    block_append(block, s);
    stack_drop_to(s);
}

void os_command_line(Cell* out) {
    std::string text = os::command_line();
    string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), out, 0);
}

bool env_entry_split(const std::string& entry, std::string* name, std::string* value) {
    size_t eq = entry.find('=', 1);
    if (entry.empty() || eq == std::string::npos) return false;
    *name = entry.substr(0, eq);
    *value = entry.substr(eq + 1);
    return true;
}

void os_env_to_map(Cell* out) {
    std::vector<std::string> entries = os::environment_entries();
    StackScope scope;
    Cell* pairs = stack_push();
    block_make(pairs, uint32_t(entries.size() * 2));
    std::string name, value;
    for (const std::string& e : entries) {
        if (!env_entry_split(e, &name, &value)) continue;
        push_utf8_string(pairs, name);
        push_utf8_string(pairs, value);
    }
    Cell* map = stack_push();
    map_make_cell(map, pairs, 0);
    *out = *map;
}

void os_info_collect(Cell* out) {
    os::OsInfo info = os::os_info();
    StackScope scope;
    Cell* spec = stack_push();
    block_make(spec, 8);
    Cell* field = stack_push();
    auto set_word = [&](const char* name) {
        *field = word_from_cstring(name);
        cell_set_type(field, T_SET_WORD);
        block_append(spec, field);
    };
    set_word("name");
    push_utf8_string(spec, info.name);
    set_word("arch");
    *field = word_from_cstring(info.arch.c_str());  // construct/only keeps a word as it is
    block_append(spec, field);
    set_word("version");
    uint32_t parts[3] = {uint32_t(std::clamp(info.major, 0, 255)), uint32_t(std::clamp(info.minor, 0, 255)),
                         uint32_t(std::clamp(info.service_pack, 0, 255))};
    tuple_from_components(field, 3, parts);
    block_append(spec, field);
    set_word("build");
    set_integer(field, info.build);
    block_append(spec, field);
    *out = *object_construct(spec, nullptr, true);
}

// ================================================================== call

// Text for the child: UTF-8, with the platform's line end for each LF.
static std::string child_text(const Cell* text) {
    std::string utf8 = string_to_utf8(text);
    if (os::NEWLINE[1] == 0) return utf8;
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 16);
    for (char ch : utf8) {
        if (ch == '\n') out += os::NEWLINE;
        else out.push_back(ch);
    }
    return out;
}

static void redirect_from(os::Redirect* r, const Cell* target, bool input) {
    if (!target) return;
    TypeId t = cell_type(target);
    if (t == T_FILE) {
        r->kind = os::Redirect::file;
        r->path = file_os_path(target);
    } else if (!input) {
        r->kind = os::Redirect::capture;
    } else if (t == T_BINARY) {
        r->kind = os::Redirect::bytes;
        r->data.assign(reinterpret_cast<const char*>(binary_head_address(target)), binary_length(target));
    } else {
        r->kind = os::Redirect::bytes;
        r->data = child_text(target);
    }
}

static void deliver_capture(const Cell* target, const os::Redirect& r, bool shell_used) {
    if (!target || r.kind != os::Redirect::capture) return;
    StackScope scope;
    Cell* series = stack_push_copy(target);
    if (cell_is(series, T_BINARY)) {
        binary_append_bytes(series, r.data.data(), uint32_t(r.data.size()));
        return;
    }
    std::string text = os::process_text_to_utf8(r.data, shell_used);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    string_append_utf8(series, text.data(), text.size());
}

int64_t call_run_command(const Cell* cmd, const CallOptions& options, const Cell* in, const Cell* out,
                         const Cell* err) {
    if (options.console) raise_error(err::internal::not_done);
    StackScope scope;
    Cell* command = stack_push_copy(cmd);
    if (cell_is(command, T_FILE)) {
        Cell* local = stack_push();
        string_make(local, string_rest_length(command) + 4);
        file_to_local_path(command, local, false);
        command = local;
    }
    os::ProcessRequest request;
    request.command = child_text(command);
    request.wait = options.wait;
    request.show = options.show;
    request.shell = options.shell;
    redirect_from(&request.in, in, true);
    redirect_from(&request.out, out, false);
    redirect_from(&request.err, err, false);
    bool shell_used = false;
    int64_t result = os::run_process(request, &shell_used);
    shell_used = shell_used || options.shell;
    deliver_capture(out, request.out, shell_used);
    deliver_capture(err, request.err, shell_used);
    return result;
}

}  // namespace tev

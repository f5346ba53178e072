// file!: the "%" mold that loads back, local (system) paths, and the entries that reach the file layer.
#include "datatypes/file.h"
#include <algorithm>
#include <vector>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "datatypes/url.h"
#include "os/os.h"

namespace tev {

// ================================================================== mold

// A name holding one of these is written between double quotes: what the URL
// table escapes (space, quote, percent, brackets, controls, DEL...) and what
// would end a bare file in the lexer (parens, colon, at-sign).
static bool needs_quotes(uint32_t c) {
    if (c > 127) return false;
    return !url_char_as_is(c) || c == '(' || c == ')' || c == ':' || c == '@';
}

// Inside quotes the lexer reads caret escapes: a quote, a caret, the controls
// and DEL are written escaped so that the name loads back as it was. A quote
// always ends a quoted file there, so it is written by its code, ^(22).
static bool needs_caret(uint32_t c) { return c < 32 || c == '"' || c == '^' || c == 127; }

static int32_t file_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit,
                         int32_t) {
    TextView t = text_view(value);
    uint32_t n = t.length;
    if (arg) n = limit < 0 ? 0 : std::min<uint32_t>(n, uint32_t(limit));
    std::vector<uint32_t> name(n);
    bool quoted = n == 0;
    for (uint32_t i = 0; i < n; ++i) {
        name[i] = t[i];
        quoted = quoted || needs_quotes(name[i]);
    }
    uint32_t start = string_length_from_head(out);
    string_append_ascii(out, "%", 1);
    if (!quoted) {
        append_codepoints(out, name.data(), name.size());
    } else {
        string_append_ascii(out, "\"", 1);
        uint32_t run = 0;  // characters from run up to i go out as they are
        for (uint32_t i = 0; i < n; ++i) {
            if (!needs_caret(name[i])) continue;
            append_codepoints(out, name.data() + run, i - run);
            if (name[i] == '"') string_append_ascii(out, "^(22)", 5);
            else string_append_escaped_char(out, name[i], ESCAPE_CARET, false);
            run = i + 1;
        }
        append_codepoints(out, name.data() + run, n - run);
        string_append_ascii(out, "\"", 1);
    }
    return limit - int32_t(string_length_from_head(out) - start);
}

// ================================================================== local paths

PathStyle local_path_style() { return os::DIR_SEPARATOR == '\\' ? PathStyle::windows : PathStyle::posix; }

std::string file_os_current_dir() {
    std::string dir = os::current_dir().value_or(std::string());
    if (dir.empty() || dir.back() != os::DIR_SEPARATOR) dir.push_back(os::DIR_SEPARATOR);
    return dir;
}

void file_to_local_path_style(const Cell* file, Cell* out, bool full, PathStyle style,
                              const std::string& current_dir) {
    TextView t = text_view(file);
    std::vector<uint32_t> name(t.length);
    for (uint32_t i = 0; i < t.length; ++i) name[i] = t[i];
    uint32_t n = t.length;
    bool windows = style == PathStyle::windows;
    std::vector<uint32_t> local;
    local.reserve(n + 3);
    uint32_t i = 0;
    if (n > 0 && name[0] == '/') {
        if (windows) {
            if (n == 1 || name[1] == '/') {
                local.push_back('\\');
                i = 1;
            } else if (n == 2 || name[2] == '/') {  // a drive letter
                local.insert(local.end(), {name[1], ':', '\\'});
                i = n == 2 ? 2 : 3;
            } else {  // a server
                local.insert(local.end(), {'\\', '\\'});
                i = 1;
            }
        }
    } else if (full) {
        string_append_utf8(out, current_dir.data(), current_dir.size());
    }
    for (; i < n; ++i) local.push_back(windows && name[i] == '/' ? '\\' : name[i]);
    append_codepoints(out, local.data(), local.size());
}

void file_to_local_path(const Cell* file, Cell* out, bool full) {
    file_to_local_path_style(file, out, full, local_path_style(), full ? file_os_current_dir() : std::string());
}

// ================================================================== I/O

// Refinement positions of read and write (their specs' order).
namespace {
enum ReadRef { READ_PART = 0, READ_SEEK, READ_BINARY, READ_LINES, READ_INFO, READ_AS };
enum WriteRef { WRITE_BINARY = 0, WRITE_LINES, WRITE_INFO, WRITE_APPEND, WRITE_PART, WRITE_SEEK, WRITE_ALLOW,
                WRITE_AS };
}  // namespace

FileIoHooks file_io_hooks;

static const FileIoHooks& file_io(const char* action) {
    if (!file_io_hooks.read) raise_io_not_done(action);
    return file_io_hooks;
}

static void file_read_action(ActionFrame& f) {
    if (f.has(READ_AS)) raise_io_not_done("read");
    file_io("read").read(f.args, f.args, f.ref_arg(READ_PART), f.ref_arg(READ_SEEK), f.has(READ_BINARY),
                         f.has(READ_LINES));
}

static void file_write_action(ActionFrame& f) {
    if (f.has(WRITE_ALLOW) || f.has(WRITE_AS)) raise_io_not_done("write");
    file_io("write").write(f.args, f.args + 1, f.ref_arg(WRITE_PART), f.ref_arg(WRITE_SEEK), f.has(WRITE_APPEND),
                           f.has(WRITE_LINES));
    set_unset(f.args);
}

static void file_delete_action(ActionFrame& f) { set_logic(f.args, file_io("delete").delete_file(f.args)); }
static void file_query_action(ActionFrame& f) { file_io("query").query_modified(f.args, f.args); }
static void file_rename_action(ActionFrame& f) { set_logic(f.args, file_io("rename").rename(f.args, f.args + 1)); }

// ================================================================== registration

template <> void register_type<T_FILE>() {
    register_datatype(T_FILE, {
        .mold = file_mold, .delete_ = file_delete_action, .open = nullptr, .query = file_query_action,
        .read = file_read_action, .rename = file_rename_action, .write = file_write_action
    });
}

}  // namespace tev

// The file layer: whole-file reads and writes, listings, sizes, dates, delete and rename for file! values.
#include "io/files.h"
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/dispatch.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "datatypes/word.h"
#include "os/os.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== paths

std::string file_os_path(const Cell* file) {
    StackScope scope;
    Cell* name = stack_push_copy(file);
    Cell* local = stack_push();
    string_make(local, string_rest_length(name) + 4);
    file_to_local_path(name, local, false);
    return string_to_utf8(local);
}

bool file_path_is_dir(const Cell* file) {
    uint32_t n = string_rest_length(file);
    if (n == 0) return false;
    auto at = [&](uint32_t back) { return string_char_at(file, n - back); };
    auto slash = [](uint32_t c) { return c == '/' || c == '\\'; };
    if (slash(at(1))) return true;
    if (at(1) != '.') return false;
    if (n == 1 || slash(at(2))) return true;                    // "." or ".../."
    return at(2) == '.' && (n == 2 || slash(at(3)));            // ".." or ".../.."
}

// An open file that closes itself on every way out, raised errors included.
namespace {
struct OpenFile {
    os::FileHandle h;
    explicit OpenFile(os::FileHandle handle) : h(handle) {}
    ~OpenFile() { if (h != os::NO_FILE) os::file_close(h); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
};
}  // namespace

[[noreturn]] static void raise_cannot_open(const Cell* file) {
    Cell name = *file;
    raise_error(err::access::cannot_open, &name);
}

// A /part or /seek argument: an integer!, else invalid-refine-arg naming the refinement.
static int64_t refinement_integer(const Cell* value, const char* refinement) {
    if (!cell_is(value, T_INTEGER)) {
        Cell word = word_from_cstring(refinement);
        Cell v = *value;
        raise_error(err::script::invalid_refine_arg, &word, &v);
    }
    return get_integer(value);
}

// ================================================================== listing

static void list_directory(Cell* result, const Cell* dir) {
    StackScope scope;
    Cell* name = stack_push_copy(dir);
    uint32_t n = string_rest_length(name);
    Cell* block = stack_push();
    std::vector<os::DirEntry> entries;
    bool root = n == 1 && string_char_at(name, 0) == '/';
    std::vector<std::string> drives = root ? os::drive_letters() : std::vector<std::string>();
    if (!drives.empty()) {
        for (const std::string& d : drives) entries.push_back(os::DirEntry{d, true});
    } else {
        std::string path = file_os_path(name);
        if (!path.empty() && path.back() == '.') path.push_back(os::DIR_SEPARATOR);
        if (!os::list_dir(path, &entries)) raise_cannot_open(name);
    }
    block_make(block, uint32_t(entries.size()));
    for (const os::DirEntry& e : entries) {
        Cell* item = stack_push();
        string_make(item, uint32_t(e.name.size() + 1));
        string_append_utf8(item, e.name.data(), e.name.size());
        if (e.is_dir) string_append_ascii(item, "/", 1);
        cell_set_type(item, T_FILE);
        block_append(block, item);
        stack_drop_to(item);
    }
    *result = *block;
}

// ================================================================== reading

void text_split_lines(Cell* block, const char* text, size_t length) {
    StackScope scope;
    Cell* line = stack_push();
    size_t start = 0;
    while (start < length) {
        const void* lf = std::memchr(text + start, '\n', length - start);
        size_t end = lf ? size_t(static_cast<const char*>(lf) - text) : length;
        size_t stop = end;
        if (lf && stop > start && text[stop - 1] == '\r') --stop;
        string_load(reinterpret_cast<const uint8_t*>(text + start), uint32_t(stop - start), line, 0);
        block_append(block, line);
        start = end + 1;
    }
}

// Content up to limit bytes for what reports no size (pipes, devices,
// special files that report 0): read in chunks to the end.
static std::string read_unsized(os::FileHandle h, int64_t limit) {
    constexpr size_t CHUNK = 64 * 1024;
    std::string bytes;
    while (int64_t(bytes.size()) < limit) {
        size_t old = bytes.size();
        size_t want = size_t(std::min<int64_t>(CHUNK, limit - int64_t(old)));
        bytes.resize(old + want);
        int64_t got = os::file_read(h, bytes.data() + old, want);
        bytes.resize(old + size_t(got > 0 ? got : 0));
        if (got <= 0) break;
        if (bytes.size() > MAX_SERIES_BYTES) raise_error(err::internal::no_memory);
    }
    return bytes;
}

void file_read(Cell* result, const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines) {
    StackScope scope;
    Cell* name = stack_push_copy(file);
    int64_t limit = INT64_MAX, position = 0;
    if (part) limit = std::max<int64_t>(0, refinement_integer(part, "part"));
    if (seek) position = std::max<int64_t>(0, refinement_integer(seek, "seek"));
    if (file_path_is_dir(name)) {
        list_directory(result, name);
        return;
    }
    OpenFile f(os::file_open(file_os_path(name), os::FILE_READ));
    if (f.h == os::NO_FILE) raise_cannot_open(name);
    int64_t size = os::file_size(f.h);
    if (size < 0) raise_cannot_open(name);
    if (position > 0) {
        if (size > 0) {
            size = std::max<int64_t>(0, size - position);
            if (size > 0 && !os::file_seek(f.h, position)) raise_cannot_open(name);
            if (size == 0) limit = 0;
        } else if (!os::file_seek(f.h, position)) {
            raise_cannot_open(name);
        }
    }
    std::string bytes;
    if (limit > 0) {
        if (size > 0) {
            int64_t want = std::min(size, limit);
            if (uint64_t(want) > MAX_SERIES_BYTES) raise_error(err::internal::no_memory);
            if (binary && !lines) {
                // Straight into the value: nothing allocates between here and the read.
                Cell* out = stack_push();
                binary_make_cell(out, uint32_t(want));
                SeriesBuffer* b = node_buffer(series_node(out));
                int64_t got = os::file_read(f.h, b->head_ptr(), size_t(want));
                if (got < 0) raise_cannot_open(name);
                b->tail = b->head + uint32_t(got);
                *result = *out;
                return;
            }
            if (!lines) {
                // Text: read into memory not cleared first, decoded from there.
                std::unique_ptr<uint8_t[]> raw(new uint8_t[size_t(want)]);
                int64_t got = os::file_read(f.h, raw.get(), size_t(want));
                if (got < 0) raise_cannot_open(name);
                *result = *string_load(raw.get(), uint32_t(got), nullptr, 0);
                return;
            }
            bytes.resize(size_t(want));
            int64_t got = os::file_read(f.h, bytes.data(), bytes.size());
            if (got < 0) raise_cannot_open(name);
            bytes.resize(size_t(got));
        } else {
            bytes = read_unsized(f.h, limit);
        }
    }
    if (lines) {
        Cell* block = stack_push();
        block_make(block, 16);
        text_split_lines(block, bytes.data(), bytes.size());
        *result = *block;
    } else if (binary) {
        *result = *binary_push_memory(bytes.data(), uint32_t(bytes.size()));
    } else {
        *result = *string_load(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), nullptr, 0);
    }
}

// ================================================================== writing

// Bytes on their way to a file (or standard output): small pieces gather in
// a buffer, long runs go straight from the value's own storage.
namespace {
struct Sink {
    os::FileHandle h = os::NO_FILE;   // NO_FILE: standard output
    bool ok = true;
    std::string pending;
    static constexpr size_t FLUSH_AT = 64 * 1024;

    void direct(const void* bytes, size_t n) {
        if (h == os::NO_FILE) os::write_stdout(bytes, n);
        else ok = ok && os::file_write(h, bytes, n);
    }
    void flush() {
        if (!pending.empty()) direct(pending.data(), pending.size());
        pending.clear();
    }
    void put(const void* bytes, size_t n) {
        if (n >= FLUSH_AT) {
            flush();
            direct(bytes, n);
            return;
        }
        pending.append(static_cast<const char*>(bytes), n);
        if (pending.size() >= FLUSH_AT) flush();
    }
};
}  // namespace

// The text of a string (from its index, at most `limit` characters) as UTF-8.
// Nothing allocates in here, so the buffer pointer stays good.
static void put_text(Sink& sink, const Cell* str, int64_t limit) {
    TextView t = text_view(str);
    uint32_t n = limit >= 0 && limit < int64_t(t.length) ? uint32_t(limit) : t.length;
    if (t.unit == 1) {
        const uint8_t* p = t.data;
        const uint8_t* end = p + n;
        while (p < end) {
            const uint8_t* run = p;
            p = ascii_run_end(p, end);
            sink.put(run, size_t(p - run));
            for (; p < end && *p >= 0x80; ++p) {
                uint8_t two[2] = {uint8_t(0xC0 | (*p >> 6)), uint8_t(0x80 | (*p & 0x3F))};
                sink.put(two, 2);
            }
        }
        return;
    }
    uint8_t bytes[4];
    for (uint32_t i = 0; i < n; ++i) sink.put(bytes, size_t(utf8_encode_char(t[i], bytes)));
}

// A value as it is written: a string's UTF-8 (up to part characters), a
// binary's bytes from its index (up to part bytes), anything else molded.
static void put_value(Sink& sink, const Cell* value, int64_t part) {
    StackScope scope;
    Cell* v = stack_push_copy(value);
    TypeId t = cell_type(v);
    if (t == T_BINARY) {
        uint32_t n = binary_length(v);
        if (part >= 0 && part < int64_t(n)) n = uint32_t(part);
        sink.put(binary_head_address(v), n);
        return;
    }
    if (t != T_STRING) {
        Cell* text = stack_push();
        string_make(text, 64);
        mold_dispatch(v, text);
        v = text;
    }
    put_text(sink, v, part);
}

void file_write(const Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool append, bool lines) {
    StackScope scope;
    Cell* name = file ? stack_push_copy(file) : nullptr;
    Cell* data = stack_push_copy(value);
    int64_t limit = -1, position = 0;
    if (part) limit = std::max<int64_t>(0, refinement_integer(part, "part"));
    if (seek) position = refinement_integer(seek, "seek");
    Sink sink;
    std::optional<OpenFile> f;
    if (name) {
        int mode = os::FILE_WRITE | (append ? os::FILE_APPEND : 0) | (seek ? os::FILE_KEEP : 0);
        f.emplace(os::file_open(file_os_path(name), mode));
        if (f->h == os::NO_FILE) raise_cannot_open(name);
        sink.h = f->h;
        if (append) sink.ok = os::file_seek_end(f->h);
        else if (position > 0) sink.ok = os::file_seek(f->h, position);
    }
    if (lines && cell_is(data, T_BLOCK)) {
        uint32_t n = block_length(data);
        for (uint32_t i = 0; i < n && sink.ok; ++i) {
            put_value(sink, block_at(data, i), -1);
            sink.put(os::NEWLINE, std::strlen(os::NEWLINE));
        }
    } else {
        put_value(sink, data, limit);
    }
    sink.flush();
    if (!sink.ok) raise_cannot_open(name);
}

// ================================================================== the rest

bool file_delete(const Cell* file) { return os::delete_path(file_os_path(file)); }

bool file_rename(const Cell* from, const Cell* to) {
    std::string a = file_os_path(from);
    return os::rename_path(a, file_os_path(to));
}

void file_query_modified(Cell* result, const Cell* file) {
    std::string path = file_os_path(file);
    std::optional<os::FileTime> t = os::file_modified(path);
    bool trailing_slash = !path.empty() && (path.back() == '/' || path.back() == '\\');
    if (!t || (trailing_slash && os::path_kind(path) != os::PathKind::directory)) {
        set_none(result);
        return;
    }
    date_make_cell_hms(result, t->year, t->month, t->day, t->hour, t->minute, t->second, 0);
}

void file_size_value(Cell* result, const Cell* file) {
    if (file_path_is_dir(file)) {
        set_none(result);
        return;
    }
    OpenFile f(os::file_open(file_os_path(file), os::FILE_READ));
    int64_t size = f.h == os::NO_FILE ? -1 : os::file_size(f.h);
    if (size < 0) set_none(result);
    else if (size <= INT32_MAX) set_integer(result, int32_t(size));
    else set_float(result, double(size));
}

}  // namespace tev

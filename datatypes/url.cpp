// url!: percent escapes, mold, path joins, making from a block, and read and write over HTTP.
#include "datatypes/url.h"
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/string_internal.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== percent escapes

static bool is_alnum(uint32_t c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

bool url_char_as_is(uint32_t c) {
    if (c >= 0x80) return false;
    if (is_alnum(c)) return true;
    switch (c) {
    case '!': case '#': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
    case '-': case '.': case '/': case ':': case '=': case '?': case '_': case '~': case '@':
        return true;
    default:
        return false;
    }
}

static bool unreserved_as_is(uint32_t c) { return is_alnum(c) || c == '-' || c == '.' || c == '_' || c == '~'; }

int url_encode_byte(int rule, uint8_t byte, char out[3]) {
    bool as_is = rule == URL_RULE_UNRESERVED ? unreserved_as_is(byte) : url_char_as_is(byte);
    if (as_is) {
        out[0] = char(byte);
        return 1;
    }
    const char* hex = string_byte_to_hex(byte);
    out[0] = '%';
    out[1] = hex[0];
    out[2] = hex[1];
    return 3;
}

static int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool url_read_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte) {
    if (end - p < 3 || p[0] != '%') return false;
    int hi = hex_digit(p[1]), lo = hex_digit(p[2]);
    if (hi < 0 || lo < 0) return false;
    *byte = uint8_t(hi * 16 + lo);
    return true;
}

// The UTF-8 sequence length a decoded lead byte announces (1 for anything else).
static int escaped_sequence_length(uint8_t b) { return b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1; }

void url_percent_decode(const uint8_t* source, size_t length, Cell* out) {
    std::vector<uint32_t> chars;
    chars.reserve(length);
    const uint8_t* p = source;
    const uint8_t* end = source + length;
    while (p < end) {
        uint8_t bytes[4];
        if (url_read_escape(p, end, &bytes[0])) {
            int n = escaped_sequence_length(bytes[0]);
            if (n == 1) {
                chars.push_back(bytes[0]);
                p += 3;
                continue;
            }
            int k = 1;
            while (k < n && url_read_escape(p + 3 * k, end, &bytes[k])) ++k;
            if (k == n) {
                int32_t cp;
                if (utf8_next_char(bytes, bytes + n, &cp) == bytes + n && cp >= 0) {
                    chars.push_back(uint32_t(cp));
                    p += 3 * n;
                    continue;
                }
            }
        }
        // Not an escape (or not a whole character's): one character of the text itself.
        int32_t cp;
        const uint8_t* next = utf8_next_char(p, end, &cp);
        if (cp < 0) {  // a malformed byte stands for itself
            cp = *p;
            next = p + 1;
        }
        chars.push_back(uint32_t(cp));
        p = next;
    }
    append_codepoints(out, chars.data(), chars.size());
}

void url_percent_encode(const Cell* str, Cell* out, int rule) {
    std::string bytes = string_to_utf8(str);
    std::string text;
    text.reserve(bytes.size());
    char escaped[3];
    for (unsigned char b : bytes) text.append(escaped, size_t(url_encode_byte(rule, b, escaped)));
    string_append_ascii(out, text.data(), text.size());
}

// ================================================================== mold

// The text as UTF-8 with every byte escaped by the URL table: a space gives
// %20, a non-ASCII character the escapes of its UTF-8 bytes. Parens are
// escaped too: the lexer ends a url at them, so they would not load back.
static int32_t url_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    std::string bytes = string_to_utf8(value);
    std::string text;
    text.reserve(bytes.size());
    char escaped[3];
    for (unsigned char b : bytes) {
        int n = b == '(' || b == ')' ? url_encode_byte(URL_RULE_UNRESERVED, b, escaped)
                                     : url_encode_byte(URL_RULE_URL, b, escaped);
        for (int k = 0; k < n; ++k) {
            if (arg && int64_t(text.size()) >= limit) break;
            text.push_back(escaped[k]);
        }
    }
    string_append_ascii(out, text.data(), text.size());
    return limit - int32_t(text.size());
}

// ================================================================== path access

// parent/element: the element formed and joined with exactly one "/" between
// them; the parent itself is left unchanged.
static void url_eval_path(PathStep& step) {
    if (step.set) raise_error(err::script::bad_path_set, step.path ? step.path : step.parent, step.element);
    StackScope scope;
    Cell* parent = stack_push_copy(step.parent);
    Cell* element = stack_push_copy(step.element);
    if (cell_is(element, T_GET_WORD)) *element = *evaluation_hooks.word_value(element);
    uint32_t parent_length = string_rest_length(parent);
    Cell* joined = stack_push();
    string_make_width(joined, parent_length + 16, node_buffer(series_node(parent))->unit());
    form_dispatch(element, joined);
    bool parent_slash = parent_length > 0 && string_char_at(parent, parent_length - 1) == '/';
    bool element_slash = string_length(joined) > 0 && string_char_at(joined, 0) == '/';
    if (parent_slash && element_slash) string_remove_chars(series_node(joined), 0, 1);
    else if (!parent_slash && !element_slash) string_insert_char(series_node(joined), 0, '/');
    string_concatenate(joined, parent, -1, 0, CONCAT_INSERT);
    cell_set_type(joined, cell_type(parent));
    *step.result = *joined;
}

// ================================================================== make and to

// scheme://host[:port]/value/value#issue from the values of a block.
static void url_from_block(ActionFrame& f) {
    StackScope scope;
    Cell* spec = stack_push_copy(f.args + 1);
    uint32_t n = block_length(spec);
    if (n == 0) raise_error_type(err::script::bad_to_arg, T_URL, spec);
    Cell* out = stack_push();
    string_make(out, 16);
    for (uint32_t i = 0; i < n; ++i) {
        Cell* v = stack_push_copy(block_at(spec, i));
        if (i == 1) string_append_ascii(out, "://", 3);
        else if (i == 2 && cell_is(v, T_INTEGER)) string_append_ascii(out, ":", 1);
        else if (i >= 2) string_append_ascii(out, cell_is(v, T_ISSUE) ? "#" : "/", 1);
        form_dispatch(v, out);
        stack_drop_to(v);
    }
    cell_set_type(out, T_URL);
    *f.args = *out;
}

static bool block_spec(ActionFrame& f) {
    TypeId t = cell_type(f.args + 1);
    return f.type == T_URL && (t == T_BLOCK || t == T_PAREN || t == T_HASH);
}

static void url_make(ActionFrame& f) {
    if (block_spec(f)) url_from_block(f);
    else action_required<Act::make>(T_STRING)(f);
}

static void url_to(ActionFrame& f) {
    if (block_spec(f)) url_from_block(f);
    else action_required<Act::to>(T_STRING)(f);
}

// ================================================================== I/O

void raise_io_not_done(const char* action) {
    Cell word = word_from_cstring(action);
    raise_error(err::internal::not_done, &word);
}

bool url_is_http(const Cell* url) {
    if (string_length(url) < 4) return false;
    static const char http[] = "http";
    for (uint32_t i = 0; i < 4; ++i) {
        uint32_t c = string_char_at(url, i);
        if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
        if (c != uint32_t(http[i])) return false;
    }
    return true;
}

// Refinement positions of read and write (their specs' order).
enum ReadRef { READ_PART = 0, READ_SEEK, READ_BINARY, READ_LINES, READ_INFO, READ_AS };
enum WriteRef { WRITE_BINARY = 0, WRITE_LINES, WRITE_INFO, WRITE_APPEND, WRITE_PART, WRITE_SEEK, WRITE_ALLOW,
                WRITE_AS };

[[noreturn]] static void raise_no_connect(const Cell* url) {
    Cell name = *url;
    raise_error(err::access::no_connect, &name);
}

HttpRequestFn url_http_request_hook = nullptr;

static bool request_over_http(Cell* result, const Cell* method, const Cell* url, const Cell* headers, const Cell* body,
                              bool binary, bool lines, bool info) {
    return url_http_request_hook && url_http_request_hook(result, method, url, headers, body, binary, lines, info);
}

static void url_read(ActionFrame& f) {
    if (!url_is_http(f.args)) raise_io_not_done("read");
    if (f.has(READ_PART) || f.has(READ_SEEK) || f.has(READ_AS)) raise_io_not_done("read");
    Cell method = word_from_cstring("get");
    if (!request_over_http(f.args, &method, f.args, nullptr, nullptr, f.has(READ_BINARY), f.has(READ_LINES),
                      f.has(READ_INFO)))
        raise_no_connect(f.args);
}

// The data of an http write: a block is [method headers data], each part
// checked before anything is sent; an empty block asks for a get. Anything
// else is the body of a post.
struct HttpWriteParts {
    Cell method;
    const Cell* headers = nullptr;
    const Cell* body = nullptr;
};

static HttpWriteParts http_write_parts(const Cell* data) {
    HttpWriteParts parts;
    if (!cell_is(data, T_BLOCK)) {
        parts.method = word_from_cstring("post");
        parts.body = data;
        return parts;
    }
    uint32_t n = block_length(data);
    if (n == 0) {
        parts.method = word_from_cstring("get");
        parts.body = data;
        return parts;
    }
    uint32_t i = 0;
    Cell v = *block_at(data, i++);
    if (!cell_is(&v, T_WORD)) raise_error(err::script::invalid_arg, &v);
    parts.method = v;
    if (i < n && cell_is(block_at(data, i), T_BLOCK)) parts.headers = block_at(data, i++);
    if (i < n) {
        v = *block_at(data, i);
        TypeId t = cell_type(&v);
        if (t != T_BLOCK && t != T_STRING && t != T_BINARY) raise_error(err::script::invalid_arg, &v);
        parts.body = block_at(data, i);
    }
    return parts;
}

static void url_write(ActionFrame& f) {
    if (!url_is_http(f.args)) raise_io_not_done("write");
    if (f.has(WRITE_SEEK) || f.has(WRITE_ALLOW) || f.has(WRITE_AS)) raise_io_not_done("write");
    Cell* data = f.args + 1;
    TypeId t = cell_type(data);
    if (t != T_BLOCK && t != T_STRING && t != T_BINARY) raise_error(err::script::invalid_arg, data);
    HttpWriteParts parts = http_write_parts(data);
    if (!request_over_http(f.args, &parts.method, f.args, parts.headers, parts.body, f.has(WRITE_BINARY),
                      f.has(WRITE_LINES), f.has(WRITE_INFO)))
        raise_no_connect(f.args);
}

static void url_open(ActionFrame&) { raise_io_not_done("open"); }

// ================================================================== registration

template <> void register_type<T_URL>() {
    register_datatype(T_URL, {
        .make = url_make, .to = url_to, .mold = url_mold, .eval_path = url_eval_path, .open = url_open,
        .read = url_read, .write = url_write
    });
}

}  // namespace tev

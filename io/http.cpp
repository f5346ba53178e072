// HTTP for url! values: the request built from language values, the answer turned back into them.
#include "io/http.h"
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "io/files.h"
#include "os/http.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// ================================================================== request

bool is_any_word(const Cell* v) {
    TypeId t = cell_type(v);
    return t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD;
}

std::string formed_text(const Cell* v) {
    StackScope scope;
    Cell* text = stack_push();
    string_make(text, 32);
    form_dispatch(v, text);
    return string_to_utf8(text);
}

std::string method_text(const Cell* method) {
    std::string text = symbol_text(word_symbol(method));
    for (char& ch : text)
        if (ch >= 'a' && ch <= 'z') ch = char(ch - 'a' + 'A');
    return text;
}

// The url's text is held decoded: the wire needs its escapes back.
std::string wire_url(const Cell* url) {
    StackScope scope;
    Cell* text = stack_push();
    string_make(text, string_rest_length(url) + 16);
    url_percent_encode(url, text, URL_RULE_URL);
    return string_to_utf8(text);
}

// Each pair is copied out of the block before anything allocates: forming a
// value may move the block's buffer.
void add_caller_headers(Cell block, std::vector<os::HttpHeader>* out) {
    uint32_t n = block_length(&block);
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        Cell name = *block_at(&block, i);
        Cell value = *block_at(&block, i + 1);
        os::HttpHeader h;
        h.name = is_any_word(&name) ? symbol_text(word_symbol(&name)) : formed_text(&name);
        h.value = cell_is(&value, T_STRING) ? string_to_utf8(&value) : formed_text(&value);
        out->push_back(std::move(h));
    }
}

const os::HttpHeader default_headers[] = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};

// ================================================================== answer

struct HeaderEntry {
    std::string name;
    std::vector<std::string> values;
};

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

std::vector<HeaderEntry> parse_header_lines(const char* text, size_t length) {
    std::vector<HeaderEntry> entries;
    size_t pos = 0;
    while (pos < length) {
        const void* lf = std::memchr(text + pos, '\n', length - pos);
        size_t end = lf ? size_t(static_cast<const char*>(lf) - text) : length;
        size_t stop = end;
        if (stop > pos && text[stop - 1] == '\r') --stop;
        const void* colon = std::memchr(text + pos, ':', stop - pos);
        if (colon) {
            size_t c = size_t(static_cast<const char*>(colon) - text);
            size_t a = pos, b = c;
            while (a < b && blank(text[a])) ++a;
            while (b > a && blank(text[b - 1])) --b;
            size_t v = c + 1;
            if (v < stop && text[v] == ' ') ++v;
            if (b > a) {
                std::string name(text + a, b - a);
                std::string value(text + v, stop - v);
                HeaderEntry* found = nullptr;
                for (HeaderEntry& e : entries)
                    if (same_name(e.name, name)) found = &e;
                if (!found) {
                    entries.push_back({std::move(name), {}});
                    found = &entries.back();
                }
                found->values.push_back(std::move(value));
            }
        }
        pos = end + 1;
    }
    return entries;
}

Cell* push_text(const std::string& s) {
    return string_load(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), nullptr, 0);
}

bool is_utf8(const std::string& s) {
    const auto* p = reinterpret_cast<const uint8_t*>(s.data());
    uint32_t pos = 0, size = uint32_t(s.size());
    while (pos < size) {
        if (p[pos] < 0x80) {
            ++pos;
            continue;
        }
        uint8_t lead = p[pos];
        int len = lead >= 0xC2 && lead <= 0xDF   ? 2
                  : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                 : 0;
        if (len == 0 || pos + uint32_t(len) > size) return false;
        uint32_t cp = lead & (0xFF >> (len + 1));
        for (int i = 1; i < len; ++i) {
            if ((p[pos + i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[pos + i] & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        pos += uint32_t(len);
    }
    return true;
}

// Servers may send header bytes that are not UTF-8 (older ones send Latin-1):
// such a line is read byte for byte as Latin-1 rather than refused, and a NUL
// byte, which no header may hold, is dropped so that names are not cut short.
std::string header_text(const std::string& s) {
    std::string out;
    bool utf8 = is_utf8(s);
    for (char c : s) {
        auto b = uint8_t(c);
        if (b == 0) continue;
        if (utf8 || b < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | (b >> 6));
            out += char(0x80 | (b & 0x3F));
        }
    }
    return out;
}

void body_value(Cell* out, const std::string& body, bool binary, bool lines) {
    StackScope scope;
    if (binary) {
        // The bytes are in C++ memory, which the collector never moves: no staging copy.
        Cell* bin = stack_push();
        binary_make_cell(bin, uint32_t(body.size()));
        binary_append_bytes(bin, body.data(), uint32_t(body.size()));
        *out = *bin;
    } else if (lines) {
        Cell* block = stack_push();
        block_make(block, 16);
        text_split_lines(block, body.data(), body.size());
        *out = *block;
    } else {
        *out = *push_text(body);
    }
}

}  // namespace

Cell* http_headers_to_map(const char* text, size_t length) {
    std::vector<HeaderEntry> entries = parse_header_lines(text, length);
    Cell* map = stack_push();
    {
        StackScope scope;
        Cell* pairs = stack_push();
        block_make(pairs, uint32_t(entries.size() * 2));
        for (const HeaderEntry& e : entries) {
            std::string name = header_text(e.name);
            if (name.empty()) continue;
            Cell key = word_from_cstring(name.c_str());
            block_append(pairs, &key);
            if (e.values.size() == 1) {
                block_append(pairs, push_text(header_text(e.values[0])));
            } else {
                Cell* group = stack_push();
                block_make(group, uint32_t(e.values.size()));
                for (const std::string& v : e.values) block_append(group, push_text(header_text(v)));
                block_append(pairs, group);
            }
        }
        map_make_cell(map, pairs, 0);
    }
    return map;
}

bool http_request(Cell* result, const Cell* method, const Cell* url, const Cell* headers, const Cell* body,
                  bool binary, bool lines, bool info) {
    // The header block and the body may be cells inside the caller's request
    // block: everything is read from them before the first allocation.
    os::HttpRequest request;
    request.method = method_text(method);
    if (body && cell_is(body, T_BINARY)) {
        request.body_kind = os::HttpRequest::Body::bytes;
        request.body.assign(reinterpret_cast<const char*>(binary_head_address(body)), binary_length(body));
    } else if (body && cell_is(body, T_STRING)) {
        request.body_kind = os::HttpRequest::Body::text;
        request.body = string_to_utf8(body);
    }
    Cell header_block;
    if (headers) header_block = *headers;
    request.url = wire_url(url);
    if (headers) add_caller_headers(header_block, &request.headers);
    else request.headers.assign(std::begin(default_headers), std::end(default_headers));

    os::HttpResponse response;
    if (!os::http_send(request, &response)) return false;

    StackScope scope;
    if (!info) {
        body_value(result, response.body, binary, lines);
        return true;
    }
    Cell* block = stack_push();
    block_make(block, 3);
    Cell status;
    set_integer(&status, response.status);
    block_append(block, &status);
    block_append(block, http_headers_to_map(response.headers.data(), response.headers.size()));
    Cell* content = stack_push();
    body_value(content, response.body, binary, lines);
    block_append(block, content);
    *result = *block;
    return true;
}

}  // namespace tev

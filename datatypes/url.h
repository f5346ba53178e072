// url! and file!: strings that name resources, and the percent escapes they are written with.
//
// A url! holds its text decoded; molding escapes it again. The escaping and
// decoding here also serve enhex, dehex and the lexer.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// ------------------------------------------------------------------ percent escapes

// Escape rules: the URL table (letters, digits and ! # $ & ' ( ) * + , - . / :
// = ? _ ~ @ stand for themselves), or only the unreserved set (letters, digits
// and - . _ ~).
constexpr int URL_RULE_URL = 0;
constexpr int URL_RULE_UNRESERVED = 254;

// True when the ASCII character c is written as itself under the URL table.
bool url_char_as_is(uint32_t c);
// Writes the byte itself (returns 1) or "%" and two upper-case hex digits
// (returns 3) into out. Bytes of 0x80 and above are always escaped.
int url_encode_byte(int rule, uint8_t byte, char out[3]);
// True, with the byte, when [p, end) starts with "%" and two hex digits.
bool url_read_escape(const uint8_t* p, const uint8_t* end, uint8_t* byte);

// Appends the decoded text of `length` UTF-8 bytes to the string! out: escapes
// of a byte or of a whole UTF-8 sequence become that character; a malformed
// escape is taken as literal text. Never reads past the length, never raises.
void url_percent_decode(const uint8_t* source, size_t length, Cell* out);
// Appends the UTF-8 bytes of the text of str (from its index), escaped by the
// rule, to the string! out.
void url_percent_encode(const Cell* str, Cell* out, int rule);

// ------------------------------------------------------------------ I/O

// What the I/O entries cannot do yet (other schemes, /part and /seek over
// HTTP): internal/not-done naming the action.
[[noreturn]] void raise_io_not_done(const char* action);

// True when the text (from its index) starts with "http", in any case.
bool url_is_http(const Cell* url);

// url!'s read and write over HTTP go through io/ (a higher layer), which
// start-up names here; the arguments and answer are those of io/http.h's
// http_request. Until then a request cannot connect.
using HttpRequestFn = bool (*)(Cell* result, const Cell* method, const Cell* url, const Cell* headers,
                               const Cell* body, bool binary, bool lines, bool info);
extern HttpRequestFn url_http_request_hook;

}  // namespace tev

// HTTP for the read and write actions of url!: one request, its answer as a language value.
#pragma once
#include <cstddef>
#include <string>
#include "runtime/cell.h"

namespace tev {

// Performs one request and stores the answer in result: the body (string! of
// UTF-8 text, binary! with binary, a block of lines with lines), or with info
// the block [status headers body] where headers is a map! (see
// http_headers_to_map). method is a word (sent upper case); headers is a
// block of name/value pairs that replaces the default headers, or null; body
// is a binary!, a string! or null (anything else sends no body). Returns
// false, leaving result alone, when the request could not be made.
bool http_request(Cell* result, const Cell* method, const Cell* url, const Cell* headers, const Cell* body,
                  bool binary, bool lines, bool info);

// Reads "Name: value" lines (CR LF, or a bare LF, between them) into a new
// map! pushed on the value stack: each name becomes a word key; a name seen
// again turns its entry into a block of the values in order. A line without
// a colon is skipped; a value runs to the line's end, its one leading space
// dropped; nothing past the text's end is read.
Cell* http_headers_to_map(const char* text, size_t length);

}  // namespace tev

// The file layer: whole-file reads and writes, listings, sizes, dates, delete and rename for file! values.
//
// Paths arrive in the language's form (file! or string!, "/" separators) and
// are turned into the system's form just before each call. Sizes are 64-bit.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"

namespace tev {

// The system form of a file name (from its index), as UTF-8.
std::string file_os_path(const Cell* file);
// True when the name ends in a slash (either kind), or is "." or "..", or ends
// in "/." or "/..": it names a directory by its spelling.
bool file_path_is_dir(const Cell* file);

// read: the listing of a directory, or the file's content as a string! (UTF-8
// text), a binary! or a block of lines. part and seek are integer! or null.
// Raises access/cannot-open when the file cannot be read.
void file_read(Cell* result, const Cell* file, const Cell* part, const Cell* seek, bool binary, bool lines);
// write: a string! as UTF-8, a binary! from its index, anything else molded;
// with lines, each value of a block followed by the platform's line end. A
// null file writes to standard output. Raises access/cannot-open when the
// file cannot be opened or fully written.
void file_write(const Cell* file, const Cell* value, const Cell* part, const Cell* seek, bool append, bool lines);
bool file_delete(const Cell* file);
bool file_rename(const Cell* from, const Cell* to);
// The last write time as a date! in UTC, or none.
void file_query_modified(Cell* result, const Cell* file);
// size?: bytes as an integer!, a float! beyond the integer range, none for a
// directory or a file that cannot be opened.
void file_size_value(Cell* result, const Cell* file);

// The lines of UTF-8 text: LF ends a line, a CR before it is dropped, text
// after the last LF is a last line. Appends a string! per line to block.
void text_split_lines(Cell* block, const char* text, size_t length);


}  // namespace tev

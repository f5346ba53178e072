// Symbols: every distinct spelling once, as a symbol! cell in the symbol table;
// symbol id n is cell n-1. Ids are never reused or removed.
//
// A symbol's alias is the id of the earliest-interned symbol with the same
// spelling ignoring ASCII case (-1 for that symbol itself), so case-insensitive
// equality of words is one alias lookup per side, never a text comparison.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"

namespace tev {

// Start-up: the symbol table block first, its hash index after the global context.
void symbol_table_make_block();
void symbol_table_make_index();

NodeRef symbol_table_block();
NodeRef symbol_table_index();
uint32_t symbol_count();

// Exact interning: a new case variant of a known spelling gets that spelling's
// earliest variant as its alias.
int32_t symbol_from_cstring(const char* text);
int32_t symbol_from_utf8(const uint8_t* bytes, uint32_t length);
// Case-insensitive interning: any ASCII-case variant already known is the answer.
int32_t symbol_from_cstring_nocase(const char* text);

// The alias when it is above 0, else the id itself.
int32_t symbol_resolve_alias(int32_t id);
int32_t symbol_alias_raw(int32_t id);
// The UTF-8 spelling, without its terminating zero. Valid until the next allocation.
const uint8_t* symbol_spelling(int32_t id, uint32_t* length);
std::string symbol_text(int32_t id);
// The symbol's entry (its string! made on demand by datatypes/symbol.h).
// Valid until the next allocation.
Cell* symbol_entry(int32_t id);

// Orders two UTF-8 spellings (byte series nodes) as strings compare: code point
// by code point, case-folded unless op is strict-equal or case-sensitive sort.
// -1, 0 or 1; never allocates.
int compare_spellings(NodeRef a, NodeRef b, int op);
int symbol_compare(int32_t a, int32_t b, int op);

}  // namespace tev

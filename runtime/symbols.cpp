// The symbol table: interning spellings, their case-folded aliases, and each symbol's string on demand.
#include "runtime/symbols.h"
#include <cassert>
#include <cstring>
#include "runtime/hash_table.h"
#include "runtime/memory.h"

namespace tev {

namespace {

constexpr uint32_t SYMBOL_TABLE_SIZE = 4000;

NodeRef table_block = 0;  // symbol! cells; id n is cell n-1
NodeRef table_index = 0;  // kind-2 hash index over table_block

void mark_symbol_table() {
    gc_mark_hash_table(&table_index);
    gc_mark_node_ref(&table_block);
}

inline Cell* entry(int32_t id) {
    assert(id >= 1 && uint32_t(id) <= symbol_count());
    return node_buffer(table_block)->cells() + (id - 1);
}

}  // namespace

void symbol_table_make_block() {
    if (table_block) return;
    table_block = alloc_series_cells(SYMBOL_TABLE_SIZE);
    gc_add_mark_hook(mark_symbol_table);
}

void symbol_table_make_index() {
    if (table_index) return;
    table_index = hash_table_create(SYMBOL_TABLE_SIZE, table_block, 0, HASH_KIND_WORDS, 1);
}

NodeRef symbol_table_block() { return table_block; }
NodeRef symbol_table_index() { return table_index; }

uint32_t symbol_count() {
    SeriesBuffer* b = node_buffer(table_block);
    return (b->tail - b->head) / sizeof(Cell);
}

int32_t symbol_from_utf8(const uint8_t* bytes, uint32_t length) {
    return symbol_table_intern(table_index, bytes, length, 0);
}

int32_t symbol_from_cstring(const char* text) {
    return symbol_from_utf8(reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

int32_t symbol_from_cstring_nocase(const char* text) {
    return symbol_table_intern(table_index, reinterpret_cast<const uint8_t*>(text),
                               uint32_t(std::strlen(text)), 1);
}

int32_t symbol_alias_raw(int32_t id) { return int32_t(entry(id)->w1); }

int32_t symbol_resolve_alias(int32_t id) {
    int32_t alias = int32_t(entry(id)->w1);
    return alias > 0 ? alias : id;
}

const uint8_t* symbol_spelling(int32_t id, uint32_t* length) {
    SeriesBuffer* b = node_buffer(entry(id)->w3);
    if (length) *length = b->tail - b->head;
    return b->head_ptr();
}

std::string symbol_text(int32_t id) {
    uint32_t length;
    const uint8_t* s = symbol_spelling(id, &length);
    return std::string(reinterpret_cast<const char*>(s), length);
}

}  // namespace tev

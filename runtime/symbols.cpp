// The symbol table: interning spellings, their case-folded aliases, and each symbol's string on demand.
#include "runtime/symbols.h"
#include <cassert>
#include <cstring>
#include "runtime/case_tables.h"
#include "runtime/compare_ops.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

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

int32_t symbol_alias_raw(int32_t id) { return symbol_entry_alias(entry(id)); }

// An id outside the table (a malformed word) resolves to itself instead of
// reading past the table.
int32_t symbol_resolve_alias(int32_t id) {
    SeriesBuffer* b = node_buffer(table_block);
    if (id < 1 || uint32_t(id) > (b->tail - b->head) / sizeof(Cell)) return id;
    int32_t alias = symbol_entry_alias(b->cells() + (id - 1));
    return alias > 0 ? alias : id;
}

const uint8_t* symbol_spelling(int32_t id, uint32_t* length) {
    SeriesBuffer* b = node_buffer(symbol_entry_spelling(entry(id)));
    if (length) *length = b->tail - b->head;
    return b->head_ptr();
}

std::string symbol_text(int32_t id) {
    uint32_t length;
    const uint8_t* s = symbol_spelling(id, &length);
    return std::string(reinterpret_cast<const char*>(s), length);
}

Cell* symbol_entry(int32_t id) { return entry(id); }

int compare_spellings(NodeRef a, NodeRef b, int op) {
    SeriesBuffer* ba = node_buffer(a);
    SeriesBuffer* bb = node_buffer(b);
    const uint8_t *pa = ba->head_ptr(), *ea = ba->tail_ptr();
    const uint8_t *pb = bb->head_ptr(), *eb = bb->tail_ptr();
    bool exact = op == CMP_STRICT_EQUAL || op == CMP_CASE_SORT;
    while (pa < ea && pb < eb) {
        int32_t ca, cb;
        pa = utf8_next_char(pa, ea, &ca);
        pb = utf8_next_char(pb, eb, &cb);
        if (ca == cb) continue;
        if (!exact && ca >= 0 && cb >= 0) {
            ca = int32_t(unicode_upper(uint32_t(ca)));
            cb = int32_t(unicode_upper(uint32_t(cb)));
            if (ca == cb) continue;
        }
        return ca < cb ? -1 : 1;
    }
    if (pa < ea) return 1;
    return pb < eb ? -1 : 0;
}

int symbol_compare(int32_t a, int32_t b, int op) {
    return compare_spellings(symbol_entry_spelling(entry(a)), symbol_entry_spelling(entry(b)), op);
}

}  // namespace tev

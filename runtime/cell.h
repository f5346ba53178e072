// Value cells: every Tev value is 16 bytes, a header word and three payload words.
//
// The layout is the same in the 32-bit Windows build and the 64-bit host build
// because a cell never holds a native pointer. Everything a cell refers to is a
// 32-bit reference: a series is a NodeRef (an index into the node frames, see
// runtime/memory.h), a native object is an index into the handle table, a
// native!/action! is its slot number in the natives or action-entry table. The
// collector can therefore move buffers by rewriting one node slot, and a cell
// can be copied with memcpy, saved in Tevbin and compared bitwise.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include "runtime/check.h"
#include "runtime/type_list.h"

namespace tev {

using NodeRef = uint32_t;  // 0 is "no node"

// Header flags (bits 8-31). Type-specific meanings overlap by design; the
// datatype that owns a cell decides how to read them.
constexpr uint32_t CELL_TYPE_MASK = 0xFF;
constexpr uint32_t FLAG_NEW_LINE = 0x40000000;   // block mold starts a line here
constexpr uint32_t FLAG_SLOT_SET = 0x2000;       // object slot was assigned
constexpr uint32_t FLAG_MONEY_SIGN = 0x400000;
constexpr uint32_t FLAG_OWNED = 0x10000;         // image! owns its pixel store
constexpr int TUPLE_COUNT_SHIFT = 19;

struct Cell {
    uint32_t header;
    uint32_t w1, w2, w3;
};
static_assert(sizeof(Cell) == 16, "cells are 16 bytes in every build");

// ------------------------------------------------------------------ header

inline TypeId cell_type(const Cell* c) { return TypeId(c->header & CELL_TYPE_MASK); }
inline void cell_set_type(Cell* c, TypeId t) { c->header = (c->header & ~CELL_TYPE_MASK) | t; }
inline bool cell_is(const Cell* c, TypeId t) { return cell_type(c) == t; }
inline bool cell_has_flag(const Cell* c, uint32_t f) { return (c->header & f) != 0; }
inline void cell_set_flag(Cell* c, uint32_t f) { c->header |= f; }
inline void cell_clear_flag(Cell* c, uint32_t f) { c->header &= ~f; }
inline void cell_copy(Cell* dst, const Cell* src) { *dst = *src; }

// Writes a whole cell with one 16-byte store. A cell written piece by piece
// and then copied whole (as the evaluator does with every result) makes the
// processor wait for the pieces: a wide load cannot take its data from several
// narrower stores still in flight.
typedef uint32_t CellWords __attribute__((vector_size(16)));
inline void cell_store(Cell* c, uint32_t header, uint32_t w1, uint32_t w2, uint32_t w3) {
    CellWords v = {header, w1, w2, w3};
    std::memcpy(c, &v, sizeof v);
}

// A freshly reserved cell is unset! with no flags.
inline void cell_init(Cell* c, TypeId t) { cell_store(c, t, 0, 0, 0); }

// ------------------------------------------------------------------ scalars

inline void set_unset(Cell* c) { cell_init(c, T_UNSET); }
inline void set_none(Cell* c) { cell_init(c, T_NONE); }
inline void set_logic(Cell* c, bool b) { cell_store(c, T_LOGIC, b ? 1 : 0, 0, 0); }
inline bool get_logic(const Cell* c) { return c->w1 != 0; }
// The put_ writers change the payload only: header flags (a new-line mark) stay.
inline void put_logic(Cell* c, bool b) { c->w1 = b ? 1 : 0; }

inline void set_integer(Cell* c, int32_t v) { cell_store(c, T_INTEGER, 0, uint32_t(v), 0); }
inline int32_t get_integer(const Cell* c) { return int32_t(c->w2); }
inline void put_integer(Cell* c, int32_t v) { c->w2 = uint32_t(v); }

inline void set_char(Cell* c, uint32_t cp) { cell_store(c, T_CHAR, 0, cp, 0); }
inline uint32_t get_char(const Cell* c) { return c->w2; }
inline void put_char(Cell* c, uint32_t cp) { c->w2 = cp; }
// char! and integer! keep their value in the same word: code that takes either reads it once.
inline uint32_t get_char_or_integer(const Cell* c) { return c->w2; }

inline void set_datatype(Cell* c, TypeId t) { cell_store(c, T_DATATYPE, t, 0, 0); }
inline TypeId get_datatype(const Cell* c) { return TypeId(c->w1); }

// float!, percent!, time!: the double lives in words 2-3 (memcpy: cells are
// only 4-byte aligned inside some buffers).
inline double get_float(const Cell* c) { double d; std::memcpy(&d, &c->w2, 8); return d; }
inline void put_float(Cell* c, double d) { std::memcpy(&c->w2, &d, 8); }
inline void set_float(Cell* c, double d, TypeId t = T_FLOAT) {
    TEV_ASSERT(t == T_FLOAT || t == T_PERCENT || t == T_TIME);  // the types whose payload is a double
    uint32_t w[2];
    std::memcpy(w, &d, 8);
    cell_store(c, t, 0, w[0], w[1]);
}

// The three payload words as 12 bytes, for the types whose payload is one
// undivided block (typeset! bits, tuple! bytes) and for code that copies,
// hashes or compares payloads without knowing the type.
// (Reached from the cell, not from word 1, so that no compiler takes the
// 12 bytes for an overflow of one 4-byte word.)
inline uint8_t* cell_payload(Cell* c) { return reinterpret_cast<uint8_t*>(c) + offsetof(Cell, w1); }
inline const uint8_t* cell_payload(const Cell* c) { return reinterpret_cast<const uint8_t*>(c) + offsetof(Cell, w1); }
constexpr uint32_t CELL_PAYLOAD_BYTES = 12;
// Payload word n (1-3) read as no type's field: for hashing and copying raw words.
inline uint32_t cell_word(const Cell* c, int n) { return n == 1 ? c->w1 : n == 2 ? c->w2 : c->w3; }
inline bool cell_payload_equal(const Cell* a, const Cell* b) {
    return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3;
}

// ------------------------------------------------------------------ series

// block!, paren!, paths, strings, binary!...: word 1 the head index in units,
// word 2 the node of the series buffer; string types keep their conversion
// cache node in word 3.
inline uint32_t series_index(const Cell* c) { return c->w1; }
inline NodeRef series_node(const Cell* c) { return c->w2; }
inline void set_series(Cell* c, TypeId t, NodeRef node, uint32_t index = 0) { cell_store(c, t, index, node, 0); }
inline void series_set_index(Cell* c, uint32_t index) { c->w1 = index; }
inline void series_set_node(Cell* c, NodeRef node) { c->w2 = node; }
// The collector rewrites a node reference in place when it renumbers nodes.
inline NodeRef* series_node_slot(Cell* c) { return &c->w2; }

// string! and the other text types keep the node of their conversion cache
// (0: none yet) in word 3.
inline NodeRef text_cache_node(const Cell* c) { return c->w3; }
inline void text_set_cache_node(Cell* c, NodeRef node) { c->w3 = node; }

// hash!: the block cell's word 3 holds the node of its index table (0: no index).
inline NodeRef hash_index_table(const Cell* c) { return c->w3; }
inline void hash_set_index_table(Cell* c, NodeRef table) { c->w3 = table; }
inline NodeRef* hash_index_table_slot(Cell* c) { return &c->w3; }

// ------------------------------------------------------------------ words

// word! .. issue!: word 1 the context node (0: unbound), word 2 the symbol id,
// word 3 the slot index in that context (-1: not resolved yet, `self`, issues).
constexpr int32_t WORD_NO_INDEX = -1;
inline NodeRef word_context(const Cell* c) { return c->w1; }
inline int32_t word_symbol(const Cell* c) { return int32_t(c->w2); }
inline int32_t word_index(const Cell* c) { return int32_t(c->w3); }
inline void word_set_context(Cell* c, NodeRef ctx) { c->w1 = ctx; }
inline void word_set_symbol(Cell* c, int32_t symbol) { c->w2 = uint32_t(symbol); }
inline void word_set_index(Cell* c, int32_t index) { c->w3 = uint32_t(index); }
inline void word_bind_to(Cell* c, NodeRef ctx, int32_t index) {
    c->w1 = ctx;
    c->w3 = uint32_t(index);
}
// The word's payload whole, the type and flags kept.
inline void word_set(Cell* c, NodeRef ctx, int32_t symbol, int32_t index) {
    c->w1 = ctx;
    c->w2 = uint32_t(symbol);
    c->w3 = uint32_t(index);
}
inline NodeRef* word_context_slot(Cell* c) { return &c->w1; }

// ------------------------------------------------------------------ symbols

// A symbol table entry (symbol! cell): word 1 the alias (see runtime/symbols.h),
// word 2 the node of its string! (0 until first asked for), word 3 the node of
// its UTF-8 spelling.
inline int32_t symbol_entry_alias(const Cell* c) { return int32_t(c->w1); }
inline NodeRef symbol_entry_string(const Cell* c) { return c->w2; }
inline NodeRef symbol_entry_spelling(const Cell* c) { return c->w3; }
inline void symbol_entry_set_alias(Cell* c, int32_t alias) { c->w1 = uint32_t(alias); }
inline void symbol_entry_set_string(Cell* c, NodeRef node) { c->w2 = node; }
inline void symbol_entry_set_spelling(Cell* c, NodeRef node) { c->w3 = node; }

// ------------------------------------------------------------------ contexts

// The context! cell at the head of a context (see runtime/context.h): word 1
// the word table, word 2 the values node, or for a function context the value
// stack position of the running call's first argument + 1 (0: no call runs).
inline NodeRef context_cell_table(const Cell* c) { return c->w1; }
inline uint32_t context_cell_values(const Cell* c) { return c->w2; }
inline void context_cell_set_table(Cell* c, NodeRef table) { c->w1 = table; }
inline void context_cell_set_values(Cell* c, uint32_t values) { c->w2 = values; }
inline NodeRef* context_cell_table_slot(Cell* c) { return &c->w1; }
inline NodeRef* context_cell_values_slot(Cell* c) { return &c->w2; }

// object!, error! and port!: word 1 the context node (a port may have none yet),
// word 2 the class id, word 3 the node of the change-handler record (0: none).
inline NodeRef object_context(const Cell* c) { return c->w1; }
inline int32_t object_class_id(const Cell* c) { return int32_t(c->w2); }
inline NodeRef object_handlers(const Cell* c) { return c->w3; }
inline void object_set_context(Cell* c, NodeRef ctx) { c->w1 = ctx; }
inline void object_set_class_id(Cell* c, int32_t id) { c->w2 = uint32_t(id); }
inline void object_set_handlers(Cell* c, NodeRef record) { c->w3 = record; }
inline NodeRef* object_context_slot(Cell* c) { return &c->w1; }
inline NodeRef* object_handlers_slot(Cell* c) { return &c->w3; }

// Every value that owns a context (object!, error!, port!, function!, routine!)
// keeps its node in word 1: code that only walks or rebinds the context reads it here.
inline NodeRef value_context(const Cell* c) { return c->w1; }
inline void value_set_context(Cell* c, NodeRef ctx) { c->w1 = ctx; }

// ------------------------------------------------------------------ callables

// An op! keeps the type of the callable it was made from in header bits 16-23,
// and that callable's payload words.
constexpr int OP_SOURCE_SHIFT = 16;
inline TypeId op_source_type(const Cell* c) { return TypeId((c->header >> OP_SOURCE_SHIFT) & 0xFF); }
inline uint32_t op_header(TypeId source) { return T_OP | (uint32_t(source) << OP_SOURCE_SHIFT); }

}  // namespace tev

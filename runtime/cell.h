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

inline void set_integer(Cell* c, int32_t v) { cell_store(c, T_INTEGER, 0, uint32_t(v), 0); }
inline int32_t get_integer(const Cell* c) { return int32_t(c->w2); }

inline void set_char(Cell* c, uint32_t cp) { cell_store(c, T_CHAR, 0, cp, 0); }
inline uint32_t get_char(const Cell* c) { return c->w2; }

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

// ------------------------------------------------------------------ series

// block!, paren!, paths, strings, binary!...: word 1 the head index in units,
// word 2 the node of the series buffer; string types keep their conversion
// cache node in word 3.
inline uint32_t series_index(const Cell* c) { return c->w1; }
inline NodeRef series_node(const Cell* c) { return c->w2; }
inline void set_series(Cell* c, TypeId t, NodeRef node, uint32_t index = 0) { cell_store(c, t, index, node, 0); }

}  // namespace tev

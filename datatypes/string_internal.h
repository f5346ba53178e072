// Helpers shared by the string! units (string.cpp, string_search.cpp): read-only
// views of text, bulk appends, and forming other values into a string.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/case_tables.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace tev {

// The text of a string cell from its index (clamped, without touching the
// cell) to its tail. Valid until the next allocation.
struct TextView {
    const uint8_t* data;   // at the index
    uint32_t unit;
    uint32_t length;       // code points from the index
    uint32_t index;        // the clamped index
    uint32_t operator[](uint32_t i) const { return unit_get(data + size_t(i) * unit, unit); }
};
// Inline: map keys, comparisons and appends ask for two views per call.
inline TextView text_view(const Cell* str) {
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t total = b->count();
    uint32_t index = std::min(series_index(str), total);
    return TextView{b->head_ptr() + size_t(index) * b->unit(), b->unit(), total - index, index};
}

inline uint32_t fold_case(uint32_t cp) { return unicode_upper(cp); }

// Appends code points at the tail of out's buffer, widening once.
void append_codepoints(Cell* out, const uint32_t* cps, size_t n);
// Forms (or molds) any value onto out through its type's entry; string!,
// char! and the string group are handled here. Returns the limit left.
int32_t form_value(const Cell* value, Cell* out, int32_t limit);
int32_t mold_value(const Cell* value, Cell* out, int32_t limit);
// Copies n units into dst, converting them to its (equal or wider) unit;
// returns the end of what was written. Regions may overlap only when the
// units are equal.
uint8_t* copy_units(uint8_t* dst, uint32_t du, const uint8_t* src, uint32_t su, uint32_t n);
// A new series cell of str's type holding count code points of str from `from`
// (a position from the buffer's head), in the narrowest unit the source has.
void string_copy_range(Cell* out, const Cell* str, uint32_t from, uint32_t count);
// The number of code points a /part argument selects from a string at `index`:
// an integer!, or the distance to a position in the same series. May be negative.
int64_t string_part_distance(const Cell* str, const Cell* part, const char* refinement);
[[noreturn]] void raise_refine_arg(const char* refinement, const Cell* value);

bool is_text_type(TypeId t);  // the string group: string!, file!, url!, tag!, email!, ref!

}  // namespace tev

// Text cells for key tests: a string of code points in a buffer of a chosen unit width.
#pragma once
#include <cstring>
#include <string>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace tev {

// A cell of the given text datatype over a fresh buffer of the given unit
// holding the code points, its index at `index`. The caller roots it.
inline Cell text_cell_value(TypeId type, const std::u32string& text, uint32_t unit, uint32_t index = 0) {
    NodeRef node = alloc_series_units(uint32_t(text.size()) + 1, unit);
    SeriesBuffer* b = node_buffer(node);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        std::memcpy(b->data + b->head + i * unit, &cp, unit);  // little-endian units
    }
    b->tail = b->head + uint32_t(text.size()) * unit;
    Cell c;
    set_series(&c, type, node, index);
    return c;
}

}  // namespace tev

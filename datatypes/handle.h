// handle!: an opaque 32-bit reference to an object of the operating system, tagged with its kind.
//
// The cell holds the kind in word 1, the handle value in word 2 and -1 in
// word 3 (no handle-table slot). The value is 32 bits in every build: on a
// 64-bit host a native handle is kept in a table and the cell holds its index.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

enum HandleKind : uint32_t { HANDLE_NULL = 0, HANDLE_FD, HANDLE_MONITOR, HANDLE_WINDOW, HANDLE_FONT, HANDLE_RICH_TEXT };

void handle_make_cell(Cell* out, uint32_t os_handle, HandleKind kind);
inline uint32_t handle_value(const Cell* c) { return c->w2; }
inline HandleKind handle_kind(const Cell* c) { return HandleKind(c->w1); }
inline void handle_set(Cell* c, HandleKind kind, uint32_t os_handle, int32_t table_slot) {
    c->w1 = kind;
    c->w2 = os_handle;
    c->w3 = uint32_t(table_slot);
}
// Appends a handle! at the tail of the (rooted) block.
void handle_make_in(Cell* block, uint32_t os_handle, HandleKind kind);
Cell* handle_push(uint32_t os_handle, HandleKind kind);
Cell* handle_push_null();

}  // namespace tev

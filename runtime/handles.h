// Handle and slot tables: native objects and language values referred to by a small integer,
// for places that can hold only an integer (a handle! value, a window's user data, a callback).
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// ---------------------------------------------------------------- handle kinds

using HandleReleaseFn = void (*)(void* pointer);
constexpr int MAX_HANDLE_KINDS = 20;
// Returns the kind id (1-based). Raises internal/limit-hit beyond 20 kinds.
uint32_t handle_registry_add(const char* name, HandleReleaseFn release);
const char* handle_kind_name(uint32_t kind);

// ---------------------------------------------------------------- handle table

// Slots are numbered from 0; the table grows by doubling (its slots move, so
// callers keep indexes). A used slot not marked by a collection is released
// at the end of its marking.
constexpr uint32_t HANDLE_TABLE_INITIAL = 1000;
constexpr uint32_t HANDLE_FREE = 0x40000000;
constexpr uint32_t HANDLE_MARK = 0x80000000;
constexpr uint32_t HANDLE_KIND_MASK = 0xFF;

int32_t handle_table_alloc(void* pointer, uint32_t kind);
// Calls the kind's release routine first when `release`; returns -1 (the
// "no handle" index callers store back).
int32_t handle_table_free(int32_t index, bool release);
void handle_table_replace(int32_t index, void* pointer);   // releases the old pointer when it differs
void handle_table_release(uint32_t flags, void* pointer);
void* handle_table_pointer(int32_t index);
uint32_t handle_table_flags(int32_t index);
uint32_t handle_table_capacity();
// Collector: marks the slot (a non-null pointer replaces the slot's pointer);
// true when it was not yet marked.
bool handle_table_mark(int32_t index, void* pointer);
void handle_table_walk_kind(uint32_t kind, void (*fn)(void* pointer));
void handle_table_sweep();

// ---------------------------------------------------------------- slot table

// Language values kept alive for the back end until it frees them. Indexes
// start at 1; 0 means none. The returned cell is valid until the next allocation.
constexpr uint32_t SLOT_TABLE_INITIAL = 100;
uint32_t slot_table_add(const Cell* value);
Cell* slot_table_get(uint32_t index);
void slot_table_free(uint32_t index);
uint32_t slot_table_capacity();
void slot_table_mark();   // collector

}  // namespace tev

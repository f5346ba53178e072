// The runtime's own heap blocks (tables, work buffers, argument strings): every
// live block is on one list, so that a fatal error can release them all before exit.
// Language values never live here: they live in series buffers (runtime/memory.h).
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

// Uncleared memory. Exhaustion (or a size that cannot be represented) ends
// the process with runtime error 94 "out of memory".
void* sys_alloc(size_t size);
void* sys_alloc_zeroed(size_t size);
// A block that sys_alloc did not return (or already freed) is left alone.
void sys_free(void* block);
// nullptr block: sys_alloc(size). Size 0: sys_free(block), returns nullptr.
// Otherwise the block may move; its contents up to the smaller size stay.
void* sys_realloc(void* block, size_t size);
// Frees every block, newest last, and empties the list.
void sys_release_all();
size_t sys_block_count();
// The bytes of every live block, headers included.
size_t sys_heap_bytes();

// Pages for the memory frames: read-write, never executable. Failure throws
// THROW_VM_ALLOC_FAILED / THROW_VM_FREE_FAILED (runtime/fatal.h) for the
// memory frames to turn into a language error.
void* sys_virtual_alloc(size_t size);
void sys_virtual_free(void* address, size_t size);

}  // namespace tev

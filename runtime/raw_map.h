// The collector's heap map: an open hash map from 32-bit keys to 32-bit values in plain heap
// memory, outside the collector's frames, so it can be used while buffers are being moved.
#pragma once
#include <cstdint>

namespace tev {

// Power-of-two bucket counts, two flag bits per bucket (2 empty, 1 deleted,
// 0 live), triangular probing, grown at a load of 0.77.
struct RawMap {
    uint32_t live;          // live keys
    uint32_t* flags;        // 16 buckets per word
    uint32_t* pairs;        // key, value per bucket
    uint32_t used;          // live + deleted buckets
    uint32_t buckets;
    uint32_t grow_limit;
};


RawMap* raw_map_create(uint32_t size);
// Returns true when the key was present (its value replaced). A map that
// cannot grow ends the process with out of memory: an entry is never dropped.
bool raw_map_put(RawMap* map, uint32_t key, uint32_t value);
const uint32_t* raw_map_get(const RawMap* map, uint32_t key);   // nullptr when absent
bool raw_map_delete(RawMap* map, uint32_t key);
int32_t raw_map_find(const RawMap* map, uint32_t key);          // bucket or -1
// The next live bucket after `bucket` (-1 starts), or -1 after the last.
int32_t raw_map_next(const RawMap* map, int32_t bucket);
inline uint32_t raw_map_key(const RawMap* map, int32_t bucket) { return map->pairs[2 * bucket]; }
inline uint32_t raw_map_value(const RawMap* map, int32_t bucket) { return map->pairs[2 * bucket + 1]; }
inline uint32_t raw_map_count(const RawMap* map) { return map->live; }
void raw_map_clear(RawMap* map);
void raw_map_free(RawMap* map);
// Rebuilds with n buckets (a power of two); false, the map unchanged, when
// the heap refuses.
bool raw_map_resize(RawMap* map, uint32_t n);

}  // namespace tev

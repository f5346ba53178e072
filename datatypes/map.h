// map!: key/value tables over a block of entries (two cells each) and a hash table of kind map.
//
// The cell: word 2 the node of the entry block, word 3 the node of the hash
// table. A deleted entry keeps its place and its key; its value cell has type
// 0 and every operation skips it. Keys are stored normalised: text and binary
// keys as private copies, words as set-words.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// The node of the map's hash table, and its home for the collector.
inline NodeRef map_table(const Cell* map) { return map->w3; }
inline void map_set_table(Cell* map, NodeRef table) { map->w3 = table; }
inline NodeRef* map_table_slot(Cell* map) { return &map->w3; }

// A path's step into a map: the value under `key` (nullptr when there is
// none: the path gives none), valid until the next allocation; and the store
// of `value` under `key` (map, key and value rooted; the map cell may change).
const Cell* map_path_value(const Cell* map, const Cell* key);
void map_path_put(Cell* map, const Cell* key, const Cell* value);

// Live entries.
uint32_t map_size(const Cell* map);
// True for the datatypes a map accepts as keys.
bool map_key_type_valid(TypeId t);
// Normalises a key in place for storage (copies text; words become set-words);
// raises invalid-path for a type that cannot be a key. key must be rooted.
Cell* map_normalize_key(Cell* key);
// Makes `out` (rooted) a new map over a copy of the pairs of `block` (none:
// an empty map with room for `size` entries). Raises invalid-arg for an odd block.
void map_make_cell(Cell* out, const Cell* block, uint32_t size);
// Adds or replaces the pairs of a block (the extend native); case_sensitive
// keeps keys that differ only in case apart.
void map_extend(Cell* map, const Cell* block, bool case_sensitive);
// Sets the loop words (a word or a block of words) from the entries at and
// after *position (a cell index in the entry block), skipping deleted ones;
// words left over get none. Returns false when no word was set.
bool map_foreach_next(const Cell* map, const Cell* words, uint32_t* position,
                      void (*assign)(const Cell* word, const Cell* value));

}  // namespace tev

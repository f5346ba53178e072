// Hash tables: one open-addressing scheme (power-of-two buckets, two flag bits per
// bucket, triangular probing, load factor 0.77) for five kinds of keys.
//
// A table is referred to by its node: a byte series holding the HashDesc below.
// Everything a table owns is reached through nodes, so the collector may move
// any of its buffers; a HashDesc* is valid only until the next allocation.
// Keys are referred to by their position in the key block (kinds 0-2) or by
// the cell index of their entry (kinds 3-4), never by address.
#pragma once
#include <cstdint>
#include <cstdio>
#include "runtime/cell.h"
#include "runtime/compare_ops.h"
#include "runtime/memory.h"

namespace tev {

// Each datatype's compare entry, read in place from the datatype registry's
// action rows (entry t at rows[t * stride]) so a lookup costs what it did when
// the table was read directly. Set by registry_init; left unset, keys compare
// by payload, as for a type without a compare entry.
struct KeyCompareColumn {
    void (*const* rows)() = nullptr;
    uint32_t stride = 0;
};
extern KeyCompareColumn hash_key_compare_column;

enum HashKind : int32_t {
    HASH_KIND_VALUES = 0,       // every cell of a hash! (or a block under a set operation) is a key
    HASH_KIND_MAP = 1,          // key/value pairs, keys at even positions
    HASH_KIND_WORDS = 2,        // the symbol table, and every context's word table
    HASH_KIND_KEYS = 3,         // entries of 1 + N cells keyed by a 32-bit word (a node id)
    HASH_KIND_OWNED_KEYS = 4,   // as kind 3, for the ownership table
};

struct HashDesc {
    int32_t live_count;       // live keys; kind 0 counts buckets (a chain counts once)
    uint32_t position_index;  // kind 0: node of int32[position] = 1-based bucket (-1: none);
                              // kinds 3-4: bytes per entry; else 0
    NodeRef chain_list;       // kind 0: node of int32[] chain nodes (0 = freed slot)
    NodeRef bucket_flags;     // 2 bits per bucket: 2 empty, 1 deleted, 0 live
    NodeRef bucket_keys;      // int32 per bucket: key position, -(chain number), or entry cell index
    NodeRef key_block;        // the cells holding the keys
    int32_t used_buckets;     // live + deleted since the last rebuild: drives growth
    int32_t bucket_count;     // a power of two, at least 4
    int32_t grow_limit;
    int32_t kind;
    int32_t gc_stamp;         // 0 when no key's hash depends on a node id; else the
                              // collector cycle count + 1 when the table was indexed
};
static_assert(sizeof(HashDesc) == 44);

inline HashDesc* hash_table_desc(NodeRef table) {
    return reinterpret_cast<HashDesc*>(node_buffer(table)->head_ptr());
}

// A new table for `size` keys. block 0: a new key block (room for size cells,
// or size entries for kinds 3-4). Otherwise the block's cells from position
// `first` on are indexed (kinds 0 and 1).
NodeRef hash_table_create(uint32_t size, NodeRef block, uint32_t first, int32_t kind, int32_t value_cells);

// ---------------------------------------------------------------- kinds 0-2

// Index the key at `position` of the key block. Returns 2 when a kind-0 table
// was rebuilt instead (which indexed every cell, this one included), else 0.
int hash_table_insert(NodeRef table, uint32_t position);
inline void hash_table_put(NodeRef table, uint32_t position) { (void)hash_table_insert(table, position); }
// Index the key block from `first` on: step 1 for kinds 0 and 2, 2 for maps.
// A map keeps the later of two equal keys' values and drops the later pair.
void hash_table_put_block(NodeRef table, uint32_t first, uint32_t step);

// The position of a matching key, or -1. Kind 0 filters by head, skip
// (>= 1, else script/out-of-range), last and reverse as find does; maps and
// word tables ignore them. `key` is only read (a word key of a map is matched
// as a set-word! through a private copy).
int32_t hash_table_get(NodeRef table, const Cell* key, uint32_t head, int32_t skip, int op,
                       bool last, bool reverse);

// Maps: as hash_table_get, and when no key matches, the bucket where the key
// would go in, so that adding it (at the tail of the key block) takes no second
// probe. The slot stays good until the buckets change; insert checks that.
struct MapSlot { int32_t bucket = -1; NodeRef flags = 0; int32_t bucket_count = 0; };
int32_t hash_table_find_map_key(NodeRef table, const Cell* key, int op, MapSlot* slot);
void hash_table_insert_in_slot(NodeRef table, uint32_t position, const MapSlot& slot);
// Maps: the position the last lookup found when this key is bound to find it
// again (narrow text, equal ignoring case under CMP_EQUAL, nothing changed
// since), else -1: the put that follows a read of its key need not probe.
int32_t hash_table_recall_map_key(NodeRef table, const Cell* key, int op);

// Continue a map probe from where the previous call stopped; start with bucket -1.
struct HashCursor { int32_t bucket = -1; uint32_t start = 0, step = 0, visited = 0; };
int32_t hash_table_get_next(NodeRef table, const Cell* key, HashCursor& cursor);

void hash_table_delete(NodeRef table, uint32_t position);
void hash_table_delete_range(NodeRef table, uint32_t position, uint32_t count);
void hash_table_clear(NodeRef table);
NodeRef hash_table_copy(NodeRef table, NodeRef new_block);
void hash_table_rebuild(NodeRef table, uint32_t size);
// After `count` cells from position `from` moved by `offset` places in a kind-0
// block, correct their stored positions. Returns 1 (changing nothing) when
// count exceeds 30000: the caller rebuilds instead.
int hash_table_refresh(NodeRef table, int32_t offset, uint32_t from, uint32_t count, bool drop);
void hash_table_move_keys(NodeRef table, uint32_t to, uint32_t from, uint32_t count);

// ---------------------------------------------------------------- kinds 3-4

// Cell index (in the key block) of the entry's first value cell; put adds the
// entry when missing (every cell of a new entry is unset!, payloads kept).
int32_t hash_table_put_key(NodeRef table, uint32_t key);
int32_t hash_table_get_key(NodeRef table, uint32_t key);
int32_t hash_table_delete_key(NodeRef table, uint32_t key);
// After marking: drop every entry whose key node (kind 4: or whose owner
// context in its second value cell) the predicate reports dead.
using NodeLiveFn = bool (*)(NodeRef node);
void hash_table_sweep_entries(NodeRef table, NodeLiveFn is_live);
// An entry's key cell: an unset! cell (header 0 once deleted) whose word 1 is the key.
inline uint32_t hash_entry_key(const Cell* c) { return c->w1; }
inline void hash_entry_set_key(Cell* c, uint32_t key) { c->w1 = key; }
inline NodeRef* hash_entry_key_slot(Cell* c) { return &c->w1; }

// ---------------------------------------------------------------- words

// The 1-based symbol id of the spelling, interning it when new (case_flag 0:
// exact, a new case variant gets the earliest variant as its alias; 1:
// any ASCII-case variant is accepted).
int32_t symbol_table_intern(NodeRef table, const uint8_t* bytes, uint32_t length, int case_flag);
// The word's slot position in a context word table, or -1.
int32_t hash_table_find_word(NodeRef table, int32_t symbol, int case_flag);
// As find, but a missing word is appended, bound to `context`: returns -1 then
// (the caller gives it its value) and the slot position always in *out_position.
int32_t hash_table_find_or_append_word(NodeRef table, int32_t symbol, int case_flag, NodeRef context,
                                       int32_t* out_position);

// Diagnostic print: "\n== Deleted keys ==", each deleted bucket's key (and
// value) cells, then "== Alive keys ==" and each live one; a cell prints as
// its type name and its three payload words in hex.
void hash_table_dump(NodeRef table, std::FILE* out = stdout);

// ---------------------------------------------------------------- collector

// Marks the table held in *slot and everything it owns; kind 3 also marks
// its key nodes, kind 4 (weak keys) leaves them to hash_table_sweep_entries.
void gc_mark_hash_table(NodeRef* slot);

// Keeps a table (and all it owns) alive while C++ code that holds only its
// node allocates. Scoped, last in first out.
class HashTableHold {
public:
    explicit HashTableHold(NodeRef table);
    ~HashTableHold();
    HashTableHold(const HashTableHold&) = delete;
    HashTableHold& operator=(const HashTableHold&) = delete;
};

}  // namespace tev

// Key hashing: MurmurHash3 x86-32 with one process-wide seed, and the hash of every kind of key cell.
//
// Hashes never depend on where a buffer lives: a key that refers to a series
// hashes its NodeRef (node_id()), so moving buffers changes no hash. Only the
// collector's node-frame evacuation, which renumbers nodes, does.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// Any fixed constant serves; table iteration orders and the seeds random/seed
// derives from series depend on it, so it never changes at run time.
constexpr uint32_t HASH_SEED = 0x5EED7E01u;

// The internal key type of a text key that carries its character count in
// word 3 (count >= 0): it hashes and matches only that many characters.
constexpr TypeId T_TEXT_KEY = TypeId(56);
inline int32_t text_key_count(const Cell* c) { return int32_t(c->w3); }
inline void text_key_set_count(Cell* c, int32_t count) { c->w3 = uint32_t(count); }

uint32_t murmur3_hash_bytes(const void* data, size_t length);
uint32_t murmur3_hash_bytes_seed(const void* data, size_t length, uint32_t seed);
// The same hash over the bytes with A-Z lowered, without copying them.
uint32_t murmur3_hash_bytes_folded(const void* data, size_t length);
// fmix32 of one word: no seed, no length.
inline uint32_t murmur3_finalize(uint32_t h) {
    h ^= h >> 16; h *= 0x85ebca6bu;
    h ^= h >> 13; h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

// Case flag: 1 hashes case-sensitively; any other value folds case.
uint32_t hash_string_chars(const Cell* str, int case_flag);
// The same hash of one-byte text (each byte one code point up to U+00FF) as
// hash_string_chars gives it in any unit, from its characters directly.
uint32_t hash_latin1_chars(const uint8_t* chars, uint32_t count, int case_flag);
// Whether two one-byte code points are equal once upper-cased, as the folded
// hash and case-insensitive comparison decide it (unicode_upper).
bool latin1_same_folded(uint8_t a, uint8_t b);
uint32_t hash_symbol_spelling(const Cell* symbol);
// The hash of any key cell, by its datatype.
uint32_t hash_key_value(const Cell* key, int case_flag);
// True when the key's hash mixes in a node id: node-frame evacuation
// renumbers nodes, so tables holding such keys re-index after it.
bool key_hash_uses_node(TypeId t);

}  // namespace tev

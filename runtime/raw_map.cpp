// The collector's heap map: open addressing over flag words and key/value pairs from the C heap.
#include "runtime/raw_map.h"
#include <cstdlib>
#include <cstring>
#include "runtime/memory.h"

namespace tev {

constexpr uint32_t FLAG_EMPTY = 2, FLAG_DELETED = 1, FLAG_LIVE = 0;

// MurmurHash3's 32-bit finaliser: keys are node numbers, close together.
static uint32_t murmur3_finalize(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}

static uint32_t round_up_pow2(uint64_t n) {
    uint64_t p = 1;
    while (p < n) p <<= 1;
    return p > 0x80000000u ? 0x80000000u : uint32_t(p);
}

static inline uint32_t flag_of(const uint32_t* flags, uint32_t i) { return (flags[i >> 4] >> (2 * (i & 15))) & 3; }
static inline void flag_set(uint32_t* flags, uint32_t i, uint32_t f) {
    uint32_t shift = 2 * (i & 15);
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (f << shift);
}
static inline size_t flag_bytes(uint32_t buckets) { return ((buckets + 15) / 16) * 4; }

RawMap* raw_map_create(uint32_t size) {
    if (size < 4) size = 4;
    uint32_t n = round_up_pow2(uint64_t(size / 0.77));
    auto* m = static_cast<RawMap*>(std::calloc(1, sizeof(RawMap)));
    if (!m) fatal_out_of_memory();
    m->flags = static_cast<uint32_t*>(std::malloc(flag_bytes(n)));
    m->pairs = static_cast<uint32_t*>(std::malloc(size_t(n) * 8));
    if (!m->flags || !m->pairs) fatal_out_of_memory();
    std::memset(m->flags, 0xAA, flag_bytes(n));
    m->buckets = n;
    m->grow_limit = uint32_t(0.77 * n);
    return m;
}

// The bucket holding key, or (with `insert`) the bucket where it would go:
// the first deleted bucket passed, else the empty one that ended the probe.
static int32_t probe(const RawMap* m, uint32_t key, bool insert) {
    uint32_t mask = m->buckets - 1;
    uint32_t start = murmur3_finalize(key) & mask, i = start, step = 0;
    int32_t deleted = -1;
    do {
        uint32_t f = flag_of(m->flags, i);
        if (f == FLAG_EMPTY) return insert ? (deleted >= 0 ? deleted : int32_t(i)) : -1;
        if (f == FLAG_LIVE && m->pairs[2 * i] == key) return int32_t(i);
        if (f == FLAG_DELETED && deleted < 0) deleted = int32_t(i);
        i = (i + ++step) & mask;
    } while (i != start);
    return insert ? deleted : -1;
}

int32_t raw_map_find(const RawMap* m, uint32_t key) { return probe(m, key, false); }

const uint32_t* raw_map_get(const RawMap* m, uint32_t key) {
    int32_t b = probe(m, key, false);
    return b < 0 ? nullptr : &m->pairs[2 * b + 1];
}

bool raw_map_resize(RawMap* m, uint32_t n) {
    if (n < 4) n = 4;
    auto* flags = static_cast<uint32_t*>(std::malloc(flag_bytes(n)));
    auto* pairs = static_cast<uint32_t*>(std::malloc(size_t(n) * 8));
    if (!flags || !pairs) {
        std::free(flags);
        std::free(pairs);
        return false;
    }
    std::memset(flags, 0xAA, flag_bytes(n));
    RawMap fresh{0, flags, pairs, 0, n, uint32_t(0.5 + 0.77 * n)};
    for (uint32_t i = 0; i < m->buckets; ++i) {
        if (flag_of(m->flags, i) != FLAG_LIVE) continue;
        int32_t b = probe(&fresh, m->pairs[2 * i], true);
        flag_set(flags, uint32_t(b), FLAG_LIVE);
        pairs[2 * b] = m->pairs[2 * i];
        pairs[2 * b + 1] = m->pairs[2 * i + 1];
        ++fresh.live;
        ++fresh.used;
    }
    std::free(m->flags);
    std::free(m->pairs);
    *m = fresh;
    return true;
}

bool raw_map_put(RawMap* m, uint32_t key, uint32_t value) {
    int32_t b = probe(m, key, false);
    if (b >= 0) {
        m->pairs[2 * b + 1] = value;
        return true;
    }
    if (m->used >= m->grow_limit) {
        // Mostly deleted buckets: rehash at the same size; else double.
        uint32_t n = 2 * m->live < m->buckets ? m->buckets : m->buckets * 2;
        if (!raw_map_resize(m, n)) fatal_out_of_memory();
    }
    b = probe(m, key, true);
    if (b < 0) fatal_out_of_memory();   // full despite the limit: cannot happen
    if (flag_of(m->flags, uint32_t(b)) == FLAG_EMPTY) ++m->used;
    flag_set(m->flags, uint32_t(b), FLAG_LIVE);
    m->pairs[2 * b] = key;
    m->pairs[2 * b + 1] = value;
    ++m->live;
    return false;
}

bool raw_map_delete(RawMap* m, uint32_t key) {
    int32_t b = probe(m, key, false);
    if (b < 0) return false;
    flag_set(m->flags, uint32_t(b), FLAG_DELETED);
    --m->live;
    return true;
}

int32_t raw_map_next(const RawMap* m, int32_t bucket) {
    for (uint32_t i = uint32_t(bucket + 1); i < m->buckets; ++i)
        if (flag_of(m->flags, i) == FLAG_LIVE) return int32_t(i);
    return -1;
}

void raw_map_clear(RawMap* m) {
    std::memset(m->flags, 0xAA, flag_bytes(m->buckets));
    m->live = m->used = 0;
}

void raw_map_free(RawMap* m) {
    if (!m) return;
    std::free(m->flags);
    std::free(m->pairs);
    std::free(m);
}

}  // namespace tev

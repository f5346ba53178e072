// Hash tables: creation, growth, insertion, lookup and removal for the five kinds of keys.
//
// Every routine re-reads the descriptor and the series it names after anything
// that may allocate; positions and bucket numbers stay valid across allocation,
// addresses do not.
#include "runtime/hash_table.h"
#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>
#include "runtime/case_tables.h"
#include "runtime/errors.h"
#include "runtime/key_hash.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev {

KeyCompareColumn hash_key_compare_column;

namespace {

constexpr double LOAD_FACTOR = 0.77;
constexpr uint32_t FLAG_LIVE = 0, FLAG_DELETED = 1, FLAG_EMPTY = 2;
constexpr uint8_t FLAGS_ALL_EMPTY = 0xAA;
constexpr uint32_t REFRESH_LIMIT = 30000;

// ---------------------------------------------------------------- layout changes

// Counts the changes to the buckets, key positions or key cells of maps and
// kind-0 tables, and the making of a table: a lookup result remembered with
// the count is stale once it moves.
uint64_t layout_changes = 0;
inline void layout_changed() { ++layout_changes; }

// ---------------------------------------------------------------- rooting

// Tables and nodes that C++ code holds while it allocates, before they are
// reachable from a value: marked by the module's hook.
std::vector<NodeRef> held_tables, held_nodes;
bool hook_added = false;

void mark_held() {
    for (NodeRef& t : held_tables) gc_mark_hash_table(&t);
    for (NodeRef& n : held_nodes) gc_mark_node_ref(&n);
}
void add_hook() {
    if (!hook_added) { hook_added = true; gc_add_mark_hook(mark_held); }
}

using HoldTable = HashTableHold;
struct HoldNode {
    explicit HoldNode(NodeRef n) { add_hook(); held_nodes.push_back(n); }
    ~HoldNode() { held_nodes.pop_back(); }
    HoldNode(const HoldNode&) = delete;
    HoldNode& operator=(const HoldNode&) = delete;
};

// ---------------------------------------------------------------- small helpers

uint32_t round_up_pow2(uint64_t n) {
    uint64_t p = 1;
    while (p < n) p <<= 1;
    if (p > 0x40000000u) raise_error(err::internal::no_memory);
    return uint32_t(p);
}

// Byte series used as arrays of int32 (every one is allocated at offset 0).
int32_t* i32_data(NodeRef n) { return reinterpret_cast<int32_t*>(node_buffer(n)->head_ptr()); }
uint32_t i32_count(NodeRef n) { SeriesBuffer* b = node_buffer(n); return (b->tail - b->head) / 4; }
void i32_append(NodeRef n, int32_t v) {
    SeriesBuffer* b = series_ensure_room(n, 4);
    std::memcpy(b->tail_ptr(), &v, 4);
    b->tail += 4;
}
// A byte series of `bytes` bytes, all `fill`, its tail at the end of its capacity.
NodeRef filled_series(uint32_t bytes, uint8_t fill) {
    NodeRef n = alloc_series_filled(bytes, fill);
    SeriesBuffer* b = node_buffer(n);
    b->tail = b->head + b->size;
    return n;
}

inline uint32_t flag_of(const uint32_t* flags, uint32_t i) { return (flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_flag(uint32_t* flags, uint32_t i, uint32_t v) {
    uint32_t shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (v << shift);
}

struct View {  // the descriptor and its bucket arrays; valid until the next allocation
    HashDesc* d;
    uint32_t* flags;
    int32_t* keys;
    Cell* cells;
    uint32_t mask;
};
// Inline: every lookup takes one, and the call cost as much as the reads.
__attribute__((always_inline)) inline View view(NodeRef t) {
    HashDesc* d = hash_table_desc(t);
    SeriesBuffer* kb = node_buffer(d->key_block);
    return View{d, reinterpret_cast<uint32_t*>(node_buffer(d->bucket_flags)->head_ptr()),
                i32_data(d->bucket_keys), reinterpret_cast<Cell*>(kb->data + kb->head),
                uint32_t(d->bucket_count) - 1};
}

uint32_t block_count(NodeRef block) { SeriesBuffer* b = node_buffer(block); return (b->tail - b->head) / 16; }
// Appends n cells (unset!) at the key block's tail; returns the first one's position.
uint32_t block_append(NodeRef block, uint32_t n) {
    SeriesBuffer* b = series_ensure_room(block, 16 * n);
    uint32_t pos = (b->tail - b->head) / 16;
    Cell* c = reinterpret_cast<Cell*>(b->tail_ptr());
    for (uint32_t i = 0; i < n; ++i) set_unset(c + i);
    b->tail += 16 * n;
    return pos;
}

// hash_key_value with its integer case inline: integers are the common key
// after text, which has its own path.
inline uint32_t key_hash(const Cell* key) {
    return cell_type(key) == T_INTEGER ? murmur3_finalize(cell_word(key, 2)) : hash_key_value(key, 0);
}

// Triangular probing: start, start+1, start+3, start+6 ... The first
// bucket_count visits reach every bucket once, so that bounds every probe.
struct Probe {
    uint32_t mask, i, step = 0, visited = 1;
    Probe(uint32_t hash, uint32_t m) : mask(m), i(hash & m) {}
    bool next() {
        if (visited++ > mask) return false;
        i = (i + ++step) & mask;
        return true;
    }
};

// Key equality through the datatype's compare entry (0 answers "equal" for the
// equality operators); a type without one compares its payload bit for bit.
// Two integers are equal under every operator exactly when their values are,
// so they skip the call (integer keys are the other common case).
bool keys_match_by_compare(const Cell* stored, const Cell* key, int op);
inline bool keys_match(const Cell* stored, const Cell* key, int op) {
    if (cell_type(stored) == T_INTEGER && cell_type(key) == T_INTEGER) return get_integer(stored) == get_integer(key);
    return keys_match_by_compare(stored, key, op);
}
[[gnu::noinline]] bool keys_match_by_compare(const Cell* stored, const Cell* key, int op) {
    using KeyCompareFn = int (*)(const Cell* a, const Cell* b, int op);
    const KeyCompareColumn& column = hash_key_compare_column;
    auto cmp = column.rows ? reinterpret_cast<KeyCompareFn>(column.rows[cell_type(stored) * column.stride]) : nullptr;
    if (!cmp) {
        return cell_type(stored) == cell_type(key) && cell_payload_equal(stored, key);
    }
    return cmp(stored, key, op) == 0;
}

// The characters of a string! in one-byte units from its index on: most map
// keys are short text of this kind, compared here without the datatype's
// compare entry. Valid until the next allocation.
struct NarrowText {
    const uint8_t* chars;
    uint32_t length;
};
inline bool narrow_text(const Cell* c, NarrowText* out) {
    if (cell_type(c) != T_STRING) return false;
    const SeriesBuffer* b = node_buffer(series_node(c));
    if (b->unit() != 1) return false;
    uint32_t total = b->tail - b->head;
    uint32_t index = std::min(series_index(c), total);
    *out = NarrowText{b->data + b->head + index, total - index};
    return true;
}

inline uint32_t load_u32(const uint8_t* p) { uint32_t v; std::memcpy(&v, p, 4); return v; }
inline uint16_t load_u16(const uint8_t* p) { uint16_t v; std::memcpy(&v, p, 2); return v; }

// Whether n bytes at a and b are the same, read four or two at a time: short
// keys are the common case. The last load ends at byte n, overlapping the one
// before it, so nothing past the text is read.
inline bool same_bytes(const uint8_t* a, const uint8_t* b, uint32_t n) {
    if (n >= 4) {
        for (uint32_t i = 0; i + 4 < n; i += 4)
            if (load_u32(a + i) != load_u32(b + i)) return false;
        return load_u32(a + n - 4) == load_u32(b + n - 4);
    }
    if (n >= 2) return load_u16(a) == load_u16(b) && load_u16(a + n - 2) == load_u16(b + n - 2);
    return n == 0 || a[0] == b[0];
}

// The answer keys_match gives two narrow strings under the equality
// operators: strict compares code points, equal compares them upper-cased.
inline bool narrow_texts_equal(const NarrowText& a, const NarrowText& b, bool strict) {
    if (a.length != b.length) return false;
    if (same_bytes(a.chars, b.chars, a.length)) return true;
    if (strict) return false;
    for (uint32_t i = 0; i < a.length; ++i)
        if (a.chars[i] != b.chars[i] && !latin1_same_folded(a.chars[i], b.chars[i])) return false;
    return true;
}

inline bool is_equality(int op) { return op == CMP_EQUAL || op == CMP_STRICT_EQUAL; }

// Two string! keys in one-byte units, for equality: 0 or 1, or -1 when the
// keys are anything else (keys_match then decides).
inline int narrow_strings_match(const Cell* stored, const Cell* key, int op) {
    NarrowText a, b;
    if (!is_equality(op) || !narrow_text(stored, &a) || !narrow_text(key, &b)) return -1;
    return narrow_texts_equal(a, b, op == CMP_STRICT_EQUAL) ? 1 : 0;
}

int32_t entry_cells(const HashDesc* d) { return int32_t(d->position_index / 16); }

// ---------------------------------------------------------------- stamps

// A table whose keys hash node ids carries the collector cycle (+ 1) it was
// indexed in. While node-frame evacuation is on, a collection may renumber
// those nodes (and rewrite the key cells), so the next use re-indexes it.
int32_t current_stamp() {
    uint32_t s = uint32_t(gc_cycle_count()) + 1;
    return int32_t(s ? s : 1);
}

void stamp_if_node_key(HashDesc* d, const Cell* key) {
    if (!d->gc_stamp && key_hash_uses_node(cell_type(key))) d->gc_stamp = current_stamp();
}

void reindex(NodeRef t);

void check_stamp(NodeRef t) {
    HashDesc* d = hash_table_desc(t);
    if (!d->gc_stamp || !gc_node_evacuation || gc_collecting() || d->gc_stamp == current_stamp()) return;
    reindex(t);
}

// ---------------------------------------------------------------- kind 0 chains

int32_t first_position(NodeRef t, int32_t bucket_key) {
    if (bucket_key >= 0) return bucket_key;
    NodeRef chain = NodeRef(i32_data(hash_table_desc(t)->chain_list)[-bucket_key - 1]);
    return i32_data(chain)[0];
}

void position_index_set(NodeRef t, uint32_t position, int32_t bucket1) {
    NodeRef pi = hash_table_desc(t)->position_index;
    if (i32_count(pi) <= position) {
        uint64_t want = std::max<uint64_t>(8ull * position, 4ull * (position + 1));
        if (want > 0x7FFFFFF0u) raise_error(err::internal::no_memory);
        HoldTable hold(t);
        SeriesBuffer* b = expand_series_fill(pi, uint32_t(want), 0xFF);
        b->tail = b->head + b->size;
    }
    i32_data(pi)[position] = bucket1;
}
int32_t position_index_get(NodeRef t, uint32_t position) {
    NodeRef pi = hash_table_desc(t)->position_index;
    return position < i32_count(pi) ? i32_data(pi)[position] : -1;
}

// Turns a bucket holding one position into a chain (when it is not one yet)
// and appends the position.
void chain_add(NodeRef t, uint32_t bucket, int32_t position) {
    HoldTable hold(t);
    int32_t k = view(t).keys[bucket];
    NodeRef chain;
    if (k >= 0) {
        chain = alloc_series_bytes(16);
        HoldNode hold(chain);
        i32_append(chain, k);
        i32_append(hash_table_desc(t)->chain_list, int32_t(chain));
        view(t).keys[bucket] = -int32_t(i32_count(hash_table_desc(t)->chain_list));
    } else {
        chain = NodeRef(i32_data(hash_table_desc(t)->chain_list)[-k - 1]);
    }
    i32_append(chain, position);
}

// ---------------------------------------------------------------- growth

void resize_buckets(NodeRef t, uint64_t m, bool force = false);
void rebuild_entries(NodeRef t, uint32_t size);

bool grow(NodeRef t);

// Grows (or cleans out deleted buckets) when the next insertion would pass the
// grow limit. Returns true when a kind-0 table was rebuilt, which indexed its
// whole block.
inline bool grow_if_full(NodeRef t) {
    HashDesc* d = hash_table_desc(t);
    return d->used_buckets >= d->grow_limit && grow(t);
}
// Grows by the table's kind: new buckets, or a rebuild that also drops deleted keys.
bool grow(NodeRef t) {
    HashDesc* d = hash_table_desc(t);
    HoldTable hold(t);
    uint32_t bc = uint32_t(d->bucket_count);
    uint32_t target = 2 * uint32_t(d->live_count) < bc ? bc - 1 : bc + 1;
    switch (d->kind) {
        case HASH_KIND_VALUES: hash_table_rebuild(t, target); return true;
        case HASH_KIND_MAP: resize_buckets(t, bc + 1); return false;
        case HASH_KIND_WORDS: resize_buckets(t, 16ull * target); return false;
        default: rebuild_entries(t, target); return false;
    }
}

// Places one key in fresh buckets (no duplicates, no deleted buckets there).
void place(uint32_t* flags, int32_t* keys, uint32_t mask, uint32_t hash, int32_t key) {
    Probe p(hash, mask);
    while (flag_of(flags, p.i) != FLAG_EMPTY) p.next();
    set_flag(flags, p.i, FLAG_LIVE);
    keys[p.i] = key;
}

// New buckets for maps and word tables. A word table is re-placed in slot
// order, so the earliest case variant of a spelling stays first on its probe
// path; a map re-places its live buckets (removed pairs keep theirs).
void resize_buckets(NodeRef t, uint64_t m, bool force) {
    layout_changed();
    uint32_t n = std::max<uint32_t>(round_up_pow2(m), 4);
    int32_t limit = int32_t(0.5 + LOAD_FACTOR * n);
    if (!force && hash_table_desc(t)->live_count >= limit) return;
    NodeRef flags = filled_series(n / 4, FLAGS_ALL_EMPTY);
    HoldNode hold_flags(flags);
    NodeRef keys = filled_series(4 * n, 0);
    HoldNode hold_keys(keys);

    View v = view(t);
    uint32_t* nf = reinterpret_cast<uint32_t*>(node_buffer(flags)->head_ptr());
    int32_t* nk = i32_data(keys);
    int32_t placed = 0;
    if (v.d->kind == HASH_KIND_WORDS) {
        uint32_t count = block_count(v.d->key_block);
        for (uint32_t pos = 0; pos < count; ++pos, ++placed)
            place(nf, nk, n - 1, key_hash(v.cells + pos), int32_t(pos));
    } else {
        for (uint32_t j = 0; j <= v.mask; ++j) {
            if (flag_of(v.flags, j) != FLAG_LIVE) continue;
            place(nf, nk, n - 1, key_hash(v.cells + v.keys[j]), v.keys[j]);
            ++placed;
        }
    }
    v.d->bucket_flags = flags;
    v.d->bucket_keys = keys;
    v.d->bucket_count = int32_t(n);
    v.d->grow_limit = limit;
    v.d->used_buckets = placed;
}

// Kinds 3-4: indexes the entry at cell `entry` under its key, in bucket `free`
// when the caller knows it is the first one on the key's probe path that is not
// live (-1: probe for it). Returns the entry's first value cell.
int32_t add_entry(NodeRef t, uint32_t key, uint32_t entry, int32_t free) {
    View v = view(t);
    hash_entry_set_key(v.cells + entry, key);
    uint32_t bucket = uint32_t(free);
    if (free < 0) {
        Probe p(murmur3_finalize(key), v.mask);
        while (flag_of(v.flags, p.i) == FLAG_LIVE) p.next();
        bucket = p.i;
    }
    if (flag_of(v.flags, bucket) == FLAG_EMPTY) v.d->used_buckets++;
    set_flag(v.flags, bucket, FLAG_LIVE);
    v.keys[bucket] = int32_t(entry);
    v.d->live_count++;
    return int32_t(entry) + 1;
}

// Kinds 3-4: fresh buckets and a compacted key block holding the live entries.
void rebuild_entries(NodeRef t, uint32_t size) {
    uint32_t n = round_up_pow2(size);
    int32_t limit = int32_t(0.5 + LOAD_FACTOR * n);
    n = std::max<uint32_t>(n, 4);
    HashDesc* d = hash_table_desc(t);
    int32_t per = entry_cells(d);
    NodeRef old_block = d->key_block;
    HoldNode hold_old(old_block);
    uint32_t live = uint32_t(d->live_count);

    NodeRef flags = filled_series(n / 4, FLAGS_ALL_EMPTY);
    HoldNode hold_flags(flags);
    NodeRef keys = filled_series(4 * n, 0);
    HoldNode hold_keys(keys);
    NodeRef block = alloc_series_cells(std::max<uint32_t>(live, 1) * uint32_t(per));
    d = hash_table_desc(t);
    d->bucket_flags = flags;
    d->bucket_keys = keys;
    d->key_block = block;
    d->bucket_count = int32_t(n);
    d->grow_limit = limit;
    d->live_count = d->used_buckets = 0;
    d->gc_stamp = current_stamp();

    uint32_t old_cells = block_count(old_block);
    for (uint32_t e = 0; e + uint32_t(per) <= old_cells; e += uint32_t(per)) {
        const Cell* k = node_buffer(old_block)->cells() + e;
        if (k->header != T_UNSET) continue;
        // Live keys are distinct and the fresh buckets hold them all below the grow limit.
        uint32_t entry = block_append(hash_table_desc(t)->key_block, uint32_t(per));
        int32_t first = add_entry(t, hash_entry_key(node_buffer(old_block)->cells() + e), entry, -1);
        Cell* src = node_buffer(old_block)->cells() + e + 1;
        std::memcpy(node_buffer(hash_table_desc(t)->key_block)->cells() + first, src,
                    size_t(per - 1) * sizeof(Cell));
    }
}

// Kinds 3-4: the bucket of an entry's key, or -1 with the first bucket on its
// probe path that is not live (where a new entry for the key goes) in *free.
template <bool WantFree = false>
int32_t find_entry_bucket(NodeRef t, uint32_t key, int32_t* free = nullptr) {
    View v = view(t);
    Probe p(murmur3_finalize(key), v.mask);
    int32_t first_free = -1;
    do {
        uint32_t f = flag_of(v.flags, p.i);
        if (WantFree && f != FLAG_LIVE && first_free < 0) first_free = int32_t(p.i);
        if (f == FLAG_EMPTY) break;
        if (f == FLAG_LIVE) {
            const Cell* k = v.cells + v.keys[p.i];
            if (k->header == T_UNSET && hash_entry_key(k) == key) return int32_t(p.i);
        }
    } while (p.next());
    if (WantFree) *free = first_free;
    return -1;
}

// Old position -> new position over [lo, hi) for kind-0 bookkeeping.
struct Remap {
    uint32_t lo, hi;
    int32_t (*fn)(const Remap&, int32_t);
    int32_t offset, run_from, run_count, run_to;
    int32_t apply(int32_t q) const { return (q >= int32_t(lo) && q < int32_t(hi)) ? fn(*this, q) : q; }
};

// Corrects the stored positions of every key whose old position lies in
// [lo, hi): each chain is corrected once, whatever number of its keys move.
void remap_stored_positions(NodeRef t, const Remap& r) {
    std::vector<char> chain_done;
    for (uint32_t q = r.lo; q < r.hi; ++q) {
        int32_t b1 = position_index_get(t, q);
        if (b1 <= 0) continue;
        View v = view(t);
        int32_t k = v.keys[b1 - 1];
        if (k >= 0) {
            if (k == int32_t(q)) v.keys[b1 - 1] = r.apply(k);
            continue;
        }
        uint32_t c = uint32_t(-k - 1);
        if (chain_done.size() <= c) chain_done.resize(c + 1, 0);
        if (chain_done[c]) continue;
        chain_done[c] = 1;
        NodeRef chain = NodeRef(i32_data(v.d->chain_list)[c]);
        int32_t* pos = i32_data(chain);
        for (uint32_t i = 0, n = i32_count(chain); i < n; ++i) pos[i] = r.apply(pos[i]);
    }
}

// Kind 2: a new key cell (unset) at the tail of the key block, indexed in the
// empty bucket where the probe stopped. Returns its position.
uint32_t claim_empty_bucket(NodeRef t, uint32_t bucket) {
    uint32_t pos = block_append(hash_table_desc(t)->key_block, 1);
    View v = view(t);
    set_flag(v.flags, bucket, FLAG_LIVE);
    v.keys[bucket] = int32_t(pos);
    v.d->live_count++;
    v.d->used_buckets++;
    return pos;
}

// Places every key again by its current hash. Kinds 3-4 re-place their live
// entries in place; a map re-places its buckets at the same size; kind 0 is
// rebuilt from its block.
void reindex(NodeRef t) {
    layout_changed();
    HoldTable hold(t);
    HashDesc* d = hash_table_desc(t);
    if (d->kind == HASH_KIND_VALUES) {
        hash_table_rebuild(t, block_count(d->key_block));
        return;
    }
    if (d->kind == HASH_KIND_MAP) {
        resize_buckets(t, uint32_t(d->bucket_count), true);
        hash_table_desc(t)->gc_stamp = current_stamp();
        return;
    }
    View v = view(t);
    std::vector<int32_t> live;
    for (uint32_t j = 0; j <= v.mask; ++j)
        if (flag_of(v.flags, j) == FLAG_LIVE) live.push_back(v.keys[j]);
    SeriesBuffer* f = node_buffer(v.d->bucket_flags);
    std::memset(f->head_ptr(), FLAGS_ALL_EMPTY, f->tail - f->head);
    for (int32_t e : live) place(v.flags, v.keys, v.mask, murmur3_finalize(hash_entry_key(v.cells + e)), e);
    v.d->live_count = v.d->used_buckets = int32_t(live.size());
    v.d->gc_stamp = current_stamp();
}

}  // namespace

HashTableHold::HashTableHold(NodeRef table) { add_hook(); held_tables.push_back(table); }
HashTableHold::~HashTableHold() { held_tables.pop_back(); }


// ---------------------------------------------------------------- creation

NodeRef hash_table_create(uint32_t size, NodeRef block, uint32_t first, int32_t kind, int32_t value_cells) {
    layout_changed();
    assert(kind >= HASH_KIND_VALUES && kind <= HASH_KIND_OWNED_KEYS);
    HoldNode hold_block(block);
    NodeRef t = alloc_series_bytes(sizeof(HashDesc));
    node_buffer(t)->tail = sizeof(HashDesc);
    std::memset(hash_table_desc(t), 0, sizeof(HashDesc));
    HoldTable hold(t);
    hash_table_desc(t)->kind = kind;
    bool entries = kind >= HASH_KIND_KEYS;
    if (entries) {
        hash_table_desc(t)->position_index = uint32_t(value_cells + 1) * 16;
        hash_table_desc(t)->gc_stamp = current_stamp();  // keys are node ids
    }
    if (kind == HASH_KIND_WORDS && size >= 4000) size *= 2;
    size = std::max<uint32_t>(size, 4);
    uint32_t n = round_up_pow2(uint64_t(size / LOAD_FACTOR));
    hash_table_desc(t)->bucket_count = int32_t(n);
    hash_table_desc(t)->grow_limit = int32_t(n * LOAD_FACTOR);

    NodeRef node = filled_series(n / 4, FLAGS_ALL_EMPTY);
    hash_table_desc(t)->bucket_flags = node;
    node = filled_series(4 * n, 0);
    hash_table_desc(t)->bucket_keys = node;
    if (kind == HASH_KIND_VALUES) {
        node = filled_series(4 * size, 0xFF);
        hash_table_desc(t)->position_index = node;
        node = alloc_series_bytes(16);
        hash_table_desc(t)->chain_list = node;
    }
    if (entries || !block) {
        uint64_t cells = uint64_t(size) * (entries ? uint32_t(value_cells + 1) : 1);
        if (cells > 0x7FFFFFFu) raise_error(err::internal::no_memory);
        node = alloc_series_cells(uint32_t(cells));
        hash_table_desc(t)->key_block = node;
    } else {
        hash_table_desc(t)->key_block = block;
        hash_table_put_block(t, first, kind == HASH_KIND_MAP ? 2 : 1);
    }
    return t;
}

// ---------------------------------------------------------------- kinds 0-2

// The word types a map stores its keys as (set-words), for a private copy of a key.
static Cell map_search_key(const Cell* key) {
    Cell k = *key;
    if (cell_type(&k) >= T_WORD && cell_type(&k) <= T_GET_WORD) cell_set_type(&k, T_SET_WORD);
    return k;
}

// Indexes the key at position; for maps and word tables an equal key already
// indexed is reported in *found (its position) and nothing changes.
static int insert_key(NodeRef t, uint32_t position, int32_t* found) {
    layout_changed();
    if (hash_table_desc(t)->gc_stamp) check_stamp(t);
    if (grow_if_full(t)) return 2;
    View v = view(t);
    int kind = v.d->kind;
    Cell key = kind == HASH_KIND_MAP ? map_search_key(v.cells + position) : v.cells[position];
    if (kind <= HASH_KIND_MAP) stamp_if_node_key(v.d, &key);
    Probe p(key_hash(&key), v.mask);
    int32_t deleted = -1, target = -1;
    do {
        uint32_t f = flag_of(v.flags, p.i);
        if (f == FLAG_EMPTY) { target = int32_t(p.i); break; }
        if (f == FLAG_DELETED) { deleted = int32_t(p.i); continue; }
        int32_t k = v.keys[p.i];
        if (kind == HASH_KIND_VALUES) {
            const Cell* stored = v.cells + first_position(t, k);
            if (cell_type(stored) == cell_type(&key) && keys_match(stored, &key, CMP_EQUAL)) {
                uint32_t bucket = p.i;
                chain_add(t, bucket, int32_t(position));
                position_index_set(t, position, int32_t(bucket) + 1);
                return 0;
            }
        } else if (int narrow = narrow_strings_match(v.cells + k, &key, CMP_STRICT_EQUAL); narrow >= 0) {
            if (narrow) {
                if (found) *found = k;
                return 0;
            }
        } else if (cell_type(v.cells + k) == cell_type(&key) && keys_match(v.cells + k, &key, CMP_STRICT_EQUAL)) {
            if (found) *found = k;
            return 0;
        }
    } while (p.next());
    bool was_empty = target >= 0 && deleted < 0;
    if (deleted >= 0) target = deleted;
    assert(target >= 0 && "the load factor keeps a free bucket");
    set_flag(v.flags, uint32_t(target), FLAG_LIVE);
    v.keys[target] = int32_t(position);
    v.d->live_count++;
    if (was_empty) v.d->used_buckets++;
    if (kind == HASH_KIND_VALUES) position_index_set(t, position, target + 1);
    return 0;
}

int hash_table_insert(NodeRef t, uint32_t position) { return insert_key(t, position, nullptr); }

void hash_table_put_block(NodeRef t, uint32_t first, uint32_t step) {
    layout_changed();
    HoldTable hold(t);
    bool map = hash_table_desc(t)->kind == HASH_KIND_MAP;
    for (uint32_t pos = first; pos < block_count(hash_table_desc(t)->key_block);) {
        if (!map) {
            if (hash_table_insert(t, pos) == 2) return;
            pos += step;
            continue;
        }
        if (pos + 1 >= block_count(hash_table_desc(t)->key_block)) return;
        int32_t found = -1;
        insert_key(t, pos, &found);
        if (found < 0) {
            pos += step;
            continue;
        }
        // A repeated map key: the later value wins and the later pair goes.
        View v = view(t);
        v.cells[found + 1] = v.cells[pos + 1];
        SeriesBuffer* b = node_buffer(v.d->key_block);
        Cell* c = b->cells();
        uint32_t count = block_count(v.d->key_block);
        std::memmove(c + pos, c + pos + 2, size_t(count - pos - 2) * sizeof(Cell));
        b->tail -= 32;
    }
}

// The position of the first live key on the hash's probe path that `match`
// accepts, or -1. Then *free (when asked) is the bucket insert_key would give
// the key: the first deleted one on the path, else the empty one that ends it.
template <bool WantFree, class Match>
static int32_t probe_live_keys(const View& v, uint32_t hash, Match match, int32_t* free) {
    Probe p(hash, v.mask);
    int32_t first_deleted = -1;
    do {
        uint32_t f = flag_of(v.flags, p.i);
        if (f == FLAG_EMPTY) {
            if (WantFree) *free = first_deleted >= 0 ? first_deleted : int32_t(p.i);
            return -1;
        }
        if (f == FLAG_DELETED) {
            if (WantFree && first_deleted < 0) first_deleted = int32_t(p.i);
            continue;
        }
        int32_t k = v.keys[p.i];
        if (match(v.cells + k)) return k;
    } while (p.next());
    if (WantFree) *free = first_deleted;
    return -1;
}

// The last lookup of a narrow string! key under CMP_EQUAL that found it, for
// the map put that mostly follows with the same key (`m/:k: 1 + m/:k`). While
// no layout has changed and no buffer or node has moved since, a narrow key
// equal to the stored one, ignoring case, has the hash and the matches along
// the probe path of the key that found it, so its own lookup would give the
// same position. The key text is compared each time: the caller's string may
// have changed, and a key of another type or width takes the full lookup.
namespace {
struct TextFind {
    NodeRef table = 0;
    uint64_t layout = 0, epoch = 0;
    int32_t position = -1;
};
TextFind last_text_find;
}  // namespace

// Maps and word tables: the position of the first key on the probe path that
// matches. Kept apart from kind 0's filters: every map path step comes here.
// A narrow string! key under an equality operator is read and hashed once,
// with the same probe and the same answers as the general path; what it finds
// under CMP_EQUAL is remembered.
template <bool WantFree = false>
static int32_t get_single_key(NodeRef t, const View& v, const Cell* key, int op, int32_t* free = nullptr) {
    NarrowText text;
    if (is_equality(op) && narrow_text(key, &text)) {
        bool strict = op == CMP_STRICT_EQUAL;
        int32_t found = probe_live_keys<WantFree>(v, hash_latin1_chars(text.chars, text.length, 0), [&](const Cell* stored) {
            NarrowText s;
            if (narrow_text(stored, &s)) return narrow_texts_equal(s, text, strict);
            return cell_type(stored) == T_STRING && keys_match(stored, key, op);
        }, free);
        if (!strict && found >= 0) last_text_find = TextFind{t, layout_changes, buffer_epoch, found};
        return found;
    }
    return probe_live_keys<WantFree>(v, key_hash(key), [&](const Cell* stored) {
        return (cell_type(key) == T_TEXT_KEY || cell_type(key) == cell_type(stored)) && keys_match(stored, key, op);
    }, free);
}

int32_t hash_table_get(NodeRef t, const Cell* key_in, uint32_t head, int32_t skip, int op,
                       bool last, bool reverse) {
    Cell key = *key_in;  // the caller's cell is never changed (and re-indexing may move it)
    if (hash_table_desc(t)->gc_stamp) check_stamp(t);  // most tables hash no node id: no call
    View v = view(t);
    int kind = v.d->kind;
    if (kind == HASH_KIND_MAP) key = map_search_key(&key);
    if (kind != HASH_KIND_VALUES) return get_single_key(t, v, &key, op);
    if (skip < 1) raise_error_int(err::script::out_of_range, skip);
    if (reverse) last = true;

    Probe p(key_hash(&key), v.mask);
    do {
        uint32_t f = flag_of(v.flags, p.i);
        if (f == FLAG_EMPTY) return -1;
        if (f == FLAG_DELETED) continue;
        int32_t k = v.keys[p.i];
        if (!keys_match(v.cells + first_position(t, k), &key, CMP_EQUAL)) continue;
        const int32_t* chain = &k;
        uint32_t n = 1;
        if (k < 0) {
            NodeRef c = NodeRef(i32_data(v.d->chain_list)[-k - 1]);
            chain = i32_data(c);
            n = i32_count(c);
        }
        // A lone key has just matched under CMP_EQUAL, and every position is
        // on a step of 1: only other operators and skips need another look.
        bool matched = k >= 0 && op == CMP_EQUAL;
        int32_t best = -1;
        for (uint32_t i = 0; i < n; ++i) {
            int32_t q = chain[i];
            if (!matched && !keys_match(v.cells + q, &key, op)) continue;
            if (skip > 1) {
                int64_t dist = last ? int64_t(head) - 1 - q : int64_t(q) - head;
                int64_t r = dist % skip;
                if (r < 0) r += skip;
                if (r != 0) continue;
            }
            bool after = q >= int64_t(head);
            if (reverse ? !after && q > best
                : last  ? after && q > best
                        : after && (best < 0 || q < best))
                best = q;
        }
        if (best >= 0) return best;
    } while (p.next());
    return -1;
}

int32_t hash_table_find_map_key(NodeRef t, const Cell* key_in, int op, MapSlot* slot) {
    Cell key = map_search_key(key_in);  // a copy: re-indexing may move the caller's cell
    if (hash_table_desc(t)->gc_stamp) check_stamp(t);
    View v = view(t);
    assert(v.d->kind == HASH_KIND_MAP);
    int32_t free = -1;
    int32_t found = get_single_key<true>(t, v, &key, op, &free);
    *slot = MapSlot{free, v.d->bucket_flags, v.d->bucket_count};
    return found;
}

int32_t hash_table_recall_map_key(NodeRef t, const Cell* key, int op) {
    const TextFind& last = last_text_find;
    if (last.table != t || last.layout != layout_changes || last.epoch != buffer_epoch || op != CMP_EQUAL) return -1;
    // A table whose hashes follow node ids is left to the lookup, which may re-index it.
    const HashDesc* d = hash_table_desc(t);
    if (d->gc_stamp) return -1;
    NarrowText text, stored;
    const Cell* found = node_buffer(d->key_block)->cells() + last.position;
    if (!narrow_text(key, &text) || !narrow_text(found, &stored) || !narrow_texts_equal(stored, text, false))
        return -1;
    return last.position;
}

// The slot is where insert_key would put the key while the buckets are those
// it was taken from, none has been taken since and no growth or re-indexing is
// due; anything else goes the long way.
void hash_table_insert_in_slot(NodeRef t, uint32_t position, const MapSlot& slot) {
    layout_changed();
    View v = view(t);
    bool same = slot.bucket >= 0 && slot.flags == v.d->bucket_flags && slot.bucket_count == v.d->bucket_count;
    if (!same || v.d->gc_stamp || v.d->used_buckets >= v.d->grow_limit || flag_of(v.flags, uint32_t(slot.bucket)) == FLAG_LIVE
        || key_hash_uses_node(cell_type(v.cells + position))) {
        insert_key(t, position, nullptr);
        return;
    }
    if (flag_of(v.flags, uint32_t(slot.bucket)) == FLAG_EMPTY) v.d->used_buckets++;
    set_flag(v.flags, uint32_t(slot.bucket), FLAG_LIVE);
    v.keys[slot.bucket] = int32_t(position);
    v.d->live_count++;
}

int32_t hash_table_get_next(NodeRef t, const Cell* key_in, HashCursor& cur) {
    Cell key = map_search_key(key_in);
    if (cur.bucket < 0) check_stamp(t);
    View v = view(t);
    if (cur.bucket < 0) {
        cur.start = key_hash(&key) & v.mask;
        cur.bucket = int32_t(cur.start);
        cur.step = 0;
        cur.visited = 0;
    } else {
        if (++cur.visited > v.mask) return -1;
        cur.bucket = int32_t((uint32_t(cur.bucket) + ++cur.step) & v.mask);
    }
    for (;;) {
        uint32_t f = flag_of(v.flags, uint32_t(cur.bucket));
        if (f == FLAG_EMPTY) return -1;
        if (f == FLAG_LIVE) {
            const Cell* stored = v.cells + v.keys[cur.bucket];
            if (cell_type(stored) == cell_type(&key) && keys_match(stored, &key, CMP_EQUAL))
                return v.keys[cur.bucket];
        }
        if (++cur.visited > v.mask) return -1;
        cur.bucket = int32_t((uint32_t(cur.bucket) + ++cur.step) & v.mask);
    }
}

void hash_table_delete(NodeRef t, uint32_t position) {
    layout_changed();
    View v = view(t);
    if (v.d->kind == HASH_KIND_MAP) {
        v.cells[position + 1].header = 0;  // the key and its bucket stay
        v.d->live_count--;
        return;
    }
    if (v.d->kind != HASH_KIND_VALUES) return;
    int32_t b1 = position_index_get(t, position);
    if (b1 <= 0) return;
    i32_data(v.d->position_index)[position] = -1;
    int32_t k = v.keys[b1 - 1];
    if (k < 0) {
        int32_t* list = i32_data(v.d->chain_list);
        NodeRef chain = NodeRef(list[-k - 1]);
        SeriesBuffer* b = node_buffer(chain);
        int32_t* pos = i32_data(chain);
        uint32_t n = i32_count(chain);
        for (uint32_t i = 0; i < n; ++i) {
            if (pos[i] != int32_t(position)) continue;
            std::memmove(pos + i, pos + i + 1, size_t(n - i - 1) * 4);
            b->tail -= 4;
            --n;
            break;
        }
        if (n > 0) return;  // the bucket stays a chain
        list[-k - 1] = 0;
    }
    set_flag(v.flags, uint32_t(b1 - 1), FLAG_DELETED);
    v.d->live_count--;
}

void hash_table_delete_range(NodeRef t, uint32_t position, uint32_t count) {
    layout_changed();
    HashDesc* d = hash_table_desc(t);
    uint32_t cells = block_count(d->key_block);
    if (count == 0 || position >= cells) return;
    count = std::min(count, cells - position);
    if (position == 0 && count == cells && d->kind == HASH_KIND_VALUES) {
        d->live_count = d->used_buckets = 0;
        SeriesBuffer* f = node_buffer(d->bucket_flags);
        std::memset(f->head_ptr(), FLAGS_ALL_EMPTY, f->tail - f->head);
        SeriesBuffer* pi = node_buffer(d->position_index);
        std::memset(pi->head_ptr(), 0xFF, pi->tail - pi->head);
        node_buffer(d->chain_list)->tail = node_buffer(d->chain_list)->head;
        return;
    }
    for (uint32_t i = 0; i < count; ++i) hash_table_delete(t, position + i);
}

void hash_table_clear(NodeRef t) {
    layout_changed();
    HashDesc* d = hash_table_desc(t);
    d->live_count = d->used_buckets = 0;
    SeriesBuffer* kb = node_buffer(d->key_block);
    kb->tail = kb->head;
    SeriesBuffer* f = node_buffer(d->bucket_flags);
    std::memset(f->head_ptr(), FLAGS_ALL_EMPTY, f->tail - f->head);
    if (d->kind == HASH_KIND_VALUES) {
        SeriesBuffer* pi = node_buffer(d->position_index);
        std::memset(pi->head_ptr(), 0xFF, pi->tail - pi->head);
        node_buffer(d->chain_list)->tail = node_buffer(d->chain_list)->head;
    }
}

NodeRef hash_table_copy(NodeRef t, NodeRef new_block) {
    layout_changed();
    HoldTable hold_src(t);
    HoldNode hold_block(new_block);
    NodeRef c = copy_series(t);
    node_buffer(c)->tail = node_buffer(c)->head + sizeof(HashDesc);
    HashDesc* d = hash_table_desc(c);
    d->key_block = new_block;
    d->position_index = d->kind == HASH_KIND_VALUES ? 0 : d->position_index;
    d->chain_list = 0;
    d->bucket_flags = d->bucket_keys = 0;
    HoldTable hold(c);
    NodeRef n = copy_series(hash_table_desc(t)->bucket_flags);
    hash_table_desc(c)->bucket_flags = n;
    n = copy_series(hash_table_desc(t)->bucket_keys);
    hash_table_desc(c)->bucket_keys = n;
    if (hash_table_desc(t)->kind != HASH_KIND_VALUES) return c;
    n = copy_series(hash_table_desc(t)->position_index);
    hash_table_desc(c)->position_index = n;
    n = copy_series(hash_table_desc(t)->chain_list);
    hash_table_desc(c)->chain_list = n;
    for (uint32_t i = 0, count = i32_count(n); i < count; ++i) {
        NodeRef chain = NodeRef(i32_data(hash_table_desc(t)->chain_list)[i]);
        if (!chain) continue;
        NodeRef copy = copy_series(chain);
        i32_data(hash_table_desc(c)->chain_list)[i] = int32_t(copy);
    }
    return c;
}

void hash_table_rebuild(NodeRef t, uint32_t size) {
    layout_changed();
    HoldTable hold(t);
    int32_t start_stamp = current_stamp();
    uint32_t n = round_up_pow2(uint64_t(1.5 * size));
    int32_t limit = int32_t(LOAD_FACTOR * n);
    n = std::max<uint32_t>(n, 4);
    NodeRef flags = filled_series(n / 4, FLAGS_ALL_EMPTY);
    HoldNode hold_flags(flags);
    NodeRef keys = filled_series(4 * n, 0);
    HashDesc* d = hash_table_desc(t);
    d->bucket_flags = flags;
    d->bucket_keys = keys;
    d->bucket_count = int32_t(n);
    d->grow_limit = limit;
    d->live_count = d->used_buckets = 0;
    d->gc_stamp = 0;
    node_buffer(d->chain_list)->tail = node_buffer(d->chain_list)->head;
    SeriesBuffer* pi = node_buffer(d->position_index);
    std::memset(pi->head_ptr(), 0xFF, pi->tail - pi->head);
    hash_table_put_block(t, 0, 1);
    // A collection during the indexing leaves the table stale: stamp the start.
    d = hash_table_desc(t);
    if (d->gc_stamp) d->gc_stamp = start_stamp;
}

int hash_table_refresh(NodeRef t, int32_t offset, uint32_t from, uint32_t count, bool drop) {
    layout_changed();
    if (count > REFRESH_LIMIT) return 1;
    HoldTable hold(t);
    Remap shift{from, from + count, [](const Remap& r, int32_t q) { return q + r.offset; }, offset, 0, 0, 0};
    remap_stored_positions(t, shift);
    if (!drop) return 0;
    if (offset < 0) {
        int64_t lo = std::max<int64_t>(0, int64_t(from) + offset);
        for (int64_t q = lo; q < from; ++q) hash_table_delete(t, uint32_t(q));
    } else if (count > 0) {
        uint64_t need = uint64_t(from) + count + uint32_t(offset);
        if (i32_count(hash_table_desc(t)->position_index) < need) position_index_set(t, uint32_t(2 * need - 1), -1);
    }
    // The position index follows the moved keys; vacated entries index nothing.
    NodeRef pi = hash_table_desc(t)->position_index;
    uint32_t entries = i32_count(pi);
    int32_t* idx = i32_data(pi);
    uint32_t end = std::min(from + count, entries);
    if (from >= end) return 0;
    std::vector<int32_t> moved(idx + from, idx + end);
    std::fill(idx + from, idx + end, -1);
    for (uint32_t i = 0; i < moved.size(); ++i) {
        int64_t q = int64_t(from) + i + offset;
        if (q >= 0 && q < int64_t(entries)) idx[q] = moved[i];
    }
    return 0;
}

void hash_table_move_keys(NodeRef t, uint32_t to, uint32_t from, uint32_t count) {
    layout_changed();
    if (count == 0 || (from <= to && to < from + count)) return;
    // Forward moves name the run's last place; the run lands at [start, start + count).
    int32_t start = to > from ? int32_t(to - (count - 1)) : int32_t(to);
    uint32_t lo = std::min<uint32_t>(from, uint32_t(start));
    uint32_t hi = std::max<uint32_t>(from + count, uint32_t(start) + count);
    Remap r{lo, hi,
            [](const Remap& m, int32_t q) {
                if (q >= m.run_from && q < m.run_from + m.run_count) return q - m.run_from + m.run_to;
                return m.run_to < m.run_from ? q + m.run_count : q - m.run_count;
            },
            0, int32_t(from), int32_t(count), start};
    remap_stored_positions(t, r);
    NodeRef pi = hash_table_desc(t)->position_index;
    if (i32_count(pi) < hi) position_index_set(t, hi - 1, -1);
    int32_t* idx = i32_data(hash_table_desc(t)->position_index);
    std::vector<int32_t> moved(idx + lo, idx + hi);
    for (uint32_t q = lo; q < hi; ++q) idx[r.apply(int32_t(q))] = moved[q - lo];
}

// ---------------------------------------------------------------- kinds 3-4

int32_t hash_table_put_key(NodeRef t, uint32_t key) {
    HoldTable hold(t);
    check_stamp(t);
    int32_t free = -1;
    int32_t b = find_entry_bucket<true>(t, key, &free);
    if (b >= 0) return view(t).keys[b] + 1;
    // The probe just made found the new entry's bucket, unless growth re-places
    // the entries or a collection (sweeping the ownership table) frees others.
    HashDesc* d = hash_table_desc(t);
    if (d->used_buckets >= d->grow_limit) free = -1;
    grow_if_full(t);
    uint64_t cycle = gc_cycle_count();
    uint32_t entry = block_append(hash_table_desc(t)->key_block, uint32_t(entry_cells(hash_table_desc(t))));
    if (gc_cycle_count() != cycle) free = -1;
    return add_entry(t, key, entry, free);
}

int32_t hash_table_get_key(NodeRef t, uint32_t key) {
    check_stamp(t);
    int32_t b = find_entry_bucket(t, key);
    return b < 0 ? -1 : view(t).keys[b] + 1;
}

int32_t hash_table_delete_key(NodeRef t, uint32_t key) {
    check_stamp(t);
    int32_t b = find_entry_bucket(t, key);
    if (b < 0) return -1;
    View v = view(t);
    Cell* k = v.cells + v.keys[b];
    k->header = 0;
    hash_entry_set_key(k, 0);
    set_flag(v.flags, uint32_t(b), FLAG_DELETED);
    v.d->live_count--;
    return v.keys[b] + 1;
}

void hash_table_sweep_entries(NodeRef t, NodeLiveFn is_live) {
    View v = view(t);
    for (uint32_t j = 0; j <= v.mask; ++j) {
        if (flag_of(v.flags, j) != FLAG_LIVE) continue;
        Cell* k = v.cells + v.keys[j];
        bool dead = !is_live(hash_entry_key(k));
        if (!dead && v.d->kind == HASH_KIND_OWNED_KEYS && object_context(k + 2)) dead = !is_live(object_context(k + 2));
        if (!dead) continue;
        k->header = 0;
        hash_entry_set_key(k, 0);
        set_flag(v.flags, j, FLAG_DELETED);
        v.d->live_count--;
    }
}

// ---------------------------------------------------------------- words

int32_t symbol_table_intern(NodeRef t, const uint8_t* bytes, uint32_t length, int case_flag) {
    if (hash_table_desc(t)->used_buckets >= hash_table_desc(t)->grow_limit) {
        // Growing allocates, and the spelling may live in a buffer that moves.
        HoldTable hold(t);
        std::string copy(reinterpret_cast<const char*>(bytes), length);
        grow_if_full(t);
        return symbol_table_intern(t, reinterpret_cast<const uint8_t*>(copy.data()), length, case_flag);
    }
    View v = view(t);
    Probe p(murmur3_hash_bytes_folded(bytes, length), v.mask);
    int32_t variant = 0;  // the first case variant met: the earliest interned
    do {
        uint32_t f = flag_of(v.flags, p.i);
        if (f == FLAG_EMPTY) break;
        if (f != FLAG_LIVE) continue;
        int32_t id = v.keys[p.i] + 1;
        SeriesBuffer* sb = node_buffer(symbol_entry_spelling(v.cells + (id - 1)));
        uint32_t len = sb->tail - sb->head;
        const uint8_t* s = sb->head_ptr();
        if (len != length) continue;
        if (case_flag != 1 && std::memcmp(s, bytes, length) == 0) return id;
        if (variant) continue;
        uint32_t i = 0;
        while (i < length && (s[i] | (uint8_t(s[i] - 'A') < 26 ? 0x20 : 0)) ==
                                 (bytes[i] | (uint8_t(bytes[i] - 'A') < 26 ? 0x20 : 0)))
            ++i;
        if (i == length) {
            if (case_flag == 1) return id;
            variant = id;
        }
    } while (p.next());
    assert(flag_of(v.flags, p.i) == FLAG_EMPTY);
    uint32_t bucket = p.i;
    // The probe may meet a later variant first (after a resize): resolve it.
    int32_t alias = -1;
    if (variant) {
        int32_t a = symbol_entry_alias(v.cells + (variant - 1));
        alias = a > 0 ? a : variant;
    }
    // The spelling may live in a buffer that the allocations below move.
    std::string spelling(reinterpret_cast<const char*>(bytes), length);
    HoldTable hold(t);

    uint32_t pos = claim_empty_bucket(t, bucket);
    NodeRef text = alloc_series_bytes(length + 1);
    SeriesBuffer* b = node_buffer(text);
    std::memcpy(b->head_ptr(), spelling.data(), length);
    b->head_ptr()[length] = 0;
    b->tail = b->head + length;
    Cell* c = view(t).cells + pos;
    cell_init(c, T_SYMBOL);
    symbol_entry_set_alias(c, alias);
    symbol_entry_set_spelling(c, text);
    return int32_t(pos) + 1;
}

// Probes the word table for the symbol: its slot position, or -1 with the
// empty bucket that ends its probe chain in *empty_bucket.
static int32_t probe_word(NodeRef t, int32_t symbol, int case_flag, uint32_t* empty_bucket) {
    View v = view(t);
    int32_t canonical = symbol_resolve_alias(symbol);
    int32_t wanted = case_flag ? canonical : symbol;
    Probe p(murmur3_finalize(uint32_t(canonical)), v.mask);
    do {
        uint32_t f = flag_of(v.flags, p.i);
        if (f == FLAG_EMPTY) break;
        if (f != FLAG_LIVE) continue;
        int32_t s = word_symbol(v.cells + v.keys[p.i]);
        // The exact spelling matches in either mode without resolving its alias.
        if (s == symbol || s == wanted || (case_flag && symbol_resolve_alias(s) == wanted)) return v.keys[p.i];
    } while (p.next());
    assert(flag_of(v.flags, p.i) == FLAG_EMPTY);
    *empty_bucket = p.i;
    return -1;
}

int32_t hash_table_find_word(NodeRef t, int32_t symbol, int case_flag) {
    uint32_t unused;
    return probe_word(t, symbol, case_flag, &unused);
}

int32_t hash_table_find_or_append_word(NodeRef t, int32_t symbol, int case_flag, NodeRef context,
                                       int32_t* out_position) {
    HoldTable hold(t);
    grow_if_full(t);
    uint32_t bucket;
    int32_t found = probe_word(t, symbol, case_flag, &bucket);
    if (found >= 0) {
        *out_position = found;
        return found;
    }
    uint32_t pos = claim_empty_bucket(t, bucket);
    Cell* w = view(t).cells + pos;
    cell_init(w, T_WORD);
    word_set(w, context, symbol, int32_t(pos));
    *out_position = int32_t(pos);
    return -1;
}

// ---------------------------------------------------------------- diagnostics

static void dump_cell(std::FILE* out, const Cell* c) {
    TypeId t = cell_type(c);
    const char* name = datatype_name(t);
    if (name) std::fprintf(out, "  %s", name);
    else std::fprintf(out, "  #%u", unsigned(t));
    std::fprintf(out, " %08X %08X %08X\n", unsigned(cell_word(c, 1)), unsigned(cell_word(c, 2)),
                 unsigned(cell_word(c, 3)));
}

void hash_table_dump(NodeRef t, std::FILE* out) {
    View v = view(t);
    // A map entry is a key and its value; kinds 3-4 entries are a key and N values.
    uint32_t cells = v.d->kind == HASH_KIND_MAP ? 2 : v.d->kind >= HASH_KIND_KEYS ? uint32_t(entry_cells(v.d)) : 1;
    for (uint32_t state : {FLAG_DELETED, FLAG_LIVE}) {
        std::fputs(state == FLAG_DELETED ? "\n== Deleted keys ==\n" : "== Alive keys ==\n", out);
        for (uint32_t j = 0; j <= v.mask; ++j) {
            if (flag_of(v.flags, j) != state) continue;
            int32_t k = v.keys[j];
            if (v.d->kind == HASH_KIND_VALUES && k < 0) k = first_position(t, k);
            for (uint32_t i = 0; i < cells; ++i) dump_cell(out, v.cells + k + i);
        }
    }
}

// ---------------------------------------------------------------- collector

// Node references stored in the table's series are marked through their home
// so that node evacuation can rewrite them.
void gc_mark_hash_table(NodeRef* slot) {
    if (!*slot) return;
    gc_mark_node_ref(slot);
    HashDesc* d = hash_table_desc(*slot);
    if (d->kind == HASH_KIND_VALUES) {
        gc_mark_node_ref(&d->position_index);
        gc_mark_node_ref(&d->chain_list);
        if (d->chain_list) {
            NodeRef* chains = reinterpret_cast<NodeRef*>(i32_data(d->chain_list));
            for (uint32_t i = 0, n = i32_count(d->chain_list); i < n; ++i) gc_mark_node_ref(chains + i);
        }
    }
    gc_mark_node_ref(&d->bucket_flags);
    gc_mark_node_ref(&d->bucket_keys);
    if (!d->key_block) return;
    // The ownership table's keys are weak: its owner sweeps the dead ones.
    if (d->kind == HASH_KIND_KEYS && d->bucket_flags && d->bucket_keys) {
        View v = view(*slot);
        for (uint32_t j = 0; j <= v.mask; ++j)
            if (flag_of(v.flags, j) == FLAG_LIVE) gc_mark_node_ref(hash_entry_key_slot(v.cells + v.keys[j]));
    }
    gc_mark_node_ref(&d->key_block);
}

}  // namespace tev

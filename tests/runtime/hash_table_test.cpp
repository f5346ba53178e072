// Hash tables: every kind inserts, finds, removes and keeps working past the 0.77 load factor.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>
#include "datatypes/registry.h"
#include "runtime/case_tables.h"
#include "runtime/compare_ops.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "tests/runtime/text_cells.h"

namespace tev {
namespace {

NodeRef int_block(const std::vector<int32_t>& values) {
    NodeRef node = alloc_series_cells(uint32_t(values.size()) + 1);
    SeriesBuffer* b = node_buffer(node);
    for (size_t i = 0; i < values.size(); ++i) set_integer(b->cells() + i, values[i]);
    b->tail = b->head + uint32_t(values.size() * sizeof(Cell));
    return node;
}
Cell* block_cells(NodeRef node) { return node_buffer(node)->cells(); }
uint32_t block_len(NodeRef node) { SeriesBuffer* b = node_buffer(node); return (b->tail - b->head) / 16; }
void block_push(NodeRef node, int32_t v) {
    SeriesBuffer* b = series_ensure_room(node, 16);
    set_integer(reinterpret_cast<Cell*>(b->tail_ptr()), v);
    b->tail += 16;
}
Cell int_key(int32_t v) { Cell c; set_integer(&c, v); return c; }
int32_t find(NodeRef t, int32_t v, uint32_t head = 0, int32_t skip = 1, bool last = false, bool reverse = false) {
    Cell k = int_key(v);
    return hash_table_get(t, &k, head, skip, 0, last, reverse);
}

TEST(HashTable, CreationSizes) {
    struct Row { uint32_t size; int32_t kind, cells, buckets, limit; } rows[] = {
        {0, 0, 0, 8, 6}, {3, 3, 1, 8, 6}, {4, 1, 0, 8, 6},
        {4000, 2, 1, 16384, 12615}, {1000, 4, 3, 2048, 1576}, {1024, 3, 1, 2048, 1576},
    };
    for (const Row& r : rows) {
        NodeRef t = hash_table_create(r.size, 0, 0, r.kind, r.cells);
        EXPECT_EQ(hash_table_desc(t)->bucket_count, r.buckets) << r.size;
        EXPECT_EQ(hash_table_desc(t)->grow_limit, r.limit) << r.size;
    }
}

TEST(HashTable, ValuesChainEqualKeysInOneBucket) {
    NodeRef block = int_block({7, 1, 7, 2, 7});
    NodeRef t = hash_table_create(5, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    EXPECT_EQ(hash_table_desc(t)->live_count, 3);  // 7 (a chain of three), 1, 2
    hash_table_delete(t, 0);
    hash_table_delete(t, 4);
    EXPECT_EQ(find(t, 7), 2);
    EXPECT_EQ(hash_table_desc(t)->live_count, 3);  // the bucket stays live
    hash_table_delete(t, 2);
    EXPECT_EQ(find(t, 7), -1);
    EXPECT_EQ(hash_table_desc(t)->live_count, 2);
    EXPECT_EQ(find(t, 2), 3);
}

TEST(HashTable, ValuesLookupHonoursHeadSkipLastReverse) {
    // 5 at positions 2, 5 and 8.
    NodeRef block = int_block({0, 1, 5, 3, 4, 5, 6, 7, 5, 9});
    NodeRef t = hash_table_create(10, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    struct Row { uint32_t head; int32_t skip; bool last, reverse; int32_t want; } rows[] = {
        {3, 1, false, false, 5}, {3, 1, true, false, 8}, {3, 1, false, true, 2},
        {2, 3, false, false, 2}, {0, 1, false, false, 2}, {9, 1, false, false, -1},
        {3, 3, false, false, -1}, {0, 4, false, false, 8}, {10, 1, false, true, 8},
    };
    for (const Row& r : rows)
        EXPECT_EQ(find(t, 5, r.head, r.skip, r.last, r.reverse), r.want)
            << "head " << r.head << " skip " << r.skip << " last " << r.last << " reverse " << r.reverse;
    for (int32_t bad : {0, -1}) {
        EXPECT_THROW(find(t, 5, 0, bad), LanguageThrow);
        EXPECT_EQ(last_error_code(), err::script::out_of_range.code);
    }
}

// Inserting well past the grow limit: every key stays findable in every kind.
// A key alone in its bucket matches the lookup's own operator and skip, not
// only the equality that finds its bucket.
TEST(HashTable, ValuesLookupOfALoneKeyHonoursOperatorAndSkip) {
    RootCell root;
    set_series(root.get(), T_BLOCK, alloc_series_cells(3));
    for (const char32_t* text : {U"a", U"B", U"c"}) {
        series_ensure_room(series_node(root.get()), 16);
        Cell key = text_cell_value(T_STRING, text, 1);
        SeriesBuffer* b = node_buffer(series_node(root.get()));  // the allocation may have moved it
        *reinterpret_cast<Cell*>(b->tail_ptr()) = key;
        b->tail += 16;
    }
    NodeRef t = hash_table_create(3, series_node(root.get()), 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    struct Row { const char32_t* text; int op; uint32_t head; int32_t skip; bool last, reverse; int32_t want; } rows[] = {
        {U"A", CMP_EQUAL, 0, 1, false, false, 0},         {U"A", CMP_STRICT_EQUAL, 0, 1, false, false, -1},
        {U"a", CMP_STRICT_EQUAL, 0, 1, false, false, 0},  {U"b", CMP_EQUAL, 0, 1, false, false, 1},
        {U"b", CMP_STRICT_EQUAL, 0, 1, false, false, -1}, {U"b", CMP_EQUAL, 0, 2, false, false, -1},
        {U"C", CMP_EQUAL, 0, 2, false, false, 2},         {U"C", CMP_EQUAL, 3, 2, true, false, -1},
        {U"C", CMP_EQUAL, 3, 1, false, true, 2},          {U"a", CMP_EQUAL, 1, 1, false, false, -1},
    };
    for (const Row& r : rows) {
        StackScope scope;
        Cell* key = stack_push();
        *key = text_cell_value(T_STRING, r.text, 1);
        EXPECT_EQ(hash_table_get(t, key, r.head, r.skip, r.op, r.last, r.reverse), r.want)
            << "op " << r.op << " head " << r.head << " skip " << r.skip;
    }
}

TEST(HashTable, ValuesGrowPastTheLoadFactor) {
    NodeRef block = int_block({});
    NodeRef t = hash_table_create(0, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    for (int32_t i = 0; i < 500; ++i) {
        block_push(block, i * 7);
        hash_table_insert(t, uint32_t(i));
        ASSERT_LE(hash_table_desc(t)->used_buckets, hash_table_desc(t)->grow_limit);
    }
    EXPECT_GE(hash_table_desc(t)->bucket_count, 500 / 0.77);
    for (int32_t i = 0; i < 500; ++i) ASSERT_EQ(find(t, i * 7), i);
    EXPECT_EQ(find(t, 1), -1);
}

// A full table whose live keys fill fewer than half its buckets is cleaned at
// the same size; otherwise it doubles.
TEST(HashTable, KeyedEntriesCleanDeletedBucketsWhenFew) {
    NodeRef t = hash_table_create(12, 0, 0, HASH_KIND_OWNED_KEYS, 1);  // 16 buckets, limit 12
    HashTableHold hold_t(t);
    for (uint32_t k = 1; k <= 12; ++k) hash_table_put_key(t, k);
    for (uint32_t k = 1; k <= 10; ++k) hash_table_delete_key(t, k);
    hash_table_put_key(t, 100);
    EXPECT_EQ(hash_table_desc(t)->bucket_count, 16);
    EXPECT_EQ(hash_table_desc(t)->used_buckets, 3);
    for (uint32_t k : {11u, 12u, 100u}) EXPECT_GE(hash_table_get_key(t, k), 0);
    for (uint32_t k = 200; k < 210; ++k) hash_table_put_key(t, k);
    EXPECT_EQ(hash_table_desc(t)->bucket_count, 32);
}

TEST(HashTable, RefreshFollowsInsertionsAndRemovals) {
    NodeRef block = int_block({10, 11, 12, 11, 14, 15});
    NodeRef t = hash_table_create(6, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    // Insert 99 at position 2: the cells from 2 on move one place up.
    SeriesBuffer* b = series_ensure_room(block, 16);
    Cell* c = b->cells();
    std::memmove(c + 3, c + 2, 4 * sizeof(Cell));
    set_integer(c + 2, 99);
    b->tail += 16;
    ASSERT_EQ(hash_table_refresh(t, 1, 2, 4, true), 0);
    hash_table_insert(t, 2);
    std::vector<int32_t> want = {10, 11, 99, 12, 11, 14, 15};
    for (size_t i = 0; i < want.size(); ++i) {
        int32_t last_place = int32_t(std::find(want.rbegin(), want.rend(), want[i]).base() - want.begin()) - 1;
        EXPECT_EQ(find(t, want[i], uint32_t(i)), int32_t(i)) << i;
        EXPECT_EQ(find(t, want[i], 0, 1, true), last_place) << i;
    }
    // Remove position 1 (an 11 whose twin stays).
    c = block_cells(block);
    std::memmove(c + 1, c + 2, 5 * sizeof(Cell));
    node_buffer(block)->tail -= 16;
    ASSERT_EQ(hash_table_refresh(t, -1, 2, 5, true), 0);
    want = {10, 99, 12, 11, 14, 15};
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(find(t, want[i]), int32_t(i)) << i;
    EXPECT_EQ(find(t, 11, 0, 1, true), 3);
}

TEST(HashTable, RefreshRefusesMoreThan30000Keys) {
    NodeRef t = hash_table_create(4, int_block({1, 2}), 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    EXPECT_EQ(hash_table_refresh(t, 1, 0, 30001, true), 1);
    EXPECT_EQ(find(t, 1), 0);  // unchanged
    EXPECT_EQ(hash_table_refresh(t, 0, 0, 30000, false), 0);
}

// Moves runs of keys (equal values among them, so chains are corrected once)
// against a plain model of the block.
TEST(HashTable, MoveKeysMatchesAModel) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<int32_t> model;
        for (int i = 0; i < 12; ++i) model.push_back(int32_t(rng() % 5));
        NodeRef block = int_block(model);
        NodeRef t = hash_table_create(12, block, 0, HASH_KIND_VALUES, 0);
        HashTableHold hold_t(t);
        uint32_t from = rng() % 12, count = 1 + rng() % (12 - from), to = rng() % 12;
        if (from <= to && to < from + count) continue;
        std::vector<int32_t> run(model.begin() + from, model.begin() + from + count);
        model.erase(model.begin() + from, model.begin() + from + count);
        uint32_t at = to > from ? to - (count - 1) : to;
        model.insert(model.begin() + at, run.begin(), run.end());
        Cell* c = block_cells(block);
        for (size_t i = 0; i < model.size(); ++i) set_integer(c + i, model[i]);
        hash_table_move_keys(t, to, from, count);
        for (uint32_t head = 0; head < 12; ++head) {
            for (int32_t v = 0; v < 5; ++v) {
                auto it = std::find(model.begin() + head, model.end(), v);
                int32_t want = it == model.end() ? -1 : int32_t(it - model.begin());
                ASSERT_EQ(find(t, v, head), want) << "round " << round << " value " << v << " head " << head;
            }
        }
    }
}

TEST(HashTable, DeleteRangeOfEveryKeyEmptiesTheTable) {
    NodeRef block = int_block({1, 2, 3, 1});
    NodeRef t = hash_table_create(4, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    hash_table_delete_range(t, 1, 100);  // clamped to the tail
    EXPECT_EQ(find(t, 1), 0);
    EXPECT_EQ(find(t, 2), -1);
    hash_table_delete_range(t, 0, 4);
    EXPECT_EQ(hash_table_desc(t)->live_count, 0);
    EXPECT_EQ(find(t, 1), -1);
}

TEST(HashTable, CopyIsIndependent) {
    NodeRef block = int_block({4, 4, 5});
    NodeRef t = hash_table_create(3, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    NodeRef t2 = hash_table_copy(t, copy_series(block));
    HashTableHold hold_t2(t2);
    hash_table_delete(t, 0);
    EXPECT_EQ(find(t, 4), 1);
    EXPECT_EQ(find(t2, 4), 0);
    EXPECT_EQ(find(t2, 5), 2);
}

TEST(HashTable, MapKeepsTheLaterValueOfARepeatedKey) {
    NodeRef block = int_block({1, 10, 2, 20, 1, 30});
    NodeRef t = hash_table_create(3, block, 0, HASH_KIND_MAP, 0);
    HashTableHold hold_t(t);
    ASSERT_EQ(block_len(block), 4u);
    EXPECT_EQ(get_integer(block_cells(block) + 1), 30);
    EXPECT_EQ(find(t, 1), 0);
    EXPECT_EQ(find(t, 2), 2);
    hash_table_delete(t, 0);  // the value loses its type, the key stays findable
    EXPECT_EQ(block_cells(block)[1].header, 0u);
    EXPECT_EQ(find(t, 1), 0);
    EXPECT_EQ(hash_table_desc(t)->live_count, 1);
}

TEST(HashTable, MapLookupLeavesTheCallersKeyAlone) {
    NodeRef block = alloc_series_cells(2);
    SeriesBuffer* b = node_buffer(block);
    cell_init(b->cells(), T_SET_WORD);
    b->cells()->w2 = 5;
    set_integer(b->cells() + 1, 1);
    b->tail = b->head + 32;
    NodeRef t = hash_table_create(1, block, 0, HASH_KIND_MAP, 0);
    HashTableHold hold_t(t);
    Cell key;
    cell_init(&key, T_WORD);
    key.w2 = 5;
    Cell before = key;
    EXPECT_EQ(hash_table_get(t, &key, 0, 1, 0, false, false), 0);
    EXPECT_EQ(std::memcmp(&key, &before, sizeof key), 0);
    HashCursor cur;
    EXPECT_EQ(hash_table_get_next(t, &key, cur), 0);
    EXPECT_EQ(std::memcmp(&key, &before, sizeof key), 0);
}

TEST(HashTable, MapGrowsPastTheLoadFactor) {
    NodeRef block = int_block({});
    NodeRef t = hash_table_create(0, block, 0, HASH_KIND_MAP, 0);
    HashTableHold hold_t(t);
    for (int32_t i = 0; i < 300; ++i) {
        block_push(block, i * 3);
        block_push(block, i);
        hash_table_insert(t, uint32_t(2 * i));
    }
    EXPECT_EQ(hash_table_desc(t)->bucket_count, 512);
    for (int32_t i = 0; i < 300; ++i) ASSERT_EQ(find(t, i * 3), 2 * i);
}

// Text keys of a map in one, two and four-byte units: a lookup in any unit,
// equal or strict-equal, finds what comparing code points (upper-cased for
// equal) finds, and never a key of another text datatype.
TEST(HashTable, MapTextKeysMatchAcrossUnitsAndCase) {
    struct Stored { TypeId type; std::u32string text; uint32_t unit; } stored[] = {
        {T_STRING, U"ab", 1}, {T_STRING, U"abc", 2}, {T_STRING, U"\u00E9t\u00E9", 1}, {T_STRING, U"\u00FF", 1},
        {T_STRING, U"", 1}, {T_STRING, U"w12", 4}, {T_STRING, U"W57", 1}, {T_FILE, U"file", 1},
        {T_STRING, U"\u00B5s", 1}, {T_STRING, U"\u00D7\u0434", 2},
    };
    const uint32_t count = sizeof stored / sizeof *stored;
    RootCell root;
    set_series(root.get(), T_BLOCK, alloc_series_cells(2 * count));
    for (uint32_t i = 0; i < count; ++i) {
        series_ensure_room(series_node(root.get()), 32);
        Cell key = text_cell_value(stored[i].type, stored[i].text, stored[i].unit);
        SeriesBuffer* b = node_buffer(series_node(root.get()));  // the allocation may have moved it
        Cell* c = reinterpret_cast<Cell*>(b->tail_ptr());
        c[0] = key;
        set_integer(c + 1, int32_t(i));
        b->tail += 32;
    }
    NodeRef t = hash_table_create(count, series_node(root.get()), 0, HASH_KIND_MAP, 0);
    HashTableHold hold_t(t);
    ASSERT_EQ(hash_table_desc(t)->live_count, int32_t(count));

    auto upper = [](std::u32string s) {
        for (char32_t& c : s) c = char32_t(unicode_upper(c));
        return s;
    };
    const std::u32string lookups[] = {
        U"ab", U"AB", U"aB", U"abc", U"ABC", U"a", U"abcd", U"", U"\u00E9t\u00E9", U"\u00C9T\u00C9", U"\u00E9t",
        U"\u00FF", U"\u0178", U"w12", U"W12", U"w57", U"W57", U"w5", U"file", U"FILE", U"\u00B5S", U"\u039Cs",
        U"\u00D7\u0414", U"\u00F7\u0434", U"\u00E9T\u00E8",
    };
    for (const std::u32string& text : lookups) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            bool fits = true;
            for (char32_t c : text) fits = fits && (unit == 4 || c < (1u << (8 * unit)));
            if (!fits) continue;
            for (int op : {CMP_EQUAL, CMP_STRICT_EQUAL}) {
                int32_t want = -1;
                for (uint32_t i = 0; i < count && want < 0; ++i) {
                    if (stored[i].type != T_STRING) continue;
                    bool same = op == CMP_STRICT_EQUAL ? stored[i].text == text : upper(stored[i].text) == upper(text);
                    if (same) want = int32_t(2 * i);
                }
                StackScope scope;
                Cell k = text_cell_value(T_STRING, U"--" + text, unit, 2);
                Cell* key = stack_push();
                *key = k;
                EXPECT_EQ(hash_table_get(t, key, 0, 1, op, false, false), want)
                    << "lookup #" << (&text - lookups) << " unit " << unit << " op " << op;
            }
        }
    }
    // A file! key is found by a file! lookup only.
    StackScope scope;
    Cell k = text_cell_value(T_FILE, U"file", 1);
    Cell* key = stack_push();
    *key = k;
    EXPECT_EQ(hash_table_get(t, key, 0, 1, CMP_EQUAL, false, false), 14);
}

// Inserting a text key that equals a stored one up to case: a map under
// strict equality keeps both, and each is found by its own spelling.
TEST(HashTable, MapKeepsTextKeysThatDifferOnlyInCase) {
    const std::u32string texts[] = {U"key", U"KEY", U"Key", U"\u00E9", U"\u00C9", U"\u00FF", U"\u0178"};
    RootCell root;
    set_series(root.get(), T_BLOCK, alloc_series_cells(2));
    NodeRef t = hash_table_create(1, series_node(root.get()), 0, HASH_KIND_MAP, 0);
    HashTableHold hold_t(t);
    uint32_t n = 0;
    for (const std::u32string& text : texts) {
        uint32_t unit = text[0] > 0xFF ? 2 : 1;
        series_ensure_room(series_node(root.get()), 32);
        Cell key = text_cell_value(T_STRING, text, unit);
        SeriesBuffer* b = node_buffer(series_node(root.get()));  // the allocation may have moved it
        Cell* c = reinterpret_cast<Cell*>(b->tail_ptr());
        c[0] = key;
        set_integer(c + 1, int32_t(n));
        b->tail += 32;
        hash_table_insert(t, 2 * n++);
    }
    EXPECT_EQ(hash_table_desc(t)->live_count, int32_t(n));
    for (uint32_t i = 0; i < n; ++i) {
        StackScope scope;
        Cell k = text_cell_value(T_STRING, texts[i], 4);
        Cell* key = stack_push();
        *key = k;
        EXPECT_EQ(hash_table_get(t, key, 0, 1, CMP_STRICT_EQUAL, false, false), int32_t(2 * i)) << i;
    }
}

// Integer keys skip the datatype's compare: equal values match under every
// operator a table lookup uses; values that share low bits, and a char! or
// float! of the same value, do not. Six keys in eight buckets make probes
// pass stored keys.
TEST(HashTable, IntegerKeysMatchOnlyIntegersOfTheSameValue) {
    NodeRef block = int_block({0, 0, 1, 10, 2, 20, 3, 30, 4, 40, 5, 50});
    NodeRef t = hash_table_create(6, block, 0, HASH_KIND_MAP, 0);
    HashTableHold hold_t(t);
    ASSERT_EQ(hash_table_desc(t)->bucket_count, 8);
    for (int op : {CMP_EQUAL, CMP_STRICT_EQUAL, CMP_FIND}) {
        for (int32_t k = 0; k < 6; ++k) {
            Cell key = int_key(k);
            EXPECT_EQ(hash_table_get(t, &key, 0, 1, op, false, false), 2 * k) << k << " op " << op;
            for (int32_t high : {0x100, 0x10000, 0x1000000, -0x100, INT32_MIN}) {
                key = int_key(k + high);
                EXPECT_EQ(hash_table_get(t, &key, 0, 1, op, false, false), -1) << k + high << " op " << op;
            }
            Cell other;
            set_char(&other, uint32_t(k));
            EXPECT_EQ(hash_table_get(t, &other, 0, 1, op, false, false), -1) << "char " << k;
            set_float(&other, double(k), T_FLOAT);
            EXPECT_EQ(hash_table_get(t, &other, 0, 1, op, false, false), -1) << "float " << k;
        }
    }
}

// Kind 3-4 keys are nodes: n live ones, kept in a rooted block.
struct KeyNodes {
    RootCell root;
    explicit KeyNodes(uint32_t n) {
        set_series(root.get(), T_BLOCK, alloc_series_cells(n));
        for (uint32_t i = 0; i < n; ++i) {
            NodeRef key = alloc_series_bytes(16);
            SeriesBuffer* b = series_ensure_room(series_node(root.get()), 16);
            set_series(reinterpret_cast<Cell*>(b->tail_ptr()), T_BINARY, key);
            b->tail += 16;
        }
    }
    uint32_t operator[](uint32_t i) { return node_buffer(series_node(root.get()))->cells()[i].w2; }
};

TEST(HashTable, KeyedEntriesInsertFindRemoveAndGrow) {
    KeyNodes keys(600);
    for (int32_t kind : {HASH_KIND_KEYS, HASH_KIND_OWNED_KEYS}) {
        NodeRef t = hash_table_create(4, 0, 0, kind, 2);
        HashTableHold hold(t);
        for (uint32_t k = 0; k < 400; ++k) {
            int32_t v = hash_table_put_key(t, keys[k]);
            Cell* cells = node_buffer(hash_table_desc(t)->key_block)->cells();
            set_integer(cells + v, int32_t(k));
            set_integer(cells + v + 1, -int32_t(k));
        }
        EXPECT_EQ(hash_table_desc(t)->live_count, 400);
        for (uint32_t k = 1; k < 400; k += 2) ASSERT_GE(hash_table_delete_key(t, keys[k]), 0);
        for (uint32_t k = 400; k < 600; ++k) {
            int32_t v = hash_table_put_key(t, keys[k]);
            set_integer(node_buffer(hash_table_desc(t)->key_block)->cells() + v, int32_t(k));
        }
        for (uint32_t k = 0; k < 600; ++k) {
            int32_t v = hash_table_get_key(t, keys[k]);
            bool gone = k < 400 && k % 2 == 1;
            ASSERT_EQ(v < 0, gone) << k;
            if (!gone) {
                ASSERT_EQ(get_integer(node_buffer(hash_table_desc(t)->key_block)->cells() + v), int32_t(k));
            }
        }
        EXPECT_EQ(hash_table_put_key(t, keys[2]), hash_table_get_key(t, keys[2]));  // present: no second entry
    }
}

// Puts, removals and lookups in any order, through growth and the cleaning of
// deleted buckets, agree with a plain map of the same entries.
TEST(HashTable, KeyedEntriesAgreeWithAModelUnderChurn) {
    KeyNodes keys(300);
    for (int32_t kind : {HASH_KIND_KEYS, HASH_KIND_OWNED_KEYS}) {
        NodeRef t = hash_table_create(4, 0, 0, kind, 1);
        HashTableHold hold(t);
        std::map<uint32_t, int32_t> model;
        std::mt19937 random(7);
        for (int32_t step = 0; step < 6000; ++step) {
            uint32_t k = random() % 300;
            if (random() % 3 == 0) {
                int32_t gone = hash_table_delete_key(t, keys[k]);
                ASSERT_EQ(gone >= 0, model.erase(k) == 1) << "step " << step;
            } else {
                int32_t v = hash_table_put_key(t, keys[k]);
                set_integer(node_buffer(hash_table_desc(t)->key_block)->cells() + v, step);
                model[k] = step;
            }
            uint32_t probe = random() % 300;
            int32_t v = hash_table_get_key(t, keys[probe]);
            auto it = model.find(probe);
            ASSERT_EQ(v >= 0, it != model.end()) << "step " << step;
            if (v >= 0) {
                ASSERT_EQ(get_integer(node_buffer(hash_table_desc(t)->key_block)->cells() + v), it->second);
            }
        }
        const HashDesc* d = hash_table_desc(t);
        EXPECT_EQ(d->live_count, int32_t(model.size()));
        EXPECT_LE(d->used_buckets, d->grow_limit);
    }
}

TEST(HashTable, SweepDropsEntriesOfDeadNodes) {
    NodeRef t = hash_table_create(8, 0, 0, HASH_KIND_OWNED_KEYS, 3);
    HashTableHold hold_t(t);
    for (uint32_t k = 1; k <= 8; ++k) hash_table_put_key(t, k);
    hash_table_sweep_entries(t, [](NodeRef n) { return n % 2 == 0; });
    for (uint32_t k = 1; k <= 8; ++k) EXPECT_EQ(hash_table_get_key(t, k) >= 0, k % 2 == 0) << k;
    EXPECT_EQ(hash_table_desc(t)->live_count, 4);
}

TEST(HashTable, ClearEmptiesKeysAndBuckets) {
    NodeRef block = int_block({1, 2, 3});
    NodeRef t = hash_table_create(3, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    hash_table_clear(t);
    EXPECT_EQ(block_len(block), 0u);
    EXPECT_EQ(find(t, 1), -1);
    block_push(block, 2);
    hash_table_insert(t, 0);
    EXPECT_EQ(find(t, 2), 0);
}

TEST(HashTable, DumpListsDeletedThenAliveKeys) {
    NodeRef block = int_block({5, 6, 7});
    NodeRef t = hash_table_create(3, block, 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_t(t);
    hash_table_delete(t, 1);
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    hash_table_dump(t, f);
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text.push_back(char(c));
    std::fclose(f);
    size_t deleted = text.find("== Deleted keys =="), alive = text.find("== Alive keys ==");
    ASSERT_NE(deleted, std::string::npos);
    ASSERT_NE(alive, std::string::npos);
    size_t six = text.find("00000006"), five = text.find("00000005"), seven = text.find("00000007");
    EXPECT_TRUE(deleted < six && six < alive) << text;
    EXPECT_GT(five, alive);
    EXPECT_GT(seven, alive);
}

// Node-frame evacuation renumbers nodes and rewrites the key cells that refer
// to them; a table whose keys hash node ids must then place them again. The
// rewrite is simulated: a key cell is pointed at another node, a collection
// runs (evacuation off), and the lookup happens with evacuation on and the
// collector held off (re-indexing allocates).
struct EvacuationMode {
    bool evacuation = gc_node_evacuation, enabled = collector_enabled, torture = gc_torture;
    void lookups() { gc_node_evacuation = true; collector_enabled = false; gc_torture = false; }
    ~EvacuationMode() { gc_node_evacuation = evacuation; collector_enabled = enabled; gc_torture = torture; }
};

// Three rooted blocks holding 0, 1 and 2: distinct keys whose hash is their node.
struct BlockKeys {
    RootCell root;
    BlockKeys() {
        set_series(root.get(), T_BLOCK, alloc_series_cells(3));
        for (int32_t i = 0; i < 3; ++i) {
            NodeRef inner = int_block({i});
            SeriesBuffer* b = node_buffer(series_node(root.get()));
            set_series(reinterpret_cast<Cell*>(b->tail_ptr()), T_BLOCK, inner);
            b->tail += 16;
        }
    }
    uint32_t operator[](uint32_t i) { return node_buffer(series_node(root.get()))->cells()[i].w2; }
};

TEST(HashTable, NodeKeysAreReindexedAfterRenumbering) {
    BlockKeys nodes;
    for (int32_t kind : {HASH_KIND_VALUES, HASH_KIND_MAP, HASH_KIND_KEYS}) {
        EvacuationMode mode;
        NodeRef t;
        if (kind == HASH_KIND_KEYS) {
            t = hash_table_create(1000, 0, 0, kind, 1);  // sparse: a stale key is not met by chance
        } else {
            NodeRef block = alloc_series_cells(4);
            SeriesBuffer* b = node_buffer(block);
            for (uint32_t i = 0; i < 2; ++i) set_series(b->cells() + 2 * i, T_BLOCK, nodes[i]);
            for (uint32_t i = 0; i < 2; ++i) set_integer(b->cells() + 2 * i + 1, int32_t(i));
            b->tail = b->head + 4 * sizeof(Cell);
            t = hash_table_create(1000, block, 0, kind, 0);
        }
        HashTableHold hold(t);
        if (kind == HASH_KIND_KEYS) {
            hash_table_put_key(t, nodes[0]);
            hash_table_put_key(t, nodes[1]);
        }
        ASSERT_NE(hash_table_desc(t)->gc_stamp, 0) << kind;
        // nodes[0] becomes nodes[2] in the key cell, as evacuation would rewrite it.
        Cell* first = node_buffer(hash_table_desc(t)->key_block)->cells();
        if (kind == HASH_KIND_KEYS) first->w1 = nodes[2];
        else first->w2 = nodes[2];
        gc_collect();
        mode.lookups();
        Cell renumbered, other;
        set_series(&renumbered, T_BLOCK, nodes[2]);
        set_series(&other, T_BLOCK, nodes[1]);
        if (kind == HASH_KIND_KEYS) {
            EXPECT_EQ(hash_table_get_key(t, nodes[2]), 1) << kind;
            EXPECT_EQ(hash_table_get_key(t, nodes[0]), -1) << kind;
        } else {
            EXPECT_EQ(hash_table_get(t, &renumbered, 0, 1, CMP_EQUAL, false, false), 0) << kind;
            EXPECT_EQ(hash_table_get(t, &other, 0, 1, CMP_EQUAL, false, false), 2) << kind;
        }
    }
}

}  // namespace
}  // namespace tev

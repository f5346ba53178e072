// The collector's heap map: replacement, deletion, growth and rehash at the same size.
#include <gtest/gtest.h>
#include <map>
#include <random>
#include "runtime/raw_map.h"

namespace tev {
namespace {

TEST(RawMap, PutReplacesAPresentKeyWithoutCountingIt) {
    RawMap* m = raw_map_create(4);
    EXPECT_FALSE(raw_map_put(m, 7, 70));
    EXPECT_TRUE(raw_map_put(m, 7, 71));
    EXPECT_EQ(raw_map_count(m), 1u);
    ASSERT_NE(raw_map_get(m, 7), nullptr);
    EXPECT_EQ(*raw_map_get(m, 7), 71u);
    EXPECT_EQ(raw_map_get(m, 8), nullptr);
    EXPECT_EQ(raw_map_find(m, 8), -1);
    raw_map_free(m);
}

TEST(RawMap, NextWalksTheLivePairsInBucketOrder) {
    RawMap* m = raw_map_create(16);
    for (uint32_t k = 1; k <= 10; ++k) raw_map_put(m, k * 1000, k);
    raw_map_delete(m, 5000);
    std::map<uint32_t, uint32_t> seen;
    int32_t last = -1, b = raw_map_next(m, -1);
    for (; b >= 0; b = raw_map_next(m, b)) {
        EXPECT_GT(b, last);
        last = b;
        seen[raw_map_key(m, b)] = raw_map_value(m, b);
    }
    EXPECT_EQ(seen.size(), 9u);
    EXPECT_EQ(seen.count(5000), 0u);
    EXPECT_EQ(seen[10000], 10u);
    EXPECT_EQ(raw_map_next(m, last), -1);
    raw_map_clear(m);
    EXPECT_EQ(raw_map_next(m, -1), -1);
    raw_map_free(m);
}

TEST(RawMap, FewLiveKeysRehashAtTheSameSizeManyDouble) {
    RawMap* m = raw_map_create(4);   // 8 buckets, limit 6
    ASSERT_EQ(m->buckets, 8u);
    ASSERT_EQ(m->grow_limit, 6u);
    // Deleted buckets still count as used until a rehash.
    for (uint32_t k = 0; k < 6; ++k) raw_map_put(m, k, k);
    for (uint32_t k = 0; k < 5; ++k) raw_map_delete(m, k);
    EXPECT_EQ(m->used, 6u);
    raw_map_put(m, 100, 1);
    EXPECT_EQ(m->buckets, 8u);   // rehashed in place, deleted buckets cleared
    EXPECT_EQ(m->used, 2u);
    for (uint32_t k = 200; k < 205; ++k) raw_map_put(m, k, k);
    EXPECT_EQ(m->buckets, 16u);
    raw_map_free(m);
}

TEST(RawMap, MatchesAModelUnderRandomWork) {
    RawMap* m = raw_map_create(20);
    std::map<uint32_t, uint32_t> model;
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        uint32_t key = rng() % 5000, value = rng();
        if (rng() % 3) {
            EXPECT_EQ(raw_map_put(m, key, value), model.count(key) == 1);
            model[key] = value;
        } else {
            EXPECT_EQ(raw_map_delete(m, key), model.erase(key) == 1);
        }
    }
    EXPECT_EQ(raw_map_count(m), model.size());
    for (auto& [k, v] : model) {
        const uint32_t* got = raw_map_get(m, k);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(*got, v);
    }
    raw_map_free(m);
}

}  // namespace
}  // namespace tev

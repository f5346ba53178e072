// The generic sorts: order, stability, adaptivity, and safety under comparators that raise or lie.
#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <vector>
#include "runtime/errors.h"
#include "runtime/sort.h"

using namespace tev;

namespace {
struct Rec { int32_t key, seq; };

struct Counter { int calls = 0; int raise_at = -1; };
int by_key(const void* a, const void* b, void* ctx) {
    auto* c = static_cast<Counter*>(ctx);
    if (c && c->raise_at >= 0 && c->calls++ == c->raise_at) throw LanguageThrow{THROW_ERROR};
    int x = static_cast<const Rec*>(a)->key, y = static_cast<const Rec*>(b)->key;
    return x < y ? -1 : x > y;
}
int by_byte(const void* a, const void* b, void*) { return *static_cast<const uint8_t*>(a) - *static_cast<const uint8_t*>(b); }
int random_order(const void*, const void*, void* ctx) { return int((*static_cast<std::mt19937*>(ctx))() % 3) - 1; }

using SortFn = void (*)(void*, uint32_t, uint32_t, SortCompare, void*);
const SortFn sorts[] = {sort_stable, sort_quick};

std::vector<Rec> make(const std::vector<int>& keys) {
    std::vector<Rec> r;
    for (size_t i = 0; i < keys.size(); ++i) r.push_back({keys[i], int32_t(i)});
    return r;
}
bool same_multiset(std::vector<Rec> a, std::vector<Rec> b) {
    auto less = [](const Rec& x, const Rec& y) { return x.seq < y.seq; };
    std::sort(a.begin(), a.end(), less);
    std::sort(b.begin(), b.end(), less);
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].seq != b[i].seq || a[i].key != b[i].key) return false;
    return a.size() == b.size();
}
}  // namespace

TEST(Sort, OrdersInputsOfEveryShape) {
    std::mt19937 rng(7);
    std::vector<std::vector<int>> inputs = {{}, {5}, {3, 1, 2}};
    for (int n : {10, 23, 24, 25, 100, 1000, 5000}) {
        std::vector<int> random(n), sorted(n), reversed(n), equal(n, 4), few(n), saw(n);
        for (int i = 0; i < n; ++i) {
            random[i] = int(rng() % 1000);
            sorted[i] = i;
            reversed[i] = n - i;
            few[i] = int(rng() % 3);
            saw[i] = i % 37;
        }
        for (auto* v : {&random, &sorted, &reversed, &equal, &few, &saw}) inputs.push_back(*v);
    }
    for (SortFn sort : sorts) {
        for (const auto& keys : inputs) {
            std::vector<Rec> r = make(keys);
            Counter none;
            sort(r.data(), uint32_t(r.size()), sizeof(Rec), by_key, &none);
            EXPECT_TRUE(std::is_sorted(r.begin(), r.end(), [](const Rec& a, const Rec& b) { return a.key < b.key; }));
            EXPECT_TRUE(same_multiset(r, make(keys)));
        }
    }
}

TEST(Sort, StableSortKeepsTheOrderOfEqualRecords) {
    std::mt19937 rng(3);
    for (int n : {5, 30, 1000, 4099}) {
        std::vector<int> keys(n);
        for (int& k : keys) k = int(rng() % 5);
        std::vector<Rec> r = make(keys);
        sort_stable(r.data(), uint32_t(n), sizeof(Rec), by_key, nullptr);
        for (int i = 1; i < n; ++i)
            if (r[i - 1].key == r[i].key) { ASSERT_LT(r[i - 1].seq, r[i].seq) << n; }
    }
    // A descending run with equal neighbours ends at the equal pair, so equal records stay in order.
    std::vector<Rec> r = make({3, 2, 2, 1});
    sort_stable(r.data(), 4, sizeof(Rec), by_key, nullptr);
    EXPECT_EQ(r[1].seq, 1);
    EXPECT_EQ(r[2].seq, 2);
}

TEST(Sort, MovesWholeRecordsOfOddWidths) {
    for (SortFn sort : sorts) {
        char letters[] = "dcba";
        sort(letters, 4, 1, by_byte, nullptr);
        EXPECT_STREQ(letters, "abcd");
        uint8_t triples[] = {3, 'x', 'y', 1, 'p', 'q', 2, 'm', 'n'};
        sort(triples, 3, 3, by_byte, nullptr);
        const uint8_t expect[] = {1, 'p', 'q', 2, 'm', 'n', 3, 'x', 'y'};
        EXPECT_EQ(0, std::memcmp(triples, expect, 9));
    }
}

TEST(Sort, FewerThanTwoRecordsNeverCallTheComparator) {
    for (SortFn sort : sorts) {
        Counter c{0, 0};  // would raise on the first call
        Rec one{1, 0};
        EXPECT_NO_THROW(sort(&one, 1, sizeof(Rec), by_key, &c));
        EXPECT_NO_THROW(sort(nullptr, 0, sizeof(Rec), by_key, &c));
    }
}

TEST(Sort, AComparatorThatRaisesLeavesAPermutation) {
    std::mt19937 rng(11);
    for (SortFn sort : sorts) {
        for (int at : {0, 1, 5, 40, 200, 900, 3000}) {
            std::vector<int> keys(1000);
            for (int& k : keys) k = int(rng() % 100);
            std::vector<Rec> r = make(keys);
            Counter c{0, at};
            bool raised = false;
            try { sort(r.data(), 1000, sizeof(Rec), by_key, &c); } catch (const LanguageThrow&) { raised = true; }
            EXPECT_TRUE(raised);
            EXPECT_TRUE(same_multiset(r, make(keys))) << "raise at " << at;
        }
    }
}

TEST(Sort, AnInconsistentComparatorStaysInBounds) {
    for (SortFn sort : sorts) {
        for (uint32_t n : {2u, 7u, 8u, 50u, 1000u, 20000u}) {
            std::mt19937 rng(n);
            std::vector<int> keys(n);
            for (uint32_t i = 0; i < n; ++i) keys[i] = int(i);
            std::vector<Rec> r = make(keys);
            sort(r.data(), n, sizeof(Rec), random_order, &rng);
            EXPECT_TRUE(same_multiset(r, make(keys)));
        }
    }
}

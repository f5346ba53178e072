// Cycle guard: bounded depth, and no stale entry after an error unwinds a guarded walk.
#include <gtest/gtest.h>
#include <map>
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace tev {
namespace {

// Walked series stand in for blocks: real nodes that the collector never frees,
// since raising an error allocates and may collect while they are on the guard.
NodeRef test_node(uint32_t n) {
    static std::map<uint32_t, NodeRef> nodes;
    auto it = nodes.find(n);
    if (it != nodes.end()) return it->second;
    NodeRef node = alloc_series_malloc(1, 16);
    nodes[n] = node;
    return node;
}

// A guarded walk nested `levels` deep, as mold walks nested blocks.
void walk(uint32_t levels, uint32_t raise_at = 0) {
    if (levels == 0) return;
    NodeRef node = test_node(0x4000 + levels);
    ASSERT_FALSE(cycle_find(node));
    CycleGuard guard(node);
    EXPECT_TRUE(cycle_find(node));
    if (levels == raise_at) raise_error(err::internal::no_cycle);
    walk(levels - 1, raise_at);
}

TEST(CycleGuard, NineHundredNinetyNineLevelsPassAndTheThousandthRaisesTooDeep) {
    cycle_reset();
    walk(999);
    EXPECT_EQ(cycle_depth(), 0u);
    uint32_t code = 0;
    try {
        walk(1000);
    } catch (const LanguageThrow&) {
        code = last_error_code();
    }
    EXPECT_EQ(code, err::internal::too_deep.code);
    EXPECT_EQ(cycle_depth(), 0u);
    walk(999);   // the next walk starts clean
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST(CycleGuard, AnErrorUnwindingAGuardedWalkLeavesNoEntries) {
    cycle_reset();
    cycle_push(test_node(0x8001));   // an enclosing walk that catches the error
    try {
        walk(50, 20);
    } catch (const LanguageThrow&) {
    }
    EXPECT_EQ(cycle_depth(), 1u);
    EXPECT_TRUE(cycle_find(test_node(0x8001)));
    EXPECT_FALSE(cycle_find(test_node(0x4000 + 50)));
    cycle_pop();
    cycle_pop();   // popping an empty stack does nothing
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST(CycleGuard, MarkersPerType) {
    struct Row { TypeId type; const char* mold; } rows[] = {
        {T_BLOCK, "[...]"}, {T_HASH, "[...]"}, {T_PAREN, "(...)"}, {T_MAP, "#[...]"},
        {T_OBJECT, "make object! [...]"}, {T_PATH, "..."}, {T_SET_PATH, "..."},
    };
    for (const Row& r : rows) {
        EXPECT_STREQ(cycle_marker(r.type, true), r.mold);
        EXPECT_STREQ(cycle_marker(r.type, false), "...");
    }
}

}  // namespace
}  // namespace tev

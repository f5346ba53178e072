// The datatype registry: inheritance is a copy of the parent's resolved entry.
#include <gtest/gtest.h>
#include "datatypes/registry.h"

namespace tev {
namespace {

int32_t form_a(const Cell*, Cell*, const Cell*, int32_t l) { return l - 1; }
int32_t mold_b(const Cell*, Cell*, bool, bool, bool, const Cell*, int32_t l, int32_t) { return l - 2; }


TEST(Registry, ChildrenCopyTheParentsResolvedEntries) {
    // Rows 55/56 are never used by real types: safe scratch rows.
    ActionEntry grand[ACTION_COUNT] = {};
    grand[int(Act::form) - 1] = reinterpret_cast<ActionEntry>(&form_a);
    register_datatype_row(TypeId(55), T_NONE_ID, "grand!", grand);
    ActionEntry child[ACTION_COUNT];
    for (auto& e : child) e = &detail::inherit_marker;
    child[int(Act::mold) - 1] = reinterpret_cast<ActionEntry>(&mold_b);
    register_datatype_row(TypeId(56), TypeId(55), "child!", child);

    EXPECT_EQ(action_of<Act::form>(TypeId(56)), &form_a);   // through the chain
    EXPECT_EQ(action_of<Act::mold>(TypeId(56)), &mold_b);   // its own
    EXPECT_EQ(action_of<Act::append>(TypeId(56)), nullptr); // parent's 0 stays 0
    EXPECT_EQ(type_names[56].length, 5u);
    EXPECT_STREQ(type_names[56].name, "child!");
}

}  // namespace
}  // namespace tev

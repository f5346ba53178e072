// The datatype registry: a row's left-out slots copy the parent's resolved entry, nullptr refuses one.
#include <gtest/gtest.h>
#include <cstring>
#include <type_traits>
#include "datatypes/callable.h"
#include "datatypes/registry.h"

namespace tev {
namespace {

// A slot takes only a function of its own signature (or nullptr).
static_assert(std::is_convertible_v<FormFn, ActionSlot<Act::form>>);
static_assert(std::is_convertible_v<std::nullptr_t, ActionSlot<Act::form>>);
static_assert(!std::is_convertible_v<MoldFn, ActionSlot<Act::form>>);
static_assert(!std::is_convertible_v<ActionFn, ActionSlot<Act::compare>>);
static_assert(!std::is_convertible_v<CompareFn, ActionSlot<Act::append>>);

int32_t form_a(const Cell*, Cell*, const Cell*, int32_t l) { return l - 1; }
int32_t form_b(const Cell*, Cell*, const Cell*, int32_t l) { return l - 2; }
int32_t mold_a(const Cell*, Cell*, bool, bool, bool, const Cell*, int32_t l, int32_t) { return l - 3; }
void pick_a(ActionFrame&) {}
void append_a(ActionFrame&) {}

// Registers real list entries over the live tables (series! <- string! <- tag!
// by the type list) and puts the tables back afterwards.
class RegistryRows : public ::testing::Test {
protected:
    void SetUp() override {
        std::memcpy(saved_actions, action_table, sizeof action_table);
        std::memcpy(saved_names, type_names, sizeof type_names);
        saved_highest = highest_type_id;
    }
    void TearDown() override {
        std::memcpy(action_table, saved_actions, sizeof action_table);
        std::memcpy(type_names, saved_names, sizeof type_names);
        highest_type_id = saved_highest;
    }
    ActionEntry saved_actions[TYPE_TABLE_ROWS][ACTION_COUNT];
    TypeName saved_names[TYPE_TABLE_ROWS];
    int saved_highest = 0;
};

TEST_F(RegistryRows, LeftOutSlotsInheritAndNullRefuses) {
    register_datatype(T_SERIES, {.form = form_a, .append = nullptr, .pick = pick_a});
    register_datatype(T_STRING, {.mold = mold_a, .pick = nullptr});
    register_datatype(T_TAG, {.append = append_a});

    EXPECT_EQ(action_of<Act::form>(T_SERIES), &form_a);
    EXPECT_EQ(action_of<Act::make>(T_SERIES), nullptr);     // no parent: left out is unsupported
    EXPECT_EQ(action_of<Act::form>(T_TAG), &form_a);        // through the chain
    EXPECT_EQ(action_of<Act::mold>(T_TAG), &mold_a);        // from the parent
    EXPECT_EQ(action_of<Act::mold>(T_SERIES), nullptr);     // a child's entry does not reach up
    EXPECT_EQ(action_of<Act::pick>(T_STRING), nullptr);     // refused though the parent has one
    EXPECT_EQ(action_of<Act::pick>(T_TAG), nullptr);        // and the refusal is inherited
    EXPECT_EQ(action_of<Act::append>(T_TAG), &append_a);    // its own over the chain's null
    for (int s = 0; s < ACTION_COUNT; ++s)                   // nothing unresolved is left in a row
        EXPECT_NE(action_table[T_TAG][s], &detail::inherit_marker) << "slot " << s + 1;
}

TEST_F(RegistryRows, InheritanceIsACopyMadeAtRegistration) {
    register_datatype(T_SERIES, {.form = form_a});
    register_datatype(T_STRING, {});
    register_datatype(T_SERIES, {.form = form_b});
    EXPECT_EQ(action_of<Act::form>(T_STRING), &form_a);
}

TEST_F(RegistryRows, NameAndParentComeFromTheTypeList) {
    register_datatype(T_TAG, {});
    EXPECT_STREQ(type_names[T_TAG].name, "tag!");
    EXPECT_EQ(type_names[T_TAG].length, 3u);
    EXPECT_EQ(action_of<Act::form>(T_TAG), action_of<Act::form>(T_STRING));
}

// Reserved ids are named (specs may name them) but have no row, so no value of them exists.
TEST(TypeListNames, ReservedIdsAreNamedButNotRegistered) {
    EXPECT_STREQ(datatype_name(T_EVENT), "event!");
    EXPECT_EQ(type_names[T_EVENT].name, nullptr);
    bool found = false;
    EXPECT_EQ(typeset_mask_by_name("event!", &found), 1ull << T_EVENT);
    EXPECT_TRUE(found);
    for (int t = 1; t <= T_MAX_ID; ++t) {
        if (!type_names[t].name) continue;
        EXPECT_STREQ(type_names[t].name, datatype_name(TypeId(t))) << t;
        EXPECT_EQ(type_names[t].length + 1, std::strlen(type_names[t].name)) << t;
    }
    EXPECT_EQ(datatype_name(T_NONE_ID), nullptr);
}

}  // namespace
}  // namespace tev

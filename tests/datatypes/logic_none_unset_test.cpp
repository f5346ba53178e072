// unset!, none!, logic! and datatype!: making, truth, bitwise actions, comparison, form and mold.
#include <gtest/gtest.h>
#include "datatypes/scalar.h"
#include "runtime/random.h"
#include "runtime/symbols.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

Cell make_logic(const Cell& spec, bool make) {
    return ActionCall({DT(T_LOGIC), spec}).target(T_LOGIC).run(make ? Act::make : Act::to, T_LOGIC);
}

TEST(Logic, MakeTestsNumbersWhileToTestsOnlyNone) {
    StackScope scope;
    Cell* text = string_push(8);
    string_append_cstr(text, "false");
    struct Row { Cell spec; bool made, converted; } rows[] = {
        {I(0), false, true}, {I(-3), true, true}, {F(0.0), false, true}, {F(-0.0), false, true},
        {F(std::nan("")), true, true}, {F(0.5), true, true}, {N(), false, false}, {L(false), false, false},
        {L(true), true, true}, {*text, true, true}, {U(), true, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(logic_of(make_logic(r.spec, true)), r.made) << type_names[cell_type(&r.spec)].name;
        Cell to = make_logic(r.spec, false);
        EXPECT_EQ(cell_type(&to), T_LOGIC);
        EXPECT_EQ(get_logic(&to), r.converted) << type_names[cell_type(&r.spec)].name;
    }
}

TEST(Logic, BitwiseActionsAndComplement) {
    struct Row { Act op; bool a, b, expected; } rows[] = {
        {Act::and_t, true, false, false}, {Act::and_t, true, true, true}, {Act::or_t, false, true, true},
        {Act::or_t, false, false, false}, {Act::xor_t, true, true, false}, {Act::xor_t, true, false, true},
    };
    for (const Row& r : rows) {
        Cell v = ActionCall({L(r.a), L(r.b)}).run(r.op);
        EXPECT_EQ(get_logic(&v), r.expected);
    }
    EXPECT_FALSE(logic_of(ActionCall({L(true)}).run(Act::complement)));
    EXPECT_TRUE(logic_of(ActionCall({L(false)}).run(Act::complement)));
    for (Act op : {Act::and_t, Act::or_t, Act::xor_t})
        EXPECT_EQ(raised_by([&] { ActionCall({L(true), I(1)}).run(op); }), err::script::expect_arg.code);
}

TEST(Logic, ComparisonOrdersFalseFirstAndRefusesLesser) {
    auto cmp = [](const Cell& a, const Cell& b, int op) { return action_of<Act::compare>(cell_type(&a))(&a, &b, op); };
    EXPECT_EQ(cmp(L(true), L(true), CMP_EQUAL), 0);
    EXPECT_NE(cmp(L(true), L(false), CMP_EQUAL), 0);
    EXPECT_LT(cmp(L(false), L(true), CMP_SORT), 0);
    EXPECT_GT(cmp(L(true), L(false), CMP_SORT), 0);
    EXPECT_EQ(cmp(L(true), L(false), CMP_LESSER), CMP_NOT_COMPARABLE);
    EXPECT_EQ(cmp(L(true), I(1), CMP_EQUAL), CMP_NOT_COMPARABLE);
    EXPECT_EQ(cmp(N(), N(), CMP_EQUAL), 0);
    EXPECT_EQ(cmp(N(), N(), CMP_LESSER), CMP_NOT_COMPARABLE);
    EXPECT_EQ(cmp(N(), L(false), CMP_EQUAL), CMP_NOT_COMPARABLE);
    EXPECT_EQ(cmp(U(), U(), CMP_SAME), 0);
    EXPECT_EQ(cmp(U(), N(), CMP_EQUAL), CMP_NOT_COMPARABLE);
}

TEST(Logic, RandomIsTrueHalfTheTimeAndSeedLeavesUnset) {
    mt_seed(99);
    int trues = 0;
    for (int i = 0; i < 20000; ++i) {
        Cell v = ActionCall({L(false)}).run(Act::random);
        trues += get_logic(&v);
    }
    EXPECT_NEAR(trues / 20000.0, 0.5, 0.02);
    Cell seeded = ActionCall({L(true)}).ref(RANDOM_SEED).run(Act::random);
    EXPECT_EQ(cell_type(&seeded), T_UNSET);
}

TEST(Logic, TruthOfValues) {
    EXPECT_FALSE(logic_value_true(&none_value, false, nullptr));
    EXPECT_FALSE(logic_value_true(&false_value, false, nullptr));
    EXPECT_TRUE(logic_value_true(&true_value, false, nullptr));
    Cell zero = I(0);
    EXPECT_TRUE(logic_value_true(&zero, false, nullptr));
    EXPECT_TRUE(logic_value_true(&unset_value, false, nullptr));
    EXPECT_EQ(raised_by([] { logic_value_true(&unset_value, true, nullptr); }), err::script::no_value.code);
}

TEST(NoneUnsetLogic, FormAndMold) {
    struct Row { Cell v; const char* formed; const char* molded; const char* molded_all; } rows[] = {
        {N(), "none", "none", "#(none)"},
        {U(), "", "unset", "#(unset)"},
        {L(true), "true", "true", "#(true)"},
        {L(false), "false", "false", "#(false)"},
        {DT(T_STRING), "string", "string!", "#(string!)"},
        {DT(T_INTEGER), "integer", "integer!", "#(integer!)"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(form_of(r.v), r.formed);
        EXPECT_EQ(mold_of(r.v), r.molded);
        EXPECT_EQ(mold_of(r.v, true), r.molded_all);
    }
}

TEST(None, SearchesAndRemovalsOnNoneGiveNone) {
    for (Act slot : {Act::clear, Act::find, Act::remove, Act::select, Act::take, Act::length_q}) {
        Cell v = ActionCall({N(), I(1)}).run(slot);
        EXPECT_EQ(cell_type(&v), T_NONE) << int(slot);
    }
    Cell made = ActionCall({DT(T_NONE), I(5)}).run(Act::make, T_NONE);
    EXPECT_EQ(cell_type(&made), T_NONE);
    Cell unset = ActionCall({DT(T_UNSET), I(5)}).run(Act::to, T_UNSET);
    EXPECT_EQ(cell_type(&unset), T_UNSET);
}

TEST(Datatype, EqualWhenNamingTheSameTypeAndNeverOrdered) {
    auto cmp = action_of<Act::compare>(T_DATATYPE);
    Cell a = DT(T_BLOCK), b = DT(T_BLOCK), c = DT(T_STRING), n = I(5);
    EXPECT_EQ(cmp(&a, &b, CMP_EQUAL), 0);
    EXPECT_EQ(cmp(&a, &b, CMP_STRICT_EQUAL), 0);
    EXPECT_NE(cmp(&a, &c, CMP_EQUAL), 0);
    EXPECT_NE(cmp(&a, &n, CMP_EQUAL), 0);
    EXPECT_EQ(cmp(&a, &c, CMP_LESSER), CMP_NOT_COMPARABLE);
    EXPECT_EQ(cmp(&a, &c, CMP_GREATER_EQUAL), CMP_NOT_COMPARABLE);
}

TEST(Registry, ScalarTypesInheritTheirParentsResolvedEntries) {
    // char! takes random, absolute, even? and odd? from integer!; time! its comparison from float!.
    EXPECT_EQ(action_table[T_CHAR][int(Act::random) - 1], action_table[T_INTEGER][int(Act::random) - 1]);
    EXPECT_EQ(action_table[T_CHAR][int(Act::even_q) - 1], action_table[T_INTEGER][int(Act::even_q) - 1]);
    EXPECT_NE(action_table[T_CHAR][int(Act::add) - 1], action_table[T_INTEGER][int(Act::add) - 1]);
    EXPECT_EQ(action_table[T_CHAR][int(Act::negate) - 1], nullptr);
    EXPECT_EQ(action_table[T_TIME][int(Act::compare) - 1], action_table[T_FLOAT][int(Act::compare) - 1]);
    EXPECT_EQ(action_table[T_TIME][int(Act::power) - 1], nullptr);
    EXPECT_STREQ(type_names[T_TIME].name, "time!");
    EXPECT_EQ(cell_type(&type_names[T_TIME].word), T_WORD);
    EXPECT_EQ(symbol_text(int32_t(type_names[T_TIME].word.w2)), "time!");
    EXPECT_EQ(type_names[T_TIME].length, 4u);
}

}  // namespace
}  // namespace tev

// bitset!: making from specs, membership, the text form, and set operations against a membership model.
#include <gtest/gtest.h>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

class Bitsets : public ::testing::Test {
protected:
    StackScope scope;
};

Cell ch(uint32_t c) { Cell v; set_char(&v, c); return v; }
Cell num(int32_t n) { Cell v; set_integer(&v, n); return v; }
Cell word(const char* s) { return word_from_cstring(s); }
// Spec values live on the value stack (the test's scope).
Cell text(const char* s) { return *string_load(reinterpret_cast<const uint8_t*>(s), uint32_t(std::strlen(s)), nullptr, 0); }
Cell block(std::initializer_list<Cell> cells) {
    std::vector<Cell> v(cells);
    return *block_push_cells(v.data(), uint32_t(v.size()));
}

// Runs an action of bitset! with args on the value stack; returns args[0].
Cell act(Act a, std::initializer_list<Cell> args, int part_ref = -1) {
    Cell* base = vstack.top;
    for (const Cell& c : args) stack_push_copy(&c);
    ActionFrame f = action_frame(base, T_BITSET);
    if (part_ref >= 0) f.refs[0] = int8_t(part_ref);
    reinterpret_cast<ActionFn>(action_table[T_BITSET][int(a) - 1])(f);
    return *base;  // the cells stay on the stack until the test's scope ends
}
Cell make(const Cell& spec) { Cell dt; set_datatype(&dt, T_BITSET); return act(Act::make, {dt, spec}); }
Cell to(const Cell& spec) { Cell dt; set_datatype(&dt, T_BITSET); return act(Act::to, {dt, spec}); }
bool pick(const Cell& bs, const Cell& v) {
    StackScope scope;
    Cell r = act(Act::pick, {bs, v});
    return get_logic(&r);
}
int32_t length(const Cell& bs) {
    StackScope scope;
    Cell r = act(Act::length_q, {bs});
    return get_integer(&r);
}
std::string molded(const Cell& bs) {
    Cell* out = string_push(32);
    Cell* v = stack_push_copy(&bs);
    action_of<Act::mold>(T_BITSET)(v, out, false, false, false, nullptr, NO_LIMIT, 0);
    return string_to_utf8(out);
}
uint32_t raised(const std::function<void()>& fn) {
    try { fn(); } catch (const LanguageThrow&) { return last_error_code(); }
    return 0;
}

TEST_F(Bitsets, SizeFromANumberRoundsUpToBytes) {
    for (int32_t bits = 0; bits <= 16; ++bits) {
        Cell bs = make(num(bits));
        EXPECT_EQ(length(bs), (bits + 7) / 8 * 8) << bits;
        EXPECT_FALSE(pick(bs, num(0))) << bits;
        EXPECT_FALSE(pick(bs, num(bits))) << bits;
    }
    Cell f;
    set_float(&f, 9.9);
    EXPECT_EQ(length(make(f)), 16);
    EXPECT_EQ(raised([] { make(num(-1)); }), err::script::out_of_range.code);
    EXPECT_EQ(raised([] { to(num(8)); }), err::script::bad_to_arg.code);
}

TEST_F(Bitsets, MembersFromCharsStringsAndRanges) {
    Cell a = make(text("a"));
    EXPECT_EQ(length(a), 104);
    EXPECT_TRUE(pick(a, ch('a')));
    EXPECT_FALSE(pick(a, ch('b')));
    EXPECT_FALSE(pick(a, num(1000)));
    EXPECT_EQ(length(make(block({num(0)}))), 8);

    Cell r = make(block({ch('a'), word("-"), ch('c'), num(200)}));
    for (char c : std::string("abc")) EXPECT_TRUE(pick(r, ch(uint32_t(c))));
    EXPECT_FALSE(pick(r, ch('d')));
    EXPECT_TRUE(pick(r, num(200)));
    EXPECT_TRUE(pick(r, text("cab")));
    EXPECT_FALSE(pick(r, text("abd")));

    struct Row { std::function<Cell()> spec; uint32_t error; } rows[] = {
        {[] { return block({ch('c'), word("-"), ch('a')}); }, err::script::past_end.code},
        {[] { return block({ch('a'), word("-")}); }, err::script::past_end.code},
        {[] { return block({ch('a'), word("-"), num(3)}); }, err::script::invalid_arg.code},
        {[] { return block({num(-5)}); }, err::script::out_of_range.code},
        {[] { return block({word("foo")}); }, err::script::bad_make_arg.code},
    };
    for (const Row& row : rows) {
        Cell spec = row.spec();
        EXPECT_EQ(raised([&] { make(spec); }), row.error);
    }
    EXPECT_FALSE(pick(a, num(-1)));  // testing a negative number is no error
}

TEST_F(Bitsets, InvertedSpecAndItsTextForm) {
    Cell n = make(block({word("not"), text("a")}));
    EXPECT_FALSE(pick(n, ch('a')));
    EXPECT_TRUE(pick(n, ch('b')));
    EXPECT_TRUE(pick(n, num(100000)));
    EXPECT_EQ(molded(n), "make bitset! [not #{" + std::string(24, '0') + "40}]");
    EXPECT_EQ(molded(make(text("a"))), "make bitset! #{" + std::string(24, '0') + "40}");
    // Clearing leaves every member in: nothing is listed after not.
    act(Act::clear, {n});
    EXPECT_TRUE(pick(n, ch('a')));
    EXPECT_EQ(molded(n), "make bitset! [not #{" + std::string(26, '0') + "}]");
}

TEST_F(Bitsets, ComplementAndGrowthKeepMembership) {
    Cell c = act(Act::complement, {make(text("a"))});
    EXPECT_FALSE(pick(c, ch('a')));
    EXPECT_TRUE(pick(c, ch('b')));
    EXPECT_TRUE(pick(c, num(5000)));
    act(Act::append, {c, num(5000)});  // already a member: nothing stored
    EXPECT_EQ(length(c), 104);
    act(Act::poke, {c, num(300), num(0)});  // removes it, growing with members
    EXPECT_FALSE(pick(c, num(300)));
    EXPECT_TRUE(pick(c, num(299)));
    EXPECT_TRUE(pick(c, num(150)));
    EXPECT_TRUE(pick(c, num(301)));
    Cell p = make(num(8));
    act(Act::append, {p, block({ch('x'), text("yz")})});
    EXPECT_TRUE(pick(p, text("xyz")));
    EXPECT_FALSE(pick(p, num(100)));
}

TEST_F(Bitsets, RemoveNeedsPart) {
    Cell bs = make(text("abc"));
    EXPECT_EQ(raised([&] { act(Act::remove, {bs}); }), err::script::missing_arg.code);
    act(Act::remove, {bs, text("b")}, 1);
    EXPECT_TRUE(pick(bs, ch('a')));
    EXPECT_FALSE(pick(bs, ch('b')));
}

TEST_F(Bitsets, SetOperationLengths) {
    Cell eight = make(num(8)), sixteen = make(num(16));
    act(Act::poke, {sixteen, num(12), num(1)});
    EXPECT_EQ(length(act(Act::or_t, {eight, sixteen})), 16);
    EXPECT_EQ(length(act(Act::and_t, {eight, sixteen})), 8);
    Cell* args = stack_push_copy(&eight);
    stack_push_copy(&sixteen);
    ActionFrame f = action_frame(args, T_BITSET);
    bitset_set_op(f, SET_INTERSECT);
    EXPECT_EQ(molded(*args), "make bitset! #{0000}");  // the longer length, upper byte 0
    Cell dt = num(0);
    EXPECT_EQ(raised([&] { act(Act::and_t, {eight, dt}); }), err::script::invalid_type.code);
}

// Random bitsets, inverted or not, of 0 to 40 bits, combined by every
// operation; membership of 0..90 must match the operation on the two memberships.
TEST_F(Bitsets, SetOperationsMatchAMembershipModel) {
    std::mt19937 rng(11);
    struct Op { int code; bool (*model)(bool, bool); } ops[] = {
        {SET_OR, [](bool a, bool b) { return a || b; }}, {SET_UNION, [](bool a, bool b) { return a || b; }},
        {SET_AND, [](bool a, bool b) { return a && b; }}, {SET_INTERSECT, [](bool a, bool b) { return a && b; }},
        {SET_XOR, [](bool a, bool b) { return a != b; }}, {SET_DIFFERENCE, [](bool a, bool b) { return a != b; }},
        {SET_EXCLUDE, [](bool a, bool b) { return a && !b; }},
    };
    for (int round = 0; round < 300; ++round) {
        StackScope scope;
        Cell operand[2];
        for (Cell& bs : operand) {
            std::vector<Cell> members;
            if (rng() % 2) members.push_back(word("not"));
            members.push_back(num(int32_t(rng() % 40)));  // sets the size
            for (uint32_t k = rng() % 6; k > 0; --k) members.push_back(num(int32_t(rng() % 40)));
            Cell spec = *block_push_cells(members.data(), uint32_t(members.size()));
            bs = make(spec);
        }
        for (const Op& op : ops) {
            Cell* args = stack_push_copy(&operand[0]);
            stack_push_copy(&operand[1]);
            ActionFrame f = action_frame(args, T_BITSET);
            bitset_set_op(f, op.code);
            for (int32_t n = 0; n < 90; ++n) {
                bool want = op.model(pick(operand[0], num(n)), pick(operand[1], num(n)));
                ASSERT_EQ(pick(*args, num(n)), want) << "round " << round << " op " << op.code << " n " << n
                                                     << " " << molded(operand[0]) << " " << molded(operand[1]);
            }
        }
    }
}

TEST_F(Bitsets, CompareBySizeThenBytes) {
    auto cmp = [](const Cell& a, const Cell& b, int op) { return action_of<Act::compare>(T_BITSET)(&a, &b, op); };
    Cell small = make(num(8)), large = make(num(16)), a = make(text("a")), a2 = make(text("a")), b = make(text("b"));
    EXPECT_EQ(cmp(large, small, CMP_LESSER), 1);
    EXPECT_EQ(cmp(a, a2, CMP_EQUAL), 0);
    EXPECT_EQ(cmp(a, a2, CMP_SAME), 1);
    EXPECT_EQ(cmp(a, a, CMP_SAME), 0);
    EXPECT_NE(cmp(a, b, CMP_EQUAL), 0);
    Cell inv = act(Act::complement, {a});
    EXPECT_EQ(cmp(a, inv, CMP_LESSER), -1);  // the plain one is lesser
    EXPECT_EQ(cmp(a, num(1), CMP_EQUAL), CMP_NOT_COMPARABLE);
}

}  // namespace
}  // namespace tev

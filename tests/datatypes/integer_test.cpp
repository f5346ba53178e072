// integer!: widening arithmetic, the math errors, rounding, power, conversions, random, text.
#include <gtest/gtest.h>
#include <limits>
#include "datatypes/block.h"
#include "datatypes/scalar.h"
#include "runtime/random.h"
#include "runtime/symbols.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

const Act ADD = Act::add, SUB = Act::subtract, MUL = Act::multiply, DIV = Act::divide, REM = Act::remainder;

TEST(Integer, ArithmeticWidensToFloatInsteadOfWrapping) {
    struct Row { Act op; Cell a, b; Outcome want; } rows[] = {
        {ADD, I(2147483647), I(1), Flt(2147483648.0)},
        {SUB, I(INT32_MIN), I(1), Flt(-2147483649.0)},
        {MUL, I(65536), I(65536), Flt(4294967296.0)},
        {MUL, I(-46341), I(46341), Flt(-2147488281.0)},
        {ADD, I(2), I(3), Int(5)},
        {ADD, I(INT32_MIN), I(-1), Flt(-2147483649.0)},
        {DIV, I(7), I(2), Flt(3.5)},
        {DIV, I(-7), I(2), Flt(-3.5)},
        {DIV, I(6), I(-3), Int(-2)},
        {DIV, I(1), I(0), Err(err::math::zero_divide)},
        {DIV, I(INT32_MIN), I(-1), Err(err::math::overflow)},
        {REM, I(-7), I(2), Int(-1)},
        {REM, I(7), I(-2), Int(1)},
        {REM, I(1), I(0), Err(err::math::zero_divide)},
        {REM, I(INT32_MIN), I(-1), Err(err::math::overflow)},
        {Act::or_t, I(12), I(3), Int(15)},
        {Act::and_t, I(12), I(6), Int(4)},
        {Act::xor_t, I(-1), I(5), Int(-6)},
        {ADD, I(1), C('a'), Int(98)},
        {ADD, I(1), F(0.5), Flt(1.5)},
        {DIV, I(1), F(0.0), Flt(std::numeric_limits<double>::infinity())},
        {ADD, I(30), T(3600), Tim(3630)},
        {SUB, I(10), T(1), Tim(9)},
        {MUL, I(2), P(0.5), Flt(1.0)},
        {ADD, I(1), N(), Err(err::script::invalid_type)},
        {Act::and_t, I(1), F(1.0), Err(err::script::cannot_use)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({r.a, r.b}).run(r.op); }, r.want))
            << mold_of(r.a) << " op " << int(r.op) << " " << mold_of(r.b);
}

TEST(Integer, UnaryActions) {
    struct Row { Act op; int32_t n; Outcome want; } rows[] = {
        {Act::absolute, -5, Int(5)}, {Act::absolute, INT32_MIN, Err(err::math::overflow)},
        {Act::negate, 5, Int(-5)}, {Act::negate, INT32_MIN, Err(err::math::overflow)},
        {Act::complement, 0, Int(-1)}, {Act::complement, -1, Int(0)},
        {Act::odd_q, -1, {T_LOGIC, 1, 0}}, {Act::odd_q, -4, {T_LOGIC, 0, 0}},
        {Act::even_q, -4, {T_LOGIC, 1, 0}}, {Act::even_q, -3, {T_LOGIC, 0, 0}},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({I(r.n)}).run(r.op); }, r.want)) << r.n;
}

TEST(Integer, PowerStaysWholeUntilItOverflows) {
    struct Row { Cell base, exponent; Outcome want; } rows[] = {
        {I(2), I(30), Int(1073741824)}, {I(2), I(31), Flt(2147483648.0)}, {I(-2), I(31), Int(INT32_MIN)},
        {I(3), I(0), Int(1)}, {I(0), I(0), Int(1)}, {I(2), I(-1), Flt(0.5)}, {I(4), F(0.5), Flt(2.0)},
        {I(10), I(10), Flt(1e10)}, {I(2), N(), Err(err::script::expect_arg)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({r.base, r.exponent}).run(Act::power); }, r.want))
            << mold_of(r.base) << " ** " << mold_of(r.exponent);
}

TEST(Integer, RoundToScales) {
    enum { PLAIN = -1 };
    struct Row { int32_t n; Cell scale; int flag; Outcome want; } rows[] = {
        {17, I(5), PLAIN, Int(15)}, {18, I(5), PLAIN, Int(20)}, {15, I(10), PLAIN, Int(20)},
        {-15, I(10), PLAIN, Int(-20)}, {-15, I(10), ROUND_HALF_DOWN, Int(-10)}, {15, I(10), ROUND_EVEN, Int(20)},
        {25, I(10), ROUND_EVEN, Int(20)}, {-15, I(10), ROUND_HALF_CEILING, Int(-10)},
        {-11, I(5), ROUND_FLOOR, Int(-15)}, {-11, I(5), ROUND_CEILING, Int(-10)}, {-14, I(5), ROUND_DOWN, Int(-10)},
        {12, I(0), PLAIN, Int(12)}, {12, I(-5), PLAIN, Int(10)}, {INT32_MIN, I(10), PLAIN, Int(INT32_MIN)},
        {2147483647, I(10), ROUND_CEILING, Err(err::math::overflow)},
        {2147483647, I(10), ROUND_FLOOR, Int(2147483640)},
        {2147483647, I(10), PLAIN, Err(err::math::overflow)},
        {-2147483647, I(10), ROUND_FLOOR, Err(err::math::overflow)},
        {5, I(INT32_MIN), PLAIN, Err(err::math::overflow)},
        {7, F(0.5), PLAIN, Flt(7.0)}, {7, F(2.0), PLAIN, Flt(8.0)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] {
            ActionCall call({I(r.n)});
            call.ref(ROUND_TO, r.scale);
            if (r.flag != PLAIN) call.ref(r.flag);
            return call.run(Act::round);
        }, r.want)) << r.n << " scale " << mold_of(r.scale) << " flag " << r.flag;
    EXPECT_TRUE(matches([] { return ActionCall({I(7)}).run(Act::round); }, Int(7)));
}

Cell text_cell(const char* s) {
    Cell* c = string_push(8);
    string_append_cstr(c, s);
    return *c;
}

TEST(Integer, MakeAndTo) {
    StackScope scope;  // keeps the text specs alive
    struct Row { Cell spec; Outcome want; } rows[] = {
        {I(5), Int(5)}, {C('A'), Int(65)}, {F(2.9), Int(2)}, {F(-2.9), Int(-2)}, {P(0.5), Int(0)},
        {F(1e10), Err(err::script::type_limit)}, {F(-2147483648.0), Int(INT32_MIN)},
        {F(2147483648.0), Err(err::script::type_limit)}, {F(std::nan("")), Err(err::script::type_limit)},
        {T(1.5), Int(2)}, {T(1.4), Int(1)}, {T(-1.7), Int(-2)}, {T(-1.5), Int(-2)}, {T(-1.4), Int(-1)},
        {T(1e300), Err(err::script::type_limit)},
        {text_cell("123"), Int(123)}, {text_cell("-2147483648"), Int(INT32_MIN)},
        {text_cell("1'000"), Int(1000)}, {text_cell("2147483648"), Err(err::script::bad_to_arg)},
        {text_cell("12a"), Err(err::script::bad_to_arg)}, {text_cell(""), Err(err::script::bad_to_arg)},
        {N(), Err(err::script::bad_to_arg)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({DT(T_INTEGER), r.spec}).target(T_INTEGER).run(Act::to, T_INTEGER); },
                            r.want)) << mold_of(r.spec);
    EXPECT_TRUE(matches([] { return ActionCall({DT(T_INTEGER), L(true)}).run(Act::make, T_INTEGER); }, Int(1)));
    EXPECT_TRUE(matches([] { return ActionCall({DT(T_INTEGER), L(false)}).run(Act::make, T_INTEGER); }, Int(0)));
    EXPECT_TRUE(matches([] { return ActionCall({DT(T_INTEGER), L(true)}).run(Act::to, T_INTEGER); },
                        Err(err::script::bad_to_arg)));
}

TEST(Integer, HexSpellingsUseEveryBitAndRejectNonDigits) {
    auto hex = [](std::u32string s, int32_t* v) {
        std::vector<uint32_t> chars(s.begin(), s.end());
        return integer_from_hex(chars.data(), chars.size(), v);
    };
    int32_t v = 0;
    EXPECT_TRUE(hex(U"FFFFFFFF", &v)); EXPECT_EQ(v, -1);
    EXPECT_TRUE(hex(U"1a", &v)); EXPECT_EQ(v, 26);
    EXPECT_TRUE(hex(U"", &v)); EXPECT_EQ(v, 0);
    EXPECT_FALSE(hex(U"123456789", &v));
    EXPECT_FALSE(hex(U"G1", &v));
    EXPECT_FALSE(hex(U"\u0146", &v));   // low 7 bits are "F": a wide character is no digit
    EXPECT_FALSE(hex(U"\u00B1", &v));   // low 7 bits are "1"
}

TEST(Integer, ToIntegerReadsAnIssueAsHex) {
    auto issue = [](const char* spelling) {
        Cell c;
        cell_init(&c, T_ISSUE);
        c.w2 = uint32_t(symbol_from_cstring(spelling));
        return c;
    };
    struct Row { const char* spelling; Outcome want; } rows[] = {
        {"FF", Int(255)}, {"ffffffff", Int(-1)}, {"7FFFFFFF", Int(INT32_MAX)}, {"123456789", Err(err::script::invalid_data)},
        {"G1", Err(err::script::invalid_data)}, {"\xC5\x86", Err(err::script::invalid_data)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({DT(T_INTEGER), issue(r.spelling)}).run(Act::to, T_INTEGER); }, r.want))
            << r.spelling;
}

TEST(Integer, RandomDrawsWithinRangeAndSeeds) {
    mt_seed(5);
    for (int32_t n : {10, -10, 1, INT32_MIN})
        for (int i = 0; i < 1000; ++i) {
            int32_t v = int_of(ActionCall({I(n)}).run(Act::random));
            if (n > 0) { ASSERT_GE(v, 1); ASSERT_LE(v, n); }
            else { ASSERT_LE(v, -1); ASSERT_GE(v, n); }
        }
    EXPECT_EQ(int_of(ActionCall({I(0)}).run(Act::random)), 0);
    EXPECT_EQ(type_of(ActionCall({I(42)}).ref(RANDOM_SEED).run(Act::random)), T_UNSET);
    int32_t first = int_of(ActionCall({I(1000000)}).run(Act::random));
    ActionCall({I(42)}).ref(RANDOM_SEED).run(Act::random);
    EXPECT_EQ(int_of(ActionCall({I(1000000)}).run(Act::random)), first);
}

TEST(Integer, ComparisonAcrossNumberTypes) {
    auto cmp = [](const Cell& a, const Cell& b, int op) { return action_of<Act::compare>(cell_type(&a))(&a, &b, op); };
    EXPECT_EQ(cmp(I(1), F(1.0), CMP_EQUAL), 0);
    EXPECT_EQ(cmp(I(1), F(1.0), CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(cmp(I(1), F(1.0), CMP_SAME), 1);
    EXPECT_EQ(cmp(I(97), C('a'), CMP_EQUAL), 0);
    EXPECT_EQ(cmp(I(97), C('a'), CMP_STRICT_EQUAL), 1);
    EXPECT_LT(cmp(I(-3), I(2), CMP_LESSER), 0);
    EXPECT_GT(cmp(I(3), F(2.5), CMP_GREATER), 0);
    EXPECT_EQ(cmp(I(1), N(), CMP_LESSER), CMP_NOT_COMPARABLE);
}

TEST(Integer, FormAndMoldAreDecimal) {
    struct Row { int32_t n; const char* text; } rows[] = {
        {0, "0"}, {-5, "-5"}, {INT32_MIN, "-2147483648"}, {INT32_MAX, "2147483647"}, {1000, "1000"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(form_of(I(r.n)), r.text);
        EXPECT_EQ(mold_of(I(r.n)), r.text);
    }
}

// The shared arithmetic is only ever handed codes from its own table; any other
// is a fault of the runtime and ends the process with its report.
TEST(IntegerDeathTest, AnUnknownOperatorCodeIsRuntimeError101) {
    EXPECT_EXIT(integer_do_math(1, 2, 99, nullptr), ::testing::ExitedWithCode(101),
                "Runtime Error 101: no value matched in SWITCH");
}

}  // namespace
}  // namespace tev

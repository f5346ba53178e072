// float!: IEEE arithmetic without errors, mixed-type results, comparison, rounding, conversions, random, text.
#include <gtest/gtest.h>
#include <cfloat>
#include <limits>
#include "datatypes/block.h"
#include "datatypes/scalar.h"
#include "runtime/float_format.h"
#include "runtime/random.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::nan("");

// percent! takes these entries from float! (its own unit registers later).
TypeId entry_type(const Cell& v) { return cell_is(&v, T_PERCENT) ? T_FLOAT : cell_type(&v); }

TEST(Float, ArithmeticFollowsIeeeAndFixesTheResultType) {
    struct Row { Act op; Cell a, b; Outcome want; } rows[] = {
        {Act::divide, F(1.0), I(0), Flt(INF)},
        {Act::divide, F(-1.0), I(0), Flt(-INF)},
        {Act::divide, F(0.0), I(0), Flt(NaN)},
        {Act::remainder, F(5.5), F(0.0), Flt(NaN)},
        {Act::remainder, F(5.5), F(INF), Flt(5.5)},
        {Act::remainder, F(INF), F(INF), Flt(NaN)},
        {Act::remainder, F(5.5), F(NaN), Flt(NaN)},
        {Act::remainder, F(-7.5), F(2.0), Flt(-1.5)},
        {Act::add, F(1e308), F(1e308), Flt(INF)},
        {Act::multiply, P(0.5), I(2), Pct(1.0)},
        {Act::multiply, P(0.5), P(0.5), Pct(0.25)},
        {Act::add, F(1.0), P(0.5), Flt(1.5)},
        {Act::add, T(3600), I(30), Tim(3630)},
        {Act::add, P(0.5), T(10), Tim(10.5)},
        {Act::subtract, F(2.5), C('a'), Flt(-94.5)},
        {Act::add, P(0.5), C('a'), Err(err::script::invalid_type)},
        {Act::add, F(1.0), N(), Err(err::script::invalid_type)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({r.a, r.b}).run(r.op, entry_type(r.a)); }, r.want))
            << mold_of(r.a) << " op " << int(r.op) << " " << mold_of(r.b);
}

TEST(Float, UnaryActionsAndParity) {
    struct Row { Act op; double x; Outcome want; } rows[] = {
        {Act::negate, 0.0, Flt(0.0)}, {Act::negate, -0.0, Flt(0.0)}, {Act::negate, 2.5, Flt(-2.5)},
        {Act::absolute, -0.0, Flt(0.0)}, {Act::absolute, -3.0, Flt(3.0)},
        {Act::even_q, 2.7, {T_LOGIC, 1, 0}}, {Act::odd_q, -3.2, {T_LOGIC, 1, 0}},
        {Act::even_q, 1e20, {T_LOGIC, 1, 0}}, {Act::even_q, NaN, {T_LOGIC, 1, 0}},
        {Act::odd_q, -1e300, {T_LOGIC, 0, 0}},
    };
    for (const Row& r : rows) {
        Cell got;
        EXPECT_TRUE(matches([&] { return got = ActionCall({F(r.x)}).run(r.op); }, r.want)) << r.x;
        if (r.op == Act::negate || r.op == Act::absolute) {
            EXPECT_FALSE(std::signbit(float_of(got)) && r.want.value == 0.0) << "signed zero from " << r.x;
        }
    }
}

TEST(Float, ComparisonIsNearForEqualityAndExactForStrictness) {
    auto cmp = [](const Cell& a, const Cell& b, int op) { return action_of<Act::compare>(cell_type(&a))(&a, &b, op); };
    EXPECT_EQ(cmp(F(0.1 + 0.2), F(0.3), CMP_EQUAL), 0);
    EXPECT_EQ(cmp(F(0.1 + 0.2), F(0.3), CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(cmp(F(0.3), F(0.3), CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(cmp(F(0.0), F(-0.0), CMP_STRICT_EQUAL), 0);
    EXPECT_EQ(cmp(F(0.0), F(-0.0), CMP_SAME), 1);
    EXPECT_EQ(cmp(F(1.0), I(1), CMP_EQUAL), 0);
    EXPECT_EQ(cmp(F(1.0), I(1), CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(cmp(F(1.0), P(1.0), CMP_STRICT_EQUAL), 1);
    EXPECT_EQ(cmp(F(NaN), F(NaN), CMP_EQUAL), 1);
    EXPECT_GT(cmp(F(NaN), F(1.0), CMP_LESSER), 0);         // NaN < 1.0 is false
    EXPECT_LT(cmp(F(NaN), F(1.0), CMP_GREATER), 0);        // NaN > 1.0 is false
    EXPECT_GT(cmp(F(1.0), F(NaN), CMP_LESSER_EQUAL), 0);
    EXPECT_LT(cmp(F(1.5), I(2), CMP_LESSER), 0);
    EXPECT_EQ(cmp(F(1.5), N(), CMP_EQUAL), CMP_NOT_COMPARABLE);
}

TEST(Float, RoundFollowsItsRefinements) {
    enum { PLAIN = -1 };
    struct Row { Cell v; int flag; Outcome want; } rows[] = {
        {F(2.5), PLAIN, Flt(3.0)}, {F(-2.5), PLAIN, Flt(-3.0)}, {F(2.5), ROUND_EVEN, Flt(2.0)},
        {F(3.5), ROUND_EVEN, Flt(4.0)}, {F(2.5), ROUND_HALF_DOWN, Flt(2.0)}, {F(-2.5), ROUND_HALF_CEILING, Flt(-2.0)},
        {F(-2.1), ROUND_FLOOR, Flt(-3.0)}, {F(-2.9), ROUND_DOWN, Flt(-2.0)}, {F(2.1), ROUND_CEILING, Flt(3.0)},
        {F(2.4), PLAIN, Flt(2.0)}, {F(NaN), PLAIN, Flt(NaN)}, {F(INF), PLAIN, Flt(INF)},
        {P(0.125), PLAIN, Pct(0.13)}, {T(3723.6), PLAIN, Tim(3724)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] {
            ActionCall call({r.v});
            if (r.flag != PLAIN) call.ref(r.flag);
            return call.run(Act::round, entry_type(r.v));
        }, r.want)) << mold_of(r.v) << " flag " << r.flag;
}

TEST(Float, RoundToAScaleTakesTheScalesType) {
    struct Row { Cell v, scale; Outcome want; } rows[] = {
        {F(3.14159), F(0.01), Flt(3.14)},
        {F(2.5), I(1), Int(3)},
        {F(1.26), P(0.1), Pct(1.3)},
        {F(1e300), F(1e-300), Flt(1e300)},            // below the value's precision: unchanged
        {F(1e300), I(1), Flt(1e300)},
        {F(1.7e308), F(1e308), Err(err::math::overflow)},  // rounds past the largest double
        {F(3e9), I(1), Err(err::math::overflow)},       // does not fit the integer it must become
        {F(-2147483648.4), I(1), Int(INT32_MIN)},
        {F(7.0), I(0), Flt(7.0)},
        {F(1e-310), F(1e-311), Flt(10 * 1e-311)},  // ten of the denormal scale
        {T(3723), I(60), Tim(3720)},
        {F(1.0), N(), Flt(1.0)},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        if (cell_is(&r.scale, T_NONE)) continue;
        EXPECT_TRUE(matches([&] { return ActionCall({r.v}).ref(ROUND_TO, r.scale).run(Act::round); }, r.want))
            << "row " << i;
    }
}

TEST(Float, MakeAndTo) {
    StackScope scope;
    auto text = [](const char* s) { Cell* c = string_push(8); string_append_cstr(c, s); return *c; };
    Cell* pair = block_push_new(2);
    Cell fifteen = I(15), minus_one = I(-1);
    block_append(pair, &fifteen);
    block_append(pair, &minus_one);
    Cell* three = block_push_new(3);
    for (int i = 0; i < 3; ++i) block_append(three, &fifteen);
    Cell* bad = block_push_new(2);
    Cell none = N();
    block_append(bad, &fifteen);
    block_append(bad, &none);
    struct Row { Cell spec; Outcome want; } rows[] = {
        {I(3), Flt(3.0)}, {C('a'), Flt(97.0)}, {P(0.5), Flt(0.5)}, {T(90), Flt(90.0)},
        {text("1.5"), Flt(1.5)}, {text("1,5"), Flt(1.5)}, {text("-1'000.25"), Flt(-1000.25)},
        {text("1e400"), Flt(INF)}, {text(""), Err(err::script::bad_to_arg)}, {text("1.5x"), Err(err::script::bad_to_arg)},
        {*pair, Flt(1.5)}, {*three, Err(err::script::bad_to_arg)}, {*bad, Err(err::script::bad_to_arg)},
        {L(true), Err(err::script::bad_to_arg)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({DT(T_FLOAT), r.spec}).target(T_FLOAT).run(Act::to, T_FLOAT); },
                            r.want)) << mold_of(r.spec);
    EXPECT_TRUE(matches([] { return ActionCall({DT(T_FLOAT), F(0.25)}).target(T_PERCENT).run(Act::make, T_FLOAT); },
                        Pct(0.25)));
    // A percent! from text takes the number of the text's first value.
    struct PercentRow { Cell spec; Outcome want; } percents[] = {
        {text("3"), Pct(3.0)}, {text("0.5"), Pct(0.5)},
        {text("abc"), Err(err::script::bad_to_arg)}, {text(""), Err(err::script::bad_to_arg)},
    };
    for (const PercentRow& r : percents)
        EXPECT_TRUE(matches([&] { return ActionCall({DT(T_PERCENT), r.spec}).target(T_PERCENT).run(Act::to, T_FLOAT); },
                            r.want)) << mold_of(r.spec);
}

TEST(Float, RandomStaysBetweenZeroAndTheValue) {
    mt_seed(3);
    for (bool secure : {false, true})
        for (double x : {10.0, -10.0, 1e-300}) {
            for (int i = 0; i < 2000; ++i) {
                ActionCall call({F(x)});
                if (secure) call.ref(RANDOM_SECURE);
                double v = float_of(call.run(Act::random));
                if (x > 0) { ASSERT_GE(v, 0.0); ASSERT_LE(v, x); }
                else { ASSERT_LE(v, 0.0); ASSERT_GE(v, x); }
            }
        }
    EXPECT_EQ(type_of(ActionCall({F(1.5)}).ref(RANDOM_SEED).run(Act::random)), T_UNSET);
}

TEST(Float, FormHidesNoiseAndMoldKeepsEveryDigit) {
    struct Row { double x; const char* formed; const char* molded; } rows[] = {
        {0.1 + 0.2, "0.3", "0.30000000000000004"}, {0.7 + 0.1, "0.8", "0.7999999999999999"},
        {1e16, "1.0e16", "10000000000000000.0"}, {42.0, "42.0", "42.0"}, {0.1, "0.1", "0.1"},
        {INF, "1.#INF", "1.#INF"}, {-INF, "-1.#INF", "-1.#INF"}, {NaN, "1.#NaN", "1.#NaN"},
        {5e-324, "0.0", "5.0e-324"}, {-0.0, "0.0", "-0.0"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(form_of(F(r.x)), r.formed);
        EXPECT_EQ(mold_of(F(r.x)), r.molded);
    }
    float_pretty = false;
    EXPECT_EQ(form_of(F(0.7 + 0.1)), "0.7999999999999999");
    EXPECT_EQ(form_of(F(5e-324)), "4.940656458412465e-324");
    float_pretty = true;
}

TEST(Triple, ShowsItsThreeIntegers) {
    Cell t;
    cell_init(&t, T_TRIPLE);
    t.w1 = 1; t.w2 = uint32_t(-2); t.w3 = 3;
    EXPECT_EQ(form_of(t), "make triple! [1 -2 3]");
    EXPECT_EQ(mold_of(t), "make triple! [1 -2 3]");
}

}  // namespace
}  // namespace tev

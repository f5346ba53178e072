// time!: the h:mm:ss text, construction, component access and setting, arithmetic rules, parity and rounding.
#include <gtest/gtest.h>
#include <limits>
#include "datatypes/block.h"
#include "datatypes/scalar.h"
#include "runtime/context_table.h"
#include "runtime/symbols.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

TEST(Time, TextForm) {
    struct Row { double seconds; const char* text; } rows[] = {
        {3723, "1:02:03"}, {5.5, "0:00:05.5"}, {-90, "-0:01:30"}, {360000, "100:00:00"}, {0, "0:00:00"},
        {-0.5, "-0:00:00.5"}, {0.0000001, "0:00:00"}, {12.25, "0:00:12.25"}, {3600 + 0.123456789, "1:00:00.123457"},
        {59.9999999, "0:01:00"},            // six digits round to a whole minute: carried, never ":60"
        {3599.9999999, "1:00:00"}, {-59.9999999, "-0:01:00"}, {7199.99999995, "2:00:00"},
        {2147483647.0 * 3600, "2147483647:00:00"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(form_of(T(r.seconds)), r.text);
        EXPECT_EQ(mold_of(T(r.seconds)), r.text);
    }
    // Hours that do not fit 32 bits, and infinite times, have no text.
    for (double bad : {1e20, 2147483648.0 * 3600, std::numeric_limits<double>::infinity(), std::nan("")})
        EXPECT_EQ(raised_by([&] { form_of(T(bad)); }), err::math::overflow.code) << bad;
}

TEST(Time, MakeFromNumbersAndBlocks) {
    StackScope scope;
    auto block_of = [](std::initializer_list<Cell> values) {
        Cell* b = block_push_new(uint32_t(values.size()));
        for (const Cell& v : values) block_append(b, &v);
        return *b;
    };
    auto text = [](const char* s) { Cell* c = string_push(8); string_append_cstr(c, s); return *c; };
    struct Row { Cell spec; Outcome want; } rows[] = {
        {I(90), Tim(90)}, {F(1.5), Tim(1.5)}, {T(7), Tim(7)},
        {block_of({I(1), I(2), F(3.5)}), Tim(3723.5)}, {block_of({I(1), I(30)}), Tim(5400)},
        {block_of({I(-1), I(30)}), Tim(-5400)}, {block_of({}), Tim(0)},
        {block_of({I(1), I(2), I(3), I(4)}), Err(err::script::bad_to_arg)},
        {block_of({I(1), I(-2)}), Err(err::script::bad_to_arg)},
        {block_of({F(1.0), I(2)}), Err(err::script::bad_to_arg)},
        {block_of({I(1), F(2.0)}), Err(err::script::bad_to_arg)},
        {L(true), Err(err::script::bad_to_arg)},
        {text("1:02:03"), Tim(3723)}, {text("-0:00:00.5"), Tim(-0.5)}, {text("10:30"), Tim(37800)},
        {text("abc"), Err(err::script::bad_to_arg)}, {text(""), Err(err::script::bad_to_arg)},
        {text("12"), Err(err::script::bad_to_arg)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({DT(T_TIME), r.spec}).target(T_TIME).run(Act::make, T_TIME); },
                            r.want)) << mold_of(r.spec);
}

// Reads or sets component n of a time through the path entry.
Cell path(double seconds, Cell element, const Cell* set = nullptr) {
    StackScope scope;
    Cell* parent = stack_push_copy(&(const Cell&)T(seconds));
    Cell* el = stack_push_copy(&element);
    Cell* result = stack_push();
    Cell* value = set ? stack_push_copy(set) : nullptr;
    PathStep step{parent, el, value, nullptr, result, 1, true, false};
    action_of<Act::eval_path>(T_TIME)(step);
    return set ? *parent : *result;
}

TEST(Time, ComponentsReadWithTheSignOfTheWhole) {
    struct Row { double seconds; int n; Outcome want; } rows[] = {
        {3723.5, 1, Int(1)}, {3723.5, 2, Int(2)}, {3723.5, 3, Flt(3.5)},
        {-3630, 1, Int(-1)}, {-3630, 2, Int(0)}, {-3630, 3, Flt(-30.0)},
        {-5400, 1, Int(-1)}, {-5400, 2, Int(30)},
        {1e20, 1, Err(err::math::overflow)}, {std::numeric_limits<double>::infinity(), 2, Err(err::math::overflow)},
        {3723, 0, Err(err::script::invalid_path)}, {3723, 4, Err(err::script::invalid_path)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return path(r.seconds, I(r.n)); }, r.want)) << r.seconds << " / " << r.n;
}

TEST(Time, SettingAComponentReadsBackAndKeepsTheOthers) {
    struct Row { double seconds; int n; Cell value; Outcome want; } rows[] = {
        {3600, 2, I(90), Tim(9000)},            // the difference is added: 2:30:00
        {-5400, 1, I(-1), Tim(-5400)},          // hour -1 of -1:30:00 stays -1:30:00
        {-5400, 2, I(30), Tim(-5400)},
        {-5400, 2, I(0), Tim(-3600)},
        {3723, 1, I(5), Tim(18123)},
        {3723, 3, F(4.5), Tim(3724.5)},
        {3723, 3, I(0), Tim(3720)},
        {-30, 1, I(2), Tim(7230)},
        {3723, 1, F(1.0), Err(err::script::invalid_arg)},
        {3723, 3, N(), Err(err::script::invalid_arg)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return path(r.seconds, I(r.n), &r.value); }, r.want))
            << r.seconds << " / " << r.n << " := " << mold_of(r.value);
    // Round trip over a grid of times and values.
    for (double t : {-7384.25, -59.5, -3600.0, 0.0, 1.0, 3723.75, 86399.0})
        for (int n = 1; n <= 3; ++n)
            for (int v : {-3, 0, 2, 59}) {
                if (n == 2 && v < 0) continue;  // minutes read back as a magnitude
                Cell value = n == 3 ? F(v + 0.25 * (v != 0)) : I(v);
                Cell set = path(t, I(n), &value);
                Cell back = path(float_of(set), I(n));
                Cell before[4], after[4];
                for (int k = 1; k <= 3; ++k) { before[k] = path(t, I(k)); after[k] = path(float_of(set), I(k)); }
                if (n == 3) EXPECT_EQ(float_of(back), float_of(value)) << t << " second " << v;
                else EXPECT_EQ(int_of(back), v) << t << " component " << n << " " << v;
                for (int k = 1; k <= 3; ++k) {
                    if (k == n || k == 2) continue;  // the sign may move with the component set
                    double b = k == 3 ? std::fabs(float_of(before[k])) : std::abs(int_of(before[k]));
                    double a = k == 3 ? std::fabs(float_of(after[k])) : std::abs(int_of(after[k]));
                    EXPECT_EQ(a, b) << t << " set " << n << " kept " << k;
                }
                if (n != 2) {
                    EXPECT_EQ(int_of(after[2]), int_of(before[2])) << t << " set " << n;
                }
            }
}

Cell word(const char* name) { return word_from_symbol(symbol_from_cstring(name)); }

TEST(Time, ComponentWordsInAnyCase) {
    struct Row { const char* name; Outcome want; } rows[] = {
        {"hour", Int(1)}, {"MINUTE", Int(2)}, {"Second", Flt(3.5)}, {"day", Err(err::script::invalid_path)},
    };
    for (const Row& r : rows) EXPECT_TRUE(matches([&] { return path(3723.5, word(r.name)); }, r.want)) << r.name;
    Cell ninety = I(90);
    EXPECT_TRUE(matches([&] { return path(3600, word("minute"), &ninety); }, Tim(9000)));
    EXPECT_TRUE(matches([] { return ActionCall({T(3723), word("hour")}).run(Act::pick); }, Int(1)));
    EXPECT_TRUE(matches([] { return ActionCall({T(3723), word("week")}).run(Act::pick); }, Err(err::script::cannot_use)));
}

TEST(Time, PickTakesTheComponentNumber) {
    EXPECT_TRUE(matches([] { return ActionCall({T(3723), I(3)}).run(Act::pick); }, Flt(3.0)));
    EXPECT_TRUE(matches([] { return ActionCall({T(3723), I(1)}).run(Act::pick); }, Int(1)));
    EXPECT_TRUE(matches([] { return ActionCall({T(3723), I(0)}).run(Act::pick); }, Err(err::script::out_of_range)));
    EXPECT_TRUE(matches([] { return ActionCall({T(3723), I(4)}).run(Act::pick); }, Err(err::script::out_of_range)));
}

TEST(Time, ArithmeticKeepsTimeAndRefusesWhatHasNoMeaning) {
    struct Row { Act op; Cell a, b; Outcome want; } rows[] = {
        {Act::add, T(3600), I(30), Tim(3630)}, {Act::divide, T(3600), I(2), Tim(1800)},
        {Act::divide, T(3600), T(1800), Flt(2.0)}, {Act::multiply, T(7200), F(1.5), Tim(10800)},
        {Act::multiply, T(7200), T(2), Err(err::script::not_related)}, {Act::subtract, T(10), T(4), Tim(6)},
        {Act::add, T(10), C('a'), Err(err::script::invalid_type)}, {Act::remainder, T(100), I(60), Tim(40)},
        {Act::negate, T(5), N(), Tim(-5)}, {Act::absolute, T(-5), N(), Tim(5)},
        {Act::odd_q, T(3603), N(), {T_LOGIC, 1, 0}}, {Act::even_q, T(3603.9999999), N(), {T_LOGIC, 1, 0}},
        {Act::odd_q, T(-3603), N(), {T_LOGIC, 1, 0}}, {Act::even_q, T(std::nan("")), N(), {T_LOGIC, 1, 0}},
        {Act::round, T(3723.6), N(), Tim(3724)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({r.a, r.b}).run(r.op); }, r.want)) << mold_of(r.a) << " " << int(r.op);
    EXPECT_TRUE(matches([] { return ActionCall({T(3723)}).ref(ROUND_TO, I(60)).run(Act::round); }, Tim(3720)));
    EXPECT_TRUE(matches([] { return ActionCall({T(3723)}).ref(ROUND_TO, T(600)).run(Act::round); }, Tim(3600)));
}

}  // namespace
}  // namespace tev

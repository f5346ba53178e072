// Callables from C++: routine! values and their argument-count field, and local collection leaving a refused spec whole.
#include <string>
#include "datatypes/callable.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "runtime/context_table.h"
#include "runtime/symbols.h"
#include "tests/datatypes/series_fixture.h"
#include "tests/interpreter/reader.h"

namespace tev {
namespace {
using namespace testing_series;

// A spec of n plain arguments a1 .. an.
Cell* spec_of_arguments(int n) {
    Cell* spec = block_push_new(uint32_t(n));
    for (int k = 1; k <= n; ++k) {
        Cell w = word_from_symbol(symbol_from_cstring(("a" + std::to_string(k)).c_str()));
        block_append(spec, &w);
    }
    return spec;
}

class Callables : public SeriesTest {
protected:
    void SetUp() override {
        test_evaluator_start();
        SeriesTest::SetUp();
    }
};

TEST_F(Callables, RoutineKeepsItsArgumentCountUpToTheFieldsLimit) {
    for (int n : {0, 1, 5, 31}) {
        Cell* spec = spec_of_arguments(n);
        Cell* r = routine_push(spec, nullptr, 1234, -1, n == 5);
        EXPECT_TRUE(cell_is(r, T_ROUTINE)) << n;
        EXPECT_EQ(routine_arity(r), uint32_t(n));
        EXPECT_EQ((r->header & ROUTINE_FLAG) != 0, n == 5);
    }
}

TEST_F(Callables, RoutineWithMoreArgumentsThanTheFieldHoldsIsRefused) {
    for (int n : {32, 33, 40}) {
        Cell* spec = spec_of_arguments(n);
        EXPECT_EQ(error_of([&] { routine_push(spec, nullptr, 0, -1, false); }), err::script::bad_func_def.code)
            << n;
    }
}

TEST_F(Callables, RoutineFormsMoldsReflectsAndCompares) {
    Cell* spec = test_read("a b");
    Cell* r = routine_push(spec, nullptr, 0, -1, false);
    EXPECT_EQ(form_of(r), "?routine?");
    EXPECT_EQ(mold_of(r), "routine [a b] none");
    Cell* body = test_read("a + b");
    Cell* with_body = routine_push(spec, body, 0, -1, false);
    EXPECT_EQ(mold_of(with_body), "routine [a b][a + b]");
    Cell* field = stack_push();
    *field = word_from_symbol(symbol_from_cstring("body"));
    EXPECT_TRUE(cell_is(call(Act::reflect, {r, field}), T_NONE));
    EXPECT_EQ(mold_of(call(Act::reflect, {with_body, field})), "[a + b]");
    EXPECT_EQ(compare_dispatch(r, r, CMP_EQUAL), 0);
    EXPECT_NE(compare_dispatch(r, with_body, CMP_EQUAL), 0);
    Cell* op = stack_push();
    op_make_value(op, with_body);
    EXPECT_EQ(mold_of(op), "make op! [[a b]]");
    EXPECT_EQ(mold_of(call(Act::reflect, {op, field})), "[a + b]");
}

TEST_F(Callables, CollectingLocalsLeavesARefusedSpecWhole) {
    Cell* spec = test_read("a /extern b 1");
    Cell* body = test_read("x: 1");
    EXPECT_EQ(error_of([&] { function_collect_locals(spec, body); }), err::script::bad_func_extern.code);
    EXPECT_EQ(mold_of(spec), "[a /extern b 1]");
    Cell* good = test_read("a /extern b");
    function_collect_locals(good, body);
    EXPECT_EQ(mold_of(good), "[a /local x]");
}

}  // namespace
}  // namespace tev

// block! and paren!: append/insert/change, copy/deep, compare, form and mold, take, swap, trim, make and to.
#include "runtime/cycle_guard.h"
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace {
using namespace testing_series;
using V = std::vector<int>;

class Block : public SeriesTest {};


TEST_F(Block, AppendSplicesOnlyAddsOneDupRepeats) {
    struct Row { bool only; int dup; int part; std::string mold; };
    const Row rows[] = {
        {false, 1, -1, "[1 2 3 4]"},
        {true, 1, -1, "[1 2 [3 4]]"},
        {false, 3, -1, "[1 2 3 4 3 4 3 4]"},
        {true, 2, -1, "[1 2 [3 4] [3 4]]"},
        {false, 1, 1, "[1 2 3]"},
        {false, 0, -1, "[1 2]"},
        {false, -1, -1, "[1 2]"},
    };
    for (const Row& r : rows) {
        Cell* s = ints({1, 2});
        Cell* v = ints({3, 4});
        std::vector<Ref> refs;
        Cell* res;
        if (r.part >= 0) res = call(Act::append, {s, v}, {{ref::append_part, integer(r.part)}});
        else if (r.only) res = call(Act::append, {s, v}, {{ref::append_only, nullptr}, {ref::append_dup, integer(r.dup)}});
        else res = call(Act::append, {s, v}, {{ref::append_dup, integer(r.dup)}});
        EXPECT_EQ(series_index(res), 0u);
        EXPECT_EQ(mold_of(s), r.mold);
    }
}

TEST_F(Block, InsertReturnsThePositionAfterAppendTheHead) {
    Cell* s = at_index(ints({1, 2, 3}), 1);
    Cell* res = call(Act::insert, {s, ints({8, 9})});
    EXPECT_EQ(series_index(res), 3u);
    EXPECT_EQ(values_of(at_index(s, 0)), (V{1, 8, 9, 2, 3}));
    Cell* t = at_index(ints({1, 2, 3}), 2);
    EXPECT_EQ(series_index(call(Act::append, {t, integer(4)})), 0u);
    EXPECT_EQ(values_of(at_index(t, 0)), (V{1, 2, 3, 4}));
    // An index past the tail inserts at the tail.
    Cell* u = at_index(ints({1}), 7);
    EXPECT_EQ(series_index(call(Act::insert, {u, integer(2)})), 2u);
    EXPECT_EQ(values_of(at_index(u, 0)), (V{1, 2}));
}

TEST_F(Block, InsertingABlockIntoItselfReadsTheCellsBeforeTheGap) {
    Cell* s = ints({1, 2, 3});
    Cell* pos = at_index(stack_push_copy(s), 1);
    call(Act::insert, {pos, s}, {{ref::append_dup, integer(2)}});
    EXPECT_EQ(values_of(s), (V{1, 1, 2, 3, 1, 2, 3, 2, 3}));
}

TEST_F(Block, ChangeReplacesAsManyAsItWritesOrThePart) {
    struct Row { uint32_t index; int part; int dup; bool only; V expect; uint32_t result_index; };
    const Row rows[] = {
        {1, -1, 1, false, {1, 8, 9, 4}, 3},
        {3, -1, 1, false, {1, 2, 3, 8, 9}, 5},
        {1, 3, 1, false, {1, 8, 9}, 3},
        {0, 1, 1, false, {8, 9, 2, 3, 4}, 2},
        {0, 0, 1, false, {8, 9, 1, 2, 3, 4}, 2},
        {1, -1, 2, false, {1, 8, 9, 8, 9}, 5},
        {9, -1, 1, false, {1, 2, 3, 4, 8, 9}, 6},
        {0, -1, 1, true, {-999, 2, 3, 4}, 1},
    };
    for (const Row& r : rows) {
        Cell* s = at_index(ints({1, 2, 3, 4}), r.index);
        Cell* v = ints({8, 9});
        Cell* res;
        if (r.only) res = call(Act::change, {s, v}, {{ref::append_only, nullptr}});
        else if (r.part >= 0) res = call(Act::change, {s, v}, {{ref::append_part, integer(r.part)}});
        else res = call(Act::change, {s, v}, {{ref::append_dup, integer(r.dup)}});
        EXPECT_EQ(values_of(at_index(s, 0)), r.expect) << r.index << " " << r.part << " " << r.dup;
        EXPECT_EQ(series_index(res), r.result_index);
    }
}

TEST_F(Block, GrowthBeyondTheMaximumRaisesNotEnoughMemory) {
    Cell* s = ints({1});
    Cell* v = ints({1, 2, 3, 4});
    EXPECT_EQ(error_of([&] { call(Act::append, {s, v}, {{ref::append_dup, integer(0x7FFFFFFF)}}); }),
              err::internal::no_memory.code);
    EXPECT_EQ(error_of([&] { call(Act::make, {s, integer(0x7FFFFFFF)}, {}, T_BLOCK); }),
              err::internal::no_memory.code);
    EXPECT_EQ(values_of(s), (V{1}));
}

TEST_F(Block, CopyDeepCopiesNestedListsAndRefusesCycles) {
    Cell* inner = ints({1, 2});
    Cell* outer = block_of({inner, inner});
    Cell* copy = call(Act::copy, {outer}, {{ref::copy_deep, nullptr}});
    Cell* first = stack_push_copy(block_at(copy, 0));
    EXPECT_NE(series_node(first), series_node(inner));
    EXPECT_NE(series_node(block_at(copy, 1)), series_node(first));
    call(Act::append, {inner, integer(3)});
    EXPECT_EQ(mold_of(copy), "[[1 2] [1 2]]");
    Cell* shallow = call(Act::copy, {outer});
    EXPECT_EQ(series_node(block_at(shallow, 0)), series_node(inner));

    Cell* self = ints({1});
    call(Act::append, {self, self}, {{ref::append_only, nullptr}});
    Cell* nested = block_of({self});
    for (Cell* v : {self, nested}) {
        EXPECT_EQ(error_of([&] { call(Act::copy, {v}, {{ref::copy_deep, nullptr}}); }),
                  err::internal::no_cycle.code);
        EXPECT_EQ(cycle_depth(), 0u);
    }
}

TEST_F(Block, CopyTypesCopiesOnlyMatchingValues) {
    Cell* inner = ints({1});
    Cell* outer = block_of({inner, integer(5)});
    Cell* dt = stack_push();
    set_datatype(dt, T_BLOCK);
    Cell* copy = call(Act::copy, {outer}, {{ref::copy_types, dt}});
    EXPECT_NE(series_node(block_at(copy, 0)), series_node(inner));
    set_datatype(dt, T_STRING);
    Cell* kept = call(Act::copy, {outer}, {{ref::copy_types, dt}});
    EXPECT_EQ(series_node(block_at(kept, 0)), series_node(inner));
}

TEST_F(Block, CompareOrdersByLengthWhenCellsAgree) {
    struct Row { V a; V b; int op; int expect; };
    const Row rows[] = {
        {{}, {1}, CMP_LESSER, -1},      // [] < [1]
        {{1}, {}, CMP_LESSER, 1},
        {{}, {}, CMP_EQUAL, 0},
        {{1, 2}, {1, 2}, CMP_EQUAL, 0},
        {{1, 2}, {1, 2, 3}, CMP_EQUAL, 1},
        {{1, 2}, {1, 2, 3}, CMP_SORT, -1},
        {{1, 3}, {1, 2, 9}, CMP_SORT, 1},
        {{1, 2}, {1, 2}, CMP_SAME, -1},
    };
    for (const Row& r : rows) {
        Cell* a = block_push_new(4);
        for (int v : r.a) block_append(a, integer(v));
        Cell* b = block_push_new(4);
        for (int v : r.b) block_append(b, integer(v));
        EXPECT_EQ(block_compare(a, b, r.op), r.expect);
    }
    Cell* a = ints({1});
    EXPECT_EQ(block_compare(a, a, CMP_SAME), 0);
    Cell* p = ints({1}, T_PAREN);
    EXPECT_EQ(block_compare(a, p, CMP_EQUAL), CMP_NOT_COMPARABLE);
    // Types that differ order by type id.
    Cell* x = block_of({ints({1})});
    Cell* y = block_of({integer(1)});
    EXPECT_LT(block_compare(x, y, CMP_SORT), 0);
    // Self-containing blocks terminate.
    Cell* s1 = ints({1});
    call(Act::append, {s1, s1}, {{ref::append_only, nullptr}});
    Cell* s2 = ints({1});
    call(Act::append, {s2, s2}, {{ref::append_only, nullptr}});
    EXPECT_EQ(block_compare(s1, s2, CMP_EQUAL), 0);
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Block, MoldLaysOutNewLineMarkersWithIndentation) {
    Cell* inner = ints({3, 4});
    cell_set_flag(block_at(inner, 0), FLAG_NEW_LINE);
    Cell* s = block_of({integer(1), integer(2), inner});
    cell_set_flag(block_at(s, 0), FLAG_NEW_LINE);
    cell_set_flag(block_at(s, 2), FLAG_NEW_LINE);
    EXPECT_EQ(mold_of(s), "[\n    1 2\n    [\n        3 4\n    ]\n]");
    EXPECT_EQ(mold_of(s, true), "1 2\n[\n    3 4\n]");
    EXPECT_EQ(mold_of(s, false, true), "[1 2 [3 4]]");
    Cell* later = block_of({integer(1), integer(2)});
    cell_set_flag(block_at(later, 1), FLAG_NEW_LINE);
    EXPECT_EQ(mold_of(later), "[1\n2]");
    EXPECT_EQ(mold_of(at_index(ints({1, 2, 3}), 1)), "[2 3]");
    EXPECT_EQ(mold_of(ints({1, 2}, T_PAREN)), "(1 2)");
    EXPECT_EQ(mold_of(ints({})), "[]");
}

TEST_F(Block, MoldAndFormOfASelfContainingBlockStopAtTheMarker) {
    Cell* s = ints({});
    call(Act::append, {s, s}, {{ref::append_only, nullptr}});
    EXPECT_EQ(mold_of(s), "[[...]]");
    EXPECT_EQ(form_of(s), "...");
    Cell* p = ints({1}, T_PAREN);
    call(Act::append, {p, p}, {{ref::append_only, nullptr}});
    EXPECT_EQ(mold_of(p), "(1 (...))");
    EXPECT_EQ(form_of(block_of({ints({1, 2}), integer(3)})), "1 2 3");
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Block, MoldLimitStopsAtThePart) {
    Cell* s = ints({1, 2, 3, 4, 5});
    Cell* out = string_push(16);
    Cell* part = integer(3);
    action_of<Act::mold>(T_BLOCK)(s, out, false, false, false, part, 3, 0);
    EXPECT_EQ(string_to_utf8(out).substr(0, 4), "[1 2");
}

TEST_F(Block, NinehundredNinetyNineLevelsMoldAndTheThousandthIsTooDeep) {
    Cell* top = ints({});
    Cell* cur = stack_push_copy(top);
    for (int i = 1; i < 999; ++i) {
        Cell* inner = ints({});
        call(Act::append, {cur, inner}, {{ref::append_only, nullptr}});
        *cur = *inner;
        stack_drop_to(cur + 1);
    }
    std::string m = mold_of(top);
    EXPECT_EQ(m.size(), 999u * 2);
    Cell* inner = ints({});
    call(Act::append, {cur, inner}, {{ref::append_only, nullptr}});
    EXPECT_EQ(error_of([&] { mold_of(top); }), err::internal::too_deep.code);
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_EQ(mold_of(ints({1})), "[1]");
}

TEST_F(Block, TakeDeepSwapAndTrim) {
    Cell* inner = ints({1});
    Cell* s = block_of({inner, integer(2)});
    Cell* taken = call(Act::take, {s}, {{ref::take_deep, nullptr}});
    EXPECT_TRUE(cell_is(taken, T_BLOCK));
    EXPECT_NE(series_node(taken), series_node(inner));
    Cell* a = at_index(ints({1, 2, 3}), 1);
    Cell* b = ints({9});
    call(Act::swap, {a, b});
    EXPECT_EQ(values_of(at_index(a, 0)), (V{1, 9, 3}));
    EXPECT_EQ(values_of(b), (V{2}));
    EXPECT_EQ(error_of([&] { call(Act::swap, {a, integer(1)}); }), err::script::invalid_arg.code);
    Cell* none = stack_push();
    set_none(none);
    Cell* t = block_of({none, integer(1), none, integer(2), none});
    call(Act::trim, {at_index(stack_push_copy(t), 1)});
    EXPECT_EQ(values_of(t), (V{-999, 1, 2}));
    EXPECT_EQ(action_of<Act::trim>(T_PAREN), nullptr);
}

TEST_F(Block, MakeAndTo) {
    Cell* proto = ints({});
    Cell* made = call(Act::make, {proto, integer(10)}, {}, T_PAREN);
    EXPECT_TRUE(cell_is(made, T_PAREN));
    EXPECT_EQ(block_length(made), 0u);
    Cell* src = at_index(ints({1, 2, 3}), 1);
    Cell* clone = call(Act::make, {proto, src}, {}, T_BLOCK);
    EXPECT_EQ(values_of(clone), (V{2, 3}));
    EXPECT_NE(series_node(clone), series_node(src));
    EXPECT_EQ(error_of([&] { call(Act::make, {proto, proto}, {}, T_BLOCK); }), 0u);
    Cell* none = stack_push();
    set_none(none);
    EXPECT_EQ(error_of([&] { call(Act::make, {proto, none}, {}, T_BLOCK); }), err::script::bad_make_arg.code);
    EXPECT_EQ(values_of(call(Act::to, {proto, integer(5)}, {}, T_BLOCK)), (V{5}));
}

TEST_F(Block, PathsPickPokeAndSelect) {
    Cell* s = ints({10, 20, 30});
    Cell* result = stack_push();
    Cell* element = integer(2);
    PathStep get{s, element, nullptr, nullptr, result, 1, true, false};
    action_of<Act::eval_path>(T_BLOCK)(get);
    EXPECT_EQ(get_integer(result), 20);
    Cell* value = integer(7);
    PathStep set{s, element, value, nullptr, result, 1, true, false};
    action_of<Act::eval_path>(T_BLOCK)(set);
    EXPECT_EQ(values_of(s), (V{10, 7, 30}));
    // Any other element selects: the value after the first equal one.
    Cell* key = stack_push();
    set_none(key);
    call(Act::insert, {s, key});
    PathStep sel{s, key, nullptr, nullptr, result, 1, true, false};
    action_of<Act::eval_path>(T_BLOCK)(sel);
    EXPECT_EQ(get_integer(result), 10);
    PathStep set_key{s, key, value, nullptr, result, 1, true, false};
    action_of<Act::eval_path>(T_BLOCK)(set_key);
    EXPECT_EQ(values_of(s), (V{-999, 7, 7, 30}));
    Cell* missing = stack_push();
    set_logic(missing, true);
    PathStep bad{s, missing, value, nullptr, result, 1, true, false};
    EXPECT_EQ(error_of([&] { action_of<Act::eval_path>(T_BLOCK)(bad); }), err::script::bad_path_set.code);
}

}  // namespace
}  // namespace tev

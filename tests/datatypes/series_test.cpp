// series! actions shared by every series type: positions, pick/poke, remove/take/copy, move, reverse, random.
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace {
using namespace testing_series;
using V = std::vector<int>;

class Series : public SeriesTest {};


TEST_F(Series, PositionsClampAndAtCountsFromOne) {
    struct Row { Act act; uint32_t index; int offset; uint32_t expect; };
    const Row rows[] = {
        {Act::at, 0, 0, 0}, {Act::at, 0, 1, 0}, {Act::at, 0, 3, 2}, {Act::at, 2, -1, 1},
        {Act::at, 2, -9, 0}, {Act::at, 1, 99, 5}, {Act::skip, 2, -5, 0}, {Act::skip, 2, 100, 5},
        {Act::skip, 2, 0, 2}, {Act::skip, 0, 2, 2},
    };
    for (const Row& r : rows) {
        Cell* s = at_index(ints({1, 2, 3, 4, 5}), r.index);
        EXPECT_EQ(series_index(call(r.act, {s, integer(r.offset)})), r.expect)
            << (r.act == Act::at ? "at " : "skip ") << r.index << " " << r.offset;
    }
    Cell* s = ints({1, 2});
    EXPECT_EQ(error_of([&] { call(Act::at, {s, s}); }), err::script::invalid_arg.code);
}

TEST_F(Series, BackAtHeadAndNextAtTailStay) {
    EXPECT_EQ(series_index(call(Act::back, {ints({1, 2})})), 0u);
    EXPECT_EQ(series_index(call(Act::next, {at_index(ints({1, 2}), 2)})), 2u);
    EXPECT_EQ(series_index(call(Act::next, {ints({1, 2})})), 1u);
    EXPECT_EQ(series_index(call(Act::tail, {ints({1, 2})})), 2u);
    EXPECT_TRUE(get_logic(call(Act::tail_q, {at_index(ints({1}), 1)})));
    EXPECT_EQ(get_integer(call(Act::index_q, {at_index(ints({1, 2}), 1)})), 2);
}

TEST_F(Series, LengthOfAnIndexPastTheTailIsZeroAndPullsItBack) {
    Cell* s = ints({1, 2, 3, 4});
    Cell* later = stack_push_copy(s);
    later->w1 = 3;
    call(Act::clear, {at_index(s, 1)});  // another value shortens the series
    Cell* n = stack_push_copy(later);
    EXPECT_EQ(get_integer(call(Act::length_q, {n})), 0);
    ActionFrame f = action_frame(later, T_BLOCK);
    series_length_q(f);  // on the cell itself: the index is pulled back
    Cell* again = stack_push_copy(s);
    again->w1 = 3;
    EXPECT_EQ(series_rest_length(again), 0u);
    EXPECT_EQ(series_index(again), 1u);
}

TEST_F(Series, PickAndPokeByPosition) {
    Cell* s = at_index(ints({10, 20, 30}), 1);
    EXPECT_TRUE(cell_is(call(Act::pick, {s, integer(0)}), T_NONE));
    EXPECT_EQ(get_integer(call(Act::pick, {s, integer(-1)})), 10);
    EXPECT_EQ(get_integer(call(Act::pick, {s, integer(2)})), 30);
    EXPECT_TRUE(cell_is(call(Act::pick, {s, integer(3)}), T_NONE));
    EXPECT_TRUE(cell_is(call(Act::pick, {s, integer(-2)}), T_NONE));

    EXPECT_EQ(error_of([&] { call(Act::poke, {s, integer(0), integer(5)}); }), err::script::out_of_range.code);
    EXPECT_EQ(error_of([&] { call(Act::poke, {s, integer(3), integer(5)}); }), err::script::out_of_range.code);
    EXPECT_EQ(get_integer(call(Act::poke, {s, integer(-1), integer(5)})), 5);
    EXPECT_EQ(values_of(at_index(s, 0)), (V{5, 20, 30}));
}

TEST_F(Series, RemoveCountsAndStopsAtTheTail) {
    struct Row { uint32_t index; int part; V expect; };
    const Row rows[] = {
        {0, 1, {2, 3, 4}}, {1, 2, {1, 4}}, {2, 9, {1, 2}}, {1, -2, {1, 2, 3, 4}}, {1, 0, {1, 2, 3, 4}},
        {4, 1, {1, 2, 3, 4}},
    };
    for (const Row& r : rows) {
        Cell* s = at_index(ints({1, 2, 3, 4}), r.index);
        Cell* res = call(Act::remove, {s}, {{ref::remove_part, integer(r.part)}});
        EXPECT_EQ(series_index(res), r.index);
        EXPECT_EQ(values_of(at_index(s, 0)), r.expect) << r.index << " " << r.part;
    }
    Cell* s = ints({1, 2, 3});
    Cell* pos = stack_push_copy(s);
    pos->w1 = 2;
    call(Act::remove, {s}, {{ref::remove_part, pos}});
    EXPECT_EQ(values_of(s), (V{3}));
    EXPECT_EQ(error_of([&] { call(Act::remove, {s}, {{ref::remove_part, ints({1})}}); }),
              err::script::invalid_refine_arg.code);
}

TEST_F(Series, TakeWithPartZeroTakesNothing) {
    struct Row { uint32_t index; int part; bool last; V taken; V left; uint32_t left_index; };
    const Row rows[] = {
        {2, 0, false, {}, {1, 2, 3, 4, 5}, 2},      // nothing, not the unit before the index
        {0, 2, false, {1, 2}, {3, 4, 5}, 0},
        {3, -2, false, {2, 3}, {1, 4, 5}, 1},       // the units before the index
        {1, -9, false, {1}, {2, 3, 4, 5}, 0},
        {1, 2, true, {4, 5}, {1, 2, 3}, 1},
        {1, 9, true, {2, 3, 4, 5}, {1}, 1},
        {2, -1, true, {}, {1, 2, 3, 4, 5}, 2},
    };
    for (const Row& r : rows) {
        Cell* s = at_index(ints({1, 2, 3, 4, 5}), r.index);
        Cell* held = stack_push_copy(s);
        std::vector<Ref> refs{{ref::take_part, integer(r.part)}};
        Cell* res = r.last ? call(Act::take, {held}, {{ref::take_part, integer(r.part)}, {ref::take_last, nullptr}})
                           : call(Act::take, {held}, {{ref::take_part, integer(r.part)}});
        EXPECT_EQ(values_of(res), r.taken) << r.index << " " << r.part;
        EXPECT_EQ(values_of(at_index(s, 0)), r.left) << r.index << " " << r.part;
    }
    // Without /part one value comes out; an empty rest gives none.
    Cell* s = ints({7, 8});
    EXPECT_EQ(get_integer(call(Act::take, {s})), 7);
    EXPECT_EQ(get_integer(call(Act::take, {s}, {{ref::take_last, nullptr}})), 8);
    EXPECT_TRUE(cell_is(call(Act::take, {s}), T_NONE));
}

TEST_F(Series, CopyPartTakesCountsPairsAndPositions) {
    Cell* s = at_index(ints({1, 2, 3, 4, 5, 6}), 1);
    EXPECT_EQ(values_of(call(Act::copy, {s})), (V{2, 3, 4, 5, 6}));
    EXPECT_EQ(values_of(call(Act::copy, {s}, {{ref::copy_part, integer(2)}})), (V{2, 3}));
    EXPECT_EQ(values_of(call(Act::copy, {s}, {{ref::copy_part, integer(-1)}})), (V{1}));
    EXPECT_EQ(values_of(call(Act::copy, {s}, {{ref::copy_part, integer(-5)}})), (V{1}));
    EXPECT_EQ(values_of(call(Act::copy, {s}, {{ref::copy_part, integer(99)}})), (V{2, 3, 4, 5, 6}));
    Cell* pair = stack_push();
    cell_init(pair, T_PAIR);
    pair->w2 = 2;
    pair->w3 = 4;
    EXPECT_EQ(values_of(call(Act::copy, {s}, {{ref::copy_part, pair}})), (V{3, 4}));
    Cell* pos = stack_push_copy(s);
    pos->w1 = 4;
    EXPECT_EQ(values_of(call(Act::copy, {s}, {{ref::copy_part, pos}})), (V{2, 3, 4}));
    Cell* beyond = at_index(ints({1, 2}), 5);
    EXPECT_EQ(block_length(call(Act::copy, {beyond})), 0u);
}

TEST_F(Series, ReverseSkipSwapsRecords) {
    EXPECT_EQ(values_of(call(Act::reverse, {ints({1, 2, 3, 4, 5, 6})}, {{ref::reverse_skip, integer(2)}})),
              (V{5, 6, 3, 4, 1, 2}));
    EXPECT_EQ(values_of(call(Act::reverse, {ints({1, 2, 3, 4, 5})})), (V{5, 4, 3, 2, 1}));
    EXPECT_EQ(values_of(call(Act::reverse, {at_index(ints({1, 2, 3, 4}), 1)}, {{ref::reverse_part, integer(2)}})),
              (V{3, 2, 4}));
    EXPECT_EQ(values_of(call(Act::reverse, {ints({1, 2, 3})}, {{ref::reverse_skip, integer(3)}})), (V{1, 2, 3}));
    Cell* six = ints({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(error_of([&] { call(Act::reverse, {six}, {{ref::reverse_skip, integer(4)}}); }),
              err::script::invalid_refine_arg.code);
    EXPECT_EQ(error_of([&] { call(Act::reverse, {six}, {{ref::reverse_skip, integer(0)}}); }),
              err::script::out_of_range.code);
}

TEST_F(Series, MoveWithinAndAcrossBlocks) {
    struct Row { uint32_t from; uint32_t to; int part; V expect; };
    const Row rows[] = {
        {0, 0, 1, {1, 2, 3, 4, 5}},        // its own position: nothing
        {0, 3, 1, {2, 3, 4, 1, 5}},        // forward: the units land at the target position
        {0, 5, 2, {3, 4, 5, 1, 2}},        // to the tail
        {3, 0, 2, {4, 5, 1, 2, 3}},        // backward
        {1, 3, 2, {1, 4, 5, 2, 3}},
    };
    for (const Row& r : rows) {
        Cell* s = ints({1, 2, 3, 4, 5});
        Cell* src = at_index(stack_push_copy(s), r.from);
        Cell* dst = at_index(stack_push_copy(s), r.to);
        call(Act::move, {src, dst}, {{ref::move_part, integer(r.part)}});
        EXPECT_EQ(values_of(s), r.expect) << r.from << "->" << r.to;
    }
    // A target too close to the tail for the units says so.
    Cell* s = ints({1, 2, 3, 4, 5});
    Cell* src = stack_push_copy(s);
    Cell* dst = at_index(stack_push_copy(s), 4);
    EXPECT_EQ(error_of([&] { call(Act::move, {src, dst}, {{ref::move_part, integer(3)}}); }),
              err::script::out_of_range.code);
    EXPECT_EQ(values_of(s), (V{1, 2, 3, 4, 5}));

    Cell* a = ints({1, 2, 3});
    Cell* b = at_index(ints({8, 9}), 1);
    Cell* res = call(Act::move, {a, b}, {{ref::move_part, integer(2)}});
    EXPECT_EQ(series_index(res), 1u);
    EXPECT_EQ(values_of(a), (V{3}));
    EXPECT_EQ(values_of(at_index(b, 0)), (V{8, 1, 2, 9}));
    Cell* not_series = integer(3);
    EXPECT_EQ(error_of([&] { call(Act::move, {a, not_series}); }), err::script::expect_arg.code);
}

// A draw source that always answers the largest allowed value, then the smallest.
static uint32_t max_draw(bool, uint32_t n) { return n; }
static uint32_t min_draw(bool, uint32_t) { return 1; }

TEST_F(Series, ShuffleDrawsStayInsideTheSeries) {
    SeriesRandomSource saved = series_random_source;
    for (auto draw : {&max_draw, &min_draw}) {
        series_random_source.range = draw;
        Cell* s = at_index(ints({1, 2, 3, 4, 5, 6}), 2);
        call(Act::random, {s});
        V all = values_of(at_index(s, 0));
        EXPECT_EQ(V(all.begin(), all.begin() + 2), (V{1, 2}));  // before the index: untouched
        V rest(all.begin() + 2, all.end());
        std::sort(rest.begin(), rest.end());
        EXPECT_EQ(rest, (V{3, 4, 5, 6}));
    }
    series_random_source.range = &max_draw;
    EXPECT_EQ(get_integer(call(Act::random, {ints({4, 5, 6})}, {{ref::random_only, nullptr}})), 6);
    EXPECT_TRUE(cell_is(call(Act::random, {at_index(ints({4}), 1)}, {{ref::random_only, nullptr}}), T_NONE));
    series_random_source = saved;
    // The built-in source: a permutation, whatever it draws.
    Cell* s = ints({1, 2, 3, 4, 5, 6, 7, 8});
    call(Act::random, {s});
    V got = values_of(s);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (V{1, 2, 3, 4, 5, 6, 7, 8}));
}

// The shared actions on text: poke widens, move converts between widths.
TEST_F(Series, TextPokeWidensAndMoveCrossesWidths) {
    Cell* s = string_push(4);
    string_append_cstr(s, "abc");
    Cell* base = stack_push_copy(s);
    set_integer(stack_push(), 2);
    set_char(stack_push(), 0x1F600);
    ActionFrame f = action_frame(base, T_STRING);
    series_poke(f);
    EXPECT_EQ(string_char_at(s, 1), 0x1F600u);
    EXPECT_EQ(string_char_at(s, 2), uint32_t('c'));

    Cell* narrow = string_push(4);
    string_append_cstr(narrow, "xy");
    Cell* args = stack_push_copy(s);
    stack_push_copy(narrow);
    ActionFrame m = action_frame(args, T_STRING);
    m.refs[ref::move_part] = 2;
    set_integer(stack_push(), 2);
    series_move(m);
    EXPECT_EQ(string_length(s), 1u);
    EXPECT_EQ(string_char_at(narrow, 0), uint32_t('a'));
    EXPECT_EQ(string_char_at(narrow, 1), 0x1F600u);
    EXPECT_EQ(string_to_utf8(narrow).size(), 1 + 4 + 2u);
    stack_drop_to(args);
    Cell* blk = ints({1});
    Cell* a2 = stack_push_copy(s);
    stack_push_copy(blk);
    ActionFrame bad = action_frame(a2, T_STRING);
    EXPECT_EQ(error_of([&] { series_move(bad); }), err::script::move_bad.code);
}

TEST_F(Series, ClearDropsTheRestOnly) {
    Cell* s = ints({1, 2, 3});
    call(Act::clear, {at_index(stack_push_copy(s), 1)});
    EXPECT_EQ(values_of(s), (V{1}));
    call(Act::clear, {at_index(stack_push_copy(s), 5)});
    EXPECT_EQ(values_of(s), (V{1}));
}

}  // namespace
}  // namespace tev

// Block find, select, put, sort (with comparators that run code) and the set operations.
#include "runtime/cycle_guard.h"
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace {
using namespace testing_series;
using V = std::vector<int>;

class BlockSearch : public SeriesTest {};

// The index find answers, or -1 for none.
int found(Cell* r) { return cell_is(r, T_NONE) ? -1 : int(series_index(r)); }

TEST_F(BlockSearch, FindWalksForwardBackwardAndBySkip) {
    struct Row { std::vector<Ref> refs; uint32_t index; int value; int expect; const char* what; };
    // [1 2 3 1 2 3]
    std::vector<Row> rows = {
        {{}, 0, 2, 1, "plain"},
        {{}, 2, 2, 4, "from the index"},
        {{}, 0, 7, -1, "absent"},
        {{{ref::find_last, nullptr}}, 0, 2, 4, "last"},
        {{{ref::find_reverse, nullptr}}, 4, 2, 1, "reverse starts before the index"},
        {{{ref::find_reverse, nullptr}}, 1, 2, -1, "reverse finds nothing before"},
        {{{ref::find_skip, integer(2)}}, 0, 2, 4, "skip 2 looks at every second cell"},
        {{{ref::find_skip, integer(3)}}, 0, 1, 0, "skip 3"},
        {{{ref::find_match, nullptr}}, 0, 2, -1, "match tests the start only"},
        {{{ref::find_match, nullptr}}, 1, 2, 1, "match at the start"},
        {{{ref::find_tail, nullptr}}, 0, 2, 2, "tail: after the value"},
        {{{ref::find_tail, nullptr}, {ref::find_skip, integer(2)}}, 0, 3, 4, "tail with skip"},
        {{{ref::find_part, integer(2)}}, 0, 3, -1, "part limits the walk"},
        {{{ref::find_part, integer(3)}}, 0, 3, 2, "part includes its last cell"},
        {{{ref::find_part, integer(0)}}, 0, 1, -1, "part 0"},
        {{{ref::find_last, nullptr}, {ref::find_part, integer(3)}}, 0, 1, 0, "last within the part"},
    };
    for (Row& r : rows) {
        Cell* s = at_index(ints({1, 2, 3, 1, 2, 3}), r.index);
        Cell* v = integer(r.value);
        Cell* base = vstack.top;
        stack_push_copy(s);
        stack_push_copy(v);
        ActionFrame f = action_frame(base, T_BLOCK);
        for (Ref& ref : r.refs) {
            f.refs[ref.index] = ref.arg ? int8_t(vstack.top - base) : 0;
            if (ref.arg) stack_push_copy(ref.arg);
        }
        action_of<Act::find>(T_BLOCK)(f);
        EXPECT_EQ(found(base), r.expect) << r.what;
    }
    Cell* s = ints({1});
    EXPECT_EQ(error_of([&] { call(Act::find, {s, integer(1)}, {{ref::find_skip, integer(0)}}); }),
              err::script::out_of_range.code);
    EXPECT_EQ(error_of([&] { call(Act::find, {s, integer(1)}, {{ref::find_skip, s}}); }),
              err::script::invalid_refine_arg.code);
}

TEST_F(BlockSearch, FindSequencesDatatypesAndOnly) {
    Cell* nested = ints({2, 3});
    Cell* s = block_of({integer(1), integer(2), integer(3), nested});
    EXPECT_EQ(found(call(Act::find, {s, nested})), 1);                                  // a sequence
    EXPECT_EQ(found(call(Act::find, {s, nested}, {{ref::find_only, nullptr}})), 3);     // the block itself
    EXPECT_EQ(series_index(call(Act::find, {s, nested}, {{ref::find_tail, nullptr}})), 3u);
    EXPECT_EQ(found(call(Act::find, {s, ints({3, 4})})), -1);                          // runs past the end
    EXPECT_EQ(found(call(Act::find, {s, ints({2, 3}, T_PAREN)}, {{ref::find_only, nullptr}})), -1);
    Cell* dt = stack_push();
    set_datatype(dt, T_BLOCK);
    EXPECT_EQ(found(call(Act::find, {s, dt})), 3);
    EXPECT_EQ(found(call(Act::find, {s, dt}, {{ref::find_only, nullptr}})), -1);
    Cell* ts = stack_push();
    cell_init(ts, T_TYPESET);
    reinterpret_cast<uint8_t*>(&ts->w1)[T_INTEGER >> 3] |= uint8_t(0x80 >> (T_INTEGER & 7));
    EXPECT_EQ(found(call(Act::find, {at_index(stack_push_copy(s), 1), ts})), 1);
    EXPECT_EQ(found(call(Act::find, {s, nested}, {{ref::find_only, nullptr}, {ref::find_same, nullptr}})), 3);
    EXPECT_EQ(found(call(Act::find, {s, ints({2, 3})}, {{ref::find_only, nullptr}, {ref::find_same, nullptr}})), -1);
}

TEST_F(BlockSearch, SelectAndPut) {
    Cell* s = ints({1, 2, 3});
    EXPECT_EQ(get_integer(call(Act::select, {s, integer(1)})), 2);
    EXPECT_TRUE(cell_is(call(Act::select, {s, integer(3)}), T_NONE));  // the last value
    EXPECT_EQ(get_integer(call(Act::select, {s, ints({1, 2})})), 3);    // after the sequence
    EXPECT_TRUE(cell_is(call(Act::select, {s, integer(9)}), T_NONE));

    Cell* m = ints({1, 10, 2, 20});
    EXPECT_EQ(get_integer(call(Act::put, {m, integer(3), integer(30)})), 30);
    EXPECT_EQ(values_of(m), (V{1, 10, 2, 20, 3, 30}));
    call(Act::put, {m, integer(2), integer(21)});
    EXPECT_EQ(values_of(m), (V{1, 10, 2, 21, 3, 30}));
    call(Act::put, {m, integer(30), integer(5)});  // a key at the tail gets its value appended
    EXPECT_EQ(values_of(m), (V{1, 10, 2, 21, 3, 30, 5}));
}

TEST_F(BlockSearch, PutOfAnEqualValueWritesNothing) {
    Cell* m = ints({1, 10});
    Cell* old_value = block_at(m, 1);
    cell_set_flag(old_value, FLAG_NEW_LINE);  // a write would replace the header too
    call(Act::put, {m, integer(1), integer(10)});
    EXPECT_TRUE(cell_has_flag(block_at(m, 1), FLAG_NEW_LINE));
}

TEST_F(BlockSearch, SortOrdersByValueThenTypeId) {
    Cell* b = ints({2});
    Cell* s = block_of({integer(3), b, integer(1), ints({1})});
    call(Act::sort, {s});
    EXPECT_TRUE(cell_is(block_at(s, 0), T_BLOCK));  // block! (5) before integer! (11)
    EXPECT_EQ(series_node(block_at(s, 1)), series_node(b));
    EXPECT_EQ(get_integer(block_at(s, 2)), 1);
    EXPECT_EQ(get_integer(block_at(s, 3)), 3);

    struct Row { V in; std::vector<Ref> refs; uint32_t index; V expect; const char* what; };
    std::vector<Row> rows = {
        {{3, 1, 2}, {}, 0, {1, 2, 3}, "plain"},
        {{3, 1, 2}, {{ref::sort_reverse, nullptr}}, 0, {3, 2, 1}, "reverse"},
        {{9, 3, 1, 2}, {}, 1, {9, 1, 2, 3}, "from the index"},
        {{3, 1, 2, 0}, {{ref::sort_part, integer(3)}}, 0, {1, 2, 3, 0}, "part"},
        {{3, 2, 1, 0}, {{ref::sort_part, integer(-2)}}, 2, {2, 3, 1, 0}, "negative part: cells before"},
        {{3, 30, 1, 10, 2, 20}, {{ref::sort_skip, integer(2)}}, 0, {1, 10, 2, 20, 3, 30}, "skip"},
        {{3, 1, 1, 3, 2, 2}, {{ref::sort_skip, integer(2)}, {ref::sort_compare, integer(2)}}, 0,
         {3, 1, 2, 2, 1, 3}, "skip with a compared offset"},
        {{1, 9, 1, 3, 0, 5}, {{ref::sort_skip, integer(2)}, {ref::sort_all, nullptr}}, 0,
         {0, 5, 1, 3, 1, 9}, "all compares whole records"},
    };
    for (Row& r : rows) {
        Cell* blk = block_push_new(8);
        for (int v : r.in) block_append(blk, integer(v));
        Cell* base = vstack.top;
        stack_push_copy(at_index(blk, r.index));
        ActionFrame f = action_frame(base, T_BLOCK);
        for (Ref& ref : r.refs) {
            f.refs[ref.index] = ref.arg ? int8_t(vstack.top - base) : 0;
            if (ref.arg) stack_push_copy(ref.arg);
        }
        action_of<Act::sort>(T_BLOCK)(f);
        EXPECT_EQ(values_of(at_index(blk, 0)), r.expect) << r.what;
    }
    Cell* odd = ints({1, 2, 3});
    EXPECT_EQ(error_of([&] { call(Act::sort, {odd}, {{ref::sort_skip, integer(2)}}); }),
              err::script::invalid_refine_arg.code);
    EXPECT_EQ(error_of([&] { call(Act::sort, {odd}, {{ref::sort_all, nullptr}}); }), err::script::bad_refines.code);
    Cell* even = ints({1, 2, 3, 4});
    EXPECT_EQ(error_of([&] {
        call(Act::sort, {even}, {{ref::sort_skip, integer(2)}, {ref::sort_compare, integer(3)}});
    }), err::script::out_of_range.code);
    EXPECT_EQ(error_of([&] { call(Act::sort, {even}, {{ref::sort_compare, even}}); }),
              err::script::invalid_refine_arg.code);
    EXPECT_EQ(values_of(odd), (V{1, 2, 3}));
}

TEST_F(BlockSearch, StableSortKeepsEqualRecordsInOrder) {
    // Records [key tag]: compared by key only, the tags must keep their order.
    Cell* s = block_push_new(64);
    for (int i = 0; i < 40; ++i) {
        block_append(s, integer(i % 3));
        block_append(s, integer(i));
    }
    call(Act::sort, {s}, {{ref::sort_skip, integer(2)}, {ref::sort_stable, nullptr}});
    V got = values_of(s);
    for (size_t i = 2; i < got.size(); i += 2) {
        ASSERT_LE(got[i - 2], got[i]);
        if (got[i - 2] == got[i]) {
            EXPECT_LT(got[i - 1], got[i + 1]);
        }
    }
}

// A function! comparator stands in for language code: it may sort again,
// allocate, and change the block being sorted.
struct ComparatorLog {
    int calls = 0;
    bool nested = false;
    bool shrink = false;
    Cell* target = nullptr;
};
ComparatorLog comparator_log;

void test_call_compare(const Cell*, const Cell* b, const Cell* a, Cell* result) {
    ComparatorLog& log = comparator_log;
    ++log.calls;
    if (log.nested && log.calls == 3) {
        // A nested sort with a function comparator over whole records.
        log.nested = false;
        StackScope scope;
        Cell* inner = ints({4, 40, 3, 30, 5, 50});
        Cell* fn = stack_push();
        cell_init(fn, T_FUNCTION);
        call(Act::sort, {inner}, {{ref::sort_skip, integer(2)}, {ref::sort_all, nullptr}, {ref::sort_compare, fn}});
        EXPECT_EQ(values_of(inner), (V{3, 30, 4, 40, 5, 50}));
    }
    if (log.shrink && log.calls == 2) {
        StackScope scope;
        Cell* t = stack_push_copy(log.target);
        t->w1 = 1;
        call(Act::clear, {t});
    }
    // With whole records the values are blocks: compare their first cells.
    const Cell* x = cell_is(a, T_BLOCK) ? block_at(a, 0) : a;
    const Cell* y = cell_is(b, T_BLOCK) ? block_at(b, 0) : b;
    set_logic(result, get_integer(y) < get_integer(x));  // "b comes before a": a is greater
}

TEST_F(BlockSearch, FunctionComparatorsMayRunCodeThatSortsAgain) {
    SortFunctionCall saved = sort_function_call;
    sort_function_call = &test_call_compare;
    Cell* fn = stack_push();
    cell_init(fn, T_FUNCTION);

    comparator_log = ComparatorLog{};
    Cell* s = ints({5, 3, 9, 1});
    call(Act::sort, {s}, {{ref::sort_compare, fn}});
    EXPECT_EQ(values_of(s), (V{1, 3, 5, 9}));

    comparator_log = ComparatorLog{};
    comparator_log.nested = true;
    Cell* r = ints({2, 20, 1, 10, 3, 30});
    call(Act::sort, {r}, {{ref::sort_skip, integer(2)}, {ref::sort_all, nullptr}, {ref::sort_compare, fn}});
    EXPECT_EQ(values_of(r), (V{1, 10, 2, 20, 3, 30}));

    // A comparator that shortens the block: the sort writes back only what fits.
    comparator_log = ComparatorLog{};
    comparator_log.shrink = true;
    Cell* t = ints({4, 3, 2, 1});
    comparator_log.target = t;
    call(Act::sort, {t}, {{ref::sort_compare, fn}});
    EXPECT_EQ(values_of(t).size(), 1u);
    sort_function_call = saved;
}

TEST_F(BlockSearch, SetOperations) {
    struct Row { SetOp op; V a; V b; int skip; V expect; };
    const Row rows[] = {
        {SET_UNIQUE, {3, 1, 3, 2, 1}, {}, 1, {3, 1, 2}},
        {SET_UNION, {1, 2, 2}, {3, 2, 4}, 1, {1, 2, 3, 4}},
        {SET_INTERSECT, {1, 2, 3, 2}, {2, 3, 5}, 1, {2, 3}},
        {SET_EXCLUDE, {1, 2, 3}, {1, 2, 3}, 1, {}},
        {SET_EXCLUDE, {1, 2, 3, 4}, {2, 4}, 1, {1, 3}},
        {SET_DIFFERENCE, {1, 2, 3}, {3, 4}, 1, {1, 2, 4}},
        {SET_UNIQUE, {1, 10, 2, 20, 1, 30}, {}, 2, {1, 10, 2, 20}},
        {SET_EXCLUDE, {1, 10, 2, 20}, {2, 99}, 2, {1, 10}},
    };
    for (const Row& r : rows) {
        Cell* a = ints({});
        for (int v : r.a) block_append(a, integer(v));
        Cell* bb = ints({});
        for (int v : r.b) block_append(bb, integer(v));
        Cell* args = stack_push_copy(a);  // the two operands side by side
        Cell* b = stack_push_copy(bb);
        Cell* out = block_set_op(args, false, r.skip, r.op);
        EXPECT_EQ(out, (r.op == SET_UNION || r.op == SET_DIFFERENCE) ? b : args);
        EXPECT_EQ(values_of(out), r.expect) << int(r.op);
    }
    Cell* args = ints({1});
    stack_push_copy(args);
    EXPECT_EQ(error_of([&] { block_set_op(args, false, 0, SET_UNIQUE); }), err::script::invalid_refine_arg.code);
}

TEST_F(BlockSearch, SetOperationsOnListKeysTextAndManyValues) {
    // List keys are compared, not hashed.
    Cell* one = ints({1});
    Cell* two = integer(2);
    Cell* blocks = block_of({one, ints({1}), two, ints({1, 2})});
    Cell* args = stack_push_copy(blocks);
    stack_push_copy(ints({}));
    EXPECT_EQ(mold_of(block_set_op(args, false, 1, SET_UNIQUE)), "[[1] 2 [1 2]]");

    // Text keys fold case unless /case.
    Cell* lower = string_push(1);
    string_append_cstr(lower, "a");
    Cell* upper = string_push(1);
    string_append_cstr(upper, "A");
    Cell* texts = block_of({lower, upper});
    for (bool case_sensitive : {false, true}) {
        Cell* ta = stack_push_copy(texts);
        stack_push_copy(ints({}));
        EXPECT_EQ(block_length(block_set_op(ta, case_sensitive, 1, SET_UNIQUE)), case_sensitive ? 2u : 1u);
    }

    // Enough values to grow the tables: the evens of 0..1999 less the multiples of 3.
    Cell* a = block_push_new(2000);
    Cell* b = block_push_new(700);
    for (int i = 0; i < 2000; ++i) block_append(a, integer(i - i % 2));
    for (int i = 0; i < 2000; i += 3) block_append(b, integer(i));
    Cell* ea = stack_push_copy(a);
    stack_push_copy(b);
    V got = values_of(block_set_op(ea, false, 1, SET_EXCLUDE));
    V want;
    for (int i = 0; i < 2000; i += 2)
        if (i % 3) want.push_back(i);
    EXPECT_EQ(got, want);
}

}  // namespace
}  // namespace tev

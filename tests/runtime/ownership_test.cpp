// The ownership table: owned series announce each in-place change to their owner, before and after, deeply.
#include <functional>
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "runtime/ownership.h"
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace {
using namespace testing_series;

struct Notice {
    ChangeWord action;
    int32_t index, part;
    bool operator==(const Notice& o) const { return action == o.action && index == o.index && part == o.part; }
};
std::vector<Notice> notices;

void record(const Cell*, const Cell*, const Cell*, ChangeWord action, const Cell*, int32_t index, int32_t part) {
    notices.push_back({action, index, part});
}

class Ownership : public SeriesTest {
protected:
    void SetUp() override {
        SeriesTest::SetUp();
        notices.clear();
        saved_ = ownership_deep_change_hook;
        ownership_deep_change_hook = &record;
        // An object-shaped owner the collector can mark: a context series
        // whose first cell is the context! cell, and a change-handler record.
        Cell* context = block_push_new(2);
        Cell* ctx_cell = stack_push();
        cell_init(ctx_cell, T_CONTEXT);
        block_append(context, ctx_cell);
        Cell* record = block_push_new(2);
        owner_ = stack_push();
        cell_init(owner_, T_OBJECT);
        owner_->w1 = series_node(context);
        owner_->w3 = series_node(record);
        word_ = stack_push();
        *word_ = word_from_cstring("field");
    }
    void TearDown() override {
        ownership_deep_change_hook = saved_;
        SeriesTest::TearDown();
    }
    DeepChangeFn saved_ = nullptr;
    Cell* owner_ = nullptr;
    Cell* word_ = nullptr;
};

TEST_F(Ownership, EveryModifyingActionSendsItsWordPair) {
    using W = ChangeWord;
    struct Row { const char* what; std::function<void(Cell*)> act; W before, after; };
    const std::vector<Row> rows = {
        {"append", [](Cell* s) { call(Act::append, {s, integer(9)}); }, W::append, W::appended},
        {"insert", [](Cell* s) { call(Act::insert, {s, integer(9)}); }, W::insert, W::inserted},
        {"change", [](Cell* s) { call(Act::change, {s, integer(9)}); }, W::change, W::changed},
        {"clear", [](Cell* s) { call(Act::clear, {s}); }, W::clear, W::cleared},
        {"poke", [](Cell* s) { call(Act::poke, {s, integer(1), integer(9)}); }, W::poke, W::poked},
        {"put", [](Cell* s) { call(Act::put, {s, integer(1), integer(9)}); }, W::put, W::put_ed},
        {"remove", [](Cell* s) { call(Act::remove, {s}); }, W::remove, W::removed},
        {"random", [](Cell* s) { call(Act::random, {s}); }, W::random, W::randomized},
        {"reverse", [](Cell* s) { call(Act::reverse, {s}); }, W::reverse, W::reversed},
        {"sort", [](Cell* s) { call(Act::sort, {s}); }, W::sort, W::sorted},
        {"swap", [](Cell* s) { call(Act::swap, {s, ints({5})}); }, W::swap, W::swaped},
        {"take", [](Cell* s) { call(Act::take, {s}); }, W::take, W::taken},
        {"trim", [](Cell* s) { call(Act::trim, {s}); }, W::trim, W::trimmed},
        {"move", [](Cell* s) { call(Act::move, {s, ints({5})}); }, W::move, W::moved},
    };
    for (const Row& r : rows) {
        Cell* s = ints({3, 1, 2});
        ownership_bind(s, owner_, word_);
        notices.clear();
        r.act(s);
        ASSERT_EQ(notices.size(), 2u) << r.what;
        EXPECT_EQ(notices[0].action, r.before) << r.what;
        EXPECT_EQ(notices[1].action, r.after) << r.what;
        ownership_unbind(s);
    }
    EXPECT_STREQ(change_word_spelling(W::put_ed), "put-ed");
    EXPECT_STREQ(change_word_spelling(W::swaped), "swaped");
}

TEST_F(Ownership, BindingIsDeepAndUnbindingUndoesIt) {
    uint32_t before = ownership_count();
    Cell* inner = ints({1});
    Cell* outer = block_of({inner, integer(2)});
    call(Act::append, {inner, outer}, {{ref::append_only, nullptr}});  // a cycle ends the walk
    ownership_bind(outer, owner_, word_);
    EXPECT_EQ(ownership_count(), before + 2);
    Cell owner;
    ownership_get_owner(series_node(inner), &owner);
    EXPECT_TRUE(cell_is(&owner, T_OBJECT));

    call(Act::append, {inner, integer(5)});
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[0], (Notice{ChangeWord::append, 2, 1}));
    EXPECT_EQ(notices[1], (Notice{ChangeWord::appended, 2, 0}));

    ownership_unbind(outer);
    EXPECT_EQ(ownership_count(), before);
    notices.clear();
    call(Act::append, {inner, integer(6)});
    call(Act::append, {ints({1}), integer(6)});  // never owned
    EXPECT_TRUE(notices.empty());
    ownership_get_owner(series_node(inner), &owner);
    EXPECT_TRUE(cell_is(&owner, T_NONE));
}

TEST_F(Ownership, EntriesAreWeak) {
    uint32_t before = ownership_count();
    Cell* gone = ints({1});
    Cell* kept = ints({2});
    ownership_bind(gone, owner_, word_);
    ownership_bind(kept, owner_, word_);
    EXPECT_EQ(ownership_count(), before + 2);
    set_none(gone);
    gc_collect();  // the first series is reached by nothing else
    EXPECT_EQ(ownership_count(), before + 1);
    call(Act::append, {kept, integer(3)});
    EXPECT_EQ(notices.size(), 2u);

    // When the owner goes, the series stays but is no longer owned.
    for (Cell* c = owner_ - 3; c <= owner_; ++c) set_none(c);  // its context, record and cell
    gc_collect();
    EXPECT_EQ(ownership_count(), before);
    notices.clear();
    call(Act::append, {kept, integer(4)});
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(values_of(kept), (std::vector<int>{2, 3, 4}));
}

TEST_F(Ownership, AnOwnerWithoutHandlersHearsNothing) {
    owner_->w3 = 0;
    Cell* s = ints({1});
    ownership_bind(s, owner_, word_);
    call(Act::append, {s, integer(2)});
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(block_length(s), 2u);
    ownership_unbind(s);
}

TEST_F(Ownership, ModifyOwnedBindsAndUnbinds) {
    Cell* owned = stack_push();
    *owned = word_from_cstring("OWNED");
    uint32_t before = ownership_count();
    Cell* s = ints({1});
    Cell* spec = block_of({owner_, word_});
    call(Act::modify, {s, owned, spec});
    EXPECT_EQ(ownership_count(), before + 1);
    Cell* none = stack_push();
    set_none(none);
    call(Act::modify, {s, word_, none});  // another field changes nothing
    EXPECT_EQ(ownership_count(), before + 1);
    Cell* reflected = call(Act::reflect, {s, owned});
    EXPECT_TRUE(cell_is(reflected, T_OBJECT));
    call(Act::modify, {s, owned, none});
    EXPECT_EQ(ownership_count(), before);
    EXPECT_TRUE(cell_is(call(Act::reflect, {s, owned}), T_NONE));
}

}  // namespace
}  // namespace tev

// Contexts: making them from specs, binding, and reading and setting word values (with change notices).
#include <gtest/gtest.h>
#include <initializer_list>
#include "runtime/context_table.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

Cell word(TypeId t, const char* name) {
    Cell c;
    cell_init(&c, t);
    c.w2 = uint32_t(symbol_from_cstring(name));
    c.w3 = uint32_t(-1);
    return c;
}
Cell int_cell(int32_t v) { Cell c; set_integer(&c, v); return c; }

// A block! cell over the given cells, kept on the value stack.
Cell* push_block(std::initializer_list<Cell> cells) {
    NodeRef node = alloc_series_cells(uint32_t(cells.size()) + 1);
    SeriesBuffer* b = node_buffer(node);
    Cell* c = b->cells();
    for (const Cell& x : cells) *c++ = x;
    b->tail = b->head + uint32_t(cells.size() * sizeof(Cell));
    Cell* blk = stack_push();
    set_series(blk, T_BLOCK, node);
    return blk;
}
Cell* block_at(const Cell* blk, uint32_t i) { return node_buffer(series_node(blk))->cells() + i; }

// Keeps a context alive across the allocations of a test.
struct ContextHold {
    RootCell root;
    explicit ContextHold(NodeRef ctx) { set_series(root.get(), T_BLOCK, ctx); }
};

std::string word_name(NodeRef ctx, uint32_t n) { return symbol_text(int32_t(context_word_at(ctx, n)->w2)); }

TEST(Contexts, ZeroSlotsStillHoldAWord) {
    StackScope scope;
    NodeRef ctx = context_make(0, false, true, 0, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    Cell w = word(T_WORD, "ctx-a");
    EXPECT_EQ(context_add_word(ctx, &w), 0);
    Cell v = int_cell(5);
    word_set_value_in(&w, &v, ctx, false);
    EXPECT_EQ(get_integer(word_get_value_in(&w, ctx)), 5);
    EXPECT_TRUE(cell_has_flag(context_word_at(ctx, 0), FLAG_SLOT_SET));
}

TEST(Contexts, SpecTakesArgumentWordsOnly) {
    StackScope scope;
    Cell* spec = push_block({word(T_WORD, "a"), word(T_REFINEMENT, "b"), word(T_WORD, "c"),
                             word(T_SET_WORD, "return"), int_cell(0), word(T_GET_WORD, "d"),
                             word(T_LIT_WORD, "e"), word(T_WORD, "A")});
    NodeRef ctx = context_make_from_spec(spec, false, false, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    ASSERT_EQ(context_word_count(ctx), 5u);
    const char* want[] = {"a", "b", "c", "d", "e"};
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(word_name(ctx, i), want[i]);
        EXPECT_EQ(context_word_at(ctx, i)->w1, ctx);
        EXPECT_EQ(context_word_at(ctx, i)->w3, i);
    }
    Cell a = word(T_WORD, "A");
    EXPECT_EQ(context_find_symbol(ctx, int32_t(a.w2), true), 0);
    EXPECT_EQ(context_find_symbol(ctx, int32_t(a.w2), false), -1);
}

TEST(Contexts, BindingASelfContainingBlockTerminates) {
    StackScope scope;
    NodeRef ctx = context_make(2, false, true, 0, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    Cell x = word(T_WORD, "bind-x");
    context_add_word(ctx, &x);
    Cell* blk = push_block({word(T_WORD, "bind-x"), int_cell(1), int_cell(2), word(T_WORD, "self"),
                            word(T_SET_WORD, "self"), word(T_ISSUE, "bind-x")});
    *block_at(blk, 1) = *blk;  // the block holds itself
    Cell* inner = block_at(blk, 2);
    set_series(inner, T_PAREN, series_node(blk), 0);
    context_bind_block(blk, ctx, true);
    EXPECT_EQ(block_at(blk, 0)->w1, ctx);
    EXPECT_EQ(block_at(blk, 0)->w3, 0u);
    EXPECT_EQ(block_at(blk, 3)->w1, ctx);             // self reaches the self cell
    EXPECT_EQ(int32_t(block_at(blk, 3)->w3), -1);
    EXPECT_EQ(block_at(blk, 4)->w1, 0u);              // a set-word of self binds like any word
    EXPECT_EQ(block_at(blk, 5)->w1, 0u);              // issues are left alone
    set_integer(context_self(ctx), 77);
    EXPECT_EQ(get_integer(word_get_value(block_at(blk, 3))), 77);
}

TEST(Contexts, BindingTooDeepANestingRaisesAndLeavesTheGuardEmpty) {
    StackScope scope;
    NodeRef ctx = context_make(1, false, true, 0, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    Cell* outer = push_block({word(T_WORD, "deep")});
    for (int i = 0; i < 1000; ++i) {
        Cell inner = *outer;
        outer = push_block({inner});
    }
    EXPECT_THROW(context_bind_block(outer, ctx, false), LanguageThrow);
    EXPECT_EQ(last_error_code(), err::internal::too_deep.code);
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST(Contexts, CollectSetWordsClampsTheIndex) {
    StackScope scope;
    NodeRef ctx = context_make(1, false, true, 0, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    Cell* blk = push_block({word(T_SET_WORD, "cs-a"), int_cell(1), word(T_SET_WORD, "cs-b")});
    EXPECT_TRUE(context_collect_set_words(ctx, blk));
    EXPECT_EQ(context_word_count(ctx), 2u);
    EXPECT_FALSE(context_collect_set_words(ctx, blk));
    blk->w1 = 9;
    EXPECT_FALSE(context_collect_set_words(ctx, blk));
    EXPECT_EQ(blk->w1, 3u);
}

TEST(Contexts, UnresolvedAndUnavailableWordsRaise) {
    StackScope scope;
    Cell free_word = word(T_WORD, "ctx-free");
    free_word.w1 = global_context();
    EXPECT_THROW(word_get_value(&free_word), LanguageThrow);
    EXPECT_EQ(last_error_code(), err::script::no_value.code);

    Cell* spec = push_block({word(T_WORD, "p"), word(T_WORD, "q")});
    NodeRef fn = context_make_from_spec(spec, true, false, CTX_KIND_FUNCTION);
    ContextHold hold_fn(fn);
    Cell p = *context_word_at(fn, 0);
    EXPECT_THROW(word_get_value(&p), LanguageThrow);  // no call running
    EXPECT_EQ(last_error_code(), err::script::not_in_context.code);

    Cell* args = stack_push();
    set_integer(args, 1);
    set_integer(stack_push(), 2);
    context_set_stack_args(fn, args);
    Cell q = *context_word_at(fn, 1);
    EXPECT_EQ(get_integer(word_get_value(&q)), 2);
    Cell v = int_cell(20);
    word_set_value(&q, &v);
    EXPECT_EQ(get_integer(args + 1), 20);

    // A word the function does not have is refused, not written past its arguments.
    Cell* top_before = vstack.top;
    Cell stranger = word(T_WORD, "ctx-stranger");
    EXPECT_THROW(word_set_value_in(&stranger, &v, fn, true), LanguageThrow);
    EXPECT_EQ(last_error_code(), err::script::not_defined.code);
    EXPECT_EQ(context_word_count(fn), 2u);
    EXPECT_EQ(vstack.top, top_before);
    context_set_stack_args(fn, nullptr);
}

struct Notice { int calls = 0; int32_t old_value = 0, new_value = 0; std::string word; };
Notice notice;
void record_change(Cell* self, Cell* w, Cell* old_value, Cell* new_value) {
    notice.calls++;
    notice.old_value = get_integer(old_value);
    notice.new_value = get_integer(new_value);
    notice.word = symbol_text(int32_t(w->w2));
    // The handler may allocate: the slot's buffer moves.
    expand_series_copy(context_cell(self->w1)->w2, 4096);
}

TEST(Contexts, SettingRunsTheChangeHandlerOnlyWithARecord) {
    StackScope scope;
    context_set_change_notifier(record_change);
    NodeRef ctx = context_make(2, false, true, 0, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    Cell f = word(T_WORD, "ctx-field");
    context_add_word(ctx, &f);
    context_bind_word(ctx, &f);
    Cell* self = context_self(ctx);
    cell_init(self, T_OBJECT);
    self->w1 = ctx;
    Cell one = int_cell(1), two = int_cell(2);
    Cell* top = vstack.top;
    word_set_value(&f, &one);  // no change-handler record
    EXPECT_EQ(notice.calls, 0);
    EXPECT_EQ(vstack.top, top);
    NodeRef record = alloc_series_bytes(16);  // stands in for a change-handler record
    context_self(ctx)->w3 = record;
    word_set_value(&f, &two);
    EXPECT_EQ(notice.calls, 1);
    EXPECT_EQ(notice.old_value, 1);
    EXPECT_EQ(notice.new_value, 2);
    EXPECT_EQ(notice.word, "ctx-field");
    EXPECT_EQ(vstack.top, top);
    EXPECT_EQ(get_integer(word_get_value(&f)), 2);
    word_set_value_in(&f, &one, ctx, false);  // notify off
    EXPECT_EQ(notice.calls, 1);
    context_set_change_notifier(nullptr);
}

TEST(Contexts, GlobalCaseVariantsShareOneSlot) {
    int32_t lower = symbol_from_cstring("gv-name");
    int32_t upper = symbol_from_cstring("GV-NAME");
    Cell a = word_intern_global(lower, true, true);
    Cell b = word_intern_global(upper, true, true);  // keeps its spelling, shares the slot
    EXPECT_EQ(int32_t(b.w2), upper);
    EXPECT_EQ(a.w3, b.w3);
    Cell c = word_from_symbol(upper);  // exact: a word of its own, the same slot
    EXPECT_EQ(c.w3, a.w3);
    Cell v = int_cell(9);
    word_set_value(&c, &v);
    EXPECT_EQ(get_integer(word_get_value(&a)), 9);
    EXPECT_EQ(get_integer(context_get_symbol_value(upper, global_context())), 9);
}

TEST(Contexts, CloneRebindsTheCopiedWords) {
    StackScope scope;
    NodeRef ctx = context_make(2, false, true, 0, CTX_KIND_OBJECT);
    ContextHold hold_ctx(ctx);
    Cell a = word(T_WORD, "cl-a"), b = word(T_WORD, "cl-b");
    context_add_word(ctx, &a);
    context_add_word(ctx, &b);
    Cell* obj = stack_push();
    cell_init(obj, T_OBJECT);
    obj->w1 = ctx;
    NodeRef copy = context_clone(obj, CTX_KIND_OBJECT);
    ContextHold hold_copy(copy);
    EXPECT_NE(copy, ctx);
    EXPECT_EQ(obj->w1, copy);
    ASSERT_EQ(context_word_count(copy), 2u);
    EXPECT_EQ(context_word_at(copy, 1)->w1, copy);
    Cell v = int_cell(3);
    Cell w = *context_word_at(copy, 1);
    word_set_value(&w, &v);
    EXPECT_EQ(get_integer(word_get_value(&w)), 3);
    Cell old = *context_word_at(ctx, 1);
    EXPECT_TRUE(cell_is(word_get_value(&old), T_UNSET));
    Cell c = word(T_WORD, "cl-c");
    context_add_word(copy, &c);  // the copy's table is its own
    EXPECT_EQ(context_word_count(ctx), 2u);
}

}  // namespace
}  // namespace tev

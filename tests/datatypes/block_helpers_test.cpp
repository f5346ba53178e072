// The block-building helpers other units rely on: growth, staging of sources that move, reading back.
#include <gtest/gtest.h>
#include "datatypes/block.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

TEST(BlockHelpers, AppendGrowsAndReadsBackInOrder) {
    StackScope scope;
    Cell* blk = block_push_new(0);
    for (int i = 0; i < 1000; ++i) {
        Cell v;
        set_integer(&v, i);
        block_append(blk, &v);
    }
    ASSERT_EQ(block_length(blk), 1000u);
    for (uint32_t i = 0; i < 1000; ++i) EXPECT_EQ(get_integer(block_at(blk, i)), int32_t(i));
    blk->w1 = 990;  // the index: lengths and reads count from it
    EXPECT_EQ(block_length(blk), 10u);
    EXPECT_EQ(get_integer(block_head(blk)), 990);
    blk->w1 = 2000;
    EXPECT_EQ(block_length(blk), 0u);
    EXPECT_EQ(block_head(blk), block_tail(blk));
}

TEST(BlockHelpers, AppendingABlocksOwnCellsSurvivesItsGrowth) {
    StackScope scope;
    Cell* blk = block_push_new(1);
    Cell v;
    set_integer(&v, 7);
    block_append(blk, &v);
    for (int i = 0; i < 6; ++i) block_append_cells(blk, block_head(blk), block_length(blk));
    ASSERT_EQ(block_length(blk), 64u);
    for (uint32_t i = 0; i < 64; ++i) EXPECT_EQ(get_integer(block_at(blk, i)), 7);
    Cell* copy = block_push_cells(block_head(blk), 3, T_PAREN);
    EXPECT_EQ(cell_type(copy), T_PAREN);
    EXPECT_EQ(block_length(copy), 3u);
    EXPECT_EQ(copy + 1, vstack.top);
}

TEST(BlockHelpers, CopiesLargerThanTheValueStackFit) {
    StackScope scope;
    Cell* big = block_push_new(VALUE_STACK_CELLS + 10);
    Cell v;
    for (uint32_t i = 0; i < VALUE_STACK_CELLS + 10; ++i) {
        set_integer(&v, int32_t(i));
        block_append(big, &v);
    }
    Cell* copy = block_push_cells(block_head(big), block_length(big));
    ASSERT_EQ(block_length(copy), VALUE_STACK_CELLS + 10);
    EXPECT_EQ(get_integer(block_at(copy, VALUE_STACK_CELLS + 9)), int32_t(VALUE_STACK_CELLS + 9));
    Cell* grown = block_push_new(1);
    block_append_cells(grown, block_head(big), block_length(big));
    EXPECT_EQ(block_length(grown), VALUE_STACK_CELLS + 10);
}

TEST(BlockHelpers, ParenPushWrapsAPlainValueAndRetypesAList) {
    StackScope scope;
    Cell v;
    set_integer(&v, 3);
    Cell* p = paren_push(&v);
    EXPECT_EQ(cell_type(p), T_PAREN);
    ASSERT_EQ(block_length(p), 1u);
    EXPECT_EQ(get_integer(block_at(p, 0)), 3);
    EXPECT_EQ(p + 1, vstack.top);
    Cell* blk = block_push_new(2);
    Cell* q = paren_push(blk);
    EXPECT_EQ(series_node(q), series_node(blk));
    EXPECT_EQ(cell_type(q), T_PAREN);
}

}  // namespace
}  // namespace tev

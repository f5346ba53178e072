// The image store's life: the collector keeps a store's bitmap while any image reaches it and releases it after.
#include <gtest/gtest.h>
#include <cstring>
#include "datatypes/image.h"
#include "runtime/handles.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

// The handle slot the store's record names (its second word).
int32_t store_slot(const Cell* img) {
    int32_t slot;
    std::memcpy(&slot, node_buffer(series_node(img))->head_ptr() + 4, 4);
    return slot;
}

uint32_t first_pixel(const Cell* img) {
    os::PixelLock lock;
    EXPECT_TRUE(os::bitmap_lock(image_bitmap(img), image_width(img), image_height(img), false, &lock));
    uint32_t p = lock.pixels[0];
    os::bitmap_unlock(image_bitmap(img), &lock);
    return p;
}

TEST(ImageStore, TheCollectorKeepsReachedBitmapsAndFreesTheRest) {
    StackScope scope;
    RootCell kept;
    *kept = *image_push_filled(3, 2, 0x80102030u);
    Cell* dropped = image_push_filled(2, 2, 0xFF000000u);
    int32_t kept_slot = store_slot(kept.get()), dropped_slot = store_slot(dropped);
    ASSERT_GE(kept_slot, 0);
    ASSERT_GE(dropped_slot, 0);
    vstack.top = dropped;   // the second image is no longer on the stack
    gc_collect();
    EXPECT_EQ(handle_table_flags(dropped_slot), HANDLE_FREE);
    EXPECT_NE(handle_table_flags(kept_slot), HANDLE_FREE);
    EXPECT_EQ(store_slot(kept.get()), kept_slot);
    EXPECT_EQ(first_pixel(kept.get()), 0x80102030u);
}

TEST(ImageStore, ACopiedCellSharesTheStoreAndKeepsItAlive) {
    StackScope scope;
    Cell* img = image_push_filled(1, 1, 0xFF010203u);
    RootCell copy;
    *copy = *img;
    int32_t slot = store_slot(img);
    vstack.top = img;
    gc_collect();
    gc_collect();
    EXPECT_NE(handle_table_flags(slot), HANDLE_FREE);
    EXPECT_EQ(image_bitmap(copy.get()), handle_table_pointer(slot));
    EXPECT_EQ(first_pixel(copy.get()), 0xFF010203u);
}

TEST(ImageStore, AnImageWithoutPixelsHasNoSlot) {
    StackScope scope;
    Cell* img = image_push_filled(0, 4, 0);
    EXPECT_EQ(store_slot(img), -1);
    EXPECT_EQ(image_bitmap(img), nullptr);
    EXPECT_EQ(image_pixel_count(img), 0u);
    EXPECT_EQ(image_height(img), 4u);
}

}  // namespace
}  // namespace tev

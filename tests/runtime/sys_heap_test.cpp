// The runtime's heap blocks: the list stays right through frees and moving resizes.
#include <gtest/gtest.h>
#include <cstdint>
#include <cstring>
#include "runtime/fatal.h"
#include "runtime/sys_heap.h"

namespace tev {
namespace {

TEST(SysHeap, ResizeOfNullAllocatesAndResizeToZeroFrees) {
    size_t before = sys_block_count();
    void* p = sys_realloc(nullptr, 8);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(sys_block_count(), before + 1);
    EXPECT_EQ(sys_realloc(p, 0), nullptr);
    EXPECT_EQ(sys_block_count(), before);
}

TEST(SysHeap, FreeingAnUnknownAddressChangesNothing) {
    size_t before = sys_block_count();
    void* p = sys_alloc(32);
    alignas(16) static unsigned char not_ours[64];
    sys_free(not_ours + 32);
    sys_free(nullptr);
    EXPECT_EQ(sys_block_count(), before + 1);
    sys_free(p);
    sys_free(p);  // already gone: left alone
    EXPECT_EQ(sys_block_count(), before);
}

// Resizing the first and the last block (far enough that they move) must
// keep the links: freeing every block afterwards, in any order, empties the list.
TEST(SysHeap, MovingResizesKeepTheListHeadAndTail) {
    size_t before = sys_block_count();
    char* a = static_cast<char*>(sys_alloc(16));
    char* b = static_cast<char*>(sys_alloc(16));
    char* c = static_cast<char*>(sys_alloc(16));
    std::memcpy(a, "first", 6);
    std::memcpy(c, "last", 5);
    c = static_cast<char*>(sys_realloc(c, 1 << 20));
    a = static_cast<char*>(sys_realloc(a, 1 << 20));
    EXPECT_STREQ(a, "first");
    EXPECT_STREQ(c, "last");
    void* d = sys_alloc(16);  // appended after the moved tail
    EXPECT_EQ(sys_block_count(), before + 4);
    sys_free(b);
    sys_free(a);
    sys_free(d);
    sys_free(c);
    EXPECT_EQ(sys_block_count(), before);
    void* e = sys_alloc_zeroed(64);
    EXPECT_EQ(static_cast<unsigned char*>(e)[63], 0);
    sys_free(e);
}

TEST(SysHeapDeathTest, ASizeThatWrapsWithItsHeaderIsOutOfMemory) {
    EXPECT_EXIT(sys_alloc(SIZE_MAX - 4), testing::ExitedWithCode(94), "Runtime Error 94: out of memory");
    EXPECT_EXIT(sys_realloc(sys_alloc(8), SIZE_MAX), testing::ExitedWithCode(94), "out of memory");
}

TEST(SysHeap, VirtualPagesAreWritableAndReturned) {
    auto* p = static_cast<unsigned char*>(sys_virtual_alloc(1 << 16));
    p[0] = 1;
    p[(1 << 16) - 1] = 2;
    EXPECT_EQ(p[0] + p[(1 << 16) - 1], 3);
    sys_virtual_free(p, 1 << 16);
}

}  // namespace
}  // namespace tev

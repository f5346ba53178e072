// Handle and slot tables: growth keeps indexes valid, release routines run exactly when owed.
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>
#include "runtime/handles.h"
#include "runtime/memory.h"

namespace tev {
namespace {

std::vector<void*> released;
void note_release(void* p) { released.push_back(p); }

uint32_t counting_kind() {
    static uint32_t kind = handle_registry_add("test-object", note_release);
    return kind;
}

void* fake(uintptr_t i) { return reinterpret_cast<void*>(i); }

TEST(HandleTable, TakingTheLastFreeSlotDoublesTheTableFirst) {
    std::vector<int32_t> taken;
    uint32_t capacity = handle_table_capacity();
    // Fill until the table grows; it grows while handing out the slot that
    // was the last free one, so every slot of the old capacity is in use.
    while (handle_table_capacity() == capacity || capacity == 0) {
        if (capacity == 0) capacity = HANDLE_TABLE_INITIAL;
        taken.push_back(handle_table_alloc(fake(0x1000 + taken.size()), 0));
    }
    EXPECT_EQ(handle_table_capacity(), 2 * capacity);
    std::vector<int32_t> sorted = taken;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (size_t i = 0; i < taken.size(); ++i) EXPECT_EQ(handle_table_pointer(taken[i]), fake(0x1000 + i));
    for (int32_t index : taken) EXPECT_EQ(handle_table_free(index, true), -1);   // kind 0: no release call
}

TEST(HandleTable, ReleaseRoutinesRunWhenOwedOnly) {
    released.clear();
    int32_t h = handle_table_alloc(fake(0xA0), counting_kind());
    EXPECT_EQ(handle_table_flags(h) & HANDLE_KIND_MASK, counting_kind());
    handle_table_replace(h, fake(0xA0));   // same pointer: nothing
    EXPECT_TRUE(released.empty());
    handle_table_replace(h, fake(0xB0));
    EXPECT_EQ(released, std::vector<void*>{fake(0xA0)});
    handle_table_free(h, false);
    EXPECT_EQ(released.size(), 1u);
    int32_t h2 = handle_table_alloc(fake(0xC0), counting_kind());
    handle_table_free(h2, true);
    EXPECT_EQ(released.back(), fake(0xC0));
    EXPECT_EQ(handle_table_flags(h2), HANDLE_FREE);
}

TEST(HandleTable, TheCollectorReleasesHandlesNoValueReaches) {
    released.clear();
    RootCell kept;
    int32_t reached = handle_table_alloc(fake(0xD0), counting_kind());
    int32_t dropped = handle_table_alloc(fake(0xE0), counting_kind());
    cell_init(kept.get(), T_HANDLE);
    kept->w3 = uint32_t(reached);
    gc_collect();
    EXPECT_EQ(released, std::vector<void*>{fake(0xE0)});
    EXPECT_EQ(handle_table_flags(dropped), HANDLE_FREE);
    EXPECT_EQ(handle_table_pointer(reached), fake(0xD0));
    EXPECT_FALSE(handle_table_flags(reached) & HANDLE_MARK);
    handle_table_walk_kind(counting_kind(), [](void* p) { released.push_back(p); });
    EXPECT_EQ(released.back(), fake(0xD0));
    set_none(kept.get());
    released.clear();
    gc_collect();
    EXPECT_EQ(released, std::vector<void*>{fake(0xD0)});
}

TEST(SlotTable, GrowsPastItsCapacityKeepingEarlierValues) {
    std::vector<uint32_t> indexes;
    Cell v;
    set_integer(&v, 0);
    uint32_t first = slot_table_add(&v);
    EXPECT_GE(first, 1u);
    indexes.push_back(first);
    uint32_t capacity = slot_table_capacity();
    EXPECT_GE(capacity, SLOT_TABLE_INITIAL);
    for (int32_t i = 1; slot_table_capacity() == capacity; ++i) {
        set_integer(&v, i);
        indexes.push_back(slot_table_add(&v));
    }
    EXPECT_EQ(slot_table_capacity(), 2 * capacity);
    for (size_t i = 0; i < indexes.size(); ++i) EXPECT_EQ(get_integer(slot_table_get(indexes[i])), int32_t(i));
    slot_table_free(0);   // ignored
    for (uint32_t index : indexes) slot_table_free(index);
}

TEST(SlotTable, KeepsItsValuesAliveUntilFreed) {
    NodeRef node = alloc_series_bytes(64);
    SeriesBuffer* b = node_buffer(node);
    for (int i = 0; i < 64; ++i) b->data[i] = uint8_t(i * 3);
    b->tail = 64;
    Cell v;
    set_series(&v, T_BINARY, node);
    uint32_t index = slot_table_add(&v);
    for (int i = 0; i < 3; ++i) gc_collect();
    Cell* held = slot_table_get(index);
    ASSERT_TRUE(cell_is(held, T_BINARY));
    SeriesBuffer* now = node_buffer(series_node(held));
    EXPECT_EQ(now->tail, 64u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(now->data[i], uint8_t(i * 3));
    slot_table_free(index);
    EXPECT_TRUE(cell_is(slot_table_get(index), T_INTEGER));
}

}  // namespace
}  // namespace tev

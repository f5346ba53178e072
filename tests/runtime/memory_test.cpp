// Series buffers, nodes and the collector: placement, growth, reclaiming and compaction.
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <vector>
#include "runtime/check.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

// Scoped switches for tests that watch where buffers go: with torture on,
// every allocation would move them.
struct CollectorSetting {
    CollectorSetting(bool enabled, bool torture)
        : enabled_(collector_enabled), torture_(gc_torture), interval_(gc_torture_interval) {
        collector_enabled = enabled;
        gc_torture = torture;
        if (torture) gc_torture_interval = 1;
    }
    ~CollectorSetting() {
        collector_enabled = enabled_;
        gc_torture = torture_;
        gc_torture_interval = interval_;
    }
    bool enabled_, torture_;
    uint32_t interval_;
};

uint32_t raised_code(void (*fn)()) {
    try {
        fn();
    } catch (const LanguageThrow&) {
        return last_error_code();
    }
    return 0;
}

// A block of n none! cells held by a RootCell: the tests' reachable holder.
void make_holder(RootCell& holder, uint32_t n) {
    NodeRef node = alloc_series_cells(n);
    SeriesBuffer* b = node_buffer(node);
    for (uint32_t i = 0; i < n; ++i) set_none(b->cells() + i);
    b->tail = b->head + n * 16;
    set_series(holder.get(), T_BLOCK, node);
}
Cell* holder_cell(RootCell& holder, uint32_t i) { return node_buffer(series_node(holder.get()))->cells() + i; }

NodeRef make_bytes(uint32_t n, uint8_t seed) {
    NodeRef node = alloc_series_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    for (uint32_t i = 0; i < n; ++i) b->data[i] = uint8_t(seed + i);
    b->tail = n;
    return node;
}
bool bytes_hold(NodeRef node, uint32_t n, uint8_t seed) {
    SeriesBuffer* b = node_buffer(node);
    if (b->tail - b->head != n) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (b->head_ptr()[i] != uint8_t(seed + i)) return false;
    return true;
}

// ---------------------------------------------------------------- placement

TEST(SeriesAllocation, BuffersOfTwoMegabytesOrMoreGetABlockOfTheirOwn) {
    CollectorSetting off(false, false);
    struct Row { uint32_t bytes; bool big; } rows[] = {
        {2097136, true},    // need 2,097,160: at least the 2,097,152 threshold
        {2097121, true},    // rounds up to 2,097,136
        {2097120, false},   // need 2,097,144: carved from a frame
        {2097105, false},   // rounds up to 2,097,120
    };
    for (const Row& r : rows) {
        uint32_t bigs = memory_stats().big_series;
        NodeRef node = alloc_series_bytes(r.bytes);
        SeriesBuffer* b = node_buffer(node);
        EXPECT_EQ((b->flags & SER_BIG) != 0, r.big) << r.bytes;
        EXPECT_EQ(series_frame_of(node) < 0, r.big) << r.bytes;
        EXPECT_EQ(memory_stats().big_series, bigs + (r.big ? 1 : 0)) << r.bytes;
        EXPECT_EQ(b->size, (r.bytes + 15) & ~15u);
    }
}

TEST(SeriesAllocation, AnExactFitDoesNotFit) {
    CollectorSetting off(false, false);
    NodeRef probe = alloc_series_bytes(16);
    int32_t frame = series_frame_of(probe);
    uint32_t room = series_frame_room(frame);
    // Earlier tests may leave the frame nearly full: probe on until one has room.
    for (int i = 0; i < 100000 && room < 128; ++i) {
        probe = alloc_series_bytes(16);
        frame = series_frame_of(probe);
        room = series_frame_room(frame);
    }
    if (room % 16 != 8) {   // needs are 8 mod 16: make the room one
        alloc_series(0, 1);
        room = series_frame_room(frame);
    }
    ASSERT_EQ(room % 16, 8u);
    ASSERT_GT(room, 64u);
    NodeRef exact = alloc_series_bytes(room - SERIES_HEADER_BYTES);   // heap + need == end
    EXPECT_NE(series_frame_of(exact), frame);
    EXPECT_EQ(series_frame_room(frame), room);
}

TEST(SeriesAllocation, HeadOffsetsAndMinimumSizes) {
    SeriesBuffer* mid = node_buffer(alloc_series(10, 1, -1));
    EXPECT_EQ(mid->size, 16u);
    EXPECT_EQ(mid->head, 8u);
    EXPECT_EQ(mid->tail, 8u);
    EXPECT_TRUE(mid->flags & SER_HEAD_ROOM);

    SeriesBuffer* at = node_buffer(alloc_series(4, 16, 32));
    EXPECT_EQ(at->head, 32u);
    EXPECT_FALSE(at->flags & SER_HEAD_ROOM);

    EXPECT_EQ(node_buffer(alloc_series_bytes(0))->size, 16u);
    for (uint32_t unit : {1u, 2u, 4u}) EXPECT_EQ(node_buffer(alloc_series_units(0, unit))->size, 16u) << unit;

    SeriesBuffer* unset = node_buffer(alloc_series_unset(3));
    EXPECT_EQ(unset->tail, unset->head);
    for (uint32_t i = 0; i < unset->size / 16; ++i)
        EXPECT_TRUE(cell_is(reinterpret_cast<Cell*>(unset->data) + i, T_UNSET));

    SeriesBuffer* filled = node_buffer(alloc_series_filled(20, 0x5A));
    EXPECT_EQ(filled->size, 32u);
    for (uint32_t i = 0; i < filled->size; ++i) EXPECT_EQ(filled->data[i], 0x5A);
}

TEST(SeriesAllocation, OversizedRequestsRaiseNoMemory) {
    EXPECT_EQ(raised_code([] { alloc_series(0x40000000, 16); }), err::internal::no_memory.code);  // count x unit wraps 32 bits
    EXPECT_EQ(raised_code([] { alloc_series(0xFFFFFFFF, 4); }), err::internal::no_memory.code);
    EXPECT_EQ(raised_code([] { alloc_series(0x7FFFFFFF, 1); }), err::internal::no_memory.code);
}

// ---------------------------------------------------------------- growing and copying

TEST(SeriesGrowth, ExpansionRepointsTheNodeAndAbandonsTheOldBuffer) {
    CollectorSetting off(false, false);
    NodeRef node = make_bytes(40, 7);
    SeriesBuffer* old = node_buffer(node);
    old->head = 8;   // the tail keeps its distance from the head
    SeriesBuffer* b = expand_series_copy(node, 200);
    EXPECT_EQ(node_buffer(node), b);
    EXPECT_NE(b, old);
    EXPECT_EQ(b->size, 208u);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->tail, 32u);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & SER_LIVE);
    for (uint32_t i = 0; i < 32; ++i) EXPECT_EQ(b->data[i], uint8_t(7 + 8 + i));

    SeriesBuffer* doubled = expand_series(node, 0);
    EXPECT_EQ(doubled->size, 416u);

    SeriesBuffer* filled = expand_series_fill(node, 1000, 0xEE);
    EXPECT_EQ(filled->data[416], 0xEE);
    EXPECT_EQ(filled->data[filled->size - 1], 0xEE);
}

TEST(SeriesGrowth, AMallocSeriesThatGrowsMovesIntoTheFrames) {
    RootCell root;
    NodeRef node = alloc_series_malloc(4, 1);
    set_series(root.get(), T_BINARY, node);
    std::memcpy(node_buffer(node)->data, "abcd", 4);
    node_buffer(node)->tail = 4;
    SeriesBuffer* b = expand_series_copy(node, 64);
    EXPECT_FALSE(b->flags & SER_MALLOC);
    EXPECT_EQ(b->tail, 4u);
    EXPECT_EQ(std::memcmp(b->data, "abcd", 4), 0);
    gc_collect();
    EXPECT_EQ(std::memcmp(node_buffer(node)->data, "abcd", 4), 0);
}

TEST(SeriesGrowth, AZeroCapacityBufferGrowsByAtLeastSixteenBytes) {
    NodeRef node = alloc_series(0, 16);
    EXPECT_EQ(node_buffer(node)->size, 0u);
    EXPECT_EQ(expand_series(node, 0)->size, 16u);
}

TEST(SeriesGrowth, CopiesCarryTheUnitAndContentFlagsOnly) {
    CollectorSetting off(false, false);
    constexpr uint32_t CONTENT = 0x40;
    NodeRef node = alloc_series(8, 2, -1);
    set_series_flags(node, CONTENT);
    SeriesBuffer* src = node_buffer(node);
    std::memcpy(src->head_ptr(), "abcdefgh", 8);
    src->tail = src->head + 8;
    NodeRef copy = copy_series(node);
    SeriesBuffer* c = node_buffer(copy);
    EXPECT_EQ(c->unit(), 2u);
    EXPECT_TRUE(c->flags & CONTENT);
    EXPECT_FALSE(c->flags & (SER_HEAD_ROOM | SER_BIG | SER_MALLOC | SER_MARK));
    EXPECT_EQ(c->tail - c->head, 8u);
    EXPECT_EQ(std::memcmp(c->head_ptr(), "abcdefgh", 8), 0);
    EXPECT_EQ(c->node, copy);

    SeriesBuffer* grown = expand_series_copy(node, 64);
    EXPECT_TRUE(grown->flags & CONTENT);
    EXPECT_FALSE(grown->flags & SER_HEAD_ROOM);

    NodeRef big = alloc_series_bytes(BIG_SERIES_THRESHOLD);
    SeriesBuffer* shrunk = expand_series(big, 64);
    EXPECT_FALSE(shrunk->flags & SER_BIG);
}

TEST(SeriesGrowth, GrowingUnderCollectionKeepsContents) {
    // The node being grown is held only here: growth must keep it alive and
    // read the old buffer after its own allocation moved it.
    CollectorSetting on(true, true);
    NodeRef node = make_bytes(100, 3);
    for (uint32_t size = 200; size < 5000; size *= 2) {
        expand_series_copy(node, size);
        EXPECT_TRUE(bytes_hold(node, 100, 3)) << size;
    }
    NodeRef copy = copy_series(node);
    EXPECT_TRUE(bytes_hold(copy, 100, 3));
}

// ---------------------------------------------------------------- the collector

TEST(Collector, DisabledNeverCollectsOnAllocationButRecycleDoes) {
    CollectorSetting off(false, gc_torture);
    uint64_t before = memory_stats().collections;
    for (int i = 0; i < 200; ++i) alloc_series_bytes(20000);   // several frames' worth
    alloc_series_bytes(BIG_SERIES_THRESHOLD);
    EXPECT_EQ(memory_stats().collections, before);
    gc_collect();
    EXPECT_EQ(memory_stats().collections, before + 1);
}

TEST(Collector, EnabledCollectsWhenFramesRunOut) {
    CollectorSetting on(true, false);
    uint64_t before = memory_stats().collections;
    for (int i = 0; i < 400; ++i) alloc_series_bytes(20000);
    EXPECT_GT(memory_stats().collections, before);
}

TEST(Collector, UnreachedNodesAreReleasedAndAnEmptyNodeFrameIsFreed) {
    CollectorSetting off(false, false);
    gc_collect();
    MemoryStats start = memory_stats();
    // Earlier tests may leave free slots in live frames: fill those too.
    uint32_t free_slots = start.node_frames * NODES_PER_FRAME - start.nodes_used;
    for (uint32_t i = 0; i < free_slots + NODES_PER_FRAME + 100; ++i) alloc_series(0, 1);
    MemoryStats full = memory_stats();
    EXPECT_GT(full.node_frames, start.node_frames);
    EXPECT_EQ(full.nodes_used, start.nodes_used + free_slots + NODES_PER_FRAME + 100);
    gc_collect();
    MemoryStats after = memory_stats();
    EXPECT_EQ(after.nodes_used, start.nodes_used);
    EXPECT_EQ(after.node_frames, start.node_frames);
}

TEST(Collector, CompactionMovesBuffersAndNodesStillReachTheirContents) {
    CollectorSetting off(false, false);
    RootCell holder;
    make_holder(holder, 64);
    std::vector<NodeRef> live;
    for (uint32_t i = 0; i < 64; ++i) {
        alloc_series_bytes(300 + i);   // garbage between the live buffers
        NodeRef node = make_bytes(50 + i, uint8_t(i));
        set_series(holder_cell(holder, i), T_BINARY, node);
        live.push_back(node);
    }
    std::vector<SeriesBuffer*> before;
    for (NodeRef n : live) before.push_back(node_buffer(n));
    gc_collect();
    EXPECT_GT(memory_stats().bytes_moved_last, 0u);
    int moved = 0;
    for (uint32_t i = 0; i < live.size(); ++i) {
        EXPECT_EQ(series_node(holder_cell(holder, i)), live[i]);
        EXPECT_TRUE(bytes_hold(live[i], 50 + i, uint8_t(i))) << i;
        EXPECT_EQ(node_buffer(live[i])->node, live[i]);
        EXPECT_FALSE(node_buffer(live[i])->flags & SER_MARK);
        moved += node_buffer(live[i]) != before[i];
    }
    EXPECT_GT(moved, 0);
}

TEST(Collector, AbandonedBuffersAreReclaimedWithoutTouchingTheirNode) {
    CollectorSetting off(false, false);
    RootCell holder;
    make_holder(holder, 1);
    NodeRef node = make_bytes(64, 1);
    set_series(holder_cell(holder, 0), T_BINARY, node);
    expand_series_copy(node, 4096);
    gc_collect();
    uint64_t used = memory_stats().series_bytes_used;
    expand_series_copy(node, 8192);   // abandons 4096 + header bytes
    gc_collect();
    EXPECT_EQ(memory_stats().series_bytes_used, used + 4096);
    EXPECT_TRUE(bytes_hold(node, 64, 1));
}

// Frames are used in the order they were made: fill the first, the next
// allocation opens the second.
struct TwoFrames {
    RootCell holder;
    NodeRef pred_filler = 0, later = 0;
    int32_t pred_frame = -1;
};

// Leaves the frame of the first live buffer with exactly `room` bytes free
// (after compaction, which leaves that frame as it is) and a live buffer in
// a later frame.
void arrange_predecessor_room(TwoFrames& t, uint32_t room) {
    constexpr uint32_t FILLS = 4;
    make_holder(t.holder, 3 + FILLS);
    gc_collect();   // the holder's frame is now packed
    NodeRef marker = make_bytes(64, 0);
    set_series(holder_cell(t.holder, 0), T_BINARY, marker);
    t.pred_frame = series_frame_of(marker);
    uint32_t free_now = series_frame_room(t.pred_frame);
    // What start-up keeps alive may leave less than `room` in that frame: fill
    // it with a live buffer until the marker opens a frame with enough room.
    for (uint32_t fill = 0; free_now < room + 1024 && fill < FILLS; ++fill) {
        uint32_t fill_bytes = free_now > SERIES_HEADER_BYTES + 48 ? free_now - SERIES_HEADER_BYTES - 32 : 16;
        NodeRef filler = alloc_series_bytes(fill_bytes);
        set_series(holder_cell(t.holder, 3 + fill), T_BINARY, filler);
        marker = make_bytes(64, 0);
        set_series(holder_cell(t.holder, 0), T_BINARY, marker);
        t.pred_frame = series_frame_of(marker);
        free_now = series_frame_room(t.pred_frame);
    }
    ASSERT_GE(free_now, room + 1024);
    if ((free_now - room) % 16 != 8) {
        NodeRef pad = alloc_series(0, 1);
        set_series(holder_cell(t.holder, 1), T_BINARY, pad);
        free_now = series_frame_room(t.pred_frame);
    }
    t.pred_filler = alloc_series_bytes(free_now - room - SERIES_HEADER_BYTES);
    set_series(holder_cell(t.holder, 2), T_BINARY, t.pred_filler);
    ASSERT_EQ(series_frame_room(t.pred_frame), room);
    alloc_series_bytes(room + 100);   // garbage that opens the next frame
    t.later = make_bytes(100, 9);
    ASSERT_GT(series_frame_of(t.later), t.pred_frame);
    ASSERT_EQ(series_frame_of(t.pred_filler), t.pred_frame);
}

TEST(Collector, APredecessorWithAtMost0xCCCCFreeReceivesNothing) {
    // Buffers take 8 mod 16 bytes, so a frame's room is a multiple of 8: the
    // rooms on each side of the 0xCCCC limit are 0xCCC8 and 0xCCD0.
    CollectorSetting off(false, false);
    for (uint32_t room : {PREDECESSOR_MIN_ROOM - 4, PREDECESSOR_MIN_ROOM + 4}) {
        TwoFrames t;
        arrange_predecessor_room(t, room);
        RootCell keep;
        set_series(keep.get(), T_BINARY, t.later);
        gc_collect();
        bool received = series_frame_of(t.later) == t.pred_frame;
        EXPECT_EQ(received, room > PREDECESSOR_MIN_ROOM) << room;
        EXPECT_TRUE(bytes_hold(t.later, 100, 9));
    }
}

TEST(Collector, AFrameEmptiedIntoItsPredecessorIsFreedButTheLastIsKept) {
    CollectorSetting off(false, false);
    TwoFrames t;
    arrange_predecessor_room(t, 200000);
    RootCell keep;
    set_series(keep.get(), T_BINARY, t.later);
    // A third frame, so that the emptied one is not the last.
    for (int i = 0; i < 200; ++i) alloc_series_bytes(20000);
    uint32_t frames = memory_stats().series_frames;
    ASSERT_GE(frames, uint32_t(t.pred_frame + 3));
    gc_collect();
    EXPECT_EQ(series_frame_of(t.later), t.pred_frame);
    EXPECT_TRUE(bytes_hold(t.later, 100, 9));
    // Every frame after the predecessor held only garbage or moved into it;
    // all but the last are gone.
    EXPECT_EQ(memory_stats().series_frames, uint32_t(t.pred_frame + 2));
}

TEST(Collector, DeeplyNestedBlocksMarkWithoutRecursion) {
    constexpr uint32_t DEPTH = 300000;   // far beyond what machine-stack recursion survives
    RootCell outer;
    {
        CollectorSetting off(false, false);
        NodeRef inner = alloc_series_cells(1);
        set_integer(node_buffer(inner)->cells(), 4242);
        node_buffer(inner)->tail = 16;
        set_series(outer.get(), T_BLOCK, inner);
        for (uint32_t i = 0; i < DEPTH; ++i) {
            NodeRef n = alloc_series_cells(1);
            SeriesBuffer* b = node_buffer(n);
            *b->cells() = *outer;
            b->tail = 16;
            set_series(outer.get(), T_BLOCK, n);
        }
    }
    gc_collect();
    Cell c = *outer;
    for (uint32_t i = 0; i <= DEPTH; ++i) {
        ASSERT_TRUE(cell_is(&c, T_BLOCK));
        c = *node_buffer(series_node(&c))->cells();
    }
    EXPECT_EQ(get_integer(&c), 4242);
}

TEST(Collector, ValuesOnTheStackAndInRootsSurvive) {
    StackScope scope;
    Cell* on_stack = stack_push();
    set_series(on_stack, T_BINARY, make_bytes(30, 4));
    RootCell root;
    set_series(root.get(), T_BINARY, make_bytes(31, 5));
    static Cell static_root;
    set_series(&static_root, T_BINARY, make_bytes(32, 6));
    gc_add_root(&static_root);
    for (int i = 0; i < 3; ++i) gc_collect();
    EXPECT_TRUE(bytes_hold(series_node(on_stack), 30, 4));
    EXPECT_TRUE(bytes_hold(series_node(root.get()), 31, 5));
    EXPECT_TRUE(bytes_hold(series_node(&static_root), 32, 6));
    gc_remove_root(&static_root);
}

// A weak table: its entries do not keep their nodes alive, and the sweep
// hook drops those the marking did not reach.
std::vector<NodeRef> weak_entries;
void sweep_weak_entries() {
    std::vector<NodeRef> kept;
    for (NodeRef n : weak_entries)
        if (gc_node_marked(n)) kept.push_back(n);
    weak_entries = kept;
}

TEST(Collector, SweepHooksSeeWhatMarkingReached) {
    static bool added = false;
    if (!added) gc_add_sweep_hook(sweep_weak_entries);
    added = true;
    RootCell strong;
    set_series(strong.get(), T_BINARY, make_bytes(8, 1));
    weak_entries = {series_node(strong.get()), alloc_series_bytes(8)};
    gc_collect();
    ASSERT_EQ(weak_entries.size(), 1u);
    EXPECT_EQ(weak_entries[0], series_node(strong.get()));
    weak_entries.clear();
}

TEST(Collector, RootEntriesAreBounded) {
    static Cell cells[101];
    int added = 0;
    uint32_t code = 0;
    try {
        for (Cell& c : cells) {
            set_none(&c);
            gc_add_root(&c);
            ++added;
        }
    } catch (const LanguageThrow&) {
        code = last_error_code();
    }
    for (Cell& c : cells) gc_remove_root(&c);
    EXPECT_EQ(code, err::internal::limit_hit.code);
    EXPECT_LE(added, 100);
    gc_add_root(&cells[0]);   // removed entries are reused
    gc_remove_root(&cells[0]);
}

// A random mix of allocating, growing, copying and dropping, checked against
// a model after every collection.
TEST(Collector, RandomWorkKeepsEveryReachableSeriesIntact) {
    constexpr uint32_t SLOTS = 48;
    struct Expect { uint32_t length = 0; uint8_t seed = 0; bool live = false; };
    std::vector<Expect> model(SLOTS);
    std::mt19937 rng(12345);
    RootCell holder;
    make_holder(holder, SLOTS);
    auto check = [&] {
        for (uint32_t i = 0; i < SLOTS; ++i) {
            Cell* c = holder_cell(holder, i);
            if (!model[i].live) {
                ASSERT_TRUE(cell_is(c, T_NONE)) << i;
                continue;
            }
            ASSERT_TRUE(bytes_hold(series_node(c), model[i].length, model[i].seed)) << i;
        }
    };
    int ops = gc_torture ? 1500 : 20000;
    for (int op = 0; op < ops; ++op) {
        uint32_t slot = rng() % SLOTS;
        Expect& e = model[slot];
        switch (rng() % 6) {
        case 0: case 1: {   // new series (sometimes big)
            uint32_t len = rng() % 8 == 0 ? rng() % 300000 : rng() % 2000;
            if (rng() % 200 == 0) len = BIG_SERIES_THRESHOLD + rng() % 1000;
            uint8_t seed = uint8_t(rng());
            NodeRef node = make_bytes(len, seed);
            set_series(holder_cell(holder, slot), T_BINARY, node);
            e = {len, seed, true};
            break;
        }
        case 2:   // grow, keeping the contents
            if (e.live) expand_series_copy(series_node(holder_cell(holder, slot)), (e.length + 16) * 2);
            break;
        case 3:   // append through ensure_room
            if (e.live) {
                NodeRef node = series_node(holder_cell(holder, slot));
                SeriesBuffer* b = series_ensure_room(node, 40);
                for (int k = 0; k < 40; ++k) b->tail_ptr()[k] = uint8_t(e.seed + e.length + k);
                b->tail += 40;
                e.length += 40;
            }
            break;
        case 4:   // copy into another slot
            if (e.live) {
                uint32_t to = rng() % SLOTS;
                NodeRef copy = copy_series(series_node(holder_cell(holder, slot)));
                set_series(holder_cell(holder, to), T_BINARY, copy);
                model[to] = e;
            }
            break;
        case 5:
            set_none(holder_cell(holder, slot));
            e.live = false;
            break;
        }
        if (op % 97 == 0) {
            gc_collect();
            check();
        }
    }
    gc_collect();
    check();
}

TEST(Collector, TortureCollectsAndMovesAtEveryAllocation) {
    CollectorSetting torture(true, true);
    RootCell root;
    set_series(root.get(), T_BINARY, make_bytes(40, 2));
    uint64_t before = memory_stats().collections;
    for (int i = 0; i < 10; ++i) {
        SeriesBuffer* was = node_buffer(series_node(root.get()));
        alloc_series_bytes(10);
        EXPECT_NE(node_buffer(series_node(root.get())), was);
        EXPECT_EQ(was->head, 0xDBDBDBDBu);   // the abandoned place is poisoned
    }
    EXPECT_EQ(memory_stats().collections, before + 10);
    EXPECT_TRUE(bytes_hold(series_node(root.get()), 40, 2));
    collector_enabled = false;   // and still nothing while disabled
    for (int i = 0; i < 10; ++i) alloc_series_bytes(10);
    EXPECT_EQ(memory_stats().collections, before + 10);
}

TEST(Collector, ASparseStableNodeFrameIsEvacuatedAndReferencesRewritten) {
    CollectorSetting off(false, false);
    struct EvacuationOn {
        bool was = gc_node_evacuation;
        ~EvacuationOn() { gc_node_evacuation = was; }
    } restore;
    gc_node_evacuation = false;
    gc_collect();
    // Earlier tests may leave free slots in live frames: our nodes fill those first.
    MemoryStats start = memory_stats();
    const uint32_t N = start.node_frames * NODES_PER_FRAME - start.nodes_used + 2 * NODES_PER_FRAME + 5000;
    RootCell holder;
    make_holder(holder, N);
    for (uint32_t i = 0; i < N; ++i) set_series(holder_cell(holder, i), T_BINARY, make_bytes(4, uint8_t(i)));
    // A frame holding only our nodes keeps 4999 of them.
    std::vector<uint32_t> per_frame(MAX_NODE_FRAMES);
    auto frame_of = [](NodeRef n) { return n >> NODE_SLOT_BITS; };
    for (uint32_t i = 0; i < N; ++i) ++per_frame[frame_of(series_node(holder_cell(holder, i)))];
    uint32_t sparse = 0;
    for (uint32_t f = 1; f < per_frame.size() && !sparse; ++f)
        if (per_frame[f] == NODES_PER_FRAME) sparse = f;
    ASSERT_NE(sparse, 0u);
    std::vector<uint32_t> kept;
    uint32_t in_sparse = 0;
    for (uint32_t i = 0; i < N; ++i) {
        if (frame_of(series_node(holder_cell(holder, i))) == sparse && in_sparse < 4999) {
            kept.push_back(i);
            ++in_sparse;
        } else if (i % 7 != 0 || frame_of(series_node(holder_cell(holder, i))) == sparse) {
            set_none(holder_cell(holder, i));
        } else {
            kept.push_back(i);   // a few live nodes in other frames too
        }
    }
    for (int i = 0; i < 7; ++i) gc_collect();   // six unchanged sweeps
    uint64_t compactions = memory_stats().node_compactions;
    uint32_t frames = memory_stats().node_frames;
    std::vector<NodeRef> before;
    for (uint32_t i : kept) before.push_back(series_node(holder_cell(holder, i)));
    gc_node_evacuation = true;
    gc_collect();
    EXPECT_EQ(memory_stats().node_compactions, compactions + 1);
    EXPECT_LT(memory_stats().node_frames, frames);
    // Which sparse frames go depends on the free nodes elsewhere, and so on
    // what earlier tests left in the heap: ours, or another of our frames.
    uint32_t moved = 0;
    for (size_t k = 0; k < kept.size(); ++k) {
        uint32_t i = kept[k];
        NodeRef n = series_node(holder_cell(holder, i));
        if (n != before[k]) ++moved;
        ASSERT_EQ(node_buffer(n)->node, n);
        ASSERT_TRUE(bytes_hold(n, 4, uint8_t(i))) << i;
    }
    EXPECT_GT(moved, 0u);
}

// ---------------------------------------------------------------- internal checks

#if TEV_CHECKS
// A block of n integer! cells, filled, not rooted.
NodeRef make_integers(uint32_t n) {
    NodeRef node = alloc_series_cells(n);
    SeriesBuffer* b = node_buffer(node);
    for (uint32_t i = 0; i < n; ++i) set_integer(b->cells() + i, int32_t(i));
    b->tail = b->head + n * 16;
    return node;
}

TEST(StaleBufferPointers, ReadAfterTheBufferMovedFindCellsOfNoDatatype) {
    CollectorSetting off(false, false);
    {
        SCOPED_TRACE("growth");
        NodeRef node = make_integers(4);
        Cell* stale = node_buffer(node)->cells();
        expand_series_copy(node, 4096);
        for (uint32_t i = 0; i < 4; ++i) {
            EXPECT_NE(cell_fault(stale + i), nullptr) << i;
            EXPECT_EQ(get_integer(node_buffer(node)->cells() + i), int32_t(i));
        }
    }
    {
        SCOPED_TRACE("compaction");
        RootCell holder;
        alloc_series_bytes(4096);  // garbage below: the live block slides down past its old place
        NodeRef node = make_integers(4);
        set_series(holder.get(), T_BLOCK, node);
        Cell* stale = node_buffer(node)->cells();
        gc_collect();
        ASSERT_NE(node_buffer(node)->cells(), stale);
        for (uint32_t i = 0; i < 4; ++i) {
            EXPECT_NE(cell_fault(stale + i), nullptr) << i;
            EXPECT_EQ(get_integer(node_buffer(node)->cells() + i), int32_t(i));
        }
    }
}

NodeRef freed_node() {
    CollectorSetting on(true, false);
    NodeRef node = alloc_series_bytes(16);
    gc_collect();  // nothing holds it
    return node;
}

TEST(InternalCheckDeathTest, BreakingTheRootingRuleEndsWithError98) {
    // Each death test starts the runtime afresh in a child process; under the
    // torture mode that alone takes most of a minute, and adds nothing here.
    if (gc_torture) GTEST_SKIP();
    const char* failed = "internal check failed";
    NodeRef dead = freed_node();
    ASSERT_FALSE(node_is_live(dead));
    EXPECT_EXIT(node_buffer(dead), testing::ExitedWithCode(98), failed);
    NodeRef bytes = alloc_series_bytes(32);
    EXPECT_EXIT(node_buffer(bytes)->cells(), testing::ExitedWithCode(98), failed);
    EXPECT_EXIT(stack_pop(stack_depth() + 1), testing::ExitedWithCode(98), failed);
}
#endif

// ---------------------------------------------------------------- statistics

TEST(MemoryStatistics, FiguresFollowTheHeap) {
    CollectorSetting off(false, false);
    gc_collect();
    MemoryStats a = memory_stats();
    EXPECT_GT(a.total_bytes, 0u);
    EXPECT_GE(a.node_frames, 1u);
    EXPECT_GE(a.series_frames, 1u);
    alloc_series_bytes(1000);
    MemoryStats b = memory_stats();
    EXPECT_EQ(b.nodes_used, a.nodes_used + 1);
    EXPECT_EQ(b.series_bytes_used, a.series_bytes_used + 1008 + SERIES_HEADER_BYTES);
    gc_collect();
    EXPECT_EQ(memory_stats().collections, b.collections + 1);
    EXPECT_EQ(memory_stats().series_bytes_used, a.series_bytes_used);
}

}  // namespace
}  // namespace tev

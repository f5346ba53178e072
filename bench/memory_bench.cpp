// Allocator and collector benchmarks: allocation (bump and growth), nodes, and the pause of
// collecting a large live set. Prints figures; build with `make memory_bench` in a release tree.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include "datatypes/registry.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

using namespace tev;
using Clock = std::chrono::steady_clock;

static uint64_t ns_since(Clock::time_point t0) {
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - t0).count());
}

static void report(const char* what, uint64_t ns, uint64_t n, uint64_t collections) {
    std::printf("%-44s %7llu us total %6llu ns/op %5llu collections\n", what, (unsigned long long)(ns / 1000),
                (unsigned long long)(ns / n), (unsigned long long)collections);
}

// Garbage only: every frame fills, the collector finds nothing live and
// reuses the frame.
static void bench_bump() {
    constexpr uint64_t N = 2000000;
    uint64_t c0 = memory_stats().collections;
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < N; ++i) alloc_series_bytes(32);
    report("alloc 32-byte series (garbage)", ns_since(t0), N, memory_stats().collections - c0);
}

static void bench_nodes() {
    constexpr uint64_t N = 2000000;
    uint64_t c0 = memory_stats().collections;
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < N; ++i) alloc_series(0, 1);
    report("alloc empty series (node-bound)", ns_since(t0), N, memory_stats().collections - c0);
}

static void bench_growth() {
    RootCell root;
    NodeRef node = alloc_series_bytes(16);
    set_series(root.get(), T_BINARY, node);
    constexpr uint64_t N = 16u << 20;
    uint64_t c0 = memory_stats().collections;
    auto t0 = Clock::now();
    for (uint64_t i = 0; i < N; ++i) {
        SeriesBuffer* b = series_ensure_room(node, 1);
        b->data[b->tail++] = uint8_t(i);
    }
    report("append 1 byte to one series, to 16 MB", ns_since(t0), N, memory_stats().collections - c0);

    constexpr uint64_t M = 200000;
    c0 = memory_stats().collections;
    t0 = Clock::now();
    for (uint64_t i = 0; i < M; ++i) {
        NodeRef n = alloc_series_bytes(16);
        for (uint32_t size = 32; size <= 1024; size *= 2) expand_series_copy(n, size);
    }
    report("grow series 16 -> 1024 bytes by doubling", ns_since(t0), M, memory_stats().collections - c0);
}

// A live tree of blocks (each 8 cells: integers and references to binaries)
// with garbage between its buffers, then collections: the first compacts, the
// second finds everything in place.
static void bench_live_set(uint32_t blocks, bool collect_while_building) {
    RootCell root;
    NodeRef top = alloc_series_cells(blocks);
    set_series(root.get(), T_BLOCK, top);
    bool was = collector_enabled;
    collector_enabled = collect_while_building;
    uint64_t c0 = memory_stats().collections;
    auto build = Clock::now();
    for (uint32_t i = 0; i < blocks; ++i) {
        // Each new series is stored where the collector sees it before the next allocation.
        NodeRef blk = alloc_series_cells(8);
        SeriesBuffer* t = node_buffer(top);
        set_series(t->cells() + i, T_BLOCK, blk);
        t->tail += 16;
        SeriesBuffer* b = node_buffer(blk);
        for (int k = 0; k < 8; ++k) set_integer(b->cells() + k, k);
        b->tail = 8 * 16;
        alloc_series_bytes(48);   // garbage
        NodeRef bin = alloc_series_bytes(64);
        b = node_buffer(blk);
        for (int k = 1; k < 8; k += 2) set_series(b->cells() + k, T_BINARY, bin);
    }
    collector_enabled = was;
    if (collect_while_building)
        report("build the live set, collector on", ns_since(build), blocks, memory_stats().collections - c0);
    MemoryStats s = memory_stats();
    auto t0 = Clock::now();
    gc_collect();
    uint64_t first = ns_since(t0);
    uint64_t moved = memory_stats().bytes_moved_last;
    t0 = Clock::now();
    gc_collect();
    uint64_t second = ns_since(t0);
    std::printf("collect %u blocks (%llu nodes, %llu KB in frames): pause %llu us, moved %llu KB;"
                " again: pause %llu us, moved %llu KB\n",
                blocks, (unsigned long long)s.nodes_used, (unsigned long long)(s.series_bytes_used >> 10),
                (unsigned long long)(first / 1000), (unsigned long long)(moved >> 10),
                (unsigned long long)(second / 1000), (unsigned long long)(memory_stats().bytes_moved_last >> 10));
}

int main() {
    memory_init();
    registry_init();
    value_stack_init();
    collector_enabled = true;
    bench_bump();
    bench_nodes();
    bench_growth();
    bench_live_set(10000, false);
    bench_live_set(100000, false);
    bench_live_set(500000, false);
    bench_live_set(500000, true);
    MemoryStats s = memory_stats();
    std::printf("end: %llu KB from the system, %u node frames, %u series frames, %llu collections\n",
                (unsigned long long)(s.total_bytes >> 10), s.node_frames, s.series_frames,
                (unsigned long long)s.collections);
    return 0;
}

// Series buffers, nodes and the collector: buffers are carved from series frames and reached only
// through node slots, so a collection can slide them down, move them into the preceding frame
// and return emptied frames, rewriting one node slot per moved buffer.
#include "runtime/memory.h"
#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>
#include "os/os.h"
#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/handles.h"
#include "runtime/raw_map.h"

namespace tev {

bool collector_enabled = false;
bool gc_torture = false;
uint32_t gc_torture_interval = 1;
static uint32_t torture_countdown = 0;
bool gc_node_evacuation = false;

namespace detail {
uintptr_t* node_table = nullptr;
}

// The part of the node table that one frame's slots take, committed and
// decommitted whole (a whole number of pages in both builds).
constexpr size_t NODE_FRAME_STRIDE = size_t(1) << NODE_SLOT_BITS;
constexpr size_t NODE_FRAME_COMMIT = (NODES_PER_FRAME * sizeof(uintptr_t) + 4095) & ~size_t(4095);
static_assert(NODE_FRAME_COMMIT <= NODE_FRAME_STRIDE * sizeof(uintptr_t));

// ================================================================ blocks from the system

// Until the OS layer offers page blocks, frames come from the C heap; every
// block is counted in `total` by its page-rounded size.
constexpr size_t PAGE = 4096;
static uint64_t total_bytes = 0;

static size_t page_round(size_t n) { return (n + PAGE - 1) & ~(PAGE - 1); }

static void* system_block_alloc(size_t n) {
    size_t rounded = page_round(n);
    void* p = std::malloc(rounded);
    if (!p) return nullptr;
    total_bytes += rounded;
    return p;
}

static void system_block_free(void* p, size_t n) {
    if (!p) return;
    total_bytes -= page_round(n);
    std::free(p);
}

void fatal_out_of_memory() {
    std::fputs("** Runtime error 94: out of memory\n", stderr);
    std::exit(94);
}

// ================================================================ node frames

// A free slot holds (next free index + 1) << 1 | 1; a used slot holds its
// buffer's address (even, 0 until alloc_series links it).
struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t number;
    int32_t free_head;          // slot index, -1 when full
    uint32_t used;
    uint32_t used_at_last_sweep;
    uint32_t history;           // one bit per sweep: 1 when used did not change
    uint64_t stamp;             // cycle count when made
    bool evacuated;             // takes no new nodes; freed at the next sweep
    uintptr_t* slots;           // its stretch of the node table
};

static NodeFrame* node_frame_by_number[MAX_NODE_FRAMES];
static NodeFrame* first_node_frame = nullptr;
static NodeFrame* last_node_frame = nullptr;
static NodeFrame* current_node_frame = nullptr;
static uint32_t node_frame_count = 0;
static uint32_t next_frame_number = 1;
static std::deque<uint32_t> free_frame_numbers;
constexpr size_t FRAME_NUMBER_QUARANTINE = 64;
static uint64_t cycle_count = 0;

static inline bool slot_is_free(uintptr_t v) { return (v & 1) != 0; }
static inline uintptr_t free_link(int32_t next) { return (uintptr_t(next + 1) << 1) | 1; }
static inline int32_t free_next(uintptr_t v) { return int32_t(v >> 1) - 1; }

// `fatal` is for the collector, which cannot raise.
static NodeFrame* node_frame_make(bool fatal = false) {
    if (!detail::node_table) {
        size_t bytes = size_t(MAX_NODE_FRAMES) * NODE_FRAME_STRIDE * sizeof(uintptr_t);
        detail::node_table = static_cast<uintptr_t*>(os::virtual_reserve(bytes));
        if (!detail::node_table) fatal_out_of_memory();
#ifdef __SANITIZE_ADDRESS__
        // The leak checker must see the buffers the table points to.
        __lsan_register_root_region(detail::node_table, bytes);
#endif
    }
    auto* f = static_cast<NodeFrame*>(system_block_alloc(sizeof(NodeFrame)));
    // Numbers are reused oldest first, so a stale node names a missing frame
    // for as long as possible.
    bool reuse = free_frame_numbers.size() > FRAME_NUMBER_QUARANTINE || next_frame_number >= MAX_NODE_FRAMES;
    uintptr_t* slots = nullptr;
    if (f && !(reuse && free_frame_numbers.empty())) {
        uint32_t candidate = reuse ? free_frame_numbers.front() : next_frame_number;
        slots = detail::node_table + size_t(candidate) * NODE_FRAME_STRIDE;
        if (os::virtual_commit(slots, NODE_FRAME_COMMIT)) total_bytes += NODE_FRAME_COMMIT;
        else slots = nullptr;
    }
    if (!slots) {
        system_block_free(f, sizeof(NodeFrame));
        if (fatal) fatal_out_of_memory();
        raise_error(err::internal::no_memory);
    }
    uint32_t number;
    if (reuse) {
        number = free_frame_numbers.front();
        free_frame_numbers.pop_front();
    } else {
        number = next_frame_number++;
    }
    f->slots = slots;
    f->next = nullptr;
    f->prev = last_node_frame;
    f->number = number;
    f->free_head = 0;
    f->used = f->used_at_last_sweep = f->history = 0;
    f->stamp = cycle_count;
    f->evacuated = false;
    for (uint32_t i = 0; i + 1 < NODES_PER_FRAME; ++i) f->slots[i] = free_link(int32_t(i + 1));
    f->slots[NODES_PER_FRAME - 1] = free_link(-1);
    if (last_node_frame) last_node_frame->next = f;
    else first_node_frame = current_node_frame = f;
    last_node_frame = f;
    node_frame_by_number[number] = f;
    ++node_frame_count;
    return f;
}

static void node_frame_free(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next; else first_node_frame = f->next;
    if (f->next) f->next->prev = f->prev; else last_node_frame = f->prev;
    if (current_node_frame == f) current_node_frame = last_node_frame;
    node_frame_by_number[f->number] = nullptr;
    // A stale node of this frame now faults instead of reading a reused slot.
    os::virtual_decommit(f->slots, NODE_FRAME_COMMIT);
    total_bytes -= NODE_FRAME_COMMIT;
    ++buffer_epoch;
    free_frame_numbers.push_back(f->number);
    --node_frame_count;
    system_block_free(f, sizeof(NodeFrame));
}

static NodeRef node_alloc() {
    NodeFrame* f = current_node_frame;
    if (!f || f->free_head < 0 || f->evacuated) {
        for (f = first_node_frame; f; f = f->next)
            if (f->free_head >= 0 && !f->evacuated) break;
        if (!f) f = node_frame_make();
        current_node_frame = f;
    }
    int32_t slot = f->free_head;
    f->free_head = free_next(f->slots[slot]);
    f->slots[slot] = 0;
    ++f->used;
    return (f->number << NODE_SLOT_BITS) | uint32_t(slot);
}

static void node_free(NodeRef node) {
    ++buffer_epoch;
    NodeFrame* f = node_frame_by_number[node >> NODE_SLOT_BITS];
    uint32_t slot = node & NODE_SLOT_MASK;
    assert(f && !slot_is_free(f->slots[slot]));
    f->slots[slot] = free_link(f->free_head);
    f->free_head = int32_t(slot);
    --f->used;
}

bool node_is_live(NodeRef node) {
    uint32_t number = node >> NODE_SLOT_BITS, slot = node & NODE_SLOT_MASK;
    if (number == 0 || number >= MAX_NODE_FRAMES || slot >= NODES_PER_FRAME) return false;
    NodeFrame* f = node_frame_by_number[number];
    return f && f->slots[slot] != 0 && !slot_is_free(f->slots[slot]);
}

uint64_t buffer_epoch = 1;

static inline void node_point(NodeRef node, SeriesBuffer* b) {
    ++buffer_epoch;
    detail::node_table[node] = reinterpret_cast<uintptr_t>(b);
}

// Empty and evacuated frames go back to the system; the first frame with room
// becomes current; each frame's stability history shifts in one bit.
static void node_frames_sweep() {
    bool current_set = false;
    for (NodeFrame* f = first_node_frame; f;) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->evacuated) {
            node_frame_free(f);
        } else {
            if (!current_set && f->used < NODES_PER_FRAME) {
                current_node_frame = f;
                current_set = true;
            }
            f->history = (f->history << 1) | (f->used == f->used_at_last_sweep ? 1u : 0u);
            f->used_at_last_sweep = f->used;
        }
        f = next;
    }
}

// ================================================================ series frames and big series

// Series frames are listed in the order they were made (not by address), so
// allocation and compaction take the same course on every platform.
struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    size_t data_size;
    uint8_t* heap;          // first free byte
    uint8_t* end;           // first byte past the data area
    alignas(16) uint8_t data[];
};

struct BigSeries {
    BigSeries* next;
    BigSeries* prev;
    size_t bytes;           // need: header + size
    alignas(16) uint8_t data[];
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(data); }
};

static SeriesFrame* first_series_frame = nullptr;
static SeriesFrame* last_series_frame = nullptr;
static SeriesFrame* current_series_frame = nullptr;
static uint32_t series_frame_count = 0;
static uint32_t next_frame_size = SERIES_FRAME_INITIAL;
static BigSeries* first_big = nullptr;
static BigSeries* last_big = nullptr;
static uint32_t big_count = 0;
static std::vector<SeriesBuffer*> malloc_buffers;   // their marks are cleared after each collection

static inline SeriesBuffer* buffer_at(uint8_t* p) { return reinterpret_cast<SeriesBuffer*>(p); }
static inline size_t buffer_need(const SeriesBuffer* b) { return SERIES_HEADER_BYTES + b->size; }

static void series_frame_append(SeriesFrame* f) {
    f->next = nullptr;
    f->prev = last_series_frame;
    if (last_series_frame) last_series_frame->next = f; else first_series_frame = f;
    last_series_frame = f;
}

// Frames a torture collection releases wait poisoned for a few collections
// before they are reused or go back to the C heap, so that a stale pointer
// reads poison rather than a buffer the block received since.
constexpr size_t QUARANTINE_FRAMES = 8;
static std::vector<SeriesFrame*>& quarantine = *new std::vector<SeriesFrame*>;   // outlives exit handlers

// The oldest quarantined frame of the size, once the quarantine is full:
// torture then rotates through a fixed set of blocks instead of asking the
// system at every allocation.
static SeriesFrame* reuse_quarantined(size_t data_size) {
    if (quarantine.size() < QUARANTINE_FRAMES) return nullptr;
    for (size_t i = 0; i < quarantine.size(); ++i) {
        if (quarantine[i]->data_size == data_size) {
            SeriesFrame* f = quarantine[i];
            quarantine.erase(quarantine.begin() + ptrdiff_t(i));
            return f;
        }
    }
    return nullptr;
}

// Frames go 1 MB, 2 MB, 2 MB ...; `fatal` is for the collector, which cannot raise.
static SeriesFrame* series_frame_make(bool fatal = false) {
    size_t data_size = next_frame_size;
    if (next_frame_size < BIG_SERIES_THRESHOLD) next_frame_size *= 2;
    auto* f = reuse_quarantined(data_size);
    if (!f) f = static_cast<SeriesFrame*>(system_block_alloc(sizeof(SeriesFrame) + data_size));
    if (!f) {
        if (fatal) fatal_out_of_memory();
        raise_error(err::internal::no_memory);
    }
    f->data_size = data_size;
    f->heap = f->data;
    f->end = f->data + data_size;
    series_frame_append(f);
    ++series_frame_count;
    if (!current_series_frame) current_series_frame = f;
    return f;
}

static void series_frame_free(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next; else first_series_frame = f->next;
    if (f->next) f->next->prev = f->prev; else last_series_frame = f->prev;
    if (current_series_frame == f) current_series_frame = last_series_frame;
    --series_frame_count;
    system_block_free(f, sizeof(SeriesFrame) + f->data_size);
}

static SeriesFrame* series_frame_find(size_t need) {
    for (SeriesFrame* f = first_series_frame; f; f = f->next)
        if (size_t(f->end - f->heap) > need) return f;
    return nullptr;
}

static SeriesBuffer* big_series_alloc(size_t need) {
    auto* r = static_cast<BigSeries*>(system_block_alloc(sizeof(BigSeries) + need));
    if (!r) raise_error(err::internal::no_memory);
    r->bytes = need;
    r->next = nullptr;
    r->prev = last_big;
    if (last_big) last_big->next = r; else first_big = r;
    last_big = r;
    ++big_count;
    return r->buffer();
}

static void big_series_free(BigSeries* r) {
    if (r->prev) r->prev->next = r->next; else first_big = r->next;
    if (r->next) r->next->prev = r->prev; else last_big = r->prev;
    --big_count;
    system_block_free(r, sizeof(BigSeries) + r->bytes);
}

// ================================================================ allocation

static bool collecting = false;
static uint64_t collections = 0;
static uint64_t bytes_moved_last = 0;
static uint64_t node_compactions = 0;

// Nodes an allocation routine holds while it allocates (the buffer being
// expanded or copied): they survive the collection that allocation may run.
static NodeRef pinned_nodes[4];
static int pinned_count = 0;
struct PinNode {
    explicit PinNode(NodeRef n) : index(pinned_count++) { pinned_nodes[index] = n; }
    ~PinNode() { --pinned_count; }
    NodeRef get() const { return pinned_nodes[index]; }   // renumbered by node evacuation
    int index;
};

// Allocation pressure collects only once the bytes carved since the last
// collection reach what that collection kept: a growing live set then costs
// the collector work in proportion to allocation, not to frames filled.
static uint64_t carved_since_collection = 0;
static uint64_t kept_by_last_collection = 0;

static void pressure() {
    if (carved_since_collection >= kept_by_last_collection) gc_collect_if_pressure();
}

static size_t series_size_for(uint64_t bytes) {
    uint64_t size = (bytes + 15) & ~uint64_t(15);
    if (size > MAX_SERIES_BYTES) raise_error(err::internal::no_memory);
    return size_t(size);
}

// The core allocator: size is already a multiple of 16. The collector may run
// here, before the new buffer exists.
static SeriesBuffer* series_alloc(size_t size, uint32_t unit, int32_t offset) {
    size_t need = SERIES_HEADER_BYTES + size;
    if (offset > int32_t(size)) raise_error(err::internal::no_memory);
    bool collected = false;
    if (gc_torture && collector_enabled && !collecting && ++torture_countdown >= gc_torture_interval) {
        torture_countdown = 0;
        gc_collect();
        collected = true;
    }
    SeriesBuffer* b;
    uint32_t flags = unit | SER_LIVE | SER_ALLOCATED;
    if (need >= BIG_SERIES_THRESHOLD) {
        if (!collected) pressure();
        b = big_series_alloc(need);
        flags |= SER_BIG;
    } else {
        SeriesFrame* f = current_series_frame;
        if (!f || size_t(f->end - f->heap) <= need) {
            f = series_frame_find(need);
            if (!f) {
                if (!collected) pressure();
                f = series_frame_find(need);
                if (!f || size_t(f->end - f->heap) < PREDECESSOR_MIN_ROOM) {
                    if (need >= next_frame_size) next_frame_size = BIG_SERIES_THRESHOLD;
                    f = series_frame_make();
                }
            }
            current_series_frame = f;
        }
        b = buffer_at(f->heap);
        f->heap += need;
    }
    carved_since_collection += need;
    if (offset < 0) {
        flags |= SER_HEAD_ROOM;
        offset = int32_t(size >> 1);
    }
    b->flags = flags;
    b->node = 0;
    b->size = uint32_t(size);
    b->head = b->tail = uint32_t(offset);
    b->spare = 0;
    return b;
}

static NodeRef link_new_node(SeriesBuffer* b) {
    NodeRef node = node_alloc();
    // No count: nothing can have kept an address for a node that had no buffer
    // (a freed node counted when it was freed), and most allocations are these.
    detail::node_table[node] = reinterpret_cast<uintptr_t>(b);
    b->node = node;
    return node;
}

NodeRef alloc_series(uint32_t count, uint32_t unit, int32_t offset) {
    size_t size = series_size_for(uint64_t(count) * unit);
    return link_new_node(series_alloc(size, unit, offset));
}

NodeRef alloc_series_cells(uint32_t n) { return alloc_series(n, 16, 0); }

NodeRef alloc_series_unset(uint32_t n) {
    NodeRef node = alloc_series_cells(n);
    SeriesBuffer* b = node_buffer(node);
    Cell* c = reinterpret_cast<Cell*>(b->data);
    for (uint32_t i = 0; i < b->size / 16; ++i) set_unset(c + i);
    return node;
}

NodeRef alloc_series_bytes(uint32_t size) { return alloc_series(size ? size : 16, 1, 0); }

NodeRef alloc_series_units(uint32_t count, uint32_t unit) {
    return alloc_series(count ? count : 16 >> (unit >> 1), unit, 0);
}

NodeRef alloc_series_filled(uint32_t size, uint8_t byte) {
    NodeRef node = alloc_series_bytes(size);
    SeriesBuffer* b = node_buffer(node);
    std::memset(b->data, byte, b->size);
    return node;
}

NodeRef alloc_series_malloc(uint32_t count, uint32_t unit, int32_t offset) {
    size_t size = series_size_for(uint64_t(count) * unit);
    if (offset > int32_t(size)) raise_error(err::internal::no_memory);
    auto* b = static_cast<SeriesBuffer*>(std::calloc(1, sizeof(SeriesBuffer) + size));
    if (!b) fatal_out_of_memory();
    b->flags = unit | SER_LIVE | SER_MALLOC | SER_ALLOCATED;
    if (offset < 0) {
        b->flags |= SER_HEAD_ROOM;
        offset = int32_t(size >> 1);
    }
    b->size = uint32_t(size);
    b->head = b->tail = uint32_t(offset);
    malloc_buffers.push_back(b);
    return link_new_node(b);
}

void set_series_flags(NodeRef node, uint32_t bits) { node_buffer(node)->flags |= bits; }

// ================================================================ growing and copying

// Fills space no buffer owns any more: as a cell header it names no datatype.
constexpr uint8_t POISON_BYTE = 0xDB;

static void abandon(SeriesBuffer* old) {
    old->node = 0;
    old->flags &= ~SER_LIVE;
}

// An abandoned frame buffer waits for the collector; a malloc one is no
// collector's business and goes now (after its contents were copied). With
// the checks on, its data is poisoned first, so that a pointer kept across the
// growth reads cells of no datatype, which the cell checks report at once.
static void release_if_malloc(SeriesBuffer* old) {
#if TEV_CHECKS
    std::memset(old->data, POISON_BYTE, old->size);
#endif
    if (!(old->flags & SER_MALLOC)) return;
    malloc_buffers.erase(std::find(malloc_buffers.begin(), malloc_buffers.end(), old));
    std::free(old);
}

// Allocates the new buffer, then re-reads the old one through the node: the
// allocation may have moved it. *old_out is the abandoned buffer, valid until
// the next allocation.
static SeriesBuffer* expand_impl(NodeRef node, uint32_t new_size, SeriesBuffer** old_out) {
    SeriesBuffer* old = node_buffer(node);
    uint64_t size = new_size ? new_size : uint64_t(old->size) * 2;
    if (size < 16) size = 16;   // a zero-capacity buffer must still grow
    uint32_t unit = old->unit();
    SeriesBuffer* b;
    {
        PinNode pin(node);
        b = series_alloc(series_size_for(size), unit, 0);
        node = pin.get();
    }
    old = node_buffer(node);
    b->flags |= old->flags & SER_CONTENT_FLAGS;
    b->node = node;
    uint32_t used = old->tail - old->head;
    b->tail = used < b->size ? used : b->size;
    node_point(node, b);
    abandon(old);
    *old_out = old;
    return b;
}

SeriesBuffer* expand_series(NodeRef node, uint32_t new_size) {
    SeriesBuffer* old;
    SeriesBuffer* b = expand_impl(node, new_size, &old);
    release_if_malloc(old);
    return b;
}

SeriesBuffer* expand_series_copy(NodeRef node, uint32_t new_size) {
    SeriesBuffer* old;
    SeriesBuffer* b = expand_impl(node, new_size, &old);
    uint32_t len = old->size - old->head;
    std::memcpy(b->data, old->data + old->head, len < b->size ? len : b->size);
    release_if_malloc(old);
    return b;
}

SeriesBuffer* expand_series_fill(NodeRef node, uint32_t new_size, uint8_t byte) {
    SeriesBuffer* old;
    SeriesBuffer* b = expand_impl(node, new_size, &old);
    uint32_t len = old->size - old->head;
    if (len > b->size) len = b->size;
    std::memcpy(b->data, old->data + old->head, len);
    std::memset(b->data + len, byte, b->size - len);
    release_if_malloc(old);
    return b;
}

SeriesBuffer* series_ensure_room(NodeRef node, uint32_t extra) {
    SeriesBuffer* b = node_buffer(node);
    if (b->room() >= extra) return b;
    uint64_t need = uint64_t(b->tail - b->head) + extra;
    uint64_t size = uint64_t(b->size) * 2;
    if (size < need) size = need;
    if (size > MAX_SERIES_BYTES) raise_error(err::internal::no_memory);
    return expand_series_copy(node, uint32_t(size));
}

NodeRef copy_series(NodeRef node) {
    SeriesBuffer* b;
    {
        PinNode pin(node);
        b = series_alloc(node_buffer(node)->size, node_buffer(node)->unit(), 0);
        node = pin.get();
    }
    SeriesBuffer* old = node_buffer(node);
    b->flags |= old->flags & SER_CONTENT_FLAGS;
    b->tail = old->tail - old->head;
    std::memcpy(b->data, old->data + old->head, old->size - old->head);
    return link_new_node(b);
}

// ================================================================ roots

constexpr int MAX_ROOT_ENTRIES = 100;
struct RootEntry { Cell* first; size_t count; };
static RootEntry root_entries[MAX_ROOT_ENTRIES];
static int root_entry_count = 0;
static MarkHookFn mark_hooks[MAX_ROOT_ENTRIES];
static int mark_hook_count = 0;

void gc_add_root_cells(Cell* first, size_t n) {
    for (int i = 0; i < root_entry_count; ++i)
        if (!root_entries[i].first) { root_entries[i] = {first, n}; return; }
    if (root_entry_count >= MAX_ROOT_ENTRIES) raise_error_int(err::internal::limit_hit, MAX_ROOT_ENTRIES);
    root_entries[root_entry_count++] = {first, n};
}
void gc_add_root(Cell* cell) { gc_add_root_cells(cell, 1); }
void gc_remove_root(Cell* cell) {
    for (int i = 0; i < root_entry_count; ++i)
        if (root_entries[i].first == cell) { root_entries[i] = {nullptr, 0}; return; }
}

void gc_add_mark_hook(MarkHookFn fn) {
    for (int i = 0; i < mark_hook_count; ++i)
        if (!mark_hooks[i]) { mark_hooks[i] = fn; return; }
    if (mark_hook_count >= MAX_ROOT_ENTRIES) raise_error_int(err::internal::limit_hit, MAX_ROOT_ENTRIES);
    mark_hooks[mark_hook_count++] = fn;
}
void gc_remove_mark_hook(MarkHookFn fn) {
    for (int i = 0; i < mark_hook_count; ++i)
        if (mark_hooks[i] == fn) { mark_hooks[i] = nullptr; return; }
}

static SweepHookFn sweep_hooks[MAX_ROOT_ENTRIES];
static int sweep_hook_count = 0;

void gc_add_sweep_hook(SweepHookFn fn) {
    if (sweep_hook_count >= MAX_ROOT_ENTRIES) raise_error_int(err::internal::limit_hit, MAX_ROOT_ENTRIES);
    sweep_hooks[sweep_hook_count++] = fn;
}

// RootCells come from fixed chunks (a cell never moves) and are listed while
// live; destruction is nearly always in reverse order, so the search from the
// back is short.
static std::vector<Cell*> root_cells_live;
static std::vector<Cell*> root_cells_free;
static std::vector<Cell*>& root_cell_chunks = *new std::vector<Cell*>;   // never destroyed: cells outlive exit handlers

RootCell::RootCell() {
    if (root_cells_free.empty()) {
        Cell* chunk = new Cell[256];
        root_cell_chunks.push_back(chunk);
        for (int i = 255; i >= 0; --i) root_cells_free.push_back(chunk + i);
    }
    cell_ = root_cells_free.back();
    root_cells_free.pop_back();
    set_unset(cell_);
    root_cells_live.push_back(cell_);
}
RootCell::RootCell(const Cell& v) : RootCell() { *cell_ = v; }
RootCell::~RootCell() {
    for (size_t i = root_cells_live.size(); i-- > 0;) {
        if (root_cells_live[i] == cell_) {
            root_cells_live[i] = root_cells_live.back();
            root_cells_live.pop_back();
            break;
        }
    }
    root_cells_free.push_back(cell_);
}

// ================================================================ marking

// Buffers of cells waiting to have their cells marked: deep data is walked
// from this stack, never by recursion.
static std::vector<SeriesBuffer*> mark_stack;
static MarkCellFn mark_fns[256];
static RawMap* moved_nodes = nullptr;   // old node -> new node, during evacuation

static inline void mark_buffer(SeriesBuffer* b) {
    if (b->flags & SER_MARK) return;
    b->flags |= SER_MARK;
    if (b->unit() == 16 && b->tail > b->head) mark_stack.push_back(b);
}

void gc_mark_node(NodeRef node) {
    if (!node) return;
    assert(node_is_live(node));
    mark_buffer(node_buffer(node));
}

bool gc_mark_node_ref(NodeRef* slot) {
    NodeRef node = *slot;
    if (!node) return false;
    if (moved_nodes) {
        if (const uint32_t* moved = raw_map_get(moved_nodes, node)) *slot = node = *moved;
    }
    TEV_ASSERT(node_is_live(node));
    SeriesBuffer* b = node_buffer(node);
    if (b->flags & SER_MARK) return false;
    mark_buffer(b);
    return true;
}

bool gc_node_marked(NodeRef node) {
    if (moved_nodes) {
        if (const uint32_t* moved = raw_map_get(moved_nodes, node)) node = *moved;
    }
    return node && (node_buffer(node)->flags & SER_MARK) != 0;
}

void gc_update_nodes(NodeRef* first, size_t n) {
    if (!moved_nodes) return;
    for (size_t i = 0; i < n; ++i)
        if (const uint32_t* moved = raw_map_get(moved_nodes, first[i])) first[i] = *moved;
}

// The cell's words that hold nodes, per type. Words are rewritten in place
// when node evacuation moved the node (the cell is the reference's home).
static inline void mark_word(const Cell* c, uint32_t Cell::*w) {
    gc_mark_node_ref(&(const_cast<Cell*>(c)->*w));
}

constexpr uint32_t FLAG_CONTEXT_ON_STACK = 0x400000;
constexpr uint32_t FLAG_EVENT_HAS_BLOCK = 0x1000;

void gc_mark_cell_default(const Cell* c) {
    TypeId t = cell_type(c);
    switch (t) {
    case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
        mark_word(c, &Cell::w1);
        return;
    case T_SYMBOL:
        mark_word(c, &Cell::w3);
        mark_word(c, &Cell::w2);
        return;
    case T_OBJECT: case T_ERROR: case T_PORT:
        mark_word(c, &Cell::w1);
        mark_word(c, &Cell::w3);
        return;
    case T_CONTEXT:
        mark_word(c, &Cell::w1);
        if (!cell_has_flag(c, FLAG_CONTEXT_ON_STACK)) mark_word(c, &Cell::w2);
        return;
    case T_MAP: case T_HASH:
        mark_word(c, &Cell::w2);
        mark_word(c, &Cell::w3);
        return;
    case T_FUNCTION: case T_ROUTINE:
        mark_word(c, &Cell::w1);
        mark_word(c, &Cell::w2);
        mark_word(c, &Cell::w3);
        return;
    case T_NATIVE: case T_ACTION: case T_OP: {
        mark_word(c, &Cell::w2);
        mark_word(c, &Cell::w3);
        TypeId kind = op_source_type(c);
        if (t == T_OP && (kind == T_FUNCTION || kind == T_ROUTINE)) mark_word(c, &Cell::w1);
        return;
    }
    case T_HANDLE:
        if (int32_t(c->w3) >= 0) handle_table_mark(int32_t(c->w3), nullptr);
        return;
    case T_EVENT:
        if (cell_has_flag(c, FLAG_EVENT_HAS_BLOCK)) mark_word(c, &Cell::w2);
        return;
    default:
        break;
    }
    if (type_is_series(t) || t == T_BITSET) {
        mark_word(c, &Cell::w2);
        if (type_is_string(t)) mark_word(c, &Cell::w3);
    }
}

void gc_register_mark(TypeId t, MarkCellFn fn) { mark_fns[t] = fn ? fn : gc_mark_cell_default; }

// Every cell the collector reaches is checked after its nodes are brought up
// to date: a malformed cell is reported by the first collection that sees it.
// Type 0 marks the empty rows of tables and cells not yet written.
static inline void check_marked(const Cell* c) {
    if (cell_type(c) != T_NONE_ID) TEV_CHECK_CELL(c);
}

void gc_mark_cell(const Cell* c) {
    mark_fns[cell_type(c)](c);
    check_marked(c);
}

void gc_mark_cells(const Cell* c, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        mark_fns[cell_type(c + i)](c + i);
        check_marked(c + i);
    }
}

static void mark_drain() {
    while (!mark_stack.empty()) {
        SeriesBuffer* b = mark_stack.back();
        mark_stack.pop_back();
        gc_mark_cells(b->cells(), (b->tail - b->head) / 16);
    }
}

static void mark_roots() {
    for (int i = 0; i < root_entry_count; ++i) {
        if (root_entries[i].first) gc_mark_cells(root_entries[i].first, root_entries[i].count);
        mark_drain();
    }
    for (Cell* c : root_cells_live) {
        gc_mark_cell(c);
        mark_drain();
    }
    for (int i = 0; i < pinned_count; ++i) gc_mark_node_ref(&pinned_nodes[i]);
    mark_drain();
    for (int i = 0; i < mark_hook_count; ++i) {
        if (mark_hooks[i]) mark_hooks[i]();
        mark_drain();
    }
    slot_table_mark();
    cycle_mark_for_collector();
    mark_drain();
}

// ================================================================ node-frame evacuation

// A frame whose use has not changed for six sweeps and is under half full is
// emptied into other frames while plenty of free nodes exist elsewhere; the
// references marking meets are rewritten through moved_nodes.
constexpr uint32_t STABLE_WINDOW_MASK = (1u << 6) - 1;

static NodeFrame* evacuation_target(NodeFrame* avoid) {
    NodeFrame* f = current_node_frame;
    if (f && f != avoid && f->free_head >= 0 && !f->evacuated) return f;
    for (f = first_node_frame; f; f = f->next)
        if (f != avoid && f->free_head >= 0 && !f->evacuated) break;
    if (!f) f = node_frame_make(true);
    current_node_frame = f;
    return f;
}

static void evacuate_node_frame(NodeFrame* from) {
    from->evacuated = true;   // no longer a target
    for (uint32_t slot = 0; slot < NODES_PER_FRAME && from->used; ++slot) {
        uintptr_t v = from->slots[slot];
        if (!v || slot_is_free(v)) continue;
        NodeFrame* to = evacuation_target(from);
        int32_t s = to->free_head;
        to->free_head = free_next(to->slots[s]);
        to->slots[s] = v;
        ++to->used;
        NodeRef old_node = (from->number << NODE_SLOT_BITS) | slot;
        NodeRef new_node = (to->number << NODE_SLOT_BITS) | uint32_t(s);
        reinterpret_cast<SeriesBuffer*>(v)->node = new_node;
        raw_map_put(moved_nodes, old_node, new_node);
        from->slots[slot] = 0;
        --from->used;
    }
}

static void node_compaction() {
    NodeFrame* f = first_node_frame;
    while (f && (f->free_head < 0 || f->evacuated)) f = f->next;
    if (!f) return;
    current_node_frame = f;
    uint64_t free_nodes = 0;
    for (NodeFrame* g = first_node_frame; g; g = g->next)
        if (g->free_head >= 0 && !g->evacuated) free_nodes += NODES_PER_FRAME - g->used;
    bool any = false;
    for (NodeFrame* g = last_node_frame; g; g = g->prev) {
        if ((g->history & STABLE_WINDOW_MASK) != STABLE_WINDOW_MASK) continue;
        if (g->used >= NODES_PER_FRAME / 2 || free_nodes <= NODES_PER_FRAME) continue;
        if (g == current_node_frame || g->evacuated) continue;
        if (!moved_nodes) moved_nodes = raw_map_create(20000);
        free_nodes -= NODES_PER_FRAME;
        evacuate_node_frame(g);
        any = true;
    }
    if (any) ++node_compactions;
}

// Torture: every node is renumbered into fresh frames, so a NodeRef that
// escaped marking names a released frame at once.
static void node_evacuate_all() {
    NodeFrame* last_old = last_node_frame;
    if (!last_old) return;
    for (NodeFrame* g = first_node_frame; g; g = g->next) g->evacuated = true;
    current_node_frame = nullptr;
    if (!moved_nodes) moved_nodes = raw_map_create(20000);
    for (NodeFrame* g = first_node_frame;; g = g->next) {
        evacuate_node_frame(g);
        if (g == last_old) break;
    }
    ++node_compactions;
}

// ================================================================ series compaction

static uint64_t bytes_moved = 0;

static inline void release_unreached(SeriesBuffer* b) {
    if (b->node) node_free(b->node);
}

static inline void move_buffer(SeriesBuffer* b, uint8_t* to) {
    size_t len = buffer_need(b);
    NodeRef node = b->node;
    std::memmove(to, b, len);
    node_point(node, buffer_at(to));
    bytes_moved += len;
}

// After a collection allocation starts again from the first frame worth
// filling, so low frames fill up before later ones.
static SeriesFrame* first_frame_with_room() {
    SeriesFrame* f = series_frame_find(PREDECESSOR_MIN_ROOM);
    return f ? f : last_series_frame;
}

// Live buffers slide down to the first gap of their frame, or into the
// preceding frame while it has a worthwhile room; dead ones release their
// node. A frame left empty returns to the system unless it is the last.
static void compact_series_frames() {
    SeriesFrame* pred = nullptr;
    for (SeriesFrame* f = first_series_frame; f;) {
        SeriesFrame* next = f->next;
        uint8_t* dest = nullptr;
        size_t room = pred ? size_t(pred->end - pred->heap) : 0;
        bool to_pred = room > PREDECESSOR_MIN_ROOM;
        for (uint8_t* p = f->data; p < f->heap;) {
            SeriesBuffer* b = buffer_at(p);
            size_t len = buffer_need(b);
            if (!(b->flags & SER_MARK)) {
                release_unreached(b);
                if (!dest) dest = p;
            } else {
                b->flags &= ~SER_MARK;
                if (to_pred && len <= room) {
                    move_buffer(b, pred->heap);
                    pred->heap += len;
                    room -= len;
                    if (room <= PREDECESSOR_MIN_ROOM) to_pred = false;
                    if (!dest) dest = p;
                } else if (dest) {
                    move_buffer(b, dest);
                    dest += len;
                } else {
                    to_pred = false;
                }
            }
            p += len;
        }
        if (dest) {
#if TEV_CHECKS
            std::memset(dest, POISON_BYTE, size_t(f->heap - dest));  // what slid down left its old copy here
#endif
            f->heap = dest;
        }
        if (f->heap == f->data && f->next) {
            series_frame_free(f);
        } else {
            pred = f;
        }
        f = next;
    }
    current_series_frame = first_frame_with_room();
}

// Torture: every live buffer goes to fresh frames and the old frames are
// poisoned and released, so a pointer kept across an allocation reads garbage
// (or faults) at once instead of by chance.
static void quarantine_frame(SeriesFrame* f) {
    std::memset(f->data, POISON_BYTE, size_t(f->heap - f->data));
    quarantine.push_back(f);
    if (quarantine.size() > QUARANTINE_FRAMES) {
        SeriesFrame* oldest = quarantine.front();
        quarantine.erase(quarantine.begin());
        system_block_free(oldest, sizeof(SeriesFrame) + oldest->data_size);
    }
}

static void evacuate_series_frames() {
    SeriesFrame* old = first_series_frame;
    first_series_frame = last_series_frame = current_series_frame = nullptr;
    series_frame_count = 0;
    next_frame_size = SERIES_FRAME_INITIAL;
    SeriesFrame* to = nullptr;
    for (SeriesFrame* f = old; f;) {
        SeriesFrame* next = f->next;
        for (uint8_t* p = f->data; p < f->heap;) {
            SeriesBuffer* b = buffer_at(p);
            size_t len = buffer_need(b);
            if (!(b->flags & SER_MARK)) {
                release_unreached(b);
            } else {
                b->flags &= ~SER_MARK;
                if (!to || size_t(to->end - to->heap) <= len) to = series_frame_make(true);
                move_buffer(b, to->heap);
                to->heap += len;
            }
            p += len;
        }
        quarantine_frame(f);
        f = next;
    }
    current_series_frame = first_frame_with_room();
}

static void big_series_sweep() {
    for (BigSeries* r = first_big; r;) {
        BigSeries* next = r->next;
        SeriesBuffer* b = r->buffer();
        if (b->flags & SER_MARK) {
            b->flags &= ~SER_MARK;
        } else {
            release_unreached(b);
            big_series_free(r);
        }
        r = next;
    }
}

// ================================================================ the collection

bool gc_collecting() { return collecting; }
uint64_t gc_cycle_count() { return cycle_count; }

void gc_collect() {
    if (collecting) return;
    collecting = true;
    ++buffer_epoch;
    bytes_moved = 0;
    if (gc_node_evacuation) {
        if (gc_torture) node_evacuate_all();
        else node_compaction();
    }
    mark_roots();
    cycle_update_nodes();
    handle_table_sweep();
    for (int i = 0; i < sweep_hook_count; ++i) sweep_hooks[i]();
    if (gc_torture) evacuate_series_frames();
    else compact_series_frames();
    big_series_sweep();
    node_frames_sweep();
    if (moved_nodes) {
        raw_map_free(moved_nodes);
        moved_nodes = nullptr;
    }
    for (SeriesBuffer* b : malloc_buffers) b->flags &= ~SER_MARK;
    bytes_moved_last = bytes_moved;
    carved_since_collection = 0;
    kept_by_last_collection = memory_stats().series_bytes_used;
    ++collections;
    ++cycle_count;
    ++buffer_epoch;
    collecting = false;
}

void gc_collect_if_pressure() {
    if (collector_enabled && !collecting) gc_collect();
}

int32_t series_frame_of(NodeRef node) {
    auto* b = reinterpret_cast<uint8_t*>(node_buffer(node));
    int32_t i = 0;
    for (SeriesFrame* f = first_series_frame; f; f = f->next, ++i)
        if (b >= f->data && b < f->heap) return i;
    return -1;
}

uint32_t series_frame_room(int32_t index) {
    SeriesFrame* f = first_series_frame;
    while (f && index-- > 0) f = f->next;
    return f ? uint32_t(f->end - f->heap) : 0;
}

MemoryStats memory_stats() {
    MemoryStats s{};
    s.total_bytes = total_bytes;
    s.node_frames = node_frame_count;
    s.series_frames = series_frame_count;
    s.big_series = big_count;
    for (NodeFrame* f = first_node_frame; f; f = f->next) s.nodes_used += f->used;
    for (SeriesFrame* f = first_series_frame; f; f = f->next) s.series_bytes_used += uint64_t(f->heap - f->data);
    for (BigSeries* r = first_big; r; r = r->next) s.series_bytes_used += r->bytes;
    s.collections = collections;
    s.bytes_moved_last = bytes_moved_last;
    s.node_compactions = node_compactions;
    return s;
}

void memory_frame_figures(FrameFigures* out) {
    for (NodeFrame* f = first_node_frame; f; f = f->next)
        out->node_frames.push_back({NODES_PER_FRAME - f->used, f->used, NODES_PER_FRAME});
    for (SeriesFrame* f = first_series_frame; f; f = f->next)
        out->series_frames.push_back({uint64_t(f->end - f->heap), uint64_t(f->heap - f->data), uint64_t(f->end - f->data)});
    for (BigSeries* r = first_big; r; r = r->next) out->big_series.push_back(r->bytes);
    out->node_slot_bytes = sizeof(uintptr_t);
    out->node_frame_header = sizeof(NodeFrame);
    out->series_frame_header = sizeof(SeriesFrame);
    out->big_series_header = sizeof(BigSeries);
}

// ================================================================ start and end

void memory_init() {
    if (first_node_frame) return;
    for (MarkCellFn& fn : mark_fns)
        if (!fn) fn = gc_mark_cell_default;
    if (const char* env = std::getenv("TEV_GC_TORTURE")) {
        uint32_t n = 0;
        for (const char* p = env; *p >= '0' && *p <= '9' && n < 100000000; ++p) n = n * 10 + uint32_t(*p - '0');
        gc_torture = n > 0;
        gc_torture_interval = n > 0 ? n : 1;
    }
    if (const char* env = std::getenv("TEV_GC_EVACUATE")) gc_node_evacuation = env[0] == '1';
    node_frame_make();
    series_frame_make();
}

void memory_release_all() {
    while (first_big) big_series_free(first_big);
    while (first_series_frame) series_frame_free(first_series_frame);
    while (first_node_frame) node_frame_free(first_node_frame);
    for (SeriesFrame* f : quarantine) system_block_free(f, sizeof(SeriesFrame) + f->data_size);
    quarantine.clear();
    for (SeriesBuffer* b : malloc_buffers) std::free(b);
    malloc_buffers.clear();
    free_frame_numbers.clear();
    next_frame_number = 1;
    next_frame_size = SERIES_FRAME_INITIAL;
}

}  // namespace tev

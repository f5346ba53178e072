// Series buffers: carved from memory frames, reached only through nodes so the collector can move them.
//
// THE RULE (read before writing any code that allocates):
//   Any allocation may run the collector, and the collector moves buffers.
//   * A SeriesBuffer* or a pointer into series data is valid only until the next
//     allocation (anything that may allocate: making a value, appending,
//     evaluating). Hold the NodeRef and call node_buffer() again afterwards.
//   * A language value you keep across an allocation must be reachable by the
//     collector: on the value stack (runtime/value_stack.h), in a RootCell, in
//     a block that is itself reachable, or registered with gc_add_root().
//   * A C++ local Cell is invisible to the collector: copy it to the stack first.
//   TEV_GC_TORTURE=1 collects (and moves every buffer it can) at every
//   allocation; the whole test suite passes in that mode.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "runtime/cell.h"
#include "runtime/check.h"

namespace tev {

// Buffer flags (word 0 of the header).
constexpr uint32_t SER_UNIT_MASK = 0x1F;        // 1, 2, 4 (text/bytes) or 16 (cells)
constexpr uint32_t SER_LIVE = 0x80000000;       // cleared when expand_series abandons it
constexpr uint32_t SER_ALLOCATED = 0x20000000;
constexpr uint32_t SER_HEAD_ROOM = 0x10000000;  // first element placed mid-buffer
constexpr uint32_t SER_MARK = 0x8000000;        // collector mark; clear outside a collection
constexpr uint32_t SER_BIG = 0x1000000;         // a block of its own
constexpr uint32_t SER_MALLOC = 0x100000;       // outside the frames: never moved or swept
constexpr uint32_t SER_OWNED = 0x20000;         // recorded in the ownership table
// Loaded from the boot image: the interpreter emits no trace events for it and
// does not move the error `near` position into it.
constexpr uint32_t SER_LIBRARY_FLAG = 0x40000;
// Flags copied when a buffer is expanded or copied; the rest describe the old
// buffer's storage, not its contents.
constexpr uint32_t SER_CONTENT_FLAGS = 0x000FFFFFu & ~SER_UNIT_MASK;

// The header of a buffer. head and tail are byte offsets from data[] (not
// addresses) so that moving a buffer changes nothing inside it.
struct SeriesBuffer {
    uint32_t flags;
    NodeRef node;     // owning node, 0 once abandoned
    uint32_t size;    // capacity of data[] in bytes, a multiple of 16
    uint32_t head;    // byte offset of the first element
    uint32_t tail;    // byte offset just past the last element
    uint32_t spare;
    alignas(8) uint8_t data[];

    uint32_t unit() const { return flags & SER_UNIT_MASK; }
    uint8_t* head_ptr() { return data + head; }
    uint8_t* tail_ptr() { return data + tail; }
    // Units head..tail. Units are powers of two, and a division in the hot
    // paths (every block step asks) costs more than the rest of the step.
    uint32_t count() const {
        uint32_t u = unit(), bytes = tail - head;
        return (u & (u - 1)) ? bytes / u : bytes >> __builtin_ctz(u);
    }
    uint32_t cell_count() const {  // unit 16 only
        TEV_ASSERT(unit() == 16);
        return (tail - head) / 16;
    }
    uint32_t room() const { return size - tail; }                    // free bytes after tail
    Cell* cells() {  // unit 16 only
        TEV_ASSERT(unit() == 16);
        return reinterpret_cast<Cell*>(data + head);
    }
};
static_assert(sizeof(SeriesBuffer) == 24);

// --------------------------------------------------------------- nodes

// A node is (node-frame number << NODE_SLOT_BITS | slot); frame numbers start
// at 1, so 0 is never a node. A node slot holds its buffer's address.
constexpr uint32_t NODE_SLOT_BITS = 14;
constexpr uint32_t NODE_SLOT_MASK = (1u << NODE_SLOT_BITS) - 1;
constexpr uint32_t NODES_PER_FRAME = 10000;
// Frame numbers stay below this (about 20 million nodes at once).
constexpr uint32_t MAX_NODE_FRAMES = 2048;
namespace detail {
// Every node's slot at index `node`: one reserved table in which a frame's
// stretch is committed while the frame lives, so that resolving a node is a
// single read (it is the commonest step of evaluation).
extern uintptr_t* node_table;
}

// True when node names a slot that currently holds a buffer (diagnostics, asserts).
bool node_is_live(NodeRef node);
// Resolve a node to its buffer. Valid until the next allocation.
inline SeriesBuffer* node_buffer(NodeRef node) {
    TEV_ASSERT(node_is_live(node));  // a freed or never-made node resolves to garbage
    return reinterpret_cast<SeriesBuffer*>(detail::node_table[node]);
}
// Counts the events after which a node may name another buffer (or none):
// a buffer moved, grown or freed, a node freed, a collection; not a new node's
// first buffer. A buffer address kept together with this count is current
// while the count has not changed.
extern uint64_t buffer_epoch;
// A small stable number for hashing: nodes are never renumbered while the
// series lives, unlike buffer addresses.
inline uint32_t node_id(NodeRef node) { return node; }

// --------------------------------------------------------------- allocation

// offset: byte offset of the first element from the data start, or -1 for the
// middle (head room both ways). Raises internal/no-memory when the system
// refuses or the size overflows.
NodeRef alloc_series(uint32_t count, uint32_t unit, int32_t offset = 0);
NodeRef alloc_series_cells(uint32_t n);      // unit 16, offset 0
NodeRef alloc_series_unset(uint32_t n);      // cells, whole capacity unset!, tail at head
NodeRef alloc_series_bytes(uint32_t size);   // unit 1; 0 gives 16 bytes
NodeRef alloc_series_units(uint32_t count, uint32_t unit);
NodeRef alloc_series_filled(uint32_t size, uint8_t byte);
// Never moves, never swept (the root block, the stacks).
NodeRef alloc_series_malloc(uint32_t count, uint32_t unit, int32_t offset = 0);
void set_series_flags(NodeRef node, uint32_t bits);

// Grow: the node is re-pointed at a new buffer of new_size bytes (0 = double).
// expand_series leaves the contents behind; the _copy form carries them over,
// the _fill form also sets the new bytes. Return the new buffer (valid until
// the next allocation).
SeriesBuffer* expand_series(NodeRef node, uint32_t new_size);
SeriesBuffer* expand_series_copy(NodeRef node, uint32_t new_size);
SeriesBuffer* expand_series_fill(NodeRef node, uint32_t new_size, uint8_t byte);
// Make sure `extra` more bytes fit after the tail, growing (with copy) when not.
SeriesBuffer* series_ensure_room(NodeRef node, uint32_t extra);
// A new node with a copy of the buffer (same unit and content flags).
NodeRef copy_series(NodeRef node);

// --------------------------------------------------------------- collector

// Sizes of the storage levels.
constexpr uint32_t SERIES_HEADER_BYTES = sizeof(SeriesBuffer);  // need = size + this
constexpr uint32_t SERIES_FRAME_INITIAL = 0x100000;             // the first series frame's data
constexpr uint32_t BIG_SERIES_THRESHOLD = 0x200000;             // also the largest frame
constexpr uint32_t PREDECESSOR_MIN_ROOM = 0xCCCC;               // less is not worth filling
constexpr uint32_t MAX_SERIES_BYTES = 0x7FFFFFF0;

struct MemoryStats {
    uint64_t total_bytes;          // taken from the system
    uint32_t node_frames, series_frames, big_series;
    uint32_t nodes_used;
    uint64_t series_bytes_used;
    uint64_t collections;
    uint64_t bytes_moved_last;     // by the last compaction
    uint64_t node_compactions;     // collections that evacuated a node frame
};

void memory_init();
void memory_release_all();
void gc_collect();                   // always collects (recycle)
void gc_collect_if_pressure();       // the allocation-pressure entry; no-op while disabled
extern bool collector_enabled;       // recycle/on, recycle/off
extern bool gc_torture;              // collect at every allocation (TEV_GC_TORTURE=1)
extern uint32_t gc_torture_interval; // or every Nth (TEV_GC_TORTURE=N) when the live set is large
// Node-frame evacuation renumbers the nodes of sparse frames and rewrites the
// references marking finds. A NodeRef held in a C++ local is not found, so it
// stays off until every such holder is a root.
extern bool gc_node_evacuation;
bool gc_collecting();
uint64_t gc_cycle_count();           // collections so far; node frames remember it
MemoryStats memory_stats();
// Each frame's figures in list order, for `stats/info`. Plain C++ storage:
// gathering them allocates nothing the collector could move.
struct FrameFigures {
    struct Nodes { uint32_t free, used, capacity; };
    struct Series { uint64_t free, used, size; };
    std::vector<Nodes> node_frames;
    std::vector<Series> series_frames;
    std::vector<uint64_t> big_series;           // data bytes of each
    uint64_t node_slot_bytes;                   // per node
    uint64_t node_frame_header, series_frame_header, big_series_header;
};
void memory_frame_figures(FrameFigures* out);
// Where a buffer lives: the position of its series frame in frame order, or
// -1 for a big or malloc series; and the free bytes of a frame. For tests and
// diagnostics.
int32_t series_frame_of(NodeRef node);
uint32_t series_frame_room(int32_t index);
// The system refused memory the runtime cannot do without (its own tables):
// ends the process with runtime error 94.
[[noreturn]] void fatal_out_of_memory();

// Marking. A datatype registers how to mark a cell of its type; the default
// for series types marks the node (and, for cell units, the cells).
// Mark routines and mark hooks run inside a collection: they must not
// allocate, and they reach cells only through gc_mark_* (never recursion).
using MarkCellFn = void (*)(const Cell* c);
void gc_register_mark(TypeId t, MarkCellFn fn);
void gc_mark_node(NodeRef node);           // mark a buffer (cells inside are queued)
void gc_mark_cell(const Cell* c);          // queue a value
void gc_mark_cells(const Cell* c, size_t n);
// Mark the node held in *slot; when node evacuation moved it, *slot is
// rewritten to the new node. Returns true when newly marked.
bool gc_mark_node_ref(NodeRef* slot);
// The built-in marking of a cell (what gc_mark_cell does for a type that
// registered nothing); an override can call it for the common part.
void gc_mark_cell_default(const Cell* c);
// Replace moved nodes in a run of stored node references (tables outside
// cells, such as the cycle guard's stack). No-op unless nodes moved.
void gc_update_nodes(NodeRef* first, size_t n);

// Roots. gc_add_root registers a static cell (at most 100, checked);
// mark hooks run at every collection for module state (symbol table, lexer...).
void gc_add_root(Cell* cell);
void gc_add_root_cells(Cell* first, size_t n);   // a static array: one entry
void gc_remove_root(Cell* cell);
using MarkHookFn = void (*)();
void gc_add_mark_hook(MarkHookFn fn);            // at most 100, checked
void gc_remove_mark_hook(MarkHookFn fn);
// Sweep hooks run once marking is complete, before anything moves or is
// released: weak tables drop entries whose node gc_node_marked() denies.
// A sweep hook must not allocate.
using SweepHookFn = void (*)();
void gc_add_sweep_hook(SweepHookFn fn);          // at most 100, checked
bool gc_node_marked(NodeRef node);               // during a collection

// A scoped root for a value held by C++ code. Stays valid across allocation;
// the cell itself never moves.
class RootCell {
public:
    RootCell();
    explicit RootCell(const Cell& v);
    ~RootCell();
    RootCell(const RootCell&) = delete;
    RootCell& operator=(const RootCell&) = delete;
    Cell* get() { return cell_; }
    Cell* operator->() { return cell_; }
    Cell& operator*() { return *cell_; }
private:
    Cell* cell_;
};

}  // namespace tev

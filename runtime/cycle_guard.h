// Cycle guard: the one stack of series and context nodes that every recursive mold, form,
// compare and copy walk is inside, so that a value containing itself ends the walk.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// At most CYCLE_STACK_SIZE - 1 entries are ever held: the push that would
// fill the stack empties it and raises internal/too-deep.
constexpr uint32_t CYCLE_STACK_SIZE = 1000;

// The node a value is guarded by: the context of an object!, else the series.
inline NodeRef cycle_node_of(const Cell* v) { return cell_is(v, T_OBJECT) ? object_context(v) : series_node(v); }

void cycle_push(NodeRef node);
void cycle_pop();
void cycle_drop(uint32_t n);
void cycle_reset();               // also at each top-level evaluation
bool cycle_find(NodeRef node);
uint32_t cycle_depth();

// The marker mold (or form) prints for a value already being walked:
// "[...]", "(...)", "#[...]", "make object! [...]" or "...".
const char* cycle_marker(TypeId type, bool mold);

// Pushes on construction; the destructor brings the depth back to what it was
// (never above where an error's reset left it), so an error that unwinds
// through a guarded walk leaves no stale entry.
class CycleGuard {
public:
    explicit CycleGuard(NodeRef node) : depth_(cycle_depth()) { cycle_push(node); }
    ~CycleGuard();
    CycleGuard(const CycleGuard&) = delete;
    CycleGuard& operator=(const CycleGuard&) = delete;
private:
    uint32_t depth_;
};

// Collector.
void cycle_mark_for_collector();
void cycle_update_nodes();

}  // namespace tev

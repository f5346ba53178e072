// Cycle guard: a fixed stack of nodes outside the collector's frames; the collector marks them.
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace tev {

static NodeRef cycle_stack[CYCLE_STACK_SIZE];
static uint32_t cycle_top = 0;

void cycle_push(NodeRef node) {
    cycle_stack[cycle_top++] = node;
    if (cycle_top == CYCLE_STACK_SIZE) {
        cycle_top = 0;
        raise_error(err::internal::too_deep);
    }
}

void cycle_pop() {
    if (cycle_top) --cycle_top;
}

void cycle_drop(uint32_t n) { cycle_top = n > cycle_top ? 0 : cycle_top - n; }
void cycle_reset() { cycle_top = 0; }
uint32_t cycle_depth() { return cycle_top; }

bool cycle_find(NodeRef node) {
    for (uint32_t i = 0; i < cycle_top; ++i)
        if (cycle_stack[i] == node) return true;
    return false;
}

CycleGuard::~CycleGuard() {
    if (cycle_top > depth_) cycle_top = depth_;
}

const char* cycle_marker(TypeId type, bool mold) {
    if (!mold) return "...";
    switch (type) {
    case T_BLOCK: case T_HASH: return "[...]";
    case T_PAREN: return "(...)";
    case T_MAP: return "#[...]";
    case T_OBJECT: return "make object! [...]";
    case T_ERROR: return "make error! [...]";
    default: return "...";
    }
}

void cycle_mark_for_collector() {
    for (uint32_t i = 0; i < cycle_top; ++i) gc_mark_node_ref(&cycle_stack[i]);
}

void cycle_update_nodes() { gc_update_nodes(cycle_stack, cycle_top); }

}  // namespace tev

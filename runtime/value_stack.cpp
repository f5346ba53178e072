// The value stack: a fixed array of cells outside the collector's frames.
#include "runtime/value_stack.h"
#include <cstdlib>
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace tev {

ValueStack vstack;

static void mark_value_stack() { gc_mark_cells(vstack.begin, size_t(vstack.top - vstack.begin)); }

void value_stack_init() {
    if (vstack.begin) return;
    NodeRef node = alloc_series_malloc(VALUE_STACK_CELLS, sizeof(Cell));
    vstack.begin = node_buffer(node)->cells();
    vstack.end = vstack.begin + VALUE_STACK_CELLS;
    vstack.base = vstack.top = vstack.begin;
    gc_add_mark_hook(mark_value_stack);
}

Cell* stack_push() {
    if (vstack.top >= vstack.end) raise_error(err::internal::stack_overflow);
    Cell* c = vstack.top++;
    set_unset(c);
    return c;
}

Cell* stack_push_copy(const Cell* v) {
    Cell copy = *v;  // v may be the cell about to be overwritten
    Cell* c = stack_push();
    *c = copy;
    return c;
}

void stack_pop(size_t n) {
    size_t depth = stack_depth();
    vstack.top = vstack.begin + (n > depth ? 0 : depth - n);
}

}  // namespace tev

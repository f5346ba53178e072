// The value stack and the frame stack: fixed arrays outside the collector's frames.
#include "runtime/value_stack.h"
#include <cstdlib>
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace tev {

ValueStack vstack;
FrameStack fstack;

static void mark_stacks() {
    gc_mark_cells(vstack.begin, size_t(vstack.top - vstack.begin));
    for (uint32_t i = 0; i < fstack.top; ++i) {
        CallFrame& f = fstack.begin[i];
        gc_mark_node_ref(&f.word_context);
        gc_mark_node_ref(&f.function_context);
    }
}

void value_stack_init() {
    if (vstack.begin) return;
    NodeRef node = alloc_series_malloc(VALUE_STACK_CELLS, sizeof(Cell));
    vstack.begin = node_buffer(node)->cells();
    vstack.end = vstack.begin + VALUE_STACK_CELLS;
    vstack.base = vstack.top = vstack.begin;
    fstack.begin = static_cast<CallFrame*>(std::calloc(FRAME_STACK_RECORDS, sizeof(CallFrame)));
    if (!fstack.begin) report_runtime_error(RT_OUT_OF_MEMORY, TEV_CALLER_ADDRESS());
    fstack.top = 0;
    gc_add_mark_hook(mark_stacks);
}

// Leaves room for the error that reports the overflow to be built.
void raise_stack_overflow() {
    vstack.top = vstack.top - vstack.begin > 5 ? vstack.top - 5 : vstack.begin;
    if (vstack.base > vstack.top) vstack.base = vstack.top;
    raise_error(err::internal::stack_overflow);
}

void stack_pop(size_t n) {
    size_t depth = stack_depth();
    TEV_ASSERT(n <= depth);  // popping more than was pushed: a caller lost count
    vstack.top = vstack.begin + (n > depth ? 0 : depth - n);
}

// ------------------------------------------------------------------ frames

static inline void restore_function(const CallFrame& f) {
    if (f.function_context) context_set_values_word(f.function_context, f.saved_values);
}

void frame_pop_drop() {
    TEV_ASSERT(fstack.top > 0);
    const CallFrame& f = fstack.begin[--fstack.top];
    restore_function(f);
    vstack.top = vstack.begin + f.base;
    vstack.base = vstack.begin + f.saved_base;
}

void frames_unwind_to(uint32_t depth) {
    while (fstack.top > depth) {
        const CallFrame& f = fstack.begin[--fstack.top];
        restore_function(f);
        vstack.base = vstack.begin + f.saved_base;
    }
}

}  // namespace tev

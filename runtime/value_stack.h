// The value stack and the call-frame stack: one fixed array of cells shared by every
// call, and beside it a fixed array of typed frame records saying who runs where.
// Neither moves, so a Cell* into the value stack stays valid across allocation
// (unlike series data). The collector marks every cell from the bottom to the top
// and the contexts named by the frames.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace tev {

constexpr size_t VALUE_STACK_CELLS = 20000;
constexpr size_t FRAME_STACK_RECORDS = 12000;

struct ValueStack {
    Cell* begin = nullptr;
    Cell* end = nullptr;
    Cell* base = nullptr;   // arguments base: the current call's first argument and result slot
    Cell* top = nullptr;    // one past the last used cell
};
extern ValueStack vstack;

void value_stack_init();
// Reserves the next cell (initialised unset!) and returns it; raises
// internal/stack-overflow when the stack is full. The last cell of the area is
// never used: at most VALUE_STACK_CELLS - 1 values.
[[noreturn]] void raise_stack_overflow();
inline Cell* stack_push() {
    if (vstack.top + 1 >= vstack.end) raise_stack_overflow();
    Cell* c = vstack.top++;
    set_unset(c);
    return c;
}
inline Cell* stack_push_copy(const Cell* v) {
    Cell copy = *v;  // v may be the cell about to be overwritten
    if (vstack.top + 1 >= vstack.end) raise_stack_overflow();
    Cell* c = vstack.top++;
    *c = copy;
    return c;
}
inline Cell* stack_top() { return vstack.top > vstack.begin ? vstack.top - 1 : vstack.begin; }
inline size_t stack_depth() { return size_t(vstack.top - vstack.begin); }
void stack_pop(size_t n);
inline void stack_drop_to(Cell* mark) {
    TEV_ASSERT(mark >= vstack.begin && mark < vstack.end);
    vstack.top = mark;
}
inline uint32_t stack_index_of(const Cell* c) { return uint32_t(c - vstack.begin); }
inline Cell* stack_at(uint32_t index) {
    TEV_ASSERT(index < VALUE_STACK_CELLS);
    return vstack.begin + index;
}

// Scoped stack mark: whatever C++ code pushes inside the scope is dropped when
// it ends (also when an error unwinds through it).
class StackScope {
public:
    StackScope() : mark_(vstack.top) {}
    ~StackScope() {
        TEV_ASSERT(mark_ >= vstack.begin && mark_ < vstack.end);
        vstack.top = mark_;
    }
    StackScope(const StackScope&) = delete;
    StackScope& operator=(const StackScope&) = delete;
    Cell* mark() const { return mark_; }
private:
    Cell* mark_;
};

// ------------------------------------------------------------------ frames

enum FrameKind : uint8_t {
    FRAME_FUNCTION = 1,  // a function! call; its context's values live at its arguments base
    FRAME_NATIVE = 2,    // a native!, action! or op! call
    FRAME_TRY = 4,       // stops errors
    FRAME_TRY_ALL = 5,   // stops every non-local exit
    FRAME_CATCH = 6,     // target of throw
    FRAME_EVAL = 7,      // one block evaluation
    FRAME_LOOP = 8,      // target of break and continue
};
constexpr uint8_t FRAME_IN_FUNCTION = 0x10;  // return and exit land here
constexpr uint8_t FRAME_CONSOLE_ONLY = 0x20; // a catch of the console's name alone: other throws pass as if it were absent
constexpr uint8_t FRAME_INTERPRETED = 0x80;  // pushed by the interpreter

// One call-frame record. The symbol id is kept whole (32 bits).
struct CallFrame {
    uint8_t kind;
    uint8_t flags;
    uint32_t symbol;            // the word that named the call; 0 for internal frames
    NodeRef word_context;       // the calling word's binding, to rebuild the word for traces
    NodeRef function_context;   // FRAME_FUNCTION: the called function's context, else 0
    uint32_t saved_values;      // that context's values field before the call
    uint32_t saved_base;        // arguments base (cell index) in force before the push
    uint32_t base;              // this frame's own arguments base (cell index)
};

struct FrameStack {
    CallFrame* begin = nullptr;
    uint32_t top = 0;           // number of frames in use
};
extern FrameStack fstack;

inline uint32_t frame_depth() { return fstack.top; }
inline CallFrame* frame_top() { return fstack.top ? &fstack.begin[fstack.top - 1] : nullptr; }
inline CallFrame* frame_at(uint32_t i) { return &fstack.begin[i]; }

inline uint32_t context_values_word(NodeRef context) { return context_cell_values(node_buffer(context)->cells()); }
inline void context_set_values_word(NodeRef context, uint32_t values) {
    context_cell_set_values(node_buffer(context)->cells(), values);
}

// Pushes a frame and makes the current top the new arguments base; raises
// internal/stack-overflow when the frame stack is full. Returns the new base.
inline Cell* frame_push(uint8_t kind, uint8_t flags, uint32_t symbol, NodeRef word_context) {
    if (fstack.top >= FRAME_STACK_RECORDS) raise_stack_overflow();
    CallFrame& f = fstack.begin[fstack.top++];
    f.kind = kind;
    f.flags = flags;
    f.symbol = symbol;
    f.word_context = word_context;
    f.function_context = 0;
    f.saved_values = 0;
    f.saved_base = stack_index_of(vstack.base);
    f.base = stack_index_of(vstack.top);
    vstack.base = vstack.top;
    return vstack.base;
}
// Pops the top frame: the result (the frame's first cell) stays as the one value
// above the caller's values, and the caller's arguments base comes back.
inline void frame_pop_keep() {
    TEV_ASSERT(fstack.top > 0);
    const CallFrame& f = fstack.begin[--fstack.top];
    TEV_ASSERT(vstack.begin + f.base <= vstack.top);  // nothing below the frame was popped
    if (f.function_context) context_set_values_word(f.function_context, f.saved_values);
    vstack.top = vstack.begin + f.base + 1;
    vstack.base = vstack.begin + f.saved_base;
}
// Pops the top frame dropping everything from its base up (result included).
void frame_pop_drop();
// Pops frames until `depth` remain, restoring function contexts as they go and
// the arguments base saved by the lowest popped frame. The value stack top is
// left alone (the caller decides what it keeps).
void frames_unwind_to(uint32_t depth);

// Function contexts keep their values on the value stack while their call runs.
// The context cell's values word then holds 1 + the cell index of the first
// value (0: no call running). The frame remembers the previous word and puts it
// back when popped, so recursion sees its own arguments again.
// Marks the top frame as a call of `context` whose values start at its base.
inline void frame_enter_function(NodeRef context) {
    CallFrame& f = fstack.begin[fstack.top - 1];
    f.function_context = context;
    f.saved_values = context_values_word(context);
    context_set_values_word(context, f.base + 1);
}

}  // namespace tev

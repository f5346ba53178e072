// The value stack: one fixed array of cells shared by every call; it never moves,
// so a Cell* into it stays valid across allocation (unlike series data).
// The collector marks every cell from the bottom to the top.
#pragma once
#include <cstddef>
#include "runtime/cell.h"

namespace tev {

constexpr size_t VALUE_STACK_CELLS = 20000;

struct ValueStack {
    Cell* begin = nullptr;
    Cell* end = nullptr;
    Cell* base = nullptr;   // arguments base: the current call's first argument and result slot
    Cell* top = nullptr;    // one past the last used cell
};
extern ValueStack vstack;

void value_stack_init();
// Reserves the next cell (initialised unset!) and returns it; raises
// internal/stack-overflow when the stack is full.
Cell* stack_push();
Cell* stack_push_copy(const Cell* v);
inline Cell* stack_top() { return vstack.top > vstack.begin ? vstack.top - 1 : vstack.begin; }
inline size_t stack_depth() { return size_t(vstack.top - vstack.begin); }
void stack_pop(size_t n);
inline void stack_drop_to(Cell* mark) { vstack.top = mark; }

// Scoped stack mark: whatever C++ code pushes inside the scope is dropped when
// it ends (also when an error unwinds through it).
class StackScope {
public:
    StackScope() : mark_(vstack.top) {}
    ~StackScope() { vstack.top = mark_; }
    StackScope(const StackScope&) = delete;
    StackScope& operator=(const StackScope&) = delete;
    Cell* mark() const { return mark_; }
private:
    Cell* mark_;
};

}  // namespace tev

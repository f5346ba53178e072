// Shared fixture for the series and block tests: building blocks of integers, calling actions with refinements.
#pragma once
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {
namespace testing_series {

// A block of integers pushed on the stack; a nested {} inside ints() is not
// supported: use nest() to build deeper shapes.
Cell* ints(std::initializer_list<int> values, TypeId type = T_BLOCK);
// A block holding copies of the given cells.
Cell* block_of(std::initializer_list<const Cell*> cells);
// Sets the series' index and returns it.
inline Cell* at_index(Cell* s, uint32_t index) {
    s->w1 = index;
    return s;
}
// The integers of a block from its index (-999 marks a non-integer cell).
std::vector<int> values_of(const Cell* block);

// A refinement given to an action: its position in the action's refinement
// list and its argument (nullptr for a flag).
struct Ref {
    int index;
    const Cell* arg;
};
// Calls `act` of the first argument's type (or `type` for make/to) with the
// arguments and refinements; returns the result cell (on the stack).
Cell* call(Act act, std::initializer_list<const Cell*> args, std::initializer_list<Ref> refs = {},
           TypeId type = T_NONE_ID);
// The error code raised by fn, or 0.
template <class Fn> uint32_t error_of(Fn fn) {
    try {
        fn();
    } catch (const LanguageThrow&) {
        return last_error_code();
    }
    return 0;
}
Cell* integer(int v);
// mold (or form) of a value as UTF-8.
std::string mold_of(const Cell* v, bool only = false, bool flat = false);
std::string form_of(const Cell* v);

class SeriesTest : public ::testing::Test {
protected:
    void SetUp() override { mark_ = vstack.top; }
    void TearDown() override { stack_drop_to(mark_); }
    Cell* mark_ = nullptr;
};

}  // namespace testing_series
}  // namespace tev

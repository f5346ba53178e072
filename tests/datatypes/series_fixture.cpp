// The series test fixture: registration, block builders and action calls.
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace testing_series {

Cell* integer(int v) {
    Cell* c = stack_push();
    set_integer(c, v);
    return c;
}

Cell* ints(std::initializer_list<int> values, TypeId type) {
    Cell* b = block_push_new(uint32_t(values.size()), type);
    for (int v : values) {
        Cell c;
        set_integer(&c, v);
        block_append(b, &c);
    }
    return b;
}

Cell* block_of(std::initializer_list<const Cell*> cells) {
    Cell* b = block_push_new(uint32_t(cells.size()));
    for (const Cell* c : cells) block_append(b, c);
    return b;
}

std::vector<int> values_of(const Cell* block) {
    std::vector<int> out;
    for (uint32_t i = 0; i < block_length(block); ++i) {
        const Cell* c = block_at(block, i);
        out.push_back(cell_is(c, T_INTEGER) ? get_integer(c) : -999);
    }
    return out;
}

Cell* call(Act act, std::initializer_list<const Cell*> args, std::initializer_list<Ref> refs, TypeId type) {
    Cell* base = vstack.top;
    for (const Cell* a : args) stack_push_copy(a);
    ActionFrame f = action_frame(base, type ? type : cell_type(base));
    for (const Ref& r : refs) {
        if (r.arg) {
            f.refs[r.index] = int8_t(vstack.top - base);
            stack_push_copy(r.arg);
        } else {
            f.refs[r.index] = 0;
        }
    }
    auto fn = reinterpret_cast<ActionFn>(action_table[type ? type : cell_type(base)][int(act) - 1]);
    EXPECT_NE(fn, nullptr);
    fn(f);
    stack_drop_to(base + 1);
    return base;
}

std::string mold_of(const Cell* v, bool only, bool flat) {
    Cell* out = string_push(16);
    auto mold = action_of<Act::mold>(cell_type(v));
    mold(v, out, only, false, flat, nullptr, NO_LIMIT, 0);
    return string_to_utf8(out);
}

std::string form_of(const Cell* v) {
    Cell* out = string_push(16);
    action_of<Act::form>(cell_type(v))(v, out, nullptr, NO_LIMIT);
    return string_to_utf8(out);
}

}  // namespace testing_series
}  // namespace tev

// The series test fixture: registration, block builders and action calls.
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace testing_series {

// integer! arrives with its own unit; until then the tests order and mold
// integers with these (only installed into an empty row).
static int int_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_INTEGER)) return CMP_NOT_COMPARABLE;
    int32_t x = get_integer(a), y = get_integer(b);
    return x < y ? -1 : x > y ? 1 : 0;
}
static int32_t int_mold(const Cell* v, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    std::string s = std::to_string(get_integer(v));
    string_append_ascii(out, s.data(), s.size());
    return limit - int32_t(s.size());
}
static int32_t int_form(const Cell* v, Cell* out, const Cell*, int32_t limit) {
    return int_mold(v, out, false, false, false, nullptr, limit, 0);
}

void ensure_registered() {
    if (!action_of<Act::at>(T_SERIES)) register_series_datatype();
    if (!action_of<Act::append>(T_BLOCK)) register_block_datatype();
    if (!action_of<Act::append>(T_PAREN)) register_paren_datatype();
    if (!action_of<Act::compare>(T_INTEGER)) action_table[T_INTEGER][int(Act::compare) - 1] = reinterpret_cast<ActionEntry>(&int_compare);
    if (!action_of<Act::mold>(T_INTEGER)) action_table[T_INTEGER][int(Act::mold) - 1] = reinterpret_cast<ActionEntry>(&int_mold);
    if (!action_of<Act::form>(T_INTEGER)) action_table[T_INTEGER][int(Act::form) - 1] = reinterpret_cast<ActionEntry>(&int_form);
}

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

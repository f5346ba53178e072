// The action-entry table: how the evaluator calls each of the 62 actions. Most
// slots dispatch on their first argument's type; form, mold, path evaluation
// and comparison have entries of their own around their dispatchers.
#include <algorithm>
#include <cstring>
#include "datatypes/dispatch.h"
#include "datatypes/string.h"
#include "interpreter/natives.h"
#include "runtime/check.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== stack entries

template <Act S> static void action_stack_entry(ActionFrame& f) {
    f.type = action_dispatch_type(f.args, S);
    action_required<S>(f.type)(f);
    TEV_CHECK_CELL(f.args);
}

// The writers stop once the budget runs out but may overshoot it by the value
// they were writing: /part cuts the text back to the count.
static void cut_to_part(Cell* out, int32_t limit) {
    if (limit != NO_LIMIT) string_truncate(series_node(out), limit > 0 ? uint32_t(limit) : 0);
}

// A negative /part writes nothing, as 0 does. Taken as 0, the budget the writers
// count down stays far from the bottom of the integer range (a text is shorter
// than 2^31 characters).
static int32_t part_budget(NativeCall& c, int ref) {
    return c.has(ref) ? std::max(get_integer(c.ref_arg(ref)), 0) : NO_LIMIT;
}

static void form_entry(NativeCall& c) {
    int32_t limit = part_budget(c, 0);
    Cell* out = stack_push();
    form_dispatch(c.args, out, limit);
    cut_to_part(out, limit);
    TEV_CHECK_CELL(out);
    *c.args = *out;
}

static void mold_entry(NativeCall& c) {
    int32_t limit = part_budget(c, 3);
    Cell* out = stack_push();
    mold_dispatch(c.args, out, c.has(0), c.has(1), c.has(2), limit);
    cut_to_part(out, limit);
    TEV_CHECK_CELL(out);
    *c.args = *out;
}

static void eval_path_entry(NativeCall& c) {
    EvalPathFn fn = action_required<Act::eval_path>(cell_type(c.args));
    Cell* result = stack_push();
    PathStep step{c.args, c.args + 1, nullptr, nullptr, result, 1, true, true};
    fn(step);
    TEV_CHECK_CELL(result);
    *c.args = *result;
}

static void compare_entry(NativeCall& c) {
    set_logic(c.args, compare_values(c.args, c.args + 1, get_integer(c.args + 2)));
}

NativeFn action_entry_table[ACTION_COUNT + 1];

template <int... I> static void fill_entries(std::integer_sequence<int, I...>) {
    ((action_entry_table[I + 1] = &action_stack_entry<Act(I + 1)>), ...);
}

void actions_init() {
    std::memset(action_entry_table, 0, sizeof action_entry_table);
    // Slots with their own signatures are reached through their own entries.
    fill_entries(std::integer_sequence<int, 0, 1, 2, 3>{});
    action_entry_table[int(Act::form)] = form_entry;
    action_entry_table[int(Act::mold)] = mold_entry;
    action_entry_table[int(Act::eval_path)] = eval_path_entry;
    action_entry_table[int(Act::set_path)] = nullptr;  // empty for every type
    action_entry_table[int(Act::compare)] = compare_entry;
    [&]<int... I>(std::integer_sequence<int, I...>) {
        ((action_entry_table[I + 10] = &action_stack_entry<Act(I + 10)>), ...);
    }(std::make_integer_sequence<int, ACTION_COUNT - 9>{});
}

}  // namespace tev

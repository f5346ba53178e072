// Action dispatch: the action-entry table of 62 stack entries, the type lookup with its
// error, the direct dispatchers C++ code calls, and the generic comparison.
#include "interpreter/actions.h"
#include <algorithm>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/check.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev {

// Words and specs by slot (slot 7 path evaluation, 8 path assignment and 9
// comparison have no word).
const char* const action_words[ACTION_COUNT + 1] = {
    nullptr, "make", "random", "reflect", "to", "form", "mold", nullptr, nullptr, nullptr,
    "absolute", "add", "divide", "multiply", "negate", "power", "remainder", "round", "subtract",
    "even?", "odd?", "and~", "complement", "or~", "xor~",
    "append", "at", "back", "change", "clear", "copy", "find", "head", "head?", "index?", "insert",
    "length?", "move", "next", "pick", "poke", "put", "remove", "reverse", "select", "sort", "skip",
    "swap", "tail", "tail?", "take", "trim",
    "create", "close", "delete", "modify", "open", "open?", "query", "read", "rename", "update", "write"};

#define FIND_REFS "/part length /only /case /same /any /with wild /skip size [integer!] /last /reverse"
const char* const action_specs[ACTION_COUNT + 1] = {
    nullptr,
    "type [any-type!] spec [any-type!]",
    "value /seed /secure /only",
    "value [any-type!] field [word!]",
    "type [any-type!] spec [any-type!]",
    "value [any-type!] /part limit [integer!]",
    "value [any-type!] /only /all /flat /part limit [integer!]",
    "parent element",
    "",
    "value1 value2 operator [integer!]",
    "value", "value1 value2", "value1 value2", "value1 value2", "number", "number exponent",
    "value1 value2",
    "n /to scale /even /down /half-down /floor /ceiling /half-ceiling",
    "value1 value2", "number", "number", "value1 value2", "value", "value1 value2", "value1 value2",
    "series value [any-type!] /part length /only /dup count [integer!]",
    "series index",
    "series",
    "series value [any-type!] /part range /only /dup count [integer!]",
    "series",
    "value /part length /deep /types kind",
    "series value [any-type!] " FIND_REFS " /tail /match",
    "series", "series", "series",
    "series value [any-type!] /part length /only /dup count [integer!]",
    "series",
    "origin target /part length",
    "series",
    "series index",
    "series index value [any-type!]",
    "series key value [any-type!] /case",
    "series /part length /key key-arg",
    "series /part length /skip size [integer!]",
    "series value [any-type!] " FIND_REFS,
    "series /case /skip size [integer!] /compare comparator /part length /all /reverse /stable",
    "series offset",
    "series1 series2",
    "series", "series",
    "series /part length /deep /last",
    "series /head /tail /auto /lines /all /with str",
    "port", "port", "file",
    "target field value [any-type!] /case",
    "port /new /read /write /seek /allow access",
    "port", "target",
    "source /part length /seek index /binary /lines /info /as encoding",
    "from to", "port",
    "destination data [any-type!] /binary /lines /info /append /part length /seek index /allow access /as encoding"};
#undef FIND_REFS

// ================================================================== lookup

[[noreturn]] void raise_no_action(TypeId t, int slot) {
    Cell word, type, arg;
    current_call_word(&word);
    set_datatype(&type, t);
    // The action's first argument word names what was refused.
    const char* spec = action_specs[slot] ? action_specs[slot] : "value";
    const char* end = spec;
    while (*end && *end != ' ') ++end;
    std::string first(spec, size_t(end - spec));
    if (first.empty()) first = "value";
    arg = word_from_cstring(first.c_str());
    raise_error(err::script::expect_arg, &word, &type, &arg);
}

// make and to act for the datatype their first argument names.
static inline TypeId dispatch_type(const Cell* first, Act slot) {
    if ((slot == Act::make || slot == Act::to) && cell_is(first, T_DATATYPE)) return get_datatype(first);
    return cell_type(first);
}

// ================================================================== stack entries

template <Act S> static void action_stack_entry(NativeCall& c) {
    TypeId t = dispatch_type(c.args, S);
    ActionFn fn = action_of<S>(t);
    if (!fn) raise_no_action(t, int(S));
    ActionFrame f;
    f.args = c.args;
    f.type = t;
    for (int k = 0; k < 12; ++k) f.refs[k] = int8_t(c.refs[k] - (c.refs[k] > 0));  // branch-free: it vectorises
    fn(f);
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
    TypeId t = cell_type(c.args);
    EvalPathFn fn = action_of<Act::eval_path>(t);
    if (!fn) raise_no_action(t, int(Act::eval_path));
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

// ================================================================== dispatchers

// The output is the caller's text series, whatever its type: a series action
// forms its value straight into the file!, url!, tag! or email! it changes, so
// the cell must stay that very series. Only a fresh (unset) cell becomes a new
// string!; replacing anything else would swap a cell the caller still counts on.
static void text_output(Cell* out) {
    if (type_is_string(cell_type(out))) return;
    TEV_ASSERT(cell_is(out, T_UNSET));
    string_make(out, 16);
}

int32_t form_dispatch(const Cell* value, Cell* out, int32_t limit) {
    text_output(out);
    FormFn fn = action_of<Act::form>(cell_type(value));
    if (!fn) raise_no_action(cell_type(value), int(Act::form));
    return fn(value, out, nullptr, limit);
}

int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t limit, int32_t indent) {
    text_output(out);
    MoldFn fn = action_of<Act::mold>(cell_type(value));
    if (!fn) raise_no_action(cell_type(value), int(Act::mold));
    return fn(value, out, only, all, flat, nullptr, limit, indent);
}

int compare_dispatch(const Cell* a, const Cell* b, int op) {
    TypeId t = cell_type(a);
    if (t == T_LOGIC) {
        if (!cell_is(b, T_LOGIC)) return CMP_NOT_COMPARABLE;
        return int(get_logic(a)) - int(get_logic(b));
    }
    CompareFn fn = action_of<Act::compare>(t);
    if (!fn) {
        // Types without a comparison are equal only to the very same cell.
        if (cell_type(b) != t) return CMP_NOT_COMPARABLE;
        return std::memcmp(a, b, sizeof(Cell)) == 0 ? 0 : CMP_NOT_COMPARABLE;
    }
    return fn(a, b, op);
}

bool compare_values(const Cell* a, const Cell* b, int op) {
    int r = compare_dispatch(a, b, op);
    if (r == CMP_NOT_COMPARABLE) {
        switch (op) {
        case CMP_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_EQUAL_10: case CMP_EQUAL_11:
        case CMP_FIND:
            return false;
        case CMP_NOT_EQUAL: return true;
        default: raise_error(err::script::invalid_compare, a, b);
        }
    }
    switch (op) {
    case CMP_EQUAL: case CMP_STRICT_EQUAL: case CMP_SAME: case CMP_EQUAL_10: case CMP_EQUAL_11:
    case CMP_FIND:
        return r == 0;
    case CMP_NOT_EQUAL: return r != 0;
    case CMP_LESSER: return r < 0;
    case CMP_LESSER_EQUAL: return r <= 0;
    case CMP_GREATER: return r > 0;
    case CMP_GREATER_EQUAL: return r >= 0;
    default: raise_error(err::internal::not_done);
    }
}

Cell* action_call(Act slot, const Cell* args, int nargs, const int8_t* refs, int nrefs) {
    Cell* base = stack_push();
    for (int k = 0; k < nargs; ++k) {
        if (k == 0) *base = args[0];
        else stack_push_copy(&args[k]);
    }
    NativeCall c;
    c.args = base;
    c.symbol = 0;
    std::memset(c.refs, -1, sizeof c.refs);
    for (int k = 0; k < nrefs && k < MAX_CALL_REFINEMENTS; ++k) c.refs[k] = int8_t(refs[k] > 0 ? refs[k] + 1 : refs[k]);
    NativeFn fn = action_entry_table[int(slot)];
    if (!fn) raise_error(err::internal::not_done);
    fn(c);
    vstack.top = base + 1;
    return base;
}

}  // namespace tev

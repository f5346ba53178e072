// Action dispatch: the actions' words and specs, the one error for a type
// without an action, the form, mold and comparison dispatchers and the generic
// action call C++ code makes.
#include "datatypes/dispatch.h"
#include <cstring>
#include <string>
#include "datatypes/evaluation_hooks.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/check.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {

EvaluationHooks evaluation_hooks;

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

// ================================================================== the missing action

[[noreturn]] void raise_no_action(TypeId t, int slot) {
    Cell word, type, arg;
    evaluation_hooks.current_call_word(&word);
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
    return action_required<Act::form>(cell_type(value))(value, out, nullptr, limit);
}

int32_t mold_dispatch(const Cell* value, Cell* out, bool only, bool all, bool flat, int32_t limit, int32_t indent) {
    text_output(out);
    return action_required<Act::mold>(cell_type(value))(value, out, only, all, flat, nullptr, limit, indent);
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
    TEV_ASSERT(nargs >= 1 && nrefs <= MAX_CALL_REFINEMENTS);
    TEV_ASSERT(slot != Act::form && slot != Act::mold && slot != Act::eval_path && slot != Act::set_path &&
               slot != Act::compare);
    Cell* base = stack_push();
    *base = args[0];
    for (int k = 1; k < nargs; ++k) stack_push_copy(&args[k]);
    ActionFrame f;
    f.args = base;
    f.type = action_dispatch_type(base, slot);
    std::memset(f.refs, -1, sizeof f.refs);
    if (nrefs > 0) std::memcpy(f.refs, refs, size_t(nrefs));
    ActionFn fn = reinterpret_cast<ActionFn>(action_table[f.type][int(slot) - 1]);
    if (!fn) raise_no_action(f.type, int(slot));
    fn(f);
    TEV_CHECK_CELL(base);
    vstack.top = base + 1;
    return base;
}

}  // namespace tev

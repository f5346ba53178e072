// The datatype registry: each type's name and its row of 62 action entries.
//
// Every datatype unit ends with its register_type<T_...>() definition, whose
// one register_datatype() call names the slots the type fills (or refuses with
// nullptr); the slots it leaves out take the parent's entry as resolved at
// registration, so parents register first (runtime/type_list.h holds the
// order). Each entry's signature is checked at compile time.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/compare_ops.h"

namespace tev {

// Action slots, in their fixed order (1-based, as stored by make action! and Tevbin).
#define TEV_ACTION_SLOTS(X)                                                                       \
    X(make) X(random) X(reflect) X(to) X(form) X(mold) X(eval_path) X(set_path) X(compare)        \
    X(absolute) X(add) X(divide) X(multiply) X(negate) X(power) X(remainder) X(round) X(subtract) \
    X(even_q) X(odd_q) X(and_t) X(complement) X(or_t) X(xor_t)                                    \
    X(append) X(at) X(back) X(change) X(clear) X(copy) X(find) X(head) X(head_q) X(index_q)       \
    X(insert) X(length_q) X(move) X(next) X(pick) X(poke) X(put) X(remove) X(reverse) X(select)   \
    X(sort) X(skip) X(swap) X(tail) X(tail_q) X(take) X(trim)                                     \
    X(create) X(close) X(delete_) X(modify) X(open) X(open_q) X(query) X(read) X(rename)          \
    X(update) X(write)

namespace detail {
enum class SlotIndex : uint8_t {
#define TEV_SLOT_INDEX(slot) slot,
    TEV_ACTION_SLOTS(TEV_SLOT_INDEX)
#undef TEV_SLOT_INDEX
    count
};
}  // namespace detail

enum class Act : uint8_t {
#define TEV_ACT(slot) slot = uint8_t(detail::SlotIndex::slot) + 1,
    TEV_ACTION_SLOTS(TEV_ACT)
#undef TEV_ACT
};
constexpr int ACTION_COUNT = int(detail::SlotIndex::count);
static_assert(ACTION_COUNT == 62 && int(Act::make) == 1 && int(Act::write) == ACTION_COUNT);

// Arithmetic operation codes shared by the arithmetic engines.
enum MathOp : int { OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR };

// Set-operation codes shared by the block, string, bitset and typeset engines.
enum SetOp : int { SET_OR = 5, SET_AND, SET_XOR, SET_UNIQUE, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE };

constexpr int32_t NO_LIMIT = 2147483647;

// A call of an action or a native in progress. Arguments live on the value
// stack (so they stay valid across allocation); args[0] is also the result
// slot. refs[i] is -1 when the callee's i-th refinement (in the order of its
// spec) is absent; when present, the position in args of the refinement's
// first argument (for a refinement without arguments, where that argument
// would be: never read). Natives and actions share the encoding, so a call
// reaches either without converting.
constexpr int MAX_CALL_REFINEMENTS = 24;
struct ActionFrame {
    Cell* args;
    TypeId type;          // make and to: the target type; otherwise the first argument's type
    int8_t refs[MAX_CALL_REFINEMENTS];
    bool has(int i) const { return refs[i] >= 0; }
    Cell* ref_arg(int i) const { return refs[i] >= 0 ? args + refs[i] : nullptr; }
    Cell* result() const { return args; }
};

// Slot signatures. form and mold append to `out`, a string! cell that lives on
// the value stack, and return the limit left (below 1: stop). An implementation
// must read what it needs from `value` before it first allocates: `value` may
// point into a series buffer that the collector moves.
using FormFn = int32_t (*)(const Cell* value, Cell* out, const Cell* arg, int32_t limit);
using MoldFn = int32_t (*)(const Cell* value, Cell* out, bool only, bool all, bool flat,
                           const Cell* arg, int32_t limit, int32_t indent);
// Answers -1, 0, 1, or CMP_NOT_COMPARABLE. Must not allocate.
using CompareFn = int (*)(const Cell* a, const Cell* b, int op);
// Path element access (and assignment when `set` is given); the result goes to *result.
struct PathStep {
    Cell* parent;        // the current value (on the stack)
    Cell* element;       // the path element (on the stack)
    Cell* set;           // value to set, or nullptr for a read
    Cell* path;          // the whole path, or nullptr
    Cell* result;        // where the element's value goes
    int32_t position;    // element position in the path
    bool last;           // the element is the last of the path
    bool notify;         // run change handlers on set
};
using EvalPathFn = void (*)(PathStep& step);
using ActionFn = void (*)(ActionFrame& f);

template <Act S> struct SlotSig { using type = ActionFn; };
template <> struct SlotSig<Act::form> { using type = FormFn; };
template <> struct SlotSig<Act::mold> { using type = MoldFn; };
template <> struct SlotSig<Act::compare> { using type = CompareFn; };
template <> struct SlotSig<Act::eval_path> { using type = EvalPathFn; };
template <Act S> using SlotFn = typename SlotSig<S>::type;

// --------------------------------------------------------------- tables

using ActionEntry = void (*)();

struct TypeName {
    const char* name;     // with the trailing "!"
    uint32_t length;      // without the "!"
    Cell word;            // word! in the global context, unset until bound
};
extern TypeName type_names[TYPE_TABLE_ROWS];
extern ActionEntry action_table[TYPE_TABLE_ROWS][ACTION_COUNT];
extern int highest_type_id;

void registry_init();  // clears both tables
// `entries` holds ACTION_COUNT entries in slot order; inherit_marker stands
// for the parent's entry as resolved now.
void register_datatype_row(TypeId t, TypeId parent, const char* name, const ActionEntry* entries);
// Makes every registered type's word from its name (once the symbol table and
// the global context exist); a type registered afterwards gets its word at once.
void bind_type_name_words();
void bind_type_name_word(TypeId t);
extern bool type_name_words_bound;

namespace detail {
void inherit_marker();
}  // namespace detail

// --------------------------------------------------------------- action rows

// One slot of a row. Left out, it inherits (the parent's entry as resolved at
// registration, none for a type without parent); written as nullptr, it is
// unsupported even where the parent has an entry. A function converts only
// from the slot's own signature, so a mismatch fails to compile.
template <Act S> struct ActionSlot {
    ActionEntry entry = &detail::inherit_marker;
    constexpr ActionSlot() = default;
    constexpr ActionSlot(std::nullptr_t) : entry(nullptr) {}
    ActionSlot(SlotFn<S> fn) : entry(reinterpret_cast<ActionEntry>(fn)) {}
};

// A datatype's actions, written with designated initialisers naming only the
// slots the type fills or refuses: {.make = integer_make, .pick = nullptr}.
// Each member has a default initialiser so that a left-out slot is not a
// missing-initialiser warning.
struct ActionRow {
#define TEV_ROW_SLOT(slot) ActionSlot<Act::slot> slot = {};
    TEV_ACTION_SLOTS(TEV_ROW_SLOT)
#undef TEV_ROW_SLOT
};
static_assert(sizeof(ActionRow) == ACTION_COUNT * sizeof(ActionEntry), "a row has one entry per slot");

// Registers type t with the row; its name and parent come from the type list.
void register_datatype(TypeId t, const ActionRow& row);

// Each listed type's registration, defined in its unit: it may set up what the
// unit needs before its values exist, then calls register_datatype once.
// register_all_datatypes() calls them in the order of the type list.
template <TypeId T> void register_type();
#define TEV_DECLARE_REGISTER_TYPE(id, number, name, parent, cls) template <> void register_type<id>();
TEV_DATATYPES(TEV_DECLARE_REGISTER_TYPE)
#undef TEV_DECLARE_REGISTER_TYPE

// The type's implementation of a slot, or nullptr when unsupported.
template <Act S> inline SlotFn<S> action_of(TypeId t) {
    return reinterpret_cast<SlotFn<S>>(action_table[t][int(S) - 1]);
}

// Every datatype's registration, in the fixed start-up order.
void register_all_datatypes();

}  // namespace tev

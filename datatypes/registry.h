// The datatype registry: each type's name and its row of 62 action entries.
//
// Every datatype unit ends with one register_datatype() call listing its 62
// entries in slot order: its own function, nullptr (unsupported) or `inherit`
// (the parent's entry as resolved at registration, so parents register first).
// The count and each entry's signature are checked at compile time.
#pragma once
#include <cstdint>
#include <type_traits>
#include <utility>
#include "runtime/cell.h"

namespace tev {

// Action slots, in their fixed order (1-based, as stored by make action! and Tevbin).
enum class Act : uint8_t {
    make = 1, random, reflect, to, form, mold, eval_path, set_path, compare,
    absolute, add, divide, multiply, negate, power, remainder, round, subtract,
    even_q, odd_q, and_t, complement, or_t, xor_t,
    append, at, back, change, clear, copy, find, head, head_q, index_q, insert,
    length_q, move, next, pick, poke, put, remove, reverse, select, sort, skip,
    swap, tail, tail_q, take, trim,
    create, close, delete_, modify, open, open_q, query, read, rename, update, write
};
constexpr int ACTION_COUNT = 62;
static_assert(int(Act::write) == ACTION_COUNT);

// Compare operator codes.
enum CompareOp : int {
    CMP_EQUAL = 0, CMP_NOT_EQUAL, CMP_STRICT_EQUAL, CMP_LESSER, CMP_LESSER_EQUAL,
    CMP_GREATER, CMP_GREATER_EQUAL, CMP_SORT, CMP_CASE_SORT, CMP_SAME,
    CMP_EQUAL_10, CMP_EQUAL_11, CMP_FIND
};
constexpr int CMP_NOT_COMPARABLE = -2;

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
struct Inherit {};
inline constexpr Inherit inherit{};

struct TypeName {
    const char* name;     // with the trailing "!"
    uint32_t length;      // without the "!"
    Cell word;            // word! in the global context, unset until bound
};
extern TypeName type_names[TYPE_TABLE_ROWS];
extern ActionEntry action_table[TYPE_TABLE_ROWS][ACTION_COUNT];
extern int highest_type_id;

void registry_init();  // clears both tables
void register_datatype_row(TypeId t, TypeId parent, const char* name, const ActionEntry* entries);
// Makes every registered type's word from its name (once the symbol table and
// the global context exist); a type registered afterwards gets its word at once.
void bind_type_name_words();
void bind_type_name_word(TypeId t);
extern bool type_name_words_bound;

namespace detail {
void inherit_marker();
template <int I, class E> ActionEntry to_entry(E e) {
    constexpr Act slot = Act(I + 1);
    if constexpr (std::is_same_v<E, Inherit>) return &inherit_marker;
    else if constexpr (std::is_same_v<E, std::nullptr_t>) return nullptr;
    else {
        static_assert(std::is_same_v<E, SlotFn<slot>>, "action entry has the wrong signature for its slot");
        return reinterpret_cast<ActionEntry>(e);
    }
}
template <class... E, int... I>
void register_impl(TypeId t, TypeId parent, const char* name,
                   std::integer_sequence<int, I...>, E... e) {
    const ActionEntry entries[] = {to_entry<I>(e)...};
    register_datatype_row(t, parent, name, entries);
}
}  // namespace detail

// register_datatype(T_INTEGER, T_NONE_ID, "integer!", make_integer, random_integer, ...62 entries)
template <class... E>
void register_datatype(TypeId t, TypeId parent, const char* name, E... entries) {
    static_assert(sizeof...(E) == ACTION_COUNT, "a datatype registers exactly 62 action entries");
    detail::register_impl(t, parent, name, std::make_integer_sequence<int, ACTION_COUNT>{}, entries...);
}

// The type's implementation of a slot, or nullptr when unsupported.
template <Act S> inline SlotFn<S> action_of(TypeId t) {
    return reinterpret_cast<SlotFn<S>>(action_table[t][int(S) - 1]);
}

// Every datatype's registration, in the fixed start-up order.
void register_all_datatypes();

}  // namespace tev

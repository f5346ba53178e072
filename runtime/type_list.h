// The one table of datatypes: each type's fixed id, name, parent and class, in start-up registration order.
//
// The TypeId enum, the type names, the class predicates and the order in which
// the datatype units register their action rows are all made from this list,
// so a new datatype is one line here plus its own unit (which defines
// register_type<T_...>(), see datatypes/registry.h).
//
// Ids are fixed: Tevbin data, typesets and the type tables store them, so an
// entry never changes its number and a new type takes a new one. The order of
// the lines is the registration order: a child copies its parent's resolved
// action row when it registers, so a parent's line comes before its children's
// (checked at compile time below).
#pragma once
#include <cstdint>

namespace tev {

// What the generic series, word and number code may assume about a type's cell.
enum class TypeClass : uint8_t {
    plain,
    number,   // integer!, float!, percent!
    word,     // a symbol bound to a context (word! .. issue!)
    list,     // a series of cells: blocks, parens, hashes and paths
    string,   // a text series
    series,   // a series of neither cells nor text
};

// X(id, number, name, parent, class); T_NONE_ID as parent means none.
#define TEV_DATATYPES(X)                                               \
    X(T_DATATYPE,    1, "datatype!",   T_NONE_ID,  plain)              \
    X(T_UNSET,       2, "unset!",      T_NONE_ID,  plain)              \
    X(T_NONE,        3, "none!",       T_NONE_ID,  plain)              \
    X(T_LOGIC,       4, "logic!",      T_NONE_ID,  plain)              \
    X(T_SERIES,     42, "series!",     T_NONE_ID,  plain)              \
    X(T_BLOCK,       5, "block!",      T_SERIES,   list)               \
    X(T_STRING,      7, "string!",     T_SERIES,   string)             \
    X(T_BINARY,     41, "binary!",     T_STRING,   series)             \
    X(T_INTEGER,    11, "integer!",    T_NONE_ID,  number)             \
    X(T_SYMBOL,     13, "symbol!",     T_NONE_ID,  plain)              \
    X(T_CONTEXT,    14, "context!",    T_NONE_ID,  plain)              \
    X(T_WORD,       15, "word!",       T_SYMBOL,   word)               \
    X(T_LIT_WORD,   17, "lit-word!",   T_WORD,     word)               \
    X(T_SET_WORD,   16, "set-word!",   T_WORD,     word)               \
    X(T_GET_WORD,   18, "get-word!",   T_WORD,     word)               \
    X(T_REFINEMENT, 19, "refinement!", T_WORD,     word)               \
    X(T_CHAR,       10, "char!",       T_INTEGER,  plain)              \
    X(T_NATIVE,     21, "native!",     T_NONE_ID,  plain)              \
    X(T_ACTION,     22, "action!",     T_NATIVE,   plain)              \
    X(T_OP,         23, "op!",         T_NATIVE,   plain)              \
    X(T_FUNCTION,   24, "function!",   T_CONTEXT,  plain)              \
    X(T_ROUTINE,    29, "routine!",    T_FUNCTION, plain)              \
    X(T_PATH,       25, "path!",       T_BLOCK,    list)               \
    X(T_LIT_PATH,   26, "lit-path!",   T_PATH,     list)               \
    X(T_SET_PATH,   27, "set-path!",   T_PATH,     list)               \
    X(T_GET_PATH,   28, "get-path!",   T_PATH,     list)               \
    X(T_PAREN,       6, "paren!",      T_BLOCK,    list)               \
    X(T_ISSUE,      20, "issue!",      T_WORD,     word)               \
    X(T_URL,         9, "url!",        T_STRING,   string)             \
    X(T_FILE,        8, "file!",       T_URL,      string)             \
    X(T_OBJECT,     32, "object!",     T_NONE_ID,  plain)              \
    X(T_BITSET,     30, "bitset!",     T_NONE_ID,  plain)              \
    X(T_TRIPLE,     31, "triple!",     T_NONE_ID,  plain)              \
    X(T_FLOAT,      12, "float!",      T_NONE_ID,  number)             \
    X(T_TYPESET,    33, "typeset!",    T_NONE_ID,  plain)              \
    X(T_ERROR,      34, "error!",      T_OBJECT,   plain)              \
    X(T_VECTOR,     35, "vector!",     T_STRING,   series)             \
    X(T_MAP,        40, "map!",        T_NONE_ID,  plain)              \
    X(T_HASH,       36, "hash!",       T_BLOCK,    list)               \
    X(T_PAIR,       37, "pair!",       T_NONE_ID,  plain)              \
    X(T_PERCENT,    38, "percent!",    T_FLOAT,    number)             \
    X(T_TUPLE,      39, "tuple!",      T_NONE_ID,  plain)              \
    X(T_TIME,       43, "time!",       T_FLOAT,    plain)              \
    X(T_TAG,        44, "tag!",        T_STRING,   string)             \
    X(T_EMAIL,      45, "email!",      T_STRING,   string)             \
    X(T_HANDLE,     46, "handle!",     T_INTEGER,  plain)              \
    X(T_DATE,       47, "date!",       T_NONE_ID,  plain)              \
    X(T_PORT,       48, "port!",       T_OBJECT,   plain)              \
    X(T_MONEY,      49, "money!",      T_NONE_ID,  plain)              \
    X(T_REF,        50, "ref!",        T_STRING,   string)             \
    X(T_POINT2D,    51, "point2D!",    T_NONE_ID,  plain)              \
    X(T_POINT3D,    52, "point3D!",    T_NONE_ID,  plain)              \
    X(T_IMAGE,      53, "image!",      T_SERIES,   series)

// Ids already given out whose unit does not exist yet: specs and typesets may
// name them, but they register no row (so no datatype! value of them exists).
#define TEV_RESERVED_DATATYPES(X)                                      \
    X(T_EVENT,      54, "event!",      T_NONE_ID,  plain)

#define TEV_ALL_DATATYPES(X) TEV_DATATYPES(X) TEV_RESERVED_DATATYPES(X)

// Datatype ids are fixed: Tevbin data, typesets and the type tables store them.
enum TypeId : uint8_t {
    T_NONE_ID = 0,  // not a type: marks "no parent" and empty rows
#define TEV_TYPE_ID(id, number, name, parent, cls) id = number,
    TEV_ALL_DATATYPES(TEV_TYPE_ID)
#undef TEV_TYPE_ID
};

// ------------------------------------------------------------ derived tables

namespace type_list {

struct Entry {
    TypeId id;
    const char* name;  // with the trailing "!"
    TypeId parent;
    TypeClass type_class;
    bool registers;    // false for a reserved id
};

inline constexpr Entry entries[] = {
#define TEV_TYPE_ENTRY(id, number, name, parent, cls) {id, name, parent, TypeClass::cls, true},
    TEV_DATATYPES(TEV_TYPE_ENTRY)
#undef TEV_TYPE_ENTRY
#define TEV_TYPE_ENTRY(id, number, name, parent, cls) {id, name, parent, TypeClass::cls, false},
    TEV_RESERVED_DATATYPES(TEV_TYPE_ENTRY)
#undef TEV_TYPE_ENTRY
};
inline constexpr int entry_count = int(sizeof entries / sizeof entries[0]);

constexpr TypeId highest_id() {
    TypeId top = T_NONE_ID;
    for (const Entry& e : entries)
        if (e.id > top) top = e.id;
    return top;
}

// Every id from 1 to the highest is given out exactly once, so the tables
// indexed by id have no holes and no id is claimed twice.
constexpr bool ids_are_dense_and_unique() {
    for (int id = 1; id <= highest_id(); ++id) {
        int seen = 0;
        for (const Entry& e : entries) seen += e.id == id;
        if (seen != 1) return false;
    }
    return entry_count == highest_id();
}

// A registering type's parent registers on an earlier line.
constexpr bool parents_come_first() {
    for (int i = 0; i < entry_count; ++i) {
        if (entries[i].parent == T_NONE_ID) continue;
        bool earlier = false;
        for (int j = 0; j < i; ++j) earlier |= entries[j].id == entries[i].parent && entries[j].registers;
        if (!earlier) return false;
    }
    return true;
}

constexpr uint64_t class_mask(TypeClass c) {
    uint64_t mask = 0;
    for (const Entry& e : entries)
        if (e.type_class == c) mask |= 1ull << e.id;
    return mask;
}

static_assert(ids_are_dense_and_unique(), "each datatype id from 1 to the highest is listed once");
static_assert(parents_come_first(), "a parent registers before its children");
static_assert(highest_id() < 64, "type masks and typesets of ids hold 64 bits");

}  // namespace type_list

constexpr TypeId T_MAX_ID = type_list::highest_id();
constexpr int TYPE_TABLE_ROWS = T_MAX_ID + 1;  // row 0 (T_NONE_ID) stays empty

// Each type's name ("integer!") by id, reserved ids included; nullptr for T_NONE_ID.
struct TypeListNames {
    const char* by_id[TYPE_TABLE_ROWS] = {};
    constexpr TypeListNames() {
        for (const type_list::Entry& e : type_list::entries) by_id[e.id] = e.name;
    }
};
inline constexpr TypeListNames type_list_names{};

// From the type list rather than the registry, so that specs, checks and
// messages can name types whose unit has not registered yet.
constexpr const char* datatype_name(TypeId t) {
    return t > 0 && t < TYPE_TABLE_ROWS ? type_list_names.by_id[t] : nullptr;
}

// The parent each type copies its unfilled action slots from, by id.
struct TypeListParents {
    TypeId by_id[TYPE_TABLE_ROWS] = {};
    constexpr TypeListParents() {
        for (const type_list::Entry& e : type_list::entries) by_id[e.id] = e.parent;
    }
};
inline constexpr TypeListParents type_list_parents{};

// ------------------------------------------------------------------ classes

inline constexpr uint64_t LIST_TYPES = type_list::class_mask(TypeClass::list);
inline constexpr uint64_t STRING_TYPES = type_list::class_mask(TypeClass::string);
inline constexpr uint64_t SERIES_TYPES = LIST_TYPES | STRING_TYPES | type_list::class_mask(TypeClass::series);
inline constexpr uint64_t WORD_TYPES = type_list::class_mask(TypeClass::word);
inline constexpr uint64_t NUMBER_TYPES = type_list::class_mask(TypeClass::number);

// A cell's type byte can hold any value, so ids past the masks answer false.
constexpr bool type_in_mask(TypeId t, uint64_t mask) { return t < 64 && ((mask >> t) & 1) != 0; }

// True for the types whose cell is (head index, node) over a series buffer.
constexpr bool type_is_series(TypeId t) { return type_in_mask(t, SERIES_TYPES); }
// True for block!, paren!, hash! and the path types: series of cells.
constexpr bool type_is_list(TypeId t) { return type_in_mask(t, LIST_TYPES); }
// True for string!, file!, url!, tag!, email!, ref! (text series).
constexpr bool type_is_string(TypeId t) { return type_in_mask(t, STRING_TYPES); }
constexpr bool type_is_word(TypeId t) { return type_in_mask(t, WORD_TYPES); }      // word! .. issue!
constexpr bool type_is_number(TypeId t) { return type_in_mask(t, NUMBER_TYPES); }  // integer!, float!, percent!

}  // namespace tev

// The datatype registry: type names and action rows, written once per type at start-up.
#include "datatypes/registry.h"
#include <cstdio>
#include <cstring>
#include "runtime/hash_table.h"

namespace tev {

TypeName type_names[TYPE_TABLE_ROWS];
ActionEntry action_table[TYPE_TABLE_ROWS][ACTION_COUNT];
int highest_type_id = 0;

namespace detail {
void inherit_marker() {}
}  // namespace detail

void registry_init() {
    std::memset(action_table, 0, sizeof action_table);
    hash_key_compare_column = {&action_table[0][int(Act::compare) - 1], ACTION_COUNT};
    for (auto& n : type_names) { n.name = nullptr; n.length = 0; cell_init(&n.word, T_UNSET); }
    highest_type_id = 0;
}

// Inheritance is a copy made now: a parent's later changes do not reach its children.
void register_datatype_row(TypeId t, TypeId parent, const char* name, const ActionEntry* entries) {
    if (t > highest_type_id) highest_type_id = t;
    type_names[t].name = name;
    type_names[t].length = uint32_t(std::strlen(name)) - 1;
    if (type_name_words_bound) bind_type_name_word(t);
    for (int s = 0; s < ACTION_COUNT; ++s) {
        ActionEntry e = entries[s];
        if (e == &detail::inherit_marker) e = parent ? action_table[parent][s] : nullptr;
        action_table[t][s] = e;
    }
}

void register_datatype(TypeId t, const ActionRow& row) {
    ActionEntry entries[ACTION_COUNT];
#define TEV_ROW_ENTRY(slot) entries[int(Act::slot) - 1] = row.slot.entry;
    TEV_ACTION_SLOTS(TEV_ROW_ENTRY)
#undef TEV_ROW_ENTRY
    register_datatype_row(t, type_list_parents.by_id[t], type_list_names.by_id[t], entries);
}

}  // namespace tev

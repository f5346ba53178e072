// The ownership table: weak entries {owned value, owner, field word}, found by the owned node.
#include "runtime/ownership.h"
#include <unordered_map>
#include <vector>
#include "runtime/cycle_guard.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

DeepChangeFn ownership_deep_change_hook = nullptr;
OwnershipObjectWalkFn ownership_object_walk_hook = nullptr;

static const char* const change_spellings[] = {
    "append", "appended", "insert", "inserted", "change", "changed", "clear", "cleared",
    "move", "moved", "poke", "poked", "put", "put-ed", "remove", "removed", "random", "randomized",
    "reverse", "reversed", "sort", "sorted", "swap", "swaped", "take", "taken", "trim", "trimmed",
    "uppercase", "lowercase"};
static_assert(sizeof change_spellings / sizeof *change_spellings == size_t(ChangeWord::lowercase) + 1);

const char* change_word_spelling(ChangeWord w) { return change_spellings[int(w)]; }

// Entry slot s is cells 3s..3s+2 of the entries store; freed slots are unset
// and reused. The store is a unit-4 series, so the collector keeps its buffer
// but does not trace the cells in it: entries are weak. After marking, an entry
// whose owned series, owner context or field word's context nobody else reached
// is dropped (and the others get their nodes renumbered when nodes moved).
constexpr uint32_t ENTRY_CELLS = 3;
static NodeRef entries_node = 0;
static std::unordered_map<NodeRef, uint32_t> slot_of;
static std::vector<uint32_t> free_slots;

static Cell* entry_at(uint32_t slot) {
    return reinterpret_cast<Cell*>(node_buffer(entries_node)->head_ptr()) + size_t(slot) * ENTRY_CELLS;
}
static uint32_t slot_count() {
    return entries_node ? node_buffer(entries_node)->count() / (ENTRY_CELLS * 4) : 0;
}

static void mark_entries() { gc_mark_node_ref(&entries_node); }

static void sweep_entries() {
    bool changed = false;
    for (uint32_t slot = 0, n = slot_count(); slot < n; ++slot) {
        Cell* e = entry_at(slot);
        if (cell_is(e, T_UNSET)) continue;
        NodeRef* refs[5];
        int k = 0;
        refs[k++] = series_node_slot(e);
        if (cell_is(e + 1, T_OBJECT)) {
            refs[k++] = object_context_slot(e + 1);
            refs[k++] = object_handlers_slot(e + 1);
        }
        if (type_is_word(cell_type(e + 2))) refs[k++] = word_context_slot(e + 2);
        bool alive = true;
        for (int i = 0; i < k; ++i) {
            NodeRef before = *refs[i];
            gc_update_nodes(refs[i], 1);
            if (*refs[i] != before) changed = true;
            if (*refs[i] && !gc_node_marked(*refs[i])) alive = false;
        }
        if (!alive) {
            // A series that outlives its owner is no longer owned.
            if (gc_node_marked(series_node(e))) node_buffer(series_node(e))->flags &= ~SER_OWNED;
            for (uint32_t i = 0; i < ENTRY_CELLS; ++i) set_unset(e + i);
            free_slots.push_back(slot);
            changed = true;
        }
    }
    if (!changed) return;
    slot_of.clear();
    for (uint32_t slot = 0, n = slot_count(); slot < n; ++slot) {
        const Cell* e = entry_at(slot);
        if (!cell_is(e, T_UNSET)) slot_of[series_node(e)] = slot;
    }
}

void ownership_init() {
    if (entries_node) return;
    entries_node = alloc_series_units(1000 * ENTRY_CELLS * 4, 4);
    gc_add_mark_hook(&mark_entries);
    gc_add_sweep_hook(&sweep_entries);
}

uint32_t ownership_count() { return uint32_t(slot_of.size()); }

static bool is_owned_kind(TypeId t) { return type_is_series(t) || t == T_BITSET; }

// A list's cells by position from its buffer's head, read afresh at each
// step: binding an item allocates, so the list's buffer may move meanwhile.
static uint32_t list_count(const Cell* list) { return node_buffer(series_node(list))->count(); }
static Cell* list_cell(const Cell* list, uint32_t n) { return node_buffer(series_node(list))->cells() + n; }

static bool node_owned(NodeRef node) { return (node_buffer(node)->flags & SER_OWNED) != 0; }
bool ownership_node_owned(NodeRef node) { return node_owned(node); }

static void mark_owner(const Cell* owner) {
    if (cell_is(owner, T_OBJECT) && object_context(owner)) {
        SeriesBuffer* b = node_buffer(object_context(owner));
        if (b->count()) cell_set_flag(b->cells(), FLAG_OWNER);
    }
}
static bool is_owner(const Cell* object) {
    if (!object_context(object)) return false;
    SeriesBuffer* b = node_buffer(object_context(object));
    return b->count() && cell_has_flag(b->cells(), FLAG_OWNER);
}

static void put_entry(const Cell* value, const Cell* owner, const Cell* word) {
    ownership_init();
    Cell staged[ENTRY_CELLS] = {*value, *owner, *word};
    // A text value's conversion cache is not the entry's to keep alive.
    if (type_is_string(cell_type(staged))) text_set_cache_node(staged, 0);
    if (cell_is(staged, T_HASH)) hash_set_index_table(staged, 0);
    uint32_t slot;
    if (!free_slots.empty()) {
        slot = free_slots.back();
        free_slots.pop_back();
    } else {
        // Only the store's buffer moves here: the staged cells' nodes stay
        // reachable through the caller's own (rooted) cells.
        SeriesBuffer* b = series_ensure_room(entries_node, ENTRY_CELLS * 16);
        slot = b->count() / (ENTRY_CELLS * 4);
        b->tail += ENTRY_CELLS * 16;
    }
    Cell* at = entry_at(slot);
    for (uint32_t i = 0; i < ENTRY_CELLS; ++i) at[i] = staged[i];
    slot_of[series_node(staged)] = slot;
}

void ownership_bind_value(const Cell* value, const Cell* owner, const Cell* word) {
    TypeId t = cell_type(value);
    if (t == T_OBJECT) {
        if (ownership_object_walk_hook && !is_owner(value) && !cycle_find(object_context(value))) {
            CycleGuard guard(object_context(value));
            ownership_object_walk_hook(value, owner, word, true);
        }
        return;
    }
    if (!is_owned_kind(t)) return;
    NodeRef node = series_node(value);
    if (!node_owned(node)) {
        node_buffer(node)->flags |= SER_OWNED;
        put_entry(value, owner, word);
    }
    if (!type_is_list(t) || cycle_find(series_node(value))) return;
    StackScope scope;
    Cell* list = stack_push_copy(value);
    Cell* held_owner = stack_push_copy(owner);
    Cell* held_word = stack_push_copy(word);
    CycleGuard guard(series_node(list));
    for (uint32_t i = series_index(list); i < list_count(list); ++i) {
        Cell* item = stack_push_copy(list_cell(list, i));
        ownership_bind_value(item, held_owner, held_word);
        stack_drop_to(item);
    }
}

void ownership_bind(const Cell* value, const Cell* owner, const Cell* word) {
    StackScope scope;
    Cell* held_owner = stack_push_copy(owner);
    ownership_bind_value(value, held_owner, word);
    mark_owner(held_owner);
}

void ownership_unbind(const Cell* value) {
    TypeId t = cell_type(value);
    if (t == T_OBJECT) {
        if (ownership_object_walk_hook && object_context(value) && !cycle_find(object_context(value)) && !is_owner(value)) {
            CycleGuard guard(object_context(value));
            ownership_object_walk_hook(value, nullptr, nullptr, false);
        }
        return;
    }
    if (!is_owned_kind(t)) return;
    NodeRef node = series_node(value);
    node_buffer(node)->flags &= ~SER_OWNED;
    auto it = slot_of.find(node);
    // An already unbound list has no entry: that ends cycles.
    if (it == slot_of.end()) return;
    Cell* at = entry_at(it->second);
    for (uint32_t i = 0; i < ENTRY_CELLS; ++i) set_unset(at + i);
    free_slots.push_back(it->second);
    slot_of.erase(it);
    if (!type_is_list(t)) return;
    StackScope scope;
    Cell* list = stack_push_copy(value);
    for (uint32_t i = series_index(list); i < list_count(list); ++i) {
        Cell* item = stack_push_copy(list_cell(list, i));
        ownership_unbind(item);
        stack_drop_to(item);
    }
}

void ownership_unbind_range(const Cell* block, uint32_t index, uint32_t count) {
    StackScope scope;
    Cell* list = stack_push_copy(block);
    for (uint32_t i = 0; i < count && index + i < list_count(list); ++i) {
        Cell* item = stack_push_copy(list_cell(list, index + i));
        ownership_unbind(item);
        stack_drop_to(item);
    }
}

void ownership_get_owner(NodeRef node, Cell* out) {
    auto it = slot_of.find(node);
    if (it == slot_of.end()) set_none(out);
    else *out = entry_at(it->second)[1];
}

bool ownership_notice(const Cell* target, ChangeWord action, const Cell* value, int32_t index, int32_t part) {
    TypeId t = cell_type(target);
    NodeRef key;
    if (t == T_OBJECT) key = object_context(target);
    else if (is_owned_kind(t)) {
        key = series_node(target);
        if (!node_owned(key)) return false;  // the common case: one flag test
    } else return false;
    auto it = slot_of.find(key);
    if (it == slot_of.end()) return false;
    const Cell* entry = entry_at(it->second);
    if (object_handlers(entry + 1) == 0 || !ownership_deep_change_hook) return false;  // owner without handlers
    // The handler runs language code: hand it stable copies.
    StackScope scope;
    Cell* owner = stack_push_copy(entry + 1);
    Cell* word = stack_push_copy(entry + 2);
    Cell* held_target = stack_push_copy(target);
    Cell* held_value = stack_push();
    if (value) *held_value = *value;
    else set_none(held_value);
    ownership_deep_change_hook(owner, word, held_target, action, held_value, index, part);
    return true;
}

}  // namespace tev

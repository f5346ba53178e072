// The ownership table: entries {owned value, owner, field word} in one rooted block, found by node.
#include "runtime/ownership.h"
#include <unordered_map>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "runtime/cycle_guard.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

DeepChangeFn ownership_deep_change_hook = nullptr;
OwnershipObjectWalkFn ownership_object_walk_hook = nullptr;

static const char* const change_spellings[] = {
    "append", "appended", "insert", "inserted", "change", "changed", "clear", "cleared",
    "move", "moved", "poke", "poked", "put", "put-ed", "remove", "removed", "random", "randomized",
    "reverse", "reversed", "sort", "sorted", "swap", "swaped", "take", "taken", "trim", "trimmed"};
static_assert(sizeof change_spellings / sizeof *change_spellings == size_t(ChangeWord::trimmed) + 1);

const char* change_word_spelling(ChangeWord w) { return change_spellings[int(w)]; }

// Entry slot s lives in cells 3s..3s+2 of the entries block; freed slots are
// unset and reused.
constexpr uint32_t ENTRY_CELLS = 3;
static Cell entries;  // block!, a collector root once made
static std::unordered_map<NodeRef, uint32_t> slot_of;
static std::vector<uint32_t> free_slots;
// Node evacuation renumbers nodes: the keys are then rebuilt from the entries'
// owned values, whose cells the collector rewrites.
static bool keys_stale = false;

static void note_collection() {
    if (gc_node_evacuation) keys_stale = true;
}

static void refresh_keys() {
    if (!keys_stale) return;
    keys_stale = false;
    slot_of.clear();
    uint32_t slots = series_full_length(&entries) / ENTRY_CELLS;
    for (uint32_t s = 0; s < slots; ++s) {
        const Cell* owned = block_cell_from_head(&entries, s * ENTRY_CELLS);
        if (!cell_is(owned, T_UNSET)) slot_of[series_node(owned)] = s;
    }
}

void ownership_init() {
    if (cell_is(&entries, T_BLOCK)) return;
    block_make(&entries, 1000 * ENTRY_CELLS);
    gc_add_root(&entries);
    gc_add_mark_hook(&note_collection);
}

uint32_t ownership_count() {
    refresh_keys();
    return uint32_t(slot_of.size());
}

static bool is_owned_kind(TypeId t) { return type_is_series(t) || t == T_BITSET; }

static bool node_owned(NodeRef node) { return (node_buffer(node)->flags & SER_OWNED) != 0; }

static void mark_owner(const Cell* owner) {
    if (cell_is(owner, T_OBJECT) && owner->w1) {
        SeriesBuffer* b = node_buffer(owner->w1);
        if (b->count()) cell_set_flag(b->cells(), FLAG_OWNER);
    }
}
static bool is_owner(const Cell* object) {
    if (!object->w1) return false;
    SeriesBuffer* b = node_buffer(object->w1);
    return b->count() && cell_has_flag(b->cells(), FLAG_OWNER);
}

static void put_entry(const Cell* value, const Cell* owner, const Cell* word) {
    ownership_init();
    // Stage the three cells: growing the entries block may move their sources.
    StackScope scope;
    Cell* staged = stack_push_copy(value);
    stack_push_copy(owner);
    stack_push_copy(word);
    uint32_t slot;
    if (!free_slots.empty()) {
        slot = free_slots.back();
        free_slots.pop_back();
        Cell* at = block_cell_from_head(&entries, slot * ENTRY_CELLS);
        for (uint32_t i = 0; i < ENTRY_CELLS; ++i) at[i] = staged[i];
    } else {
        slot = block_length(&entries) / ENTRY_CELLS;
        block_append_cells(&entries, staged, ENTRY_CELLS);
    }
    refresh_keys();
    slot_of[series_node(staged)] = slot;
}

void ownership_bind_value(const Cell* value, const Cell* owner, const Cell* word) {
    TypeId t = cell_type(value);
    if (t == T_OBJECT) {
        if (ownership_object_walk_hook && !is_owner(value) && !cycle_find(value->w1)) {
            CycleGuard guard(value->w1);
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
    for (uint32_t i = 0; i < block_length(list); ++i) {
        Cell* item = stack_push_copy(block_at(list, i));
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
        if (ownership_object_walk_hook && value->w1 && !cycle_find(value->w1) && !is_owner(value)) {
            CycleGuard guard(value->w1);
            ownership_object_walk_hook(value, nullptr, nullptr, false);
        }
        return;
    }
    if (!is_owned_kind(t)) return;
    NodeRef node = series_node(value);
    node_buffer(node)->flags &= ~SER_OWNED;
    refresh_keys();
    auto it = slot_of.find(node);
    // An already unbound list has no entry: that ends cycles.
    if (it == slot_of.end()) return;
    Cell* at = block_cell_from_head(&entries, it->second * ENTRY_CELLS);
    for (uint32_t i = 0; i < ENTRY_CELLS; ++i) set_unset(at + i);
    free_slots.push_back(it->second);
    slot_of.erase(it);
    if (!type_is_list(t)) return;
    StackScope scope;
    Cell* list = stack_push_copy(value);
    for (uint32_t i = 0; i < block_length(list); ++i) {
        Cell* item = stack_push_copy(block_at(list, i));
        ownership_unbind(item);
        stack_drop_to(item);
    }
}

void ownership_unbind_range(const Cell* block, uint32_t index, uint32_t count) {
    StackScope scope;
    Cell* list = stack_push_copy(block);
    for (uint32_t i = 0; i < count && index + i < series_full_length(list); ++i) {
        Cell* item = stack_push_copy(block_cell_from_head(list, index + i));
        ownership_unbind(item);
        stack_drop_to(item);
    }
}

void ownership_get_owner(NodeRef node, Cell* out) {
    refresh_keys();
    auto it = slot_of.find(node);
    if (it == slot_of.end()) set_none(out);
    else *out = *block_cell_from_head(&entries, it->second * ENTRY_CELLS + 1);
}

bool ownership_notice(const Cell* target, ChangeWord action, const Cell* value, int32_t index, int32_t part) {
    TypeId t = cell_type(target);
    NodeRef key;
    if (t == T_OBJECT) key = target->w1;
    else if (is_owned_kind(t)) {
        key = series_node(target);
        if (!node_owned(key)) return false;  // the common case: one flag test
    } else return false;
    refresh_keys();
    auto it = slot_of.find(key);
    if (it == slot_of.end()) return false;
    const Cell* entry = block_cell_from_head(&entries, it->second * ENTRY_CELLS);
    if (entry[1].w3 == 0 || !ownership_deep_change_hook) return false;  // owner without handlers
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

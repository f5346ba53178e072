// hash!: a block with a hash index over all its values. The block actions do the work and keep the index in step.
#include "datatypes/hash.h"
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

static bool indexed(const Cell* v) { return cell_is(v, T_HASH) && hash_index_table(v) != 0; }

static void hash_index_appended(const Cell* value, uint32_t from) {
    if (!indexed(value)) return;
    NodeRef table = hash_index_table(value);
    HashTableHold hold(table);
    uint32_t total = node_buffer(series_node(value))->count();
    for (uint32_t pos = from; pos < total; ++pos)
        if (hash_table_insert(table, pos) == 2) return;  // rebuilt: every cell is indexed
}

static void hash_index_replaced(const Cell* value, uint32_t position) {
    if (!indexed(value) || position >= node_buffer(series_node(value))->count()) return;
    HashTableHold hold(hash_index_table(value));
    hash_table_delete(hash_index_table(value), position);
    hash_table_insert(hash_index_table(value), position);
}

static void hash_index_rebuild(const Cell* value) {
    if (!indexed(value)) return;
    hash_table_rebuild(hash_index_table(value), node_buffer(series_node(value))->count());
}

static void hash_changed(const Cell* value, SeriesChange change, uint32_t position) {
    switch (change) {
        case SeriesChange::appended: hash_index_appended(value, position); break;
        case SeriesChange::replaced: hash_index_replaced(value, position); break;
        case SeriesChange::rewritten: hash_index_rebuild(value); break;
    }
}

int64_t hash_index_find(const Cell* value, const Cell* key, int op, int32_t skip, bool last, bool reverse) {
    if (!indexed(value)) return -2;
    uint32_t total = node_buffer(series_node(value))->count();
    uint32_t head = series_index(value) < total ? series_index(value) : total;
    int32_t pos = hash_table_get(hash_index_table(value), key, head, skip, op, last, reverse);
    if (pos < 0) return -1;
    // The index answers for the cells it was given; a cell changed behind its
    // back is caught here and the block indexed again.
    if (uint32_t(pos) >= total || compare_cells(node_buffer(series_node(value))->cells() + pos, key, op) != 0) {
        hash_index_rebuild(value);
        pos = hash_table_get(hash_index_table(value), key, head, skip, op, last, reverse);
    }
    return pos;
}

// Makes `out` (rooted) a hash! over the cells of `block` (rooted), indexed.
void hash_index_block(Cell* out, Cell* block) {
    uint32_t n = series_full_length(block);
    NodeRef table = hash_table_create(n ? n : 1, series_node(block), 0, HASH_KIND_VALUES, 0);
    set_series(out, T_HASH, series_node(block), series_index(block));
    hash_set_index_table(out, table);
}

// A new block (at index 0) holding the cells of a list from its index.
static Cell* push_block_copy(const Cell* list) {
    uint32_t index = series_index(list), total = series_full_length(list);
    if (index > total) index = total;
    Cell* copy = series_push_copy(list, index, total - index);
    cell_set_type(copy, T_BLOCK);
    return copy;
}

// make takes a size or a list; to takes a list; anything else goes through
// the block conversion first.
static void build_hash(ActionFrame& f, bool make) {
    StackScope scope;
    Cell* spec = stack_push_copy(f.args + 1);
    Cell* block;
    TypeId t = cell_type(spec);
    if (make && (t == T_INTEGER || t == T_FLOAT)) {
        double d = t == T_INTEGER ? get_integer(spec) : get_float(spec);
        if (!(d >= -2147483648.0 && d < 2147483648.0)) raise_error(err::script::out_of_range, spec);
        uint32_t n = d < 1 ? 1 : d > double(BLOCK_MAX_CELLS) ? BLOCK_MAX_CELLS : uint32_t(d);
        block = block_push_new(n);
    } else if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        block = push_block_copy(spec);
    } else {
        Cell* converted = stack_push_copy(spec);
        stack_push_copy(spec);
        ActionFrame bf = action_frame(converted, T_BLOCK);
        action_required<Act::to>(T_BLOCK)(bf);
        block = push_block_copy(converted);
    }
    hash_index_block(f.args, block);
}

static void hash_make_action(ActionFrame& f) { build_hash(f, true); }
static void hash_to_action(ActionFrame& f) { build_hash(f, false); }

static void hash_copy_action(ActionFrame& f) {
    StackScope scope;
    Cell* source = stack_push_copy(f.args);
    cell_set_type(f.args, T_BLOCK);
    hash_set_index_table(f.args, 0);
    action_required<Act::copy>(T_BLOCK)(f);
    Cell* copy = stack_push_copy(f.args);
    cell_set_type(copy, T_BLOCK);
    bool whole = series_index(source) == 0 && !f.has(ref::copy_part) && hash_index_table(source) != 0;
    if (!whole) {
        hash_index_block(f.args, copy);
        return;
    }
    NodeRef table = hash_table_copy(hash_index_table(source), series_node(copy));
    set_series(f.args, T_HASH, series_node(copy), 0);
    hash_set_index_table(f.args, table);
}

// Runs the block action, then indexes the new order.
static void hash_reordering(ActionFrame& f, Act slot) {
    StackScope scope;
    Cell* held = stack_push_copy(f.args);
    if (slot == Act::sort) action_required<Act::sort>(T_BLOCK)(f);
    else action_required<Act::trim>(T_BLOCK)(f);
    hash_index_rebuild(held);
}
static void hash_sort_action(ActionFrame& f) { hash_reordering(f, Act::sort); }
static void hash_trim_action(ActionFrame& f) { hash_reordering(f, Act::trim); }

static int32_t hash_mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* arg,
                         int32_t limit, int32_t indent) {
    StackScope scope;
    Cell* block = stack_push_copy(value);
    cell_set_type(block, T_BLOCK);
    if (!only) {
        string_append_cstr(out, "make hash! ");
        limit -= 11;
    }
    return action_required<Act::mold>(T_BLOCK)(block, out, only, all, flat, arg, limit, indent);
}

static void mark_hash(const Cell* c) {
    Cell* cell = const_cast<Cell*>(c);
    gc_mark_node_ref(series_node_slot(cell));
    gc_mark_hash_table(hash_index_table_slot(cell));
}

template <> void register_type<T_HASH>() {
    register_datatype(T_HASH, {
        .make = hash_make_action, .random = nullptr, .to = hash_to_action, .mold = hash_mold,
        .copy = hash_copy_action, .sort = hash_sort_action, .trim = hash_trim_action
    });
    gc_register_mark(T_HASH, mark_hash);
    register_series_changed(T_HASH, hash_changed);
}

}  // namespace tev

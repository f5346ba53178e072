// map!: key/value tables. Making, lookup, adding and removing entries, copying, reflection, form and mold.
//
// Entry cells are read through the entry block's node after anything that may
// allocate (THE RULE, runtime/memory.h); the table is found through the cell.
#include "datatypes/map.h"
#include <cstring>
#include <string>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

NodeRef entries_of(const Cell* map) { return series_node(map); }
NodeRef table_of(const Cell* map) { return map_table(map); }
Cell* entry(const Cell* map, uint32_t i) { return node_buffer(entries_of(map))->cells() + i; }
uint32_t entry_cells(const Cell* map) { return node_buffer(entries_of(map))->count(); }
bool live(const Cell* map, uint32_t key_pos) { return entry(map, key_pos + 1)->header != 0; }

void set_map(Cell* out, NodeRef entries, NodeRef table) {
    set_series(out, T_MAP, entries, 0);
    map_set_table(out, table);
}

// A new empty map with room for `size` entries; `size` is checked by the caller.
void make_empty(Cell* out, uint32_t size) {
    Cell* block = block_push_new(size * 2);
    NodeRef table = hash_table_create(size ? size : 1, series_node(block), 0, HASH_KIND_MAP, 0);
    set_map(out, series_node(block), table);
    stack_pop(1);
}

// The key position of a live or deleted entry, or -1.
int32_t find_key(const Cell* map, const Cell* key, int op) {
    if (!map_key_type_valid(cell_type(key))) return -1;
    return hash_table_get(table_of(map), key, 0, 1, op, false, false);
}

// Adds or replaces one entry. map, key and value must be rooted.
void put_entry(Cell* map, const Cell* key, const Cell* value, bool case_sensitive) {
    MapSlot slot;
    int op = case_sensitive ? CMP_STRICT_EQUAL : CMP_EQUAL;
    int32_t pos = hash_table_recall_map_key(table_of(map), key, op);
    if (pos < 0 && map_key_type_valid(cell_type(key))) pos = hash_table_find_map_key(table_of(map), key, op, &slot);
    if (pos >= 0) {
        if (!live(map, uint32_t(pos))) hash_table_desc(table_of(map))->live_count++;
        *entry(map, uint32_t(pos) + 1) = *value;
        return;
    }
    StackScope scope;
    Cell* stored = stack_push_copy(key);
    map_normalize_key(stored);
    Cell* block = stack_push();
    set_series(block, T_BLOCK, entries_of(map), 0);
    uint32_t at = series_full_length(block);
    block_append(block, stored);
    block_append(block, &unset_value);
    HashTableHold hold(table_of(map));
    hash_table_insert_in_slot(table_of(map), at, slot);
    *entry(map, at + 1) = *value;
}

// A stored key as find, reflect and foreach hand it out (key on the stack): a
// set-word as a word, a series as a copy of its own, since a change made
// through the stored series would leave its entry where no lookup finds it.
void key_handed_out(Cell* key, bool as_word) {
    TypeId t = cell_type(key);
    if (as_word && t == T_SET_WORD) {
        cell_set_type(key, T_WORD);
    } else if (type_is_string(t) || t == T_BINARY) {
        uint32_t flags = key->header & FLAG_NEW_LINE;
        Cell* copy = series_push_copy(key, 0, series_full_length(key));
        *key = *copy;
        text_set_cache_node(key, 0);
        key->header |= flags;
        stack_pop(1);
    }
}

void check_even(const Cell* block) {
    if (block_length(block) % 2) raise_error(err::script::invalid_arg, block);
}

int32_t mold_cell(const Cell* v, Cell* out, bool all, bool flat, const Cell* arg, int32_t limit, int32_t indent) {
    auto mold = action_of<Act::mold>(cell_type(v));
    return mold ? mold(v, out, false, all, flat, arg, limit, indent) : limit;
}

void append_text(Cell* out, const std::string& s, int32_t* limit) {
    string_append_ascii(out, s.data(), s.size());
    *limit = limit_less(*limit, int64_t(s.size()));
}

}  // namespace

// ---------------------------------------------------------------- keys

uint32_t map_size(const Cell* map) { return uint32_t(hash_table_desc(table_of(map))->live_count); }

bool map_key_type_valid(TypeId t) {
    switch (t) {
    case T_STRING: case T_FILE: case T_URL: case T_BINARY: case T_TAG: case T_EMAIL: case T_REF:
    case T_CHAR: case T_INTEGER: case T_FLOAT: case T_PAIR: case T_PERCENT: case T_TUPLE: case T_TIME:
    case T_DATE: case T_MONEY: case T_POINT2D: case T_POINT3D:
        return true;
    default:
        return t >= T_WORD && t <= T_ISSUE;
    }
}

Cell* map_normalize_key(Cell* key) {
    TypeId t = cell_type(key);
    if (!map_key_type_valid(t)) raise_error(err::script::invalid_path, datatype_push(T_MAP), key);
    if (type_is_string(t) || t == T_BINARY) {
        // A private copy: later changes to the given series do not reach the key.
        uint32_t index = std::min(series_index(key), series_full_length(key));
        Cell* copy = series_push_copy(key, index, series_full_length(key) - index);
        *key = *copy;
        text_set_cache_node(key, 0);
        stack_pop(1);
    } else if (t >= T_WORD && t <= T_GET_WORD) {
        cell_set_type(key, T_SET_WORD);
    }
    cell_clear_flag(key, FLAG_NEW_LINE);
    return key;
}

void map_make_cell(Cell* out, const Cell* block_in, uint32_t size) {
    StackScope scope;
    if (!block_in) {
        make_empty(out, size);
        return;
    }
    Cell* block = stack_push_copy(block_in);
    check_even(block);
    uint32_t n = block_length(block);
    Cell* map = stack_push();
    make_empty(map, n / 2);
    for (uint32_t i = 0; i < n; i += 2) {
        Cell* key = stack_push_copy(block_at(block, i));
        Cell* value = stack_push_copy(block_at(block, i + 1));
        put_entry(map, key, value, false);
        stack_drop_to(key);
    }
    *out = *map;
}

void map_extend(Cell* map, const Cell* block_in, bool case_sensitive) {
    StackScope scope;
    Cell* block = stack_push_copy(block_in);
    check_even(block);
    for (uint32_t i = 0, n = block_length(block); i < n; i += 2) {
        Cell* key = stack_push_copy(block_at(block, i));
        Cell* value = stack_push_copy(block_at(block, i + 1));
        put_entry(map, key, value, case_sensitive);
        stack_drop_to(key);
    }
}

bool map_foreach_next(const Cell* map, const Cell* words, uint32_t* position,
                      void (*assign)(const Cell* word, const Cell* value)) {
    StackScope scope;
    Cell* held = stack_push_copy(map);
    Cell* list = stack_push_copy(words);
    bool is_block = cell_is(list, T_BLOCK);
    uint32_t count = is_block ? block_length(list) : 1;
    bool any = false;
    for (uint32_t k = 0; k < count; ++k) {
        Cell* word = stack_push_copy(is_block ? block_at(list, k) : list);
        TypeId wt = cell_type(word);
        if (wt != T_WORD && wt != T_SET_WORD && wt != T_GET_WORD && wt != T_LIT_WORD)
            raise_error(err::script::invalid_arg, word);
        // At a key position a deleted entry is skipped with its value.
        while (*position % 2 == 0 && *position < entry_cells(held) && !live(held, *position)) *position += 2;
        Cell* value = stack_push();
        set_none(value);   // a word past the last entry gets none, not unset
        if (*position < entry_cells(held)) {
            *value = *entry(held, *position);
            if (*position % 2 == 0) key_handed_out(value, true);
            ++*position;
            any = true;
        }
        assign(word, value);
        stack_drop_to(word);
    }
    return any;
}

// ---------------------------------------------------------------- make, to

static void map_make_action(ActionFrame& f) {
    Cell* spec = f.args + 1;
    TypeId t = cell_type(spec);
    Cell* out = stack_push();
    if (t == T_INTEGER || t == T_FLOAT) {
        double n = t == T_INTEGER ? double(get_integer(spec)) : get_float(spec);
        if (!(n >= 0)) raise_error(err::script::out_of_range, spec);
        // Two cells an entry: the cell count must stay within a block's reach.
        if (n * 2 > double(BLOCK_MAX_CELLS)) raise_error(err::internal::no_memory);
        map_make_cell(out, nullptr, uint32_t(n));
    } else if (t == T_BLOCK || t == T_PAREN || t == T_HASH) {
        map_make_cell(out, spec, 0);
    } else if (t == T_MAP) {
        ActionFrame cf = action_frame(spec, T_MAP);
        action_required<Act::copy>(T_MAP)(cf);
        *out = *spec;
    } else {
        raise_error_type(err::script::bad_to_arg, T_MAP, spec);
    }
    f.args[0] = *out;
}

static void map_to_action(ActionFrame& f) {
    TypeId t = cell_type(f.args + 1);
    if (t == T_INTEGER || t == T_FLOAT) raise_error_type(err::script::bad_to_arg, T_MAP, f.args + 1);
    map_make_action(f);
}

// ---------------------------------------------------------------- lookups

const Cell* map_path_value(const Cell* map, const Cell* key) {
    int32_t pos = find_key(map, key, CMP_EQUAL);
    return pos >= 0 && live(map, uint32_t(pos)) ? entry(map, uint32_t(pos) + 1) : nullptr;
}

void map_path_put(Cell* map, const Cell* key, const Cell* value) { put_entry(map, key, value, false); }

static void map_eval_path(PathStep& step) {
    if (step.set) {
        map_path_put(step.parent, step.element, step.set);
        *step.result = *step.set;
        return;
    }
    if (const Cell* v = map_path_value(step.parent, step.element)) *step.result = *v;
    else set_none(step.result);
}

static int lookup_op(ActionFrame& f) {
    if (f.has(ref::find_same)) return CMP_SAME;
    return f.has(ref::find_case) ? CMP_STRICT_EQUAL : CMP_EQUAL;
}

static void map_select_action(ActionFrame& f) {
    int32_t pos = find_key(f.args, f.args + 1, lookup_op(f));
    if (pos >= 0 && live(f.args, uint32_t(pos))) *f.args = *entry(f.args, uint32_t(pos) + 1);
    else set_none(f.args);
}

static void map_find_action(ActionFrame& f) {
    int32_t pos = find_key(f.args, f.args + 1, lookup_op(f));
    if (pos >= 0 && live(f.args, uint32_t(pos))) {
        *f.args = *entry(f.args, uint32_t(pos));
        key_handed_out(f.args, true);
    } else {
        set_none(f.args);
    }
}

static void map_put_action(ActionFrame& f) {
    put_entry(f.args, f.args + 1, f.args + 2, f.has(ref::put_case));
    *f.args = f.args[2];
}

// Drops the deleted entries, in place (every copy of the map cell shares the
// entry block and the table), and indexes the live ones again.
static void compact(Cell* map) {
    NodeRef table = table_of(map);
    HashTableHold hold(table);
    SeriesBuffer* b = node_buffer(entries_of(map));
    Cell* cells = b->cells();
    uint32_t kept = 0;
    for (uint32_t i = 0, n = b->count(); i + 1 < n; i += 2) {
        if (cells[i + 1].header == 0) continue;
        cells[kept] = cells[i];
        cells[kept + 1] = cells[i + 1];
        kept += 2;
    }
    hash_table_clear(table);  // empties the buckets and the entry block
    b = node_buffer(entries_of(map));
    b->tail = b->head + kept * 16;
    for (uint32_t i = 0; i < kept; i += 2) hash_table_insert(table, i);
}

// A removed entry keeps its place so that adding its key again revives it
// there; once removed entries outnumber live ones in a map of some size they
// are dropped, so a map under churn does not grow without bound.
static void map_remove_action(ActionFrame& f) {
    if (!f.has(ref::remove_key)) raise_error(err::script::missing_arg);
    int32_t pos = find_key(f.args, f.ref_arg(ref::remove_key), CMP_STRICT_EQUAL);
    if (pos < 0 || !live(f.args, uint32_t(pos))) return;
    hash_table_delete(table_of(f.args), uint32_t(pos));
    uint32_t entries = entry_cells(f.args) / 2, live_entries = map_size(f.args);
    if (entries >= 1024 && entries - live_entries > live_entries) compact(f.args);
}

static void map_clear_action(ActionFrame& f) { hash_table_clear(table_of(f.args)); }

static void map_length_action(ActionFrame& f) { set_integer(f.args, int32_t(map_size(f.args))); }

// ---------------------------------------------------------------- copy

static bool typeset_has(const Cell* ts, TypeId t) {
    uint8_t bytes[12];
    std::memcpy(bytes, cell_payload(ts), CELL_PAYLOAD_BYTES);
    return (bytes[t >> 3] & (0x80 >> (t & 7))) != 0;
}

static bool copies_value(TypeId t, const Cell* types) {
    if (!types) return type_is_series(t) || t == T_MAP;
    if (cell_is(types, T_DATATYPE)) return get_datatype(types) == t;
    return cell_is(types, T_TYPESET) && typeset_has(types, t);
}

static void map_copy_action(ActionFrame& f) {
    bool deep = f.has(ref::copy_deep);
    const Cell* types_arg = f.ref_arg(ref::copy_types);
    StackScope scope;
    Cell* source = stack_push_copy(f.args);
    Cell* types = types_arg ? stack_push_copy(types_arg) : nullptr;
    if ((deep || types) && cycle_find(entries_of(source))) {
        cycle_reset();
        raise_error(err::internal::no_cycle);
    }
    NodeRef entries = copy_series(entries_of(source));
    Cell* copy = stack_push();
    set_series(copy, T_BLOCK, entries, 0);  // rooted while the table is copied
    NodeRef table = hash_table_copy(table_of(source), entries);
    set_map(copy, entries, table);
    if (deep || types) {
        CycleGuard guard(entries_of(source));
        for (uint32_t i = 1; i < entry_cells(copy); i += 2) {
            Cell* v = stack_push_copy(entry(copy, i));
            if (v->header != 0 && copies_value(cell_type(v), types)) {
                if (auto copy_fn = action_of<Act::copy>(cell_type(v))) {
                    ActionFrame cf = action_frame(v, cell_type(v));
                    if (deep) cf.refs[ref::copy_deep] = 0;
                    copy_fn(cf);
                    uint32_t header = entry(copy, i)->header;
                    *entry(copy, i) = *v;
                    entry(copy, i)->header = header;
                }
            }
            stack_drop_to(v);
        }
    }
    *f.args = *copy;
}

// ---------------------------------------------------------------- reflect

static void map_reflect_action(ActionFrame& f) {
    bool words = series_is_word(f.args + 1, "words");
    bool values = series_is_word(f.args + 1, "values");
    bool body = series_is_word(f.args + 1, "body");
    if (!words && !values && !body) raise_error(err::internal::not_done);
    StackScope scope;
    Cell* map = stack_push_copy(f.args);
    Cell* out = block_push_new(map_size(map) * (body ? 2 : 1));
    for (uint32_t i = 0; i < entry_cells(map); i += 2) {
        if (!live(map, i)) continue;
        if (words || body) {
            Cell* key = stack_push_copy(entry(map, i));
            if (!words) cell_set_flag(key, FLAG_NEW_LINE);
            key_handed_out(key, words);
            block_append(out, key);
            stack_drop_to(key);
        }
        if (values || body) block_append(out, entry(map, i + 1));
    }
    *f.args = *out;
}

// ---------------------------------------------------------------- form, mold, compare

static int32_t map_mold(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* arg, int32_t limit,
                        int32_t indent) {
    StackScope scope;
    Cell* map = stack_push_copy(value);
    if (cycle_find(entries_of(map))) {
        append_text(out, cycle_marker(T_MAP, true), &limit);
        return limit;
    }
    CycleGuard guard(entries_of(map));
    if (!only) append_text(out, "#[", &limit);
    bool lines = !flat && map_size(map) > 0;
    if (lines) append_text(out, "\n", &limit);
    bool first = true;
    for (uint32_t i = 0; i < entry_cells(map); i += 2) {
        if (arg && limit < 1) break;
        if (!live(map, i)) continue;
        if (lines) append_text(out, std::string(size_t(4 * (indent + 1)), ' '), &limit);
        else if (!first) append_text(out, " ", &limit);
        first = false;
        Cell* key = stack_push_copy(entry(map, i));
        limit = mold_cell(key, out, all, flat, arg, limit, indent + 1);
        append_text(out, " ", &limit);
        Cell* v = stack_push_copy(entry(map, i + 1));
        limit = mold_cell(v, out, all, flat, arg, limit, indent + 1);
        stack_drop_to(key);
        if (lines) append_text(out, "\n", &limit);
    }
    if (lines) append_text(out, std::string(size_t(4 * (indent > 0 ? indent : 0)), ' '), &limit);
    if (!only) append_text(out, "]", &limit);
    return limit;
}

static int32_t map_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    StackScope scope;
    Cell* map = stack_push_copy(value);
    if (cycle_find(entries_of(map))) {
        append_text(out, cycle_marker(T_MAP, false), &limit);
        return limit;
    }
    CycleGuard guard(entries_of(map));
    bool first = true;
    for (uint32_t i = 0; i < entry_cells(map); i += 2) {
        if (arg && limit < 1) break;
        if (!live(map, i)) continue;
        if (!first) append_text(out, "\n", &limit);
        first = false;
        Cell* key = stack_push_copy(entry(map, i));
        limit = mold_cell(key, out, false, false, arg, limit, 0);
        append_text(out, " ", &limit);
        Cell* v = stack_push_copy(entry(map, i + 1));
        limit = mold_cell(v, out, false, false, arg, limit, 0);
        stack_drop_to(key);
    }
    return limit;
}

// Equal maps hold the same live keys with equal values. The sort modes order
// by the entry block's node: a stable id, unlike its address, which moves.
static int map_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_MAP)) return CMP_NOT_COMPARABLE;
    if (op == CMP_SORT || op == CMP_CASE_SORT) {
        uint32_t x = node_id(entries_of(a)), y = node_id(entries_of(b));
        return x < y ? -1 : x > y ? 1 : 0;
    }
    bool same = entries_of(a) == entries_of(b);
    if (op == CMP_SAME) return same ? 0 : -1;
    if (op != CMP_EQUAL && op != CMP_NOT_EQUAL && op != CMP_STRICT_EQUAL && op != CMP_FIND)
        return CMP_NOT_COMPARABLE;
    if (same) return 0;
    if (map_size(a) != map_size(b)) return 1;
    int key_op = op == CMP_STRICT_EQUAL ? CMP_STRICT_EQUAL : CMP_EQUAL;
    for (uint32_t i = 0; i < entry_cells(a); i += 2) {
        if (!live(a, i)) continue;
        int32_t pos = hash_table_get(table_of(b), entry(a, i), 0, 1, key_op, false, false);
        if (pos < 0 || !live(b, uint32_t(pos))) return 1;
        if (compare_cells(entry(a, i + 1), entry(b, uint32_t(pos) + 1), key_op) != 0) return 1;
    }
    return 0;
}

// ---------------------------------------------------------------- collector

// The entry block and everything the hash table owns.
static void mark_map(const Cell* c) {
    Cell* cell = const_cast<Cell*>(c);
    gc_mark_node_ref(series_node_slot(cell));
    gc_mark_hash_table(map_table_slot(cell));
}

// ---------------------------------------------------------------- registration

template <> void register_type<T_MAP>() {
    register_datatype(T_MAP, {
        .make = map_make_action, .reflect = map_reflect_action, .to = map_to_action, .form = map_form,
        .mold = map_mold, .eval_path = map_eval_path, .compare = map_compare, .clear = map_clear_action,
        .copy = map_copy_action, .find = map_find_action, .length_q = map_length_action,
        .put = map_put_action, .remove = map_remove_action, .select = map_select_action
    });
    gc_register_mark(T_MAP, mark_map);
}

}  // namespace tev

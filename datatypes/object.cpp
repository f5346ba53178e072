// object!: making from specs and prototypes, copying, field access through paths, the
// change-handler protocol (on-change*, on-deep-change*), form, mold, compare, reflect, modify.
#include "datatypes/object.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/context_table.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"
#include "runtime/word_tables.h"

namespace tev {

static int32_t class_counter = 1000000;
int32_t object_new_class_id() { return ++class_counter; }

// Valid until the next allocation.
static Cell* object_values(NodeRef ctx) { return node_buffer(context_cell_values(context_cell(ctx)))->cells(); }

static bool is_symbol(const Cell* word, RtSym s) {
    return symbol_resolve_alias(word_symbol(word)) == symbol_resolve_alias(runtime_symbol(s));
}

static int32_t handler_symbol(RtWord w) { return symbol_resolve_alias(word_symbol(runtime_word(w))); }

Cell* object_push_new(TypeId type, NodeRef proto_ctx, uint32_t slots) {
    Cell* obj = stack_push();
    NodeRef ctx = context_make(slots, false, true, proto_ctx, CTX_KIND_OBJECT);
    cell_init(obj, type);
    object_set_context(obj, ctx);
    object_set_class_id(obj, object_new_class_id());
    *context_self(ctx) = *obj;
    return obj;
}

// ================================================================== change-handler record

static int32_t handler_position(const Cell* obj, int which) {
    if (!object_handlers(obj)) return -1;
    return handler_entry_position(node_buffer(object_handlers(obj))->cells() + which);
}

static uint32_t count_locals(const Cell* fn) {
    Cell spec;
    callable_spec(fn, &spec);
    uint32_t n = block_length(&spec), count = 0;
    int32_t local_sym = symbol_resolve_alias(symbol_from_cstring("local"));
    bool seen = false;
    for (uint32_t k = 0; k < n; ++k) {
        const Cell* v = block_at(&spec, k);
        if (!seen) {
            if (cell_is(v, T_REFINEMENT) && symbol_resolve_alias(word_symbol(v)) == local_sym) seen = true, count = 1;
        } else if (cell_is(v, T_WORD)) {
            ++count;
        }
    }
    return count;
}

// The object owns the series reachable from its fields (each through its field word).
static void bind_as_owner(const Cell* obj) {
    StackScope scope;
    Cell* none = stack_push();
    set_none(none);
    ownership_bind(obj, obj, none);
}

// Builds the record from the handler fields of the object (on the stack), or
// leaves it without one; an object with on-deep-change* owns its series.
void object_finish_handlers(Cell* obj) {
    NodeRef ctx = object_context(obj);
    int32_t change_sym = handler_symbol(RtWord::on_change), deep_sym = handler_symbol(RtWord::on_deep_change);
    int32_t pos[2] = {-1, -1};
    uint32_t n = context_word_count(ctx);
    for (uint32_t k = 0; k < n; ++k) {
        int32_t s = symbol_resolve_alias(word_symbol(context_word_at(ctx, k)));
        if (s == change_sym) pos[0] = int32_t(k);
        else if (s == deep_sym) pos[1] = int32_t(k);
    }
    object_set_handlers(obj, 0);
    if (pos[0] < 0 && pos[1] < 0) {
        *context_self(ctx) = *obj;
        return;
    }
    uint32_t locals[2] = {0, 0};
    for (int h = 0; h < 2; ++h) {
        if (pos[h] < 0) continue;
        Cell v = object_values(ctx)[pos[h]];
        if (!cell_is(&v, T_FUNCTION) && !cell_is(&v, T_ROUTINE)) {
            Cell word = *context_word_at(ctx, uint32_t(pos[h]));
            word.header = T_WORD;
            Cell type;
            set_datatype(&type, cell_type(&v));
            raise_error(err::script::bad_field_set, &word, &type);
        }
        locals[h] = count_locals(&v);
    }
    Cell* record = block_push_new(2);
    for (int h = 0; h < 2; ++h) {
        Cell entry;
        handler_entry_set(&entry, pos[h], locals[h]);
        block_append(record, &entry);
    }
    object_set_handlers(obj, series_node(record));
    stack_pop(1);
    *context_self(ctx) = *obj;
    if (pos[1] >= 0) bind_as_owner(obj);
}

// Calls the handler function at field `pos` of obj with count arguments from args (on the stack).
static void call_handler(const Cell* obj, int32_t pos, Cell* args, uint32_t count) {
    StackScope scope;
    Cell* fn = stack_push_copy(object_values(object_context(obj)) + pos);
    evaluation_hooks.call_with_args(fn, args, count);
    evaluation_hooks.raise_pending_exit();
}

// on-change*: word, old and new value (all on the value stack), after the store.
static void fire_on_change(Cell* self, Cell* word, Cell* old_value, Cell* new_value) {
    int32_t pos = handler_position(self, 0);
    if (pos < 0) return;
    if (!cell_is(object_values(object_context(self)) + pos, T_FUNCTION)) {
        Cell bad = object_values(object_context(self))[pos];
        raise_error(err::script::invalid_obj_evt, &bad);
    }
    StackScope scope;
    Cell* args = stack_push_copy(word);
    args->header = (args->header & ~0xFFu) | T_WORD;
    if (word_context(args) != object_context(self)) context_bind_word(object_context(self), args);
    stack_push_copy(old_value);
    stack_push_copy(new_value);
    call_handler(self, pos, args, 3);
}

void object_fire_on_change(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value) {
    StackScope scope;
    Cell* held[4] = {stack_push_copy(obj), stack_push_copy(word), stack_push_copy(old_value),
                     stack_push_copy(new_value)};
    fire_on_change(held[0], held[1], held[2], held[3]);
}

// The word naming a change, as word_from_symbol makes it. Its symbol and slot in
// the global context are remembered per change kind: that context only grows,
// so a slot that still holds the symbol is the word's.
static Cell change_action_word(ChangeWord action) {
    static struct { int32_t symbol; uint32_t slot; } made[32];
    static_assert(int(ChangeWord::lowercase) < 32);
    auto& m = made[int(action)];
    NodeRef global = global_context();
    if (m.symbol && m.slot < context_word_count(global)) {
        Cell w = *context_word_at(global, m.slot);
        if (word_symbol(&w) == m.symbol) return w;
    }
    if (!m.symbol) m.symbol = symbol_from_cstring(change_word_spelling(action));
    Cell w = word_from_symbol(m.symbol);
    m.slot = uint32_t(context_find_symbol(global, m.symbol, false));
    return w;
}

// on-deep-change*: owner, word, target, action, new value, index, part. An owner
// that has no record (made an owner by modify) has nothing to call.
static void fire_on_deep_change(const Cell* owner, const Cell* word, const Cell* target, ChangeWord action,
                                const Cell* value, int32_t index, int32_t part) {
    if (!cell_is(owner, T_OBJECT) && !cell_is(owner, T_ERROR) && !cell_is(owner, T_PORT)) return;
    int32_t pos = handler_position(owner, 1);
    if (pos < 0) return;
    if (!cell_is(object_values(object_context(owner)) + pos, T_FUNCTION)) return;
    StackScope scope;
    Cell* args = stack_push_copy(owner);
    stack_push_copy(word);
    stack_push_copy(target);
    Cell action_word = change_action_word(action);
    stack_push_copy(&action_word);
    Cell* v = stack_push();
    if (value) *v = *value;
    else set_none(v);
    set_integer(stack_push(), index);
    set_integer(stack_push(), part);
    call_handler(args, pos, args, 7);
}

// The ownership walk over an object's fields: each field value is bound to (or
// unbound from) owner through the field's own word. A field holding the owner
// itself is not descended into.
static void walk_object_fields(const Cell* object, const Cell* owner_in, const Cell*, bool bind) {
    StackScope scope;
    Cell* obj = stack_push_copy(object);
    Cell* owner = owner_in ? stack_push_copy(owner_in) : nullptr;
    uint32_t n = context_word_count(object_context(obj));
    for (uint32_t k = 0; k < n; ++k) {
        Cell* value = stack_push_copy(object_values(object_context(obj)) + k);
        if (bind) {
            if (!(cell_is(value, T_OBJECT) && object_context(value) == object_context(owner))) {
                Cell* word = stack_push_copy(context_word_at(object_context(obj), k));
                ownership_bind_value(value, owner, word);
            }
        } else {
            ownership_unbind(value);
        }
        stack_drop_to(value);
    }
}

// ================================================================== copying and rebinding

static bool copied_by_clone(TypeId t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_STRING: case T_FILE: case T_URL: case T_PATH: case T_LIT_PATH:
    case T_SET_PATH: case T_GET_PATH: case T_TAG: case T_EMAIL: case T_REF:
        return true;
    default:
        return false;
    }
}

static bool copied_by_make(TypeId t) {
    return copied_by_clone(t) || t == T_HASH || t == T_BINARY || t == T_VECTOR || t == T_IMAGE;
}

// Replaces *v (on the stack) by its copy through its type's copy action.
static void copy_value_in_place(Cell* v, bool deep) {
    ActionFn copy = action_of<Act::copy>(cell_type(v));
    if (!copy) return;
    StackScope scope;
    Cell* args = stack_push_copy(v);
    stack_push();
    stack_push();
    ActionFrame f = action_frame(args, cell_type(args));
    if (deep) f.refs[ref::copy_deep] = 0;
    copy(f);
    *v = *args;
}

// A function field made anew for the object ctx: its body copied deep and bound
// to the object, then (by function_push) to the new function's own context.
static void rebind_function(Cell* fn, NodeRef ctx) {
    Cell body0 = *function_body(fn);
    if (!cell_is(&body0, T_BLOCK)) raise_error(err::script::bad_func_def, fn);
    StackScope scope;
    Cell* held = stack_push_copy(fn);
    Cell* spec = stack_push();
    callable_spec(held, spec);
    Cell* body = stack_push();
    Cell* old_body = stack_push_copy(function_body(held));
    block_copy_deep(old_body, body);
    context_bind_block(body, ctx, true);
    Cell* made = function_push(spec, body, held->header & (FUNCTION_TRACE | FUNCTION_NO_TRACE));
    *fn = *made;
}

static void rebind_function_fields(NodeRef ctx) {
    uint32_t n = context_word_count(ctx);
    for (uint32_t k = 0; k < n; ++k) {
        if (!cell_is(object_values(ctx) + k, T_FUNCTION)) continue;
        StackScope scope;
        Cell* fn = stack_push_copy(object_values(ctx) + k);
        rebind_function(fn, ctx);
        object_values(ctx)[k] = *fn;
    }
}

static uint64_t types_mask(const Cell* types) {
    if (cell_is(types, T_DATATYPE)) return 1ull << get_datatype(types);
    if (cell_is(types, T_TYPESET)) return typeset_cell_mask(types);
    return 0;
}

// Pushes a copy of source with its own context (same words, values as they are).
static Cell* object_clone(const Cell* source_in, bool deep, const Cell* types, bool fresh_handlers) {
    Cell* result = stack_push();
    StackScope scope;
    Cell* source = stack_push_copy(source_in);
    uint64_t mask = types ? types_mask(types) : 0;
    uint32_t n = context_word_count(object_context(source));
    Cell* obj = object_push_new(cell_type(source), object_context(source), n);
    object_set_class_id(obj, object_class_id(source));
    object_set_handlers(obj, fresh_handlers ? 0 : object_handlers(source));
    for (uint32_t k = 0; k < n; ++k) object_values(object_context(obj))[k] = object_values(object_context(source))[k];
    *context_self(object_context(obj)) = *obj;
    if (deep && !types) {
        if (cycle_find(object_context(source))) {
            cycle_reset();
            raise_error(err::internal::no_cycle);
        }
        CycleGuard guard(object_context(source));
        for (uint32_t k = 0; k < n; ++k) {
            if (!copied_by_clone(cell_type(object_values(object_context(obj)) + k))) continue;
            Cell* v = stack_push_copy(object_values(object_context(obj)) + k);
            copy_value_in_place(v, true);
            object_values(object_context(obj))[k] = *v;
            stack_drop_to(v);
        }
    } else if (types) {
        for (uint32_t k = 0; k < n; ++k) {
            TypeId t = cell_type(object_values(object_context(obj)) + k);
            if (!(mask & (1ull << t)) || !type_is_series(t)) continue;
            Cell* v = stack_push_copy(object_values(object_context(obj)) + k);
            copy_value_in_place(v, deep);
            object_values(object_context(obj))[k] = *v;
            stack_drop_to(v);
        }
    }
    rebind_function_fields(object_context(obj));
    if (fresh_handlers) object_finish_handlers(obj);
    *result = *obj;
    return result;
}

// The series fields of source copied deep into target's fields (lists then bound
// to target); the other fields only with copy_all.
static void object_copy_values(NodeRef source, NodeRef target, bool copy_all) {
    uint32_t n = context_word_count(source);
    for (uint32_t k = 0; k < n && k < context_word_count(target); ++k) {
        TypeId t = cell_type(object_values(source) + k);
        if (!copied_by_make(t)) {
            if (copy_all) object_values(target)[k] = object_values(source)[k];
            continue;
        }
        StackScope scope;
        Cell* v = stack_push_copy(object_values(source) + k);
        copy_value_in_place(v, true);
        if (type_is_list(t)) context_bind_block(v, target, true);
        object_values(target)[k] = *v;
    }
}

// The words of source set into target by name (added when missing); then its
// series fields get fresh copies and its functions are rebound. True when target grew.
static bool object_extend(Cell* target, const Cell* source_in) {
    StackScope scope;
    Cell* source = stack_push_copy(source_in);
    uint32_t before = context_word_count(object_context(target));
    uint32_t n = context_word_count(object_context(source));
    for (uint32_t k = 0; k < n; ++k) {
        Cell* word = stack_push_copy(context_word_at(object_context(source), k));
        Cell* value = stack_push_copy(object_values(object_context(source)) + k);
        context_put_word_value(object_context(target), word, value);
        stack_drop_to(word);
    }
    uint32_t m = context_word_count(object_context(target));
    for (uint32_t k = 0; k < m; ++k) {
        if (!copied_by_make(cell_type(object_values(object_context(target)) + k))) continue;
        Cell* v = stack_push_copy(object_values(object_context(target)) + k);
        copy_value_in_place(v, true);
        object_values(object_context(target))[k] = *v;
        stack_drop_to(v);
    }
    rebind_function_fields(object_context(target));
    return m > before;
}

static void clear_changed_flags(NodeRef ctx) {
    uint32_t n = context_word_count(ctx);
    for (uint32_t k = 0; k < n; ++k) cell_clear_flag(context_word_at(ctx, k), FLAG_SLOT_SET);
}

// ================================================================== make, construct

static bool is_object_context(NodeRef ctx) {
    if (!ctx) return false;
    const Cell* cc = context_cell(ctx);
    return cell_is(cc, T_CONTEXT) && !(cc->header & CTX_ON_STACK) && context_kind(ctx) == CTX_KIND_OBJECT;
}

// The context that a spec block's first set-word is bound to (the object last
// made from it, as a rule) when its words are the block's set-words exactly,
// in order and spelling: collecting them into a new context would make the
// same words, so a copy of them serves. Otherwise 0.
// *flagged tells whether any of its words has its slot-set flag.
static NodeRef spec_shape(const Cell* spec, bool* flagged) {
    SeriesBuffer* b = node_buffer(series_node(spec));
    const Cell* cells = b->cells();
    uint32_t total = (b->tail - b->head) / sizeof(Cell);
    NodeRef shape = 0;
    uint32_t matched = 0, count = 0;
    *flagged = false;
    for (uint32_t i = series_index(spec); i < total; ++i) {
        if (!cell_is(cells + i, T_SET_WORD)) continue;
        if (!shape) {
            shape = word_context(cells + i);
            if (!is_object_context(shape)) return 0;
            count = context_word_count(shape);
        }
        if (matched == count) return 0;
        const Cell* word = context_word_at(shape, matched++);
        if ((word->header & ~FLAG_SLOT_SET) != T_WORD || word_symbol(word) != word_symbol(cells + i)) return 0;
        *flagged = *flagged || word->header != T_WORD;
    }
    return matched == count ? shape : 0;
}

// A new object for a spec block: with the words of the spec's shape when it
// has one (then true), else empty for the spec's set-words to be collected.
static Cell* object_push_for_spec(const Cell* spec, bool* shaped) {
    bool flagged;
    NodeRef shape = spec_shape(spec, &flagged);
    *shaped = shape != 0;
    if (!shape) return object_push_new(T_OBJECT, 0, 4);
    Cell* obj = object_push_new(T_OBJECT, shape, context_word_count(shape));
    if (flagged) clear_changed_flags(object_context(obj));
    return obj;
}

Cell* object_make(const Cell* proto_in, const Cell* spec_in) {
    Cell* result = stack_push();
    StackScope scope;
    Cell* proto = stack_push_copy(proto_in);
    Cell* spec = spec_in ? stack_push_copy(spec_in) : stack_push();
    bool from_object = cell_is(proto, T_OBJECT);
    bool shaped = false;
    Cell* obj = from_object                ? object_clone(proto, false, nullptr, false)
                : cell_is(spec, T_BLOCK) ? object_push_for_spec(spec, &shaped)
                                         : object_push_new(T_OBJECT, 0, 4);
    if (cell_is(spec, T_OBJECT)) {
        bool grew = object_extend(obj, spec);
        if (grew || !from_object) object_set_class_id(obj, object_new_class_id());
    } else if (cell_is(spec, T_BLOCK)) {
        bool grew = !shaped && context_collect_set_words(object_context(obj), spec);
        context_bind_block(spec, object_context(obj), true);
        if (from_object) object_copy_values(object_context(proto), object_context(obj), false);
        *context_self(object_context(obj)) = *obj;
        Cell* mark = vstack.top;
        evaluation_hooks.eval_block(spec);
        vstack.top = mark;
        evaluation_hooks.raise_pending_exit();
        clear_changed_flags(object_context(obj));
        uint32_t n = context_word_count(object_context(obj));
        for (uint32_t k = 0; k < n; ++k) cell_clear_flag(object_values(object_context(obj)) + k, FLAG_NEW_LINE);
        if (grew || !from_object) object_set_class_id(obj, object_new_class_id());
    } else if (spec_in) {
        raise_error(err::syntax::malconstruct, spec);
    }
    object_finish_handlers(obj);
    *result = *obj;
    return result;
}

Cell* object_field(const Cell* obj, int32_t symbol) {
    int32_t slot = context_find_symbol(object_context(obj), symbol, true);
    if (slot < 0) return nullptr;
    return object_values(object_context(obj)) + slot;
}

// Field slots found by name, remembered while no node has been freed and no
// buffer moved (buffer_epoch): the context is then the same one, and its words
// only ever grow at the end, so a slot once found stays the slot of its name.
struct FieldSlotEntry {
    uint64_t epoch;
    NodeRef context;
    int32_t symbol;
    int32_t slot;
};
static FieldSlotEntry field_slots[32];

static int32_t field_slot(NodeRef ctx, int32_t symbol) {
    FieldSlotEntry& e = field_slots[(ctx ^ uint32_t(symbol) * 0x9E3779B1u) >> 27];
    if (e.epoch == buffer_epoch && e.context == ctx && e.symbol == symbol) return e.slot;
    int32_t slot = context_find_symbol(ctx, symbol, true);
    if (slot >= 0) e = FieldSlotEntry{buffer_epoch, ctx, symbol, slot};
    return slot;
}

static bool is_field_key(TypeId t) { return type_is_word(t) && t != T_REFINEMENT && t != T_ISSUE; }

Cell* object_path_field(const Cell* obj, const Cell* key, bool setting) {
    if (!is_field_key(cell_type(key))) return nullptr;
    NodeRef ctx = object_context(obj);
    const Cell* cc = context_cell(ctx);
    if ((cc->header & CTX_ON_STACK) || context_kind(ctx) != CTX_KIND_OBJECT) return nullptr;
    // The handlers that fire are those of the context's own self cell, as for
    // any assignment to the field (an object value copied before its record
    // was built holds none).
    if (setting && object_handlers(context_self(ctx))) return nullptr;
    NodeRef values_node = context_cell_values(cc);
    if (!values_node) return nullptr;
    int32_t slot = field_slot(ctx, word_symbol(key));
    if (slot < 0) return nullptr;
    SeriesBuffer* values = node_buffer(values_node);
    if (uint32_t(slot) >= values->cell_count()) return nullptr;
    if (setting) cell_set_flag(context_word_at(ctx, uint32_t(slot)), FLAG_SLOT_SET);
    return values->cells() + slot;
}

Cell* object_values_block(const Cell* obj_in) {
    Cell obj = *obj_in;
    uint32_t n = context_word_count(object_context(&obj));
    Cell* out = block_push_new(n);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = object_values(object_context(&obj))[k];
        block_append(out, &v);
    }
    return out;
}

static bool is_handler_word(const Cell* w) {
    int32_t s = symbol_resolve_alias(word_symbol(w));
    return s == handler_symbol(RtWord::on_change) || s == handler_symbol(RtWord::on_deep_change);
}

void object_set_words(const Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
    StackScope scope;
    Cell* obj = stack_push_copy(obj_in);
    Cell* value = stack_push_copy(value_in);
    uint32_t n = context_word_count(object_context(obj));
    bool by_field = !only && (cell_is(value, T_BLOCK) || cell_is(value, T_OBJECT));
    if (by_field && !some && !any) {
        for (uint32_t k = 0; k < n; ++k) {
            const Cell* v = nullptr;
            if (cell_is(value, T_BLOCK)) v = k < block_length(value) ? block_at(value, k) : nullptr;
            else if (k < context_word_count(object_context(value))) v = object_values(object_context(value)) + k;
            if (v && cell_is(v, T_UNSET)) {
                Cell w = *context_word_at(object_context(obj), k);
                w.header = T_WORD;
                raise_error(err::script::need_value, &w);
            }
        }
    }
    bool has_record = object_handlers(obj) != 0;
    for (uint32_t k = 0; k < n; ++k) {
        Cell* v = stack_push();
        if (by_field && cell_is(value, T_BLOCK)) {
            if (k < block_length(value)) *v = *block_at(value, k);
            else set_none(v);
        } else if (by_field) {
            Cell* f = object_field(value, word_symbol(context_word_at(object_context(obj), k)));
            if (!f) { stack_drop_to(v); continue; }
            *v = *f;
        } else {
            *v = *value;
        }
        if (some && cell_is(v, T_NONE)) { stack_drop_to(v); continue; }
        Cell* w = stack_push_copy(context_word_at(object_context(obj), k));
        if (has_record && is_handler_word(w)) {
            cell_set_flag(context_word_at(object_context(obj), k), FLAG_SLOT_SET);
            stack_drop_to(v);
            continue;
        }
        word_set_value(w, v);
        stack_drop_to(v);
    }
}

static const struct { RtSym sym; int logic; } construct_logic[] = {
    {RtSym::true_, 1}, {RtSym::yes, 1}, {RtSym::on, 1},
    {RtSym::false_, 0}, {RtSym::no, 0}, {RtSym::off, 0}, {RtSym::none, -1}};

Cell* object_construct(const Cell* spec_in, const Cell* proto_in, bool only) {
    Cell* result = stack_push();
    StackScope scope;
    Cell* spec = stack_push_copy(spec_in);
    Cell* obj;
    if (proto_in && cell_is(proto_in, T_OBJECT)) {
        obj = object_clone(proto_in, true, nullptr, true);
    } else {
        obj = object_push_new(T_OBJECT, 0, 4);
    }
    context_collect_set_words(object_context(obj), spec);
    uint32_t n = block_length(spec);
    for (uint32_t k = 0; k < n; ++k) {
        Cell w = *block_at(spec, k);
        if (!cell_is(&w, T_SET_WORD)) continue;
        uint32_t j = k + 1;
        while (j < n && cell_is(block_at(spec, j), T_SET_WORD)) ++j;
        Cell v;
        if (j < n) v = *block_at(spec, j);
        else set_none(&v);
        if (!only && cell_is(&v, T_WORD)) {
            for (const auto& lw : construct_logic) {
                if (!is_symbol(&v, lw.sym)) continue;
                if (lw.logic < 0) set_none(&v);
                else set_logic(&v, lw.logic != 0);
                break;
            }
        }
        int32_t slot = context_find_symbol(object_context(obj), word_symbol(&w), true);
        object_values(object_context(obj))[slot] = v;
    }
    *context_self(object_context(obj)) = *obj;
    *result = *obj;
    return result;
}

// ================================================================== actions

static void object_make_action(ActionFrame& f) {
    Cell* r = object_make(f.args, f.args + 1);
    *f.args = *r;
}

static void object_copy(ActionFrame& f) {
    if (f.has(ref::copy_part)) {
        Cell part = *runtime_refinement(RtRefinement::part);
        raise_error(err::script::invalid_refine_arg, &part, f.ref_arg(ref::copy_part));
    }
    const Cell* types = f.has(ref::copy_types) ? f.ref_arg(ref::copy_types) : nullptr;
    Cell* r = object_clone(f.args, f.has(ref::copy_deep), types, true);
    *f.args = *r;
}

int32_t object_mold_body(const Cell* obj_in, Cell* out, bool only, bool all, bool flat, int32_t limit,
                                bool indent_on, int32_t level, bool leading_newline) {
    StackScope scope;
    Cell* obj = stack_push_copy(obj_in);
    uint32_t n = context_word_count(object_context(obj));
    if (!n) return limit;
    const char* separator = "\n";
    if (flat) {
        indent_on = false;
        separator = " ";
    } else if (leading_newline && !only) {
        string_append_cstr(out, "\n");
        --limit;
    }
    if (only) indent_on = false;
    CycleGuard guard(object_context(obj));
    bool first = true;
    for (uint32_t k = 0; k < n && limit > 0; ++k) {
        Cell* word = stack_push_copy(context_word_at(object_context(obj), k));
        if (!all && is_handler_word(word)) { stack_drop_to(word); continue; }
        if (!indent_on && !first) {
            string_append_cstr(out, separator);
            --limit;
        }
        first = false;
        if (indent_on) limit = mold_indent(out, level, limit);
        word->header = T_WORD;
        limit = mold_dispatch(word, out, false, false, false, limit, level);
        string_append_cstr(out, ": ");
        limit -= 2;
        Cell* v = stack_push_copy(object_values(object_context(obj)) + k);
        if (cell_type(v) == T_NONE_ID) set_unset(v);
        if (cell_is(v, T_WORD)) {
            string_append_cstr(out, "'");
            --limit;
        }
        limit = mold_dispatch(v, out, only, all, flat, limit, level);
        if (indent_on) {
            string_append_cstr(out, separator);
            --limit;
        }
        stack_drop_to(word);
    }
    return limit;
}

static int32_t cycle_ellipsis(Cell* out, TypeId t, bool mold, int32_t limit) {
    const char* marker = cycle_marker(t, mold);
    string_append_cstr(out, marker);
    return limit - int32_t(std::strlen(marker));
}

static int32_t object_form(const Cell* v, Cell* out, const Cell*, int32_t limit) {
    if (cycle_find(object_context(v))) return cycle_ellipsis(out, T_OBJECT, false, limit);
    return object_mold_body(v, out, false, false, false, limit, false, 0, false);
}

static int32_t object_mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell*, int32_t limit,
                           int32_t indent) {
    if (cycle_find(object_context(v))) return cycle_ellipsis(out, T_OBJECT, true, limit);
    if (!only) {
        string_append_cstr(out, "make object! [");
        limit -= 14;
    }
    limit = object_mold_body(v, out, only, all, flat, limit, true, indent + 1, true);
    if (!flat && indent > 0) limit = mold_indent(out, indent, limit);
    if (!only) {
        string_append_cstr(out, "]");
        --limit;
    }
    return limit;
}

static void object_eval_path(PathStep& step) {
    Cell* element = step.element;
    if (!is_field_key(cell_type(element))) raise_error(err::script::invalid_path, step.path, element);
    int32_t slot = context_find_symbol(object_context(step.parent), word_symbol(element), true);
    if (slot < 0) raise_error(err::script::invalid_path, step.path, element);
    if (step.set) {
        Cell w = *context_word_at(object_context(step.parent), uint32_t(slot));
        word_set_value(&w, step.set);
        *step.result = *step.set;
        return;
    }
    Cell* field = object_values(object_context(step.parent)) + slot;
    if (cell_is(field, T_UNSET)) raise_error(err::script::unset_path, step.path, element);
    *step.result = *field;
}

static bool is_word_kind(TypeId t) { return type_is_word(t); }
static bool is_number_kind(TypeId t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

static int object_compare(const Cell* a, const Cell* b, int op) {
    if (cell_type(b) != cell_type(a)) return CMP_NOT_COMPARABLE;
    if (object_context(a) == object_context(b)) return 0;
    if (op == CMP_SAME) return -1;
    if (cycle_find(object_context(a))) return cycle_find(object_context(b)) ? 0 : -1;
    uint32_t n = context_word_count(object_context(a)), m = context_word_count(object_context(b));
    if (n != m) return n < m ? -1 : 1;
    CycleGuard guard_a(object_context(a));
    CycleGuard guard_b(object_context(b));
    for (uint32_t k = 0; k < n; ++k) {
        int32_t sa = symbol_resolve_alias(word_symbol(context_word_at(object_context(a), k)));
        int32_t sb = symbol_resolve_alias(word_symbol(context_word_at(object_context(b), k)));
        if (sa != sb) return sa < sb ? -1 : 1;
        const Cell* x = object_values(object_context(a)) + k;
        const Cell* y = object_values(object_context(b)) + k;
        TypeId tx = cell_type(x), ty = cell_type(y);
        if (tx != ty && !(is_word_kind(tx) && is_word_kind(ty)) && !(is_number_kind(tx) && is_number_kind(ty)))
            return tx < ty ? -1 : 1;
        int r = compare_dispatch(x, y, op);
        if (r == CMP_NOT_COMPARABLE) return r;
        if (r != 0) return r;
    }
    return 0;
}

static bool field_is(const Cell* field, RtSym s) { return type_is_word(cell_type(field)) && is_symbol(field, s); }

static void object_reflect(ActionFrame& f) {
    Cell* field = f.args + 1;
    NodeRef ctx = object_context(f.args);
    if (field_is(field, RtSym::values)) {
        *f.args = *object_values_block(f.args);
        return;
    }
    if (field_is(field, RtSym::class_)) {
        set_integer(f.args, object_class_id(f.args));
        return;
    }
    if (field_is(field, RtSym::owner)) {
        set_logic(f.args, cell_has_flag(context_cell(ctx), FLAG_OWNER));
        return;
    }
    if (field_is(field, RtSym::events_q)) {
        set_logic(f.args, object_handlers(f.args) != 0);
        return;
    }
    bool changed = type_is_word(cell_type(field)) && symbol_resolve_alias(word_symbol(field)) ==
                                                         symbol_resolve_alias(word_symbol(runtime_word(RtWord::changed)));
    bool words = field_is(field, RtSym::words), body = field_is(field, RtSym::body);
    if (!changed && !words && !body) raise_error(err::internal::not_done);
    uint32_t n = context_word_count(ctx);
    Cell* out = block_push_new(body ? 2 * n : n);
    for (uint32_t k = 0; k < n; ++k) {
        Cell w = *context_word_at(ctx, k);
        if (changed && !cell_has_flag(&w, FLAG_SLOT_SET)) continue;
        cell_clear_flag(&w, FLAG_SLOT_SET);
        w.header = (w.header & ~0xFFu) | (body ? T_SET_WORD : T_WORD);
        if (body) cell_set_flag(&w, FLAG_NEW_LINE);
        block_append(out, &w);
        if (body) {
            Cell v = object_values(ctx)[k];
            if (cell_is(&v, T_WORD)) v.header = (v.header & ~0xFFu) | T_LIT_WORD;
            else if (cell_is(&v, T_PATH)) v.header = (v.header & ~0xFFu) | T_LIT_PATH;
            block_append(out, &v);
        }
    }
    *f.args = *out;
}

static void object_modify(ActionFrame& f) {
    Cell* field = f.args + 1;
    Cell* value = f.args + 2;
    bool changed = type_is_word(cell_type(field)) && symbol_resolve_alias(word_symbol(field)) ==
                                                         symbol_resolve_alias(word_symbol(runtime_word(RtWord::changed)));
    if (changed) {
        if (!cell_is(value, T_NONE)) raise_error(err::script::invalid_arg, value);
        clear_changed_flags(object_context(f.args));
    } else if (field_is(field, RtSym::owner)) {
        bind_as_owner(f.args);
    } else if (field_is(field, RtSym::owned)) {
        if (cell_is(value, T_NONE)) {
            ownership_unbind(f.args);
        } else if (cell_is(value, T_BLOCK) && block_length(value) >= 2) {
            StackScope scope;
            Cell* owner = stack_push_copy(block_at(value, 0));
            Cell* word = stack_push_copy(block_at(value, 1));
            ownership_bind(f.args, owner, word);
        }
    }
    *f.args = *value;
}

static void object_select(ActionFrame& f) {
    Cell* key = f.args + 1;
    if (!type_is_word(cell_type(key))) raise_error_type(err::script::invalid_type, cell_type(key));
    Cell* v = object_field(f.args, word_symbol(key));
    if (v) *f.args = *v;
    else set_none(f.args);
}

static void object_put(ActionFrame& f) {
    Cell* key = f.args + 1;
    if (!cell_is(key, T_WORD)) raise_error_type(err::script::invalid_key_type, cell_type(key));
    int32_t slot = context_find_symbol(object_context(f.args), word_symbol(key), true);
    if (slot < 0) {
        Cell none;
        set_none(&none);
        raise_error(err::script::invalid_path, &none, key);
    }
    Cell w = *context_word_at(object_context(f.args), uint32_t(slot));
    word_set_value_in(&w, f.args + 2, object_context(f.args), true);
    *f.args = f.args[2];
}

template <> void register_type<T_OBJECT>() {
    context_set_change_notifier(fire_on_change);
    ownership_deep_change_hook = fire_on_deep_change;
    ownership_object_walk_hook = walk_object_fields;
    register_datatype(T_OBJECT, {
        .make = object_make_action, .reflect = object_reflect, .form = object_form, .mold = object_mold,
        .eval_path = object_eval_path, .compare = object_compare, .copy = object_copy, .put = object_put,
        .select = object_select, .modify = object_modify
    });
}

}  // namespace tev

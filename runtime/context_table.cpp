// Contexts: making them, binding words to them, and reading and writing a word's value.
#include "runtime/context_table.h"
#include <algorithm>
#include <cassert>
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr uint32_t GLOBAL_CONTEXT_SIZE = 4000;

NodeRef global_ctx = 0;
ChangeNotifyFn change_notifier = nullptr;

void mark_global_context() { gc_mark_node_ref(&global_ctx); }

// The word table is a hash table: everything it owns is marked with it.
void mark_context_cell(const Cell* c) {
    Cell* home = const_cast<Cell*>(c);
    gc_mark_hash_table(context_cell_table_slot(home));
    if (!(c->header & CTX_ON_STACK)) gc_mark_node_ref(context_cell_values_slot(home));
}

// Keeps a context alive while C++ code that made it allocates.
struct HoldContext {
    RootCell root;
    explicit HoldContext(NodeRef ctx) { set_series(root.get(), T_BLOCK, ctx); }
};

NodeRef word_table(NodeRef ctx) { return context_cell_table(context_cell(ctx)); }
NodeRef values_node(NodeRef ctx) { return context_cell_values(context_cell(ctx)); }

uint32_t cells_in(NodeRef node) {
    SeriesBuffer* b = node_buffer(node);
    return (b->tail - b->head) / sizeof(Cell);
}
void append_cell(NodeRef node, const Cell& value) {
    SeriesBuffer* b = series_ensure_room(node, sizeof(Cell));
    *reinterpret_cast<Cell*>(b->tail_ptr()) = value;
    b->tail += sizeof(Cell);
}

bool on_value_stack(const Cell* c) { return c >= vstack.begin && c < vstack.end; }

// Every word of the word table bound to ctx at its own slot.
void rebind_words(NodeRef ctx) {
    NodeRef words = context_words_node(ctx);
    Cell* w = node_buffer(words)->cells();
    for (uint32_t i = 0, n = cells_in(words); i < n; ++i) word_set_context(w + i, ctx);
}

// The slot a word already names, when ctx holds its exact spelling there:
// outside the global context a canonical spelling has one slot, so a lookup
// would find the same one. A word rebound to a context of the same shape (an
// object made again from one spec) is mostly this; a word of the global
// context names a slot no smaller context predicts.
inline int32_t slot_by_index(NodeRef ctx, const Cell* word) {
    NodeRef from = word_context(word);
    if (!from || from == global_ctx || context_kind(ctx) == CTX_KIND_GLOBAL) return -1;
    uint32_t index = uint32_t(word_index(word));
    if (index >= context_word_count(ctx)) return -1;
    return word_symbol(context_word_at(ctx, index)) == word_symbol(word) ? int32_t(index) : -1;
}

inline int32_t bind_word(NodeRef ctx, Cell* word) {
    int32_t slot = ctx == global_ctx ? -1 : slot_by_index(ctx, word);
    if (slot < 0) slot = context_find_symbol(ctx, word_symbol(word), true);
    if (slot >= 0) {
        word_set_context(word, ctx);
        word_set_index(word, slot);
    }
    return slot;
}

// The cycle guard ends a walk into a list that contains itself and bounds the
// depth (too-deep), as every recursive walk over values does.
void bind_list(NodeRef node, uint32_t index, NodeRef ctx, bool self_flag) {
    if (cycle_find(node)) return;
    CycleGuard guard(node);
    // Binding never allocates, so the cells stay where they are.
    SeriesBuffer* b = node_buffer(node);
    Cell* c = b->cells();
    uint32_t n = (b->tail - b->head) / sizeof(Cell);
    for (uint32_t i = std::min(index, n); i < n; ++i) {
        TypeId t = cell_type(c + i);
        if (type_is_list(t)) {
            bind_list(series_node(c + i), series_index(c + i), ctx, self_flag);
        } else if (t >= T_WORD && t <= T_REFINEMENT) {
            if (self_flag && t == T_WORD && word_symbol(c + i) == self_symbol()) {
                word_set_context(c + i, ctx);
                word_set_index(c + i, WORD_NO_INDEX);
            } else {
                bind_word(ctx, c + i);
            }
        }
    }
}

}  // namespace

// ---------------------------------------------------------------- the context record

void global_context_init() {
    if (global_ctx) return;
    gc_register_mark(T_CONTEXT, mark_context_cell);
    global_ctx = context_make(GLOBAL_CONTEXT_SIZE, false, false, 0, CTX_KIND_GLOBAL);
    gc_add_mark_hook(mark_global_context);
}

NodeRef global_context() { return global_ctx; }


void context_set_stack_args(NodeRef ctx, Cell* first_arg) {
    assert(context_on_stack(ctx));
    context_cell_set_values(context_cell(ctx), first_arg ? uint32_t(first_arg - vstack.begin) + 1 : 0);
}
Cell* context_stack_args(NodeRef ctx) {
    uint32_t w2 = context_cell_values(context_cell(ctx));
    return w2 ? vstack.begin + (w2 - 1) : nullptr;
}

NodeRef context_make(uint32_t slots, bool on_stack, bool object, NodeRef source, int kind) {
    uint32_t size = std::max<uint32_t>(slots, 1);
    NodeRef ctx = alloc_series_unset(2);
    node_buffer(ctx)->tail = 2 * sizeof(Cell);
    HoldContext hold(ctx);
    Cell* c = context_cell(ctx);
    c->header = T_CONTEXT;
    if (on_stack) {
        c->header |= CTX_ON_STACK;
    } else {
        NodeRef values = alloc_series_unset(size);
        context_cell_set_values(context_cell(ctx), values);
    }
    NodeRef table;
    if (source) {
        NodeRef words = copy_series(context_words_node(source));
        table = hash_table_copy(word_table(source), words);
    } else {
        table = hash_table_create(size, 0, 0, HASH_KIND_WORDS, 2);
    }
    c = context_cell(ctx);
    context_cell_set_table(c, table);
    c->header |= uint32_t(kind) << CTX_KIND_SHIFT;
    if (object) c->header |= CTX_OBJECT;
    if (source) {
        rebind_words(ctx);
        // Every copied word starts with an unset value.
        if (!on_stack) {
            uint32_t words = context_word_count(ctx);
            SeriesBuffer* v = node_buffer(values_node(ctx));
            if (uint64_t(words) * sizeof(Cell) > v->size - v->head)
                v = expand_series_fill(values_node(ctx), words * uint32_t(sizeof(Cell)), 0);
            Cell* cells = reinterpret_cast<Cell*>(v->head_ptr());
            for (uint32_t i = 0; i < words; ++i) set_unset(cells + i);
            v->tail = v->head + words * uint32_t(sizeof(Cell));
        }
    }
    return ctx;
}

NodeRef context_make_from_spec(const Cell* spec, bool on_stack, bool object, int kind) {
    NodeRef spec_node = series_node(spec);
    SeriesBuffer* b = node_buffer(spec_node);
    uint32_t total = (b->tail - b->head) / sizeof(Cell);
    uint32_t index = std::min(series_index(spec), total);
    NodeRef ctx = context_make(total - index, on_stack, object, 0, kind);
    HoldContext hold(ctx);
    uint32_t count = 0;
    for (uint32_t i = 0; i < cells_in(spec_node); ++i) {
        const Cell* c = node_buffer(spec_node)->cells() + i;
        TypeId t = cell_type(c);
        if (t != T_WORD && t != T_GET_WORD && t != T_LIT_WORD && t != T_REFINEMENT) continue;
        int32_t slot;
        if (context_add_symbol(ctx, word_symbol(c), true, &slot) < 0) ++count;
    }
    if (!on_stack) {
        SeriesBuffer* v = node_buffer(values_node(ctx));
        if (uint64_t(count) * sizeof(Cell) > v->size - v->head) v = expand_series_fill(values_node(ctx), count * sizeof(Cell), 0);
        Cell* cells = reinterpret_cast<Cell*>(v->head_ptr());
        for (uint32_t i = 0; i < count; ++i) set_unset(cells + i);
        v->tail = v->head + count * sizeof(Cell);
    }
    return ctx;
}

NodeRef context_clone(Cell* value, int kind) {
    NodeRef old = value_context(value);
    bool stack = context_on_stack(old);
    bool object = (context_cell(old)->header & CTX_OBJECT) != 0;
    NodeRef ctx = context_make(context_word_count(old), stack, object, old, kind);
    value_set_context(value, ctx);
    return ctx;
}

// ---------------------------------------------------------------- words in a context

int32_t context_find_symbol(NodeRef ctx, int32_t symbol, bool nocase) {
    return hash_table_find_word(word_table(ctx), symbol, nocase ? 1 : 0);
}

int32_t context_add_symbol(NodeRef ctx, int32_t symbol, bool nocase, int32_t* out_index) {
    HoldContext hold(ctx);
    return hash_table_find_or_append_word(word_table(ctx), symbol, nocase ? 1 : 0, ctx, out_index);
}

namespace {

// context_add_word for a context the caller holds across the allocations.
int32_t add_word_held(NodeRef ctx, const Cell* word) {
    int32_t slot;
    if (hash_table_find_or_append_word(word_table(ctx), word_symbol(word), 1, ctx, &slot) >= 0) return slot;
    if (!context_on_stack(ctx)) {
        Cell unset;
        set_unset(&unset);
        append_cell(values_node(ctx), unset);
    }
    return slot;
}

}  // namespace

int32_t context_add_word(NodeRef ctx, const Cell* word) {
    HoldContext hold(ctx);
    return add_word_held(ctx, word);
}

int32_t context_add_word_value(NodeRef ctx, const Cell* word, const Cell* value) {
    Cell v = *value;  // the source stays reachable through the caller; its cell may move
    int32_t slot;
    if (context_add_symbol(ctx, word_symbol(word), true, &slot) >= 0) return -1;
    HoldContext hold(ctx);
    append_cell(values_node(ctx), v);
    return slot;
}

void context_put_word_value(NodeRef ctx, const Cell* word, const Cell* value) {
    Cell v = *value;
    int32_t slot;
    if (context_add_symbol(ctx, word_symbol(word), true, &slot) >= 0) {
        node_buffer(values_node(ctx))->cells()[slot] = v;
        return;
    }
    HoldContext hold(ctx);
    append_cell(values_node(ctx), v);
}

bool context_collect_set_words(NodeRef ctx, Cell* block) {
    NodeRef node = series_node(block);
    uint32_t total = cells_in(node);
    if (series_index(block) > total) series_set_index(block, total);
    uint32_t before = context_word_count(ctx);
    HoldContext hold(ctx);  // once for the walk: holding costs more than adding a word
    for (uint32_t i = series_index(block); i < cells_in(node); ++i) {
        Cell w = node_buffer(node)->cells()[i];
        if (cell_is(&w, T_SET_WORD)) add_word_held(ctx, &w);
    }
    return context_word_count(ctx) > before;
}

Cell* context_get_symbol_value(int32_t symbol, NodeRef ctx) {
    if (context_on_stack(ctx)) ctx = global_ctx;
    int32_t slot = context_find_symbol(ctx, symbol, true);
    assert(slot >= 0 && "callers ask only for words known to be there");
    return node_buffer(values_node(ctx))->cells() + slot;
}


int32_t context_bind_word(NodeRef ctx, Cell* word) { return bind_word(ctx, word); }

void context_bind_block(const Cell* block, NodeRef ctx, bool self_flag) {
    self_symbol();  // interned before the walk: the walk must not allocate
    bind_list(series_node(block), series_index(block), ctx, self_flag);
}

// ---------------------------------------------------------------- the global context

int32_t self_symbol() {
    static int32_t id = 0;
    if (!id) id = symbol_from_cstring("self");
    return id;
}

Cell word_intern_global(int32_t symbol, bool nocase, bool keep_spelling) {
    int32_t slot;
    int32_t found = context_add_symbol(global_ctx, symbol, nocase, &slot);
    Cell word = *context_word_at(global_ctx, uint32_t(slot));
    if (found < 0) {
        if (symbol_alias_raw(symbol) > 0) {
            // A case variant shares the slot of the spelling met first.
            int32_t shared = context_find_symbol(global_ctx, symbol, true);
            word_set_index(&word, shared);
            word_set_index(context_word_at(global_ctx, uint32_t(slot)), shared);
        }
        Cell unset;
        set_unset(&unset);
        append_cell(values_node(global_ctx), unset);
        return word;
    }
    if (nocase && keep_spelling && word_symbol(&word) != symbol) word_set_symbol(&word, symbol);
    return word;
}

Cell word_from_symbol(int32_t symbol) { return word_intern_global(symbol, false, false); }

Cell word_from_cstring(const char* name) {
    return word_intern_global(symbol_from_cstring(name), true, true);
}

Cell refinement_from_cstring(const char* name) {
    Cell r;
    cell_init(&r, T_REFINEMENT);
    word_set_symbol(&r, symbol_from_cstring(name));
    word_set_index(&r, WORD_NO_INDEX);
    return r;
}

Cell word_lookup_in_context(NodeRef ctx, int32_t symbol) {
    int32_t slot = context_find_symbol(ctx, symbol, false);
    if (slot >= 0) return *context_word_at(ctx, uint32_t(slot));
    return word_from_symbol(symbol);
}

// ---------------------------------------------------------------- word values

Cell* word_get_value_in(const Cell* word_in, NodeRef ctx) {
    Cell w = *word_in;  // interning self (once) may move the word's block
    const Cell* word = &w;
    int32_t index = word_index(word);
    if (index == -1) {
        if (word_symbol(word) == self_symbol() && word_context(word)) return context_self(word_context(word));
        raise_error(err::script::no_value, word);
    }
    if (!ctx || !context_cell_values(context_cell(ctx))) raise_error(err::script::not_in_context, word);
    if (context_on_stack(ctx)) {
        Cell* arg = context_stack_args(ctx) + index;
        if (uint32_t(index) >= context_word_count(ctx) || arg >= vstack.top)
            raise_error(err::script::not_in_context, word);
        return arg;
    }
    if (uint32_t(index) >= cells_in(values_node(ctx))) raise_error(err::script::no_value, word);
    return node_buffer(values_node(ctx))->cells() + index;
}

Cell* word_get_value(const Cell* word) { return word_get_value_in(word, word_context(word)); }

void word_set_value_in(Cell* word, const Cell* value, NodeRef ctx, bool notify) {
    Cell w = *word, v = *value;
    if (!ctx) raise_error(err::script::not_defined, &w);
    int32_t index = word_index(&w);
    if (index == -1) {
        index = context_find_symbol(ctx, word_symbol(&w), false);
        if (index < 0) {
            // A function context has exactly its arguments: a new word there
            // would have its value written past them.
            if (context_on_stack(ctx)) raise_error(err::script::not_defined, &w);
            if (!context_cell_values(context_cell(ctx))) raise_error(err::script::not_defined, &w);
            index = context_add_word(ctx, &w);
            if (on_value_stack(word)) word_set_index(word, index);
        } else {
            word_set_index(word, index);
        }
        word_set_index(&w, index);
    }
    // Nothing below allocates until the notifier runs: the context's cells are read once.
    const Cell* cc = context_cell(ctx);
    if (!context_cell_values(cc)) raise_error(err::script::not_defined, &w);
    if (cc->header & CTX_ON_STACK) {
        Cell* arg = context_stack_args(ctx) + index;
        if (uint32_t(index) >= context_word_count(ctx) || arg >= vstack.top)
            raise_error(err::script::not_defined, &w);
        *arg = v;
        return;
    }
    SeriesBuffer* values = node_buffer(context_cell_values(cc));
    if (uint32_t(index) >= values->cell_count()) raise_error(err::script::not_defined, &w);
    if (context_kind(ctx) == CTX_KIND_OBJECT) cell_set_flag(context_word_at(ctx, uint32_t(index)), FLAG_SLOT_SET);
    Cell* slot = values->cells() + index;
    if (notify && change_notifier && object_handlers(cc + 1 /* the self cell */)) {
        StackScope scope;
        Cell* old_value = stack_push_copy(slot);
        Cell* word_arg = stack_push_copy(&w);
        Cell* new_value = stack_push_copy(&v);
        Cell* self = stack_push_copy(context_self(ctx));
        node_buffer(values_node(ctx))->cells()[index] = v;
        change_notifier(self, word_arg, old_value, new_value);
        return;
    }
    *slot = v;
}

void word_set_value(Cell* word, const Cell* value) { word_set_value_in(word, value, word_context(word), true); }

void context_set_change_notifier(ChangeNotifyFn fn) { change_notifier = fn; }

}  // namespace tev

// Contexts: a table of words paired with their values; the global context, every object and every function call have one.
//
// A context is the node of a 2-cell series: cell 0 the context! cell (word 1
// the word table, a kind-2 hash table whose key block holds one word! per slot
// in slot order; word 2 the values series, or for a function context the value
// stack position of the running call's first argument + 1, 0 when no call
// runs), cell 1 the self cell (the owner's value).
// Cell* results point into series buffers: valid until the next allocation.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"

namespace tev {

constexpr int CTX_KIND_SHIFT = 11;
constexpr uint32_t CTX_KIND_MASK = 3u << CTX_KIND_SHIFT;
constexpr uint32_t CTX_ON_STACK = 0x400000;   // values live on the value stack
constexpr uint32_t CTX_OBJECT = 0x1000000;    // an object's context
enum ContextKind : int { CTX_KIND_GLOBAL = 0, CTX_KIND_FUNCTION = 1, CTX_KIND_OBJECT = 2 };

// Start-up, after the symbol table block exists.
void global_context_init();
NodeRef global_context();

// Inline: field access and binding read these once per word or path step.
inline Cell* context_cell(NodeRef ctx) { return node_buffer(ctx)->cells(); }
inline Cell* context_self(NodeRef ctx) { return node_buffer(ctx)->cells() + 1; }
inline int context_kind(NodeRef ctx) { return int((context_cell(ctx)->header & CTX_KIND_MASK) >> CTX_KIND_SHIFT); }
inline bool context_on_stack(NodeRef ctx) { return (context_cell(ctx)->header & CTX_ON_STACK) != 0; }
// The word table's key block.
inline NodeRef context_words_node(NodeRef ctx) { return hash_table_desc(context_cell_table(context_cell(ctx)))->key_block; }
inline uint32_t context_word_count(NodeRef ctx) {
    SeriesBuffer* b = node_buffer(context_words_node(ctx));
    return (b->tail - b->head) / sizeof(Cell);
}
inline Cell* context_word_at(NodeRef ctx, uint32_t n) { return node_buffer(context_words_node(ctx))->cells() + n; }
// A function context's arguments: set by the interpreter around a call (nullptr: none).
void context_set_stack_args(NodeRef ctx, Cell* first_arg);
Cell* context_stack_args(NodeRef ctx);

// source: a context whose words the new one starts with (bound to the new one), or 0.
NodeRef context_make(uint32_t slots, bool on_stack, bool object, NodeRef source, int kind);
// One slot per word, get-word, lit-word and refinement of the spec block (case
// variants of a word already there add nothing).
NodeRef context_make_from_spec(const Cell* spec, bool on_stack, bool object, int kind);
// A new context for an object! or function value, with the old one's words;
// the value then refers to it (so it must be a cell that does not move: on
// the value stack or a RootCell).
NodeRef context_clone(Cell* value, int kind);

int32_t context_find_symbol(NodeRef ctx, int32_t symbol, bool nocase);
// The existing slot, or -1 after appending a word bound to the context (its slot in *out_index).
int32_t context_add_symbol(NodeRef ctx, int32_t symbol, bool nocase, int32_t* out_index);
// The word's slot (nocase), added with an unset value when absent.
int32_t context_add_word(NodeRef ctx, const Cell* word);
// Adds the word with a copy of value when absent: its new slot; -1 when present (nothing changed).
int32_t context_add_word_value(NodeRef ctx, const Cell* word, const Cell* value);
void context_put_word_value(NodeRef ctx, const Cell* word, const Cell* value);
// Adds every set-word of the block from its index (clamped to the tail, and
// written back) on; true when the context gained words.
bool context_collect_set_words(NodeRef ctx, Cell* block);
// The value cell of a symbol known to be present (nocase); a function context
// stands for the global one.
Cell* context_get_symbol_value(int32_t symbol, NodeRef ctx);
// Binds the word to ctx when ctx has its symbol (nocase): the slot, else -1 (word unchanged).
int32_t context_bind_word(NodeRef ctx, Cell* word);
// Deep binding of the block's words from its index on; nested lists too,
// each list once however often it contains itself. With self_flag, the word
// `self` reaches the context's self cell.
void context_bind_block(const Cell* block, NodeRef ctx, bool self_flag);

// ---------------------------------------------------------------- words and values

// The word for a symbol in the global context (added when absent). A word
// bound to the global context holds nothing the collector must keep, so it is
// returned by value.
Cell word_intern_global(int32_t symbol, bool nocase, bool keep_spelling);
Cell word_from_symbol(int32_t symbol);
// The word of a NUL-terminated UTF-8 name in the global context (added when
// absent); a case variant keeps its spelling and shares the first spelling's slot.
Cell word_from_cstring(const char* name);
Cell refinement_from_cstring(const char* name);  // unbound
Cell word_lookup_in_context(NodeRef ctx, int32_t symbol);
int32_t self_symbol();

Cell* word_get_value_in(const Cell* word, NodeRef ctx);
Cell* word_get_value(const Cell* word);
// Sets the word's slot. When an object's change handler runs (notify) the
// values may have moved, so no slot address is handed back: read it again.
void word_set_value_in(Cell* word, const Cell* value, NodeRef ctx, bool notify);
void word_set_value(Cell* word, const Cell* value);

// The object layer's on-change* caller: self, word, old value, new value, all on the value stack.
using ChangeNotifyFn = void (*)(Cell* self, Cell* word, Cell* old_value, Cell* new_value);
void context_set_change_notifier(ChangeNotifyFn fn);

}  // namespace tev

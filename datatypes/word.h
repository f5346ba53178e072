// The word family (word!, set-word!, lit-word!, get-word!, refinement!, issue!): making,
// pushing, reading and setting words, and each type's registration.
//
// A word cell: word 1 the context node (0 for an unbound refinement), word 2
// the symbol id, word 3 the slot index (-1 when unresolved, for `self` and for
// issues). Cells returned by value that are bound to the global context hold
// nothing the collector must keep.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/context_table.h"  // word_from_cstring, refinement_from_cstring

namespace tev {

// ---------------------------------------------------------------- making

// cell becomes a word! (flags kept) bound to the global context, added there
// with an unset value when absent.
Cell* word_make_global(int32_t symbol, Cell* cell);
void word_append_global(int32_t symbol, Cell* block);
Cell* word_push_global(int32_t symbol);
Cell* issue_make_cell(Cell* cell, const char* name);
Cell* issue_push_cstring(const char* name);

// ---------------------------------------------------------------- pushing (each returns the new stack cell)

Cell* word_push(const Cell* word);
Cell* word_push_slot(NodeRef ctx, uint32_t n);
Cell* word_push_as(const Cell* word, TypeId type);        // get-word!, refinement!, issue!, lit-word!
Cell* word_push_slot_as(NodeRef ctx, uint32_t n, TypeId type);
// The word's value; raises no-value when it is unset.
Cell* word_push_value(const Cell* word);
Cell* get_word_push_value(const Cell* word);
// Slot n's value (from the value stack for a function context); not-defined
// when the context has no values. No unset check.
Cell* word_push_slot_value(NodeRef ctx, uint32_t n);
// A new string! holding the spelling: changing it never renames the symbol.
Cell* word_push_as_string(const Cell* word);

// ---------------------------------------------------------------- slots (compiled code)

Cell* word_at_slot(NodeRef ctx, uint32_t n);
Cell* context_slot_address_raw(NodeRef ctx, uint32_t n);
// Copies the value stack's last value into slot n (marking an object's slot assigned).
void word_set_slot_value(NodeRef ctx, uint32_t n);
// Takes the last value, pushes a copy of slot n's old value, then stores the taken value.
void word_set_slot_keep_old(NodeRef ctx, uint32_t n);
// args[0] a word, args[1] its new value: sets it (change handlers on) and
// leaves the value in args[0]; an unset value raises need-value.
void set_word_eval(Cell* args);

}  // namespace tev

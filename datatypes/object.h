// object!: a value naming a context of its own whose words are the fields.
// Cell: w1 the context node, w2 the class id, w3 the change-handler record (0: none),
// a 2-cell block describing on-change* and on-deep-change*.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// The change-handler record: cell 0 for on-change*, cell 1 for on-deep-change*,
// each a pair!-typed cell whose word 1 holds the handler's field position in
// its upper 16 bits (0xFFFF: absent) and its local slot count in the lower 16.
constexpr uint32_t HANDLER_ABSENT = 0xFFFF;
inline void handler_entry_set(Cell* e, int32_t position, uint32_t locals) {
    cell_init(e, T_PAIR);
    e->w1 = (position < 0 ? HANDLER_ABSENT << 16 : uint32_t(position) << 16) | (locals & 0xFFFF);
}
inline int32_t handler_entry_position(const Cell* e) {
    uint32_t pos = e->w1 >> 16;
    return pos == HANDLER_ABSENT ? -1 : int32_t(pos);
}

int32_t object_new_class_id();
// Pushes a new object of `type` (object!, error!) on a fresh context with the
// words of `proto_ctx` (0: none) and room for `slots`; its self cell refers to it.
Cell* object_push_new(TypeId type, NodeRef proto_ctx, uint32_t slots);
// make object! / make an-object: collects the set-words of spec, binds and
// evaluates it. Pushes the object; check pending_exit afterwards.
Cell* object_make(const Cell* proto, const Cell* spec);
// Reads the object's (rooted) on-change* and on-deep-change* fields into its
// change-handler record; a handler field that holds no function raises bad-field-set.
void object_finish_handlers(Cell* obj);
// The field's value cell, or nullptr when the object has no such field.
Cell* object_field(const Cell* obj, int32_t symbol);
// The field cell a one-step path reads or sets over obj (an object!) for key,
// when the step is no more than a copy: key a word kind a path accepts, naming
// a field (any case). For a set, also only while the object has no change
// handlers; the field is then marked as set and the caller stores into it
// before the next allocation. nullptr otherwise: the path action decides.
Cell* object_path_field(const Cell* obj, const Cell* key, bool setting);
// Pushes a block of copies of the field values.
Cell* object_values_block(const Cell* obj);
// The `set` native on an object: a block or object value goes field by field,
// anything else to every field.
void object_set_words(const Cell* obj, const Cell* value, bool any, bool only, bool some);
// Calls the object's on-change* (when it has one) with the word, old and new value.
void object_fire_on_change(const Cell* obj, const Cell* word, const Cell* old_value, const Cell* new_value);
// The fields as "word: value" (handler fields only with all): with indent_on each on
// its own line at `level` (after a leading line feed when asked), else separated by
// line feeds (blanks with flat). Returns the limit left.
int32_t object_mold_body(const Cell* obj, Cell* out, bool only, bool all, bool flat, int32_t limit,
                         bool indent_on, int32_t level, bool leading_newline);
// `construct`: fields from an unevaluated spec; the logic words are evaluated unless only.
Cell* object_construct(const Cell* spec, const Cell* proto, bool only);

}  // namespace tev

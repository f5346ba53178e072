// The ownership table: which object field holds a series, so that an in-place change of the series reaches the owner's on-deep-change*.
//
// Entries are keyed by node (series buffers, bitsets; an object's context node
// when an object is notified). Each entry keeps the owned value, the owner
// object and the field word; the table is a collector root. An owned series
// carries SER_OWNED in its buffer flags, so the common case (not owned) costs
// one flag test per modifying action.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

// The action words of change notices: each modifying action sends its own
// word before the change and, when the series is owned, the past-tense word after.
enum class ChangeWord : uint8_t {
    append, appended, insert, inserted, change, changed, clear, cleared,
    move, moved, poke, poked, put, put_ed, remove, removed, random, randomized,
    reverse, reversed, sort, sorted, swap, swaped, take, taken, trim, trimmed,
    uppercase, lowercase  // sent once, after the change
};
// The language spelling of a change word ("put-ed", "swaped" as written).
const char* change_word_spelling(ChangeWord w);

void ownership_init();
// Records value (and, for lists, every series reachable from it) as owned by
// owner through its field `word`, and marks the owner.
void ownership_bind(const Cell* value, const Cell* owner, const Cell* word);
void ownership_bind_value(const Cell* value, const Cell* owner, const Cell* word);
// The reverse, deeply for lists.
void ownership_unbind(const Cell* value);
void ownership_unbind_range(const Cell* block, uint32_t index, uint32_t count);
// The owner object of the entry for node into *out, or none.
void ownership_get_owner(NodeRef node, Cell* out);
// Number of entries (tests, statistics).
uint32_t ownership_count();

// Announces a change of target (a series, bitset or object) to its owner.
// value may be nullptr (no new value). Answers true when the owner's handler
// was called; series actions send the after-notice only then.
bool ownership_notice(const Cell* target, ChangeWord action, const Cell* value, int32_t index, int32_t part);
// True when the series buffer of node is owned (its changes are announced).
bool ownership_node_owned(NodeRef node);

// The owner's side: called with (owner, field word, target, action, new value
// or none, index, part) when an owned target changes. Filled in by the object
// layer; while it is empty, notices reach no handler.
using DeepChangeFn = void (*)(const Cell* owner, const Cell* word, const Cell* target, ChangeWord action,
                              const Cell* value, int32_t index, int32_t part);
extern DeepChangeFn ownership_deep_change_hook;
// The object layer's walk over an object's fields for bind (bind = true) and
// unbind; while it is empty, object values bind nothing.
using OwnershipObjectWalkFn = void (*)(const Cell* object, const Cell* owner, const Cell* word, bool bind);
extern OwnershipObjectWalkFn ownership_object_walk_hook;

// Owner mark: flag on the owner's context! cell.
constexpr uint32_t FLAG_OWNER = 0x10000;

}  // namespace tev

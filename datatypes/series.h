// series!: the abstract parent whose 21 actions every series type (block!, string!, image! and their kin) inherits.
//
// Every routine here works on any unit width (1, 2, 4 bytes or 16-byte cells),
// reading the unit from the buffer; none assumes cells unless it tests a type.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace tev {

// ------------------------------------------------------------------ positions

inline uint32_t unit_shift(uint32_t unit) { return unit == 16 ? 4 : unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0; }
// Units from the buffer's first unit to the tail, ignoring the index.
uint32_t series_full_length(const Cell* s);
// Units from the index (or the first unit) to the tail. An index past the tail
// is pulled back to the tail in the cell itself and 0 is returned.
uint32_t series_rest_length(Cell* s, bool from_head = false);
// True when the index is at or past the tail.
bool series_at_tail(const Cell* s);
// Moves the index forward by n unless that passes the tail; true when the new
// position (moved or not) is at or past the tail.
bool series_advance(Cell* s, uint32_t n);
// Both cells are series of the same type over the same buffer.
bool series_same_buffer(const Cell* a, const Cell* b);

// ------------------------------------------------------------------ refinements
// The order of each action's refinements in ActionFrame::refs (the order of the
// action's spec). Every series type's implementation reads them by these names.
namespace ref {
enum Append : int { append_part = 0, append_only, append_dup };          // also insert, change
enum Copy : int { copy_part = 0, copy_deep, copy_types };
enum Find : int { find_part = 0, find_only, find_case, find_same, find_any, find_with,
                  find_skip, find_last, find_reverse, find_tail, find_match };  // select: up to reverse
enum Put : int { put_case = 0 };
enum Sort : int { sort_case = 0, sort_skip, sort_compare, sort_part, sort_all, sort_reverse, sort_stable };
enum Take : int { take_part = 0, take_deep, take_last };
enum Remove : int { remove_part = 0, remove_key };
enum Reverse : int { reverse_part = 0, reverse_skip };
enum Random : int { random_seed = 0, random_secure, random_only };
enum Move : int { move_part = 0 };
enum Trim : int { trim_head = 0, trim_tail, trim_auto, trim_lines, trim_all, trim_with };
}  // namespace ref

// An empty ActionFrame (every refinement absent) over args.
ActionFrame action_frame(Cell* args, TypeId type);

// ------------------------------------------------------------------ random source
// series! random draws through these: the random module's generator (Mersenne
// Twister, or the secure source), replaceable so that tests can choose draws.
struct SeriesRandomSource {
    // A number in 1..n (n >= 1).
    uint32_t (*range)(bool secure, uint32_t n);
    // Reseed from the given bytes.
    void (*seed)(const void* bytes, uint32_t size);
};
extern SeriesRandomSource series_random_source;

// ------------------------------------------------------------------ actions
// Exposed so that series types which replace an entry can still reach the shared one.
void series_random(ActionFrame& f);
void series_reflect(ActionFrame& f);
void series_at(ActionFrame& f);
void series_back(ActionFrame& f);
void series_clear(ActionFrame& f);
void series_copy(ActionFrame& f);
void series_head(ActionFrame& f);
void series_head_q(ActionFrame& f);
void series_index_q(ActionFrame& f);
void series_length_q(ActionFrame& f);
void series_move(ActionFrame& f);
void series_next(ActionFrame& f);
void series_pick(ActionFrame& f);
void series_poke(ActionFrame& f);
void series_remove(ActionFrame& f);
void series_reverse(ActionFrame& f);
void series_skip(ActionFrame& f);
void series_tail(ActionFrame& f);
void series_tail_q(ActionFrame& f);
void series_take(ActionFrame& f);
void series_modify(ActionFrame& f);

// The start and count that copy (and take) use for a /part argument: an
// integer!, a pair! or a position in the same buffer. Raises invalid-refine-arg.
void series_copy_range(Cell* s, const Cell* part, uint32_t* start, uint32_t* count);
// Copies count units from start into a new series pushed on the stack (type and
// new-line marker of s, index 0, no owned flag).
Cell* series_push_copy(const Cell* s, uint32_t start, uint32_t count);

// ------------------------------------------------------------------ derived state

// A type that keeps something derived from its cells (hash!: an index) keeps
// it in step through one entry of its own: the series actions report each
// change through series_changed, which does nothing for the other types, so
// the shared code knows no such type by name.
enum class SeriesChange {
    appended,   // cells added at the tail from `position` on
    replaced,   // the one cell at `position` got another value
    rewritten,  // cells moved, went or changed anywhere: derive everything again
};
using SeriesChangedFn = void (*)(const Cell* value, SeriesChange change, uint32_t position);
void register_series_changed(TypeId t, SeriesChangedFn fn);
// `position` counts from the buffer's first cell.
void series_changed(const Cell* value, SeriesChange change, uint32_t position = 0);

// ------------------------------------------------------------------ words and errors

// True when c is a word of any kind spelled `spelling`, ignoring ASCII case.
bool series_is_word(const Cell* c, const char* spelling);
// The refinement's argument is not what the action takes: invalid-refine-arg
// with the refinement's word and the value.
[[noreturn]] void raise_bad_refine(const char* refinement, const Cell* value);

// Finds key from the series' index with the type's find (/case); on success
// the cell is set to the found position and true is returned.
bool series_find_key(Cell* s, const Cell* key);

// Path access by integer position through pick and poke (byte and number
// series, whose elements are not characters); other accessors raise invalid-path.
void series_eval_path_by_index(PathStep& step);
// take for byte and number series: without /part the one element taken as a
// value (an integer! byte, a vector element), none when nothing was taken.
void series_take_element(ActionFrame& f);

}  // namespace tev

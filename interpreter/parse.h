// The parse dialect: the rule engine behind `parse`, and the matching routines its fast paths share.
//
// Positions are absolute unit indexes into the input's buffer (from its first
// unit, not its head); `limit` is the tail or the /part end, whichever comes first.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>
#include "runtime/cell.h"

namespace tev {

// Start-up: the keyword table and the collector hook of the work stacks.
void parse_init();

// Runs `rules` over `input` (compare mode 0 or CMP_STRICT_EQUAL; part_end an
// absolute index, 0 or less for none; callback a function! or nullptr) and
// writes the logic! or the collected block into *out (rooted). Returns false
// when a break, continue, return, exit or throw raised inside the rules is
// pending: it passes outward and *out is left alone.
bool parse_run(Cell* out, const Cell* input, const Cell* rules, int mode, int64_t part_end, const Cell* callback);

// ------------------------------------------------------------------ matching

enum ParseInputClass { PARSE_IN_BLOCK, PARSE_IN_STRING, PARSE_IN_BINARY };
ParseInputClass parse_input_class(TypeId t);

// An input element against a rule value: lit-words match words of either kind.
bool parse_compare(const Cell* element, const Cell* rule, int mode);
// The units a literal rule value matches at `index` (it must end by `limit`),
// or -1. Binary input compares bytes exactly.
int64_t parse_match_literal(const Cell* input, uint32_t index, uint32_t limit, const Cell* value, int mode);
// At the end only an empty string!, file! or url! matches, in text input.
bool parse_empty_match_at_end(const Cell* input, const Cell* value);
// The iteration fast loop: matches the value again and again from *index
// (moved past the passes that matched, also on failure); true when the number
// of passes lies between min and max (max -1: no limit).
bool parse_repeat_value(const Cell* input, uint32_t* index, uint32_t limit, const Cell* value,
                        int32_t min, int32_t max, int mode);
// The to/thru fast search: the first match of the value from `index`, as the
// units [*start, *end). A value that cannot be searched for in text or bytes
// raises parse-rule.
bool parse_find_value(const Cell* input, uint32_t index, uint32_t limit, const Cell* value, int mode,
                      uint32_t* start, uint32_t* end);
// The to/thru search again and again: every match of the value from `index`,
// each search starting where the previous match ends, appended to *hits as
// [start, end) pairs. It stops at a match that takes no units.
void parse_find_all(const Cell* input, uint32_t index, uint32_t limit, const Cell* value, int mode,
                    std::vector<std::pair<uint32_t, uint32_t>>* hits);
// The units that may begin a match of one of up to eight char! or bitset!
// rule values, worked out once for many scans of text or bytes input. The
// values are read again by the scans: they must not change meanwhile.
struct ParseLeadScan {
    const Cell* values;
    uint32_t n;
    bool exact;
    uint8_t values_of_byte[256];  // bit k: a unit below 256 may begin value k
};
void parse_lead_scan_init(ParseLeadScan* scan, const Cell* input, const Cell* values, uint32_t n, int mode);
// The first index from `index` below `limit` whose unit may begin one of the
// values, with *which the first such value; `limit` when there is none.
uint32_t parse_lead_scan(const ParseLeadScan& scan, const Cell* input, uint32_t index, uint32_t limit, uint32_t* which);
// Where the run of units in bitset! value `which` from `index` ends (by
// `limit`): the end of `some` of the bitset, when the first unit is in it.
uint32_t parse_lead_run(const ParseLeadScan& scan, const Cell* input, uint32_t which, uint32_t index, uint32_t limit);
// Scans one token of binary input as text: the bytes it takes when its
// datatype is the datatype or in the typeset, else -1.
int64_t parse_match_type_binary(const Cell* input, uint32_t index, const Cell* type);

}  // namespace tev

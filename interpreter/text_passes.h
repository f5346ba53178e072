// The library's one-pass walks over text and bytes: replace/all's rebuild and
// split's cut, each finding its hits with the same search as parse's `to`.
#pragma once
#include "runtime/cell.h"

namespace tev {

// A new series of the series' type holding its units from the index to the
// tail with every hit of `pattern` changed into `piece` (a series of the same
// kind, taken whole): hits are found left to right, each search starting past
// the previous hit, as `to pattern` finds them with parse or parse/case. An
// empty text or byte pattern has no hit. False (out untouched) when the
// result would be too long for one series. `series`, `pattern` and `piece`
// must be rooted; `out` must be a cell the collector sees.
bool text_replace_all(Cell* out, const Cell* series, const Cell* pattern, const Cell* piece, bool case_sensitive);

// A new block of the pieces of text between the hits of `delimiter` (text,
// char! or bitset!) from the index to the tail, found as find finds them
// (letters folding); one piece more than there are hits, and an empty
// delimiter has none. `series` and `delimiter` must be rooted.
void text_split(Cell* out, const Cell* series, const Cell* delimiter);

}  // namespace tev

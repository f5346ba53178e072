// CSV's native halves: text split into lines of fields behind load-csv, records
// joined into lines behind to-csv. Each gives exactly what the library's Tev code
// gives, and declines (returns false, having changed nothing) the settings where
// that code's meaning rests on case folding or on characters that overlap, so
// the Tev code runs instead.
#pragma once
#include "runtime/cell.h"

namespace tev {

// Why a split stopped before the end of the text.
enum class CsvStop { none, unterminated, non_aligned };

struct CsvSplitRules {
    const Cell* delimiter;     // char! or string!
    const Cell* quote;         // char!
    const Cell* double_quote;  // the doubled quote a quoted field collapses (any value)
    bool trim;                 // pad quoted fields, trim unquoted ones and strip their quotes
    bool ignore_empty;         // drop an empty last field of each line
    bool strict;               // stop at a line whose length differs from the first's
};

// Splits `text` (string!, from its index) into `lines`, a rooted cell made a
// block holding a block of strings per line, as load-csv's grammar reads it.
// Stops at an opening quote that nothing closes or, when strict, at the first
// line of another length (neither line is kept); *stop says which.
bool csv_split(Cell* lines, const Cell* text, const CsvSplitRules& rules, CsvStop* stop);

// Appends to `output` (a rooted string!) the lines to-csv-line makes: one per
// record of `records` (blocks) when `size` is 0, else one per `size` values of
// the flat block. `quotable` is the bitset of characters that make a value
// quoted; a quote inside a quoted value is doubled.
bool csv_join(Cell* output, const Cell* records, uint32_t size, const Cell* delimiter, const Cell* quote,
              const Cell* quotable);

}  // namespace tev

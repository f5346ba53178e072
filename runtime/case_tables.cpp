// Case mapping lookups over the generated Unicode 11.0 tables.
#include "runtime/case_tables.h"
#include <cstddef>

namespace tev {

namespace {
struct CasePair { uint32_t from, to; };
#include "case_tables_data.inc"

uint32_t map_astral(const CasePair* pairs, size_t n, uint32_t cp) {
    size_t lo = 0, hi = n;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        if (pairs[mid].from < cp) lo = mid + 1;
        else hi = mid;
    }
    return (lo < n && pairs[lo].from == cp) ? pairs[lo].to : cp;
}
}  // namespace

// Constant-initialised, so start-up code of other units (the key hash tables) may read it.
constinit const CaseBlocks upper_case_blocks = {case_upper_index, case_upper_blocks};

uint32_t unicode_map_char_case(uint32_t cp, bool upper) {
    if (cp < 0x10000) {
        if (upper) return unicode_upper_below_10000(cp);
        uint32_t to = case_lower_blocks[case_lower_index[cp >> 8]][cp & 0xFF];
        return to ? to : cp;
    }
    if (upper) return map_astral(case_upper_astral, sizeof case_upper_astral / sizeof *case_upper_astral, cp);
    return map_astral(case_lower_astral, sizeof case_lower_astral / sizeof *case_lower_astral, cp);
}

}  // namespace tev

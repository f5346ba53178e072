// Case mapping: each code point to the first code point of its full Unicode 11.0 upper or lower mapping.
// The tables are constant data generated at build time (tools/gen_case_tables.py); nothing to set up.
#pragma once
#include <cstdint>

namespace tev {

// The mapped code point, or cp itself when it has no mapping in that direction.
uint32_t unicode_map_char_case(uint32_t cp, bool upper);

// The upper-case table of the code points below 0x10000, open to inlining for
// loops that map every character of a text (the folded key hash): each page
// of 256 code points has a block, 0 where a code point maps to itself.
struct CaseBlocks {
    const uint8_t* page_block;
    const uint16_t (*blocks)[256];
};
extern const CaseBlocks upper_case_blocks;
inline uint32_t unicode_upper_below_10000(uint32_t cp) {
    uint32_t to = upper_case_blocks.blocks[upper_case_blocks.page_block[cp >> 8]][cp & 0xFF];
    return to ? to : cp;
}
inline uint32_t unicode_upper(uint32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return unicode_map_char_case(cp, true);
}
inline uint32_t unicode_lower(uint32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return unicode_map_char_case(cp, false);
}

}  // namespace tev

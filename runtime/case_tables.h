// Case mapping: each code point to the first code point of its full Unicode 11.0 upper or lower mapping.
// The tables are constant data generated at build time (tools/gen_case_tables.py); nothing to set up.
#pragma once
#include <cstdint>

namespace tev {

// The mapped code point, or cp itself when it has no mapping in that direction.
uint32_t unicode_map_char_case(uint32_t cp, bool upper);
inline uint32_t unicode_upper(uint32_t cp) {
    if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return unicode_map_char_case(cp, true);
}
inline uint32_t unicode_lower(uint32_t cp) {
    if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return unicode_map_char_case(cp, false);
}

}  // namespace tev

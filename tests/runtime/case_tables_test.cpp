// Case mapping over the generated Unicode 11.0 tables.
#include <gtest/gtest.h>
#include "runtime/case_tables.h"

using namespace tev;

TEST(CaseTables, MapsToTheFirstCodePointOfTheFullMapping) {
    struct Row { uint32_t cp; bool upper; uint32_t expect; };
    const Row rows[] = {
        {'a', true, 'A'}, {'A', false, 'a'}, {0xDF, true, 0x53}, {0x149, true, 0x2BC}, {0x130, false, 0x69},
        {0x1C90, false, 0x10D0}, {0xFF, true, 0x178}, {0x1E922, true, 0x1E900}, {0x1E943, true, 0x1E921},
        {0x1E900, false, 0x1E922}, {0x10428, true, 0x10400}, {0x10400, false, 0x10428},
        {'5', true, '5'}, {0x4E2D, true, 0x4E2D}, {0x4E2D, false, 0x4E2D}, {0, true, 0}, {0, false, 0},
        {0x10FFFF, true, 0x10FFFF}, {0x3A9, false, 0x3C9}, {0x3C9, true, 0x3A9},
    };
    for (const Row& r : rows) EXPECT_EQ(unicode_map_char_case(r.cp, r.upper), r.expect) << std::hex << r.cp;
    for (uint32_t c = 0; c < 0x80; ++c) {
        EXPECT_EQ(unicode_upper(c), unicode_map_char_case(c, true));
        EXPECT_EQ(unicode_lower(c), unicode_map_char_case(c, false));
    }
}

// The table the folded key hash reads inline agrees with the mapping for every
// code point it serves.
TEST(CaseTables, InlineUpperTableAgreesBelow10000) {
    for (uint32_t cp = 0; cp < 0x10000; ++cp)
        ASSERT_EQ(unicode_upper_below_10000(cp), unicode_map_char_case(cp, true)) << std::hex << cp;
}

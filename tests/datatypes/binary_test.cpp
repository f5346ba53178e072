// binary!: the base 2/16/58/64 engines on text of every unit width, and the bounds of the byte routines.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "runtime/value_stack.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

// The text as units of the given width.
std::vector<uint8_t> units(const std::u32string& text, uint32_t unit) {
    std::vector<uint8_t> out(text.size() * unit);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        std::memcpy(out.data() + i * unit, &c, unit);  // little-endian: the low bytes
    }
    return out;
}

TEST(Binary, DecodersRejectWhatIsNotInTheirAlphabet) {
    struct Row { int base; std::u32string text; bool valid; std::string bytes; } rows[] = {
        {16, U"0A0b", true, "\x0A\x0B"}, {16, U"", true, ""}, {16, U"01 ;note\n 02", true, "\x01\x02"},
        {16, U"ABC", false, ""},                    // a lone final digit is not dropped
        {16, U"0\u00C1", false, ""},                // 'A' + 80h must not fold to 'A'
        {16, U"0\u0141", false, ""},                // nor 'A' + 100h
        {16, U"0G", false, ""},
        {2, U"00000001 11111111", true, "\x01\xFF"}, {2, U"0000001", false, ""}, {2, U"00000002", false, ""},
        {58, U"11", true, std::string(2, '\0')}, {58, U"2", true, "\x01"}, {58, U"5Q", true, "\xFF"},
        {58, U"1\u00B1", false, ""},                // above 127 is invalid, not the end of the text
        {58, U"0", false, ""}, {58, U" 2 ' ", true, "\x01"},
        {64, U"SGVsbG8=", true, "Hello"}, {64, U"SGVs\n bG8= ; the rest\n", true, "Hello"},
        {64, U"QQ==", true, "A"}, {64, U"QUI=", true, "AB"}, {64, U"SGVsbG8", false, ""},
        {64, U"S===", false, ""}, {64, U"SGV\u00E9", false, ""}, {64, U"SG.s", false, ""},
        // runs of whole pairs or groups, broken by blanks, comments, padding or a bad character
        {16, U"0A0b0C0d", true, "\x0A\x0B\x0C\x0D"}, {16, U"0A0b0", false, ""}, {16, U"0A0b 0C", true, "\x0A\x0B\x0C"},
        {16, U"0A0;x\nb", true, "\x0A\x0B"}, {16, U"0A0bZZ", false, ""}, {16, U"0A0b0\u00C1", false, ""},
        {64, U"SGVsbG8h", true, "Hello!"}, {64, U"SGVsbG8hSA==", true, "Hello!H"}, {64, U"SGVsbG8hS", false, ""},
        {64, U"SGVs bG8h", true, "Hello!"}, {64, U"SGVsb G8h", true, "Hello!"}, {64, U"SGVsbG8h;c\nSGk=", true, "Hello!Hi"},
        {64, U"SGVsbG8h*", false, ""}, {64, U"SGVsbG8hSGk=junk", true, "Hello!Hi"},
    };
    for (const Row& r : rows)
        for (uint32_t unit : {1u, 2u, 4u}) {
            if (unit == 1 && r.text.find_first_of(U"\u0141") != std::u32string::npos) continue;
            std::vector<uint8_t> text = units(r.text, unit);
            std::string bytes;
            bool valid = binary_debase_bytes(r.base, text.data(), uint32_t(r.text.size()), unit, &bytes);
            EXPECT_EQ(valid, r.valid) << r.base << " unit " << unit << " row " << (&r - rows);
            if (valid && r.valid) {
                EXPECT_EQ(bytes, r.bytes) << r.base << " row " << (&r - rows);
            }
        }
}

// Sizes counted in 32 bits would wrap for inputs of 512 MiB and more and let
// an oversized text through the length check.
TEST(Binary, EncodedSizesAreCountedIn64Bits) {
    struct Row { int base; uint64_t length, room; } rows[] = {
        {2, 0x10000000, 0x80000000}, {2, 0x20000000, 0x100000000}, {2, 0xFFFFFFFF, 0x7FFFFFFF8},
        {16, 0x40000000, 0x80000000}, {16, 0x80000000, 0x100000000}, {64, 0xC0000000, 0x100000000},
        {64, 0x60000000, 0x80000000}, {58, 0xFFFFFFFF, 0xFFFFFFFFull * 138 / 100 + 2}, {64, 1, 4}, {16, 0, 0},
    };
    for (const Row& r : rows) EXPECT_EQ(binary_enbase_room(r.base, r.length), r.room) << r.base << " " << r.length;
}

TEST(Binary, EncodersAndRoundTrips) {
    auto enc = [](int base, const std::string& s) {
        return binary_enbase(base, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
    };
    EXPECT_EQ(enc(58, std::string(2, '\0')), "11");
    EXPECT_EQ(enc(58, ""), "");
    EXPECT_EQ(enc(58, "\xFF"), "5Q");
    EXPECT_EQ(enc(64, "Hello"), "SGVsbG8=");
    EXPECT_EQ(enc(64, "AB"), "QUI=");
    EXPECT_EQ(enc(16, "\x0A\xFF"), "0AFF");
    EXPECT_EQ(enc(2, "\x81"), "10000001");
    std::string all;
    for (int i = 0; i < 300; ++i) all.push_back(char(i * 7 + (i >> 3)));
    for (std::string sample : {all, std::string("\0\0\x01\x02", 4), std::string("x")})
        for (int base : {2, 16, 58, 64}) {
            std::string text = enc(base, sample), back;
            ASSERT_TRUE(binary_debase_bytes(base, text.data(), uint32_t(text.size()), 1, &back)) << base;
            EXPECT_EQ(back, sample) << base;
        }
}

TEST(Binary, ByteRoutinesStayInBounds) {
    StackScope scope;
    Cell* bin = binary_push_memory("\x01\x02\x03", 3);
    EXPECT_EQ(binary_byte_at(bin, 2), 3);
    EXPECT_EQ(raised_by([&] { binary_byte_at(bin, 3); }), err::script::out_of_range.code);
    bin->w1 = 5;  // a head past the tail counts as length 0
    EXPECT_EQ(binary_length(bin), 0u);
    bin->w1 = 1;
    binary_overwrite_bytes(bin, 1, "\xAA\xBB\xCC", 3);  // runs past the tail: the tail follows
    EXPECT_EQ(mold_of(*bin), "#{02AABBCC}");
    binary_insert_bytes(bin, 0, "\x00", 1);
    binary_append_be32(0x01020304, bin);
    bin->w1 = 0;
    EXPECT_EQ(mold_of(*bin), "#{010002AABBCC01020304}");
    EXPECT_EQ(binary_debase_16("ABC", 3, 1), nullptr);
    Cell* decoded = binary_debase_16("abcd", 4, 1);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(mold_of(*decoded), "#{ABCD}");
    uint8_t byte = 0;
    Cell type = DT(T_BINARY);
    EXPECT_EQ(raised_by([&] { binary_value_to_byte(&byte, stack_push_copy(&type)); }),
              err::script::invalid_arg.code);
}

}  // namespace
}  // namespace tev

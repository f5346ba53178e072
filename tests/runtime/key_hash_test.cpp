// Key hashing: the published MurmurHash3 x86-32 vectors, case folding, unit-width independence (the one-byte path included), key types.
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "runtime/case_tables.h"
#include "runtime/key_hash.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "tests/runtime/text_cells.h"

namespace tev {
namespace {

TEST(KeyHashing, MurmurMatchesThePublishedVectors) {
    struct Row { const char* text; uint32_t seed, hash; } rows[] = {
        {"", 0, 0}, {"", 1, 0x514E28B7}, {"", 0xFFFFFFFF, 0x81F16F39}, {"test", 0, 0xBA6BD213},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
        {"a", 0x9747B28C, 0x7FA09EA6}, {"abc", 0x9747B28C, 0xC84A62DD},
        {"abcd", 0x9747B28C, 0xF0478627}, {"aaaa", 0x9747B28C, 0x5A97808A},
    };
    for (const Row& r : rows)
        EXPECT_EQ(murmur3_hash_bytes_seed(r.text, std::strlen(r.text), r.seed), r.hash) << r.text;
}

TEST(KeyHashing, FoldedHashLowersOnlyAsciiLetters) {
    const char* pairs[][2] = {{"FooBAR", "foobar"}, {"A", "a"}, {"Z[@", "z[@"}, {"ABCDEFGHIJK", "abcdefghijk"}};
    for (auto& p : pairs)
        EXPECT_EQ(murmur3_hash_bytes_folded(p[0], std::strlen(p[0])), murmur3_hash_bytes(p[1], std::strlen(p[1])));
    // Bytes of non-ASCII text are hashed as they are (É is C3 89, é is C3 A9).
    EXPECT_NE(murmur3_hash_bytes_folded("\xC3\x89", 2), murmur3_hash_bytes_folded("\xC3\xA9", 2));
}

// A string cell over a fresh buffer of the given unit holding the code points,
// on the value stack.
Cell* text_cell(const std::u32string& text, uint32_t unit, uint32_t index = 0) {
    Cell c = text_cell_value(T_STRING, text, unit, index);
    Cell* s = stack_push();
    *s = c;
    return s;
}

TEST(KeyHashing, TextHashesAlikeInEveryUnitWidth) {
    StackScope scope;
    std::u32string text = U"Tev\u00E9";
    Cell* c1 = text_cell(text, 1);
    Cell* c2 = text_cell(text, 2);
    Cell* c4 = text_cell(text, 4);
    for (int flag : {0, 1}) {
        EXPECT_EQ(hash_string_chars(c1, flag), hash_string_chars(c2, flag));
        EXPECT_EQ(hash_string_chars(c1, flag), hash_string_chars(c4, flag));
    }
    // Equal to the hash of the UTF-32LE bytes of the text, case-sensitively.
    EXPECT_EQ(hash_string_chars(c1, 1), murmur3_hash_bytes(text.data(), 4 * text.size()));
    // Only the characters from the index on count.
    Cell* tail = text_cell(U"xxTev\u00E9", 2, 2);
    EXPECT_EQ(hash_string_chars(tail, 1), hash_string_chars(c1, 1));
}

// The hash a text must have: each code point (upper-cased unless case_flag
// is 1) as one little-endian 32-bit block.
uint32_t reference_text_hash(const std::u32string& text, int case_flag) {
    std::vector<uint8_t> bytes;
    for (char32_t c : text) {
        uint32_t cp = case_flag == 1 ? uint32_t(c) : unicode_upper(uint32_t(c));
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(cp >> (8 * i)));
    }
    return murmur3_hash_bytes(bytes.data(), bytes.size());
}

// One-byte text takes its own path (tables of pre-mixed blocks); every text
// that fits one byte per character must hash as the general path hashes it
// in wider units, and as the reference says, with either case flag.
TEST(KeyHashing, OneByteTextHashesAsEveryOtherUnit) {
    std::u32string every_latin1;
    for (char32_t c = 0; c < 256; ++c) every_latin1.push_back(c);
    const std::u32string texts[] = {
        U"", U"a", U"A", U"w12", U"W12", U"key", U"KEY", U"Hello, World! 0123456789 [@`{]",
        U"\u00E9t\u00E9", U"\u00C9T\u00C9", U"\u00FF", U"\u00B5", U"\u00DF", U"\u00D7\u00F7", U"\u0080\u009F\u00A0",
        every_latin1,
    };
    StackScope scope;
    for (const std::u32string& text : texts) {
        std::string bytes(text.begin(), text.end());
        for (int flag : {0, 1}) {
            uint32_t want = reference_text_hash(text, flag);
            EXPECT_EQ(hash_string_chars(text_cell(text, 1), flag), want) << bytes << " flag " << flag;
            EXPECT_EQ(hash_string_chars(text_cell(text, 2), flag), want) << bytes << " flag " << flag;
            EXPECT_EQ(hash_string_chars(text_cell(text, 4), flag), want) << bytes << " flag " << flag;
            EXPECT_EQ(hash_latin1_chars(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), flag),
                      want) << bytes << " flag " << flag;
            // From an index on, and cut short as a text key with a count.
            EXPECT_EQ(hash_string_chars(text_cell(U"xy" + text, 1, 2), flag), want) << bytes;
            Cell key = *text_cell(text + U"tail", 1);  // the stack holds the string!, never a text key
            cell_set_type(&key, T_TEXT_KEY);
            text_key_set_count(&key, int32_t(text.size()));
            EXPECT_EQ(hash_string_chars(&key, flag), want) << bytes;
        }
    }
}

// The text hash as a plain loop gives it, one character at a time, with
// nothing shared with the library's code but unicode_upper: each code point
// (upper-cased unless case_flag is 1) is one 32-bit block scrambled and mixed
// into the state, and the length mixed in is four bytes per character.
uint32_t one_at_a_time_text_hash(const std::u32string& text, int case_flag) {
    auto rotl = [](uint32_t x, int r) { return (x << r) | (x >> (32 - r)); };
    uint32_t h = HASH_SEED;
    for (char32_t c : text) {
        uint32_t k = case_flag == 1 ? uint32_t(c) : unicode_upper(uint32_t(c));
        k *= 0xcc9e2d51u;
        k = rotl(k, 15) * 0x1b873593u;
        h = rotl(h ^ k, 13) * 5 + 0xe6546b64u;
    }
    return murmur3_finalize(h ^ uint32_t(4 * text.size()));
}

// The narrowest unit that holds every code point of the text.
uint32_t narrowest_unit(const std::u32string& text) {
    char32_t top = text.empty() ? 0 : *std::max_element(text.begin(), text.end());
    return top <= 0xFF ? 1 : top <= 0xFFFF ? 2 : 4;
}

// Strings refilled for every text rather than made anew: under the
// collector's torture mode each allocation collects, thousands of times here.
// For each unit: the text alone, after two other characters, before two more.
struct TextStrings {
    Cell* cells[3][3];  // [unit 1, 2, 4][alone, after, before]
    TextStrings() {
        for (auto& unit_cells : cells)
            for (Cell*& c : unit_cells) c = nullptr;
        uint32_t k = 0;
        for (uint32_t unit : {1u, 2u, 4u}) {
            for (Cell*& c : cells[k]) c = text_cell(std::u32string(24, U'a'), unit);
            ++k;
        }
    }
    Cell* get(uint32_t unit, int which, const std::u32string& text) {
        Cell* str = cells[unit == 1 ? 0 : unit == 2 ? 1 : 2][which];
        SeriesBuffer* b = node_buffer(series_node(str));
        for (size_t i = 0; i < text.size(); ++i) {
            uint32_t cp = text[i];
            std::memcpy(b->data + b->head + i * unit, &cp, unit);  // little-endian units
        }
        b->tail = b->head + uint32_t(text.size()) * unit;
        return str;
    }
};

// The text hashed every way a key reaches it (each unit that holds it, from
// an index, cut short as a text key, the one-byte entry) against the plain
// loop, with each case flag (any flag but 1 folds).
void expect_hashes_as_one_at_a_time(TextStrings& strings, const std::u32string& text, const char* what) {
    for (int flag : {0, 1, 2}) {
        uint32_t want = one_at_a_time_text_hash(text, flag);
        for (uint32_t unit = narrowest_unit(text); unit <= 4; unit *= 2) {
            ASSERT_EQ(hash_string_chars(strings.get(unit, 0, text), flag), want)
                << what << ": unit " << unit << " flag " << flag << " length " << text.size();
            Cell from_two = *strings.get(unit, 1, U"\u00E9Z" + text);
            series_set_index(&from_two, 2);
            ASSERT_EQ(hash_string_chars(&from_two, flag), want)
                << what << ": from index 2, unit " << unit << " flag " << flag;
            Cell key = *strings.get(unit, 2, text + U"q\u00FF");  // the stack holds the string!, never a text key
            cell_set_type(&key, T_TEXT_KEY);
            text_key_set_count(&key, int32_t(text.size()));
            ASSERT_EQ(hash_string_chars(&key, flag), want) << what << ": text key, unit " << unit << " flag " << flag;
        }
        if (narrowest_unit(text) == 1) {
            std::string bytes(text.begin(), text.end());
            ASSERT_EQ(hash_latin1_chars(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()), flag),
                      want) << what << ": one-byte entry, flag " << flag;
        }
    }
}

// Characters go to the state four at a time after the odd 1-3, one-byte and
// folded wider ones through tables: every length around those groups, and the
// characters whose fold is special (folding to another unit width, to a
// different letter, or not at all) in every place of a group.
TEST(KeyHashing, TextHashesAsTheOneAtATimeLoop) {
    const std::u32string specials[] = {
        U"a", U"Z", U"@", U"[", U"`", U"{", U"\u007F", U"\u0080",
        U"\u00B5",  // micro sign: upper case is Greek capital mu, a two-byte unit
        U"\u00FF",  // its upper case, U+0178, needs two bytes
        U"\u00DF",  // sharp s: its full upper case starts with S
        U"\u00E9", U"\u00C9", U"\u00D7", U"\u00F7",
        U"\u0100", U"\u0101", U"\u0131",  // dotless i: upper case is ASCII I
        U"\u017F",  // long s: upper case is ASCII S
        U"\u01C5", U"\u03C3", U"\u03C2", U"\u0434", U"\u212A", U"\u4E2D", U"\uFFFF",
        U"\U00010428", U"\U00010400", U"\U0001F600", U"\U0010FFFF",
    };
    StackScope scope;
    TextStrings strings;
    for (size_t length = 0; length <= 13; ++length) {
        std::u32string lower(length, U'k'), mixed;
        for (size_t i = 0; i < length; ++i) mixed.push_back(i % 3 ? char32_t(U'a' + i) : char32_t(U'A' + i));
        expect_hashes_as_one_at_a_time(strings, lower, "lower run");
        expect_hashes_as_one_at_a_time(strings, mixed, "mixed case run");
        for (const std::u32string& special : specials) {
            for (size_t place = 0; place < length; ++place) {
                std::u32string text = mixed;
                text[place] = special[0];
                std::string what = "special " + std::to_string(uint32_t(special[0])) + " at " + std::to_string(place);
                expect_hashes_as_one_at_a_time(strings, text, what.c_str());
            }
        }
    }
}

// Random text of each width, drawn so that every kind of character turns up
// often: ASCII letters and others, the upper half of the one-byte range,
// cased scripts of the two-byte range, anything else it holds, and (for
// four-byte units) code points above it.
TEST(KeyHashing, RandomTextHashesAsTheOneAtATimeLoop) {
    std::mt19937 random(20261211);
    auto below = [&](uint32_t n) { return uint32_t(random() % n); };
    auto code_point = [&](uint32_t unit) -> char32_t {
        switch (below(unit == 1 ? 3 : unit == 2 ? 5 : 6)) {
            case 0: return U'A' + below(58);
            case 1: return below(0x80);
            case 2: return 0x80 + below(0x80);
            case 3: return 0x100 + below(0x500);
            case 4: return 0x100 + below(0xFF00);
            default: return 0x10000 + below(0x100000);
        }
    };
    for (uint32_t unit : {1u, 2u, 4u}) {
        // One string refilled for every text: an allocation per text would
        // collect thousands of times under the collector's torture mode.
        StackScope scope;
        Cell* str = text_cell(std::u32string(40, U'a'), unit);
        for (int n = 0; n < 3000; ++n) {
            std::u32string text;
            for (uint32_t length = below(40); text.size() < length;) text.push_back(code_point(unit));
            SeriesBuffer* b = node_buffer(series_node(str));
            for (size_t i = 0; i < text.size(); ++i) {
                uint32_t cp = text[i];
                std::memcpy(b->data + b->head + i * unit, &cp, unit);  // little-endian units
            }
            b->tail = b->head + uint32_t(text.size()) * unit;
            for (int flag : {0, 1}) {
                ASSERT_EQ(hash_string_chars(str, flag), one_at_a_time_text_hash(text, flag))
                    << "unit " << unit << " flag " << flag << " text " << n << " length " << text.size();
            }
        }
    }
}

// Keys that differ only in case share a folded hash; keys that differ
// otherwise (here, all of them) do not.
TEST(KeyHashing, FoldedOneByteHashesJoinOnlyCaseVariants) {
    struct Row { std::u32string a, b; bool same; } rows[] = {
        {U"word", U"WORD", true}, {U"w\u00E9", U"W\u00C9", true}, {U"\u00FF", U"\u0178", true},
        {U"\u00B5", U"\u039C", true}, {U"", U"", true}, {U"@[`{", U"@[`{", true},
        {U"@", U"`", false}, {U"[", U"{", false}, {U"\u00D7", U"\u00F7", false}, {U"ab", U"abc", false},
        {U"a", U"", false}, {U"w1", U"w2", false},
    };
    StackScope scope;
    for (const Row& r : rows) {
        uint32_t a = hash_string_chars(text_cell(r.a, r.a.size() && r.a[0] > 0xFF ? 2 : 1), 0);
        uint32_t b = hash_string_chars(text_cell(r.b, 4), 0);
        EXPECT_EQ(a == b, r.same) << std::string(r.a.begin(), r.a.end());
    }
}

TEST(KeyHashing, OneByteFoldedEqualityIsUnicodeUpper) {
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t b = 0; b < 256; ++b)
            ASSERT_EQ(latin1_same_folded(uint8_t(a), uint8_t(b)), unicode_upper(a) == unicode_upper(b)) << a << " " << b;
}

// The folded byte hash lowers four bytes at a time: every byte value in every
// place of a word (and of the 1-3 byte tail), beside neighbours that are
// letters, the characters around A-Z, and bytes above 127.
TEST(KeyHashing, FoldedByteHashLowersExactlyTheAsciiCapitals) {
    auto lowered = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        return s;
    };
    for (char fill : {'q', 'Q', '@', '[', '\xC1', '\xDA'}) {
        for (size_t length = 1; length <= 8; ++length) {
            for (size_t place = 0; place < length; ++place) {
                for (int v = 0; v < 256; ++v) {
                    std::string s(length, fill);
                    s[place] = char(v);
                    std::string low = lowered(s);
                    ASSERT_EQ(murmur3_hash_bytes_folded(s.data(), s.size()), murmur3_hash_bytes(low.data(), low.size()))
                        << "byte " << v << " at " << place << " of " << length << " among " << int(uint8_t(fill));
                }
            }
        }
    }
}

TEST(KeyHashing, CaseFlagOneKeepsCase) {
    StackScope scope;
    Cell* lower = text_cell(U"abc\u00E9\u0434", 2);
    Cell* upper = text_cell(U"ABC\u00C9\u0414", 2);
    EXPECT_EQ(hash_key_value(lower, 0), hash_key_value(upper, 0));
    EXPECT_NE(hash_key_value(lower, 1), hash_key_value(upper, 1));
}

TEST(KeyHashing, ScalarKeys) {
    Cell a, b, u, n;
    set_char(&a, 'a');
    set_char(&b, 'A');
    EXPECT_NE(hash_key_value(&a, 0), hash_key_value(&b, 0));  // chars never fold
    set_unset(&u);
    set_none(&n);
    EXPECT_EQ(hash_key_value(&u, 0), uint32_t(-2));
    EXPECT_EQ(hash_key_value(&n, 0), uint32_t(-1));
}

TEST(KeyHashing, NegativeZeroHashesAsZero) {
    for (TypeId t : {T_FLOAT, T_PERCENT, T_TIME}) {
        Cell pos, neg;
        set_float(&pos, 0.0, t);
        set_float(&neg, -0.0, t);
        EXPECT_EQ(hash_key_value(&pos, 0), hash_key_value(&neg, 0)) << int(t);
    }
}

TEST(KeyHashing, SeriesKeysHashTheirNodeNotTheirBuffer) {
    RootCell a;
    set_series(a.get(), T_BLOCK, alloc_series_cells(4), 1);
    Cell b = *a;
    uint32_t before = hash_key_value(a.get(), 0);
    expand_series_copy(series_node(a.get()), 4096);  // the buffer moves, the node stays
    EXPECT_EQ(hash_key_value(&b, 0), before);
}

}  // namespace
}  // namespace tev

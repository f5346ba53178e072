// Key hashing: the published MurmurHash3 x86-32 vectors, case folding, unit-width independence, key types.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "runtime/key_hash.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

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
    NodeRef node = alloc_series_units(uint32_t(text.size()) + 1, unit);
    SeriesBuffer* b = node_buffer(node);
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        std::memcpy(b->data + b->head + i * unit, &cp, unit);  // little-endian units
    }
    b->tail = b->head + uint32_t(text.size()) * unit;
    Cell* c = stack_push();
    set_series(c, T_STRING, node, index);
    return c;
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

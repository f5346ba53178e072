// Symbols: interning once per spelling, the earliest case variant as every variant's alias.
#include <gtest/gtest.h>
#include <string>
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev {
namespace {

int32_t intern(NodeRef table, const std::string& s, int case_flag = 0) {
    return symbol_table_intern(table, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), case_flag);
}
int32_t alias_in(NodeRef table, int32_t id) {
    return int32_t(node_buffer(hash_table_desc(table)->key_block)->cells()[id - 1].w1);
}

TEST(Symbols, CaseVariantsShareTheEarliestAlias) {
    int32_t foo = symbol_from_cstring("symtest-foo");
    int32_t Foo = symbol_from_cstring("Symtest-Foo");
    int32_t FOO = symbol_from_cstring("SYMTEST-FOO");
    EXPECT_NE(foo, Foo);
    EXPECT_NE(Foo, FOO);
    EXPECT_EQ(symbol_alias_raw(foo), -1);
    EXPECT_EQ(symbol_alias_raw(Foo), foo);
    EXPECT_EQ(symbol_alias_raw(FOO), foo);
    EXPECT_EQ(symbol_resolve_alias(FOO), foo);
    EXPECT_EQ(symbol_resolve_alias(foo), foo);
    EXPECT_EQ(symbol_from_cstring("symtest-foo"), foo);
    EXPECT_EQ(symbol_from_cstring("SYMTEST-FOO"), FOO);
    uint32_t before = symbol_count();
    EXPECT_EQ(symbol_from_cstring_nocase("SymTest-fOO"), foo);  // adds nothing
    EXPECT_EQ(symbol_count(), before);
    EXPECT_EQ(symbol_text(Foo), "Symtest-Foo");
}

TEST(Symbols, NonAsciiCaseVariantsStayDistinct) {
    int32_t lower = symbol_from_cstring("caf\xC3\xA9");   // café
    int32_t upper = symbol_from_cstring("caf\xC3\x89");   // cafÉ
    EXPECT_NE(lower, upper);
    EXPECT_EQ(symbol_alias_raw(upper), -1);
    EXPECT_EQ(symbol_from_cstring_nocase("CAF\xC3\x89"), upper);
}

TEST(Symbols, LongSpellingsIntern) {
    std::string a(300, 'a'), b = a;
    b[299] = 'B';
    int32_t ia = symbol_from_utf8(reinterpret_cast<const uint8_t*>(a.data()), 300);
    int32_t ib = symbol_from_utf8(reinterpret_cast<const uint8_t*>(b.data()), 300);
    EXPECT_EQ(symbol_text(ia), a);
    EXPECT_EQ(symbol_text(ib), b);
    EXPECT_EQ(symbol_alias_raw(ib), -1);  // differs in more than case
    std::string upper(300, 'A');
    EXPECT_EQ(symbol_resolve_alias(symbol_from_utf8(reinterpret_cast<const uint8_t*>(upper.data()), 300)), ia);
    uint32_t len;
    symbol_spelling(ia, &len);
    EXPECT_EQ(len, 300u);
}

// A private table grows several times; variants interned before and after
// every growth keep the earliest variant as alias, and lookups keep their ids.
TEST(Symbols, AliasStaysEarliestAcrossResizes) {
    NodeRef table = hash_table_create(4, 0, 0, HASH_KIND_WORDS, 1);
    HashTableHold hold(table);
    int32_t foo = intern(table, "foo");
    int32_t Foo = intern(table, "Foo");
    int32_t start_buckets = hash_table_desc(table)->bucket_count;
    std::vector<int32_t> ids;
    for (int i = 0; i < 3000; ++i) {
        ids.push_back(intern(table, "w" + std::to_string(i)));
        if (i % 500 == 0) {
            int32_t variant = intern(table, i % 1000 ? "FOO" : "fOo");
            EXPECT_EQ(alias_in(table, variant), foo) << i;
        }
    }
    EXPECT_GT(hash_table_desc(table)->bucket_count, start_buckets);
    EXPECT_EQ(alias_in(table, Foo), foo);
    EXPECT_EQ(intern(table, "foo"), foo);
    EXPECT_EQ(intern(table, "FoO", 1), foo);  // case-insensitive: the earliest variant
    int32_t late = intern(table, "fOO");
    EXPECT_EQ(alias_in(table, late), foo);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(intern(table, "w" + std::to_string(i)), ids[size_t(i)]);
}

}  // namespace
}  // namespace tev

// The class predicates made from the type list: which ids the generic series, word and number code may take.
#include <gtest/gtest.h>
#include "runtime/cell.h"

namespace tev {
namespace {

struct ClassCase {
    TypeId type;
    bool series, list, string, word, number;
};

TEST(TypeClasses, EachTypeAnswersItsOwnClasses) {
    const ClassCase cases[] = {
        // type          series list  string word   number
        {T_BLOCK,        true,  true,  false, false, false},
        {T_HASH,         true,  true,  false, false, false},
        {T_GET_PATH,     true,  true,  false, false, false},
        {T_FILE,         true,  false, true,  false, false},
        {T_REF,          true,  false, true,  false, false},
        {T_BINARY,       true,  false, false, false, false},
        {T_VECTOR,       true,  false, false, false, false},
        {T_IMAGE,        true,  false, false, false, false},
        {T_SERIES,       false, false, false, false, false},  // the abstract parent has no buffer
        {T_MAP,          false, false, false, false, false},
        {T_WORD,         false, false, false, true,  false},
        {T_ISSUE,        false, false, false, true,  false},
        {T_SYMBOL,       false, false, false, false, false},
        {T_PERCENT,      false, false, false, false, true},
        {T_CHAR,         false, false, false, false, false},
        {T_TIME,         false, false, false, false, false},
        {T_NONE_ID,      false, false, false, false, false},
        {TypeId(200),    false, false, false, false, false},  // a type byte past every id
    };
    for (const ClassCase& c : cases) {
        EXPECT_EQ(type_is_series(c.type), c.series) << int(c.type);
        EXPECT_EQ(type_is_list(c.type), c.list) << int(c.type);
        EXPECT_EQ(type_is_string(c.type), c.string) << int(c.type);
        EXPECT_EQ(type_is_word(c.type), c.word) << int(c.type);
        EXPECT_EQ(type_is_number(c.type), c.number) << int(c.type);
    }
}

TEST(TypeClasses, ClassesMatchTheIdRangesTheyReplace) {
    for (int t = 0; t < 256; ++t) {
        TypeId id = TypeId(t);
        EXPECT_EQ(type_is_word(id), t >= T_WORD && t <= T_ISSUE) << t;
        EXPECT_EQ(type_is_list(id), t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH))
            << t;
        if (type_is_list(id) || type_is_string(id)) {
            EXPECT_TRUE(type_is_series(id)) << t;
        }
    }
}

}  // namespace
}  // namespace tev

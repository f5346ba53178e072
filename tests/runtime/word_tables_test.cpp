// The runtime word tables: spellings kept as written, one symbol per spelling across the tables.
#include <gtest/gtest.h>
#include "datatypes/word.h"
#include "runtime/context_table.h"
#include "runtime/symbols.h"
#include "runtime/word_tables.h"

using namespace tev;

namespace {

TEST(WordTables, SpellingsStayAsWritten) {
    struct Case { RtWord word; const char* spelling; };
    const Case cases[] = {{RtWord::put_ed, "put-ed"}, {RtWord::swaped, "swaped"},
                          {RtWord::on_deep_change, "on-deep-change*"}, {RtWord::anon, "<anon>"},
                          {RtWord::head_q, "head?"}, {RtWord::throw_, "throw"}};
    for (const Case& c : cases) {
        const Cell* w = runtime_word(c.word);
        EXPECT_TRUE(cell_is(w, T_WORD)) << c.spelling;
        EXPECT_EQ(symbol_text(int32_t(w->w2)), c.spelling);
    }
    EXPECT_EQ(symbol_text(runtime_symbol(RtSym::bar)), "|");
    EXPECT_EQ(symbol_text(runtime_symbol(RtSym::macOS)), "macOS");
    EXPECT_EQ(symbol_text(runtime_symbol(RtSym::mid_down_q)), "mid-down?");
}

TEST(WordTables, TheSameSpellingIsTheSameSymbolInEveryTable) {
    EXPECT_EQ(int32_t(runtime_word(RtWord::head)->w2), runtime_symbol(RtSym::head));
    EXPECT_EQ(int32_t(runtime_word(RtWord::type)->w2), runtime_symbol(RtSym::type));
    EXPECT_EQ(int32_t(runtime_word(RtWord::exit)->w2), runtime_symbol(RtSym::exit));
    EXPECT_EQ(int32_t(runtime_refinement(RtRefinement::skip)->w2), runtime_symbol(RtSym::skip));
    EXPECT_EQ(int32_t(runtime_global_word(RtGlobal::while_)->w2), runtime_symbol(RtSym::while_));
    EXPECT_EQ(symbol_from_cstring("put-ed"), int32_t(runtime_word(RtWord::put_ed)->w2));
}

TEST(WordTables, WordsAreGlobalAndRefinementsUnbound) {
    const Cell* linux_word = runtime_global_word(RtGlobal::Linux);
    EXPECT_TRUE(cell_is(linux_word, T_WORD));
    EXPECT_EQ(linux_word->w1, global_context());
    EXPECT_EQ(runtime_word(RtWord::append)->w1, global_context());
    const Cell* local = runtime_refinement(RtRefinement::local);
    EXPECT_TRUE(cell_is(local, T_REFINEMENT));
    EXPECT_EQ(local->w1, 0u);
    EXPECT_EQ(symbol_text(int32_t(local->w2)), "local");
}

}  // namespace

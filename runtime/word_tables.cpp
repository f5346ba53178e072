// The runtime's own words: interned once at start-up in the order of word_tables.def and kept as collector roots.
#include "runtime/word_tables.h"
#include "runtime/context_table.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev {

namespace detail {
int32_t runtime_symbols[size_t(RtSym::count_)];
Cell runtime_globals[size_t(RtGlobal::count_)];
Cell runtime_words[size_t(RtWord::count_)];
Cell runtime_refinements[size_t(RtRefinement::count_)];
}  // namespace detail

void make_runtime_symbols_and_words() {
    static const char* const symbol_spellings[] = {
#define RT_SYMBOL(name, spelling) spelling,
#include "runtime/word_tables.def"
#undef RT_SYMBOL
    };
    static const RtSym global_symbols[] = {
#define RT_GLOBAL(name) RtSym::name,
#include "runtime/word_tables.def"
#undef RT_GLOBAL
    };
    static const char* const word_spellings[] = {
#define RT_WORD(name, spelling) spelling,
#include "runtime/word_tables.def"
#undef RT_WORD
    };
    static bool rooted = false;
    if (!rooted) {
        gc_add_root_cells(detail::runtime_globals, size_t(RtGlobal::count_));
        gc_add_root_cells(detail::runtime_words, size_t(RtWord::count_));
        rooted = true;
    }
    for (size_t i = 0; i < size_t(RtSym::count_); ++i)
        detail::runtime_symbols[i] = symbol_from_cstring(symbol_spellings[i]);
    for (size_t i = 0; i < size_t(RtGlobal::count_); ++i)
        detail::runtime_globals[i] = word_from_symbol(runtime_symbol(global_symbols[i]));
    for (size_t i = 0; i < size_t(RtWord::count_); ++i)
        detail::runtime_words[i] = word_from_cstring(word_spellings[i]);
}

void make_runtime_refinements() {
    static const char* const spellings[] = {
#define RT_REFINEMENT(name, spelling) spelling,
#include "runtime/word_tables.def"
#undef RT_REFINEMENT
    };
    static bool rooted = false;
    if (!rooted) {
        gc_add_root_cells(detail::runtime_refinements, size_t(RtRefinement::count_));
        rooted = true;
    }
    for (size_t i = 0; i < size_t(RtRefinement::count_); ++i)
        detail::runtime_refinements[i] = refinement_from_cstring(spellings[i]);
}

}  // namespace tev

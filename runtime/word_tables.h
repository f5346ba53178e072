// The runtime's own words, made once at start-up: symbol ids to compare a word's symbol against,
// words bound in the global context, word cells to push as arguments, and unbound refinements.
//
// The tables and their order come from runtime/word_tables.def. The cells are
// collector roots and never change after start-up: copy them, never write into them.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

enum class RtSym : uint16_t {
#define RT_SYMBOL(name, spelling) name,
#include "runtime/word_tables.def"
#undef RT_SYMBOL
    count_
};
enum class RtGlobal : uint16_t {
#define RT_GLOBAL(name) name,
#include "runtime/word_tables.def"
#undef RT_GLOBAL
    count_
};
enum class RtWord : uint16_t {
#define RT_WORD(name, spelling) name,
#include "runtime/word_tables.def"
#undef RT_WORD
    count_
};
enum class RtRefinement : uint16_t {
#define RT_REFINEMENT(name, spelling) name,
#include "runtime/word_tables.def"
#undef RT_REFINEMENT
    count_
};

namespace detail {
extern int32_t runtime_symbols[size_t(RtSym::count_)];
extern Cell runtime_globals[size_t(RtGlobal::count_)];
extern Cell runtime_words[size_t(RtWord::count_)];
extern Cell runtime_refinements[size_t(RtRefinement::count_)];
}  // namespace detail

inline int32_t runtime_symbol(RtSym s) { return detail::runtime_symbols[size_t(s)]; }
inline const Cell* runtime_global_word(RtGlobal g) { return &detail::runtime_globals[size_t(g)]; }
inline const Cell* runtime_word(RtWord w) { return &detail::runtime_words[size_t(w)]; }
inline const Cell* runtime_refinement(RtRefinement r) { return &detail::runtime_refinements[size_t(r)]; }

// Start-up, once the symbol table and the global context exist: the symbol ids,
// the global words and the word cells; then the refinements.
void make_runtime_symbols_and_words();
void make_runtime_refinements();

}  // namespace tev

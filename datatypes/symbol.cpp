// symbol!: the entries of the symbol table; they compare by spelling and answer no other action.
#include "datatypes/registry.h"
#include "runtime/symbols.h"

namespace tev {

// Case-folded unless the operator is strict; no prefix mode.
static int compare_symbol(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_SYMBOL)) return CMP_NOT_COMPARABLE;
    if (op == CMP_SAME) return symbol_entry_spelling(a) == symbol_entry_spelling(b) ? 0 : 1;
    return compare_spellings(symbol_entry_spelling(a), symbol_entry_spelling(b), op);
}

template <> void register_type<T_SYMBOL>() {
    register_datatype(T_SYMBOL, {.compare = compare_symbol});
}

}  // namespace tev

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

void symbol_init() {
    register_datatype(T_SYMBOL, T_NONE_ID, "symbol!",
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, compare_symbol,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // absolute..subtract
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,                             // even? .. xor~
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,  // append..index?
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,                    // insert..remove
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,           // reverse..trim
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

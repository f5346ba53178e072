// symbol!: the entries of the symbol table; they compare by spelling and answer no other action.
#include "datatypes/symbol.h"
#include <string>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// Case-folded unless the operator is strict; no prefix mode.
static int compare_symbol(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_SYMBOL)) return CMP_NOT_COMPARABLE;
    if (op == CMP_SAME) return symbol_entry_spelling(a) == symbol_entry_spelling(b) ? 0 : 1;
    return compare_spellings(symbol_entry_spelling(a), symbol_entry_spelling(b), op);
}

NodeRef symbol_ensure_string(int32_t id) {
    if (NodeRef made = symbol_entry_string(symbol_entry(id))) return made;
    std::string text = symbol_text(id);  // the spelling's buffer may move below
    StackScope scope;
    Cell* str = string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), nullptr, 0);
    symbol_entry_set_string(symbol_entry(id), series_node(str));
    return series_node(str);
}

Cell* symbol_get(int32_t id) {
    symbol_ensure_string(id);
    return symbol_entry(id);
}

template <> void register_type<T_SYMBOL>() {
    register_datatype(T_SYMBOL, {.compare = compare_symbol});
}

}  // namespace tev

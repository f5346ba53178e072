// unset!: the value of a word that has none and the result of an expression that yields nothing.
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "runtime/value_stack.h"

namespace tev {

Cell unset_value;

Cell* unset_push() { return stack_push(); }  // a reserved cell is already unset!

namespace {

void unset_make(ActionFrame& f) { set_unset(f.args); }

int32_t unset_form(const Cell*, Cell*, const Cell*, int32_t limit) { return limit; }

int32_t unset_mold(const Cell*, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return all ? append_ascii_limit(out, "#(unset)", 8, limit) : append_ascii_limit(out, "unset", 5, limit);
}

int unset_compare(const Cell*, const Cell* b, int op) {
    if (!cell_is(b, T_UNSET)) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT:
        case CMP_CASE_SORT: case CMP_SAME: case CMP_FIND: return 0;
        default: return CMP_NOT_COMPARABLE;
    }
}

}  // namespace

template <> void register_type<T_UNSET>() {
    set_unset(&unset_value);
    register_datatype(T_UNSET, {
        .make = unset_make, .to = unset_make, .form = unset_form, .mold = unset_mold,
        .compare = unset_compare
    });
}

}  // namespace tev

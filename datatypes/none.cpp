// none!: the "no value" answer; searches and removals on none answer none.
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "runtime/value_stack.h"

namespace tev {

Cell none_value;

Cell* none_push() {
    Cell* c = stack_push();
    set_none(c);
    return c;
}

namespace {

void none_result(ActionFrame& f) { set_none(f.args); }

int32_t none_form(const Cell*, Cell* out, const Cell*, int32_t limit) {
    return append_ascii_limit(out, "none", 4, limit);
}

int32_t none_mold(const Cell*, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return all ? append_ascii_limit(out, "#(none)", 7, limit) : append_ascii_limit(out, "none", 4, limit);
}

int none_compare(const Cell*, const Cell* b, int op) {
    if (!cell_is(b, T_NONE)) return CMP_NOT_COMPARABLE;
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT:
        case CMP_CASE_SORT: case CMP_SAME: case CMP_FIND: return 0;
        default: return CMP_NOT_COMPARABLE;
    }
}

}  // namespace

template <> void register_type<T_NONE>() {
    set_none(&none_value);
    // clear, find, length?, remove, select and take of none give none.
    register_datatype(T_NONE, {
        .make = none_result, .to = none_result, .form = none_form, .mold = none_mold,
        .compare = none_compare, .clear = none_result, .find = none_result, .length_q = none_result,
        .remove = none_result, .select = none_result, .take = none_result
    });
}

}  // namespace tev

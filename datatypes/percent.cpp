// percent!: a float! shown times 100 with a "%" sign (50% holds 0.5); everything but its text is float!'s.
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "runtime/float_format.h"

namespace tev {

namespace {

int32_t percent_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    char text[FLOAT_FORMAT_MAX];
    size_t n = float_format(get_float(value) * 100.0, FLOAT_KIND_PERCENT, text);  // the formatter adds the "%"
    return append_ascii_limit(out, text, n, limit);
}
int32_t percent_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return percent_form(value, out, arg, limit);
}

}  // namespace

template <> void register_type<T_PERCENT>() {
    register_datatype(T_PERCENT, {.form = percent_form, .mold = percent_mold});
}

}  // namespace tev

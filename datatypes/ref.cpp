// ref!: a reference such as @name, held without its "@"; mold puts it back, form does not.
#include "datatypes/registry.h"
#include "datatypes/text_kin.h"

namespace tev {

static int32_t ref_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return text_kin_append(value, out, arg, limit, "@", "");
}

template <> void register_type<T_REF>() {
    register_datatype(T_REF, {
        .random = nullptr, .mold = ref_mold, .eval_path = nullptr, .append = nullptr, .sort = nullptr,
        .trim = nullptr
    });
}

}  // namespace tev

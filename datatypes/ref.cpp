// ref!: a reference such as @name, held without its "@"; mold puts it back, form does not.
#include "datatypes/registry.h"
#include "datatypes/text_kin.h"

namespace tev {

static int32_t ref_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return text_kin_append(value, out, arg, limit, "@", "");
}

void ref_init() {
    register_datatype(T_REF, T_STRING, "ref!",
        inherit, nullptr, inherit, inherit, inherit, ref_mold, nullptr, nullptr, inherit,         // make..compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,           // absolute..subtract
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,                                      // even?..xor~
        nullptr, inherit, inherit, inherit, inherit, inherit, inherit,                             // append..find
        inherit, inherit, inherit, inherit, inherit, inherit,                                      // head..move
        inherit, inherit, inherit, nullptr, inherit, inherit, inherit,                             // next..select
        nullptr, inherit, inherit, inherit, inherit, inherit, nullptr,                             // sort..trim
        nullptr, nullptr, nullptr, inherit, nullptr, nullptr, nullptr, nullptr, nullptr,           // create..rename
        nullptr, nullptr);                                                                         // update, write
}

}  // namespace tev

// triple!: three signed 32-bit integers in the payload words; a value that can only be shown.
#include <cstring>
#include "datatypes/triple.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"

namespace tev {
namespace {

int32_t triple_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    int32_t parts[3] = {triple_part(value, 0), triple_part(value, 1), triple_part(value, 2)};
    char text[64] = "make triple! [";
    size_t n = std::strlen(text);
    for (int i = 0; i < 3; ++i) {
        if (i) text[n++] = ' ';
        n += integer_to_text(parts[i], text + n);
    }
    text[n++] = ']';
    return append_ascii_limit(out, text, n, limit);
}
int32_t triple_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return triple_form(value, out, arg, limit);
}

}  // namespace

template <> void register_type<T_TRIPLE>() {
    register_datatype(T_TRIPLE, {.form = triple_form, .mold = triple_mold});
}

}  // namespace tev

// tag!: markup text held without its angle brackets; form and mold put them back.
#include <algorithm>
#include <cstring>
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/text_kin.h"
#include "runtime/value_stack.h"

namespace tev {

int32_t text_kin_append(const Cell* value, Cell* out, const Cell* arg, int32_t limit, const char* open,
                        const char* close) {
    StackScope scope;
    Cell* v = stack_push_copy(value);  // value may be series data that moves
    uint32_t rest = string_rest_length(v);
    size_t open_length = std::strlen(open), close_length = std::strlen(close);
    string_append_cstr(out, open);
    int32_t part = -1;
    if (arg) part = int32_t(std::clamp<int64_t>(int64_t(limit) - int64_t(open_length), 0, rest));
    string_concatenate(out, v, part, 0, CONCAT_APPEND);
    string_append_cstr(out, close);
    return limit_less(limit, int64_t(open_length) + rest + int64_t(close_length));
}

static int32_t tag_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    return text_kin_append(value, out, arg, limit, "<", ">");
}

static int32_t tag_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return text_kin_append(value, out, arg, limit, "<", ">");
}

template <> void register_type<T_TAG>() {
    register_datatype(T_TAG, {
        .random = nullptr, .form = tag_form, .mold = tag_mold, .sort = nullptr, .trim = nullptr
    });
}

}  // namespace tev

// percent!: a float! shown times 100 with a "%" sign (50% holds 0.5); everything but its text is float!'s.
#include "datatypes/percent.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "runtime/float_format.h"

namespace tev {

void percent_make_in(Cell* block, uint32_t high, uint32_t low) {
    const uint64_t bits = (uint64_t(high) << 32) | low;
    double d;
    std::memcpy(&d, &bits, 8);
    Cell percent;
    block_append(block, percent_make_cell(&percent, d));
}

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

void percent_init() {
    register_datatype(T_PERCENT, T_FLOAT, "percent!",
        inherit, inherit, nullptr, inherit, percent_form, percent_mold, nullptr, nullptr,
        inherit, inherit, inherit, inherit, inherit, inherit,
        inherit, inherit, inherit, inherit, inherit, inherit,
        nullptr, nullptr, nullptr, nullptr,
        // series actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

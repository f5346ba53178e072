// triple!: three signed 32-bit parts, one in each payload word.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

inline int32_t triple_part(const Cell* c, int i) { return int32_t(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3); }

}  // namespace tev

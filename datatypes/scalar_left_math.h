// Arithmetic with integer!, float!, percent! or time! on the left of pair!, a point, tuple!, date! or money!.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// Computes the scalar op the element (or refuses as the type does). False
// when the right operand is none of these types.
bool scalar_left_math(ActionFrame& f, int op);

}  // namespace tev

// bitset!: its registration and the set-operation entry the set natives use.
#pragma once
#include "datatypes/registry.h"

namespace tev {

void bitset_init();
// args[0] and args[1] bitsets (args[1] checked); op a SetOp. The result replaces args[0].
void bitset_set_op(ActionFrame& f, int op);

}  // namespace tev

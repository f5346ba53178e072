// The routine! entry table: a routine keeps its entry as a number (cells hold
// no pointers), the index of its C++ function here. The layers above start-up
// fill the table; the evaluator only calls through it.
#pragma once
#include <cstdint>
#include "interpreter/natives.h"
#include "runtime/cell.h"

namespace tev {

using RoutineFn = void (*)(NativeCall& call, int32_t second);

// The code of an entry, adding it to the table on first use.
int32_t routine_entry_code(RoutineFn fn);

// Calls a routine! whose arguments are in place from call.args.
void routine_invoke(const Cell* routine, NativeCall& call);

}  // namespace tev

// The profiler's bookkeeping at each trace event: the calls counted per name,
// their durations added up, and the stack of the calls still open.
#pragma once
#include <cstdint>
#include "interpreter/natives.h"

namespace tev {

// profile-step*: one event of the library's profiler handler, done on its own
// data (see the routine's spec); an anonymous function is named by the
// library's function given last.
void profile_step_star(NativeCall& c, int32_t);

}  // namespace tev

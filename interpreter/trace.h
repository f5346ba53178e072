// The trace hook of `do/trace`: sixteen events reported to a callback function.
#pragma once
#include <cstdint>
#include "runtime/cell.h"

namespace tev {

enum TraceEvent : uint32_t {
    TRACE_INIT = 0x0001, TRACE_END = 0x0002, TRACE_PROLOG = 0x0004, TRACE_EPILOG = 0x0008,
    TRACE_ENTER = 0x0010, TRACE_EXIT = 0x0020, TRACE_OPEN = 0x0040, TRACE_RETURN = 0x0080,
    TRACE_FETCH = 0x0100, TRACE_PUSH = 0x0200, TRACE_SET = 0x0400, TRACE_CALL = 0x0800,
    TRACE_ERROR = 0x1000, TRACE_THROW = 0x2000, TRACE_CATCH = 0x4000, TRACE_EXPR = 0x8000
};

// On while a trace run is under way and not suspended (inside the callback, in a
// no-trace function).
extern bool trace_switch;
// On from trace_start to trace_stop, suspended or not.
extern bool trace_running;
// The events the callback of the run asked for (TraceEvent bits).
extern uint32_t trace_mask;

// Starts a trace run with the callback (a function!); false when one is already
// under way (a nested do/trace is ignored).
bool trace_start(const Cell* callback);
void trace_stop();
inline bool trace_active() { return trace_running; }
// Suspends (false) or resumes (true) the events of the run under way.
void trace_set_switch(bool on);

// The runtime's error hooks (runtime/errors.h): an error! is given the call
// that raised it and the frame depth; a newly made one is shown to the trace.
void error_mark_raised(Cell* error);
void error_trace_raised(Cell* error);

void trace_event_slow(uint32_t event, const Cell* block, int32_t offset, const Cell* value, const Cell* ref);
// Reports an event; `block` and `offset` say where (block may be null). Most
// events of a run are ones its callback did not ask for: they stop here.
inline void trace_event(uint32_t event, const Cell* block, int32_t offset, const Cell* value, const Cell* ref) {
    if (trace_switch && (trace_mask & event)) trace_event_slow(event, block, offset, value, ref);
}

}  // namespace tev

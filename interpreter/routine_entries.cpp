// The routine! entry table: codes handed out to the routines made at start-up, and the call through them.
#include "interpreter/routine_entries.h"
#include <vector>
#include "datatypes/callable.h"
#include "runtime/errors.h"
#include "runtime/memory.h"

namespace tev {

namespace {

std::vector<RoutineFn> routine_entries;

}  // namespace

int32_t routine_entry_code(RoutineFn fn) {
    for (size_t k = 0; k < routine_entries.size(); ++k)
        if (routine_entries[k] == fn) return int32_t(k);
    routine_entries.push_back(fn);
    return int32_t(routine_entries.size() - 1);
}

void routine_invoke(const Cell* routine, NativeCall& call) {
    const Cell* more = callable_more_cells(routine);
    uint32_t code = uint32_t(get_integer(more + 2));
    if (code >= routine_entries.size()) raise_error(err::internal::not_done);
    routine_entries[code](call, get_integer(more + 4));
}

}  // namespace tev

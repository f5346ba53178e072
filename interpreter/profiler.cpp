// The profiler's bookkeeping at each trace event, on the library's own data:
// the table holds [name count time] rows, the open calls [name start end]
// entries, innermost last (an end only once the function's body is done); a
// row never moves while a run adds to the table.
#include "interpreter/profiler.h"
#include <cstdint>
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/typeset.h"
#include "interpreter/interpreter.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// The step's cells: its three arguments, then the cells of its state block.
enum Slot { EVENT, VALUE, REF, TABLE, CALLS, ROWS, ANON_NAMES, NAMER, OPTIONS, SLOTS };
constexpr uint32_t STATE_CELLS = SLOTS - TABLE;
constexpr TypeId STATE_TYPES[STATE_CELLS] = {T_BLOCK, T_BLOCK, T_MAP, T_BLOCK, T_FUNCTION, T_OBJECT};
enum Event { OTHER, INIT, CALL, RETURN, PROLOG, EPILOG };
constexpr uint32_t ROW_CELLS = 3;

// The event words' symbols, resolved once: the handler runs at every event.
Event event_of(const Cell* word) {
    static int32_t symbols[EPILOG + 1];
    static const char* const names[] = {"", "init", "call", "return", "prolog", "epilog"};
    if (!symbols[INIT])
        for (int e = INIT; e <= EPILOG; ++e) symbols[e] = symbol_resolve_alias(symbol_from_cstring(names[e]));
    int32_t s = symbol_resolve_alias(word_symbol(word));
    for (int e = INIT; e <= EPILOG; ++e)
        if (symbols[e] == s) return Event(e);
    return OTHER;
}

// Whether the options count a call of this value's type: they are read at
// every call, since the code profiled may change them.
bool counted(const Cell* options, const Cell* value) {
    static const int32_t types_symbol = symbol_from_cstring("types");
    if (!cell_is(options, T_OBJECT)) return false;
    const Cell* types = object_field(options, types_symbol);
    return types && cell_is(types, T_TYPESET) && typeset_has_type(types, cell_type(value));
}

// Stamps are now/precise dates, as the open calls of system/tools/fun-stk
// have always held them (code being profiled may read them).
Cell stamp() {
    Cell date;
    date_make_current(&date, false, true);
    return date;
}

// The cell at `at` of a block's buffer; valid until the next allocation.
Cell* cell_at(const Cell* block, uint32_t at) { return block_cell_from_head(block, at); }

void clear_from(const Cell* block, uint32_t at) {
    Cell rest = *block;
    series_set_index(&rest, at);
    block_clear_rest(&rest);
}

// Words are equal as `=` finds them: by spelling, letter case aside.
bool same_word(const Cell* a, const Cell* b) {
    int32_t sa = word_symbol(a), sb = word_symbol(b);
    return sa == sb || symbol_resolve_alias(sa) == symbol_resolve_alias(sb);
}

// The innermost open call that an end of `ref` closes: the entry named by the
// word, or any anonymous one; -1 when there is none.
int64_t open_call(const Cell* calls, const Cell* ref) {
    bool named = cell_is(ref, T_WORD);
    for (int64_t at = int64_t(series_full_length(calls)) - ROW_CELLS; at >= 0; at -= ROW_CELLS) {
        const Cell* name = cell_at(calls, uint32_t(at));
        if (named ? cell_is(name, T_WORD) && same_word(name, ref) : cell_is(name, T_TAG)) return at;
    }
    return -1;
}

// Where the rows of the names met last are, by symbol: most calls are of a
// few functions, and a hint (checked against the table itself, so that a
// stale one is only a miss) spares the map's lookup.
struct RowHint {
    int32_t symbol;
    uint32_t at;
};
RowHint row_hints[64];

// The first cell of a name's row, or nullptr when it has none; valid until
// the next allocation.
Cell* row_of(const Cell* d, const Cell* name) {
    uint32_t length = series_full_length(d + TABLE);
    int32_t symbol = cell_is(name, T_WORD) ? symbol_resolve_alias(word_symbol(name)) : 0;
    RowHint* hint = symbol ? &row_hints[uint32_t(symbol) % 64] : nullptr;
    if (hint && hint->symbol == symbol && hint->at + ROW_CELLS <= length) {
        Cell* row = cell_at(d + TABLE, hint->at);
        if (cell_is(row, T_WORD) && same_word(row, name)) return row;
    }
    const Cell* found = map_path_value(d + ROWS, name);
    if (!found || !cell_is(found, T_BLOCK) || series_index(found) + ROW_CELLS > length) return nullptr;
    if (hint) *hint = RowHint{symbol, series_index(found)};
    return cell_at(d + TABLE, series_index(found));
}

// A counted call: its row's count goes up (a new row for a new name) and its
// entry opens, started now.
void count_call(Cell* d, const Cell* name) {
    StackScope scope;
    if (Cell* row = row_of(d, name)) {
        Cell* count = row + 1;
        if (get_integer(count) == INT32_MAX) raise_error(err::math::overflow);
        set_integer(count, get_integer(count) + 1);
    } else {
        Cell* key = stack_push_copy(name);
        Cell* at = stack_push_copy(d + TABLE);
        series_set_index(at, series_full_length(at));
        map_path_put(d + ROWS, key, at);
        Cell fields[ROW_CELLS] = {*name, {}, {}};
        set_integer(&fields[1], 1);
        set_float(&fields[2], 0.0, T_TIME);
        block_append_cells(d + TABLE, fields, ROW_CELLS);
    }
    Cell entry[ROW_CELLS] = {*name, stamp(), {}};
    set_none(&entry[2]);
    block_append_cells(d + CALLS, entry, ROW_CELLS);
}

// A return: the call's duration (to its end, or to now for a native) joins its
// row, and the call and those left above it close.
void close_call(Cell* d) {
    int64_t at = open_call(d + CALLS, d + REF);
    if (at < 0) return;
    Cell end = *cell_at(d + CALLS, uint32_t(at) + 2);
    if (cell_is(&end, T_NONE)) end = stamp();
    const Cell* start = cell_at(d + CALLS, uint32_t(at) + 1);
    Cell* row = row_of(d, cell_at(d + CALLS, uint32_t(at)));
    if (row && cell_is(&end, T_DATE) && cell_is(start, T_DATE)) {
        date_difference(&end, start);
        Cell* time = row + 2;
        set_float(time, get_float(time) + get_float(&end), T_TIME);
    }
    clear_from(d + CALLS, uint32_t(at));
}

}  // namespace

void profile_step_star(NativeCall& c, int32_t) {
    const Cell* state = c.args + TABLE;
    if (block_length(state) < STATE_CELLS) raise_error(err::script::invalid_arg, state);
    StackScope scope;
    // Copies on the stack: the state block's cells move when anything allocates.
    Cell* d = stack_push_copy(c.args);
    for (uint32_t k = VALUE; k < TABLE; ++k) stack_push_copy(c.args + k);
    const Cell* cells = block_head(state);
    for (uint32_t k = 0; k < STATE_CELLS; ++k) {
        if (!cell_is(cells + k, STATE_TYPES[k])) raise_error(err::script::invalid_arg, state);
        stack_push_copy(cells + k);
    }
    switch (event_of(d + EVENT)) {
    case INIT:
        for (Slot s : {TABLE, CALLS, ANON_NAMES}) clear_from(d + s, 0);
        hash_table_clear(map_table(d + ROWS));
        break;
    case CALL:
        if (!counted(d + OPTIONS, d + VALUE)) break;
        if (cell_is(d + REF, T_WORD)) count_call(d, d + REF);
        else count_call(d, call_with_args(d + NAMER, d + VALUE, 1));
        break;
    case RETURN: close_call(d); break;
    case PROLOG:
        if (uint32_t n = series_full_length(d + CALLS); n >= 2) *cell_at(d + CALLS, n - 2) = stamp();
        break;
    case EPILOG: {
        int64_t at = open_call(d + CALLS, d + REF);
        if (at < 0) break;
        clear_from(d + CALLS, uint32_t(at) + ROW_CELLS);
        *cell_at(d + CALLS, uint32_t(at) + 2) = stamp();
        break;
    }
    case OTHER: break;
    }
    set_unset(c.args);
}

}  // namespace tev

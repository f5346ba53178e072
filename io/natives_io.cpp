// The natives that reach the operating system: size?, the environment, call, and the memory natives stats and recycle.
#include <string>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "io/files.h"
#include "io/process.h"
#include "os/os.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/sys_heap.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== files

void native_size_q(NativeCall& c) { file_size_value(c.args, c.args); }

// ================================================================== environment

// A variable's name: a word by its spelling, a string as its text.
static std::string env_name(const Cell* var) {
    TypeId t = cell_type(var);
    if (t == T_WORD || t == T_SET_WORD || t == T_GET_WORD || t == T_LIT_WORD || t == T_REFINEMENT || t == T_ISSUE)
        return symbol_text(word_symbol(var));
    return string_to_utf8(var);
}

void native_get_env(NativeCall& c) {
    std::optional<std::string> value = os::get_env(env_name(c.args));
    if (!value) {
        result_none(c);
        return;
    }
    string_load(reinterpret_cast<const uint8_t*>(value->data()), uint32_t(value->size()), c.args, 0);
}

void native_set_env(NativeCall& c) {
    std::string name = env_name(c.args);
    if (cell_is(c.args + 1, T_NONE)) {
        os::set_env(name, nullptr);
    } else {
        std::string value = string_to_utf8(c.args + 1);
        os::set_env(name, value.c_str());
    }
    *c.args = c.args[1];
}

void native_list_env(NativeCall& c) { os_env_to_map(c.args); }

// ================================================================== processes

enum CallRef { CALL_WAIT = 0, CALL_SHOW, CALL_CONSOLE, CALL_SHELL, CALL_INPUT, CALL_OUTPUT, CALL_ERROR };

void native_call(NativeCall& c) {
    if (string_rest_length(c.args) == 0) {
        set_integer(c.args, 0);
        return;
    }
    CallOptions options;
    options.wait = c.has(CALL_WAIT);
    options.show = c.has(CALL_SHOW);
    options.console = c.has(CALL_CONSOLE);
    options.shell = c.has(CALL_SHELL);
    int64_t result = call_run_command(c.args, options, c.ref_arg(CALL_INPUT), c.ref_arg(CALL_OUTPUT),
                                      c.ref_arg(CALL_ERROR));
    set_integer(c.args, int32_t(result));
}

// ================================================================== memory

// A byte figure: integer! while it fits, else float!.
static void set_byte_count(Cell* c, uint64_t bytes) {
    if (bytes <= uint64_t(INT32_MAX)) set_integer(c, int32_t(bytes));
    else set_float(c, double(bytes));
}

static uint64_t memory_bytes_in_use() {
    MemoryStats s = memory_stats();
    return uint64_t(s.nodes_used) * sizeof(uintptr_t) + s.series_bytes_used;
}

// The five figures of stats/info: node frames [free used capacity], series
// frames [free used size], big series sizes, bytes taken from the system, heap bytes.
static void memory_stats_block(Cell* out) {
    FrameFigures f;
    memory_frame_figures(&f);
    uint64_t heap = sys_heap_bytes();
    uint64_t system = heap;
    for (const auto& n : f.node_frames) system += n.capacity * f.node_slot_bytes + f.node_frame_header;
    for (const auto& s : f.series_frames) system += s.size + f.series_frame_header;
    for (uint64_t b : f.big_series) system += b + f.big_series_header;
    StackScope scope;
    Cell* block = stack_push();
    block_make(block, 5);
    Cell* group = stack_push();
    Cell* entry = stack_push();
    Cell* number = stack_push();
    auto add_entry = [&](uint64_t a, uint64_t b, uint64_t c3) {
        block_make(entry, 3);
        for (uint64_t v : {a, b, c3}) {
            set_byte_count(number, v);
            block_append(entry, number);
        }
        cell_set_flag(entry, FLAG_NEW_LINE);
        block_append(group, entry);
    };
    block_make(group, uint32_t(f.node_frames.size()));
    for (const auto& n : f.node_frames) add_entry(n.free, n.used, n.capacity);
    block_append(block, group);
    block_make(group, uint32_t(f.series_frames.size()));
    for (const auto& s : f.series_frames) add_entry(s.free, s.used, s.size);
    block_append(block, group);
    block_make(group, uint32_t(f.big_series.size()));
    for (uint64_t b : f.big_series) {
        set_byte_count(number, b);
        block_append(group, number);
    }
    block_append(block, group);
    set_byte_count(number, system);
    block_append(block, number);
    set_byte_count(number, heap);
    block_append(block, number);
    *out = *block;
}

enum StatsRef { STATS_SHOW = 0, STATS_INFO };

void native_stats(NativeCall& c) {
    if (!c.has(STATS_SHOW) && !c.has(STATS_INFO)) {
        set_byte_count(c.args, memory_bytes_in_use());
        return;
    }
    memory_stats_block(c.args);
    if (!c.has(STATS_SHOW)) return;
    // The table is printed by the library's show-memory-stats. A native
    // without arguments has its stack top at its result slot: keep the block.
    vstack.top = c.args + 1;
    Cell* fn = stack_push();
    *fn = word_from_cstring("show-memory-stats");
    Cell* value = word_push_value(fn);
    call_with_args(value, c.args, 1);
    if (pending_exit) return;
    vstack.top = c.args + 1;
    result_unset(c);
}

enum RecycleRef { RECYCLE_ON = 0, RECYCLE_OFF };

void native_recycle(NativeCall& c) {
    if (c.has(RECYCLE_ON) || c.has(RECYCLE_OFF)) {
        collector_enabled = c.has(RECYCLE_ON);
        vstack.top = c.args + 1;
        result_unset(c);
        return;
    }
    vstack.top = c.args + 1;
    gc_collect();
    set_byte_count(c.args, memory_bytes_in_use());
}


}  // namespace tev

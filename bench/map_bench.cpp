// map!, binary! and vector! benchmarks: map put/select/find against size and under churn, and counting text keys
// (beside a Python dict and a Lua table in the same run), base-64 encoding and decoding throughput, and vector
// element-wise arithmetic.
#include <cstdio>
#include <string>
#include <vector>
#include "bench/bench_tev.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

using namespace tev;

namespace {


// A Lua 5.4 program that prints one number (seconds); -1 when lua5.4 is missing.
double lua_seconds(const std::string& body) {
    std::string code =
        "local function best(f) local b = 1e30 for _ = 1, 5 do local t = os.clock() f() "
        "local d = os.clock() - t if d < b then b = d end end return b end " + body;
    std::string cmd = "lua5.4 -e '" + code + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
    pclose(p);
    return secs;
}

double python_seconds(const std::string& body) { return bench::python_best_seconds("base64", body); }

void report(const char* what, double ours, double python, double lua) {
    std::printf("%-34s %9.3f ms", what, ours * 1e3);
    if (python > 0) std::printf("   python %9.3f ms (x%.2f)", python * 1e3, ours / python);
    if (lua > 0) std::printf("   lua %9.3f ms (x%.2f)", lua * 1e3, ours / lua);
    std::printf("\n");
}

Cell* call(Act act, Cell* base, std::initializer_list<std::pair<int, const Cell*>> refs = {}) {
    ActionFrame f = action_frame(base, cell_type(base));
    for (auto& r : refs) {
        f.refs[r.first] = r.second ? int8_t(vstack.top - base) : 0;
        if (r.second) stack_push_copy(r.second);
    }
    reinterpret_cast<ActionFn>(action_table[cell_type(base)][int(act) - 1])(f);
    return base;
}

// put map key value, select map key, find map key, remove/key map key
void put(Cell* map, int32_t key, int32_t value) {
    StackScope scope;
    Cell* args = stack_push_copy(map);
    set_integer(stack_push(), key);
    set_integer(stack_push(), value);
    call(Act::put, args);
}
int32_t select(Cell* map, int32_t key, Act act = Act::select) {
    StackScope scope;
    Cell* args = stack_push_copy(map);
    set_integer(stack_push(), key);
    call(act, args);
    return cell_is(args, T_NONE) ? -1 : get_integer(args);
}
void remove_key(Cell* map, int32_t key) {
    StackScope scope;
    Cell* args = stack_push_copy(map);
    Cell k;
    set_integer(&k, key);
    call(Act::remove, args, {{ref::remove_key, &k}});
}

uint32_t scramble(uint32_t i) { return (i * 2654435761u) >> 1; }

void map_benchmarks() {
    for (uint32_t n : {1000u, 10000u, 100000u, 1000000u}) {
        std::string size = std::to_string(n);
        Cell* map = stack_push();
        map_make_cell(map, nullptr, 0);
        char label[64];
        std::snprintf(label, sizeof label, "map put %u keys", n);
        double ours = bench::best_seconds_scoped(3, [&] {
            map_make_cell(map, nullptr, 0);
            for (uint32_t i = 0; i < n; ++i) put(map, int32_t(scramble(i)), int32_t(i));
        });
        report(label, ours,
               python_seconds("n = " + size + "\ndef f():\n    d = {}\n    for i in range(n): d[(i * 2654435761 % 4294967296) >> 1] = i\n"
                              "print(best(f))"),
               lua_seconds("local n = " + size + " print(best(function() local d = {} for i = 0, n - 1 do "
                           "d[((i * 2654435761) % 4294967296) >> 1] = i end end))"));
        std::snprintf(label, sizeof label, "map select %u keys (hit+miss)", n);
        int64_t sink = 0;
        ours = bench::best_seconds_scoped(3, [&] {
            for (uint32_t i = 0; i < n; ++i) sink += select(map, int32_t(scramble(i))) + select(map, -int32_t(i) - 1);
        });
        report(label, ours,
               python_seconds("n = " + size + "\nd = {(i * 2654435761 % 4294967296) >> 1: i for i in range(n)}\n"
                              "def f():\n    s = 0\n    for i in range(n): s += d.get((i * 2654435761 % 4294967296) >> 1, -1) + d.get(-i - 1, -1)\n"
                              "print(best(f))"),
               lua_seconds("local n = " + size + " local d = {} for i = 0, n - 1 do d[((i * 2654435761) % 4294967296) >> 1] = i end "
                           "print(best(function() local s = 0 for i = 0, n - 1 do s = s + (d[((i * 2654435761) % 4294967296) >> 1] or -1) "
                           "+ (d[-i - 1] or -1) end end))"));
        std::snprintf(label, sizeof label, "map find %u keys", n);
        ours = bench::best_seconds_scoped(3, [&] {
            for (uint32_t i = 0; i < n; ++i) sink += select(map, int32_t(scramble(i)), Act::find);
        });
        report(label, ours, -1, -1);
        if (sink == 42) std::printf(" ");
        stack_pop(1);
    }
    // Churn: a window of 10,000 live keys slides over 1M puts, each put
    // followed by the removal of the key 10,000 puts older.
    Cell* map = stack_push();
    map_make_cell(map, nullptr, 0);
    const uint32_t total = 1000000, window = 10000;
    double ours = bench::best_seconds_scoped(1, [&] {
        for (uint32_t i = 0; i < total; ++i) {
            put(map, int32_t(i), int32_t(i));
            if (i >= window) remove_key(map, int32_t(i - window));
        }
    });
    report("map churn 1M put+remove (10k live)", ours,
           python_seconds("def f():\n    d = {}\n    for i in range(1000000):\n        d[i] = i\n"
                          "        if i >= 10000: del d[i - 10000]\nprint(best(f))"),
           lua_seconds("print(best(function() local d = {} for i = 0, 999999 do d[i] = i "
                       "if i >= 10000 then d[i - 10000] = nil end end end))"));
    stack_pop(1);
}

// Word counting through the actions alone, without the evaluator: the
// datatype side of eval_bench's "word frequency" (100,000 words, 200
// distinct). The peers' times include their interpreters' loops.
void text_key_benchmarks() {
    const uint32_t n = 100000;
    Cell* words = block_push_new(n);
    for (uint32_t i = 1; i <= n; ++i) {
        StackScope scope;
        Cell* w = string_push(8);
        string_append_cstr(w, ("w" + std::to_string(i % 200)).c_str());
        block_append(words, w);
    }
    Cell* map = stack_push();
    double ours = bench::best_seconds_scoped(3, [&] {
        map_make_cell(map, nullptr, 0);
        for (uint32_t i = 0; i < n; ++i) {
            StackScope scope;
            Cell* args = stack_push_copy(map);
            stack_push_copy(block_at(words, i));
            call(Act::select, args);
            int32_t count = cell_is(args, T_NONE) ? 0 : get_integer(args);
            vstack.top = args;
            args = stack_push_copy(map);
            stack_push_copy(block_at(words, i));
            set_integer(stack_push(), count + 1);
            call(Act::put, args);
        }
    });
    report("map count 100k text keys (200)", ours,
           python_seconds("words = [\"w\" + str(i % 200) for i in range(1, 100001)]\n"
                          "def f():\n    c = {}\n    for w in words:\n        c[w] = c.get(w, 0) + 1\n"
                          "print(best(f))"),
           lua_seconds("local words = {} for i = 1, 100000 do words[i] = \"w\" .. (i % 200) end "
                       "print(best(function() local c = {} for _, w in ipairs(words) do c[w] = (c[w] or 0) + 1 end end))"));
    stack_pop(2);
}

void base64_benchmarks() {
    const uint32_t n = 16 * 1024 * 1024;
    std::vector<uint8_t> bytes(n);
    for (uint32_t i = 0; i < n; ++i) bytes[i] = uint8_t(scramble(i) >> 7);
    std::string text;
    double enc = bench::best_seconds_scoped(3, [&] { text = binary_enbase(64, bytes.data(), n); });
    std::string back;
    double dec = bench::best_seconds_scoped(3, [&] { binary_debase_bytes(64, text.data(), uint32_t(text.size()), 1, &back); });
    std::printf("base-64 encode 16 MiB: %.0f MB/s, decode: %.0f MB/s\n", n / enc / 1e6, n / dec / 1e6);
    double py_enc = python_seconds("b = bytes(range(256)) * 65536\nprint(best(lambda: base64.b64encode(b)))");
    double py_dec = python_seconds("t = base64.b64encode(bytes(range(256)) * 65536)\nprint(best(lambda: base64.b64decode(t)))");
    if (py_enc > 0 && py_dec > 0)
        std::printf("  python base64: encode %.0f MB/s, decode %.0f MB/s\n", n / py_enc / 1e6, n / py_dec / 1e6);
}

void vector_benchmarks() {
    const uint32_t n = 1000000;
    Cell* a = stack_push();
    vector_make_cell(a, n, T_INTEGER, 4);
    for (uint32_t i = 0; i < n; ++i) vector_append_int32(a, int32_t(i));
    Cell* b = stack_push_copy(a);
    call(Act::copy, b);
    report("vector 1M + vector", bench::best_seconds_scoped(5, [&] {
        Cell* args = stack_push_copy(a);
        stack_push_copy(b);
        call(Act::add, args);
    }), python_seconds("a = list(range(1000000))\nb = list(a)\nprint(best(lambda: [x + y for x, y in zip(a, b)]))"), -1);
    report("vector 1M * 3 (in place)", bench::best_seconds_scoped(5, [&] {
        Cell* args = stack_push_copy(a);
        Cell three;
        set_integer(&three, 3);
        stack_push_copy(&three);
        call(Act::multiply, args);
    }), python_seconds("a = list(range(1000000))\nprint(best(lambda: [x * 3 for x in a]))"), -1);
}

}  // namespace

int run() {
    collector_enabled = true;
    map_benchmarks();
    text_key_benchmarks();
    base64_benchmarks();
    vector_benchmarks();
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, &run); }

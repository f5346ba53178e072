// Evaluator benchmarks: classic small programs in Tev beside the same programs in
// Lua 5.4 and Python 3, run in the same session, with the time ratios.
#include <cstdio>
#include <cstring>
#include <string>
#include "bench/bench_tev.h"
#include "datatypes/block.h"
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

using namespace tev;

namespace {

struct Program {
    const char* name;
    const char* tev_setup;  // evaluated once, not timed
    const char* tev;        // timed
    const char* lua;        // a chunk; the harness times `run`
    const char* python;     // defines run()
};

const Program programs[] = {
    {"fib 27 (recursive)",
     "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]",
     "fib 27",
     "local function fib(n) if n < 2 then return n end return fib(n - 1) + fib(n - 2) end\n"
     "function run() return fib(27) end",
     "def fib(n):\n    return n if n < 2 else fib(n - 1) + fib(n - 2)\n"
     "def run():\n    return fib(27)\n"},
    {"count to 10,000,000",
     "",
     "x: 0 loop 10000000 [x: x + 1]",
     "function run() local x = 0 for i = 1, 10000000 do x = x + 1 end return x end",
     "def run():\n    x = 0\n    for i in range(10000000):\n        x += 1\n    return x\n"},
    {"nested loops over 100,000 integers",
     "data: copy [] repeat i 100000 [append data i]",
     "sum: 0 loop 10 [foreach v data [sum: sum + v]]",
     "local data = {} for i = 1, 100000 do data[i] = i end\n"
     "function run() local sum = 0 for k = 1, 10 do for _, v in ipairs(data) do sum = sum + v end end return sum end",
     "data = list(range(1, 100001))\n"
     "def run():\n    s = 0\n    for k in range(10):\n        for v in data:\n            s += v\n    return s\n"},
    {"string building by append (200,000 chars)",
     "",
     "s: copy \"\" loop 100000 [append s \"ab\"]",
     "function run() local t = {} for i = 1, 100000 do t[#t + 1] = \"ab\" end return table.concat(t) end",
     "def run():\n    s = \"\"\n    for i in range(100000):\n        s += \"ab\"\n    return s\n"},
    {"word frequency (100,000 words, 200 distinct)",
     "words: copy [] repeat i 100000 [append words append copy \"w\" i // 200]",
     "counts: make map! [] foreach w words [counts/:w: 1 + any [counts/:w 0]]",
     "local words = {} for i = 1, 100000 do words[i] = \"w\" .. (i % 200) end\n"
     "function run() local c = {} for _, w in ipairs(words) do c[w] = (c[w] or 0) + 1 end return c end",
     "words = [\"w\" + str(i % 200) for i in range(1, 100001)]\n"
     "def run():\n    c = {}\n    for w in words:\n        c[w] = c.get(w, 0) + 1\n    return c\n"},
};

// Non-local exits: break and return travel as a pending code, errors as a C++
// exception; these rows show what each costs.
struct ExitRow { const char* name; const char* setup; const char* code; };
const ExitRow exit_rows[] = {
    {"1,000,000 calls, normal completion", "f: func [] [1]", "loop 1000000 [f]"},
    {"1,000,000 calls left by return", "f: func [] [return 1]", "loop 1000000 [f]"},
    {"1,000,000 loops left by break", "", "loop 1000000 [loop 1 [break]]"},
    {"1,000,000 throws caught", "", "loop 1000000 [catch [throw 1]]"},
    {"1,000,000 errors caught by try", "", "loop 1000000 [try [1 / 0]]"},
};


double lua_seconds(const std::string& chunk) {
    std::string program = chunk +
                          "\nlocal best = 1e30\n"
                          "for r = 1, 3 do local t = os.clock() run() local d = os.clock() - t if d < best then best = d end end\n"
                          "print(best)\n";
    std::string path = "/tmp/tev_eval_bench.lua";
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) return -1;
    std::fputs(program.c_str(), f);
    std::fclose(f);
    FILE* p = popen(("lua5.4 " + path + " 2>/dev/null").c_str(), "r");
    if (!p) return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
    pclose(p);
    return secs;
}

double python_seconds(const std::string& body) {
    return bench::python_seconds(
        "import time\n" + body +
        "best = 1e30\n"
        "for r in range(3):\n"
        "    t = time.perf_counter(); run(); best = min(best, time.perf_counter() - t)\n"
        "print(best)\n");
}

}  // namespace

static int run_benchmarks() {
    std::printf("%-46s %10s %10s %10s %9s %9s\n", "program", "tev ms", "lua ms", "python ms", "tev/lua",
                "tev/py");
    for (const Program& p : programs) {
        if (!bench::tev_run(p.tev_setup)) continue;
        bool ok = true;
        double tev = bench::best_seconds(3, [&] { ok = ok && bench::tev_run(p.tev); });
        if (!ok) continue;
        double lua = lua_seconds(p.lua);
        double py = python_seconds(p.python);
        std::printf("%-46s %10.1f %10.1f %10.1f %9.2f %9.2f\n", p.name, tev * 1e3, lua * 1e3, py * 1e3,
                    lua > 0 ? tev / lua : 0.0, py > 0 ? tev / py : 0.0);
    }
    std::printf("\n%-46s %10s %12s\n", "non-local exits", "tev ms", "ns each");
    for (const ExitRow& r : exit_rows) {
        if (!bench::tev_run(r.setup)) continue;
        bool ok = true;
        double tev = bench::best_seconds(3, [&] { ok = ok && bench::tev_run(r.code); });
        if (ok) std::printf("%-46s %10.1f %12.0f\n", r.name, tev * 1e3, tev * 1e9 / 1000000);
    }
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

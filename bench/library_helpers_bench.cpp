// Library helpers that scripts call in loops (first, last, empty?) and load/save of
// plain values, beside the same jobs in Python run in the same session, with the ratios.
#include <cstdio>
#include <string>
#include "bench/bench_tev.h"
#include "runtime/startup.h"

using namespace tev;

namespace {

struct Row {
    const char* name;
    const char* tev_setup;  // evaluated once, not timed
    const char* tev;        // timed
    const char* python;     // defines run()
};

const Row rows[] = {
    {"first of a block, 1,000,000 times", "b: [1 2 3]",
     "loop 1000000 [first b]",
     "b = [1, 2, 3]\n"
     "def run():\n    for i in range(1000000):\n        b[0]\n"},
    {"last of a block, 1,000,000 times", "b: [1 2 3]",
     "loop 1000000 [last b]",
     "b = [1, 2, 3]\n"
     "def run():\n    for i in range(1000000):\n        b[-1]\n"},
    {"empty? of a string, 1,000,000 times", "s: \"abc\"",
     "loop 1000000 [empty? s]",
     "s = \"abc\"\n"
     "def run():\n    for i in range(1000000):\n        len(s) == 0\n"},
    {"load 200,000 integers from text", "s: make string! 1400000 repeat i 200000 [append append s i #\" \"]",
     "load s",
     "s = \" \".join(str(i) for i in range(200000))\n"
     "def run():\n    [int(x) for x in s.split()]\n"},
    {"save 200,000 integers as text", "b: make block! 200000 repeat i 200000 [append b i]",
     "save none b",
     "b = list(range(200000))\n"
     "def run():\n    \" \".join(map(str, b)).encode()\n"},
};

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
    std::printf("%-44s %10s %10s %9s\n", "program", "tev ms", "python ms", "tev/py");
    for (const Row& r : rows) {
        if (!bench::tev_run(r.tev_setup)) continue;
        bool ok = true;
        double tev = bench::best_seconds(3, [&] { ok = ok && bench::tev_run(r.tev); });
        if (!ok) continue;
        double py = python_seconds(r.python);
        std::printf("%-44s %10.1f %10.1f %9.2f\n", r.name, tev * 1e3, py * 1e3, py > 0 ? tev / py : 0.0);
    }
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

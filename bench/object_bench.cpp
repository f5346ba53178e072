// Object benchmarks: making and copying objects and the cost of on-change*, beside a
// Python peer (class instances, a property setter) run in the same session, with the ratios.
#include <cstdio>
#include <cstring>
#include <string>
#include "bench/bench_tev.h"
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

using namespace tev;

namespace {

struct Row {
    const char* name;
    const char* tev_setup;  // evaluated once, not timed
    const char* tev;        // timed
    const char* python;     // defines run()
};

const char* const python_classes =
    "class P:\n"
    "    def __init__(self):\n"
    "        self.a = 1; self.b = 2; self.c = \"x\"; self.d = [1, 2]\n"
    "    def copy(self):\n"
    "        q = P.__new__(P); q.__dict__.update(self.__dict__); return q\n"
    "class W:\n"
    "    def __init__(self): self._a = 0; self.log = 0\n"
    "    @property\n"
    "    def a(self): return self._a\n"
    "    @a.setter\n"
    "    def a(self, v):\n"
    "        old = self._a; self._a = v; self.log += 1\n"
    "class S:\n"
    "    def __init__(self): self.a = 0\n";

const Row rows[] = {
    {"make object! with 4 fields, 100,000 times", "",
     "loop 100000 [make object! [a: 1 b: 2 c: \"x\" d: [1 2]]]",
     "def run():\n    for i in range(100000):\n        P()\n"},
    {"make from a prototype, 100,000 times", "proto: make object! [a: 1 b: 2 c: \"x\" d: [1 2]]",
     "loop 100000 [make proto [a: 3]]",
     "p = P()\n"
     "def run():\n    for i in range(100000):\n        q = p.copy(); q.a = 3\n"},
    {"copy an object, 100,000 times", "proto: make object! [a: 1 b: 2 c: \"x\" d: [1 2]]",
     "loop 100000 [copy proto]",
     "p = P()\n"
     "def run():\n    for i in range(100000):\n        p.copy()\n"},
    {"field set, no handler, 1,000,000 times", "o: make object! [a: 0]",
     "loop 1000000 [o/a: 1]",
     "o = S()\n"
     "def run():\n    for i in range(1000000):\n        o.a = 1\n"},
    {"field set through on-change*, 1,000,000 times",
     "n: 0 o: make object! [a: 0 on-change*: func [w old new] [n: n + 1]]",
     "loop 1000000 [o/a: 1]",
     "o = W()\n"
     "def run():\n    for i in range(1000000):\n        o.a = 1\n"},
    {"append to an owned block with on-deep-change*, 100,000 times",
     "n: 0 o: make object! [s: [] on-deep-change*: func [ow w t a v i p] [n: n + 1]]",
     "clear o/s loop 100000 [append o/s 1]",
     "o = W(); o.s = []\n"
     "def run():\n    o.s.clear()\n    for i in range(100000):\n        o.s.append(1); o.a = 1\n"},
};


double python_seconds(const std::string& body) {
    return bench::python_seconds(
        "import time\n" + std::string(python_classes) + body +
        "best = 1e30\n"
        "for r in range(3):\n"
        "    t = time.perf_counter(); run(); best = min(best, time.perf_counter() - t)\n"
        "print(best)\n");
}

}  // namespace

static int run_benchmarks() {
    std::printf("%-62s %10s %10s %9s\n", "program", "tev ms", "python ms", "tev/py");
    for (const Row& r : rows) {
        if (!bench::tev_run(r.tev_setup)) continue;
        bool ok = true;
        double tev = bench::best_seconds(3, [&] { ok = ok && bench::tev_run(r.tev); });
        if (!ok) continue;
        double py = python_seconds(r.python);
        std::printf("%-62s %10.1f %10.1f %9.2f\n", r.name, tev * 1e3, py * 1e3, py > 0 ? tev / py : 0.0);
    }
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

// What the profiler and the trace hook cost a call-heavy script (fib 22, about
// 57,000 calls of a function and 230,000 of natives): the script alone, under a
// trace handler that does nothing (with every event, then with the profiler's
// events only), and under `profile`, beside Python's fib
// alone and under cProfile in the same run. The overhead is a constant factor
// per call; the ratios show how it compares with Python's.
#include <cstdio>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

const char* const setup =
    "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]\n"
    "idle: func [event code offset value [any-type!] ref [any-type!] frame] []\n"
    "idle-calls: func [event code offset value [any-type!] ref [any-type!] frame] [[init call return prolog epilog]]\n";

struct Row {
    const char* name;
    const char* tev;  // timed; must leave `ok` true
    double seconds = 0;
};

Row rows[] = {
    {"fib 22 alone", "ok: 17711 = fib 22"},
    {"fib 22 under an idle trace handler", "ok: 17711 = do/trace [fib 22] :idle"},
    {"fib 22, idle handler of the calls only", "ok: 17711 = do/trace [fib 22] :idle-calls"},
    {"fib 22 under profile", "profile [x: fib 22] ok: x = 17711"},
};

}  // namespace

static int run_benchmarks() {
    if (!bench::tev_run(setup)) return 1;
    for (Row& r : rows) {
        bool ok = true;
        r.seconds = bench::best_seconds(3, [&] {
            ok = ok && bench::tev_run(r.tev) && bench::tev_run("if not ok [do make error! \"wrong result\"]");
        });
        if (!ok) r.seconds = -1;
    }
    const char* py_fib =
        "def fib(n):\n"
        "    return n if n < 2 else fib(n - 1) + fib(n - 2)\n";
    double py = bench::python_best_seconds("", std::string(py_fib) + "print(best(lambda: fib(22)))\n");
    double py_prof = bench::python_best_seconds(
        "cProfile", std::string(py_fib) + "print(best(lambda: cProfile.Profile().runcall(fib, 22)))\n");

    std::printf("\n%-40s %10s %12s\n", "job", "tev ms", "x alone");
    for (const Row& r : rows) {
        if (r.seconds < 0) std::printf("%-40s wrong result\n", r.name);
        else std::printf("%-40s %10.1f %12.1f\n", r.name, r.seconds * 1e3, r.seconds / rows[0].seconds);
    }
    if (py > 0 && py_prof > 0) {
        std::printf("%-40s %10.1f %12.1f\n", "python fib(22) alone", py * 1e3, 1.0);
        std::printf("%-40s %10.1f %12.1f\n", "python fib(22) under cProfile", py_prof * 1e3, py_prof / py);
        std::printf("tev profile overhead / python cProfile overhead: %.2f\n",
                    (rows[3].seconds / rows[0].seconds) / (py_prof / py));
        std::printf("tev alone / python alone: %.2f\n", rows[0].seconds / py);
    } else {
        std::printf("(no python)\n");
    }
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

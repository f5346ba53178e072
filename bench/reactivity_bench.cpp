// Reactivity's change propagation with 1,000 relations, beside the same observer
// engine in Python (relations as a flat list scanned on every change, the same
// last-in first-out queue with done flags) in the same run.
#include <cstdio>
#include <string>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

// The Python peer: a reactor's attribute assignment calls check, which scans
// the relations and runs or queues their reactions as the Tev engine does.
const char* const py_engine =
    "relations = []\n"
    "queue = []\n"
    "def pending(obj, fn):\n"
    "    for rec in queue:\n"
    "        if rec[0] is obj and rec[1] is fn: return True\n"
    "    return False\n"
    "def check(obj, field):\n"
    "    for (o, f, fn) in relations:\n"
    "        if o is not obj or f != field: continue\n"
    "        if queue and pending(obj, fn): continue\n"
    "        if queue:\n"
    "            queue.append([obj, fn, False])\n"
    "            continue\n"
    "        queue.append([obj, fn, True])\n"
    "        fn()\n"
    "        i = len(queue)\n"
    "        while True:\n"
    "            i -= 1\n"
    "            rec = queue[i]\n"
    "            if rec[2]:\n"
    "                del queue[i:]\n"
    "            else:\n"
    "                n = len(queue)\n"
    "                rec[1]()\n"
    "                if len(queue) == n: del queue[i:]\n"
    "                else:\n"
    "                    rec[2] = True\n"
    "                    i = len(queue)\n"
    "            if i == 0: break\n"
    "        queue.clear()\n"
    "class Reactor:\n"
    "    def __init__(self, **kw):\n"
    "        for k in kw: object.__setattr__(self, k, kw[k])\n"
    "    def __setattr__(self, k, v):\n"
    "        object.__setattr__(self, k, v)\n"
    "        check(self, k)\n"
    "class Plain: pass\n"
    "sink = Plain()\n"
    "sink.n = 0\n";

const bench::TevPyJob jobs[] = {
    {"1,000 sources, 10,000 changes (lookup)",
     "sink: make object! [n: 0] rs: make block! 1000\n"
     "repeat i 1000 [\n"
     "  r: reactor [v: 0] append rs r w: to word! rejoin [\"r\" i] set w r\n"
     "  react/later compose [(to path! reduce [w 'v]) sink/n: sink/n + 1]\n"
     "]",
     "n0: sink/n loop 10 [foreach r rs [r/v: r/v + 1]] ok: sink/n - n0 = 10000",
     "rs = [Reactor(v=0) for _ in range(1000)]\n"
     "def bump():\n"
     "    sink.n += 1\n"
     "for r in rs: relations.append((r, \"v\", (lambda: bump())))\n"
     "def run():\n"
     "    n0 = sink.n\n"
     "    for _ in range(10):\n"
     "        for r in rs: r.v = r.v + 1\n"
     "    return sink.n - n0 == 10000\n",
     "run()"},
    {"1 source, 1,000 reactions, 100 changes (fan-out)",
     "sink: make object! [n: 0] src: reactor [a: 1]\n"
     "loop 1000 [react/later copy [sink/n: sink/n + src/a]]",
     "n0: sink/n repeat i 100 [src/a: i] ok: sink/n - n0 = 5050000",
     "src = Reactor(a=1)\n"
     "def add():\n"
     "    sink.n += src.a\n"
     "for _ in range(1000): relations.append((src, \"a\", (lambda: add())))\n"
     "def run():\n"
     "    n0 = sink.n\n"
     "    for i in range(1, 101): src.a = i\n"
     "    return sink.n - n0 == 5050000\n",
     "run()"},
    {"chain of 1,000 reactors, 10 changes (queue)",
     "prev: first-r: reactor [v: 0]\n"
     "loop 999 [\n"
     "  r: reactor [v: 0] ctx: make object! compose [p: (prev) n: (r)]\n"
     "  react/later bind copy/deep [n/v: p/v + 1] ctx prev: r\n"
     "]\n"
     "last-r: prev",
     "repeat i 10 [first-r/v: i] ok: last-r/v = 1009",
     "rs = [Reactor(v=0) for _ in range(1000)]\n"
     "def link(p, n):\n"
     "    def step():\n"
     "        n.v = p.v + 1\n"
     "    relations.append((p, \"v\", step))\n"
     "for k in range(999): link(rs[k], rs[k + 1])\n"
     "def run():\n"
     "    for i in range(1, 11): rs[0].v = i\n"
     "    return rs[-1].v == 1009\n",
     "run()"},
};

}  // namespace

static int run_benchmarks() {
    bench::print_tev_py_header(50);
    for (const bench::TevPyJob& j : jobs) {
        if (bench::tev_run("clear-reactions")) bench::run_tev_py_job(j, 50, "", py_engine);
    }
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

// Number benchmarks: integer and float arithmetic through the action entries, and float text
// both ways, each printed beside Python measured in the same run (int/float ops, repr, '%.16g', float()).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "bench/bench_common.h"
#include "datatypes/registry.h"
#include "runtime/float_format.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {

using tev::bench::best_seconds;

// Runs a Python program that prints one number (seconds); -1 when no peer. Through a
// file: the programs quote with ' and cannot go on a command line as they stand.
double python_file_seconds(const std::string& code) {
    const char* file = "/tmp/tev_bench_numbers.py";
    FILE* f = std::fopen(file, "w");
    if (!f) return -1;
    std::fputs(code.c_str(), f);
    std::fclose(f);
    FILE* p = popen("python3 /tmp/tev_bench_numbers.py 2>/dev/null", "r");
    if (!p) return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
    pclose(p);
    return secs;
}

void report(const char* what, double ours, double peer, const char* peer_name, int count) {
    double per = ours / count * 1e9;
    if (peer > 0)
        std::printf("%-36s %8.1f ns/op   %-16s %8.1f ns/op   ratio %.2f\n", what, per, peer_name,
                    peer / count * 1e9, ours / peer);
    else
        std::printf("%-36s %8.1f ns/op   (no %s)\n", what, per, peer_name);
}

const char* py_best =
    "import time, struct\n"
    "def best(f):\n"
    "    b = 1e30\n"
    "    for _ in range(5):\n"
    "        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)\n"
    "    return b\n";

// n calls of the type's action entry on two stack arguments, as the dispatcher makes them.
template <class Setup> double action_loop(Act slot, TypeId type, int n, Setup setup) {
    ActionFn fn = reinterpret_cast<ActionFn>(action_table[type][int(slot) - 1]);
    StackScope scope;
    ActionFrame frame;
    frame.args = stack_push();
    stack_push();
    frame.type = type;
    std::memset(frame.refs, -1, sizeof frame.refs);
    return best_seconds(5, [&] {
        for (int i = 0; i < n; ++i) {
            setup(frame.args, i);
            fn(frame);
        }
    });
}

void bench_arithmetic() {
    const int n = 5000000;
    double int_add = action_loop(Act::add, T_INTEGER, n, [](Cell* a, int i) { set_integer(a, i); set_integer(a + 1, 7); });
    double int_mul = action_loop(Act::multiply, T_INTEGER, n, [](Cell* a, int i) { set_integer(a, i); set_integer(a + 1, 3); });
    double int_div = action_loop(Act::divide, T_INTEGER, n, [](Cell* a, int i) { set_integer(a, i); set_integer(a + 1, 2); });
    double float_add = action_loop(Act::add, T_FLOAT, n, [](Cell* a, int i) { set_float(a, i * 0.5); set_float(a + 1, 0.25); });
    double mixed = action_loop(Act::multiply, T_INTEGER, n, [](Cell* a, int i) { set_integer(a, i); set_float(a + 1, 1.5); });
    std::string loop = std::string(py_best) + "n = " + std::to_string(n) + "\n";
    report("integer add (action entry)", int_add,
           python_file_seconds(loop + "def f():\n    b = 7\n    for i in range(n): i + b\nprint(best(f))"), "python int +", n);
    report("integer multiply (action entry)", int_mul,
           python_file_seconds(loop + "def f():\n    b = 3\n    for i in range(n): i * b\nprint(best(f))"), "python int *", n);
    report("integer divide, half inexact", int_div,
           python_file_seconds(loop + "def f():\n    b = 2\n    for i in range(n): i / b\nprint(best(f))"), "python int /", n);
    report("float add (action entry)", float_add,
           python_file_seconds(loop + "def f():\n    b = 0.25\n    for i in range(n): i * 0.5 + b\nprint(best(f))"),
           "python float +", n);
    report("integer * float (mixed)", mixed,
           python_file_seconds(loop + "def f():\n    b = 1.5\n    for i in range(n): i * b\nprint(best(f))"), "python int*float", n);
}

// Everyday magnitudes (prices, measures) and arbitrary bit patterns (huge and tiny
// exponents, where the exact arithmetic works with the widest numbers).
std::vector<double> sample_doubles(int n, bool everyday) {
    std::mt19937_64 gen(everyday ? 42 : 43);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> values;
    for (int i = 0; i < n; ++i) {
        double d;
        if (everyday) d = (i % 3 == 0) ? double(gen() % 100000) / 100.0 : unit(gen) * 1000.0;
        else {
            uint64_t b = gen();
            std::memcpy(&d, &b, 8);
            if (d != d || d - d != 0) d = 1.5;
        }
        values.push_back(d);
    }
    return values;
}

void bench_float_text(const char* label, bool everyday) {
    const int n = 300000;
    std::vector<double> values = sample_doubles(n, everyday);
    const char* file = "/tmp/tev_bench_doubles.bin";
    FILE* f = std::fopen(file, "wb");
    std::fwrite(values.data(), 8, values.size(), f);
    std::fclose(f);
    std::vector<std::string> texts;
    char buf[FLOAT_TEXT_MAX];
    for (double d : values) { float_to_text(d, 0, true, buf); texts.push_back(buf); }

    size_t sink = 0;
    double shortest = best_seconds(5, [&] { for (double d : values) sink += float_to_text(d, 0, true, buf); });
    double pretty = best_seconds(5, [&] { for (double d : values) sink += float_format(d, FLOAT_KIND_FLOAT, buf); });
    double reading = best_seconds(5, [&] {
        for (const std::string& s : texts) sink += size_t(parse_float(s.data(), s.data() + s.size()) != 0);
    });
    std::string load = std::string(py_best) + "data = open('" + file + "', 'rb').read()\n"
                       "vals = struct.unpack('<%dd' % (len(data) // 8), data)\n";
    std::printf("-- %s\n", label);
    report("double to shortest text", shortest, python_file_seconds(load + "print(best(lambda: [repr(v) for v in vals]))"),
           "python repr", n);
    report("double to display text (16 digits)", pretty,
           python_file_seconds(load + "print(best(lambda: ['%.16g' % v for v in vals]))"), "python %.16g", n);
    report("shortest text to double", reading,
           python_file_seconds(load + "texts = [repr(v) for v in vals]\nprint(best(lambda: [float(t) for t in texts]))"),
           "python float()", n);
    std::printf("(checksum %zu)\n", sink);
}

}  // namespace

int main() {
    memory_init();
    registry_init();
    register_all_datatypes();
    value_stack_init();
    bench_arithmetic();
    bench_float_text("everyday magnitudes", true);
    bench_float_text("any bit pattern", false);
    return 0;
}

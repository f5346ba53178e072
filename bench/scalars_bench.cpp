// Money and date benchmarks: money multiply and divide through the action entries beside Python's decimal, and date field setters beside datetime.replace, in the same run.
#include <cstdio>
#include <cstring>
#include "bench/bench_common.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/registry.h"
#include "runtime/startup.h"
#include "runtime/value_stack.h"

using namespace tev;
using tev::bench::best_seconds;
using tev::bench::python_seconds;

namespace {

void report(const char* what, double ours, double peer, const char* peer_name, int count) {
    double per = ours / count * 1e9;
    if (peer > 0)
        std::printf("%-34s %8.1f ns/op   %-22s %8.1f ns/op   ratio %.2f\n", what, per, peer_name,
                    peer / count * 1e9, ours / peer);
    else
        std::printf("%-34s %8.1f ns/op   (no %s)\n", what, per, peer_name);
}

// A money value from its text form, e.g. "1234.56789".
Cell money_of(const char* integral, const char* fraction) {
    Cell c;
    auto u = [](const char* s) { return reinterpret_cast<const uint8_t*>(s); };
    money_make_from_digits(&c, false, nullptr, u(integral), u(integral) + std::strlen(integral), u(fraction),
                           u(fraction) + std::strlen(fraction));
    return c;
}

void bench_money() {
    const int n = 200000;
    StackScope scope;
    ActionFrame frame;
    frame.args = stack_push();
    stack_push();
    std::memset(frame.refs, -1, sizeof frame.refs);
    // money times a float (money times money is refused); money by money gives a float.
    const Cell left = money_of("123456789", "12345"), divisor = money_of("3", "14159");
    Cell factor;
    set_float(&factor, 3.14159);
    auto run = [&](Act slot, const Cell& right) {
        ActionFn fn = reinterpret_cast<ActionFn>(action_table[T_MONEY][int(slot) - 1]);
        return best_seconds(5, [&] {
            for (int i = 0; i < n; ++i) {
                frame.args[0] = left;
                frame.args[1] = right;
                fn(frame);
            }
        });
    };
    const char* py =
        "import time, decimal\n"
        "decimal.getcontext().prec = 28\n"
        "a = decimal.Decimal(\"123456789.12345\"); b = decimal.Decimal(\"3.14159\"); q = decimal.Decimal(\"0.00001\")\n"
        "def best(f):\n"
        "    r = 1e30\n"
        "    for _ in range(5):\n"
        "        t = time.perf_counter(); f(); r = min(r, time.perf_counter() - t)\n"
        "    return r\n"
        "def mul():\n"
        "    for _ in range(200000): (a * decimal.Decimal(3.14159)).quantize(q, decimal.ROUND_DOWN)\n"
        "def div():\n"
        "    for _ in range(200000): float((a / b).quantize(q, decimal.ROUND_DOWN))\n";
    report("money * float", run(Act::multiply, factor), python_seconds(std::string(py) + "print(best(mul))"),
           "decimal * quantize", n);
    report("money / money", run(Act::divide, divisor), python_seconds(std::string(py) + "print(best(div))"),
           "float(decimal /)", n);
}

void bench_date_setters() {
    const int n = 200000;
    StackScope scope;
    Cell* parent = stack_push();
    Cell* element = stack_push();
    Cell* result = stack_push();
    Cell* value = stack_push();
    EvalPathFn fn = action_of<Act::eval_path>(T_DATE);
    Cell start;
    date_make_cell(&start, 2020, 1, 15, 36000.0, 2, 0, true);
    // Fields by number: 2 year, 3 month, 4 day, 7 hour.
    double ours = best_seconds(5, [&] {
        *parent = start;
        for (int i = 0; i < n; ++i) {
            static const int fields[4] = {2, 3, 4, 7};
            const int field = fields[i & 3];
            set_integer(element, field);
            set_integer(value, field == 2 ? 1990 + (i & 31) : field == 3 ? 1 + (i % 12) : field == 4 ? 1 + (i % 28) : i % 24);
            PathStep step{parent, element, value, nullptr, result, 1, true, false};
            fn(step);
        }
    });
    const char* py =
        "import time, datetime\n"
        "def best(f):\n"
        "    r = 1e30\n"
        "    for _ in range(5):\n"
        "        t = time.perf_counter(); f(); r = min(r, time.perf_counter() - t)\n"
        "    return r\n"
        "z = datetime.timezone(datetime.timedelta(hours=2))\n"
        "def run():\n"
        "    d = datetime.datetime(2020, 1, 15, 10, tzinfo=z)\n"
        "    for i in range(200000):\n"
        "        k = i & 3\n"
        "        if k == 0: d = d.replace(year=1990 + (i & 31))\n"
        "        elif k == 1: d = d.replace(month=1 + i % 12)\n"
        "        elif k == 2: d = d.replace(day=1 + i % 28)\n"
        "        else: d = d.replace(hour=i % 24)\n"
        "print(best(run))\n";
    report("date field setters", ours, python_seconds(py), "datetime.replace", n);
}

int run_benchmarks() {
    bench_money();
    bench_date_setters();
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

// Block benchmarks: append/insert growth, copy/deep, mold of large and deeply nested blocks, linear find and
// sort with and without a comparator (a Tev function, and a C++ one for the sort's own cost), each printed beside Python's list doing the same in the same run.
#include <cstdio>
#include <random>
#include <string>
#include "bench/bench_tev.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include <cstring>
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

using namespace tev;

namespace {


double python_seconds(const std::string& body) { return bench::python_best_seconds("copy, functools", body); }

void report(const char* what, double ours, double peer) {
    if (peer > 0)
        std::printf("%-36s %9.3f ms   python %9.3f ms   ratio %.2f\n", what, ours * 1e3, peer * 1e3, ours / peer);
    else
        std::printf("%-36s %9.3f ms   (no python)\n", what, ours * 1e3);
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

Cell* random_ints(uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Cell* b = block_push_new(n);
    Cell v;
    for (uint32_t i = 0; i < n; ++i) {
        set_integer(&v, int32_t(rng() % 1000000));
        block_append(b, &v);
    }
    return b;
}

// A function! comparator as the evaluator will call it; here the call is C++.
void ascending(const Cell*, const Cell* b, const Cell* a, Cell* result) {
    set_logic(result, get_integer(b) < get_integer(a));
}

}  // namespace

int run() {
    collector_enabled = true;
    const uint32_t N = 1000000;

    report("append 1M integers", bench::best_seconds_scoped(5, [&] {
        Cell* b = block_push_new(1);
        Cell v;
        for (uint32_t i = 0; i < N; ++i) {
            set_integer(&v, int32_t(i));
            block_append(b, &v);
        }
    }), python_seconds("def f():\n    l = []\n    for i in range(1000000): l.append(i)\nprint(best(f))"));

    report("insert at head 20k integers", bench::best_seconds_scoped(5, [&] {
        Cell* b = block_push_new(1);
        for (int i = 0; i < 20000; ++i) {
            Cell* base = stack_push_copy(b);
            set_integer(stack_push(), i);
            call(Act::insert, base);
            stack_drop_to(base);
        }
    }), python_seconds("def f():\n    l = []\n    for i in range(20000): l.insert(0, i)\nprint(best(f))"));

    {
        // 10k blocks of 10 integers inside one block.
        Cell* outer = block_push_new(10000);
        for (int i = 0; i < 10000; ++i) {
            Cell* inner = random_ints(10, uint32_t(i));
            block_append(outer, inner);
            stack_drop_to(inner);
        }
        report("copy/deep 10k x 10", bench::best_seconds_scoped(5, [&] {
            call(Act::copy, stack_push_copy(outer), {{ref::copy_deep, nullptr}});
        }), python_seconds("l = [list(range(10)) for _ in range(10000)]\nprint(best(lambda: copy.deepcopy(l)))"));
        report("mold 10k x 10", bench::best_seconds_scoped(5, [&] {
            Cell* out = string_push(1 << 16);
            action_of<Act::mold>(T_BLOCK)(outer, out, false, false, false, nullptr, NO_LIMIT, 0);
        }), python_seconds("import random\nl = [[random.randrange(1000000) for _ in range(10)] for _ in range(10000)]\n"
                           "print(best(lambda: repr(l)))"));
    }
    {
        Cell* top = block_push_new(1);
        Cell* cur = stack_push_copy(top);
        for (int i = 1; i < 999; ++i) {
            Cell* inner = block_push_new(1);
            block_append(cur, inner);
            *cur = *inner;
            stack_drop_to(cur + 1);
        }
        report("mold 999 nested levels x 100", bench::best_seconds_scoped(5, [&] {
            for (int k = 0; k < 100; ++k) {
                StackScope scope;
                Cell* out = string_push(4096);
                action_of<Act::mold>(T_BLOCK)(top, out, false, false, false, nullptr, NO_LIMIT, 0);
            }
        }), python_seconds("l = []\nc = l\nfor _ in range(900):\n    n = []; c.append(n); c = n\n"
                           "def f():\n    for _ in range(100): repr(l)\nprint(best(f))"));
    }
    {
        Cell* b = random_ints(N, 7);
        Cell missing;
        set_integer(&missing, -1);
        report("find (absent) in 1M", bench::best_seconds_scoped(5, [&] {
            Cell* base = stack_push_copy(b);
            stack_push_copy(&missing);
            call(Act::find, base);
        }), python_seconds("l = list(range(1000000))\nprint(best(lambda: -1 in l))"));
        report("sort 1M integers", bench::best_seconds_scoped(3, [&] {
            Cell* copy = stack_push_copy(b);
            call(Act::copy, copy);
            call(Act::sort, copy);
        }), python_seconds("import random\nr = random.Random(7)\nl = [r.randrange(1000000) for _ in range(1000000)]\n"
                           "print(best(lambda: sorted(l)))"));
        Cell* small = random_ints(100000, 9);
        const char* source = "func [a b] [a < b]";
        Cell* code = stack_push();
        transcode_utf8(code, reinterpret_cast<const uint8_t*>(source), std::strlen(source));
        Cell* fn = stack_push_copy(eval_block(code));
        double peer = python_seconds(
            "import random\nr = random.Random(9)\nl = [r.randrange(1000000) for _ in range(100000)]\n"
            "k = functools.cmp_to_key(lambda a, b: (a > b) - (a < b))\nprint(best(lambda: sorted(l, key=k)))");
        report("sort/compare 100k (Tev function)", bench::best_seconds_scoped(3, [&] {
            Cell* copy = stack_push_copy(small);
            call(Act::copy, copy);
            call(Act::sort, copy, {{ref::sort_compare, fn}});
        }), peer);
        SortFunctionCall evaluator_call = sort_function_call;
        sort_function_call = &ascending;  // the sort's own cost, without the evaluator
        Cell native_fn;
        cell_init(&native_fn, T_FUNCTION);
        report("sort/compare 100k (C++ comparator)", bench::best_seconds_scoped(3, [&] {
            Cell* copy = stack_push_copy(small);
            call(Act::copy, copy);
            Cell* fn_cell = stack_push_copy(&native_fn);
            call(Act::sort, copy, {{ref::sort_compare, fn_cell}});
        }), python_seconds("import random\nr = random.Random(9)\nl = [r.randrange(1000000) for _ in range(100000)]\n"
                           "k = functools.cmp_to_key(lambda a, b: (a > b) - (a < b))\nprint(best(lambda: sorted(l, key=k)))"));
        sort_function_call = evaluator_call;
    }
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, &run); }

// Text benchmarks: UTF-8 decode/encode, appends that widen, case-folded find and both sorts,
// each printed beside a peer measured in the same run (Python's str, std::sort) with the ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "bench/bench_common.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

using namespace tev;
using bench::best_seconds;
using bench::python_seconds;

namespace {

void report(const char* what, double ours, double peer, const char* peer_name) {
    if (peer > 0)
        std::printf("%-34s %9.3f ms   %-14s %9.3f ms   ratio %.2f\n", what, ours * 1e3, peer_name, peer * 1e3, ours / peer);
    else
        std::printf("%-34s %9.3f ms   (no %s)\n", what, ours * 1e3, peer_name);
}

// Mixed text: mostly ASCII with Latin-1, BMP and astral characters.
std::string sample_text(size_t bytes) {
    const char* pieces[] = {"the quick brown fox ", "jumps over ", "caf\xC3\xA9 ", "\xE2\x82\xAC" "5 ",
                            "lazy dogs ", "\xF0\x9F\x98\x80 ", "na\xC3\xAFve ", "\n"};
    std::mt19937 rng(1);
    std::string s;
    while (s.size() < bytes) s += pieces[rng() % 8];
    return s;
}

const char* py_time =
    "import time\n"
    "def best(f):\n"
    "    b = 1e30\n"
    "    for _ in range(5):\n"
    "        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)\n"
    "    return b\n";

// Decodes and encodes `text` (also written to `file` for the peer); leaves
// the decoded string in *s and returns the peer's loading prologue.
std::string bench_codec(const char* label, const std::string& text, const char* file, Cell* s) {
    FILE* f = std::fopen(file, "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    double decode = best_seconds(5, [&] {
        set_series(s, T_STRING, string_from_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())));
    });
    std::string load = std::string(py_time) + "b = open(\"" + file + "\", \"rb\").read()\ns = b.decode()\n";
    report((std::string("UTF-8 decode ") + label).c_str(), decode,
           python_seconds(load + "print(best(lambda: b.decode()))"), "python decode");
    double encode = best_seconds(5, [&] { int32_t n = -1; string_to_utf8(s, &n); });
    report((std::string("UTF-8 encode ") + label).c_str(), encode,
           python_seconds(load + "print(best(lambda: s.encode()))"), "python encode");
    return load;
}

void bench_codecs() {
    StackScope scope;
    Cell* s = stack_push();
    std::string ascii(8 << 20, 'a');
    for (size_t i = 0; i < ascii.size(); i += 61) ascii[i] = ' ';
    bench_codec("(8 MB ASCII)", ascii, "/tmp/tev_bench_ascii.txt", s);
    std::string text = sample_text(8 << 20);
    std::string load = bench_codec("(8 MB, unit 4)", text, "/tmp/tev_bench_text.txt", s);

    // Case-folded search through the mixed text.
    Cell* needle = string_push(8);
    string_append_cstr(needle, "LAZY DOGS X");  // absent: scans the whole text
    auto find = reinterpret_cast<ActionFn>(action_table[T_STRING][int(Act::find) - 1]);
    double found = best_seconds(5, [&] {
        StackScope inner;
        Cell* args = stack_push_copy(s);
        stack_push_copy(needle);
        ActionFrame fr{args, T_STRING, {}};
        for (auto& r : fr.refs) r = -1;
        find(fr);
    });
    report("case-folded find (8 MB, miss)", found,
           python_seconds(load + "print(best(lambda: s.upper().find(\"LAZY DOGS X\")))"), "python upper+find");
}

void bench_append() {
    StackScope scope;
    const int n = 2000000;
    double ours = best_seconds(5, [&] {
        StackScope inner;
        Cell* s = string_push(16);
        for (int i = 0; i < n; ++i) string_append_codepoint(s, i == n / 2 ? 0x20AC : i == n - 10 ? 0x1F600 : 'a' + i % 26);
    });
    std::string py = std::string(py_time) +
                     "def f():\n    l = []\n    for i in range(2000000):\n        l.append(\"\\u20ac\" if i == 1000000 else \"\\U0001F600\" if i == 1999990 else chr(97 + i % 26))\n    return \"\".join(l)\n"
                     "print(best(f))";
    report("append 2M chars, widening 1>2>4", ours, python_seconds(py), "python join");

    // The append action with a two-character text, as `append s "ab"` reaches it
    // without the evaluator: the datatype side of eval_bench's string building.
    ActionFn append = action_of<Act::append>(T_STRING);
    double action = best_seconds(5, [&] {
        StackScope inner;
        Cell* s = string_push(1);
        Cell* ab = string_push(2);
        string_append_cstr(ab, "ab");
        for (int i = 0; i < 100000; ++i) {
            ActionFrame f;
            f.args = stack_push_copy(s);
            f.type = T_STRING;
            stack_push_copy(ab);
            std::memset(f.refs, -1, sizeof f.refs);
            append(f);
            vstack.top = f.args;
        }
    });
    report("append action 100k x \"ab\"", action,
           python_seconds(std::string(py_time) + "def f():\n    s = \"\"\n    for i in range(100000):\n        s += \"ab\"\n"
                          "    return s\nprint(best(f))"),
           "python +=");
}

int by_int(const void* a, const void* b, void*) {
    int32_t x = *static_cast<const int32_t*>(a), y = *static_cast<const int32_t*>(b);
    return x < y ? -1 : x > y;
}

void bench_sorts() {
    const int n = 1000000;
    std::mt19937 rng(9);
    struct Shape { const char* name; std::vector<int32_t> data; };
    std::vector<Shape> shapes = {{"random", {}}, {"sorted", {}}, {"reversed", {}}, {"many equal", {}}};
    for (int i = 0; i < n; ++i) {
        shapes[0].data.push_back(int32_t(rng()));
        shapes[1].data.push_back(i);
        shapes[2].data.push_back(n - i);
        shapes[3].data.push_back(int32_t(rng() % 4));
    }
    for (const Shape& shape : shapes) {
        std::vector<int32_t> work;
        auto peer = best_seconds(3, [&] { work = shape.data; std::sort(work.begin(), work.end()); });
        auto peer_stable = best_seconds(3, [&] { work = shape.data; std::stable_sort(work.begin(), work.end()); });
        double copy = best_seconds(3, [&] { work = shape.data; });
        auto quick = best_seconds(3, [&] { work = shape.data; sort_quick(work.data(), n, 4, by_int, nullptr); });
        auto stable = best_seconds(3, [&] { work = shape.data; sort_stable(work.data(), n, 4, by_int, nullptr); });
        std::string q = std::string("sort-quick 1M ") + shape.name, s = std::string("sort-stable 1M ") + shape.name;
        report(q.c_str(), quick - copy, peer - copy, "std::sort");
        report(s.c_str(), stable - copy, peer_stable - copy, "stable_sort");
    }
}

}  // namespace

int main() {
    memory_init();
    registry_init();
    value_stack_init();
    register_type<T_STRING>();
    bench_codecs();
    bench_append();
    bench_sorts();
    return 0;
}

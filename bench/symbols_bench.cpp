// Symbol and hashing benchmarks: interning, word lookup in a context, insert and find for each hash table
// kind, and MurmurHash3 throughput per text unit width, each beside Python doing the like in the same run.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "bench/bench_tev.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "runtime/context_table.h"
#include "runtime/hash_table.h"
#include "runtime/key_hash.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {


double python_seconds(const std::string& body) { return bench::python_best_seconds("os", body); }

void report(const char* what, double ours, double peer) {
    if (peer > 0)
        std::printf("%-40s %9.3f ms   python %9.3f ms   ratio %.2f\n", what, ours * 1e3, peer * 1e3, ours / peer);
    else
        std::printf("%-40s %9.3f ms   (no python)\n", what, ours * 1e3);
}

Cell* int_block(uint32_t n, uint32_t step) {
    Cell* b = block_push_new(n);
    Cell v;
    for (uint32_t i = 0; i < n; ++i) {
        set_integer(&v, int32_t(i * step));
        block_append(b, &v);
    }
    return b;
}

// A block of n key/value pairs, each key its own value, as a map holds them.
Cell* int_pair_block(uint32_t n, uint32_t step) {
    Cell* b = block_push_new(2 * n);
    Cell v;
    for (uint32_t i = 0; i < n; ++i) {
        set_integer(&v, int32_t(i * step));
        block_append(b, &v);
        block_append(b, &v);
    }
    return b;
}

// A string of n code points, each below `top`, in a buffer of the given unit.
Cell* text_of_width(uint32_t n, uint32_t unit, uint32_t top) {
    NodeRef node = alloc_series_units(n, unit);
    SeriesBuffer* b = node_buffer(node);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t cp = 0x41 + (i * 7919u) % (top - 0x41);
        std::memcpy(b->head_ptr() + size_t(i) * unit, &cp, unit);
    }
    b->tail = b->head + n * unit;
    Cell* s = stack_push();
    set_series(s, T_STRING, node);
    return s;
}

}  // namespace

int main() {
    memory_init();
    registry_init();
    register_all_datatypes();
    value_stack_init();
    symbol_table_make_block();
    global_context_init();
    symbol_table_make_index();
    collector_enabled = true;

    const uint32_t W = 200000;
    std::vector<std::string> words;
    for (uint32_t i = 0; i < W; ++i) words.push_back("word-" + std::to_string(i * 2654435761u));

    // New spellings only once per process: the first round interns, later rounds look up.
    double intern_new = bench::best_seconds_scoped(1, [&] {
        for (auto& w : words) symbol_from_utf8(reinterpret_cast<const uint8_t*>(w.data()), uint32_t(w.size()));
    });
    const char* py_words = "words = [\"word-\" + str((i * 2654435761) % 2**32) for i in range(200000)]\n";
    report("intern 200k new spellings", intern_new,
           python_seconds(std::string(py_words) + "def f():\n    d = {}\n    for w in words: d.setdefault(w, len(d))\n"
                          "t = time.perf_counter(); f(); print(time.perf_counter() - t)"));
    report("intern 200k known spellings", bench::best_seconds_scoped(5, [&] {
        for (auto& w : words) symbol_from_utf8(reinterpret_cast<const uint8_t*>(w.data()), uint32_t(w.size()));
    }), python_seconds(std::string(py_words) + "d = {w: i for i, w in enumerate(words)}\n"
                       "print(best(lambda: [d[w] for w in words]))"));

    {
        RootCell hold;
        NodeRef ctx = context_make(1000, false, true, 0, CTX_KIND_OBJECT);
        set_series(hold.get(), T_BLOCK, ctx);
        std::vector<int32_t> ids;
        for (uint32_t i = 0; i < 1000; ++i) {
            ids.push_back(symbol_from_cstring(("field-" + std::to_string(i)).c_str()));
            Cell w;
            cell_init(&w, T_WORD);
            w.w2 = uint32_t(ids.back());
            context_add_word(ctx, &w);
        }
        report("word lookup 1M (1000-word context)", bench::best_seconds_scoped(5, [&] {
            int64_t sum = 0;
            for (int r = 0; r < 1000; ++r)
                for (int32_t id : ids) sum += context_find_symbol(ctx, id, true);
            if (sum < 0) std::puts("");
        }), python_seconds("keys = [\"field-%d\" % i for i in range(1000)]\nd = {k: i for i, k in enumerate(keys)}\n"
                           "def f():\n    s = 0\n    for _ in range(1000):\n        for k in keys: s += d[k]\n"
                           "print(best(f))"));
    }

    const uint32_t N = 200000;
    const char* py_ints = "ks = list(range(0, 200000 * 7, 7))\n";
    report("kind 0 (values) index 200k integers", bench::best_seconds_scoped(5, [&] {
        Cell* b = int_block(N, 7);
        NodeRef t = hash_table_create(N, series_node(b), 0, HASH_KIND_VALUES, 0);
        if (!t) std::puts("");
    }), python_seconds(std::string(py_ints) + "print(best(lambda: dict.fromkeys(ks)))"));
    report("kind 1 (map) index 200k pairs", bench::best_seconds_scoped(5, [&] {
        Cell* b = int_pair_block(N, 7);
        NodeRef t = hash_table_create(N, series_node(b), 0, HASH_KIND_MAP, 0);
        if (!t) std::puts("");
    }), python_seconds(std::string(py_ints) + "print(best(lambda: {k: k for k in ks}))"));
    // Finding each of the 200k integer keys, in a hash! and in a map.
    struct FindRow { const char* what; int32_t kind; const char* peer; } find_rows[] = {
        {"kind 0 (values) find 200k", HASH_KIND_VALUES, "d = dict.fromkeys(ks)\nprint(best(lambda: [k in d for k in ks]))"},
        {"kind 1 (map) find 200k", HASH_KIND_MAP, "d = {k: k for k in ks}\nprint(best(lambda: [d.get(k) for k in ks]))"},
    };
    for (const FindRow& row : find_rows) {
        Cell* b = row.kind == HASH_KIND_MAP ? int_pair_block(N, 7) : int_block(N, 7);
        NodeRef t = hash_table_create(N, series_node(b), 0, row.kind, 0);
        HashTableHold hold(t);
        report(row.what, bench::best_seconds_scoped(5, [&] {
            Cell k;
            int64_t sum = 0;
            for (uint32_t i = 0; i < N; ++i) {
                set_integer(&k, int32_t(i * 7));
                sum += hash_table_get(t, &k, 0, 1, CMP_EQUAL, false, false);
            }
            if (sum < 0) std::puts("");
        }), python_seconds(std::string(py_ints) + row.peer));
    }
    for (int32_t kind : {HASH_KIND_KEYS, HASH_KIND_OWNED_KEYS}) {
        // Keys are node ids; any 32-bit words serve for timing (no collection marks them here).
        bool was = collector_enabled;
        collector_enabled = false;
        NodeRef t = hash_table_create(1024, 0, 0, kind, 1);
        HashTableHold hold(t);
        double put = bench::best_seconds_scoped(1, [&] {
            for (uint32_t i = 1; i <= N; ++i) hash_table_put_key(t, i * 2654435761u);
        });
        double get = bench::best_seconds_scoped(5, [&] {
            int64_t sum = 0;
            for (uint32_t i = 1; i <= N; ++i) sum += hash_table_get_key(t, i * 2654435761u);
            if (sum < 0) std::puts("");
        });
        collector_enabled = was;
        const char* py = "ks = [(i * 2654435761) % 2**32 for i in range(1, 200001)]\n";
        report(kind == HASH_KIND_KEYS ? "kind 3 (keys) put 200k" : "kind 4 (owned keys) put 200k", put,
               python_seconds(std::string(py) + "def f():\n    d = {}\n    for k in ks: d[k] = None\n"
                              "t = time.perf_counter(); f(); print(time.perf_counter() - t)"));
        report(kind == HASH_KIND_KEYS ? "kind 3 (keys) find 200k" : "kind 4 (owned keys) find 200k", get,
               python_seconds(std::string(py) + "d = dict.fromkeys(ks)\nprint(best(lambda: [k in d for k in ks]))"));
    }

    // Throughput: 4M characters per unit width, against Python's hash of a fresh str
    // of the same width (the slice that makes it fresh is part of Python's time).
    const uint32_t C = 4000000;
    struct Width { uint32_t unit, top; const char* name; const char* py; } widths[] = {
        {1, 0xFF, "murmur 4M chars, unit 1", "s = \"\".join(chr(0x41 + (i * 7919) % (0xFF - 0x41)) for i in range(4000001))\n"},
        {2, 0xD7FF, "murmur 4M chars, unit 2", "s = \"\".join(chr(0x41 + (i * 7919) % (0xD7FF - 0x41)) for i in range(4000001))\n"},
        {4, 0x10FFFF, "murmur 4M chars, unit 4", "s = \"\".join(chr(0x41 + (i * 7919) % (0xD7FF - 0x41)) for i in range(4000000)) + chr(0x1F600)\n"},
    };
    for (const Width& w : widths) {
        StackScope scope;
        Cell* s = text_of_width(C, w.unit, w.top);
        report(w.name, bench::best_seconds_scoped(5, [&] {
            if (hash_string_chars(s, 1) == 1) std::puts("");
        }), python_seconds(std::string(w.py) + "print(best(lambda: hash(s[1:])))"));
    }
    std::vector<uint8_t> bytes(16u << 20);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 131);
    report("murmur bytes 16 MB", bench::best_seconds_scoped(5, [&] {
        if (murmur3_hash_bytes(bytes.data(), bytes.size()) == 1) std::puts("");
    }), python_seconds("b = os.urandom(16 << 20)\nprint(best(lambda: hash(b[1:])))"));
    return 0;
}

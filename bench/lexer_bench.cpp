// Lexer throughput: a large script, a million integers and escape-heavy strings, in MB/s,
// each beside Python's json.loads over the same data written as JSON, with the time ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include "bench/bench_common.h"
#include "datatypes/registry.h"
#include "loader/lexer.h"
#include "runtime/context_table.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {

using tev::bench::best_seconds;

// json.loads of a file, best of 5 rounds, in seconds; -1 when Python is missing.
double json_seconds(const std::string& path) {
    std::string cmd = "python3 -c 'import json,time\n"
                      "s=open(\"" + path + "\").read()\n"
                      "b=1e9\n"
                      "for i in range(5):\n"
                      " t=time.perf_counter(); json.loads(s); b=min(b,time.perf_counter()-t)\n"
                      "print(b)' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
    pclose(p);
    return secs;
}

std::string write_temp(const char* name, const std::string& text) {
    std::string path = std::string("/tmp/tev_lexer_bench_") + name + ".json";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return path;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
}

void run(const char* what, const std::string& tev_text, const std::string& json_text) {
    double ours = best_seconds(5, [&] {
        StackScope scope;
        Cell* out = stack_push();
        transcode_utf8(out, reinterpret_cast<const uint8_t*>(tev_text.data()), tev_text.size());
    });
    double peer = json_seconds(write_temp(what, json_text));
    double mb = double(tev_text.size()) / 1e6;
    std::printf("%-24s %7.2f MB  %8.1f MB/s  %8.2f ms", what, mb, mb / ours, ours * 1e3);
    if (peer > 0)
        std::printf("   json.loads %8.1f MB/s %8.2f ms   ratio %.2f\n", double(json_text.size()) / 1e6 / peer,
                    peer * 1e3, ours / peer);
    else
        std::printf("   (no python3)\n");
}

// A script-like tree of words, set-words, integers, strings and nested blocks,
// with the same shape written as JSON (words as strings).
void make_script(std::mt19937& rng, int depth, std::string& tev, std::string& json) {
    static const char* words[] = {"print", "append", "either", "foreach", "value", "length?", "copy",
                                  "find", "result", "index", "make", "object!", "func", "return"};
    int n = 4 + int(rng() % 12);
    tev += "[";
    json += "[";
    for (int i = 0; i < n; ++i) {
        if (i) { tev += (rng() % 5 == 0) ? "\n    " : " "; json += ","; }
        switch (rng() % 8) {
        case 0: case 1: case 2: {
            const char* w = words[rng() % 14];
            tev += w; json += "\""; json += w; json += "\"";
            break;
        }
        case 3: {
            const char* w = words[rng() % 14];
            tev += w; tev += ":"; json += "\""; json += w; json += ":\"";
            break;
        }
        case 4: case 5: {
            std::string v = std::to_string(rng() % 100000);
            tev += v; json += v;
            break;
        }
        case 6:
            tev += "\"some text here\""; json += "\"some text here\"";
            break;
        default:
            if (depth < 6) make_script(rng, depth + 1, tev, json);
            else { tev += "none"; json += "null"; }
        }
    }
    tev += "]";
    json += "]";
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

    std::mt19937 rng(7);
    {
        std::string tev, json = "[";
        while (tev.size() < 8000000) {
            if (json.size() > 1) json += ",";
            make_script(rng, 0, tev, json);
            tev += "\n";
        }
        json += "]";
        run("large script", tev, json);
    }
    {
        std::string tev, json = "[";
        for (int i = 0; i < 1000000; ++i) {
            std::string v = std::to_string(int32_t(rng()));
            if (i) { tev += ' '; json += ','; }
            tev += v;
            json += v;
        }
        json += "]";
        run("a million integers", tev, json);
    }
    {
        std::string tev, json = "[";
        for (int i = 0; i < 100000; ++i) {
            if (i) { tev += ' '; json += ','; }
            tev += "\"tab^-line^/quote^\"caret^^ and a ^(263A) here\"";
            json += "\"tab\\tline\\nquote\\\"caret^ and a \\u263a here\"";
        }
        json += "]";
        run("escape-heavy strings", tev, json);
    }
    return 0;
}

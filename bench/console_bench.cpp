// The console as a user drives it: a session piped into `tev` beside the same
// session piped into Python's interactive mode, start-up included in both. A
// long open block shows whether collecting lines stays linear; a huge result
// shows whether the width cut stops early; a print loop shows the output path;
// completion runs over every global word.
#include <cstdio>
#include <cstdlib>
#include <string>
#include "bench/bench_common.h"

using namespace tev;

namespace {

struct Job {
    const char* name;
    std::string tev_input;
    std::string py_input;
};

std::string repeat_text(const char* line, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += line;
    return s;
}

bool write_file(const char* path, const std::string& text) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return true;
}

// Seconds of the best of three runs of `command < input > /dev/null`; -1 when it fails.
double session_seconds(const std::string& command, const std::string& input) {
    const char* path = "console-bench-input.txt";
    if (!write_file(path, input)) return -1;
    std::string cmd = command + " < " + path + " > /dev/null 2>&1";
    bool ok = true;
    double secs = bench::best_seconds(3, [&] { ok = ok && std::system(cmd.c_str()) == 0; });
    std::remove(path);
    return ok ? secs : -1;
}

}  // namespace

int main() {
    const Job jobs[] = {
        // What every row below includes.
        {"start-up and end of input", "", ""},
        {"open block of 10,000 lines", "[\n" + repeat_text("1 2 3\n", 10000) + "]\n",
         "x = [\n" + repeat_text("1, 2, 3,\n", 10000) + "]\n"},
        {"open block of 20,000 lines", "[\n" + repeat_text("1 2 3\n", 20000) + "]\n",
         "x = [\n" + repeat_text("1, 2, 3,\n", 20000) + "]\n"},
        {"show a 1,000,000-value block", "append/dup make block! 1000000 1 1000000\n",
         "[1] * 1000000\n"},
        {"repeat i 100000 [print i]", "repeat i 100000 [print i]\n",
         "for i in range(100000): print(i)\n\n"},
        {"completion over all words, 200 times",
         "loop 200 [tev-complete-input tail \"a\" true]\n",
         "import rlcompleter\nc = rlcompleter.Completer()\n"
         "for _ in range(200): n = [c.complete('a', i) for i in range(1000) if c.complete('a', i)] or 0\n\n"},
    };
    std::printf("%-40s %10s %12s %8s\n", "session", "tev ms", "python ms", "ratio");
    for (const Job& j : jobs) {
        double tev = session_seconds(std::string("\"") + TEV_PROGRAM + "\"", j.tev_input);
        double py = session_seconds("python3 -i -q", j.py_input);
        if (tev < 0) {
            std::printf("%-40s %10s\n", j.name, "failed");
            continue;
        }
        if (py < 0) std::printf("%-40s %10.1f %12s\n", j.name, tev * 1e3, "n/a");
        else std::printf("%-40s %10.1f %12.1f %8.2f\n", j.name, tev * 1e3, py * 1e3, tev / py);
    }
    return 0;
}

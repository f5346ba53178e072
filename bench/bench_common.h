// Shared pieces of the benchmark programs: best-of-N timing and a Python peer measured in the same run.
#pragma once
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace tev::bench {

using Clock = std::chrono::steady_clock;

// The fastest of `rounds` runs of f, in seconds.
template <class F> double best_seconds(int rounds, F f) {
    double best = 1e30;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// Runs a Python program that prints one number (seconds); -1 when there is no peer.
inline double python_seconds(const std::string& code) {
    std::string cmd = "python3 -c '" + code + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
    pclose(p);
    return secs;
}

// A Python peer program with `best(f)` (the fastest of 5 runs of f, in seconds)
// defined after the given imports; the body prints the number.
inline double python_best_seconds(const std::string& imports, const std::string& body) {
    return python_seconds("import time" + (imports.empty() ? "" : ", " + imports) + "\n"
                          "def best(f):\n"
                          "    b = 1e30\n"
                          "    for _ in range(5):\n"
                          "        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)\n"
                          "    return b\n" + body);
}

}  // namespace tev::bench

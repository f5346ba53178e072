// Tevbin encode and decode throughput in both record forms beside Python's
// pickle and marshal, the library's decode and evaluation at start-up, and
// the start-up of the whole program beside `python3 -c pass` and `lua5.4 -e ''`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include "bench/bench_tev.h"
#include "datatypes/block.h"
#include "datatypes/word.h"
#include "loader/tevbin.h"
#include "runtime/memory.h"
#include "startup/boot_image.h"
#include "startup/startup.h"

using namespace tev;
using namespace tev::bench;

namespace {

// The same shape of data on both sides: 4,000 records of a word, an integer,
// a float, a string and a nested block of three small integers.
const char* const TEV_DATA =
    "data: make block! 4000 "
    "repeat i 4000 [append/only data reduce ['name i i * 1.5 \"some text here\" reduce [1 2 i]]]";
const char* const PY_DATA =
    "data = [[\"name\", i, i * 1.5, \"some text here\", [1, 2, i]] for i in range(1, 4001)]\n";

std::string self_path;

double mb_per_s(size_t bytes, double seconds) { return seconds > 0 ? double(bytes) / seconds / 1e6 : 0; }

void print_ratio(const char* what, double tev_rate, double peer_rate, const char* peer) {
    if (peer_rate > 0)
        std::printf("  %-28s %8.1f MB/s   %-8s %8.1f MB/s   ratio %.2f\n", what, tev_rate, peer, peer_rate,
                    tev_rate / peer_rate);
    else
        std::printf("  %-28s %8.1f MB/s   (%s not available)\n", what, tev_rate, peer);
}

// Python's rate for one codec: "<bytes> <encode seconds> <decode seconds>".
bool python_codec(const char* module, double* enc_rate, double* dec_rate) {
    std::string code = std::string("import time, ") + module + "\n" + PY_DATA +
                       "def best(f):\n"
                       "    b = 1e30\n"
                       "    for _ in range(7):\n"
                       "        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)\n"
                       "    return b\n"
                       "s = " + module + ".dumps(data)\n"
                       "print(len(s), best(lambda: " + module + ".dumps(data)), best(lambda: " + module + ".loads(s)))\n";
    std::string cmd = "python3 -c '" + code + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    double size = 0, enc = 0, dec = 0;
    bool ok = std::fscanf(p, "%lf %lf %lf", &size, &enc, &dec) == 3;
    pclose(p);
    if (!ok) return false;
    *enc_rate = mb_per_s(size_t(size), enc);
    *dec_rate = mb_per_s(size_t(size), dec);
    return true;
}

// The fastest of 7 decodes, each after a collection: a decode runs with the
// collector off, so without one every round would fault in fresh frames.
double decode_seconds(const std::vector<uint8_t>& image, TevbinUse use) {
    double best = 1e30;
    for (int i = 0; i < 7; ++i) {
        StackScope scope;
        gc_collect();
        Cell* out = block_push_new(1);
        auto t0 = Clock::now();
        tevbin_decode(image.data(), image.size(), out, use);
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

// The interpreter python3 names (not a launcher script in front of it).
std::string python_program() {
    FILE* p = popen("python3 -c \"import sys; print(sys.executable)\" 2>/dev/null", "r");
    char path[1024] = {};
    if (p) {
        if (!std::fgets(path, sizeof path, p)) path[0] = 0;
        pclose(p);
    }
    std::string s(path);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s.empty() ? "python3" : s;
}

// The fastest of n runs of a shell command, in seconds.
double command_seconds(const std::string& cmd, int n) {
    return best_seconds(n, [&] { (void)std::system((cmd + " >/dev/null 2>&1").c_str()); });
}

// The time from entering start-up to the first line of a program's own code,
// as one child process of this program reports it (best of n).
std::chrono::steady_clock::time_point start_up_began;
int report_start_up() {
    std::chrono::duration<double> d = std::chrono::steady_clock::now() - start_up_began;
    std::printf("%.9f\n", d.count());
    return 0;
}

double start_up_seconds(int n) {
    double best = -1;
    for (int k = 0; k < n; ++k) {
        FILE* child = popen((self_path + " --start-up").c_str(), "r");
        if (!child) return -1;
        double s = -1;
        if (std::fscanf(child, "%lf", &s) != 1) s = -1;
        pclose(child);
        if (s >= 0 && (best < 0 || s < best)) best = s;
    }
    return best;
}

int run() {
    std::printf("Tevbin encode and decode (4,000 records of 5 values, rates on each codec's own output)\n");
    if (!tev_run(TEV_DATA)) return 1;
    StackScope scope;
    Cell word = word_from_cstring("data");
    Cell* data = stack_push_copy(word_value_cell(&word));
    double py_enc[2] = {-1, -1}, py_dec[2] = {-1, -1};
    bool have_pickle = python_codec("pickle", &py_enc[0], &py_dec[0]);
    bool have_marshal = python_codec("marshal", &py_enc[1], &py_dec[1]);
    for (bool compact : {true, false}) {
        std::vector<uint8_t> image;
        double enc = best_seconds(7, [&] { tevbin_encode_records(data, 1, compact, false, &image); });
        double dec = decode_seconds(image, TevbinUse::codec);
        std::printf(" %s form: %zu bytes\n", compact ? "compact" : "plain", image.size());
        print_ratio("encode vs pickle", mb_per_s(image.size(), enc), have_pickle ? py_enc[0] : -1, "pickle");
        print_ratio("encode vs marshal", mb_per_s(image.size(), enc), have_marshal ? py_enc[1] : -1, "marshal");
        print_ratio("decode vs pickle", mb_per_s(image.size(), dec), have_pickle ? py_dec[0] : -1, "pickle");
        print_ratio("decode vs marshal", mb_per_s(image.size(), dec), have_marshal ? py_dec[1] : -1, "marshal");
    }

    std::printf("\nThe library at start-up (%zu bytes of boot image)\n", embedded_boot.size);
    std::vector<uint8_t> boot(embedded_boot.data, embedded_boot.data + embedded_boot.size);
    double decode = decode_seconds(boot, TevbinUse::boot);
    // The library cannot be evaluated twice in one process (it removes its
    // private words as it ends), so start-up is timed in fresh processes.
    double start = start_up_seconds(20);
    std::printf("  decode %.3f ms; runtime and library start-up %.3f ms in all\n", decode * 1e3, start * 1e3);

    std::printf("\nStart-up and exit with an empty script\n");
    const char* script = "/tmp/tev-bench-empty.tev";
    if (FILE* f = std::fopen(script, "wb")) {
        std::fputs("Tev []\n", f);
        std::fclose(f);
    }
    double tev_s = command_seconds(std::string(TEV_PROGRAM) + " " + script, 30);
    double py_s = command_seconds(python_program() + " -c pass", 30);
    double lua_s = std::system("command -v lua5.4 >/dev/null 2>&1") == 0 ? command_seconds("lua5.4 -e ''", 30) : -1;
    std::printf("  tev %.2f ms   python3 -c pass %.2f ms   ratio %.2f\n", tev_s * 1e3, py_s * 1e3, tev_s / py_s);
    if (lua_s > 0) std::printf("  tev %.2f ms   lua5.4 -e '' %.2f ms   ratio %.2f\n", tev_s * 1e3, lua_s * 1e3, tev_s / lua_s);
    else std::printf("  (lua5.4 not available)\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    self_path = argv[0];
    if (argc > 1 && std::string(argv[1]) == "--start-up") {
        start_up_began = std::chrono::steady_clock::now();
        return startup_for_tests(argc, argv, &report_start_up);
    }
    return startup_for_tests(argc, argv, &run);
}

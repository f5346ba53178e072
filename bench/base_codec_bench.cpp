// Base 64 and base 16 text encodings (enbase, debase) in MB/s beside Python's base64 and binascii in the same run.
#include <cstdio>
#include <random>
#include <string>
#include "bench/bench_common.h"
#include "datatypes/binary.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

using namespace tev;
using tev::bench::best_seconds;
using tev::bench::python_best_seconds;

namespace {

constexpr uint32_t BYTES = 8u << 20;

void report(const char* what, double ours, double peer, const char* peer_name) {
    double mb = double(BYTES) / 1e6;
    if (peer > 0)
        std::printf("%-20s %8.1f MB/s   %-22s %8.1f MB/s   speed ratio %.2f\n", what, mb / ours, peer_name, mb / peer,
                    peer / ours);
    else
        std::printf("%-20s %8.1f MB/s   (no %s)\n", what, mb / ours, peer_name);
}

void bench_base(int base, const char* encode_peer, const char* decode_peer) {
    StackScope scope;
    std::mt19937 rng(7);
    std::string bytes(BYTES, '\0');
    for (char& b : bytes) b = char(rng());
    Cell* bin = binary_push_memory(bytes.data(), BYTES);
    Cell* text = stack_push();
    double encode = best_seconds(5, [&] { *text = *binary_enbase_push(base, bin); stack_pop(1); });
    double decode = best_seconds(5, [&] {
        if (!binary_debase_push(base, text)) std::printf("decode failed\n");
        stack_pop(1);
    });
    const std::string setup = "import random\nrandom.seed(7)\nb = random.randbytes(" + std::to_string(BYTES) + ")\n";
    const std::string label = "base " + std::to_string(base);
    report((label + " encode").c_str(), encode,
           python_best_seconds("base64, binascii", setup + "t = " + encode_peer + "(b)\nprint(best(lambda: " +
                                                       encode_peer + "(b)))\n"),
           encode_peer);
    report((label + " decode").c_str(), decode,
           python_best_seconds("base64, binascii", setup + "t = " + encode_peer + "(b)\nprint(best(lambda: " +
                                                       decode_peer + "(t)))\n"),
           decode_peer);
}

int run_benchmarks() {
    bench_base(64, "base64.b64encode", "base64.b64decode");
    bench_base(16, "binascii.hexlify", "binascii.unhexlify");
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

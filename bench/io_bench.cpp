// File and process benchmarks: reading and writing a 100 MB file, listing 10,000 files, and the round trip of
// `call`, each beside the same job in Python (open().read()/write(), os.listdir, subprocess.run) in the same run.
#include <cstdio>
#include <string>
#include "bench/bench_tev.h"
#include "os/os.h"
#include "startup/startup.h"

using namespace tev;
using bench::tev_run;

namespace {

constexpr double MB = 1024.0 * 1024.0;

void report_rate(const char* what, double bytes, double ours, double python) {
    std::printf("%-36s %8.0f MB/s", what, bytes / MB / ours);
    if (python > 0) std::printf("   python %8.0f MB/s (x%.2f of its speed)", bytes / MB / python, python / ours);
    std::printf("\n");
}

void report_time(const char* what, double ours, double python) {
    std::printf("%-36s %9.3f ms", what, ours * 1e3);
    if (python > 0) std::printf("   python %9.3f ms (x%.2f)", python * 1e3, ours / python);
    std::printf("\n");
}

int run() {
    const std::string big = "io-bench-100mb.bin";
    const double size = 100 * MB;
    // 100 MB of text: a string of 10 bytes, 10 million times over (kept by the script between runs).
    tev_run("bench-data: append/dup copy \"\" \"0123456789\" 10485760");
    double write_ours = bench::best_seconds_scoped(3, [] { tev_run("write %io-bench-100mb.bin bench-data"); });
    double write_py = bench::python_best_seconds(
        "", "d = b\"0123456789\" * 10485760\n"
            "def w():\n    with open(\"io-bench-100mb.bin\", \"wb\") as f: f.write(d)\n"
            "print(best(w))");
    report_rate("write 100 MB", size, write_ours, write_py);
    double read_bin = bench::best_seconds_scoped(3, [] { tev_run("read/binary %io-bench-100mb.bin"); });
    double read_py = bench::python_best_seconds(
        "", "def r():\n    with open(\"io-bench-100mb.bin\", \"rb\") as f: f.read()\n"
            "print(best(r))");
    report_rate("read/binary 100 MB", size, read_bin, read_py);
    double read_text = bench::best_seconds_scoped(3, [] { tev_run("read %io-bench-100mb.bin"); });
    double read_text_py = bench::python_best_seconds(
        "", "def r():\n    with open(\"io-bench-100mb.bin\", encoding=\"utf-8\") as f: f.read()\n"
            "print(best(r))");
    report_rate("read (UTF-8 text) 100 MB", size, read_text, read_text_py);
    os::delete_path(big);
    tev_run("bench-data: none");

    // A folder of 10,000 empty files.
    const std::string dir = "io-bench-dir";
    os::make_dir(dir);
    for (int i = 0; i < 10000; ++i) {
        os::FileHandle h = os::file_open(dir + "/f" + std::to_string(i), os::FILE_WRITE);
        if (h != os::NO_FILE) os::file_close(h);
    }
    double list_ours = bench::best_seconds_scoped(5, [] { tev_run("read %io-bench-dir/"); });
    double list_py = bench::python_best_seconds("os", "print(best(lambda: os.listdir(\"io-bench-dir\")))");
    report_time("list 10,000 files", list_ours, list_py);
    for (int i = 0; i < 10000; ++i) os::delete_path(dir + "/f" + std::to_string(i));
    os::delete_path(dir);

    // `call` goes through the shell: Python's peer does too.
    double call_ours = bench::best_seconds_scoped(5, [] { tev_run("loop 20 [call/wait \"true\"]"); }) / 20;
    double call_py = bench::python_best_seconds(
        "subprocess", "print(best(lambda: [subprocess.run(\"true\", shell=True) for _ in range(20)]) / 20)");
    report_time("call/wait \"true\" round trip", call_ours, call_py);
    double capture_ours =
        bench::best_seconds_scoped(5, [] { tev_run("loop 20 [call/output \"echo hi\" copy {}]"); }) / 20;
    double capture_py = bench::python_best_seconds(
        "subprocess",
        "print(best(lambda: [subprocess.run(\"echo hi\", shell=True, capture_output=True) for _ in range(20)]) / 20)");
    report_time("call/output \"echo hi\" round trip", capture_ours, capture_py);
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return startup_for_tests(argc, argv, &run); }

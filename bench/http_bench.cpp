// HTTP download throughput from a local server: read/binary of a 64 MB body beside Python's urllib in the same run.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

constexpr double MB = 1024.0 * 1024.0;
constexpr int BODY = 64 << 20;

const char* server_source = R"(import http.server, os, sys, threading, time
body = b"0123456789abcdef" * (int(sys.argv[2]) // 16)
class H(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, *a): pass
    def do_GET(self):
        if self.path == "/quit":
            self.send_response(200); self.send_header("Content-Length", "0"); self.end_headers()
            threading.Thread(target=self.server.shutdown).start()
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
srv = http.server.ThreadingHTTPServer(("127.0.0.1", 0), H)
with open(sys.argv[1] + ".tmp", "w") as f: f.write(str(srv.server_address[1]))
os.replace(sys.argv[1] + ".tmp", sys.argv[1])
srv.serve_forever()
)";

int start_server() {
    std::ofstream("http-bench-server.py") << server_source;
    std::remove("http-bench-port.txt");
    std::string cmd = "python3 http-bench-server.py http-bench-port.txt " + std::to_string(BODY) + " &";
    if (std::system(cmd.c_str()) != 0) return 0;
    for (int i = 0; i < 600; ++i) {
        std::ifstream in("http-bench-port.txt");
        int port = 0;
        if (in >> port) return port;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

int run() {
    int port = start_server();
    if (!port) {
        std::printf("no local server (python3 missing?)\n");
        return 1;
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port);
    const std::string fetch = "read/binary " + url + "/data";
    double ours = bench::best_seconds_scoped(5, [&] { bench::tev_run(fetch.c_str()); });
    double python = bench::python_best_seconds(
        "urllib.request", "print(best(lambda: urllib.request.urlopen(\"" + url + "/data\").read()))");
    std::printf("%-36s %8.0f MB/s", "read/binary of a 64 MB body", BODY / MB / ours);
    if (python > 0) std::printf("   python urllib %8.0f MB/s (x%.2f of its speed)", BODY / MB / python, python / ours);
    std::printf("\n");
    bench::tev_run(("read " + url + "/quit").c_str());
    std::remove("http-bench-port.txt");
    std::remove("http-bench-server.py");
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run); }

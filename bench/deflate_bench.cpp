// Compression and checksum throughput beside Python's zlib and hashlib in the same run:
// inflate of zlib-made streams (text and binary corpora), our deflate's speed and
// ratio, and CRC-32, Adler-32 and the digests, each with the time ratio (ours / peer).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include <dirent.h>
#include "bench/bench_common.h"
#include "interpreter/checksum.h"
#include "io/deflate.h"

using namespace tev;
using tev::bench::best_seconds;
using tev::bench::python_best_seconds;

namespace {

std::string read_file(const std::string& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

void write_file(const std::string& path, const std::string& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// Text: this repository's C++ sources, concatenated (real code and comments).
std::string text_corpus() {
    std::string root = __FILE__;
    root = root.substr(0, root.rfind('/')) + "/..";
    std::string text;
    for (const char* dir : {"/runtime/", "/datatypes/", "/interpreter/", "/loader/", "/io/", "/tests/datatypes/"}) {
        DIR* d = opendir((root + dir).c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && (name.ends_with(".cpp") || name.ends_with(".h"))) names.push_back(name);
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) text += read_file(root + dir + name);
    }
    return text;
}

const uint8_t* bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

void ratio_line(double ours, double peer) {
    if (peer > 0) std::printf("   ratio %.2f\n", ours / peer);
    else std::printf("   (no python3)\n");
}

void bench_inflate(const char* what, const std::string& data) {
    std::string raw = "/tmp/tev_deflate_bench_" + std::string(what);
    write_file(raw, data);
    // Python makes the stream (level 6, dynamic blocks) and times its own inflate of it.
    double peer = python_best_seconds("zlib",
        "d = open(\"" + raw + "\", \"rb\").read()\n"
        "z = zlib.compress(d, 6)\n"
        "open(\"" + raw + ".z\", \"wb\").write(z)\n"
        "print(best(lambda: zlib.decompress(z)))\n");
    std::string z = read_file(raw + ".z");
    if (z.empty()) {
        std::printf("inflate %-8s no zlib stream (python3 missing)\n", what);
        return;
    }
    size_t out_size = 0;
    double ours = best_seconds(5, [&] {
        ByteBuffer out(size_t(1) << 31);
        if (decompress_bytes(CompressMethod::zlib, bytes(z), z.size(), out) != COMPRESS_OK || out.size() != data.size()) {
            std::printf("inflate failed\n");
            std::exit(1);
        }
        out_size = out.size();
    });
    double mb = double(out_size) / 1e6;
    std::printf("inflate %-8s %6.2f MB out  %7.1f MB/s", what, mb, mb / ours);
    if (peer > 0) std::printf("   zlib %7.1f MB/s", mb / peer);
    ratio_line(ours, peer);
}

void bench_deflate(const char* what, const std::string& data) {
    std::string raw = "/tmp/tev_deflate_bench_" + std::string(what);
    write_file(raw, data);
    size_t packed = 0;
    double ours = best_seconds(3, [&] {
        ByteBuffer out(size_t(1) << 31);
        compress_bytes(CompressMethod::zlib, bytes(data), data.size(), out);
        packed = out.size();
    });
    double mb = double(data.size()) / 1e6;
    std::printf("deflate %-8s %6.2f MB in   %7.1f MB/s  ratio %.3f\n", what, mb, mb / ours,
                double(packed) / double(data.size()));
    for (int level : {1, 6}) {
        double peer = python_best_seconds("zlib",
            "d = open(\"" + raw + "\", \"rb\").read()\n"
            "print(best(lambda: zlib.compress(d, " + std::to_string(level) + ")))\n");
        double peer_ratio = -1;
        {
            std::string cmd = "python3 -c 'import zlib; d=open(\"" + raw + "\",\"rb\").read(); print(len(zlib.compress(d," +
                              std::to_string(level) + "))/len(d))' 2>/dev/null";
            FILE* p = popen(cmd.c_str(), "r");
            if (p) {
                if (std::fscanf(p, "%lf", &peer_ratio) != 1) peer_ratio = -1;
                pclose(p);
            }
        }
        if (peer > 0)
            std::printf("        zlib level %d      %7.1f MB/s  ratio %.3f   time ratio %.2f\n", level, mb / peer,
                        peer_ratio, ours / peer);
    }
}

void bench_checksums() {
    std::string data(size_t(16) << 20, '\0');
    std::mt19937 rng(12345);
    for (auto& ch : data) ch = char(rng());
    std::string raw = "/tmp/tev_deflate_bench_random";
    write_file(raw, data);
    double mb = double(data.size()) / 1e6;
    struct Row { const char* name; const char* peer; int method; };
    const Row rows[] = {
        {"crc32", "zlib.crc32(d)", -1},           {"adler32", "zlib.adler32(d)", -2},
        {"md5", "hashlib.md5(d).digest()", DIGEST_MD5},          {"sha1", "hashlib.sha1(d).digest()", DIGEST_SHA1},
        {"sha256", "hashlib.sha256(d).digest()", DIGEST_SHA256}, {"sha384", "hashlib.sha384(d).digest()", DIGEST_SHA384},
        {"sha512", "hashlib.sha512(d).digest()", DIGEST_SHA512},
    };
    volatile uint32_t sink = 0;
    for (const Row& row : rows) {
        double ours = best_seconds(5, [&] {
            if (row.method == -1) sink = sink + checksum_crc32(bytes(data), data.size());
            else if (row.method == -2) sink = sink + checksum_adler32(bytes(data), data.size());
            else {
                uint8_t out[DIGEST_MAX_LENGTH];
                digest_bytes(row.method, bytes(data), data.size(), out);
                sink = sink + out[0];
            }
        });
        double peer = python_best_seconds("zlib, hashlib",
            "d = open(\"" + raw + "\", \"rb\").read()\n"
            "print(best(lambda: " + row.peer + "))\n");
        std::printf("%-8s %7.1f MB/s", row.name, mb / ours);
        if (peer > 0) std::printf("   python %7.1f MB/s", mb / peer);
        ratio_line(ours, peer);
    }
}

}  // namespace

int main() {
    std::string text = text_corpus();
    std::string binary = read_file("/proc/self/exe");  // machine code, tables and symbols
    std::printf("time ratio = our time / peer time (below 1: we are faster)\n");
    bench_inflate("text", text);
    bench_inflate("binary", binary);
    bench_deflate("text", text);
    bench_deflate("binary", binary);
    bench_checksums();
    return 0;
}

// Interoperability with Python's zlib and gzip modules: their streams (every level,
// Huffman-only and stored) decode here, and ours decode there. Skipped where
// there is no python3 (the Windows build under Wine, a machine without it).
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>
#include "io/deflate.h"

using namespace tev;

#ifndef _WIN32
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::string read_all(const std::string& path) {
    std::string s;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    return s;
}

void write_all(const std::string& path, const void* data, size_t n) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (n) std::fwrite(data, 1, n, f);
    std::fclose(f);
}

// Runs a Python program; its standard output, or nothing when it failed.
bool python(const std::string& program, std::string* output) {
    std::string cmd = "python3 -c '" + program + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char buf[4096];
    size_t n;
    output->clear();
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
    return pclose(p) == 0;
}

bool have_python() {
    static const bool found = [] {
        std::string out;
        return python("import zlib, gzip", &out);
    }();
    return found;
}

struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/tev_deflate_py_XXXXXX";
        if (mkdtemp(name)) path = name;
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
};

std::vector<Bytes> inputs() {
    std::mt19937 rng(99);
    Bytes random(300000);  // past the window and over several blocks
    for (auto& b : random) b = uint8_t(rng());
    Bytes text;
    while (text.size() < 400000) {
        std::string line = "record " + std::to_string(rng() % 5000) + " of the interop corpus, field=" +
                           std::to_string(rng() % 97) + "\n";
        text.insert(text.end(), line.begin(), line.end());
    }
    return {{}, {'x'}, random, text, Bytes(70000, 0x1F)};
}

}  // namespace

TEST(DeflatePython, TheirStreamsDecodeHere) {
    if (!have_python()) GTEST_SKIP() << "python3 with zlib and gzip is not available";
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    auto data = inputs();
    for (size_t i = 0; i < data.size(); ++i) write_all(dir.path + "/in" + std::to_string(i), data[i].data(), data[i].size());
    // Levels 0 (stored), 1, 6 and 9; Huffman-only; raw streams; gzip with a file name.
    std::string out;
    ASSERT_TRUE(python("import zlib, gzip\n"
                       "def raw(d, level, strategy=zlib.Z_DEFAULT_STRATEGY):\n"
                       "    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)\n"
                       "    return c.compress(d) + c.flush()\n"
                       "for i in range(" + std::to_string(data.size()) + "):\n"
                       "    p = \"" + dir.path + "/in%d\" % i\n"
                       "    d = open(p, \"rb\").read()\n"
                       "    for level in (0, 1, 6, 9):\n"
                       "        open(p + \".z%d\" % level, \"wb\").write(zlib.compress(d, level))\n"
                       "        open(p + \".raw%d\" % level, \"wb\").write(raw(d, level))\n"
                       "    open(p + \".huff\", \"wb\").write(raw(d, 6, zlib.Z_HUFFMAN_ONLY))\n"
                       "    open(p + \".gz\", \"wb\").write(gzip.compress(d))\n"
                       "    with gzip.GzipFile(\"name.txt\", \"wb\", fileobj=open(p + \".gzname\", \"wb\")) as g: g.write(d)\n",
                       &out))
        << out;
    for (size_t i = 0; i < data.size(); ++i) {
        std::string in = dir.path + "/in" + std::to_string(i);
        struct Stream { const char* suffix; CompressMethod method; };
        const Stream streams[] = {
            {".z0", CompressMethod::zlib},      {".z1", CompressMethod::zlib},      {".z6", CompressMethod::zlib},
            {".z9", CompressMethod::zlib},      {".raw0", CompressMethod::deflate}, {".raw1", CompressMethod::deflate},
            {".raw6", CompressMethod::deflate}, {".raw9", CompressMethod::deflate}, {".huff", CompressMethod::deflate},
            {".gz", CompressMethod::gzip},      {".gzname", CompressMethod::gzip},
        };
        for (const Stream& s : streams) {
            std::string packed = read_all(in + s.suffix);
            ByteBuffer buf(0x7FFFFFF0);
            ASSERT_EQ(decompress_bytes(s.method, reinterpret_cast<const uint8_t*>(packed.data()), packed.size(), buf),
                      COMPRESS_OK)
                << "input " << i << s.suffix;
            EXPECT_TRUE(Bytes(buf.data(), buf.data() + buf.size()) == data[i]) << "input " << i << s.suffix;
        }
    }
}

TEST(DeflatePython, OurStreamsDecodeThere) {
    if (!have_python()) GTEST_SKIP() << "python3 with zlib and gzip is not available";
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    auto data = inputs();
    for (size_t i = 0; i < data.size(); ++i) {
        std::string in = dir.path + "/in" + std::to_string(i);
        write_all(in, data[i].data(), data[i].size());
        const struct { const char* suffix; CompressMethod method; } streams[] = {
            {".z", CompressMethod::zlib}, {".raw", CompressMethod::deflate}, {".gz", CompressMethod::gzip}};
        for (const auto& s : streams) {
            ByteBuffer buf(0x7FFFFFF0);
            ASSERT_EQ(compress_bytes(s.method, data[i].data(), data[i].size(), buf), COMPRESS_OK);
            write_all(in + s.suffix, buf.data(), buf.size());
        }
    }
    std::string out;
    ASSERT_TRUE(python("import zlib, gzip\n"
                       "for i in range(" + std::to_string(data.size()) + "):\n"
                       "    p = \"" + dir.path + "/in%d\" % i\n"
                       "    d = open(p, \"rb\").read()\n"
                       "    assert zlib.decompress(open(p + \".z\", \"rb\").read()) == d, \"zlib %d\" % i\n"
                       "    assert zlib.decompress(open(p + \".raw\", \"rb\").read(), -15) == d, \"raw %d\" % i\n"
                       "    assert gzip.decompress(open(p + \".gz\", \"rb\").read()) == d, \"gzip %d\" % i\n"
                       "print(\"ok\")\n",
                       &out))
        << out;
    EXPECT_EQ(out, "ok\n");
}

#else

TEST(DeflatePython, TheirStreamsDecodeHere) { GTEST_SKIP() << "no python3 beside the Windows build"; }

#endif

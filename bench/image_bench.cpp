// PNG decode and encode of a 4000x3000 image beside Python's imaging library in
// the same run (the same file, the same pixels), in MB/s of pixel data, with
// the time ratio (ours / peer). Also JPEG both ways, which the peer does too.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <unistd.h>
#include "bench/bench_common.h"
#include "os/image.h"

using namespace tev;
using tev::bench::best_seconds;

namespace {

constexpr uint32_t W = 4000, H = 3000;

// A photograph's kind of content: smooth gradients, some texture, opaque.
os::Bitmap* sample_image() {
    os::Bitmap* b = nullptr;
    if (os::bitmap_create(W, H, &b) != os::ImageStatus::ok) return nullptr;
    os::PixelLock lock;
    os::bitmap_lock(b, W, H, true, &lock);
    uint32_t noise = 12345;
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            noise = noise * 1103515245u + 12345u;
            uint32_t n = (noise >> 16) & 7;
            uint32_t r = (x * 255 / W + n) & 0xFF, g = (y * 255 / H + n) & 0xFF;
            uint32_t bl = uint32_t(128 + 100 * std::sin(double(x + y) / 200.0)) & 0xFF;
            lock.pixels[size_t(y) * lock.stride + x] = 0xFF000000u | r << 16 | g << 8 | bl;
        }
    os::bitmap_unlock(b, &lock);
    return b;
}

void write_file(const std::string& path, const std::vector<uint8_t>& data) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// The peer: the first Python on hand that has the imaging library; -1 without one.
double peer_seconds(const std::string& body) {
    for (const char* python : {"python3", "/usr/bin/python3"}) {
        std::string cmd = std::string(python) +
                          " -c 'import time, io\nfrom PIL import Image\n"
                          "def best(f):\n"
                          "    b = 1e30\n"
                          "    for _ in range(3):\n"
                          "        t = time.perf_counter(); f(); b = min(b, time.perf_counter() - t)\n"
                          "    return b\n" + body + "' 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        if (!p) continue;
        double secs = -1;
        if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
        pclose(p);
        if (secs > 0) return secs;
    }
    return -1;
}

void report(const char* what, double ours, double peer) {
    double mb = double(W) * H * 4 / 1e6;
    if (peer > 0)
        std::printf("%-12s ours %7.1f MB/s   peer %7.1f MB/s   time ratio %.2f\n", what, mb / ours, mb / peer, ours / peer);
    else
        std::printf("%-12s ours %7.1f MB/s   (no Python imaging library to compare)\n", what, mb / ours);
}

}  // namespace

int main() {
    os::Bitmap* image = sample_image();
    if (!image) {
        std::fprintf(stderr, "image_bench: cannot make the sample image\n");
        return 1;
    }
    std::string dir = "/tmp/tev-image-bench-" + std::to_string(getpid());
    std::string cmd = "mkdir -p " + dir;
    if (std::system(cmd.c_str()) != 0) return 1;
    std::printf("%ux%u pixels, %.0f MB of pixel data; best of 3 runs each\n", W, H, double(W) * H * 4 / 1e6);
    for (int format : {os::IMAGE_PNG, os::IMAGE_JPEG}) {
        const char* name = format == os::IMAGE_PNG ? "PNG" : "JPEG";
        std::vector<uint8_t> encoded;
        double encode = best_seconds(3, [&] { os::bitmap_encode(image, W, H, format, &encoded); });
        std::string path = dir + "/sample." + (format == os::IMAGE_PNG ? "png" : "jpg");
        write_file(path, encoded);
        double decode = best_seconds(3, [&] {
            os::Bitmap* b = nullptr;
            uint32_t w, h;
            if (os::bitmap_decode(encoded.data(), encoded.size(), &b, &w, &h) == os::ImageStatus::ok) os::bitmap_release(b);
        });
        std::string load = "data = open(\"" + path + "\", \"rb\").read()\n";
        double peer_decode = peer_seconds(load + "print(best(lambda: Image.open(io.BytesIO(data)).load()))\n");
        double peer_encode = peer_seconds(load + "im = Image.open(io.BytesIO(data)).convert(\"RGBA\" if \"" + name +
                                          "\" == \"PNG\" else \"RGB\")\n"
                                          "print(best(lambda: im.save(io.BytesIO(), \"" + name + "\")))\n");
        std::printf("%s file: %zu bytes\n", name, encoded.size());
        report((std::string(name) + " decode").c_str(), decode, peer_decode);
        report((std::string(name) + " encode").c_str(), encode, peer_encode);
    }
    os::bitmap_release(image);
    cmd = "rm -rf " + dir;
    return std::system(cmd.c_str()) == 0 ? 0 : 1;
}

// libFuzzer target: image decoding from memory (PNG, JPEG, GIF, TIFF, BMP by
// their first bytes). Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// Whatever decodes must encode as PNG and decode back to the very same pixels;
// whatever does not must say why without touching memory it does not own.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>
#include "os/image.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev::os;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small images keep each run quick; the limit is checked before allocation.
    image_set_area_limit(uint64_t(1) << 22);
    Bitmap* bitmap = nullptr;
    uint32_t w = 0, h = 0;
    if (bitmap_decode(data, size, &bitmap, &w, &h) != ImageStatus::ok) {
        if (bitmap) tev::fuzz::finding("a refused image left a bitmap");
        return 0;
    }
    if (!bitmap || w == 0 || h == 0 || w > IMAGE_SIDE_MAX || h > IMAGE_SIDE_MAX)
        tev::fuzz::finding("decoded a %ux%u image", w, h);
    std::vector<uint8_t> png;
    if (!bitmap_encode(bitmap, w, h, IMAGE_PNG, &png)) tev::fuzz::finding("the decoded image does not encode");
    Bitmap* again = nullptr;
    uint32_t w2 = 0, h2 = 0;
    if (bitmap_decode(png.data(), png.size(), &again, &w2, &h2) != ImageStatus::ok || w2 != w || h2 != h)
        tev::fuzz::finding("the PNG written does not decode to the same size");
    PixelLock a, b;
    if (!bitmap_lock(bitmap, w, h, false, &a) || !bitmap_lock(again, w, h, false, &b))
        tev::fuzz::finding("the pixels cannot be read");
    for (uint32_t y = 0; y < h; ++y)
        if (std::memcmp(a.pixels + size_t(y) * a.stride, b.pixels + size_t(y) * b.stride, size_t(w) * 4) != 0)
            tev::fuzz::finding("row %u changed through PNG", y);
    bitmap_unlock(bitmap, &a);
    bitmap_unlock(again, &b);
    bitmap_release(again);
    bitmap_release(bitmap);
    return 0;
}

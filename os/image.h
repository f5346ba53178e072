// Pixel bitmaps and the image file codecs, as the system provides them.
//
// A bitmap holds straight (not premultiplied) 32-bit BGRA pixels: the word
// A << 24 | R << 16 | G << 8 | B, A 255 opaque. The image store of image!
// values keeps one bitmap per store in the handle table; everything it needs
// of the platform goes through here. The host side keeps plain pixel memory
// and the codecs of the system's image libraries; the Windows side keeps
// imaging-component bitmaps and encodes and decodes through that component.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tev::os {

struct Bitmap;

// A side must fit the 16 bits the image! cell gives it.
constexpr uint32_t IMAGE_SIDE_MAX = 65535;

enum class ImageStatus {
    ok,
    bad_data,    // not an image the codecs can read
    too_large,   // a side above IMAGE_SIDE_MAX
    no_memory,   // the pixels would not fit in memory (or above the area limit)
    no_system,   // the imaging service of the system is missing
};

// Encoder format codes, as the codec objects pass them.
enum ImageFormat : int { IMAGE_BMP = 0, IMAGE_PNG = 1, IMAGE_GIF = 2, IMAGE_JPEG = 3, IMAGE_TIFF = 4 };

// Pixels a decoder may allocate for one image; a larger one is no_memory
// before any allocation. The fuzz target lowers it to keep each run quick.
void image_set_area_limit(uint64_t pixels);

// A new width × height bitmap (both at least 1); its pixels are unspecified
// until written through a write lock.
ImageStatus bitmap_create(uint32_t width, uint32_t height, Bitmap** out);
void bitmap_release(Bitmap* bitmap);

// The pixels of the whole bitmap, row-major; stride in pixels. A write lock
// tells the bitmap its pixels changed. False when the system refuses.
struct PixelLock {
    uint32_t* pixels = nullptr;
    uint32_t stride = 0;
    void* token = nullptr;
};
bool bitmap_lock(Bitmap* bitmap, uint32_t width, uint32_t height, bool write, PixelLock* lock);
void bitmap_unlock(Bitmap* bitmap, PixelLock* lock);

// The first frame of an encoded image (BMP, PNG, JPEG, GIF, TIFF), from
// memory or from a file (the system's own path).
ImageStatus bitmap_decode(const uint8_t* data, size_t size, Bitmap** out, uint32_t* width, uint32_t* height);
ImageStatus bitmap_load_file(const std::string& path, Bitmap** out, uint32_t* width, uint32_t* height);

// Encodes the bitmap (width × height, both at least 1) in a format of
// ImageFormat with the codec's default options. False on any failure.
bool bitmap_encode(Bitmap* bitmap, uint32_t width, uint32_t height, int format, std::vector<uint8_t>* out);

// A new bitmap holding the rectangle (x, y, w, h), which lies inside the source.
ImageStatus bitmap_copy_rect(Bitmap* source, uint32_t x, uint32_t y, uint32_t w, uint32_t h, Bitmap** out);

}  // namespace tev::os

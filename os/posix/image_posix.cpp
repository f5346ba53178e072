// Host bitmaps: plain pixel memory, and the codec chosen by the data's first bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "os/image.h"
#include "os/posix/image_codecs.h"

namespace tev::os {

namespace {

uint64_t area_limit = uint64_t(1) << 28;   // 1 GB of pixels

bool starts_with(const uint8_t* data, size_t size, const char* sig, size_t n) {
    return size >= n && std::memcmp(data, sig, n) == 0;
}

}  // namespace

void image_set_area_limit(uint64_t pixels) { area_limit = pixels; }

ImageStatus host_bitmap_new(uint32_t width, uint32_t height, Bitmap** out) {
    *out = nullptr;
    if (width == 0 || height == 0) return ImageStatus::bad_data;
    if (width > IMAGE_SIDE_MAX || height > IMAGE_SIDE_MAX) return ImageStatus::too_large;
    uint64_t area = uint64_t(width) * height;
    if (area > area_limit) return ImageStatus::no_memory;
    auto* b = static_cast<Bitmap*>(std::malloc(sizeof(Bitmap)));
    if (!b) return ImageStatus::no_memory;
    b->pixels = static_cast<uint32_t*>(std::malloc(size_t(area) * 4));
    if (!b->pixels) {
        std::free(b);
        return ImageStatus::no_memory;
    }
    b->width = width;
    b->height = height;
    *out = b;
    return ImageStatus::ok;
}

ImageStatus bitmap_create(uint32_t width, uint32_t height, Bitmap** out) { return host_bitmap_new(width, height, out); }

void bitmap_release(Bitmap* bitmap) {
    if (!bitmap) return;
    std::free(bitmap->pixels);
    std::free(bitmap);
}

bool bitmap_lock(Bitmap* bitmap, uint32_t width, uint32_t height, bool, PixelLock* lock) {
    if (!bitmap || width > bitmap->width || height > bitmap->height) return false;
    lock->pixels = bitmap->pixels;
    lock->stride = bitmap->width;
    lock->token = bitmap;
    return true;
}

void bitmap_unlock(Bitmap*, PixelLock* lock) { *lock = PixelLock{}; }

ImageStatus bitmap_decode(const uint8_t* data, size_t size, Bitmap** out, uint32_t* width, uint32_t* height) {
    *out = nullptr;
    ImageStatus status = ImageStatus::bad_data;
    if (starts_with(data, size, "\x89PNG", 4)) status = decode_png(data, size, out);
    else if (starts_with(data, size, "\xFF\xD8\xFF", 3)) status = decode_jpeg(data, size, out);
    else if (starts_with(data, size, "GIF87a", 6) || starts_with(data, size, "GIF89a", 6)) status = decode_gif(data, size, out);
    else if (starts_with(data, size, "II*\0", 4) || starts_with(data, size, "MM\0*", 4)) status = decode_tiff(data, size, out);
    else if (starts_with(data, size, "BM", 2)) status = decode_bmp(data, size, out);
    if (status != ImageStatus::ok) return status;
    *width = (*out)->width;
    *height = (*out)->height;
    return ImageStatus::ok;
}

ImageStatus bitmap_load_file(const std::string& path, Bitmap** out, uint32_t* width, uint32_t* height) {
    *out = nullptr;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return ImageStatus::bad_data;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return ImageStatus::bad_data;
    return bitmap_decode(bytes.data(), bytes.size(), out, width, height);
}

bool bitmap_encode(Bitmap* bitmap, uint32_t width, uint32_t height, int format, std::vector<uint8_t>* out) {
    if (!bitmap || width != bitmap->width || height != bitmap->height) return false;
    out->clear();
    switch (format) {
    case IMAGE_BMP: return encode_bmp(bitmap, out);
    case IMAGE_PNG: return encode_png(bitmap, out);
    case IMAGE_GIF: return encode_gif(bitmap, out);
    case IMAGE_JPEG: return encode_jpeg(bitmap, out);
    case IMAGE_TIFF: return encode_tiff(bitmap, out);
    default: return false;
    }
}

ImageStatus bitmap_copy_rect(Bitmap* source, uint32_t x, uint32_t y, uint32_t w, uint32_t h, Bitmap** out) {
    *out = nullptr;
    if (!source || x + uint64_t(w) > source->width || y + uint64_t(h) > source->height) return ImageStatus::bad_data;
    ImageStatus status = host_bitmap_new(w, h, out);
    if (status != ImageStatus::ok) return status;
    for (uint32_t row = 0; row < h; ++row)
        std::memcpy((*out)->pixels + size_t(row) * w, source->pixels + size_t(y + row) * source->width + x, size_t(w) * 4);
    return ImageStatus::ok;
}

}  // namespace tev::os

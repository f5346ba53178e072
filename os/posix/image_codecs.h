// The host's image codecs over plain BGRA pixel memory (os/posix only).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "os/image.h"

namespace tev::os {

struct Bitmap {
    uint32_t width, height;
    uint32_t* pixels;   // width × height words, row-major, no padding
};

// A bitmap of that size, after the side and area checks every decoder makes
// before it allocates anything for the pixels.
ImageStatus host_bitmap_new(uint32_t width, uint32_t height, Bitmap** out);

// Each decoder reads the whole input and answers a new bitmap or why not.
ImageStatus decode_png(const uint8_t* data, size_t size, Bitmap** out);
ImageStatus decode_jpeg(const uint8_t* data, size_t size, Bitmap** out);
ImageStatus decode_gif(const uint8_t* data, size_t size, Bitmap** out);
ImageStatus decode_tiff(const uint8_t* data, size_t size, Bitmap** out);
ImageStatus decode_bmp(const uint8_t* data, size_t size, Bitmap** out);

bool encode_png(const Bitmap* b, std::vector<uint8_t>* out);
bool encode_jpeg(const Bitmap* b, std::vector<uint8_t>* out);
bool encode_gif(const Bitmap* b, std::vector<uint8_t>* out);
bool encode_tiff(const Bitmap* b, std::vector<uint8_t>* out);
bool encode_bmp(const Bitmap* b, std::vector<uint8_t>* out);

}  // namespace tev::os

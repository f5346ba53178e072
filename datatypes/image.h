// image!: a series of pixels over a pixel store.
//
// Cell: word 1 the head (a pixel position, row-major from the first pixel),
// word 2 the node of the store's record, word 3 the size (width in bits 0-15,
// height in bits 16-31). The record is a small byte series holding the size
// and the handle-table slot of the platform bitmap (os/image.h), or -1 when
// the image has no pixels; copying the cell shares the store. A picked pixel
// is the tuple R.G.B.T with T = 255 - alpha.
#pragma once
#include <cstdint>
#include <string>
#include "os/image.h"
#include "runtime/cell.h"

namespace tev {

inline uint32_t image_width(const Cell* img) { return img->w3 & 0xFFFF; }
inline uint32_t image_height(const Cell* img) { return img->w3 >> 16; }
inline uint32_t image_pixel_count(const Cell* img) { return image_width(img) * image_height(img); }

// Wraps a platform bitmap of that size in a new store; out (on the stack)
// becomes the image at head 0. A null bitmap makes an image without pixels.
// The store owns the bitmap from here on, even when this raises.
void image_make_cell(Cell* out, os::Bitmap* bitmap, uint32_t width, uint32_t height);
Cell* image_push(os::Bitmap* bitmap, uint32_t width, uint32_t height);
// A new image of that size filled with one pixel word (pushed).
Cell* image_push_filled(uint32_t width, uint32_t height, uint32_t pixel);
// The bitmap of an image's store, or null when it has no pixels.
os::Bitmap* image_bitmap(const Cell* img);

// The pixel at a position counted from the first pixel, as a tuple; none at or past the tail.
void image_pixel_at(const Cell* img, uint32_t position, Cell* out);

// The codecs' entries: format codes of os::ImageFormat. encode gives a new
// binary! in *out; decode takes a binary! (none when no known signature) or a
// file!, and writes the image (or none) into *out.
void image_encode(const Cell* img, Cell* out, int format);
void image_decode(const Cell* data, Cell* out);
// The first frame of an image file (os_path: the file's system form); a file
// that cannot be read or decoded raises cannot-open with the file.
void image_load_file(const Cell* file, const std::string& os_path, Cell* out);
// True when the binary's bytes from its index start like a BMP, PNG, JPEG, GIF or TIFF file.
bool image_binary_has_signature(const uint8_t* bytes, uint32_t length);

}  // namespace tev

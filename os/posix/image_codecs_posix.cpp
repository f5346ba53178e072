// The host's image codecs: the system libraries for PNG, JPEG, GIF and TIFF,
// and the single-header image library for BMP, all over memory.
//
// The libraries report errors by long jumps or error codes; every path
// releases what it took and answers a status. Sides and areas are checked
// against the store's limits before the pixels are allocated, so a small
// input cannot ask for gigabytes.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <unordered_map>
#include <gif_lib.h>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include "os/posix/image_codecs.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_THREAD_LOCALS
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace tev::os {

namespace {

// The pixel word from its four components.
inline uint32_t bgra(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return a << 24 | r << 16 | g << 8 | b; }
inline uint8_t red(uint32_t p) { return uint8_t(p >> 16); }
inline uint8_t green(uint32_t p) { return uint8_t(p >> 8); }
inline uint8_t blue(uint32_t p) { return uint8_t(p); }
inline uint8_t alpha(uint32_t p) { return uint8_t(p >> 24); }

void release_on_failure(Bitmap* b) { bitmap_release(b); }

// ------------------------------------------------------------------ PNG

struct MemoryReader {
    const uint8_t* data;
    size_t size, pos;
};

void png_read_memory(png_structp png, png_bytep out, png_size_t n) {
    auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
    if (n > r->size - r->pos) png_error(png, "truncated");
    std::memcpy(out, r->data + r->pos, n);
    r->pos += n;
}

void png_write_memory(png_structp png, png_bytep in, png_size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), in, in + n);
}

void png_flush_memory(png_structp) {}
void png_fail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void png_quiet(png_structp, png_const_charp) {}

}  // namespace

ImageStatus decode_png(const uint8_t* data, size_t size, Bitmap** out) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return ImageStatus::no_memory;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return ImageStatus::no_memory;
    }
    MemoryReader reader{data, size, 0};
    Bitmap* volatile bitmap = nullptr;
    png_bytep* volatile rows = nullptr;
    volatile ImageStatus status = ImageStatus::bad_data;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::free(rows);
        release_on_failure(bitmap);
        return status;
    }
    png_set_read_fn(png, &reader, png_read_memory);
    png_read_info(png, info);
    uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    Bitmap* made = nullptr;
    ImageStatus made_status = host_bitmap_new(w, h, &made);
    if (made_status != ImageStatus::ok) {
        status = made_status;
        png_longjmp(png, 1);
    }
    bitmap = made;
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(w) * 4) png_longjmp(png, 1);
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * h));
    if (!rows) {
        status = ImageStatus::no_memory;
        png_longjmp(png, 1);
    }
    for (uint32_t y = 0; y < h; ++y) rows[y] = reinterpret_cast<png_bytep>(made->pixels + size_t(y) * w);
    png_read_image(png, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    std::free(rows);
    *out = made;
    return ImageStatus::ok;
}

bool encode_png(const Bitmap* b, std::vector<uint8_t>* out) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_fail, png_quiet);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    png_bytep* volatile rows = nullptr;
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::free(rows);
        return false;
    }
    png_set_write_fn(png, out, png_write_memory, png_flush_memory);
    png_set_IHDR(png, info, b->width, b->height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_bgr(png);
    rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * b->height));
    if (!rows) png_longjmp(png, 1);
    for (uint32_t y = 0; y < b->height; ++y) rows[y] = reinterpret_cast<png_bytep>(b->pixels + size_t(y) * b->width);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::free(rows);
    return true;
}

// ------------------------------------------------------------------ JPEG

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void jpeg_fail(j_common_ptr c) { longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); }
void jpeg_quiet_message(j_common_ptr, int) {}
void jpeg_quiet_output(j_common_ptr) {}

void jpeg_errors(JpegError* e) {
    jpeg_std_error(&e->manager);
    e->manager.error_exit = jpeg_fail;
    e->manager.emit_message = jpeg_quiet_message;
    e->manager.output_message = jpeg_quiet_output;
}

// Four-channel JPEG files are stored inverted (as the common writers do).
void cmyk_row_to_bgra(const uint8_t* cmyk, uint32_t* row, uint32_t w) {
    for (uint32_t x = 0; x < w; ++x, cmyk += 4) {
        uint32_t k = cmyk[3];
        row[x] = bgra(cmyk[0] * k / 255, cmyk[1] * k / 255, cmyk[2] * k / 255, 255);
    }
}

}  // namespace

ImageStatus decode_jpeg(const uint8_t* data, size_t size, Bitmap** out) {
    jpeg_decompress_struct info;
    JpegError error;
    info.err = &error.manager;
    jpeg_errors(&error);
    Bitmap* volatile bitmap = nullptr;
    uint8_t* volatile cmyk = nullptr;
    volatile ImageStatus status = ImageStatus::bad_data;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        std::free(cmyk);
        release_on_failure(bitmap);
        return status;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    Bitmap* made = nullptr;
    ImageStatus made_status = host_bitmap_new(info.image_width, info.image_height, &made);
    if (made_status != ImageStatus::ok) {
        status = made_status;
        longjmp(error.jump, 1);
    }
    bitmap = made;
    bool four = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = four ? JCS_CMYK : JCS_EXT_BGRA;
    jpeg_start_decompress(&info);
    if (info.output_width != made->width || info.output_height != made->height) longjmp(error.jump, 1);
    if (four) {
        cmyk = static_cast<uint8_t*>(std::malloc(size_t(made->width) * 4));
        if (!cmyk) longjmp(error.jump, 1);
    }
    while (info.output_scanline < info.output_height) {
        uint32_t* row = made->pixels + size_t(info.output_scanline) * made->width;
        JSAMPROW target = four ? cmyk : reinterpret_cast<JSAMPROW>(row);
        if (jpeg_read_scanlines(&info, &target, 1) != 1) longjmp(error.jump, 1);
        if (four) cmyk_row_to_bgra(cmyk, row, made->width);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::free(cmyk);
    *out = made;
    return ImageStatus::ok;
}

bool encode_jpeg(const Bitmap* b, std::vector<uint8_t>* out) {
    jpeg_compress_struct info;
    JpegError error;
    info.err = &error.manager;
    jpeg_errors(&error);
    struct Destination {
        unsigned char* bytes = nullptr;
        unsigned long size = 0;
    } destination;
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        std::free(destination.bytes);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &destination.bytes, &destination.size);
    info.image_width = b->width;
    info.image_height = b->height;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRA;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = reinterpret_cast<JSAMPROW>(b->pixels + size_t(info.next_scanline) * b->width);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    out->assign(destination.bytes, destination.bytes + destination.size);
    jpeg_destroy_compress(&info);
    std::free(destination.bytes);
    return true;
}

// ------------------------------------------------------------------ GIF

namespace {

int gif_read_memory(GifFileType* gif, GifByteType* out, int n) {
    auto* r = static_cast<MemoryReader*>(gif->UserData);
    size_t take = std::min(size_t(n < 0 ? 0 : n), r->size - r->pos);
    std::memcpy(out, r->data + r->pos, take);
    r->pos += take;
    return int(take);
}

int gif_write_memory(GifFileType* gif, const GifByteType* in, int n) {
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), in, in + n);
    return n;
}

struct GifCloser {
    GifFileType* gif;
    ~GifCloser() {
        int error;
        if (gif) DGifCloseFile(gif, &error);
    }
};

// Skips an extension's blocks; a graphic control block gives the transparent index.
bool gif_read_extension(GifFileType* gif, int* transparent) {
    int code;
    GifByteType* block = nullptr;
    if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
    if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) *transparent = (block[1] & 1) ? block[4] : -1;
    while (block) {
        if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
    }
    return true;
}

// The first frame's lines, placed at the frame's offset in the canvas;
// interlaced frames arrive in their four passes.
bool gif_read_frame(GifFileType* gif, Bitmap* canvas, int transparent) {
    const GifImageDesc& d = gif->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map || d.Width <= 0 || d.Height <= 0) return false;
    std::vector<GifPixelType> line(size_t(d.Width));
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = d.Interlace ? start[pass] : 0; y < d.Height; y += d.Interlace ? step[pass] : 1) {
            if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) return false;
            int64_t cy = int64_t(d.Top) + y;
            if (cy < 0 || cy >= canvas->height) continue;
            uint32_t* row = canvas->pixels + size_t(cy) * canvas->width;
            for (int x = 0; x < d.Width; ++x) {
                int64_t cx = int64_t(d.Left) + x;
                if (cx < 0 || cx >= canvas->width) continue;
                int index = line[size_t(x)];
                if (index == transparent) continue;
                if (index >= map->ColorCount) {
                    row[cx] = bgra(0, 0, 0, 255);
                    continue;
                }
                const GifColorType& c = map->Colors[index];
                row[cx] = bgra(c.Red, c.Green, c.Blue, 255);
            }
        }
    }
    return true;
}

// An image of few colours keeps them exactly; the quantizer would round them.
bool exact_palette(const std::vector<GifByteType>& r, const std::vector<GifByteType>& g,
                   const std::vector<GifByteType>& b, int* room, GifColorType* palette, std::vector<GifByteType>& indexes) {
    std::unordered_map<uint32_t, GifByteType> seen;
    for (size_t i = 0; i < r.size(); ++i) {
        uint32_t key = uint32_t(r[i]) << 16 | uint32_t(g[i]) << 8 | b[i];
        auto found = seen.find(key);
        if (found == seen.end()) {
            if (int(seen.size()) == *room) return false;
            GifByteType index = GifByteType(seen.size());
            palette[index] = {r[i], g[i], b[i]};
            found = seen.emplace(key, index).first;
        }
        indexes[i] = found->second;
    }
    *room = int(seen.size());
    return true;
}

}  // namespace

ImageStatus decode_gif(const uint8_t* data, size_t size, Bitmap** out) {
    MemoryReader reader{data, size, 0};
    int error = 0;
    GifCloser file{DGifOpen(&reader, gif_read_memory, &error)};
    if (!file.gif) return ImageStatus::bad_data;
    GifFileType* gif = file.gif;
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return ImageStatus::bad_data;
        if (type == EXTENSION_RECORD_TYPE) {
            if (!gif_read_extension(gif, &transparent)) return ImageStatus::bad_data;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) return ImageStatus::bad_data;
        if (DGifGetImageDesc(gif) == GIF_ERROR) return ImageStatus::bad_data;
        // The logical screen is the picture; a file that gives none shows its frame.
        uint32_t w = gif->SWidth > 0 ? uint32_t(gif->SWidth) : uint32_t(std::max(gif->Image.Width, 0));
        uint32_t h = gif->SHeight > 0 ? uint32_t(gif->SHeight) : uint32_t(std::max(gif->Image.Height, 0));
        Bitmap* canvas = nullptr;
        ImageStatus status = host_bitmap_new(w, h, &canvas);
        if (status != ImageStatus::ok) return status;
        std::memset(canvas->pixels, 0, size_t(w) * h * 4);
        if (!gif_read_frame(gif, canvas, transparent)) {
            bitmap_release(canvas);
            return ImageStatus::bad_data;
        }
        *out = canvas;
        return ImageStatus::ok;
    }
}

bool encode_gif(const Bitmap* b, std::vector<uint8_t>* out) {
    size_t n = size_t(b->width) * b->height;
    bool any_transparent = false;
    std::vector<GifByteType> r(n), g(n), bl(n), indexes(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = b->pixels[i];
        r[i] = red(p);
        g[i] = green(p);
        bl[i] = blue(p);
        if (alpha(p) < 128) any_transparent = true;
    }
    // Pixels at least half transparent take the last index of the palette.
    int colours = any_transparent ? 255 : 256;
    GifColorType palette[256] = {};
    if (!exact_palette(r, g, bl, &colours, palette, indexes) &&
        GifQuantizeBuffer(b->width, b->height, &colours, r.data(), g.data(), bl.data(), indexes.data(), palette) == GIF_ERROR)
        return false;
    // The smallest palette that holds the colours (and the transparent index, last).
    int entries = 2;
    while (entries < colours + (any_transparent ? 1 : 0)) entries *= 2;
    GifByteType transparent_index = GifByteType(entries - 1);
    if (any_transparent)
        for (size_t i = 0; i < n; ++i)
            if (alpha(b->pixels[i]) < 128) indexes[i] = transparent_index;
    ColorMapObject* map = GifMakeMapObject(entries, palette);
    if (!map) return false;
    int error = 0;
    GifFileType* gif = EGifOpen(out, gif_write_memory, &error);
    bool ok = gif != nullptr;
    if (ok) {
        EGifSetGifVersion(gif, true);
        ok = EGifPutScreenDesc(gif, int(b->width), int(b->height), map->BitsPerPixel, 0, map) != GIF_ERROR;
        if (ok && any_transparent) {
            GifByteType control[4] = {1, 0, 0, transparent_index};
            ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_ERROR;
        }
        ok = ok && EGifPutImageDesc(gif, 0, 0, int(b->width), int(b->height), false, nullptr) != GIF_ERROR;
        for (uint32_t y = 0; ok && y < b->height; ++y)
            ok = EGifPutLine(gif, indexes.data() + size_t(y) * b->width, int(b->width)) != GIF_ERROR;
        if (EGifCloseFile(gif, &error) == GIF_ERROR) ok = false;
    }
    GifFreeMapObject(map);
    return ok;
}

// ------------------------------------------------------------------ TIFF

namespace {

struct TiffMemory {
    const uint8_t* data;          // reading
    std::vector<uint8_t>* out;    // writing
    size_t size;
    uint64_t pos;
};

tmsize_t tiff_read(thandle_t h, void* buffer, tmsize_t n) {
    auto* m = static_cast<TiffMemory*>(h);
    if (!m->data || n < 0 || m->pos >= m->size) return 0;
    size_t take = std::min<uint64_t>(uint64_t(n), m->size - m->pos);
    std::memcpy(buffer, m->data + m->pos, take);
    m->pos += take;
    return tmsize_t(take);
}

tmsize_t tiff_write(thandle_t h, void* buffer, tmsize_t n) {
    auto* m = static_cast<TiffMemory*>(h);
    if (!m->out || n < 0) return -1;
    if (m->pos + uint64_t(n) > m->out->size()) m->out->resize(size_t(m->pos + uint64_t(n)));
    std::memcpy(m->out->data() + m->pos, buffer, size_t(n));
    m->pos += uint64_t(n);
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* m = static_cast<TiffMemory*>(h);
    uint64_t size = m->out ? m->out->size() : m->size;
    uint64_t base = whence == SEEK_CUR ? m->pos : whence == SEEK_END ? size : 0;
    m->pos = base + offset;
    return m->pos;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) {
    auto* m = static_cast<TiffMemory*>(h);
    return m->out ? m->out->size() : m->size;
}
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

TIFF* tiff_open(TiffMemory* m, const char* mode) {
    static bool quiet = (TIFFSetErrorHandler(nullptr), TIFFSetWarningHandler(nullptr), true);
    (void)quiet;
    return TIFFClientOpen("memory", mode, m, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size, tiff_map, tiff_unmap);
}

// The library's RGBA reader premultiplies; the store keeps straight colours.
uint32_t unpremultiply(uint32_t abgr) {
    uint32_t a = TIFFGetA(abgr), r = TIFFGetR(abgr), g = TIFFGetG(abgr), b = TIFFGetB(abgr);
    if (a != 0 && a != 255) {
        r = std::min<uint32_t>(255, (r * 255 + a / 2) / a);
        g = std::min<uint32_t>(255, (g * 255 + a / 2) / a);
        b = std::min<uint32_t>(255, (b * 255 + a / 2) / a);
    }
    return bgra(r, g, b, a);
}

// 8-bit RGB or RGBA with straight alpha in strips, top row first: read as it
// is, without the library's premultiplying RGBA reader.
bool tiff_plain_rgb(TIFF* tiff) {
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, orientation = ORIENTATION_TOPLEFT;
    uint16_t extra_count = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
    if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    if (bits != 8 || photometric != PHOTOMETRIC_RGB || planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tiff) ||
        orientation != ORIENTATION_TOPLEFT)
        return false;
    if (samples == 3) return extra_count == 0;
    return samples == 4 && extra_count == 1 && extra && extra[0] == EXTRASAMPLE_UNASSALPHA;
}

bool tiff_read_plain(TIFF* tiff, Bitmap* b) {
    uint16_t samples = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    tmsize_t line_size = TIFFScanlineSize(tiff);
    if (line_size < tmsize_t(b->width) * samples) return false;
    std::vector<uint8_t> line(static_cast<size_t>(line_size));
    for (uint32_t y = 0; y < b->height; ++y) {
        if (TIFFReadScanline(tiff, line.data(), y, 0) != 1) return false;
        uint32_t* row = b->pixels + size_t(y) * b->width;
        for (uint32_t x = 0; x < b->width; ++x) {
            const uint8_t* p = line.data() + size_t(x) * samples;
            row[x] = bgra(p[0], p[1], p[2], samples == 4 ? p[3] : 255);
        }
    }
    return true;
}

}  // namespace

ImageStatus decode_tiff(const uint8_t* data, size_t size, Bitmap** out) {
    TiffMemory m{data, nullptr, size, 0};
    TIFF* tiff = tiff_open(&m, "rm");
    if (!tiff) return ImageStatus::bad_data;
    uint32_t w = 0, h = 0;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
    Bitmap* bitmap = nullptr;
    ImageStatus status = host_bitmap_new(w, h, &bitmap);
    if (status == ImageStatus::ok && tiff_plain_rgb(tiff)) {
        if (tiff_read_plain(tiff, bitmap)) {
            *out = bitmap;
        } else {
            bitmap_release(bitmap);
            status = ImageStatus::bad_data;
        }
    } else if (status == ImageStatus::ok) {
        if (TIFFReadRGBAImageOriented(tiff, w, h, bitmap->pixels, ORIENTATION_TOPLEFT, 0)) {
            for (size_t i = 0, n = size_t(w) * h; i < n; ++i) bitmap->pixels[i] = unpremultiply(bitmap->pixels[i]);
            *out = bitmap;
        } else {
            bitmap_release(bitmap);
            status = ImageStatus::bad_data;
        }
    }
    TIFFClose(tiff);
    return status;
}

bool encode_tiff(const Bitmap* b, std::vector<uint8_t>* out) {
    TiffMemory m{nullptr, out, 0, 0};
    TIFF* tiff = tiff_open(&m, "w");
    if (!tiff) return false;
    uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, b->width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, b->height);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, extra);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    std::vector<uint8_t> line(size_t(b->width) * 4);
    bool ok = true;
    for (uint32_t y = 0; ok && y < b->height; ++y) {
        const uint32_t* row = b->pixels + size_t(y) * b->width;
        for (uint32_t x = 0; x < b->width; ++x) {
            line[x * 4] = red(row[x]);
            line[x * 4 + 1] = green(row[x]);
            line[x * 4 + 2] = blue(row[x]);
            line[x * 4 + 3] = alpha(row[x]);
        }
        ok = TIFFWriteScanline(tiff, line.data(), y, 0) == 1;
    }
    TIFFClose(tiff);
    return ok;
}

// ------------------------------------------------------------------ BMP

ImageStatus decode_bmp(const uint8_t* data, size_t size, Bitmap** out) {
    if (size > size_t(INT32_MAX)) return ImageStatus::bad_data;
    int w = 0, h = 0, channels = 0;
    if (!stbi_info_from_memory(data, int(size), &w, &h, &channels) || w <= 0 || h <= 0) return ImageStatus::bad_data;
    Bitmap* bitmap = nullptr;
    ImageStatus status = host_bitmap_new(uint32_t(w), uint32_t(h), &bitmap);
    if (status != ImageStatus::ok) return status;
    stbi_uc* rgba = stbi_load_from_memory(data, int(size), &w, &h, &channels, 4);
    if (!rgba || uint32_t(w) != bitmap->width || uint32_t(h) != bitmap->height) {
        stbi_image_free(rgba);
        bitmap_release(bitmap);
        return ImageStatus::bad_data;
    }
    for (size_t i = 0, n = size_t(w) * size_t(h); i < n; ++i)
        bitmap->pixels[i] = bgra(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2], rgba[i * 4 + 3]);
    stbi_image_free(rgba);
    *out = bitmap;
    return ImageStatus::ok;
}

namespace {
void bmp_write_memory(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}
}  // namespace

bool encode_bmp(const Bitmap* b, std::vector<uint8_t>* out) {
    size_t n = size_t(b->width) * b->height;
    std::vector<uint8_t> rgba(n * 4);
    for (size_t i = 0; i < n; ++i) {
        uint32_t p = b->pixels[i];
        rgba[i * 4] = red(p);
        rgba[i * 4 + 1] = green(p);
        rgba[i * 4 + 2] = blue(p);
        rgba[i * 4 + 3] = alpha(p);
    }
    return stbi_write_bmp_to_func(bmp_write_memory, out, int(b->width), int(b->height), 4, rgba.data()) != 0;
}

}  // namespace tev::os

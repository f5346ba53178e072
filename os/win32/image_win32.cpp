// Windows bitmaps: the imaging component's bitmaps behind each pixel store, and its codecs.
//
// A store keeps a `current` source (what is drawn, encoded and copied: a
// converter, or a realised bitmap) and a `straight` realised bitmap in
// straight BGRA (the only one ever locked for pixel access). Conversions are
// lazy: each side is rebuilt from the other when the flags say it is out of
// date. Every call of the component is checked; a failure answers a status,
// never a crash.
#include <windows.h>
#include <objbase.h>
#include <rpc.h>
#include <wincodec.h>
#include <cstring>
#include "os/image.h"
#include "os/win32/wide.h"

namespace tev::os {

struct Bitmap {
    uint32_t flags;
    IWICBitmapSource* current;
    IWICBitmap* straight;
    IUnknown* render_cache;   // the renderer's device bitmap, when it made one
    uint32_t width, height;
};

namespace {

constexpr uint32_t STRAIGHT_VALID = 0x01;
constexpr uint32_t PIXELS_CHANGED = 0x02;
constexpr uint32_t CURRENT_REALISED = 0x08;
constexpr uint32_t CURRENT_PREMULTIPLIED = 0x10;
constexpr uint32_t STRAIGHT_STALE = 0x20;

// The identifiers, parsed from their published text forms at start.
enum : int { ID_BGRA, ID_PBGRA, ID_BMP, ID_PNG, ID_JPEG, ID_TIFF, ID_GIF, ID_FACTORY_CLASS, ID_FACTORY_IFACE, ID_COUNT };
const char* const ID_TEXT[ID_COUNT] = {
    "6FDDC324-4E03-4BFE-B185-3D77768DC90F", "6FDDC324-4E03-4BFE-B185-3D77768DC910",
    "0AF1D87E-FCFE-4188-BDEB-A7906471CBE3", "1B7CFAF4-713F-473C-BBCD-6137425FAEAF",
    "19E4A5AA-5662-4FC5-A0C0-1758028E1057", "163BCC30-E2E9-4F0B-961D-A3E9FDB788A3",
    "1F8A5601-7D4D-4CBD-9C82-1BC8D4EEB9A5", "CACAF262-9370-4615-A13B-9F5539DA4C0A",
    "EC5EC8A9-C395-4314-9C77-54D7A935FF70",
};
GUID ids[ID_COUNT];
IWICImagingFactory* factory = nullptr;
bool factory_tried = false;
uint64_t area_limit = uint64_t(1) << 28;

// The factory, made on first use; null when the component is missing.
IWICImagingFactory* wic() {
    if (factory_tried) return factory;
    factory_tried = true;
    for (int i = 0; i < ID_COUNT; ++i)
        if (UuidFromStringA(reinterpret_cast<RPC_CSTR>(const_cast<char*>(ID_TEXT[i])), &ids[i]) != RPC_S_OK) return nullptr;
    IWICImagingFactory* made = nullptr;
    if (SUCCEEDED(CoCreateInstance(ids[ID_FACTORY_CLASS], nullptr, CLSCTX_INPROC_SERVER, ids[ID_FACTORY_IFACE],
                                   reinterpret_cast<void**>(&made))))
        factory = made;
    return factory;
}

template <class T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

Bitmap* new_store(IWICBitmapSource* current, IWICBitmap* straight, uint32_t flags, uint32_t w, uint32_t h) {
    auto* b = new (std::nothrow) Bitmap{flags, current, straight, nullptr, w, h};
    if (!b) {
        if (current) current->Release();
        if (straight) straight->Release();
    }
    return b;
}

ImageStatus check_size(UINT w, UINT h) {
    if (w == 0 || h == 0) return ImageStatus::bad_data;
    if (w > IMAGE_SIDE_MAX || h > IMAGE_SIDE_MAX) return ImageStatus::too_large;
    if (uint64_t(w) * h > area_limit) return ImageStatus::no_memory;
    return ImageStatus::ok;
}

IWICFormatConverter* convert(IWICBitmapSource* source, bool premultiplied) {
    IWICFormatConverter* converter = nullptr;
    if (FAILED(wic()->CreateFormatConverter(&converter))) return nullptr;
    if (FAILED(converter->Initialize(source, ids[premultiplied ? ID_PBGRA : ID_BGRA], WICBitmapDitherTypeNone, nullptr,
                                     0.0, WICBitmapPaletteTypeCustom))) {
        converter->Release();
        return nullptr;
    }
    return converter;
}

// `current` in the alpha mode asked for, re-derived when the pixels changed.
IWICBitmapSource* wic_bitmap(Bitmap* b, bool premultiplied) {
    bool have_premultiplied = (b->flags & CURRENT_PREMULTIPLIED) != 0;
    if (b->current && !(b->flags & PIXELS_CHANGED) && have_premultiplied == premultiplied) return b->current;
    IWICBitmapSource* source = b->straight ? static_cast<IWICBitmapSource*>(b->straight) : b->current;
    if (!source) return nullptr;
    IWICFormatConverter* converter = convert(source, premultiplied);
    if (!converter) return nullptr;
    release(b->current);
    b->current = converter;
    release(b->render_cache);
    b->flags &= ~(PIXELS_CHANGED | CURRENT_REALISED | CURRENT_PREMULTIPLIED);
    if (premultiplied) b->flags |= CURRENT_PREMULTIPLIED;
    return b->current;
}

// The straight bitmap, realised from `current` when it is missing or stale.
IWICBitmap* bgra_bitmap(Bitmap* b) {
    if (b->flags & STRAIGHT_STALE) b->flags &= ~(STRAIGHT_STALE | STRAIGHT_VALID);
    if ((b->flags & STRAIGHT_VALID) && b->straight) return b->straight;
    if (!b->current) return nullptr;
    IWICFormatConverter* converter = convert(b->current, false);
    if (!converter) return nullptr;
    IWICBitmap* realised = nullptr;
    HRESULT hr = wic()->CreateBitmapFromSource(converter, WICBitmapCacheOnDemand, &realised);
    converter->Release();
    if (FAILED(hr)) return nullptr;
    release(b->straight);
    b->straight = realised;
    b->flags |= STRAIGHT_VALID;
    return b->straight;
}

// Frame 0 of a decoder in straight BGRA, realised at once so that damaged
// data is found by the decode and not by a later pixel read.
ImageStatus store_from_decoder(IWICBitmapDecoder* decoder, Bitmap** out, uint32_t* width, uint32_t* height) {
    UINT frames = 0;
    IWICBitmapFrameDecode* frame = nullptr;
    if (FAILED(decoder->GetFrameCount(&frames)) || frames < 1 || FAILED(decoder->GetFrame(0, &frame))) {
        decoder->Release();
        return ImageStatus::bad_data;
    }
    UINT w = 0, h = 0;
    ImageStatus status = SUCCEEDED(frame->GetSize(&w, &h)) ? check_size(w, h) : ImageStatus::bad_data;
    *width = w;
    *height = h;
    IWICFormatConverter* converter = status == ImageStatus::ok ? convert(frame, false) : nullptr;
    frame->Release();
    decoder->Release();
    if (!converter) return status == ImageStatus::ok ? ImageStatus::bad_data : status;
    IWICBitmap* realised = nullptr;
    HRESULT hr = wic()->CreateBitmapFromSource(converter, WICBitmapCacheOnLoad, &realised);
    converter->Release();
    if (FAILED(hr)) return ImageStatus::bad_data;
    *out = new_store(nullptr, realised, STRAIGHT_VALID, w, h);
    return *out ? ImageStatus::ok : ImageStatus::no_memory;
}

}  // namespace

void image_set_area_limit(uint64_t pixels) { area_limit = pixels; }

ImageStatus bitmap_create(uint32_t width, uint32_t height, Bitmap** out) {
    *out = nullptr;
    if (!wic()) return ImageStatus::no_system;
    ImageStatus status = check_size(width, height);
    if (status != ImageStatus::ok) return status;
    IWICBitmap* bitmap = nullptr;
    if (FAILED(wic()->CreateBitmap(width, height, ids[ID_BGRA], WICBitmapCacheOnLoad, &bitmap))) return ImageStatus::no_memory;
    *out = new_store(nullptr, bitmap, STRAIGHT_VALID | PIXELS_CHANGED, width, height);
    return *out ? ImageStatus::ok : ImageStatus::no_memory;
}

void bitmap_release(Bitmap* b) {
    if (!b) return;
    release(b->current);
    release(b->straight);
    release(b->render_cache);
    delete b;
}

// The lock covers the store's own size, whatever the caller's value says.
bool bitmap_lock(Bitmap* b, uint32_t width, uint32_t height, bool write, PixelLock* lock) {
    if (!b || width > b->width || height > b->height) return false;
    IWICBitmap* straight = bgra_bitmap(b);
    if (!straight) return false;
    WICRect rect = {0, 0, INT(b->width), INT(b->height)};
    IWICBitmapLock* held = nullptr;
    DWORD mode = write ? (WICBitmapLockRead | WICBitmapLockWrite) : WICBitmapLockRead;
    if (FAILED(straight->Lock(&rect, mode, &held))) return false;
    UINT stride = 0, size = 0;
    BYTE* data = nullptr;
    if (FAILED(held->GetStride(&stride)) || FAILED(held->GetDataPointer(&size, &data)) || !data || stride % 4 ||
        uint64_t(stride) * (b->height - 1) + uint64_t(b->width) * 4 > size) {
        held->Release();
        return false;
    }
    lock->pixels = reinterpret_cast<uint32_t*>(data);
    lock->stride = stride / 4;
    lock->token = held;
    if (write) b->flags |= PIXELS_CHANGED;
    return true;
}

void bitmap_unlock(Bitmap*, PixelLock* lock) {
    if (lock->token) static_cast<IWICBitmapLock*>(lock->token)->Release();
    *lock = PixelLock{};
}

ImageStatus bitmap_decode(const uint8_t* data, size_t size, Bitmap** out, uint32_t* width, uint32_t* height) {
    *out = nullptr;
    if (!wic()) return ImageStatus::no_system;
    if (size == 0 || size > 0x7FFFFFFF) return ImageStatus::bad_data;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!memory) return ImageStatus::no_memory;
    void* p = GlobalLock(memory);
    if (!p) {
        GlobalFree(memory);
        return ImageStatus::no_memory;
    }
    std::memcpy(p, data, size);
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory, TRUE, &stream))) {
        GlobalFree(memory);
        return ImageStatus::no_memory;
    }
    IWICBitmapDecoder* decoder = nullptr;
    HRESULT hr = wic()->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand, &decoder);
    stream->Release();
    if (FAILED(hr)) return ImageStatus::bad_data;
    return store_from_decoder(decoder, out, width, height);
}

ImageStatus bitmap_load_file(const std::string& path, Bitmap** out, uint32_t* width, uint32_t* height) {
    *out = nullptr;
    if (!wic()) return ImageStatus::no_system;
    std::wstring wide = widen(path);
    IWICBitmapDecoder* decoder = nullptr;
    if (FAILED(wic()->CreateDecoderFromFilename(wide.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                &decoder)))
        return ImageStatus::bad_data;
    return store_from_decoder(decoder, out, width, height);
}

bool bitmap_encode(Bitmap* b, uint32_t width, uint32_t height, int format, std::vector<uint8_t>* out) {
    static const int containers[] = {ID_BMP, ID_PNG, ID_GIF, ID_JPEG, ID_TIFF};
    if (!b || !wic() || format < IMAGE_BMP || format > IMAGE_TIFF || width != b->width || height != b->height) return false;
    IWICBitmapSource* source = wic_bitmap(b, false);
    if (!source) return false;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return false;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICRect rect = {0, 0, INT(width), INT(height)};
    WICPixelFormatGUID pixel_format = ids[ID_BGRA];
    bool ok = SUCCEEDED(wic()->CreateEncoder(ids[containers[format]], nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, &options)) && SUCCEEDED(frame->Initialize(options)) &&
              SUCCEEDED(frame->SetSize(width, height)) && SUCCEEDED(frame->SetPixelFormat(&pixel_format));
    // A format the container cannot hold goes through a converter to the one it offers.
    IWICFormatConverter* converter = nullptr;
    if (ok && !IsEqualGUID(pixel_format, ids[ID_BGRA])) {
        ok = SUCCEEDED(wic()->CreateFormatConverter(&converter)) &&
             SUCCEEDED(converter->Initialize(source, pixel_format, WICBitmapDitherTypeNone, nullptr, 0.0,
                                             WICBitmapPaletteTypeMedianCut));
        if (ok) source = converter;
    }
    ok = ok && SUCCEEDED(frame->WriteSource(source, &rect)) && SUCCEEDED(frame->Commit()) &&
         SUCCEEDED(encoder->Commit());
    release(converter);
    release(options);
    release(frame);
    release(encoder);
    STATSTG stat = {};
    LARGE_INTEGER start = {};
    ok = ok && SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) && stat.cbSize.QuadPart < 0x7FFFFFFF &&
         SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr));
    if (ok) {
        out->resize(size_t(stat.cbSize.QuadPart));
        ULONG read = 0;
        ok = out->empty() || (SUCCEEDED(stream->Read(out->data(), ULONG(out->size()), &read)) && read == out->size());
    }
    stream->Release();
    return ok;
}

ImageStatus bitmap_copy_rect(Bitmap* source, uint32_t x, uint32_t y, uint32_t w, uint32_t h, Bitmap** out) {
    *out = nullptr;
    if (!wic()) return ImageStatus::no_system;
    if (!source || x + uint64_t(w) > source->width || y + uint64_t(h) > source->height) return ImageStatus::bad_data;
    IWICBitmapSource* current = wic_bitmap(source, false);
    if (!current) return ImageStatus::bad_data;
    IWICBitmap* copy = nullptr;
    if (FAILED(wic()->CreateBitmapFromSourceRect(current, x, y, w, h, &copy))) return ImageStatus::no_memory;
    *out = new_store(nullptr, copy, STRAIGHT_VALID | PIXELS_CHANGED, w, h);
    return *out ? ImageStatus::ok : ImageStatus::no_memory;
}

}  // namespace tev::os

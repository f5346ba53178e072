// The clipboard on Windows: USER32's clipboard, opened for a hidden message-only owner window.
//
// Every block read from the clipboard is measured with GlobalSize and nothing
// is read past it; every block prepared for it is freed unless the system
// took it over.
#include "os/clipboard.h"
#include "os/win32/wide.h"
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <cstdlib>
#include <cstring>

namespace tev::os {

namespace {

// Emptying a clipboard opened with no window leaves it without an owner, and
// then every SetClipboardData fails: the clipboard needs a window of ours.
HWND owner_window() {
    static HWND window = nullptr;
    if (window) return window;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TevClipboardOwner";
    RegisterClassW(&wc);  // a second registration fails harmlessly
    window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    return window;
}

// Another program may hold the clipboard for a moment: three attempts, the
// owner window kept responsive between them.
bool open_clipboard() {
    HWND owner = owner_window();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt > 0) Sleep(1);
        if (OpenClipboard(owner)) return true;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    return false;
}

struct Closer {
    ~Closer() { CloseClipboard(); }
};

struct Locked {
    HGLOBAL handle;
    const uint8_t* bytes;
    size_t size;
    explicit Locked(HANDLE h)
        : handle(static_cast<HGLOBAL>(h)), bytes(handle ? static_cast<const uint8_t*>(GlobalLock(handle)) : nullptr),
          size(bytes ? GlobalSize(handle) : 0) {}
    ~Locked() {
        if (bytes) GlobalUnlock(handle);
    }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

// ================================================================== reading

bool read_text(ClipboardContent* out) {
    Locked block(GetClipboardData(CF_UNICODETEXT));
    if (!block.bytes) return false;
    const wchar_t* w = reinterpret_cast<const wchar_t*>(block.bytes);
    size_t limit = block.size / sizeof(wchar_t);
    std::wstring text;
    for (size_t i = 0; i < limit && w[i]; ++i)
        if (w[i] != L'\r') text.push_back(w[i]);
    out->kind = ClipboardContent::Kind::text;
    out->text = narrow(text.data(), text.size());
    return true;
}

bool read_files(ClipboardContent* out) {
    HDROP drop = static_cast<HDROP>(GetClipboardData(CF_HDROP));
    if (!drop) return false;
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::wstring name(260, L'\0');
    for (UINT i = 0; i < count; ++i) {
        UINT length = DragQueryFileW(drop, i, nullptr, 0);
        if (length + 1 > name.size()) name.resize(length + 1);
        length = DragQueryFileW(drop, i, name.data(), UINT(name.size()));
        out->files.push_back(narrow(name.data(), length));
    }
    out->kind = ClipboardContent::Kind::files;
    return true;
}

bool read_encoded_image(ClipboardContent* out) {
    for (const char* name : {"PNG", "JFIF", "GIF"}) {
        UINT format = RegisterClipboardFormatA(name);
        if (!format || !IsClipboardFormatAvailable(format)) continue;
        Locked block(GetClipboardData(format));
        if (!block.bytes) continue;
        out->kind = ClipboardContent::Kind::encoded_image;
        out->image_format = name;
        out->image_bytes.assign(reinterpret_cast<const char*>(block.bytes), block.size);
        return true;
    }
    return false;
}

constexpr int MAX_SIDE = 65535;

// A 32-bit DIB, plain or with the masks of BGRA words. Each size the header
// claims is checked against the block's size before anything is read.
bool read_dib(ClipboardContent* out) {
    Locked block(GetClipboardData(CF_DIBV5));
    if (!block.bytes || block.size < sizeof(BITMAPINFOHEADER)) return false;
    BITMAPV5HEADER h = {};
    std::memcpy(&h, block.bytes, block.size < sizeof h ? block.size : sizeof h);
    if (h.bV5Size < sizeof(BITMAPINFOHEADER) || h.bV5Size > block.size) return false;
    if (h.bV5BitCount != 32 || h.bV5Planes != 1) return false;
    size_t offset = h.bV5Size;
    if (h.bV5Compression == BI_BITFIELDS) {
        DWORD masks[3] = {h.bV5RedMask, h.bV5GreenMask, h.bV5BlueMask};
        if (h.bV5Size == sizeof(BITMAPINFOHEADER)) {  // the masks follow a short header
            if (block.size - offset < sizeof masks) return false;
            std::memcpy(masks, block.bytes + offset, sizeof masks);
            offset += sizeof masks;
        }
        if (masks[0] != 0x00FF0000 || masks[1] != 0x0000FF00 || masks[2] != 0x000000FF) return false;
    } else if (h.bV5Compression != BI_RGB) {
        return false;
    }
    if (h.bV5ClrUsed > 256) return false;
    offset += size_t(h.bV5ClrUsed) * 4;
    int width = h.bV5Width, height = h.bV5Height < 0 ? -h.bV5Height : h.bV5Height;
    if (width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE) return false;
    uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
    if (offset > block.size || bytes > block.size - offset) return false;

    out->pixels.resize(size_t(width) * size_t(height));
    const uint8_t* base = block.bytes + offset;
    bool bottom_up = h.bV5Height > 0;
    bool any_alpha = false;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = base + size_t(bottom_up ? height - 1 - y : y) * size_t(width) * 4;
        std::memcpy(&out->pixels[size_t(y) * size_t(width)], row, size_t(width) * 4);
    }
    for (uint32_t p : out->pixels) any_alpha |= (p >> 24) != 0;
    // A DIB whose fourth bytes are all 0 carries no alpha: it is opaque.
    if (!any_alpha)
        for (uint32_t& p : out->pixels) p |= 0xFF000000u;
    out->kind = ClipboardContent::Kind::pixels;
    out->width = width;
    out->height = height;
    return true;
}

bool read_bitmap(ClipboardContent* out) {
    HBITMAP bitmap = static_cast<HBITMAP>(GetClipboardData(CF_BITMAP));
    if (!bitmap) return false;
    BITMAP info = {};
    if (!GetObjectW(bitmap, sizeof info, &info)) return false;
    int width = info.bmWidth, height = info.bmHeight;
    if (width <= 0 || height <= 0 || width > MAX_SIDE || height > MAX_SIDE) return false;
    BITMAPINFO request = {};
    request.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    request.bmiHeader.biWidth = width;
    request.bmiHeader.biHeight = -height;  // top row first
    request.bmiHeader.biPlanes = 1;
    request.bmiHeader.biBitCount = 32;
    request.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(size_t(width) * size_t(height));
    HDC dc = GetDC(nullptr);
    int rows = GetDIBits(dc, bitmap, 0, UINT(height), pixels.data(), &request, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    if (rows != height) return false;
    for (uint32_t& p : pixels) p |= 0xFF000000u;  // a device bitmap has no alpha
    out->kind = ClipboardContent::Kind::pixels;
    out->width = width;
    out->height = height;
    out->pixels = std::move(pixels);
    return true;
}

// ================================================================== writing

// A movable block for SetClipboardData; freed unless handed over.
struct Prepared {
    UINT format = 0;
    HGLOBAL handle = nullptr;
    Prepared() = default;
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;
    ~Prepared() {
        if (handle) GlobalFree(handle);
    }
    bool fill(UINT fmt, const void* bytes, size_t size) {
        format = fmt;
        handle = GlobalAlloc(GMEM_MOVEABLE, size ? size : 1);
        if (!handle) return false;
        void* p = GlobalLock(handle);
        if (!p) return false;
        if (size) std::memcpy(p, bytes, size);
        GlobalUnlock(handle);
        return true;
    }
};

std::string utf16_bytes(const std::string& utf8) {
    std::wstring w = widen(utf8);
    w.push_back(L'\0');
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * sizeof(wchar_t));
}

std::string drop_files_block(const std::vector<std::string>& files) {
    DROPFILES header = {};
    header.pFiles = sizeof header;
    header.fWide = TRUE;
    std::string block(reinterpret_cast<const char*>(&header), sizeof header);
    for (const std::string& f : files) block += utf16_bytes(f);
    block.append(sizeof(wchar_t), '\0');
    return block;
}

// A V5 header with the masks of BGRA words, then the rows bottom-up.
std::string dibv5_block(int width, int height, const std::vector<uint32_t>& pixels) {
    BITMAPV5HEADER h = {};
    h.bV5Size = sizeof h;
    h.bV5Width = width;
    h.bV5Height = height;
    h.bV5Planes = 1;
    h.bV5BitCount = 32;
    h.bV5Compression = BI_BITFIELDS;
    h.bV5SizeImage = DWORD(size_t(width) * size_t(height) * 4);
    h.bV5RedMask = 0x00FF0000;
    h.bV5GreenMask = 0x0000FF00;
    h.bV5BlueMask = 0x000000FF;
    h.bV5AlphaMask = 0xFF000000;
    h.bV5CSType = 0x73524742;  // LCS_sRGB, spelled as a number: the header's multi-character constant warns
    h.bV5Intent = LCS_GM_IMAGES;
    std::string block(reinterpret_cast<const char*>(&h), sizeof h);
    for (int y = height; y-- > 0;)
        block.append(reinterpret_cast<const char*>(&pixels[size_t(y) * size_t(width)]), size_t(width) * 4);
    return block;
}

}  // namespace

bool clipboard_available() { return true; }

bool clipboard_read(ClipboardContent* out) {
    if (!open_clipboard()) return false;
    Closer closer;
    *out = ClipboardContent();
    if (IsClipboardFormatAvailable(CF_UNICODETEXT) && read_text(out)) return true;
    if (IsClipboardFormatAvailable(CF_HDROP) && read_files(out)) return true;
    if (read_encoded_image(out)) return true;
    if (IsClipboardFormatAvailable(CF_DIBV5) && read_dib(out)) return true;
    if (IsClipboardFormatAvailable(CF_BITMAP) && read_bitmap(out)) return true;
    *out = ClipboardContent();
    return true;
}

bool clipboard_write(const ClipboardData& data) {
    Prepared blocks[2];
    int count = 0;
    bool prepared = true;
    switch (data.kind) {
    case ClipboardData::Kind::empty: break;
    case ClipboardData::Kind::text: {
        std::string bytes = utf16_bytes(data.text);
        prepared = blocks[count++].fill(CF_UNICODETEXT, bytes.data(), bytes.size());
        break;
    }
    case ClipboardData::Kind::files: {
        std::string bytes = drop_files_block(data.files);
        prepared = blocks[count++].fill(CF_HDROP, bytes.data(), bytes.size());
        break;
    }
    case ClipboardData::Kind::image: {
        UINT png = RegisterClipboardFormatA("PNG");
        prepared = png && blocks[count++].fill(png, data.png.data(), data.png.size());
        if (prepared && size_t(data.width) * size_t(data.height) == data.pixels.size()) {
            std::string dib = dibv5_block(data.width, data.height, data.pixels);
            prepared = blocks[count++].fill(CF_DIBV5, dib.data(), dib.size());
        }
        break;
    }
    }
    if (!prepared || !open_clipboard()) return false;
    Closer closer;
    bool placed = EmptyClipboard() != 0;
    for (int i = 0; i < count && placed; ++i) {
        if (SetClipboardData(blocks[i].format, blocks[i].handle)) blocks[i].handle = nullptr;  // the system's now
        else placed = false;
    }
    return placed;
}

}  // namespace tev::os

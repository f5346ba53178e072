// The system clipboard: text, lists of files and images. Only the Windows side has one.
//
// Text and paths cross as UTF-8; pixels as 32-bit words A << 24 | R << 16 |
// G << 8 | B, top row first.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tev::os {

// False where the system offers no clipboard to this program (the POSIX side).
bool clipboard_available();

struct ClipboardContent {
    enum class Kind { none, text, files, encoded_image, pixels } kind = Kind::none;
    std::string text;                 // text: carriage returns dropped
    std::vector<std::string> files;   // files: the system's own paths
    std::string image_format;         // encoded_image: "PNG", "JFIF" or "GIF"
    std::string image_bytes;
    int width = 0, height = 0;        // pixels
    std::vector<uint32_t> pixels;
};
// Reads the most preferred format present: text, files, an encoded image
// (PNG, JFIF, GIF), a 32-bit bitmap. Kind none when none is there. False when
// the clipboard cannot be opened (after three attempts).
bool clipboard_read(ClipboardContent* out);

struct ClipboardData {
    enum class Kind { empty, text, files, image } kind = Kind::empty;
    std::string text;
    std::vector<std::string> files;   // the system's own paths
    std::string png;                  // image: the encoded file, and its pixels
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};
// Replaces the clipboard's content (empty: just empties it). True when the
// clipboard was opened and every format was placed; whatever was prepared
// and not handed to the system is freed.
bool clipboard_write(const ClipboardData& data);

}  // namespace tev::os

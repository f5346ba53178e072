// The clipboard as language values: text, file lists and images, through the OS layer's clipboard.
//
// Images cross through the language's own image! interface (make image!, its
// argb and size paths, the codecs of system/codecs), so the clipboard needs
// nothing of the image store's inner layout.
#include "io/clipboard.h"
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "io/files.h"
#include "loader/lexer.h"
#include "os/clipboard.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

[[noreturn]] void raise_not_here(const Cell* name) {
    Cell word = *name;
    raise_error(err::internal::not_here, &word);
}

// Calls a function written as source text with the arguments; pushes the
// result. Made afresh on each use: the clipboard is far from any hot path.
Cell* call_source(const char* source, const Cell* args, uint32_t count) {
    Cell* code = stack_push();
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(source), std::strlen(source));
    Cell* fn = eval_block(code);
    if (pending_exit) exit_as_exception();
    Cell* result = call_with_args(fn, args, count);
    if (pending_exit) exit_as_exception();
    return result;
}

Cell* push_utf8(const std::string& text) {
    return string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), nullptr, 0);
}

// ================================================================== reading

void files_value(Cell* result, const std::vector<std::string>& paths) {
    StackScope scope;
    Cell* block = stack_push();
    block_make(block, uint32_t(paths.size()));
    for (const std::string& path : paths) {
        Cell* local = push_utf8(path);
        block_append(block, call_source("func [path] [to-tev-file path]", local, 1));
    }
    *result = *block;
}

const char* codec_name(const std::string& clipboard_format) {
    if (clipboard_format == "PNG") return "png";
    if (clipboard_format == "JFIF") return "jpeg";
    return "gif";
}

void encoded_image_value(Cell* result, const os::ClipboardContent& content) {
    StackScope scope;
    Cell* args = push_utf8(codec_name(content.image_format));
    binary_push_memory(content.image_bytes.data(), uint32_t(content.image_bytes.size()));
    *result = *call_source("func [name data /local codec] [codec: select system/codecs to word! name  codec/decode data]",
                           args, 2);
}

void pixels_value(Cell* result, const os::ClipboardContent& content) {
    StackScope scope;
    Cell* args = pair_push(content.width, content.height);
    binary_push_memory(content.pixels.data(), uint32_t(content.pixels.size() * 4));  // B G R A per pixel
    *result = *call_source("func [size argb /local img] [img: make image! size  img/argb: argb  img]", args, 2);
}

// ================================================================== writing

void paths_data(const Cell* block, os::ClipboardData* data) {
    for (uint32_t i = 0, n = block_length(block); i < n; ++i) {
        const Cell* v = block_at(block, i);
        if (cell_is(v, T_FILE)) data->files.push_back(file_os_path(v));
        else if (cell_is(v, T_STRING)) data->files.push_back(string_to_utf8(v));
        else raise_error(err::script::invalid_arg, v);
    }
}

// The image as [size argb png] through the language, then as words and bytes.
void image_data(const Cell* image, os::ClipboardData* data) {
    StackScope scope;
    Cell* parts = call_source("func [img] [reduce [img/size img/argb system/codecs/png/encode img none]]", image, 1);
    const Cell* size = block_at(parts, 0);
    const Cell* argb = block_at(parts, 1);
    const Cell* png = block_at(parts, 2);
    if (!cell_is(size, T_PAIR) || !cell_is(argb, T_BINARY) || !cell_is(png, T_BINARY))
        raise_error(err::access::bad_media);
    data->width = pair_x(size);
    data->height = pair_y(size);
    uint32_t n = binary_length(argb) / 4;
    data->pixels.resize(n);
    if (n) std::memcpy(data->pixels.data(), binary_head_address(argb), size_t(n) * 4);
    data->png.assign(reinterpret_cast<const char*>(binary_head_address(png)), binary_length(png));
}

}  // namespace

void clipboard_read_value(Cell* result, const Cell* name) {
    if (!os::clipboard_available()) raise_not_here(name);
    os::ClipboardContent content;
    if (!os::clipboard_read(&content)) {
        set_logic(result, false);
        return;
    }
    switch (content.kind) {
    case os::ClipboardContent::Kind::none: set_none(result); break;
    case os::ClipboardContent::Kind::text: *result = *push_utf8(content.text); break;
    case os::ClipboardContent::Kind::files: files_value(result, content.files); break;
    case os::ClipboardContent::Kind::encoded_image: encoded_image_value(result, content); break;
    case os::ClipboardContent::Kind::pixels: pixels_value(result, content); break;
    }
}

void clipboard_write_value(Cell* result, const Cell* value, const Cell* name) {
    os::ClipboardData data;
    switch (cell_type(value)) {
    case T_NONE: data.kind = os::ClipboardData::Kind::empty; break;
    case T_STRING:
        data.kind = os::ClipboardData::Kind::text;
        data.text = string_to_utf8(value);
        break;
    case T_BLOCK:
        data.kind = os::ClipboardData::Kind::files;
        paths_data(value, &data);
        break;
    case T_IMAGE:
        data.kind = os::ClipboardData::Kind::image;
        if (os::clipboard_available()) image_data(value, &data);
        break;
    default: raise_error(err::script::invalid_arg, value);
    }
    if (!os::clipboard_available()) raise_not_here(name);
    set_logic(result, os::clipboard_write(data));
}

}  // namespace tev

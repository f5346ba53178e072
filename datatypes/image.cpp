// image!: the pixel store (record, bitmap slot, locks) and the datatype's actions, text forms and path words.
//
// The collector moves series buffers, so the platform bitmap cannot live in
// the store's record: the handle table holds it, and the record keeps only
// its slot. An image cell marks its record (as any series) and the slot
// (mark_image below); a slot no image reaches is released at the end of the
// collection. Pixel memory belongs to the platform bitmap and never moves;
// a lock is held only while no language code runs.
#include "datatypes/image.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/series.h"
#include "datatypes/tuple.h"
#include "runtime/errors.h"
#include "runtime/handles.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== store

namespace {

struct StoreRecord {
    uint32_t size;     // width | height << 16
    int32_t handle;    // slot of the bitmap, -1 when the image has no pixels
};

uint32_t image_kind = 0;

StoreRecord* record_of(NodeRef node) { return reinterpret_cast<StoreRecord*>(node_buffer(node)->head_ptr()); }

void release_bitmap(void* pointer) { os::bitmap_release(static_cast<os::Bitmap*>(pointer)); }

void mark_image(const Cell* c) {
    gc_mark_cell_default(c);
    NodeRef node = series_node(c);
    if (!node) return;
    int32_t handle = record_of(node)->handle;
    if (handle >= 0) handle_table_mark(handle, nullptr);
}

uint32_t size_word(uint32_t width, uint32_t height) { return width | height << 16; }

// A platform answer other than ok, as the language error it stands for.
[[noreturn]] void raise_status(os::ImageStatus status, const Cell* arg) {
    switch (status) {
    case os::ImageStatus::too_large: raise_error(err::script::out_of_range, arg);
    case os::ImageStatus::no_memory: raise_error(err::internal::no_memory);
    case os::ImageStatus::no_system: raise_error(err::internal::feature_na);
    default: raise_error(err::access::bad_media);
    }
}

// The locked pixels of an image; the lock goes with the scope. A failed lock raises bad-media.
class Pixels {
public:
    Pixels(const Cell* img, bool write) : bitmap_(image_bitmap(img)), width_(image_width(img)) {
        if (!bitmap_ || !os::bitmap_lock(bitmap_, width_, image_height(img), write, &lock_))
            raise_error(err::access::bad_media);
    }
    ~Pixels() { os::bitmap_unlock(bitmap_, &lock_); }
    Pixels(const Pixels&) = delete;
    Pixels& operator=(const Pixels&) = delete;
    uint32_t& at(uint32_t pos) { return lock_.pixels[size_t(pos / width_) * lock_.stride + pos % width_]; }
    uint32_t* row(uint32_t y) { return lock_.pixels + size_t(y) * lock_.stride; }

private:
    os::Bitmap* bitmap_;
    uint32_t width_;
    os::PixelLock lock_;
};

}  // namespace

void image_make_cell(Cell* out, os::Bitmap* bitmap, uint32_t width, uint32_t height) {
    NodeRef node;
    try {
        node = alloc_series_bytes(sizeof(StoreRecord));
    } catch (...) {
        os::bitmap_release(bitmap);
        throw;
    }
    SeriesBuffer* b = node_buffer(node);
    auto* r = reinterpret_cast<StoreRecord*>(b->head_ptr());
    r->size = size_word(width, height);
    r->handle = bitmap ? handle_table_alloc(bitmap, image_kind) : -1;
    b->tail = b->head + sizeof(StoreRecord);
    cell_store(out, T_IMAGE, 0, node, size_word(width, height));
}

Cell* image_push(os::Bitmap* bitmap, uint32_t width, uint32_t height) {
    Cell* c = stack_push();
    image_make_cell(c, bitmap, width, height);
    return c;
}

os::Bitmap* image_bitmap(const Cell* img) {
    NodeRef node = series_node(img);
    if (!node) return nullptr;
    int32_t handle = record_of(node)->handle;
    return handle >= 0 ? static_cast<os::Bitmap*>(handle_table_pointer(handle)) : nullptr;
}

namespace {

// A store of width × height (0 gives an image without pixels); `fill` writes
// every pixel in row-major order under a write lock.
template <class Fill>
Cell* push_created(uint32_t width, uint32_t height, Fill fill) {
    if (width == 0 || height == 0) return image_push(nullptr, width, height);
    os::Bitmap* bitmap = nullptr;
    os::ImageStatus status = os::bitmap_create(width, height, &bitmap);
    if (status != os::ImageStatus::ok) {
        Cell size;
        pair_make_cell(&size, int32_t(width), int32_t(height));
        raise_status(status == os::ImageStatus::bad_data ? os::ImageStatus::no_memory : status, &size);
    }
    Cell* img = image_push(bitmap, width, height);
    Pixels px(img, true);
    uint32_t n = width * height;
    for (uint32_t i = 0; i < n; ++i) px.at(i) = fill(i);
    return img;
}

}  // namespace

Cell* image_push_filled(uint32_t width, uint32_t height, uint32_t pixel) {
    return push_created(width, height, [pixel](uint32_t) { return pixel; });
}

// ================================================================== pixels as values

namespace {

inline uint32_t pixel_word(uint32_t r, uint32_t g, uint32_t b, uint32_t a) { return a << 24 | r << 16 | g << 8 | b; }

void pixel_to_tuple(uint32_t p, Cell* out) {
    tuple_from_colour(out, (p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF, 255 - (p >> 24));
}

// A tuple as a pixel: its fourth component is the transparency (none: opaque).
uint32_t tuple_to_pixel(const Cell* t) {
    uint8_t c[TUPLE_MAX];
    tuple_bytes(t, c);
    uint32_t a = tuple_count(t) >= 4 ? 255u - c[3] : 255u;
    return pixel_word(c[0], c[1], c[2], a);
}

uint32_t head_of(const Cell* img) { return std::min(series_index(img), image_pixel_count(img)); }

// The position an index names (pick, poke and at count from 1, skip from 0);
// `out_of_range` tells pick and poke that nothing is there.
struct PixelIndex {
    uint32_t position;
    bool out_of_range;
};

PixelIndex pixel_index(const Cell* img, const Cell* index, int base, bool ranged) {
    int64_t w = image_width(img), h = image_height(img), n = w * h;
    int64_t head = head_of(img);
    int64_t offset;
    bool out = false;
    if (cell_is(index, T_PAIR)) {
        int64_t x = pair_x(index), y = pair_y(index);
        if (ranged) out = base == 1 ? !(x >= 1 && x <= w && y >= 1 && y <= h) : !(x >= 0 && x < w && y >= 0 && y < h);
        if (base == 1 && y > 0) --y;
        offset = y * w + x;
    } else if (cell_is(index, T_INTEGER)) {
        offset = get_integer(index);
    } else {
        raise_error(err::script::invalid_arg, index);
    }
    if (base == 1 && offset <= 0) base = 0;
    int64_t pos = head + offset - base;
    if (pos < 0 || pos >= n) {
        pos = pos < 0 ? 0 : n;
        offset = 0;
    }
    if (offset == 0) out = true;
    return {uint32_t(pos), out};
}

void pick_pixel(const Cell* img, const Cell* index, Cell* out) {
    PixelIndex at = pixel_index(img, index, 1, true);
    if (at.out_of_range) set_none(out);
    else image_pixel_at(img, at.position, out);
}

// Writes the pixel and tells the owner; value is the tuple (on the stack).
void poke_pixel(Cell* img, const Cell* index, const Cell* value) {
    PixelIndex at = pixel_index(img, index, 1, true);
    if (at.out_of_range) raise_error(err::script::out_of_range, index);
    if (!cell_is(value, T_TUPLE)) raise_error(err::script::invalid_arg, value);
    {
        Pixels px(img, true);
        px.at(at.position) = tuple_to_pixel(value);
    }
    ownership_notice(img, ChangeWord::poke, value, int32_t(at.position), 1);
}

}  // namespace

void image_pixel_at(const Cell* img, uint32_t position, Cell* out) {
    if (position >= image_pixel_count(img) || !image_bitmap(img)) {
        set_none(out);
        return;
    }
    uint32_t p;
    {
        Pixels px(img, false);
        p = px.at(position);
    }
    pixel_to_tuple(p, out);
}

// ================================================================== make and to

namespace {

// Pushes a copy of the rectangle (x, y, w, h) of img; an empty rectangle gives an empty image.
Cell* push_rect_copy(const Cell* img, int64_t x, int64_t y, int64_t w, int64_t h) {
    if (w <= 0 || h <= 0) return image_push(nullptr, 0, 0);
    os::Bitmap* source = image_bitmap(img);
    if (!source) return image_push(nullptr, 0, 0);
    os::Bitmap* copy = nullptr;
    os::ImageStatus status = os::bitmap_copy_rect(source, uint32_t(x), uint32_t(y), uint32_t(w), uint32_t(h), &copy);
    if (status != os::ImageStatus::ok) raise_status(status, img);
    return image_push(copy, uint32_t(w), uint32_t(h));
}

Cell* push_whole_copy(const Cell* img) {
    if (image_pixel_count(img) == 0) return image_push(nullptr, 0, 0);
    return push_rect_copy(img, 0, 0, image_width(img), image_height(img));
}

// Width × height from RGB bytes (missing ones white) and alpha bytes
// (transparency; missing ones opaque), or one colour for every pixel.
Cell* push_from_spec(const Cell* size, const Cell* rgb, const Cell* alpha, const Cell* colour) {
    int32_t w = std::max(pair_x(size), 0), h = std::max(pair_y(size), 0);
    if (uint32_t(w) > os::IMAGE_SIDE_MAX || uint32_t(h) > os::IMAGE_SIDE_MAX) raise_error(err::script::out_of_range, size);
    if (colour) return image_push_filled(uint32_t(w), uint32_t(h), tuple_to_pixel(colour));
    // The bytes are staged: the store's allocation may move the binaries' buffers.
    std::vector<uint8_t> rgb_bytes, alpha_bytes;
    if (rgb) rgb_bytes.assign(binary_head_address(rgb), binary_head_address(rgb) + binary_length(rgb) / 3 * 3);
    if (alpha) alpha_bytes.assign(binary_head_address(alpha), binary_head_address(alpha) + binary_length(alpha));
    size_t rgb_pixels = rgb_bytes.size() / 3;
    return push_created(uint32_t(w), uint32_t(h), [&](uint32_t i) {
        uint32_t a = i < alpha_bytes.size() ? 255u - alpha_bytes[i] : 255u;
        if (i >= rgb_pixels) return pixel_word(255, 255, 255, a);
        const uint8_t* c = rgb_bytes.data() + size_t(i) * 3;
        return pixel_word(c[0], c[1], c[2], a);
    });
}

void image_to(ActionFrame& f) {
    const Cell* spec = f.args + 1;
    if (!cell_is(spec, T_IMAGE)) raise_error_type(err::script::bad_to_arg, T_IMAGE, spec);
    f.args[0] = *push_whole_copy(spec);
}

void image_make(ActionFrame& f) {
    StackScope scope;
    Cell* proto = f.args;
    Cell* spec = f.args + 1;
    if (cell_is(spec, T_PAIR)) {
        f.args[0] = *push_from_spec(spec, nullptr, nullptr, nullptr);
        return;
    }
    if (!cell_is(spec, T_BLOCK)) {
        image_to(f);
        return;
    }
    uint32_t length = series_rest_length(spec);
    const Cell* values = node_buffer(series_node(spec))->cells() + series_index(spec);
    if (length == 0) {
        if (!cell_is(proto, T_IMAGE)) raise_error(err::script::invalid_arg, spec);
        f.args[0] = *push_whole_copy(proto);
        return;
    }
    Cell* size = stack_push_copy(values);
    if (!cell_is(size, T_PAIR)) raise_error(err::script::invalid_arg, size);
    Cell* rgb = nullptr;
    Cell* alpha = nullptr;
    Cell* colour = nullptr;
    if (length > 1) {
        Cell* second = stack_push_copy(node_buffer(series_node(spec))->cells() + series_index(spec) + 1);
        if (cell_is(second, T_BINARY)) rgb = second;
        else if (cell_is(second, T_TUPLE)) colour = second;
        else raise_error(err::script::invalid_arg, second);
    }
    if (length > 2) {
        Cell* third = stack_push_copy(node_buffer(series_node(spec))->cells() + series_index(spec) + 2);
        if (!cell_is(third, T_BINARY)) raise_error(err::script::invalid_arg, third);
        alpha = third;
    }
    f.args[0] = *push_from_spec(size, rgb, alpha, colour);
}

}  // namespace

// ================================================================== form and mold

namespace {

constexpr char HEX[] = "0123456789ABCDEF";

int32_t append_blanks(Cell* out, int32_t groups, int32_t limit) {
    for (int32_t i = 0; i < groups; ++i) limit = append_cstr_limit(out, "    ", limit);
    return limit;
}

int32_t new_line(Cell* out, int32_t groups, int32_t limit) {
    limit = append_cstr_limit(out, "\n", limit);
    return append_blanks(out, std::max(groups, 0), limit);
}

// The pixels as hex digits (RGB, or transparency), a line break after every
// tenth unless flat. Returns false when the part limit stopped it.
bool append_pixels(Cell* out, const std::vector<uint32_t>& pixels, bool colour, bool flat, int32_t indent,
                   const Cell* arg, int32_t* limit) {
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint32_t p = pixels[i];
        char text[6];
        size_t len;
        if (colour) {
            uint8_t c[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
            for (int k = 0; k < 3; ++k) {
                text[k * 2] = HEX[c[k] >> 4];
                text[k * 2 + 1] = HEX[c[k] & 15];
            }
            len = 6;
        } else {
            uint8_t t = uint8_t(255 - (p >> 24));
            text[0] = HEX[t >> 4];
            text[1] = HEX[t & 15];
            len = 2;
        }
        *limit = append_ascii_limit(out, text, len, *limit);
        if (!flat && (i + 1) % 10 == 0) *limit = new_line(out, indent, *limit);
        if (arg && *limit <= 0) return false;
    }
    return true;
}

int32_t mold_image(const Cell* value, Cell* out, bool only, bool flat, const Cell* arg, int32_t limit, int32_t indent) {
    // Everything is read before the first append allocates: the collector
    // may move or renumber what value refers to.
    uint32_t w = image_width(value), h = image_height(value);
    bool has_pixels = image_bitmap(value) && w * h > 0;
    // Colour and transparency both start at the head, so that loading the
    // molded text gives back the same pixels from the head on.
    std::vector<uint32_t> pixels;
    if (has_pixels) {
        Pixels px(value, false);
        for (uint32_t i = head_of(value), n = w * h; i < n; ++i) pixels.push_back(px.at(i));
    }
    if (!only) limit = append_cstr_limit(out, "make image! [", limit);
    std::string size = std::to_string(w) + "x" + std::to_string(h);
    limit = append_ascii_limit(out, size.data(), size.size(), limit);
    if (!has_pixels) {
        limit = append_cstr_limit(out, " #{}", limit);
        return only ? limit : append_cstr_limit(out, "]", limit);
    }
    limit = append_cstr_limit(out, " #{", limit);
    uint64_t bytes = uint64_t(pixels.size()) * 4;
    if (!flat && bytes > 30) limit = new_line(out, indent, limit);
    if (!append_pixels(out, pixels, true, flat, indent, arg, &limit)) return limit;
    if (!flat && bytes > 30 && pixels.size() % 10 != 0) limit = new_line(out, indent - 1, limit);
    limit = append_cstr_limit(out, "}", limit);
    bool transparent = std::any_of(pixels.begin(), pixels.end(), [](uint32_t p) { return (p >> 24) != 255; });
    if (transparent) {
        limit = append_cstr_limit(out, " #{", limit);
        limit = new_line(out, indent, limit);
        if (!append_pixels(out, pixels, false, flat, indent, arg, &limit)) return limit;
        limit = new_line(out, indent - 1, limit);
        limit = append_cstr_limit(out, "}", limit);
    }
    return only ? limit : append_cstr_limit(out, "]", limit);
}

int32_t image_mold(const Cell* value, Cell* out, bool only, bool, bool flat, const Cell* arg, int32_t limit,
                   int32_t indent) {
    return mold_image(value, out, only, flat, arg, limit, indent + 1);
}

int32_t image_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    return mold_image(value, out, false, false, arg, limit, 0);
}

}  // namespace

// ================================================================== channels as binaries

namespace {

enum Channel { CH_ALPHA = 0, CH_RGB = 1, CH_ARGB = 2 };

void pixels_to_binary(const Cell* img, int kind, Cell* out) {
    uint32_t n = image_pixel_count(img);
    std::vector<uint8_t> bytes;
    if (n > 0 && image_bitmap(img)) {
        bytes.reserve(size_t(n) * (kind == CH_ALPHA ? 1 : kind == CH_RGB ? 3 : 4));
        Pixels px(img, false);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t p = px.at(i);
            if (kind == CH_ALPHA) {
                bytes.push_back(uint8_t(255 - (p >> 24)));
            } else if (kind == CH_RGB) {
                bytes.push_back(uint8_t(p >> 16));
                bytes.push_back(uint8_t(p >> 8));
                bytes.push_back(uint8_t(p));
            } else {
                for (int k = 0; k < 4; ++k) bytes.push_back(uint8_t(p >> (8 * k)));
            }
        }
    }
    *out = *binary_push_memory(bytes.data(), uint32_t(bytes.size()));
}

// One value for every pixel: an integer's bytes (low first) read like a tuple's components.
void fill_channel(Pixels& px, uint32_t n, int kind, uint32_t c) {
    uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF, t = c >> 24;
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t& p = px.at(i);
        if (kind == CH_ARGB) p = pixel_word(r, g, b, 255 - t);
        else if (kind == CH_RGB) p = (p & 0xFF000000u) | pixel_word(r, g, b, 0);
        else p = (p & 0x00FFFFFFu) | ((255 - c) & 0xFF) << 24;
    }
}

void pixels_from_binary(Cell* img, const Cell* value, int kind) {
    uint32_t n = image_pixel_count(img);
    if (n == 0 || !image_bitmap(img)) return;
    TypeId t = cell_type(value);
    if (t == T_BINARY) {
        std::vector<uint8_t> bytes(binary_head_address(value), binary_head_address(value) + binary_length(value));
        size_t L = bytes.size();
        Pixels px(img, true);
        if (kind == CH_ARGB) {
            for (size_t i = 0, m = std::min<size_t>(L / 4, n); i < m; ++i) std::memcpy(&px.at(uint32_t(i)), &bytes[i * 4], 4);
            if (L < size_t(n) * 4 && L % 4) {
                // A last partial pixel takes the bytes it has, low first.
                uint32_t& p = px.at(uint32_t(L / 4));
                std::memcpy(&p, &bytes[L / 4 * 4], L % 4);
            }
        } else if (kind == CH_RGB) {
            for (size_t i = 0, m = std::min<size_t>(L / 3, n); i < m; ++i) {
                uint32_t& p = px.at(uint32_t(i));
                p = (p & 0xFF000000u) | pixel_word(bytes[i * 3], bytes[i * 3 + 1], bytes[i * 3 + 2], 0);
            }
        } else {
            for (size_t i = 0, m = std::min<size_t>(L, n); i < m; ++i) {
                uint32_t& p = px.at(uint32_t(i));
                p = (p & 0x00FFFFFFu) | uint32_t(255 - bytes[i]) << 24;
            }
        }
    } else if (t == T_TUPLE || t == T_INTEGER) {
        uint32_t c;
        if (t == T_INTEGER) {
            c = uint32_t(get_integer(value));
        } else {
            uint8_t bytes[TUPLE_MAX];
            tuple_bytes(value, bytes);
            c = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t(tuple_count(value) >= 4 ? bytes[3] : 0) << 24;
        }
        Pixels px(img, true);
        fill_channel(px, n, kind, c);
    } else {
        raise_error(err::script::invalid_arg, value);
    }
    ownership_notice(img, ChangeWord::poke, value, int32_t(series_index(img)), 0);
}

int channel_of(const Cell* word) {
    if (series_is_word(word, "argb")) return CH_ARGB;
    if (series_is_word(word, "rgb")) return CH_RGB;
    if (series_is_word(word, "alpha")) return CH_ALPHA;
    return -1;
}

void image_eval_path(PathStep& step) {
    Cell* img = step.parent;
    const Cell* element = step.element;
    if (cell_is(element, T_INTEGER) || cell_is(element, T_PAIR)) {
        if (step.set) {
            poke_pixel(img, element, step.set);
            *step.result = *step.set;
        } else {
            pick_pixel(img, element, step.result);
        }
        return;
    }
    Cell none;
    set_none(&none);
    const Cell* path = step.path ? step.path : &none;
    if (!type_is_word(cell_type(element))) raise_error(err::script::invalid_path, path, element);
    if (series_is_word(element, "size")) {
        if (step.set) raise_error(err::script::invalid_path, path, element);
        pair_make_cell(step.result, int32_t(image_width(img)), int32_t(image_height(img)));
        return;
    }
    int kind = channel_of(element);
    if (kind < 0) raise_error(err::script::invalid_path, path, element);
    if (step.set) {
        pixels_from_binary(img, step.set, kind);
        *step.result = *step.set;
    } else {
        pixels_to_binary(img, kind, step.result);
    }
}

}  // namespace

// ================================================================== compare

namespace {

int image_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_IMAGE)) return CMP_NOT_COMPARABLE;
    bool same = series_node(a) == series_node(b) && series_index(a) == series_index(b);
    if (same && (op == CMP_SAME || op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL)) return 0;
    if (op == CMP_SAME) return -1;
    if (op != CMP_EQUAL && op != CMP_NOT_EQUAL && op != CMP_STRICT_EQUAL && op != CMP_SORT && op != CMP_CASE_SORT &&
        op != CMP_FIND)
        return CMP_NOT_COMPARABLE;
    uint32_t na = image_pixel_count(a), nb = image_pixel_count(b);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    bool ha = image_bitmap(a) != nullptr, hb = image_bitmap(b) != nullptr;
    if (!ha || !hb) return ha == hb ? 0 : ha ? 1 : -1;
    // Pixel by pixel from the first, byte by byte in memory order: the shapes do not count.
    Pixels pa(a, false), pb(b, false);
    for (uint32_t i = 0; i < na; ++i) {
        uint32_t x = pa.at(i), y = pb.at(i);
        if (x == y) continue;
        int d = std::memcmp(&x, &y, 4);
        return d < 0 ? -1 : 1;
    }
    return 0;
}

}  // namespace

// ================================================================== series actions

namespace {

void image_at(ActionFrame& f) { f.args->w1 = pixel_index(f.args, f.args + 1, 1, false).position; }
void image_skip(ActionFrame& f) { f.args->w1 = pixel_index(f.args, f.args + 1, 0, false).position; }
void image_next(ActionFrame& f) {
    if (series_index(f.args) + 1 <= image_pixel_count(f.args)) f.args->w1 += 1;
}
void image_tail(ActionFrame& f) { f.args->w1 = image_pixel_count(f.args); }
void image_tail_q(ActionFrame& f) { set_logic(f.args, series_index(f.args) >= image_pixel_count(f.args)); }
void image_length_q(ActionFrame& f) { set_integer(f.args, int32_t(image_pixel_count(f.args))); }

void image_pick(ActionFrame& f) { pick_pixel(f.args, f.args + 1, f.args); }

void image_poke(ActionFrame& f) {
    poke_pixel(f.args, f.args + 1, f.args + 2);
    f.args[0] = f.args[2];
}

// The rectangle a /part pair or position names, from the head's column and row.
void image_copy(ActionFrame& f) {
    Cell* img = f.args;
    int64_t w = image_width(img), h = image_height(img), n = w * h;
    if (w == 0 || h == 0) {
        f.args[0] = *image_push(nullptr, 0, 0);
        return;
    }
    int64_t head = series_index(img);
    int64_t x0 = head % w, y0 = head / w;
    if (!f.has(ref::copy_part)) {
        f.args[0] = head == 0 ? *push_whole_copy(img) : *push_rect_copy(img, x0, y0, w - x0, h - y0);
        return;
    }
    const Cell* part = f.ref_arg(ref::copy_part);
    if (cell_is(part, T_INTEGER)) raise_error(err::internal::not_done);
    if (cell_is(part, T_PAIR)) {
        int64_t pw = pair_x(part), ph = pair_y(part);
        if (pw > 0 && ph > 0 && head < n) {
            f.args[0] = *push_rect_copy(img, x0, y0, std::min(pw, w - x0), std::min(ph, h - y0));
        } else if (pw < 0 && ph < 0 && head > 0) {
            // The rectangle that ends at the head.
            int64_t cw = -pw, ch = -ph;
            if (x0 == 0) x0 = w;
            if (cw > x0) { cw = x0; x0 = 0; } else { x0 -= cw; }
            if (y0 < h) y0 += 1;
            if (ch > y0) { ch = y0; y0 = 0; } else { y0 -= ch; }
            f.args[0] = *push_rect_copy(img, x0, y0, cw, ch);
        } else {
            f.args[0] = *image_push(nullptr, 0, 0);
        }
        return;
    }
    if (cell_is(part, T_IMAGE) && series_node(part) == series_node(img)) {
        int64_t a = series_index(img), b = series_index(part);
        int64_t start = std::min(a, b), end = std::max(a, b);
        int64_t sx = start % w, sy = start / w;
        f.args[0] = *push_rect_copy(img, sx, sy, end % w - sx, end / w - sy);
        return;
    }
    raise_bad_refine("part", part);
}

// Writes a source image's rows from the head's column and row, clipped at
// both images' edges; the head ends past the last pixel written.
void change_with_image(Cell* img, const Cell* source) {
    uint32_t w = image_width(img), h = image_height(img), n = w * h;
    uint32_t head = series_index(img);
    if (head >= n) return;
    bool owned = ownership_notice(img, ChangeWord::change, source, int32_t(head), 1);
    uint32_t x0 = head % w, y0 = head / w;
    uint32_t sw = image_width(source), sh = image_height(source);
    uint32_t cols = std::min(sw, w - x0), rows = std::min(sh, h - y0);
    if (cols > 0 && rows > 0 && image_bitmap(source)) {
        std::vector<uint32_t> staged(size_t(cols) * rows);
        {
            Pixels from(source, false);
            for (uint32_t y = 0; y < rows; ++y) std::memcpy(&staged[size_t(y) * cols], from.row(y), size_t(cols) * 4);
        }
        Pixels to(img, true);
        for (uint32_t y = 0; y < rows; ++y) std::memcpy(to.row(y0 + y) + x0, &staged[size_t(y) * cols], size_t(cols) * 4);
    }
    // An empty source writes no row: the head stays where it was.
    uint32_t last_row = rows > 0 ? y0 + rows - 1 : y0;
    uint32_t new_head = rows > 0 ? last_row * w + std::min(x0 + sw, w) : head;
    img->w1 = new_head;
    if (owned) ownership_notice(img, ChangeWord::changed, nullptr, int32_t(head), int32_t(cols * rows));
}

void image_change(ActionFrame& f) {
    Cell* img = f.args;
    const Cell* value = f.args + 1;
    if (f.has(ref::append_part)) raise_error(err::internal::not_done);
    if (f.has(ref::append_dup)) {
        const Cell* dup = f.ref_arg(ref::append_dup);
        if (!cell_is(dup, T_INTEGER) || get_integer(dup) > 1) raise_error(err::internal::not_done);
    }
    if (cell_is(value, T_TUPLE)) {
        uint32_t head = series_index(img);
        bool owned = ownership_notice(img, ChangeWord::change, value, int32_t(head), 1);
        Cell one;
        set_integer(&one, 1);
        poke_pixel(img, &one, value);
        image_next(f);
        if (owned) ownership_notice(img, ChangeWord::changed, nullptr, int32_t(head), 1);
        return;
    }
    if (cell_is(value, T_IMAGE)) {
        change_with_image(img, value);
        return;
    }
    raise_error_type(err::script::invalid_type, cell_type(value));
}

}  // namespace

// ================================================================== codecs

bool image_binary_has_signature(const uint8_t* bytes, uint32_t length) {
    auto starts = [&](const char* sig, uint32_t n) { return length >= n && std::memcmp(bytes, sig, n) == 0; };
    return starts("\x89PNG", 4) || starts("\xFF\xD8\xFF", 3) || starts("BM", 2) || starts("GIF87a", 6) ||
           starts("GIF89a", 6) || starts("II*\0", 4) || starts("MM\0*", 4);
}

void image_encode(const Cell* img_in, Cell* out, int format) {
    StackScope scope;
    Cell* img = stack_push_copy(img_in);
    if (img->w3 == 0) raise_error(err::access::bad_media);
    uint32_t w = image_width(img), h = image_height(img);
    if (w == 0 || h == 0 || !image_bitmap(img)) {
        Cell* empty = stack_push();
        binary_make_cell(empty, 1);
        *out = *empty;
        return;
    }
    std::vector<uint8_t> bytes;
    if (!os::bitmap_encode(image_bitmap(img), w, h, format, &bytes)) raise_error(err::access::bad_media);
    *out = *binary_push_memory(bytes.data(), uint32_t(bytes.size()));
}

void image_decode(const Cell* data, Cell* out) {
    StackScope scope;
    uint32_t length = binary_length(data);
    if (!image_binary_has_signature(binary_head_address(data), length)) {
        set_none(out);
        return;
    }
    // Staged: the platform decoder must not read a buffer the collector may move.
    std::vector<uint8_t> bytes(binary_head_address(data), binary_head_address(data) + length);
    os::Bitmap* bitmap = nullptr;
    uint32_t w = 0, h = 0;
    os::ImageStatus status = os::bitmap_decode(bytes.data(), bytes.size(), &bitmap, &w, &h);
    if (status != os::ImageStatus::ok) {
        Cell size;
        pair_make_cell(&size, int32_t(w), int32_t(h));
        raise_status(status, &size);
    }
    *out = *image_push(bitmap, w, h);
}

void image_load_file(const Cell* file, const std::string& os_path, Cell* out) {
    StackScope scope;
    Cell* held = stack_push_copy(file);
    os::Bitmap* bitmap = nullptr;
    uint32_t w = 0, h = 0;
    os::ImageStatus status = os::bitmap_load_file(os_path, &bitmap, &w, &h);
    if (status == os::ImageStatus::bad_data) raise_error(err::access::cannot_open, held);
    if (status != os::ImageStatus::ok) {
        Cell size;
        pair_make_cell(&size, int32_t(w), int32_t(h));
        raise_status(status, &size);
    }
    *out = *image_push(bitmap, w, h);
}

// ================================================================== registration

void image_init() {
    if (!image_kind) image_kind = handle_registry_add("image", release_bitmap);
    gc_register_mark(T_IMAGE, mark_image);
    register_datatype(T_IMAGE, T_SERIES, "image!",
        image_make, nullptr, nullptr, image_to, image_form, image_mold, image_eval_path, nullptr,
        image_compare,                                                                             // make..compare
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,          // absolute..subtract
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,                                     // even?..xor~
        nullptr, image_at, inherit, image_change, nullptr, image_copy, nullptr,                   // append..find
        inherit, inherit, inherit, nullptr, image_length_q, nullptr,                              // head..move
        image_next, image_pick, image_poke, nullptr, nullptr, nullptr, nullptr,                   // next..select
        nullptr, image_skip, nullptr, image_tail, image_tail_q, nullptr, nullptr,                 // sort..trim
        nullptr, nullptr, nullptr, inherit, nullptr, nullptr, nullptr, nullptr, nullptr,          // create..rename
        nullptr, nullptr);                                                                        // update, write
}

}  // namespace tev

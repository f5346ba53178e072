// handle!: opaque operating-system references; they form as hexadecimal, compare by value and support nothing else.
#include "datatypes/handle.h"
#include <string>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "runtime/value_stack.h"

namespace tev {

void handle_make_cell(Cell* out, uint32_t os_handle, HandleKind kind) {
    cell_init(out, T_HANDLE);
    handle_set(out, kind, os_handle, -1);
}

void handle_make_in(Cell* block, uint32_t os_handle, HandleKind kind) {
    Cell h;
    handle_make_cell(&h, os_handle, kind);
    block_append(block, &h);
}

Cell* handle_push(uint32_t os_handle, HandleKind kind) {
    Cell* c = stack_push();
    handle_make_cell(c, os_handle, kind);
    return c;
}

Cell* handle_push_null() { return handle_push(0, HANDLE_NULL); }

static const char* const KIND_NAMES[] = {nullptr, "fd", "monitor", "window", "font", "rich-text"};

static std::string handle_digits(const Cell* value) {
    return std::string(string_int_to_hex(int32_t(handle_value(value)), false)) + "h";
}

static int32_t handle_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    std::string text = handle_digits(value);
    return append_ascii_limit(out, text.data(), text.size(), limit);
}

static int32_t handle_mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    if (!all) return append_cstr_limit(out, "handle!", limit);
    std::string text = "#[handle! " + handle_digits(value);
    uint32_t kind = handle_kind(value);
    if (kind > HANDLE_NULL && kind <= HANDLE_RICH_TEXT) text += std::string(" ") + KIND_NAMES[kind];
    text += "]";
    return append_ascii_limit(out, text.data(), text.size(), limit);
}

// The kind takes no part; there is no order against other types.
static int handle_compare(const Cell* a, const Cell* b, int) {
    if (!cell_is(b, T_HANDLE)) return 1;
    int32_t x = int32_t(handle_value(a)), y = int32_t(handle_value(b));
    return x < y ? -1 : x > y ? 1 : 0;
}

template <> void register_type<T_HANDLE>() {
    register_datatype(T_HANDLE, {
        .make = nullptr, .random = nullptr, .to = nullptr, .form = handle_form, .mold = handle_mold,
        .compare = handle_compare, .absolute = nullptr, .add = nullptr, .divide = nullptr,
        .multiply = nullptr, .negate = nullptr, .power = nullptr, .remainder = nullptr, .round = nullptr,
        .subtract = nullptr, .even_q = nullptr, .odd_q = nullptr, .and_t = nullptr, .complement = nullptr,
        .or_t = nullptr, .xor_t = nullptr
    });
}

}  // namespace tev

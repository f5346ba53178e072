// String, encoding and conversion natives: letter case, percent escapes, the
// base encodings, to-hex, the pair/point/money constructors, local file names,
// new-line markers and the zero-copy retyping `as`.
#include <cmath>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point2d.h"
#include "datatypes/point3d.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "interpreter/natives.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// ================================================================== letter case

// The argument is the result: a string changed in place, or the mapped char!.
void change_case(NativeCall& c, bool upper) {
    string_change_case(c.args, c.has(0) ? c.ref_arg(0) : nullptr, upper);
}

void native_uppercase(NativeCall& c) { change_case(c, true); }
void native_lowercase(NativeCall& c) { change_case(c, false); }

// ================================================================== percent escapes

void native_dehex(NativeCall& c) {
    std::string bytes = string_to_utf8(c.args);
    Cell* out = stack_push();
    string_make_width(out, uint32_t(bytes.size() ? bytes.size() : 1), node_buffer(series_node(c.args))->unit());
    url_percent_decode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
    *c.args = *out;
}

void native_enhex(NativeCall& c) {
    Cell* out = string_push(string_length(c.args) + 1);
    // A plain string keeps only the unreserved characters; the other text types
    // are names of resources and keep the URL table's.
    url_percent_encode(c.args, out, cell_is(c.args, T_STRING) ? URL_RULE_UNRESERVED : URL_RULE_URL);
    *c.args = *out;
}

// ================================================================== base encodings

// The /base argument (64 without it); any base but 2, 16, 58 and 64 raises invalid-arg.
int base_arg(NativeCall& c) {
    const Cell* base = c.ref_arg(0);
    if (!base) return 64;
    int32_t n = get_integer(base);
    if (n != 2 && n != 16 && n != 58 && n != 64) raise_error(err::script::invalid_arg, base);
    return n;
}

void native_enbase(NativeCall& c) {
    int base = base_arg(c);
    *c.args = *binary_enbase_push(base, c.args);
}

void native_debase(NativeCall& c) {
    int base = base_arg(c);
    Cell* bin = binary_debase_push(base, c.args);
    if (bin) *c.args = *bin;
    else set_none(c.args);
}

void native_to_hex(NativeCall& c) {
    int32_t keep = 8;
    if (const Cell* size = c.ref_arg(0)) {
        keep = get_integer(size);
        if (keep <= 0) raise_error(err::script::invalid_arg, size);
        if (keep > 8) keep = 8;
    }
    const char* digits = string_int_to_hex(get_integer(c.args), false);
    issue_make_cell(c.args, digits + (8 - keep));
}

// ================================================================== constructors

// A coordinate of a pair: integers as they are, floats truncated toward zero;
// NaN, infinities and floats beyond 32 bits raise invalid-arg.
int32_t pair_coordinate(const Cell* v) {
    if (cell_is(v, T_INTEGER)) return get_integer(v);
    double d = std::trunc(get_float(v));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) raise_error(err::script::invalid_arg, v);
    return int32_t(d);
}

double point_coordinate(const Cell* v) { return cell_is(v, T_INTEGER) ? double(get_integer(v)) : get_float(v); }

void native_as_pair(NativeCall& c) {
    int32_t x = pair_coordinate(c.args), y = pair_coordinate(c.args + 1);
    pair_make_cell(c.args, x, y);
}

void native_as_point2d(NativeCall& c) {
    point2d_make_cell(c.args, point_coordinate(c.args), point_coordinate(c.args + 1));
}

void native_as_point3d(NativeCall& c) {
    point3d_make_cell(c.args, point_coordinate(c.args), point_coordinate(c.args + 1), point_coordinate(c.args + 2));
}

void native_as_money(NativeCall& c) {
    uint32_t length;
    const uint8_t* code = symbol_spelling(int32_t(c.args[0].w2), &length);
    int index = money_currency_index_of(code, length);
    if (index < 0) raise_error(err::script::bad_denom, c.args);
    const Cell* amount = c.args + 1;
    Cell money;
    if (cell_is(amount, T_INTEGER)) money_from_integer(&money, get_integer(amount));
    else money_from_float(&money, get_float(amount));
    money_set_currency(&money, index);
    *c.args = money;
}

void native_to_local_file(NativeCall& c) {
    Cell* out = string_push(string_length(c.args) + 8);
    file_to_local_path(c.args, out, c.has(0));
    *c.args = *out;
}

// ================================================================== new-line markers

void native_new_line(NativeCall& c) {
    const bool on = get_logic(c.args + 1);
    uint32_t period = 0;
    if (c.has(0)) period = 1;
    if (const Cell* size = c.ref_arg(1)) {
        if (get_integer(size) <= 0) raise_error(err::script::out_of_range, size);
        period = uint32_t(get_integer(size));
    }
    const uint32_t n = block_length(c.args);
    if (period == 0) {
        if (n) {
            Cell* v = block_at(c.args, 0);
            if (on) cell_set_flag(v, FLAG_NEW_LINE);
            else cell_clear_flag(v, FLAG_NEW_LINE);
        }
        return;
    }
    // Every period-th value gets the marker as asked, the others the opposite.
    for (uint32_t i = 0; i < n; ++i) {
        Cell* v = block_at(c.args, i);
        if ((i % period == 0) == on) cell_set_flag(v, FLAG_NEW_LINE);
        else cell_clear_flag(v, FLAG_NEW_LINE);
    }
}

void native_new_line_q(NativeCall& c) {
    bool marked = block_length(c.args) > 0 && cell_has_flag(block_at(c.args, 0), FLAG_NEW_LINE);
    set_logic(c.args, marked);
}

// ================================================================== as

// 1 for the block class, 2 for the string class, 0 for neither.
int retype_class(TypeId t) {
    switch (t) {
    case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: return 1;
    case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: return 2;
    default: return 0;
    }
}

// The spec's cell under another datatype of its class: same buffer, same index.
void native_as(NativeCall& c) {
    TypeId target = cell_is(c.args, T_DATATYPE) ? TypeId(c.args[0].w1) : cell_type(c.args);
    TypeId source = cell_type(c.args + 1);
    int k = retype_class(target);
    if (k == 0 || k != retype_class(source)) {
        Cell from, to;
        set_datatype(&from, source);
        set_datatype(&to, target);
        raise_error(err::script::not_same_class, &from, &to);
    }
    Cell result = c.args[1];
    cell_set_type(&result, target);
    *c.args = result;
}

}  // namespace

void natives_strings_entries() {
    static const NativeEntry entries[] = {
        {"uppercase", native_uppercase}, {"lowercase", native_lowercase}, {"dehex", native_dehex},
        {"enhex", native_enhex}, {"enbase", native_enbase}, {"debase", native_debase},
        {"to-hex", native_to_hex}, {"as-pair", native_as_pair}, {"as-point2D", native_as_point2d},
        {"as-point3D", native_as_point3d}, {"as-money", native_as_money},
        {"to-local-file", native_to_local_file}, {"new-line", native_new_line},
        {"new-line?", native_new_line_q}, {"as", native_as},
    };
    add_native_entries(entries, int(sizeof entries / sizeof entries[0]));
}

}  // namespace tev

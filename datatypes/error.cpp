// error!: the catalogue object, making errors (from a code, a block or a text),
// the report that form writes, field access and comparison.
#include "datatypes/error.h"
#include <cstring>
#include <string>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/evaluation_hooks.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/context_table.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== catalogue

struct CatalogLine { bool is_type; const char* word; const char* text; };
static const CatalogLine catalog_lines[] = {
#define ERR_TYPE(t, word, caption) {true, word, caption},
#define ERR(t, c_name, word, message) {false, word, message},
#include "runtime/error_catalog.def"
#undef ERR
#undef ERR_TYPE
};

static Cell catalog_cell;       // object!: one field per error type
static Cell error_proto;        // object!: the ten error fields, all none
static bool ready = false;

bool errors_ready() { return ready; }
Cell* error_catalog() { return &catalog_cell; }

static const char* const field_names[ERR_FIELD_COUNT] = {
    "code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files"};

static void append_text(Cell* block, const char* s, size_t n) {
    Cell* str = stack_push();
    string_make(str, uint32_t(n));
    string_append_utf8(str, s, n);
    block_append(block, str);
    stack_pop(1);
}

// A catalogue message is a string, a word, or a block of strings and argument words.
static void message_value(const char* text, Cell* out) {
    Cell* holder = block_push_new(4);
    Cell* target = holder;
    const char* p = text;
    while (*p) {
        if (*p == ' ') { ++p; continue; }
        if (*p == '[') { target = block_push_new(4); ++p; continue; }
        if (*p == ']') { block_append(holder, target); target = holder; ++p; continue; }
        if (*p == '"') {
            const char* s = ++p;
            while (*p && *p != '"') ++p;
            append_text(target, s, size_t(p - s));
            if (*p) ++p;
            continue;
        }
        TypeId type = T_WORD;
        if (*p == ':') { type = T_GET_WORD; ++p; }
        const char* s = p;
        while (*p && *p != ' ' && *p != ']') ++p;
        Cell w = word_from_symbol(symbol_from_cstring(std::string(s, size_t(p - s)).c_str()));
        w.header = type;
        block_append(target, &w);
    }
    if (block_length(holder)) *out = *block_at(holder, 0);
    else set_none(out);
    vstack.top = holder;
}

static void put_field(NodeRef ctx, const char* name, const Cell* value) {
    Cell w = word_from_symbol(symbol_from_cstring(name));
    context_put_word_value(ctx, &w, value);
}

void errors_init() {
    static bool rooted = false;
    if (!rooted) {
        rooted = true;
        set_none(&catalog_cell);
        set_none(&error_proto);
        gc_add_root(&catalog_cell);
        gc_add_root(&error_proto);
    }
    StackScope scope;
    Cell* catalog = object_push_new(T_OBJECT, 0, 10);
    catalog_cell = *catalog;
    Cell* type_obj = nullptr;
    int type_pos = -1;
    Cell* v = stack_push();
    for (const CatalogLine& line : catalog_lines) {
        if (line.is_type) {
            ++type_pos;
            vstack.top = v + 1;
            type_obj = object_push_new(T_OBJECT, 0, 8);
            set_integer(v, type_pos * 100);
            put_field(object_context(type_obj), "code", v);
            string_make(v, 16);
            string_append_utf8(v, line.text, std::strlen(line.text));
            put_field(object_context(type_obj), "type", v);
            *context_self(object_context(type_obj)) = *type_obj;
            put_field(object_context(catalog), line.word, type_obj);
            continue;
        }
        message_value(line.text, v);
        put_field(object_context(type_obj), line.word, v);
    }
    *context_self(object_context(catalog)) = *catalog;
    vstack.top = v;
    Cell* proto = object_push_new(T_OBJECT, 0, ERR_FIELD_COUNT);
    Cell none;
    set_none(&none);
    for (const char* name : field_names) put_field(object_context(proto), name, &none);
    error_proto = *proto;
    ready = true;
}

// ================================================================== making

static Cell* values_of(const Cell* obj) { return node_buffer(context_cell_values(context_cell(object_context(obj))))->cells(); }

Cell* error_field(const Cell* error, ErrorField field) { return values_of(error) + field; }

static uint32_t type_count() { return context_word_count(object_context(&catalog_cell)); }

// The type object at a catalogue position.
static Cell* catalog_type(uint32_t pos) { return values_of(&catalog_cell) + pos; }

bool error_code_known(uint32_t code) {
    uint32_t type_pos = code / 100, id_field = code % 100 + 2;
    if (type_pos >= type_count()) return false;
    return id_field < context_word_count(object_context(catalog_type(type_pos)));
}

// A new error object with every field none.
static Cell* error_push_blank() {
    Cell* e = object_push_new(T_ERROR, object_context(&error_proto), ERR_FIELD_COUNT);
    Cell* f = values_of(e);
    for (uint32_t k = 0; k < ERR_FIELD_COUNT; ++k) set_none(f + k);
    object_set_class_id(e, 1);
    *context_self(object_context(e)) = *e;
    return e;
}

static void set_code_fields(Cell* e, uint32_t type_pos, uint32_t id_field) {
    Cell* f = values_of(e);
    set_integer(f + ERR_FIELD_CODE, int32_t(type_pos * 100 + id_field - 2));
    f[ERR_FIELD_TYPE] = *context_word_at(object_context(&catalog_cell), type_pos);
    Cell type_obj = *catalog_type(type_pos);
    f = values_of(e);
    f[ERR_FIELD_ID] = *context_word_at(object_context(&type_obj), id_field);
}

Cell* error_push_from_code(uint32_t code, const Cell* a1, const Cell* a2, const Cell* a3) {
    Cell args[3];
    const Cell* given[3] = {a1, a2, a3};
    for (int k = 0; k < 3; ++k) {
        if (given[k]) args[k] = *given[k];
        else set_none(&args[k]);
    }
    Cell* held = stack_push();
    *held = args[0];
    stack_push_copy(&args[1]);
    stack_push_copy(&args[2]);
    Cell* e = error_push_blank();
    set_code_fields(e, code / 100, code % 100 + 2);
    Cell* f = values_of(e);
    f[ERR_FIELD_ARG1] = held[0];
    f[ERR_FIELD_ARG2] = held[1];
    f[ERR_FIELD_ARG3] = held[2];
    f[ERR_FIELD_NEAR] = *evaluation_hooks.current_evaluation();
    if (cell_is(f + ERR_FIELD_NEAR, T_UNSET)) set_none(f + ERR_FIELD_NEAR);
    Cell r = *e;
    vstack.top = held;
    *held = r;
    vstack.top = held + 1;
    return held;
}

// make error! 400, make error! [math zero-divide], make error! [type: 'math id: 'positive],
// make error! "text"
static void error_make(ActionFrame& f) {
    Cell* spec = f.args + 1;
    if (cell_is(spec, T_STRING)) {
        Cell* e = error_push_from_code(err::user::message.code, spec, nullptr, nullptr);
        set_none(error_field(e, ERR_FIELD_NEAR));
        *f.args = *e;
        return;
    }
    if (cell_is(spec, T_INTEGER)) {
        int32_t code = get_integer(spec);
        if (code < 0) raise_error(err::script::out_of_range, spec);
        if (!error_code_known(uint32_t(code))) raise_error(err::script::out_of_range, spec);
        uint32_t type_pos = uint32_t(code) / 100, id_field = uint32_t(code) % 100 + 2;
        Cell* e = error_push_blank();
        set_code_fields(e, type_pos, id_field);
        *error_field(e, ERR_FIELD_NEAR) = *evaluation_hooks.current_evaluation();
        *f.args = *e;
        return;
    }
    if (!cell_is(spec, T_BLOCK)) {
        Cell proto;
        set_datatype(&proto, T_ERROR);
        raise_error(err::script::bad_make_arg, &proto, spec);
    }
    Cell* e = error_push_blank();
    Cell type_w, id_w;
    if (block_length(spec) && cell_is(block_at(spec, 0), T_WORD)) {
        type_w = *block_at(spec, 0);
        if (block_length(spec) < 2) {
            Cell w = word_from_symbol(symbol_from_cstring("id"));
            raise_error(err::script::invalid_spec_field, &w);
        }
        id_w = *block_at(spec, 1);
        if (!cell_is(&id_w, T_WORD)) raise_error(err::script::invalid_arg, &id_w);
    } else if (block_length(spec) && cell_is(block_at(spec, 0), T_SET_WORD)) {
        context_bind_block(spec, object_context(e), true);
        Cell* mark = vstack.top;
        evaluation_hooks.eval_block(spec);
        vstack.top = mark;
        type_w = *error_field(e, ERR_FIELD_TYPE);
        id_w = *error_field(e, ERR_FIELD_ID);
    } else {
        raise_error(err::internal::invalid_error);
    }
    int32_t type_slot = cell_is(&type_w, T_WORD) ? context_find_symbol(object_context(&catalog_cell), word_symbol(&type_w), true) : -1;
    if (type_slot < 0) {
        Cell w = word_from_symbol(symbol_from_cstring("type"));
        raise_error(err::script::invalid_spec_field, &w);
    }
    Cell type_obj = *catalog_type(uint32_t(type_slot));
    int32_t id_slot = cell_is(&id_w, T_WORD) ? context_find_symbol(object_context(&type_obj), word_symbol(&id_w), true) : -1;
    if (id_slot < 2) {
        Cell w = word_from_symbol(symbol_from_cstring("id"));
        raise_error(err::script::invalid_spec_field, &w);
    }
    Cell* fl = values_of(e);
    set_integer(fl + ERR_FIELD_CODE, type_slot * 100 + id_slot - 2);
    fl[ERR_FIELD_TYPE] = type_w;
    fl[ERR_FIELD_ID] = id_w;
    fl[ERR_FIELD_NEAR] = *evaluation_hooks.current_evaluation();
    *f.args = *e;
}

// ================================================================== the report

// Appends v formed or molded, cut at `cut` characters. A report never fails: a
// value that cannot be shown appears as its datatype's name.
static int32_t append_cut(Cell* out, const Cell* v_in, bool mold, bool only, int32_t cut, int32_t limit) {
    Cell* v = stack_push_copy(v_in);
    Cell* tmp = stack_push();
    string_make(tmp, 32);
    try {
        if (mold) mold_dispatch(v, tmp, only, false, true, cut);
        else form_dispatch(v, tmp, cut);
    } catch (const LanguageThrow&) {
        vstack.top = tmp + 1;
        string_make(tmp, 16);
        const char* name = datatype_name(cell_type(v));
        string_append_cstr(tmp, name ? name : "?");
    }
    uint32_t n = string_length(tmp);
    if (n > uint32_t(cut)) n = uint32_t(cut);
    for (uint32_t k = 0; k < n; ++k) string_append_codepoint(out, string_char_at(tmp, k));
    stack_pop(2);
    return limit - int32_t(n);
}

static int32_t append_str(Cell* out, const char* s, int32_t limit) {
    string_append_cstr(out, s);
    return limit - int32_t(std::strlen(s));
}

int32_t error_form_report(const Cell* error_in, Cell* out, int32_t limit) {
    StackScope scope;
    Cell* e = stack_push_copy(error_in);
    limit = append_str(out, "*** ", limit);
    Cell* f = values_of(e);
    Cell type_w = f[ERR_FIELD_TYPE], id_w = f[ERR_FIELD_ID];
    auto invalid = [&](const Cell* bad) {
        Cell b = *bad;
        Cell* fl = values_of(e);
        fl[ERR_FIELD_ARG1] = b;
        set_code_fields(e, err::internal::invalid_error.code / 100, err::internal::invalid_error.code % 100 + 2);
    };
    int32_t type_slot = type_is_word(cell_type(&type_w)) ? context_find_symbol(object_context(&catalog_cell), word_symbol(&type_w), true) : -1;
    if (type_slot < 0) { invalid(&type_w); type_slot = int32_t(err::internal::invalid_error.code / 100); }
    Cell* type_obj = stack_push_copy(catalog_type(uint32_t(type_slot)));
    id_w = values_of(e)[ERR_FIELD_ID];
    int32_t id_slot = type_is_word(cell_type(&id_w)) ? context_find_symbol(object_context(type_obj), word_symbol(&id_w), true) : -1;
    if (id_slot < 2) {
        invalid(&id_w);
        *type_obj = *catalog_type(err::internal::invalid_error.code / 100);
        id_slot = int32_t(err::internal::invalid_error.code % 100 + 2);
    }
    Cell* message = stack_push_copy(values_of(type_obj) + id_slot);
    if (cell_is(message, T_WORD)) {
        int32_t s = context_find_symbol(object_context(e), word_symbol(message), true);
        if (s >= 0) *message = values_of(e)[s];
    }
    Cell* caption = stack_push_copy(values_of(type_obj) + 1);
    form_dispatch(caption, out);
    limit -= int32_t(string_length(caption));
    limit = append_str(out, ": ", limit);
    bool syntax = type_slot == int32_t(err::syntax::invalid.code / 100);
    if (cell_is(message, T_STRING)) {
        form_dispatch(message, out);
        limit -= int32_t(string_length(message));
    } else if (cell_is(message, T_BLOCK)) {
        uint32_t n = block_length(message);
        for (uint32_t k = 0; k < n; ++k) {
            Cell m = *block_at(message, k);
            if (cell_is(&m, T_STRING)) {
                form_dispatch(&m, out);
                limit -= int32_t(string_length(&m));
            } else if (cell_is(&m, T_WORD) || cell_is(&m, T_GET_WORD)) {
                int32_t s = context_find_symbol(object_context(e), word_symbol(&m), true);
                if (s >= 0) {
                    Cell* arg = stack_push_copy(values_of(e) + s);
                    limit = append_cut(out, arg, !syntax, false, 80, limit);
                    stack_pop(1);
                }
            }
            if (k + 1 < n) limit = append_str(out, " ", limit);
        }
    }
    limit = append_str(out, "\n*** Where: ", limit);
    Cell* where = stack_push_copy(values_of(e) + ERR_FIELD_WHERE);
    if (type_is_word(cell_type(where)) || cell_is(where, T_STRING)) {
        form_dispatch(where, out);
    } else {
        limit = append_str(out, "???", limit);
    }
    limit = append_str(out, "\n*** Near : ", limit);
    Cell* near = stack_push_copy(values_of(e) + ERR_FIELD_NEAR);
    limit = append_cut(out, near, true, true, 40, limit);
    Cell* files = stack_push_copy(values_of(e) + ERR_FIELD_FILES);
    if (cell_is(files, T_BLOCK)) {
        limit = append_str(out, "\n*** Files: ", limit);
        limit = append_cut(out, files, true, true, 40, limit);
    }
    return limit;
}

static int32_t error_form(const Cell* v, Cell* out, const Cell*, int32_t limit) {
    return error_form_report(v, out, limit);
}

static int32_t error_mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell*,
                          int32_t limit, int32_t indent) {
    // An error that holds itself (e/arg1: e) ends the walk at the inner occurrence.
    if (cycle_find(object_context(v))) {
        const char* marker = cycle_marker(T_ERROR, true);
        string_append_cstr(out, marker);
        return limit - int32_t(std::strlen(marker));
    }
    if (!only) {
        string_append_cstr(out, "make error! [");
        limit -= 13;
    }
    limit = object_mold_body(v, out, false, all, flat, limit, true, indent + 1, true);
    if (indent > 0) limit = mold_indent(out, indent, limit);
    if (!only) {
        string_append_cstr(out, "]");
        --limit;
    }
    return limit;
}

static int error_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_ERROR)) return CMP_NOT_COMPARABLE;
    Cell x = *a, y = *b;
    x.header = T_OBJECT;
    y.header = T_OBJECT;
    CompareFn fn = action_of<Act::compare>(T_OBJECT);
    return fn ? fn(&x, &y, op) : CMP_NOT_COMPARABLE;
}

Cell* error_make_for_raise(uint32_t code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    return errors_ready() ? error_push_from_code(code, arg1, arg2, arg3) : nullptr;
}

int32_t error_code_of(const Cell* error) {
    Cell* code = error_field(error, ERR_FIELD_CODE);
    return cell_is(code, T_INTEGER) ? get_integer(code) : -1;
}

template <> void register_type<T_ERROR>() {
    register_datatype(T_ERROR, {
        .make = error_make, .form = error_form, .mold = error_mold, .compare = error_compare,
        .copy = nullptr, .put = nullptr, .select = nullptr, .modify = nullptr
    });
}

}  // namespace tev

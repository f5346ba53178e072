// The word family: six datatypes sharing one cell layout, differing in evaluation role and text prefix.
#include "datatypes/word.h"
#include <algorithm>
#include <cstring>
#include <string>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "loader/lexer.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================ making

Cell* word_make_global(int32_t symbol, Cell* cell) {
    Cell w;
    cell_init(&w, T_WORD);
    word_set_symbol(&w, symbol);
    int32_t slot = context_add_word(global_context(), &w);
    cell->header = (cell->header & ~CELL_TYPE_MASK) | T_WORD;
    word_set(cell, global_context(), symbol, slot);
    return cell;
}

void word_append_global(int32_t symbol, Cell* block) {
    Cell w;
    cell_init(&w, T_WORD);
    word_make_global(symbol, &w);  // bound to the global context: nothing to root
    SeriesBuffer* b = series_ensure_room(series_node(block), sizeof(Cell));
    *reinterpret_cast<Cell*>(b->tail_ptr()) = w;
    b->tail += sizeof(Cell);
}

Cell* word_push_global(int32_t symbol) {
    Cell* c = stack_push();
    return word_make_global(symbol, c);
}

Cell* issue_make_cell(Cell* cell, const char* name) {
    int32_t symbol = symbol_from_cstring(name);
    cell_init(cell, T_ISSUE);
    word_set(cell, global_context(), symbol, WORD_NO_INDEX);
    return cell;
}

Cell* issue_push_cstring(const char* name) {
    Cell* c = stack_push();
    return issue_make_cell(c, name);
}

// ================================================================ pushing

Cell* word_push(const Cell* word) { return stack_push_copy(word); }

Cell* word_push_slot(NodeRef ctx, uint32_t n) { return stack_push_copy(context_word_at(ctx, n)); }

Cell* word_push_as(const Cell* word, TypeId type) {
    Cell* c = stack_push_copy(word);
    cell_set_type(c, type);
    return c;
}

Cell* word_push_slot_as(NodeRef ctx, uint32_t n, TypeId type) {
    return word_push_as(context_word_at(ctx, n), type);
}

Cell* word_push_value(const Cell* word) {
    Cell w = *word;
    Cell* v = stack_push_copy(word_get_value(&w));
    if (cell_is(v, T_UNSET)) {
        stack_pop(1);
        raise_error(err::script::no_value, &w);
    }
    return v;
}

Cell* get_word_push_value(const Cell* word) {
    Cell w = *word;
    return stack_push_copy(word_get_value(&w));
}

Cell* word_push_slot_value(NodeRef ctx, uint32_t n) {
    Cell* cc = context_cell(ctx);
    if (!context_cell_values(cc)) raise_error(err::script::not_defined, context_word_at(ctx, n));
    if (context_on_stack(ctx)) return stack_push_copy(context_stack_args(ctx) + n);
    return stack_push_copy(context_slot_address_raw(ctx, n));
}

Cell* word_push_as_string(const Cell* word) {
    std::string text = symbol_text(word_symbol(word));
    return string_load(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), nullptr, 0);
}

// ================================================================ slots

Cell* word_at_slot(NodeRef ctx, uint32_t n) { return context_word_at(ctx, n); }

Cell* context_slot_address_raw(NodeRef ctx, uint32_t n) {
    return node_buffer(context_cell_values(context_cell(ctx)))->cells() + n;
}

static void mark_slot_assigned(NodeRef ctx, uint32_t n) {
    if (context_kind(ctx) == CTX_KIND_OBJECT) cell_set_flag(context_word_at(ctx, n), FLAG_SLOT_SET);
}

void word_set_slot_value(NodeRef ctx, uint32_t n) {
    *context_slot_address_raw(ctx, n) = *stack_top();
    mark_slot_assigned(ctx, n);
}

void word_set_slot_keep_old(NodeRef ctx, uint32_t n) {
    Cell taken = *stack_top();
    stack_push_copy(context_slot_address_raw(ctx, n));
    *context_slot_address_raw(ctx, n) = taken;
    mark_slot_assigned(ctx, n);
}

void set_word_eval(Cell* args) {
    if (cell_is(args + 1, T_UNSET)) raise_error(err::script::need_value, args);
    word_set_value(args, args + 1);
    args[0] = args[1];
}

// ================================================================ form and mold

// Appends the spelling (at most `limit` characters with /part) and returns the
// budget left. The spelling is copied first: the symbol table is never touched,
// so an error unwinding through here leaves every symbol entry as it was.
static int32_t word_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    std::string text = symbol_text(word_symbol(value));
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text.data());
    uint32_t chars = utf8_count_chars(s, s + text.size());
    size_t bytes = text.size();
    if (arg) {
        uint32_t keep = std::min<uint32_t>(chars, uint32_t(std::max(limit, 0)));
        bytes = size_t(utf8_skip_chars(s, s + text.size(), keep) - s);
    }
    string_append_utf8(out, text.data(), bytes);
    return limit - int32_t(std::min<uint32_t>(chars, INT32_MAX));
}

static int32_t word_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return word_form(value, out, arg, limit);
}

static int32_t mold_with_prefix(const Cell* value, Cell* out, const Cell* arg, int32_t limit, char prefix) {
    Cell w = *value;  // value may lie in a buffer that the append moves
    string_append_ascii(out, &prefix, 1);
    return word_form(&w, out, arg, limit) - 1;
}

static int32_t mold_set_word(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    limit = word_form(value, out, arg, limit);
    string_append_ascii(out, ":", 1);
    return limit - 1;
}
static int32_t mold_lit_word(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return mold_with_prefix(value, out, arg, limit, '\'');
}
static int32_t mold_get_word(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return mold_with_prefix(value, out, arg, limit, ':');
}
static int32_t mold_refinement(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return mold_with_prefix(value, out, arg, limit, '/');
}
static int32_t mold_issue(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return mold_with_prefix(value, out, arg, limit, '#');
}

// ================================================================ compare

static int word_compare(const Cell* a, const Cell* b, int op) {
    TypeId ta = cell_type(a), tb = cell_type(b);
    if (!type_is_word(tb) || (tb == T_ISSUE && ta != T_ISSUE)) return CMP_NOT_COMPARABLE;
    int32_t sa = word_symbol(a), sb = word_symbol(b);
    auto differ = [](bool same) { return same ? 0 : 1; };
    bool word_vs_lit = (ta == T_WORD && tb == T_LIT_WORD) || (ta == T_LIT_WORD && tb == T_WORD);
    switch (op) {
        case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_FIND:
            return differ(symbol_resolve_alias(sa) == symbol_resolve_alias(sb));
        case CMP_STRICT_EQUAL:
            return differ(ta == tb && sa == sb);
        case CMP_SAME:
            return differ(sa == sb && word_context(a) == word_context(b) && ta == tb);
        case CMP_EQUAL_10:
            return differ((word_vs_lit || ta == tb) && sa == sb);
        case CMP_EQUAL_11:
            return differ((word_vs_lit || ta == tb) && symbol_resolve_alias(sa) == symbol_resolve_alias(sb));
        default:
            return symbol_compare(sa, sb, op);
    }
}

static int issue_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_ISSUE)) return CMP_NOT_COMPARABLE;
    return word_compare(a, b, op);
}

// ================================================================ make and to

// The first value the text holds, as the lexer loads it (words bound to the
// global context); none when it holds none or is not valid syntax.
static Cell scan_first_value(const std::string& text) {
    StackScope scope;
    Cell* out = stack_push();
    TranscodeOptions one;
    one.one = true;
    one.wrap = false;
    try {
        transcode_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), one);
    } catch (const LanguageThrow& t) {
        if (t.code != THROW_ERROR) throw;
        set_none(out);
    }
    return *out;  // a word holds nothing the collector must keep
}

static std::string char_text(uint32_t cp) {
    uint8_t buf[4];
    int n = utf8_encode_char(cp, buf);
    return std::string(reinterpret_cast<char*>(buf), size_t(n));
}

static void word_make(ActionFrame& f) {
    Cell* spec = f.args + 1;
    TypeId target = f.type;
    Cell result;
    TypeId st = cell_type(spec);
    if (st >= T_WORD && st <= T_GET_WORD) {
        result = *spec;
    } else if (st == T_ISSUE || st == T_REFINEMENT) {
        Cell scanned = scan_first_value(symbol_text(word_symbol(spec)));
        if (cell_type(&scanned) < T_WORD || cell_type(&scanned) > T_GET_WORD)
            raise_error_type(err::script::bad_to_arg, target, spec);
        result = *spec;
        context_bind_word(global_context(), &result);
    } else if (st == T_STRING || st == T_CHAR) {
        result = scan_first_value(st == T_CHAR ? char_text(get_char(spec)) : string_to_utf8(spec));
        if (!type_is_word(cell_type(&result))) raise_error(err::script::invalid_chars);
    } else if (st == T_DATATYPE) {
        TypeId t = get_datatype(spec);
        if (t < 1 || t > T_MAX_ID || !type_names[t].name) raise_error_type(err::script::bad_to_arg, target, spec);
        result = word_from_cstring(type_names[t].name);
    } else if (st == T_LOGIC) {
        result = word_from_cstring(get_logic(spec) ? "true" : "false");
    } else {
        raise_error_type(err::script::bad_to_arg, target, spec);
    }
    result.header = target;
    f.args[0] = result;
}

static void issue_make(ActionFrame& f) {
    Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    if (st == T_STRING || st == T_CHAR) {
        std::string text = st == T_CHAR ? char_text(get_char(spec)) : string_to_utf8(spec);
        int32_t symbol = symbol_from_utf8(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
        cell_init(f.args, T_ISSUE);
        word_set(f.args, global_context(), symbol, WORD_NO_INDEX);
        return;
    }
    if (type_is_word(st)) {
        f.args[0] = *spec;
        f.args[0].header = T_ISSUE;
        return;
    }
    word_make(f);
}

// ================================================================ index?

static void word_index_q(ActionFrame& f) {
    int32_t index = word_index(f.args);
    if (index == WORD_NO_INDEX) set_none(f.args);
    else set_integer(f.args, index + 1);
}

// ================================================================ registration

template <> void register_type<T_WORD>() {
    register_datatype(T_WORD, {
        .make = word_make, .to = word_make, .form = word_form, .mold = word_mold, .compare = word_compare,
        .index_q = word_index_q
    });
}
// The other word types differ from word! in their mold (and issue! and refinement! have no index?).
template <> void register_type<T_LIT_WORD>() { register_datatype(T_LIT_WORD, {.mold = mold_lit_word}); }
template <> void register_type<T_SET_WORD>() { register_datatype(T_SET_WORD, {.mold = mold_set_word}); }
template <> void register_type<T_GET_WORD>() { register_datatype(T_GET_WORD, {.mold = mold_get_word}); }
template <> void register_type<T_REFINEMENT>() {
    register_datatype(T_REFINEMENT, {.mold = mold_refinement, .index_q = nullptr});
}
template <> void register_type<T_ISSUE>() {
    register_datatype(T_ISSUE, {
        .make = issue_make, .to = issue_make, .mold = mold_issue, .compare = issue_compare, .index_q = nullptr
    });
}

}  // namespace tev

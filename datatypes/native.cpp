// native!, action! and op!: making them, their cached specs, form, mold, compare and reflect.
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== typesets

static constexpr uint64_t bit(TypeId t) { return 1ull << t; }
static constexpr uint64_t ANY_WORD = bit(T_WORD) | bit(T_SET_WORD) | bit(T_LIT_WORD) | bit(T_GET_WORD);
static constexpr uint64_t ANY_PATH = bit(T_PATH) | bit(T_LIT_PATH) | bit(T_SET_PATH) | bit(T_GET_PATH);
static constexpr uint64_t ANY_LIST = bit(T_BLOCK) | bit(T_PAREN) | bit(T_HASH);
static constexpr uint64_t SCALAR = bit(T_INTEGER) | bit(T_FLOAT) | bit(T_PERCENT) | bit(T_POINT2D) |
                                   bit(T_POINT3D) | bit(T_MONEY) | bit(T_CHAR) | bit(T_PAIR) |
                                   bit(T_TUPLE) | bit(T_TIME) | bit(T_DATE);

// The typesets that match a class of the type list take it from there, so a
// new string or series type joins them by its list line.
struct TypesetName { const char* name; uint64_t mask; };
static const TypesetName typeset_names[] = {
    {"any-type!", TYPESET_ANY_TYPE},
    {"any-list!", ANY_LIST},
    {"any-block!", LIST_TYPES},
    {"any-function!", bit(T_NATIVE) | bit(T_ACTION) | bit(T_OP) | bit(T_FUNCTION) | bit(T_ROUTINE)},
    {"any-object!", bit(T_OBJECT) | bit(T_ERROR) | bit(T_PORT)},
    {"any-path!", ANY_PATH},
    {"any-string!", STRING_TYPES},
    {"any-word!", ANY_WORD},
    {"series!", SERIES_TYPES},
    {"number!", NUMBER_TYPES},
    {"immediate!", WORD_TYPES | SCALAR | bit(T_NONE) | bit(T_LOGIC) | bit(T_DATATYPE) | bit(T_TYPESET) |
                       bit(T_HANDLE) | bit(T_DATE)},
    {"scalar!", SCALAR},
    {"all-word!", WORD_TYPES},
    {"any-point!", bit(T_PAIR) | bit(T_POINT2D) | bit(T_POINT3D)},
    {"planar!", bit(T_PAIR) | bit(T_POINT2D)},
};

uint64_t typeset_mask_by_name(const char* name, bool* found) {
    for (const auto& t : typeset_names)
        if (std::strcmp(t.name, name) == 0) { *found = true; return t.mask; }
    for (int t = 1; t < TYPE_TABLE_ROWS; ++t)
        if (type_list_names.by_id[t] && std::strcmp(type_list_names.by_id[t], name) == 0) {
            *found = true;
            return bit(TypeId(t));
        }
    *found = false;
    return 0;
}

// A typeset's bit for type id t is 0x80 >> (t mod 8) in byte t div 8 of the payload.
void typeset_cell_from_mask(Cell* out, uint64_t mask) {
    uint8_t bytes[12] = {};
    for (int t = 0; t < 64; ++t)
        if (mask & (1ull << t)) bytes[t >> 3] |= uint8_t(0x80 >> (t & 7));
    cell_init(out, T_TYPESET);
    std::memcpy(cell_payload(out), bytes, CELL_PAYLOAD_BYTES);
}

uint64_t typeset_cell_mask(const Cell* ts) {
    uint8_t bytes[12];
    std::memcpy(bytes, cell_payload(ts), CELL_PAYLOAD_BYTES);
    uint64_t mask = 0;
    for (int t = 0; t < 64; ++t)
        if (bytes[t >> 3] & (0x80 >> (t & 7))) mask |= 1ull << t;
    return mask;
}

// ================================================================== spec cache

static bool is_arg_word(TypeId t) { return t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD; }

// The types named by a spec's type block.
static uint64_t type_block_mask(const Cell* types) {
    uint64_t mask = 0;
    uint32_t n = block_length(types);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(types, k);
        if (cell_is(&v, T_WORD)) {
            const Cell* value = nullptr;
            if (word_context(&v)) {
                try { value = word_value_cell(&v); } catch (const LanguageThrow&) { value = nullptr; }
            }
            if (value && cell_is(value, T_DATATYPE)) { mask |= bit(get_datatype(value)); continue; }
            if (value && cell_is(value, T_TYPESET)) { mask |= typeset_cell_mask(value); continue; }
            bool found;
            uint64_t m = typeset_mask_by_name(symbol_text(word_symbol(&v)).c_str(), &found);
            if (found) { mask |= m; continue; }
            if (!value || cell_is(value, T_UNSET)) raise_error(err::script::no_value, &v);
            raise_error(err::script::invalid_type_spec, value);
        }
        if (cell_is(&v, T_DATATYPE)) { mask |= bit(get_datatype(&v)); continue; }
        if (cell_is(&v, T_TYPESET)) { mask |= typeset_cell_mask(&v); continue; }
        raise_error(err::script::invalid_type_spec, &v);
    }
    return mask;
}

void spec_cache_build(const Cell* spec_in, Cell* out) {
    Cell* spec = stack_push_copy(spec_in);
    Cell* cache = block_push_new(8);
    Cell info;
    cell_init(&info, T_INTEGER);
    block_append(cache, &info);
    uint32_t n = block_length(spec);
    uint32_t plain = 0, refinements = 0;
    bool in_refinement = false;
    int32_t local_sym = symbol_resolve_alias(symbol_from_cstring("local"));
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(spec, k);
        TypeId t = cell_type(&v);
        if (is_arg_word(t)) {
            uint64_t mask = TYPESET_DEFAULT;
            if (k + 1 < n && cell_is(block_at(spec, k + 1), T_BLOCK)) {
                Cell types = *block_at(spec, k + 1);
                if (block_length(&types)) mask = type_block_mask(&types);
                ++k;
            }
            Cell entry;
            typeset_cell_from_mask(&entry, mask);
            uint32_t kind = t == T_WORD ? ARG_EVALUATED : t == T_GET_WORD ? ARG_GET : ARG_LITERAL;
            entry.header |= kind << CACHE_KIND_SHIFT;
            spec_cache_set_arg_symbol(&entry, word_symbol(&v));
            block_append(cache, &entry);
            if (!in_refinement) ++plain;
        } else if (t == T_REFINEMENT) {
            if (symbol_resolve_alias(word_symbol(&v)) == local_sym) {
                uint32_t count = 1;
                for (uint32_t j = k + 1; j < n; ++j) {
                    TypeId u = cell_type(block_at(spec, j));
                    if (u == T_SET_WORD) break;
                    if (is_arg_word(u)) ++count;
                }
                Cell locals;
                set_integer(&locals, 0);
                spec_cache_set_local_count(&locals, count);
                block_append(cache, &locals);
                break;
            }
            Cell entry;
            cell_init(&entry, T_REFINEMENT);
            word_set_symbol(&entry, word_symbol(&v));
            spec_cache_set_refinement_ordinal(&entry, refinements++);
            if (refinements > MAX_CALL_REFINEMENTS) raise_error(err::script::bad_func_def, spec);
            block_append(cache, &entry);
            in_refinement = true;
        } else if (t == T_SET_WORD && k + 1 < n && cell_is(block_at(spec, k + 1), T_BLOCK)) {
            ++k;  // return: [types]
        }
        // strings and attribute blocks: documentation
    }
    Cell* first = block_cell_from_head(cache, 0);
    spec_cache_set_counts(first, plain, refinements);
    // What a call without refinements pushes after its plain arguments: a false
    // for each refinement and the /local slot, a none for each of their words.
    bool simple = true;
    uint32_t tail = 0, tail_false = 0;
    uint32_t entries = block_length(cache);
    for (uint32_t e = 1; e < entries; ++e) {
        const Cell* entry = block_at(cache, e);
        if (cell_is(entry, T_TYPESET)) {
            if (e <= plain) {
                if (((entry->header >> CACHE_KIND_SHIFT) & 3) != ARG_EVALUATED) simple = false;
                continue;
            }
            ++tail;
        } else if (cell_is(entry, T_REFINEMENT)) {
            tail_false |= 1u << (tail & 31);
            ++tail;
        } else {  // /local and its words
            if (spec_cache_local_count(entry)) tail_false |= 1u << (tail & 31);
            tail += spec_cache_local_count(entry);
        }
    }
    if (tail > CALL_PLAN_TAIL_MAX) simple = false;
    if (simple) {
        first->header |= CALL_PLAN_SIMPLE | (tail << CALL_PLAN_TAIL_SHIFT);
        spec_cache_set_tail_falses(first, tail_false);
    }
    *out = *cache;
    vstack.top = spec;
}

NodeRef callable_spec_cache(const Cell* fn) {
    const Cell* more = callable_more_cells(fn);
    return series_node(&more[1]);
}

void callable_spec(const Cell* fn, Cell* out) { set_series(out, T_BLOCK, callable_spec_node(fn), 0); }

// ================================================================== make

void native_make_value(Cell* out, const Cell* spec_in, uint32_t index, TypeId type) {
    bool ok = type == T_NATIVE ? is_native_index(index)
                               : (index >= 1 && index <= ACTION_COUNT && action_entry_table[index]);
    if (!ok) {
        Cell proto, arg;
        set_datatype(&proto, type);
        set_integer(&arg, int32_t(index));
        raise_error(err::script::bad_make_arg, &proto, &arg);
    }
    StackScope scope;
    Cell* spec = stack_push_copy(spec_in);
    if (series_index(spec)) {
        Cell* copy = block_push_cells(block_head(spec), block_length(spec));
        *spec = *copy;
    }
    Cell* more = block_push_new(2);
    NodeRef ctx = context_make_from_spec(spec, true, false, CTX_KIND_FUNCTION);
    Cell* ctx_cell = stack_push_copy(node_buffer(ctx)->cells());
    block_append(more, ctx_cell);
    Cell* cache = stack_push();
    spec_cache_build(spec, cache);
    block_append(more, cache);
    cell_init(out, type);
    native_set_parts(out, index, series_node(spec), series_node(more));
}

// An op needs exactly two arguments before any refinement other than /local or /extern.
static bool spec_usable_as_op(const Cell* spec) {
    uint32_t n = block_length(spec), count = 0;
    bool plain_seen = false;
    int32_t local_sym = symbol_resolve_alias(symbol_from_cstring("local"));
    int32_t extern_sym = symbol_resolve_alias(symbol_from_cstring("extern"));
    for (uint32_t k = 0; k < n; ++k) {
        const Cell* v = block_at(spec, k);
        TypeId t = cell_type(v);
        if (t == T_WORD) { ++count; plain_seen = true; }
        else if (t == T_LIT_WORD || t == T_GET_WORD) {
            if (!plain_seen) return false;
            ++count;
        } else if (t == T_SET_WORD) break;
        else if (t == T_REFINEMENT) {
            int32_t s = symbol_resolve_alias(word_symbol(v));
            if (s == local_sym || s == extern_sym) break;
            return false;
        }
    }
    return count == 2;
}

void op_make_value(Cell* out, const Cell* from_in) {
    Cell from = *from_in;
    TypeId t = cell_type(&from);
    if (t != T_ACTION && t != T_NATIVE && t != T_FUNCTION && t != T_ROUTINE) {
        Cell type;
        set_datatype(&type, t);
        raise_error(err::script::invalid_type, &type);
    }
    Cell spec;
    callable_spec(&from, &spec);
    if (!spec_usable_as_op(&spec)) raise_error(err::script::bad_op_spec);
    *out = from;
    out->header = op_header(t);
    if (t == T_FUNCTION || t == T_ROUTINE) callable_more_cells(&from)[3] = from;
}

// ================================================================== actions

// Two cached specs ask for the same arguments: same counts, kinds and refinements
// in the same places (names, documentation and types aside).
static bool same_call_shape(const Cell* a, const Cell* b) {
    uint32_t n = block_length(a);
    if (block_length(b) != n) return false;
    for (uint32_t k = 0; k < n; ++k) {
        const Cell* x = block_at(a, k);
        const Cell* y = block_at(b, k);
        if (cell_type(x) != cell_type(y)) return false;
        if (cell_is(x, T_TYPESET) && (x->header >> CACHE_KIND_SHIFT & 3) != (y->header >> CACHE_KIND_SHIFT & 3))
            return false;
        // The counts cell and the /local cell both keep their counts in these two words.
        if (cell_is(x, T_INTEGER) && (spec_cache_plain_count(x) != spec_cache_plain_count(y) ||
                                      spec_cache_refinement_count(x) != spec_cache_refinement_count(y)))
            return false;
    }
    return true;
}

// make native! [spec index], make action! [spec index]. Only a filled slot
// can be made, and always with its own spec: the entry reads its arguments by
// position and trusts their types, so a spec of another shape is refused and
// the types checked are the entry's own.
static void native_make(ActionFrame& f) {
    Cell* arg = f.args + 1;
    TypeId target = f.type;
    Cell proto;
    set_datatype(&proto, target);
    if (target == T_OP) {
        op_make_value(f.args, arg);
        return;
    }
    if (!cell_is(arg, T_BLOCK) || block_length(arg) != 2 || !cell_is(block_at(arg, 0), T_BLOCK) ||
        !cell_is(block_at(arg, 1), T_INTEGER))
        raise_error(err::script::bad_make_arg, &proto, arg);
    int32_t index = get_integer(block_at(arg, 1));
    bool filled = target == T_NATIVE
                      ? is_native_index(uint32_t(index))
                      : index >= 1 && index <= ACTION_COUNT && action_entry_table[index] && action_specs[index];
    if (!filled) raise_error(err::script::bad_make_arg, &proto, arg);
    StackScope scope;
    Cell* given = stack_push_copy(block_at(arg, 0));
    Cell* own = stack_push();
    spec_from_text(own, target == T_NATIVE ? native_defs[index - 1].spec : action_specs[index]);
    Cell* given_cache = stack_push();
    spec_cache_build(given, given_cache);
    Cell* own_cache = stack_push();
    spec_cache_build(own, own_cache);
    if (!same_call_shape(given_cache, own_cache)) raise_error(err::script::bad_make_arg, &proto, arg);
    native_make_value(f.args, own, uint32_t(index), target);
}

static int32_t fixed_form(Cell* out, const char* text, int32_t limit) {
    string_append_cstr(out, text);
    return limit - int32_t(std::strlen(text));
}

static int32_t native_form(const Cell* v, Cell* out, const Cell*, int32_t limit) {
    switch (cell_type(v)) {
    case T_NATIVE: return fixed_form(out, "?native?", limit);
    case T_ACTION: return fixed_form(out, "?action?", limit);
    default: return fixed_form(out, "?op?", limit);
    }
}

static int32_t mold_spec_of(const Cell* fn, Cell* out, bool all, bool flat, int32_t limit, int32_t indent) {
    Cell* spec = stack_push();
    callable_spec(fn, spec);
    limit = action_required<Act::mold>(T_BLOCK)(spec, out, false, all, flat, nullptr, limit, indent);
    stack_pop(1);
    return limit;
}

static int32_t native_mold(const Cell* v_in, Cell* out, bool only, bool all, bool flat, const Cell* arg,
                           int32_t limit, int32_t indent) {
    Cell* v = stack_push_copy(v_in);
    TypeId t = cell_type(v);
    if (t == T_OP) {
        string_append_cstr(out, "make op! ");
        limit -= 9;
        TypeId from = op_source_type(v);
        if (from == T_FUNCTION) {
            string_append_cstr(out, "func ");
            limit = mold_spec_of(v, out, all, flat, limit - 5, indent);
            Cell* body = stack_push_copy(function_body(v));
            MoldFn mold = action_of<Act::mold>(cell_type(body));
            if (cell_is(body, T_BLOCK) && mold) limit = mold(body, out, false, all, flat, nullptr, limit, indent);
        } else {
            string_append_cstr(out, "[");
            limit = mold_spec_of(v, out, all, flat, limit - 1, indent);
            string_append_cstr(out, "]");
            --limit;
        }
    } else {
        const char* head = t == T_NATIVE ? "make native! [" : "make action! [";
        string_append_cstr(out, head);
        limit = mold_spec_of(v, out, all, flat, limit - int32_t(std::strlen(head)), indent);
        string_append_cstr(out, "]");
        --limit;
    }
    stack_pop(1);
    return limit;
}

// Natives and actions compare by their index (the same in every build), ops by
// the word they were made from.
static int native_compare(const Cell* a, const Cell* b, int op) {
    if (cell_type(a) != cell_type(b)) return CMP_NOT_COMPARABLE;
    switch (op) {
    case CMP_EQUAL: case CMP_NOT_EQUAL: case CMP_STRICT_EQUAL: case CMP_SORT: case CMP_CASE_SORT:
    case CMP_SAME: case CMP_FIND:
        break;
    default: return CMP_NOT_COMPARABLE;
    }
    uint32_t x = native_index(a), y = native_index(b);
    if (cell_is(a, T_OP) && op_source_type(a) != op_source_type(b))
        return op_source_type(a) < op_source_type(b) ? -1 : 1;
    if (cell_is(a, T_OP) && op_source_type(a) == T_FUNCTION) { x = callable_more(a); y = callable_more(b); }
    return x < y ? -1 : x > y ? 1 : 0;
}

static void native_reflect(ActionFrame& f) {
    Cell* v = f.args;
    Cell* field = f.args + 1;
    std::string name = type_is_word(cell_type(field)) ? symbol_text(word_symbol(field)) : "";
    if (name == "spec") {
        Cell spec;
        callable_spec(v, &spec);
        *f.args = spec;
        return;
    }
    if (name == "body") {
        TypeId from = op_source_type(v);
        if (cell_is(v, T_OP) && (from == T_FUNCTION || from == T_ROUTINE)) {
            Cell body = *function_body(v);
            if (!cell_is(&body, T_BLOCK)) {  // a routine without a body
                *f.args = body;
                return;
            }
            Cell* copy = block_push_cells(block_head(&body), block_length(&body));
            *f.args = *copy;
            return;
        }
        set_integer(f.args, int32_t(native_index(v)));
        return;
    }
    raise_error(err::internal::not_done);
}

template <> void register_type<T_NATIVE>() {
    register_datatype(T_NATIVE, {
        .make = native_make, .reflect = native_reflect, .form = native_form, .mold = native_mold,
        .compare = native_compare
    });
}
template <> void register_type<T_ACTION>() { register_datatype(T_ACTION, {}); }
template <> void register_type<T_OP>() { register_datatype(T_OP, {}); }

}  // namespace tev

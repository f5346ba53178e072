// object!: making from a spec, field access through paths, form, mold, compare, reflect.
#include "datatypes/object.h"
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "runtime/context.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

static int32_t class_counter = 1000000;
int32_t object_new_class_id() { return ++class_counter; }

static Cell* object_values(NodeRef ctx) { return node_buffer(context_cell(ctx)->w2)->cells(); }

Cell* object_push_new(TypeId type, NodeRef proto_ctx, uint32_t slots) {
    Cell* obj = stack_push();
    NodeRef ctx = context_make(slots, false, true, proto_ctx, CTX_KIND_OBJECT);
    cell_init(obj, type);
    obj->w1 = ctx;
    obj->w2 = uint32_t(object_new_class_id());
    *context_self(ctx) = *obj;
    return obj;
}

Cell* object_make(const Cell* proto_in, const Cell* spec_in) {
    Cell* proto = stack_push_copy(proto_in);
    Cell* spec = spec_in ? stack_push_copy(spec_in) : stack_push();
    bool from_object = cell_is(proto, T_OBJECT);
    NodeRef proto_ctx = from_object ? proto->w1 : 0;
    uint32_t slots = from_object ? context_word_count(proto_ctx) : 0;
    slots += cell_is(spec, T_BLOCK) ? block_length(spec) : 0;
    Cell* obj = object_push_new(T_OBJECT, proto_ctx, slots);
    if (from_object) {
        uint32_t n = context_word_count(proto_ctx);
        for (uint32_t k = 0; k < n; ++k) object_values(obj->w1)[k] = object_values(proto_ctx)[k];
        obj->w2 = proto->w2;
    }
    if (cell_is(spec, T_BLOCK)) {
        context_collect_set_words(obj->w1, spec);
        context_bind_block(spec, obj->w1, true);
        Cell* mark = vstack.top;
        eval_block(spec);
        vstack.top = mark;
    }
    *context_self(obj->w1) = *obj;
    Cell r = *obj;
    vstack.top = proto;
    Cell* out = stack_push();
    *out = r;
    return out;
}

Cell* object_field(const Cell* obj, int32_t symbol) {
    int32_t slot = context_find_symbol(obj->w1, symbol, true);
    if (slot < 0) return nullptr;
    return object_values(obj->w1) + slot;
}

Cell* object_values_block(const Cell* obj_in) {
    Cell obj = *obj_in;
    uint32_t n = context_word_count(obj.w1);
    Cell* out = block_push_new(n);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = object_values(obj.w1)[k];
        block_append(out, &v);
    }
    return out;
}

void object_set_words(const Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
    Cell* obj = stack_push_copy(obj_in);
    Cell* value = stack_push_copy(value_in);
    uint32_t n = context_word_count(obj->w1);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v;
        if (!only && cell_is(value, T_BLOCK)) {
            if (k < block_length(value)) v = *block_at(value, k);
            else set_none(&v);
        } else if (!only && cell_is(value, T_OBJECT)) {
            Cell* f = object_field(value, int32_t(context_word_at(obj->w1, k)->w2));
            if (!f) continue;
            v = *f;
        } else {
            v = *value;
        }
        if (some && cell_is(&v, T_NONE)) continue;
        if (!any && cell_is(&v, T_UNSET)) continue;
        Cell w = *context_word_at(obj->w1, k);
        word_set_value(&w, &v);
    }
    stack_pop(2);
}

Cell* object_construct(const Cell* spec_in, const Cell* proto_in, bool only) {
    Cell* spec = stack_push_copy(spec_in);
    Cell proto;
    if (proto_in) proto = *proto_in;
    else set_none(&proto);
    Cell* obj = object_make(&proto, nullptr);
    context_collect_set_words(obj->w1, spec);
    uint32_t n = block_length(spec);
    static const char* const logic_words[] = {"true", "false", "none", "on", "off", "yes", "no"};
    for (uint32_t k = 0; k < n; ++k) {
        Cell w = *block_at(spec, k);
        if (!cell_is(&w, T_SET_WORD)) continue;
        uint32_t j = k + 1;
        while (j < n && cell_is(block_at(spec, j), T_SET_WORD)) ++j;
        Cell v;
        if (j < n) v = *block_at(spec, j);
        else set_none(&v);
        if (!only && cell_is(&v, T_WORD)) {
            std::string name = symbol_text(int32_t(v.w2));
            for (const char* lw : logic_words)
                if (name == lw) {
                    Cell g = word_from_symbol(int32_t(v.w2));
                    v = *word_value_cell(&g);
                }
        }
        int32_t slot = context_find_symbol(obj->w1, int32_t(w.w2), true);
        object_values(obj->w1)[slot] = v;
    }
    Cell r = *obj;
    vstack.top = spec;
    Cell* out = stack_push();
    *out = r;
    return out;
}

// ================================================================== actions

static void object_make_action(ActionFrame& f) {
    Cell* r = object_make(f.args, f.args + 1);
    *f.args = *r;
}

static int32_t fields_text(const Cell* obj_in, Cell* out, bool mold, int32_t limit, int32_t indent) {
    Cell* obj = stack_push_copy(obj_in);
    uint32_t n = context_word_count(obj->w1);
    for (uint32_t k = 0; k < n && limit > 0; ++k) {
        if (mold) {
            string_append_cstr(out, "\n");
            for (int32_t i = 0; i <= indent; ++i) string_append_cstr(out, "    ");
        } else if (k) {
            string_append_cstr(out, "\n");
        }
        std::string name = symbol_text(int32_t(context_word_at(obj->w1, k)->w2));
        string_append_utf8(out, name.data(), name.size());
        string_append_cstr(out, ": ");
        limit -= int32_t(name.size()) + 2;
        Cell* v = stack_push_copy(object_values(obj->w1) + k);
        limit = mold ? mold_dispatch(v, out, false, false, false, limit, indent + 1) : mold_dispatch(v, out, false, false, false, limit, indent + 1);
        stack_pop(1);
    }
    stack_pop(1);
    return limit;
}

static int32_t object_form(const Cell* v, Cell* out, const Cell*, int32_t limit) {
    return fields_text(v, out, false, limit, 0);
}

static int32_t object_mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell*, int32_t limit,
                           int32_t indent) {
    if (!only) string_append_cstr(out, "make object! [");
    limit = fields_text(v, out, true, limit - 14, indent);
    string_append_cstr(out, "\n");
    for (int32_t i = 0; i < indent; ++i) string_append_cstr(out, "    ");
    if (!only) string_append_cstr(out, "]");
    return limit;
}

static void object_eval_path(PathStep& step) {
    Cell* element = step.element;
    if (!type_is_word(cell_type(element))) raise_error(err::script::invalid_path, step.path, element);
    Cell* field = object_field(step.parent, int32_t(element->w2));
    if (!field) raise_error(err::script::invalid_path, step.path, element);
    if (step.set) {
        int32_t slot = context_find_symbol(step.parent->w1, int32_t(element->w2), true);
        Cell w = *context_word_at(step.parent->w1, uint32_t(slot));
        word_set_value(&w, step.set);
        *step.result = *step.set;
        return;
    }
    *step.result = *field;
}

static int object_compare(const Cell* a, const Cell* b, int op) {
    if (cell_type(a) != cell_type(b)) return CMP_NOT_COMPARABLE;
    if (a->w1 == b->w1) return 0;
    if (op == CMP_SAME) return a->w1 < b->w1 ? -1 : 1;
    uint32_t n = context_word_count(a->w1), m = context_word_count(b->w1);
    if (n != m) return n < m ? -1 : 1;
    for (uint32_t k = 0; k < n; ++k) {
        int32_t sa = symbol_resolve_alias(int32_t(context_word_at(a->w1, k)->w2));
        int32_t sb = symbol_resolve_alias(int32_t(context_word_at(b->w1, k)->w2));
        if (sa != sb) return sa < sb ? -1 : 1;
        int r = compare_dispatch(object_values(a->w1) + k, object_values(b->w1) + k, op);
        if (r != 0) return r == CMP_NOT_COMPARABLE ? (a->w1 < b->w1 ? -1 : 1) : r;
    }
    return 0;
}

static void object_reflect(ActionFrame& f) {
    std::string name = type_is_word(cell_type(f.args + 1)) ? symbol_text(int32_t(f.args[1].w2)) : "";
    if (name == "values") {
        *f.args = *object_values_block(f.args);
        return;
    }
    if (name == "words") {
        Cell obj = *f.args;
        uint32_t n = context_word_count(obj.w1);
        Cell* out = block_push_new(n);
        for (uint32_t k = 0; k < n; ++k) {
            Cell w = *context_word_at(obj.w1, k);
            block_append(out, &w);
        }
        *f.args = *out;
        return;
    }
    raise_error(err::internal::not_done);
}

void object_init() {
    register_datatype(T_OBJECT, T_NONE_ID, "object!",
                      object_make_action, nullptr, object_reflect, nullptr, object_form, object_mold, object_eval_path, nullptr, object_compare,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                      nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

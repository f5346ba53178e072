// The natives table: every native of natives.def with its spec and entry, and
// their binding to global words at start-up.
//
// A native's index is what a native! value carries and what Tevbin stores, so the
// order of natives.def is a contract. A native not written yet has the entry
// that raises internal/not-done naming it.
#include "interpreter/natives.h"
#include <cstring>
#include <string>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "interpreter/parse.h"
#include "interpreter/interpreter.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

void raise_not_available(NativeCall& call) {
    Cell w;
    current_call_word(&w);
    raise_error(err::internal::not_done, &w);
}

void native_not_available(NativeCall& call) { raise_not_available(call); }

#define NUM "[number!]"
#define ANY "[any-type!]"
#define RAD " /radians"
const NativeDef native_defs[NATIVE_COUNT] = {
#define NATIVE(id, word, entry, spec) {word, spec, entry},
#include "interpreter/natives.def"
#undef NATIVE
};
#undef NUM
#undef ANY
#undef RAD

// ================================================================== spec text

// Reads a spec written as source text: words, 'words, :words, /refinements,
// set-words and [blocks of words]. Native and action specs are fixed data of the
// program, so the reader only needs these forms.
static void push_word_cell(Cell* block, TypeId type, const std::string& text) {
    Cell w = word_from_symbol(symbol_from_cstring(text.c_str()));
    w.header = type;
    block_append(block, &w);
}

void spec_from_text(Cell* out, const char* text) {
    Cell* spec = block_push_new(8);
    Cell* inner = nullptr;
    const char* p = text;
    while (*p) {
        if (*p == ' ') { ++p; continue; }
        if (*p == '[') {
            inner = block_push_new(4);
            ++p;
            continue;
        }
        if (*p == ']') {
            Cell b = *inner;
            block_append(spec, &b);
            stack_pop(1);
            inner = nullptr;
            ++p;
            continue;
        }
        TypeId type = T_WORD;
        if (*p == '\'') { type = T_LIT_WORD; ++p; }
        else if (*p == ':') { type = T_GET_WORD; ++p; }
        else if (*p == '/') { type = T_REFINEMENT; ++p; }
        const char* s = p;
        while (*p && *p != ' ' && *p != ']') ++p;
        std::string name(s, size_t(p - s));
        if (!name.empty() && name.back() == ':' && type == T_WORD) {
            name.pop_back();
            type = T_SET_WORD;
        }
        Cell* target = inner ? inner : spec;
        push_word_cell(target, type, name);
    }
    *out = *spec;
    stack_pop(1);
}

// ================================================================== start-up

static void bind_callable(const char* name, const Cell* value) {
    Cell* slot = stack_push();
    *slot = word_from_cstring(name);
    word_assign(slot, value);
    stack_pop(1);
}

void natives_init() {
    parse_init();
    StackScope scope;
    for (int k = 0; k < NATIVE_COUNT; ++k) {
        Cell* spec = stack_push();
        spec_from_text(spec, native_defs[k].spec);
        Cell* value = stack_push();
        native_make_value(value, spec, uint32_t(k + 1), T_NATIVE);
        bind_callable(native_defs[k].name, value);
        stack_pop(2);
    }
}

// The words every later definition reads: each datatype's word and the logic
// words. The infix operators are the library's first definitions.
void ops_init() {
    StackScope scope;
    static const struct { const char* word; int value; } logic_words[] = {
        {"true", 1}, {"false", 0}, {"yes", 1}, {"no", 0}, {"on", 1}, {"off", 0}, {"none", -1}};
    // Datatype words name their datatype, also those whose unit comes later.
    for (int t = 1; t <= T_MAX_ID; ++t) {
        Cell* w = stack_push();
        *w = word_from_cstring(datatype_name(TypeId(t)));
        if (cell_is(word_value_cell(w), T_UNSET)) {
            Cell v;
            set_datatype(&v, TypeId(t));
            word_assign(w, &v);
        }
    }
    for (const auto& lw : logic_words) {
        Cell* w = stack_push();
        *w = word_from_cstring(lw.word);
        if (!cell_is(word_value_cell(w), T_UNSET)) continue;
        Cell v;
        if (lw.value < 0) set_none(&v);
        else set_logic(&v, lw.value != 0);
        word_assign(w, &v);
    }
}

void evaluator_init() {
    static bool started = false;
    if (started) return;
    started = true;
    bind_type_name_words();
    interp_init();
    actions_init();
    natives_init();
    actions_bind_words();
    ops_init();
    errors_init();
}

void actions_bind_words() {
    StackScope scope;
    for (int s = 1; s <= ACTION_COUNT; ++s) {
        if (!action_words[s]) continue;
        Cell* spec = stack_push();
        spec_from_text(spec, action_specs[s]);
        Cell* value = stack_push();
        native_make_value(value, spec, uint32_t(s), T_ACTION);
        bind_callable(action_words[s], value);
        stack_pop(2);
    }
}

}  // namespace tev

// The natives table: 120 slots, 107 natives in their fixed index order, each with its spec.
//
// A native's index is what a native! value carries and what Tevbin stores, so the
// order below is a contract. Natives whose family has not been written yet have a
// slot whose entry raises internal/not-done naming the native.
#include "interpreter/natives.h"
#include <cstring>
#include <string>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/error.h"
#include "datatypes/word.h"
#include "interpreter/actions.h"
#include "interpreter/interpreter.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

NativeFn natives_table[NATIVE_SLOTS];

// Each family registers its entries by name before the table is filled.
static NativeEntry registered[NATIVE_COUNT];
static int registered_count = 0;

void add_native_entries(const NativeEntry* entries, int count) {
    for (int k = 0; k < count && registered_count < NATIVE_COUNT; ++k) registered[registered_count++] = entries[k];
}

NativeFn find_native_entry(const char* name) {
    for (int k = 0; k < registered_count; ++k)
        if (std::strcmp(registered[k].name, name) == 0) return registered[k].fn;
    return nullptr;
}

void raise_not_available(NativeCall& call) {
    Cell w;
    current_call_word(&w);
    raise_error(err::internal::not_done, &w);
}

static void not_available(NativeCall& call) { raise_not_available(call); }

#define NUM "[number!]"
#define ANY "[any-type!]"
#define RAD " /radians"
const NativeDef native_defs[NATIVE_COUNT] = {
    {"if", "cond " ANY " then-blk [block!]", nullptr},
    {"unless", "cond " ANY " then-blk [block!]", nullptr},
    {"either", "cond " ANY " true-blk [block!] false-blk [block!]", nullptr},
    {"any", "conds [block!]", nullptr},
    {"all", "conds [block!]", nullptr},
    {"while", "cond [block!] body [block!]", nullptr},
    {"until", "body [block!]", nullptr},
    {"loop", "count [integer! float!] body [block!]", nullptr},
    {"repeat", "'word [word!] value [integer! float!] body [block!]", nullptr},
    {"forever", "body [block!]", nullptr},
    {"foreach", "'word [word! block!] series [series! map!] body [block!]", nullptr},
    {"forall", "'word [word!] body [block!]", nullptr},
    {"remove-each", "'word [word! block!] data [series! map!] body [block!]", nullptr},
    {"func", "spec [block!] body [block!]", nullptr},
    {"function", "spec [block!] body [block!] /extern", nullptr},
    {"does", "body [block!]", nullptr},
    {"has", "vars [block!] body [block!]", nullptr},
    {"switch", "value " ANY " cases [block!] /default case [block!]", nullptr},
    {"case", "cases [block!] /all", nullptr},
    {"do", "value " ANY " /expand /args arg " ANY " /next position [word!] /trace callback [function!]", nullptr},
    {"get", "word [any-word! any-path! object!] /any /case", nullptr},
    {"set", "word [any-word! block! object! any-path!] value " ANY " /any /case /only /some", nullptr},
    {"print", "value " ANY, nullptr},
    {"prin", "value " ANY, nullptr},
    {"equal?", "value1 " ANY " value2 " ANY, nullptr},
    {"not-equal?", "value1 " ANY " value2 " ANY, nullptr},
    {"strict-equal?", "value1 " ANY " value2 " ANY, nullptr},
    {"lesser?", "value1 " ANY " value2 " ANY, nullptr},
    {"greater?", "value1 " ANY " value2 " ANY, nullptr},
    {"lesser-or-equal?", "value1 " ANY " value2 " ANY, nullptr},
    {"greater-or-equal?", "value1 " ANY " value2 " ANY, nullptr},
    {"same?", "value1 " ANY " value2 " ANY, nullptr},
    {"not", "value " ANY, nullptr},
    {"type?", "value " ANY " /word", nullptr},
    {"reduce", "value " ANY " /into out [any-block!]", nullptr},
    {"compose", "value " ANY " /deep /only /into out [any-block!]", nullptr},
    {"stats", "/show /info", nullptr},
    {"bind", "word [block! any-word!] context [any-word! any-object! function!] /copy", nullptr},
    {"in", "object [any-object! any-function!] word [any-word! refinement!]", nullptr},
    {"parse", "input [series!] rules [block!] /case /part length [number! series!] /trace callback [function!]", nullptr},
    {"union", "set1 set2 /case /skip size [integer!]", nullptr},
    {"intersect", "set1 set2 /case /skip size [integer!]", nullptr},
    {"unique", "set /case /skip size [integer!]", nullptr},
    {"difference", "set1 set2 /case /skip size [integer!]", nullptr},
    {"exclude", "set1 set2 /case /skip size [integer!]", nullptr},
    {"complement?", "bits", nullptr},
    {"dehex", "value [any-string!]", nullptr},
    {"enhex", "value [any-string!]", nullptr},
    {"negative?", "number", nullptr},
    {"positive?", "number", nullptr},
    {"max", "value1 value2", nullptr},
    {"min", "value1 value2", nullptr},
    {"shift", "data [integer!] bits [integer!] /left /logical", nullptr},
    {"to-hex", "value [integer!] /size length [integer!]", nullptr},
    {"sine", "angle " NUM RAD, nullptr},
    {"cosine", "angle " NUM RAD, nullptr},
    {"tangent", "angle " NUM RAD, nullptr},
    {"arcsine", "sine " NUM RAD, nullptr},
    {"arccosine", "cosine " NUM RAD, nullptr},
    {"arctangent", "tangent " NUM RAD, nullptr},
    {"arctangent2", "y " NUM " x " NUM RAD, nullptr},
    {"NaN?", "value " NUM, nullptr},
    {"log-2", "value " NUM, nullptr},
    {"log-10", "value " NUM, nullptr},
    {"log-e", "value " NUM, nullptr},
    {"exp", "value " NUM, nullptr},
    {"square-root", "value " NUM, nullptr},
    {"construct", "block [block!] /with object [object!] /only", nullptr},
    {"value?", "value " ANY, nullptr},
    {"try", "block [block!] /all /keep", nullptr},
    {"uppercase", "string [any-string! char!] /part limit", nullptr},
    {"lowercase", "string [any-string! char!] /part limit", nullptr},
    {"as-pair", "x [integer! float!] y [integer! float!]", nullptr},
    {"as-point2D", "x [integer! float!] y [integer! float!]", nullptr},
    {"as-point3D", "x [integer! float!] y [integer! float!] z [integer! float!]", nullptr},
    {"as-money", "currency [word!] amount [integer! float!]", nullptr},
    {"break", "/return value " ANY, nullptr},
    {"continue", "", nullptr},
    {"exit", "", nullptr},
    {"return", "value " ANY, nullptr},
    {"throw", "value " ANY " /name word [word!]", nullptr},
    {"catch", "block [block!] /name word [word! block!]", nullptr},
    {"extend", "obj [object! map!] spec [block! hash! map!] /case", nullptr},
    {"debase", "value [string!] /base base-value [integer!]", nullptr},
    {"to-local-file", "path [file! string!] /full", nullptr},
    {"wait", "value " ANY " /all", nullptr},
    {"checksum", "data method /with spec", nullptr},
    {"unset", "word [word! block!]", nullptr},
    {"new-line", "position [any-list!] value [logic!] /all /skip size [integer!]", nullptr},
    {"new-line?", "position [any-list!]", nullptr},
    {"enbase", "value [binary! string!] /base base-value [integer!]", nullptr},
    {"context?", "word [any-word!]", nullptr},
    {"set-env", "var [any-string! any-word!] value [string! none!]", nullptr},
    {"get-env", "var [any-string! any-word!]", nullptr},
    {"list-env", "", nullptr},
    {"now", "/year /month /day /time /zone /date /weekday /yearday /precise /utc", nullptr},
    {"sign?", "number", nullptr},
    {"as", "type spec", nullptr},
    {"call", "cmd [string! file!] /wait /show /console /shell /input in [string! file! binary!] /output out [string! file! binary!] /error err [string! file! binary!]", nullptr},
    {"zero?", "value", nullptr},
    {"size?", "file [file!]", nullptr},
    {"browse", "url [url! file!]", nullptr},
    {"compress", "data method", nullptr},
    {"decompress", "data method /size sz", nullptr},
    {"recycle", "/on /off", nullptr},
    {"transcode", "src /next /one /prescan /scan /part length /into dst /trace callback", nullptr},
    {"apply", "func [word! path! any-function!] args [block!] /all /safer", nullptr},
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
    natives_control_entries();
    natives_eval_entries();
    natives_compare_entries();
    natives_output_entries();
    natives_strings_entries();
    natives_math_entries();
    natives_system_entries();
    natives_lexer_entries();
    natives_parse_entries();
    natives_io_entries();
    natives_checksum_entries();
    natives_compress_entries();
    for (int k = 0; k < NATIVE_SLOTS; ++k) natives_table[k] = nullptr;
    for (int k = 0; k < NATIVE_COUNT; ++k) {
        NativeFn fn = find_native_entry(native_defs[k].name);
        natives_table[k] = fn ? fn : not_available;
    }
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

// The routines bound at start-up and the type predicates: their table, their
// entries, and the start-up steps that make them and place them.
#include "startup/startup_routines.h"
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/image.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "interpreter/console_routines.h"
#include "interpreter/interpreter.h"
#include "interpreter/profiler.h"
#include "interpreter/text_passes.h"
#include "interpreter/trace.h"
#include "io/clipboard.h"
#include "io/files.h"
#include "io/http.h"
#include "io/process.h"
#include "loader/csv_codec.h"
#include "loader/json_decode.h"
#include "loader/json_encode.h"
#include "loader/lexer.h"
#include "loader/tevbin.h"
#include "os/os.h"
#include "runtime/console_output.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/float_format.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// ================================================================== entries

// The routine's own frame is the innermost while it runs: a call made from a
// word names it, a call made as a value (apply) names the nearest caller that has one.
void call_word(NativeCall& c, Cell* out) {
    const CallFrame* f = frame_top();
    if (f && f->symbol) word_from_symbol_in(out, f->symbol, 0);
    else current_call_word(out);
}

// expect-arg naming the routine, a datatype and the argument.
[[noreturn]] void expect_arg(NativeCall& c, TypeId named, const char* arg) {
    Cell name, type, argw;
    call_word(c, &name);
    set_datatype(&type, named);
    argw = word_from_cstring(arg);
    raise_error(err::script::expect_arg, &name, &type, &argw);
}

// load-json's fast path: a block holding the value, or none when its grammar
// must decide (not JSON, or nested too deep).
void json_decode_star(NativeCall& c, int32_t) {
    Cell* value = stack_push();
    if (!json_decode(value, c.args)) {
        set_none(c.args);
        return;
    }
    c.args[0] = *block_push_cells(value, 1);
}

// to-json's fast path: the JSON text, or none when its Tev encoder must write
// the value (or raise what it raises for it).
void json_encode_star(NativeCall& c, int32_t) {
    Cell* text = stack_push();
    if (!json_encode(text, c.args, JsonEncodeOptions{c.args + 1, get_logic(c.args + 2)})) {
        set_none(c.args);
        return;
    }
    c.args[0] = *text;
}

// load-csv's splitter: [lines stop], stop none or the word unterminated or
// non-aligned; or none when the grammar must read the text.
void csv_split_star(NativeCall& c, int32_t) {
    CsvSplitRules rules{c.args + 1, c.args + 2, c.args + 3, get_logic(c.args + 4), get_logic(c.args + 5),
                        get_logic(c.args + 6)};
    Cell* lines = stack_push();
    CsvStop stop;
    if (!csv_split(lines, c.args, rules, &stop)) {
        set_none(c.args);
        return;
    }
    Cell* result = block_push_new(2);
    block_append(result, lines);
    Cell why;
    if (stop == CsvStop::none) set_none(&why);
    else why = word_from_cstring(stop == CsvStop::unterminated ? "unterminated" : "non-aligned");
    block_append(result, &why);
    c.args[0] = *result;
}

// to-csv's joiner: true when it appended the lines, false when to-csv-line must.
void csv_join_star(NativeCall& c, int32_t) {
    Cell* size = c.args + 2;
    bool flat = cell_is(size, T_INTEGER);
    if (flat && get_integer(size) < 1) {
        set_logic(c.args, false);
        return;
    }
    set_logic(c.args, csv_join(c.args, c.args + 1, flat ? uint32_t(get_integer(size)) : 0, c.args + 3, c.args + 4,
                               c.args + 5));
}

// replace/all's pass over text or bytes: the rest of the series rebuilt, or
// none when it would not fit in one series (the library's walk then raises).
void replace_all_star(NativeCall& c, int32_t) {
    Cell* out = stack_push();
    if (!text_replace_all(out, c.args, c.args + 1, c.args + 2, get_logic(c.args + 3))) {
        set_none(c.args);
        return;
    }
    c.args[0] = *out;
}

// split's pass: the block of pieces.
void split_star(NativeCall& c, int32_t) {
    Cell* out = stack_push();
    text_split(out, c.args, c.args + 1);
    c.args[0] = *out;
}

// The preprocessor's fast path: most scripts hold no directive, and an
// issue! is the only value that can start one while no macro exists. Walks
// what the preprocessor's own walk enters (blocks and parens). Nesting deeper
// than code goes (a block that holds itself, or one deep enough for the walk
// to run out of parse stack) answers true, so that the walk decides and
// raises what it always raised; the bound stays far below the walk's own.
// Reads cells only, so the buffers cannot move under the search.
constexpr int HOLDS_TYPE_MAX_DEPTH = 64;

bool list_holds_type(const Cell* list, TypeId type, int depth) {
    if (depth > HOLDS_TYPE_MAX_DEPTH) return true;
    uint32_t n = block_length(list);
    if (n == 0) return false;
    const Cell* v = block_head(list);
    for (uint32_t i = 0; i < n; ++i) {
        TypeId t = cell_type(v + i);
        if (t == type) return true;
        if ((t == T_BLOCK || t == T_PAREN) && list_holds_type(v + i, type, depth + 1)) return true;
    }
    return false;
}

void holds_type_star(NativeCall& c, int32_t) {
    set_logic(c.args, list_holds_type(c.args, get_datatype(c.args + 1), 0));
}

// The preprocessor's walk over one expression, for the code it can read
// without evaluating anything: the end of the expression at the head of the
// code, found from the arities of the functions its words hold. A path, or a
// word only the checked lookup reads (which may raise), answers none: the
// library's own walk then reads the expression from its start, as it reads
// anything. Reads cells only, so the buffers cannot move under the walk.
enum class WordRead { plain, needs_lookup };

// The argument kinds a callable's spec lists before its first refinement.
void spec_arg_kinds(const Cell* fn, std::vector<TypeId>& kinds) {
    Cell spec;
    callable_spec(fn, &spec);
    kinds.clear();
    uint32_t n = block_length(&spec);
    for (uint32_t i = 0; i < n; ++i) {
        TypeId t = cell_type(block_at(&spec, i));
        if (t == T_REFINEMENT) break;
        if (t == T_WORD || t == T_LIT_WORD || t == T_GET_WORD) kinds.push_back(t);
    }
}

bool is_any_function(const Cell* v) {
    TypeId t = cell_type(v);
    return t == T_NATIVE || t == T_ACTION || t == T_OP || t == T_FUNCTION || t == T_ROUTINE;
}

// The value of a word! of the code, or none for any other value.
WordRead word_of_code(const Cell* c, const Cell** value) {
    *value = nullptr;
    if (!c || !cell_is(c, T_WORD)) return WordRead::plain;
    *value = word_value_plain(c);
    return *value ? WordRead::plain : WordRead::needs_lookup;
}

// Positions are counted from the head; `left` holds, innermost last, whether
// each argument still expected is an expression (true) or one value taken as
// it is (false).
bool walk_expression(const Cell* code, uint32_t* at) {
    uint32_t end = series_full_length(code);
    std::vector<bool> left{true};
    std::vector<TypeId> kinds;
    while (!left.empty() && *at < end) {
        if (!left.back()) {
            left.pop_back();
            ++*at;
            continue;
        }
        const Cell* item = block_cell_from_head(code, *at);
        if (cell_is(item, T_PATH)) return false;
        const Cell *item_value, *after_value;
        if (word_of_code(item, &item_value) == WordRead::needs_lookup) return false;
        const Cell* after = *at + 1 < end ? block_cell_from_head(code, *at + 1) : nullptr;
        if (word_of_code(after, &after_value) == WordRead::needs_lookup) return false;
        bool has_arity = item_value && is_any_function(item_value);
        if (has_arity) spec_arg_kinds(item_value, kinds);
        bool op_after = after_value && cell_is(after_value, T_OP);
        if (op_after && (!has_arity || kinds.size() < 2 || kinds[0] == T_WORD)) {
            spec_arg_kinds(after_value, kinds);
            left.back() = kinds.size() >= 2 && kinds[1] == T_WORD;
            *at += 2;
            continue;
        }
        if (has_arity && cell_is(item_value, T_OP)) {
            *at = *at + 2 < end ? *at + 2 : end;
            return true;
        }
        if (has_arity) {
            left.pop_back();
            for (auto k = kinds.rbegin(); k != kinds.rend(); ++k) left.push_back(*k == T_WORD);
        } else if (!cell_is(item, T_SET_WORD) && !cell_is(item, T_SET_PATH)) {
            left.pop_back();
        }
        ++*at;
    }
    return true;
}

void fetch_next_star(NativeCall& c, int32_t) {
    uint32_t at = series_index(c.args);
    if (!walk_expression(c.args, &at)) {
        set_none(c.args);
        return;
    }
    series_set_index(c.args, at);
}

// pad's fast path: the padded string, or none when pad's own steps must pad.
void pad_star(NativeCall& c, int32_t) {
    uint32_t cp = cell_is(c.args + 3, T_CHAR) ? get_char(c.args + 3) : ' ';
    if (!string_pad(c.args, get_integer(c.args + 1), is_truthy(c.args + 2), cp)) set_none(c.args);
}

// rejoin's fast path over the reduced values: the joined value, or none when
// rejoin's own steps must join them.
void rejoin_star(NativeCall& c, int32_t) {
    if (!string_join_values(c.args)) set_none(c.args);
}

void quit_return(NativeCall& c, int32_t) { release_and_exit(get_integer(c.args)); }

void set_quiet(NativeCall& c, int32_t) {
    Cell* word = c.args;
    TypeId t = cell_type(word);
    if (t != T_WORD && t != T_SET_WORD && t != T_GET_WORD && t != T_LIT_WORD) expect_arg(c, cell_type(word), "word");
    word_set_value_in(word, c.args + 1, word_context(word), false);
    c.args[0] = c.args[1];
}

void set_slot_quiet(NativeCall& c, int32_t) {
    Cell* series = c.args;
    TypeId t = cell_type(series);
    if (t != T_BLOCK && t != T_PAREN && t != T_PATH && t != T_LIT_PATH && t != T_SET_PATH && t != T_GET_PATH)
        expect_arg(c, T_BLOCK, "series");
    if (block_length(series) > 0) *block_head(series) = c.args[1];
    set_unset(c.args);
}

// The shift native's three operations; counts past the width give the fill.
void shift_right(NativeCall& c, int32_t) {
    int32_t data = get_integer(c.args), bits = get_integer(c.args + 1);
    if (bits < 0) bits = 0;
    set_integer(c.args, bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits);
}
void shift_left(NativeCall& c, int32_t) {
    uint32_t data = uint32_t(get_integer(c.args));
    int32_t bits = get_integer(c.args + 1);
    if (bits < 0) bits = 0;
    set_integer(c.args, bits >= 32 ? 0 : int32_t(data << bits));
}
void shift_logical(NativeCall& c, int32_t) {
    uint32_t data = uint32_t(get_integer(c.args));
    int32_t bits = get_integer(c.args + 1);
    if (bits < 0) bits = 0;
    set_integer(c.args, bits >= 32 ? 0 : int32_t(data >> bits));
}

void last_lf_q(NativeCall& c, int32_t) { set_logic(c.args, print_ended_line); }

// The first negative argument raises invalid-arg with it.
void check_not_negative(NativeCall& c, int count) {
    for (int k = 0; k < count; ++k)
        if (get_integer(c.args + k) < 0) raise_error(err::script::invalid_arg, c.args + k);
}

void as_color(NativeCall& c, int32_t) {
    check_not_negative(c, 3);
    uint32_t v[3] = {uint32_t(get_integer(c.args)) % 256, uint32_t(get_integer(c.args + 1)) % 256,
                     uint32_t(get_integer(c.args + 2)) % 256};
    tuple_from_components(c.args, 3, v);
}

// a OR b << 8 OR c << 16 OR d << 24, its bytes first to last.
void as_ipv4(NativeCall& c, int32_t) {
    check_not_negative(c, 4);
    uint32_t packed = uint32_t(get_integer(c.args)) | uint32_t(get_integer(c.args + 1)) << 8 |
                      uint32_t(get_integer(c.args + 2)) << 16 | uint32_t(get_integer(c.args + 3)) << 24;
    uint32_t v[4] = {packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF, packed >> 24};
    tuple_from_components(c.args, 4, v);
}

// UTF-8 sequences from start's position up to pos's index, both in start's buffer.
void count_chars(NativeCall& c, int32_t) {
    SeriesBuffer* b = node_buffer(series_node(c.args));
    uint32_t size = b->tail - b->head;
    uint32_t from = series_index(c.args), to = series_index(c.args + 1);
    if (to > size) to = size;
    const uint8_t* p = b->head_ptr() + from;
    const uint8_t* end = b->head_ptr() + to;
    int32_t n = 0;
    while (p < end) {
        uint8_t lead = *p;
        p += lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        ++n;
    }
    set_integer(c.args, n);
}

void stack_size_q(NativeCall& c, int32_t) { set_integer(c.args, int32_t(vstack.top - vstack.begin)); }

void pick_stack(NativeCall& c, int32_t) {
    int32_t idx = get_integer(c.args);
    int32_t size = int32_t(vstack.top - vstack.begin);
    if (idx > 0 && idx < size) c.args[0] = vstack.begin[idx - 1];
    else set_none(c.args);
}

// The caller's arguments base: the one in force before this call's frame.
void frame_index_q(NativeCall& c, int32_t) {
    const CallFrame* f = frame_top();
    set_integer(c.args, f ? int32_t(f->saved_base) : 0);
}

void collect_calls(NativeCall& c, int32_t) {
    StackScope scope;
    Cell* blk = stack_push_copy(c.args);
    uint32_t depth = frame_depth();
    for (uint32_t i = depth; i-- > 1;) {  // the bottom-most frame is left out
        CallFrame f = *frame_at(i);
        if (!f.symbol) continue;
        Cell* w = stack_push();
        word_from_symbol_in(w, f.symbol, f.function_context ? f.function_context : f.word_context);
        block_append(blk, w);
        Cell index;
        set_integer(&index, int32_t(f.base));
        block_append(blk, &index);
        stack_pop(1);
    }
    set_unset(c.args);
}

void tracing_q(NativeCall& c, int32_t) { set_logic(c.args, trace_active()); }

// Only interpreted code records its evaluation position (library code leaves
// it alone so that errors point at the user's code): a recorded position means
// interpreted code is under way below the caller.
void interpreted_q(NativeCall& c, int32_t) { set_logic(c.args, cell_is(current_evaluation(), T_BLOCK)); }

// Pauses (false) or resumes (true) the events of the trace run under way;
// outside a run tracing stays off.
void trace_switch_routine(NativeCall& c, int32_t) {
    trace_set_switch(get_logic(c.args));
    set_unset(c.args);
}

void float_pretty_switch(NativeCall& c, int32_t) {
    float_pretty = is_truthy(c.args);
    set_unset(c.args);
}

void read_clipboard(NativeCall& c, int32_t) {
    Cell name;
    call_word(c, &name);
    clipboard_read_value(c.args, &name);
}

void write_clipboard(NativeCall& c, int32_t) {
    Cell name;
    call_word(c, &name);
    clipboard_write_value(c.args, c.args, &name);
}

void write_stdout(NativeCall& c, int32_t) {
    Cell* v = c.args;
    if (cell_is(v, T_BINARY)) {
        std::string bytes(reinterpret_cast<const char*>(binary_head_address(v)), binary_length(v));
        console_write_utf8(bytes.data(), bytes.size(), false);
    } else {
        Cell* text = stack_push();
        string_make(text, 64);
        if (cell_is(v, T_STRING)) string_concatenate(text, v, -1, 0, 0);
        else mold_dispatch(v, text);
        std::string out = string_to_utf8(text);
        console_write_utf8(out.data(), out.size(), false);
    }
    set_unset(c.args);
}

// The directory routines take the file's local form; a failure names the path as given.
void get_current_dir(NativeCall& c, int32_t) {
    std::string dir = file_os_current_dir();
    string_load(reinterpret_cast<const uint8_t*>(dir.data()), uint32_t(dir.size()), c.args, 0);
}

void set_current_dir(NativeCall& c, int32_t) {
    if (!os::set_current_dir(file_os_path(c.args))) {
        Cell path = *c.args;
        raise_error(err::access::cannot_open, &path);
    }
    set_unset(c.args);
}

void create_dir(NativeCall& c, int32_t) {
    if (!os::make_dir(file_os_path(c.args))) {
        Cell path = *c.args;
        raise_error(err::access::no_create, &path);
    }
    set_unset(c.args);
}

void exists_q(NativeCall& c, int32_t) {
    set_logic(c.args, os::path_kind(file_os_path(c.args)) != os::PathKind::missing);
}

void os_info_routine(NativeCall& c, int32_t) { os_info_collect(c.args); }

void gc_active_q(NativeCall& c, int32_t) { set_logic(c.args, collector_enabled); }
void gc_series_cycles(NativeCall& c, int32_t) { set_integer(c.args, int32_t(gc_cycle_count())); }
void gc_nodes_cycles(NativeCall& c, int32_t) { set_integer(c.args, int32_t(memory_stats().node_compactions)); }

void tevbin_encode_star(NativeCall& c, int32_t) {
    Cell* image = tevbin_encode(c.args, get_logic(c.args + 1), false);
    c.args[0] = *image;
}

void tevbin_decode_payload(NativeCall& c, int32_t) {
    Cell* payload = c.args;
    if (cell_is(payload, T_URL)) {
        // Only http(s) reads exist: another scheme has no reader yet.
        if (!url_is_http(payload)) raise_not_available(c);
        Cell* bytes = stack_push();
        Cell get = word_from_cstring("get");
        if (!http_request(bytes, &get, payload, nullptr, nullptr, true, false, false)) {
            Cell name = *payload;
            raise_error(err::access::no_connect, &name);
        }
        *payload = *bytes;
    }
    if (cell_is(payload, T_FILE)) {
        Cell* bytes = stack_push();
        file_read(bytes, payload, nullptr, nullptr, true, false);
        *payload = *bytes;
    }
    if (!cell_is(payload, T_BINARY) || binary_length(payload) <= 10)
        raise_error(err::script::invalid_data, payload);
    std::vector<uint8_t> bytes(binary_head_address(payload), binary_head_address(payload) + binary_length(payload));
    Cell* out = block_push_new(1);
    tevbin_decode(bytes.data(), bytes.size(), out, TevbinUse::codec);
    if (block_length(out) == 1) c.args[0] = *block_head(out);
    else c.args[0] = *out;
}

// The image codecs: encode gives a new binary whatever `where` names (save
// writes it); decode takes a binary (none without a known signature) or a file.
template <int Format>
void image_codec_encode(NativeCall& c, int32_t) {
    image_encode(c.args, c.args, Format);
}

void image_codec_decode(NativeCall& c, int32_t) {
    Cell* data = c.args;
    if (cell_is(data, T_BINARY)) image_decode(data, c.args);
    else if (cell_is(data, T_FILE)) image_load_file(data, file_os_path(data), c.args);
    else raise_error(err::script::invalid_arg, data);
}

// A single-type predicate: one comparison of the datatype id.
void is_type(NativeCall& c, int32_t type) { set_logic(c.args, cell_type(c.args) == TypeId(type)); }

// A typeset predicate: one bit test in the current value of its word (the
// global slot given); rebinding the word changes the answer.
void in_typeset(NativeCall& c, int32_t slot) {
    const Cell* ts = context_slot_address_raw(global_context(), uint32_t(slot));
    uint32_t t = cell_type(c.args);
    const uint8_t* bits = cell_payload(ts);
    set_logic(c.args, (bits[t >> 3] & (0x80 >> (t & 7))) != 0);
}

// ================================================================== table

struct RoutineDef {
    const char* name;   // a word, or a path into the system object
    const char* spec;
    RoutineFn fn;
};

const RoutineDef global_routines[] = {
    {"quit-return", R"~("Stops evaluation and exits the program with a given status" status [integer!] "Process termination value to return")~", quit_return},
    {"set-quiet", R"~("Set an object's field to a value without triggering eventual object's events" word [any-type!] value [any-type!] return: [any-type!])~", set_quiet},
    {"set-slot-quiet", R"~("Set a value in series without triggering eventual owner's events" series [any-type!] value [any-type!])~", set_slot_quiet},
    {"shift-right", R"~("Shift bits to the right" data [integer!] bits [integer!])~", shift_right},
    {"shift-left", R"~("Shift bits to the left" data [integer!] bits [integer!])~", shift_left},
    {"shift-logical", R"~("Shift bits to the right (unsigned)" data [integer!] bits [integer!])~", shift_logical},
    {"last-lf?", R"~("Internal Use Only" return: [logic!])~", last_lf_q},
    {"get-current-dir", R"~("Returns the platform's current directory for the process")~", get_current_dir},
    {"set-current-dir", R"~("Sets the platform's current process directory" path [file!])~", set_current_dir},
    {"create-dir", R"~("Create the given directory" path [file!])~", create_dir},
    {"exists?", R"~("Returns TRUE if the file exists" path [file!] return: [logic!])~", exists_q},
    {"os-info", R"~("Returns detailed operating system version information")~", os_info_routine},
    {"as-color", R"~("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])~", as_color},
    {"as-ipv4", R"~("Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!])~", as_ipv4},
    {"as-rgba", R"~("Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!])~", as_ipv4},
    {"count-chars", R"~("Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!] return: [integer!])~", count_chars},
    {"stack-size?", R"~(return: [integer!])~", stack_size_q},
    {"pick-stack", R"~(idx [integer!])~", pick_stack},
    {"frame-index?", R"~(return: [integer!])~", frame_index_q},
    {"collect-calls", R"~(blk [block!])~", collect_calls},
    {"tracing?", R"~(return: [logic!])~", tracing_q},
    {"trace-switch", R"~("Internal Use Only" on? [logic!])~", trace_switch_routine},
    {"float-pretty-switch", R"~("Internal Use Only" on? [logic!])~", float_pretty_switch},
    {"read-clipboard", R"~("Return the contents of the system clipboard" return: [any-type!] "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")~", read_clipboard},
    {"write-clipboard", R"~("Write content to the system clipboard" data [any-type!] "string!, block! of files!, an image! or none!" return: [logic!] "indicates success")~", write_clipboard},
    {"json-decode*", R"~("Internal Use Only" input [string!])~", json_decode_star},
    {"json-encode*", R"~("Internal Use Only" data [any-type!] indent [string! none!] ascii [logic!])~", json_encode_star},
    {"csv-split*", R"~("Internal Use Only" text [string!] delimiter [char! string!] quote [char!] double-quote [any-type!] trim [logic!] ignore-empty [logic!] strict [logic!])~", csv_split_star},
    {"csv-join*", R"~("Internal Use Only" output [string!] records [block!] size [integer! none!] delimiter [char! string!] quote [char!] quotable [bitset!] return: [logic!])~", csv_join_star},
    {"replace-all*", R"~("Internal Use Only" series [string! file! url! email! binary!] pattern [any-string! char! binary! bitset!] piece [any-string! binary!] case [logic!])~", replace_all_star},
    {"split*", R"~("Internal Use Only" series [any-string!] delimiter [string! char! bitset!] return: [block!])~", split_star},
    {"text-pad*", R"~("Internal Use Only" value [any-type!] n [integer!] left [logic!] with [char! none!])~", pad_star},
    {"text-join*", R"~("Internal Use Only" values [block!])~", rejoin_star},
    {"holds-type*", R"~("Internal Use Only" code [block! paren!] type [datatype!] return: [logic!])~", holds_type_star},
    {"profile-step*", R"~("Internal Use Only" event [word!] value [any-type!] ref [any-type!] state [block!] "[table calls rows anon-names namer options]")~", profile_step_star},
    {"fetch-next*", R"~("Internal Use Only" code [block! paren!] return: [block! paren! none!])~", fetch_next_star},
    {"write-stdout", R"~("Write data to STDOUT" data [any-type!])~", write_stdout},
    {"ask", R"~("Prompt the user for input" question [string!] /hide "Turns off echoing inputs" return: [string!])~", console_ask},
};

const RoutineDef field_routines[] = {
    {"system/state/interpreted?", R"~("Return TRUE if called from the interpreter" return: [logic!])~", interpreted_q},
    {"system/state/GC/active?", "return: [logic!]", gc_active_q},
    {"system/state/GC/series-cycles", "return: [integer!]", gc_series_cycles},
    {"system/state/GC/nodes-cycles", "return: [integer!]", gc_nodes_cycles},
    {"system/codecs/png/encode", "img [image!] where [any-type!]", image_codec_encode<os::IMAGE_PNG>},
    {"system/codecs/png/decode", "data [any-type!]", image_codec_decode},
    {"system/codecs/jpeg/encode", "img [image!] where [any-type!]", image_codec_encode<os::IMAGE_JPEG>},
    {"system/codecs/jpeg/decode", "data [any-type!]", image_codec_decode},
    {"system/codecs/bmp/encode", "img [image!] where [any-type!]", image_codec_encode<os::IMAGE_BMP>},
    {"system/codecs/bmp/decode", "data [any-type!]", image_codec_decode},
    {"system/codecs/gif/encode", "img [image!] where [any-type!]", image_codec_encode<os::IMAGE_GIF>},
    {"system/codecs/gif/decode", "data [any-type!]", image_codec_decode},
    {"system/codecs/tiff/encode", "img [image!] where [any-type!]", image_codec_encode<os::IMAGE_TIFF>},
    {"system/codecs/tiff/decode", "data [any-type!]", image_codec_decode},
    {"system/codecs/tevbin/encode*", "data [any-type!] compact? [logic!]", tevbin_encode_star},
    {"system/codecs/tevbin/decode", "payload [any-type!]", tevbin_decode_payload},
};

struct Predicate { const char* name; TypeId type; };
const Predicate single_predicates[] = {
    {"bitset?", T_BITSET}, {"binary?", T_BINARY}, {"block?", T_BLOCK}, {"char?", T_CHAR},
    {"email?", T_EMAIL}, {"file?", T_FILE}, {"float?", T_FLOAT}, {"get-path?", T_GET_PATH},
    {"get-word?", T_GET_WORD}, {"hash?", T_HASH}, {"integer?", T_INTEGER}, {"issue?", T_ISSUE},
    {"lit-path?", T_LIT_PATH}, {"lit-word?", T_LIT_WORD}, {"logic?", T_LOGIC}, {"map?", T_MAP},
    {"none?", T_NONE}, {"pair?", T_PAIR}, {"paren?", T_PAREN}, {"path?", T_PATH},
    {"percent?", T_PERCENT}, {"refinement?", T_REFINEMENT}, {"set-path?", T_SET_PATH},
    {"set-word?", T_SET_WORD}, {"string?", T_STRING}, {"tag?", T_TAG}, {"time?", T_TIME},
    {"typeset?", T_TYPESET}, {"tuple?", T_TUPLE}, {"unset?", T_UNSET}, {"url?", T_URL},
    {"word?", T_WORD}, {"image?", T_IMAGE}, {"date?", T_DATE}, {"money?", T_MONEY}, {"ref?", T_REF},
    {"point2D?", T_POINT2D}, {"point3D?", T_POINT3D}, {"handle?", T_HANDLE}, {"error?", T_ERROR},
    {"action?", T_ACTION}, {"native?", T_NATIVE}, {"datatype?", T_DATATYPE}, {"function?", T_FUNCTION},
    {"object?", T_OBJECT}, {"op?", T_OP}, {"routine?", T_ROUTINE}, {"vector?", T_VECTOR},
};
const char* const typeset_predicates[] = {
    "any-list", "any-block", "any-function", "any-object", "any-path", "any-string", "any-word",
    "series", "number", "immediate", "scalar", "all-word", "any-point", "planar",
};

// The routine! for an entry, pushed on the stack.
Cell* routine_make(const char* spec_text, RoutineFn fn, int32_t second) {
    Cell* spec = stack_push();
    transcode_utf8(spec, reinterpret_cast<const uint8_t*>(spec_text), std::strlen(spec_text));
    return routine_push(spec, nullptr, routine_entry_code(fn), second, false);
}

void bind_global(const char* name, const Cell* value) {
    Cell* w = stack_push();
    *w = word_from_cstring(name);
    word_assign(w, value);
}

bool system_filled = false;
bool console_filled = false;

// The value of a path such as system/state/GC, read from text.
void set_path_from_text(const char* path_text, const Cell* value) {
    StackScope scope;
    Cell* code = stack_push();
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(path_text), std::strlen(path_text));
    Cell* path = stack_push_copy(block_head(code));
    Cell* v = stack_push_copy(value);
    path_set(path, v);
}

}  // namespace

void startup_routines_bind() {
    StackScope scope;
    for (const RoutineDef& r : global_routines) {
        Cell* fn = routine_make(r.spec, r.fn, 0);
        bind_global(r.name, fn);
    }
    for (const Predicate& p : single_predicates) {
        Cell* fn = routine_make(R"~("Returns true if the value is this type" value [any-type!] return: [logic!])~", is_type,
                                int32_t(p.type));
        bind_global(p.name, fn);
    }
    for (const char* base : typeset_predicates) {
        std::string spec = std::string("\"Returns true if the value is any type of ") + base +
                           "\" value [any-type!] return: [logic!]";
        Cell word = word_from_cstring((std::string(base) + "!").c_str());
        Cell* fn = routine_make(spec.c_str(), in_typeset, word_index(&word));
        bind_global((std::string(base) + "?").c_str(), fn);
    }
}

// The console's section comes after the system object's: its routine field
// and its first size are filled once the object exists.
static void console_fill() {
    Cell sys = word_from_cstring("system");
    const Cell* value = word_value_cell(&sys);
    if (console_filled || !cell_is(value, T_OBJECT)) return;
    StackScope scope;
    Cell* probe = stack_push();
    static const char probe_text[] = "object? system/console";
    transcode_utf8(probe, reinterpret_cast<const uint8_t*>(probe_text), sizeof probe_text - 1);
    if (!is_truthy(eval_block(probe))) return;
    console_filled = true;
    Cell* fn = routine_make(R"~("Sets the title of the text console" str [string!] return: [logic!])~", console_set_title, 0);
    set_path_from_text("system/console/init", fn);
    console_refresh_size();
}

void startup_system_fill(uint32_t) {
    if (system_filled) {
        console_fill();
        return;
    }
    Cell sys = word_from_cstring("system");
    const Cell* value = word_value_cell(&sys);
    if (!cell_is(value, T_OBJECT)) return;
    system_filled = true;
    StackScope scope;
    // system/words: an object over the global context itself.
    Cell* words = stack_push();
    cell_init(words, T_OBJECT);
    object_set_context(words, global_context());
    object_set_class_id(words, -1);
    *context_self(global_context()) = *words;
    set_path_from_text("system/words", words);
    set_path_from_text("system/catalog/errors", error_catalog());
    for (const RoutineDef& r : field_routines) {
        Cell* fn = routine_make(r.spec, r.fn, 0);
        set_path_from_text(r.name, fn);
    }
    // The raw command line reaches the language here, split by the library.
    Cell* line = stack_push();
    os_command_line(line);
    set_path_from_text("system/script/args", line);
    static const char split_text[] = "extract-boot-args";
    Cell* split = stack_push();
    transcode_utf8(split, reinterpret_cast<const uint8_t*>(split_text), sizeof split_text - 1);
    eval_block(split);
}

}  // namespace tev

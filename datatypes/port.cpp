// port!: an object made from system/standard/port whose actions are forwarded to the functions of its scheme's actor.
//
// A port does nothing itself. Every series and I/O action on it calls the
// actor's function of the same name with the port and the action's arguments:
// plain arguments in order, then each refinement as a logic! flag followed by
// its arguments (none when absent).
#include <cstring>
#include <string>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/context_table.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

constexpr int32_t PORT_CLASS_ID = 2;

// ================================================================== lookups by name

static int32_t symbol_of(const char* name) { return symbol_from_cstring(name); }

// A field of an object by its symbol, or nullptr when the value is no object
// or lacks it. Allocates nothing, so obj may point into a context.
static Cell* field_sym(const Cell* obj, int32_t symbol) {
    if (!obj || (!cell_is(obj, T_OBJECT) && !cell_is(obj, T_PORT))) return nullptr;
    return object_field(obj, symbol);
}

// The same by name; obj must stay put while the name is interned (a stack cell).
static Cell* field_of(const Cell* obj, const char* name) {
    int32_t symbol = symbol_of(name);
    return field_sym(obj, symbol);
}

// system/<a>/<b> (b may be null), or nullptr when any step is missing.
static Cell* system_field(const char* a, const char* b) {
    int32_t first = symbol_of(a), second = b ? symbol_of(b) : 0;
    Cell word = word_from_cstring("system");
    Cell* v = field_sym(word_value_cell(&word), first);
    return b ? field_sym(v, second) : v;
}

// The scheme registered under `symbol` in system/schemes, a block of name and
// scheme pairs (an object with a field per scheme serves too), or nullptr.
// Allocates nothing.
static Cell* scheme_named(int32_t symbol) {
    Cell* schemes = system_field("schemes", nullptr);
    if (!schemes || !cell_is(schemes, T_BLOCK)) return field_sym(schemes, symbol);
    int32_t wanted = symbol_resolve_alias(symbol);
    uint32_t n = block_length(schemes);
    for (uint32_t k = 0; k + 1 < n; k += 2) {
        Cell* key = block_at(schemes, k);
        if (type_is_word(cell_type(key)) && symbol_resolve_alias(word_symbol(key)) == wanted)
            return block_at(schemes, k + 1);
    }
    return nullptr;
}

// ================================================================== make

static void port_make(ActionFrame& f) {
    StackScope scope;
    Cell* spec = stack_push_copy(f.args + 1);
    if (!cell_is(spec, T_OBJECT)) {
        Cell* parts = system_field("standard", "url-parts");
        if (!parts || !cell_is(parts, T_OBJECT)) raise_error(err::access::no_scheme, spec);
        Cell* proto = stack_push_copy(parts);
        spec = object_make(proto, spec);
        if (pending_exit) return;
    }
    Cell* scheme_name = field_of(spec, "scheme");
    if (!scheme_name || !cell_is(scheme_name, T_WORD)) raise_error(err::access::no_scheme, spec);
    Cell* name = stack_push_copy(scheme_name);
    Cell* scheme = scheme_named(word_symbol(name));
    if (!scheme || !cell_is(scheme, T_OBJECT)) raise_error(err::access::unknown_scheme, spec);
    scheme = stack_push_copy(scheme);
    // A handle! actor would be a native one, and there are none: only objects act.
    Cell* actor = field_of(scheme, "actor");
    if (!actor || !cell_is(actor, T_OBJECT)) raise_error(err::access::invalid_actor, spec);
    actor = stack_push_copy(actor);
    Cell* proto = system_field("standard", "port");
    if (!proto || !cell_is(proto, T_OBJECT)) raise_error(err::access::unknown_scheme, spec);
    proto = stack_push_copy(proto);
    Cell* body = block_push_new(0);
    Cell* port = object_make(proto, body);
    if (pending_exit) return;
    cell_set_type(port, T_PORT);
    object_set_class_id(port, PORT_CLASS_ID);
    if (Cell* slot = field_of(port, "spec")) *slot = *spec;
    if (Cell* slot = field_of(port, "scheme")) *slot = *name;
    if (Cell* slot = field_of(port, "actor")) *slot = *actor;
    *f.args = *port;
}

// ================================================================== form and mold

static int32_t port_mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell*, int32_t limit,
                         int32_t indent) {
    if (cycle_find(object_context(v))) {
        const char* marker = cycle_marker(T_PORT, true);
        string_append_cstr(out, marker);
        return limit - int32_t(std::strlen(marker));
    }
    string_append_cstr(out, "make port! [");
    limit -= 12;
    limit = object_mold_body(v, out, only, all, flat, limit, true, indent + 1, true);
    if (!flat && indent > 0) limit = mold_indent(out, indent, limit);
    string_append_cstr(out, "]");
    return limit - 1;
}

static int32_t port_form(const Cell* v, Cell* out, const Cell* arg, int32_t limit) {
    return port_mold(v, out, false, false, false, arg, limit, 0);
}

// ================================================================== forwarding

// Calls the actor's function named by the action word with `count` arguments
// at args (the port first); its result goes to *result.
static void port_call_actor(const Cell* port, const char* action, Cell* args, uint32_t count, Cell* result) {
    int32_t symbol = symbol_of(action);  // first: interning may allocate
    Cell* actor = field_of(port, "actor");
    if (!actor || !cell_is(actor, T_OBJECT)) raise_error(err::access::invalid_port);
    Cell* fn = object_field(actor, symbol);
    if (!fn || !cell_is(fn, T_FUNCTION)) {
        Cell word = word_from_cstring(action);
        raise_error(err::access::no_port_action, &word);
    }
    Cell* f = stack_push_copy(fn);
    Cell* value = call_with_args(f, args, count);
    if (pending_exit) return;
    *result = *value;
}

// The shape of an action's spec: its plain arguments, then per refinement
// how many arguments it takes (read once from the action's spec text).
struct ActionShape {
    int plain = 0;
    int refinements = 0;
    int ref_args[MAX_CALL_REFINEMENTS] = {};
    std::string ref_names[MAX_CALL_REFINEMENTS];
};

static ActionShape shape_of(Act slot) {
    ActionShape s;
    const char* p = action_specs[int(slot)];
    while (*p) {
        while (*p == ' ') ++p;
        if (!*p) break;
        if (*p == '[') {  // a type list
            while (*p && *p != ']') ++p;
            if (*p) ++p;
            continue;
        }
        const char* start = p;
        while (*p && *p != ' ') ++p;
        if (*start == '/') {
            s.ref_names[s.refinements++] = std::string(start + 1, size_t(p - start - 1));
        } else if (s.refinements == 0) {
            ++s.plain;
        } else {
            ++s.ref_args[s.refinements - 1];
        }
    }
    return s;
}

template <Act S> static const ActionShape& shape() {
    static const ActionShape s = shape_of(S);
    return s;
}

// Pushes the actor's arguments for action S from the action frame and calls it.
template <Act S> static void port_forward(ActionFrame& f) {
    const ActionShape& s = shape<S>();
    StackScope scope;
    Cell* args = stack_push_copy(f.args);
    for (int i = 1; i < s.plain; ++i) stack_push_copy(f.args + i);
    for (int r = 0; r < s.refinements; ++r) {
        const std::string& name = s.ref_names[r];
        // Not passed on: remove's /key and reverse's /skip.
        if ((S == Act::remove && name == "key") || (S == Act::reverse && name == "skip")) continue;
        bool used = f.has(r);
        // A /dup of one or less is no duplication.
        if (name == "dup" && used && cell_is(f.ref_arg(r), T_INTEGER) && get_integer(f.ref_arg(r)) <= 1) used = false;
        // open passes its /allow value alone (none when absent).
        if (!(S == Act::open && name == "allow")) set_logic(stack_push(), used);
        for (int k = 0; k < s.ref_args[r]; ++k) {
            Cell* v = stack_push();
            if (used) *v = f.ref_arg(r)[k];
            else set_none(v);
        }
    }
    uint32_t count = uint32_t(vstack.top - args);
    port_call_actor(f.args, action_words[int(S)], args, count, f.args);
    if (S == Act::length_q && !pending_exit && !cell_is(f.args, T_INTEGER)) {
        Cell expected, got;
        set_datatype(&expected, T_INTEGER);
        set_datatype(&got, cell_type(f.args));
        raise_error(err::script::expect_val, &expected, &got);
    }
}

// Calls the actor's function with the port and the given values.
static bool call_actor_with(const Cell* port, const char* action, std::initializer_list<Cell> values, Cell* result) {
    Cell* args = stack_push_copy(port);
    for (const Cell& v : values) stack_push_copy(&v);
    port_call_actor(args, action, args, uint32_t(vstack.top - args), result);
    return !pending_exit;
}

static Cell logic_cell(bool b) { Cell c; set_logic(&c, b); return c; }
static Cell none_cell() { Cell c; set_none(&c); return c; }

namespace {
enum ReadRef { READ_PART = 0, READ_SEEK };
enum WriteRef { WRITE_PART = 4, WRITE_SEEK = 5 };
}  // namespace

// read: open (with read's /seek), copy (with read's /part), close; the copy is the result.
static void port_read(ActionFrame& f) {
    StackScope scope;
    Cell* port = stack_push_copy(f.args);
    Cell* scratch = stack_push();
    Cell* copied = stack_push();
    Cell f0 = logic_cell(false);
    if (!call_actor_with(port, "open", {f0, f0, f0, logic_cell(f.has(READ_SEEK)), none_cell()}, scratch)) return;
    Cell part = f.has(READ_PART) ? *f.ref_arg(READ_PART) : none_cell();
    if (!call_actor_with(port, "copy", {logic_cell(f.has(READ_PART)), part, f0, f0, none_cell()}, copied)) return;
    if (!call_actor_with(port, "close", {}, scratch)) return;
    *f.args = *copied;
}

// write: open for writing (with write's /seek), insert the data (with an
// integer /part), copy (with write's /part), close; the copy is the result.
static void port_write(ActionFrame& f) {
    StackScope scope;
    Cell* port = stack_push_copy(f.args);
    Cell* data = stack_push_copy(f.args + 1);
    Cell* scratch = stack_push();
    Cell* copied = stack_push();
    Cell f0 = logic_cell(false);
    if (!call_actor_with(port, "open", {f0, f0, logic_cell(true), logic_cell(f.has(WRITE_SEEK)), none_cell()}, scratch))
        return;
    bool int_part = f.has(WRITE_PART) && cell_is(f.ref_arg(WRITE_PART), T_INTEGER);
    Cell part = f.has(WRITE_PART) ? *f.ref_arg(WRITE_PART) : none_cell();
    if (!call_actor_with(port, "insert", {*data, logic_cell(int_part), int_part ? part : none_cell(), f0, f0, none_cell()},
                         scratch))
        return;
    if (!call_actor_with(port, "copy", {logic_cell(f.has(WRITE_PART)), part, f0, f0, none_cell()}, copied)) return;
    if (!call_actor_with(port, "close", {}, scratch)) return;
    *f.args = *copied;
}

// ================================================================== registration

// The series and port actions go to the port's actor; read and write are its own.
#define FWD(a) .a = port_forward<Act::a>
template <> void register_type<T_PORT>() {
    register_datatype(T_PORT, {
        .make = port_make, .form = port_form, .mold = port_mold, FWD(append), FWD(at), FWD(back),
        FWD(change), FWD(clear), FWD(copy), FWD(find), FWD(head), FWD(head_q), FWD(index_q), FWD(insert),
        FWD(length_q), FWD(move), FWD(next), FWD(pick), FWD(poke), FWD(put), FWD(remove), FWD(reverse),
        FWD(select), FWD(sort), FWD(skip), FWD(swap), FWD(tail), FWD(tail_q), FWD(take), FWD(trim),
        FWD(create), FWD(close), FWD(delete_), FWD(modify), FWD(open), FWD(query), .read = port_read,
        FWD(rename), FWD(update), .write = port_write
    });
}
#undef FWD

}  // namespace tev

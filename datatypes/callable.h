// Callable values (native!, action!, op!, function!): making them and the cached
// form of their spec that the interpreter walks on every call.
//
// Cells: native!/action! = (entry index, spec node, node of [context! cell, cached spec]);
// op! = the words of the value it was made from, with that value's type in header
// bits 16-23; function! and routine! = (context node, spec node, node of the 5-cell `more` series:
// body, cached spec, unset, op source, extra number).
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace tev {

// ---------------------------------------------------------------- the cells

// native!/action!: the entry's index (natives from 1, actions by their Act number).
inline uint32_t native_index(const Cell* c) { return c->w1; }
inline NodeRef callable_spec_node(const Cell* c) { return c->w2; }
// native!/action!: [context! cell, cached spec]; function!/routine!: the `more` series.
inline NodeRef callable_more(const Cell* c) { return c->w3; }
inline Cell* callable_more_cells(const Cell* c) { return node_buffer(callable_more(c))->cells(); }
inline void native_set_parts(Cell* c, uint32_t index, NodeRef spec, NodeRef more) {
    c->w1 = index;
    c->w2 = spec;
    c->w3 = more;
}
inline NodeRef function_context(const Cell* c) { return c->w1; }
// The body is cell 0 of the `more` series. Valid until the next allocation.
inline const Cell* function_body(const Cell* fn) { return callable_more_cells(fn); }
inline void function_set_parts(Cell* c, NodeRef ctx, NodeRef spec, NodeRef more) {
    c->w1 = ctx;
    c->w2 = spec;
    c->w3 = more;
}

// Cached spec: a block whose cell 0 is an integer! (w1 plain argument count,
// w2 refinement count) followed, in spec order, by
//   typeset! cells for arguments (kind in header bits 20-21, argument symbol in w3),
//   refinement! cells (symbol in w2, 0-based ordinal in w3), each followed by
//   the typeset! cells of its own arguments,
//   and for a spec with /local one integer! whose w2 counts the /local slot and its words.
// The first cell also says what a call without refinements needs (read by the
// interpreter's fast call path): with CALL_PLAN_SIMPLE in its header, every plain
// argument is evaluated, and a function's call pushes after them the number of
// cells in header bits 16-21, each a logic false where bit k of w3 is set, else none.
constexpr uint32_t CACHE_KIND_SHIFT = 20;
constexpr uint32_t CALL_PLAN_SIMPLE = 0x00800000;
constexpr uint32_t CALL_PLAN_TAIL_SHIFT = 16;
constexpr uint32_t CALL_PLAN_TAIL_MAX = 31;
enum ArgKind : uint32_t { ARG_EVALUATED = 0, ARG_GET = 1, ARG_LITERAL = 2, ARG_RETURN = 3 };

inline uint32_t spec_cache_plain_count(const Cell* first) { return first->w1; }
inline uint32_t spec_cache_refinement_count(const Cell* first) { return first->w2; }
// Bit k set: the k-th cell a simple call pushes after its arguments is false.
inline uint32_t spec_cache_tail_falses(const Cell* first) { return first->w3; }
inline void spec_cache_set_counts(Cell* first, uint32_t plain, uint32_t refinements) {
    first->w1 = plain;
    first->w2 = refinements;
}
inline void spec_cache_set_tail_falses(Cell* first, uint32_t bits) { first->w3 = bits; }
inline int32_t spec_cache_arg_symbol(const Cell* ts) { return int32_t(ts->w3); }
inline void spec_cache_set_arg_symbol(Cell* ts, int32_t symbol) { ts->w3 = uint32_t(symbol); }
// A refinement entry keeps its symbol where a word does (word_symbol).
inline uint32_t spec_cache_refinement_ordinal(const Cell* r) { return r->w3; }
inline void spec_cache_set_refinement_ordinal(Cell* r, uint32_t ordinal) { r->w3 = ordinal; }
inline uint32_t spec_cache_local_count(const Cell* locals) { return locals->w2; }
inline void spec_cache_set_local_count(Cell* locals, uint32_t count) { locals->w2 = count; }

constexpr uint32_t FUNCTION_NO_TRACE = 0x200;
constexpr uint32_t FUNCTION_TRACE = 0x400;

// The node of a callable's cached spec.
NodeRef callable_spec_cache(const Cell* fn);
// The spec block (index 0) of a callable, written into *out.
void callable_spec(const Cell* fn, Cell* out);
// Builds the cached spec of a spec block. Raises the spec errors (bad-func-def,
// invalid-type-spec, no-value). The cache block goes into *out (rooted).
void spec_cache_build(const Cell* spec, Cell* out);

// Typesets as type masks (bit t set for type id t) and the byte layout of typeset! cells.
uint64_t typeset_mask_by_name(const char* name, bool* found);
void typeset_cell_from_mask(Cell* out, uint64_t mask);
uint64_t typeset_cell_mask(const Cell* ts);
constexpr uint64_t TYPESET_ANY_TYPE = (~0ull >> (63 - T_MAX_ID)) & ~1ull;  // every type id
constexpr uint64_t TYPESET_DEFAULT = TYPESET_ANY_TYPE & ~(1ull << T_UNSET);

// native! or action! from a spec block and a 1-based index, checked against the
// table (natives: 1..107, actions: 1..62 but 8): anything else raises bad-make-arg.
void native_make_value(Cell* out, const Cell* spec, uint32_t index, TypeId type);
// op! from a callable (bad-op-spec, invalid-type).
void op_make_value(Cell* out, const Cell* from);

// function! values.
uint32_t function_validate_spec(const Cell* spec);  // the attribute flags
// Makes a function! from spec and body (copied deep, bound to a new context) and
// pushes it; returns the pushed cell.
Cell* function_push(const Cell* spec, const Cell* body, uint32_t flags);
// A deep copy of a list (nested lists copied too) written into *out (rooted).
void block_copy_deep(const Cell* src, Cell* out);
// `function`: extends the spec (a copy the caller owns) with the set-words of the
// body, after cutting it at /extern. Raises bad-func-extern before changing it.
void function_collect_locals(Cell* spec, const Cell* body);

// routine! values: native code with a typed spec. The argument count (word!
// cells of the spec) is kept in header bits 25-29, so at most 31 arguments;
// more raise bad-func-def. `more` cell 0 the body (none when not given), cell 1
// the cached spec, cell 2 the code address, cell 4 the second number.
constexpr uint32_t ROUTINE_ARITY_SHIFT = 25;
constexpr uint32_t ROUTINE_ARITY_MASK = 0x1Fu << ROUTINE_ARITY_SHIFT;
constexpr uint32_t ROUTINE_MAX_ARITY = 31;
constexpr uint32_t ROUTINE_FLAG = 0x8000;
Cell* routine_push(const Cell* spec, const Cell* body, int32_t code, int32_t second, bool flag);
uint32_t routine_arity(const Cell* routine);

}  // namespace tev

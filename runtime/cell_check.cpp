// Internal consistency checks: the shape every cell type's payload must have.
#include "runtime/check.h"
#include <cstdio>
#include "runtime/cell.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

#if defined(__SANITIZE_ADDRESS__)
#define TEV_HAVE_SANITIZER_TRACE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEV_HAVE_SANITIZER_TRACE 1
#endif
#endif
#if TEV_HAVE_SANITIZER_TRACE
#include <sanitizer/common_interface_defs.h>
#endif

namespace tev {

void check_failed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "*** internal check failed: %s (%s:%d)\n", what, file, line);
#if TEV_HAVE_SANITIZER_TRACE
    __sanitizer_print_stack_trace();
#endif
    std::fflush(stderr);
    report_runtime_error(RT_ASSERTION_FAILED, TEV_CALLER_ADDRESS());
}

// The layouts mirror the collector's marking (runtime/memory.cpp): the words it
// follows as nodes are exactly the ones checked here.
namespace {

// A node word that must name a live buffer which knows it as its node.
bool live_node(uint32_t node) { return node && node_is_live(node) && node_buffer(node)->node == node; }
bool live_or_none(uint32_t node) { return node == 0 || live_node(node); }

const char* series_fault(const Cell* c, TypeId t) {
    if (!live_node(series_node(c))) return "a series cell without a live buffer";
    uint32_t unit = node_buffer(series_node(c))->unit();
    if (type_is_list(t) && unit != sizeof(Cell)) return "a list whose buffer does not hold cells";
    if (type_is_string(t)) {
        if (unit != 1 && unit != 2 && unit != 4) return "a text whose buffer unit is not 1, 2 or 4";
        if (!live_or_none(text_cache_node(c))) return "a text whose cache word is not a node";
    }
    if ((t == T_BINARY || t == T_BITSET) && unit != 1) return "a byte series whose buffer unit is not 1";
    return nullptr;
}

}  // namespace

const char* cell_fault(const Cell* c) {
    TypeId t = cell_type(c);
    if (t == T_NONE_ID || t > T_MAX_ID) return "a cell whose type is no datatype";
    if (type_is_series(t) || t == T_BITSET) return series_fault(c, t);
    if (type_is_word(t)) {
        uint32_t symbol = uint32_t(word_symbol(c));
        if (symbol == 0 || symbol > symbol_count()) return "a word without a symbol";
        if (!live_or_none(word_context(c))) return "a word bound to no context";
        return nullptr;
    }
    switch (t) {
    case T_DATATYPE:
        return c->w1 >= T_DATATYPE && c->w1 <= T_MAX_ID ? nullptr : "a datatype! naming no datatype";
    case T_LOGIC:
        return c->w1 <= 1 ? nullptr : "a logic! that is neither true nor false";
    case T_OBJECT: case T_ERROR:
        return live_node(object_context(c)) && live_or_none(object_handlers(c)) ? nullptr : "an object without a live context";
    case T_PORT:
        return live_or_none(object_context(c)) && live_or_none(object_handlers(c)) ? nullptr : "a port without a live context";
    case T_MAP:
        return live_node(c->w2) && live_or_none(c->w3) ? nullptr : "a map without a live buffer";
    case T_FUNCTION: case T_ROUTINE:
        return live_or_none(c->w1) && live_or_none(c->w2) && live_or_none(c->w3) ? nullptr
                                                                                  : "a function whose parts are no nodes";
    default:
        return nullptr;
    }
}

void cell_check(const Cell* c, const char* file, int line) {
    const char* fault = cell_fault(c);
    if (!fault) return;
    char what[200];
    std::snprintf(what, sizeof what, "%s (type %s, words %08x %08x %08x %08x)", fault,
                  cell_type(c) && cell_type(c) <= T_MAX_ID ? datatype_name(cell_type(c)) : "?", c->header, c->w1,
                  c->w2, c->w3);
    check_failed(what, file, line);
}

}  // namespace tev

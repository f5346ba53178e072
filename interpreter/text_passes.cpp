// replace/all and split over text and bytes in one pass: the hits are found
// first (nothing allocates while the search reads the buffer), then the result
// is built once, so that many hits cost no more than one shift of the text.
#include "interpreter/text_passes.h"
#include <algorithm>
#include <cstring>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/string_internal.h"
#include "interpreter/parse.h"
#include "runtime/compare_ops.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// A hit as absolute unit positions [start, end) in the series' buffer.
using Hit = std::pair<uint32_t, uint32_t>;

// The units of a series from its index (clamped to the tail) to its tail.
struct Span {
    uint32_t from, count;
};
Span rest_of(const Cell* series) {
    uint32_t total = node_buffer(series_node(series))->count();
    uint32_t from = std::min(series_index(series), total);
    return Span{from, total - from};
}

// A text or byte pattern with nothing from its index would match everywhere
// without moving on: it has no hit. A char! or a bitset! is one unit.
bool matches_nothing(const Cell* pattern) {
    TypeId t = cell_type(pattern);
    return t != T_CHAR && t != T_BITSET && rest_of(pattern).count == 0;
}

// Every hit from the series' index, each search starting where the last hit ends.
std::vector<Hit> find_hits(const Cell* series, const Cell* pattern, int mode) {
    std::vector<Hit> hits;
    if (matches_nothing(pattern)) return hits;
    parse_find_all(series, rest_of(series).from, node_buffer(series_node(series))->count(), pattern, mode, &hits);
    return hits;
}

// Writes the rest of the series into dst with each hit changed into the piece.
void splice_hits(SeriesBuffer* dst, const SeriesBuffer* src, Span rest, const std::vector<Hit>& hits,
                 const SeriesBuffer* piece, Span piece_span) {
    uint32_t unit = dst->unit(), src_unit = src->unit(), piece_unit = piece->unit();
    const uint8_t* text = src->data + src->head;
    const uint8_t* piece_text = piece->data + piece->head + size_t(piece_span.from) * piece_unit;
    uint8_t* at = dst->data + dst->head;
    uint32_t from = rest.from;
    for (const Hit& hit : hits) {
        at = copy_units(at, unit, text + size_t(from) * src_unit, src_unit, hit.first - from);
        at = copy_units(at, unit, piece_text, piece_unit, piece_span.count);
        from = hit.second;
    }
    at = copy_units(at, unit, text + size_t(from) * src_unit, src_unit, rest.from + rest.count - from);
    dst->tail = uint32_t(at - dst->data);
}

}  // namespace

bool text_replace_all(Cell* out, const Cell* series, const Cell* pattern, const Cell* piece, bool case_sensitive) {
    std::vector<Hit> hits = find_hits(series, pattern, case_sensitive ? CMP_STRICT_EQUAL : CMP_EQUAL);
    Span rest = rest_of(series), piece_span = rest_of(piece);
    uint64_t length = rest.count + uint64_t(hits.size()) * piece_span.count;
    for (const Hit& hit : hits) length -= hit.second - hit.first;
    uint32_t unit = std::max(node_buffer(series_node(series))->unit(), node_buffer(series_node(piece))->unit());
    if (length * unit > MAX_SERIES_BYTES) return false;
    NodeRef node = alloc_series_units(length ? uint32_t(length) : 1, unit);
    splice_hits(node_buffer(node), node_buffer(series_node(series)), rest, hits, node_buffer(series_node(piece)),
                piece_span);
    set_series(out, cell_type(series), node);
    return true;
}

void text_split(Cell* out, const Cell* series, const Cell* delimiter) {
    std::vector<Hit> hits = find_hits(series, delimiter, CMP_EQUAL);
    Span rest = rest_of(series);
    block_make(out, uint32_t(hits.size() + 1));
    StackScope scope;
    Cell* piece = stack_push();
    uint32_t from = rest.from;
    for (const Hit& hit : hits) {
        string_copy_range(piece, series, from, hit.first - from);
        block_append(out, piece);
        from = hit.second;
    }
    string_copy_range(piece, series, from, rest.from + rest.count - from);
    block_append(out, piece);
}

}  // namespace tev

// block! and paren!: making, reading, changing, copying, comparing, forming and molding lists of cells.
#include "datatypes/block.h"
#include "datatypes/hash.h"
#include <cassert>
#include <cstring>
#include <vector>
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "loader/lexer.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/hash_table.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/value_stack.h"

namespace tev {

// ================================================================== helpers

static inline SeriesBuffer* buf(const Cell* block) { return node_buffer(series_node(block)); }

void block_make(Cell* out, uint32_t capacity, TypeId type) {
    if (capacity == 0) capacity = 1;
    if (capacity > BLOCK_MAX_CELLS) raise_error(err::internal::no_memory);
    set_unset(out);
    NodeRef node = alloc_series_cells(capacity);
    set_series(out, type, node, 0);
}

Cell* block_push_new(uint32_t capacity, TypeId type) {
    Cell* out = stack_push();
    block_make(out, capacity, type);
    return out;
}

uint32_t block_length(const Cell* block) {
    uint32_t count = buf(block)->count();
    uint32_t index = series_index(block);
    return index < count ? count - index : 0;
}

Cell* block_at(const Cell* block, uint32_t i) {
    SeriesBuffer* b = buf(block);
    assert(uint64_t(series_index(block)) + i <= b->count());
    return b->cells() + series_index(block) + i;
}
Cell* block_head(const Cell* block) {
    SeriesBuffer* b = buf(block);
    uint32_t index = series_index(block);
    return b->cells() + (index < b->count() ? index : b->count());
}
Cell* block_tail(const Cell* block) { return reinterpret_cast<Cell*>(buf(block)->tail_ptr()); }
Cell* block_cell_from_head(const Cell* block, uint32_t n) { return buf(block)->cells() + n; }

// Room for n more cells at the tail, raising no-memory beyond the maximum.
static SeriesBuffer* block_reserve(const Cell* block, uint64_t n) {
    SeriesBuffer* b = buf(block);
    if (uint64_t(b->count()) + n > BLOCK_MAX_CELLS) raise_error(err::internal::no_memory);
    return series_ensure_room(series_node(block), uint32_t(n * 16));
}

void block_append_cells(Cell* block, const Cell* cells, uint32_t n) {
    if (n == 0) return;
    SeriesBuffer* b = buf(block);
    if (b->room() >= n * 16ull) {  // no allocation: the source cannot move
        std::memmove(b->tail_ptr(), cells, size_t(n) * 16);
        b->tail += n * 16;
        return;
    }
    // The source may lie in a buffer that moves when this one grows: stage it
    // first. Its values stay reachable where they came from.
    std::vector<Cell> staged(cells, cells + n);
    b = block_reserve(block, n);
    std::memcpy(b->tail_ptr(), staged.data(), size_t(n) * 16);
    b->tail += n * 16;
}

void block_append(Cell* block, const Cell* value) {
    Cell v = *value;  // the original stays reachable wherever it lives
    SeriesBuffer* b = block_reserve(block, 1);
    std::memcpy(b->tail_ptr(), &v, 16);
    b->tail += 16;
}

uint32_t block_append_slot(Cell* block) {
    Cell v;
    set_unset(&v);
    block_append(block, &v);
    return buf(block)->count() - 1;
}

Cell* block_push_cells(const Cell* cells, uint32_t n, TypeId type) {
    Cell* out = stack_push();
    set_unset(out);
    if (n <= 64) {
        // A few cells (perhaps C++ locals) are staged on the stack, which roots them.
        for (uint32_t i = 0; i < n; ++i) *stack_push() = cells[i];
        block_make(out, n, type);
        SeriesBuffer* b = buf(out);
        std::memcpy(b->tail_ptr(), out + 1, size_t(n) * 16);
        b->tail += n * 16;
        stack_drop_to(out + 1);
        return out;
    }
    // Many cells come from a series, which keeps their values reachable: stage
    // them off the stack (a large block would not fit on it).
    std::vector<Cell> staged(cells, cells + n);
    block_make(out, n, type);
    SeriesBuffer* b = buf(out);
    std::memcpy(b->tail_ptr(), staged.data(), size_t(n) * 16);
    b->tail += n * 16;
    return out;
}

void block_clear_rest(const Cell* block) {
    SeriesBuffer* b = buf(block);
    if (series_index(block) < b->count()) b->tail = b->head + series_index(block) * 16;
}

void block_remove_last(const Cell* block) {
    SeriesBuffer* b = buf(block);
    if (b->tail > b->head) b->tail -= 16;
}

Cell* paren_push(const Cell* value) {
    Cell* out = stack_push_copy(value);
    if (type_is_list(cell_type(out))) {
        cell_set_type(out, T_PAREN);
        return out;
    }
    Cell* paren = block_push_new(1, T_PAREN);
    block_append(paren, out);
    *out = *paren;
    stack_drop_to(out + 1);
    return out;
}

// ================================================================== comparing

int compare_cells(const Cell* a, const Cell* b, int op) {
    if (auto cmp = action_of<Act::compare>(cell_type(a))) return cmp(a, b, op);
    if (cell_type(a) != cell_type(b)) return CMP_NOT_COMPARABLE;
    return cell_payload_equal(a, b) ? 0 : CMP_NOT_COMPARABLE;
}

static bool is_equality_op(int op) {
    return op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_EQUAL_10 ||
           op == CMP_EQUAL_11 || op == CMP_FIND;
}

int block_compare(const Cell* a, const Cell* b, int op) {
    TypeId ta = cell_type(a), tb = cell_type(b);
    if (ta != tb) {
        bool paths = (ta == T_PATH && tb == T_LIT_PATH) || (ta == T_LIT_PATH && tb == T_PATH);
        if (!(paths && (op == CMP_EQUAL_10 || op == CMP_EQUAL_11))) return CMP_NOT_COMPARABLE;
    }
    if (series_node(a) == series_node(b) && series_index(a) == series_index(b)) return 0;
    if (op == CMP_SAME) return -1;
    if (cycle_find(series_node(a))) return cycle_find(series_node(b)) ? 0 : -1;
    uint32_t n1 = block_length(a), n2 = block_length(b);
    if (n1 != n2 && is_equality_op(op)) return 1;
    if (n1 == 0) return n2 ? -1 : 0;  // [] < [1]: the shorter block is the lesser
    // Compares never allocate: cell pointers stay valid through the walk.
    CycleGuard guard_a(series_node(a));
    CycleGuard guard_b(series_node(b));
    const Cell* ca = block_head(a);
    const Cell* cb = block_head(b);
    uint32_t n = n1 < n2 ? n1 : n2;
    for (uint32_t i = 0; i < n; ++i) {
        TypeId x = cell_type(ca + i), y = cell_type(cb + i);
        int r;
        if (x == y || (type_is_word(x) && type_is_word(y)) ||
            (type_is_number(x) && type_is_number(y))) {
            r = compare_cells(ca + i, cb + i, op);
            if (r == CMP_NOT_COMPARABLE) r = x == y ? 1 : (x < y ? -1 : 1);
        } else {
            r = x < y ? -1 : 1;
        }
        if (r) return r;
    }
    return n1 < n2 ? -1 : n1 > n2 ? 1 : 0;
}

// ================================================================== form and mold

static int32_t mold_value(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell* arg, int32_t limit,
                          int32_t indent) {
    auto mold = action_of<Act::mold>(cell_type(v));
    return mold ? mold(v, out, only, all, flat, arg, limit, indent) : limit;
}

static bool put_ellipsis(const Cell* v, Cell* out, int32_t* limit, bool mold) {
    if (!cycle_find(cycle_node_of(v))) return false;
    const char* marker = cycle_marker(cell_type(v), mold);
    string_append_cstr(out, marker);
    *limit -= int32_t(std::strlen(marker));
    return true;
}

static void append_blanks(Cell* out, int32_t n) {
    static const char blanks[] = "                                ";
    while (n > 0) {
        int32_t k = n < 32 ? n : 32;
        string_append_ascii(out, blanks, size_t(k));
        n -= k;
    }
}

// The cells from the index, with new-line markers laid out as indented lines.
static int32_t mold_engine(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* arg,
                           int32_t limit, int32_t indent) {
    StackScope scope;
    Cell* list = stack_push_copy(value);
    CycleGuard guard(series_node(list));
    bool opened = false;
    uint32_t first = series_index(list);
    for (uint32_t i = first; i < series_full_length(list); ++i) {
        if (arg && limit < 1) break;
        Cell* c = stack_push_copy(block_cell_from_head(list, i));
        bool is_first = i == first;
        if (!flat && cell_has_flag(c, FLAG_NEW_LINE)) {
            if (!only && is_first) {
                opened = true;
                ++indent;
            }
            if (!(only && is_first)) {
                string_append_ascii(out, "\n", 1);
                limit -= 1;
            }
            append_blanks(out, 4 * indent);
            limit -= 4 * indent;
        } else if (!is_first) {
            string_append_ascii(out, " ", 1);
            limit -= 1;
        }
        limit = mold_value(c, out, false, all, flat, arg, limit, indent);
        stack_drop_to(c);
    }
    if (opened) {
        --indent;
        string_append_ascii(out, "\n", 1);
        append_blanks(out, 4 * indent);
        limit -= 1 + 4 * indent;
    }
    return limit;
}

static int32_t mold_list(const Cell* value, Cell* out, bool only, bool all, bool flat, const Cell* arg,
                         int32_t limit, int32_t indent, const char* open, const char* close) {
    StackScope scope;
    Cell* list = stack_push_copy(value);  // value may lie in a buffer that moves
    if (put_ellipsis(list, out, &limit, true)) return limit;
    if (!only) {
        string_append_cstr(out, open);
        limit -= 1;
    }
    limit = mold_engine(list, out, only, all, flat, arg, limit, indent);
    if (!only) {
        string_append_cstr(out, close);
        limit -= 1;
    }
    return limit;
}

static int32_t block_mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell* arg, int32_t limit,
                          int32_t indent) {
    return mold_list(v, out, only, all, flat, arg, limit, indent, "[", "]");
}
static int32_t paren_mold(const Cell* v, Cell* out, bool only, bool all, bool flat, const Cell* arg, int32_t limit,
                          int32_t indent) {
    return mold_list(v, out, only, all, flat, arg, limit, indent, "(", ")");
}

static bool ends_with_break(const Cell* out) {
    uint32_t n = string_length(out);
    if (n == 0) return false;
    uint32_t c = string_char_at(out, n - 1);
    return c == '\n' || c == '\r' || c == '\t';
}

static int32_t block_form(const Cell* value, Cell* out, const Cell* arg, int32_t limit) {
    StackScope scope;
    Cell* list = stack_push_copy(value);
    if (put_ellipsis(list, out, &limit, false)) return limit;
    CycleGuard guard(series_node(list));
    for (uint32_t i = series_index(list); i < series_full_length(list); ++i) {
        if (arg && limit < 1) break;
        Cell* c = stack_push_copy(block_cell_from_head(list, i));
        if (i != series_index(list) && !ends_with_break(out)) {
            string_append_ascii(out, " ", 1);
            limit -= 1;
        }
        if (auto form = action_of<Act::form>(cell_type(c))) limit = form(c, out, arg, limit);
        stack_drop_to(c);
    }
    return limit;
}

// ================================================================== make and to

static bool is_list(const Cell* v) { return type_is_list(cell_type(v)); }

// A shallow copy of a list's cells from its index, typed `type`.
static void clone_into(Cell* out, const Cell* list, TypeId type) {
    StackScope scope;
    Cell* held = stack_push_copy(list);
    Cell* copy = block_push_new(block_length(held), type);
    block_append_cells(copy, block_head(held), block_length(held));
    *out = *copy;
}

// make/to from a value other types know how to turn into a block.
static bool make_from_other(ActionFrame& f, const Cell* spec) {
    TypeId t = cell_type(spec);
    if (is_list(spec)) {
        clone_into(f.args, spec, f.type);
        return true;
    }
    if (t == T_OBJECT || t == T_MAP) {
        auto reflect = action_of<Act::reflect>(t);
        if (!reflect) return false;
        StackScope scope;
        Cell* args = stack_push_copy(spec);
        *stack_push() = word_from_cstring("body");
        ActionFrame r = action_frame(args, t);
        reflect(r);
        if (!is_list(args)) return false;
        cell_set_type(args, f.type);
        *f.args = *args;
        return true;
    }
    if (t == T_VECTOR) {
        auto length = action_of<Act::length_q>(t);
        auto pick = action_of<Act::pick>(t);
        if (!length || !pick) return false;
        StackScope scope;
        Cell* vec = stack_push_copy(spec);
        Cell* n = stack_push_copy(vec);
        ActionFrame lf = action_frame(n, t);
        length(lf);
        int32_t count = get_integer(n);
        Cell* out = block_push_new(uint32_t(count > 0 ? count : 1), f.type);
        for (int32_t i = 1; i <= count; ++i) {
            Cell* args = stack_push_copy(vec);
            set_integer(stack_push(), i);
            ActionFrame pf = action_frame(args, t);
            pick(pf);
            block_append(out, args);
            stack_drop_to(args);
        }
        *f.args = *out;
        return true;
    }
    return false;
}

static void block_make_action(ActionFrame& f) {
    const Cell* spec = f.args + 1;
    if (cell_is(spec, T_INTEGER) || cell_is(spec, T_FLOAT)) {
        double d = cell_is(spec, T_INTEGER) ? get_integer(spec) : get_float(spec);
        if (!(d >= -2147483648.0 && d < 2147483648.0)) raise_error(err::script::out_of_range, spec);
        int64_t n = int64_t(d);
        block_make(f.args, uint32_t(n < 1 ? 1 : n > int64_t(BLOCK_MAX_CELLS) ? BLOCK_MAX_CELLS + 1 : n), f.type);
        return;
    }
    if (!make_from_other(f, spec)) raise_error_type(err::script::bad_make_arg, f.type, spec);
}

static bool typeset_has(const Cell* ts, int t) {
    uint8_t bytes[12];
    std::memcpy(bytes, cell_payload(ts), CELL_PAYLOAD_BYTES);
    return (bytes[t >> 3] & (0x80 >> (t & 7))) != 0;
}

static void block_to_action(ActionFrame& f) {
    const Cell* spec = f.args + 1;
    if (make_from_other(f, spec)) return;
    if (type_is_string(cell_type(spec))) {
        StackScope scope;
        Cell* out = stack_push();
        transcode_value(out, spec);
        cell_set_type(out, f.type);
        *f.args = *out;
        return;
    }
    StackScope scope;
    if (cell_is(spec, T_TYPESET)) {
        Cell* ts = stack_push_copy(spec);
        Cell* out = block_push_new(4, f.type);
        for (int t = 1; t <= highest_type_id; ++t)
            if (typeset_has(ts, t)) block_append(out, &type_names[t].word);
        *f.args = *out;
        return;
    }
    Cell* value = stack_push_copy(spec);
    Cell* out = block_push_new(1, f.type);
    block_append(out, value);
    *f.args = *out;
}


// ================================================================== append, insert, change

// A /part count relative to `of`: an integer!, or a position in the same series.
static int64_t part_of(const Cell* of, const Cell* part) {
    if (cell_is(part, T_INTEGER)) return get_integer(part);
    if (series_same_buffer(of, part)) return int64_t(series_index(part)) - int64_t(series_index(of));
    raise_bad_refine("part", part);
}

// What append, insert and change write: the source cells (from a list's index,
// or the one value) and how many of them, repeated dup times.
struct Splice {
    NodeRef node;        // source list's node, 0 for a single value
    uint32_t from;       // source index
    uint32_t count;      // cells per copy
    uint64_t total;      // count * dup
};

// part_limits_value: /part counts source cells (append, insert) rather than
// replaced cells (change).
static Splice splice_of(ActionFrame& f, int64_t* dup_out, bool part_limits_value = true) {
    const Cell* value = f.args + 1;
    Splice sp{0, 0, 1, 1};
    int64_t dup = 1;
    if (f.has(ref::append_dup)) {
        const Cell* d = f.ref_arg(ref::append_dup);
        if (!cell_is(d, T_INTEGER)) raise_bad_refine("dup", d);
        dup = get_integer(d);
    }
    *dup_out = dup;
    if (!f.has(ref::append_only) && is_list(value)) {
        sp.node = series_node(value);
        sp.from = series_index(value);
        sp.count = block_length(value);
        if (part_limits_value && f.has(ref::append_part)) {
            int64_t p = part_of(value, f.ref_arg(ref::append_part));
            if (p >= 0 && p < sp.count) sp.count = uint32_t(p);
        }
    }
    sp.total = dup > 0 ? uint64_t(sp.count) * uint64_t(dup) : 0;
    return sp;
}

// Checks, before anything is written, that `extra` more cells fit.
static void check_growth(const Cell* block, uint64_t extra) {
    if (extra > BLOCK_MAX_CELLS || uint64_t(series_full_length(block)) + extra > BLOCK_MAX_CELLS)
        raise_error(err::internal::no_memory);
}

// Reads the splice's cells into `staged` (before the target grows: the source
// may be the target itself, or move when it grows).
static void stage_splice(const Splice& sp, const Cell* value, std::vector<Cell>& staged) {
    if (sp.node) {
        const Cell* src = node_buffer(sp.node)->cells() + sp.from;
        staged.assign(src, src + sp.count);
    } else {
        staged.assign(value, value + 1);
    }
}

// Writes staged cells dup times at pos, after a gap of `total` cells was opened.
static void write_splice(const Cell* block, uint32_t pos, const std::vector<Cell>& staged, uint64_t total) {
    Cell* at = buf(block)->cells() + pos;
    size_t n = staged.size();
    if (n == 0 || total == 0) return;  // /dup 0 or less writes nothing: no gap was opened
    std::memcpy(at, staged.data(), n * 16);
    // The first copy doubles until the total is written.
    for (uint64_t done = n; done < total;) {
        uint64_t k = done < total - done ? done : total - done;
        std::memcpy(at + done, at, size_t(k) * 16);
        done += k;
    }
}

// Opens a gap of `gap` cells at pos (the buffer has room).
static void open_gap(const Cell* block, uint32_t pos, uint32_t gap) {
    SeriesBuffer* b = buf(block);
    Cell* at = b->cells() + pos;
    std::memmove(at + gap, at, size_t(b->count() - pos) * 16);
    b->tail += gap * 16;
}

static void insert_or_append(ActionFrame& f, bool append) {
    int64_t dup;
    Splice sp = splice_of(f, &dup);
    if (sp.total == 0) return;
    check_growth(f.args, sp.total);
    uint32_t total_cells = series_full_length(f.args);
    if (series_index(f.args) > total_cells) series_set_index(f.args, total_cells);
    uint32_t pos = append ? total_cells : series_index(f.args);
    bool owned = ownership_notice(f.args, append ? ChangeWord::append : ChangeWord::insert, f.args + 1,
                                  int32_t(pos), int32_t(sp.total));
    std::vector<Cell> staged;
    if (owned) {  // the handler may have changed both the target and the source
        sp = splice_of(f, &dup);
        check_growth(f.args, sp.total);
        total_cells = series_full_length(f.args);
        if (pos > total_cells) pos = total_cells;
    }
    stage_splice(sp, f.args + 1, staged);
    series_ensure_room(series_node(f.args), uint32_t(sp.total * 16));
    open_gap(f.args, pos, uint32_t(sp.total));
    write_splice(f.args, pos, staged, sp.total);
    if (append) series_changed(f.args, SeriesChange::appended, pos);
    else series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, append ? ChangeWord::appended : ChangeWord::inserted, nullptr, int32_t(pos), 0);
    if (append) series_set_index(f.args, 0);
    else series_set_index(f.args, pos + uint32_t(sp.total));
}

static void block_append_action(ActionFrame& f) { insert_or_append(f, true); }
static void block_insert_action(ActionFrame& f) { insert_or_append(f, false); }

static void block_change_action(ActionFrame& f) {
    uint32_t length = series_full_length(f.args);
    if (series_index(f.args) > length) series_set_index(f.args, length);
    uint32_t pos = series_index(f.args);
    int64_t dup;
    Splice sp = splice_of(f, &dup, false);
    uint32_t rest = length - pos;
    uint64_t replaced = sp.total;
    if (f.has(ref::append_part)) {
        int64_t p = part_of(f.args, f.ref_arg(ref::append_part));
        replaced = p < 0 ? 0 : uint64_t(p);
    }
    if (replaced > rest) replaced = rest;
    if (sp.total > replaced) check_growth(f.args, sp.total - replaced);
    bool owned = ownership_notice(f.args, ChangeWord::change, f.args + 1, int32_t(pos), int32_t(replaced));
    if (owned) {
        sp = splice_of(f, &dup, false);
        length = series_full_length(f.args);
        if (pos > length) pos = length;
        if (replaced > length - pos) replaced = length - pos;
        if (sp.total > replaced) check_growth(f.args, sp.total - replaced);
    }
    std::vector<Cell> staged;
    stage_splice(sp, f.args + 1, staged);
    if (sp.total > replaced) {
        uint32_t grow = uint32_t(sp.total - replaced);
        series_ensure_room(series_node(f.args), grow * 16);
        open_gap(f.args, pos + uint32_t(replaced), grow);
    } else if (sp.total < replaced) {
        SeriesBuffer* b = buf(f.args);
        Cell* at = b->cells() + pos;
        uint32_t drop = uint32_t(replaced - sp.total);
        std::memmove(at + sp.total, at + replaced, size_t(b->count() - pos - replaced) * 16);
        b->tail -= drop * 16;
    }
    write_splice(f.args, pos, staged, sp.total);
    series_changed(f.args, SeriesChange::rewritten);
    if (owned) ownership_notice(f.args, ChangeWord::changed, nullptr, int32_t(pos), 0);
    series_set_index(f.args, pos + uint32_t(sp.total));
}

// ================================================================== copy and take

// Replaces the series among cells [0, count) of `list`, a copy no one else
// holds yet, by their copies: lists deeply (with the cycle check), every other
// series through its type's copy. Most cells of code hold no series: they are
// passed over without a call.
static void copy_series_cells(Cell* list, uint32_t count);

// Deep copy of a list from its index into a new block pushed on the stack.
static Cell* deep_clone(const Cell* list) {
    if (cycle_find(series_node(list))) {
        cycle_reset();
        raise_error(err::internal::no_cycle);
    }
    CycleGuard guard(series_node(list));
    Cell* copy = series_push_copy(list, series_index(list), block_length(list));
    copy_series_cells(copy, series_full_length(copy));
    return copy;
}

static void copy_with_action(Cell* list, uint32_t slot) {
    StackScope scope;
    Cell* v = stack_push_copy(block_cell_from_head(list, slot));
    auto copy = action_of<Act::copy>(cell_type(v));
    if (!copy) return;
    ActionFrame cf = action_frame(v, cell_type(v));
    copy(cf);
    uint32_t header = block_cell_from_head(list, slot)->header;
    Cell* at = block_cell_from_head(list, slot);
    *at = *v;
    at->header = header;  // the copy keeps the replaced cell's type and flags
}

static void deep_copy_list_cell(Cell* list, uint32_t slot) {
    StackScope scope;
    Cell* inner = stack_push_copy(block_cell_from_head(list, slot));
    Cell* copy = deep_clone(inner);
    Cell* at = block_cell_from_head(list, slot);
    uint32_t header = at->header;
    *at = *copy;
    at->header = header;
}

static void copy_series_cells(Cell* list, uint32_t count) {
    const Cell* cells = buf(list)->cells();
    for (uint32_t i = 0; i < count; ++i) {
        TypeId t = cell_type(cells + i);
        if (!type_is_series(t)) continue;
        if (type_is_list(t)) deep_copy_list_cell(list, i);
        else copy_with_action(list, i);
        cells = buf(list)->cells();  // the copy allocated: the buffer may have moved
    }
}

static bool matches_types(const Cell* v, const Cell* types) {
    TypeId t = cell_type(v);
    if (!(type_is_series(t) || t == T_BITSET || t == T_OBJECT || t == T_ERROR || t == T_MAP)) return false;
    if (cell_is(types, T_DATATYPE)) return get_datatype(types) == t;
    if (cell_is(types, T_TYPESET)) return typeset_has(types, t);
    return false;
}

static void block_copy_action(ActionFrame& f) {
    bool deep = f.has(ref::copy_deep);
    const Cell* types = f.ref_arg(ref::copy_types);
    if (!deep && !types) {
        series_copy(f);
        return;
    }
    if (deep && cycle_find(series_node(f.args))) {
        cycle_reset();
        raise_error(err::internal::no_cycle);
    }
    StackScope scope;
    Cell* held_types = types ? stack_push_copy(types) : nullptr;
    uint32_t start, count;
    series_copy_range(f.args, f.ref_arg(ref::copy_part), &start, &count);
    Cell* copy = series_push_copy(f.args, start, count);
    if (cell_is(copy, T_HASH)) cell_set_type(copy, T_BLOCK);
    {
        CycleGuard guard(series_node(f.args));
        if (deep) {
            copy_series_cells(copy, count);
        } else {
            for (uint32_t i = 0; i < count; ++i)
                if (matches_types(block_cell_from_head(copy, i), held_types)) copy_with_action(copy, i);
        }
    }
    *f.args = *copy;
}

static void block_take_action(ActionFrame& f) {
    bool part = f.has(ref::take_part);
    series_take(f);
    if (cell_is(f.args, T_NONE)) return;
    if (f.has(ref::take_deep))
        copy_series_cells(f.args, series_full_length(f.args));
    if (!part) {
        if (block_length(f.args) == 1) *f.args = *block_at(f.args, 0);
        else set_none(f.args);
    }
}

// ================================================================== swap and trim

static void block_swap_action(ActionFrame& f) {
    Cell* other = f.args + 1;
    if (!is_list(other)) raise_error(err::script::invalid_arg, other);
    if (series_at_tail(f.args) || series_at_tail(other)) return;
    uint32_t i = series_index(f.args), j = series_index(other);
    bool owned1 = ownership_notice(f.args, ChangeWord::swap, nullptr, int32_t(i), 1);
    bool owned2 = ownership_notice(other, ChangeWord::swap, nullptr, int32_t(j), 1);
    if (!series_at_tail(f.args) && !series_at_tail(other)) {
        Cell* a = block_head(f.args);
        Cell* b = block_head(other);
        Cell t = *a;
        *a = *b;
        *b = t;
    }
    series_changed(f.args, SeriesChange::rewritten);
    series_changed(other, SeriesChange::rewritten);
    if (owned1) ownership_notice(f.args, ChangeWord::swaped, nullptr, int32_t(i), 0);
    if (owned2) ownership_notice(other, ChangeWord::swaped, nullptr, int32_t(j), 0);
}

static void block_trim_action(ActionFrame& f) {
    uint32_t index = series_index(f.args);
    uint32_t n = series_rest_length(f.args);
    bool owned = ownership_notice(f.args, ChangeWord::trim, nullptr, int32_t(index), int32_t(n));
    SeriesBuffer* b = buf(f.args);
    uint32_t total = b->count(), kept = index;
    Cell* cells = b->cells();
    for (uint32_t i = index; i < total; ++i)
        if (!cell_is(cells + i, T_NONE)) cells[kept++] = cells[i];
    if (kept < total) b->tail = b->head + kept * 16;
    if (owned) ownership_notice(f.args, ChangeWord::trimmed, nullptr, int32_t(index), 0);
}

// ================================================================== find, select, put

struct FindResult {
    bool found;
    uint32_t pos;       // the match position
    uint32_t after;     // the position after the match (what /tail and select use)
};

static FindResult find_in_block(ActionFrame& f, bool allow_tail_match) {
    FindResult none{false, 0, 0};
    const Cell* value = f.args + 1;
    uint32_t total = series_full_length(f.args);
    uint32_t index = series_index(f.args);
    bool reverse = f.has(ref::find_reverse), last = f.has(ref::find_last);
    bool match = allow_tail_match && f.has(ref::find_match);
    int64_t skip = 1;
    if (f.has(ref::find_skip)) {
        const Cell* sk = f.ref_arg(ref::find_skip);
        if (!cell_is(sk, T_INTEGER)) raise_bad_refine("skip", sk);
        skip = get_integer(sk);
        if (skip < 1) raise_error(err::script::out_of_range, sk);
    }
    if (total == 0 || (!reverse && index >= total)) return none;
    if (index > total) index = total;
    int64_t end = int64_t(total) - 1;  // the last cell searched
    bool has_part = f.has(ref::find_part);
    if (has_part) {
        const Cell* part = f.ref_arg(ref::find_part);
        if (cell_is(part, T_INTEGER)) {
            if (get_integer(part) < 1) return none;
            end = int64_t(index) + get_integer(part) - 1;
        } else if (series_same_buffer(f.args, part)) {
            end = series_index(part);
        } else {
            raise_bad_refine("part", part);
        }
        if (end > int64_t(total) - 1) end = int64_t(total) - 1;
    }

    bool only = f.has(ref::find_only);
    int op = f.has(ref::find_same) ? CMP_SAME : f.has(ref::find_case) ? CMP_STRICT_EQUAL : CMP_FIND;
    enum { PLAIN, BY_TYPE, BY_TYPESET, SEQUENCE } mode = PLAIN;
    if (!only) {
        if (cell_is(value, T_DATATYPE)) mode = BY_TYPE;
        else if (cell_is(value, T_TYPESET)) mode = BY_TYPESET;
        else if (is_list(value)) mode = SEQUENCE;
    }
    uint32_t seq_len = mode == SEQUENCE ? block_length(value) : 1;

    // Compares never allocate: the cell pointers stay valid for the whole walk.
    const Cell* cells = buf(f.args)->cells();
    const Cell* seq = mode == SEQUENCE ? block_head(value) : nullptr;
    auto matches_at = [&](int64_t p) -> bool {
        const Cell* c = cells + p;
        switch (mode) {
        case BY_TYPE: return cell_type(c) == get_datatype(value);
        case BY_TYPESET: return typeset_has(value, cell_type(c));
        case SEQUENCE:
            if (p + seq_len > total) return false;
            for (uint32_t k = 0; k < seq_len; ++k)
                if (compare_cells(c + k, seq + k, op) != 0) return false;
            return true;
        default: return compare_cells(c, value, op) == 0;
        }
    };

    // A hash! answers a plain search through its index.
    if (mode == PLAIN && !has_part && !match && cell_is(f.args, T_HASH)) {
        int64_t p = hash_index_find(f.args, value, op, int32_t(skip), last, reverse);
        if (p != -2) {
            if (p < 0) return none;
            uint32_t after = reverse || last ? uint32_t(p) + 1 : uint32_t(p + skip);
            return FindResult{true, uint32_t(p), after > total ? total : after};
        }
    }
    int64_t step = skip, start = index, stop = end;
    bool backward = reverse || last;
    if (backward) {
        step = -skip;
        stop = 0;
        if (has_part) start = end;
        else if (last) start = int64_t(total) - seq_len;
        else start = int64_t(index) - (mode == SEQUENCE ? seq_len : 1);
        if (start < 0) return none;
    }
    for (int64_t p = start; backward ? p >= stop : p <= stop; p += step) {
        if (matches_at(p)) {
            uint32_t after = mode == SEQUENCE ? uint32_t(p) + seq_len
                             : backward ? uint32_t(p) + 1 : uint32_t(p + skip);
            return FindResult{true, uint32_t(p), after > total ? total : after};
        }
        if (match) break;
    }
    return none;
}

static void block_find_action(ActionFrame& f) {
    FindResult r = find_in_block(f, true);
    if (!r.found) set_none(f.args);
    else series_set_index(f.args, f.has(ref::find_tail) ? r.after : r.pos);
}

static void block_select_action(ActionFrame& f) {
    FindResult r = find_in_block(f, false);
    // select takes no /tail or /match: their slots are not its refinements.
    const Cell* value = f.args + 1;
    uint32_t next = r.pos + (!f.has(ref::find_only) && is_list(value) ? block_length(value) : 1);
    if (!r.found || next >= series_full_length(f.args)) set_none(f.args);
    else *f.args = *block_cell_from_head(f.args, next);
}

static void block_put_action(ActionFrame& f) {
    Cell* key = f.args + 1;
    Cell* value = f.args + 2;
    StackScope scope;
    Cell* args = stack_push_copy(f.args);
    stack_push_copy(key);
    ActionFrame ff = action_frame(args, cell_type(args));
    ff.refs[ref::find_only] = 0;
    if (f.has(ref::put_case)) ff.refs[ref::find_case] = 0;
    FindResult r = find_in_block(ff, false);
    if (!r.found) {
        uint32_t pos = series_full_length(f.args);
        bool owned = ownership_notice(f.args, ChangeWord::put, value, int32_t(pos), 2);
        block_append(f.args, key);
        block_append(f.args, value);
        series_changed(f.args, SeriesChange::appended, pos);
        if (owned) ownership_notice(f.args, ChangeWord::put_ed, nullptr, int32_t(pos), 0);
    } else {
        uint32_t at = r.pos + 1;
        bool owned = ownership_notice(f.args, ChangeWord::put, value, int32_t(at), 1);
        if (at >= series_full_length(f.args)) block_append(f.args, value);
        else if (compare_cells(block_cell_from_head(f.args, at), value, CMP_FIND) != 0)
            *block_cell_from_head(f.args, at) = *value;
        series_changed(f.args, SeriesChange::replaced, at);
        if (owned) ownership_notice(f.args, ChangeWord::put_ed, nullptr, int32_t(at), 0);
    }
    *f.args = *value;
}

// ================================================================== sort

// One sort's state. With a function comparator the records are sorted as
// indexes into a rooted snapshot of the range (the comparator runs language
// code: it may move buffers, sort again, even change the block itself), then
// written back in their new order.
struct SortContext {
    Cell* snapshot;      // block! on the stack: the range as it was
    uint32_t size;       // record size in cells
    uint32_t offset;     // the compared cell inside a record
    bool all;            // compare whole records
    bool reverse;
    int op;              // CMP_SORT or CMP_CASE_SORT
    Cell* function;      // function! comparator, or nullptr
    Cell* scratch_a;     // /all with a function: the two records as blocks (this sort's own)
    Cell* scratch_b;
};

static int sort_cell_order(const Cell* a, const Cell* b, int op) {
    int r = compare_cells(a, b, op);
    if (r == CMP_NOT_COMPARABLE) r = int(cell_type(a)) - int(cell_type(b));
    return r;
}

static int function_order(SortContext& s, uint32_t ra, uint32_t rb) {
    StackScope scope;
    Cell* a;
    Cell* b;
    if (s.all) {
        for (Cell* scratch : {s.scratch_a, s.scratch_b}) {
            uint32_t rec = scratch == s.scratch_a ? ra : rb;
            block_clear_rest(scratch);
            block_append_cells(scratch, block_cell_from_head(s.snapshot, rec * s.size), s.size);
        }
        a = s.scratch_a;
        b = s.scratch_b;
    } else {
        a = stack_push_copy(block_cell_from_head(s.snapshot, ra * s.size + s.offset));
        b = stack_push_copy(block_cell_from_head(s.snapshot, rb * s.size + s.offset));
    }
    Cell* result = stack_push();
    // The second record's value goes first.
    if (!sort_function_call) raise_error(err::internal::not_done);
    sort_function_call(s.function, b, a, result);
    switch (cell_type(result)) {
    case T_LOGIC: return get_logic(result) ? 1 : -1;
    case T_INTEGER: return get_integer(result) > 0 ? 1 : get_integer(result) < 0 ? -1 : 0;
    case T_FLOAT: return get_float(result) > 0 ? 1 : get_float(result) < 0 ? -1 : 0;
    case T_NONE: return -1;
    default: return 1;
    }
}

// Records compared in place (no function comparator).
static int sort_cells(const void* pa, const void* pb, void* context) {
    SortContext& s = *static_cast<SortContext*>(context);
    const Cell* a = static_cast<const Cell*>(pa);
    const Cell* b = static_cast<const Cell*>(pb);
    int r = 0;
    if (s.all) {
        for (uint32_t k = 0; k < s.size && r == 0; ++k) r = sort_cell_order(a + k, b + k, s.op);
    } else {
        r = sort_cell_order(a + s.offset, b + s.offset, s.op);
    }
    return s.reverse ? -r : r;
}

// Records as indexes into the snapshot, compared by the function comparator.
static int sort_records(const void* pa, const void* pb, void* context) {
    SortContext& s = *static_cast<SortContext*>(context);
    uint32_t ra, rb;
    std::memcpy(&ra, pa, 4);
    std::memcpy(&rb, pb, 4);
    int r = function_order(s, ra, rb);
    return s.reverse ? -r : r;
}

static void block_sort_action(ActionFrame& f) {
    uint32_t n = series_rest_length(f.args);
    if (f.has(ref::sort_part)) {
        int64_t p = part_of(f.args, f.ref_arg(ref::sort_part));
        if (p < 0) {
            int64_t back = -p > int64_t(series_index(f.args)) ? series_index(f.args) : -p;
            series_set_index(f.args, series_index(f.args) - uint32_t(back));
            n = uint32_t(back);
        } else if (p < n) {
            n = uint32_t(p);
        }
    }
    if (n == 0) return;
    int64_t size = 1;
    if (f.has(ref::sort_skip)) {
        const Cell* sk = f.ref_arg(ref::sort_skip);
        if (!cell_is(sk, T_INTEGER)) raise_bad_refine("skip", sk);
        size = get_integer(sk);
        if (size < 1 || n % size || n < size) raise_bad_refine("skip", sk);
    } else if (f.has(ref::sort_all)) {
        raise_error(err::script::bad_refines);
    }
    StackScope scope;
    SortContext s{};
    s.size = uint32_t(size);
    s.all = f.has(ref::sort_all);
    s.reverse = f.has(ref::sort_reverse);
    s.op = f.has(ref::sort_case) ? CMP_CASE_SORT : CMP_SORT;
    if (f.has(ref::sort_compare)) {
        const Cell* cmp = f.ref_arg(ref::sort_compare);
        if (cell_is(cmp, T_INTEGER) && !s.all) {
            int32_t k = get_integer(cmp);
            if (k < 1 || k > size) raise_error(err::script::out_of_range, cmp);
            s.offset = uint32_t(k - 1);
        } else if (cell_is(cmp, T_FUNCTION)) {
            s.function = stack_push_copy(cmp);
            if (s.all) {
                s.scratch_a = block_push_new(s.size);
                s.scratch_b = block_push_new(s.size);
            }
        } else {
            raise_bad_refine("compare", cmp);
        }
    }
    uint32_t start = series_index(f.args);
    bool owned = ownership_notice(f.args, ChangeWord::sort, nullptr, int32_t(start), int32_t(n));
    if (owned && uint64_t(start) + n > series_full_length(f.args)) {  // the handler shortened it
        uint32_t total = series_full_length(f.args);
        n = start < total ? (total - start) / s.size * s.size : 0;
    }
    if (!s.function) {
        // No language code runs (compare entries never allocate): the cells
        // are sorted in a malloc'd copy, whose values stay reachable through
        // the block itself, then written back.
        std::vector<Cell> records(buf(f.args)->cells() + start, buf(f.args)->cells() + start + n);
        uint32_t width = s.size * 16;
        if (f.has(ref::sort_stable)) sort_stable(records.data(), n / s.size, width, &sort_cells, &s);
        else sort_quick(records.data(), n / s.size, width, &sort_cells, &s);
        std::memcpy(buf(f.args)->cells() + start, records.data(), size_t(n) * 16);
        if (owned) ownership_notice(f.args, ChangeWord::sorted, nullptr, int32_t(start), 0);
        return;
    }
    s.snapshot = series_push_copy(f.args, start, n);
    uint32_t records = n / s.size;
    std::vector<uint32_t> order(records);
    for (uint32_t i = 0; i < records; ++i) order[i] = i;
    if (f.has(ref::sort_stable)) sort_stable(order.data(), records, 4, &sort_records, &s);
    else sort_quick(order.data(), records, 4, &sort_records, &s);
    // Write back what still fits: a comparator may have shortened the block.
    uint32_t total = series_full_length(f.args);
    uint32_t room = start < total ? (total - start) / s.size : 0;
    Cell* dst = buf(f.args)->cells() + start;
    const Cell* src = buf(s.snapshot)->cells();
    for (uint32_t i = 0; i < records && i < room; ++i)
        std::memcpy(dst + size_t(i) * s.size, src + size_t(order[i]) * s.size, size_t(s.size) * 16);
    if (owned) ownership_notice(f.args, ChangeWord::sorted, nullptr, int32_t(start), 0);
}

// ================================================================== set operations

// Position of the first record in `list` (from its index) whose key equals
// `key`, or -1: the walk that list keys take (find/only).
static int64_t find_key_linear(const Cell* list, const Cell* key, uint32_t size, int op) {
    uint32_t n = block_length(list);
    const Cell* cells = block_head(list);
    for (uint32_t i = 0; i < n; i += size)
        if (compare_cells(cells + i, key, op) == 0) return i;
    return -1;
}

// Whether `list` holds a record keyed `key`: through its hash table (positions
// from `head`, records of `size` cells), or walking for a list key.
static bool has_key(const Cell* list, NodeRef table, const Cell* key, uint32_t size, int op) {
    if (is_list(key)) return find_key_linear(list, key, size, op) >= 0;
    return hash_table_get(table, key, series_index(list), int32_t(size), op, false, false) >= 0;
}

Cell* block_set_op(Cell* args, bool case_sensitive, int32_t skip, SetOp op) {
    if (skip < 1) {
        Cell sk;
        set_integer(&sk, skip);
        raise_bad_refine("skip", &sk);
    }
    uint32_t size = uint32_t(skip);
    int cmp = case_sensitive ? CMP_STRICT_EQUAL : CMP_FIND;
    Cell* a = args;
    Cell* b = args + 1;
    bool two_passes = op == SET_UNION || op == SET_DIFFERENCE;
    bool membership = op == SET_INTERSECT || op == SET_EXCLUDE || op == SET_DIFFERENCE;
    uint64_t room = uint64_t(block_length(a)) + (op == SET_UNION ? block_length(b) : 0);
    if (room > BLOCK_MAX_CELLS) raise_error(err::internal::no_memory);
    if (room == 0) room = 1;
    StackScope scope;
    Cell* result = block_push_new(uint32_t(room));
    NodeRef result_table = hash_table_create(uint32_t(room), series_node(result), 0, HASH_KIND_VALUES, 0);
    HashTableHold hold_result(result_table);
    for (int pass = 0; pass < (two_passes ? 2 : 1); ++pass) {
        Cell* from = pass ? b : a;
        Cell* other = pass ? a : b;
        NodeRef other_table = 0;
        if (membership) {
            uint32_t n = block_length(other);
            other_table = hash_table_create(n ? n : 1, series_node(other), series_index(other), HASH_KIND_VALUES, 0);
        }
        HashTableHold hold_other(other_table ? other_table : result_table);
        uint32_t n = block_length(from);
        for (uint32_t i = 0; i < n; i += size) {
            Cell* key = stack_push_copy(block_at(from, i));
            bool keep = true;
            if (op == SET_INTERSECT) keep = has_key(other, other_table, key, size, cmp);
            else if (membership) keep = !has_key(other, other_table, key, size, cmp);
            if (keep && !has_key(result, result_table, key, size, cmp)) {
                uint32_t at = series_full_length(result);
                uint32_t take = n - i < size ? n - i : size;
                block_append_cells(result, block_at(from, i), take);
                if (!is_list(key)) hash_table_put(result_table, at);
            }
            stack_drop_to(key);
        }
    }
    Cell* target = two_passes ? b : a;
    TypeId type = cell_type(target);
    if (cell_is(a, T_HASH) || (op != SET_UNIQUE && cell_is(b, T_HASH))) type = T_HASH;
    set_series(target, type, series_node(result), 0);
    if (type == T_HASH) hash_set_index_table(target, result_table);  // the result keeps its index table
    return target;
}

// ================================================================== path access

static void block_eval_path(PathStep& step) {
    Cell* parent = step.parent;
    Cell* element = step.element;
    StackScope scope;
    if (cell_is(element, T_INTEGER)) {
        Cell* args = stack_push_copy(parent);
        stack_push_copy(element);
        if (step.set) stack_push_copy(step.set);
        ActionFrame f = action_frame(args, cell_type(args));
        if (step.set) series_poke(f);
        else series_pick(f);
        *step.result = *args;
        return;
    }
    Cell* args = stack_push_copy(parent);
    stack_push_copy(element);
    ActionFrame f = action_frame(args, cell_type(args));
    if (!step.set) {
        // A word finds any word of that spelling (word, set-word, lit-word, get-word).
        if (cell_is(element, T_WORD) && !cell_is(parent, T_HASH)) {
            uint32_t n = block_length(args);
            for (uint32_t i = 0; i < n; ++i) {
                const Cell* c = block_at(args, i);
                if (cell_type(c) >= T_WORD && cell_type(c) <= T_GET_WORD && compare_cells(c, element, CMP_EQUAL) == 0) {
                    if (i + 1 < n) *step.result = *block_at(args, i + 1);
                    else set_none(step.result);
                    return;
                }
            }
            set_none(step.result);
            return;
        }
        block_select_action(f);
        *step.result = *args;
        return;
    }
    FindResult r = find_in_block(f, false);
    if (!r.found) {
        Cell* path = step.path ? step.path : stack_push();
        raise_error(err::script::bad_path_set, path, element);
    }
    Cell* poke = stack_push_copy(parent);
    series_set_index(poke, r.pos);
    set_integer(stack_push(), 2);
    stack_push_copy(step.set);
    ActionFrame pf = action_frame(poke, cell_type(poke));
    series_poke(pf);
    *step.result = *step.set;
}

// ================================================================== registration

template <> void register_type<T_BLOCK>() {
    register_datatype(T_BLOCK, {
        .make = block_make_action, .to = block_to_action, .form = block_form, .mold = block_mold,
        .eval_path = block_eval_path, .compare = block_compare, .append = block_append_action,
        .change = block_change_action, .copy = block_copy_action, .find = block_find_action,
        .insert = block_insert_action, .put = block_put_action, .select = block_select_action,
        .sort = block_sort_action, .swap = block_swap_action, .take = block_take_action,
        .trim = block_trim_action
    });
}

template <> void register_type<T_PAREN>() {
    register_datatype(T_PAREN, {.mold = paren_mold, .trim = nullptr});
}

}  // namespace tev

// Tevbin encoder and decoder, both record forms, with references for shared
// series and contexts so that sharing and cycles survive a round trip.
//
// A reference names a value by its path: the root record's index, then the
// position of each nested record within its parent (a list's element, an
// object's slot, an error's field, a function's spec 1 and body 2, a map's key
// or value). The encoder keys paths by node (a series node, or the context
// node of an object, error or function); the decoder records each container's
// path before decoding what it holds, so a container may hold itself.
#include "loader/tevbin.h"
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/date.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/hash.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/point_common.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/chunk_codec.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

TevbinHooks tevbin_hooks;

namespace {

constexpr uint8_t MAGIC[6] = {'T', 'E', 'V', 'B', 'I', 'N'};

// Compact prefixes and immediates.
constexpr uint8_t C_NEW_LINE = 0xC0, C_REFERENCE = 0xC1, C_TRUE = 0xC2, C_FALSE = 0xC3, C_DEFINE = 0xC4;
constexpr uint8_t C_REF_RECORD = 0xFF;

// Plain header bits.
constexpr uint32_t P_REFERENCE = 1u << 19;
constexpr uint32_t P_NEGATIVE = 1u << 22;
constexpr uint32_t P_COMPLEMENT = 1u << 23;
constexpr uint32_t P_GLOBAL = 1u << 25;  // words: bound to the global context (boot: a definition)
constexpr uint32_t P_NEW_LINE = 1u << 31;
constexpr uint32_t P_CTX_KIND_SHIFT = 26, P_CTX_FLAG = 1u << 28, P_CTX_STACK = 1u << 29, P_CTX_VALUES = 1u << 30;

// Context flags byte (compact).
constexpr uint8_t CF_STACK = 4, CF_FLAG = 8, CF_VALUES = 16;

// The nesting a decoder follows; deeper input is refused rather than
// running the machine stack out.
constexpr uint32_t MAX_DEPTH = 4000;
constexpr uint32_t MAX_PATH_DEPTH = 65536;

bool never_stored(TypeId t) {
    return t == T_ROUTINE || t == T_EVENT || t == T_HANDLE || t == T_TRIPLE || t == T_PORT || t == T_SYMBOL ||
           t == T_SERIES || t == T_IMAGE;
}

bool is_block_kind(TypeId t) { return type_is_list(t); }  // block, paren, hash, paths
bool is_word_kind(TypeId t) { return t >= T_WORD && t <= T_REFINEMENT; }
bool is_text_kind(TypeId t) { return type_is_string(t); }
bool holds_context(TypeId t) { return t == T_OBJECT || t == T_ERROR || t == T_FUNCTION; }
// The types a reference may stand for.
bool may_refer(TypeId t) {
    return is_block_kind(t) || is_text_kind(t) || t == T_BINARY || t == T_VECTOR || t == T_MAP || holds_context(t);
}

uint32_t log2_unit(uint32_t unit) { return unit == 4 ? 2 : unit == 2 ? 1 : unit == 8 ? 3 : 0; }

// ================================================================== encoding

// A table over nonzero 32-bit keys (nodes, symbol ids), open addressing, 0
// marking an empty slot. (Standard maps cost an allocation per entry: with a
// path vector per container, half of an encode went to them.)
template <class Value> class KeyTable {
public:
    // The key's value; `added` says whether it was just made (as Value{}).
    Value& find_or_add(uint32_t key, bool* added) {
        if ((used + 1) * 2 > slots.size()) grow();
        Slot& s = slots[probe(key)];
        *added = !s.key;
        if (*added) {
            s.key = key;
            ++used;
        }
        return s.value;
    }

private:
    struct Slot {
        uint32_t key = 0;
        Value value{};
    };
    std::vector<Slot> slots;
    size_t used = 0;

    static size_t hash(uint32_t key) { return size_t((key * 0x9E3779B97F4A7C15ull) >> 32); }
    // The key's slot, or the empty one where it would go.
    size_t probe(uint32_t key) const {
        size_t mask = slots.size() - 1;
        for (size_t i = hash(key) & mask;; i = (i + 1) & mask)
            if (!slots[i].key || slots[i].key == key) return i;
    }
    void grow() {
        std::vector<Slot> old = std::move(slots);
        slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        for (const Slot& s : old)
            if (s.key) slots[probe(s.key)] = s;
    }
};

// Every container written so far, by node: the path it was first written
// under, each kept in one flat list.
class WrittenPaths {
public:
    struct Path {
        const uint32_t* indexes;
        uint32_t length;
    };
    // True with the node's first path; false after keeping `path` as that.
    bool seen_before(NodeRef node, const std::vector<uint32_t>& path, Path* first) {
        bool added;
        Span& span = spans.find_or_add(node, &added);
        if (!added) {
            *first = {paths.data() + span.at, span.length};
            return true;
        }
        span = {uint32_t(paths.size()), uint32_t(path.size())};
        for (uint32_t k : path) paths.push_back(k);  // short: cheaper than a range insert
        return false;
    }

private:
    struct Span {
        uint32_t at = 0;  // where the path starts in `paths`
        uint32_t length = 0;
    };
    KeyTable<Span> spans;
    std::vector<uint32_t> paths;
};

// The bytes written so far. Room is made ahead in large steps, left
// uninitialised, so that a field is a few stores rather than a capacity check
// and a zero fill for each of its bytes.
class ByteSink {
public:
    // Room for n more bytes at the returned address; `wrote` says how many were used.
    uint8_t* room(size_t n) {
        if (size_t(limit - at) < n) grow(n);
        return at;
    }
    void wrote(size_t n) { at += n; }
    size_t size() const { return size_t(at - bytes.get()); }
    const uint8_t* data() const { return bytes.get(); }

private:
    std::unique_ptr<uint8_t[]> bytes;
    uint8_t* at = nullptr;  // the next byte to write
    uint8_t* limit = nullptr;

    [[gnu::noinline]] void grow(size_t n) {
        size_t used = size(), capacity = std::max<size_t>(2 * size_t(limit - bytes.get()), used + n + 65536);
        std::unique_ptr<uint8_t[]> larger(new uint8_t[capacity]);
        if (used) std::memcpy(larger.get(), bytes.get(), used);
        bytes = std::move(larger);
        at = bytes.get() + used;
        limit = bytes.get() + capacity;
    }
};

struct Encoder {
    explicit Encoder(bool compact_form) : compact(compact_form) {}
    bool compact;
    ByteSink out;
    std::vector<uint32_t> path;
    WrittenPaths written;
    KeyTable<uint32_t> symbol_index;  // by symbol id: its index in the image's table
    std::vector<int32_t> symbols;

    // ---------------------------------------------------------- fields
    void byte(uint8_t b) {
        *out.room(1) = b;
        out.wrote(1);
    }
    void u32(uint32_t v) {
        uint8_t* p = out.room(4);
        for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
        out.wrote(4);
    }
    void varint(uint32_t v) {
        uint8_t* p = out.room(5);
        size_t n = 0;
        while (v >= 0x80) { p[n++] = uint8_t(v | 0x80); v >>= 7; }
        p[n++] = uint8_t(v);
        out.wrote(n);
    }
    void zigzag(int32_t v) { varint((uint32_t(v) << 1) ^ uint32_t(v >> 31)); }
    // A number field: a varint in the compact form, a 32-bit word in the plain one.
    void num(uint32_t v) { compact ? varint(v) : u32(v); }
    void snum(int32_t v) { compact ? zigzag(v) : u32(uint32_t(v)); }
    void bytes(const void* p, size_t n) {
        if (n) std::memcpy(out.room(n), p, n);
        out.wrote(n);
    }
    void pad() { if (!compact) while (out.size() % 4) byte(0); }
    void f64(double d) { uint8_t b[8]; std::memcpy(b, &d, 8); bytes(b, 8); }

    uint32_t symbol(int32_t id) {
        bool added;
        uint32_t& index = symbol_index.find_or_add(uint32_t(id), &added);
        if (added) {
            index = uint32_t(symbols.size());
            symbols.push_back(id);
        }
        return index;
    }

    // The record's start: compact prefixes and lead byte, or the plain header word.
    void lead(const Cell* v, TypeId t, bool option, uint32_t plain_bits = 0) {
        bool nl = cell_has_flag(v, FLAG_NEW_LINE);
        if (compact) {
            if (nl) byte(C_NEW_LINE);
            byte(uint8_t(t | (option ? 0x40 : 0)));
        } else {
            u32(t | plain_bits | (nl ? P_NEW_LINE : 0));
        }
    }

    void reference(WrittenPaths::Path p) {
        if (compact) {
            varint(p.length);
            for (uint32_t k = 0; k < p.length; ++k) varint(p.indexes[k]);
        } else {
            u32(C_REF_RECORD);
            u32(p.length);
            for (uint32_t k = 0; k < p.length; ++k) u32(p.indexes[k]);
        }
    }

    // A container already written: true after writing its reference.
    bool shared(const Cell* v, TypeId t, NodeRef node, bool has_head, uint32_t head, uint32_t plain_bits = 0) {
        WrittenPaths::Path first;
        if (!written.seen_before(node, path, &first)) return false;
        if (compact) {
            if (cell_has_flag(v, FLAG_NEW_LINE)) byte(C_NEW_LINE);
            byte(C_REFERENCE);
            byte(uint8_t(t | (has_head ? 0x40 : 0)));
            if (has_head) varint(head);
        } else {
            u32(t | plain_bits | P_REFERENCE | (cell_has_flag(v, FLAG_NEW_LINE) ? P_NEW_LINE : 0));
            if (has_head) u32(head);
        }
        reference(first);
        return true;
    }

    void child(uint32_t index, const Cell* v) {
        path.push_back(index);
        value(v);
        path.pop_back();
    }

    // ---------------------------------------------------------- records
    // The records met most are dispatched here; the rest go to other_record,
    // whose locals would otherwise be set up on every call.
    void value(const Cell* vp) {
        tevbin_hooks.check_machine_stack();  // a value nested past the machine stack raises, not crashes
        Cell v = *vp;
        TypeId t = cell_type(&v);
        switch (t) {
        case T_INTEGER: {
            int32_t n = get_integer(&v);
            if (compact && n >= 0 && n <= 63) {
                if (cell_has_flag(&v, FLAG_NEW_LINE)) byte(C_NEW_LINE);
                byte(uint8_t(0x80 | n));
                return;
            }
            lead(&v, t, false);
            snum(n);
            return;
        }
        case T_FLOAT: case T_PERCENT: case T_TIME: return float_record(&v, t);
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: return word_record(&v, t);
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_HASH:
            return block_record(&v, t);
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_BINARY:
            return text_record(&v, t);
        default: return other_record(&v, t);
        }
    }

    [[gnu::noinline]] void other_record(const Cell* v, TypeId t) {
        switch (t) {
        case T_UNSET: case T_NONE: lead(v, t, false); return;
        case T_LOGIC:
            if (compact) {
                if (cell_has_flag(v, FLAG_NEW_LINE)) byte(C_NEW_LINE);
                byte(get_logic(v) ? C_TRUE : C_FALSE);
            } else {
                lead(v, t, false);
                u32(get_logic(v) ? 1 : 0);
            }
            return;
        case T_CHAR: lead(v, t, false); num(get_char(v)); return;
        case T_DATATYPE: lead(v, t, false); num(get_datatype(v)); return;
        case T_PAIR: lead(v, t, false); snum(pair_x(v)); snum(pair_y(v)); return;
        case T_POINT2D: case T_POINT3D:
            lead(v, t, false);
            u32(point_coord_bits(v, 0)); u32(point_coord_bits(v, 1));
            if (t == T_POINT3D) u32(point_coord_bits(v, 2));
            return;
        case T_DATE: {
            bool has_time = (date_packed(v) & DATE_HAS_TIME) != 0;
            lead(v, t, has_time);
            u32(date_packed(v));
            if (has_time || !compact) f64(get_float(v));
            return;
        }
        case T_TYPESET: {
            uint8_t b[12];
            std::memcpy(b, cell_payload(v), CELL_PAYLOAD_BYTES);
            lead(v, t, false);
            if (compact) {
                int n = 12;
                while (n > 0 && b[n - 1] == 0) --n;
                byte(uint8_t(n));
                bytes(b, size_t(n));
            } else {
                bytes(b, 12);
            }
            return;
        }
        case T_TUPLE: {
            uint8_t b[TUPLE_MAX] = {};
            tuple_bytes(v, b);
            int n = tuple_count(v);
            if (compact) {
                lead(v, t, n != 3);
                if (n != 3) byte(uint8_t(n));
                bytes(b, size_t(n));
            } else {
                lead(v, t, false, uint32_t(n) << 8);
                bytes(b, 12);
            }
            return;
        }
        case T_MONEY: {
            bool negative = cell_has_flag(v, FLAG_MONEY_SIGN);
            lead(v, t, negative, negative ? P_NEGATIVE : 0);
            bytes(reinterpret_cast<const uint8_t*>(v) + 4, 12);
            return;
        }
        case T_ISSUE: lead(v, t, false); num(symbol(word_symbol(v))); return;
        case T_MAP: return map_record(v);
        case T_VECTOR: return vector_record(v);
        case T_BITSET: {
            bool complemented = bitset_complemented(v);
            lead(v, t, complemented, complemented ? P_COMPLEMENT : 0);
            SeriesBuffer* b = node_buffer(series_node(v));
            uint32_t n = b->tail - b->head;
            num(n);
            bytes(b->head_ptr(), n);
            pad();
            return;
        }
        case T_OBJECT: return object_record(v);
        case T_ERROR: return error_record(v);
        case T_FUNCTION: return function_record(v);
        case T_NATIVE: case T_ACTION: {
            lead(v, t, false);
            num(native_index(v));
            Cell spec;
            callable_spec(v, &spec);
            path.push_back(0);
            value(&spec);
            path.pop_back();
            return;
        }
        case T_OP: {
            // The record of the callable it wraps, rebuilt from the op's own words.
            TypeId wrapped = op_source_type(v);
            Cell inner = *v;
            inner.header = wrapped;
            lead(v, t, false, uint32_t(wrapped) << 16);
            path.push_back(0);
            value(&inner);
            path.pop_back();
            return;
        }
        default: {
            Cell type;
            set_datatype(&type, t);
            raise_error(err::access::no_codec, &type);
        }
        }
    }

    void float_record(const Cell* v, TypeId t) {
        double d = get_float(v);
        bool integral = false;
        int32_t n = 0;
        if (compact && !(d == 0.0 && std::signbit(d))) {
            if (t == T_PERCENT) {
                if (d > -21474836.0 && d < 21474836.0) {
                    double scaled = std::round(d * 100.0);  // half away from zero
                    if (scaled / 100.0 == d) { integral = true; n = int32_t(scaled); }
                }
            } else if (d > -2147483000.0 && d < 2147483000.0 && d == std::trunc(d)) {
                integral = true;
                n = int32_t(d);
            }
        }
        lead(v, t, integral);
        if (integral) zigzag(n);
        else f64(d);
    }

    void word_record(const Cell* v, TypeId t) {
        NodeRef ctx = word_context(v);
        bool global = ctx == global_context();
        lead(v, t, compact && !global, global ? P_GLOBAL : 0);
        num(symbol(word_symbol(v)));
        if (compact && global) return;
        if (!compact) u32(uint32_t(word_index(v)));
        if (!global) {
            // The value whose context binds it (normally already written: a reference).
            Cell owner;
            if (ctx) owner = *context_self(ctx);
            else set_none(&owner);
            TypeId ot = cell_type(&owner);
            if (ot != T_OBJECT && ot != T_ERROR && ot != T_FUNCTION) set_none(&owner);
            value(&owner);
            if (compact) zigzag(word_index(v));
        }
    }

    void block_record(const Cell* v, TypeId t) {
        NodeRef node = series_node(v);
        uint32_t head = series_index(v);
        bool with_head = head != 0 || !compact;
        if (shared(v, t, node, true, head)) return;
        lead(v, t, with_head);
        if (with_head) num(head);
        uint32_t n = node_buffer(node)->cell_count();
        num(n);
        for (uint32_t k = 0; k < n; ++k) {
            Cell e = node_buffer(node)->cells()[k];
            child(k, &e);
        }
    }

    void map_record(const Cell* v) {
        NodeRef node = series_node(v);
        if (shared(v, T_MAP, node, false, 0)) return;
        lead(v, T_MAP, false);
        uint32_t cells = node_buffer(node)->cell_count(), live = 0;
        for (uint32_t k = 0; k + 1 < cells; k += 2)
            if (cell_type(node_buffer(node)->cells() + k + 1) != T_NONE_ID) live += 2;
        num(live);
        uint32_t index = 0;
        for (uint32_t k = 0; k + 1 < cells; k += 2) {
            Cell key = node_buffer(node)->cells()[k], val = node_buffer(node)->cells()[k + 1];
            if (cell_type(&val) == T_NONE_ID) continue;  // a deleted entry
            child(index++, &key);
            child(index++, &val);
        }
    }

    void text_record(const Cell* v, TypeId t) {
        NodeRef node = series_node(v);
        uint32_t head = series_index(v);
        bool with_head = head != 0 || !compact;
        uint32_t unit = node_buffer(node)->unit();
        uint32_t plain_bits = t == T_BINARY ? 0 : unit << 8;
        if (shared(v, t, node, true, head, plain_bits)) return;
        lead(v, t, with_head, plain_bits);
        if (with_head) num(head);
        SeriesBuffer* b = node_buffer(node);
        uint32_t count = b->count();
        if (t == T_BINARY || !compact) num(count);
        else varint(count << 2 | log2_unit(unit));
        bytes(b->head_ptr(), size_t(count) * unit);
        pad();
    }

    void vector_record(const Cell* v) {
        NodeRef node = series_node(v);
        uint32_t head = series_index(v);
        bool with_head = head != 0 || !compact;
        uint32_t unit = node_buffer(node)->unit();
        if (shared(v, T_VECTOR, node, true, head, unit << 8)) return;
        lead(v, T_VECTOR, with_head, unit << 8);
        if (with_head) num(head);
        SeriesBuffer* b = node_buffer(node);
        uint32_t count = b->count();
        if (compact) {
            byte(uint8_t(vector_element_type(v) << 2 | log2_unit(unit)));
            varint(count);
        } else {
            u32(count);
            u32(vector_element_type(v));
        }
        bytes(b->head_ptr(), size_t(count) * unit);
        pad();
    }

    // The context's words, and its values unless they live on the stack.
    void context_record(NodeRef ctx, bool values) {
        uint32_t n = context_word_count(ctx);
        int kind = context_kind(ctx);
        bool any = false;
        if (values)
            for (uint32_t k = 0; k < n && !any; ++k)
                any = !cell_is(context_slot_address_raw(ctx, k), T_UNSET);
        if (compact) {
            byte(T_CONTEXT);
            byte(uint8_t((kind & 3) | (any ? CF_VALUES : 0)));
        } else {
            u32(T_CONTEXT | uint32_t(kind & 3) << P_CTX_KIND_SHIFT | (any ? P_CTX_VALUES : 0));
        }
        num(n);
        for (uint32_t k = 0; k < n; ++k) num(symbol(word_symbol(context_word_at(ctx, k))));
        if (!any) return;
        for (uint32_t k = 0; k < n; ++k) {
            Cell slot = *context_slot_address_raw(ctx, k);
            child(k, &slot);
        }
    }

    void object_record(const Cell* v) {
        if (shared(v, T_OBJECT, object_context(v), false, 0)) return;
        lead(v, T_OBJECT, false);
        snum(object_class_id(v));
        context_record(object_context(v), true);
    }

    void error_record(const Cell* v) {
        if (shared(v, T_ERROR, object_context(v), false, 0)) return;
        lead(v, T_ERROR, false);
        num(uint32_t(get_integer(error_field(v, ERR_FIELD_CODE))));
        static const ErrorField fields[6] = {ERR_FIELD_ARG1, ERR_FIELD_ARG2, ERR_FIELD_ARG3,
                                             ERR_FIELD_NEAR, ERR_FIELD_WHERE, ERR_FIELD_STACK};
        for (uint32_t k = 0; k < 6; ++k) {
            Cell f = *error_field(v, fields[k]);
            child(k, &f);
        }
    }

    void function_record(const Cell* v) {
        if (shared(v, T_FUNCTION, function_context(v), false, 0)) return;
        lead(v, T_FUNCTION, false);
        Cell spec, body = *function_body(v);
        callable_spec(v, &spec);
        num(node_buffer(series_node(&spec))->cell_count());
        num(node_buffer(series_node(&body))->cell_count());
        context_record(function_context(v), false);
        child(1, &spec);
        child(2, &body);
    }

    // ---------------------------------------------------------- image
    void header_and_symbols(std::vector<uint8_t>* image, uint32_t record_count, bool compress) {
        std::vector<uint8_t> strings;
        std::vector<uint32_t> offsets;
        for (int32_t id : symbols) {
            offsets.push_back(uint32_t(strings.size()));
            uint32_t len = 0;
            const uint8_t* s = symbol_spelling(id, &len);
            strings.insert(strings.end(), s, s + len);
            strings.push_back(0);
        }
        if (!compact) while (strings.size() % 4) strings.push_back(0);
        bool with_symbols = !symbols.empty();
        Encoder h(compact);
        h.num(record_count);
        h.num(uint32_t(out.size()));
        if (with_symbols) {
            h.num(uint32_t(symbols.size()));
            h.num(uint32_t(strings.size()));
            for (uint32_t o : offsets) h.u32(o);
        }
        uint8_t flags = uint8_t((compact ? TEVBIN_COMPACT : 0) | (with_symbols ? TEVBIN_SYMBOLS : 0));
        image->assign(MAGIC, MAGIC + 6);
        image->push_back(TEVBIN_VERSION);
        image->push_back(flags);
        image->reserve(image->size() + h.out.size() + strings.size() + out.size());
        image->insert(image->end(), h.out.data(), h.out.data() + h.out.size());
        image->insert(image->end(), strings.begin(), strings.end());
        image->insert(image->end(), out.data(), out.data() + out.size());
        if (compress) compress_body(image);
    }

    // The body (all after the magic, version and flags) packed in chunks, when
    // that makes it smaller.
    static void compress_body(std::vector<uint8_t>* image) {
        constexpr size_t flags_at = 7, body_at = 8;
        std::vector<uint8_t> packed;
        if (!encode_chunks(image->data() + body_at, image->size() - body_at, &packed)) return;
        (*image)[flags_at] |= TEVBIN_COMPRESSED;
        image->resize(body_at);
        image->insert(image->end(), packed.begin(), packed.end());
    }
};

}  // namespace

void tevbin_encode_records(const Cell* values, uint32_t count, bool compact, bool compress,
                           std::vector<uint8_t>* image) {
    Encoder e(compact);
    for (uint32_t k = 0; k < count; ++k) {
        e.path.assign(1, k);
        e.value(values + k);
    }
    e.header_and_symbols(image, count, compress);
}

Cell* tevbin_encode(const Cell* value, bool compact, bool compress) {
    Cell v = *value;
    std::vector<uint8_t> image;
    tevbin_encode_records(&v, 1, compact, compress, &image);
    return binary_push_memory(image.data(), uint32_t(image.size()));
}

// ================================================================== decoding

namespace {

// Every container met so far, by its path: the indexes from the top record
// down. Open addressing over a hash of the path, each path kept once in a flat
// list that settles collisions (a tree of vectors cost an eighth of start-up).
class SeenPaths {
public:
    void put(const std::vector<uint32_t>& path, const Cell& value) {
        if ((used + 1) * 2 > slots.size()) grow();
        uint64_t h = hash(path.data(), path.size());
        Slot& s = slots[probe(h, path.data(), path.size())];
        if (!s.at) {
            s.hash = h;
            s.at = uint32_t(paths.size()) + 1;
            paths.push_back(uint32_t(path.size()));
            for (uint32_t k : path) paths.push_back(k);  // short: cheaper than a range insert
            ++used;
        }
        s.value = value;
    }
    const Cell* find(const std::vector<uint32_t>& path) const {
        if (slots.empty()) return nullptr;
        const Slot& s = slots[probe(hash(path.data(), path.size()), path.data(), path.size())];
        return s.at ? &s.value : nullptr;
    }

private:
    struct Slot {
        uint64_t hash = 0;
        uint32_t at = 0;  // 1 + where the path starts in `paths`; 0: empty
        Cell value{};
    };
    std::vector<uint32_t> paths;  // each path: its length, then its indexes
    std::vector<Slot> slots;
    size_t used = 0;

    static uint64_t hash(const uint32_t* p, size_t n) {
        uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
        for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0xFF51AFD7ED558CCDull, h ^= h >> 32;
        return h;
    }
    bool same(const Slot& s, uint64_t h, const uint32_t* p, size_t n) const {
        return s.hash == h && paths[s.at - 1] == n && std::equal(p, p + n, paths.begin() + s.at);
    }
    // The slot holding the path, or the empty one where it would go.
    size_t probe(uint64_t h, const uint32_t* p, size_t n) const {
        size_t mask = slots.size() - 1;
        for (size_t i = size_t(h) & mask;; i = (i + 1) & mask)
            if (!slots[i].at || same(slots[i], h, p, n)) return i;
    }
    void grow() {
        std::vector<Slot> old = std::move(slots);
        slots.assign(old.empty() ? 64 : old.size() * 2, Slot{});
        size_t mask = slots.size() - 1;
        for (const Slot& s : old) {
            if (!s.at) continue;
            size_t i = size_t(s.hash) & mask;
            while (slots[i].at) i = (i + 1) & mask;
            slots[i] = s;
        }
    }
};

// Every container met so far, by path. Its cells hold nodes the decode keeps
// alive (the collector is off while it runs).
struct Decoder {
    bool compact;
    TevbinUse use;
    const uint8_t* start;   // the records' bytes
    const uint8_t* pos;
    const uint8_t* end;
    uint32_t base;          // byte position of `start` in the image, for error reports
    const uint8_t* strings = nullptr;
    uint32_t strings_size = 0;
    std::vector<uint32_t> offsets;
    std::vector<int32_t> interned;
    std::vector<uint32_t> path;
    SeenPaths seen;
    std::vector<uint32_t> reference_path;  // the one being followed, kept to spare an allocation each
    // The functions whose bodies are being decoded, innermost last: each one's
    // context, and that of the context record it was stored with.
    struct PendingFunction {
        NodeRef context;
        NodeRef stored_context;
    };
    std::vector<PendingFunction> pending_functions;
    // Words bound to the global context, by symbol: looked up there once per decode.
    KeyTable<Cell> global_words;
    uint32_t depth = 0;

    // ---------------------------------------------------------- faults
    [[noreturn]] void bad(const uint8_t* at) {
        Cell where;
        set_integer(&where, int32_t(base + uint32_t(at - start) + 1));
        raise_error(err::script::tb_invalid_record, &where);
    }
    [[noreturn]] void bad() { bad(pos); }
    size_t left() const { return size_t(end - pos); }
    void need(uint64_t n) { if (n > left()) bad(); }

    // ---------------------------------------------------------- fields
    uint8_t byte() { need(1); return *pos++; }
    uint32_t u32() {
        need(4);
        uint32_t v = uint32_t(pos[0]) | uint32_t(pos[1]) << 8 | uint32_t(pos[2]) << 16 | uint32_t(pos[3]) << 24;
        pos += 4;
        return v;
    }
    uint32_t varint() {
        const uint8_t* at = pos;
        uint32_t v = 0;
        for (int k = 0; k < 5; ++k) {
            if (pos >= end) bad(at);
            uint8_t b = *pos++;
            if (k == 4) {
                if (b > 0x0F) bad(at);
                return v | uint32_t(b) << 28;
            }
            v |= uint32_t(b & 0x7F) << (7 * k);
            if (!(b & 0x80)) return v;
        }
        return v;
    }
    int32_t zigzag() { uint32_t u = varint(); return int32_t((u >> 1) ^ (0u - (u & 1))); }
    uint32_t num() { return compact ? varint() : u32(); }
    int32_t snum() { return compact ? zigzag() : int32_t(u32()); }
    double f64() { need(8); double d; std::memcpy(&d, pos, 8); pos += 8; return d; }
    void skip_pad() {
        if (compact) return;
        while ((pos - start) % 4) { if (pos >= end) bad(); ++pos; }
    }
    // n records or bytes announced: each takes at least one byte.
    uint32_t count(uint64_t unit = 1) {
        const uint8_t* at = pos;
        uint32_t n = num();
        if (uint64_t(n) * unit > left()) bad(at);
        return n;
    }

    int32_t symbol() {
        const uint8_t* at = pos;
        uint32_t i = num();
        if (i >= offsets.size()) bad(at);
        if (interned[i] < 0) {
            uint32_t o = offsets[i];
            const uint8_t* s = strings + o;
            const void* nul = std::memchr(s, 0, strings_size - o);
            if (!nul || nul == s) bad(at);
            interned[i] = symbol_from_utf8(s, uint32_t(static_cast<const uint8_t*>(nul) - s));
        }
        return interned[i];
    }

    // ---------------------------------------------------------- references
    const Cell& follow(const uint8_t* at) {
        uint32_t d = compact ? varint() : u32();
        if (d < 1 || d > MAX_PATH_DEPTH || d > left()) bad(at);
        std::vector<uint32_t>& p = reference_path;
        p.resize(d);
        for (uint32_t k = 0; k < d; ++k) p[k] = num();
        const Cell* found = seen.find(p);
        if (!found) bad(at);
        return *found;
    }

    // A reference to a container of the same storage as type t.
    void shared_value(Cell* out, TypeId t, bool has_head, uint32_t head, const uint8_t* at) {
        if (!compact) {
            if (u32() != C_REF_RECORD) bad(at);
        }
        Cell c = follow(at);
        TypeId ct = cell_type(&c);
        // A word's owner may be met while its function is still being decoded:
        // any value holding a context stands for it.
        bool fits = (is_block_kind(t) && is_block_kind(ct)) || (is_text_kind(t) && is_text_kind(ct)) || ct == t ||
                    (holds_context(t) && holds_context(ct));
        if (!fits) bad(at);
        if (has_head) {
            if (head > node_buffer(series_node(&c))->count()) bad(at);
            if (ct != t && (t == T_HASH || ct == T_HASH)) hash_set_index_table(&c, 0);
            c.header = t;
            series_set_index(&c, head);
        }
        *out = c;
    }

    void remember(const Cell* v) { seen.put(path, *v); }

    // ---------------------------------------------------------- records
    // Decodes one record into *out (a rooted cell). Returns false for a
    // definition record, which leaves nothing.
    bool value(Cell* out) {
        if (++depth > MAX_DEPTH) bad();
        bool r = value_inner(out);
        --depth;
        return r;
    }

    bool value_inner(Cell* out) {
        const uint8_t* at = pos;
        bool new_line = false, reference = false, define = false;
        TypeId t;
        bool option = false;
        uint32_t plain = 0;
        if (compact) {
            uint8_t b = byte();
            for (;;) {
                if (b == C_NEW_LINE) new_line = true;
                else if (b == C_REFERENCE) reference = true;
                else if (b == C_DEFINE) define = true;
                else break;
                b = byte();
            }
            if (b >= 0x80) {
                if (reference || define) bad(at);
                if (b < 0xC0) set_integer(out, b & 0x3F);
                else if (b == C_TRUE || b == C_FALSE) set_logic(out, b == C_TRUE);
                else bad(at);
                if (new_line) cell_set_flag(out, FLAG_NEW_LINE);
                return true;
            }
            option = (b & 0x40) != 0;
            uint32_t id = b & 0x3F;
            if (id == 63) id = varint();
            if (id == 0 || id > 0xFF) bad(at);
            t = TypeId(id);
        } else {
            do {  // fillers
                at = pos;
                plain = u32();
            } while ((plain & 0xFF) == 0);
            t = TypeId(plain & 0xFF);
            new_line = (plain & P_NEW_LINE) != 0;
            reference = (plain & P_REFERENCE) != 0 && t != T_OP;
        }
        if (define && (!(is_word_kind(t) || t == T_ISSUE) || use != TevbinUse::boot)) bad(at);
        if (reference && !may_refer(t)) bad(at);
        if (t > T_MAX_ID) bad(at);
        if (never_stored(t)) {
            Cell type;
            set_datatype(&type, t);
            raise_error(err::access::no_codec, &type);
        }
        record(out, t, option, plain, reference, at);
        if (new_line) cell_set_flag(out, FLAG_NEW_LINE);
        if (define) {
            // The value that follows is the word's; nothing is left in the result.
            Cell* v = stack_push();
            if (!value(v)) bad(at);
            Cell w = *out;
            w.header = T_WORD;
            tevbin_hooks.word_assign(&w, v);
            stack_pop(1);
            return false;
        }
        return true;
    }

    // The records met most are dispatched here; the rest go to other_record,
    // whose locals would otherwise be set up on every call.
    void record(Cell* out, TypeId t, bool option, uint32_t plain, bool reference, const uint8_t* at) {
        switch (t) {
        case T_INTEGER: set_integer(out, snum()); return;
        case T_FLOAT: case T_PERCENT: case T_TIME: {
            double d;
            if (compact && option) {
                int32_t n = zigzag();
                d = t == T_PERCENT ? double(n) / 100.0 : double(n);
            } else {
                d = f64();
            }
            set_float(out, d, t);
            return;
        }
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT:
            return word(out, t, option, plain, at);
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH: case T_HASH:
            return list(out, t, option, reference, at);
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_BINARY:
            return text(out, t, option, plain, reference, at);
        default: return other_record(out, t, option, plain, reference, at);
        }
    }

    [[gnu::noinline]] void other_record(Cell* out, TypeId t, bool option, uint32_t plain, bool reference,
                                        const uint8_t* at) {
        switch (t) {
        case T_UNSET: case T_NONE: cell_init(out, t); return;
        case T_LOGIC: set_logic(out, u32() != 0); return;
        case T_CHAR: {
            uint32_t cp = num();
            if (cp > 0x10FFFF) bad(at);
            set_char(out, cp);
            return;
        }
        case T_DATATYPE: {
            uint32_t id = num();
            if (id < 1 || id > uint32_t(T_MAX_ID) || !type_names[id].name) bad(at);
            set_datatype(out, TypeId(id));
            return;
        }
        case T_PAIR: { int32_t x = snum(); int32_t y = snum(); pair_make_cell(out, x, y); return; }
        case T_POINT2D: case T_POINT3D:
            cell_init(out, t);
            point_put_coord_bits(out, 0, u32());
            point_put_coord_bits(out, 1, u32());
            if (t == T_POINT3D) point_put_coord_bits(out, 2, u32());
            return;
        case T_DATE: {
            uint32_t packed = u32();
            bool has_time = (packed & DATE_HAS_TIME) != 0;
            if (compact && has_time != option) bad(at);
            uint32_t month = (packed >> 12) & 0xF, day = (packed >> 7) & 0x1F;
            if (month < 1 || month > 12 || day < 1) bad(at);
            double time = (has_time || !compact) ? f64() : 0.0;
            if (!std::isfinite(time)) bad(at);
            cell_init(out, T_DATE);
            date_set_packed(out, packed);
            put_float(out, has_time ? time : 0.0);
            return;
        }
        case T_TYPESET: {
            uint8_t b[12] = {};
            uint32_t n = compact ? byte() : 12;
            if (n > 12) bad(at);
            need(n);
            std::memcpy(b, pos, n);
            pos += n;
            cell_init(out, T_TYPESET);
            std::memcpy(cell_payload(out), b, CELL_PAYLOAD_BYTES);
            return;
        }
        case T_TUPLE: {
            uint8_t b[TUPLE_MAX] = {};
            uint32_t n = compact ? (option ? byte() : 3) : (plain >> 8) & 0xFF;
            if (n < 3 || n > TUPLE_MAX) bad(at);
            uint32_t stored = compact ? n : 12;
            need(stored);
            std::memcpy(b, pos, n);
            pos += stored;
            tuple_make_cell(out, int(n), b);
            return;
        }
        case T_MONEY: {
            need(12);
            uint8_t currency = pos[0];
            uint8_t digits[11];
            std::memcpy(digits, pos + 1, 11);
            pos += 12;
            bool negative = compact ? option : (plain & P_NEGATIVE) != 0;
            if (!money_make_cell_raw(out, negative, currency, digits)) bad(at);
            return;
        }
        case T_ISSUE: {
            int32_t s = symbol();
            cell_init(out, T_ISSUE);
            word_set(out, global_context(), s, WORD_NO_INDEX);
            return;
        }
        case T_MAP: return map(out, reference, at);
        case T_VECTOR: return vector(out, option, plain, reference, at);
        case T_BITSET: {
            if (reference) bad(at);
            uint32_t n = count();
            bitset_from_bytes(out, pos, n, compact ? option : (plain & P_COMPLEMENT) != 0);
            pos += n;
            skip_pad();
            return;
        }
        case T_OBJECT: return object(out, reference, at);
        case T_ERROR: return error(out, reference, at);
        case T_FUNCTION: return function(out, reference, at);
        case T_NATIVE: case T_ACTION: return native(out, t, at);
        case T_OP: {
            path.push_back(0);
            Cell* inner = stack_push();
            if (!value(inner)) bad(at);
            path.pop_back();
            TypeId it = cell_type(inner);
            if (it != T_NATIVE && it != T_ACTION && it != T_FUNCTION) bad(at);
            op_make_value(out, inner);
            stack_pop(1);
            return;
        }
        case T_CONTEXT: {
            if (reference) bad(at);
            return context(out, at, plain);
        }
        default: bad(at);
        }
    }

    void word(Cell* out, TypeId t, bool option, uint32_t plain, const uint8_t* at) {
        int32_t s = symbol();
        bool global = compact ? !option : (plain & P_GLOBAL) != 0;
        uint32_t slot = compact ? 0 : u32();
        if (global) return global_word(out, t, s);
        Cell* owner = stack_push();
        if (!value(owner)) bad(at);
        if (compact) slot = uint32_t(zigzag());
        TypeId ot = cell_type(owner);
        NodeRef ctx = 0;
        if (holds_context(ot)) ctx = value_context(owner);
        else if (ot != T_NONE) bad(at);
        if (!ctx && t != T_REFINEMENT) {  // only a refinement goes unbound
            global_word(out, t, s);
            stack_pop(1);
            return;
        }
        cell_init(out, t);
        word_set_symbol(out, s);
        word_set_index(out, WORD_NO_INDEX);
        if (ctx) {
            int32_t found = int32_t(slot);
            uint32_t n = context_word_count(ctx);
            if (found < 0 || uint32_t(found) >= n ||
                symbol_resolve_alias(word_symbol(context_word_at(ctx, uint32_t(found)))) != symbol_resolve_alias(s))
                found = slot_by_symbol(&ctx, s);
            if (found < 0) bad(at);
            word_bind_to(out, ctx, found);
        }
        stack_pop(1);
    }

    // The slot of a word whose stored slot does not name it, or -1. A
    // function's spec may have lost a word since the function was made: a word
    // of its body still bound to that one stays bound to the stored context
    // record, as when the function was made after its body.
    [[gnu::noinline]] int32_t slot_by_symbol(NodeRef* ctx, int32_t s) const {
        int32_t found = context_find_symbol(*ctx, s, true);
        if (found >= 0) return found;
        for (const PendingFunction& p : pending_functions) {
            if (p.context != *ctx) continue;
            *ctx = p.stored_context;
            return context_find_symbol(p.stored_context, s, true);
        }
        return -1;
    }

    // The global context's words only grow, so a word's slot there stays put.
    void global_word(Cell* out, TypeId t, int32_t s) {
        bool added;
        Cell& word = global_words.find_or_add(uint32_t(s), &added);
        if (added) {
            cell_init(&word, T_WORD);
            word_make_global(s, &word);
        }
        *out = word;
        cell_set_type(out, t);
    }

    // Appends to a list made with room for all its cells, so normally without
    // a reserve; the buffer is re-read, as decoding the cell may have moved it.
    static void append_cell(Cell* list, const Cell* v) {
        SeriesBuffer* b = node_buffer(series_node(list));
        if (b->room() < sizeof(Cell)) return block_append(list, v);
        std::memcpy(b->tail_ptr(), v, sizeof(Cell));
        b->tail += sizeof(Cell);
    }

    // A bare one-byte record (a small integer, true or false) read as value()
    // would read it, without its round through the stack: lists are full of them.
    bool compact_immediate(Cell* out) {
        if (!compact || pos == end || depth >= MAX_DEPTH) return false;
        uint8_t b = *pos;
        if (b >= 0x80 && b < 0xC0) set_integer(out, b & 0x3F);
        else if (b == C_TRUE || b == C_FALSE) set_logic(out, b == C_TRUE);
        else return false;
        ++pos;
        return true;
    }

    void list(Cell* out, TypeId t, bool option, bool reference, const uint8_t* at) {
        uint32_t head = (!compact || option) ? num() : 0;
        if (reference) return shared_value(out, t, true, head, at);
        uint32_t n = count();
        if (head > n) bad(at);
        block_make(out, n, T_BLOCK);
        mark_library(out);
        remember_as(out, t);
        for (uint32_t k = 0; k < n; ++k) {
            Cell immediate;
            if (compact_immediate(&immediate)) {
                append_cell(out, &immediate);
                continue;
            }
            Cell* slot = stack_push();
            path.push_back(k);
            if (!value(slot)) bad(at);
            path.pop_back();
            append_cell(out, slot);
            stack_pop(1);
        }
        if (t == T_HASH) {
            Cell* blk = stack_push_copy(out);
            hash_index_block(out, blk);
            stack_pop(1);
            remember(out);
        } else {
            cell_set_type(out, t);
        }
        series_set_index(out, head);
    }

    void remember_as(const Cell* v, TypeId t) {
        Cell c = *v;
        cell_set_type(&c, t);
        remember(&c);
    }

    void mark_library(const Cell* v) {
        if (use == TevbinUse::boot) set_series_flags(series_node(v), SER_LIBRARY_FLAG);
    }

    void map(Cell* out, bool reference, const uint8_t* at) {
        if (reference) return shared_value(out, T_MAP, false, 0, at);
        uint32_t n = count();
        if (n % 2) bad(at);
        map_make_cell(out, nullptr, n / 2);
        remember(out);
        Cell* pairs = block_push_new(n);
        for (uint32_t k = 0; k < n; ++k) {
            Cell* slot = stack_push();
            path.push_back(k);
            if (!value(slot)) bad(at);
            path.pop_back();
            if (k % 2 == 0 && !map_key_type_valid(cell_type(slot))) bad(at);
            block_append(pairs, slot);
            stack_pop(1);
        }
        map_extend(out, pairs, true);
        stack_pop(1);
    }

    void text(Cell* out, TypeId t, bool option, uint32_t plain, bool reference, const uint8_t* at) {
        uint32_t head = (!compact || option) ? num() : 0;
        if (reference) return shared_value(out, t, true, head, at);
        uint32_t n, unit = 1;
        if (t == T_BINARY) {
            n = count();
        } else if (compact) {
            uint32_t packed = varint();
            n = packed >> 2;
            unit = 1u << (packed & 3);
        } else {
            n = u32();
            unit = (plain >> 8) & 0xFF;
        }
        if (unit != 1 && unit != 2 && unit != 4) bad(at);
        need(uint64_t(n) * unit);
        if (head > n) bad(at);
        if (unit == 4)
            for (uint32_t k = 0; k < n; ++k) {
                uint32_t cp;
                std::memcpy(&cp, pos + 4 * k, 4);
                if (cp > 0x10FFFF) bad(at);
            }
        if (t == T_BINARY) {
            binary_make_cell(out, n);
        } else {
            string_make_width(out, n ? n : 1, unit, t);
        }
        SeriesBuffer* b = node_buffer(series_node(out));
        std::memcpy(b->head_ptr(), pos, size_t(n) * unit);
        b->tail = b->head + n * unit;
        pos += size_t(n) * unit;
        skip_pad();
        cell_set_type(out, t);
        series_set_index(out, head);
        remember(out);
    }

    void vector(Cell* out, bool option, uint32_t plain, bool reference, const uint8_t* at) {
        uint32_t head = (!compact || option) ? num() : 0;
        if (reference) return shared_value(out, T_VECTOR, true, head, at);
        uint32_t unit, n;
        TypeId et;
        if (compact) {
            uint8_t b = byte();
            et = TypeId(b >> 2);
            unit = 1u << (b & 3);
            n = varint();
        } else {
            unit = (plain >> 8) & 0xFF;
            n = u32();
            uint32_t e = u32();
            if (e > 0xFF) bad(at);
            et = TypeId(e);
        }
        bool ok = ((et == T_CHAR || et == T_INTEGER) && (unit == 1 || unit == 2 || unit == 4)) ||
                  ((et == T_FLOAT || et == T_PERCENT) && (unit == 4 || unit == 8));
        if (!ok) bad(at);
        need(uint64_t(n) * unit);
        if (head > n) bad(at);
        vector_make_cell(out, n, et, unit);
        SeriesBuffer* b = node_buffer(series_node(out));
        std::memcpy(b->head_ptr(), pos, size_t(n) * unit);
        b->tail = b->head + n * unit;
        pos += size_t(n) * unit;
        skip_pad();
        series_set_index(out, head);
        remember(out);
    }

    // A context record: an object! over a new context (values when they follow).
    void context(Cell* out, const uint8_t* at, uint32_t plain) {
        uint32_t flags;
        if (compact) {
            flags = byte();
        } else {
            flags = ((plain >> P_CTX_KIND_SHIFT) & 3) | ((plain & P_CTX_FLAG) ? CF_FLAG : 0) |
                    ((plain & P_CTX_STACK) ? CF_STACK : 0) | ((plain & P_CTX_VALUES) ? CF_VALUES : 0);
        }
        if (flags & ~uint32_t(0x1F)) bad(at);
        if ((flags & CF_STACK) && use != TevbinUse::boot) bad(at);
        uint32_t n = count();
        Cell* obj = object_push_new(T_OBJECT, 0, n);
        NodeRef ctx = object_context(obj);
        object_set_class_id(obj, -1);
        *context_self(ctx) = *obj;
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* sat = pos;
            int32_t s = symbol();
            int32_t slot;
            if (context_add_symbol(ctx, s, true, &slot) >= 0 || slot != int32_t(k)) bad(sat);
        }
        remember(obj);
        if ((flags & CF_VALUES) && !(flags & CF_STACK)) {
            for (uint32_t k = 0; k < n; ++k) {
                Cell* v = stack_push();
                path.push_back(k);
                if (!value(v)) bad(at);
                path.pop_back();
                *context_slot_address_raw(ctx, k) = *v;
                stack_pop(1);
            }
        }
        *out = *obj;
        stack_pop(1);
    }

    // The nested context record of an object, error or function.
    void nested_context(Cell* out, const uint8_t* at) {
        const uint8_t* cat = pos;
        uint32_t plain = 0;
        if (compact) {
            if (byte() != T_CONTEXT) bad(cat);
        } else {
            plain = u32();
            if ((plain & 0xFF) != T_CONTEXT) bad(cat);
        }
        context(out, at, plain);
    }

    void object(Cell* out, bool reference, const uint8_t* at) {
        if (reference) return shared_value(out, T_OBJECT, false, 0, at);
        snum();  // the class id: a decoded object is a class of its own
        nested_context(out, at);
        object_set_class_id(out, object_new_class_id());
        *context_self(object_context(out)) = *out;
        object_finish_handlers(out);
        remember(out);
    }

    void error(Cell* out, bool reference, const uint8_t* at) {
        if (reference) return shared_value(out, T_ERROR, false, 0, at);
        uint32_t code = num();
        if (!errors_ready() || !error_code_known(code)) bad(at);
        Cell* mark = vstack.top;
        Cell* fields = stack_push();
        block_make(fields, 6);
        Cell* e = error_push_from_code(code, nullptr, nullptr, nullptr);
        remember(e);
        for (uint32_t k = 0; k < 6; ++k) {
            Cell* v = stack_push();
            path.push_back(k);
            if (!value(v)) bad(at);
            path.pop_back();
            block_append(fields, v);
            stack_pop(1);
        }
        static const ErrorField targets[6] = {ERR_FIELD_ARG1, ERR_FIELD_ARG2, ERR_FIELD_ARG3,
                                              ERR_FIELD_NEAR, ERR_FIELD_WHERE, ERR_FIELD_STACK};
        for (uint32_t k = 0; k < 6; ++k) *error_field(e, targets[k]) = *block_at(fields, k);
        *out = *e;
        vstack.top = mark;
    }

    // The function is made once its spec is read, before its body: the body
    // may hold the function itself, and words bound to it then find its context.
    void function(Cell* out, bool reference, const uint8_t* at) {
        if (reference) return shared_value(out, T_FUNCTION, false, 0, at);
        count();  // cells of the spec and the body: each needs a record
        count();
        Cell* mark = vstack.top;
        Cell* stand_in = stack_push();
        nested_context(stand_in, at);  // remembered under this path until the function exists
        Cell* spec = stack_push();
        path.push_back(1);
        if (!value(spec)) bad(at);
        path.pop_back();
        if (!cell_is(spec, T_BLOCK)) bad(at);
        uint32_t flags = function_validate_spec(spec);
        Cell* fn = function_push(spec, block_push_new(0), flags);
        remember(fn);
        pending_functions.push_back({function_context(fn), value_context(stand_in)});
        Cell* body = stack_push();
        path.push_back(2);
        if (!value(body)) bad(at);
        if (!cell_is(body, T_BLOCK)) bad(at);
        if (!decoded_here(body) || series_index(body) != 0) block_copy_deep(body, body);
        path.pop_back();
        pending_functions.pop_back();
        callable_more_cells(fn)[0] = *body;
        context_bind_block(body, function_context(fn), false);
        *out = *fn;
        vstack.top = mark;
    }

    // The body is the list just decoded under this path rather than a
    // reference to one met before: the function may take it as it is, which
    // keeps whatever else holds its blocks sharing them. (A reference, which
    // only a made-up image holds, is copied as the function's maker would.)
    bool decoded_here(const Cell* list) const {
        const Cell* remembered = seen.find(path);
        return remembered && series_node(remembered) == series_node(list);
    }

    void native(Cell* out, TypeId t, const uint8_t* at) {
        uint32_t index = num();
        // The stored spec is read past; the table's own is the one that matches its entry.
        Cell* ignored = stack_push();
        path.push_back(0);
        if (!value(ignored)) bad(at);
        path.pop_back();
        const char* spec_text;
        if (t == T_NATIVE) {
            spec_text = tevbin_hooks.native_spec_text(index);
            if (!spec_text) bad(at);
        } else {
            if (index < 1 || index > uint32_t(ACTION_COUNT) || !action_words[index]) bad(at);
            spec_text = action_specs[index];
        }
        Cell* spec = stack_push();
        tevbin_hooks.spec_from_text(spec, spec_text);
        native_make_value(out, spec, index, t);
        stack_pop(2);
    }
};

// The collector stays off while a decode holds raw cells in its path table.
struct CollectorOff {
    bool was = collector_enabled;
    CollectorOff() { collector_enabled = false; }
    ~CollectorOff() { collector_enabled = was; }
};

[[noreturn]] void invalid_data() {
    Cell none;
    set_none(&none);
    raise_error(err::script::invalid_data, &none);
}

}  // namespace

void tevbin_decode(const uint8_t* data, size_t length, Cell* target, TevbinUse use) {
    if (length < 8 || std::memcmp(data, MAGIC, 6) != 0) invalid_data();
    uint8_t flags = data[7];
    std::vector<uint8_t> unpacked;
    const uint8_t* body = data + 8;
    size_t body_size = length - 8;
    if (flags & ~uint8_t(TEVBIN_COMPACT | TEVBIN_COMPRESSED | TEVBIN_SYMBOLS)) {
        Cell where;
        set_integer(&where, 8);  // the flags byte
        raise_error(err::script::tb_invalid_record, &where);
    }
    static const uint8_t nothing[1] = {0};
    if (flags & TEVBIN_COMPRESSED) {
        if (!decode_chunks(body, body_size, &unpacked)) invalid_data();
        body = unpacked.empty() ? nothing : unpacked.data();
        body_size = unpacked.size();
    }
    CollectorOff off;
    StackScope scope;
    Decoder d;
    d.compact = (flags & TEVBIN_COMPACT) != 0;
    d.use = use;
    d.start = body;
    d.pos = body;
    d.end = body + body_size;
    d.base = 8;
    uint32_t records = d.count();
    const uint8_t* at = d.pos;
    uint32_t records_size = d.num();
    if (flags & TEVBIN_SYMBOLS) {
        uint32_t n = d.count(4);
        uint32_t size = d.count();
        d.offsets.resize(n);
        d.interned.assign(n, -1);
        for (uint32_t k = 0; k < n; ++k) {
            const uint8_t* oat = d.pos;
            d.offsets[k] = d.u32();
            if (d.offsets[k] >= size) d.bad(oat);
        }
        d.need(size);
        d.strings = d.pos;
        d.strings_size = size;
        d.pos += size;
    }
    if (records_size != d.left()) d.bad(at);
    for (uint32_t k = 0; k < records; ++k) {
        Cell* v = stack_push();
        d.path.assign(1, k);
        if (d.value(v)) block_append(target, v);
        stack_pop(1);
    }
    if (d.pos != d.end) d.bad();
}

}  // namespace tev

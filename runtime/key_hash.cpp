// Key hashing: MurmurHash3 x86-32 over bytes, its finaliser over words, and hash_key_value by datatype.
#include "runtime/key_hash.h"
#include "runtime/case_tables.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"

namespace tev {

// ------------------------------------------------------------------ MurmurHash3 x86-32

namespace {

constexpr uint32_t C1 = 0xcc9e2d51u, C2 = 0x1b873593u;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
inline uint32_t load_le(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint8_t lower_ascii(uint8_t b) { return (b >= 'A' && b <= 'Z') ? uint8_t(b + 32) : b; }
// lower_ascii on each byte of a word at once: a byte gets 0x20 when its low
// seven bits are in 'A'..'Z' and its top bit is clear. No carry crosses a byte,
// since every sum is of two values below 0x80.
inline uint32_t lower_ascii_word(uint32_t w) {
    uint32_t low7 = w & 0x7F7F7F7Fu;
    uint32_t at_least_a = low7 + 0x3F3F3F3Fu;   // top bit set from 'A' (0x41) on
    uint32_t above_z = low7 + 0x25252525u;      // top bit set from '[' (0x5B) on
    uint32_t upper = at_least_a & ~above_z & ~w & 0x80808080u;
    return w | (upper >> 2);
}

// The running state of one hash, fed 32-bit blocks; the length mixed in at the
// end is whatever the caller counted (bytes, or 4 per character).
inline uint32_t scramble(uint32_t k) { k *= C1; k = rotl(k, 15); return k * C2; }

struct Murmur3 {
    uint32_t h;
    explicit Murmur3(uint32_t seed = HASH_SEED) : h(seed) {}
    void block(uint32_t k) { scrambled_block(scramble(k)); }
    // A block whose scramble is already done (looked up in a table).
    void scrambled_block(uint32_t k) { h ^= k; h = rotl(h, 13); h = h * 5 + 0xe6546b64u; }
    void tail(uint32_t k) { h ^= scramble(k); }  // the last 1-3 bytes, packed little-endian
    uint32_t finish(uint32_t length) { return murmur3_finalize(h ^ length); }
};

template <bool Fold>
uint32_t hash_bytes(const uint8_t* p, size_t length, uint32_t seed = HASH_SEED) {
    Murmur3 m(seed);
    size_t blocks = length / 4;
    for (size_t i = 0; i < blocks; ++i, p += 4) {
        m.block(Fold ? lower_ascii_word(load_le(p)) : load_le(p));
    }
    uint32_t k = 0;
    switch (length & 3) {
        case 3: k ^= uint32_t(Fold ? lower_ascii(p[2]) : p[2]) << 16; [[fallthrough]];
        case 2: k ^= uint32_t(Fold ? lower_ascii(p[1]) : p[1]) << 8; [[fallthrough]];
        case 1: k ^= uint32_t(Fold ? lower_ascii(p[0]) : p[0]); m.tail(k);
    }
    return m.finish(uint32_t(length));
}

}  // namespace

uint32_t murmur3_hash_bytes(const void* data, size_t length) {
    return hash_bytes<false>(static_cast<const uint8_t*>(data), length);
}

uint32_t murmur3_hash_bytes_seed(const void* data, size_t length, uint32_t seed) {
    return hash_bytes<false>(static_cast<const uint8_t*>(data), length, seed);
}

uint32_t murmur3_hash_bytes_folded(const void* data, size_t length) {
    return hash_bytes<true>(static_cast<const uint8_t*>(data), length);
}

// ------------------------------------------------------------------ text keys

namespace {

// Each one-byte code point's block, scrambled, as it is and upper-cased: most
// keys are short one-byte text, and this leaves a character only the state
// update. The values are those scramble(unicode_upper(cp)) gives, so hashes do
// not change.
struct ScrambledLatin1 {
    uint32_t exact[256], folded[256], upper[256];
    ScrambledLatin1() {
        for (uint32_t cp = 0; cp < 256; ++cp) {
            upper[cp] = unicode_upper(cp);
            exact[cp] = scramble(cp);
            folded[cp] = scramble(upper[cp]);
        }
    }
};
const ScrambledLatin1 scrambled_latin1;  // built from constant case tables: no start-up order to keep

// The state update is one serial chain however the blocks are made, so four
// to a turn leaves the chain fewer loop instructions to share the core with.
// The odd 1-3 go first, one at a time, so a key shorter than four takes only
// that loop.
template <class ScrambledAt>
inline void feed_scrambled(Murmur3& m, size_t count, ScrambledAt scrambled_at) {
    size_t i = 0;
    for (size_t odd = count & 3; i < odd; ++i) m.scrambled_block(scrambled_at(i));
    for (; i != count; i += 4) {  // count - i is a multiple of four here
        m.scrambled_block(scrambled_at(i));
        m.scrambled_block(scrambled_at(i + 1));
        m.scrambled_block(scrambled_at(i + 2));
        m.scrambled_block(scrambled_at(i + 3));
    }
}

template <bool Fold>
void feed_latin1(Murmur3& m, const uint8_t* p, uint32_t count) {
    const uint32_t* blocks = Fold ? scrambled_latin1.folded : scrambled_latin1.exact;
    feed_scrambled(m, count, [=](size_t i) { return blocks[p[i]]; });
}

// Upper case puts every case variant on one probe path. Code points below
// 0x100 fold through the one-byte table, which also spares them the scramble;
// the rest of the two-byte range reads the case table inline.
inline uint32_t scrambled_folded(uint32_t cp) {
    if (cp < 0x100) return scrambled_latin1.folded[cp];
    return scramble(cp < 0x10000 ? unicode_upper_below_10000(cp) : unicode_map_char_case(cp, true));
}

template <class Unit, bool Fold>
void feed_chars(Murmur3& m, const uint8_t* p, uint32_t count) {
    feed_scrambled(m, count, [=](size_t i) {
        Unit u;
        std::memcpy(&u, p + i * sizeof(Unit), sizeof(Unit));  // units are little-endian
        return Fold ? scrambled_folded(u) : scramble(u);
    });
}

template <bool Fold>
void feed_text(Murmur3& m, const uint8_t* p, uint32_t unit, uint32_t count) {
    if (unit == 2) feed_chars<uint16_t, Fold>(m, p, count);
    else feed_chars<uint32_t, Fold>(m, p, count);
}

}  // namespace

uint32_t hash_latin1_chars(const uint8_t* chars, uint32_t count, int case_flag) {
    Murmur3 m;
    if (case_flag == 1) feed_latin1<false>(m, chars, count);
    else feed_latin1<true>(m, chars, count);
    return m.finish(4 * count);
}

bool latin1_same_folded(uint8_t a, uint8_t b) { return scrambled_latin1.upper[a] == scrambled_latin1.upper[b]; }

// Each code point is one 32-bit block, so a text hashes alike in 1, 2 and 4-byte
// units (it equals the hash of its UTF-32LE bytes).
uint32_t hash_string_chars(const Cell* str, int case_flag) {
    SeriesBuffer* b = node_buffer(series_node(str));
    uint32_t unit = b->unit();
    uint32_t total = b->count();  // no division: every key lookup comes here
    uint32_t index = series_index(str) < total ? series_index(str) : total;
    uint32_t count = total - index;
    if (cell_type(str) == T_TEXT_KEY && text_key_count(str) >= 0 && uint32_t(text_key_count(str)) < count)
        count = uint32_t(text_key_count(str));
    const uint8_t* p = b->head_ptr() + size_t(index) * unit;
    if (unit == 1) return hash_latin1_chars(p, count, case_flag);
    Murmur3 m;
    if (case_flag == 1) feed_text<false>(m, p, unit, count);
    else feed_text<true>(m, p, unit, count);
    return m.finish(4 * count);
}

uint32_t hash_symbol_spelling(const Cell* symbol) {
    SeriesBuffer* b = node_buffer(symbol_entry_spelling(symbol));
    return murmur3_hash_bytes_folded(b->head_ptr(), b->tail - b->head);
}

// ------------------------------------------------------------------ key cells

static uint32_t hash_words(const Cell* c, int first, int count) {
    uint32_t w[3];
    std::memcpy(w, cell_payload(c), CELL_PAYLOAD_BYTES);
    uint8_t bytes[12];
    for (int i = 0; i < count; ++i) {
        uint32_t v = w[first - 1 + i];
        bytes[4 * i] = uint8_t(v); bytes[4 * i + 1] = uint8_t(v >> 8);
        bytes[4 * i + 2] = uint8_t(v >> 16); bytes[4 * i + 3] = uint8_t(v >> 24);
    }
    return murmur3_hash_bytes(bytes, size_t(count) * 4);
}

// float!, percent! and time! keys hash their exact bits with -0.0 folded into
// 0.0. Hashed lookups therefore find a float key only when it equals the
// stored one bit for bit (up to the sign of zero) and `compare` also agrees:
// the near-equality of `=` does not carry over to hashed find, select and maps.
static uint32_t hash_float_key(const Cell* c) {
    Cell k = *c;
    if (get_float(&k) == 0.0) put_float(&k, 0.0);
    return hash_words(&k, 2, 2);
}

uint32_t hash_key_value(const Cell* key, int case_flag) {
    switch (int(cell_type(key))) {
        case T_UNSET: return uint32_t(-2);
        case T_NONE: return uint32_t(-1);
        case T_DATATYPE: case T_LOGIC: case T_OBJECT: case T_ERROR: case T_PORT:
            return murmur3_finalize(cell_word(key, 1));
        case T_CHAR: case T_INTEGER: case T_MAP: case T_HANDLE: case T_EVENT:
            return murmur3_finalize(cell_word(key, 2));
        case T_NATIVE: case T_ACTION:
            return murmur3_finalize(cell_word(key, 3));
        case T_WORD: case T_SET_WORD: case T_LIT_WORD: case T_GET_WORD: case T_REFINEMENT: case T_ISSUE:
            return murmur3_finalize(uint32_t(symbol_resolve_alias(word_symbol(key))));
        case T_SYMBOL:
            return hash_symbol_spelling(key);
        case T_STRING: case T_FILE: case T_URL: case T_TAG: case T_EMAIL: case T_REF: case T_TEXT_KEY:
            return hash_string_chars(key, case_flag);
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        case T_HASH: case T_IMAGE: case T_POINT2D:
            return hash_words(key, 1, 2);
        case T_FLOAT: case T_PERCENT: case T_TIME:
            return hash_float_key(key);
        case T_PAIR:
            return hash_words(key, 2, 2);
        case T_OP: case T_FUNCTION: case T_TRIPLE: case T_TYPESET: case T_DATE: case T_POINT3D:
            return hash_words(key, 1, 3);
        case T_TUPLE: {
            uint32_t n = (key->header >> TUPLE_COUNT_SHIFT) & 0xF;  // bit 30 is the new-line flag
            uint8_t bytes[12];
            std::memcpy(bytes, cell_payload(key), CELL_PAYLOAD_BYTES);
            return murmur3_hash_bytes(bytes, n < 12 ? n : 12);
        }
        case T_BINARY: {
            SeriesBuffer* b = node_buffer(series_node(key));
            uint64_t start = uint64_t(b->head) + series_index(key);
            if (start > b->tail) start = b->tail;
            return murmur3_hash_bytes(b->data + start, size_t(b->tail - start));
        }
        case T_MONEY: {
            Cell k = *key;
            k.header = T_MONEY | (key->header & FLAG_MONEY_SIGN);
            return murmur3_hash_bytes(&k, sizeof k);
        }
        default:
            return 0;
    }
}

bool key_hash_uses_node(TypeId t) {
    switch (t) {
        case T_BLOCK: case T_PAREN: case T_PATH: case T_LIT_PATH: case T_SET_PATH: case T_GET_PATH:
        case T_HASH: case T_IMAGE: case T_OBJECT: case T_ERROR: case T_PORT: case T_MAP:
        case T_OP: case T_FUNCTION: case T_EVENT:
            return true;
        default:
            return false;
    }
}

}  // namespace tev

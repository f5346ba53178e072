// The DEFLATE decoder: stored, fixed and dynamic blocks, refusing every malformed stream.
//
// Codes are decoded through two-level tables (a root indexed by the next bits,
// subtables for longer codes). The bit buffer holds 56 or more bits after every
// refill; past the end of the input it is filled with zero bytes that are
// counted, and a stream that consumes any of them is truncated.
#include <cstring>
#include "io/deflate.h"

namespace tev {
namespace {

// ================================================================== tables

// A table entry: value << 16 | kind << 13 | extra bits << 8 | code bits.
// For K_SUB the value is the subtable's offset and "extra" its index bits.
enum : uint32_t { K_LITERAL = 0, K_LENGTH = 1, K_END = 2, K_SUB = 3, K_BAD = 4 };
constexpr uint32_t make_entry(uint32_t value, uint32_t kind, uint32_t extra, uint32_t bits) {
    return value << 16 | kind << 13 | extra << 8 | bits;
}
inline uint32_t entry_bits(uint32_t e) { return e & 0xFF; }
inline uint32_t entry_extra(uint32_t e) { return (e >> 8) & 0x1F; }
inline uint32_t entry_kind(uint32_t e) { return (e >> 13) & 7; }
inline uint32_t entry_value(uint32_t e) { return e >> 16; }

constexpr int LIT_ROOT = 10, DIST_ROOT = 8, CODELEN_ROOT = 7;
// Room for any complete code within these roots (the largest possible set of
// subtables stays below these sizes; the builder checks anyway).
constexpr int LIT_TABLE = 2048, DIST_TABLE = 1024, CODELEN_TABLE = 128;

const uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const uint16_t dist_base[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const uint8_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const uint8_t codelen_order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// What each symbol decodes to, without its code bits.
struct SymbolEntries {
    uint32_t lit[288], dist[32], codelen[19];
    SymbolEntries() {
        for (uint32_t s = 0; s < 288; ++s) {
            if (s < 256) lit[s] = make_entry(s, K_LITERAL, 0, 0);
            else if (s == 256) lit[s] = make_entry(0, K_END, 0, 0);
            else if (s < 286) lit[s] = make_entry(length_base[s - 257], K_LENGTH, length_extra[s - 257], 0);
            else lit[s] = make_entry(0, K_BAD, 0, 0);  // 286 and 287 have codes but no meaning
        }
        for (uint32_t s = 0; s < 32; ++s)
            dist[s] = s < 30 ? make_entry(dist_base[s], K_LENGTH, dist_extra[s], 0) : make_entry(0, K_BAD, 0, 0);
        for (uint32_t s = 0; s < 19; ++s) codelen[s] = make_entry(s, K_LITERAL, 0, 0);
    }
};
const SymbolEntries symbol_entries;

struct Reverse8 {
    uint8_t r[256];
    Reverse8() {
        for (int i = 0; i < 256; ++i) {
            int v = 0;
            for (int b = 0; b < 8; ++b)
                if (i & (1 << b)) v |= 0x80 >> b;
            r[i] = uint8_t(v);
        }
    }
};
const Reverse8 reverse8;

inline uint32_t reverse_bits(uint32_t code, uint32_t len) {
    return (uint32_t(reverse8.r[code & 0xFF]) << 8 | reverse8.r[code >> 8]) >> (16 - len);
}

// Which incomplete code sets a table accepts: code-length codes none; the
// literal/length code a lone one-bit code; distances also no code at all (a
// block of literals only).
enum class CodeSet { codelen, litlen, dist };

// Builds the decoding table of a canonical code. False for an over-subscribed
// or (beyond what `set` allows) incomplete code, or lengths above 15.
bool build_table(const uint8_t* lens, int n, const uint32_t* entries, int root, uint32_t* table, int capacity,
                 CodeSet set) {
    uint16_t count[16] = {};
    for (int s = 0; s < n; ++s) {
        if (lens[s] > 15) return false;
        ++count[lens[s]];
    }
    int used = n - count[0];
    const uint32_t bad = make_entry(0, K_BAD, 0, 0);
    const int root_size = 1 << root;
    for (int i = 0; i < root_size; ++i) table[i] = bad;
    if (used == 0) return set == CodeSet::dist;
    int left = 1;
    for (int len = 1; len <= 15; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return false;  // over-subscribed
    }
    if (left > 0 && !(set != CodeSet::codelen && used == 1 && count[1] == 1)) return false;  // incomplete
    int max_len = 15;
    while (count[max_len] == 0) --max_len;
    uint16_t next_code[16] = {};
    for (int len = 1, code = 0; len <= 15; ++len) {
        next_code[len] = uint16_t(code);
        code = (code + count[len]) << 1;
    }
    // Symbols in canonical order: by length, then by value.
    uint16_t offset[16] = {}, sorted[288];
    for (int len = 1; len < 15; ++len) offset[len + 1] = uint16_t(offset[len] + count[len]);
    for (int s = 0; s < n; ++s)
        if (lens[s]) sorted[offset[lens[s]]++] = uint16_t(s);
    uint16_t remaining[16];
    std::memcpy(remaining, count, sizeof count);
    int next_free = root_size, sub_prefix = -1, sub_base = 0, sub_bits = 0;
    for (int i = 0; i < used; ++i) {
        int s = sorted[i], len = lens[s];
        uint32_t rev = reverse_bits(next_code[len]++, uint32_t(len));
        if (len <= root) {
            uint32_t e = entries[s] | uint32_t(len);
            for (int j = int(rev); j < root_size; j += 1 << len) table[j] = e;
        } else {
            int prefix = int(rev) & (root_size - 1);
            if (prefix != sub_prefix) {
                // The subtable is as wide as the longest code sharing this prefix needs.
                int bits = len - root, room = 1 << bits;
                while (bits + root < max_len) {
                    room -= remaining[bits + root];
                    if (room <= 0) break;
                    ++bits;
                    room <<= 1;
                }
                if (next_free + (1 << bits) > capacity) return false;
                sub_prefix = prefix;
                sub_base = next_free;
                sub_bits = bits;
                next_free += 1 << bits;
                for (int j = 0; j < (1 << bits); ++j) table[sub_base + j] = bad;
                table[prefix] = make_entry(uint32_t(sub_base), K_SUB, uint32_t(bits), uint32_t(root));
            }
            uint32_t e = entries[s] | uint32_t(len - root);
            for (int j = int(rev >> root); j < (1 << sub_bits); j += 1 << (len - root)) table[sub_base + j] = e;
        }
        --remaining[len];
    }
    return true;
}

// ================================================================== bit input

struct BitReader {
    const uint8_t* in;
    const uint8_t* end;
    uint64_t buf = 0;
    uint32_t count = 0;    // bits in buf
    uint32_t phantom = 0;  // zero bytes fed past the end (the last ones in buf)

    // 56 or more bits in buf. False once a phantom bit has been consumed.
    bool refill() {
        if (end - in >= 8) {
            uint64_t v;
            std::memcpy(&v, in, 8);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
            v = __builtin_bswap64(v);
#endif
            buf |= v << count;
            in += (63 - count) >> 3;
            count |= 56;
            return true;
        }
        while (count <= 56) {
            uint64_t byte = 0;
            if (in < end) byte = *in++;
            else ++phantom;
            buf |= byte << count;
            count += 8;
        }
        return phantom * 8 <= count;
    }
    uint32_t peek(uint32_t n) const { return uint32_t(buf & ((uint64_t(1) << n) - 1)); }
    void drop(uint32_t n) {
        buf >>= n;
        count -= n;
    }
    uint32_t take(uint32_t n) {
        uint32_t v = peek(n);
        drop(n);
        return v;
    }
    // Real bits still held: negative when phantom bits were consumed.
    int64_t real_bits() const { return int64_t(count) - int64_t(phantom) * 8; }
    // Hands the whole bytes still buffered back to the input (after a byte
    // alignment), so that stored data can be copied straight from it.
    bool rewind_to_byte() {
        drop(count & 7);
        int64_t real = real_bits();
        if (real < 0) return false;
        in -= real / 8;
        buf = 0;
        count = 0;
        phantom = 0;
        return true;
    }
};

inline uint32_t decode(BitReader& br, const uint32_t* table, int root) {
    uint32_t e = table[br.peek(uint32_t(root))];
    if (entry_kind(e) == K_SUB) {
        br.drop(uint32_t(root));
        e = table[entry_value(e) + br.peek(entry_extra(e))];
    }
    br.drop(entry_bits(e));
    return e;
}

// ================================================================== blocks

// The fixed code's tables (lengths 8, 9, 7, 8 over the literal/length symbols,
// 5 for all 32 distances; 286, 287, 30 and 31 decode as errors).
struct FixedTables {
    uint32_t lit[LIT_TABLE], dist[DIST_TABLE];
    FixedTables() {
        uint8_t lens[288 + 32];
        std::memset(lens, 8, 144);
        std::memset(lens + 144, 9, 112);
        std::memset(lens + 256, 7, 24);
        std::memset(lens + 280, 8, 8);
        std::memset(lens + 288, 5, 32);
        build_table(lens, 288, symbol_entries.lit, LIT_ROOT, lit, LIT_TABLE, CodeSet::litlen);
        build_table(lens + 288, 32, symbol_entries.dist, DIST_ROOT, dist, DIST_TABLE, CodeSet::dist);
    }
};

struct Inflater {
    BitReader br;
    ByteBuffer& out;
    uint8_t* begin;   // the buffer's data
    uint8_t* pos;     // next byte to write
    uint8_t* limit;   // end of capacity
    const uint32_t* lit;   // the current block's tables: the fixed ones or dyn_*
    const uint32_t* dist;
    uint32_t dyn_lit[LIT_TABLE], dyn_dist[DIST_TABLE];

    Inflater(const uint8_t* in, size_t length, ByteBuffer& o) : out(o) {
        br.in = in;
        br.end = in + length;
        sync();
    }
    void sync() {
        begin = out.data();
        pos = begin + out.size();
        limit = begin + out.capacity();
    }
    // Room for n more bytes at pos; the buffer may move.
    int make_room(size_t n) {
        out.set_size(size_t(pos - begin));
        int status = out.reserve(n < 4096 ? 4096 : n);
        if (status != COMPRESS_OK) status = out.reserve(n);
        sync();
        return status;
    }

    int stored() {
        if (!br.rewind_to_byte()) return COMPRESS_TRUNCATED;
        if (br.end - br.in < 4) return COMPRESS_TRUNCATED;
        uint32_t len = uint32_t(br.in[0]) | uint32_t(br.in[1]) << 8;
        uint32_t nlen = uint32_t(br.in[2]) | uint32_t(br.in[3]) << 8;
        br.in += 4;
        if ((len ^ 0xFFFF) != nlen) return COMPRESS_BAD_FORMAT;
        if (size_t(br.end - br.in) < len) return COMPRESS_TRUNCATED;
        if (size_t(limit - pos) < len) {
            int status = make_room(len);
            if (status != COMPRESS_OK) return status;
        }
        if (len) std::memcpy(pos, br.in, len);  // an empty block may come before any output: pos may be null
        pos += len;
        br.in += len;
        return COMPRESS_OK;
    }

    int fixed_tables() {
        static const FixedTables fixed;
        lit = fixed.lit;
        dist = fixed.dist;
        return COMPRESS_OK;
    }

    int dynamic_tables() {
        if (!br.refill()) return COMPRESS_TRUNCATED;
        uint32_t hlit = br.take(5) + 257, hdist = br.take(5) + 1, hclen = br.take(4) + 4;
        if (hlit > 286 || hdist > 30) return COMPRESS_BAD_CODES;
        uint8_t cl_lens[19] = {};
        for (uint32_t i = 0; i < hclen; ++i) {
            if (br.count < 3 && !br.refill()) return COMPRESS_TRUNCATED;
            cl_lens[codelen_order[i]] = uint8_t(br.take(3));
        }
        uint32_t cl_table[CODELEN_TABLE];
        if (!build_table(cl_lens, 19, symbol_entries.codelen, CODELEN_ROOT, cl_table, CODELEN_TABLE, CodeSet::codelen))
            return COMPRESS_BAD_CODES;
        uint8_t lens[286 + 30];
        uint32_t n = 0, total = hlit + hdist;
        while (n < total) {
            if (!br.refill()) return COMPRESS_TRUNCATED;
            uint32_t e = decode(br, cl_table, CODELEN_ROOT);
            if (entry_kind(e) == K_BAD) return COMPRESS_BAD_CODES;
            uint32_t sym = entry_value(e);
            if (sym < 16) {
                lens[n++] = uint8_t(sym);
                continue;
            }
            uint32_t repeat;
            uint8_t value = 0;
            if (sym == 16) {
                if (n == 0) return COMPRESS_BAD_CODES;  // nothing to repeat
                value = lens[n - 1];
                repeat = 3 + br.take(2);
            } else if (sym == 17) {
                repeat = 3 + br.take(3);
            } else {
                repeat = 11 + br.take(7);
            }
            if (repeat > total - n) return COMPRESS_BAD_CODES;  // runs past the lengths
            std::memset(lens + n, value, repeat);
            n += repeat;
        }
        if (!br.refill()) return COMPRESS_TRUNCATED;
        if (lens[256] == 0) return COMPRESS_BAD_CODES;  // a block must be able to end
        if (!build_table(lens, int(hlit), symbol_entries.lit, LIT_ROOT, dyn_lit, LIT_TABLE, CodeSet::litlen) ||
            !build_table(lens + hlit, int(hdist), symbol_entries.dist, DIST_ROOT, dyn_dist, DIST_TABLE, CodeSet::dist))
            return COMPRESS_BAD_CODES;
        lit = dyn_lit;
        dist = dyn_dist;
        return COMPRESS_OK;
    }

    // One block's symbols up to its end code. Each refill gives 56 bits, enough
    // for a length code with its extra bits (20) and a distance with its (28).
    int body() {
        for (;;) {
            if (!br.refill()) return COMPRESS_TRUNCATED;
            uint32_t e = decode(br, lit, LIT_ROOT);
            uint32_t kind = entry_kind(e);
            if (kind == K_LITERAL) {
                if (pos == limit) {
                    int status = make_room(1);
                    if (status != COMPRESS_OK) return status;
                }
                *pos++ = uint8_t(entry_value(e));
                // A second literal often fits in the bits still held.
                if (br.count >= 15) {
                    e = decode(br, lit, LIT_ROOT);
                    kind = entry_kind(e);
                    if (kind == K_LITERAL) {
                        if (pos == limit) {
                            int status = make_room(1);
                            if (status != COMPRESS_OK) return status;
                        }
                        *pos++ = uint8_t(entry_value(e));
                        continue;
                    }
                    if (!br.refill()) return COMPRESS_TRUNCATED;
                } else {
                    continue;
                }
            }
            if (kind == K_END) return COMPRESS_OK;
            if (kind != K_LENGTH) return COMPRESS_BAD_CODES;
            uint32_t len = entry_value(e) + br.take(entry_extra(e));
            e = decode(br, dist, DIST_ROOT);
            if (entry_kind(e) != K_LENGTH) return COMPRESS_BAD_CODES;
            size_t distance = entry_value(e) + br.take(entry_extra(e));
            if (distance > size_t(pos - begin)) return COMPRESS_BAD_DISTANCE;
            if (size_t(limit - pos) < len) {
                int status = make_room(len);
                if (status != COMPRESS_OK) return status;
            }
            copy_match(len, distance);
        }
    }

    // Writes may run up to 7 bytes past the match: the buffer's slack takes them.
    void copy_match(uint32_t len, size_t distance) {
        uint8_t* dst = pos;
        const uint8_t* src = pos - distance;
        pos += len;
        if (distance >= 8) {
            do {
                std::memcpy(dst, src, 8);
                dst += 8;
                src += 8;
            } while (dst < pos);
        } else if (distance == 1) {
            std::memset(dst, *src, len);
        } else {
            // Overlapping: each byte repeats the one `distance` back.
            for (uint32_t i = 0; i < len; ++i) dst[i] = src[i];
        }
    }

    int run(size_t* left) {
        for (;;) {
            if (!br.refill()) return COMPRESS_TRUNCATED;
            uint32_t final_block = br.take(1), type = br.take(2);
            int status;
            switch (type) {
                case 0: status = stored(); break;
                case 1: status = fixed_tables(); if (status == COMPRESS_OK) status = body(); break;
                case 2: status = dynamic_tables(); if (status == COMPRESS_OK) status = body(); break;
                default: return COMPRESS_BAD_BLOCK_TYPE;
            }
            if (status != COMPRESS_OK) return status;
            if (final_block) break;
        }
        int64_t real = br.real_bits();
        if (real < 0) return COMPRESS_TRUNCATED;
        out.set_size(size_t(pos - begin));
        *left = size_t(br.end - br.in) + size_t(real / 8);  // unread, and read ahead but not used
        return COMPRESS_OK;
    }
};

}  // namespace

int deflate_inflate(const uint8_t* in, size_t length, ByteBuffer& out, size_t* consumed) {
    Inflater inflater(in, length, out);
    size_t left = 0;
    int status = inflater.run(&left);
    if (status == COMPRESS_OK) *consumed = length - left;
    return status;
}

}  // namespace tev

// The DEFLATE compressor (one fixed-code block, first match from four-slot hash buckets) and the zlib and gzip framings.
//
// The compressor's choices are part of its output: the same input always gives
// the same bytes, so the bucket hash, the slot choice and the order in which
// slots are tried must not change.
#include "io/deflate.h"
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include "interpreter/checksum.h"

namespace tev {

// ================================================================== output buffer

ByteBuffer::ByteBuffer(size_t limit) : limit_(limit) {}
ByteBuffer::~ByteBuffer() { std::free(data_); }

int ByteBuffer::reserve(size_t extra) {
    if (extra > limit_ || size_ > limit_ - extra) return COMPRESS_TOO_LARGE;
    size_t need = size_ + extra;
    if (need <= capacity_) return COMPRESS_OK;
    size_t grown = capacity_ < limit_ / 2 ? capacity_ * 2 : limit_;
    size_t target = need > grown ? need : grown;
    auto* bigger = static_cast<uint8_t*>(std::realloc(data_, target + SLACK));
    if (!bigger && target > need) {
        target = need;  // the doubling was too greedy: try the bare need
        bigger = static_cast<uint8_t*>(std::realloc(data_, target + SLACK));
    }
    if (!bigger) return COMPRESS_NO_MEMORY;
    data_ = bigger;
    capacity_ = target;
    return COMPRESS_OK;
}

int ByteBuffer::append(const void* bytes, size_t length) {
    int status = reserve(length);
    if (status != COMPRESS_OK) return status;
    if (length) std::memcpy(data_ + size_, bytes, length);
    size_ += length;
    return COMPRESS_OK;
}

// ================================================================== compressor

namespace {

constexpr uint32_t WINDOW = 32768, MIN_MATCH = 3, MAX_MATCH = 258;
constexpr uint32_t BUCKETS = 1024, SLOTS = 4;

uint32_t bucket_of(uint32_t b0, uint32_t b1, uint32_t b2) {
    uint32_t v = b0 << 16 | b1 << 8 | b2;
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & (BUCKETS - 1);
}

uint32_t slot_of(uint32_t c0, uint32_t c1, uint32_t c2) {
    uint32_t w = c0 << 16 | c1 << 8 | c2;
    return ((w >> 14) - w) & (SLOTS - 1);
}

// The fixed code, bit-reversed for the least-significant-first stream, and the
// length and distance symbols with their extra bits.
struct FixedCode {
    uint16_t code[288];
    uint8_t bits[288];
    uint16_t dist_code[30];
    uint16_t length_symbol[MAX_MATCH + 1];  // symbol - 257
    uint8_t dist_symbol_small[512];         // distances 1..512 (index distance - 1)
    uint8_t dist_symbol_large[128];         // by (distance - 1) >> 8, from 513 on
    static uint32_t reverse(uint32_t code, int len) {
        uint32_t r = 0;
        for (int i = 0; i < len; ++i) r |= ((code >> i) & 1) << (len - 1 - i);
        return r;
    }
    FixedCode() {
        for (int s = 0; s < 288; ++s) {
            int len = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
            uint32_t c = s < 144 ? 0x30 + s : s < 256 ? 0x190 + (s - 144) : s < 280 ? s - 256 : 0xC0 + (s - 280);
            code[s] = uint16_t(reverse(c, len));
            bits[s] = uint8_t(len);
        }
        for (int d = 0; d < 30; ++d) dist_code[d] = uint16_t(reverse(uint32_t(d), 5));
        for (uint32_t sym = 0; sym < 29; ++sym) {
            uint32_t first = base_length(sym), last = sym == 28 ? MAX_MATCH : base_length(sym + 1) - 1;
            for (uint32_t l = first; l <= last; ++l) length_symbol[l] = uint16_t(sym);
        }
        for (uint32_t sym = 0; sym < 30; ++sym) {
            uint32_t last = sym == 29 ? 32768 : base_dist(sym + 1) - 1;
            for (uint32_t d = base_dist(sym); d <= last; ++d) {
                if (d <= 512) dist_symbol_small[d - 1] = uint8_t(sym);
                else dist_symbol_large[(d - 1) >> 8] = uint8_t(sym);
            }
        }
    }
    static uint32_t base_length(uint32_t sym) {
        static const uint16_t base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
        return base[sym];
    }
    static uint32_t base_dist(uint32_t sym) {
        static const uint16_t base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                          33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                          1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
        return base[sym];
    }
    static uint32_t length_extra(uint32_t sym) { return sym < 8 || sym == 28 ? 0 : (sym - 4) / 4; }
    static uint32_t dist_extra(uint32_t sym) { return sym < 4 ? 0 : (sym - 2) / 2; }
};
const FixedCode fixed_code;

// Bits least-significant first; whole 32-bit words go out as they fill. The
// caller keeps 8 bytes of room at `out` before each token.
struct BitWriter {
    uint8_t* out;
    uint64_t acc = 0;
    uint32_t count = 0;
    void put(uint32_t bits, uint32_t n) {
        acc |= uint64_t(bits) << count;
        count += n;
        if (count >= 32) {
            uint32_t word = uint32_t(acc);
            out[0] = uint8_t(word);
            out[1] = uint8_t(word >> 8);
            out[2] = uint8_t(word >> 16);
            out[3] = uint8_t(word >> 24);
            out += 4;
            acc >>= 32;
            count -= 32;
        }
    }
    void flush() {
        while (count > 0) {
            *out++ = uint8_t(acc);
            acc >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
    }
};

// A token costs at most 31 bits: the room kept before each one covers it and
// the pending word.
constexpr size_t TOKEN_ROOM = 16;

}  // namespace

int deflate_compress(const uint8_t* in, size_t n, ByteBuffer& out) {
    // Start with room for a fair ratio; the buffer grows when the data resists.
    int status = out.reserve(n / 2 + 64);
    if (status != COMPRESS_OK) status = out.reserve(TOKEN_ROOM);
    if (status != COMPRESS_OK) return status;
    uint32_t table[BUCKETS * SLOTS] = {};
    const FixedCode& fc = fixed_code;
    BitWriter bw{out.data() + out.size()};
    auto byte_at = [&](size_t i) -> uint32_t { return i < n ? in[i] : 0; };
    // Room for the next token; the buffer may move.
    auto keep_room = [&]() -> int {
        size_t written = size_t(bw.out - out.data());
        if (out.capacity() - written >= TOKEN_ROOM) return COMPRESS_OK;
        out.set_size(written);
        int grown = out.reserve(TOKEN_ROOM);
        bw.out = out.data() + written;
        return grown;
    };
    bw.put(1, 1);  // the final block
    bw.put(1, 2);  // with the fixed code
    size_t p = 0;
    while (p < n) {
        if ((status = keep_room()) != COMPRESS_OK) return status;
        uint32_t bucket = bucket_of(byte_at(p), byte_at(p + 1), byte_at(p + 2));
        uint32_t* slots = table + bucket * SLOTS;
        size_t start = p;
        bool matched = false;
        if (p >= MIN_MATCH && n - p >= MIN_MATCH) {
            for (uint32_t s = 0; s < SLOTS && !matched; ++s) {
                size_t c = slots[s];
                if (c >= p || p - c >= WINDOW || in[c] != in[p] || in[c + 1] != in[p + 1] || in[c + 2] != in[p + 2])
                    continue;
                size_t most = n - p < MAX_MATCH ? n - p : MAX_MATCH;
                size_t len = MIN_MATCH;
                while (len + 8 <= most) {
                    uint64_t a, b;
                    std::memcpy(&a, in + c + len, 8);
                    std::memcpy(&b, in + p + len, 8);
                    if (a != b) break;
                    len += 8;
                }
                while (len < most && in[c + len] == in[p + len]) ++len;
                uint32_t lsym = fc.length_symbol[len];
                bw.put(fc.code[257 + lsym], fc.bits[257 + lsym]);
                bw.put(uint32_t(len - FixedCode::base_length(lsym)), FixedCode::length_extra(lsym));
                uint32_t d = uint32_t(p - c);
                uint32_t dsym = d <= 512 ? fc.dist_symbol_small[d - 1] : fc.dist_symbol_large[(d - 1) >> 8];
                bw.put(fc.dist_code[dsym], 5);
                bw.put(d - FixedCode::base_dist(dsym), FixedCode::dist_extra(dsym));
                p += len;
                matched = true;
            }
        }
        if (!matched) {
            bw.put(fc.code[in[p]], fc.bits[in[p]]);
            ++p;
        }
        slots[slot_of(byte_at(p), byte_at(p + 1), byte_at(p + 2))] = uint32_t(start);
    }
    if ((status = keep_room()) != COMPRESS_OK) return status;
    bw.put(fc.code[256], fc.bits[256]);
    bw.flush();
    out.set_size(size_t(bw.out - out.data()));
    return COMPRESS_OK;
}

// ================================================================== framings

namespace {

void put_be32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
void put_le32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
uint32_t get_be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t get_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Inflates exactly the given bytes: a stream that ends early or leaves bytes over is refused.
int inflate_exact(const uint8_t* in, size_t length, ByteBuffer& out) {
    size_t consumed = 0;
    int status = deflate_inflate(in, length, out, &consumed);
    if (status == COMPRESS_OK && consumed != length) status = COMPRESS_BAD_FORMAT;
    return status;
}

enum : uint8_t { GZ_FHCRC = 0x02, GZ_FEXTRA = 0x04, GZ_FNAME = 0x08, GZ_FCOMMENT = 0x10, GZ_RESERVED = 0xE0 };

int gzip_decompress(const uint8_t* in, size_t n, ByteBuffer& out) {
    if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & GZ_RESERVED)) return COMPRESS_BAD_FORMAT;
    uint8_t flags = in[3];
    size_t body_end = n - 8, pos = 10;  // the header's fields stop before the trailer
    if (flags & GZ_FEXTRA) {
        if (body_end - pos < 2) return COMPRESS_BAD_FORMAT;
        size_t extra = size_t(in[pos]) | size_t(in[pos + 1]) << 8;
        pos += 2;
        if (body_end - pos < extra) return COMPRESS_BAD_FORMAT;
        pos += extra;
    }
    for (uint8_t field : {GZ_FNAME, GZ_FCOMMENT}) {
        if (!(flags & field)) continue;
        const void* zero = std::memchr(in + pos, 0, body_end - pos);
        if (!zero) return COMPRESS_BAD_FORMAT;
        pos = size_t(static_cast<const uint8_t*>(zero) - in) + 1;
    }
    if (flags & GZ_FHCRC) {
        if (body_end - pos < 2) return COMPRESS_BAD_FORMAT;
        uint32_t stored = uint32_t(in[pos]) | uint32_t(in[pos + 1]) << 8;
        if (stored != (checksum_crc32(in, pos) & 0xFFFF)) return COMPRESS_BAD_FORMAT;
        pos += 2;
    }
    size_t start = out.size();
    int status = inflate_exact(in + pos, body_end - pos, out);
    if (status != COMPRESS_OK) return status;
    size_t produced = out.size() - start;
    if (checksum_crc32(out.data() + start, produced) != get_le32(in + body_end) ||
        uint32_t(produced) != get_le32(in + body_end + 4))
        return COMPRESS_BAD_FORMAT;
    return COMPRESS_OK;
}

int zlib_decompress(const uint8_t* in, size_t n, ByteBuffer& out) {
    if (n < 6) return COMPRESS_BAD_FORMAT;
    uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf >> 4) > 7 || (flg & 0x20)) return COMPRESS_BAD_FORMAT;
    size_t start = out.size();
    int status = inflate_exact(in + 2, n - 6, out);
    if (status != COMPRESS_OK) return status;
    if (checksum_adler32(out.data() + start, out.size() - start) != get_be32(in + n - 4)) return COMPRESS_BAD_FORMAT;
    return COMPRESS_OK;
}

}  // namespace

int compress_bytes(CompressMethod method, const uint8_t* in, size_t length, ByteBuffer& out) {
    static const uint8_t zlib_header[2] = {0x78, 0x01};
    static const uint8_t gzip_header[10] = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4};
    int status = COMPRESS_OK;
    if (method == CompressMethod::zlib) status = out.append(zlib_header, 2);
    if (method == CompressMethod::gzip) status = out.append(gzip_header, 10);
    if (status == COMPRESS_OK) status = deflate_compress(in, length, out);
    if (status != COMPRESS_OK || method == CompressMethod::deflate) return status;
    uint8_t trailer[8];
    if (method == CompressMethod::zlib) {
        put_be32(trailer, checksum_adler32(in, length));
        return out.append(trailer, 4);
    }
    put_le32(trailer, checksum_crc32(in, length));
    put_le32(trailer + 4, uint32_t(length));  // the length modulo 2^32
    return out.append(trailer, 8);
}

int decompress_bytes(CompressMethod method, const uint8_t* in, size_t length, ByteBuffer& out) {
    switch (method) {
        case CompressMethod::zlib: return zlib_decompress(in, length, out);
        case CompressMethod::gzip: return gzip_decompress(in, length, out);
        default: return inflate_exact(in, length, out);
    }
}

}  // namespace tev

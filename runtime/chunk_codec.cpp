// The boot image's LZ77 chunk code: decoder (bounded by its input and by the
// sizes it can honestly produce) and the build side's encoder.
#include "runtime/chunk_codec.h"
#include <algorithm>

namespace tev {

static uint32_t read_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// ------------------------------------------------------------------ decoding

namespace {

// Bits from the least significant of each byte on; reading past `end` fails.
struct BitReader {
    const uint8_t* pos;
    const uint8_t* end;
    uint64_t acc = 0;
    uint32_t count = 0;
    bool failed = false;

    uint32_t get(uint32_t n) {
        while (count < n) {
            if (pos >= end) { failed = true; return 0; }
            acc |= uint64_t(*pos++) << count;
            count += 8;
        }
        uint32_t v = uint32_t(acc & ((uint64_t(1) << n) - 1));
        acc >>= n;
        count -= n;
        return v;
    }
};

// The extra value l of a match; the copy is l + 3 bytes.
uint32_t read_length(BitReader& r) {
    if (r.get(1)) return r.get(2);
    if (r.get(1)) return 4 + r.get(2);
    if (r.get(1)) return 8 + r.get(2);
    if (r.get(1)) return 12 + r.get(3);
    if (r.get(1)) return 20 + r.get(5);
    return 52 + r.get(9);
}

// d: the copy starts d + 1 bytes back.
uint32_t read_distance(BitReader& r) {
    uint32_t w = r.get(4) + 2;
    if (w == 2) return r.get(3);
    return (1u << w) + r.get(w);
}

bool decode_chunk(BitReader& r, uint8_t* out, uint32_t length) {
    uint32_t i = 0;
    while (i < length) {
        if (r.get(1) == 0) {
            uint32_t byte = r.get(8);
            if (r.failed) return false;
            out[i++] = uint8_t(byte);
            continue;
        }
        uint32_t l = read_length(r);
        uint32_t d = read_distance(r);
        if (r.failed) return false;
        if (d + 1 > i || l + 3 > length - i) return false;
        const uint8_t* from = out + i - d - 1;
        for (uint32_t k = 0; k < l + 3; ++k) out[i + k] = from[k];  // byte by byte: runs overlap
        i += l + 3;
    }
    return true;
}

}  // namespace

bool decode_chunks(const uint8_t* block, size_t length, std::vector<uint8_t>* out, size_t max_out) {
    out->clear();
    if (length < 8) return false;
    uint64_t packed = read_u32(block);
    uint64_t unpacked = read_u32(block + 4);
    if (packed > length - 8) return false;
    // A match of 566 bytes costs at least 22 bits and every chunk a 4-byte
    // length: a size beyond what the packed bytes can give is a lie, and taking
    // it at its word would let a few bytes reserve gigabytes.
    if (unpacked > max_out || unpacked > packed * 206) return false;
    out->resize(size_t(unpacked));
    const uint8_t* data = block + 8;
    const uint8_t* end = data + packed;
    const uint8_t* pos = data;
    uint64_t produced = 0;
    while (end - pos >= 4) {
        uint32_t l = read_u32(pos);
        pos += 4;
        if (l < 1 || l > CHUNK_MAX_BYTES || l > unpacked - produced) { out->clear(); return false; }
        BitReader r{pos, end};
        if (!decode_chunk(r, out->data() + produced, l)) { out->clear(); return false; }
        produced += l;
        pos = r.pos;  // leftover bits of the last byte are padding
    }
    if (pos != end || produced != unpacked) { out->clear(); return false; }
    return true;
}

// ------------------------------------------------------------------ encoding

namespace {

struct BitWriter {
    std::vector<uint8_t>* out;
    uint64_t acc = 0;
    uint32_t count = 0;

    void put(uint32_t n, uint32_t value) {
        acc |= uint64_t(value) << count;
        count += n;
        while (count >= 8) {
            out->push_back(uint8_t(acc));
            acc >>= 8;
            count -= 8;
        }
    }
    void flush() {
        if (count) out->push_back(uint8_t(acc));
        acc = 0;
        count = 0;
    }
};

constexpr uint32_t WINDOW = 0x40000;
constexpr uint32_t MAX_MATCH = 566;
constexpr uint32_t HASH_BITS = 16;
constexpr uint32_t MAX_CANDIDATES = 128;

void put_length(BitWriter& w, uint32_t l) {
    if (l < 4) { w.put(1, 1); w.put(2, l); }
    else if (l < 8) { w.put(2, 2); w.put(2, l - 4); }
    else if (l < 12) { w.put(3, 4); w.put(2, l - 8); }
    else if (l < 20) { w.put(4, 8); w.put(3, l - 12); }
    else if (l < 52) { w.put(5, 16); w.put(5, l - 20); }
    else { w.put(5, 0); w.put(9, l - 52); }
}

void put_distance(BitWriter& w, uint32_t d) {
    if (d < 8) { w.put(4, 0); w.put(3, d); return; }
    uint32_t bits = 31 - uint32_t(__builtin_clz(d));  // 3..17
    w.put(4, bits - 2);
    w.put(bits, d - (1u << bits));
}

uint32_t hash3(const uint8_t* p) {
    return ((uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]) * 2654435761u) >> (32 - HASH_BITS);
}

void encode_chunk(const uint8_t* in, uint32_t n, BitWriter& w, std::vector<int32_t>& head,
                  std::vector<int32_t>& chain) {
    std::fill(head.begin(), head.end(), -1);
    uint32_t i = 0;
    auto insert = [&](uint32_t p) {
        if (p + 3 > n) return;
        uint32_t h = hash3(in + p);
        chain[p & (WINDOW - 1)] = head[h];
        head[h] = int32_t(p);
    };
    while (i < n) {
        uint32_t best_len = 0, best_dist = 0;
        if (i + 3 <= n) {
            uint32_t limit = n - i < MAX_MATCH ? n - i : MAX_MATCH;
            int32_t cand = head[hash3(in + i)];
            for (uint32_t tries = 0; cand >= 0 && tries < MAX_CANDIDATES; ++tries) {
                uint32_t dist = i - uint32_t(cand);
                if (dist > WINDOW) break;
                const uint8_t* a = in + cand;
                const uint8_t* b = in + i;
                if (a[best_len] == b[best_len]) {
                    uint32_t len = 0;
                    while (len < limit && a[len] == b[len]) ++len;
                    if (len > best_len) {
                        best_len = len;
                        best_dist = dist;
                        if (len == limit) break;
                    }
                }
                int32_t next = chain[uint32_t(cand) & (WINDOW - 1)];
                if (next >= cand) break;  // the slot was reused by a newer position
                cand = next;
            }
        }
        if (best_len == 3 && best_dist > 0x10000) best_len = 0;  // costs more than three literals
        if (best_len >= 3) {
            w.put(1, 1);
            put_length(w, best_len - 3);
            put_distance(w, best_dist - 1);
            for (uint32_t k = 0; k < best_len; ++k) insert(i + k);
            i += best_len;
        } else {
            w.put(1, 0);
            w.put(8, in[i]);
            insert(i);
            ++i;
        }
    }
    w.flush();
}

}  // namespace

bool encode_chunks(const uint8_t* in, size_t n, std::vector<uint8_t>* out) {
    out->clear();
    if (n < 128 || n > 0xFFFFFFFFu) return false;
    out->resize(8);
    std::vector<int32_t> head(size_t(1) << HASH_BITS), chain(WINDOW);
    BitWriter w{out};
    for (size_t start = 0; start < n; start += CHUNK_MAX_BYTES) {
        uint32_t len = uint32_t(n - start < CHUNK_MAX_BYTES ? n - start : CHUNK_MAX_BYTES);
        for (int k = 0; k < 4; ++k) out->push_back(uint8_t(len >> (8 * k)));
        encode_chunk(in + start, len, w, head, chain);
        if (out->size() - 8 > n - 8) { out->clear(); return false; }
    }
    uint32_t packed = uint32_t(out->size() - 8), unpacked = uint32_t(n);
    for (int k = 0; k < 4; ++k) {
        (*out)[size_t(k)] = uint8_t(packed >> (8 * k));
        (*out)[size_t(4 + k)] = uint8_t(unpacked >> (8 * k));
    }
    return true;
}

}  // namespace tev

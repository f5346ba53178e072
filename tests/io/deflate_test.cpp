// The DEFLATE codec and its framings: round trips, the compressor's exact output,
// and hand-made streams that every decoder must refuse.
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "interpreter/checksum.h"
#include "io/deflate.h"

using namespace tev;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t NO_LIMIT = 0x7FFFFFF0;

// A stream writer for hand-made streams: bits least-significant first,
// Huffman codes most-significant bit first.
struct Bits {
    Bytes out;
    uint32_t acc = 0, count = 0;
    Bits& put(uint32_t value, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            acc |= ((value >> i) & 1) << count;
            if (++count == 8) {
                out.push_back(uint8_t(acc));
                acc = 0;
                count = 0;
            }
        }
        return *this;
    }
    Bits& code(uint32_t code, uint32_t len) {
        for (uint32_t i = len; i-- > 0;) put((code >> i) & 1, 1);
        return *this;
    }
    Bits& align() {
        if (count) put(0, 8 - count);
        return *this;
    }
    Bits& bytes(const Bytes& b) {
        align();
        out.insert(out.end(), b.begin(), b.end());
        return *this;
    }
    Bytes done() {
        align();
        return out;
    }
    // Fixed-code symbols.
    Bits& fixed_symbol(uint32_t s) {
        if (s < 144) return code(0x30 + s, 8);
        if (s < 256) return code(0x190 + s - 144, 9);
        if (s < 280) return code(s - 256, 7);
        return code(0xC0 + s - 280, 8);
    }
};

// Canonical codes of a set of lengths (the definition, for writing streams).
std::vector<uint32_t> canonical(const std::vector<uint8_t>& lens) {
    uint32_t count[16] = {}, next[16] = {};
    for (uint8_t l : lens) ++count[l];
    count[0] = 0;
    for (uint32_t len = 1, code = 0; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<uint32_t> codes(lens.size());
    for (size_t s = 0; s < lens.size(); ++s)
        if (lens[s]) codes[s] = next[lens[s]]++;
    return codes;
}

// A dynamic block header whose code-length code gives symbols 0-15 four bits
// each (so every length is written as itself), then the lengths one by one.
Bits dynamic_header(Bits b, const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist) {
    b.put(uint32_t(lit.size() - 257), 5).put(uint32_t(dist.size() - 1), 5).put(15, 4);
    static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t sym : order) b.put(sym < 16 ? 4 : 0, 3);
    for (uint8_t l : lit) b.code(l, 4);
    for (uint8_t l : dist) b.code(l, 4);
    return b;
}

Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes random_bytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes v(n);
    for (auto& b : v) b = uint8_t(rng());
    return v;
}

int run_decompress(CompressMethod m, const Bytes& in, Bytes* out = nullptr, size_t limit = NO_LIMIT) {
    ByteBuffer buf(limit);
    int status = decompress_bytes(m, in.data(), in.size(), buf);
    if (out) out->assign(buf.data(), buf.data() + buf.size());
    return status;
}

Bytes run_compress(CompressMethod m, const Bytes& in) {
    ByteBuffer buf(NO_LIMIT);
    EXPECT_EQ(compress_bytes(m, in.data(), in.size(), buf), COMPRESS_OK);
    return Bytes(buf.data(), buf.data() + buf.size());
}

const CompressMethod all_methods[] = {CompressMethod::zlib, CompressMethod::deflate, CompressMethod::gzip};

}  // namespace

TEST(Deflate, RoundTripsInEveryFraming) {
    Bytes repetitive;
    while (repetitive.size() < (1 << 20)) {
        std::string line = "line " + std::to_string(repetitive.size() % 977) + ": the quick brown fox\n";
        repetitive.insert(repetitive.end(), line.begin(), line.end());
    }
    const Bytes inputs[] = {{}, {0x41}, {0x1F, 0x8B, 0x08, 0x00}, random_bytes(1 << 20, 1), repetitive,
                            Bytes(100000, 0)};
    for (CompressMethod m : all_methods) {
        for (const Bytes& in : inputs) {
            Bytes packed = run_compress(m, in), back;
            ASSERT_EQ(run_decompress(m, packed, &back), COMPRESS_OK) << int(m) << " size " << in.size();
            EXPECT_TRUE(back == in) << int(m) << " size " << in.size();
        }
    }
}

TEST(Deflate, CompressorOutputIsExact) {
    // Empty input: the block header, the end code and the zero fill.
    EXPECT_EQ(run_compress(CompressMethod::deflate, {}), (Bytes{0x03, 0x00}));
    // 300 equal bytes: three literals (no match before three bytes precede),
    // 258 at distance 1, then 39 at distance 258 (the slot holds the first match's start).
    Bytes expected = Bits()
                         .put(1, 1).put(1, 2)
                         .fixed_symbol('a').fixed_symbol('a').fixed_symbol('a')
                         .fixed_symbol(285).code(0, 5)                 // 258, distance 1
                         .fixed_symbol(273).put(39 - 35, 3)            // 39
                         .code(16, 5).put(258 - 257, 7)                // distance 258
                         .fixed_symbol(256)
                         .done();
    EXPECT_EQ(run_compress(CompressMethod::deflate, Bytes(300, 'a')), expected);
    // The framings around it.
    Bytes z = run_compress(CompressMethod::zlib, to_bytes("abc"));
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0x01);
    EXPECT_EQ((Bytes(z.end() - 4, z.end())), (Bytes{0x02, 0x4D, 0x01, 0x27}));
    Bytes g = run_compress(CompressMethod::gzip, to_bytes("abc"));
    EXPECT_EQ((Bytes(g.begin(), g.begin() + 10)), (Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4}));
    EXPECT_EQ((Bytes(g.end() - 8, g.end())), (Bytes{0xC2, 0x41, 0x24, 0x35, 3, 0, 0, 0}));
}

TEST(Deflate, GzipOfGzipLookingInputStillWraps) {
    Bytes in = {0x1F, 0x8B, 0x08, 'x', 'y'};
    Bytes packed = run_compress(CompressMethod::gzip, in), back;
    EXPECT_NE(packed, in);
    ASSERT_EQ(run_decompress(CompressMethod::gzip, packed, &back), COMPRESS_OK);
    EXPECT_EQ(back, in);
}

TEST(Deflate, MalformedRawStreamsAreRefused) {
    auto fixed = [] { return Bits().put(1, 1).put(1, 2); };
    auto dyn = [] { return Bits().put(1, 1).put(2, 2); };
    std::vector<uint8_t> lit(257, 0), dist1(1, 1);
    lit['a'] = 1;
    lit[256] = 1;  // 'a' and the end code, one bit each
    std::vector<uint8_t> over = lit, incomplete = lit, no_end(257, 0);
    over['b'] = 1;
    incomplete[256] = 2;
    no_end['a'] = 1;
    no_end['b'] = 1;
    struct Case { const char* what; Bytes stream; int status; };
    const Case cases[] = {
        {"empty input", {}, COMPRESS_TRUNCATED},
        {"stored, NLEN not the complement", Bits().put(1, 1).put(0, 2).bytes({5, 0, 0xFA, 0xFE, 'h', 'e', 'l', 'l', 'o'}).done(),
         COMPRESS_BAD_FORMAT},
        {"stored, LEN past the input", Bits().put(1, 1).put(0, 2).bytes({9, 0, 0xF6, 0xFF, 'h', 'e'}).done(),
         COMPRESS_TRUNCATED},
        {"stored, no LEN", Bits().put(1, 1).put(0, 2).bytes({5, 0}).done(), COMPRESS_TRUNCATED},
        {"block type 3", Bits().put(1, 1).put(3, 2).done(), COMPRESS_BAD_BLOCK_TYPE},
        {"fixed symbol 286", fixed().fixed_symbol(286).done(), COMPRESS_BAD_CODES},
        {"fixed symbol 287", fixed().fixed_symbol(287).done(), COMPRESS_BAD_CODES},
        {"distance code 30", fixed().fixed_symbol('a').fixed_symbol(257).code(30, 5).done(), COMPRESS_BAD_CODES},
        {"distance code 31", fixed().fixed_symbol('a').fixed_symbol(257).code(31, 5).done(), COMPRESS_BAD_CODES},
        {"match before any output", fixed().fixed_symbol(257).code(0, 5).fixed_symbol(256).done(), COMPRESS_BAD_DISTANCE},
        {"distance past the output", fixed().fixed_symbol('a').fixed_symbol(257).code(1, 5).fixed_symbol(256).done(),
         COMPRESS_BAD_DISTANCE},
        {"no end code", fixed().fixed_symbol('a').done(), COMPRESS_TRUNCATED},
        {"no final block", Bits().put(0, 1).put(1, 2).fixed_symbol(256).done(), COMPRESS_TRUNCATED},
        {"HLIT 287", dyn().put(30, 5).put(0, 5).put(0, 4).done(), COMPRESS_BAD_CODES},
        {"HLIT 288", dyn().put(31, 5).put(0, 5).put(0, 4).done(), COMPRESS_BAD_CODES},
        {"HDIST 31", dyn().put(0, 5).put(30, 5).put(0, 4).done(), COMPRESS_BAD_CODES},
        {"code-length code over-subscribed", dyn().put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(1, 3).put(1, 3).put(0, 3).done(),
         COMPRESS_BAD_CODES},
        {"code-length code incomplete", dyn().put(0, 5).put(0, 5).put(0, 4).put(0, 3).put(0, 3).put(2, 3).put(0, 3).done(),
         COMPRESS_BAD_CODES},
        // Code-length code: 16 -> bit 0, 18 -> bit 1.
        {"repeat with no previous length", dyn().put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(0, 3).put(1, 3).put(0, 3)
                                               .code(0, 1).put(0, 2).done(), COMPRESS_BAD_CODES},
        {"zero run past the lengths", dyn().put(0, 5).put(0, 5).put(0, 4).put(1, 3).put(0, 3).put(1, 3).put(0, 3)
                                          .code(1, 1).put(127, 7).code(1, 1).put(127, 7).done(), COMPRESS_BAD_CODES},
        {"literal code over-subscribed", dynamic_header(dyn(), over, dist1).done(), COMPRESS_BAD_CODES},
        {"literal code incomplete", dynamic_header(dyn(), incomplete, dist1).done(), COMPRESS_BAD_CODES},
        {"no end-of-block code", dynamic_header(dyn(), no_end, dist1).done(), COMPRESS_BAD_CODES},
        {"length with no distance codes", dynamic_header(dyn(), [] { std::vector<uint8_t> l(258, 0); l['a'] = 2; l[256] = 2; l[257] = 1; return l; }(),
                                                         std::vector<uint8_t>(1, 0))
                                              .code(2, 2).code(0, 1).done(), COMPRESS_BAD_CODES},
        {"bytes after the final block", [] { Bytes b = Bits().put(1, 1).put(1, 2).fixed_symbol(256).done(); b.push_back(0); return b; }(),
         COMPRESS_BAD_FORMAT},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(run_decompress(CompressMethod::deflate, c.stream, &out), c.status) << c.what;
    }
}

TEST(Deflate, LenientCodesThatStreamsUse) {
    // One distance code of one bit, and no distance code at all (literals only),
    // are what compressors write for such data; both must decode.
    std::vector<uint8_t> lit(258, 0);
    lit['a'] = 2;
    lit[256] = 2;
    lit[257] = 1;
    auto lc = canonical(lit);
    Bytes one_distance = dynamic_header(Bits().put(1, 1).put(2, 2), lit, std::vector<uint8_t>(1, 1))
                             .code(lc['a'], 2).code(lc[257], 1).code(0, 1).code(lc[256], 2).done();
    Bytes out;
    ASSERT_EQ(run_decompress(CompressMethod::deflate, one_distance, &out), COMPRESS_OK);
    EXPECT_EQ(out, Bytes(4, 'a'));
    std::vector<uint8_t> lit2(257, 0);
    lit2['a'] = 1;
    lit2[256] = 1;
    auto lc2 = canonical(lit2);
    Bytes no_distance = dynamic_header(Bits().put(1, 1).put(2, 2), lit2, std::vector<uint8_t>(1, 0))
                            .code(lc2['a'], 1).code(lc2['a'], 1).code(lc2[256], 1).done();
    ASSERT_EQ(run_decompress(CompressMethod::deflate, no_distance, &out), COMPRESS_OK);
    EXPECT_EQ(out, Bytes(2, 'a'));
    // An empty stored block before any output (nothing allocated yet).
    ASSERT_EQ(run_decompress(CompressMethod::deflate, Bits().put(1, 1).put(0, 2).bytes({0, 0, 0xFF, 0xFF}).done(), &out),
              COMPRESS_OK);
    EXPECT_TRUE(out.empty());
    // A stored block, then a fixed one: blocks concatenate.
    Bytes two = Bits().put(0, 1).put(0, 2).bytes({2, 0, 0xFD, 0xFF, 'h', 'i'}).put(1, 1).put(1, 2)
                    .fixed_symbol('!').fixed_symbol(256).done();
    ASSERT_EQ(run_decompress(CompressMethod::deflate, two, &out), COMPRESS_OK);
    EXPECT_EQ(out, to_bytes("hi!"));
}

TEST(Deflate, OutputStopsAtTheLimit) {
    Bytes packed = run_compress(CompressMethod::deflate, Bytes(100000, 'z')), out;
    EXPECT_EQ(run_decompress(CompressMethod::deflate, packed, &out, 100000), COMPRESS_OK);
    EXPECT_EQ(run_decompress(CompressMethod::deflate, packed, &out, 99999), COMPRESS_TOO_LARGE);
    EXPECT_EQ(run_decompress(CompressMethod::deflate, packed, &out, 1000), COMPRESS_TOO_LARGE);
    Bytes stored = Bits().put(1, 1).put(0, 2).bytes({5, 0, 0xFA, 0xFF, 'h', 'e', 'l', 'l', 'o'}).done();
    EXPECT_EQ(run_decompress(CompressMethod::deflate, stored, &out, 4), COMPRESS_TOO_LARGE);
    EXPECT_EQ(run_decompress(CompressMethod::deflate, stored, &out, 5), COMPRESS_OK);
}

TEST(Deflate, ZlibFramingIsChecked) {
    Bytes good = run_compress(CompressMethod::zlib, to_bytes("hello hello hello hello"));
    auto with = [&](size_t at, uint8_t value) { Bytes b = good; b[at] = value; return b; };
    Bytes longer = good;
    longer.push_back(0);
    struct Case { const char* what; Bytes stream; int status; };
    const Case cases[] = {
        {"as made", good, COMPRESS_OK},
        {"too short", Bytes{0x78, 0x01, 0x03, 0x00, 0x00}, COMPRESS_BAD_FORMAT},
        {"header check", with(1, 0x02), COMPRESS_BAD_FORMAT},
        {"method 7", Bytes{0x77, 0x09, 3, 0, 0, 0, 0, 1}, COMPRESS_BAD_FORMAT},
        {"window past 32 KiB", Bytes{0x88, 0x1C, 3, 0, 0, 0, 0, 1}, COMPRESS_BAD_FORMAT},
        {"preset dictionary", Bytes{0x78, 0xBB, 3, 0, 0, 0, 0, 1}, COMPRESS_BAD_FORMAT},
        {"Adler-32 wrong", with(good.size() - 1, uint8_t(good.back() ^ 1)), COMPRESS_BAD_FORMAT},
        {"a byte after the trailer", longer, COMPRESS_BAD_FORMAT},
        {"empty stream", Bytes{0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}, COMPRESS_OK},
    };
    for (const Case& c : cases) EXPECT_EQ(run_decompress(CompressMethod::zlib, c.stream), c.status) << c.what;
}

TEST(Deflate, GzipFramingIsChecked) {
    const Bytes payload = to_bytes("payload of a gzip member");
    const Bytes body = run_compress(CompressMethod::deflate, payload);
    uint32_t crc = checksum_crc32(payload.data(), payload.size());
    auto member = [&](uint8_t flags, const Bytes& fields, int hcrc_fix, uint32_t crc_value, uint32_t isize) {
        Bytes b = {0x1F, 0x8B, 8, flags, 0, 0, 0, 0, 0, 3};
        b.insert(b.end(), fields.begin(), fields.end());
        if (flags & 0x02) {
            uint32_t h = checksum_crc32(b.data(), b.size()) + uint32_t(hcrc_fix);
            b.push_back(uint8_t(h));
            b.push_back(uint8_t(h >> 8));
        }
        b.insert(b.end(), body.begin(), body.end());
        for (uint32_t v : {crc_value, isize})
            for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
        return b;
    };
    const uint32_t n = uint32_t(payload.size());
    const Bytes all_fields = {3, 0, 'x', 'y', 'z', 'n', 'a', 'm', 'e', 0, 'n', 'o', 't', 'e', 0};
    struct Case { const char* what; Bytes stream; int status; };
    const Case cases[] = {
        {"plain", member(0, {}, 0, crc, n), COMPRESS_OK},
        {"extra, name, comment, header CRC", member(0x1E, all_fields, 0, crc, n), COMPRESS_OK},
        {"header CRC wrong", member(0x1E, all_fields, 1, crc, n), COMPRESS_BAD_FORMAT},
        {"extra field longer than the input", member(0x04, {0xFF, 0x7F}, 0, crc, n), COMPRESS_BAD_FORMAT},
        {"name runs into the trailer", Bytes{0x1F, 0x8B, 8, 0x08, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c', 1, 1, 1, 1, 1, 1, 1, 0},
         COMPRESS_BAD_FORMAT},
        {"reserved flag", member(0x20, {}, 0, crc, n), COMPRESS_BAD_FORMAT},
        {"CRC wrong", member(0, {}, 0, crc ^ 1, n), COMPRESS_BAD_FORMAT},
        {"ISIZE larger than the output", member(0, {}, 0, crc, n + 1), COMPRESS_BAD_FORMAT},
        {"ISIZE smaller than the output", member(0, {}, 0, crc, n - 1), COMPRESS_BAD_FORMAT},
        {"ISIZE huge", member(0, {}, 0, crc, 0xFFFFFFF0u), COMPRESS_BAD_FORMAT},
        {"magic", [&] { Bytes b = member(0, {}, 0, crc, n); b[1] = 0x8C; return b; }(), COMPRESS_BAD_FORMAT},
        {"method", [&] { Bytes b = member(0, {}, 0, crc, n); b[2] = 7; return b; }(), COMPRESS_BAD_FORMAT},
        {"shorter than header and trailer", Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0}, COMPRESS_BAD_FORMAT},
    };
    for (const Case& c : cases) {
        Bytes out;
        EXPECT_EQ(run_decompress(CompressMethod::gzip, c.stream, &out), c.status) << c.what;
        if (c.status == COMPRESS_OK) {
            EXPECT_EQ(out, payload) << c.what;
        }
    }
}

TEST(Deflate, EveryTruncationIsRefused) {
    Bytes text = to_bytes("truncation: every prefix of a stream must be refused, none may crash the decoder");
    for (CompressMethod m : all_methods) {
        Bytes packed = run_compress(m, text);
        for (size_t n = 0; n < packed.size(); ++n) {
            Bytes prefix(packed.begin(), packed.begin() + long(n));
            EXPECT_NE(run_decompress(m, prefix), COMPRESS_OK) << int(m) << " prefix " << n;
        }
    }
}

TEST(Deflate, CorruptStreamsNeverGiveWrongData) {
    // Every single-bit change: refused, or (where the change does not touch
    // what the stream says) the same data; the checksums catch the rest.
    Bytes text = to_bytes("corruption: flip each bit of the stream in turn; abcabcabcabc 0123456789");
    for (CompressMethod m : {CompressMethod::zlib, CompressMethod::gzip}) {
        Bytes packed = run_compress(m, text);
        for (size_t bit = 0; bit < packed.size() * 8; ++bit) {
            Bytes bad = packed, out;
            bad[bit / 8] ^= uint8_t(1 << (bit % 8));
            int status = run_decompress(m, bad, &out);
            EXPECT_TRUE(status != COMPRESS_OK || out == text) << int(m) << " bit " << bit;
        }
    }
}

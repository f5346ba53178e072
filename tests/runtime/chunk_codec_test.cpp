// The boot image's chunk code: hand-made bit streams, the writer's round trips
// and the decoder's refusal of every structural fault.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "runtime/chunk_codec.h"

namespace tev {
namespace {

// Builds chunk blocks bit by bit, as the format lays them out.
struct BlockBuilder {
    std::vector<uint8_t> chunks;
    uint64_t acc = 0;
    uint32_t count = 0;
    uint32_t unpacked = 0;

    void u32(uint32_t v) {
        for (int k = 0; k < 4; ++k) chunks.push_back(uint8_t(v >> (8 * k)));
    }
    void chunk(uint32_t length) {
        flush();
        u32(length);
        unpacked += length;
    }
    void bits(uint32_t n, uint32_t v) {
        acc |= uint64_t(v) << count;
        count += n;
        while (count >= 8) { chunks.push_back(uint8_t(acc)); acc >>= 8; count -= 8; }
    }
    void literal(uint8_t b) { bits(1, 0); bits(8, b); }
    void flush() {
        if (count) chunks.push_back(uint8_t(acc));
        acc = 0;
        count = 0;
    }
    std::vector<uint8_t> block() {
        flush();
        std::vector<uint8_t> b;
        uint32_t p = uint32_t(chunks.size());
        for (int k = 0; k < 4; ++k) b.push_back(uint8_t(p >> (8 * k)));
        for (int k = 0; k < 4; ++k) b.push_back(uint8_t(unpacked >> (8 * k)));
        b.insert(b.end(), chunks.begin(), chunks.end());
        return b;
    }
};

bool decode(const std::vector<uint8_t>& block, std::vector<uint8_t>* out) {
    return decode_chunks(block.data(), block.size(), out);
}

TEST(ChunkCodec, HandMadeStreamsDecodeAsTheFormatSays) {
    {   // one literal
        BlockBuilder b;
        b.chunk(1);
        b.literal('A');
        std::vector<uint8_t> out;
        ASSERT_TRUE(decode(b.block(), &out));
        EXPECT_EQ(std::string(out.begin(), out.end()), "A");
    }
    {   // a run: length bits 1 then 00 (l = 0), w4 = 0, d = 0: three copies of the byte before
        BlockBuilder b;
        b.chunk(4);
        b.literal('x');
        b.bits(1, 1);
        b.bits(1, 1);
        b.bits(2, 0);
        b.bits(4, 0);
        b.bits(3, 0);
        std::vector<uint8_t> out;
        ASSERT_TRUE(decode(b.block(), &out));
        EXPECT_EQ(std::string(out.begin(), out.end()), "xxxx");
    }
    {   // leftover bits at a chunk's end are padding; the next chunk starts on the next byte
        BlockBuilder b;
        b.chunk(1);
        b.literal('a');
        b.bits(7, 0x7F);  // garbage in the unused high bits
        b.chunk(2);
        b.literal('b');
        b.literal('c');
        std::vector<uint8_t> out;
        ASSERT_TRUE(decode(b.block(), &out));
        EXPECT_EQ(std::string(out.begin(), out.end()), "abc");
    }
}

TEST(ChunkCodec, TheLargestDistanceCopiesFromTheChunksFirstByte) {
    // 262,144 literals, then a match with w4 = 15 and 17 one bits: d = 262,143.
    const uint32_t n = 262144;
    BlockBuilder b;
    b.chunk(n + 3);
    for (uint32_t i = 0; i < n; ++i) b.literal(uint8_t(i * 7 + (i >> 9)));
    b.bits(1, 1);
    b.bits(1, 1);
    b.bits(2, 0);            // l = 0: three bytes
    b.bits(4, 15);
    b.bits(17, 0x1FFFF);
    std::vector<uint8_t> out;
    ASSERT_TRUE(decode(b.block(), &out));
    ASSERT_EQ(out.size(), size_t(n + 3));
    EXPECT_EQ(out[n], out[0]);
    EXPECT_EQ(out[n + 1], out[1]);
    EXPECT_EQ(out[n + 2], out[2]);
}

TEST(ChunkCodec, ChunkLengthsAreBoundedToOneMegabyte) {
    struct Case { uint32_t length; bool ok; };
    for (Case c : {Case{0, false}, Case{0x100000, true}, Case{0x100001, false}}) {
        BlockBuilder b;
        b.chunk(c.length);
        if (c.length) {
            b.literal(0);
            // Runs of 566 bytes from one back, then literals for the rest.
            uint32_t done = 1;
            while (c.length - done >= 566) {
                b.bits(1, 1);
                b.bits(5, 0);
                b.bits(9, 511);
                b.bits(4, 0);
                b.bits(3, 0);
                done += 566;
            }
            while (done < c.length) { b.literal(0); ++done; }
        }
        std::vector<uint8_t> out;
        EXPECT_EQ(decode(b.block(), &out), c.ok) << c.length;
        if (c.ok) {
            EXPECT_EQ(out.size(), size_t(c.length));
        }
    }
}

TEST(ChunkCodec, StructuralFaultsAreRefused) {
    std::vector<uint8_t> out;
    {   // a copy reaching before the chunk's start
        BlockBuilder b;
        b.chunk(4);
        b.literal('x');
        b.bits(1, 1); b.bits(1, 1); b.bits(2, 0); b.bits(4, 0); b.bits(3, 1);  // d = 1: two back
        EXPECT_FALSE(decode(b.block(), &out));
    }
    {   // a copy past the chunk's end
        BlockBuilder b;
        b.chunk(3);
        b.literal('x');
        b.bits(1, 1); b.bits(1, 1); b.bits(2, 0); b.bits(4, 0); b.bits(3, 0);  // 3 more: 4 > 3
        EXPECT_FALSE(decode(b.block(), &out));
    }
    {   // a bit stream that stops early
        BlockBuilder b;
        b.chunk(3);
        b.literal('x');
        std::vector<uint8_t> block = b.block();
        EXPECT_FALSE(decode(block, &out));
    }
    {   // an unpacked size above what the chunks give, or above what the bytes could give
        BlockBuilder b;
        b.chunk(1);
        b.literal('x');
        std::vector<uint8_t> block = b.block();
        block[4] = 2;
        EXPECT_FALSE(decode(block, &out));
        block[4] = 0; block[5] = 0; block[6] = 0; block[7] = 0x7F;
        EXPECT_FALSE(decode(block, &out));
    }
    {   // a packed size beyond the input
        BlockBuilder b;
        b.chunk(1);
        b.literal('x');
        std::vector<uint8_t> block = b.block();
        block[0] += 1;
        EXPECT_FALSE(decode(block, &out));
        EXPECT_FALSE(decode_chunks(block.data(), 7, &out));
    }
    EXPECT_TRUE(out.empty());
}

TEST(ChunkCodec, TheWriterRoundTripsAndNeverGrowsItsInput) {
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "word-" + std::to_string(i % 97) + " [block of " + std::to_string(i) + "]\n";
    std::vector<uint8_t> random(0x100000 + 4000);
    uint32_t x = 12345;
    for (auto& b : random) { x = x * 1103515245 + 12345; b = uint8_t(x >> 23); }
    std::vector<uint8_t> repeats(0x250000, 'r');  // three chunks, long runs
    struct Case { const char* name; std::vector<uint8_t> data; bool packs; };
    std::vector<Case> cases = {
        {"text", std::vector<uint8_t>(text.begin(), text.end()), true},
        {"repeats", repeats, true},
        {"random", random, false},
        {"short", std::vector<uint8_t>(127, 'a'), false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> packed, back;
        bool packs = encode_chunks(c.data.data(), c.data.size(), &packed);
        EXPECT_EQ(packs, c.packs) << c.name;
        if (!packs) continue;
        EXPECT_LT(packed.size(), c.data.size()) << c.name;
        ASSERT_TRUE(decode_chunks(packed.data(), packed.size(), &back)) << c.name;
        EXPECT_TRUE(back == c.data) << c.name;
    }
}

}  // namespace
}  // namespace tev

// The boot image's LZ77 chunk code: independent chunks of at most 1 MB, each a
// little-endian bit stream of literals and back-references within the chunk.
//
// Block layout: u32 packed size P (chunk bytes after this 8-byte header), u32
// unpacked size U, then chunks: u32 length L (1..0x100000) and L bytes' worth
// of bit stream, padded to a byte. The decoder trusts nothing in it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tev {

constexpr uint32_t CHUNK_MAX_BYTES = 0x100000;

// Decodes a block of `length` bytes into *out. False (and *out emptied) when
// the block is corrupt: a chunk length outside 1..0x100000, a copy reaching
// before its chunk or past it, a read past the packed data or past `length`,
// an unpacked size that the packed data cannot produce, or one over max_out.
bool decode_chunks(const uint8_t* block, size_t length, std::vector<uint8_t>* out,
                   size_t max_out = size_t(1) << 30);

// Encodes n bytes into a block. False when the input is shorter than 128
// bytes or the block would not be smaller than the input by 8 bytes, so a
// packed block is never larger than what it holds.
bool encode_chunks(const uint8_t* in, size_t n, std::vector<uint8_t>* out);

}  // namespace tev

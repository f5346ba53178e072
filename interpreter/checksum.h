// Checksum engines: CRC-32, Adler-32, the Internet checksum, the MD5/SHA digests and their HMACs.
//
// Every engine is the program's own and works on plain bytes (never on series
// buffers it could lose across an allocation: nothing here allocates in the heap
// of values), so both builds give identical results.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

// CRC-32 of gzip and PNG (reflected polynomial 0xEDB88320). `crc` continues an
// earlier result: checksum_crc32(b, n2, checksum_crc32(a, n1)) is the CRC of a then b.
uint32_t checksum_crc32(const uint8_t* bytes, size_t length, uint32_t crc = 0);
// Adler-32 of zlib; `adler` continues an earlier result (1 for the empty input).
uint32_t checksum_adler32(const uint8_t* bytes, size_t length, uint32_t adler = 1);
// The Internet checksum: the complement of the one's-complement sum of the
// big-endian 16-bit words (an odd last byte is the high byte of a final word).
uint16_t checksum_tcp(const uint8_t* bytes, size_t length);

// Digest methods, numbered as the checksum native knows them.
enum DigestMethod : int { DIGEST_MD5 = 2, DIGEST_SHA1, DIGEST_SHA256, DIGEST_SHA384, DIGEST_SHA512 };
constexpr uint32_t DIGEST_MAX_LENGTH = 64;
constexpr uint32_t DIGEST_MAX_BLOCK = 128;
// Digest length and HMAC block size in bytes; 0 for a number that is not a digest.
uint32_t digest_length(int method);
uint32_t digest_block_size(int method);

// An incremental digest: any number of update calls, then one finish.
class Digest {
public:
    explicit Digest(int method);
    void update(const uint8_t* bytes, size_t length);
    // Writes digest_length(method) bytes.
    void finish(uint8_t* out);

private:
    void compress(const uint8_t* block);
    void compress_blocks(const uint8_t* p, size_t blocks);
    int method_;
    uint32_t block_size_;
    uint64_t total_ = 0;       // bytes so far (SHA-384/512 lengths never reach 2^64 bits here)
    uint32_t pending_ = 0;     // bytes waiting in buffer_
    union {
        uint32_t s32[8];
        uint64_t s64[8];
    } state_;
    alignas(8) uint8_t buffer_[DIGEST_MAX_BLOCK];
};

// The processor's CRC and SHA instructions are used where it has them; tests
// switch them off to check the portable code gives the same results.
void checksum_use_hardware(bool on);

// Whole-input helpers; `out` receives digest_length(method) bytes.
void digest_bytes(int method, const uint8_t* bytes, size_t length, uint8_t* out);
// HMAC: a key longer than the block size stands for its digest.
void hmac_bytes(int method, const uint8_t* key, size_t key_length, const uint8_t* bytes, size_t length,
                uint8_t* out);

}  // namespace tev

// Checksum engines: CRC-32, Adler-32, the Internet checksum, MD5, SHA-1 and the SHA-2 family, HMAC.
#include "interpreter/checksum.h"
#include <cassert>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define TEV_CHECKSUM_X86 1
#endif

namespace tev {

// ================================================================== byte order

static inline uint32_t load32le(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}
static inline uint32_t load32be(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
static inline uint64_t load64be(const uint8_t* p) { return uint64_t(load32be(p)) << 32 | load32be(p + 4); }
static inline void store32be(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
static inline void store32le(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}
static inline void store64be(uint8_t* p, uint64_t v) { store32be(p, uint32_t(v >> 32)); store32be(p + 4, uint32_t(v)); }
static inline uint32_t rotl32(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
static inline uint32_t rotr32(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }
static inline uint64_t rotr64(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

// ================================================================== digest constants

static const uint32_t md5_k[64] = {
    0xD76AA478u, 0xE8C7B756u, 0x242070DBu, 0xC1BDCEEEu,
    0xF57C0FAFu, 0x4787C62Au, 0xA8304613u, 0xFD469501u,
    0x698098D8u, 0x8B44F7AFu, 0xFFFF5BB1u, 0x895CD7BEu,
    0x6B901122u, 0xFD987193u, 0xA679438Eu, 0x49B40821u,
    0xF61E2562u, 0xC040B340u, 0x265E5A51u, 0xE9B6C7AAu,
    0xD62F105Du, 0x02441453u, 0xD8A1E681u, 0xE7D3FBC8u,
    0x21E1CDE6u, 0xC33707D6u, 0xF4D50D87u, 0x455A14EDu,
    0xA9E3E905u, 0xFCEFA3F8u, 0x676F02D9u, 0x8D2A4C8Au,
    0xFFFA3942u, 0x8771F681u, 0x6D9D6122u, 0xFDE5380Cu,
    0xA4BEEA44u, 0x4BDECFA9u, 0xF6BB4B60u, 0xBEBFBC70u,
    0x289B7EC6u, 0xEAA127FAu, 0xD4EF3085u, 0x04881D05u,
    0xD9D4D039u, 0xE6DB99E5u, 0x1FA27CF8u, 0xC4AC5665u,
    0xF4292244u, 0x432AFF97u, 0xAB9423A7u, 0xFC93A039u,
    0x655B59C3u, 0x8F0CCC92u, 0xFFEFF47Du, 0x85845DD1u,
    0x6FA87E4Fu, 0xFE2CE6E0u, 0xA3014314u, 0x4E0811A1u,
    0xF7537E82u, 0xBD3AF235u, 0x2AD7D2BBu, 0xEB86D391u,
};
static const uint32_t sha256_k[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u,
    0x3956C25Bu, 0x59F111F1u, 0x923F82A4u, 0xAB1C5ED5u,
    0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u,
    0x72BE5D74u, 0x80DEB1FEu, 0x9BDC06A7u, 0xC19BF174u,
    0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu,
    0x2DE92C6Fu, 0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu,
    0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u,
    0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u,
    0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu, 0x53380D13u,
    0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u,
    0xA2BFE8A1u, 0xA81A664Bu, 0xC24B8B70u, 0xC76C51A3u,
    0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u,
    0x19A4C116u, 0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u,
    0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u,
    0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u, 0xC67178F2u,
};
static const uint32_t sha256_h[8] = {
    0x6A09E667u, 0xBB67AE85u, 0x3C6EF372u, 0xA54FF53Au,
    0x510E527Fu, 0x9B05688Cu, 0x1F83D9ABu, 0x5BE0CD19u,
};
static const uint64_t sha512_k[80] = {
    0x428A2F98D728AE22ULL, 0x7137449123EF65CDULL, 0xB5C0FBCFEC4D3B2FULL, 0xE9B5DBA58189DBBCULL,
    0x3956C25BF348B538ULL, 0x59F111F1B605D019ULL, 0x923F82A4AF194F9BULL, 0xAB1C5ED5DA6D8118ULL,
    0xD807AA98A3030242ULL, 0x12835B0145706FBEULL, 0x243185BE4EE4B28CULL, 0x550C7DC3D5FFB4E2ULL,
    0x72BE5D74F27B896FULL, 0x80DEB1FE3B1696B1ULL, 0x9BDC06A725C71235ULL, 0xC19BF174CF692694ULL,
    0xE49B69C19EF14AD2ULL, 0xEFBE4786384F25E3ULL, 0x0FC19DC68B8CD5B5ULL, 0x240CA1CC77AC9C65ULL,
    0x2DE92C6F592B0275ULL, 0x4A7484AA6EA6E483ULL, 0x5CB0A9DCBD41FBD4ULL, 0x76F988DA831153B5ULL,
    0x983E5152EE66DFABULL, 0xA831C66D2DB43210ULL, 0xB00327C898FB213FULL, 0xBF597FC7BEEF0EE4ULL,
    0xC6E00BF33DA88FC2ULL, 0xD5A79147930AA725ULL, 0x06CA6351E003826FULL, 0x142929670A0E6E70ULL,
    0x27B70A8546D22FFCULL, 0x2E1B21385C26C926ULL, 0x4D2C6DFC5AC42AEDULL, 0x53380D139D95B3DFULL,
    0x650A73548BAF63DEULL, 0x766A0ABB3C77B2A8ULL, 0x81C2C92E47EDAEE6ULL, 0x92722C851482353BULL,
    0xA2BFE8A14CF10364ULL, 0xA81A664BBC423001ULL, 0xC24B8B70D0F89791ULL, 0xC76C51A30654BE30ULL,
    0xD192E819D6EF5218ULL, 0xD69906245565A910ULL, 0xF40E35855771202AULL, 0x106AA07032BBD1B8ULL,
    0x19A4C116B8D2D0C8ULL, 0x1E376C085141AB53ULL, 0x2748774CDF8EEB99ULL, 0x34B0BCB5E19B48A8ULL,
    0x391C0CB3C5C95A63ULL, 0x4ED8AA4AE3418ACBULL, 0x5B9CCA4F7763E373ULL, 0x682E6FF3D6B2B8A3ULL,
    0x748F82EE5DEFB2FCULL, 0x78A5636F43172F60ULL, 0x84C87814A1F0AB72ULL, 0x8CC702081A6439ECULL,
    0x90BEFFFA23631E28ULL, 0xA4506CEBDE82BDE9ULL, 0xBEF9A3F7B2C67915ULL, 0xC67178F2E372532BULL,
    0xCA273ECEEA26619CULL, 0xD186B8C721C0C207ULL, 0xEADA7DD6CDE0EB1EULL, 0xF57D4F7FEE6ED178ULL,
    0x06F067AA72176FBAULL, 0x0A637DC5A2C898A6ULL, 0x113F9804BEF90DAEULL, 0x1B710B35131C471BULL,
    0x28DB77F523047D84ULL, 0x32CAAB7B40C72493ULL, 0x3C9EBE0A15C9BEBCULL, 0x431D67C49C100D4CULL,
    0x4CC5D4BECB3E42B6ULL, 0x597F299CFC657E2AULL, 0x5FCB6FAB3AD6FAECULL, 0x6C44198C4A475817ULL,
};
static const uint64_t sha512_h[8] = {
    0x6A09E667F3BCC908ULL, 0xBB67AE8584CAA73BULL, 0x3C6EF372FE94F82BULL, 0xA54FF53A5F1D36F1ULL,
    0x510E527FADE682D1ULL, 0x9B05688C2B3E6C1FULL, 0x1F83D9ABFB41BD6BULL, 0x5BE0CD19137E2179ULL,
};
static const uint64_t sha384_h[8] = {
    0xCBBB9D5DC1059ED8ULL, 0x629A292A367CD507ULL, 0x9159015A3070DD17ULL, 0x152FECD8F70E5939ULL,
    0x67332667FFC00B31ULL, 0x8EB44A8768581511ULL, 0xDB0C2E0D64F98FA7ULL, 0x47B5481DBEFA4FA4ULL,
};

// ================================================================== x86 instructions

// Carry-less multiplication folds CRC-32 sixteen bytes per step, and the SHA
// instructions run SHA-1 and SHA-256 rounds; both are chosen at run time when
// the processor has them. Results are the same bit for bit as the portable code.
#ifdef TEV_CHECKSUM_X86

namespace {

bool use_hardware = true;  // tests switch it off to run the portable code

bool cpu_has(int feature) {
    static const bool clmul = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    static const bool sha = [] {
        __builtin_cpu_init();
        unsigned eax, ebx, ecx, edx;  // leaf 7, EBX bit 29: the SHA extensions
        if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
        return (ebx & (1u << 29)) != 0 && __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
    }();
    return use_hardware && (feature == 0 ? clmul : sha);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold16(__m128i x, __m128i k, __m128i data) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), data);
}

// The CRC register (not inverted) over length bytes, length >= 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t crc32_clmul(uint32_t crc, const uint8_t* p, size_t length) {
    const __m128i k1k2 = _mm_set_epi64x(0x1C6E41596LL, 0x154442BD4LL);  // x^(4*128+32), x^(4*128-32) mod P
    const __m128i k3k4 = _mm_set_epi64x(0x0CCAA009ELL, 0x1751997D0LL);  // x^(128+32), x^(128-32) mod P
    const __m128i k5 = _mm_set_epi64x(0, 0x163CD6124LL);                 // x^64 mod P
    const __m128i poly = _mm_set_epi64x(0x1F7011641LL, 0x1DB710641LL);  // Barrett: mu and P
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
    __m128i x2 = load(p + 16), x3 = load(p + 32), x4 = load(p + 48);
    p += 64;
    length -= 64;
    for (; length >= 64; p += 64, length -= 64) {
        x1 = fold16(x1, k1k2, load(p));
        x2 = fold16(x2, k1k2, load(p + 16));
        x3 = fold16(x3, k1k2, load(p + 32));
        x4 = fold16(x4, k1k2, load(p + 48));
    }
    x1 = fold16(x1, k3k4, x2);
    x1 = fold16(x1, k3k4, x3);
    x1 = fold16(x1, k3k4, x4);
    for (; length >= 16; p += 16, length -= 16) x1 = fold16(x1, k3k4, load(p));
    // 128 bits to 64, to 32, then the Barrett reduction to the remainder.
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), _mm_clmulepi64_si128(x1, k3k4, 0x10));
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(x1, t), 1));
}

__attribute__((target("sha,sse4.1,ssse3"))) void sha256_blocks_ni(uint32_t* s, const uint8_t* p, size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0C0D0E0F08090A0BLL, 0x0405060700010203LL);  // byte swap per word
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), 0xB1);      // CDAB
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4)), 0x1B);  // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);   // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);        // CDGH
    for (; blocks > 0; --blocks, p += 64) {
        __m128i abef = state0, cdgh = state1;
        __m128i w[4];
#pragma GCC unroll 16
        for (int g = 0; g < 16; ++g) {
            if (g < 4) w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), mask);
            __m128i msg = _mm_add_epi32(w[g & 3], _mm_loadu_si128(reinterpret_cast<const __m128i*>(sha256_k + 4 * g)));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            if (g >= 3 && g <= 14) {
                __m128i& next = w[(g + 1) & 3];
                next = _mm_add_epi32(next, _mm_alignr_epi8(w[g & 3], w[(g + 3) & 3], 4));
                next = _mm_sha256msg2_epu32(next, w[g & 3]);
            }
            state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(msg, 0x0E));
            if (g >= 1 && g <= 12) w[(g + 3) & 3] = _mm_sha256msg1_epu32(w[(g + 3) & 3], w[g & 3]);
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);                 // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);              // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);           // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);              // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s + 4), state1);
}

__attribute__((target("sha,sse4.1,ssse3"))) void sha1_blocks_ni(uint32_t* s, const uint8_t* p, size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);  // all 16 bytes reversed
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), 0x1B);
    __m128i e0 = _mm_set_epi32(int(s[4]), 0, 0, 0);
    for (; blocks > 0; --blocks, p += 64) {
        __m128i abcd_saved = abcd, e_saved = e0;
        __m128i w[4], e[2] = {e0, e0};
#pragma GCC unroll 20
        for (int g = 0; g < 20; ++g) {
            if (g < 4) w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), mask);
            __m128i& cur = e[g & 1];
            cur = g == 0 ? _mm_add_epi32(cur, w[0]) : _mm_sha1nexte_epu32(cur, w[g & 3]);
            e[(g + 1) & 1] = abcd;
            if (g >= 3 && g <= 18) w[(g + 1) & 3] = _mm_sha1msg2_epu32(w[(g + 1) & 3], w[g & 3]);
            switch (g / 5) {  // the round function is an immediate
                case 0: abcd = _mm_sha1rnds4_epu32(abcd, cur, 0); break;
                case 1: abcd = _mm_sha1rnds4_epu32(abcd, cur, 1); break;
                case 2: abcd = _mm_sha1rnds4_epu32(abcd, cur, 2); break;
                default: abcd = _mm_sha1rnds4_epu32(abcd, cur, 3); break;
            }
            if (g >= 1 && g <= 16) w[(g + 3) & 3] = _mm_sha1msg1_epu32(w[(g + 3) & 3], w[g & 3]);
            if (g >= 2 && g <= 17) w[(g + 2) & 3] = _mm_xor_si128(w[(g + 2) & 3], w[g & 3]);
        }
        e0 = _mm_sha1nexte_epu32(e[0], e_saved);
        abcd = _mm_add_epi32(abcd, abcd_saved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s), _mm_shuffle_epi32(abcd, 0x1B));
    s[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

}  // namespace

void checksum_use_hardware(bool on) { use_hardware = on; }

#else

void checksum_use_hardware(bool) {}

#endif

// ================================================================== CRC-32

// Sixteen tables: table[0] is the byte-at-a-time table; table[k] advances a
// byte's contribution past k more zero bytes, so sixteen bytes fold in at once.
namespace {
struct CrcTables {
    uint32_t t[16][256];
    CrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[0][i] = c;
        }
        for (int k = 1; k < 16; ++k)
            for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
};
}  // namespace

uint32_t checksum_crc32(const uint8_t* p, size_t length, uint32_t crc) {
    static const CrcTables tables;  // built on first use
    const auto& t = tables.t;
    crc = ~crc;
#ifdef TEV_CHECKSUM_X86
    if (length >= 64 && cpu_has(0)) {
        size_t n = length & ~size_t(15);
        crc = crc32_clmul(crc, p, n);
        p += n;
        length -= n;
    }
#endif
    while (length >= 16) {
        uint32_t a = load32le(p) ^ crc, b = load32le(p + 4), c = load32le(p + 8), d = load32le(p + 12);
        crc = t[15][a & 0xFF] ^ t[14][(a >> 8) & 0xFF] ^ t[13][(a >> 16) & 0xFF] ^ t[12][a >> 24] ^
              t[11][b & 0xFF] ^ t[10][(b >> 8) & 0xFF] ^ t[9][(b >> 16) & 0xFF] ^ t[8][b >> 24] ^
              t[7][c & 0xFF] ^ t[6][(c >> 8) & 0xFF] ^ t[5][(c >> 16) & 0xFF] ^ t[4][c >> 24] ^
              t[3][d & 0xFF] ^ t[2][(d >> 8) & 0xFF] ^ t[1][(d >> 16) & 0xFF] ^ t[0][d >> 24];
        p += 16;
        length -= 16;
    }
    while (length--) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xFF];
    return ~crc;
}

// ================================================================== Adler-32

uint32_t checksum_adler32(const uint8_t* p, size_t length, uint32_t adler) {
    constexpr uint32_t MOD = 65521;
    // The most bytes after which b cannot yet have overflowed 32 bits.
    constexpr size_t BLOCK = 5552;
    uint32_t a = adler & 0xFFFF, b = adler >> 16;
    while (length > 0) {
        size_t n = length < BLOCK ? length : BLOCK;
        length -= n;
        for (; n >= 16; n -= 16, p += 16)
            for (int k = 0; k < 16; ++k) { a += p[k]; b += a; }
        while (n--) { a += *p++; b += a; }
        a %= MOD;
        b %= MOD;
    }
    return b << 16 | a;
}

// ================================================================== Internet checksum

// Summed in 64 bits: a 32-bit sum would wrap after about 65,537 words of 0xFFFF.
uint16_t checksum_tcp(const uint8_t* p, size_t length) {
    uint64_t sum = 0;
    for (; length >= 2; length -= 2, p += 2) sum += uint32_t(p[0]) << 8 | p[1];
    if (length) sum += uint32_t(p[0]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

// ================================================================== digests

uint32_t digest_length(int method) {
    switch (method) {
        case DIGEST_MD5: return 16;
        case DIGEST_SHA1: return 20;
        case DIGEST_SHA256: return 32;
        case DIGEST_SHA384: return 48;
        case DIGEST_SHA512: return 64;
        default: return 0;
    }
}

uint32_t digest_block_size(int method) {
    switch (method) {
        case DIGEST_MD5: case DIGEST_SHA1: case DIGEST_SHA256: return 64;
        case DIGEST_SHA384: case DIGEST_SHA512: return 128;
        default: return 0;
    }
}

Digest::Digest(int method) : method_(method), block_size_(digest_block_size(method)) {
    assert(block_size_ != 0);
    switch (method) {
        case DIGEST_MD5:
        case DIGEST_SHA1: {
            static const uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
            std::memcpy(state_.s32, h, sizeof h);
            break;
        }
        case DIGEST_SHA256: std::memcpy(state_.s32, sha256_h, sizeof sha256_h); break;
        case DIGEST_SHA384: std::memcpy(state_.s64, sha384_h, sizeof sha384_h); break;
        default: std::memcpy(state_.s64, sha512_h, sizeof sha512_h); break;
    }
}

static void md5_block(uint32_t* s, const uint8_t* block) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = load32le(block + 4 * i);
    uint32_t a = s[0], b = s[1], c = s[2], d = s[3];
#define MD5_STEP(f, a, b, c, d, i, r) a = b + rotl32(a + (f) + x[(i)] + md5_k[k++], r)
    int k = 0;
    for (int i = 0; i < 16; i += 4) {
        MD5_STEP(d ^ (b & (c ^ d)), a, b, c, d, i, 7);
        MD5_STEP(c ^ (a & (b ^ c)), d, a, b, c, i + 1, 12);
        MD5_STEP(b ^ (d & (a ^ b)), c, d, a, b, i + 2, 17);
        MD5_STEP(a ^ (c & (d ^ a)), b, c, d, a, i + 3, 22);
    }
    for (int i = 0; i < 16; i += 4) {
        MD5_STEP(c ^ (d & (b ^ c)), a, b, c, d, (5 * i + 1) & 15, 5);
        MD5_STEP(b ^ (c & (a ^ b)), d, a, b, c, (5 * i + 6) & 15, 9);
        MD5_STEP(a ^ (b & (d ^ a)), c, d, a, b, (5 * i + 11) & 15, 14);
        MD5_STEP(d ^ (a & (c ^ d)), b, c, d, a, (5 * i) & 15, 20);
    }
    for (int i = 0; i < 16; i += 4) {
        MD5_STEP(b ^ c ^ d, a, b, c, d, (3 * i + 5) & 15, 4);
        MD5_STEP(a ^ b ^ c, d, a, b, c, (3 * i + 8) & 15, 11);
        MD5_STEP(d ^ a ^ b, c, d, a, b, (3 * i + 11) & 15, 16);
        MD5_STEP(c ^ d ^ a, b, c, d, a, (3 * i + 14) & 15, 23);
    }
    for (int i = 0; i < 16; i += 4) {
        MD5_STEP(c ^ (b | ~d), a, b, c, d, (7 * i) & 15, 6);
        MD5_STEP(b ^ (a | ~c), d, a, b, c, (7 * i + 7) & 15, 10);
        MD5_STEP(a ^ (d | ~b), c, d, a, b, (7 * i + 14) & 15, 15);
        MD5_STEP(d ^ (c | ~a), b, c, d, a, (7 * i + 21) & 15, 21);
    }
#undef MD5_STEP
    s[0] += a; s[1] += b; s[2] += c; s[3] += d;
}

static void sha1_block(uint32_t* s, const uint8_t* block) {
    uint32_t w[16];
    for (int i = 0; i < 16; ++i) w[i] = load32be(block + 4 * i);
    uint32_t a = s[0], b = s[1], c = s[2], d = s[3], e = s[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t wi;
        if (i < 16) {
            wi = w[i];
        } else {
            wi = rotl32(w[(i + 13) & 15] ^ w[(i + 8) & 15] ^ w[(i + 2) & 15] ^ w[i & 15], 1);
            w[i & 15] = wi;
        }
        uint32_t f, k;
        if (i < 20) { f = d ^ (b & (c ^ d)); k = 0x5A827999u; }
        else if (i < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1u; }
        else if (i < 60) { f = (b & c) | (d & (b | c)); k = 0x8F1BBCDCu; }
        else { f = b ^ c ^ d; k = 0xCA62C1D6u; }
        uint32_t t = rotl32(a, 5) + f + e + k + wi;
        e = d; d = c; c = rotl32(b, 30); b = a; a = t;
    }
    s[0] += a; s[1] += b; s[2] += c; s[3] += d; s[4] += e;
}


// Eight rounds per step with the working variables renamed instead of moved,
// the schedule kept in a ring of sixteen words.
#define SHA2_ROUND(a, b, c, d, e, f, g, h, k, w, S0, S1)     \
    do {                                                     \
        auto t1_ = h + S1(e) + (g ^ (e & (f ^ g))) + k + w;  \
        auto t2_ = S0(a) + ((a & b) | (c & (a | b)));        \
        d += t1_;                                            \
        h = t1_ + t2_;                                       \
    } while (0)
#define SHA2_EIGHT(K, W, S0, S1, i)                                      \
    SHA2_ROUND(a, b, c, d, e, f, g, h, K[i], W(i), S0, S1);              \
    SHA2_ROUND(h, a, b, c, d, e, f, g, K[i + 1], W(i + 1), S0, S1);      \
    SHA2_ROUND(g, h, a, b, c, d, e, f, K[i + 2], W(i + 2), S0, S1);      \
    SHA2_ROUND(f, g, h, a, b, c, d, e, K[i + 3], W(i + 3), S0, S1);      \
    SHA2_ROUND(e, f, g, h, a, b, c, d, K[i + 4], W(i + 4), S0, S1);      \
    SHA2_ROUND(d, e, f, g, h, a, b, c, K[i + 5], W(i + 5), S0, S1);      \
    SHA2_ROUND(c, d, e, f, g, h, a, b, K[i + 6], W(i + 6), S0, S1);      \
    SHA2_ROUND(b, c, d, e, f, g, h, a, K[i + 7], W(i + 7), S0, S1)

// The two SHA-2 word sizes differ only in these constants.
struct Sha256Words {
    using Word = uint32_t;
    static constexpr int rounds = 64;
    static const Word* k() { return sha256_k; }
    static Word load(const uint8_t* p) { return load32be(p); }
    static Word big0(Word a) { return rotr32(a, 2) ^ rotr32(a, 13) ^ rotr32(a, 22); }
    static Word big1(Word e) { return rotr32(e, 6) ^ rotr32(e, 11) ^ rotr32(e, 25); }
    static Word small0(Word w) { return rotr32(w, 7) ^ rotr32(w, 18) ^ (w >> 3); }
    static Word small1(Word w) { return rotr32(w, 17) ^ rotr32(w, 19) ^ (w >> 10); }
};
struct Sha512Words {
    using Word = uint64_t;
    static constexpr int rounds = 80;
    static const Word* k() { return sha512_k; }
    static Word load(const uint8_t* p) { return load64be(p); }
    static Word big0(Word a) { return rotr64(a, 28) ^ rotr64(a, 34) ^ rotr64(a, 39); }
    static Word big1(Word e) { return rotr64(e, 14) ^ rotr64(e, 18) ^ rotr64(e, 41); }
    static Word small0(Word w) { return rotr64(w, 1) ^ rotr64(w, 8) ^ (w >> 7); }
    static Word small1(Word w) { return rotr64(w, 19) ^ rotr64(w, 61) ^ (w >> 6); }
};

template <class T> static void sha2_block(typename T::Word* s, const uint8_t* block) {
    using Word = typename T::Word;
    Word w[16];
    for (int i = 0; i < 16; ++i) w[i] = T::load(block + sizeof(Word) * i);
    // Word i of the schedule, computed in place from i >= 16.
    auto next = [&w](int i) {
        return w[i & 15] += T::small0(w[(i - 15) & 15]) + w[(i - 7) & 15] + T::small1(w[(i - 2) & 15]);
    };
    const Word* K = T::k();
    Word a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
#define W_FIRST(i) w[i]
#define W_NEXT(i) next(i)
    SHA2_EIGHT(K, W_FIRST, T::big0, T::big1, 0);
    SHA2_EIGHT(K, W_FIRST, T::big0, T::big1, 8);
    for (int i = 16; i < T::rounds; i += 8) { SHA2_EIGHT(K, W_NEXT, T::big0, T::big1, i); }
#undef W_FIRST
#undef W_NEXT
    s[0] += a; s[1] += b; s[2] += c; s[3] += d; s[4] += e; s[5] += f; s[6] += g; s[7] += h;
}

void Digest::compress_blocks(const uint8_t* p, size_t blocks) {
#ifdef TEV_CHECKSUM_X86
    if ((method_ == DIGEST_SHA256 || method_ == DIGEST_SHA1) && cpu_has(1)) {
        if (method_ == DIGEST_SHA256) sha256_blocks_ni(state_.s32, p, blocks);
        else sha1_blocks_ni(state_.s32, p, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, p += block_size_) compress(p);
}

void Digest::compress(const uint8_t* block) {
    switch (method_) {
        case DIGEST_MD5: md5_block(state_.s32, block); break;
        case DIGEST_SHA1: sha1_block(state_.s32, block); break;
        case DIGEST_SHA256: sha2_block<Sha256Words>(state_.s32, block); break;
        default: sha2_block<Sha512Words>(state_.s64, block); break;
    }
}

void Digest::update(const uint8_t* p, size_t length) {
    total_ += length;
    if (pending_) {
        size_t take = block_size_ - pending_;
        if (take > length) take = length;
        std::memcpy(buffer_ + pending_, p, take);
        pending_ += uint32_t(take);
        p += take;
        length -= take;
        if (pending_ < block_size_) return;
        compress(buffer_);
        pending_ = 0;
    }
    size_t blocks = length / block_size_;
    if (blocks) compress_blocks(p, blocks);
    p += blocks * block_size_;
    length -= blocks * block_size_;
    std::memcpy(buffer_, p, length);
    pending_ = uint32_t(length);
}

void Digest::finish(uint8_t* out) {
    // Padding: 0x80, zeros, then the length in bits in the last 8 (MD5 little-,
    // the others big-endian) or 16 bytes of a block.
    uint32_t length_bytes = block_size_ == 128 ? 16 : 8;
    uint64_t bits = total_ * 8;
    buffer_[pending_++] = 0x80;
    if (pending_ > block_size_ - length_bytes) {
        std::memset(buffer_ + pending_, 0, block_size_ - pending_);
        compress(buffer_);
        pending_ = 0;
    }
    std::memset(buffer_ + pending_, 0, block_size_ - pending_);
    if (method_ == DIGEST_MD5) {
        store32le(buffer_ + 56, uint32_t(bits));
        store32le(buffer_ + 60, uint32_t(bits >> 32));
    } else {
        store64be(buffer_ + block_size_ - 8, bits);
        if (block_size_ == 128) store64be(buffer_ + 112, total_ >> 61);
    }
    compress(buffer_);
    pending_ = 0;
    uint32_t n = digest_length(method_);
    if (method_ == DIGEST_MD5) {
        for (uint32_t i = 0; i < 4; ++i) store32le(out + 4 * i, state_.s32[i]);
    } else if (block_size_ == 64) {
        for (uint32_t i = 0; i < n / 4; ++i) store32be(out + 4 * i, state_.s32[i]);
    } else {
        for (uint32_t i = 0; i < n / 8; ++i) store64be(out + 8 * i, state_.s64[i]);
    }
}

void digest_bytes(int method, const uint8_t* bytes, size_t length, uint8_t* out) {
    Digest d(method);
    d.update(bytes, length);
    d.finish(out);
}

// ================================================================== HMAC

void hmac_bytes(int method, const uint8_t* key, size_t key_length, const uint8_t* bytes, size_t length,
                uint8_t* out) {
    uint32_t block = digest_block_size(method), n = digest_length(method);
    uint8_t hashed_key[DIGEST_MAX_LENGTH];
    if (key_length > block) {
        digest_bytes(method, key, key_length, hashed_key);
        key = hashed_key;
        key_length = n;
    }
    uint8_t inner_pad[DIGEST_MAX_BLOCK] = {}, outer_pad[DIGEST_MAX_BLOCK] = {};
    std::memcpy(inner_pad, key, key_length);
    std::memcpy(outer_pad, key, key_length);
    for (uint32_t i = 0; i < block; ++i) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    uint8_t inner[DIGEST_MAX_LENGTH];
    Digest d(method);
    d.update(inner_pad, block);
    d.update(bytes, length);
    d.finish(inner);
    Digest o(method);
    o.update(outer_pad, block);
    o.update(inner, n);
    o.finish(out);
}

}  // namespace tev

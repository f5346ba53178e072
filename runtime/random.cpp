// The Mersenne Twister with arithmetic shifts, the bounded integer draw and the secure draw.
//
// Every right shift copies bit 31 (the generator works on signed words), which
// makes the last tempering step clear bit 31: draws are 31-bit and never
// negative, so callers may scale them without a sign test.
#include "runtime/random.h"
#include "os/secure_random.h"
#include "runtime/errors.h"

namespace tev {
namespace {

constexpr int MT_WORDS = 624;
constexpr int MT_MIDDLE = 397;

uint32_t mt_state[MT_WORDS];
int mt_index = -1;  // -1: not seeded yet

// Arithmetic right shift on the 32-bit pattern, written without relying on
// the implementation's signed shift.
inline uint32_t sar(uint32_t x, int n) {
    return (x >> n) | ((x & 0x80000000u) ? ~(0xFFFFFFFFu >> n) : 0u);
}

void regenerate() {
    for (int i = 0; i < MT_WORDS; ++i) {
        uint32_t y = (mt_state[i] & 0x80000000u) | (mt_state[(i + 1) % MT_WORDS] & 0x7FFFFFFFu);
        mt_state[i] = mt_state[(i + MT_MIDDLE) % MT_WORDS] ^ sar(y, 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    }
    mt_index = 0;
}

}  // namespace

void random_init() { mt_seed(RANDOM_DEFAULT_SEED); }

void mt_seed(int32_t seed) {
    mt_state[0] = uint32_t(seed);
    for (uint32_t i = 1; i < MT_WORDS; ++i) {
        uint32_t prev = mt_state[i - 1];
        mt_state[i] = i + 1812433253u * (prev ^ sar(prev, 30));  // wraps mod 2^32
    }
    // Index 0, not 624: the first 624 draws temper the seeding words themselves.
    mt_index = 0;
}

int32_t mt_next() {
    if (mt_index < 0) random_init();
    if (mt_index == MT_WORDS) regenerate();
    uint32_t y = mt_state[mt_index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= sar(y, 18);
    return int32_t(y);
}

bool (*random_secure_source)(void* buffer, size_t length) = os_secure_random_bytes;

int32_t random_secure_draw() {
    uint32_t v = 0;
    // A failed source must not pass for a draw: its buffer is predictable.
    if (!random_secure_source(&v, sizeof v)) raise_error(err::internal::feature_na);
    return int32_t(v & 0x7FFFFFFFu);
}

int32_t random_int_range(bool secure, int32_t n) {
    if (n == 0) return 0;
    auto draw = [secure] { return secure ? random_secure_draw() : mt_next(); };
    if (n == INT32_MIN) return -1 - draw();
    bool negative = n < 0;
    if (negative) n = -n;
    const int32_t limit = (INT32_MAX / n) * n;
    int32_t d;
    do d = draw(); while (d >= limit);
    int32_t r = d % n + 1;
    return negative ? -r : r;
}

}  // namespace tev

// The one process-wide random generator: a Mersenne Twister whose shifts copy the sign bit, so every draw has 31 bits.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

constexpr int32_t RANDOM_DEFAULT_SEED = 19650218;

// Seeds with the default seed; start-up calls it once (drawing before it also
// starts from the default seed).
void random_init();
// Re-seeds the shared state: every datatype's random/seed lands here.
void mt_seed(int32_t seed);
// The next tempered draw, 0 .. 2147483647.
int32_t mt_next();
// 31 bits from the system's cryptographic source; raises internal/feature-na
// when the source fails.
int32_t random_secure_draw();
// The source behind it (the OS's; replaceable so that tests can make it fail).
extern bool (*random_secure_source)(void* buffer, size_t length);
// Uniform in 1..n for n > 0, -1..n for n < 0, 0 for n = 0 (rejection sampling:
// no residue is favoured).
int32_t random_int_range(bool secure, int32_t n);

}  // namespace tev

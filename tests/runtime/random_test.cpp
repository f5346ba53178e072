// The shared random generator: reproducible sequences, 31-bit draws, and unbiased bounded draws.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "runtime/errors.h"
#include "runtime/random.h"

namespace tev {
namespace {

TEST(Random, SeedingReproducesTheSequenceAndTheFirstDrawIsTheTemperedSeed) {
    mt_seed(RANDOM_DEFAULT_SEED);
    EXPECT_EQ(mt_next(), 1573102752);  // 19650218 tempered
    mt_seed(12345);
    std::vector<int32_t> first;
    for (int i = 0; i < 2000; ++i) first.push_back(mt_next());  // crosses a regeneration
    mt_seed(12345);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(mt_next(), first[size_t(i)]) << i;
    mt_seed(12346);
    int same = 0;
    for (int i = 0; i < 2000; ++i) same += mt_next() == first[size_t(i)];
    EXPECT_LT(same, 5);
}

TEST(Random, DrawsAreNeverNegativeAndUseAll31Bits) {
    mt_seed(-7);
    int32_t seen_high = 0;
    for (int i = 0; i < 100000; ++i) {
        int32_t d = mt_next();
        ASSERT_GE(d, 0);
        seen_high |= d;
    }
    EXPECT_EQ(seen_high, INT32_MAX);
    for (int i = 0; i < 100; ++i) ASSERT_GE(random_secure_draw(), 0);
}

TEST(Random, BoundedDrawsStayInRangeAndFavourNoResidue) {
    mt_seed(1);
    struct Row { int32_t n, low, high; } rows[] = {{1, 1, 1}, {-1, -1, -1}, {0, 0, 0}, {6, 1, 6}, {-6, -6, -1},
                                                    {INT32_MAX, 1, INT32_MAX}, {INT32_MIN, INT32_MIN, -1}};
    for (const Row& r : rows)
        for (bool secure : {false, true})
            for (int i = 0; i < 2000; ++i) {
                int32_t v = random_int_range(secure, r.n);
                ASSERT_GE(v, r.low) << r.n;
                ASSERT_LE(v, r.high) << r.n;
            }
    // With n = 3 * 2^29 a plain modulo of a 31-bit draw lands in the lower half
    // 62.5% of the time; rejection keeps it at one half.
    const int32_t n = 3 << 29;
    int lower = 0, draws = 40000;
    for (int i = 0; i < draws; ++i) lower += random_int_range(false, n) <= n / 2;
    EXPECT_NEAR(double(lower) / draws, 0.5, 0.015);
    int counts[6] = {};
    for (int i = 0; i < 60000; ++i) counts[random_int_range(false, 6) - 1]++;
    for (int c : counts) EXPECT_NEAR(c, 10000, 400);
}


// A failing system source must raise, never hand out the untouched buffer as a draw.
TEST(Random, AFailingSecureSourceRaisesInsteadOfDrawing) {
    auto* saved = random_secure_source;
    random_secure_source = [](void* buffer, size_t length) {
        std::memset(buffer, 0, length);
        return false;
    };
    struct Row { const char* what; int32_t (*draw)(); } rows[] = {
        {"draw", [] { return random_secure_draw(); }},
        {"range", [] { return random_int_range(true, 6); }},
        {"lowest", [] { return random_int_range(true, INT32_MIN); }},
    };
    for (const Row& r : rows) {
        uint32_t code = 0;
        try {
            r.draw();
        } catch (const LanguageThrow&) {
            code = last_error_code();
        }
        EXPECT_EQ(code, err::internal::feature_na.code) << r.what;
    }
    random_secure_source = saved;
    EXPECT_GE(random_int_range(true, 6), 1);  // the system source is back
    EXPECT_EQ(random_int_range(true, 0), 0);  // no draw at all for 0
}

}  // namespace
}  // namespace tev

// Start-up: the processor's floating-point state and the exit path of a failed start.
#include <gtest/gtest.h>
#include <cmath>
#include "startup/startup.h"

namespace tev {
namespace {

volatile double zero = 0.0;

TEST(Startup, FloatingPointExceptionsAreMaskedWithDoublePrecision) {
#if defined(__i386__) || defined(__x86_64__)
    uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    EXPECT_EQ(control & 0x1F3F, 0x023F);  // masks, 53-bit precision, round to nearest
    uint32_t mxcsr = 0;
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    EXPECT_EQ(mxcsr & 0xFFC0, 0x1F80u);   // masks, round to nearest, no flush to zero
#endif
    // Masked: these give infinities and NaN instead of ending the process.
    EXPECT_TRUE(std::isinf(1.0 / zero));
    EXPECT_TRUE(std::isnan(zero / zero));
    EXPECT_TRUE(std::isinf(1e308 * (10.0 + zero)));
}

TEST(StartupDeathTest, AFailedStartExitsNonZero) {
#ifdef _WIN32
    const int status = EXIT_STARTUP_FAILED;
#else
    const int status = EXIT_STARTUP_FAILED & 0xFF;  // POSIX keeps the low byte
#endif
    EXPECT_EXIT(startup_failed(), testing::ExitedWithCode(status), "");
}

}  // namespace
}  // namespace tev

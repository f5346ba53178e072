// Throw codes and catch levels, the runtime-error report and the process's end through it.
#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "runtime/fatal.h"
#if defined(_WIN64)
#include <windows.h>
#endif

namespace tev {
namespace {

TEST(RuntimeErrorReport, MessagesComeFromTheTableAndUnknownCodesSaySo) {
    struct Row { int code; const char* message; };
    const Row rows[] = {
        {1, "access violation"}, {6, "float denormal operan"}, {19, "stack error or overflow"},
        {22, "invalid handle"}, {34, "Bus error"}, {94, "out of memory"}, {95, "no CATCH for THROW"},
        {98, "assertion failed"}, {99, "unknown error"}, {100, "no value matched in CASE"},
        {101, "no value matched in SWITCH"}, {35, "unknown error code!"}, {50, "unknown error code!"},
        {-2, "unknown error code!"}, {102, "unknown error code!"},
    };
    for (const Row& r : rows) EXPECT_STREQ(runtime_error_message(r.code), r.message) << r.code;
}

TEST(RuntimeErrorReport, FormatIsCodeMessageAndEightHexDigits) {
    char text[128];
    size_t n = format_runtime_error(text, sizeof text, 1, 0x4011A0u);
    EXPECT_STREQ(text, "*** Runtime Error 1: access violation\n*** at: 004011A0h");
    EXPECT_EQ(n, std::strlen(text));
    format_runtime_error(text, sizeof text, 50, 0xDEADBEEFu);
    EXPECT_STREQ(text, "*** Runtime Error 50: unknown error code!\n*** at: DEADBEEFh");
    if constexpr (sizeof(uintptr_t) == 8) {
        // A 64-bit build's address is never cut to its low half.
        format_runtime_error(text, sizeof text, 1, uintptr_t(0x7FF6DEADBEEFull));
        EXPECT_STREQ(text, "*** Runtime Error 1: access violation\n*** at: 7FF6DEADBEEFh");
    }
    // A short buffer cuts the text and still ends it.
    char small[12];
    format_runtime_error(small, sizeof small, 95, 0);
    EXPECT_STREQ(small, "*** Runtime");
}

// ------------------------------------------------------------------ catch levels

TEST(ThrowAndCatch, ACatcherTakesCodesUpToItsLevelOnly) {
    // F7 lands at level F8 (the memory family's catcher).
    uint32_t got = catch_throw(THROW_MEMORY_LEVEL, []() -> uint32_t { runtime_throw(THROW_VM_ALLOC_FAILED); },
                               [](uint32_t code) { return code; });
    EXPECT_EQ(got, THROW_VM_ALLOC_FAILED);

    // An inner catcher at F6 lets F7 pass to the outer one at F8; the inner
    // body's effects before the throw stay, its handler never runs.
    std::vector<int> trail;
    got = catch_throw(
        THROW_MEMORY_LEVEL,
        [&]() -> uint32_t {
            return catch_throw(
                THROW_VM_FREE_FAILED,
                [&]() -> uint32_t { trail.push_back(1); runtime_throw(THROW_VM_ALLOC_FAILED); },
                [&](uint32_t) -> uint32_t { trail.push_back(2); return 0; });
        },
        [&](uint32_t code) { trail.push_back(3); return code; });
    EXPECT_EQ(got, THROW_VM_ALLOC_FAILED);
    EXPECT_EQ(trail, (std::vector<int>{1, 3}));
}

TEST(ThrowAndCatch, TheInnermostMatchingCatcherWinsAndLevelsCompareUnsigned) {
    auto inner_then_outer = [](uint32_t code) {
        return catch_throw(
            CATCH_EVERYTHING,
            [&]() -> int {
                return catch_throw(THROW_ERROR, [&]() -> int { runtime_throw(code); },
                                   [](uint32_t) { return 1; });
            },
            [](uint32_t) { return 2; });
    };
    EXPECT_EQ(inner_then_outer(THROW_BREAK), 1);
    EXPECT_EQ(inner_then_outer(THROW_ERROR), 1);
    EXPECT_EQ(inner_then_outer(0x80000000u), 2);  // above 0x7FFFFFFF as unsigned
    EXPECT_EQ(inner_then_outer(0xFFFFFFFFu), 2);
}

// ------------------------------------------------------------------ ending the process

TEST(RuntimeErrorDeathTest, ReportedErrorsExitWithTheirCode) {
    EXPECT_EXIT(report_runtime_error(50, 0x1234), testing::ExitedWithCode(50),
                "\\*\\*\\* Runtime Error 50: unknown error code!\n\\*\\*\\* at: 00001234h");
    EXPECT_EXIT(report_runtime_error(0, 0), testing::ExitedWithCode(0), "^$");
}

TEST(RuntimeErrorDeathTest, AThrowNobodyCatchesIsError95) {
    EXPECT_EXIT(
        {
            try {
                runtime_throw(THROW_THROW);
            } catch (...) {
                top_level_catch(std::current_exception());
            }
        },
        testing::ExitedWithCode(95), "Runtime Error 95: no CATCH for THROW");
}

TEST(RuntimeErrorDeathTest, ThrowingCodeZeroIsAnAssertionFailure) {
    EXPECT_EXIT(runtime_throw(0), testing::ExitedWithCode(98), "Runtime Error 98: assertion failed");
}

// Through a variable the compiler cannot see through: a plain null store is
// something the optimiser and the sanitizers may turn into something else.
volatile uintptr_t bad_address = 16;

TEST(RuntimeErrorDeathTest, AnAccessViolationIsError1) {
    EXPECT_EXIT(*reinterpret_cast<volatile int*>(bad_address) = 1, testing::ExitedWithCode(1),
                "\\*\\*\\* Runtime Error 1: access violation\n\\*\\*\\* at: \\w\\w\\w\\w\\w\\w\\w\\w\\w*h");
}

#if defined(__i386__) || defined(__x86_64__)
// Machine faults raised by the instruction itself: the C++ forms would be
// undefined behaviour that the sanitizers stop before the processor does.
volatile int divisor = 0;
void divide_by_zero() {
    int a = 1, d = divisor;
    asm volatile("cltd\n\tidivl %1" : "+a"(a) : "r"(d) : "edx");
}
void illegal_instruction() { asm volatile("ud2"); }
void breakpoint() { asm volatile("int3"); }

TEST(RuntimeErrorDeathTest, MachineFaultsMapToTheirCodes) {
    EXPECT_EXIT(divide_by_zero(), testing::ExitedWithCode(13), "Runtime Error 13: integer divide by zero");
    EXPECT_EXIT(illegal_instruction(), testing::ExitedWithCode(17), "Runtime Error 17: illegal instruction");
    EXPECT_EXIT(breakpoint(), testing::ExitedWithCode(3), "Runtime Error 3: breakpoint");
}
#endif

int recurse_forever(int depth) {
    if (depth < 0) return 0;  // never: keeps the compiler from calling this infinite
    volatile char pad[512];
    pad[0] = char(depth);
    return recurse_forever(depth + 1) + pad[0];
}

#if defined(_WIN64)
// 64-bit Wine cannot deliver a stack overflow: it needs more room below the
// guard page than is left and ends the process silently. Real Windows can.
bool is_64_bit_wine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }
#else
bool is_64_bit_wine() { return false; }
#endif

TEST(RuntimeErrorDeathTest, ExhaustingTheMachineStackIsError19) {
    if (is_64_bit_wine()) GTEST_SKIP() << "only real Windows delivers a 64-bit stack overflow";
    EXPECT_EXIT(recurse_forever(0), testing::ExitedWithCode(19), "Runtime Error 19: stack error or overflow");
}

// ------------------------------------------------------------------ system callbacks

TEST(ThrowAndCatch, AThrowInACallbackWaitsUntilTheSystemCallReturns) {
    bool after_callback = false;
    auto system_call = [&] {
        // What the system would do: call back, then carry on with its own work.
        bool ok = guard_callback([] { runtime_throw(THROW_BREAK); });
        EXPECT_FALSE(ok);
        after_callback = true;
    };
    uint32_t got = catch_throw(THROW_ERROR, [&]() -> uint32_t { system_call(); rethrow_parked(); return 0; },
                               [](uint32_t code) { return code; });
    EXPECT_TRUE(after_callback);
    EXPECT_EQ(got, THROW_BREAK);
    rethrow_parked();  // nothing left parked: no throw
}

}  // namespace
}  // namespace tev

// The script runner starts every top-level evaluation with an empty cycle guard.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/script_runner.h"
#include "runtime/console_output.h"
#include "runtime/cycle_guard.h"

namespace tev {
namespace {

std::string printed;
void capture(const void* bytes, size_t n) { printed.append(static_cast<const char*>(bytes), n); }

int run(const char* script) {
    return run_script_text(reinterpret_cast<const uint8_t*>(script), std::strlen(script), "runner test");
}

TEST(ScriptRunner, AStaleCycleEntryDoesNotReachTheNextRunNorTheErrorReport) {
    ASSERT_EQ(run("Tev [] cycle-test-block: [1 2]"), 0);
    Cell word;
    word = word_from_cstring("cycle-test-block");
    // What a walk cut short by an error that escaped to the top would leave.
    cycle_push(cycle_node_of(word_value_cell(&word)));

    ConsoleTarget saved = console_set_target({nullptr, capture});
    printed.clear();
    testing::internal::CaptureStdout();
    int code = run("Tev [] print mold cycle-test-block make integer! cycle-test-block");
    std::string report = testing::internal::GetCapturedStdout();
    console_set_target(saved);

    EXPECT_EQ(code, EXIT_UNCAUGHT_ERROR);
    EXPECT_EQ(printed, std::string("[1 2]") + os::NEWLINE);
    EXPECT_NE(report.find("integer! from: [1 2]"), std::string::npos) << report;
    EXPECT_EQ(cycle_depth(), 0u);
}

std::string report_of(const char* script, int* code) {
    testing::internal::CaptureStdout();
    *code = run(script);
    return testing::internal::GetCapturedStdout();
}

// A script needs the word Tev and a block before its code; anything else is
// refused unevaluated, with the report and the uncaught-error exit code.
TEST(ScriptRunner, RefusesAScriptWithoutItsHeader) {
    const char* scripts[] = {"", "1 + 1", "Tev", "Tev 5 1", "tev-x [] 1", "Tev\t\n 5 [] 1"};
    for (const char* script : scripts) {
        int code = 0;
        std::string report = report_of(script, &code);
        EXPECT_EQ(code, EXIT_UNCAUGHT_ERROR) << script;
        EXPECT_EQ(report, "*** Syntax Error: script is missing a Tev header: runner test\n"
                          "*** Where: ???\n*** Near : none\n") << script;
    }
    int code = -1;
    EXPECT_EQ(report_of("tev [Title: \"lower case\"]", &code), "");
    EXPECT_EQ(code, 0);
    // What comes before the header (a shell line, notes) is not code.
    for (const char* script : {"[] Tev [] 1", "#!/bin/tev\n1 / 0 Tev\n\t[] x: 1", "xTev[] x: 1"}) {
        code = -1;
        EXPECT_EQ(report_of(script, &code), "") << script;
        EXPECT_EQ(code, 0) << script;
    }
    code = 0;
    EXPECT_EQ(report_of("; systems code\nTev/System [] 1", &code),
              "*** Internal Error: contains Tev/System code which requires compilation\n"
              "*** Where: ???\n*** Near : none\n");
    EXPECT_EQ(code, EXIT_UNCAUGHT_ERROR);
    // A script saved with a byte-order mark is text like any other.
    code = -1;
    EXPECT_EQ(report_of("\xEF\xBB\xBFTev [] x: 1", &code), "");
    EXPECT_EQ(code, 0);
}

TEST(ScriptRunner, ReportsAnUncaughtErrorAndStops) {
    int code = 0;
    std::string report = report_of("Tev [] x: 1 f: func [n] [n / 0] f x x: 2", &code);
    EXPECT_EQ(code, EXIT_UNCAUGHT_ERROR);
    EXPECT_EQ(report, "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : n / 0\n");
    Cell word;
    word = word_from_cstring("x");
    EXPECT_EQ(get_integer(word_value_cell(&word)), 1);  // nothing after the error ran
}

}  // namespace
}  // namespace tev

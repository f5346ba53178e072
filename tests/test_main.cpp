// Unit-test entry: starts the runtime as the program does (runtime_init on the
// big-stack thread, under the top-level catch), then runs every test.
#include <gtest/gtest.h>
#include "os/os.h"
#include "startup/startup.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests re-run this program: safe with the interpreter's own thread.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fatal report must never wait for a click on a message box.
    tev::os::set_env("TEV_REPORT_TO_STDERR", "1");
    // Tests run with the collector on, as scripts do after boot, so that
    // TEV_GC_TORTURE=1 collects at every allocation they make.
    return tev::startup_for_tests(argc, argv, [] { return RUN_ALL_TESTS(); });
}

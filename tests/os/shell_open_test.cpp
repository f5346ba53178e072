// The desktop's "open" action: the target reaches the opener as one argument, whatever it holds.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <sys/stat.h>
#include "os/shell_open.h"

namespace tev {
namespace {

// A stand-in opener on PATH records each argument it receives on its own line.
TEST(ShellOpen, TheTargetReachesTheOpenerAsOneArgument) {
    char dir_template[] = "/tmp/tev-open-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    const std::string log = dir + "/log";
    {
        std::ofstream opener(dir + "/xdg-open");
        opener << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" << log << ".part'; done\n"
               << "mv '" << log << ".part' '" << log << "'\n";
    }
    ASSERT_EQ(chmod((dir + "/xdg-open").c_str(), 0755), 0);
    const char* old_path = std::getenv("PATH");
    const std::string saved = old_path ? old_path : "";
    setenv("PATH", (dir + ":" + saved).c_str(), 1);
    const char* targets[] = {"http://example.com/a b?x=1&y=2", "/tmp/it's \"quoted\" $HOME `x`;"};
    for (const char* target : targets) {
        unlink(log.c_str());
        EXPECT_TRUE(os::shell_open(target));
        std::string got;
        for (int i = 0; i < 500 && got.empty(); ++i) {  // the opener runs in the background
            std::ifstream in(log);
            if (in) {
                std::stringstream text;
                text << in.rdbuf();
                got = text.str();
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        EXPECT_EQ(got, std::string(target) + "\n");
    }
    setenv("PATH", saved.c_str(), 1);
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace tev
#endif

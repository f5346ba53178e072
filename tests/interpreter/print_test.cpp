// The print path: formed text goes through the console writer, then to the value-print hooks.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/string.h"
#include "interpreter/script_runner.h"
#include "runtime/console_output.h"

namespace tev {
namespace {

std::string written;
void capture(const void* bytes, size_t n) { written.append(static_cast<const char*>(bytes), n); }
std::vector<std::pair<std::string, bool>> hooked;
void value_hook(const Cell* text, bool newline) { hooked.emplace_back(string_to_utf8(text), newline); }

TEST(PrintPath, PrintWritesUtf8ThroughTheConsoleAndCallsTheValueHooks) {
    ConsoleTarget saved = console_set_target({nullptr, capture});
    print_hook_tables_init();
    register_output_hooks(value_hook, nullptr);
    written.clear();
    hooked.clear();
    const char* script = "Tev [] print [1 + 1 \"caf\xC3\xA9\"] prin \"x\"";
    int code = run_script_text(reinterpret_cast<const uint8_t*>(script), std::strlen(script), "print test");
    console_set_target(saved);
    print_hook_tables_init();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(written, std::string("2 caf\xC3\xA9") + os::NEWLINE + "x");
    ASSERT_EQ(hooked.size(), 2u);
    EXPECT_EQ(hooked[0], std::make_pair(std::string("2 caf\xC3\xA9"), true));
    EXPECT_EQ(hooked[1], std::make_pair(std::string("x"), false));
}

}  // namespace
}  // namespace tev

// The script runner: runs a script file or text with a header, reporting an
// uncaught error in the language's report format.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

// An error that nothing caught ends the process with this code (254 seen from a POSIX shell).
constexpr int EXIT_UNCAUGHT_ERROR = -2;

// Both return 0, or EXIT_UNCAUGHT_ERROR after printing the error report.
int run_script_file(const char* path);
int run_script_text(const uint8_t* text, size_t length, const char* name);

// Whether the console engine was loaded with the library.
bool console_present();
// Hands the command line to system/console/launch: its exit status (0 after
// success), or EXIT_UNCAUGHT_ERROR after reporting what escaped it.
int run_console_launch();

// Start-up: lets `do` of a string use the lexer.
void script_runner_init();

}  // namespace tev

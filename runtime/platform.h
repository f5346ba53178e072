// The system wrappers the natives use (sleep, clock, date, environment, directory) and the command line.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace tev {

// ------------------------------------------------------------------ command line

// The runtime's one global record.
struct SystemRecord {
    int32_t args_count = 0;      // command-line arguments, program path included
    char** args_list = nullptr;  // UTF-8 arguments from sys_alloc, ended by nullptr
};
extern SystemRecord system_record;

// Fills system_record's argument table (UTF-8, program path first, ended by a
// null entry) from the OS. Called once by start-up.
void command_line_to_args(int argc, char** argv);

// ------------------------------------------------------------------ sleep

// Milliseconds for a sleep of `seconds`: truncated, and 1 for anything below
// one millisecond (so a wait always yields); NaN and negatives give 1, and
// the result is capped at 0xFFFFFFFE (a day count of weeks, never "forever").
uint32_t sleep_milliseconds(double seconds);
void sys_sleep(double seconds);

// ------------------------------------------------------------------ clock and date

// UTC time of day in seconds; with `precise`, including the fraction of the
// second to 100 ns.
double sys_time_of_day(bool precise);

// The date! zone field (7 bits): sign bit 0x40 (west of UTC), hours in bits
// 2-5, quarter hours in bits 0-1. From an offset in minutes east of UTC.
uint32_t pack_zone(int offset_minutes);
// The date! packed word: year << 17 | month << 12 | day << 7 | zone.
uint32_t pack_date(int year, int month, int day, uint32_t zone);
// Today, universal time (zone 0) or local time with the local zone.
uint32_t sys_current_date(bool utc);

// ------------------------------------------------------------------ environment and directory

// UTF-8 text throughout; nullopt when the variable or directory is unavailable.
std::optional<std::string> sys_get_env(const std::string& name);
bool sys_set_env(const std::string& name, const char* value);  // null value removes
std::optional<std::string> sys_get_current_dir();
bool sys_set_current_dir(const std::string& path);

}  // namespace tev

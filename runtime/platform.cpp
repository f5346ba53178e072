// The system wrappers: portable arithmetic around the OS layer's calls.
#include "runtime/platform.h"
#include <cmath>
#include <cstring>
#include <vector>
#include "os/os.h"
#include "runtime/console_output.h"
#include "runtime/sys_heap.h"

namespace tev {

// ------------------------------------------------------------------ command line

SystemRecord system_record;

void command_line_to_args(int argc, char** argv) {
    std::vector<std::string> args = os::command_line_args(argc, argv);
    if (args.empty()) sys_print_line({"CommandLineToArgvW failed!"});
    auto** table = static_cast<char**>(sys_alloc((args.size() + 1) * sizeof(char*)));
    for (size_t i = 0; i < args.size(); ++i) {
        table[i] = static_cast<char*>(sys_alloc(args[i].size() + 1));
        std::memcpy(table[i], args[i].c_str(), args[i].size() + 1);
    }
    table[args.size()] = nullptr;
    system_record.args_count = int32_t(args.size());
    system_record.args_list = table;
}

// ------------------------------------------------------------------ sleep

uint32_t sleep_milliseconds(double seconds) {
    double ms = seconds * 1000.0;
    if (!(ms >= 1.0)) return 1;  // also NaN
    if (ms >= 4294967294.0) return 0xFFFFFFFEu;
    return uint32_t(ms);
}

void sys_sleep(double seconds) { os::sleep_ms(sleep_milliseconds(seconds)); }

// ------------------------------------------------------------------ clock and date

double sys_time_of_day(bool precise) {
    os::WallClock now = os::wall_clock();
    int64_t day_seconds = now.seconds % 86400;
    if (day_seconds < 0) day_seconds += 86400;
    double t = double(day_seconds);
    if (precise) t += double(now.ticks_100ns) / 1e7;
    return t;
}

// Hours and quarters come from the offset's magnitude, the sign from the
// offset itself: an offset between -01:00 and 00:00 keeps its sign.
uint32_t pack_zone(int offset_minutes) {
    uint32_t magnitude = offset_minutes < 0 ? uint32_t(-int64_t(offset_minutes)) : uint32_t(offset_minutes);
    uint32_t hours = (magnitude / 60) & 0x0F;
    uint32_t quarters = (magnitude % 60) / 15;
    uint32_t zone = hours << 2 | quarters;
    if (offset_minutes < 0 && zone != 0) zone |= 0x40;
    return zone;
}

uint32_t pack_date(int year, int month, int day, uint32_t zone) {
    return uint32_t(year) << 17 | uint32_t(month & 0x0F) << 12 | uint32_t(day & 0x1F) << 7 | (zone & 0x7F);
}

uint32_t sys_current_date(bool utc) {
    os::CalendarDate d = os::calendar_date(utc);
    return pack_date(d.year, d.month, d.day, utc ? 0 : pack_zone(d.zone_minutes));
}

// ------------------------------------------------------------------ environment and directory

std::optional<std::string> sys_get_env(const std::string& name) { return os::get_env(name); }
bool sys_set_env(const std::string& name, const char* value) { return os::set_env(name, value); }
std::optional<std::string> sys_get_current_dir() { return os::current_dir(); }
bool sys_set_current_dir(const std::string& path) { return os::set_current_dir(path); }

}  // namespace tev

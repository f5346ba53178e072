// The system wrappers: sleep rounding, the packed date and zone, clock range, environment, directory.
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include "runtime/platform.h"
#include "startup/startup.h"

namespace tev {
namespace {

TEST(Platform, SleepIsWholeMillisecondsAndNeverZero) {
    struct Row { double seconds; uint32_t ms; };
    const Row rows[] = {
        {0.0004, 1}, {2.5, 2500}, {0.0, 1}, {-3.0, 1}, {0.0019, 1}, {0.002, 2},
        {std::numeric_limits<double>::quiet_NaN(), 1}, {1e12, 0xFFFFFFFEu},
        {std::numeric_limits<double>::infinity(), 0xFFFFFFFEu},
    };
    for (const Row& r : rows) EXPECT_EQ(sleep_milliseconds(r.seconds), r.ms) << r.seconds;
}

TEST(Platform, ZonePacksHoursQuartersAndSign) {
    struct Row { int minutes; uint32_t zone; };
    const Row rows[] = {
        {0, 0},
        {5 * 60 + 30, 5 << 2 | 2},          // +05:30: 5 hours, 2 quarters
        {-3 * 60, 0x40 | 3 << 2},           // -03:00: sign bit set
        {-(3 * 60 + 30), 0x40 | 3 << 2 | 2},
        {5 * 60 + 45, 5 << 2 | 3},          // +05:45
        {-30, 0x40 | 2},                    // -00:30 keeps its sign
        {14 * 60, 14 << 2},
    };
    for (const Row& r : rows) EXPECT_EQ(pack_zone(r.minutes), r.zone) << r.minutes;
}

TEST(Platform, DateFieldsSitInTheirBits) {
    uint32_t d = pack_date(2026, 12, 10, pack_zone(-3 * 60));
    EXPECT_EQ(d >> 17, 2026u);
    EXPECT_EQ((d >> 12) & 0xF, 12u);
    EXPECT_EQ((d >> 7) & 0x1F, 10u);
    EXPECT_EQ(d & 0x7F, 0x40u | 3 << 2);
    EXPECT_EQ(d & 0x10000, 0u);  // no time present
}

TEST(Platform, TodayInUtcHasNoZoneAndAPlausibleDate) {
    uint32_t d = sys_current_date(true);
    EXPECT_EQ(d & 0x7F, 0u);
    EXPECT_GE(d >> 17, 2024u);
    uint32_t month = (d >> 12) & 0xF, day = (d >> 7) & 0x1F;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
}

TEST(Platform, TimeOfDayIsWithinTheDay) {
    double t = sys_time_of_day(true);
    EXPECT_GE(t, 0.0);
    EXPECT_LT(t, 86400.0);
    EXPECT_EQ(sys_time_of_day(false), std::floor(sys_time_of_day(false)));
}

TEST(Platform, EnvironmentRoundTripsUtf8AndRemoves) {
    const char* value = "caf\xC3\xA9 \xE2\x82\xAC";
    ASSERT_TRUE(sys_set_env("TEV_PLATFORM_TEST", value));
    EXPECT_EQ(sys_get_env("TEV_PLATFORM_TEST"), std::optional<std::string>(value));
    ASSERT_TRUE(sys_set_env("TEV_PLATFORM_TEST", ""));
    EXPECT_EQ(sys_get_env("TEV_PLATFORM_TEST"), std::optional<std::string>(""));
    sys_set_env("TEV_PLATFORM_TEST", nullptr);
    EXPECT_EQ(sys_get_env("TEV_PLATFORM_TEST"), std::nullopt);
}

TEST(Platform, CurrentDirectoryChangesAndComesBack) {
    std::optional<std::string> start = sys_get_current_dir();
    ASSERT_TRUE(start.has_value());
    EXPECT_FALSE(sys_set_current_dir("no such directory, surely"));
    ASSERT_TRUE(sys_set_current_dir(".."));
    EXPECT_NE(sys_get_current_dir(), start);
    ASSERT_TRUE(sys_set_current_dir(*start));
    EXPECT_EQ(sys_get_current_dir(), start);
}

TEST(Platform, ArgumentTableEndsWithNull) {
    ASSERT_GE(system_record.args_count, 1);  // the program path
    EXPECT_NE(std::string(system_record.args_list[0]).find("tev_tests"), std::string::npos);
    EXPECT_EQ(system_record.args_list[system_record.args_count], nullptr);
    for (int i = 0; i < system_record.args_count; ++i) EXPECT_NE(system_record.args_list[i], nullptr);
}

}  // namespace
}  // namespace tev

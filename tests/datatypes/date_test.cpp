// date!: the current date from the OS clock, local and UTC, and the time between two dates.
#include <gtest/gtest.h>
#include <cstdlib>
#include <cstring>
#include "datatypes/date.h"
#include "os/os.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

TEST(Date, CurrentLocalAndUtcDenoteTheSameMoment) {
    StackScope scope;
    Cell local_date, utc_date;
    date_make_current(&local_date, false);
    date_make_current(&utc_date, true);
    const os::CalendarDate today = os::calendar_date(false);
    // The zone: none for UTC, the OS's offset (in whole quarter hours) for local time.
    Cell utc_zone = ActionCall({utc_date, I(5)}).run(Act::pick);
    Cell local_zone = ActionCall({local_date, I(5)}).run(Act::pick);
    EXPECT_EQ(float_of(utc_zone), 0.0);
    const int quarters = today.zone_minutes / 15;
    EXPECT_EQ(float_of(local_zone), quarters * 900.0);
    // The stored time is UTC counted from the local midnight: both give the same epoch seconds.
    EXPECT_LE(std::llabs(date_to_epoch(&local_date) - date_to_epoch(&utc_date)), 1);
    // The local calendar date is the OS's (unless midnight passed in between).
    if (int_of(ActionCall({local_date, I(4)}).run(Act::pick)) == today.day) {
        EXPECT_EQ(int_of(ActionCall({local_date, I(2)}).run(Act::pick)), today.year);
        EXPECT_EQ(int_of(ActionCall({local_date, I(3)}).run(Act::pick)), today.month);
    }
}


TEST(Date, DifferenceIsTheTimeBetweenTheMoments) {
    struct Row { const char* a; const char* b; double seconds; } rows[] = {
        {"2-Jan-2020/1:00", "1-Jan-2020/2:00", 23 * 3600.0},
        {"1-Jan-2020", "2-Jan-2020", -86400.0},
        {"1-Jan-2020/1:00+05:00", "31-Dec-2019/20:00", 0.0},
        {"1-Mar-2020", "28-Feb-2020", 2 * 86400.0},
    };
    for (const Row& r : rows) {
        Cell a = load_one(r.a), b = load_one(r.b);
        date_difference(&a, &b);
        EXPECT_EQ(type_of(a), T_TIME);
        EXPECT_EQ(float_of(a), r.seconds) << r.a << " - " << r.b;
    }
}

}  // namespace
}  // namespace tev

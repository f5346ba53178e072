// Path assignment into date!, pair!, point2D! and tuple! fields: what each setter leaves in the value, through the eval-path entries.
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <string>
#include "datatypes/word.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;


// Sets `field` (a word spelling, or a number) of the value loaded from `text`
// to the value loaded from `value`; the mold of the changed value.
std::string after_set(const char* text, const char* field, const char* value) {
    StackScope scope;
    Cell* parent = stack_push_copy(&(const Cell&)load_one(text));
    Cell* element = stack_push();
    *element = (field[0] >= '0' && field[0] <= '9') ? I(std::atoi(field)) : word_from_cstring(field);
    Cell* result = stack_push();
    // Loaded text is not evaluated: none and an infinite time are spelled out.
    Cell* set = std::strcmp(value, "none") == 0            ? stack_push_copy(&(const Cell&)N())
                : std::strcmp(value, "infinite time") == 0 ? stack_push_copy(&(const Cell&)T(HUGE_VAL))
                                                           : stack_push_copy(&(const Cell&)load_one(value));
    PathStep step{parent, element, set, nullptr, result, 1, true, false};
    action_of<Act::eval_path>(cell_type(parent))(step);
    return mold_of(*parent);
}

TEST(FieldSetters, DateFieldsRollOverThroughTheDayNumber) {
    struct Row { const char* date; const char* field; const char* value; const char* want; } rows[] = {
        {"31-Jan-2020", "month", "14", "3-Mar-2021"},
        {"31-Jan-2020", "month", "0", "31-Dec-2019"},
        {"15-Mar-2020", "month", "-1", "15-Nov-2019"},
        {"15-Mar-2020", "month", "25", "15-Jan-2022"},
        {"29-Feb-2020", "year", "2021", "1-Mar-2021"},
        {"31-Jan-2020", "day", "32", "1-Feb-2020"},
        {"31-Jan-2020", "day", "0", "31-Dec-2019"},
        {"1-Jan-2020", "weekday", "7", "5-Jan-2020"},
        {"1-Jan-2020", "yearday", "60", "29-Feb-2020"},
        {"1-Jan-2020", "julian", "366", "31-Dec-2020"},
        {"5-May-2022", "week", "2", "2-Jan-2022"},
        {"5-May-2022", "week", "1", "1-Jan-2022"},
        {"5-May-2021", "isoweek", "1", "4-Jan-2021"},
        {"5-May-2021", "isoweek", "53", "3-Jan-2022"},
        {"1-Jan-2020/10:00+02:00", "date", "5-May-2021", "5-May-2021"},
        {"1-Jan-2020/10:00+02:00", "date", "5-May-2021/1:00", "5-May-2021/10:00:00+02:00"},
        {"1-Jan-2020/10:00", "zone", "5", "1-Jan-2020/10:00:00+05:00"},
        {"1-Jan-2020/10:00", "zone", "-5:30", "1-Jan-2020/10:00:00-05:30"},
        {"1-Jan-2020/10:00", "zone", "-0:30", "1-Jan-2020/10:00:00-00:30"},
        {"1-Jan-2020/10:00", "timezone", "5", "1-Jan-2020/15:00:00+05:00"},
        {"1-Jan-2020/22:00", "timezone", "5", "2-Jan-2020/3:00:00+05:00"},
        {"1-Jan-2020", "zone", "21", "1-Jan-2020/0:00:00+05:00"},
        {"1-Jan-2020/10:00+02:00", "time", "none", "1-Jan-2020"},
        {"1-Jan-2020", "time", "25:00", "2-Jan-2020/1:00:00"},
        {"1-Jan-2020/1:00+05:00", "time", "-2:00", "31-Dec-2019/22:00:00+05:00"},
        {"1-Jan-2020/10:30+05:00", "hour", "23", "1-Jan-2020/23:30:00+05:00"},
        {"1-Jan-2020/10:00", "minute", "75", "1-Jan-2020/11:15:00"},
        {"1-Jan-2020/10:00", "second", "30.5", "1-Jan-2020/10:00:30.5"},
        {"1-Jan-2020", "hour", "1", "1-Jan-2020/1:00:00"},
        {"1-Jan-2020", "3", "2", "1-Feb-2020"},
    };
    for (const Row& r : rows) {
        std::string got;
        EXPECT_EQ(raised_by([&] { got = after_set(r.date, r.field, r.value); }), 0u) << r.date << "/" << r.field;
        EXPECT_EQ(got, r.want) << r.date << "/" << r.field;
    }
    // The integer field 3 is the month, the same as the word.
    EXPECT_EQ(after_set("31-Jan-2020", "3", "14"), "3-Mar-2021");
}

// Setting a week and reading it back gives the week set, over years that start on every weekday.
TEST(FieldSetters, WeeksReadBackAsSet) {
    for (int year = 2015; year <= 2028; ++year) {
        const std::string start = "15-Jun-" + std::to_string(year);
        const bool long_iso_year = year == 2015 || year == 2020 || year == 2026;
        for (int week = 1; week <= 53; ++week) {
            const std::string n = std::to_string(week);
            if (week <= 52 || long_iso_year) {
                std::string set = after_set(start.c_str(), "isoweek", n.c_str());
                EXPECT_EQ(int_of(ActionCall({load_one(set.c_str()), load_one("isoweek")}).run(Act::pick)), week) << set;
                EXPECT_EQ(int_of(ActionCall({load_one(set.c_str()), load_one("weekday")}).run(Act::pick)), 1) << set;
            }
            if (week <= 52) {
                std::string set = after_set(start.c_str(), "week", n.c_str());
                EXPECT_EQ(int_of(ActionCall({load_one(set.c_str()), load_one("week")}).run(Act::pick)), week) << set;
            }
        }
    }
}

TEST(FieldSetters, DateSettersRefuseWrongValuesAndYearsOutOfRange) {
    struct Row { const char* date; const char* field; const char* value; ErrCode want; } rows[] = {
        {"1-Jan-2020", "month", "\"x\"", err::script::invalid_arg},
        {"1-Jan-2020", "year", "1.5", err::script::invalid_arg},
        {"1-Jan-2020", "date", "1", err::script::invalid_arg},
        {"1-Jan-2020", "time", "1", err::script::invalid_arg},
        {"1-Jan-2020", "zone", "\"x\"", err::script::invalid_arg},
        {"1-Jan-2020", "zone", "infinite time", err::script::invalid_arg},
        {"1-Jan-2020", "foo", "1", err::script::invalid_path},
        {"1-Jan-2020", "15", "1", err::script::invalid_path},
        {"1-Jan-2020", "year", "16384", err::script::out_of_range},
        {"1-Jan-2020", "year", "-16385", err::script::out_of_range},
        {"1-Jan-2020", "day", "2147483647", err::script::out_of_range},
        {"1-Jan-2020", "month", "-2147483648", err::script::out_of_range},
    };
    for (const Row& r : rows)
        EXPECT_EQ(raised_by([&] { after_set(r.date, r.field, r.value); }), r.want.code) << r.date << "/" << r.field;
}

TEST(FieldSetters, PairPointAndTupleComponents) {
    struct Row { const char* value; const char* field; const char* set; const char* want; } rows[] = {
        {"1x2", "x", "5", "5x2"},
        {"1x2", "2", "-7", "1x-7"},
        {"(1, 2)", "y", "2.5", "(1, 2.5)"},
        {"(1, 2, 3)", "z", "7", "(1, 2, 7)"},
        {"1.2.3", "2", "300", "1.255.3"},
        {"1.2.3", "2", "-1", "1.0.3"},
        {"1.2.3.4.5", "4", "none", "1.2.3"},
        {"1.2.3.4", "1", "none", "0.0.0"},
        {"1.2.3.4.5", "5", "none", "1.2.3.4"},
    };
    for (const Row& r : rows) {
        std::string got;
        EXPECT_EQ(raised_by([&] { got = after_set(r.value, r.field, r.set); }), 0u) << r.value << "/" << r.field;
        EXPECT_EQ(got, r.want) << r.value << "/" << r.field;
    }
    // A truncated tuple equals its shorter spelling and keeps no stale bytes.
    Cell shorter = load_one("1.2.3");
    StackScope scope;
    Cell* a = stack_push_copy(&shorter);
    Cell* b = stack_push_copy(&(const Cell&)load_one("1.2.3.0"));
    EXPECT_EQ(action_of<Act::compare>(T_TUPLE)(a, b, CMP_EQUAL), 0);
    struct Bad { const char* value; const char* field; const char* set; ErrCode want; } bad[] = {
        {"1x2", "x", "\"s\"", err::script::invalid_type},
        {"1x2", "x", "1.5", err::script::invalid_type},
        {"(1, 2)", "x", "\"s\"", err::script::invalid_type},
        {"1x2", "z", "1", err::script::invalid_path},
        {"(1, 2)", "3", "1", err::script::invalid_path},
        {"1.2.3", "x", "1", err::script::invalid_type},
        {"1.2.3", "4", "1", err::script::out_of_range},
        {"1.2.3", "1", "\"s\"", err::script::invalid_type},
    };
    for (const Bad& r : bad)
        EXPECT_EQ(raised_by([&] { after_set(r.value, r.field, r.set); }), r.want.code) << r.value << "/" << r.field;
}

}  // namespace
}  // namespace tev

// Time and system natives: wait, now and browse.
#include <cmath>
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/string.h"
#include "interpreter/natives.h"
#include "os/shell_open.h"
#include "runtime/errors.h"
#include "runtime/platform.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

// ================================================================== wait

void native_wait(NativeCall& c) {
    double seconds;
    switch (cell_type(c.args)) {
    case T_INTEGER: seconds = get_integer(c.args); break;
    case T_FLOAT: case T_TIME: seconds = get_float(c.args); break;
    default: raise_error(err::script::invalid_arg, c.args);
    }
    set_none(c.args);
    // No time (negative, zero or NaN) is no sleep at all.
    if (seconds > 0) sys_sleep(seconds);
}

// ================================================================== now

enum NowRef { NOW_YEAR, NOW_MONTH, NOW_DAY, NOW_TIME, NOW_ZONE, NOW_DATE, NOW_WEEKDAY, NOW_YEARDAY, NOW_PRECISE, NOW_UTC };

void native_now(NativeCall& c) {
    int fields = 0;
    for (int r = NOW_YEAR; r <= NOW_PRECISE; ++r) fields += c.has(r);
    // One field at most; /precise qualifies /time and so may join it.
    if (fields > 1 && !(fields == 2 && c.has(NOW_TIME) && c.has(NOW_PRECISE))) raise_error(err::script::bad_refines);
    Cell date;
    date_make_current(&date, c.has(NOW_UTC), c.has(NOW_PRECISE));
    static const struct { int ref, field; } picks[] = {
        {NOW_YEAR, DATE_FIELD_YEAR}, {NOW_MONTH, DATE_FIELD_MONTH}, {NOW_DAY, DATE_FIELD_DAY},
        {NOW_ZONE, DATE_FIELD_ZONE}, {NOW_TIME, DATE_FIELD_TIME}, {NOW_DATE, DATE_FIELD_DATE},
        {NOW_WEEKDAY, DATE_FIELD_WEEKDAY}, {NOW_YEARDAY, DATE_FIELD_YEARDAY},
    };
    for (const auto& p : picks)
        if (c.has(p.ref)) {
            date_field(&date, p.field, c.args);
            return;
        }
    *c.args = date;
}

// ================================================================== browse

void native_browse(NativeCall& c) {
    std::string target;
    if (cell_is(c.args, T_FILE)) {
        Cell* local = string_push(string_length(c.args) + 8);
        file_to_local_path(c.args, local, false);
        target = string_to_utf8(local);
    } else {
        target = string_to_utf8(c.args);
    }
    if (!os::shell_open(target)) raise_error(err::access::cannot_open, c.args);
    set_unset(c.args);
}

}  // namespace

void natives_system_entries() {
    static const NativeEntry entries[] = {{"wait", native_wait}, {"now", native_now}, {"browse", native_browse}};
    add_native_entries(entries, int(sizeof entries / sizeof entries[0]));
}

}  // namespace tev

// date!: a local calendar date with an optional time and zone; every change goes through day numbers so any overflow of a field rolls into the next.
//
// Packed word: year << 17 (15 signed bits) | has-time << 16 | month << 12 |
// day << 7 | zone (sign 0x40, hours << 2, quarter hours). The double in words
// 2-3 is the stored time: the local time minus the zone offset, counted from
// the local date's midnight, so day number x 86400 + stored time is the moment
// in UTC whatever the zone.
#include <cmath>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/scalar.h"
#include "datatypes/word.h"
#include "interpreter/random.h"
#include "os/os.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr const char* MONTH_NAMES[12] = {"January", "February", "March", "April", "May", "June", "July",
                                         "August", "September", "October", "November", "December"};

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// The parts of a date cell, unpacked.
struct DateParts {
    int32_t year, month, day;
    bool has_time;
    uint32_t zone;   // the 7-bit field
    double time;     // stored time
};

DateParts unpack(const Cell* c) {
    DateParts p;
    p.year = int32_t(c->w1) >> 17;
    p.has_time = (c->w1 & DATE_HAS_TIME) != 0;
    p.month = int32_t((c->w1 >> 12) & 0xF);
    p.day = int32_t((c->w1 >> 7) & 0x1F);
    p.zone = c->w1 & 0x7F;
    p.time = get_float(c);
    return p;
}

double zone_offset(uint32_t zone) {
    double s = double((zone >> 2) & 0xF) * 3600.0 + double(zone & 3) * 900.0;
    return (zone & 0x40) ? -s : s;
}

// The zone field of signed hours and the minutes of their magnitude.
uint32_t zone_field(int32_t hours, int32_t minutes) {
    uint32_t magnitude = uint32_t(hours < 0 ? -int64_t(hours) : hours);
    uint32_t field = ((magnitude * 4) | ((uint32_t(minutes) / 15) & 3)) & 0x7F;
    if (hours < 0) field |= 0x40;
    return field & 0x7F;
}

// The zone field of an offset in minutes east of UTC (-0:30 keeps its sign).
uint32_t zone_field_of_minutes(int32_t total) {
    uint32_t magnitude = uint32_t(total < 0 ? -int64_t(total) : total);
    uint32_t field = (((magnitude / 60) * 4) | ((magnitude % 60) / 15 & 3)) & 0x3F;
    return total < 0 ? field | 0x40 : field;
}

// Signed hours and the minutes of their magnitude; with 0 hours the minutes carry the sign.
uint32_t zone_of_parts(int32_t hours, int32_t minutes) {
    return hours == 0 && minutes < 0 ? zone_field_of_minutes(minutes) : zone_field(hours, minutes);
}

int64_t day_number(int64_t y, int64_t m, int64_t d) {
    int64_t mm = (m + 9) % 12;
    int64_t yy = y - mm / 10;
    return 365 * yy + floor_div(yy, 4) - floor_div(yy, 100) + floor_div(yy, 400) + (306 * mm + 5) / 10 + d - 1;
}

int64_t year_days_before(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

[[noreturn]] void raise_year_range(int64_t year) {
    raise_error_int(err::script::out_of_range, year);
}

// Day numbers that keep the year within the packed range.
constexpr int64_t DAY_NUMBER_LIMIT = int64_t(DATE_YEAR_MAX + 2) * 366;

void pack(Cell* c, int64_t year, int64_t month, int64_t day, bool has_time, uint32_t zone, double time) {
    if (year < DATE_YEAR_MIN || year > DATE_YEAR_MAX) raise_year_range(year);
    cell_init(c, T_DATE);
    c->w1 = (uint32_t(int32_t(year)) << 17) | (has_time ? DATE_HAS_TIME : 0) | (uint32_t(month) << 12) |
            (uint32_t(day) << 7) | (zone & 0x7F);
    put_float(c, has_time ? time : 0.0);
}

void pack_day_number(Cell* c, int64_t n, bool has_time, uint32_t zone, double time) {
    if (n < -DAY_NUMBER_LIMIT || n > DAY_NUMBER_LIMIT) raise_year_range(n < 0 ? DATE_YEAR_MIN - 1 : DATE_YEAR_MAX + 1);
    int64_t y = int64_t(std::trunc((10000.0 * double(n) + 14780.0) / 3652425.0));
    int64_t r = n - year_days_before(y);
    if (r < 0) {
        --y;
        r = n - year_days_before(y);
    }
    int64_t mi = (100 * r + 52) / 3060;
    int64_t month = (mi + 2) % 12 + 1;
    int64_t year = y + (mi + 2) / 12;
    int64_t day = r - (306 * mi + 5) / 10 + 1;
    pack(c, year, month, day, has_time, zone, time);
}

int64_t day_number_of(const DateParts& p) { return day_number(p.year, p.month, p.day); }

// Moves whole days between the time and the day number so that the local time
// lies in 0 <= local < 86400.
void normalize(int64_t* n, double* time, uint32_t zone) {
    if (!std::isfinite(*time) || std::fabs(*time) > 1e15) raise_error(err::math::overflow);
    double z = zone_offset(zone) / 3600.0;
    double k = std::trunc((*time / 3600.0 + z) / 24.0);
    *n += int64_t(k);
    *time -= k * 86400.0;
    if (z * 3600.0 + *time < 0) {
        *n -= 1;
        *time += 86400.0;
    }
}

void store(Cell* c, int64_t n, bool has_time, uint32_t zone, double time) {
    if (has_time) normalize(&n, &time, zone);
    pack_day_number(c, n, has_time, zone, time);
}

int weekday_of(int64_t n) { return int(floor_mod(n + 2, 7)) + 1; }
int64_t year_start(int64_t year) { return day_number(year, 1, 1); }

int64_t iso_week_one(int64_t year) {
    int64_t j = year_start(year);
    int w = weekday_of(j);
    return w < 5 ? j + 1 - w : j + 8 - w;
}

int32_t iso_week(const DateParts& p) {
    int64_t d = day_number_of(p), s = iso_week_one(p.year);
    if (d >= s) {
        int64_t t = iso_week_one(p.year + 1);
        return d < t ? int32_t((d - s) / 7 + 1) : 1;
    }
    int w = weekday_of(year_start(p.year));
    if (w == 5) return 53;
    if (w == 6) return date_leap_year_q(p.year - 1) ? 53 : 52;
    return w == 7 ? 52 : 1;
}

int32_t sunday_week(const DateParts& p) {
    int64_t ys = year_start(p.year);
    int64_t w = floor_mod(ys + 3, 7);
    int64_t yday = day_number_of(p) - ys + 1;
    return yday <= 7 - w ? 1 : int32_t((yday + w - 1) / 7 + 1);
}

}  // namespace

bool date_leap_year_q(int32_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

Cell* date_make_cell(Cell* c, int32_t year, int32_t month, int32_t day, double time, int32_t zone_hours,
                     int32_t zone_minutes, bool has_time) {
    uint32_t zone = zone_of_parts(zone_hours, zone_minutes);
    pack(c, year, month, day, has_time, zone, has_time ? time - zone_offset(zone) : 0.0);
    return c;
}

Cell* date_push(uint32_t packed, double time) {
    Cell* c = stack_push();
    cell_init(c, T_DATE);
    c->w1 = packed;
    put_float(c, (packed & DATE_HAS_TIME) ? time : 0.0);
    return c;
}

void date_make_in(Cell* block, uint32_t packed, double time) {
    Cell date;
    cell_init(&date, T_DATE);
    date.w1 = packed;
    put_float(&date, (packed & DATE_HAS_TIME) ? time : 0.0);
    block_append(block, &date);
}

Cell* date_make_cell_hms(Cell* c, int32_t year, int32_t month, int32_t day, int32_t h, int32_t m, int32_t s,
                         int32_t nanoseconds) {
    pack(c, year, month, day, true, 0, 3600.0 * h + 60.0 * m + s + 1e-9 * nanoseconds);
    return c;
}

Cell* date_make_current(Cell* c, bool utc, bool precise) {
    const os::WallClock clock = os::wall_clock();
    const uint32_t zone = utc ? 0 : zone_field_of_minutes(os::calendar_date(false).zone_minutes);
    const int64_t local = clock.seconds + int64_t(zone_offset(zone));
    const double local_time = double(floor_mod(local, 86400)) + (precise ? clock.ticks_100ns * 1e-7 : 0.0);
    pack_day_number(c, day_number(1970, 1, 1) + floor_div(local, 86400), true, zone, local_time - zone_offset(zone));
    return c;
}

void date_set_iso_week(Cell* date, int32_t week) {
    DateParts p = unpack(date);
    store(date, iso_week_one(p.year) + 7 * (int64_t(week) - 1), p.has_time, p.zone, p.time);
}

void date_set_weekday(Cell* date, int32_t weekday) {
    DateParts p = unpack(date);
    int64_t n = day_number_of(p);
    store(date, n + weekday - weekday_of(n), p.has_time, p.zone, p.time);
}

void date_set_year_day(Cell* date, int32_t day) {
    DateParts p = unpack(date);
    store(date, year_start(p.year) + day - 1, p.has_time, p.zone, p.time);
}

void date_difference(Cell* a, const Cell* b) {
    DateParts p = unpack(a), q = unpack(b);
    set_float(a, double(day_number_of(p) - day_number_of(q)) * 86400.0 + (p.time - q.time), T_TIME);
}

int64_t date_to_epoch(const Cell* date) {
    DateParts p = unpack(date);
    return (day_number_of(p) - day_number(1970, 1, 1)) * 86400 + int64_t(std::trunc(p.time + 0.5));
}

void date_do_math(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    DateParts p = unpack(left);
    int64_t n = day_number_of(p);
    double time = p.time;
    bool has_time = p.has_time;
    switch (cell_type(right)) {
        case T_INTEGER: n += op == OP_ADD ? get_integer(right) : -int64_t(get_integer(right)); break;
        case T_TIME:
            time += op == OP_ADD ? get_float(right) : -get_float(right);
            has_time = true;
            break;
        case T_DATE: {
            if (op == OP_ADD) {
                StackScope scope;
                Cell* word = stack_push();
                *word = word_from_cstring("add");
                Cell* type = stack_push();
                set_datatype(type, T_DATE);
                raise_error(err::script::not_related, word, type);
            }
            DateParts q = unpack(right);
            double seconds = double(n - day_number_of(q)) * 86400.0 + (time - q.time);
            double days = std::floor(seconds / 86400.0);
            if (integer_out_of_range_q(days)) raise_error(err::math::overflow);
            set_integer(left, int32_t(days));
            return;
        }
        default: raise_error_type(err::script::invalid_type, cell_type(right));
    }
    store(left, n, has_time, p.zone, time);
}

namespace {

// ------------------------------------------------------------ make and to

// The block constructor; `checked` refuses values that had to roll over.
void date_from_block(const Cell* spec, Cell* result, bool checked) {
    uint32_t count = block_length(spec);
    if (count < 3) raise_error_type(err::script::bad_to_arg, T_DATE, spec);
    int state = 0;
    int64_t first = 0, month = 0, third = 0, hour = 0, minute = 0, zone_h = 0, zone_m = 0;
    double seconds = 0, time = 0;
    bool hour_given = false;
    for (uint32_t i = 0; i < count; ++i) {
        const Cell* v = block_at(spec, i);
        const TypeId t = cell_type(v);
        const bool is_int = t == T_INTEGER, is_time = t == T_TIME, is_float = t == T_FLOAT;
        int64_t n = is_int ? get_integer(v) : 0;
        int next = -1;
        switch (state) {
            case 0: if (is_int) { first = n; next = 1; } break;
            case 1: if (is_int) { month = n; next = 2; } break;
            case 2: if (is_int) { third = n; next = 3; } break;
            case 3:
                if (is_int) { hour = n; hour_given = true; next = 8; }
                else if (is_time) { time = get_float(v); next = 4; }
                break;
            case 4: case 10:
                if (is_int) { zone_h = n; next = state == 4 ? 6 : 12; }
                else if (is_time) {
                    double z = get_float(v);
                    if (!(std::fabs(z) < 86400.0)) raise_error_type(err::script::bad_to_arg, T_DATE, spec);  // NaN too
                    zone_h = int64_t(std::trunc(z / 3600.0));
                    zone_m = int64_t(std::fabs(std::fmod(z, 3600.0)) / 60.0);
                    if (zone_h == 0 && z < 0) zone_m = -zone_m;
                    next = state == 4 ? 5 : 11;
                }
                break;
            case 6: case 12: if (is_int) { zone_m = n; next = state + 1; } break;
            case 8: if (is_int) { minute = n; next = 9; } break;
            case 9:
                if (is_int) { seconds = double(n); next = 10; }
                else if (is_float) { seconds = get_float(v); next = 10; }
                break;
            default: break;
        }
        if (next < 0) raise_error_type(err::script::bad_to_arg, T_DATE, spec);
        state = next;
    }
    int64_t day = first, year = third;
    if (first >= 100 && first > third) { year = first; day = third; }
    if (hour_given) time = 3600.0 * double(hour) + 60.0 * double(minute) + seconds;
    if (!std::isfinite(time) || std::fabs(time) > 1e12 || std::llabs(year) > 100000 || std::llabs(month) > 1200000 ||
        std::llabs(day) > 100000000)
        raise_error_type(err::script::bad_to_arg, T_DATE, spec);
    // Year, then the month as the month setter takes it, then the day from day 0 of the month.
    int64_t y = year + floor_div(month - 1, 12);
    int64_t m = floor_mod(month - 1, 12) + 1;
    int64_t n = day_number(y, m, 1) - 1 + day;
    bool has_time = count > 3;
    double t = time;
    if (has_time) {
        int64_t k = int64_t(std::floor(t / 86400.0));
        n += k;
        t -= double(k) * 86400.0;
    }
    pack_day_number(result, n, has_time, 0, t);
    if (checked) {
        DateParts p = unpack(result);
        bool ok = p.year == year && p.month == month && p.day == day;
        if (ok && has_time) {
            if (time != 0) ok = time >= 0 && time < 86400.0 && (!hour_given || (minute >= 0 && minute < 60));
            else ok = hour >= 0 && hour < 24 && minute >= 0 && minute < 60;
        }
        if (!ok) raise_error_type(err::script::bad_to_arg, T_DATE, spec);
    }
    if (zone_h || zone_m) {
        if (std::llabs(zone_h) > 15 || zone_m >= 60 || (zone_m < 0 && (zone_h != 0 || zone_m <= -60)))
            raise_error_type(err::script::bad_to_arg, T_DATE, spec);
        DateParts p = unpack(result);
        uint32_t zone = zone_of_parts(int32_t(zone_h), int32_t(zone_m));
        store(result, day_number_of(p), p.has_time, zone, p.time - zone_offset(zone));
    }
}

void date_make_to(ActionFrame& f, bool make) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    switch (cell_type(spec)) {
        case T_DATE: *result = *spec; return;
        case T_INTEGER:
            if (!make) {
                int64_t s = get_integer(spec);
                store(result, day_number(1970, 1, 1) + s / 86400, true, 0, double(s % 86400));
                return;
            }
            break;
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            StackScope scope;
            Cell* spec_copy = stack_push_copy(spec);
            date_from_block(spec_copy, result, make);
            return;
        }
        default: break;
    }
    raise_error_type(err::script::bad_to_arg, T_DATE, spec);
}
void date_make(ActionFrame& f) { date_make_to(f, true); }
void date_to(ActionFrame& f) { date_make_to(f, false); }

void date_random(ActionFrame& f) {
    Cell* v = f.args;
    DateParts p = unpack(v);
    if (f.has(RANDOM_SEED)) {
        double t = std::trunc(p.time);
        mt_seed(int32_t(v->w1 + uint32_t(integer_out_of_range_q(t) ? 0 : int32_t(t))));
        set_unset(v);
        return;
    }
    const bool secure = f.has(RANDOM_SECURE);
    int64_t n = day_number_of(p);
    int64_t r = n > 0 ? random_int_range(secure, int32_t(n > INT32_MAX ? INT32_MAX : n)) - 1 : 0;
    if (!p.has_time) {
        store(v, r, false, p.zone, 0);
        return;
    }
    uint32_t zone = uint32_t(random_int_range(secure, 128) - 1) & 0x7F;
    double local = std::floor(double(random_int_range(secure, INT32_MAX)) / 2147483647.0 * 3600.0) * 24.0;
    if (local >= 86400.0) local = 0;
    store(v, r, true, zone, local - zone_offset(zone));
}

// ------------------------------------------------------------ text

int32_t date_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    DateParts p = unpack(value);
    char text[48];
    size_t n = 0;
    const char separator = p.year < 0 ? '/' : '-';
    n += integer_to_text(p.day, text + n);
    text[n++] = separator;
    const char* month = p.month >= 1 && p.month <= 12 ? MONTH_NAMES[p.month - 1] : "???";
    std::memcpy(text + n, month, 3);
    n += 3;
    text[n++] = separator;
    int32_t year = p.year;
    if (year < 0) { text[n++] = '-'; year = -year; }
    if (year < 100) {  // below 100 padded to four digits: 0005, 0099
        text[n++] = '0';
        text[n++] = '0';
        if (year < 10) text[n++] = '0';
    }
    n += integer_to_text(year, text + n);
    limit = append_ascii_limit(out, text, n, limit);
    if (!p.has_time) return limit;
    limit = append_ascii_limit(out, "/", 1, limit);
    limit = time_append_hms(p.time + zone_offset(p.zone), out, limit);
    if (!p.zone) return limit;
    const uint32_t hours = (p.zone >> 2) & 0xF, minutes = (p.zone & 3) * 15;
    char zone_text[8] = {(p.zone & 0x40) ? '-' : '+', char('0' + hours / 10), char('0' + hours % 10), ':',
                         char('0' + minutes / 10), char('0' + minutes % 10), 0, 0};
    return append_ascii_limit(out, zone_text, 6, limit);
}
int32_t date_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return date_form(value, out, arg, limit);
}

// ------------------------------------------------------------ comparison

// Dates compare by the moment they denote, whatever their zones.
int date_compare(const Cell* a, const Cell* b, int op) {
    if (!cell_is(b, T_DATE)) return CMP_NOT_COMPARABLE;
    // Strictly (and as a key) the same date written the same way: same zone, same time bits.
    if (op == CMP_SAME || op == CMP_STRICT_EQUAL || op == CMP_FIND)
        return (a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3) ? 0 : 1;
    DateParts p = unpack(a), q = unpack(b);
    double days = double(day_number_of(p) - day_number_of(q)) * 86400.0;
    double left = days + p.time, right = q.time;
    if (float_almost_equal_q(left, right)) return 0;
    if (op == CMP_EQUAL || op == CMP_NOT_EQUAL || op == CMP_STRICT_EQUAL || op == CMP_FIND) return 1;
    return left < right ? -1 : 1;
}

// ------------------------------------------------------------ fields

enum Field {
    F_DATE = 1, F_YEAR, F_MONTH, F_DAY, F_ZONE, F_TIME, F_HOUR, F_MINUTE, F_SECOND, F_WEEKDAY, F_YEARDAY,
    F_TIMEZONE, F_WEEK, F_ISOWEEK
};

int field_of(const Cell* element) {
    if (cell_is(element, T_INTEGER)) {
        int32_t n = get_integer(element);
        return n >= 1 && n <= 14 ? n : 0;
    }
    if (!type_is_word(cell_type(element))) return 0;
    static const char* const names[] = {"date", "year", "month", "day", "zone", "time", "hour", "minute",
                                        "second", "weekday", "yearday", "timezone", "week", "isoweek", "julian"};
    static int32_t symbols[15];
    if (!symbols[0])
        for (int i = 0; i < 15; ++i) symbols[i] = symbol_resolve_alias(symbol_from_cstring(names[i]));
    int32_t symbol = symbol_resolve_alias(int32_t(element->w2));
    for (int i = 0; i < 15; ++i)
        if (symbols[i] == symbol) return i == 14 ? F_YEARDAY : i + 1;
    return 0;
}

void field_value(const Cell* date, int field, Cell* out) {
    DateParts p = unpack(date);
    const double local = p.time + zone_offset(p.zone);
    switch (field) {
        case F_DATE: pack(out, p.year, p.month, p.day, false, 0, 0); return;
        case F_YEAR: set_integer(out, p.year); return;
        case F_MONTH: set_integer(out, p.month); return;
        case F_DAY: set_integer(out, p.day); return;
        case F_ZONE:
        case F_TIMEZONE:
            if (!p.has_time) set_none(out);
            else set_float(out, zone_offset(p.zone), T_TIME);
            return;
        case F_TIME:
            if (!p.has_time) set_none(out);
            else set_float(out, local, T_TIME);
            return;
        case F_HOUR: set_integer(out, int32_t(std::trunc(local / 3600.0))); return;
        case F_MINUTE: set_integer(out, int32_t(std::fmod(std::fabs(local), 3600.0) / 60.0)); return;
        case F_SECOND: set_float(out, std::fmod(local, 60.0)); return;
        case F_WEEKDAY: set_integer(out, weekday_of(day_number_of(p))); return;
        case F_YEARDAY: set_integer(out, int32_t(day_number_of(p) - year_start(p.year) + 1)); return;
        case F_WEEK: set_integer(out, sunday_week(p)); return;
        default: set_integer(out, iso_week(p)); return;
    }
}

int32_t integer_arg(const Cell* value) {
    if (!cell_is(value, T_INTEGER)) raise_error(err::script::invalid_arg, value);
    return get_integer(value);
}

// A zone from an integer (hours) or a time!; the field and nothing else.
uint32_t zone_of_value(const Cell* value) {
    if (cell_is(value, T_INTEGER)) return zone_field(get_integer(value) % 16, 0);
    if (!cell_is(value, T_TIME) || !std::isfinite(get_float(value))) raise_error(err::script::invalid_arg, value);
    double t = std::fmod(get_float(value), 86400.0);
    return zone_field_of_minutes(int32_t(std::trunc(t / 60.0)));
}

void set_field(Cell* date, int field, const Cell* value) {
    DateParts p = unpack(date);
    int64_t n = day_number_of(p);
    double local = p.time + zone_offset(p.zone);
    switch (field) {
        case F_DATE: {
            if (!cell_is(value, T_DATE)) raise_error(err::script::invalid_arg, value);
            DateParts q = unpack(value);
            store(date, day_number_of(q), q.has_time, p.zone, q.has_time ? p.time : 0.0);
            return;
        }
        case F_YEAR:
            store(date, day_number(integer_arg(value), p.month, p.day), p.has_time, p.zone, p.time);
            return;
        case F_MONTH: {
            int64_t m = integer_arg(value);
            store(date, day_number(p.year + floor_div(m - 1, 12), floor_mod(m - 1, 12) + 1, p.day), p.has_time,
                  p.zone, p.time);
            return;
        }
        case F_DAY: store(date, day_number(p.year, p.month, 1) - 1 + integer_arg(value), p.has_time, p.zone, p.time); return;
        case F_ZONE:
        case F_TIMEZONE: {
            uint32_t zone = zone_of_value(value);
            double stored = field == F_ZONE ? local - zone_offset(zone) : p.time;
            store(date, n, true, zone, stored);
            return;
        }
        case F_TIME:
            if (cell_is(value, T_NONE)) { store(date, n, false, p.zone, 0); return; }
            if (!cell_is(value, T_TIME)) raise_error(err::script::invalid_arg, value);
            store(date, n, true, p.zone, get_float(value) - zone_offset(p.zone));
            return;
        case F_HOUR:
        case F_MINUTE:
        case F_SECOND: {
            // The local time's parts; the one named is replaced.
            double h = std::floor(local / 3600.0), m = std::floor(std::fmod(local, 3600.0) / 60.0);
            double s = std::fmod(local, 60.0);
            if (field == F_SECOND) {
                if (cell_is(value, T_INTEGER)) s = get_integer(value);
                else if (cell_is(value, T_FLOAT)) s = get_float(value);
                else raise_error(err::script::invalid_arg, value);
            } else if (field == F_HOUR) h = integer_arg(value);
            else m = integer_arg(value);
            store(date, n, true, p.zone, h * 3600.0 + m * 60.0 + s - zone_offset(p.zone));
            return;
        }
        case F_WEEKDAY: date_set_weekday(date, integer_arg(value)); return;
        case F_YEARDAY: date_set_year_day(date, integer_arg(value)); return;
        case F_WEEK: {
            int32_t week = integer_arg(value);
            int64_t ys = year_start(p.year);
            int64_t target = week <= 1 ? ys : ys + 7 * (int64_t(week) - 2) + 7 - floor_mod(ys + 3, 7);
            store(date, target, p.has_time, p.zone, p.time);
            return;
        }
        default: date_set_iso_week(date, integer_arg(value)); return;
    }
}

void date_eval_path(PathStep& step) {
    int field = field_of(step.element);
    if (!field) {
        Cell none;
        set_none(&none);
        raise_error(err::script::invalid_path, step.path ? step.path : &none, step.element);
    }
    if (!step.set) {
        field_value(step.parent, field, step.result);
        return;
    }
    set_field(step.parent, field, step.set);
    *step.result = *step.set;
}

void date_pick(ActionFrame& f) {
    int field = field_of(f.args + 1);
    if (!field) raise_error(err::script::out_of_range, f.args + 1);
    field_value(f.args, field, f.args);
}

void date_add(ActionFrame& f) { date_do_math(f, OP_ADD); }
void date_subtract(ActionFrame& f) { date_do_math(f, OP_SUB); }

}  // namespace

void date_field(const Cell* date, int field, Cell* out) { field_value(date, field, out); }

void date_init() {
    register_datatype(T_DATE, T_NONE_ID, "date!",
        date_make, date_random, nullptr, date_to, date_form, date_mold, date_eval_path, nullptr,
        date_compare, nullptr, date_add, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, date_subtract, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr,
        // series actions: only pick
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, date_pick, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

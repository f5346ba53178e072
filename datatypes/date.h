// date!: a packed calendar date with an optional time and zone; the entries the lexer, Tevbin, the OS layer and other scalars use.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// Packed word: year << 17 | has-time << 16 | month << 12 | day << 7 | zone.
constexpr uint32_t DATE_HAS_TIME = 0x10000;
constexpr int32_t DATE_YEAR_MIN = -16384, DATE_YEAR_MAX = 16383;
// Writes a date; the zone given as signed hours and the minutes of their
// magnitude (negative minutes with 0 hours: west of UTC, as -00:30). Years
// outside the packed range raise out-of-range.
Cell* date_make_cell(Cell* c, int32_t year, int32_t month, int32_t day, double time,
                     int32_t zone_hours, int32_t zone_minutes, bool has_time);
Cell* date_push(uint32_t packed, double time);
void date_make_in(Cell* block, uint32_t packed, double time);
Cell* date_make_cell_hms(Cell* c, int32_t year, int32_t month, int32_t day, int32_t h, int32_t m,
                         int32_t s, int32_t nanoseconds);
// Now, from the OS clock: local time with the local zone, or UTC with zone 0;
// without `precise` the time holds whole seconds.
Cell* date_make_current(Cell* c, bool utc, bool precise = true);
// One field of a date by its index (as the date's path names them): 1 date,
// 2 year, 3 month, 4 day, 5 zone, 6 time, 10 weekday, 11 yearday.
constexpr int DATE_FIELD_DATE = 1, DATE_FIELD_YEAR = 2, DATE_FIELD_MONTH = 3, DATE_FIELD_DAY = 4,
              DATE_FIELD_ZONE = 5, DATE_FIELD_TIME = 6, DATE_FIELD_WEEKDAY = 10, DATE_FIELD_YEARDAY = 11;
void date_field(const Cell* date, int field, Cell* out);
void date_set_iso_week(Cell* date, int32_t week);
void date_set_weekday(Cell* date, int32_t weekday);
void date_set_year_day(Cell* date, int32_t day);
int64_t date_to_epoch(const Cell* date);
// a becomes the time! from b to a (the difference native).
void date_difference(Cell* a, const Cell* b);
bool date_leap_year_q(int32_t year);
// The operand in args[1]; the date in args[0] (op: OP_ADD or OP_SUB).
void date_do_math(ActionFrame& f, int op);

}  // namespace tev

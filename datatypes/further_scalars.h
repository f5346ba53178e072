// Constructors and arithmetic entries of pair!, point2D!, point3D!, tuple!, percent!, date! and money! that the lexer, other scalars and the OS layer use.
#pragma once
#include <cstdint>
#include <cstring>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

// ------------------------------------------------------------ pair! and points

// pair!: x in word 2, y in word 3. Points: 32-bit floats in words 1, 2 (and 3).
Cell* pair_make_cell(Cell* c, int32_t x, int32_t y);
Cell* pair_push(int32_t x, int32_t y);
// Append at the tail of a rooted block (the Tevbin decoder's constructors).
void pair_make_in(Cell* block, int32_t x, int32_t y);
Cell* point2d_make_cell(Cell* c, double x, double y);
Cell* point2d_push(double x, double y);
Cell* point3d_make_cell(Cell* c, double x, double y, double z);
Cell* point3d_push(double x, double y, double z);
inline int32_t pair_x(const Cell* c) { return int32_t(c->w2); }
inline int32_t pair_y(const Cell* c) { return int32_t(c->w3); }
inline void pair_set_x(Cell* c, int32_t x) { c->w2 = uint32_t(x); }
inline void pair_set_y(Cell* c, int32_t y) { c->w3 = uint32_t(y); }
// i: 0 x, 1 y, 2 z; each a 32-bit float in payload word i + 1.
inline float point_coord(const Cell* c, int i) {
    float f;
    std::memcpy(&f, cell_payload(c) + 4 * i, 4);
    return f;
}
inline void point_put_coord(Cell* c, int i, float f) { std::memcpy(cell_payload(c) + 4 * i, &f, 4); }
// The bits as stored, never passed through a float register (which may quiet a NaN).
inline uint32_t point_coord_bits(const Cell* c, int i) {
    uint32_t bits;
    std::memcpy(&bits, cell_payload(c) + 4 * i, 4);
    return bits;
}
inline void point_put_coord_bits(Cell* c, int i, uint32_t bits) { std::memcpy(cell_payload(c) + 4 * i, &bits, 4); }

// triple!: three signed 32-bit parts, in payload words 1-3.
inline int32_t triple_part(const Cell* c, int i) { return int32_t(i == 0 ? c->w1 : i == 1 ? c->w2 : c->w3); }

// The arithmetic engines: the value of the type in args[0], the operand in args[1].
void pair_do_math(ActionFrame& f, int op);
void point2d_do_math(ActionFrame& f, int op);
void point3d_do_math(ActionFrame& f, int op);

// ------------------------------------------------------------ tuple! and percent!

constexpr int TUPLE_MAX = 12;
int tuple_count(const Cell* c);
// Writes a tuple of `count` (3..12) components.
Cell* tuple_make_cell(Cell* c, int count, const uint8_t* bytes);
void tuple_bytes(const Cell* c, uint8_t out[TUPLE_MAX]);
void tuple_do_math(ActionFrame& f, int op);
bool tuple_is_zero(const Cell* c);
// max(count, 3) components, the low byte of each value (image pixels).
Cell* tuple_from_components(Cell* c, int count, const uint32_t* values);
// Three colour components, and alpha unless it is -1.
Cell* tuple_from_colour(Cell* c, int r, int g, int b, int alpha);
void percent_make_in(Cell* block, uint32_t high, uint32_t low);
inline Cell* percent_make_cell(Cell* c, double d) { set_float(c, d, T_PERCENT); return c; }

// ------------------------------------------------------------ date!

// Packed word: year << 17 | has-time << 16 | month << 12 | day << 7 | zone.
constexpr uint32_t DATE_HAS_TIME = 0x10000;
constexpr int32_t DATE_YEAR_MIN = -16384, DATE_YEAR_MAX = 16383;
// The packed word is word 1; the time (a double, as time! holds it) words 2-3.
inline uint32_t date_packed(const Cell* c) { return c->w1; }
inline void date_set_packed(Cell* c, uint32_t packed) { c->w1 = packed; }
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

// ------------------------------------------------------------ money!

// Writes a money value from its digit texts (integer digits may hold "'");
// false when the currency is not known or the amount does not fit.
bool money_make_from_digits(Cell* c, bool negative, const uint8_t* currency, const uint8_t* int_digits,
                            const uint8_t* int_end, const uint8_t* frac_digits, const uint8_t* frac_end);
// Position (1-based) of a currency code among the known ones, or -1.
int money_currency_index_of(const uint8_t* code, uint32_t length);
// From the stored form: 11 bytes of 22 BCD digits, most significant first;
// false when a nibble is not a decimal digit.
bool money_make_cell_raw(Cell* c, bool negative, uint8_t currency, const uint8_t digits[11]);
Cell* money_from_integer(Cell* c, int32_t n);
Cell* money_from_float(Cell* c, double x);  // raises bad-make-arg out of range
// Sets the currency (an index of money_currency_index_of, or 0 for none).
void money_set_currency(Cell* c, int index);
int32_t money_to_integer(const Cell* c);
double money_to_float(const Cell* c);
void money_do_math(ActionFrame& f, int op);
int money_sign_of(const Cell* c);  // -1, 0, 1

// integer!, float!, percent! and time! on the left of one of the types above:
// computes the scalar op the element (or refuses as the type does). False
// when the right operand is none of these types.
bool further_scalar_math(ActionFrame& f, int op);

}  // namespace tev

// money!: an optional currency and 22 BCD digits; the entries the lexer, Tevbin and other scalars use.
#pragma once
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace tev {

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

}  // namespace tev

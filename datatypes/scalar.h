// Shared entries of the scalar datatypes (integer!, float!, time!, char!, logic!...) used by other units.
#pragma once
#include <cstddef>
#include <cstdint>
#include "datatypes/registry.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace tev {

// Refinement positions (ActionFrame::refs) of the actions these types answer,
// in the order of the actions' specs.
enum RandomRefinement { RANDOM_SEED = 0, RANDOM_SECURE, RANDOM_ONLY };
enum RoundRefinement {
    ROUND_TO = 0, ROUND_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR, ROUND_CEILING, ROUND_HALF_CEILING
};

// ------------------------------------------------------------ errors

// Raises `code` naming the running call's word, then arg2, then (when given)
// the word spelled arg3_word: expect-arg (word, datatype, argument word),
// not-related and cannot-use (word, datatype).
[[noreturn]] void raise_with_call_word(ErrCode code, const Cell* arg2, const char* arg3_word = nullptr);
[[noreturn]] void raise_with_call_word_type(ErrCode code, TypeId t, const char* arg3_word = nullptr);

// ------------------------------------------------------------ text output

// The limit left after n more characters (never below INT32_MIN).
inline int32_t limit_less(int32_t limit, int64_t n) {
    int64_t left = int64_t(limit) - n;
    return left < INT32_MIN ? INT32_MIN : int32_t(left);
}
// Appends ASCII text to a form/mold output string; returns the limit left.
int32_t append_ascii_limit(Cell* out, const char* text, size_t length, int32_t limit);
int32_t append_cstr_limit(Cell* out, const char* text, int32_t limit);

// ------------------------------------------------------------ shared constants

// Written once by the registrations; copy them, never write into them.
extern Cell unset_value, none_value, true_value, false_value;

Cell* unset_push();
Cell* none_push();
Cell* logic_push(bool flag);
Cell* datatype_push(TypeId t);
// Truthy unless none! or false; with check_unset an unset! raises no-value
// naming `word` (may be null).
bool logic_value_true(const Cell* value, bool check_unset, const Cell* word);

// ------------------------------------------------------------ integer!

Cell* integer_push(int32_t n);
// |n|; -2147483648 raises math overflow.
int32_t integer_abs(int32_t n);
// Above 2147483647.0, below -2147483648.0, or NaN.
bool integer_out_of_range_q(double d);
// Decimal text of n into out (at least 12 bytes); returns the length.
size_t integer_to_text(int32_t n, char* out);
// The shared arithmetic core (op: MathOp). Overflow of add, subtract and
// multiply, and an inexact divide when `result` is given, turn `result` into a
// float! and return 0; an integer result is stored in result's payload (its
// type byte kept) and returned.
int32_t integer_do_math(int32_t left, int32_t right, int op, Cell* result);
// A hexadecimal spelling of at most 8 digits as the 32 bits it names ("FFFFFFFF"
// is -1). False when a character is not a hex digit or there are more than 8.
bool integer_from_hex(const uint32_t* chars, size_t count, int32_t* value);

// ------------------------------------------------------------ float!

double float_math_op(double a, double b, int op);
// Action-level arithmetic for integer!, float!, percent! and time! left operands.
void float_mixed_math(ActionFrame& f, int op);
// float!'s comparison with the left value given as a double of type `left_type`.
int float_compare_double(double left, TypeId left_type, const Cell* right, int op);
void float_round_action(ActionFrame& f);
void float_power_action(ActionFrame& f);
double float_random(double x, bool secure);
Cell* float_push(double d);

// ------------------------------------------------------------ time!

Cell* time_push(double seconds);
// The h:mm:ss text (also the time part of date!); returns the limit left.
int32_t time_append_hms(double seconds, Cell* out, int32_t limit);
// Loads the first value of a text (string! from its index) into out (rooted);
// false when the text holds no valid value.
bool scan_one_value(const Cell* text, Cell* out);

// ------------------------------------------------------------ char!

Cell* char_push(uint32_t code_point);
constexpr uint32_t CHAR_MAX_CODE_POINT = 0x10FFFF;

}  // namespace tev

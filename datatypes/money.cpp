// money!: exact decimal amounts of 17 integer and 5 fraction digits in packed BCD, with an optional currency.
//
// Arithmetic works on decimal digit arrays (least significant first, digit 0
// weighing 10^-5) so that results are exact wherever they fit, in every build.
// A zero amount is never negative.
#include <cmath>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/money.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/random.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

namespace {

constexpr int MONEY_DIGITS = 22, MONEY_INT_DIGITS = 17, MONEY_FRAC_DIGITS = 5;
static_assert(MONEY_INT_DIGITS + MONEY_FRAC_DIGITS == MONEY_DIGITS, "17 integral and 5 fractional digits");
constexpr int WORK_DIGITS = 2 * MONEY_DIGITS;

// The known currency codes; a money value stores the 1-based position.
constexpr const char* CURRENCIES[] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "TEV", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW"};
constexpr int CURRENCY_COUNT = int(sizeof CURRENCIES / sizeof CURRENCIES[0]);
static_assert(CURRENCY_COUNT == 170);

struct Amount {
    bool negative;
    uint8_t currency;
    uint8_t d[MONEY_DIGITS];  // d[0] is the 10^-5 digit
};

bool amount_zero(const Amount& a) {
    for (uint8_t x : a.d) if (x) return false;
    return true;
}

Amount unpack(const Cell* c) {
    Amount a{};
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(c);
    a.negative = cell_has_flag(c, FLAG_MONEY_SIGN);
    a.currency = raw[4];
    for (int k = 0; k < MONEY_DIGITS; ++k) {  // k: 0 is the most significant digit
        uint8_t byte = raw[5 + k / 2];
        a.d[MONEY_DIGITS - 1 - k] = (k % 2 == 0) ? byte >> 4 : byte & 0xF;
    }
    return a;
}

Cell* pack(Cell* c, const Amount& a) {
    cell_init(c, T_MONEY);
    if (a.negative && !amount_zero(a)) cell_set_flag(c, FLAG_MONEY_SIGN);
    uint8_t* raw = reinterpret_cast<uint8_t*>(c);
    raw[4] = a.currency;
    for (int k = 0; k < MONEY_DIGITS; ++k) {
        uint8_t digit = a.d[MONEY_DIGITS - 1 - k];
        raw[5 + k / 2] = uint8_t(k % 2 == 0 ? digit << 4 : raw[5 + k / 2] | digit);
    }
    return c;
}

[[noreturn]] void raise_money_limit() { raise_error_type(err::script::type_limit, T_MONEY); }

// ------------------------------------------------------------ digit arithmetic

int compare_digits(const uint8_t* a, const uint8_t* b, int n) {
    for (int i = n - 1; i >= 0; --i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    return 0;
}

// a += b over n digits; the carry out of the top digit.
int add_digits(uint8_t* a, const uint8_t* b, int n) {
    int carry = 0;
    for (int i = 0; i < n; ++i) {
        int s = a[i] + b[i] + carry;
        carry = s >= 10;
        a[i] = uint8_t(carry ? s - 10 : s);
    }
    return carry;
}

// a -= b over n digits (a >= b).
void sub_digits(uint8_t* a, const uint8_t* b, int n) {
    int borrow = 0;
    for (int i = 0; i < n; ++i) {
        int s = a[i] - b[i] - borrow;
        borrow = s < 0;
        a[i] = uint8_t(borrow ? s + 10 : s);
    }
}

// Long division of the n-digit numerator by the divisor (MONEY_DIGITS digits,
// not zero): quotient digits into q (n of them), the remainder into rem.
void divide_digits(const uint8_t* numerator, int n, const uint8_t* divisor, uint8_t* q, uint8_t* rem) {
    uint8_t r[MONEY_DIGITS + 1] = {};
    uint8_t b[MONEY_DIGITS + 1] = {};
    std::memcpy(b, divisor, MONEY_DIGITS);
    for (int i = n - 1; i >= 0; --i) {
        std::memmove(r + 1, r, MONEY_DIGITS);
        r[0] = numerator[i];
        uint8_t digit = 0;
        while (compare_digits(r, b, MONEY_DIGITS + 1) >= 0) {
            sub_digits(r, b, MONEY_DIGITS + 1);
            ++digit;
        }
        q[i] = digit;
    }
    std::memcpy(rem, r, MONEY_DIGITS);
}

// The digits as one 64-bit number, when they fit.
bool digits_to_u64(const uint8_t* d, uint64_t* out) {
    uint64_t v = 0;
    for (int i = MONEY_DIGITS - 1; i >= 0; --i)
        if (__builtin_mul_overflow(v, 10u, &v) || __builtin_add_overflow(v, uint64_t(d[i]), &v)) return false;
    *out = v;
    return true;
}

// Any 64-bit number fits the 22 digits (it has at most 20).
void digits_from_u64(uint64_t v, uint8_t* d) {
    for (int i = 0; i < MONEY_DIGITS; ++i, v /= 10) d[i] = uint8_t(v % 10);
}

// Signed sum of two amounts (subtract: b's sign flipped).
Amount add_amounts(const Amount& a, const Amount& b, bool subtract) {
    Amount r = a;
    bool b_negative = b.negative != subtract;
    if (a.negative == b_negative) {
        if (add_digits(r.d, b.d, MONEY_DIGITS)) raise_money_limit();
        return r;
    }
    if (compare_digits(a.d, b.d, MONEY_DIGITS) >= 0) {
        sub_digits(r.d, b.d, MONEY_DIGITS);
        return r;
    }
    std::memcpy(r.d, b.d, MONEY_DIGITS);
    sub_digits(r.d, a.d, MONEY_DIGITS);
    r.negative = b_negative;
    return r;
}

Amount multiply_amounts(const Amount& a, const Amount& b) {
    uint64_t x, y, product;
    if (digits_to_u64(a.d, &x) && digits_to_u64(b.d, &y) && !__builtin_mul_overflow(x, y, &product)) {
        Amount r{};
        r.negative = a.negative != b.negative;
        digits_from_u64(product / 100000u, r.d);
        return r;
    }
    uint32_t work[WORK_DIGITS] = {};
    for (int i = 0; i < MONEY_DIGITS; ++i) {
        if (!a.d[i]) continue;
        for (int j = 0; j < MONEY_DIGITS; ++j) work[i + j] += uint32_t(a.d[i]) * b.d[j];
    }
    for (int i = 0; i + 1 < WORK_DIGITS; ++i) {
        work[i + 1] += work[i] / 10;
        work[i] %= 10;
    }
    // The product has 10 fraction digits: drop 5 (toward zero), keep 22.
    for (int i = MONEY_DIGITS + MONEY_FRAC_DIGITS; i < WORK_DIGITS; ++i)
        if (work[i]) raise_money_limit();
    Amount r{};
    r.negative = a.negative != b.negative;
    for (int i = 0; i < MONEY_DIGITS; ++i) r.d[i] = uint8_t(work[i + MONEY_FRAC_DIGITS]);
    return r;
}

// a / b to 5 fraction digits (truncated), or the remainder of a by b.
Amount divide_amounts(const Amount& a, const Amount& b, bool remainder) {
    if (amount_zero(b)) raise_error(err::math::zero_divide);
    Amount r{};
    uint64_t x, y, scaled;
    if (digits_to_u64(a.d, &x) && digits_to_u64(b.d, &y) && !__builtin_mul_overflow(x, uint64_t(remainder ? 1 : 100000), &scaled)) {
        // Both fit 64 bits: the quotient or remainder in one machine division.
        digits_from_u64(remainder ? x % y : scaled / y, r.d);
        r.negative = remainder ? a.negative : a.negative != b.negative;
        return r;
    }
    uint8_t rem[MONEY_DIGITS];
    if (remainder) {
        uint8_t q[MONEY_DIGITS];
        divide_digits(a.d, MONEY_DIGITS, b.d, q, rem);
        std::memcpy(r.d, rem, MONEY_DIGITS);
        r.negative = a.negative;
        return r;
    }
    uint8_t numerator[MONEY_DIGITS + MONEY_FRAC_DIGITS] = {};
    std::memcpy(numerator + MONEY_FRAC_DIGITS, a.d, MONEY_DIGITS);
    uint8_t q[MONEY_DIGITS + MONEY_FRAC_DIGITS];
    divide_digits(numerator, MONEY_DIGITS + MONEY_FRAC_DIGITS, b.d, q, rem);
    for (int i = MONEY_DIGITS; i < MONEY_DIGITS + MONEY_FRAC_DIGITS; ++i)
        if (q[i]) raise_money_limit();
    std::memcpy(r.d, q, MONEY_DIGITS);
    r.negative = a.negative != b.negative;
    return r;
}

// ------------------------------------------------------------ conversions

Amount amount_of_integer(int64_t n) {
    Amount a{};
    a.negative = n < 0;
    uint64_t m = n < 0 ? 0 - uint64_t(n) : uint64_t(n);
    for (int i = MONEY_FRAC_DIGITS; m; ++i, m /= 10) a.d[i] = uint8_t(m % 10);
    return a;
}

Amount amount_of_float(double x) {
    double m = std::fabs(x);
    if (!(m < 1e17) || (m > 0 && m < 1e-5)) {
        Cell v;
        set_float(&v, x);
        raise_error_type(err::script::bad_make_arg, T_MONEY, &v);
    }
    Amount a{};
    a.negative = x < 0;
    if (m == 0) return a;
    FloatDigits fd;
    format_float(m, 0, fd);
    for (int j = 1; j <= fd.count; ++j) {
        int at = fd.point - j + MONEY_FRAC_DIGITS;  // 0.d1 d2 ... x 10^point
        if (at >= 0 && at < MONEY_DIGITS) a.d[at] = uint8_t(fd.digits[j - 1] - '0');
    }
    return a;
}

// The amount as decimal text: [-]digits.fffff
size_t amount_plain_text(const Amount& a, char* out) {
    size_t n = 0;
    if (a.negative) out[n++] = '-';
    int top = MONEY_DIGITS - 1;
    while (top > MONEY_FRAC_DIGITS && !a.d[top]) --top;
    for (int i = top; i >= MONEY_FRAC_DIGITS; --i) out[n++] = char('0' + a.d[i]);
    out[n++] = '.';
    for (int i = MONEY_FRAC_DIGITS - 1; i >= 0; --i) out[n++] = char('0' + a.d[i]);
    out[n] = 0;
    return n;
}

double amount_to_float(const Amount& a) {
    char text[MONEY_DIGITS + 4];
    size_t n = amount_plain_text(a, text);
    return parse_float(text, text + n);
}

// Any number as an amount for arithmetic and comparison; false for other types.
bool amount_of_value(const Cell* v, Amount* out) {
    switch (cell_type(v)) {
        case T_MONEY: *out = unpack(v); return true;
        case T_INTEGER: *out = amount_of_integer(get_integer(v)); return true;
        case T_FLOAT:
        case T_PERCENT: *out = amount_of_float(get_float(v)); return true;
        default: return false;
    }
}

int currency_of_word(const Cell* word) {
    uint32_t length;
    const uint8_t* s = symbol_spelling(int32_t(word->w2), &length);
    return money_currency_index_of(s, length);
}

}  // namespace

int money_currency_index_of(const uint8_t* code, uint32_t length) {
    if (length != 3) return -1;
    for (int i = 0; i < CURRENCY_COUNT; ++i) {
        bool same = true;
        for (int k = 0; k < 3 && same; ++k) {
            uint8_t c = code[k];
            if (c >= 'a' && c <= 'z') c = uint8_t(c - 32);
            same = c == uint8_t(CURRENCIES[i][k]);
        }
        if (same) return i + 1;
    }
    return -1;
}

bool money_make_from_digits(Cell* c, bool negative, const uint8_t* currency, const uint8_t* int_digits,
                            const uint8_t* int_end, const uint8_t* frac_digits, const uint8_t* frac_end) {
    Amount a{};
    a.negative = negative;
    if (currency) {
        int index = money_currency_index_of(currency, 3);
        if (index < 0) return false;
        a.currency = uint8_t(index);
    }
    int at = MONEY_FRAC_DIGITS;
    for (const uint8_t* p = int_end; p > int_digits;) {
        uint8_t ch = *--p;
        if (ch == '\'') continue;
        if (ch < '0' || ch > '9') return false;
        if (at >= MONEY_DIGITS) {
            if (ch != '0') return false;
            continue;
        }
        a.d[at++] = uint8_t(ch - '0');
    }
    at = MONEY_FRAC_DIGITS - 1;
    for (const uint8_t* p = frac_digits; p < frac_end; ++p) {
        if (*p == '\'') continue;
        if (*p < '0' || *p > '9' || at < 0) return false;
        a.d[at--] = uint8_t(*p - '0');
    }
    pack(c, a);
    return true;
}

bool money_make_cell_raw(Cell* c, bool negative, uint8_t currency, const uint8_t digits[11]) {
    for (int i = 0; i < 11; ++i)
        if ((digits[i] >> 4) > 9 || (digits[i] & 0xF) > 9) return false;
    cell_init(c, T_MONEY);
    uint8_t* raw = reinterpret_cast<uint8_t*>(c);
    raw[4] = currency;
    std::memcpy(raw + 5, digits, 11);
    Amount a = unpack(c);
    a.negative = negative;
    pack(c, a);  // a zero is never negative
    return true;
}

Cell* money_from_integer(Cell* c, int32_t n) { return pack(c, amount_of_integer(n)); }
Cell* money_from_float(Cell* c, double x) { return pack(c, amount_of_float(x)); }
void money_set_currency(Cell* c, int index) { reinterpret_cast<uint8_t*>(c)[4] = uint8_t(index); }

int32_t money_to_integer(const Cell* c) {
    Amount a = unpack(c);
    int64_t v = 0;
    for (int i = MONEY_DIGITS - 1; i >= MONEY_FRAC_DIGITS; --i) {
        v = v * 10 + a.d[i];
        if (v > 2147483648LL) raise_error_type(err::script::type_limit, T_INTEGER);
    }
    if (a.negative) v = -v;
    if (v > INT32_MAX || v < INT32_MIN) raise_error_type(err::script::type_limit, T_INTEGER);
    return int32_t(v);
}

double money_to_float(const Cell* c) { return amount_to_float(unpack(c)); }

int money_sign_of(const Cell* c) {
    Amount a = unpack(c);
    return amount_zero(a) ? 0 : a.negative ? -1 : 1;
}

void money_do_math(ActionFrame& f, int op) {
    Cell* left = f.args;
    const Cell* right = f.args + 1;
    const TypeId lt = cell_type(left), rt = cell_type(right);
    if (op == OP_MUL && lt == T_MONEY && rt == T_MONEY) raise_error_type(err::script::invalid_type, T_MONEY);
    if ((op == OP_DIV || op == OP_REM) && lt != T_MONEY) raise_error_type(err::script::invalid_type, lt);
    if (op > OP_REM) raise_with_call_word_type(err::script::cannot_use, T_MONEY);
    Amount a, b;
    if (!amount_of_value(left, &a)) raise_error_type(err::script::invalid_type, lt);
    if (!amount_of_value(right, &b)) raise_error_type(err::script::invalid_type, rt);
    if (a.currency && b.currency && a.currency != b.currency) raise_error(err::script::wrong_denom, left, right);
    const uint8_t currency = b.currency ? b.currency : a.currency;
    Amount r;
    switch (op) {
        case OP_ADD: r = add_amounts(a, b, false); break;
        case OP_SUB: r = add_amounts(a, b, true); break;
        case OP_MUL: r = multiply_amounts(a, b); break;
        case OP_DIV: r = divide_amounts(a, b, false); break;
        default: r = divide_amounts(a, b, true); break;
    }
    if (op == OP_DIV && rt == T_MONEY) {
        set_float(left, amount_to_float(r));
        return;
    }
    r.currency = currency;
    pack(left, r);
}

namespace {

// ------------------------------------------------------------ make and to

// The text (from its index) is one money value and nothing else but blanks.
bool text_is_one_money(const Cell* text, Cell* result) {
    TranscodeOptions check;
    check.mode = LexMode::scan;
    check.one = true;
    TranscodeResult scanned = transcode_value(result, text, check);
    if (scanned.type != T_MONEY) return false;
    for (uint32_t i = scanned.consumed, n = string_length(text); i < n; ++i) {
        uint32_t c = string_char_at(text, i);
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return scan_one_value(text, result) && cell_is(result, T_MONEY);
}

void money_to(ActionFrame& f) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    switch (st) {
        case T_MONEY: *result = *spec; return;
        case T_INTEGER: money_from_integer(result, get_integer(spec)); return;
        case T_FLOAT:
        case T_PERCENT: money_from_float(result, get_float(spec)); return;
        default:
            if (type_is_string(st) && text_is_one_money(spec, result)) return;
            raise_error_type(err::script::bad_to_arg, T_MONEY, spec);
    }
}

void money_make(ActionFrame& f) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    if (cell_is(spec, T_WORD)) {
        int index = currency_of_word(spec);
        if (index < 0) raise_error_type(err::script::bad_make_arg, T_MONEY, spec);
        Amount a{};
        a.currency = uint8_t(index);
        pack(result, a);
        return;
    }
    if (!cell_is(spec, T_BLOCK)) { money_to(f); return; }
    uint32_t n = block_length(spec), i = 0;
    Amount a{};
    if (n >= 1 && type_is_word(cell_type(block_at(spec, 0)))) {
        int index = currency_of_word(block_at(spec, 0));
        if (index < 0) raise_error_type(err::script::bad_make_arg, T_MONEY, spec);
        a.currency = uint8_t(index);
        ++i;
    }
    if (i >= n || n - i > 2) raise_error_type(err::script::bad_make_arg, T_MONEY, spec);
    const Cell* amount = block_at(spec, i);
    Amount value;
    if (cell_is(amount, T_INTEGER)) value = amount_of_integer(get_integer(amount));
    else if (cell_is(amount, T_FLOAT)) value = amount_of_float(get_float(amount));
    else raise_error_type(err::script::bad_make_arg, T_MONEY, spec);
    if (n - i == 2) {
        const Cell* fraction = block_at(spec, i + 1);
        if (!cell_is(fraction, T_INTEGER) || get_integer(fraction) < 0 || get_integer(fraction) > 99999)
            raise_error_type(err::script::bad_make_arg, T_MONEY, spec);
        Amount part = amount_of_integer(get_integer(fraction));
        // Counted in units of 0.00001: shift the integer digits down into the fraction.
        Amount units{};
        for (int k = 0; k < MONEY_FRAC_DIGITS; ++k) units.d[k] = part.d[k + MONEY_FRAC_DIGITS];
        units.negative = value.negative;
        value = add_amounts(value, units, false);
    }
    value.currency = a.currency;
    pack(result, value);
}

// ------------------------------------------------------------ text

int32_t money_text(const Cell* value, Cell* out, bool group, int decimals, int32_t limit) {
    Amount a = unpack(value);
    char text[64];
    size_t n = 0;
    if (a.negative && !amount_zero(a)) text[n++] = '-';
    if (a.currency) {
        std::memcpy(text + n, CURRENCIES[a.currency - 1], 3);
        n += 3;
    }
    text[n++] = '$';
    int top = MONEY_DIGITS - 1;
    while (top > MONEY_FRAC_DIGITS && !a.d[top]) --top;
    for (int i = top; i >= MONEY_FRAC_DIGITS; --i) {
        text[n++] = char('0' + a.d[i]);
        int below = i - MONEY_FRAC_DIGITS;  // integer digits after this one
        if (group && below > 0 && below % 3 == 0) text[n++] = '\'';
    }
    if (decimals > 0) {
        text[n++] = '.';
        for (int i = MONEY_FRAC_DIGITS - 1; i >= MONEY_FRAC_DIGITS - decimals; --i) text[n++] = char('0' + a.d[i]);
    }
    return append_ascii_limit(out, text, n, limit);
}

// Decimals shown: two unless every digit is asked for.
constexpr int MONEY_SHOWN_DECIMALS = 2;

int32_t money_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    return money_text(value, out, true, MONEY_SHOWN_DECIMALS, limit);
}
int32_t money_mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    return money_text(value, out, false, all ? MONEY_FRAC_DIGITS : MONEY_SHOWN_DECIMALS, limit);
}

// ------------------------------------------------------------ comparison

int money_compare(const Cell* a_cell, const Cell* b_cell, int op) {
    const bool strict = op == CMP_STRICT_EQUAL || op == CMP_SAME || op == CMP_FIND;
    if (strict && !cell_is(b_cell, T_MONEY)) return 1;
    Amount a = unpack(a_cell), b;
    if (!cell_is(b_cell, T_MONEY) && !cell_is(b_cell, T_INTEGER) && !cell_is(b_cell, T_FLOAT)) return CMP_NOT_COMPARABLE;
    amount_of_value(b_cell, &b);
    if (cell_is(b_cell, T_MONEY)) {
        if (op >= CMP_LESSER && op <= CMP_GREATER_EQUAL && a.currency && b.currency && a.currency != b.currency)
            raise_error(err::script::wrong_denom, a_cell, b_cell);
        const bool equality = op == CMP_EQUAL || op == CMP_NOT_EQUAL || strict;
        if (equality) {
            if (strict ? a.currency != b.currency : (a.currency && b.currency && a.currency != b.currency)) return 1;
        }
    }
    bool a_neg = a.negative && !amount_zero(a), b_neg = b.negative && !amount_zero(b);
    if (a_neg != b_neg) return a_neg ? -1 : 1;
    int c = compare_digits(a.d, b.d, MONEY_DIGITS);
    return a_neg ? -c : c;
}

// ------------------------------------------------------------ other actions

void money_random(ActionFrame& f) {
    Cell* v = f.args;
    if (f.has(RANDOM_SEED)) {
        mt_seed(int32_t(v->w1 ^ v->w2 ^ v->w3));
        set_unset(v);
        return;
    }
    Amount a = unpack(v);
    // A uniform fraction of the magnitude, kept exact to the last digit.
    double fraction = float_random(1.0, f.has(RANDOM_SECURE));
    Amount share = amount_of_float(fraction < 1e-5 ? 0.0 : fraction);
    Amount r = multiply_amounts(a, share);
    r.negative = a.negative;
    r.currency = a.currency;
    pack(v, r);
}

void money_absolute(ActionFrame& f) { cell_clear_flag(f.args, FLAG_MONEY_SIGN); }
void money_negate(ActionFrame& f) {
    Amount a = unpack(f.args);
    a.negative = !a.negative;
    pack(f.args, a);
}

void money_round(ActionFrame& f) {
    Cell* v = f.args;
    Amount a = unpack(v);
    if (amount_zero(a)) return;
    Amount scale = amount_of_integer(1);
    if (f.has(ROUND_TO)) {
        const Cell* s = f.ref_arg(ROUND_TO);
        if (!amount_of_value(s, &scale) || cell_is(s, T_PERCENT))
            raise_with_call_word_type(err::script::not_related, cell_type(s));
        if (amount_zero(scale)) return;
    }
    scale.negative = false;
    Amount magnitude = a;
    magnitude.negative = false;
    Amount rem = divide_amounts(magnitude, scale, true);
    Amount down = add_amounts(magnitude, rem, true);
    Amount to_up = add_amounts(scale, rem, true);
    auto up = [&] { return add_amounts(magnitude, to_up, false); };
    const bool half = compare_digits(rem.d, to_up.d, MONEY_DIGITS) == 0;
    const bool nearer_down = compare_digits(rem.d, to_up.d, MONEY_DIGITS) < 0;
    auto nearest = [&] { return nearer_down ? down : up(); };
    const bool positive = !a.negative;
    Amount r;
    if (amount_zero(rem)) r = magnitude;
    else if (f.has(ROUND_DOWN)) r = down;
    else if (f.has(ROUND_FLOOR)) r = positive ? down : up();
    else if (f.has(ROUND_CEILING)) r = positive ? up() : down;
    else if (f.has(ROUND_EVEN) && half) r = (down.d[MONEY_FRAC_DIGITS] % 2 == 0) ? down : up();
    else if (f.has(ROUND_HALF_DOWN) && half) r = down;
    else if (f.has(ROUND_HALF_CEILING) && half) r = positive ? up() : down;
    else r = nearest();
    r.negative = a.negative;
    r.currency = a.currency;
    pack(v, r);
}

void money_even_q(ActionFrame& f) { set_logic(f.args, unpack(f.args).d[MONEY_FRAC_DIGITS] % 2 == 0); }
void money_odd_q(ActionFrame& f) { set_logic(f.args, unpack(f.args).d[MONEY_FRAC_DIGITS] % 2 == 1); }

// 1 code, 2 amount; 0 for anything else.
int money_field(const Cell* element) {
    if (cell_is(element, T_INTEGER)) {
        int32_t n = get_integer(element);
        return n == 1 || n == 2 ? n : 0;
    }
    if (!type_is_word(cell_type(element))) return 0;
    static const int32_t names[2] = {symbol_resolve_alias(symbol_from_cstring("code")),
                                     symbol_resolve_alias(symbol_from_cstring("amount"))};
    int32_t symbol = symbol_resolve_alias(int32_t(element->w2));
    return symbol == names[0] ? 1 : symbol == names[1] ? 2 : 0;
}

void money_field_value(const Cell* money, int field, Cell* out) {
    Amount a = unpack(money);
    if (field == 2) {
        a.currency = 0;
        pack(out, a);
        return;
    }
    if (!a.currency) { set_none(out); return; }
    *out = word_from_cstring(CURRENCIES[a.currency - 1]);
}

void money_eval_path(PathStep& step) {
    Cell none;
    set_none(&none);
    const Cell* path = step.path ? step.path : &none;
    int field = money_field(step.element);
    if (!field) raise_error(err::script::invalid_path, path, step.element);
    if (step.set) raise_error(err::script::bad_path_set, path, step.element);
    money_field_value(step.parent, field, step.result);
}

void money_pick(ActionFrame& f) {
    int field = money_field(f.args + 1);
    if (!field) raise_error(err::script::out_of_range, f.args + 1);
    money_field_value(f.args, field, f.args);
}

void money_add(ActionFrame& f) { money_do_math(f, OP_ADD); }
void money_subtract(ActionFrame& f) { money_do_math(f, OP_SUB); }
void money_multiply(ActionFrame& f) { money_do_math(f, OP_MUL); }
void money_divide(ActionFrame& f) { money_do_math(f, OP_DIV); }
void money_remainder(ActionFrame& f) { money_do_math(f, OP_REM); }

}  // namespace

void money_init() {
    register_datatype(T_MONEY, T_NONE_ID, "money!",
        money_make, money_random, nullptr, money_to, money_form, money_mold, money_eval_path, nullptr,
        money_compare, money_absolute, money_add, money_divide, money_multiply, money_negate,
        nullptr, money_remainder, money_round, money_subtract, money_even_q, money_odd_q,
        nullptr, nullptr, nullptr, nullptr,
        // series actions: only pick
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, money_pick, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        // port actions
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

// Float text conversion: exact decimal <-> double with fixed-size big integers on the C++ stack.
//
// Writing generates digits from the exact ratio r/s (the value scaled by a
// power of ten) with the boundaries m+ and m- of the rounding interval, so the
// shortest form stops at the first digit string that reads back as the value.
// Reading approximates with doubles and then corrects the candidate by exact
// comparison of the text's value with the half-way points between neighbours.
#include "runtime/float_text.h"
#include <cassert>
#include <cmath>
#include <cstring>

namespace tev {
namespace {

// ------------------------------------------------------------------ big integers

// 4096 bits: the largest operands are a reading of 800 digits compared with a
// half-way point scaled by 5^1125 (about 2800 bits).
constexpr int BIG_WORDS = 128;

struct Big {
    int n;  // words in use, no leading zero word
    uint32_t w[BIG_WORDS];

    Big() : n(0) {}
    Big(const Big& o) : n(o.n) { std::memcpy(w, o.w, sizeof(uint32_t) * size_t(n)); }
    Big& operator=(const Big& o) {
        n = o.n;
        std::memcpy(w, o.w, sizeof(uint32_t) * size_t(n));
        return *this;
    }

    void set(uint64_t v) {
        n = 0;
        while (v) { w[n++] = uint32_t(v); v >>= 32; }
    }
    bool is_zero() const { return n == 0; }
    void push(uint32_t word) {
        assert(n < BIG_WORDS);
        w[n++] = word;
    }
    void mul_small(uint32_t m) {
        uint64_t carry = 0;
        for (int i = 0; i < n; ++i) {
            uint64_t p = uint64_t(w[i]) * m + carry;
            w[i] = uint32_t(p);
            carry = p >> 32;
        }
        if (carry) push(uint32_t(carry));
    }
    void add_small(uint32_t a) {
        uint64_t carry = a;
        for (int i = 0; i < n && carry; ++i) {
            uint64_t s = uint64_t(w[i]) + carry;
            w[i] = uint32_t(s);
            carry = s >> 32;
        }
        if (carry) push(uint32_t(carry));
    }
    void mul_u64(uint64_t m) {
        uint32_t lo = uint32_t(m), hi = uint32_t(m >> 32);
        if (!hi) { mul_small(lo); return; }
        Big high = *this;
        high.mul_small(hi);
        high.shl(32);
        mul_small(lo);
        add(high);
    }
    void trim() { while (n > 0 && w[n - 1] == 0) --n; }
    void shl(int bits) {
        if (n <= 0 || bits <= 0) return;
        int words = bits / 32, b = bits % 32;
        assert(n + words + 1 <= BIG_WORDS);
        if (b) {
            w[n] = 0;
            for (int i = n; i > 0; --i) w[i] = (w[i] << b) | (w[i - 1] >> (32 - b));
            w[0] <<= b;
            ++n;
        }
        if (words) {
            std::memmove(w + words, w, sizeof(uint32_t) * size_t(n));
            std::memset(w, 0, sizeof(uint32_t) * size_t(words));
            n += words;
        }
        trim();
    }
    void mul_pow5(int k) {
        static const uint32_t small5[14] = {1, 5, 25, 125, 625, 3125, 15625, 78125, 390625,
                                            1953125, 9765625, 48828125, 244140625, 1220703125};
        while (k >= 13) { mul_small(1220703125u); k -= 13; }
        if (k) mul_small(small5[k]);
    }
    void mul_pow10(int k) { mul_pow5(k); shl(k); }
    void add(const Big& o) {
        while (n < o.n) push(0);
        uint64_t carry = 0;
        for (int i = 0; i < n; ++i) {
            uint64_t sum = uint64_t(w[i]) + (i < o.n ? o.w[i] : 0) + carry;
            w[i] = uint32_t(sum);
            carry = sum >> 32;
        }
        if (carry) push(uint32_t(carry));
    }
    // *this -= o; requires *this >= o.
    void sub(const Big& o) {
        int64_t borrow = 0;
        for (int i = 0; i < n; ++i) {
            int64_t d = int64_t(w[i]) - (i < o.n ? o.w[i] : 0) - borrow;
            borrow = d < 0;
            w[i] = uint32_t(d + (borrow << 32));
        }
        assert(borrow == 0);
        trim();
    }
};

int compare(const Big& a, const Big& b) {
    if (a.n != b.n) return a.n < b.n ? -1 : 1;
    for (int i = a.n - 1; i >= 0; --i)
        if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
    return 0;
}

// Compares a + b with c. The top words of c's length decide most cases
// without forming the sum.
int compare_sum(const Big& a, const Big& b, const Big& c) {
    if (a.n <= c.n && b.n <= c.n && c.n > 0) {
        const int top = c.n - 1;
        uint64_t at = a.n == c.n ? a.w[top] : 0, bt = b.n == c.n ? b.w[top] : 0, ct = c.w[top];
        if (at + bt + 2 <= ct) return -1;  // a + b < (at + bt + 2) * B^top <= c
        if (at + bt > ct) return 1;        // c < (ct + 1) * B^top <= a + b
    }
    Big t = a;
    t.add(b);
    return compare(t, c);
}

// floor(r / s) for a quotient below 2^32, leaving the remainder in r. s must be
// normalised (top word at least 2^28) so that the estimate from the top words
// is off by at most a couple of units.
uint32_t quotient_digit(Big& r, const Big& s) {
    if (r.n < s.n) return 0;
    uint64_t top = r.w[r.n - 1];
    if (r.n > s.n) top = (top << 32) | r.w[r.n - 2];
    uint64_t q = top / (uint64_t(s.w[s.n - 1]) + 1);
    assert(r.n <= s.n + 1);
    if (q) {
        uint64_t carry = 0;
        int64_t borrow = 0;
        for (int i = 0; i < r.n; ++i) {
            uint64_t p = (i < s.n ? q * s.w[i] : 0) + carry;
            carry = p >> 32;
            int64_t d = int64_t(r.w[i]) - int64_t(uint32_t(p)) - borrow;
            borrow = d < 0;
            r.w[i] = uint32_t(d + (borrow << 32));
        }
        assert(borrow == 0 && carry == 0);
        r.trim();
    }
    while (compare(r, s) >= 0) { r.sub(s); ++q; }
    return uint32_t(q);
}

int leading_zeros32(uint32_t x) {
    int n = 0;
    while (!(x & 0x80000000u)) { x <<= 1; ++n; }
    return n;
}

int bit_length64(uint64_t x) {
    int n = 0;
    while (x) { x >>= 1; ++n; }
    return n;
}

// ------------------------------------------------------------------ doubles

uint64_t bits_of(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }
double double_of(uint64_t b) { double d; std::memcpy(&d, &b, 8); return d; }

constexpr uint64_t HIDDEN_BIT = uint64_t(1) << 52;
constexpr uint64_t MANTISSA_MASK = HIDDEN_BIT - 1;

// value = m * 2^e for a positive finite double.
void split(double v, uint64_t& m, int& e) {
    uint64_t b = bits_of(v);
    int field = int((b >> 52) & 0x7FF);
    m = b & MANTISSA_MASK;
    if (field) { m |= HIDDEN_BIT; e = field - 1075; }
    else e = -1074;
}

const double exact_tens[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                               1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
const double big_tens[5] = {1e16, 1e32, 1e64, 1e128, 1e256};

// ------------------------------------------------------------------ digits

void copy_text(FloatDigits& out, const char* s) {
    size_t len = std::strlen(s);
    std::memcpy(out.digits, s, len + 1);
    out.count = int(len);
}

// Rounds a digit string to `keep` digits, half-even when the dropped part is
// exactly one half (`exact_half` tells whether digits beyond the string are zero).
void round_digits(char* d, int& count, int& point, int keep, bool rest_zero) {
    if (count <= keep) return;
    int first = d[keep] - '0';
    bool above_half = first > 5;
    if (first == 5) {
        bool tail = !rest_zero;
        for (int i = keep + 1; i < count; ++i) tail = tail || d[i] != '0';
        above_half = tail || ((d[keep - 1] - '0') & 1);
    }
    count = keep;
    if (!above_half) return;
    while (count > 0 && d[count - 1] == '9') --count;
    if (count == 0) { d[0] = '1'; count = 1; ++point; }
    else d[count - 1]++;
}

void strip_zeros(FloatDigits& out) {
    while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
    out.digits[out.count] = 0;
}

// Digits from the exact value m * 2^e (Steele-White / Burger-Dybvig).
void generate_digits(uint64_t m, int e, int ndigits, FloatDigits& out) {
    const bool shortest = ndigits <= 0;
    const bool even = (m & 1) == 0;  // an even mantissa owns its interval's ends
    const bool closer_below = m == HIDDEN_BIT && e > -1074;
    Big r, s, mp, mm;
    r.set(m);
    if (e >= 0) {
        r.shl(e + (closer_below ? 2 : 1));
        s.set(closer_below ? 4 : 2);
        mp.set(1);
        mp.shl(e + (closer_below ? 1 : 0));
        mm.set(1);
        mm.shl(e);
    } else {
        r.shl(closer_below ? 2 : 1);
        s.set(1);
        s.shl(-e + (closer_below ? 2 : 1));
        mp.set(closer_below ? 2 : 1);
        mm.set(1);
    }
    // Estimate: 10^(k-1) <= value < 10^k, possibly one too small.
    int k = int(std::floor((e + bit_length64(m) - 1) * 0.30102999566398119521)) + 1;
    // m+ and m- differ only below a power of two; otherwise m+ is m- itself.
    Big& mplus = closer_below ? mp : mm;
    if (k >= 0) s.mul_pow10(k);
    else {
        r.mul_pow10(-k);
        mm.mul_pow10(-k);
        if (closer_below) mp.mul_pow10(-k);
    }
    for (;;) {
        int c = shortest ? compare_sum(r, mplus, s) : compare(r, s);
        if (shortest ? (even ? c >= 0 : c > 0) : c >= 0) { s.mul_small(10); ++k; }
        else break;
    }
    int shift = leading_zeros32(s.w[s.n - 1]) - 3;
    if (shift > 0) {
        r.shl(shift);
        s.shl(shift);
        mm.shl(shift);
        if (closer_below) mp.shl(shift);
    }

    int count = 0;
    const int limit = shortest ? 17 : ndigits;
    for (;;) {
        r.mul_small(10);
        uint32_t d = quotient_digit(r, s);
        assert(d <= 9);
        if (shortest) {
            mm.mul_small(10);
            if (closer_below) mp.mul_small(10);
            int lo = compare(r, mm), hi = compare_sum(r, mplus, s);
            bool low = even ? lo <= 0 : lo < 0;
            bool high = even ? hi >= 0 : hi > 0;
            if (low && high) {
                Big twice = r;
                twice.shl(1);
                int c = compare(twice, s);
                if (c > 0 || (c == 0 && (d & 1))) ++d;
            } else if (high) ++d;
            assert(d <= 9);
            out.digits[count++] = char('0' + d);
            if (low || high || count == limit) break;
        } else {
            out.digits[count++] = char('0' + d);
            if (r.is_zero()) break;
            if (count == limit) {
                Big twice = r;
                twice.shl(1);
                int c = compare(twice, s);
                if (c > 0 || (c == 0 && (d & 1))) {
                    while (count > 0 && out.digits[count - 1] == '9') --count;
                    if (count == 0) { out.digits[0] = '1'; count = 1; ++k; }
                    else out.digits[count - 1]++;
                }
                break;
            }
        }
    }
    out.count = count;
    out.point = k;
    strip_zeros(out);
}

}  // namespace

void format_float(double value, int ndigits, FloatDigits& out) {
    if (ndigits > 22) ndigits = 22;
    uint64_t b = bits_of(value);
    out.negative = (b >> 63) != 0;
    if (((b >> 52) & 0x7FF) == 0x7FF) {
        out.point = FLOAT_POINT_SPECIAL;
        if (b & MANTISSA_MASK) copy_text(out, "1.#NaN");
        else copy_text(out, out.negative ? "-1.#INF" : "1.#INF");
        return;
    }
    if ((b << 1) == 0) {
        out.point = FLOAT_POINT_ZERO;
        copy_text(out, "0");
        return;
    }
    double a = std::fabs(value);
    // Whole numbers below 2^53: every neighbour is a whole number too, so the
    // exact digits are the shortest and round like any decimal string.
    if (a < 9007199254740992.0 && a == std::floor(a)) {
        uint64_t u = uint64_t(a);
        char tmp[20];
        int n = 0;
        while (u) { tmp[n++] = char('0' + u % 10); u /= 10; }
        for (int i = 0; i < n; ++i) out.digits[i] = tmp[n - 1 - i];
        out.count = n;
        out.point = n;
        if (ndigits > 0) round_digits(out.digits, out.count, out.point, ndigits, true);
        strip_zeros(out);
        return;
    }
    uint64_t m;
    int e;
    split(a, m, e);
    generate_digits(m, e, ndigits, out);
}

size_t float_to_text(double value, int ndigits, bool point, char* out) {
    FloatDigits d;
    format_float(value, ndigits, d);
    char* o = out;
    if (d.point == FLOAT_POINT_SPECIAL) {
        std::memcpy(out, d.digits, size_t(d.count) + 1);
        return size_t(d.count);
    }
    if (d.negative) *o++ = '-';
    if (d.point == FLOAT_POINT_ZERO) {
        *o++ = '0';
        if (point) { *o++ = '.'; *o++ = '0'; }
        *o = 0;
        return size_t(o - out);
    }
    auto finish_mantissa = [&] {  // a text ending in "." gets "0" or loses the "."
        if (o[-1] == '.') {
            if (point) *o++ = '0';
            else --o;
        }
    };
    if (d.point >= 18 || d.point <= -7) {
        *o++ = d.digits[0];
        *o++ = '.';
        for (int i = 1; i < d.count; ++i) *o++ = d.digits[i];
        finish_mantissa();
        *o++ = 'e';
        int x = d.point - 1;
        if (x < 0) { *o++ = '-'; x = -x; }
        char tmp[8];
        int n = 0;
        do { tmp[n++] = char('0' + x % 10); x /= 10; } while (x);
        while (n) *o++ = tmp[--n];
    } else if (d.point <= 0) {
        *o++ = '0';
        *o++ = '.';
        for (int i = 0; i < -d.point; ++i) *o++ = '0';
        for (int i = 0; i < d.count; ++i) *o++ = d.digits[i];
    } else {
        for (int i = 0; i < d.count || i < d.point; ++i) {
            if (i == d.point) *o++ = '.';
            *o++ = i < d.count ? d.digits[i] : '0';
        }
        if (d.point >= d.count) {
            *o++ = '.';
            finish_mantissa();
        }
    }
    *o = 0;
    return size_t(o - out);
}

// ------------------------------------------------------------------ reading

namespace {

constexpr int MAX_READ_DIGITS = 800;  // more never changes the rounding (see sticky digit)

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

// Exact value D * 10^E compared with half-way points N * 2^h.
struct ExactDecimal {
    Big scaled;   // D * 5^E when E >= 0, else D
    Big pow5;     // 5^-E when E < 0
    int exp10;

    int compare_with(uint64_t n, int h) const {
        Big left = scaled, right;
        if (exp10 < 0) { right = pow5; right.mul_u64(n); }
        else right.set(n);
        int left2 = exp10, right2 = h;
        int low = left2 < right2 ? left2 : right2;
        left.shl(left2 - low);
        right.shl(right2 - low);
        return compare(left, right);
    }
};

double scale_approx(double u, int exp10) {
    if (exp10 == 0) return u;
    int x = exp10 < 0 ? -exp10 : exp10;
    double r = u;
    if (exp10 > 0) {
        r *= exact_tens[x & 15];
        x >>= 4;
        for (int i = 4; i >= 0; --i)
            if (x & (1 << i)) r *= big_tens[i];
    } else {
        r /= exact_tens[x & 15];
        x >>= 4;
        for (int i = 4; i >= 0; --i)
            if (x & (1 << i)) r /= big_tens[i];
    }
    return r;
}

// The double nearest to D * 10^E (ties to even), D given as `nd` digits.
double correctly_rounded(const char* digits, int nd, int exp10) {
    // Fast path: D and the power of ten are exact doubles, so one operation rounds once.
    if (nd <= 15) {
        uint64_t u = 0;
        for (int i = 0; i < nd; ++i) u = u * 10 + uint64_t(digits[i] - '0');
        double d = double(u);
        if (exp10 == 0) return d;
        if (exp10 > 0 && exp10 <= 22) return d * exact_tens[exp10];
        if (exp10 < 0 && exp10 >= -22) return d / exact_tens[-exp10];
        if (exp10 > 22 && exp10 <= 22 + 15 - nd) return d * exact_tens[exp10 - 22] * 1e22;
    }
    int lead = nd < 19 ? nd : 19;
    uint64_t u = 0;
    for (int i = 0; i < lead; ++i) u = u * 10 + uint64_t(digits[i] - '0');
    double c = scale_approx(double(u), exp10 + (nd - lead));
    if (std::isinf(c)) c = double_of(0x7FEFFFFFFFFFFFFFull);

    ExactDecimal x;
    x.exp10 = exp10;
    x.scaled.set(0);
    for (int i = 0; i < nd;) {
        uint32_t chunk = 0, mul = 1;
        for (int j = 0; j < 9 && i < nd; ++j, ++i) { chunk = chunk * 10 + uint32_t(digits[i] - '0'); mul *= 10; }
        x.scaled.mul_small(mul);
        x.scaled.add_small(chunk);
    }
    if (exp10 >= 0) x.scaled.mul_pow5(exp10);
    else { x.pow5.set(1); x.pow5.mul_pow5(-exp10); }

    const double infinity = double_of(0x7FF0000000000000ull);
    for (int guard = 0; guard < 4000; ++guard) {
        uint64_t bits = bits_of(c);
        uint64_t m = 0;
        int e = -1074;
        if (bits) split(c, m, e);
        int up = x.compare_with(2 * m + 1, e - 1);
        if (up > 0 || (up == 0 && (m & 1))) {
            c = double_of(bits + 1);  // the next double up (or infinity)
            if (up == 0 || c == infinity) return c;
            continue;
        }
        if (up == 0 || bits == 0) return c;
        bool narrower_below = m == HIDDEN_BIT && e > -1074;
        int down = narrower_below ? x.compare_with(4 * m - 1, e - 2) : x.compare_with(2 * m - 1, e - 1);
        if (down < 0 || (down == 0 && (m & 1))) {
            c = double_of(bits - 1);
            if (down == 0) return c;
            continue;
        }
        return c;
    }
    assert(false && "float reading did not converge");
    return c;
}

}  // namespace

double parse_float(const char* start, const char* end, int exponent_adjust, size_t* rest) {
    const char* p = start;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) { negative = *p == '-'; ++p; }
    char digits[MAX_READ_DIGITS + 2];
    int nd = 0;
    int64_t exp10 = 0;
    bool sticky = false, any_digit = false, saw_point = false;
    int integer_chars = 0;
    for (; p < end && is_digit(*p); ++p, ++integer_chars) {
        any_digit = true;
        if (nd == 0 && *p == '0') continue;
        if (nd < MAX_READ_DIGITS) digits[nd++] = *p;
        else { sticky = sticky || *p != '0'; ++exp10; }
    }
    if (p < end && *p == '.') {
        // "1.#INF", "-1.#INF", "1.#NaN": one digit, then ".#".
        if (integer_chars == 1 && p + 2 < end && p[1] == '#') {
            char k = lower(p[2]);
            if (k == 'i' || k == 'n') {
                const char* word = k == 'i' ? "inf" : "nan";
                const char* q = p + 2;
                int matched = 0;
                while (matched < 3 && q + matched < end && lower(q[matched]) == word[matched]) ++matched;
                q += matched == 3 ? 3 : 1;
                if (rest) *rest = size_t(end - q);
                if (k == 'n') return double_of(0x7FF8000000000000ull);
                return double_of(negative ? 0xFFF0000000000000ull : 0x7FF0000000000000ull);
            }
        }
        saw_point = true;
        for (++p; p < end && is_digit(*p); ++p) {
            any_digit = true;
            if (nd == 0 && *p == '0') { --exp10; continue; }
            if (nd < MAX_READ_DIGITS) { digits[nd++] = *p; --exp10; }
            else sticky = sticky || *p != '0';
        }
    }
    if (!any_digit) {
        if (rest) *rest = size_t(end - start);
        return 0.0;
    }
    if (p + 1 < end && (*p == 'e' || *p == 'E')) {
        const char* q = p + 1;
        bool exp_negative = false;
        if (*q == '+' || *q == '-') { exp_negative = *q == '-'; ++q; }
        if (q < end && is_digit(*q)) {
            int64_t x = 0;
            for (; q < end && is_digit(*q); ++q)
                if (x < 100000) x = x * 10 + (*q - '0');
            exp10 += exp_negative ? -x : x;
            p = q;
        }
    }
    if (rest) *rest = size_t(end - p);
    if (nd == 0) return (negative && saw_point) ? -0.0 : 0.0;
    if (sticky) { digits[nd++] = '1'; --exp10; }
    while (digits[nd - 1] == '0') { --nd; ++exp10; }
    exp10 += exponent_adjust;
    double result;
    if (nd + exp10 > 310) result = double_of(0x7FF0000000000000ull);
    else if (nd + exp10 < -325) result = 0.0;
    else result = correctly_rounded(digits, nd, int(exp10));
    return negative ? -result : result;
}

}  // namespace tev

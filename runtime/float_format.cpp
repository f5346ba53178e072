// Float display: %g-style text from our own correctly rounded digits, then the display rules.
#include "runtime/float_format.h"
#include <cmath>
#include <cstring>
#include "runtime/errors.h"
#include "runtime/float_text.h"

namespace tev {

bool float_pretty = true;
bool float_full = false;

namespace {

constexpr double FLOAT_EPSILON = 2.220446049250313e-16;  // 2^-52

uint64_t bits_of(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }

// "%.<precision>g" with the exponent already without "+" and leading zeros.
size_t format_general(double x, int precision, char* out) {
    FloatDigits d;
    format_float(x, precision, d);
    char* o = out;
    if (d.negative) *o++ = '-';
    if (d.point == FLOAT_POINT_ZERO) {
        *o++ = '0';
    } else {
        int exponent = d.point - 1;
        if (exponent < -4 || exponent >= precision) {
            *o++ = d.digits[0];
            if (d.count > 1) {
                *o++ = '.';
                for (int i = 1; i < d.count; ++i) *o++ = d.digits[i];
            }
            *o++ = 'e';
            if (exponent < 0) { *o++ = '-'; exponent = -exponent; }
            char tmp[8];
            int n = 0;
            do { tmp[n++] = char('0' + exponent % 10); exponent /= 10; } while (exponent);
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
        }
    }
    *o = 0;
    return size_t(o - out);
}

size_t first_format(double x, int kind, char* out) {
    switch (kind) {
        case FLOAT_KIND_FLOAT: return format_general(x, 16, out);
        case FLOAT_KIND_PERCENT: return format_general(x, 13, out);
        case FLOAT_KIND_SECONDS: return float_to_text(x, 6, false, out);
        default: return format_general(x, 7, out);
    }
}

// Digits that end in 01 or 99 at full length are representation noise.
bool looks_noisy(const char* text, size_t length) {
    const char* e = std::strchr(text, 'e');
    const char* last;
    if (e) {
        if (e - text <= 16) return false;
        last = e - 2;
    } else {
        const char* digits = text[0] == '-' ? text + 1 : text;
        if (length <= 16 || (digits[0] == '0' && length <= 17)) return false;
        last = text + length - 2;
    }
    return (last[0] == '0' && last[1] == '1') || (last[0] == '9' && last[1] == '9');
}

}  // namespace

size_t float_format(double x, int kind, char* out) {
    const bool percent = kind == FLOAT_KIND_PERCENT32 || kind == FLOAT_KIND_PERCENT;
    uint64_t b = bits_of(x);
    if (((b >> 52) & 0x7FF) == 0x7FF) {
        const char* text = (b & 0xFFFFFFFFFFFFFull) ? "1.#NaN" : (b >> 63) ? "-1.#INF" : "1.#INF";
        std::strcpy(out, text);
        return std::strlen(text);
    }
    if (float_pretty && std::fabs(x) < FLOAT_EPSILON) {
        const char* text = percent ? "0%" : kind == FLOAT_KIND_POINT ? "0" : "0.0";
        std::strcpy(out, text);
        return std::strlen(text);
    }
    size_t length = first_format(x, kind, out);
    if (float_pretty && looks_noisy(out, length)) {
        int retry = (kind == FLOAT_KIND_VECTOR32 || kind == FLOAT_KIND_SECONDS || kind == FLOAT_KIND_POINT) ? 5 : 14;
        length = format_general(x, retry, out);
    }
    if (percent) {
        out[length++] = '%';
        out[length] = 0;
        return length;
    }
    if ((kind == FLOAT_KIND_VECTOR32 || kind == FLOAT_KIND_FLOAT) && !std::strchr(out, '.')) {
        char* e = std::strchr(out, 'e');
        size_t at = e ? size_t(e - out) : length;
        std::memmove(out + at + 2, out + at, length - at + 1);
        out[at] = '.';
        out[at + 1] = '0';
        length += 2;
    }
    return length;
}

bool float_nan_q(double x) {
    uint64_t b = bits_of(x);
    return ((b >> 52) & 0x7FF) == 0x7FF && (b & 0xFFFFFFFFFFFFFull) != 0;
}
bool float32_nan_q(float x) { return x != x; }
bool float_inf_or_nan_q(double x) { return ((bits_of(x) >> 52) & 0x7FF) == 0x7FF; }
double float_abs(double x) {
    uint64_t b = bits_of(x) & ~(uint64_t(1) << 63);
    double r;
    std::memcpy(&r, &b, 8);
    return r;
}

bool float_almost_equal_q(double a, double b) {
    if (float_nan_q(a) || float_nan_q(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < FLOAT_EPSILON) return true;
    // Keys that order like the numbers: adjacent doubles have adjacent keys.
    auto key = [](double x) {
        uint64_t k = bits_of(x);
        return (k >> 63) ? ~k + 1 : k | (uint64_t(1) << 63);
    };
    uint64_t ka = key(a), kb = key(b);
    uint64_t distance = ka > kb ? ka - kb : kb - ka;
    return distance <= 10;
}

bool float32_almost_equal_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    int32_t pa, pb;
    std::memcpy(&pa, &a, 4);
    std::memcpy(&pb, &b, 4);
    int32_t ma = pa & 0x7FFFFFFF, mb = pb & 0x7FFFFFFF;
    if (ma >= 0x7F7FFFFF || mb >= 0x7F7FFFFF) {
        int32_t diff = ma > mb ? ma - mb : mb - ma;
        return (pa < 0) == (pb < 0) && diff < 0x100000;
    }
    if (ma == 0 && mb == 0) return true;
    int64_t ka = pa < 0 ? int64_t(INT32_MIN) - pa : pa;
    int64_t kb = pb < 0 ? int64_t(INT32_MIN) - pb : pb;
    int64_t d = ka - kb;
    return d >= -10 && d <= 10;
}

int32_t float_round_to_int(double x) {
    double magnitude = std::fabs(x) + 0.49999999999999994;  // the double just below 0.5
    double limit = x < 0 ? 2147483649.0 : 2147483648.0;
    if (!(magnitude < limit)) raise_error(err::math::overflow);  // also NaN
    int64_t whole = int64_t(magnitude);
    return int32_t(x < 0 ? -whole : whole);
}

}  // namespace tev

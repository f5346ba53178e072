// time!: signed seconds in a double, shown as h:mm:ss; a child of float! that keeps its arithmetic, comparison and random.
//
// Components: the sign applies to the whole time. hour is the signed whole
// hours, minute the minutes of the magnitude (never negative), second the
// signed seconds within the minute.
#include <cmath>
#include <cstring>
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/float_format.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* time_push(double seconds) {
    Cell* c = stack_push();
    set_float(c, seconds, T_TIME);
    return c;
}

namespace {

constexpr double SECONDS_SHOWN_AS_ZERO = 0.000001;

// Whole hours of a magnitude as a 32-bit number; beyond that is an overflow.
int32_t checked_hours(double hours) {
    if (integer_out_of_range_q(hours)) raise_error(err::math::overflow);
    return int32_t(hours);
}

struct TimeParts {
    double sign;      // -1 or 1
    double hours;     // of the magnitude, whole
    double minutes;   // of the magnitude, whole, 0..59
    double seconds;   // of the magnitude, 0 <= s < 60
};

TimeParts split_time(double x) {
    double a = std::fabs(x);
    return {x < 0 ? -1.0 : 1.0, std::floor(a / 3600.0), std::floor(std::fmod(a, 3600.0) / 60.0), std::fmod(a, 60.0)};
}

double join_time(double sign, double hours, double minutes, double seconds) {
    return sign * (hours * 3600.0 + minutes * 60.0 + seconds);
}

}  // namespace

int32_t time_append_hms(double seconds, Cell* out, int32_t limit) {
    if (float_inf_or_nan_q(seconds)) raise_error(err::math::overflow);
    char text[64];
    size_t n = 0;
    if (seconds < 0) text[n++] = '-';
    double a = std::fabs(seconds);
    char second_text[FLOAT_FORMAT_MAX + 1];
    double s = std::fmod(a, 60.0);
    if (s < SECONDS_SHOWN_AS_ZERO) {
        std::strcpy(second_text, "00");
    } else {
        size_t len = float_format(s, FLOAT_KIND_SECONDS, second_text + 1);
        if (std::strcmp(second_text + 1, "60") == 0) {
            // Six digits rounded up to a whole minute: carry it instead of showing ":60".
            a = a - s + 60.0;
            std::strcpy(second_text, "00");
        } else if (len == 1 || second_text[2] == '.') {
            second_text[0] = '0';
        } else {
            std::memmove(second_text, second_text + 1, len + 1);
        }
    }
    n += integer_to_text(checked_hours(std::floor(a / 3600.0)), text + n);
    int minutes = int(std::floor(std::fmod(a, 3600.0) / 60.0));
    text[n++] = ':';
    text[n++] = char('0' + minutes / 10);
    text[n++] = char('0' + minutes % 10);
    text[n++] = ':';
    size_t sl = std::strlen(second_text);
    std::memcpy(text + n, second_text, sl);
    n += sl;
    return append_ascii_limit(out, text, n, limit);
}

bool scan_one_value(const Cell* text, Cell* out) {
    TranscodeOptions check;
    check.mode = LexMode::scan;
    check.one = true;
    TranscodeResult scanned = transcode_value(out, text, check);
    if (scanned.type == T_NONE_ID || scanned.type == T_ERROR) return false;
    TranscodeOptions load;
    load.one = true;
    load.wrap = false;
    transcode_value(out, text, load);
    return true;
}

namespace {

// not-related naming the action by its word, as the refused pairing does.
[[noreturn]] void raise_not_related(const char* action, TypeId t) {
    StackScope scope;
    Cell* word = stack_push();
    *word = word_from_cstring(action);
    Cell* type = stack_push();
    set_datatype(type, t);
    raise_error(err::script::not_related, word, type);
}

void time_make(ActionFrame& f) {
    Cell* result = f.args;
    const Cell* spec = f.args + 1;
    TypeId st = cell_type(spec);
    double seconds = 0.0;
    switch (st) {
        case T_TIME: *result = *spec; return;
        case T_INTEGER: seconds = get_integer(spec); break;
        case T_FLOAT:
        case T_PERCENT: seconds = get_float(spec); break;
        case T_BLOCK:
        case T_PAREN:
        case T_HASH: {
            SeriesBuffer* b = node_buffer(series_node(spec));
            uint32_t at = series_index(spec), count = b->count();
            uint32_t n = count > at ? count - at : 0;
            if (n > 3) raise_error_type(err::script::bad_to_arg, T_TIME, spec);
            double parts[3] = {0, 0, 0};
            for (uint32_t i = 0; i < n; ++i) {
                const Cell* c = b->cells() + at + i;
                if (cell_is(c, T_INTEGER)) parts[i] = get_integer(c);
                else if (i == 2 && cell_is(c, T_FLOAT)) parts[i] = get_float(c);
                else raise_error_type(err::script::bad_to_arg, T_TIME, spec);
            }
            if (parts[1] < 0 || parts[2] < 0) raise_error_type(err::script::bad_to_arg, T_TIME, spec);
            double sign = parts[0] < 0 ? -1.0 : 1.0;
            seconds = join_time(sign, std::fabs(parts[0]), parts[1], parts[2]);
            break;
        }
        default:
            if (!type_is_string(st) || !scan_one_value(spec, result) || !cell_is(result, T_TIME))
                raise_error_type(err::script::bad_to_arg, T_TIME, spec);
            return;
    }
    set_float(result, seconds, T_TIME);
}

int32_t time_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    return time_append_hms(get_float(value), out, limit);
}
int32_t time_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell*, int32_t limit, int32_t) {
    return time_append_hms(get_float(value), out, limit);
}

// 1 hour, 2 minute, 3 second; 0 for anything else. Words match in any case.
int component_of(const Cell* element) {
    if (cell_is(element, T_INTEGER)) {
        int32_t n = get_integer(element);
        return n >= 1 && n <= 3 ? n : 0;
    }
    if (!type_is_word(cell_type(element))) return 0;
    static const int32_t names[3] = {symbol_resolve_alias(symbol_from_cstring("hour")),
                                     symbol_resolve_alias(symbol_from_cstring("minute")),
                                     symbol_resolve_alias(symbol_from_cstring("second"))};
    int32_t symbol = symbol_resolve_alias(word_symbol(element));
    for (int i = 0; i < 3; ++i)
        if (names[i] == symbol) return i + 1;
    return 0;
}

void time_component(double x, int n, Cell* out) {
    if (float_inf_or_nan_q(x) && n != 3) raise_error(err::math::overflow);
    if (n == 1) set_integer(out, checked_hours(std::trunc(x / 3600.0)));
    else if (n == 2) set_integer(out, int32_t(split_time(x).minutes));
    else set_float(out, std::fmod(x, 60.0));
}

// The new seconds after setting a component; the other components read the
// same afterwards, and reading the one set gives back the value set.
double time_with_component(double x, int n, const Cell* value) {
    TimeParts p = split_time(x);
    if (n == 1 || n == 2) {
        if (!cell_is(value, T_INTEGER)) raise_error(err::script::invalid_arg, value);
        double v = get_integer(value);
        if (n == 2) return join_time(p.sign, p.hours, v, p.seconds);
        double sign = v < 0 ? -1.0 : v > 0 ? 1.0 : p.sign;
        return join_time(sign, std::fabs(v), p.minutes, p.seconds);
    }
    double v;
    if (cell_is(value, T_INTEGER)) v = get_integer(value);
    else if (cell_is(value, T_FLOAT)) v = get_float(value);
    else raise_error(err::script::invalid_arg, value);
    double sign = v < 0 ? -1.0 : v > 0 ? 1.0 : p.sign;
    return join_time(sign, p.hours, p.minutes, std::fabs(v));
}

void time_eval_path(PathStep& step) {
    int n = component_of(step.element);
    if (!n) {
        Cell none;
        set_none(&none);
        raise_error(err::script::invalid_path, step.path ? step.path : &none, step.element);
    }
    double x = get_float(step.parent);
    if (!step.set) {
        time_component(x, n, step.result);
        return;
    }
    put_float(step.parent, time_with_component(x, n, step.set));
    *step.result = *step.set;
}

void time_pick(ActionFrame& f) {
    const Cell* index = f.args + 1;
    int n = component_of(index);
    if (!n && type_is_word(cell_type(index))) raise_error(err::script::cannot_use, index, f.args);
    if (!n) raise_error(err::script::out_of_range, index);
    time_component(get_float(f.args), n, f.args);
}

void time_add(ActionFrame& f) { float_mixed_math(f, OP_ADD); }
void time_subtract(ActionFrame& f) {
    if (cell_is(f.args + 1, T_DATE)) raise_not_related("subtract", T_TIME);
    float_mixed_math(f, OP_SUB);
}
void time_multiply(ActionFrame& f) {
    if (cell_is(f.args + 1, T_TIME)) raise_not_related("multiply", T_TIME);
    float_mixed_math(f, OP_MUL);
}
void time_divide(ActionFrame& f) {
    bool ratio = cell_is(f.args + 1, T_TIME);
    float_mixed_math(f, OP_DIV);
    if (ratio) cell_set_type(f.args, T_FLOAT);
}

// Whole seconds within the minute, a microsecond forgiven either way.
bool time_odd_second(double x) {
    double y = x >= 0 ? x + 0.000001 : x - 0.000001;
    double w = std::trunc(std::fmod(y, 60.0));
    if (integer_out_of_range_q(w)) return false;
    return (int32_t(w) & 1) != 0;
}
void time_even_q(ActionFrame& f) { set_logic(f.args, !time_odd_second(get_float(f.args))); }
void time_odd_q(ActionFrame& f) { set_logic(f.args, time_odd_second(get_float(f.args))); }

void time_round(ActionFrame& f) {
    if (f.has(ROUND_TO) && cell_is(f.ref_arg(ROUND_TO), T_MONEY)) raise_with_call_word_type(err::script::not_related, T_MONEY);
    cell_set_type(f.args, T_FLOAT);
    float_round_action(f);
    double seconds = cell_is(f.args, T_INTEGER) ? double(get_integer(f.args)) : get_float(f.args);
    set_float(f.args, seconds, T_TIME);
}

}  // namespace

template <> void register_type<T_TIME>() {
    register_datatype(T_TIME, {
        .make = time_make, .to = time_make, .form = time_form, .mold = time_mold,
        .eval_path = time_eval_path, .add = time_add, .divide = time_divide, .multiply = time_multiply,
        .power = nullptr, .round = time_round, .subtract = time_subtract, .even_q = time_even_q,
        .odd_q = time_odd_q, .pick = time_pick
    });
}

}  // namespace tev

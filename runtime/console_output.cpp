// Console output: writers, the escape-sequence interpreter, hook tables and number printers.
#include "runtime/console_output.h"
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include "runtime/fatal.h"
#include "runtime/sys_heap.h"

namespace tev {

// ------------------------------------------------------------------ hook tables

namespace {
template <class Hook>
struct HookTable {
    Hook* slots = nullptr;
    uint32_t count = 0, capacity = 0;

    void init() {
        sys_free(slots);
        slots = static_cast<Hook*>(sys_alloc(5 * sizeof(Hook)));
        count = 0;
        capacity = 5;
    }
    void add(Hook h) {
        if (!slots) init();
        if (count == capacity) {
            auto* grown = static_cast<Hook*>(sys_alloc((capacity + 5) * sizeof(Hook)));
            std::memcpy(grown, slots, count * sizeof(Hook));
            sys_free(slots);
            slots = grown;
            capacity += 5;
        }
        slots[count++] = h;
    }
};
HookTable<ValuePrintHook> value_hooks;
HookTable<TextOutputHook> text_hooks;
}  // namespace

void print_hook_tables_init() {
    value_hooks.init();
    text_hooks.init();
}

void register_output_hooks(ValuePrintHook value_hook, TextOutputHook text_hook) {
    if (value_hook) value_hooks.add(value_hook);
    if (text_hook) text_hooks.add(text_hook);
}

// A hook may register another hook: the count is read again on every turn.
void call_print_hooks(const Cell* value, bool newline) {
    for (uint32_t i = 0; i < value_hooks.count; ++i) value_hooks.slots[i](value, newline);
}

void call_text_output_hooks(const char* utf8, size_t length, bool newline) {
    for (uint32_t i = 0; i < text_hooks.count; ++i) text_hooks.slots[i](utf8, length, newline);
}

HookTableState value_print_hooks_state() { return {value_hooks.count, value_hooks.capacity}; }
HookTableState text_output_hooks_state() { return {text_hooks.count, text_hooks.capacity}; }

// ------------------------------------------------------------------ escape sequences

static void write_ascii(os::ConsoleScreen& screen, const char* text) {
    char16_t wide[64];
    size_t n = 0;
    while (text[n] && n < 64) { wide[n] = char16_t(uint8_t(text[n])); ++n; }
    screen.write(wide, n);
}

static void write_screen_info(os::ConsoleScreen& screen) {
    os::ScreenInfo i = screen.info();
    char line[64];
    auto put = [&](const char* name, int a, int b, bool pair) {
        if (pair) std::snprintf(line, sizeof line, "    %s: %d x %d%s", name, a, b, os::NEWLINE);
        else std::snprintf(line, sizeof line, "    %s: %d%s", name, a, os::NEWLINE);
        write_ascii(screen, line);
    };
    write_ascii(screen, "Screen buffer info:");
    write_ascii(screen, os::NEWLINE);
    put("size", i.width, i.height, true);
    put("cursor", i.cursor_x, i.cursor_y, true);
    put("attribute", i.attributes, 0, false);
    put("window top", i.window_top, 0, false);
    put("window left", i.window_left, 0, false);
    put("window bottom", i.window_bottom, 0, false);
    put("window right", i.window_right, 0, false);
    put("maximum size", i.max_width, i.max_height, true);
}

static uint16_t sgr_attributes(int code, uint16_t a, uint16_t defaults) {
    static const uint8_t foreground[8] = {0, 4, 2, 6, 1, 5, 3, 7};  // ANSI order to console bits
    if (code == 0) return defaults;
    if (code == 1) return a | 0x88;
    if (code == 4) return a | 0x8000;
    if (code == 7) return uint16_t((a & 0xFF00) | (a & 0x0F) << 4 | (a & 0xF0) >> 4);
    if (code >= 30 && code <= 37) return uint16_t((a & 0xF8) + foreground[code - 30]);
    if (code == 39) return a | 8;
    if (code >= 40 && code <= 47) return uint16_t((a & 0x8F) + (foreground[code - 40] << 4));
    return a;
}

static int clamp(int v, int low, int high) { return v < low ? low : v > high ? high : v; }

size_t console_escape(const char16_t* text, size_t length, os::ConsoleScreen& screen, EscapeState& state) {
    if (length < 2 || text[0] != 27 || text[1] != u'[') return 0;
    if (length >= 3 && text[2] == u'?') {
        write_screen_info(screen);
        return 3;
    }
    // Parameters: decimal numbers modulo 65535, separated by ';'; two are used.
    int params[2] = {0, 0};
    int count = 0;       // parameters seen (a digit or a ';' opens one)
    size_t i = 2;
    bool open = false;
    for (; i < length; ++i) {
        char16_t c = text[i];
        if (c >= u'0' && c <= u'9') {
            if (!open) { open = true; ++count; }
            if (count <= 2) params[count - 1] = (params[count - 1] * 10 + (c - u'0')) % 65535;
        } else if (c == u';') {
            if (!open) ++count;  // an empty parameter is 0
            open = false;
        } else {
            break;
        }
    }
    if (i == length) return length;  // cut by the end of the text: nothing to do
    char16_t final_char = text[i];
    size_t taken = i + 1;

    os::ScreenInfo s = screen.info();
    int n = count > 0 ? params[0] : 1;
    switch (final_char) {
    case u'A': screen.set_cursor(s.cursor_x, clamp(s.cursor_y - n, 0, s.height - 1)); break;
    case u'B': screen.set_cursor(s.cursor_x, clamp(s.cursor_y + n, 0, s.height - 1)); break;
    case u'C': screen.set_cursor(clamp(s.cursor_x + n, 0, s.width - 1), s.cursor_y); break;
    case u'D': screen.set_cursor(clamp(s.cursor_x - n, 0, s.width - 1), s.cursor_y); break;
    case u'H':
    case u'f':
        if (count == 0) screen.set_cursor(0, 0);
        else screen.set_cursor(clamp(params[0], 0, s.width - 1), clamp(params[1], 0, s.height - 1));
        break;
    case u'J':
        if (count == 0) {
            screen.fill(0, s.cursor_y, uint32_t(s.width) * uint32_t(s.height - s.cursor_y), state.default_attributes);
        } else if (params[0] == 1) {
            screen.fill(0, 0, uint32_t(s.width) * uint32_t(s.cursor_y), state.default_attributes);
        } else if (params[0] == 2) {
            screen.fill(0, 0, uint32_t(s.width) * uint32_t(s.height), state.default_attributes);
            screen.set_cursor(0, 0);
        }
        break;
    case u'K':
        if (count == 0) {
            screen.fill(s.cursor_x, s.cursor_y, uint32_t(s.width - s.cursor_x), state.default_attributes);
        } else if (params[0] == 1) {
            screen.fill(0, s.cursor_y, uint32_t(s.cursor_x < s.width ? s.cursor_x + 1 : s.width),
                        state.default_attributes);
            screen.set_cursor(0, s.cursor_y);
        } else if (params[0] == 2) {
            screen.fill(0, s.cursor_y, uint32_t(s.width), state.default_attributes);
            screen.set_cursor(0, s.cursor_y);
        }
        break;
    case u's': state.saved_x = s.cursor_x; state.saved_y = s.cursor_y; break;
    case u'u': screen.set_cursor(state.saved_x, state.saved_y); break;
    case u'm': {
        uint16_t a = sgr_attributes(count > 0 ? params[0] : 0, s.attributes, state.default_attributes);
        if (count > 1) a = sgr_attributes(params[1], a, state.default_attributes);
        screen.set_attributes(a);
        break;
    }
    default: break;  // not one we know: taken, no effect
    }
    return taken;
}

// ------------------------------------------------------------------ targets

// Whatever the C library still buffers for standard output goes first.
static void write_to_stdout(const void* bytes, size_t length) {
    std::fflush(stdout);
    os::write_stdout(bytes, length);
}

static ConsoleTarget target{nullptr, write_to_stdout};
static EscapeState escape_state;

void console_probe_attributes() {
    if (os::ConsoleScreen* screen = os::real_console()) escape_state.default_attributes = screen->info().attributes;
}

void console_init() {
    target.screen = os::real_console();
    target.write_bytes = write_to_stdout;
}

bool console_is_real() { return target.screen != nullptr; }

ConsoleTarget console_set_target(ConsoleTarget t) {
    ConsoleTarget old = target;
    target = t;
    return old;
}

EscapeState& console_escape_state() { return escape_state; }

// ------------------------------------------------------------------ writers

static uint32_t unit_at(const uint8_t* p, int unit) {
    if (unit == 1) return *p;
    if (unit == 2) { uint16_t u; std::memcpy(&u, p, 2); return u; }
    uint32_t u;
    std::memcpy(&u, p, 4);
    return u;
}

// A code point that UTF-8 and UTF-16 cannot carry prints as U+FFFD.
static uint32_t printable(uint32_t cp) {
    return (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) ? 0xFFFD : cp;
}

static size_t utf8_encode(uint32_t cp, char* out) {
    cp = printable(cp);
    if (cp < 0x80) { out[0] = char(cp); return 1; }
    if (cp < 0x800) { out[0] = char(0xC0 | cp >> 6); out[1] = char(0x80 | (cp & 0x3F)); return 2; }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | cp >> 12); out[1] = char(0x80 | (cp >> 6 & 0x3F)); out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | cp >> 18); out[1] = char(0x80 | (cp >> 12 & 0x3F));
    out[2] = char(0x80 | (cp >> 6 & 0x3F)); out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

// Decodes one UTF-8 sequence at s (n bytes left); malformed input gives
// U+FFFD and advances one byte.
static uint32_t utf8_decode(const uint8_t* s, size_t n, size_t* used) {
    uint8_t b = s[0];
    *used = 1;
    if (b < 0x80) return b;
    int extra = b >= 0xF0 && b <= 0xF4 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : -1;
    if (extra < 0 || size_t(extra) >= n) return 0xFFFD;
    uint32_t cp = b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0xFFFD;
        cp = cp << 6 | (s[k] & 0x3F);
    }
    static const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFD;
    *used = size_t(extra) + 1;
    return cp;
}

// Redirected output: UTF-8 bytes, written whenever more than 1,020 are pending.
namespace {
struct ByteWriter {
    char buf[1024 + 8];
    size_t used = 0;
    void put(uint32_t cp) {
        used += utf8_encode(cp, buf + used);
        if (used > 1020) flush();
    }
    void put(const char* s) { while (*s) put(uint32_t(uint8_t(*s++))); }
    void flush() {
        if (used) target.write_bytes(buf, used);
        used = 0;
    }
};

// The real console: UTF-16 runs, written every 510 units and around each
// escape sequence, which goes to the interpreter instead.
struct ConsoleWriter {
    std::u16string text;
    void put(uint32_t cp) {
        cp = printable(cp);
        if (cp < 0x10000) {
            text.push_back(char16_t(cp));
        } else {
            text.push_back(char16_t(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    void put(const char* s) { while (*s) put(uint32_t(uint8_t(*s++))); }
    void flush() {
        os::ConsoleScreen& screen = *target.screen;
        size_t run = 0, i = 0;
        while (i < text.size()) {
            if (text[i] == 27) {
                // What precedes the sequence must reach the screen before it acts.
                write_run(screen, run, i);
                run = i;
                size_t taken = console_escape(text.data() + i, text.size() - i, screen, escape_state);
                if (taken > 0) {
                    i += taken;
                    run = i;
                    continue;
                }
            }
            ++i;
            // Every 510 units, but never between the halves of a surrogate pair.
            if (i - run >= 510 && !(text[i - 1] >= 0xD800 && text[i - 1] <= 0xDBFF)) {
                write_run(screen, run, i);
                run = i;
            }
        }
        write_run(screen, run, i);
        text.clear();
    }
    void write_run(os::ConsoleScreen& screen, size_t from, size_t to) {
        if (to > from) screen.write(text.data() + from, to - from);
    }
};
}  // namespace

template <class Writer>
static void write_units(Writer& w, const uint8_t* p, size_t length, int unit, bool newline) {
    for (size_t i = 0; i + size_t(unit) <= length; i += size_t(unit)) w.put(unit_at(p + i, unit));
    if (newline) w.put(target.screen ? "\r\n" : os::NEWLINE);
    w.flush();
}

void console_write_text(const void* text, size_t length, int unit, bool newline) {
    if (unit != 1 && unit != 2 && unit != 4) report_runtime_error(RT_NO_SWITCH_MATCH, TEV_CALLER_ADDRESS());
    auto* p = static_cast<const uint8_t*>(text);
    if (target.screen) {
        ConsoleWriter w;
        write_units(w, p, length, unit, newline);
    } else {
        ByteWriter w;
        write_units(w, p, length, unit, newline);
    }
}

void console_write_utf32(const uint32_t* text, size_t count) {
    console_write_text(text, count * 4, 4, false);
}

void console_write_utf8(const char* utf8, size_t length, bool newline) {
    if (!target.screen) {
        // Already UTF-8: only the line end is added, in the same write when it fits.
        const char* end = newline ? os::NEWLINE : "";
        size_t end_length = std::strlen(end);
        if (length + end_length <= 1024) {
            char buf[1024];
            std::memcpy(buf, utf8, length);
            std::memcpy(buf + length, end, end_length);
            target.write_bytes(buf, length + end_length);
        } else {
            target.write_bytes(utf8, length);
            target.write_bytes(end, end_length);
        }
        return;
    }
    ConsoleWriter w;
    auto* s = reinterpret_cast<const uint8_t*>(utf8);
    for (size_t i = 0; i < length;) {
        size_t used;
        w.put(utf8_decode(s + i, length - i, &used));
        i += used;
    }
    if (newline) w.put("\r\n");
    w.flush();
}

static void write_utf8_text(const char* utf8, size_t length) { console_write_utf8(utf8, length, false); }

void console_print_cstring(const char* utf8) {
    size_t length = std::strlen(utf8);
    write_utf8_text(utf8, length);
    call_text_output_hooks(utf8, length, false);
}

void console_print_char(char byte) {
    char text[2] = {byte, 0};
    console_print_cstring(text);
}

// ------------------------------------------------------------------ number printers

// Number text is ASCII: the same bytes for the console, the file and the hooks.
static void write_number_text(const char* text, size_t length) {
    write_utf8_text(text, length);
    call_text_output_hooks(text, length, false);
}

void console_print_integer(int32_t v) {
    char text[16];
    auto r = std::to_chars(text, text + sizeof text, v);
    write_number_text(text, size_t(r.ptr - text));
}

static void print_hex(uint32_t v, int digits) {
    char text[8];
    for (int i = 0; i < digits; ++i) text[i] = "0123456789ABCDEF"[(v >> (4 * (digits - 1 - i))) & 15];
    write_number_text(text, size_t(digits));
}

void console_print_byte_hex(uint8_t v) { print_hex(v, 2); }
void console_print_hex32(uint32_t v) { print_hex(v, 8); }

// The C library's "%.Ng" differs between the two C runtimes (infinities, NaN,
// exponent digits); std::to_chars is exact and the same in both builds.
size_t format_float_general(char* out, double v, int significant_digits) {
    auto r = std::to_chars(out, out + 31, v, std::chars_format::general, significant_digits);
    *r.ptr = '\0';
    return size_t(r.ptr - out);
}

void console_print_float64(double v) {
    char text[32];
    write_number_text(text, format_float_general(text, v, 16));
}

void console_print_float32(float v) {
    char text[32];
    write_number_text(text, format_float_general(text, double(v), 7));
}

// ------------------------------------------------------------------ typed print

static bool ends_with_blank(const PrintItem& item) {
    char last = 0;
    if (item.kind == PrintItem::CHAR) last = item.ch;
    else if (item.kind == PrintItem::TEXT && item.text[0]) last = item.text[std::strlen(item.text) - 1];
    return last == ' ' || last == '\n' || last == '\r' || last == '\t';
}

void sys_print_typed(std::initializer_list<PrintItem> items, bool spaced) {
    const PrintItem* previous = nullptr;
    for (const PrintItem& item : items) {
        if (spaced && previous && !ends_with_blank(*previous)) console_print_char(' ');
        switch (item.kind) {
        case PrintItem::LOGIC: console_print_cstring(item.logic ? "true" : "false"); break;
        case PrintItem::INTEGER: console_print_integer(item.integer); break;
        case PrintItem::CHAR: console_print_char(item.ch); break;
        case PrintItem::FLOAT32: console_print_float32(item.f32); break;
        case PrintItem::FLOAT64: console_print_float64(item.f64); break;
        case PrintItem::TEXT: console_print_cstring(item.text); break;
        case PrintItem::HEX32: console_print_hex32(item.hex); break;
        }
        previous = &item;
    }
    std::fflush(nullptr);
}

void sys_print_line(std::initializer_list<PrintItem> items) {
    sys_print_typed(items, false);
    console_print_cstring("\n");
}

}  // namespace tev

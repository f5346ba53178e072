// Console output: the escape interpreter on a fake screen, both writers, hooks and number printers.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "runtime/console_output.h"

namespace tev {
namespace {

// A screen buffer of characters and attributes that records what the interpreter does.
class FakeScreen final : public os::ConsoleScreen {
public:
    int width = 10, height = 4;
    int x = 0, y = 0;
    uint16_t attributes = 0x07;
    std::u16string cells;
    std::vector<uint16_t> cell_attributes;
    std::vector<std::u16string> writes;

    FakeScreen() : cells(size_t(width * height), u'#'), cell_attributes(size_t(width * height), 0x99) {}
    os::ScreenInfo info() override {
        return {width, height, x, y, attributes, 0, 0, width - 1, height - 1, width, height};
    }
    void set_cursor(int nx, int ny) override { x = nx; y = ny; }
    void set_attributes(uint16_t a) override { attributes = a; }
    void fill(int fx, int fy, uint32_t count, uint16_t a) override {
        for (size_t i = size_t(fy * width + fx); count-- && i < cells.size(); ++i) {
            cells[i] = u' ';
            cell_attributes[i] = a;
        }
    }
    void write(const char16_t* text, size_t n) override {
        writes.emplace_back(text, n);
        for (size_t i = 0; i < n; ++i) {
            size_t at = size_t(y * width + x);
            if (at < cells.size()) cells[at] = text[i];
            if (++x == width) { x = 0; ++y; }
        }
    }
    std::u16string row(int r) const { return cells.substr(size_t(r * width), size_t(width)); }
    std::u16string written() const {
        std::u16string all;
        for (auto& w : writes) all += w;
        return all;
    }
};

size_t escape(FakeScreen& s, const std::u16string& text, EscapeState& st) {
    return console_escape(text.data(), text.size(), s, st);
}

TEST(ConsoleEscape, CursorMovesStopAtTheBufferEdges) {
    struct Row { const char16_t* seq; int from_x, from_y, to_x, to_y; };
    const Row rows[] = {
        {u"\x1b[2A", 3, 3, 3, 1}, {u"\x1b[9A", 3, 3, 3, 0}, {u"\x1b[2B", 3, 1, 3, 3},
        {u"\x1b[9B", 3, 1, 3, 3}, {u"\x1b[4C", 3, 1, 7, 1}, {u"\x1b[99C", 3, 1, 9, 1},
        {u"\x1b[2D", 3, 1, 1, 1}, {u"\x1b[9D", 3, 1, 0, 1}, {u"\x1b[C", 3, 1, 4, 1},
        {u"\x1b[H", 5, 2, 0, 0}, {u"\x1b[f", 5, 2, 0, 0},
        {u"\x1b[4;2H", 0, 0, 4, 2},  // column first, then row, 0-based
        {u"\x1b[65539;1f", 0, 0, 4, 1},  // numbers are taken modulo 65535
        {u"\x1b[50;50H", 0, 0, 9, 3},
    };
    for (const Row& r : rows) {
        FakeScreen s;
        EscapeState st;
        s.x = r.from_x;
        s.y = r.from_y;
        std::u16string seq = r.seq;
        EXPECT_EQ(escape(s, seq, st), seq.size());
        EXPECT_EQ(s.x, r.to_x) << std::string(seq.begin() + 1, seq.end());
        EXPECT_EQ(s.y, r.to_y) << std::string(seq.begin() + 1, seq.end());
    }
}

TEST(ConsoleEscape, ClearingFillsBlanksInTheDefaultAttributes) {
    struct Row { const char16_t* seq; const char16_t* rows[4]; int to_x, to_y; };
    // The cursor starts at column 4 of row 1.
    const Row rows[] = {
        {u"\x1b[J", {u"##########", u"          ", u"          ", u"          "}, 4, 1},
        {u"\x1b[0J", {u"##########", u"##########", u"##########", u"##########"}, 4, 1},
        {u"\x1b[1J", {u"          ", u"##########", u"##########", u"##########"}, 4, 1},
        {u"\x1b[2J", {u"          ", u"          ", u"          ", u"          "}, 0, 0},
        {u"\x1b[3J", {u"##########", u"##########", u"##########", u"##########"}, 4, 1},
        {u"\x1b[K", {u"##########", u"####      ", u"##########", u"##########"}, 4, 1},
        {u"\x1b[1K", {u"##########", u"     #####", u"##########", u"##########"}, 0, 1},
        {u"\x1b[2K", {u"##########", u"          ", u"##########", u"##########"}, 0, 1},
    };
    for (const Row& r : rows) {
        FakeScreen s;
        EscapeState st;
        st.default_attributes = 0x1E;
        s.x = 4;
        s.y = 1;
        escape(s, r.seq, st);
        std::u16string seq = r.seq;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(s.row(i), std::u16string(r.rows[i])) << std::string(seq.begin() + 1, seq.end()) << " row " << i;
        EXPECT_EQ(s.x, r.to_x);
        EXPECT_EQ(s.y, r.to_y);
        for (size_t i = 0; i < s.cells.size(); ++i)
            if (s.cells[i] == u' ') {
                EXPECT_EQ(s.cell_attributes[i], 0x1E);
            }
    }
}

TEST(ConsoleEscape, TextAttributesFollowTheColourTable) {
    struct Row { const char16_t* seq; uint16_t from, to; };
    const Row rows[] = {
        {u"\x1b[0m", 0x4F, 0x07}, {u"\x1b[m", 0x4F, 0x07}, {u"\x1b[1m", 0x01, 0x89},
        {u"\x1b[4m", 0x07, 0x8007}, {u"\x1b[7m", 0x1E, 0xE1},
        {u"\x1b[31m", 0x17, 0x14},   // red foreground: console bit 4, background kept
        {u"\x1b[34m", 0x17, 0x11},   // blue
        {u"\x1b[33m", 0x0F, 0x0E},   // yellow, brightness kept
        {u"\x1b[39m", 0x10, 0x18},
        {u"\x1b[41m", 0x07, 0x47},   // red background
        {u"\x1b[46m", 0xF7, 0xB7},   // cyan background, bright background bit kept
        {u"\x1b[1;32m", 0x00, 0x8A}, // two codes apply in order
    };
    for (const Row& r : rows) {
        FakeScreen s;
        EscapeState st;
        s.attributes = r.from;
        escape(s, r.seq, st);
        std::u16string seq = r.seq;
        EXPECT_EQ(s.attributes, r.to) << std::string(seq.begin() + 1, seq.end());
    }
}

TEST(ConsoleEscape, SavedCursorComesBackAndUnknownSequencesAreTakenWhole) {
    FakeScreen s;
    EscapeState st;
    s.x = 6; s.y = 2;
    escape(s, u"\x1b[s", st);
    s.x = 0; s.y = 0;
    EXPECT_EQ(escape(s, u"\x1b[u", st), 3u);
    EXPECT_EQ(s.x, 6);
    EXPECT_EQ(s.y, 2);
    EXPECT_EQ(escape(s, u"\x1b[12;3;4zrest", st), 9u);  // unknown final: no effect
    EXPECT_EQ(s.x, 6);
    EXPECT_EQ(escape(s, u"\x1bX", st), 0u);           // not ESC [
    EXPECT_EQ(escape(s, u"\x1b", st), 0u);
}

TEST(ConsoleEscape, ASequenceCutByTheEndOfTheTextIsNotReadPast) {
    FakeScreen s;
    EscapeState st;
    // The text ends inside the parameters: the rest is taken, nothing happens.
    std::u16string text = u"\x1b[12;4Hxyz";
    EXPECT_EQ(console_escape(text.data(), 6, s, st), 6u);
    EXPECT_EQ(s.x, 0);
    EXPECT_EQ(s.y, 0);
    EXPECT_EQ(console_escape(text.data(), 2, s, st), 2u);
}

TEST(ConsoleEscape, QuestionMarkPrintsTheScreenBufferInfo) {
    FakeScreen s;
    s.width = 80; s.height = 25;
    s.cells.assign(80 * 25, u' ');
    EscapeState st;
    EXPECT_EQ(escape(s, u"\x1b[?", st), 3u);
    std::u16string all = s.written();
    EXPECT_EQ(all.find(u"Screen buffer info:"), 0u);
    EXPECT_NE(all.find(u"80 x 25"), std::u16string::npos);
}

// ------------------------------------------------------------------ writers

std::string captured;
void capture_bytes(const void* bytes, size_t n) { captured.append(static_cast<const char*>(bytes), n); }
std::vector<size_t> write_sizes;
void capture_sizes(const void* bytes, size_t n) { write_sizes.push_back(n); capture_bytes(bytes, n); }

// Routes output to a byte sink (redirected) or a fake screen (real console) for one test.
class ConsoleWriters : public testing::Test {
protected:
    FakeScreen screen;
    ConsoleTarget saved{};
    void SetUp() override {
        captured.clear();
        write_sizes.clear();
        saved = console_set_target({nullptr, capture_bytes});
    }
    void TearDown() override { console_set_target(saved); }
    void use_screen() { console_set_target({&screen, capture_bytes}); }
};

TEST_F(ConsoleWriters, RedirectedOutputIsUtf8WithEscapesUnchanged) {
    const uint8_t latin[] = {'c', 'a', 'f', 0xE9, 27, '[', '3', '1', 'm'};
    console_write_text(latin, sizeof latin, 1, false);
    EXPECT_EQ(captured, "caf\xC3\xA9\x1b[31m");

    captured.clear();
    const char16_t wide[] = {u'\u00E9', u'\u20AC', 27, u'[', u'K'};
    console_write_text(wide, sizeof wide, 2, true);
    EXPECT_EQ(captured, std::string("\xC3\xA9\xE2\x82\xAC\x1b[K") + os::NEWLINE);

    // 4-byte text (an emoji) prints; a code point no encoding can carry prints as U+FFFD.
    captured.clear();
    const uint32_t cps[] = {0x1F600, 'a', 0x110000};
    console_write_text(cps, sizeof cps, 4, false);
    EXPECT_EQ(captured, "\xF0\x9F\x98\x80" "a" "\xEF\xBF\xBD");
}

TEST_F(ConsoleWriters, RedirectedOutputIsWrittenInPiecesOfAboutAKilobyte) {
    console_set_target({nullptr, capture_sizes});
    std::string text(3000, 'x');
    console_write_text(text.data(), text.size(), 1, false);
    EXPECT_EQ(captured, text);
    ASSERT_EQ(write_sizes.size(), 3u);
    EXPECT_EQ(write_sizes[0], 1021u);  // written once more than 1,020 are pending
    EXPECT_EQ(write_sizes[1], 1021u);
}

TEST_F(ConsoleWriters, TheRealConsoleGetsUtf16AndInterpretsEscapes) {
    use_screen();
    screen.width = 40;
    screen.cells.assign(40 * 4, u'.');
    const uint32_t text[] = {'a', 27, '[', '3', 'C', 'b', 0x1F600};
    console_write_text(text, sizeof text, 4, true);
    EXPECT_EQ(captured, "");
    ASSERT_EQ(screen.writes.size(), 2u);
    EXPECT_EQ(screen.writes[0], u"a");
    EXPECT_EQ(screen.writes[1], u"b\xD83D\xDE00\r\n");  // a surrogate pair, then CR LF
    EXPECT_EQ(screen.row(0).substr(0, 6), u"a...b\xD83D");

    // For 2-byte units only a whole unit of 27 starts a sequence.
    screen.writes.clear();
    const char16_t wide[] = {0x011B, u'['};
    console_write_text(wide, sizeof wide, 2, false);
    EXPECT_EQ(screen.written(), u"\u011B[");
}

TEST_F(ConsoleWriters, LongConsoleTextGoesOutInRunsOf510Units) {
    use_screen();
    std::u16string text(1200, u'y');
    text[509] = 0xD83D;  // a pair across the 510 boundary stays in one run
    text[510] = 0xDE00;
    std::u32string cps;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 509) { cps.push_back(0x1F600); ++i; continue; }
        cps.push_back(text[i]);
    }
    console_write_utf32(reinterpret_cast<const uint32_t*>(cps.data()), cps.size());
    ASSERT_EQ(screen.writes.size(), 3u);
    EXPECT_EQ(screen.writes[0].size(), 511u);
    EXPECT_EQ(screen.writes[1].size(), 510u);
    EXPECT_EQ(screen.written(), text);
}

TEST_F(ConsoleWriters, CStringsAreDecodedAsUtf8OnTheConsole) {
    use_screen();
    console_print_cstring("\xC3\xA9t\xC3\xA9 \xF0\x9F\x98\x80 \xFF!");
    EXPECT_EQ(screen.written(), u"\u00E9t\u00E9 \xD83D\xDE00 \uFFFD!");
}

TEST(ConsoleWritersDeathTest, AUnitSizeOtherThan124IsError101) {
    const char text[6] = "abcde";
    EXPECT_EXIT(console_write_text(text, 6, 3, false), testing::ExitedWithCode(101),
                "Runtime Error 101: no value matched in SWITCH");
}

// ------------------------------------------------------------------ hooks and printers

std::vector<int> hook_calls;
std::string hooked_text;
template <int N> void value_hook(const Cell*, bool) { hook_calls.push_back(N); }
void text_hook(const char* utf8, size_t n, bool) { hooked_text.append(utf8, n); }

TEST_F(ConsoleWriters, ASixthHookGrowsTheTableToTenAndRunsAfterTheFirstFive) {
    print_hook_tables_init();
    hook_calls.clear();
    register_output_hooks(value_hook<1>, nullptr);
    register_output_hooks(value_hook<2>, nullptr);
    register_output_hooks(value_hook<3>, nullptr);
    register_output_hooks(value_hook<4>, nullptr);
    register_output_hooks(value_hook<5>, nullptr);
    EXPECT_EQ(value_print_hooks_state().capacity, 5u);
    register_output_hooks(value_hook<6>, nullptr);
    EXPECT_EQ(value_print_hooks_state().count, 6u);
    EXPECT_EQ(value_print_hooks_state().capacity, 10u);
    EXPECT_EQ(text_output_hooks_state().count, 0u);
    Cell v;
    set_none(&v);
    call_print_hooks(&v, true);
    EXPECT_EQ(hook_calls, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    print_hook_tables_init();
}

TEST_F(ConsoleWriters, NumberPrintersWriteTheirTextAndCallTheTextHooks) {
    print_hook_tables_init();
    hooked_text.clear();
    register_output_hooks(nullptr, text_hook);
    struct Row { void (*print)(); const char* text; };
    const Row rows[] = {
        {[] { console_print_integer(-2147483647 - 1); }, "-2147483648"},
        {[] { console_print_byte_hex(0x0A); }, "0A"},
        {[] { console_print_hex32(0xBEEF); }, "0000BEEF"},
        {[] { console_print_float64(0.1); }, "0.1"},
        {[] { console_print_float64(1.0 / 3.0); }, "0.3333333333333333"},
        {[] { console_print_float64(123456789012345678.0); }, "1.234567890123457e+17"},
        {[] { console_print_float64(1e-5); }, "1e-05"},
        {[] { console_print_float64(-0.0); }, "-0"},
        {[] { console_print_float32(0.1f); }, "0.1"},
        {[] { console_print_float32(16777217.0f); }, "1.677722e+07"},
    };
    for (const Row& r : rows) {
        captured.clear();
        hooked_text.clear();
        r.print();
        EXPECT_EQ(captured, r.text);
        EXPECT_EQ(hooked_text, r.text);
    }
    print_hook_tables_init();
}

TEST_F(ConsoleWriters, TypedPrintSpacesItemsUnlessOneEndsInABlank) {
    sys_print_typed({PrintItem(true), PrintItem(int32_t(42)), PrintItem("x "), PrintItem('c'),
                     PrintItem::hex32(0xFF), PrintItem(2.5)}, true);
    EXPECT_EQ(captured, "true 42 x c 000000FF 2.5");
    captured.clear();
    sys_print_line({PrintItem("n="), PrintItem(int32_t(7)), PrintItem(false)});
    EXPECT_EQ(captured, "n=7false\n");
}

}  // namespace
}  // namespace tev

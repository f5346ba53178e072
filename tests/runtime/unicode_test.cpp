// UTF-8 / UTF-16LE codecs and widening: the loaders' edge cases and the mended faults.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/unicode.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {
std::vector<uint8_t> bytes(std::initializer_list<int> b) { return std::vector<uint8_t>(b.begin(), b.end()); }

// Loads into a pushed string! cell.
Cell* load8(const std::vector<uint8_t>& b, uint32_t* rest = nullptr, bool cr = false) {
    Cell* c = stack_push();
    set_series(c, T_STRING, string_load_utf8(b.data(), uint32_t(b.size()), 0, rest, cr));
    return c;
}
uint32_t unit_of(const Cell* c) { return node_buffer(series_node(c))->unit(); }
std::vector<uint32_t> points(const Cell* c) {
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < string_length(c); ++i) out.push_back(string_char_at(c, i));
    return out;
}
template <class F> uint32_t error_of(F f) {
    try { f(); } catch (const LanguageThrow&) { return last_error_code(); }
    return 0;
}
}  // namespace

TEST(Utf8Load, LoadsTextAndReportsCutSequences) {
    StackScope scope;
    uint32_t rest = 99;
    Cell* bom = load8(bytes({0xEF, 0xBB, 0xBF}), &rest);
    EXPECT_EQ(string_length(bom), 0u);
    EXPECT_EQ(rest, 0u);
    Cell* cut = load8(bytes({0x61, 0xC3}), &rest);
    EXPECT_EQ(points(cut), std::vector<uint32_t>{0x61});
    EXPECT_EQ(rest, 1u);
    Cell* bom_a = load8(bytes({0xEF, 0xBB, 0xBF, 0x41}), &rest);
    EXPECT_EQ(string_to_utf8(bom_a), "A");
    Cell* high = load8(bytes({0xED, 0xA0, 0x80}));  // a high surrogate in UTF-8 is accepted
    EXPECT_EQ(points(high), std::vector<uint32_t>{0xD800});
}

TEST(Utf8Load, RejectsMalformedInputIncludingOverlongAscii) {
    const std::vector<std::vector<uint8_t>> bad = {
        bytes({0xC3, 0x28}), bytes({0xED, 0xB0, 0x80}), bytes({0xC0, 0x80}), bytes({0xC0, 0xAF}),
        bytes({0xE0, 0x80, 0xAF}), bytes({0xF0, 0x80, 0x80, 0xAF}), bytes({0x80}), bytes({0xF8, 0x80}),
        bytes({0xF4, 0x90, 0x80, 0x80}),
    };
    for (const auto& b : bad) {
        StackScope scope;
        EXPECT_EQ(error_of([&] { load8(b); }), err::access::invalid_utf8.code) << int(b[0]) << " " << int(b[1]);
    }
}

TEST(Utf8Load, CrFlagTurnsCrLfAndLoneCrIntoLf) {
    StackScope scope;
    Cell* with = load8(bytes({'a', '\r', '\n', 'b', '\r', 'c', '\r'}), nullptr, true);
    EXPECT_EQ(string_to_utf8(with), "a\nb\nc\n");
    Cell* without = load8(bytes({'a', '\r', '\n', 'b', '\r'}), nullptr, false);
    EXPECT_EQ(string_to_utf8(without), "a\r\nb\r");
}

TEST(Utf8Load, PicksTheNarrowestUnitForItsContent) {
    StackScope scope;
    Cell* e = load8(bytes({0xC3, 0xA9}));
    EXPECT_EQ(unit_of(e), 1u);
    Cell* euro = load8(bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC}));
    EXPECT_EQ(unit_of(euro), 2u);
    EXPECT_EQ(points(euro), (std::vector<uint32_t>{0xE9, 0x20AC}));
    Cell* smile = load8(bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}));
    EXPECT_EQ(unit_of(smile), 4u);
    EXPECT_EQ(points(smile), (std::vector<uint32_t>{0xE9, 0x20AC, 0x1F600}));
}

TEST(Widening, AppendingWiderCharactersKeepsContent) {
    StackScope scope;
    Cell* s = string_push(2);
    string_append_cstr(s, "ab");
    EXPECT_EQ(unit_of(s), 1u);
    string_append_codepoint(s, 0xE9);
    EXPECT_EQ(unit_of(s), 2u);
    string_append_codepoint(s, 0x20AC);
    EXPECT_EQ(unit_of(s), 2u);
    string_append_codepoint(s, 0x1F600);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(points(s), (std::vector<uint32_t>{'a', 'b', 0xE9, 0x20AC, 0x1F600}));
    // Writing over a position keeps Latin-1 in unit 1.
    Cell* t = string_push(2);
    string_append_cstr(t, "xy");
    string_poke_char(series_node(t), 0, 0xE9);
    EXPECT_EQ(unit_of(t), 1u);
    string_poke_char(series_node(t), 1, 0x3A9);
    EXPECT_EQ(unit_of(t), 2u);
    EXPECT_EQ(points(t), (std::vector<uint32_t>{0xE9, 0x3A9}));
}

TEST(Utf16, LoadsPairsAndKeepsUnpairedSurrogates) {
    StackScope scope;
    struct Row { std::vector<uint8_t> in; std::vector<uint32_t> out; uint32_t unit; };
    const Row rows[] = {
        {bytes({0x41, 0}), {0x41}, 1},
        {bytes({0x3D, 0xD8, 0x00, 0xDE}), {0x1F600}, 4},
        {bytes({0x00, 0xDC}), {0xDC00}, 4},                          // lone low surrogate
        {bytes({0x3D, 0xD8, 0x41, 0x00}), {0xD83D, 0x41}, 4},        // high surrogate, then no low one
        {bytes({0x41, 0x00, 0x3D, 0xD8}), {0x41, 0xD83D}, 4},        // high surrogate at the end
        {bytes({0xAC, 0x20, 0x0D, 0x00, 0x0A, 0x00}), {0x20AC, 0x0D, 0x0A}, 2},
    };
    for (const Row& r : rows) {
        Cell* c = stack_push();
        set_series(c, T_STRING, string_load_utf16(r.in.data(), uint32_t(r.in.size() / 2), nullptr, false));
        EXPECT_EQ(points(c), r.out);
        EXPECT_EQ(unit_of(c), r.unit);
    }
    std::vector<uint8_t> crlf = bytes({'a', 0, '\r', 0, '\n', 0});
    Cell* c = stack_push();
    set_series(c, T_STRING, string_load_utf16(crlf.data(), 3, nullptr, true));
    EXPECT_EQ(string_to_utf8(c), "a\n");
}

TEST(Utf16, EncodesPairsCrLfAndRefusesEmbeddedZero) {
    StackScope scope;
    Cell* s = string_push(4);
    string_append_codepoint(s, 0x10000);
    string_append_codepoint(s, '\n');
    int32_t count = -1;
    const uint16_t* u = string_to_utf16(s, &count, true);
    ASSERT_NE(u, nullptr);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(u[0], 0xD800);
    EXPECT_EQ(u[1], 0xDC00);
    EXPECT_EQ(u[2], '\r');
    EXPECT_EQ(u[3], '\n');
    EXPECT_EQ(u[4], 0);
    Cell* z = string_push(4);
    string_append_cstr(z, "a");
    string_append_codepoint(z, 0);
    string_append_cstr(z, "b");
    EXPECT_EQ(error_of([&] { int32_t n = -1; string_to_utf16(z, &n, false); }), err::script::invalid_arg.code);
    EXPECT_EQ(error_of([&] { string_to_utf8_os(z); }), err::script::invalid_arg.code);
    Cell* big = string_push(4);
    string_append_codepoint(big, 0x110000);
    count = -1;
    EXPECT_EQ(string_to_utf16(big, &count, false), nullptr);
}

TEST(Utf8Encode, ConvertsCountsAndWritesWholeSequencesOnly) {
    StackScope scope;
    Cell* s = string_push(8);
    string_append_utf8(s, "h\xC3\xA9llo", 6);
    int32_t count = 2;
    const char* u = string_to_utf8(s, &count);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(std::string(u), "h\xC3\xA9");
    count = -1;
    EXPECT_STREQ(string_to_utf8_ex(s, &count, false), "h\xC3\xA9llo");
    uint8_t out[8];
    std::memset(out, 0xFF, sizeof out);
    EXPECT_EQ(string_write_utf8_limited(s, out, 2, 0, true), 1u);  // é needs 2 bytes after h: not cut
    EXPECT_EQ(out[0], 'h');
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(utf8_encode_char_limited(0x20AC, out, 2), 0);
    EXPECT_EQ(error_of([&] { utf8_encode_char(0x110000, out); }), err::script::invalid_char.code);
}

TEST(Utf8Scan, StepsAndCountsSequences) {
    auto b = bytes({0xC3, 0x41});
    int32_t cp;
    const uint8_t* p = utf8_next_char(b.data(), b.data() + b.size(), &cp);
    EXPECT_EQ(cp, -1);
    EXPECT_EQ(p, b.data() + 2);
    auto cut = bytes({0xE2, 0x82});  // never read past the end
    p = utf8_next_char(cut.data(), cut.data() + cut.size(), &cp);
    EXPECT_EQ(cp, -1);
    EXPECT_LE(p, cut.data() + cut.size());
    auto text = bytes({'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80});
    EXPECT_EQ(utf8_count_chars(text.data(), text.data() + text.size()), 4u);
    EXPECT_EQ(utf8_skip_chars(text.data(), text.data() + text.size(), 2), text.data() + 3);
    uint32_t none = 0;
    EXPECT_EQ(utf8_decode_char(text.data(), &none), -1);  // nothing available: nothing read
    EXPECT_EQ(utf8_seq_length(0x41), 0);
    EXPECT_EQ(utf8_seq_length(0x80), 0);
    EXPECT_EQ(utf8_seq_length(0xC3), 2);
    EXPECT_EQ(utf8_seq_length(0xE2), 3);
    EXPECT_EQ(utf8_seq_length(0xF0), 4);
}

TEST(StringLoad, DecodesByEncodingAndRefusesUnknownOnes) {
    StackScope scope;
    auto b = bytes({0xEF, 0xBB, 0xBF, 0x41});
    EXPECT_EQ(string_to_utf8(string_load(b.data(), 4, nullptr, 0)), "A");
    auto w = bytes({0x41, 0x00});
    EXPECT_EQ(string_to_utf8(string_load(w.data(), 1, nullptr, -1)), "A");
    EXPECT_EQ(error_of([&] { string_load(b.data(), 4, nullptr, 1); }), err::script::invalid_arg.code);
}

// The ASCII run ends at the first high byte wherever it falls: inside a
// sixteen-byte step, at its edges and in the tail after the last step.
TEST(AsciiRun, EndsAtTheFirstHighByteAtEveryOffset) {
    for (size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 50u}) {
        std::vector<uint8_t> text(length, 'a');
        EXPECT_EQ(ascii_run_end(text.data(), text.data() + length), text.data() + length) << length;
        for (size_t at = 0; at < length; ++at) {
            for (uint8_t high : {uint8_t(0x80), uint8_t(0xE9), uint8_t(0xFF)}) {
                std::vector<uint8_t> t = text;
                t[at] = high;
                if (at + 1 < length) t[length - 1] = 0xC3;  // a later high byte does not count
                EXPECT_EQ(ascii_run_end(t.data(), t.data() + length), t.data() + at) << length << " " << at;
            }
        }
    }
}

// Text with one-byte units becomes UTF-8 the same whether its non-ASCII
// characters fall in the first sixteen bytes, across a step or near the end.
TEST(AsciiRun, OneByteTextToUtf8AroundStepEdges) {
    StackScope scope;
    for (size_t at : {0u, 7u, 15u, 16u, 17u, 32u, 39u}) {
        std::string latin(40, 'x'), expected(40, 'x');
        latin[at] = char(0xE9);
        expected.replace(at, 1, "\xC3\xA9");
        Cell* str = stack_push();
        set_series(str, T_STRING,
                   string_load_utf8(reinterpret_cast<const uint8_t*>(expected.data()), uint32_t(expected.size()), 0,
                                    nullptr, false));
        EXPECT_EQ(unit_of(str), 1u);
        EXPECT_EQ(string_to_utf8(str), expected) << at;
    }
}

// Loading takes ASCII sixteen bytes a step: what ends a run (a two- or
// three-byte character, CR LF, a lone CR, a bad byte) loads the same at every
// place around a step's edges, with and without CR handling.
TEST(AsciiRun, LoadingAroundStepEdges) {
    StackScope scope;
    struct Insert { std::vector<uint8_t> bytes; std::vector<uint32_t> plain, cr; };
    const Insert inserts[] = {
        {{0xC3, 0xA9}, {0xE9}, {0xE9}},
        {{0xE2, 0x82, 0xAC}, {0x20AC}, {0x20AC}},
        {{'\r', '\n'}, {'\r', '\n'}, {'\n'}},
        {{'\r'}, {'\r'}, {'\n'}},
    };
    for (const Insert& ins : inserts) {
        for (size_t at : {0u, 7u, 15u, 16u, 17u, 31u, 32u, 33u, 47u}) {
            std::vector<uint8_t> text(48, 'q');
            text.insert(text.begin() + long(at), ins.bytes.begin(), ins.bytes.end());
            for (bool cr : {false, true}) {
                std::vector<uint32_t> expected(at, 'q');
                const std::vector<uint32_t>& middle = cr ? ins.cr : ins.plain;
                expected.insert(expected.end(), middle.begin(), middle.end());
                expected.insert(expected.end(), 48 - at, 'q');
                EXPECT_EQ(points(load8(text, nullptr, cr)), expected) << at << " cr " << cr;
            }
        }
    }
    for (size_t at : {0u, 15u, 16u, 17u, 40u}) {
        std::vector<uint8_t> text(48, 'q');
        text[at] = 0xFF;
        EXPECT_EQ(error_of([&] { load8(text); }), err::access::invalid_utf8.code) << at;
    }
}

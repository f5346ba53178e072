// The lexer: text becomes values, syntax errors name the line, hooks see and steer every token.
#include <gtest/gtest.h>
#include <cmath>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

// ------------------------------------------------------------------ a structural printer
// Mold-like text for the values the lexer makes, written here so that the tests
// do not depend on every datatype's mold.

std::string describe(const Cell* v);

std::string describe_list(const Cell* list, const char* open, const char* sep, const char* close) {
    std::string s = open;
    uint32_t n = block_length(list);
    for (uint32_t i = 0; i < n; ++i) {
        if (i) s += sep;
        s += describe(block_at(list, i));
    }
    return s + close;
}

std::string word_text(const Cell* v) { return symbol_text(int32_t(v->w2)); }

std::string describe(const Cell* v) {
    switch (cell_type(v)) {
    case T_INTEGER: return std::to_string(get_integer(v));
    case T_FLOAT: {
        char text[FLOAT_TEXT_MAX];
        float_to_text(get_float(v), 0, true, text);
        return std::string("f:") + text;
    }
    case T_TIME: {
        char text[FLOAT_TEXT_MAX];
        float_to_text(get_float(v), 0, true, text);
        return std::string("t:") + text;
    }
    case T_STRING: return "\"" + string_to_utf8(v) + "\"";
    case T_FILE: return "%" + string_to_utf8(v);
    case T_URL: return "url:" + string_to_utf8(v);
    case T_CHAR: {
        uint32_t cp = get_char(v);
        if (cp < 0x20) return "#^" + std::to_string(cp);
        std::string s = "#\"";
        if (cp < 0x80) s += char(cp);
        else s += "U+" + std::to_string(cp);
        return s + "\"";
    }
    case T_WORD: return word_text(v);
    case T_SET_WORD: return word_text(v) + ":";
    case T_GET_WORD: return ":" + word_text(v);
    case T_LIT_WORD: return "'" + word_text(v);
    case T_REFINEMENT: return "/" + word_text(v);
    case T_ISSUE: return "#" + word_text(v);
    case T_BLOCK: return describe_list(v, "[", " ", "]");
    case T_PAREN: return describe_list(v, "(", " ", ")");
    case T_PATH: return describe_list(v, "", "/", "");
    case T_LIT_PATH: return describe_list(v, "'", "/", "");
    case T_GET_PATH: return describe_list(v, ":", "/", "");
    case T_SET_PATH: return describe_list(v, "", "/", ":");
    case T_LOGIC: return get_logic(v) ? "#(true)" : "#(false)";
    case T_NONE: return "#(none)";
    case T_UNSET: return "#(unset)";
    case T_DATATYPE: return "#(type " + std::to_string(int(get_datatype(v))) + ")";
    default: return "?" + std::to_string(int(cell_type(v)));
    }
}

TranscodeResult transcode_text(Cell* out, const std::string& text, const TranscodeOptions& options = {}) {
    return transcode_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), options);
}

std::string load_text(const std::string& text) {
    StackScope scope;
    Cell* out = stack_push();
    transcode_text(out, text);
    return describe(out);
}

// Loads text with a hook and describes the result.
std::string load_hooked(const std::string& text, LexHook& hook, TranscodeResult* result = nullptr) {
    StackScope scope;
    Cell* out = stack_push();
    TranscodeOptions o;
    o.hook = &hook;
    TranscodeResult r = transcode_text(out, text, o);
    if (result) *result = r;
    return describe(out);
}

struct Raised {
    uint32_t code = 0;
    std::string args[3];
};

// Loads text that must fail; the error's code and its arguments formed plainly.
Raised load_error(const std::string& text) {
    Raised r;
    StackScope scope;
    Cell* out = stack_push();
    try {
        transcode_text(out, text);
        ADD_FAILURE() << "no error for: " << text;
    } catch (LanguageThrow&) {
        r.code = last_error_code();
        const Cell* args = last_error_args();
        for (int i = 0; i < 3; ++i) {
            const Cell* a = &args[i];
            if (cell_is(a, T_STRING)) r.args[i] = string_to_utf8(a);
            else if (cell_is(a, T_CHAR)) r.args[i] = std::string(1, char(get_char(a)));
            else if (cell_is(a, T_DATATYPE)) r.args[i] = "type " + std::to_string(int(get_datatype(a)));
            else r.args[i] = describe(a);
        }
    }
    return r;
}

// ------------------------------------------------------------------ loading

struct Case { const char* text; const char* expected; };

TEST(Lexer, LoadsEachLiteralFormIntoItsValue) {
    const Case cases[] = {
        {"", "[]"},
        {"  ; only a comment\n\t; and another\n", "[]"},
        {"a\xC2\xA0" "b", "[a b]"},
        {"\xC2\xA0\xE3\x80\x80", "[]"},
        {"1 -2 +3", "[1 -2 3]"},
        {"2147483647 -2147483648", "[2147483647 -2147483648]"},
        {"2147483648", "[f:2147483648.0]"},
        {"-2147483649", "[f:-2147483649.0]"},
        {"1'000'000 1'", "[1000000 1]"},
        {"FFh 0Fh FFFFFFFFh 7h", "[255 15 -1 7]"},
        {"1.5 1e3 .5 -1.5e-3 1'0.5", "[f:1.5 f:1000.0 f:0.5 f:-0.0015 f:10.5]"},
        {"1.#INF -1.#inf 1.#NaN", "[f:1.#INF f:-1.#INF f:1.#NaN]"},
        {"12:30 1:30.5 -1:00 1:2:3.5", "[t:45000.0 t:90.5 t:-3600.0 t:3723.5]"},
        {"a b: :c 'd /e #f", "[a b: :c 'd /e #f]"},
        {"/ // /: :/ '/", "[/ // /: :/ '/]"},
        {"+ - -- <= >= <> = ==", "[+ - -- <= >= <> = ==]"},
        {"a/b :a/b 'a/b a/b:", "[a/b :a/b 'a/b a/b:]"},
        {"a/1/(c d)/\"s\"/:e/'f", "[a/1/(c d)/\"s\"/:e/'f]"},
        {"[a/b]", "[[a/b]]"},
        {"%a %\"a b\" %a%20b %a^b", "[%a %a b %a b %a^b]"},
        {"http://x.com/a%20b?q=1 mailto:a", "[url:http://x.com/a b?q=1 url:mailto:a]"},
        {"#\"a\" #\"^(00)\" #\"^/\" #\"^(tab)\" #\"^\"\" #\"^A\"", "[#\"a\" #^0 #^10 #^9 #\"\"\" #^1]"},
        {"\"a^(line)b^-c\" \"^^\"", "[\"a\nb\tc\" \"^\"]"},
        {"{a {b} c} {x^}y}", "[\"a {b} c\" \"x}y\"]"},
        {"%{raw ^/ {}%", "[\"raw ^/ {\"]"},
        {"%%{a}b}%%", "[\"a}b\"]"},
        {"#(true) #(false) #(none) #(unset)", "[#(true) #(false) #(none) #(unset)]"},
        {"[1 [2] (3)] ()", "[[1 [2] (3)] ()]"},
        {"a;comment\nb", "[a b]"},
    };
    for (const Case& c : cases) {
        try {
            EXPECT_EQ(load_text(c.text), c.expected) << "text: " << c.text;
        } catch (LanguageThrow&) {
            ADD_FAILURE() << "error " << last_error_code() << " for: " << c.text;
        }
    }
}

TEST(Lexer, WidensStringsToTheirWidestCharacter) {
    const struct { const char* text; uint32_t unit; uint32_t last; } cases[] = {
        {"\"abc\"", 1, 'c'},
        {"\"a^(E9)\"", 1, 0xE9},
        {"\"a\xC3\xA9\"", 2, 0xE9},
        {"\"a^(1F600)\"", 4, 0x1F600},
        {"\"\xF0\x9F\x98\x80\"", 4, 0x1F600},
        {"{a^(263A)}", 2, 0x263A},
    };
    for (const auto& c : cases) {
        StackScope scope;
        Cell* out = stack_push();
        transcode_text(out, c.text);
        ASSERT_EQ(block_length(out), 1u) << c.text;
        Cell* s = stack_push_copy(block_at(out, 0));
        EXPECT_EQ(node_buffer(series_node(s))->unit(), c.unit) << c.text;
        EXPECT_EQ(string_char_at(s, string_length(s) - 1), c.last) << c.text;
    }
}

TEST(Lexer, MarksValuesThatFollowALineFeed) {
    StackScope scope;
    Cell* out = stack_push();
    const char* text = "a b\n c [\nd] {\ne}\r\n\"f\" ;x\ng";
    transcode_text(out, text);
    ASSERT_EQ(block_length(out), 7u);
    const bool expected[] = {false, false, true, false, false, true, true};
    for (uint32_t i = 0; i < 7; ++i)
        EXPECT_EQ(cell_has_flag(block_at(out, i), FLAG_NEW_LINE), expected[i]) << "value " << i;
    Cell* inner = stack_push_copy(block_at(out, 3));
    EXPECT_TRUE(cell_has_flag(block_at(inner, 0), FLAG_NEW_LINE));  // d
}

// Cells are gathered outside the heap and copied once a block closes: each
// block costs one buffer, whatever it holds.
TEST(Lexer, EachBlockCostsOneAllocation) {
    bool enabled = collector_enabled, torture = gc_torture;
    collector_enabled = gc_torture = false;  // count nodes, collect nothing
    const struct { std::string text; uint32_t nodes; } cases[] = {
        {"", 1},
        {"1 2 3 4 5 6 7 8 9 10 1.5 #\"a\" 12:00", 1},
        {[] { std::string s; for (int i = 0; i < 5000; ++i) s += "123 "; return s; }(), 1},
        {"[1 2] (3) [[]]", 5},
    };
    for (const auto& c : cases) {
        StackScope scope;
        Cell* out = stack_push();
        uint32_t before = memory_stats().nodes_used;
        transcode_text(out, c.text);
        EXPECT_EQ(memory_stats().nodes_used - before, c.nodes) << c.text.substr(0, 40);
    }
    collector_enabled = enabled;
    gc_torture = torture;
}

TEST(Lexer, ConstructionNamesRegisteredDatatypes) {
    if (!type_names[T_INTEGER].name) GTEST_SKIP() << "integer! is not registered in this build";
    EXPECT_EQ(load_text("#(integer!) #(integer)"), "[#(type 11) #(type 11)]");
}

// ------------------------------------------------------------------ errors

TEST(Lexer, SyntaxErrorsNameTheLineTheKindAndTheText) {
    const struct { const char* text; TypeId type; } type_cases[] = {
        {"1''0", T_INTEGER},
        {"{a", T_STRING},
        {"{a {b}", T_STRING},
        {"\"abc", T_STRING},
        {"#\"ab\"", T_CHAR},
        {"#\"\"", T_CHAR},
        {"\"^(110000)\"", T_STRING},
        {"#\"^(110000)\"", T_CHAR},
        {"\"^(12345678)\"", T_STRING},
        {"\"\x80\"", T_STRING},
        {"\"\xED\xA0\x80\"", T_STRING},
        {"[1, 2]", T_POINT2D},
        {"a/", T_PATH},
        {"a/b/", T_PATH},
        {"a/:", T_WORD},
        {"a/b:/c", T_PATH},
        {"a/ b", T_PATH},
        {"Ah", T_INTEGER},
        {"-1h", T_INTEGER},
        {"1:2:3:4", T_TIME},
        {"'a:", T_WORD},
        {"#", T_ISSUE},
        {"1.#INFX", T_FLOAT},
        {"1e", T_FLOAT},
        {"%{a}%%", T_STRING},
    };
    for (const auto& c : type_cases) {
        Raised r = load_error(c.text);
        EXPECT_EQ(r.code, err::syntax::invalid.code) << c.text;
        EXPECT_EQ(r.args[1], "type " + std::to_string(int(c.type))) << c.text;
    }
    Raised r = load_error("a\nb\n  c 1''0 d");
    EXPECT_EQ(r.args[0], "(line 3)");
    EXPECT_EQ(r.args[2], "1''0 d");
}

TEST(Lexer, MissingBracketsNameTheOtherBracket) {
    const struct { const char* text; const char* missing; const char* line; } cases[] = {
        {"[1 2", "]", "(line 1)"},
        {"1 2]", "[", "(line 1)"},
        {"a\n(1 2", ")", "(line 2)"},
        {"(1 2]", ")", "(line 1)"},
        {"[1 (2]", ")", "(line 1)"},
        {"\n\n)", "(", "(line 3)"},
    };
    for (const auto& c : cases) {
        Raised r = load_error(c.text);
        EXPECT_EQ(r.code, err::syntax::missing.code) << c.text;
        EXPECT_EQ(r.args[0], c.line) << c.text;
        EXPECT_EQ(r.args[1], c.missing) << c.text;
    }
}

TEST(Lexer, OtherSyntaxErrors) {
    EXPECT_EQ(load_error("#(foo)").code, err::syntax::malconstruct.code);
    EXPECT_EQ(load_error("a } b").code, err::syntax::bad_char.code);
    EXPECT_EQ(load_error("a \xFF").code, err::syntax::bad_char.code);
}

TEST(Lexer, ErrorTextIsCutAtACharacterBoundary) {
    // 29 ASCII bytes then a 2-byte character across the 30-byte limit.
    std::string text = "1''" + std::string(26, '0') + "\xC3\xA9" + "000";
    Raised r = load_error(text);
    EXPECT_EQ(r.args[2], text.substr(0, 29));
}

// ------------------------------------------------------------------ options and events

TEST(Lexer, OneStopsAfterTheFirstCompleteValue) {
    StackScope scope;
    Cell* out = stack_push();
    TranscodeOptions one;
    one.one = true;
    one.wrap = false;
    const char* text = "  [a b] c";
    TranscodeResult r = transcode_text(out, text, one);
    EXPECT_EQ(describe(out), "[a b]");
    EXPECT_EQ(r.consumed, 7u);
    EXPECT_EQ(r.type, T_BLOCK);
}

TEST(Lexer, ScanningClassifiesWithoutMakingValues) {
    const struct { const char* text; LexMode mode; TypeId type; } cases[] = {
        {"123 abc", LexMode::scan, T_INTEGER},
        {"[1 2] 3", LexMode::scan, T_BLOCK},
        {"a/b c", LexMode::scan, T_PATH},
        {"1''0", LexMode::scan, T_ERROR},
        {"1''0", LexMode::prescan, T_INTEGER},
        {"1.2.3", LexMode::prescan, T_TUPLE},
        {"  ", LexMode::scan, T_NONE_ID},
    };
    for (const auto& c : cases) {
        StackScope scope;
        Cell* out = stack_push();
        TranscodeOptions o;
        o.mode = c.mode;
        TranscodeResult r = transcode_text(out, c.text, o);
        EXPECT_EQ(r.type, c.type) << c.text;
        EXPECT_TRUE(cell_is(out, T_UNSET)) << c.text;
    }
}

// Binary, pair, tuple, percent, tag, email and ref tokens are checked in full
// even while their datatypes are missing.
TEST(Lexer, ChecksLiteralFormsInScanMode) {
    const struct { const char* text; TypeId type; } cases[] = {
        {"#{0A0b}", T_BINARY},
        {"#{0A 0b ; note\n 1F}", T_BINARY},
        {"#{0A0}", T_ERROR},
        {"64#{SGVsbG8=}", T_BINARY},
        {"64#{SGVsbG8}", T_ERROR},
        {"2#{00000001}", T_BINARY},
        {"2#{0000000}", T_ERROR},
        {"8#{00}", T_ERROR},
        {"1x2", T_PAIR},
        {"-2147483648x2147483647", T_PAIR},
        {"2147483648x1", T_ERROR},
        {"1x99999999999", T_ERROR},
        {"1.5x2", T_ERROR},
        {"1.2.3", T_TUPLE},
        {"1.2.256", T_ERROR},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", T_ERROR},
        {"12% 1.5e2%", T_PERCENT},
        {"<a b=\"c\">", T_TAG},
        {"a@b.c", T_EMAIL},
        {"@ref", T_REF},
        {"$1'000.50 -USD$12 EUR$0.12345", T_MONEY},
        {"$1''0", T_ERROR},
        {"$1.123456", T_ERROR},
        {"$123456789012345678", T_ERROR},
        {"AB$1", T_ERROR},
        {"1-Jan-2000", T_DATE},
        {"2000-01-01", T_DATE},
        {"1/1/2000", T_DATE},
        {"29-Feb-2000", T_DATE},
        {"29-Feb-2001", T_ERROR},
        {"31-Apr-2000", T_ERROR},
        {"1-Foo-2000", T_ERROR},
        {"1-Ja-2000", T_ERROR},
        {"1-september-99", T_DATE},
        {"2000-W01-1", T_DATE},
        {"2000-W54", T_ERROR},
        {"2000-123", T_DATE},
        {"2000-000", T_ERROR},
        {"2001-366", T_ERROR},
        {"1-Jan-2000/10:30", T_DATE},
        {"1-Jan-2000/10:30:15.5+2:00", T_DATE},
        {"2000-01-01T10:00Z", T_DATE},
        {"20000101T1000Z", T_DATE},
        {"20000101T103015.5+0530", T_DATE},
        {"1-Jan-2000/24:00", T_ERROR},
        {"1-Jan-2000/10:30+16", T_ERROR},
        {"1-Jan-2000x", T_ERROR},
        {"(1, 2)", T_POINT2D},
        {"( 1.5 ,2e3,\t-3 )", T_POINT2D},
        {"(1, 1.#INF)", T_POINT2D},
        {"(1, 2, 3, 4)", T_ERROR},
        {"(1, ,2)", T_ERROR},
        {"(1e, 2)", T_ERROR},
    };
    for (const auto& c : cases) {
        StackScope scope;
        Cell* out = stack_push();
        TranscodeOptions o;
        o.mode = LexMode::scan;
        EXPECT_EQ(int(transcode_text(out, c.text, o).type), int(c.type)) << c.text;
    }
}

struct Recorder {
    std::vector<std::string> events;
    bool error_answer = false;
    int move_to = -1;  // on the first error, move the input here
    static bool call(void* ctx, LexEventInfo& info) {
        auto* self = static_cast<Recorder*>(ctx);
        const char* names[] = {"prescan", "scan", "load", "open", "close", "error"};
        int bit = __builtin_ctz(uint32_t(info.event));
        std::string e = names[bit];
        e += " " + std::to_string(info.start) + "-" + std::to_string(info.end);
        if (info.value) e += " " + describe(info.value);
        self->events.push_back(e);
        if (info.event == LEX_ERROR) {
            if (self->move_to >= 0) { info.index = uint32_t(self->move_to); self->move_to = -1; }
            return self->error_answer;
        }
        return true;
    }
};

TEST(Lexer, HookSeesEveryStepInOrder) {
    Recorder rec;
    LexHook hook{&Recorder::call, &rec, LEX_ALL_EVENTS};
    EXPECT_EQ(load_hooked("[a] ;c", hook), "[[a]]");
    const std::vector<std::string> expected = {
        "prescan 1-2", "open 1-2", "prescan 2-3", "scan 2-3", "load 2-3 a",
        "prescan 3-4", "close 3-4", "prescan 5-7", "scan 5-7", "prescan 7-7",
    };
    EXPECT_EQ(rec.events, expected);
}

TEST(Lexer, AFalseAnswerToTheErrorEventLetsLoadingGoOn) {
    Recorder rec;
    LexHook hook{&Recorder::call, &rec, LEX_ERROR};
    EXPECT_EQ(load_hooked("a 1''0 b } c [d", hook), "[a b c [d]]");
    EXPECT_EQ(rec.events.size(), 3u);
}

TEST(Lexer, AHookMayMoveTheInputButOnlyWithinIt) {
    Recorder rec;
    rec.move_to = 1000000;
    LexHook hook{&Recorder::call, &rec, LEX_ERROR};
    TranscodeResult r;
    EXPECT_EQ(load_hooked("a } b c", hook, &r), "[a]");
    EXPECT_EQ(r.consumed, 7u);
}

// A hook that loads other text while the outer call is in progress.
// Its 1500 values outgrow the cell stack's first size, so the outer call's
// open blocks move while it waits.
struct Nester {
    std::vector<std::string> inner;
    static bool call(void* ctx, LexEventInfo& info) {
        auto* self = static_cast<Nester*>(ctx);
        StackScope scope;
        Cell* out = stack_push();
        std::string text = "x [y z]";
        for (int i = 0; i < 1500; ++i) text += " 7";
        transcode_text(out, text);
        self->inner.push_back(describe(block_at(out, 1)) + " " + std::to_string(block_length(out)));
        return true;
    }
};

TEST(Lexer, NestedCallsKeepTheirOwnTextAndValues) {
    Nester nester;
    LexHook hook{&Nester::call, &nester, LEX_LOAD};
    EXPECT_EQ(load_hooked("[a [b] c] d", hook), "[[a [b] c] d]");
    EXPECT_EQ(nester.inner, std::vector<std::string>(4, "[y z] 1502"));
}

TEST(Lexer, ReadsStringValuesAsCharacters) {
    StackScope scope;
    Cell* src = stack_push();
    string_make(src, 8);
    string_append_utf8(src, "\xC3\xA9t\xC3\xA9 [x]", 10);
    Cell* out = stack_push();
    TranscodeOptions one;
    one.one = true;
    TranscodeResult r = transcode_value(out, src, one);
    EXPECT_EQ(r.consumed, 3u);  // characters, not bytes
    EXPECT_EQ(describe(out), "[\xC3\xA9t\xC3\xA9]");
}

TEST(Lexer, AppendsIntoAGivenBlock) {
    StackScope scope;
    Cell* into = block_push_new(4);
    Cell* a = stack_push();
    set_integer(a, 7);
    block_append(into, a);
    Cell* out = stack_push();
    TranscodeOptions o;
    o.into = into;
    transcode_text(out, "8 9", o);
    EXPECT_EQ(describe(into), "[7 8 9]");
    EXPECT_EQ(describe(out), "[7 8 9]");
}

// ------------------------------------------------------------------ the native's arguments

TEST(Lexer, TranscodeRefinementsShapeTheResult) {
    StackScope scope;
    Cell* src = stack_push();
    string_make(src, 16);
    string_append_utf8(src, "\xC3\xA9 [b] c", 8);
    const struct { bool next, one, scan, prescan; const char* expected; } cases[] = {
        {false, false, false, false, "[\xC3\xA9 [b] c]"},
        {false, true, false, false, "\xC3\xA9"},
        {true, false, false, false, "[\xC3\xA9 \" [b] c\"]"},
        {false, false, true, false, "#(type 15)"},
        {true, false, true, false, "[#(type 15) \" [b] c\"]"},
        {false, false, false, true, "#(type 15)"},
    };
    for (const auto& c : cases) {
        Cell* result = stack_push();
        TranscodeArgs a;
        a.src = src;
        a.next = c.next;
        a.one = c.one;
        a.scan = c.scan;
        a.prescan = c.prescan;
        transcode_call(result, a);
        EXPECT_EQ(describe(result), c.expected);
    }
}

TEST(Lexer, TranscodePartLimitsTheInput) {
    StackScope scope;
    Cell* src = stack_push();
    string_make(src, 16);
    string_append_utf8(src, "12 34 56", 8);
    Cell* part = stack_push();
    set_integer(part, 4);
    Cell* result = stack_push();
    TranscodeArgs a;
    a.src = src;
    a.part = part;
    transcode_call(result, a);
    EXPECT_EQ(describe(result), "[12 3]");
    Cell* position = stack_push_copy(src);
    position->w1 = 5;
    a.part = position;
    transcode_call(result, a);
    EXPECT_EQ(describe(result), "[12 34]");
    Cell* other = block_push_new(1);
    a.part = other;
    try {
        transcode_call(result, a);
        ADD_FAILURE() << "a block position limited a string";
    } catch (LanguageThrow&) {
        EXPECT_EQ(last_error_code(), err::script::not_same_type.code);
    }
}

}  // namespace
}  // namespace tev

// string! actions: make/to, compare, form/mold, search, modification, case change, sort and set operations.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {

Cell* str(const std::string& utf8, TypeId type = T_STRING) {
    Cell* c = string_push(8);
    string_append_utf8(c, utf8.data(), utf8.size());
    cell_set_type(c, type);
    return c;
}
Cell ch(uint32_t cp) { Cell c; set_char(&c, cp); return c; }
Cell num(int32_t v) { Cell c; set_integer(&c, v); return c; }
Cell none() { Cell c; set_none(&c); return c; }
Cell word_arg() { Cell c; cell_init(&c, T_FUNCTION); return c; }  // stands for a comparison function
uint32_t unit_of(const Cell* c) { return node_buffer(series_node(c))->unit(); }
std::string text(const Cell* c) { return string_to_utf8(c); }

// Refinement positions, in the order of each action's spec.
enum { F_PART_REF, F_ONLY_REF, F_CASE_REF, F_SAME_REF, F_ANY_REF, F_WITH_REF, F_SKIP_REF, F_LAST_REF,
       F_REVERSE_REF, F_TAIL_REF, F_MATCH_REF };
enum { A_PART_REF, A_ONLY_REF, A_DUP_REF };
enum { T_PART_REF, T_DEEP_REF, T_LAST_REF };
enum { TR_HEAD_REF, TR_TAIL_REF, TR_AUTO_REF, TR_LINES_REF, TR_ALL_REF, TR_WITH_REF };
enum { S_CASE_REF, S_SKIP_REF, S_COMPARE_REF, S_PART_REF, S_ALL_REF, S_REVERSE_REF, S_STABLE_REF };

struct Ref { int index; std::vector<Cell> args; };

// Calls a string! action with its arguments and refinements on the value stack
// (left there: the caller's StackScope drops them). Returns the result cell.
Cell* call(Act act, std::vector<Cell> args, std::vector<Ref> refs = {}, TypeId type = T_STRING) {
    Cell* base = vstack.top;
    for (const Cell& a : args) stack_push_copy(&a);
    ActionFrame f{base, type, {}};
    for (auto& r : f.refs) r = -1;
    for (const Ref& r : refs) {
        f.refs[r.index] = r.args.empty() ? 0 : int8_t(vstack.top - base);
        for (const Cell& a : r.args) stack_push_copy(&a);
    }
    auto fn = reinterpret_cast<ActionFn>(action_table[T_STRING][int(act) - 1]);
    fn(f);
    return base;
}

template <class F> uint32_t error_of(F f) {
    try { f(); } catch (const LanguageThrow&) { return last_error_code(); }
    return 0;
}

std::string molded(const Cell* v, bool all = false) {
    Cell* out = string_push(16);
    auto mold = action_of<Act::mold>(T_STRING);
    mold(v, out, false, all, false, nullptr, NO_LIMIT, 0);
    return text(out);
}

class StringTest : public ::testing::Test {
protected:
    void SetUp() override { string_init(); }
    StackScope scope;
};

}  // namespace

// --------------------------------------------------------------- making and comparing

TEST_F(StringTest, MakeAndTo) {
    Cell dt; set_datatype(&dt, T_STRING);
    Cell* made = call(Act::make, {dt, num(0)});
    EXPECT_EQ(string_length(made), 0u);
    EXPECT_GE(node_buffer(series_node(made))->size, 16u);
    EXPECT_EQ(error_of([&] { call(Act::make, {dt, num(-1)}); }), err::script::out_of_range.code);
    EXPECT_EQ(error_of([&] { call(Act::to, {dt, none()}); }), err::script::bad_to_arg.code);
    // to string! of a block forms each value without separator.
    Cell* block = block_push_new(4);
    block_append(block, str("a"));
    Cell c = ch('b');
    block_append(block, &c);
    block_append(block, str("cd"));
    EXPECT_EQ(text(call(Act::to, {dt, *block})), "abcd");
    // A copy, from the index, and of the target type.
    Cell* src = str("hello");
    src->w1 = 2;
    Cell* copy = call(Act::to, {dt, *src}, {}, T_FILE);
    EXPECT_EQ(text(copy), "llo");
    EXPECT_EQ(cell_type(copy), T_FILE);
}

TEST_F(StringTest, ToStringOfBinaryDecodesUtf8OrRaises) {
    Cell dt; set_datatype(&dt, T_STRING);
    auto binary = [](std::vector<uint8_t> b) {
        Cell* c = stack_push();
        NodeRef n = alloc_series_bytes(uint32_t(b.size()));
        SeriesBuffer* buf = node_buffer(n);
        std::memcpy(buf->head_ptr(), b.data(), b.size());
        buf->tail = buf->head + uint32_t(b.size());
        set_series(c, T_BINARY, n);
        return *c;
    };
    EXPECT_EQ(text(call(Act::to, {dt, binary({0xC3, 0xA9, 'x'})})), "\xC3\xA9x");
    EXPECT_EQ(error_of([&] { call(Act::to, {dt, binary({'a', 0xC3})}); }), err::access::invalid_utf8.code);
    EXPECT_EQ(error_of([&] { call(Act::to, {dt, binary({0xC0, 0x80})}); }), err::access::invalid_utf8.code);
}

TEST_F(StringTest, CompareFoldsCaseExceptStrictAndEmptyStringsAreEqual) {
    auto cmp = action_of<Act::compare>(T_STRING);
    struct Row { const char* a; const char* b; int op; int expect; };
    const Row rows[] = {
        {"abc", "ABC", CMP_EQUAL, 0}, {"abc", "ABC", CMP_STRICT_EQUAL, 1}, {"abc", "abc", CMP_STRICT_EQUAL, 0},
        {"ab", "abc", CMP_LESSER, -1}, {"b", "ABC", CMP_GREATER, 1}, {"", "", CMP_EQUAL, 0},
        {"", "", CMP_STRICT_EQUAL, 0}, {"", "a", CMP_LESSER, -1}, {"a", "", CMP_EQUAL, 1},
        {"\xC3\xA9", "\xC3\x89", CMP_EQUAL, 0}, {"\xC3\xA9", "\xC3\x89", CMP_STRICT_EQUAL, 1},
    };
    for (const Row& r : rows) EXPECT_EQ(cmp(str(r.a), str(r.b), r.op), r.expect) << r.a << " " << r.b << " " << r.op;
    // The same text in units 1 and 2 compares equal.
    Cell* wide = str("abc");
    string_append_codepoint(wide, 0x3A9);
    Cell* narrow = str("abc");
    string_append_codepoint(narrow, 0x3A9);
    EXPECT_EQ(cmp(wide, narrow, CMP_STRICT_EQUAL), 0);
    // A string equals a file! of the same text, but they cannot be ordered.
    EXPECT_EQ(cmp(str("a.txt"), str("a.txt", T_FILE), CMP_EQUAL), 0);
    EXPECT_EQ(cmp(str("a.txt"), str("a.txt", T_FILE), CMP_LESSER), CMP_NOT_COMPARABLE);
}

// --------------------------------------------------------------- mold and form

TEST_F(StringTest, MoldChoosesQuotesOrBracesAndEscapes) {
    struct Row { std::string in; std::string out; };
    const std::string s49(49, 'x'), s50(50, 'x');
    const Row rows[] = {
        {"abc", "\"abc\""},
        {"a\"b", "{a\"b}"},
        {"a\nb\nc", "\"a^/b^/c\""},
        {"a\nb\nc\nd", "{a\nb\nc\nd}"},
        {s49, "\"" + s49 + "\""},
        {s50, "{" + s50 + "}"},
        {"a{b", "\"a{b\""},
        {"\"{a}{b", "{\"{a}^{b}"},
        {"\"x}", "{\"x^}}"},
        {"\"{{}", "{\"^{^{^}}"},
        {"\"^", "{\"^^}"},
        {"\x1E", "\"^(1E)\""},
        {"\x7F", "\"^~\""},
        {"\t^", "\"^-^^\""},
        {"\xC2\x85", "\"^(85)\""},
        {"\xC3\xA9", "\"\xC3\xA9\""},
    };
    for (const Row& r : rows) EXPECT_EQ(molded(str(r.in)), r.out) << r.in;
    EXPECT_EQ(molded(str("\xC3\xA9"), true), "\"^(E9)\"");
    EXPECT_EQ(molded(str("\xCE\xA9"), true), "\"^(3A9)\"");
}

TEST_F(StringTest, MoldIndentWritesFourBlanksPerLevelAndLowersTheLimit) {
    Cell* out = string_push(8);
    EXPECT_EQ(mold_indent(out, 0, 50), 50);
    EXPECT_EQ(string_length(out), 0u);
    EXPECT_EQ(mold_indent(out, 10, 50), 10);
    EXPECT_EQ(string_to_utf8(out), std::string(40, ' '));
}

TEST_F(StringTest, FormAppendsTextWithoutChangingTheSource) {
    Cell* out = string_push(4);
    string_append_codepoint(out, 0x1F600);  // a unit-4 output
    Cell* src = str("abc");
    auto form = action_of<Act::form>(T_STRING);
    EXPECT_EQ(form(src, out, nullptr, 10), 7);
    EXPECT_EQ(unit_of(src), 1u);  // concatenation converted while copying
    EXPECT_EQ(text(out), "\xF0\x9F\x98\x80" "abc");
}

// --------------------------------------------------------------- find and select

TEST_F(StringTest, FindWithItsRefinements) {
    struct Row { const char* series; uint32_t index; const char* value; std::vector<Ref> refs; int expect; };
    const std::vector<Row> rows = {
        {"abcabc", 0, "c", {}, 2},
        {"abcabc", 0, "c", {{F_LAST_REF, {}}}, 5},
        {"abcabc", 0, "c", {{F_TAIL_REF, {}}}, 3},
        {"abcabc", 0, "c", {{F_MATCH_REF, {}}}, -1},
        {"abc", 0, "ab", {{F_MATCH_REF, {}}}, 0},
        {"abc", 0, "ab", {{F_MATCH_REF, {}}, {F_TAIL_REF, {}}}, 2},
        {"abc", 0, "b", {{F_REVERSE_REF, {}}}, -1},
        {"abcabc", 5, "b", {{F_REVERSE_REF, {}}}, 4},
        {"abcabc", 5, "bc", {{F_REVERSE_REF, {}}}, 1},
        {"abc", 3, "a", {{F_REVERSE_REF, {}}, {F_MATCH_REF, {}}}, -1},
        {"abcabc", 5, "a", {{F_REVERSE_REF, {}}, {F_PART_REF, {num(2)}}}, 3},
        {"abcabc", 5, "a", {{F_REVERSE_REF, {}}, {F_PART_REF, {num(1)}}}, -1},
        {"abcabc", 5, "a", {{F_REVERSE_REF, {}}, {F_PART_REF, {num(6)}}}, -1},
        {"aBc", 0, "b", {}, 1},
        {"aBc", 0, "b", {{F_CASE_REF, {}}}, -1},
        {"abc", 0, "b", {{F_PART_REF, {num(0)}}}, -1},
        {"abc", 0, "c", {{F_PART_REF, {num(2)}}}, -1},
        {"abc", 0, "bc", {{F_PART_REF, {num(2)}}}, -1},
        {"abc", 0, "bc", {{F_PART_REF, {num(3)}}}, 1},
        {"abcabc", 0, "b", {{F_SKIP_REF, {num(3)}}}, -1},
        {"abcabc", 0, "c", {{F_SKIP_REF, {num(3)}}, {F_LAST_REF, {}}}, 5},
        {"abc", 0, "", {}, -1},
        {"", 0, "a", {}, -1},
        {"ab", 2, "a", {}, -1},
    };
    for (const Row& r : rows) {
        Cell* s = str(r.series);
        s->w1 = r.index;
        Cell* res = call(Act::find, {*s, *str(r.value)}, r.refs);
        if (r.expect < 0) EXPECT_TRUE(cell_is(res, T_NONE)) << r.series << " " << r.value;
        else {
            ASSERT_TRUE(cell_is(res, T_STRING)) << r.series << " " << r.value;
            EXPECT_EQ(series_index(res), uint32_t(r.expect)) << r.series << " " << r.value;
        }
    }
    Cell* s = str("abc");
    EXPECT_EQ(series_index(call(Act::find, {*s, ch('C')})), 2u);
    EXPECT_EQ(error_of([&] { call(Act::find, {*s, ch('a')}, {{F_SKIP_REF, {num(0)}}}); }), err::script::out_of_range.code);
    EXPECT_EQ(error_of([&] { call(Act::find, {*s, ch('a')}, {{F_ANY_REF, {}}}); }), err::internal::not_done.code);
}

TEST_F(StringTest, SelectAnswersTheCodePointAfterTheMatch) {
    Cell* r = call(Act::select, {*str("a=1"), *str("=")});
    ASSERT_TRUE(cell_is(r, T_CHAR));
    EXPECT_EQ(get_char(r), uint32_t('1'));
    EXPECT_TRUE(cell_is(call(Act::select, {*str("a="), *str("=")}), T_NONE));
}

// --------------------------------------------------------------- modification

TEST_F(StringTest, AppendWidensAndRepeats) {
    Cell* r = call(Act::append, {*str("ab"), ch(0xE9)});
    EXPECT_EQ(text(r), "ab\xC3\xA9");
    EXPECT_EQ(unit_of(r), 2u);
    EXPECT_EQ(series_index(r), 0u);
    EXPECT_EQ(text(call(Act::append, {*str("x"), *str("ab")}, {{A_DUP_REF, {num(3)}}})), "xababab");
    EXPECT_EQ(text(call(Act::append, {*str("x"), *str("ab")}, {{A_DUP_REF, {num(0)}}})), "x");
    EXPECT_EQ(text(call(Act::append, {*str("a"), *str("b", T_TAG)})), "a<b>");
    EXPECT_EQ(text(call(Act::append, {*str("a"), *str("bc", T_TAG)}, {{A_PART_REF, {num(2)}}})), "a<b");
    EXPECT_EQ(text(call(Act::append, {*str("a"), *str("bcd")}, {{A_PART_REF, {num(2)}}})), "abc");
    // The source keeps its unit when a wider string takes it.
    Cell* wide = str("\xF0\x9F\x98\x80");
    Cell* narrow = str("xyz");
    call(Act::append, {*wide, *narrow});
    EXPECT_EQ(unit_of(narrow), 1u);
    EXPECT_EQ(text(wide), "\xF0\x9F\x98\x80xyz");
    // Appending a string to itself.
    Cell* self = str("ab");
    call(Act::append, {*self, *self});
    EXPECT_EQ(text(self), "abab");
    // A block appends each value formed; /part counts values.
    Cell* block = block_push_new(4);
    block_append(block, str("p"));
    block_append(block, str("q"));
    EXPECT_EQ(text(call(Act::append, {*str("a"), *block}, {{A_PART_REF, {num(1)}}})), "ap");
}

TEST_F(StringTest, InsertAndChangeAtTheIndex) {
    Cell* s = str("ac");
    s->w1 = 1;
    Cell* r = call(Act::insert, {*s, *str("b")});
    EXPECT_EQ(series_index(r), 2u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "abc");
    Cell* t = str("ad");
    t->w1 = 1;
    r = call(Act::insert, {*t, *str("bc")}, {{A_DUP_REF, {num(2)}}});
    EXPECT_EQ(series_index(r), 5u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "abcbcd");
    Cell* u = str("hello");
    u->w1 = 1;
    r = call(Act::change, {*u, *str("EY")});
    EXPECT_EQ(series_index(r), 3u);
    r->w1 = 0;
    EXPECT_EQ(text(r), "hEYlo");
    Cell* v = str("hello");
    v->w1 = 1;
    r = call(Act::change, {*v, *str("\xCE\xA9")}, {{A_PART_REF, {num(3)}}});
    r->w1 = 0;
    EXPECT_EQ(text(r), "h\xCE\xA9o");
    Cell* w = str("ab");
    w->w1 = 1;
    r = call(Act::change, {*w, *str("XYZ")});
    r->w1 = 0;
    EXPECT_EQ(text(r), "aXYZ");
}

TEST_F(StringTest, TakeSwapAndTrim) {
    Cell* s = str("abc");
    Cell* r = call(Act::take, {*s});
    EXPECT_TRUE(cell_is(r, T_CHAR));
    EXPECT_EQ(get_char(r), uint32_t('a'));
    EXPECT_EQ(text(s), "bc");
    r = call(Act::take, {*s}, {{T_PART_REF, {num(5)}}});
    EXPECT_EQ(text(r), "bc");
    EXPECT_EQ(text(s), "");
    EXPECT_TRUE(cell_is(call(Act::take, {*s}), T_NONE));
    Cell* w = str("wxyz");
    r = call(Act::take, {*w}, {{T_LAST_REF, {}}});
    EXPECT_EQ(get_char(r), uint32_t('z'));
    w->w1 = 2;
    r = call(Act::take, {*w}, {{T_PART_REF, {num(-1)}}});  // a negative part takes before the index
    EXPECT_EQ(text(r), "x");
    w->w1 = 0;
    EXPECT_EQ(text(w), "wy");
    Cell* a = str("ab");
    Cell* b = str("\xCE\xA9");
    call(Act::swap, {*a, *b});
    EXPECT_EQ(text(a), "\xCE\xA9" "b");
    EXPECT_EQ(text(b), "a");

    struct Row { const char* in; std::vector<Ref> refs; const char* out; };
    const std::vector<Row> rows = {
        {"  a  b  ", {}, "a  b"},
        {"  a  b  ", {{TR_ALL_REF, {}}}, "ab"},
        {"  a\n b  ", {{TR_LINES_REF, {}}}, "a b"},
        {"a  \n  ", {}, "a\n"},
        {"a  \n  ", {{TR_TAIL_REF, {}}}, "a"},
        {"  a  ", {{TR_HEAD_REF, {}}}, "a  "},
        {" x  \n  y \n", {}, "x\ny\n"},
        {"a-b-c", {{TR_WITH_REF, {ch('-')}}}, "abc"},
        {"", {}, ""},
        {"\xE3\x80\x80" "a" "\xC2\xA0", {}, "a"},
    };
    for (const Row& row : rows) EXPECT_EQ(text(call(Act::trim, {*str(row.in)}, row.refs)), row.out) << row.in;
    EXPECT_EQ(error_of([&] { call(Act::trim, {*str("a")}, {{TR_AUTO_REF, {}}}); }), err::internal::not_done.code);
}

// --------------------------------------------------------------- case change

TEST_F(StringTest, CaseChangeWidensAndClampsPart) {
    Cell* s = str("a\xC3\xBFz");  // a, FFh, z
    string_change_case(s, nullptr, true);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(string_char_at(s, 1), 0x178u);
    EXPECT_EQ(text(s), "A\xC5\xB8Z");
    Cell* p = str("abcd");
    p->w1 = 2;
    Cell n = num(10);
    string_change_case(p, &n, true);
    p->w1 = 0;
    EXPECT_EQ(text(p), "abCD");
    Cell neg = num(-3);
    string_change_case(p, &neg, false);
    EXPECT_EQ(text(p), "abCD");
    // A /part position in the same series beyond its tail is clamped.
    Cell* q = str("wxyz");
    Cell far = *q;
    far.w1 = 99;
    string_change_case(q, &far, true);
    EXPECT_EQ(text(q), "WXYZ");
    Cell* other = str("wxyz");
    EXPECT_EQ(error_of([&] { string_change_case(q, other, true); }), err::script::invalid_refine_arg.code);
    Cell c = ch(0xDF);
    string_change_case(&c, nullptr, true);
    EXPECT_EQ(get_char(&c), 0x53u);
}

// --------------------------------------------------------------- sort

TEST_F(StringTest, SortFoldsCaseTheSameWayInEveryUnit) {
    EXPECT_EQ(text(call(Act::sort, {*str("cBa")})), "aBc");
    EXPECT_EQ(text(call(Act::sort, {*str("cBa")}, {{S_CASE_REF, {}}})), "Bac");
    EXPECT_EQ(text(call(Act::sort, {*str("b2a1c0")}, {{S_SKIP_REF, {num(2)}}, {S_COMPARE_REF, {num(2)}}})), "c0a1b2");
    EXPECT_EQ(text(call(Act::sort, {*str("abc")}, {{S_REVERSE_REF, {}}})), "cba");
    // "_" against "a" orders the same in a unit-1 and a unit-2 string.
    Cell* narrow = call(Act::sort, {*str("_a")});
    Cell* wide = str("_a\xCE\xA9");
    call(Act::sort, {*wide});
    EXPECT_EQ(string_char_at(narrow, 0), string_char_at(wide, 0));
    EXPECT_EQ(error_of([&] { call(Act::sort, {*str("abc")}, {{S_SKIP_REF, {num(2)}}}); }),
              err::script::invalid_refine_arg.code);
    EXPECT_EQ(error_of([&] { call(Act::sort, {*str("abc")}, {{S_ALL_REF, {}}}); }), err::script::bad_refines.code);
}

TEST_F(StringTest, StableCaseSortKeepsRecordOrder) {
    // Records of two: a key letter and a sequence digit; keys compare case-sensitively.
    std::string in;
    std::mt19937 rng(5);
    for (int i = 0; i < 300; ++i) { in += char('a' + rng() % 3); in += char('0' + i % 10); }
    Cell* s = call(Act::sort, {*str(in)}, {{S_CASE_REF, {}}, {S_SKIP_REF, {num(2)}}, {S_STABLE_REF, {}}});
    std::string out = text(s);
    for (char key : {'a', 'b', 'c'}) {
        std::string expect, got;
        for (size_t i = 0; i < in.size(); i += 2) if (in[i] == key) expect += in[i + 1];
        for (size_t i = 0; i < out.size(); i += 2) if (out[i] == key) got += out[i + 1];
        EXPECT_EQ(got, expect);
    }
}

namespace {
int comparisons = 0;
int raise_after = -1;
// A comparison "function" that allocates (so the collector may run), may raise,
// and otherwise orders the characters descending, or at random.
bool random_answers = false;
std::mt19937 answer_rng(1);
void test_comparator(const Cell*, const Cell* a, const Cell* b, Cell* result) {
    Cell* junk = string_push(64);
    string_append_cstr(junk, "allocate to let the collector move things");
    if (raise_after >= 0 && comparisons++ >= raise_after) raise_error(err::script::invalid_arg, a);
    if (random_answers) { set_integer(result, int32_t(answer_rng() % 3) - 1); return; }
    set_logic(result, get_char(a) > get_char(b));
}
}  // namespace

TEST_F(StringTest, SortWithAComparisonFunctionThatRaisesOrLies) {
    SortFunctionCall saved = sort_function_call;
    sort_function_call = test_comparator;
    std::string in;
    for (int i = 0; i < 1000; ++i) in += char('A' + (999 - i) % 50);
    for (int stable = 0; stable < 2; ++stable) {
        std::vector<Ref> refs = {{S_COMPARE_REF, {word_arg()}}};
        if (stable) refs.push_back({S_STABLE_REF, {}});
        // 1000 reversed-ish records sorted by the function.
        comparisons = 0; raise_after = -1; random_answers = false;
        std::string sorted = text(call(Act::sort, {*str(in)}, refs));
        std::string expect = in;
        std::sort(expect.begin(), expect.end(), std::greater<char>());
        EXPECT_EQ(sorted, expect);
        // A raise part-way leaves a permutation.
        Cell* s = str(in);
        comparisons = 0; raise_after = 700;
        EXPECT_EQ(error_of([&] { call(Act::sort, {*s}, refs); }), err::script::invalid_arg.code);
        std::string after = text(s), a = after, b = in;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
        // Random answers do not crash and keep a permutation.
        comparisons = 0; raise_after = -1; random_answers = true;
        std::string shuffled = text(call(Act::sort, {*str(in)}, refs));
        std::sort(shuffled.begin(), shuffled.end());
        EXPECT_EQ(shuffled, b);
    }
    random_answers = false;
    sort_function_call = saved;
}

// --------------------------------------------------------------- set operations

TEST_F(StringTest, SetOperations) {
    struct Row { const char* a; const char* b; int op; bool cased; int skip; const char* out; };
    const Row rows[] = {
        {"aabbc", "", SET_UNIQUE, false, 1, "abc"},
        {"aAbB", "", SET_UNIQUE, false, 1, "ab"},
        {"aAbB", "", SET_UNIQUE, true, 1, "aAbB"},
        {"abc", "bcd", SET_INTERSECT, false, 1, "bc"},
        {"abc", "bcd", SET_DIFFERENCE, false, 1, "ad"},
        {"abc", "bcd", SET_UNION, false, 1, "abcd"},
        {"abc", "bcd", SET_EXCLUDE, false, 1, "a"},
        {"a1b2a3", "", SET_UNIQUE, false, 2, "a1b2"},
    };
    for (const Row& r : rows) {
        Cell* args = str(r.a);
        str(r.b);
        string_set_op(args, r.cased, r.skip, r.op);
        EXPECT_EQ(text(args), r.out) << r.a << " " << r.b << " " << r.op;
    }
    Cell* args = str("a");
    str("b");
    EXPECT_EQ(error_of([&] { string_set_op(args, false, 0, SET_UNIQUE); }), err::script::invalid_refine_arg.code);
}

TEST_F(StringTest, HexHelpers) {
    EXPECT_STREQ(string_int_to_hex(0, true), "00");
    EXPECT_STREQ(string_int_to_hex(0x1E, true), "1E");
    EXPECT_STREQ(string_int_to_hex(0x10000, true), "10000");
    EXPECT_STREQ(string_int_to_hex(0x1E, false), "0000001E");
    EXPECT_STREQ(string_int_to_hex(-2, true), "FE");
    EXPECT_STREQ(string_byte_to_hex(0xA5), "A5");
}

// --------------------------------------------------------------- paths, words, storage

TEST_F(StringTest, PathsPickPokeAndSelect) {
    auto path = action_of<Act::eval_path>(T_STRING);
    Cell* s = str("a=1b");
    Cell* result = stack_push();
    auto step = [&](Cell element, const Cell* set) {
        Cell* e = stack_push_copy(&element);
        Cell* v = set ? stack_push_copy(set) : nullptr;
        PathStep st{s, e, v, nullptr, result, 1, true, false};
        path(st);
        return *result;
    };
    Cell r = step(num(2), nullptr);
    EXPECT_EQ(get_char(&r), uint32_t('='));
    EXPECT_TRUE(cell_is(&(r = step(num(9), nullptr)), T_NONE));
    Cell omega = ch(0x3A9);
    step(num(1), &omega);
    EXPECT_EQ(text(s), "\xCE\xA9=1b");
    r = step(*str("="), nullptr);  // select
    EXPECT_EQ(get_char(&r), uint32_t('1'));
    Cell x = ch('x');
    step(*str("1"), &x);  // poke right after the match's first code point
    EXPECT_EQ(text(s), "\xCE\xA9=1x");
    EXPECT_EQ(error_of([&] { step(*str("zz"), &x); }), err::script::bad_path_set.code);
    EXPECT_EQ(error_of([&] { step(num(99), &x); }), err::script::out_of_range.code);
}

TEST_F(StringTest, FindsAWordBySpellingAndNamesBadRefinementArguments) {
    Cell word = word_from_symbol(symbol_from_cstring("Lazy"));
    Cell* r = call(Act::find, {*str("the lazy dog"), word});
    ASSERT_TRUE(cell_is(r, T_STRING));
    EXPECT_EQ(series_index(r), 4u);
    EXPECT_EQ(error_of([&] { call(Act::find, {*str("abc"), ch('a')}, {{F_PART_REF, {none()}}}); }),
              err::script::invalid_refine_arg.code);
}

TEST_F(StringTest, StoragePrimitives) {
    Cell* s = str("abcdef");
    s->w1 = 99;
    EXPECT_EQ(string_rest_length(s), 0u);
    EXPECT_EQ(string_index_clamp(s), 6u);
    EXPECT_EQ(s->w1, 6u);
    // Insert and overwrite at the index + offset, converting a wider source down.
    Cell* d = str("abcdef");
    d->w1 = 1;
    Cell* src = str("XY");
    string_append_codepoint(src, 0x3A9);
    string_remove_chars(series_node(src), 2, 1);  // a unit-2 buffer holding ASCII
    string_concatenate(d, src, -1, 1, CONCAT_INSERT);
    d->w1 = 0;
    EXPECT_EQ(text(d), "abXYcdef");
    EXPECT_EQ(unit_of(d), 1u);
    d->w1 = 6;
    string_concatenate(d, src, -1, 0, CONCAT_OVERWRITE);
    d->w1 = 0;
    EXPECT_EQ(text(d), "abXYcdXY");
    string_insert_char(series_node(d), 0, 0x1F600);
    EXPECT_EQ(unit_of(d), 4u);
    EXPECT_EQ(string_char_at(d, 0), 0x1F600u);
    EXPECT_EQ(string_find_char(d, 'X'), 3);
    EXPECT_TRUE(string_starts_with_cstring(str("hello"), "he"));
    EXPECT_FALSE(string_starts_with_cstring(str("h"), "he"));
    string_reset(d);
    EXPECT_EQ(string_length(d), 0u);
    EXPECT_EQ(unit_of(d), 1u);
    bool error = true;
    EXPECT_EQ(string_to_float(reinterpret_cast<const uint8_t*>("1.5e2"), 5, &error), 150.0);
    EXPECT_FALSE(error);
    string_to_float(reinterpret_cast<const uint8_t*>("1.5x"), 4, &error);
    EXPECT_TRUE(error);
    Cell dt; set_datatype(&dt, T_STRING);
    Cell big; set_float(&big, 3e9);
    EXPECT_EQ(error_of([&] { call(Act::make, {dt, big}); }), err::script::out_of_range.code);
}

TEST_F(StringTest, FormedValuesAndParseMatching) {
    Cell dt; set_datatype(&dt, T_STRING);
    Cell* block = block_push_new(4);
    Cell one = num(1), b = ch('b');
    block_append(block, &one);
    block_append(block, str("a"));
    block_append(block, &b);
    EXPECT_EQ(text(call(Act::to, {dt, *block})), "1ab");
    EXPECT_EQ(text(call(Act::to, {dt, num(-42)})), "-42");
    // With /only, /part is a budget of code points over all the formed text.
    Cell* words = block_push_new(2);
    block_append(words, str("bc"));
    block_append(words, str("de"));
    EXPECT_EQ(text(call(Act::append, {*str("a"), *words}, {{A_PART_REF, {num(3)}}, {A_ONLY_REF, {}}})), "abcd");
    EXPECT_EQ(text(call(Act::append, {*str("a"), num(12)})), "a12");
    // Mold with a part budget cuts the text, never the delimiters.
    Cell* out = string_push(8);
    Cell part = num(3);
    auto mold = action_of<Act::mold>(T_STRING);
    EXPECT_EQ(mold(str("abcdef"), out, false, false, false, &part, 3, 0), -2);
    EXPECT_EQ(text(out), "\"abc\"");

    Cell* s = str("<b>Hello");
    EXPECT_TRUE(string_match_value(s, str("b", T_TAG), CMP_EQUAL));
    EXPECT_FALSE(string_match_value(s, str("bc", T_TAG), CMP_EQUAL));
    s->w1 = 3;
    EXPECT_TRUE(string_match_value(s, str("hel"), CMP_EQUAL));
    EXPECT_FALSE(string_match_value(s, str("hel"), CMP_STRICT_EQUAL));
    EXPECT_FALSE(string_match_value(s, str("Hello!"), CMP_EQUAL));
    Cell h = ch('h');
    EXPECT_TRUE(string_match_value(s, &h, CMP_EQUAL));
    s->w1 = 8;
    EXPECT_FALSE(string_match_value(s, &h, CMP_EQUAL));  // at the tail: nothing to read
}

TEST_F(StringTest, SkipSearchAndTruncation) {
    Cell* s = str("aXbYcZ");
    EXPECT_TRUE(string_find_char_skip(s, 'c', 2, true));
    EXPECT_FALSE(string_find_char_skip(s, 'X', 2, true));  // only every 2nd position
    EXPECT_TRUE(string_find_char_skip(s, 'C', 2, false));
    EXPECT_FALSE(string_find_char_skip(s, 'C', 2, true));
    string_truncate(series_node(s), 3);
    EXPECT_EQ(text(s), "aXb");
    string_truncate(series_node(s), 1000000);  // beyond the buffer: nothing
    EXPECT_EQ(text(s), "aXb");
    Cell* t = str("ab");
    const uint8_t latin[] = {'c', 0xE9};
    string_append_bytes(t, latin, 2);
    EXPECT_EQ(text(t), "abc\xC3\xA9");
    EXPECT_EQ(unit_of(t), 2u);
}

TEST_F(StringTest, CharInBitsetUsesTheNotFlagBeyondTheBits) {
    Cell dt; set_datatype(&dt, T_BITSET);
    auto make = reinterpret_cast<ActionFn>(action_table[T_BITSET][int(Act::make) - 1]);
    ASSERT_NE(make, nullptr);
    Cell* bits = stack_push_copy(&dt);
    stack_push_copy(str("a"));
    ActionFrame f{bits, T_BITSET, {}};
    std::memset(f.refs, -1, sizeof f.refs);
    make(f);  // a bitset holding #"a"
    Cell* s = str("a\xCE\xA9");
    EXPECT_TRUE(string_char_in_bitset(s, bits));
    s->w1 = 1;
    EXPECT_FALSE(string_char_in_bitset(s, bits));  // beyond the bits: a plain bitset's not-flag is off
    s->w1 = 2;
    EXPECT_FALSE(string_char_in_bitset(s, bits));  // at the tail
}

// The word family: make and to, form and mold, compare operators, index?, and the spelling's safety.
#include <gtest/gtest.h>
#include <string>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

class Words : public ::testing::Test {
protected:
    StackScope scope;
};

Cell named(TypeId t, const char* name) {
    Cell w = word_from_cstring(name);
    cell_set_type(&w, t);
    return w;
}

// make or to of `target` from spec; the result.
Cell convert(TypeId target, const Cell& spec, Act act = Act::to) {
    StackScope scope;
    Cell* args = stack_push();
    set_datatype(args, target);
    *stack_push() = spec;
    ActionFrame f{args, target, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}};
    auto fn = act == Act::to ? action_of<Act::to>(target) : action_of<Act::make>(target);
    fn(f);
    return args[0];
}
Cell text(const char* s) {
    Cell* c = string_load(reinterpret_cast<const uint8_t*>(s), uint32_t(std::strlen(s)), nullptr, 0);
    return *c;  // stays on the caller's stack scope
}
uint32_t raised(TypeId target, const Cell& spec) {
    try {
        convert(target, spec);
    } catch (const LanguageThrow&) {
        return last_error_code();
    }
    return 0;
}

std::string molded(const Cell& v, int32_t limit = NO_LIMIT, bool part = false, int32_t* left = nullptr) {
    StackScope scope;
    Cell* out = string_push(16);
    Cell* value = stack_push_copy(&v);
    Cell part_arg;
    set_integer(&part_arg, limit);
    int32_t rest = action_of<Act::mold>(cell_type(value))(value, out, false, false, false, part ? &part_arg : nullptr, limit, 0);
    if (left) *left = rest;
    return string_to_utf8(out);
}
std::string formed(const Cell& v) {
    StackScope scope;
    Cell* out = string_push(16);
    Cell* value = stack_push_copy(&v);
    action_of<Act::form>(cell_type(value))(value, out, nullptr, NO_LIMIT);
    return string_to_utf8(out);
}

TEST_F(Words, MoldWritesEachTypesPrefixFormTheBareSpelling) {
    struct Row { TypeId t; const char* mold; } rows[] = {
        {T_WORD, "abc"}, {T_SET_WORD, "abc:"}, {T_LIT_WORD, "'abc"}, {T_GET_WORD, ":abc"},
        {T_REFINEMENT, "/abc"}, {T_ISSUE, "#abc"},
    };
    for (const Row& r : rows) {
        Cell w = named(r.t, "abc");
        EXPECT_EQ(molded(w), r.mold);
        EXPECT_EQ(formed(w), "abc");
    }
    int32_t left;
    EXPECT_EQ(molded(named(T_LIT_WORD, "caf\xC3\xA9"), 3, true, &left), "'caf");
    EXPECT_EQ(left, 3 - 4 - 1);
}

TEST_F(Words, ConvertingBetweenWordTypesKeepsTheBinding) {
    Cell a = named(T_LIT_WORD, "conv-a");
    Cell s = convert(T_SET_WORD, a);
    EXPECT_EQ(s.header, T_SET_WORD);
    EXPECT_EQ(s.w1, a.w1);
    EXPECT_EQ(s.w2, a.w2);
    EXPECT_EQ(s.w3, a.w3);
    EXPECT_EQ(molded(s), "conv-a:");
    EXPECT_EQ(formed(s), "conv-a");
}

TEST_F(Words, ToWordScansTextAsOneValue) {
    struct Row { const char* text; TypeId target; const char* want; uint32_t error; } rows[] = {
        {"hello world", T_WORD, "hello", 0},
        {"  spaced", T_WORD, "spaced", 0},
        {"x:", T_WORD, "x", 0},
        {"'quoted", T_SET_WORD, "quoted:", 0},
        {"1", T_WORD, nullptr, err::script::invalid_chars.code},
        {"-2.5", T_WORD, nullptr, err::script::invalid_chars.code},
        {"a/b", T_WORD, nullptr, err::script::invalid_chars.code},
        {"", T_WORD, nullptr, err::script::invalid_chars.code},
        {"[a]", T_WORD, nullptr, err::script::invalid_chars.code},
        {"/", T_WORD, "/", 0},
    };
    for (const Row& r : rows) {
        StackScope scope;
        Cell t = text(r.text);
        if (r.error) {
            EXPECT_EQ(raised(r.target, t), r.error) << r.text;
            continue;
        }
        Cell w = convert(r.target, t);
        EXPECT_EQ(cell_type(&w), r.target) << r.text;
        EXPECT_EQ(molded(w), r.want) << r.text;
        EXPECT_EQ(w.w1, global_context());
    }
    Cell x;
    set_char(&x, 'x');
    EXPECT_EQ(molded(convert(T_WORD, x)), "x");
}

TEST_F(Words, ToWordFromDatatypeLogicAndOtherWords) {
    Cell dt, yes, n;
    set_datatype(&dt, T_LIT_WORD);
    set_logic(&yes, true);
    EXPECT_EQ(molded(convert(T_WORD, dt)), "lit-word!");
    Cell t = convert(T_WORD, yes);
    EXPECT_EQ(molded(t), "true");
    EXPECT_EQ(t.w1, global_context());
    EXPECT_EQ(molded(convert(T_WORD, named(T_REFINEMENT, "refi"))), "refi");
    Cell number_issue = named(T_ISSUE, "123");
    EXPECT_EQ(raised(T_WORD, number_issue), err::script::bad_to_arg.code);
    set_integer(&n, 5);
    EXPECT_EQ(raised(T_WORD, n), err::script::bad_to_arg.code);
}

TEST_F(Words, ToIssueTakesAnyTextUnchecked) {
    StackScope scope;
    Cell issue = convert(T_ISSUE, text("a b"));
    EXPECT_EQ(cell_type(&issue), T_ISSUE);
    EXPECT_EQ(molded(issue), "#a b");
    EXPECT_EQ(int32_t(issue.w3), -1);
    Cell from_word = convert(T_ISSUE, named(T_GET_WORD, "iss"));
    EXPECT_EQ(molded(from_word), "#iss");
    Cell yes;
    set_logic(&yes, false);
    EXPECT_EQ(molded(convert(T_ISSUE, yes)), "#false");
}

TEST_F(Words, CompareOperators) {
    Cell lower = named(T_WORD, "cmp-abc"), upper = named(T_WORD, "CMP-ABC");
    Cell lit = named(T_LIT_WORD, "cmp-abc"), lit_upper = named(T_LIT_WORD, "CMP-ABC");
    Cell set = named(T_SET_WORD, "cmp-abc"), issue = named(T_ISSUE, "cmp-abc");
    Cell other_binding = lower;
    other_binding.w1 = 0;
    Cell integer;
    set_integer(&integer, 1);
    auto cmp = [](const Cell& a, const Cell& b, int op) { return action_of<Act::compare>(cell_type(&a))(&a, &b, op); };
    struct Row { const Cell* a; const Cell* b; int op; int want; } rows[] = {
        {&lower, &upper, CMP_EQUAL, 0}, {&lower, &upper, CMP_STRICT_EQUAL, 1}, {&lower, &lower, CMP_STRICT_EQUAL, 0},
        {&lower, &set, CMP_EQUAL, 0}, {&lower, &set, CMP_STRICT_EQUAL, 1},
        {&lower, &other_binding, CMP_SAME, 1}, {&lower, &lower, CMP_SAME, 0},
        {&lower, &lit, CMP_EQUAL_10, 0}, {&lower, &lit_upper, CMP_EQUAL_10, 1}, {&lower, &set, CMP_EQUAL_10, 1},
        {&lower, &lit_upper, CMP_EQUAL_11, 0}, {&set, &lower, CMP_EQUAL_11, 1},
        {&lower, &integer, CMP_EQUAL, CMP_NOT_COMPARABLE}, {&lower, &issue, CMP_EQUAL, CMP_NOT_COMPARABLE},
        {&issue, &lower, CMP_EQUAL, CMP_NOT_COMPARABLE}, {&issue, &issue, CMP_EQUAL, 0},
        {&lower, &upper, CMP_SORT, 0}, {&lower, &upper, CMP_CASE_SORT, 1},
    };
    for (const Row& r : rows)
        EXPECT_EQ(cmp(*r.a, *r.b, r.op), r.want) << molded(*r.a) << " vs " << molded(*r.b) << " op " << r.op;
    EXPECT_EQ(cmp(named(T_WORD, "apple"), named(T_WORD, "Banana"), CMP_LESSER), -1);
    EXPECT_EQ(cmp(named(T_WORD, "b"), named(T_WORD, "ab"), CMP_LESSER), 1);
}

TEST_F(Words, IndexIsTheSlotPlusOne) {
    StackScope scope;
    NodeRef ctx = context_make(2, false, true, 0, CTX_KIND_OBJECT);
    RootCell hold;
    set_series(hold.get(), T_BLOCK, ctx);
    Cell a = named(T_WORD, "idx-a");
    context_add_word(ctx, &a);
    Cell* w = word_push_slot(ctx, 0);
    ActionFrame f{w, T_WORD, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1}};
    action_of<Act::index_q>(T_WORD)(f);
    EXPECT_EQ(get_integer(w), 1);
    Cell* unresolved = stack_push_copy(&a);
    unresolved->w3 = uint32_t(-1);
    f.args = unresolved;
    action_of<Act::index_q>(T_WORD)(f);
    EXPECT_TRUE(cell_is(unresolved, T_NONE));
    EXPECT_EQ(action_of<Act::index_q>(T_REFINEMENT), nullptr);
}

TEST_F(Words, SpellingStringIsACopy) {
    StackScope scope;
    Cell w = named(T_WORD, "spelling-kept");
    Cell* s = word_push_as_string(&w);
    string_append_ascii(s, "!!", 2);
    EXPECT_EQ(string_to_utf8(s), "spelling-kept!!");
    EXPECT_EQ(symbol_text(int32_t(w.w2)), "spelling-kept");
    EXPECT_EQ(formed(w), "spelling-kept");
    int32_t id = int32_t(w.w2);
    Cell* entry = symbol_get(id);
    EXPECT_EQ(int32_t(entry->w1), symbol_alias_raw(id));
    EXPECT_NE(entry->w2, 0u);  // the symbol's own string, made once
}

// Natives, actions and datatype words are bound by their C names this way: a
// case variant of a word met before is the same variable under its own spelling.
TEST_F(Words, AWordFromTextFindsItsCaseVariantsSlotAndKeepsItsSpelling) {
    Cell first = word_from_cstring("case-variant-probe");
    uint32_t words = context_word_count(global_context());
    Cell variant = word_from_cstring("Case-VARIANT-probe");
    EXPECT_EQ(context_word_count(global_context()), words);
    EXPECT_EQ(formed(variant), "Case-VARIANT-probe");
    Cell seven;
    set_integer(&seven, 7);
    word_set_value(&first, &seven);
    EXPECT_EQ(get_integer(word_get_value(&variant)), 7);
}

TEST_F(Words, PushingValuesAndSettingThroughTheStack) {
    StackScope scope;
    Cell* w = stack_push();
    *w = word_from_cstring("push-val");
    EXPECT_THROW(word_push_value(w), LanguageThrow);  // unset
    EXPECT_EQ(last_error_code(), err::script::no_value.code);
    EXPECT_TRUE(cell_is(get_word_push_value(w), T_UNSET));
    Cell* args = stack_push_copy(w);
    set_unset(stack_push());
    EXPECT_THROW(set_word_eval(args), LanguageThrow);
    EXPECT_EQ(last_error_code(), err::script::need_value.code);
    set_integer(args + 1, 42);
    set_word_eval(args);
    EXPECT_EQ(get_integer(args), 42);
    EXPECT_EQ(get_integer(word_push_value(w)), 42);
}

}  // namespace
}  // namespace tev

// typeset! building entries the evaluator and the binary format use, and path mold under a part limit.
#include <gtest/gtest.h>
#include <string>
#include "datatypes/block.h"
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {

uint32_t error_of(void (*f)(Cell*), Cell* arg) {
    try { f(arg); } catch (const LanguageThrow&) { return last_error_code(); }
    return 0;
}

TEST(Typeset, TheDefaultArgumentTypesetAndItsComplement) {
    StackScope scope;
    Cell* block = block_push_new(4);
    typeset_append_any(block);
    Cell any = *block_at(block, 0);
    EXPECT_FALSE(typeset_has_type(&any, T_UNSET));
    for (int t = 1; t <= T_MAX_ID; ++t) {
        if (t != T_UNSET) { EXPECT_TRUE(typeset_has_type(&any, uint32_t(t))) << t; }
    }
    Cell* args = stack_push_copy(&any);
    auto complement = reinterpret_cast<ActionFn>(action_table[T_TYPESET][int(Act::complement) - 1]);
    ActionFrame f{args, T_TYPESET, {}};
    complement(f);
    for (int t = 1; t <= T_MAX_ID; ++t) EXPECT_EQ(typeset_has_type(args, uint32_t(t)), t == T_UNSET) << t;
    // the bits past the type ids are carried, all 96 of them inverted
    EXPECT_EQ(args->w3, 0u);
}

TEST(Typeset, BitsAreMostSignificantFirstInEachByte) {
    StackScope scope;
    Cell* block = block_push_new(2);
    typeset_append_bits(block, 0x40u, 0, 0);  // byte 0 (first in memory), mask 0x40: type id 1
    Cell ts = *block_at(block, 0);
    EXPECT_TRUE(typeset_has_type(&ts, T_DATATYPE));
    EXPECT_FALSE(typeset_has_type(&ts, T_UNSET));
    Cell* only_integer = stack_push();
    cell_init(only_integer, T_TYPESET);
    typeset_add_type(only_integer, T_INTEGER);  // id 11: byte 1, mask 0x10
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(&only_integer->w1)[1], 0x10);
}

TEST(Typeset, FromASpecTypeBlock) {
    StackScope scope;
    Cell* spec = block_push_new(6);
    Cell v;
    set_datatype(&v, T_INTEGER);
    block_append(spec, &v);
    Cell* inner = block_push_new(1);
    block_append(spec, inner);                  // a block is skipped
    cell_init(&v, T_TYPESET);
    typeset_add_type(&v, T_STRING);
    block_append(spec, &v);                     // a typeset is merged
    Cell word = word_from_cstring("float!");    // a word stands for its value
    block_append(spec, &word);
    Cell* out = block_push_new(1);
    typeset_append_from_spec(out, spec);
    Cell ts = *block_at(out, 0);
    for (int t = 1; t <= T_MAX_ID; ++t)
        EXPECT_EQ(typeset_has_type(&ts, uint32_t(t)), t == T_INTEGER || t == T_STRING || t == T_FLOAT) << t;

    Cell* bad = block_push_new(1);
    set_integer(&v, 1);
    block_append(bad, &v);
    EXPECT_EQ(error_of([](Cell* b) { StackScope s; typeset_append_from_spec(block_push_new(1), b); }, bad),
              err::script::invalid_type_spec.code);
    Cell* unset_word = block_push_new(1);
    Cell w = word_from_cstring("typeset-test-unset-word");
    block_append(unset_word, &w);
    EXPECT_EQ(error_of([](Cell* b) { StackScope s; typeset_append_from_spec(block_push_new(1), b); }, unset_word),
              err::script::no_value.code);
}

TEST(Typeset, MoldOnlyAndPartLimit) {
    StackScope scope;
    Cell* ts = stack_push();
    cell_init(ts, T_TYPESET);
    typeset_add_type(ts, T_INTEGER);
    typeset_add_type(ts, T_FLOAT);
    auto mold = action_of<Act::mold>(T_TYPESET);
    Cell* out = string_push(8);
    // each name costs its length without "!" + 2
    EXPECT_EQ(mold(ts, out, true, false, false, nullptr, 100, 0), 100 - (7 + 2) - (5 + 2) + 1);
    EXPECT_EQ(string_to_utf8(out), "integer! float!");
    Cell* cut = string_push(8);
    Cell* arg = stack_push();
    set_integer(arg, 20);
    EXPECT_EQ(mold(ts, cut, false, false, false, arg, 20, 0), 20 - 15 - 9);
    EXPECT_EQ(string_to_utf8(cut), "make typeset! [integer! ");
    Cell* stopped = string_push(8);
    EXPECT_EQ(mold(ts, stopped, false, false, false, arg, 10, 0), 10 - 15);
    EXPECT_EQ(string_to_utf8(stopped), "make typeset! [");
}

TEST(Path, MoldStopsWhenThePartBudgetIsSpent) {
    StackScope scope;
    Cell* path = block_push_new(3, T_SET_PATH);
    for (const char* name : {"aaa", "bbb", "ccc"}) {
        Cell w = word_from_cstring(name);
        block_append(path, &w);
    }
    Cell* arg = stack_push();
    set_integer(arg, 5);
    Cell* out = string_push(8);
    int32_t left = action_of<Act::mold>(T_SET_PATH)(path, out, false, false, false, arg, 5, 0);
    // the element that spends the budget is cut by its own mold, and nothing follows it but the mark
    EXPECT_EQ(string_to_utf8(out), "aaa/b:");
    EXPECT_EQ(left, 5 - 3 - 1 - 3 - 1);
    Cell* whole = string_push(8);
    EXPECT_EQ(action_of<Act::mold>(T_SET_PATH)(path, whole, false, false, false, nullptr, NO_LIMIT, 0),
              NO_LIMIT - 12);
    EXPECT_EQ(string_to_utf8(whole), "aaa/bbb/ccc:");
}

}  // namespace

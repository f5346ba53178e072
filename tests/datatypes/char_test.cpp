// char!: code-point arithmetic kept in range, conversions, exact comparison, form and caret-escaped mold.
#include <gtest/gtest.h>
#include "datatypes/scalar.h"
#include "runtime/memory.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

TEST(Char, ArithmeticStaysAValidCodePoint) {
    struct Row { Act op; Cell a, b; Outcome want; } rows[] = {
        {Act::add, C('a'), I(1), Chr('b')}, {Act::add, C('z'), I(1), Chr('{')},
        {Act::subtract, C('a'), C('A'), Chr(32)}, {Act::subtract, C('a'), I(98), Err(err::math::overflow)},
        {Act::subtract, C(0), I(1), Err(err::math::overflow)}, {Act::divide, C('d'), I(2), Chr('2')},
        {Act::divide, C('e'), I(2), Chr('2')}, {Act::divide, C('a'), I(0), Err(err::math::zero_divide)},
        {Act::remainder, C('a'), I(0), Err(err::math::zero_divide)}, {Act::remainder, C('a'), I(10), Chr(7)},
        {Act::and_t, C('a'), I(95), Chr('A')}, {Act::or_t, C('A'), I(32), Chr('a')}, {Act::xor_t, C('a'), I(32), Chr('A')},
        {Act::multiply, C('a'), I(20000), Err(err::math::overflow)}, {Act::multiply, C('a'), I(1000), Chr(97000)},
        {Act::multiply, C('a'), I(INT32_MAX), Err(err::math::overflow)}, {Act::add, C('a'), F(1.9), Chr('b')},
        {Act::add, C('a'), F(1e20), Err(err::math::overflow)}, {Act::add, C(0x10FFFF), I(1), Err(err::math::overflow)},
        {Act::add, C('a'), N(), Err(err::script::invalid_type)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({r.a, r.b}).run(r.op); }, r.want)) << mold_of(r.a) << " " << int(r.op);
    EXPECT_TRUE(matches([] { return ActionCall({C('b')}).run(Act::even_q); }, {T_LOGIC, 1, 0}));
    EXPECT_TRUE(matches([] { return ActionCall({C('b')}).run(Act::absolute); }, Chr('b')));
}

TEST(Char, MakeAndTo) {
    StackScope scope;
    auto text = [](const char* s) { Cell* c = string_push(8); string_append_utf8(c, s, std::strlen(s)); return *c; };
    auto binary = [](std::initializer_list<uint8_t> bytes) {
        Cell* c = stack_push();
        NodeRef node = alloc_series_bytes(uint32_t(bytes.size()));
        SeriesBuffer* b = node_buffer(node);
        for (uint8_t byte : bytes) b->data[b->tail++] = byte;
        set_series(c, T_BINARY, node, 0);
        return *c;
    };
    struct Row { Cell spec; Outcome want; } rows[] = {
        {I(65), Chr('A')}, {I(1114111), Chr(0x10FFFF)}, {I(1114112), Err(err::script::out_of_range)},
        {I(-1), Err(err::script::out_of_range)}, {F(65.9), Chr('A')}, {F(-0.5), Chr(0)},
        {F(1e10), Err(err::script::out_of_range)}, {F(std::nan("")), Err(err::script::out_of_range)},
        {C('x'), Chr('x')}, {text("abc"), Chr('a')}, {text("\xC3\xA9t\xC3\xA9"), Chr(0xE9)},
        {text(""), Err(err::script::bad_to_arg)}, {binary({0xC3, 0xA9}), Chr(0xE9)}, {binary({'A'}), Chr('A')},
        {binary({0xF0, 0x9F, 0x98, 0x80}), Chr(0x1F600)}, {binary({0xC3}), Err(err::access::invalid_utf8)},
        {binary({0xC0, 0x80}), Err(err::access::invalid_utf8)}, {binary({0xFF}), Err(err::access::invalid_utf8)},
        {L(true), Err(err::script::bad_to_arg)},
    };
    for (const Row& r : rows)
        EXPECT_TRUE(matches([&] { return ActionCall({DT(T_CHAR), r.spec}).target(T_CHAR).run(Act::to, T_CHAR); },
                            r.want)) << type_names[cell_type(&r.spec)].name;
}

TEST(Char, ComparisonIsExact) {
    auto cmp = action_of<Act::compare>(T_CHAR);
    Cell a = C('a'), big_a = C('A'), n97 = I(97), f = F(97.0);
    EXPECT_EQ(cmp(&a, &n97, CMP_EQUAL), 0);
    EXPECT_EQ(cmp(&a, &n97, CMP_STRICT_EQUAL), 1);
    EXPECT_NE(cmp(&a, &big_a, CMP_EQUAL), 0);
    EXPECT_GT(cmp(&a, &big_a, CMP_GREATER), 0);
    EXPECT_EQ(cmp(&a, &f, CMP_EQUAL), CMP_NOT_COMPARABLE);
}

TEST(Char, FormIsTheCharacterAndMoldEscapesIt) {
    struct Row { uint32_t cp; bool all; const char* molded; } rows[] = {
        {'a', false, "#\"a\""}, {'\n', false, "#\"^/\""}, {'\t', false, "#\"^-\""}, {0, false, "#\"^@\""},
        {0x7F, false, "#\"^~\""}, {'"', false, "#\"^\"\""}, {'^', false, "#\"^^\""}, {30, false, "#\"^(1E)\""},
        {27, false, "#\"^[\""}, {150, false, "#\"^(96)\""}, {0xE9, false, "#\"\xC3\xA9\""}, {0xE9, true, "#\"^(E9)\""},
        {0x4E2D, true, "#\"^(4E2D)\""},
    };
    for (const Row& r : rows) EXPECT_EQ(mold_of(C(r.cp), r.all), r.molded) << r.cp;
    EXPECT_EQ(form_of(C('a')), "a");
    EXPECT_EQ(form_of(C(0x4E2D)), "\xE4\xB8\xAD");
}

}  // namespace
}  // namespace tev

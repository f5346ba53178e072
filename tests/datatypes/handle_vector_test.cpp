// handle! text forms and comparison, and the vector! engine entries the other arithmetic types call.
#include <gtest/gtest.h>
#include <cmath>
#include "datatypes/handle.h"
#include "datatypes/vector.h"
#include "runtime/value_stack.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

TEST(Handle, FormsAndComparesByValueAlone) {
    StackScope scope;
    Cell* window = handle_push(0x1234, HANDLE_WINDOW);
    Cell* font = handle_push(0x1234, HANDLE_FONT);
    Cell* null = handle_push_null();
    EXPECT_EQ(form_of(*window), "00001234h");
    EXPECT_EQ(mold_of(*window), "handle!");
    EXPECT_EQ(mold_of(*window, true), "#[handle! 00001234h window]");
    EXPECT_EQ(mold_of(*null, true), "#[handle! 00000000h]");
    EXPECT_EQ(mold_of(*handle_push(0xFFFFFFFFu, HANDLE_RICH_TEXT), true), "#[handle! FFFFFFFFh rich-text]");
    auto compare = action_of<Act::compare>(T_HANDLE);
    EXPECT_EQ(compare(window, font, CMP_EQUAL), 0);
    EXPECT_EQ(compare(null, window, CMP_EQUAL), -1);
    Cell n = I(0x1234);
    EXPECT_EQ(compare(window, &n, CMP_EQUAL), 1);
    // A handle is a 32-bit value with no handle-table slot.
    EXPECT_EQ(window->w3, 0xFFFFFFFFu);
}

// A scalar on the left computes scalar op element into a new vector.
TEST(Vector, ScalarOnTheLeftLeavesTheVectorAlone) {
    StackScope scope;
    Cell* v = stack_push();
    vector_make_cell(v, 3, T_INTEGER, 4);
    for (int32_t n : {1, 2, 3}) vector_append_int32(v, n);
    Cell* result = stack_push_copy(v);
    Cell ten = I(10);
    vector_math_with_scalar(OP_SUB, result, &ten, true);
    EXPECT_EQ(mold_of(*result), "make vector! [9 8 7]");
    EXPECT_EQ(mold_of(*v), "make vector! [1 2 3]");
    Cell* q = stack_push_copy(v);
    Cell six = I(6);
    vector_math_with_scalar(OP_DIV, q, &six, true);
    EXPECT_EQ(mold_of(*q), "make vector! [6 3 2]");
    Cell* r = stack_push_copy(v);
    vector_math_with_scalar(OP_REM, r, &ten, true);
    EXPECT_EQ(mold_of(*r), "make vector! [0 0 1]");
    Cell* right = stack_push_copy(v);
    vector_math_with_scalar(OP_SUB, right, &ten, false);  // element op scalar, in place
    EXPECT_EQ(mold_of(*v), "make vector! [-9 -8 -7]");
}

TEST(Vector, ElementsReadAndWriteWithoutUndefinedConversions) {
    StackScope scope;
    uint8_t bytes[8] = {0xE9, 0xFF, 0, 0, 0, 0, 0, 0};
    Cell c;
    vector_read_element(bytes, 1, T_CHAR, &c);
    EXPECT_EQ(get_char(&c), 0xE9u);
    vector_read_element(bytes, 2, T_CHAR, &c);
    EXPECT_EQ(get_char(&c), 0xFFE9u);
    vector_read_element(bytes, 1, T_INTEGER, &c);
    EXPECT_EQ(get_integer(&c), -23);
    Cell big = F(1e300);
    vector_write_element(bytes, &big, 4, T_FLOAT);
    vector_read_element(bytes, 4, T_FLOAT, &c);
    EXPECT_TRUE(std::isinf(get_float(&c)));
    Cell* v = stack_push();
    vector_make_cell(v, 1, T_INTEGER, 4);
    vector_append_int32(v, 1);
    for (double bad : {1e20, -1e20, std::nan("")}) {
        Cell* w = stack_push_copy(v);
        Cell scalar = F(bad);
        EXPECT_EQ(raised_by([&] { vector_math_with_scalar(OP_MUL, w, &scalar, false); }), err::math::overflow.code) << bad;
    }
    Cell* w = stack_push_copy(v);
    Cell min = I(INT32_MIN);
    vector_math_with_scalar(OP_ADD, w, &min, false);
    Cell minus_one = I(-1);
    EXPECT_EQ(raised_by([&] { vector_math_with_scalar(OP_DIV, w, &minus_one, false); }), 0u);  // MIN+1 / -1 fits
    Cell* m = stack_push();
    vector_make_cell(m, 1, T_INTEGER, 4);
    vector_append_int32(m, INT32_MIN);
    EXPECT_EQ(raised_by([&] { vector_math_with_scalar(OP_DIV, m, &minus_one, false); }), err::math::overflow.code);
}

}  // namespace
}  // namespace tev

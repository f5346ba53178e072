// The constructors the Tevbin decoder, images and the GUI use for pairs, tuples, percents, dates and money.
#include <gtest/gtest.h>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/percent.h"
#include "datatypes/tuple.h"
#include "tests/datatypes/action_call.h"

namespace tev {
namespace {
using namespace tev::testing;

TEST(ScalarConstructors, AppendedAndPushedValuesMoldAsTheirLiterals) {
    StackScope scope;
    Cell* block = block_push_new(1);
    pair_make_in(block, 1, -2);
    const double half = 0.5;
    uint64_t bits;
    std::memcpy(&bits, &half, 8);
    percent_make_in(block, uint32_t(bits >> 32), uint32_t(bits));
    const Cell dated = load_one("1-Jan-2020/10:30+02:00");
    date_make_in(block, dated.w1, get_float(&dated));
    const Cell undated = load_one("5-Jan-0005");
    date_make_in(block, undated.w1, 123.0);  // no time bit: the time is dropped
    EXPECT_EQ(mold_of(*block), "[1x-2 50% 1-Jan-2020/10:30:00+02:00 5-Jan-0005]");
    EXPECT_EQ(mold_of(*date_push(dated.w1, get_float(&dated))), "1-Jan-2020/10:30:00+02:00");
}

TEST(ScalarConstructors, TuplesFromComponentsAndColours) {
    Cell c;
    const uint32_t two[] = {0x101, 2};
    EXPECT_EQ(mold_of(*tuple_from_components(&c, 2, two)), "1.2.0");
    const uint32_t five[] = {1, 2, 3, 4, 255};
    EXPECT_EQ(mold_of(*tuple_from_components(&c, 5, five)), "1.2.3.4.255");
    EXPECT_EQ(mold_of(*tuple_from_colour(&c, 10, 20, 30, -1)), "10.20.30");
    EXPECT_EQ(mold_of(*tuple_from_colour(&c, 10, 20, 30, 0)), "10.20.30.0");
    EXPECT_TRUE(tuple_is_zero(tuple_from_colour(&c, 0, 0, 0, -1)));
    EXPECT_FALSE(tuple_is_zero(tuple_from_colour(&c, 0, 0, 0, 1)));
}

TEST(ScalarConstructors, MoneyFromItsStoredDigits) {
    const Cell money = load_one("-USD$1234.56789");
    const uint8_t* raw = reinterpret_cast<const uint8_t*>(&money);
    uint8_t digits[11];
    std::memcpy(digits, raw + 5, 11);
    Cell c;
    ASSERT_TRUE(money_make_cell_raw(&c, true, raw[4], digits));
    EXPECT_EQ(std::memcmp(&c, &money, sizeof c), 0);
    EXPECT_EQ(mold_of(c, true), "-USD$1234.56789");
    const uint8_t zero[11] = {};
    ASSERT_TRUE(money_make_cell_raw(&c, true, 0, zero));
    EXPECT_EQ(mold_of(c), "$0.00") << "a zero is never negative";
    uint8_t bad[11] = {};
    bad[10] = 0x0A;
    EXPECT_FALSE(money_make_cell_raw(&c, false, 0, bad));
}

}  // namespace
}  // namespace tev

// string! actions reached through the evaluator: refinements, function comparators and the set natives.
#include <gtest/gtest.h>
#include <string>
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"
#include "tests/interpreter/reader.h"

namespace tev {
namespace {

std::string eval_text(const char* source) {
    test_evaluator_start();
    StackScope scope;
    Cell* r = test_eval(source);
    if (!type_is_string(cell_type(r))) return "<not a string>";
    return string_to_utf8(r);
}

TEST(StringScript, ActionsThroughTheEvaluator) {
    struct Case { const char* source; const char* expected; };
    const Case cases[] = {
        {"sort/compare \"cab\" func [a b] [a < b]", "abc"},
        {"sort/compare \"cab\" func [a b] [a > b]", "cba"},
        {"sort/compare/reverse \"cab\" func [a b] [a < b]", "cba"},
        {"s: \"abcabc\" find/last s \"c\"", "c"},
        {"head insert next \"ac\" \"b\"", "abc"},
        {"unique \"aabbc\"", "abc"},
        {"intersect \"abc\" \"bcd\"", "bc"},
        {"difference \"abc\" \"bcd\"", "ad"},
        {"union/skip \"a1b2\" \"a3c4\" 2", "a1b2c4"},
        {"trim/lines {  a\nb  }", "a b"},
        {"append/dup \"x\" \"ab\" 3", "xababab"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval_text(c.source), c.expected) << c.source;
}

TEST(StringScript, AComparatorThatRaisesLeavesTheStringAPermutation) {
    test_evaluator_start();
    StackScope scope;
    EXPECT_NE(test_error("s: \"dcba\" n: 0 sort/compare s func [a b] [n: n + 1 if n > 2 [1 / 0] a < b]"), 0u);
    Cell* s = test_eval("s");
    std::string text = string_to_utf8(s);
    std::sort(text.begin(), text.end());
    EXPECT_EQ(text, "abcd");
}

}  // namespace
}  // namespace tev

// Series and block actions reached through the evaluator: refinements arrive in the order of each action's spec.
#include "tests/datatypes/series_fixture.h"
#include "tests/interpreter/reader.h"

namespace tev {
namespace {
using namespace testing_series;

class BlockScript : public SeriesTest {};

TEST_F(BlockScript, ActionsWithRefinements) {
    struct Row { const char* source; const char* mold; };
    const Row rows[] = {
        {"append/dup [1] [2 3] 2", "[1 2 3 2 3]"},
        {"append/only [1] [2]", "[1 [2]]"},
        {"append/part [1] [2 3 4] 2", "[1 2 3]"},
        {"head insert/only next [1 2] [8 9]", "[1 [8 9] 2]"},
        {"index? insert next [1 2] [8 9]", "4"},
        {"head change/part [1 2 3 4] [8] 3", "[8 4]"},
        {"find/tail [1 2 3 4] [2 3]", "[4]"},
        {"find/last [1 2 1 2] 1", "[1 2]"},
        {"find/skip [2 1 2 1] 1 2", "none"},
        {"select/skip [1 2 3 4] 3 2", "4"},
        {"copy/part next [1 2 3 4] 2", "[2 3]"},
        {"take/part/last [1 2 3 4] 2", "[3 4]"},
        {"take/part next [1 2 3] 0", "[]"},
        {"sort/skip/reverse [1 10 3 30 2 20] 2", "[3 30 2 20 1 10]"},
        {"sort/skip/compare [1 30 3 10 2 20] 2 2", "[3 10 2 20 1 30]"},
        {"reverse/skip [1 2 3 4 5 6] 2", "[5 6 3 4 1 2]"},
        {"unique [1 2 1 3 2]", "[1 2 3]"},
        {"union [1 2] [2 3]", "[1 2 3]"},
        {"intersect [1 2 3] [3 1 5]", "[1 3]"},
        {"exclude [1 2 3] [2]", "[1 3]"},
        {"difference [1 2] [2 3]", "[1 3]"},
        {"unique/skip [1 a 1 b 2 c] 2", "[1 a 2 c]"},
        {"[] < [1]", "true"},
        {"[1 2] = [1 2 3]", "false"},
        {"b: [1] append/only b b b", "[1 [...]]"},
        {"at [1 2 3] 0", "[1 2 3]"},
        {"skip [1 2 3] 9", "[]"},
        {"pick [1 2 3] 0", "none"},
        {"b: [a 1 b 2] b/b", "2"},
    };
    for (const Row& r : rows) {
        StackScope scope;
        Cell* v = test_eval(r.source);
        EXPECT_EQ(mold_of(v), r.mold) << r.source;
    }
}

TEST_F(BlockScript, Errors) {
    struct Row { const char* source; ErrCode code; };
    const Row rows[] = {
        {"poke [1 2] 0 5", err::script::out_of_range},
        {"b: [1] append/only b b copy/deep b", err::internal::no_cycle},
        {"sort/all [1 2]", err::script::bad_refines},
        {"reverse/skip [1 2 3 4 5 6] 4", err::script::invalid_refine_arg},
        {"copy/part [1 2] \"x\"", err::script::invalid_refine_arg},
    };
    for (const Row& r : rows) EXPECT_EQ(test_error(r.source), r.code.code) << r.source;
}

}  // namespace
}  // namespace tev

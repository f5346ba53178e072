// The interpreter on blocks read by the test reader: words, calls, exits, errors.
#include <gtest/gtest.h>
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"
#include "tests/interpreter/reader.h"

namespace tev {
namespace {

struct IntCase { const char* source; int32_t expected; };

TEST(Interpreter, EvaluatesToIntegers) {
    const IntCase cases[] = {
        {"x: 5 x", 5},
        {"x: y: 7 y", 7},
        {"if true [3]", 3},
        {"either false [1] [2]", 2},
        {"unless false [4]", 4},
        {"all [1 2]", 2},
        {"any [none false 8]", 8},
        {"f: func [a b] [b] f 1 2", 2},
        {"f: func [a /r b] [either r [b] [a]] f/r 1 9", 9},
        {"f: func [a /r b] [either r [b] [a]] f 1", 1},
        {"f: does [return 6 7] f", 6},
        {"loop 3 [x: 11] x", 11},
        {"repeat i 3 [i]", 3},
        {"repeat i 3 [] i", 3},
        {"catch [throw 5 6]", 5},
        {"catch/name [throw/name 5 'a] 'A", 5},
        {"forever [break/return 12]", 12},
        {"x: 0 loop 2.9 [x: 21] x", 21},
        {"case [false [1] true [2]]", 2},
        {"switch 2 [1 [10] 2 [20]]", 20},
        {"f: func [n] [either n [f none] [30]] f true", 30},
        {"o: make object! [a: 1 b: 2] o/b", 2},
        {"do [1 2 13]", 13},
        {"1 + 2 * 3", 9},
        // Operators after a plain argument or a set-word's value, fast and called ones.
        {"f: func [a b] [a - b] f 10 - 2 * 3 4", 20},
        {"x: 2 y: x * 3 + 1 y", 7},
        {"x: 6 and 3 + 1 x", 3},
        {"f: func [a] [a] f 12 / 4 * 5", 15},
        {"f: func [a] [a] f 9 // 4 * 5", 5},
        {"f: func [a] [a + 1] x: 1 + f 2 x", 4},
        {"fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]] fib 15", 610},
        {"x: 0 repeat i 100 [x: x + i] x", 5050},
        {"x: 0 while [x < 10] [x: x + 1] x", 10},
        {"x: 0 until [x: x + 1 x = 5] x", 5},
        {"x: 0 loop 10 [x: x + 1 if x = 4 [break]] x", 4},
        {"x: 0 repeat i 10 [if i > 3 [continue] x: x + 1] x", 3},
        {"f: func [a] [loop 5 [if a > 2 [return a * 10] a: a + 1] 0] f 0", 30},
        {"f: func [/local x] [x: 5 x] f", 5},
        {"f: function [] [x: 41 x + 1] f", 42},
        {"f: has [a b] [a: 1 b: 2 a + b] f", 3},
        {"apply :subtract [10 3]", 7},
        {"g: func [a /r b] [either r [a + b] [a]] apply/all :g [1 true 2]", 3},
    };
    for (const auto& c : cases) {
        if (uint32_t code = test_error(c.source)) { ADD_FAILURE() << c.source << " raised " << code; continue; }
        Cell* r = test_eval(c.source);
        ASSERT_TRUE(cell_is(r, T_INTEGER)) << c.source << " gave type " << int(cell_type(r));
        EXPECT_EQ(get_integer(r), c.expected) << c.source;
        stack_pop(1);
    }
    EXPECT_EQ(frame_depth(), 0u);
}

struct ErrCase { const char* source; ErrCode code; };

TEST(Interpreter, RaisesCatalogueErrors) {
    const ErrCase cases[] = {
        {"x:", err::script::need_value},
        {"unset-word-here", err::script::no_value},
        {"break", err::throw_::break_},
        {"continue", err::throw_::continue_},
        {"return 1", err::throw_::return_},
        {"throw 1", err::throw_::throw_},
        {"catch/name [throw/name 1 'b] 'a", err::throw_::throw_},
        {"loop 2 [try/all [break]]", err::throw_::break_},
        {"either () [1] [2]", err::script::no_return},
        {"f: func [a] [a] f", err::script::no_arg},
        {"if 1 2", err::script::expect_arg},
        {"f: func [a a] []", err::script::dup_vars},
        {"f: func [a] [] f/z 1", err::script::no_refine},
        {"make native! [[] 108]", err::script::bad_make_arg},
        {"make native! [[] 121]", err::script::bad_make_arg},
        {"make action! [[] 8]", err::script::bad_make_arg},
        {"make action! [[] 63]", err::script::bad_make_arg},
    };
    for (const auto& c : cases) EXPECT_EQ(test_error(c.source), c.code.code) << c.source;
    EXPECT_EQ(frame_depth(), 0u);
}

TEST(Interpreter, NonLocalExitsLeaveTheStacksBalanced) {
    Cell* mark = vstack.top;
    const char* sources[] = {
        "f: func [] [loop 3 [return 1]] loop 5 [f]",
        "loop 3 [catch [throw 1]]",
        "try [loop 1 [1 / 0]]",
        "foreach [a b] [1 2 3] [b]",
    };
    for (const char* s : sources) {
        test_error(s);
        EXPECT_EQ(vstack.top, mark) << s;
        EXPECT_EQ(frame_depth(), 0u) << s;
        EXPECT_EQ(pending_exit, 0u) << s;
    }
}

TEST(Interpreter, DeepRecursionEndsInStackOverflow) {
    EXPECT_EQ(test_error("f: func [] [f] f"), err::internal::stack_overflow.code);
    EXPECT_EQ(test_error("f: func [x] [f (((((x)))))] f 1"), err::internal::stack_overflow.code);
    EXPECT_EQ(frame_depth(), 0u);
}

TEST(Interpreter, ValueStackHoldsOneCellLessThanItsSize) {
    test_evaluator_start();
    Cell* mark = vstack.top;
    size_t room = VALUE_STACK_CELLS - 1 - stack_depth();
    for (size_t k = 0; k < room; ++k) stack_push();
    EXPECT_THROW(stack_push(), LanguageThrow);
    EXPECT_EQ(last_error_code(), err::internal::stack_overflow.code);
    vstack.top = mark;
}

TEST(Interpreter, FrameStackHoldsItsCapacityAndRefusesOneMore) {
    test_evaluator_start();
    Cell* mark = vstack.top;
    uint32_t depth = frame_depth();
    for (size_t k = depth; k < FRAME_STACK_RECORDS; ++k) frame_push(FRAME_LOOP, 0, 0, 0);
    EXPECT_EQ(frame_depth(), FRAME_STACK_RECORDS);
    EXPECT_THROW(frame_push(FRAME_LOOP, 0, 0, 0), LanguageThrow);
    EXPECT_EQ(last_error_code(), err::internal::stack_overflow.code);
    frames_unwind_to(depth);
    vstack.top = mark;
}

// Marks a block and every block in it as loaded from the boot image.
static void flag_library_deep(const Cell* block) {
    set_series_flags(series_node(block), SER_LIBRARY_FLAG);
    for (uint32_t k = 0; k < block_length(block); ++k)
        if (cell_is(block_at(block, k), T_BLOCK)) flag_library_deep(block_at(block, k));
}

// Code loaded from the boot image: an error inside it keeps its `near` at the
// user's code that called into it. The same for the conditionals the
// evaluator runs itself, in a branch or a condition list.
TEST(Interpreter, LibraryBlocksDoNotMoveTheErrorPosition) {
    for (const char* source : {"1 / 0", "if true [1 / 0]", "either false [2] [1 / 0]", "unless none [1 / 0]",
                               "any [none 1 / 0]", "all [1 1 / 0]"}) {
        SCOPED_TRACE(source);
        test_evaluator_start();
        StackScope scope;
        Cell* library = test_read(source);
        flag_library_deep(library);
        Cell* user = test_read("x: 1 do lib");
        Cell lib_word = word_from_symbol(symbol_from_cstring("lib"));
        word_assign(&lib_word, library);
        Cell near = test_error_near(user);
        ASSERT_TRUE(cell_is(&near, T_BLOCK));
        EXPECT_EQ(series_node(&near), series_node(user));
        EXPECT_EQ(series_index(&near), 2u);  // at `do lib`
    }
}

// The evaluator knows some natives by their index: the indexes name them.
TEST(Interpreter, NativeIndexesTheEvaluatorKnowsNameTheirNatives) {
    const std::pair<uint32_t, const char*> known[] = {
        {NATIVE_IF, "if"}, {NATIVE_UNLESS, "unless"}, {NATIVE_EITHER, "either"}, {NATIVE_ANY, "any"},
        {NATIVE_ALL, "all"}, {NATIVE_EQUAL_Q, "equal?"}, {NATIVE_GREATER_OR_EQUAL_Q, "greater-or-equal?"}};
    for (const auto& [index, name] : known) EXPECT_STREQ(native_defs[index - 1].name, name);
}

// Nor does it report trace events: the hook hears the user's block that calls
// into it, never the library block itself.
TEST(Interpreter, LibraryBlocksReportNoTraceEvents) {
    test_evaluator_start();
    StackScope scope;
    Cell* library = test_read("1 + 2");
    set_series_flags(series_node(library), SER_LIBRARY_FLAG);
    Cell lib_word = word_from_symbol(symbol_from_cstring("traced-lib"));
    word_assign(&lib_word, library);
    Cell* r = test_eval(
        "seen: copy [] "
        "hook: func [event code offset value ref frame] [append/only seen code] "
        "do/trace [do traced-lib 7] :hook "
        "reduce [0 < length? seen  none = find/only seen traced-lib  none <> find/only seen [do traced-lib 7]]");
    ASSERT_TRUE(cell_is(r, T_BLOCK));
    ASSERT_EQ(block_length(r), 3u);
    EXPECT_TRUE(cell_is(block_at(r, 0), T_LOGIC) && block_at(r, 0)->w1) << "the user's block is traced";
    EXPECT_TRUE(cell_is(block_at(r, 1), T_LOGIC) && block_at(r, 1)->w1) << "the library block is not";
    EXPECT_TRUE(cell_is(block_at(r, 2), T_LOGIC) && block_at(r, 2)->w1);
}

std::string printed;
void capture_print(const std::string& text, bool new_line) {
    printed += text;
    if (new_line) printed += "\n";
}

// Each print reduces into a block of its own: a print inside the reduction
// leaves the outer output whole.
TEST(Interpreter, PrintInsideAPrintedBlockKeepsBothOutputsWhole) {
    test_evaluator_start();
    set_print_hook(capture_print);
    printed.clear();
    Cell* mark = vstack.top;
    test_eval("print [\"x\" (prin \"y\" 1) \"z\"]");
    vstack.top = mark;
    set_print_hook(nullptr);
    EXPECT_EQ(printed, "yx 1 z\n");
}

// system/state/interpreted? answers whether interpreted code is under way below
// its caller: library code alone says no, user code (also through the library) yes.
TEST(Interpreter, InterpretedTellsLibraryCodeFromUserCode) {
    test_evaluator_start();
    // As at start-up: no evaluation under way (an earlier test's error may
    // have left its position behind).
    set_unset(current_evaluation());
    StackScope scope;
    Cell* library = test_read("system/state/interpreted?");
    flag_library_deep(library);
    Cell lib_word = word_from_symbol(symbol_from_cstring("interpreted-lib"));
    word_assign(&lib_word, library);
    struct Case {
        const char* what;
        const Cell* block;
        bool interpreted;
    } cases[] = {
        {"library code alone", library, false},
        {"user code", test_read("system/state/interpreted?"), true},
        {"user code through the library", test_read("do interpreted-lib"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cell* r = eval_block(c.block);
        ASSERT_TRUE(cell_is(r, T_LOGIC));
        EXPECT_EQ(r->w1 != 0, c.interpreted);
    }
}

}  // namespace
}  // namespace tev

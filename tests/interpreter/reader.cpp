// Test text to blocks through the lexer, and evaluation helpers (see reader.h).
#include "tests/interpreter/reader.h"
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "loader/lexer.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* test_read(const char* text) {
    Cell* block = stack_push();
    transcode_utf8(block, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    return block;
}

void test_evaluator_start() {
    static bool started = false;
    if (started) return;
    started = true;
    evaluator_init();
}

Cell* test_eval(const char* text) {
    test_evaluator_start();
    Cell* slot = stack_push();
    Cell* block = test_read(text);
    Cell* r = eval_block(block);
    *slot = *r;
    vstack.top = slot + 1;
    return slot;
}

uint32_t test_error(const char* text) {
    test_evaluator_start();
    Cell* mark = vstack.top;
    uint32_t depth = frame_depth();
    try {
        test_eval(text);
    } catch (const LanguageThrow& t) {
        frames_unwind_to(depth);
        vstack.top = mark;
        pending_exit = 0;
        return t.code == THROW_ERROR ? last_error_code() : 0;
    }
    vstack.top = mark;
    return 0;
}

Cell test_error_near(Cell* block) {
    test_evaluator_start();
    Cell* mark = vstack.top;
    uint32_t depth = frame_depth();
    Cell near;
    set_none(&near);
    try {
        eval_block(block);
        ADD_FAILURE() << "no error";
    } catch (const LanguageThrow&) {
        frames_unwind_to(depth);
        near = *error_field(thrown_value(), ERR_FIELD_NEAR);
    }
    vstack.top = mark;
    pending_exit = 0;
    return near;
}

}  // namespace tev

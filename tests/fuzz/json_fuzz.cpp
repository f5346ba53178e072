// libFuzzer target: load-json over random text (its native fast path, and its
// grammar for what the fast path refuses), then to-json of whatever it read and
// load-json of that again, which must give an equal value. Built by the
// TEV_FUZZ option (clang).
//
// Byte 0 bit 0 runs the collector at every allocation; the other bytes are the
// text, read as UTF-8 (bytes that are not UTF-8 end the run).
#include <cstddef>
#include <cstdint>
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "startup/boot_image.h"
#include "startup/startup.h"
#include "startup/startup_routines.h"

using namespace tev;

namespace {

Cell* global(const char* name) {
    Cell w = word_from_cstring(name);
    return stack_push_copy(&w);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fpu_set_control();
    runtime_init();
    collector_enabled = true;
    boot_library_run(startup_routines_bind, startup_system_fill);  // load-json is library code
    static const char setup[] =
        "check-json: func [text /local v] [\n"
        "    v: load-json text\n"
        "    unless error? :v [\n"
        "        ;-- what was read is written and read back unchanged\n"
        "        if error? try [to-json v] [exit]\n"
        "        unless equal? v load-json to-json v [do make error! \"round trip changed the value\"]\n"
        "    ]\n"
        "]";
    StackScope scope;
    Cell* code = stack_push();
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(setup), sizeof setup - 1);
    eval_block(code);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    StackScope scope;
    uint32_t depth0 = frame_depth();
    Cell* code = stack_push();
    static const char call[] = "check-json text";
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(call), sizeof call - 1);
    Cell* word = global("text");
    bool loaded = false;
    try {
        // Text that is not UTF-8 never reaches load-json: a string cannot hold it.
        Cell* text = string_load(data + 1, uint32_t(size - 1), nullptr, 0);
        loaded = true;
        word_assign(word, text);
        gc_torture = data[0] & 1;
        eval_block(code);
    } catch (LanguageThrow&) {
        // Only the round trip's own error is a finding; load-json returns its errors.
        gc_torture = false;
        frames_unwind_to(depth0);
        if (loaded) __builtin_trap();
    }
    gc_torture = false;
    pending_exit = 0;
    return 0;
}

// libFuzzer target: transcode over arbitrary bytes, with and without an event hook.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// The first byte picks how the text is read: bits 0-1 the mode (load, scan,
// prescan), bit 2 one value only, bit 3 a hook, bit 4 the hook declines errors,
// bit 5 the hook moves the input, bit 6 the hook loads other text, bit 7 the
// text arrives as a string! instead of bytes.
#include <cstddef>
#include <cstdint>
#include "datatypes/string.h"
#include "loader/lexer.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

namespace {

struct FuzzHook {
    uint8_t options;
    uint32_t calls = 0;
    uint32_t moves = 0;
    static bool call(void* ctx, LexEventInfo& info) {
        auto* self = static_cast<FuzzHook*>(ctx);
        ++self->calls;
        if ((self->options & 0x20) && self->moves < 8 && (self->calls % 3) == 0) {
            ++self->moves;
            info.index = (self->calls & 1) ? info.index + 2 : info.index / 2 + 1;
        }
        if ((self->options & 0x40) && (self->calls % 5) == 0) {
            StackScope scope;
            Cell* out = stack_push();
            static const char nested[] = "[a b/c {d} \"e\" 1 2.5 #\"f\" %g h: :i 'j]";
            try {
                transcode_utf8(out, reinterpret_cast<const uint8_t*>(nested), sizeof nested - 1);
            } catch (LanguageThrow&) {
                fuzz::finding("the hook's nested text, which is valid, raised");
            }
        }
        if (info.event == LEX_ERROR) return !(self->options & 0x10);
        return (self->calls % 7) != 0;  // now and then skip or drop a token
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(bytes, length, &in)) return 0;
    const auto [options, data, size] = in;
    TranscodeOptions o;
    o.mode = (options & 3) == 1 ? LexMode::scan : (options & 3) == 2 ? LexMode::prescan : LexMode::load;
    o.one = options & 4;
    FuzzHook fuzz_hook{options};
    LexHook hook{&FuzzHook::call, &fuzz_hook, LEX_ALL_EVENTS};
    if (options & 8) o.hook = &hook;
    StackScope scope;
    Cell* out = stack_push();
    try {
        if (options & 0x80) {
            Cell* src = stack_push();
            string_make(src, uint32_t(size));
            for (size_t i = 0; i < size; ++i) string_append_codepoint(src, data[i] < 0xF0 ? data[i] : 0x1F600);
            transcode_value(out, src, o);
        } else {
            transcode_utf8(out, data, size, o);
        }
    } catch (LanguageThrow&) {
        // Syntax errors are expected; anything else reaching here is a bug.
        uint32_t code = last_error_code();
        if (code / 100 != 2 && code != err::internal::not_done.code) fuzz::finding("unexpected error %u", unsigned(code));
    }
    return 0;
}

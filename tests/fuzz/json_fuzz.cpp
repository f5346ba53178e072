// libFuzzer target: load-json over random text (its native fast path, and its
// grammar for what the fast path refuses), then to-json of whatever it read and
// load-json of that again, which must give an equal value. Built by the
// TEV_FUZZ option (clang).
//
// Byte 0 bit 0 runs the collector at every allocation; the other bytes are the
// text, read as UTF-8 (bytes that are not UTF-8 end the run).
#include <cstddef>
#include <cstdint>
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_library();  // load-json is library code
    fuzz::run_setup_source(
        "check-json: func [text /local v] [\n"
        "    v: load-json text\n"
        "    unless error? :v [\n"
        "        ;-- what was read is written and read back unchanged\n"
        "        if error? try [to-json v] [exit]\n"
        "        unless equal? v load-json to-json v [do make error! \"round trip changed the value\"]\n"
        "    ]\n"
        "]");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(data, size, &in)) return 0;
    // Text that is not UTF-8 never reaches load-json: a string cannot hold it.
    if (!fuzz::set_global_text("text", in.data, in.size)) return 0;
    // Only the round trip's own error is a finding; load-json returns its errors.
    if (fuzz::run_source_raised("check-json text", in.options & 1)) fuzz::finding("load-json's round trip raised");
    return 0;
}

// libFuzzer target: load-json over random text (its native fast path, and its
// grammar for what the fast path refuses), then to-json of whatever it read, by
// its native writer and by its Tev encoder (the writer made to decline), which
// must write the same text or raise the same error; then load-json of that
// text again, which must give an equal value. Built by the TEV_FUZZ option (clang).
//
// Byte 0: bit 0 runs the collector at every allocation; bits 1-2 pick to-json's
// options (none, /ascii, /pretty, /pretty/ascii); bit 3 reads the text as Tev
// data (load) instead of JSON, for values JSON cannot give. The other bytes are
// the text, read as UTF-8 (bytes that are not UTF-8 end the run).
#include <cstddef>
#include <cstdint>
#include <string>
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_library();  // load-json and to-json are library code
    fuzz::run_setup_source(R"~(
        json: context? first find body-of :to-json 'encode*
        native-encode: :json/encode*
        fail: func [message [string!]] [
            print message
            do make error! message
        ]
        ; mold/all tells apart what equal? does not (case above all)
        outcome: func [code [block!] /local r] [
            r: try code
            mold/all either error? :r [reduce [r/id r/arg1]] [:r]
        ]
        ; to-json's text both ways, which must be the same
        encode-both-ways: func [code [block!] /local native tev] [
            native: outcome code
            json/encode*: func [data [any-type!] indent ascii] [none]
            tev: outcome code
            json/encode*: :native-encode
            unless native == tev [
                fail rejoin ["to-json natively gave " native " where the Tev code gave " tev]
            ]
        ]
        check-json: func [text call [word! path!] extra [block!] as-tev? [logic!] /local v code] [
            v: either as-tev? [attempt [load text]] [load-json text]
            code: append append/only append/only append/only copy [] call 'quote :v extra
            encode-both-ways code
            ;-- what was read as JSON is written and read back unchanged
            unless any [as-tev?  error? :v  error? try [to-json v]] [
                unless equal? v load-json to-json v [fail "round trip changed the value"]
            ]
        ]
    )~");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(data, size, &in)) return 0;
    // Text that is not UTF-8 never reaches load-json: a string cannot hold it.
    if (!fuzz::set_global_text("text", in.data, in.size)) return 0;
    static const char* const options[] = {"'to-json []", "'to-json/ascii []", "'to-json/pretty [\"  \"]",
                                          "'to-json/pretty/ascii [\"^-\"]"};
    std::string call = "check-json text ";
    call += options[(in.options >> 1) & 3];
    call += (in.options & 8) ? " true" : " false";
    // Only the checks' own errors are findings; load-json returns its errors,
    // and both ways of to-json raise the same ones.
    if (fuzz::run_source_raised(call.c_str(), in.options & 1)) fuzz::finding("a check failed (printed above)");
    return 0;
}

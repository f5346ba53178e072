// libFuzzer target: the Tevbin decoder over arbitrary bytes. Whatever decodes
// must encode again in both record forms and decode from that once more.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// The first byte picks the use: bit 0 the boot image's (definitions allowed).
#include <cstddef>
#include <cstdint>
#include <vector>
#include "datatypes/block.h"
#include "loader/tevbin.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    return 0;
}

// Faults the decoder may raise on bad input: script (invalid-data,
// tb-invalid-record and the spec and key checks of what it rebuilds), access
// (no-codec) and internal (no-memory, stack-overflow).
static bool expected_fault(uint32_t code) {
    uint32_t type = code / 100;
    return type == 3 || type == 9 || code == err::access::no_codec.code;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(data, size, &in)) return 0;
    TevbinUse use = (in.options & 1) ? TevbinUse::boot : TevbinUse::codec;
    StackScope scope;
    Cell* out = block_push_new(1);
    try {
        tevbin_decode(in.data, in.size, out, use);
    } catch (LanguageThrow&) {
        if (!expected_fault(last_error_code())) fuzz::finding("unexpected error %u", unsigned(last_error_code()));
        return 0;
    }
    for (bool compact : {true, false}) {
        std::vector<uint8_t> again;
        Cell* back = block_push_new(1);
        try {
            tevbin_encode_records(block_head(out), block_length(out), compact, true, &again);
            tevbin_decode(again.data(), again.size(), back, TevbinUse::codec);
        } catch (LanguageThrow&) {
            fuzz::finding("a decoded value did not survive a second round (error %u)", unsigned(last_error_code()));
        }
        if (block_length(back) != block_length(out)) fuzz::finding("a second round changed the number of values");
    }
    return 0;
}

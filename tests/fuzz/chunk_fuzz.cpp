// libFuzzer target: the boot image's chunk decoder over arbitrary bytes; what
// decodes must have the size its header claims and survive the writer.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "runtime/chunk_codec.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    if (!decode_chunks(data, size, &out, size_t(1) << 24)) {
        if (!out.empty()) fuzz::finding("a refused image left output");
        return 0;
    }
    uint32_t claimed = uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 | uint32_t(data[7]) << 24;
    if (out.size() != claimed) fuzz::finding("decoded %zu bytes where the header claims %u", out.size(), claimed);
    std::vector<uint8_t> packed, back;
    if (encode_chunks(out.data(), out.size(), &packed)) {
        if (!decode_chunks(packed.data(), packed.size(), &back) || back != out)
            fuzz::finding("what the writer packed does not decode back");
    }
    return 0;
}

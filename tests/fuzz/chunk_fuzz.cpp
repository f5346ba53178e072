// libFuzzer target: the boot image's chunk decoder over arbitrary bytes; what
// decodes must have the size its header claims and survive the writer.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "runtime/chunk_codec.h"

using namespace tev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    if (!decode_chunks(data, size, &out, size_t(1) << 24)) {
        if (!out.empty()) __builtin_trap();
        return 0;
    }
    uint32_t claimed = uint32_t(data[4]) | uint32_t(data[5]) << 8 | uint32_t(data[6]) << 16 | uint32_t(data[7]) << 24;
    if (out.size() != claimed) __builtin_trap();
    std::vector<uint8_t> packed, back;
    if (encode_chunks(out.data(), out.size(), &packed)) {
        if (!decode_chunks(packed.data(), packed.size(), &back) || back != out) __builtin_trap();
    }
    return 0;
}

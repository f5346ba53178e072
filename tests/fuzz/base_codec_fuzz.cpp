// libFuzzer target: the base 2/16/58/64 decoders over arbitrary text.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// The first byte picks the base (bits 0-1). The rest is the text, decoded as
// bytes and again widened to 2-byte units: byte text takes the decoders' fast
// paths and wide text never does, so the two must agree on validity and bytes.
// Whatever decodes must encode and decode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "datatypes/binary.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(data, size, &in)) return 0;
    static const int bases[] = {2, 16, 58, 64};
    const int base = bases[in.options & 3];
    const uint8_t* text = in.data;
    const uint32_t count = uint32_t(in.size);
    std::string narrow, wide_bytes;
    const bool valid = binary_debase_bytes(base, text, count, 1, &narrow);
    std::vector<uint16_t> wide(text, text + count);
    const bool wide_valid = binary_debase_bytes(base, wide.data(), count, 2, &wide_bytes);
    if (valid != wide_valid || (valid && narrow != wide_bytes)) fuzz::finding("base %d: bytes and wide text decode apart", base);
    if (valid) {
        std::string encoded = binary_enbase(base, reinterpret_cast<const uint8_t*>(narrow.data()), uint32_t(narrow.size()));
        std::string back;
        if (!binary_debase_bytes(base, encoded.data(), uint32_t(encoded.size()), 1, &back) || back != narrow)
            fuzz::finding("base %d: the encoded bytes do not decode back", base);
    }
    return 0;
}

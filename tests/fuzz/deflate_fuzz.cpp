// libFuzzer target: decompress arbitrary bytes as zlib, raw DEFLATE or gzip.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// The first byte picks the framing (bits 0-1: zlib, deflate, gzip; 3 reads the
// rest as plain data to compress first, in the framing of bits 2-3). Whatever
// decodes must compress and decode back to itself.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include "io/deflate.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

namespace {

// Small enough that a stream expanding a thousandfold stays cheap to run.
constexpr size_t OUTPUT_LIMIT = size_t(16) << 20;

const CompressMethod methods[3] = {CompressMethod::zlib, CompressMethod::deflate, CompressMethod::gzip};

void check_round_trip(CompressMethod method, const uint8_t* data, size_t size) {
    ByteBuffer packed(OUTPUT_LIMIT * 2);
    if (compress_bytes(method, data, size, packed) != COMPRESS_OK) fuzz::finding("compressing failed");
    ByteBuffer back(OUTPUT_LIMIT);
    if (decompress_bytes(method, packed.data(), packed.size(), back) != COMPRESS_OK)
        fuzz::finding("what was compressed does not decompress");
    if (back.size() != size || (size && std::memcmp(back.data(), data, size) != 0))
        fuzz::finding("what was compressed decompresses to other bytes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(data, size, &in)) return 0;
    if ((in.options & 3) == 3) {
        check_round_trip(methods[((in.options >> 2) & 3) % 3], in.data, in.size);
        return 0;
    }
    CompressMethod method = methods[in.options & 3];
    ByteBuffer out(OUTPUT_LIMIT);
    int status = decompress_bytes(method, in.data, in.size, out);
    if (status == COMPRESS_OK) {
        check_round_trip(method, out.data(), out.size());
    } else if (status < COMPRESS_BAD_FORMAT || status > COMPRESS_NO_MEMORY) {
        fuzz::finding("unexpected status %d", status);
    }
    return 0;
}

// libFuzzer target: an answer's header text read into a map, over arbitrary bytes.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// The bytes are the text with no terminator after them: the reader must stay
// inside them whatever the lines look like, and never raise.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "datatypes/map.h"
#include "io/http.h"
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> exact(data, data + size);
    StackScope scope;
    try {
        Cell* map = http_headers_to_map(exact.data(), exact.size());
        if (!cell_is(map, T_MAP)) fuzz::finding("the headers did not become a map");
    } catch (LanguageThrow&) {
        fuzz::finding("unexpected error %u", unsigned(last_error_code()));
    }
    return 0;
}

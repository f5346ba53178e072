// libFuzzer target: an answer's header text read into a map, over arbitrary bytes.
// Built by the TEV_FUZZ option (clang); not part of tev_tests.
//
// The bytes are the text with no terminator after them: the reader must stay
// inside them whatever the lines look like, and never raise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "io/http.h"
#include "runtime/context_table.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

using namespace tev;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    memory_init();
    registry_init();
    register_all_datatypes();
    value_stack_init();
    symbol_table_make_block();
    global_context_init();
    symbol_table_make_index();
    collector_enabled = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> exact(data, data + size);
    StackScope scope;
    try {
        Cell* map = http_headers_to_map(exact.data(), exact.size());
        if (!cell_is(map, T_MAP)) __builtin_trap();
    } catch (LanguageThrow&) {
        std::fprintf(stderr, "unexpected error %u\n", unsigned(last_error_code()));
        __builtin_trap();
    }
    return 0;
}

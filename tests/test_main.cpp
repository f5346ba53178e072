// Unit-test entry: starts the runtime once, then runs every test.
#include <gtest/gtest.h>
#include "datatypes/registry.h"
#include "runtime/context.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tev::memory_init();
    tev::registry_init();
    tev::register_all_datatypes();
    tev::value_stack_init();
    tev::symbol_table_make_block();
    tev::global_context_init();
    tev::symbol_table_make_index();
    tev::bind_type_name_words();
    // Tests run with the collector on, as scripts do after boot, so that
    // TEV_GC_TORTURE=1 collects at every allocation they make.
    tev::collector_enabled = true;
    return RUN_ALL_TESTS();
}

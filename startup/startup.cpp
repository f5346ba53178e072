// Start-up: phase 1 (platform and processor), runtime_init (every module in order), the hand-over.
#include "startup/startup.h"
#include <exception>
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/registry.h"
#include "datatypes/url.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "interpreter/script_runner.h"
#include "interpreter/trace.h"
#include "io/files.h"
#include "io/http.h"
#include "loader/tevbin.h"
#include "loader/lexer.h"
#include "os/os.h"
#include "runtime/console_output.h"
#include "runtime/context_table.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/platform.h"
#include "runtime/random.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"
#include "runtime/word_tables.h"
#include "startup/boot_image.h"
#include "startup/startup_routines.h"

namespace tev {


// Deep evaluation must hit the language's own stack limit long before this.
constexpr size_t INTERPRETER_STACK_BYTES = size_t(256) << 20;

// ------------------------------------------------------------------ processor

static void fpu_reset() {
#if defined(__i386__) || defined(__x86_64__)
    asm volatile("fninit");
#endif
}

void fpu_set_control() {
#if defined(__i386__) || defined(__x86_64__)
    uint16_t control = 0x27F;  // all x87 exceptions masked, 53-bit precision, round to nearest
    asm volatile("fldcw %0" : : "m"(control));
    uint32_t mxcsr = 0x1F80;   // all SSE exceptions masked, round to nearest, no flush to zero
    asm volatile("ldmxcsr %0" : : "m"(mxcsr));
#endif
}

// ------------------------------------------------------------------ runtime_init

// The runtime raises errors without knowing error! values: the datatype
// makes them and the interpreter says where they were raised.
static void install_error_hooks() {
    error_hooks.make = error_make_for_raise;
    error_hooks.code_of = error_code_of;
    error_hooks.mark_raised = error_mark_raised;
    error_hooks.traced = error_trace_raised;
}

// file! and url! values read and write through io/, a layer above theirs.
static void install_io_hooks() {
    file_io_hooks = {.read = file_read, .write = file_write, .delete_file = file_delete, .rename = file_rename,
                     .query_modified = file_query_modified};
    url_http_request_hook = http_request;
}

static const char* native_spec_text(uint32_t index) {
    return is_native_index(index) ? native_defs[index - 1].spec : nullptr;
}

// The binary codec stores definitions and natives, which only the evaluator knows.
static void install_tevbin_hooks() {
    tevbin_hooks = {.check_machine_stack = interp_check_machine_stack, .word_assign = word_assign,
                    .native_spec_text = native_spec_text, .spec_from_text = spec_from_text};
}

void runtime_init() {
    // 1. building-boot-literals set (word tables; not built yet)
    print_hook_tables_init();   // 2. output hook tables
    os::sys_startup();          // 3. COM apartment; GDI+ and the crypto provider join here
    console_init();             //    (3) console probe: real console or redirected
    random_init();              // 4. random generator
    memory_init();              // 5. memory record, frame sizes
    // 6. handle tables (not built yet)
    install_error_hooks();      //    (5) raised errors become error! values once the catalogue loads
    registry_init();            // 7. type-name and action tables
    register_all_datatypes();   // 8. datatype registrations, parents first
    install_io_hooks();         //    (8) file! and url! reach the file system and the network
    install_tevbin_hooks();     //    (8) the binary codec reaches the evaluator
    // 9. actions-init: the action entry points
    // 10. first node and series frames (made by memory_init)
    value_stack_init();         // 11-12. root block, value stack and frame stack
    symbol_table_make_block();  // 13. symbol-table block
    global_context_init();      // 14. global context
    // 15. case-mapping tables
    symbol_table_make_index();  // 16. symbol table hash index
    bind_type_name_words();     // 17. bind-type-name-words
    make_runtime_symbols_and_words();  // 18. runtime word tables
    make_runtime_refinements();
    evaluator_init();           // 19. natives-init (with 9. actions-init and 26. interp-init)
    interp_set_machine_stack_budget(INTERPRETER_STACK_BYTES - (size_t(16) << 20));  // (19) deep evaluation stops in time
    // 20. parse-init
    ownership_init();           // 21. ownership-init
    // 22. checksum-init, compress-init, call-init
    // 23. stack-init
    lexer_init();               // 24. lexer-init
    script_runner_init();       //     (24) do of a string goes through the lexer
    boot_image_load();          // 25. boot image: the library's sections
    // 26. interp-init (in evaluator_init)
    // 27. slot-table-init
    // 28. gc-init
}

// ------------------------------------------------------------------ hand-over

// The console engine reads the command line: a script, or the interactive
// loop. Without it (a library built without its sections) only a named
// script runs.
static int hand_over() {
    if (console_present()) return run_console_launch();
    if (system_record.args_count < 2) return EXIT_OK;
    return run_script_file(system_record.args_list[1]);
}

// ------------------------------------------------------------------ program entry

static void platform_init(int argc, char** argv) {
    os::platform_init(report_machine_fault);
    command_line_to_args(argc, argv);
}

// Module initial values that need no allocation of language values.
static void module_initial_values() {
    console_probe_attributes();
}

static int run_program(void*) {
    fpu_set_control();                    // 4. floating-point control word
    try {                                 // 5. top-level catch frame
        // 6. boot image address (no boot image yet)
        module_initial_values();          // 7.
        runtime_init();                   // phase 2
        // phase 3: intern the runtime's own words (generated symbol enumeration)
        // phase 4-5: word and boot-literal globals; the collector is enabled after them
        collector_enabled = true;
        boot_library_run(startup_routines_bind, startup_system_fill);  // phase 6, section by section
        release_and_exit(hand_over());    // phase 7
    } catch (...) {
        top_level_catch(std::current_exception());
    }
}

int program_entry(int argc, char** argv) {
    fpu_reset();                 // 1.
    platform_init(argc, argv);   // 3. (2: the allocation list starts empty)
    return os::run_with_big_stack(run_program, nullptr, INTERPRETER_STACK_BYTES);
}

namespace {
struct TestBody {
    int (*body)();
};
}  // namespace

static int run_tests(void* p) {
    fpu_set_control();
    try {
        module_initial_values();
        runtime_init();
        collector_enabled = true;  // as after phase 5
        boot_library_run(startup_routines_bind, startup_system_fill);
        return static_cast<TestBody*>(p)->body();
    } catch (...) {
        top_level_catch(std::current_exception());
    }
}

int startup_for_tests(int argc, char** argv, int (*body)()) {
    fpu_reset();
    platform_init(argc, argv);
    TestBody job{body};
    return os::run_with_big_stack(run_tests, &job, INTERPRETER_STACK_BYTES);
}

void startup_failed() { release_and_exit(EXIT_STARTUP_FAILED); }

}  // namespace tev

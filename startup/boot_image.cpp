// The boot image: decoded (or, in the fallback build, lexed) at start-up into
// the boot sections block, then evaluated section by section.
#include "startup/boot_image.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "loader/lexer.h"
#include "loader/tevbin.h"
#include "runtime/chunk_codec.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

namespace tev {

static Cell boot_sections;  // block! of the sections' code blocks

// ------------------------------------------------------------------ failure

// Start-up failures go to standard error: there is nothing else to show them yet.
[[noreturn]] static void boot_failed(const char* message) {
    std::fprintf(stderr, "%s\n", message);
    std::fflush(stderr);
    startup_failed();
}

// The report of the error in flight, then the end of start-up.
[[noreturn]] static void boot_failed_with_error(const char* what) {
    frames_unwind_to(0);
    pending_exit = 0;
    cycle_reset();
    StackScope scope;
    Cell* report = stack_push();
    string_make(report, 128);
    string_append_cstr(report, what);
    Cell* error = stack_push_copy(thrown_value());
    if (cell_is(error, T_ERROR)) error_form_report(error, report, NO_LIMIT);
    boot_failed(string_to_utf8(report).c_str());
}

// ------------------------------------------------------------------ loading

static void ensure_sections_block() {
    if (!cell_is(&boot_sections, T_BLOCK)) {
        block_make(&boot_sections, 32);
        gc_add_root(&boot_sections);
    }
}

// Lexed source: the list and every list inside it is library code.
static void mark_library(const Cell* block) {
    set_series_flags(series_node(block), SER_LIBRARY_FLAG);
    uint32_t n = block_length(block);
    for (uint32_t k = 0; k < n; ++k) {
        Cell v = *block_at(block, k);
        if (type_is_list(cell_type(&v)) && !(node_buffer(series_node(&v))->flags & SER_LIBRARY_FLAG))
            mark_library(&v);
    }
}

static void load_source_sections() {
    const uint8_t* text = embedded_boot.data;
    try {
        for (uint32_t k = 0; k < embedded_boot.sections; ++k) {
            StackScope scope;
            uint32_t size = embedded_boot.section_sizes[k];
            Cell* code = stack_push();
            transcode_utf8(code, text, size);
            text += size;
            // The header (Tev [...]) is the file's, not code to run.
            if (block_length(code) >= 2 && cell_is(block_at(code, 0), T_WORD) && cell_is(block_at(code, 1), T_BLOCK))
                series_set_index(code, 2);
            Cell* section = block_push_cells(block_head(code), block_length(code));
            mark_library(section);
            block_append(&boot_sections, section);
        }
    } catch (const LanguageThrow&) {
        boot_failed_with_error("*** Boot source error:\n");
    }
}

void boot_image_load_from(const uint8_t* data, size_t size) {
    ensure_sections_block();
    if (size < 8 || std::memcmp(data, "TEVBIN", 6) != 0) boot_failed("Error: Not a Tevbin file!");
    if (data[7] & TEVBIN_COMPRESSED) {
        std::vector<uint8_t> probe;
        if (!decode_chunks(data + 8, size - 8, &probe)) boot_failed("Error: Tevbin compressed data corrupted!");
    }
    try {
        tevbin_decode(data, size, &boot_sections, TevbinUse::boot);
    } catch (const LanguageThrow&) {
        boot_failed_with_error("*** Boot image error:\n");
    }
    uint32_t n = block_length(&boot_sections);
    for (uint32_t k = 0; k < n; ++k)
        if (!cell_is(block_at(&boot_sections, k), T_BLOCK)) boot_failed("Error: Tevbin boot section is not a block!");
}

void boot_image_load() {
    ensure_sections_block();
    if (!embedded_boot.size) return;  // the image generator runs without one
    if (embedded_boot.source) load_source_sections();
    else boot_image_load_from(embedded_boot.data, embedded_boot.size);
}

uint32_t boot_section_count() { return cell_is(&boot_sections, T_BLOCK) ? block_length(&boot_sections) : 0; }

// ------------------------------------------------------------------ evaluation

void boot_library_run(void (*before)(), void (*after)(uint32_t section)) {
    try {
        if (before) before();
        uint32_t n = boot_section_count();
        for (uint32_t k = 0; k < n; ++k) {
            StackScope scope;
            Cell* section = stack_push_copy(block_at(&boot_sections, k));
            eval_block(section);
            if (pending_exit) {
                pending_exit = 0;
                boot_failed("Error: the library left a section through break, return or throw!");
            }
            if (after) after(k);
        }
    } catch (const LanguageThrow&) {
        boot_failed_with_error("*** Library error at start-up:\n");
    }
}

}  // namespace tev

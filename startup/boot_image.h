// The boot image: the library's source sections, embedded in the program and
// evaluated at start-up in source order, their blocks marked as library code.
//
// The build writes the image (a compressed compact Tevbin image whose root
// records are the sections' blocks) or, in the fallback build, the sections'
// plain source text, which start-up lexes instead.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

struct EmbeddedBoot {
    const uint8_t* data;
    size_t size;
    bool source;                       // plain text sections, one after the other
    uint32_t sections;                 // source: how many
    const uint32_t* section_sizes;     // source: the bytes of each
};
// Defined by the generated boot unit (an empty one in the image generator).
extern const EmbeddedBoot embedded_boot;

// Start-up, after the lexer: the sections into the boot sections block. A
// bad image prints its fault and exits with EXIT_STARTUP_FAILED.
void boot_image_load();
// The same for an image given in memory (the embedded one goes through it).
void boot_image_load_from(const uint8_t* data, size_t size);
uint32_t boot_section_count();

// Phase 6: evaluates the sections in order; `before` runs before the first and
// `after` after each (start-up binds the routines and fills the system object
// there). An error that escapes a section is reported and start-up fails.
void boot_library_run(void (*before)(), void (*after)(uint32_t section));

}  // namespace tev

// Tevbin: the binary form of values, in two record forms (plain: 32-bit fields;
// compact: varints and one-byte immediates), optionally chunk-compressed.
//
// The decoder treats its input as untrusted: every index and size is checked
// against the bytes left before anything is reserved, and a fault raises
// script/tb-invalid-record (with the 1-based byte position) or
// script/invalid-data, never a crash.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "runtime/cell.h"

namespace tev {

constexpr uint8_t TEVBIN_COMPACT = 1;
constexpr uint8_t TEVBIN_COMPRESSED = 2;
constexpr uint8_t TEVBIN_SYMBOLS = 4;
constexpr uint8_t TEVBIN_VERSION = 2;

// Encodes the values as root records (one for the codec) into bytes.
// Compression is used only when it makes the image smaller.
void tevbin_encode_records(const Cell* values, uint32_t count, bool compact, bool compress,
                           std::vector<uint8_t>* out);
// The codec's entry: the value's image as a new binary! pushed on the stack.
Cell* tevbin_encode(const Cell* value, bool compact, bool compress);

// Who asks for a decode: the boot image may hold definition records; codec
// input may not. Series decoded for the boot image carry the library flag.
enum class TevbinUse { codec, boot };

// Decodes every root record of the image into `target` (a rooted block),
// appended in order. Raises as said above. The collector is off meanwhile.
void tevbin_decode(const uint8_t* data, size_t length, Cell* target, TevbinUse use);

// What the codec needs of the evaluator (a higher layer), filled at start-up.
struct TevbinHooks {
    // Raises when the machine stack is nearly spent, so deep nesting fails cleanly.
    void (*check_machine_stack)() = nullptr;
    // Sets a word as a set-word! does (a definition record).
    void (*word_assign)(const Cell* word, const Cell* value) = nullptr;
    // The spec text of native number index (from 1), or nullptr when there is none.
    const char* (*native_spec_text)(uint32_t index) = nullptr;
    // A native's or action's spec block from its source form (rooted *out).
    void (*spec_from_text)(Cell* out, const char* text) = nullptr;
};
extern TevbinHooks tevbin_hooks;

}  // namespace tev

// The system's cryptographic random source (one implementation per operating system).
#pragma once
#include <cstddef>

namespace tev {

// Fills the buffer with cryptographically secure random bytes; false when the
// system source fails (the buffer's contents are then not random).
bool os_secure_random_bytes(void* buffer, size_t length);

}  // namespace tev

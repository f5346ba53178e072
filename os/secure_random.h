// The system's cryptographic random source (one implementation per operating system).
#pragma once
#include <cstddef>

namespace tev {

// Fills the buffer with cryptographically secure random bytes. Never fails:
// a failing system source leaves the fallback of the implementation.
void os_secure_random_bytes(void* buffer, size_t length);

}  // namespace tev

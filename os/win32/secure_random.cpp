// The secure random source on Windows: RtlGenRandom from ADVAPI32 (linked by default).
#include "os/secure_random.h"
#include <windows.h>
#define SystemFunction036 NTAPI SystemFunction036
#include <ntsecapi.h>
#undef SystemFunction036

namespace tev {

bool os_secure_random_bytes(void* buffer, size_t length) {
    return RtlGenRandom(buffer, ULONG(length)) != FALSE;
}

}  // namespace tev

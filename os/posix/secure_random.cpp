// The secure random source on POSIX systems: getrandom where present, /dev/urandom otherwise.
#include "os/secure_random.h"
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/random.h>
#endif

namespace tev {

bool os_secure_random_bytes(void* buffer, size_t length) {
    unsigned char* p = static_cast<unsigned char*>(buffer);
#if defined(__linux__)
    while (length) {
        ssize_t got = getrandom(p, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        p += got;
        length -= size_t(got);
    }
    if (!length) return true;
#endif
    int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (length) {
        ssize_t got = read(fd, p, length);
        if (got <= 0) {
            if (got < 0 && errno == EINTR) continue;
            break;
        }
        p += got;
        length -= size_t(got);
    }
    close(fd);
    return length == 0;
}

}  // namespace tev

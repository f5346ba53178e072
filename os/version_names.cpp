// Names of Windows versions, portable so that the table is tested on every build.
#include <string>
#include "os/os.h"

namespace tev::os {

std::string windows_version_name(int major, int minor, int build, bool server) {
    struct Row { int major, minor; const char* workstation; const char* server; };
    static const Row rows[] = {
        {5, 0, "2000", "2000"}, {5, 1, "XP", "XP"}, {5, 2, "Server 2003", "Server 2003 R2"},
        {6, 0, "Vista", "Server 2008"}, {6, 1, "7", "Server 2008 R1"}, {6, 2, "8", "Server 2012"},
        {6, 3, "8.1", "Server 2012 R2"},
    };
    for (const Row& r : rows)
        if (r.major == major && r.minor == minor) return server ? r.server : r.workstation;
    // A version no table lists (an odd minor of 5 or 6, or an older major) is
    // named by its numbers rather than ending the program.
    if (major <= 6) return std::to_string(major) + "." + std::to_string(minor);
    if (!server) return build < 22000 ? "10" : "11";
    if (build >= 20285) return "Server 2022";
    return build < 17134 ? "Server 2016" : "Server 2019";
}

}  // namespace tev::os

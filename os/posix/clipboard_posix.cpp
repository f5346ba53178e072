// The clipboard on POSIX hosts: a terminal program has none to reach.
#include "os/clipboard.h"

namespace tev::os {

bool clipboard_available() { return false; }
bool clipboard_read(ClipboardContent*) { return false; }
bool clipboard_write(const ClipboardData&) { return false; }

}  // namespace tev::os

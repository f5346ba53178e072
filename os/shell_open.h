// Opening a document or URL with the program the desktop associates with it.
#pragma once
#include <string>

namespace tev::os {

// Hands the target (a URL, or a file name in the system's form, UTF-8) to the
// desktop's "open" action and returns without waiting for it; false when the
// system refused to start it.
bool shell_open(const std::string& target);

}  // namespace tev::os

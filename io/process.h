// The process the program runs in and the children it starts: command line, environment, OS description, `call`.
#pragma once
#include <cstdint>
#include <string>
#include "runtime/cell.h"

namespace tev {

// The command line as a new string! in *out.
void os_command_line(Cell* out);
// A map! of the environment's NAME/VALUE pairs in *out. An entry is split at
// its first "=" after the first character: the system's per-drive entries
// ("=C:=C:\dir") keep their leading "=" in the name.
void os_env_to_map(Cell* out);
// The name and value of one entry; false when it has no "=" to split at.
bool env_entry_split(const std::string& entry, std::string* name, std::string* value);
// The OS description object: name (string!), arch (word!), version (tuple!
// major.minor.service-pack), build (integer!).
void os_info_collect(Cell* out);

struct CallOptions {
    bool wait = false, show = false, console = false, shell = false;
};
// The back end of `call`: cmd a string! or file!, in/out/err the redirection
// arguments (string!, binary! or file!) or null. Returns the exit code, the
// process id (no wait, no redirection) or -1. Captured output is appended to
// the out/err series: bytes to a binary!, text (carriage returns dropped) to
// a string!.
int64_t call_run_command(const Cell* cmd, const CallOptions& options, const Cell* in, const Cell* out,
                         const Cell* err);

}  // namespace tev

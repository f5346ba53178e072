// The host console's bridges to the terminal: a line of input, the terminal's
// size kept in system/console/size, and the text console's title.
#pragma once
#include <cstdint>
#include "interpreter/natives.h"

namespace tev {

// ask question /hide: the typed line, or "quit" at the end of input.
void console_ask(NativeCall& call, int32_t);
// system/console/init str: the title; false when the system refuses it.
void console_set_title(NativeCall& call, int32_t);
// Stores the terminal's size (80x24 without a terminal) in system/console/size
// when the console object exists.
void console_refresh_size();

}  // namespace tev

// The clipboard as language values: what read-clipboard and write-clipboard do.
#pragma once
#include "runtime/cell.h"

namespace tev {

// The clipboard's content: a string!, a block of file! values, an image!;
// none when it holds no format read here, false when it cannot be opened.
// `name` (the routine's word) is named by internal/not-here where the system
// has no clipboard.
void clipboard_read_value(Cell* result, const Cell* name);
// Places none (empties the clipboard), a string!, a block of file! or string!
// paths, or an image! (as PNG and as a bitmap); result is true when every
// format was placed. Another value raises script/invalid-arg with it.
void clipboard_write_value(Cell* result, const Cell* value, const Cell* name);

}  // namespace tev

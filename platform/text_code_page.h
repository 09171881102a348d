#pragma once

#include "settings/text_encoding.h"

namespace lintrel::platform {

// The encoding of received text unless the user chooses one: the system's code page on
// Windows (as the keyboard mapping of a byte always used it), UTF-8 elsewhere.
TextEncoding DefaultTextEncoding();

// The system's single-byte code page for the "ansi" encoding, read once; null where the
// system has none (the engine then reads Windows-1252) or where it is not single-byte.
const CodePage* SystemCodePage();

}  // namespace lintrel::platform

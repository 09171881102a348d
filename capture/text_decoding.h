#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/utf8_text.h"
#include "settings/text_encoding.h"

namespace lintrel {

// The characters of a line's bytes. UTF-8 is read strictly (no overlong forms, surrogates
// or values above U+10FFFF): each maximal piece that is no character becomes one U+FFFD,
// as the Unicode standard recommends. `ansi` is the system's code page for kAnsi (null:
// Windows-1252).
std::u32string DecodeText(std::span<const uint8_t> bytes, TextEncoding encoding, const CodePage* ansi);

// Windows-1252: Latin-1 with printable characters in 0x80..0x9F (U+FFFD for the five bytes
// it leaves out).
const CodePage& Windows1252CodePage();

}  // namespace lintrel

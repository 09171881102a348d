#pragma once

#include <array>

namespace lintrel {

// A single-byte code page: the character of each byte, U+FFFD for a byte it leaves out.
using CodePage = std::array<char32_t, 256>;

// Windows-1252: Latin-1 with printable characters in 0x80..0x9F (U+FFFD for the five bytes
// it leaves out). The "ansi" code page where the system has no single-byte one.
const CodePage& Windows1252CodePage();

}  // namespace lintrel

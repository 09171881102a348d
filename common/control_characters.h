#pragma once

namespace lintrel {

// The C0 controls and DEL: characters that are commands rather than text (a line's end, a
// Tab, the group separators of 2D codes).
constexpr bool IsAsciiControl(char32_t character) { return character < 0x20 || character == 0x7F; }

// The ASCII controls and the C1 controls (U+0080..U+009F), for which no layout has a key.
constexpr bool IsControlCharacter(char32_t character) {
  return IsAsciiControl(character) || (character >= 0x80 && character < 0xA0);
}

}  // namespace lintrel

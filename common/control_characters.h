#pragma once

#include <array>
#include <string_view>

namespace lintrel {

// The C0 controls and DEL: characters that are commands rather than text (a line's end, a
// Tab, the group separators of 2D codes).
constexpr bool IsAsciiControl(char32_t character) { return character < 0x20 || character == 0x7F; }

// The ASCII controls and the C1 controls (U+0080..U+009F), for which no layout has a key.
constexpr bool IsControlCharacter(char32_t character) {
  return IsAsciiControl(character) || (character >= 0x80 && character < 0xA0);
}

// The ASCII abbreviation of a C0 control or DEL ("NUL", "GS", "DEL"), as shaping names it
// (<GS>) and the record reports show it.
constexpr std::string_view AsciiControlName(char32_t character) {
  constexpr std::array<std::string_view, 32> kNames = {
      "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
      "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
      "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
  return character < 0x20 ? kNames[character] : "DEL";
}

}  // namespace lintrel

#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lintrel {

// The characters of UTF-8 text. A byte that does not begin or continue a valid sequence
// (an overlong form, a surrogate, a value past U+10FFFF, a sequence cut short) becomes
// U+FFFD, one for each such byte, so that nothing is read as another character.
std::u32string DecodeUtf8(std::span<const uint8_t> text);

// One character as UTF-8.
std::string EncodeUtf8(char32_t character);

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

}  // namespace lintrel

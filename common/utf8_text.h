#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace lintrel {

// The characters of UTF-8 text, read strictly (no overlong forms, surrogates or values
// above U+10FFFF): each maximal piece that is no character becomes one U+FFFD, as the
// Unicode standard recommends, so that nothing is read as another character.
std::u32string DecodeUtf8(std::span<const uint8_t> text);

// How many bytes at the end of `text` are the beginning of a character that more bytes
// would complete (1 to 3); 0 when it ends with a whole character or with bytes that no
// further byte turns into one.
std::size_t IncompleteUtf8Tail(std::span<const uint8_t> text);

// One character as UTF-8.
std::string EncodeUtf8(char32_t character);

// U+FFFD, typed in place of bytes that are no character of the encoding, so that a
// damaged code shows as damaged instead of arriving shortened.
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

}  // namespace lintrel

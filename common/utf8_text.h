#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lintrel {

// The characters of UTF-8 text, read strictly (no overlong forms, surrogates or values
// above U+10FFFF): each maximal piece that is no character becomes one U+FFFD, as the
// Unicode standard recommends, so that nothing is read as another character.
std::u32string DecodeUtf8(std::span<const uint8_t> text);

// The length of the well-formed UTF-8 character that starts at text[at], by the same strict
// rule; 0 when none starts there (a stray continuation byte, an overlong form, a surrogate,
// a value beyond U+10FFFF, a sequence cut short).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// Whether the whole text is well-formed UTF-8.
bool IsUtf8(std::string_view text);

// The characters of text that is UTF-8 (a piece that is not becomes U+FFFD, as above).
std::u32string DecodeUtf8(std::string_view text);

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

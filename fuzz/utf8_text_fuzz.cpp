// The strict UTF-8 decoder on arbitrary bytes.
//
// Traps when a decoded character is no Unicode scalar value, when well-formed text does not
// encode back to the same bytes, when text that is not well formed decodes without a single
// U+FFFD, or when the sequence lengths disagree with the decoder.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/utf8_text.h"
#include "fuzz/fuzz_input.h"

namespace {

using lintrel::fuzz::Require;

bool IsScalarValue(char32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::u32string decoded = lintrel::DecodeUtf8(text);
  Require(decoded.size() <= text.size());
  std::string encoded;
  for (const char32_t c : decoded) {
    Require(IsScalarValue(c));
    encoded += lintrel::EncodeUtf8(c);
  }
  const bool well_formed = lintrel::IsUtf8(text);
  if (well_formed) {
    Require(encoded == text);
  } else {
    Require(decoded.find(lintrel::kReplacementCharacter) != std::u32string::npos);
  }
  // Walking by sequence lengths meets the decoder character for character while the text is
  // well formed.
  std::size_t at = 0;
  std::size_t characters = 0;
  while (at < text.size()) {
    const std::size_t length = lintrel::Utf8SequenceLength(text, at);
    if (length == 0) break;
    Require(length <= 4 && decoded[characters] == lintrel::DecodeUtf8(text.substr(at, length)).front());
    at += length;
    ++characters;
  }
  Require((at == text.size()) == well_formed);
  return 0;
}

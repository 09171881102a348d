#include "capture/text_decoding.h"

#include <algorithm>
#include <cstdio>

namespace lintrel {
namespace {

std::u32string DecodeSingleByte(std::span<const uint8_t> bytes, const CodePage& code_page) {
  std::u32string text;
  text.reserve(bytes.size());
  for (uint8_t byte : bytes) text.push_back(code_page[byte]);
  return text;
}

std::string CodePointName(char32_t character) {
  char name[16];
  std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(character));
  return name;
}

}  // namespace

std::u32string DecodeText(std::span<const uint8_t> bytes, TextEncoding encoding, const CodePage* ansi) {
  switch (encoding) {
    case TextEncoding::kUtf8: return DecodeUtf8(bytes);
    case TextEncoding::kLatin1: return {bytes.begin(), bytes.end()};
    case TextEncoding::kAnsi: break;
  }
  return DecodeSingleByte(bytes, ansi != nullptr ? *ansi : Windows1252CodePage());
}

std::optional<std::string> EncodeText(std::string_view text, TextEncoding encoding, const CodePage* ansi,
                                      std::string* problem) {
  if (encoding == TextEncoding::kUtf8) return std::string(text);
  const CodePage& code_page = encoding == TextEncoding::kAnsi && ansi != nullptr ? *ansi : Windows1252CodePage();
  std::string bytes;
  for (const char32_t character : DecodeUtf8(text)) {
    if (encoding == TextEncoding::kLatin1 && character <= 0xFF) {
      bytes.push_back(static_cast<char>(character));
      continue;
    }
    const auto found = std::find(code_page.begin(), code_page.end(), character);
    if (encoding == TextEncoding::kLatin1 || found == code_page.end() || character == U'\uFFFD') {
      if (problem != nullptr) *problem = CodePointName(character) + " is not in " + std::string(TextEncodingName(encoding));
      return std::nullopt;
    }
    bytes.push_back(static_cast<char>(found - code_page.begin()));
  }
  return bytes;
}

}  // namespace lintrel

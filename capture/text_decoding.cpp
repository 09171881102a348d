#include "capture/text_decoding.h"

namespace lintrel {
namespace {

std::u32string DecodeSingleByte(std::span<const uint8_t> bytes, const CodePage& code_page) {
  std::u32string text;
  text.reserve(bytes.size());
  for (uint8_t byte : bytes) text.push_back(code_page[byte]);
  return text;
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

}  // namespace lintrel

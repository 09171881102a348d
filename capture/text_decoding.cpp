#include "capture/text_decoding.h"

#include <cstddef>

namespace lintrel {
namespace {

// Windows-1252's characters for 0x80..0x9F; U+FFFD for the unassigned bytes.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,  //
    0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

constexpr CodePage BuildWindows1252() {
  CodePage table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) table[byte] = static_cast<char32_t>(byte);
  for (std::size_t i = 0; i < 32; ++i) table[0x80 + i] = kWindows1252High[i];
  return table;
}

constexpr CodePage kWindows1252 = BuildWindows1252();

// The length of the character a UTF-8 lead byte begins, and the range its first
// continuation byte must lie in (which rules out overlong forms, surrogates and values
// above U+10FFFF); 0 for a byte that begins none.
struct LeadByte {
  int length = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
};

LeadByte ReadLead(uint8_t byte) {
  if (byte < 0x80) return {1};
  if (byte >= 0xC2 && byte <= 0xDF) return {2};
  if (byte == 0xE0) return {3, 0xA0, 0xBF};
  if (byte == 0xED) return {3, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return {3};
  if (byte == 0xF0) return {4, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return {4};
  if (byte == 0xF4) return {4, 0x80, 0x8F};
  return {0};
}

std::u32string DecodeUtf8(std::span<const uint8_t> bytes) {
  std::u32string text;
  text.reserve(bytes.size());
  std::size_t at = 0;
  while (at < bytes.size()) {
    const LeadByte lead = ReadLead(bytes[at]);
    if (lead.length == 1) {
      text.push_back(bytes[at++]);
      continue;
    }
    if (lead.length == 0) {
      text.push_back(kReplacementCharacter);
      ++at;
      continue;
    }
    char32_t character = bytes[at] & (0xFF >> (lead.length + 1));
    std::size_t next = at + 1;
    bool whole = true;
    for (int i = 1; i < lead.length; ++i, ++next) {
      const uint8_t low = i == 1 ? lead.low : 0x80;
      const uint8_t high = i == 1 ? lead.high : 0xBF;
      if (next >= bytes.size() || bytes[next] < low || bytes[next] > high) {
        whole = false;
        break;
      }
      character = character << 6 | (bytes[next] & 0x3F);
    }
    // A broken sequence is one U+FFFD for its valid beginning; the byte that broke it is
    // read again on its own.
    text.push_back(whole ? character : kReplacementCharacter);
    at = next;
  }
  return text;
}

std::u32string DecodeSingleByte(std::span<const uint8_t> bytes, const CodePage& code_page) {
  std::u32string text;
  text.reserve(bytes.size());
  for (uint8_t byte : bytes) text.push_back(code_page[byte]);
  return text;
}

}  // namespace

const CodePage& Windows1252CodePage() { return kWindows1252; }

std::u32string DecodeText(std::span<const uint8_t> bytes, TextEncoding encoding, const CodePage* ansi) {
  switch (encoding) {
    case TextEncoding::kUtf8: return DecodeUtf8(bytes);
    case TextEncoding::kLatin1: {
      std::u32string text(bytes.begin(), bytes.end());
      return text;
    }
    case TextEncoding::kAnsi: break;
  }
  return DecodeSingleByte(bytes, ansi != nullptr ? *ansi : kWindows1252);
}

}  // namespace lintrel

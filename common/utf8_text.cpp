#include "common/utf8_text.h"

namespace lintrel {
namespace {

// The length of the sequence a lead byte begins, and the lowest value it may encode
// (shorter forms are overlong); 0 for a byte that cannot begin one.
struct Lead {
  int length = 0;
  char32_t lowest = 0;
  char32_t bits = 0;
};

Lead LeadOf(uint8_t byte) {
  if (byte < 0x80) return {1, 0, byte};
  if ((byte & 0xE0) == 0xC0) return {2, 0x80, static_cast<char32_t>(byte & 0x1F)};
  if ((byte & 0xF0) == 0xE0) return {3, 0x800, static_cast<char32_t>(byte & 0x0F)};
  if ((byte & 0xF8) == 0xF0) return {4, 0x10000, static_cast<char32_t>(byte & 0x07)};
  return {};
}

}  // namespace

std::u32string DecodeUtf8(std::span<const uint8_t> text) {
  std::u32string characters;
  std::size_t at = 0;
  while (at < text.size()) {
    const Lead lead = LeadOf(text[at]);
    char32_t value = lead.bits;
    int taken = lead.length > 0 ? 1 : 0;
    while (taken > 0 && taken < lead.length && at + taken < text.size() && (text[at + taken] & 0xC0) == 0x80) {
      value = (value << 6) | (text[at + taken] & 0x3F);
      ++taken;
    }
    const bool valid = lead.length > 0 && taken == lead.length && value >= lead.lowest && value <= 0x10FFFF &&
                       (value < 0xD800 || value > 0xDFFF);
    characters += valid ? value : kReplacementCharacter;
    at += valid ? taken : 1;
  }
  return characters;
}

std::string EncodeUtf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace lintrel

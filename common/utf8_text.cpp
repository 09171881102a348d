#include "common/utf8_text.h"

#include <cstddef>

namespace lintrel {
namespace {

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

}  // namespace

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

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const LeadByte lead = ReadLead(static_cast<uint8_t>(text[at]));
  if (lead.length == 0 || text.size() - at < static_cast<std::size_t>(lead.length)) return 0;
  for (int i = 1; i < lead.length; ++i) {
    const auto byte = static_cast<uint8_t>(text[at + i]);
    if (byte < (i == 1 ? lead.low : 0x80) || byte > (i == 1 ? lead.high : 0xBF)) return 0;
  }
  return static_cast<std::size_t>(lead.length);
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::u32string DecodeUtf8(std::string_view text) {
  return DecodeUtf8(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::size_t IncompleteUtf8Tail(std::span<const uint8_t> text) {
  // The beginning of a character of at most 4 bytes, cut short, is at most 3 bytes long.
  for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
    const std::size_t start = text.size() - length;
    const LeadByte lead = ReadLead(text[start]);
    const bool continuation = text[start] >= 0x80 && text[start] <= 0xBF;
    if (continuation) continue;
    if (lead.length <= static_cast<int>(length)) return 0;
    // The bytes after the lead must be the ones it allows.
    for (std::size_t i = 1; i < length; ++i) {
      const uint8_t low = i == 1 ? lead.low : 0x80;
      const uint8_t high = i == 1 ? lead.high : 0xBF;
      if (text[start + i] < low || text[start + i] > high) return 0;
    }
    return length;
  }
  return 0;
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

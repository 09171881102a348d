#include "common/text_escapes.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/utf8_text.h"

namespace lintrel {
namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

std::optional<uint32_t> ParseHex(std::string_view digits) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

// One escape: how much of the text it took (0: no valid escape) and the number it stands
// for; `hex_byte` for \xHH, which older versions read as a byte.
struct Escape {
  std::size_t length = 0;
  char32_t value = 0;
  bool hex_byte = false;
};

// The escape that starts at text[at] (a backslash).
Escape ReadEscape(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size()) return {};
  switch (text[at + 1]) {
    case 't': return {2, '\t'};
    case 'r': return {2, '\r'};
    case 'n': return {2, '\n'};
    case '\\': return {2, '\\'};
    case 'x': {
      const std::string_view digits = text.substr(at + 2, 2);
      const std::optional<uint32_t> byte = digits.size() == 2 ? ParseHex(digits) : std::nullopt;
      if (!byte) return {};
      return {4, static_cast<char32_t>(*byte), true};
    }
    case 'u': {
      if (at + 2 >= text.size() || text[at + 2] != '{') return {};
      const std::size_t close = text.find('}', at + 3);
      if (close == std::string_view::npos || close - (at + 3) > 6) return {};
      const std::optional<uint32_t> code_point = ParseHex(text.substr(at + 3, close - (at + 3)));
      // Surrogates are no characters of their own: UTF-8 cannot hold them.
      if (!code_point || *code_point > kMaxCodePoint || (*code_point >= 0xD800 && *code_point <= 0xDFFF)) {
        return {};
      }
      return {close + 1 - at, static_cast<char32_t>(*code_point)};
    }
    default:
      return {};
  }
}

// The wrong escape as the user wrote it, for the message: up to the closing brace of a
// \u{...}, else the backslash and at most three characters.
std::string_view BadEscape(std::string_view text, std::size_t at) {
  if (text.substr(at, 3) == "\\u{") {
    const std::size_t close = text.find('}', at);
    if (close == std::string_view::npos || close - at >= 16) return text.substr(at, 3);
    return text.substr(at, close + 1 - at);
  }
  return text.substr(at, text.substr(at, 2) == "\\x" ? 4 : 2);
}

void SetBadEscapeError(std::string_view text, std::size_t at, std::string* error) {
  if (error == nullptr) return;
  *error = at + 1 == text.size()
               ? "a lone \\ ends the text (write \\\\ for a backslash)"
               : std::string(BadEscape(text, at)) + " is not an escape (\\t, \\r, \\n, \\\\, \\xHH, \\u{HHHH})";
}

bool IsC0OrDelete(char32_t c) { return c < 0x20 || c == 0x7F; }
bool IsC1(char32_t c) { return c >= 0x80 && c <= 0x9F; }

void AppendHexEscape(std::string& out, const char* format, char32_t c) {
  char escape[16];
  std::snprintf(escape, sizeof escape, format, static_cast<unsigned>(c));
  out += escape;
}

// Backslash and the control characters as escapes; `ascii_only` writes every character
// beyond ASCII as \u{...} too.
std::string Format(std::string_view text, bool ascii_only) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t c : DecodeUtf8(text)) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (IsC0OrDelete(c) || (IsC1(c) && !ascii_only)) {
      AppendHexEscape(out, "\\x%02X", c);
    } else if (c >= 0x80 && ascii_only) {
      AppendHexEscape(out, "\\u{%X}", c);
    } else {
      out += EncodeUtf8(c);
    }
  }
  return out;
}

// A byte of a text as an older version held it, and whether an escape gave it.
struct OlderByte {
  uint8_t byte;
  bool escaped;
};

// Step 1 of ParseStoredText: the stored characters as the bytes the older version had.
std::string BytesBeforeCodePage(std::string_view stored, const CodePage& code_page) {
  std::string bytes;
  for (std::size_t at = 0; at < stored.size();) {
    const std::size_t length = std::max<std::size_t>(Utf8SequenceLength(stored, at), 1);
    const std::string_view piece = stored.substr(at, length);
    at += length;
    const char32_t character = DecodeUtf8(piece).front();
    std::optional<uint8_t> byte;
    for (std::size_t b = 0x80; b < code_page.size() && length > 1 && character != kReplacementCharacter; ++b) {
      const bool left_out_byte = code_page[b] == kReplacementCharacter && character == b;
      if (code_page[b] == character || left_out_byte) byte = static_cast<uint8_t>(b);
    }
    if (byte) {
      bytes += static_cast<char>(*byte);
    } else {
      bytes += piece;
    }
  }
  return bytes;
}

// Step 2: the escapes resolved to bytes.
std::optional<std::vector<OlderByte>> ResolveOlderEscapes(std::string_view bytes, std::string* error) {
  std::vector<OlderByte> out;
  out.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    if (bytes[at] != '\\') {
      out.push_back({static_cast<uint8_t>(bytes[at++]), false});
      continue;
    }
    const Escape escape = ReadEscape(bytes, at);
    if (escape.length == 0) {
      SetBadEscapeError(bytes, at, error);
      return std::nullopt;
    }
    if (escape.hex_byte) {
      out.push_back({static_cast<uint8_t>(escape.value), true});
    } else {
      for (const char byte : EncodeUtf8(escape.value)) out.push_back({static_cast<uint8_t>(byte), true});
    }
    at += escape.length;
  }
  return out;
}

// Step 3: the characters of those bytes.
std::string OlderCharacters(const std::vector<OlderByte>& bytes, const CodePage* code_page) {
  std::string plain;
  for (const OlderByte& b : bytes) plain += static_cast<char>(b.byte);
  std::string text;
  for (std::size_t at = 0; at < plain.size();) {
    if (const std::size_t length = Utf8SequenceLength(plain, at); length > 0) {
      text.append(plain, at, length);
      at += length;
      continue;
    }
    const OlderByte& b = bytes[at++];
    char32_t character = b.byte;
    if (!b.escaped && code_page != nullptr && (*code_page)[b.byte] != kReplacementCharacter) {
      character = (*code_page)[b.byte];
    }
    text += EncodeUtf8(character);
  }
  return text;
}

}  // namespace

std::optional<std::string> ParseEscapes(std::string_view text, std::string* error) {
  if (!IsUtf8(text)) {
    if (error != nullptr) *error = "the text is not UTF-8 (write \\xHH for the character U+00HH)";
    return std::nullopt;
  }
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] != '\\') {
      out += text[at++];
      continue;
    }
    const Escape escape = ReadEscape(text, at);
    if (escape.length == 0) {
      SetBadEscapeError(text, at, error);
      return std::nullopt;
    }
    out += EncodeUtf8(escape.value);
    at += escape.length;
  }
  return out;
}

std::string FormatEscapes(std::string_view text) { return Format(text, false); }

std::string FormatStoredText(std::string_view text) { return Format(text, true); }

std::optional<std::string> ParseStoredText(std::string_view stored, const CodePage* older_code_page,
                                           std::string* error) {
  const std::string bytes =
      older_code_page != nullptr ? BytesBeforeCodePage(stored, *older_code_page) : std::string(stored);
  const std::optional<std::vector<OlderByte>> resolved = ResolveOlderEscapes(bytes, error);
  if (!resolved) return std::nullopt;
  return OlderCharacters(*resolved, older_code_page);
}

}  // namespace lintrel

#include "common/text_escapes.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "common/printable_text.h"
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

// Reads the escape that starts at text[at] (a backslash) into `out`; returns the length it
// took, or 0 when it is no valid escape.
std::size_t ReadEscape(std::string_view text, std::size_t at, std::string& out) {
  if (at + 1 >= text.size()) return 0;
  switch (text[at + 1]) {
    case 't': out += '\t'; return 2;
    case 'r': out += '\r'; return 2;
    case 'n': out += '\n'; return 2;
    case '\\': out += '\\'; return 2;
    case 'x': {
      const std::string_view digits = text.substr(at + 2, 2);
      const std::optional<uint32_t> byte = digits.size() == 2 ? ParseHex(digits) : std::nullopt;
      if (!byte) return 0;
      out += static_cast<char>(*byte);
      return 4;
    }
    case 'u': {
      if (at + 2 >= text.size() || text[at + 2] != '{') return 0;
      const std::size_t close = text.find('}', at + 3);
      if (close == std::string_view::npos || close - (at + 3) > 6) return 0;
      const std::optional<uint32_t> code_point = ParseHex(text.substr(at + 3, close - (at + 3)));
      // Surrogates are no characters of their own: UTF-8 cannot hold them.
      if (!code_point || *code_point > kMaxCodePoint || (*code_point >= 0xD800 && *code_point <= 0xDFFF)) {
        return 0;
      }
      out += EncodeUtf8(static_cast<char32_t>(*code_point));
      return close + 1 - at;
    }
    default:
      return 0;
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

}  // namespace

std::optional<std::string> ParseEscapes(std::string_view text, std::string* error) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    if (text[at] != '\\') {
      out += text[at++];
      continue;
    }
    const std::size_t taken = ReadEscape(text, at, out);
    if (taken == 0) {
      if (error != nullptr) {
        *error = at + 1 == text.size()
                     ? "a lone \\ ends the text (write \\\\ for a backslash)"
                     : std::string(BadEscape(text, at)) + " is not an escape (\\t, \\r, \\n, \\\\, \\xHH, \\u{HHHH})";
      }
      return std::nullopt;
    }
    at += taken;
  }
  return out;
}

std::string FormatEscapes(std::string_view bytes) {
  // The shown-text escaping, with backslashes escaped too so that the text reads back.
  std::string out;
  for (std::size_t start = 0;;) {
    const std::size_t backslash = std::min(bytes.find('\\', start), bytes.size());
    out += EscapeControlCharacters(bytes.substr(start, backslash - start));
    if (backslash == bytes.size()) return out;
    out += "\\\\";
    start = backslash + 1;
  }
}

}  // namespace lintrel

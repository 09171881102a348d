#include "settings/text_encoding.h"

#include <algorithm>
#include <cctype>

namespace lintrel {

std::string_view TextEncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::kAnsi: return "ansi";
    case TextEncoding::kUtf8: return "utf-8";
    case TextEncoding::kLatin1: return "latin-1";
  }
  return "ansi";
}

std::optional<TextEncoding> ParseTextEncoding(std::string_view name) {
  std::string lower(name);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "ansi") return TextEncoding::kAnsi;
  if (lower == "utf-8" || lower == "utf8") return TextEncoding::kUtf8;
  if (lower == "latin-1" || lower == "latin1") return TextEncoding::kLatin1;
  return std::nullopt;
}

}  // namespace lintrel

#include "settings/record_rules.h"

#include <array>
#include <cstdio>
#include <span>
#include <utility>

#include "common/utf8_text.h"

namespace lintrel {
namespace {

constexpr std::array<std::pair<UnmatchedLines, const char*>, 3> kUnmatchedNames = {
    {{UnmatchedLines::kReport, "report"}, {UnmatchedLines::kDrop, "drop"}, {UnmatchedLines::kType, "type"}}};

}  // namespace

std::optional<UnmatchedLines> ParseUnmatchedLines(std::string_view text) {
  for (const auto& [unmatched, name] : kUnmatchedNames) {
    if (text == name) return unmatched;
  }
  return std::nullopt;
}

const char* UnmatchedLinesName(UnmatchedLines unmatched) {
  for (const auto& [known, name] : kUnmatchedNames) {
    if (known == unmatched) return name;
  }
  return "report";
}

std::string RuleInAscii(std::string_view utf8, RuleSyntax syntax) {
  const std::u32string characters =
      DecodeUtf8(std::span(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()));
  std::string ascii;
  bool escaped = false;  // the character before was an escaping backslash
  for (const char32_t c : characters) {
    char code[16];
    if (escaped || (c >= 0x20 && c < 0x7F)) {
      ascii += EncodeUtf8(c);
      escaped = !escaped && c == U'\\';
      continue;
    }
    if (c == U'\t') {
      ascii += "\\t";
    } else if (c == U'\r') {
      ascii += "\\r";
    } else if (c == U'\n') {
      ascii += "\\n";
    } else if (c < 0x80) {
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned>(c));
      ascii += code;
    } else {
      std::snprintf(code, sizeof code, syntax == RuleSyntax::kPattern ? "\\x{%04X}" : "\\u{%04X}",
                    static_cast<unsigned>(c));
      ascii += code;
    }
  }
  return ascii;
}

}  // namespace lintrel

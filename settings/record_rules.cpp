#include "settings/record_rules.h"

#include <array>
#include <cstdio>
#include <utility>

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

std::string EscapeControlsInRule(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\t') {
      escaped += "\\t";
    } else if (byte == '\r') {
      escaped += "\\r";
    } else if (byte == '\n') {
      escaped += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\x%02X", byte);
      escaped += code;
    } else {
      escaped.push_back(c);
    }
  }
  return escaped;
}

}  // namespace lintrel

#include "settings/shaping_rules.h"

#include <array>

#include "common/text_escapes.h"

namespace lintrel {
namespace {

constexpr std::array<std::pair<ControlMap, const char*>, 3> kControlMapNames = {
    {{ControlMap::kKeep, "keep"}, {ControlMap::kDrop, "drop"}, {ControlMap::kName, "name"}}};

// The text in double quotes, built piece by piece: a chain of + here draws a false
// -Wrestrict from MinGW's GCC.
std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

}  // namespace

std::optional<ControlMap> ParseControlMap(std::string_view text) {
  for (const auto& [map, name] : kControlMapNames) {
    if (text == name) return map;
  }
  return std::nullopt;
}

const char* ControlMapName(ControlMap map) {
  for (const auto& [known, name] : kControlMapNames) {
    if (known == map) return name;
  }
  return "keep";
}

std::optional<Replacement> ParseReplacement(std::string_view text, std::string* error) {
  // An '=' inside an escape is impossible (escapes are letters and hex digits), so the
  // first '=' of the raw text is the split.
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    if (error != nullptr) *error = Quoted(text).append(" is not FROM=TO");
    return std::nullopt;
  }
  std::optional<std::string> from = ParseEscapes(text.substr(0, equals), error);
  if (!from) return std::nullopt;
  std::optional<std::string> to = ParseEscapes(text.substr(equals + 1), error);
  if (!to) return std::nullopt;
  if (from->empty()) {
    if (error != nullptr) *error = Quoted(text).append(" replaces nothing: FROM is empty");
    return std::nullopt;
  }
  return Replacement{std::move(*from), std::move(*to)};
}

std::string FormatReplacement(const Replacement& replacement) {
  // '=' in FROM is written as an escape, so that the first '=' stays the split.
  std::string text;
  for (const char c : FormatEscapes(replacement.from)) {
    if (c == '=') {
      text.append("\\x3D");
    } else {
      text.push_back(c);
    }
  }
  return text.append("=").append(FormatEscapes(replacement.to));
}

}  // namespace lintrel

#include "settings/shaping_rules.h"

#include <array>

#include "common/text_escapes.h"

namespace lintrel {
namespace {

constexpr std::array<std::pair<ControlMap, const char*>, 3> kControlMapNames = {
    {{ControlMap::kKeep, "keep"}, {ControlMap::kDrop, "drop"}, {ControlMap::kName, "name"}}};

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
    if (error != nullptr) *error = "\"" + std::string(text) + "\" is not FROM=TO";
    return std::nullopt;
  }
  Replacement replacement;
  std::optional<std::string> from = ParseEscapes(text.substr(0, equals), error);
  if (!from) return std::nullopt;
  std::optional<std::string> to = ParseEscapes(text.substr(equals + 1), error);
  if (!to) return std::nullopt;
  if (from->empty()) {
    if (error != nullptr) *error = "\"" + std::string(text) + "\" replaces nothing: FROM is empty";
    return std::nullopt;
  }
  return Replacement{std::move(*from), std::move(*to)};
}

std::string FormatReplacement(const Replacement& replacement) {
  // '=' in FROM is written as an escape, so that the first '=' stays the split.
  std::string from;
  for (const char c : FormatEscapes(replacement.from)) from += c == '=' ? std::string("\\x3D") : std::string(1, c);
  return from + "=" + FormatEscapes(replacement.to);
}

}  // namespace lintrel

#include "settings/shaping_rules.h"

#include <array>

#include "common/printable_text.h"
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

namespace {

// FROM=TO, each half read by `parse`.
template <typename ParseHalf>
std::optional<Replacement> ParseHalves(std::string_view text, std::string* error, ParseHalf parse) {
  // An '=' inside an escape is impossible (escapes are letters and hex digits), so the
  // first '=' of the raw text is the split.
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    if (error != nullptr) *error = Quoted(text).append(" is not FROM=TO");
    return std::nullopt;
  }
  std::optional<std::string> from = parse(text.substr(0, equals), error);
  if (!from) return std::nullopt;
  std::optional<std::string> to = parse(text.substr(equals + 1), error);
  if (!to) return std::nullopt;
  if (from->empty()) {
    if (error != nullptr) *error = Quoted(text).append(" replaces nothing: FROM is empty");
    return std::nullopt;
  }
  return Replacement{std::move(*from), std::move(*to)};
}

// FROM=TO, each half written by `format`, with '=' in FROM written as an escape, so that the
// first '=' stays the split.
std::string FormatHalves(const Replacement& replacement, std::string (*format)(std::string_view)) {
  std::string text;
  for (const char c : format(replacement.from)) {
    if (c == '=') {
      text.append("\\x3D");
    } else {
      text.push_back(c);
    }
  }
  return text.append("=").append(format(replacement.to));
}

}  // namespace

std::optional<Replacement> ParseReplacement(std::string_view text, std::string* error) {
  return ParseHalves(text, error, ParseEscapes);
}

std::string FormatReplacement(const Replacement& replacement) { return FormatHalves(replacement, FormatEscapes); }

std::string FormatStoredReplacement(const Replacement& replacement) {
  return FormatHalves(replacement, FormatStoredText);
}

std::optional<Replacement> ParseStoredReplacement(std::string_view stored, const CodePage* older_code_page,
                                                  std::string* error) {
  return ParseHalves(stored, error, [older_code_page](std::string_view half, std::string* half_error) {
    return ParseStoredText(half, older_code_page, half_error);
  });
}

}  // namespace lintrel

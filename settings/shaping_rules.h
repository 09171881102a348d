#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/code_page.h"

namespace lintrel {

// What becomes of control characters in a line, other than its end character.
enum class ControlMap {
  kKeep,  // typed as they came
  kDrop,  // not typed
  kName,  // typed as their ASCII abbreviation in angle brackets: <GS>, <RS>, <EOT>
};

// "keep", "drop" or "name"; nullopt for anything else.
std::optional<ControlMap> ParseControlMap(std::string_view text);
const char* ControlMapName(ControlMap map);

// One replacement: every occurrence of `from` (literal text, never empty) becomes `to`.
struct Replacement {
  std::string from;
  std::string to;

  bool operator==(const Replacement&) const = default;
};

// The most replacements a list may hold: the settings keep them as "Replace 1" to
// "Replace 100".
inline constexpr std::size_t kMaxReplacements = 100;

// How a finished line is turned into the text typed, beyond the end character's truncation
// and the port-name prefix. The texts are characters (UTF-8, escapes already resolved: see
// common/text_escapes.h).
struct ShapingRules {
  std::vector<Replacement> replacements{};  // applied one after another, in this order
  ControlMap control = ControlMap::kKeep;
  std::string prefix_text{};  // typed before each line (after the port name)
  std::string suffix{};       // typed after each line

  bool operator==(const ShapingRules&) const = default;
};

// "FROM=TO" with escapes in both halves (ParseEscapes): the first '=' that is not written as
// \x3D splits them. Nullopt with *error when the escapes are wrong, there is no '=' or FROM
// is empty.
std::optional<Replacement> ParseReplacement(std::string_view text, std::string* error);
// The same text back, escaped for showing (FormatEscapes), so that ParseReplacement reads it
// unchanged.
std::string FormatReplacement(const Replacement& replacement);

// The same as the settings keep it (FormatStoredText, ParseStoredText with the store's
// `older_code_page`).
std::string FormatStoredReplacement(const Replacement& replacement);
std::optional<Replacement> ParseStoredReplacement(std::string_view stored, const CodePage* older_code_page,
                                                  std::string* error);

}  // namespace lintrel

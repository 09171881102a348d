#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lintrel {

// What becomes of a line that the pattern does not match.
enum class UnmatchedLines {
  kReport,  // not typed, and reported as a line not typed
  kDrop,    // not typed, not reported
  kType,    // typed as shaping makes it
};

// "report", "drop" or "type"; nullopt for anything else.
std::optional<UnmatchedLines> ParseUnmatchedLines(std::string_view text);
const char* UnmatchedLinesName(UnmatchedLines unmatched);

// The record stage of a port: which lines are typed, and as what. The texts are as the user
// wrote them (the pattern in RE2's syntax, the template with its {fields} and escapes); the
// record stage checks and compiles them.
struct RecordRules {
  static constexpr int kMaxRepeatWindowMs = 60000;

  std::string pattern{};  // empty: every line matches
  UnmatchedLines unmatched = UnmatchedLines::kReport;
  bool gs1 = false;            // the line is read as a GS1 element string
  std::string template_text{};  // empty: the shaped line is typed
  int repeat_window_ms = 0;     // 0: repeats are typed

  bool operator==(const RecordRules&) const = default;
  // Whether the stage does anything but pass the shaped line on.
  bool Active() const { return !pattern.empty() || gs1 || !template_text.empty() || repeat_window_ms > 0; }
};

// A pattern or template in printable ASCII, meaning the same: each control character as its
// escape (\t, \r, \n, \xHH) and each character beyond ASCII as \x{HHHH} in a pattern (RE2's
// syntax) or \u{HHHH} in a template, both syntaxes reading these as the characters. So a
// rule given with a real Tab or a "€" can be stored as a line of text, in the settings file
// and through the registry's calls alike. A character that a backslash escapes stays as it
// is (the rule's own check then says whether it can be used).
enum class RuleSyntax { kPattern, kTemplate };
std::string RuleInAscii(std::string_view utf8, RuleSyntax syntax);

}  // namespace lintrel

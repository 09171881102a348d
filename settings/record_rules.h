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

// `text` with each control character written as its escape (\t, \xHH), so that a pattern or
// template given with a real Tab means the same and can be stored as a line of text. The
// pattern's syntax and the template's read these escapes as the characters.
std::string EscapeControlsInRule(std::string_view text);

}  // namespace lintrel

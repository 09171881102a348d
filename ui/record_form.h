#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/line_records.h"
#include "settings/record_rules.h"

namespace lintrel::ui {

// The Options dialog's Records group, as text and positions rather than as the values they
// stand for.
struct RecordForm {
  std::string pattern{};             // "Pattern:"
  int unmatched_index = 0;           // "Not matched:", an entry of kUnmatchedTexts
  bool gs1 = false;                  // "GS1 element strings"
  std::string template_text{};       // "Template:"
  std::string repeat_window_text{};  // "Repeat window (ms):"
};

// The entries of "Not matched:", in the order of UnmatchedLines.
inline constexpr std::array<std::string_view, 3> kUnmatchedTexts = {"Report", "Drop", "Type"};

// Which control a rejected Records group is about.
enum class RecordField { kPattern, kTemplate, kRepeatWindow };

struct RecordFormError {
  RecordField field;
  std::string message;
};

RecordForm RecordFormFromRules(const RecordRules& rules);

// Reads the group into `rules` only when every value is acceptable: a pattern or template
// that cannot be used, or a repeat window out of range, is an error naming its field.
std::optional<RecordFormError> ApplyRecordForm(const RecordForm& form, RecordRules& rules);

// A line typed in (with the escapes of shaping) run through a port's options as if the
// port had received it, for the Test field and `lintrel-cli --preview`: "  field ...",
// "  types: ...", "  not typed: ..." (see OutcomeReport), or "  not read: ..." for a wrong
// escape. `records` keeps the line before, for repeats.
std::vector<std::string> PreviewLine(std::string_view typed, const CaptureOptions& options,
                                     const std::shared_ptr<const PortCaptureRules>& rules, int port_number,
                                     PortLineRecords& records);

// What the Test field shows for `sample` under the group as it stands (not yet applied):
// the preview's lines, CR LF between them, or why the group cannot be used.
std::string TestRecordForm(const RecordForm& form, std::string_view sample, const CaptureOptions& options,
                           const PortCaptureRules& port_rules, int port_number);

}  // namespace lintrel::ui

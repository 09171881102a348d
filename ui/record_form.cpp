#include "ui/record_form.h"

#include <chrono>

#include "capture/records/record_stage.h"
#include "common/port_number.h"
#include "common/text_escapes.h"
#include "ui/options_form.h"
#include "ui/record_report.h"

namespace lintrel::ui {
namespace {

// A line typed in as the port would collect it: its port-name prefix, its characters as
// UTF-8 and its end character.
std::vector<uint8_t> CollectedLine(const std::string& text, const CaptureOptions& options, int port_number,
                                   std::size_t* prefix_length) {
  std::string collected = options.prefix ? PortName(port_number) + ":" : "";
  *prefix_length = collected.size();
  collected += text;
  collected.push_back(static_cast<char>(options.end_character));
  return {collected.begin(), collected.end()};
}

}  // namespace

RecordForm RecordFormFromRules(const RecordRules& rules) {
  return {rules.pattern, static_cast<int>(rules.unmatched), rules.gs1, rules.template_text,
          std::to_string(rules.repeat_window_ms)};
}

std::optional<RecordFormError> ApplyRecordForm(const RecordForm& form, RecordRules& rules) {
  RecordRules updated = rules;
  updated.pattern = RuleInAscii(form.pattern, RuleSyntax::kPattern);
  updated.template_text = RuleInAscii(form.template_text, RuleSyntax::kTemplate);
  updated.gs1 = form.gs1;
  if (form.unmatched_index >= 0 && form.unmatched_index < static_cast<int>(kUnmatchedTexts.size())) {
    updated.unmatched = static_cast<UnmatchedLines>(form.unmatched_index);
  }
  std::string error;
  if (!records::RecordStage::Make(updated, &error)) {
    // The reason without the command line's option name; the field says which it is.
    const bool pattern = error.rfind("--pattern: ", 0) == 0;
    error.erase(0, error.find(": ") + 2);
    return RecordFormError{pattern ? RecordField::kPattern : RecordField::kTemplate,
                           (pattern ? "Pattern: " : "Template: ") + error};
  }
  const std::optional<int> window = ParseDialogInteger(form.repeat_window_text);
  if (!window) return RecordFormError{RecordField::kRepeatWindow, std::string(kNotAnIntegerMessage)};
  if (*window < 0 || *window > RecordRules::kMaxRepeatWindowMs) {
    return RecordFormError{RecordField::kRepeatWindow, IntegerRangeMessage(0, RecordRules::kMaxRepeatWindowMs)};
  }
  updated.repeat_window_ms = *window;
  rules = updated;
  return std::nullopt;
}

std::vector<std::string> PreviewLine(std::string_view typed, const CaptureOptions& options,
                                     const std::shared_ptr<const PortCaptureRules>& rules, int port_number,
                                     PortLineRecords& records) {
  std::string error;
  const std::optional<std::string> text = ParseEscapes(typed, &error);
  if (!text) return {"  not read: " + error};
  CaptureOptions utf8 = options;
  utf8.encoding = TextEncoding::kUtf8;  // what is typed in is text already
  std::size_t prefix_length = 0;
  const std::vector<uint8_t> bytes = CollectedLine(*text, utf8, port_number, &prefix_length);
  const LineResult result = records.Process({bytes, true, prefix_length}, {utf8, rules}, nullptr,
                                            std::chrono::system_clock::now(), std::chrono::steady_clock::now());
  return OutcomeReport(result);
}

std::string TestRecordForm(const RecordForm& form, std::string_view sample, const CaptureOptions& options,
                           const PortCaptureRules& port_rules, int port_number) {
  auto rules = std::make_shared<PortCaptureRules>(port_rules);
  if (const std::optional<RecordFormError> error = ApplyRecordForm(form, rules->records)) return error->message;
  PortLineRecords records(PortName(port_number));
  std::string shown;
  for (const std::string& line : PreviewLine(sample, rules->Over(options), rules, port_number, records)) {
    // Without the report's indent: the field shows nothing else.
    shown += (shown.empty() ? "" : "\r\n") + line.substr(line.find_first_not_of(' '));
  }
  return shown;
}

}  // namespace lintrel::ui

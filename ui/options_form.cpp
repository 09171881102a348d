#include "ui/options_form.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "common/text_escapes.h"
#include "common/trim.h"
#include "ui/dialog_lists.h"

namespace lintrel::ui {

namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// The delay is compared as an unsigned number, so that a negative entry is out of range
// rather than below it.
bool DelayInRange(int delay) {
  const auto value = static_cast<uint32_t>(delay);
  return value >= static_cast<uint32_t>(CaptureOptions::kMinReconnectDelayMs) &&
         value <= static_cast<uint32_t>(CaptureOptions::kMaxReconnectDelayMs);
}

// A number field's error, named by its label as the shaping fields' errors are.
OptionsFormError NumberError(OptionsField field, std::string message) {
  std::string_view label;
  switch (field) {
    case OptionsField::kKeyDelay:
      label = "Key delay (ms)";
      break;
    case OptionsField::kLineDelay:
      label = "Line delay (ms)";
      break;
    default:
      label = "Reconnection Delay(ms)";
      break;
  }
  return {field, std::string(label).append(": ").append(message)};
}

bool IsEndCharacterIndex(int index) {
  return index >= 0 && index < static_cast<int>(kEndCharacterTexts.size());
}

}  // namespace

OptionsForm FormFromOptions(const CaptureOptions& options, const Pacing& pacing) {
  OptionsForm form;
  form.encoding_index = static_cast<int>(options.encoding);
  form.key_delay_text = std::to_string(pacing.key_delay.count());
  form.line_delay_text = std::to_string(pacing.line_delay.count());
  form.prefix = options.prefix;
  form.delay_text = std::to_string(options.reconnect_delay_ms);
  const int index = EndCharacterIndex(options.end_character);
  form.end_character_index = IsEndCharacterIndex(index) ? index : -1;
  form.truncate = options.truncate;
  return form;
}

std::optional<OptionsFormError> ApplyOptionsForm(const OptionsForm& form, CaptureOptions& options) {
  const std::optional<int> delay = ParseDialogInteger(form.delay_text);
  if (!delay) return NumberError(OptionsField::kDelay, std::string(kNotAnIntegerMessage));
  if (!DelayInRange(*delay)) {
    return NumberError(OptionsField::kDelay,
                       IntegerRangeMessage(CaptureOptions::kMinReconnectDelayMs, CaptureOptions::kMaxReconnectDelayMs));
  }
  options.prefix = form.prefix;
  options.reconnect_delay_ms = *delay;
  if (IsEndCharacterIndex(form.end_character_index)) {
    options.end_character = static_cast<uint8_t>(EndCharacterCode(form.end_character_index));
  }
  options.truncate = form.truncate;
  return std::nullopt;
}

void ShapingToForm(const ShapingRules& rules, OptionsForm& form) {
  form.prefix_text = FormatEscapes(rules.prefix_text);
  form.suffix = FormatEscapes(rules.suffix);
  form.replacements.clear();
  for (const Replacement& replacement : rules.replacements) {
    form.replacements.append(form.replacements.empty() ? "" : "\r\n").append(FormatReplacement(replacement));
  }
  form.control_index = static_cast<int>(rules.control);
}

std::optional<OptionsFormError> ApplyShapingForm(const OptionsForm& form, ShapingRules& rules) {
  std::string problem;
  const std::optional<std::string> prefix_text = ParseEscapes(form.prefix_text, &problem);
  if (!prefix_text) return OptionsFormError{OptionsField::kPrefixText, "Prefix text: " + problem};
  const std::optional<std::string> suffix = ParseEscapes(form.suffix, &problem);
  if (!suffix) return OptionsFormError{OptionsField::kSuffix, "Suffix: " + problem};
  std::vector<Replacement> replacements;
  // One a line; blank lines are left out (an edit control ends its lines with CR LF).
  std::string_view lines = form.replacements;
  while (!lines.empty()) {
    const std::size_t end = std::min(lines.find_first_of("\r\n"), lines.size());
    const std::string_view line = lines.substr(0, end);
    lines.remove_prefix(end);
    while (!lines.empty() && (lines.front() == '\r' || lines.front() == '\n')) lines.remove_prefix(1);
    if (Trim(line).empty()) continue;
    std::optional<Replacement> replacement = ParseReplacement(line, &problem);
    if (!replacement) return OptionsFormError{OptionsField::kReplacements, "Replace: " + problem};
    if (replacements.size() == kMaxReplacements) {
      return OptionsFormError{OptionsField::kReplacements,
                              "Replace: at most " + std::to_string(kMaxReplacements) + " replacements"};
    }
    replacements.push_back(std::move(*replacement));
  }
  const int control_count = static_cast<int>(kControlMapTexts.size());
  rules.prefix_text = *prefix_text;
  rules.suffix = *suffix;
  rules.replacements = std::move(replacements);
  if (form.control_index >= 0 && form.control_index < control_count) {
    rules.control = static_cast<ControlMap>(form.control_index);
  }
  return std::nullopt;
}

std::optional<OptionsFormError> ApplyOptionsForm(const OptionsForm& form, CaptureOptions& options, Pacing& pacing) {
  const struct {
    OptionsField field;
    const std::string& text;
    int highest;
  } delays[] = {{OptionsField::kKeyDelay, form.key_delay_text, kMaxKeyDelayMs},
                {OptionsField::kLineDelay, form.line_delay_text, kMaxLineDelayMs}};
  int values[2] = {};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::optional<int> value = ParseDialogInteger(delays[i].text);
    if (!value) return NumberError(delays[i].field, std::string(kNotAnIntegerMessage));
    if (*value < 0 || *value > delays[i].highest) {
      return NumberError(delays[i].field, IntegerRangeMessage(0, delays[i].highest));
    }
    values[i] = *value;
  }
  CaptureOptions updated = options;
  if (std::optional<OptionsFormError> error = ApplyOptionsForm(form, updated)) return error;
  if (form.encoding_index >= 0 && form.encoding_index < static_cast<int>(kEncodingTexts.size())) {
    updated.encoding = static_cast<TextEncoding>(form.encoding_index);
  }
  options = updated;
  pacing = {std::chrono::milliseconds(values[0]), std::chrono::milliseconds(values[1])};
  return std::nullopt;
}

void DeliveryToForm(const DeliveryRules& rules, OptionsForm& form) {
  form.target_program = rules.target ? rules.target->program : "";
  form.target_title = rules.target ? rules.target->title_part : "";
  form.elsewhere_index = static_cast<int>(rules.elsewhere);
  form.delivery_index = static_cast<int>(rules.method);
  form.sound_not_typed = rules.sound_not_typed;
}

std::optional<OptionsFormError> ApplyDeliveryForm(const OptionsForm& form, DeliveryRules& rules) {
  const std::string_view program = Trim(form.target_program);
  if (program.find_first_of("\\/") != std::string_view::npos) {
    return OptionsFormError{OptionsField::kTargetProgram,
                            "Target application: its file name alone, such as excel.exe, without a folder"};
  }
  if (program.find(':') != std::string_view::npos) {
    return OptionsFormError{OptionsField::kTargetProgram,
                            "Target application: a program name has no colon (the title part has its own field)"};
  }
  if (program.empty() && !form.target_title.empty()) {
    return OptionsFormError{OptionsField::kTargetTitle,
                            "Title part: a title part needs the target application whose window it is in"};
  }
  DeliveryRules updated = rules;
  if (form.delivery_index >= 0 && form.delivery_index < static_cast<int>(kDeliveryMethodTexts.size())) {
    updated.method = static_cast<DeliveryMethod>(form.delivery_index);
  }
  if (form.elsewhere_index >= 0 && form.elsewhere_index < static_cast<int>(kElsewhereTexts.size())) {
    updated.elsewhere = static_cast<Elsewhere>(form.elsewhere_index);
  }
  updated.sound_not_typed = form.sound_not_typed;
  updated.target.reset();
  if (!program.empty()) updated.target = DeliveryTarget{std::string(program), form.target_title};
  rules = std::move(updated);
  return std::nullopt;
}

std::optional<int> ParseDialogInteger(std::string_view text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::string IntegerRangeMessage(int low, int high) {
  std::string message(kIntegerRangeMessage);
  ReplaceAll(message, "%1", std::to_string(low));
  ReplaceAll(message, "%2", std::to_string(high));
  return message;
}

}  // namespace lintrel::ui

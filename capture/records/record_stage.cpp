#include "capture/records/record_stage.h"

#include <chrono>

#include "capture/records/gs1_element_string.h"
#include "common/port_number.h"

namespace lintrel::records {
namespace {

RecordField FieldOf(const Gs1Element& element) { return {element.ai, element.data, element.moment}; }

}  // namespace

RecordStage::RecordStage(RecordRules rules, std::shared_ptr<const RecordPattern> pattern,
                         std::optional<RecordTemplate> format)
    : rules_(std::move(rules)), pattern_(std::move(pattern)), template_(std::move(format)) {}

std::shared_ptr<const RecordStage> RecordStage::Make(const RecordRules& rules, std::string* error) {
  std::string problem;
  std::shared_ptr<const RecordPattern> pattern;
  if (!rules.pattern.empty()) {
    pattern = RecordPattern::Compile(rules.pattern, &problem);
    if (!pattern) {
      if (error != nullptr) *error = "--pattern: " + problem;
      return nullptr;
    }
  }
  std::optional<RecordTemplate> format;
  if (!rules.template_text.empty()) {
    format = RecordTemplate::Parse(rules.template_text, &problem);
    if (!format) {
      if (error != nullptr) *error = "--template: " + problem;
      return nullptr;
    }
  }
  return std::shared_ptr<const RecordStage>(new RecordStage(rules, std::move(pattern), std::move(format)));
}

RecordOutcome RecordStage::Apply(const RecordLine& line) const {
  RecordOutcome outcome;
  // The arrival's calendar date is worked out only when something needs it.
  std::optional<CivilTime> arrival;
  const auto local_arrival = [&] {
    if (!arrival) arrival = LocalCivilTime(line.arrival);
    return *arrival;
  };
  if (pattern_) {
    std::optional<RecordFields> groups = pattern_->Match(line.received);
    if (!groups) {
      outcome.reason = "does not match the pattern";
      switch (rules_.unmatched) {
        case UnmatchedLines::kReport: outcome.verdict = RecordVerdict::kNotTyped; break;
        case UnmatchedLines::kDrop: outcome.verdict = RecordVerdict::kDropped; break;
        case UnmatchedLines::kType: outcome.text = line.shaped; break;
      }
      return outcome;
    }
    outcome.fields = std::move(*groups);
  }
  if (rules_.gs1) {
    const Gs1Reading reading = ReadGs1ElementString(line.received, local_arrival().year);
    if (!reading.error.empty()) {
      outcome.verdict = RecordVerdict::kNotTyped;
      outcome.reason = reading.error;
      return outcome;
    }
    for (const Gs1Element& element : reading.elements) outcome.fields.push_back(FieldOf(element));
  }
  if (!template_) {
    outcome.text = line.shaped;
    return outcome;
  }
  const TemplateValues values{outcome.fields, line.shaped, line.port,
                              template_->UsesTime() ? local_arrival() : CivilTime{}};
  std::optional<std::u32string> text = template_->Expand(values, &outcome.reason);
  if (!text) {
    outcome.verdict = RecordVerdict::kNotTyped;
    return outcome;
  }
  outcome.text = std::move(*text);
  return outcome;
}

std::string RecordRulesError(const RecordRules& rules) {
  std::string error;
  RecordStage::Make(rules, &error);
  return error;
}

void LeaveOutWrongRecordValues(PortProfile& profile, int port_number, std::vector<std::string>* warnings) {
  const auto check = [&](std::optional<std::string>& value, std::string RecordRules::*field, const char* entry) {
    if (!value) return;
    RecordRules rules;
    rules.*field = *value;
    std::string error = RecordRulesError(rules);
    if (error.empty()) return;
    value.reset();
    // The reason without the option's name, which the stored value has none of.
    error.erase(0, error.find(": ") + 2);
    if (warnings != nullptr) {
      warnings->push_back(PortName(port_number) + " profile: \"" + entry + "\" is wrong: " + error +
                          "; the default is used, the stored value is kept.");
    }
  };
  check(profile.pattern, &RecordRules::pattern, kPatternEntry);
  check(profile.template_text, &RecordRules::template_text, kTemplateEntry);
}

bool RepeatFilter::IsRepeat(std::u32string_view received, Clock::time_point arrival,
                            std::chrono::milliseconds window) {
  const bool repeat = window.count() > 0 && previous_arrival_ && received == previous_ &&
                      arrival - *previous_arrival_ <= window;
  previous_.assign(received);
  previous_arrival_ = arrival;
  return repeat;
}

}  // namespace lintrel::records

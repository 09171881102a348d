#include "capture/line_records.h"

#include <algorithm>

#include "capture/line_shaping.h"
#include "capture/text_decoding.h"

namespace lintrel {
namespace {

// The received characters of a line, without the port-name prefix and the end character.
std::u32string ReceivedText(const FinishedLine& line, const CaptureOptions& options, const CodePage* ansi) {
  const std::size_t prefix_bytes = std::min(line.prefix_length, line.text.size());
  std::u32string text = DecodeText(line.text.subspan(prefix_bytes), options.encoding, ansi);
  if (line.ended_by_end_character && !text.empty()) text.pop_back();
  return text;
}

}  // namespace

const records::RecordStage* PortLineRecords::StageFor(const RecordRules& rules, std::string* error) {
  if (!stage_ || !(stage_->rules() == rules)) stage_ = records::RecordStage::Make(rules, error);
  return stage_.get();
}

LineResult PortLineRecords::Process(const FinishedLine& line, const PortCaptureSnapshot& snapshot,
                                    const CodePage* ansi, std::chrono::system_clock::time_point arrival,
                                    records::RepeatFilter::Clock::time_point steady_arrival) {
  LineResult result;
  ShapedLine shaped = ShapeLine(line, snapshot.options, ansi, snapshot.shaping());
  if (!shaped.refusal.empty()) {
    result.outcome = {records::RecordVerdict::kNotTyped, {}, std::move(shaped.refusal), {}};
    return result;
  }
  result.shaped = std::move(shaped.keys);
  static const RecordRules kNoRecords;
  const RecordRules& rules = snapshot.own ? snapshot.own->records : kNoRecords;
  if (result.shaped.empty()) {
    result.outcome = {records::RecordVerdict::kDropped, {}, "nothing left to type", {}};
    return result;
  }
  if (!rules.Active()) {
    result.outcome.text = result.shaped;
    return result;
  }
  result.received = ReceivedText(line, snapshot.options, ansi);
  if (repeats_.IsRepeat(result.received, steady_arrival, std::chrono::milliseconds(rules.repeat_window_ms))) {
    result.outcome = {records::RecordVerdict::kDropped, {}, "repeats the line before", {}};
    return result;
  }
  std::string error;
  const records::RecordStage* stage = StageFor(rules, &error);
  if (stage == nullptr) {
    // The front ends check the rules before they publish them; this is the last guard.
    result.outcome = {records::RecordVerdict::kNotTyped, {}, error, {}};
    return result;
  }
  result.outcome = stage->Apply({result.received, result.shaped, port_name_, arrival});
  return result;
}

}  // namespace lintrel

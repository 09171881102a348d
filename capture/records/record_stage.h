#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/records/record_fields.h"
#include "capture/records/record_pattern.h"
#include "capture/records/record_template.h"
#include "settings/port_profile.h"
#include "settings/record_rules.h"

namespace lintrel::records {

// What the record stage makes of a line.
enum class RecordVerdict {
  kType,      // type `text`
  kNotTyped,  // not typed, reported with `reason`
  kDropped,   // not typed, not reported (`reason` says why, for a monitor)
};

struct RecordOutcome {
  RecordVerdict verdict = RecordVerdict::kType;
  std::u32string text{};  // what is typed
  std::string reason{};
  RecordFields fields{};  // the pattern's groups, then the GS1 AIs
};

// One line as the record stage sees it.
struct RecordLine {
  // The line received, decoded, without its end character and before replacements and the
  // control map: what the pattern and the GS1 reading see (GS separators included).
  std::u32string_view received;
  // The line as shaping makes it (port-name prefix, prefix text, suffix and all): what is
  // typed without a template, and the template's {line}.
  std::u32string_view shaped;
  std::string_view port;  // "COM5"
  std::chrono::system_clock::time_point arrival;
};

// The record stage of one port's rules, checked and compiled once: the pattern, the GS1
// reading and the template. Repeats are the RepeatFilter's.
//
// In this order: the pattern (a line it does not match goes as `unmatched` says, so that a
// pattern can pick the lines that are records), the GS1 reading (a line that is no valid
// element string is not typed, with the reason), then the template over the fields of both
// (a field it needs that the line lacks: not typed, with the reason; a name both have is
// the AI's). Without a template the shaped line is typed.
//
// Thread contract: immutable once made; Apply() from any thread.
class RecordStage {
 public:
  // Null with *error naming the rule that is wrong ("--pattern: ...", "--template: ...").
  static std::shared_ptr<const RecordStage> Make(const RecordRules& rules, std::string* error);

  RecordOutcome Apply(const RecordLine& line) const;

  const RecordRules& rules() const { return rules_; }

 private:
  RecordStage(RecordRules rules, std::shared_ptr<const RecordPattern> pattern, std::optional<RecordTemplate> format);

  RecordRules rules_;
  std::shared_ptr<const RecordPattern> pattern_;
  std::optional<RecordTemplate> template_;
};

// Why the pattern or the template of `rules` cannot be used ("--pattern: missing )"), or
// empty when both can.
std::string RecordRulesError(const RecordRules& rules);

// Leaves a stored pattern or template that cannot be used out of `profile` (the default is
// used instead, as for any damaged stored value), with one line in *warnings naming the port
// and the entry.
void LeaveOutWrongRecordValues(PortProfile& profile, int port_number, std::vector<std::string>* warnings);

// Drops the lines that repeat the line before them, of one port: a line equal to the one
// received just before it, at most the window after it, is a repeat. Each repeat starts the
// window again, so a badge held at a reader that sends it over and over is typed once.
//
// Thread contract: one per port, used by that port's reader alone.
class RepeatFilter {
 public:
  using Clock = std::chrono::steady_clock;

  // Whether `received` repeats the line before it; either way it is the line before the
  // next one.
  bool IsRepeat(std::u32string_view received, Clock::time_point arrival, std::chrono::milliseconds window);

 private:
  std::u32string previous_;
  std::optional<Clock::time_point> previous_arrival_;
};

}  // namespace lintrel::records

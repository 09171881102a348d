#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "capture/line_buffer.h"
#include "capture/records/record_stage.h"
#include "settings/capture_options.h"

namespace lintrel {

// What became of one finished line of a port.
struct LineResult {
  // The line received, decoded, without its end character: what the pattern and the GS1
  // reading saw. Left empty when the port has no record rules.
  std::u32string received;
  // The line as shaping makes it (empty: shaping leaves nothing, and nothing is typed).
  std::u32string shaped;
  // The record stage's verdict; without record rules, the shaped line typed.
  records::RecordOutcome outcome;
};

// Turns a port's finished lines into what is typed: shaping, then the record stage
// (repeats, pattern, GS1 reading, template). It keeps the line before, for repeats, and the
// port's record stage compiled (again whenever the rules change).
//
// Thread contract: one per port, used by one thread at a time (the port's reader).
class PortLineRecords {
 public:
  explicit PortLineRecords(std::string port_name) : port_name_(std::move(port_name)) {}

  LineResult Process(const FinishedLine& line, const PortCaptureSnapshot& snapshot, const CodePage* ansi,
                     std::chrono::system_clock::time_point arrival,
                     records::RepeatFilter::Clock::time_point steady_arrival);

 private:
  const records::RecordStage* StageFor(const RecordRules& rules, std::string* error);

  std::string port_name_;
  records::RepeatFilter repeats_;
  std::shared_ptr<const records::RecordStage> stage_;
};

}  // namespace lintrel

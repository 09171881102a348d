#include "bench/bench_stages.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/line_records.h"

namespace lintrel::bench {
namespace {

struct Stage {
  const char* name;
  PortCaptureRules rules;
  std::vector<std::string> lines;  // sent in turn
};

// Shaping as the benchmark's shaped subject does it: truncation, two replacements, a suffix.
ShapingRules BenchShaping() { return {.replacements = {{"1", "1"}, {"0", "0"}}, .suffix = "\r"}; }

std::vector<Stage> Stages() {
  const RecordRules scale{.pattern = R"(^ST,GS,\+0*(?P<weight>\d+\.\d+)kg$)", .unmatched = UnmatchedLines::kDrop,
                          .template_text = "{weight}\\r"};
  const RecordRules gs1{.gs1 = true, .template_text = R"({01}\t{17:%Y-%m-%d}\t{10}\t{21}\r)"};
  const std::string code = "]d2010950110153000317251231" "10AB12\x1D" "21XYZ";
  return {
      {"shaping alone (13-digit code)", {.shaping = BenchShaping()}, {"1234567890123"}},
      {"shaping + pattern and template (scale, half the lines stable)",
       {.shaping = BenchShaping(), .records = scale},
       {"ST,GS,+001.250kg", "US,GS,+001.240kg"}},
      {"shaping + GS1 reading and template (37-character code)",
       {.shaping = BenchShaping(), .records = gs1},
       {code}},
      {"shaping + repeat window (every other line a repeat)",
       {.shaping = BenchShaping(), .records = {.repeat_window_ms = 1000}},
       {"1234567890123", "1234567890123", "1234567890124", "1234567890124"}},
  };
}

double MicrosecondsPerLine(const Stage& stage, int lines) {
  const PortCaptureSnapshot snapshot{{.truncate = true, .encoding = TextEncoding::kLatin1},
                                     std::make_shared<const PortCaptureRules>(stage.rules)};
  std::vector<std::vector<uint8_t>> collected;
  for (const std::string& line : stage.lines) {
    collected.emplace_back(line.begin(), line.end());
    collected.back().push_back('\r');
  }
  PortLineRecords records("COM1");
  std::size_t typed = 0;
  const auto arrival = std::chrono::system_clock::now();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < lines; ++i) {
    const std::vector<uint8_t>& bytes = collected[static_cast<std::size_t>(i) % collected.size()];
    const LineResult result = records.Process({bytes, true, 0}, snapshot, nullptr, arrival, start);
    typed += result.outcome.text.size();
  }
  const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  // What was typed is used, so that no work is optimised away.
  return typed == 0 ? -1 : took.count() / lines;
}

}  // namespace

std::vector<StageCost> MeasureStageCosts(int lines) {
  std::vector<StageCost> costs;
  for (const Stage& stage : Stages()) costs.push_back({stage.name, MicrosecondsPerLine(stage, lines)});
  return costs;
}

}  // namespace lintrel::bench

#include "app/cli/records_cli.h"

#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "capture/line_records.h"
#include "common/port_number.h"
#include "common/printable_text.h"
#include "common/text_escapes.h"
#include "platform/us_layout.h"
#include "ui/record_report.h"

namespace lintrel::cli {
namespace {

bool WriteLines(std::FILE* out, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (std::fputs(line.c_str(), out) < 0 || std::fputc('\n', out) == EOF) return false;
  }
  return std::fflush(out) == 0;
}

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

int RunPreview(const CliOptions& options, std::istream& in, std::FILE* out) {
  const PortRequest& port = options.ports.front();
  const auto rules = std::make_shared<const PortCaptureRules>(CaptureRulesOf(options, port));
  CaptureOptions capture = rules->Over(CaptureOptionsOf(options));
  capture.encoding = TextEncoding::kUtf8;  // what is typed in is text already
  const PortCaptureSnapshot snapshot{capture, rules};
  PortLineRecords records(PortName(port.port_number));
  for (std::string typed; std::getline(in, typed);) {
    if (!typed.empty() && typed.back() == '\r') typed.pop_back();
    std::vector<std::string> report = {"> " + EscapeControlCharacters(typed)};
    std::string error;
    if (const std::optional<std::string> text = ParseEscapes(typed, &error)) {
      std::size_t prefix_length = 0;
      const std::vector<uint8_t> bytes = CollectedLine(*text, capture, port.port_number, &prefix_length);
      const FinishedLine line{bytes, true, prefix_length};
      const LineResult result =
          records.Process(line, snapshot, nullptr, std::chrono::system_clock::now(), std::chrono::steady_clock::now());
      for (std::string& text_line : ui::OutcomeReport(result)) report.push_back(std::move(text_line));
    } else {
      report.push_back("  not read: " + error);
    }
    if (!WriteLines(out, report)) return 1;
  }
  return 0;
}

void MonitorPrinter::ChunkReceived(int port_number, std::chrono::system_clock::time_point when,
                                   std::span<const uint8_t> bytes) {
  const std::string report = ui::ChunkReport(port_number, when, bytes);
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLines(out_, {report});
}

void MonitorPrinter::LineFinished(int port_number, std::chrono::system_clock::time_point when,
                                  const FinishedLine& line, const LineResult& result) {
  const std::vector<std::string> report = ui::LineReport(port_number, when, line, result);
  std::lock_guard<std::mutex> lock(mutex_);
  WriteLines(out_, report);
}

NoKeyboard::NoKeyboard() { platform::FillUsLayout(layout_); }

platform::KeyboardState NoKeyboard::ReadState() { return {.layout = &layout_, .caps_lock = false, .held_modifier_keys = {}}; }

platform::KeyOutputResult NoKeyboard::TypeKeys(std::span<const platform::KeyEvent> /*events*/) {
  return {.accepted = 0, .error = "--monitor types nothing", .output_lost = false};
}

}  // namespace lintrel::cli

#include "app/cli/records_cli.h"

#include <string>
#include <vector>

#include "app/cli/cli_app.h"
#include "capture/line_records.h"
#include "common/port_number.h"
#include "common/printable_text.h"
#include "platform/standard_streams.h"
#include "platform/us_layout.h"
#include "ui/record_form.h"
#include "ui/record_report.h"

namespace lintrel::cli {
namespace {

bool WriteLines(std::FILE* out, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (std::fputs(line.c_str(), out) < 0 || std::fputc('\n', out) == EOF) return false;
  }
  return std::fflush(out) == 0;
}

// A report of the monitor, written as status lines are (see PrintMessage): the readers
// write it, and an output that takes nothing (a terminal paused with Ctrl-S, a pipe nobody
// reads) must not hold a reader, which could then not be stopped. In pieces that a stream
// ready for writing takes without blocking; what it does not take in time is dropped.
void WriteReport(std::FILE* out, const std::vector<std::string>& lines) {
  constexpr std::size_t kPiece = 256;
  std::string text;
  for (const std::string& line : lines) text.append(line).push_back('\n');
  for (std::size_t at = 0; at < text.size(); at += kPiece) {
    if (!platform::WriteWithin(out, std::string_view(text).substr(at, kPiece), kMessageWriteLimit)) return;
  }
}

}  // namespace

int RunPreview(const CliOptions& options, std::istream& in, std::FILE* out) {
  const PortRequest& port = options.ports.front();
  const auto rules = std::make_shared<const PortCaptureRules>(CaptureRulesOf(options, port));
  const CaptureOptions capture = rules->Over(CaptureOptionsOf(options));
  PortLineRecords records(PortName(port.port_number));
  for (std::string typed; std::getline(in, typed);) {
    if (!typed.empty() && typed.back() == '\r') typed.pop_back();
    std::vector<std::string> report = {"> " + EscapeControlCharacters(typed)};
    for (std::string& line : ui::PreviewLine(typed, capture, rules, port.port_number, records)) {
      report.push_back(std::move(line));
    }
    if (!WriteLines(out, report)) return 1;
  }
  return 0;
}

void MonitorPrinter::ChunkReceived(int port_number, std::chrono::system_clock::time_point when,
                                   std::span<const uint8_t> bytes) {
  const std::string report = ui::ChunkReport(port_number, when, bytes);
  std::lock_guard<std::mutex> lock(mutex_);
  WriteReport(out_, {report});
}

void MonitorPrinter::LineFinished(int port_number, std::chrono::system_clock::time_point when,
                                  const FinishedLine& line, const LineResult& result) {
  const std::vector<std::string> report = ui::LineReport(port_number, when, line, result);
  std::lock_guard<std::mutex> lock(mutex_);
  WriteReport(out_, report);
}

NoKeyboard::NoKeyboard() { platform::FillUsLayout(layout_); }

platform::KeyboardState NoKeyboard::ReadState() { return {.layout = &layout_, .caps_lock = false, .held_modifier_keys = {}}; }

platform::KeyOutputResult NoKeyboard::TypeKeys(std::span<const platform::KeyEvent> /*events*/) {
  return {.accepted = 0, .error = "--monitor types nothing", .output_lost = false};
}

}  // namespace lintrel::cli

#include "ui/monitor_feed.h"

#include "ui/record_report.h"

namespace lintrel::ui {

void MonitorFeed::ChunkReceived(int port_number, std::chrono::system_clock::time_point when,
                                std::span<const uint8_t> bytes) {
  if (port_number == port_number_) Add({ChunkReport(port_number, when, bytes)});
}

void MonitorFeed::LineFinished(int port_number, std::chrono::system_clock::time_point when,
                               const FinishedLine& line, const LineResult& result) {
  if (port_number == port_number_) Add(LineReport(port_number, when, line, result));
}

void MonitorFeed::Add(const std::vector<std::string>& report) {
  bool first = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.size() >= kMaxWaiting) {
      ++left_out_;
      return;
    }
    first = waiting_.empty() && left_out_ == 0;
    for (const std::string& line : report) waiting_.append(line).append("\r\n");
  }
  if (first && notify_) notify_();
}

std::string MonitorFeed::TakeText() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  text.swap(waiting_);
  if (left_out_ > 0) {
    // Appended piece by piece: "(" + a temporary draws a false -Wrestrict from MinGW's GCC.
    text.push_back('(');
    text.append(std::to_string(left_out_));
    text.append(left_out_ == 1 ? " report" : " reports");
    text.append(" left out: more arrived than the window could show)\r\n");
    left_out_ = 0;
  }
  return text;
}

}  // namespace lintrel::ui

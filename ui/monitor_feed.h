#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "capture/line_monitor.h"

namespace lintrel::ui {

// What the Monitor window shows of one port, gathered on the readers' threads for the UI
// thread: the reports of `lintrel-cli --monitor` (see record_report.h), lines ended by CR LF.
// Lines keep being typed meanwhile.
//
// Thread contract: ChunkReceived() and LineFinished() on readers' threads; TakeText() on the
// UI thread. `notify` is called on a reader's thread when text waits and none waited
// before; it must not block (the window posts itself a message).
class MonitorFeed : public LineMonitor {
 public:
  // Beyond this much text waiting, further reports are counted and left out until the UI
  // thread takes what waits.
  static constexpr std::size_t kMaxWaiting = 256 * 1024;

  MonitorFeed(int port_number, std::function<void()> notify)
      : port_number_(port_number), notify_(std::move(notify)) {}

  void ChunkReceived(int port_number, std::chrono::system_clock::time_point when,
                     std::span<const uint8_t> bytes) override;
  void LineFinished(int port_number, std::chrono::system_clock::time_point when, const FinishedLine& line,
                    const LineResult& result) override;

  // The text that waits, and a line for the reports left out since the last call.
  std::string TakeText();
  int port_number() const { return port_number_; }

 private:
  void Add(const std::vector<std::string>& report);

  const int port_number_;
  const std::function<void()> notify_;
  std::mutex mutex_;
  std::string waiting_;
  std::size_t left_out_ = 0;
};

}  // namespace lintrel::ui

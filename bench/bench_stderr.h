#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/process.h"

namespace lintrel::bench {

using Clock = std::chrono::steady_clock;
using testing::Process;
using testing::ProcessFigures;
using testing::ReadProcessFigures;

// Drains the standard error of several children on a thread of its own, so that no child
// ever blocks on a full pipe, and counts the lines that report a connected port.
class StderrCollector {
 public:
  explicit StderrCollector(std::vector<int> fds);
  ~StderrCollector();
  StderrCollector(const StderrCollector&) = delete;
  StderrCollector& operator=(const StderrCollector&) = delete;

  int connected_count() const { return connected_.load(); }
  // Lines that report an X connection refused ("Can't open display"), as xdotool does
  // when the server has no room for another client.
  int display_refusal_count() const { return display_refusals_.load(); }
  // The start of everything collected (kept to a bounded size), for error messages.
  std::string Text();

 private:
  void Run();

  std::vector<int> fds_;
  int wake_fd_;
  std::atomic<int> connected_{0};
  std::atomic<int> display_refusals_{0};
  std::mutex mutex_;
  std::string text_;
  std::vector<std::string> partial_lines_;
  std::thread thread_;
};

}  // namespace lintrel::bench

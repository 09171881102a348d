#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foreground_window.h"

namespace lintrel::testing {

// Windows a test puts in front by hand. Activate() brings a window up at once when
// `activation_works`, as a window manager that obeys does. Safe to change from the test's
// thread while a typist's thread reads it.
class FakeForegroundWindows : public platform::ForegroundWindows {
 public:
  static platform::WindowInfo Window(uint64_t id, std::vector<std::string> names, std::string title = "") {
    return {id, std::move(names), std::move(title)};
  }

  void Open(platform::WindowInfo window) {
    std::lock_guard<std::mutex> lock(mutex_);
    windows_.push_back(std::move(window));
  }
  // Puts the window of that id in front (0: none).
  void Front(uint64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    front_ = id;
  }

  // The window of that id comes in front once Foreground() has been asked `reads` more times.
  void FrontAfterReads(uint64_t id, int reads) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_front_ = id;
    reads_until_next_ = reads;
  }

  std::optional<platform::WindowInfo> Foreground() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++foreground_reads_;
    if (reads_until_next_ > 0 && --reads_until_next_ == 0) front_ = next_front_;
    for (const platform::WindowInfo& window : windows_) {
      if (window.id == front_) return window;
    }
    return std::nullopt;
  }
  std::vector<platform::WindowInfo> Windows() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return windows_;
  }
  bool Activate(uint64_t id, std::string* error) override {
    std::lock_guard<std::mutex> lock(mutex_);
    activated_.push_back(id);
    if (!activation_works) {
      *error = "refused";
      return false;
    }
    front_ = id;
    return true;
  }
  void Bell() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++bells_;
  }

  std::vector<uint64_t> activated() {
    std::lock_guard<std::mutex> lock(mutex_);
    return activated_;
  }
  int bells() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bells_;
  }
  int foreground_reads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return foreground_reads_;
  }

  bool activation_works = true;

 private:
  std::mutex mutex_;
  std::vector<platform::WindowInfo> windows_;
  uint64_t front_ = 0;
  uint64_t next_front_ = 0;
  int reads_until_next_ = 0;
  int foreground_reads_ = 0;
  std::vector<uint64_t> activated_;
  int bells_ = 0;
};

}  // namespace lintrel::testing

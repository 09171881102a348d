#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/us_layout.h"
#include "platform/keyboard.h"

namespace lintrel::testing {

// Records key events as "down 0xHH" / "up 0xHH" and the ends of lines as "end".
// Maps characters through the built-in US layout unless a mapping is forced.
class FakeKeyboard : public platform::Keyboard {
 public:
  // When set, each event yields the thread first, so that anything not serialised
  // around the keyboard would interleave.
  bool slow = false;

  platform::KeyMapping Map(uint8_t character) override {
    if (forced_) return forced_mapping_;
    return platform::UsLayoutMap(character);
  }
  uint8_t ShiftKey() const override { return platform::kVirtualKeyShift; }
  void KeyDown(uint8_t key_code) override { Record("down", key_code); }
  void KeyUp(uint8_t key_code) override { Record("up", key_code); }
  void EndLine() override { Record("end", -1); }

  void ForceMapping(platform::KeyMapping mapping) {
    forced_ = true;
    forced_mapping_ = mapping;
  }

  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  // Waits (bounded) until `count` line ends have been recorded.
  bool WaitForLines(std::size_t count) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return lines_ >= count; });
  }

 private:
  void Record(const char* what, int key_code) {
    if (slow) std::this_thread::yield();
    std::lock_guard<std::mutex> lock(mutex_);
    if (key_code < 0) {
      events_.push_back(what);
      ++lines_;
    } else {
      char text[16];
      std::snprintf(text, sizeof text, "%s 0x%02X", what, key_code);
      events_.push_back(text);
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> events_;
  std::size_t lines_ = 0;
  bool forced_ = false;
  platform::KeyMapping forced_mapping_;
};

}  // namespace lintrel::testing

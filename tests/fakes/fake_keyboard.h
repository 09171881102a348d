#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/keyboard.h"
#include "platform/us_layout.h"

namespace lintrel::testing {

// Records key events as "down 0xHH" / "up 0xHH", each line's injection ending with "end".
// Maps characters through the built-in US layout unless a mapping is forced. Answers with
// the results it was given, in order, and with "all taken" after them; can be made to
// block inside TypeKeys(), as an output that takes nothing does.
class FakeKeyboard : public platform::Keyboard {
 public:
  platform::KeyMapping Map(uint8_t character) override {
    if (forced_) return forced_mapping_;
    return platform::UsLayoutMap(character);
  }
  std::optional<platform::LineKeys> KeysOfLine(std::span<const uint8_t> /*line*/) override { return line_keys_; }
  uint8_t ShiftKey() const override { return platform::kVirtualKeyShift; }

  platform::KeyOutputResult TypeKeys(std::span<const platform::KeyEvent> events) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !blocked_; });
    for (const platform::KeyEvent& event : events) {
      char text[16];
      std::snprintf(text, sizeof text, "%s 0x%02X", event.pressed ? "down" : "up", event.key_code);
      events_.push_back(text);
    }
    events_.push_back("end");
    ++lines_;
    changed_.notify_all();
    if (results_.empty()) return {.accepted = events.size(), .error = {}};
    platform::KeyOutputResult result = results_.front();
    results_.pop_front();
    return result;
  }

  // Every line is typed with these keys, as a keyboard that reads lines itself answers.
  void ForceLineKeys(platform::LineKeys keys) { line_keys_ = std::move(keys); }

  void ForceMapping(platform::KeyMapping mapping) {
    forced_ = true;
    forced_mapping_ = mapping;
  }

  // The next lines' results, in order.
  void AnswerWith(std::vector<platform::KeyOutputResult> results) {
    std::lock_guard<std::mutex> lock(mutex_);
    results_.insert(results_.end(), results.begin(), results.end());
  }

  // From now on TypeKeys() waits inside until Unblock().
  void Block() {
    std::lock_guard<std::mutex> lock(mutex_);
    blocked_ = true;
  }
  void Unblock() {
    std::lock_guard<std::mutex> lock(mutex_);
    blocked_ = false;
    changed_.notify_all();
  }

  std::vector<std::string> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  // Waits (bounded) until `count` lines have been typed.
  bool WaitForLines(std::size_t count) const {
    return WaitFor([&] { return lines_ >= count; });
  }
  // Waits (bounded) until `count` calls of TypeKeys() have begun.
  bool WaitForCalls(std::size_t count) const {
    return WaitFor([&] { return entered_ >= count; });
  }

 private:
  template <typename Condition>
  bool WaitFor(Condition condition) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), condition);
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> events_;
  std::deque<platform::KeyOutputResult> results_;
  std::size_t lines_ = 0;
  std::size_t entered_ = 0;
  bool blocked_ = false;
  std::optional<platform::LineKeys> line_keys_;
  bool forced_ = false;
  platform::KeyMapping forced_mapping_;
};

}  // namespace lintrel::testing

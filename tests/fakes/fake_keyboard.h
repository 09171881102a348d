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
#include "platform/layout_keymap.h"
#include "platform/us_layout.h"

namespace lintrel::testing {

// Records key events as "down 0xHH" / "up 0xHH" ("down U+HHHH" for a character without a
// key), each injection ending with "end". Has the built-in US layout, Caps Lock and held
// modifier keys as the test sets them. Answers with
// the results it was given, in order, and with "all taken" after them; can be made to
// block inside TypeKeys(), as an output that takes nothing does.
class FakeKeyboard : public platform::Keyboard {
 public:
  FakeKeyboard() { platform::FillUsLayout(layout_); }

  platform::KeyboardState ReadState() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++state_reads_;
    platform::KeyboardState state{.layout = &layout_, .caps_lock = caps_lock_, .held_modifier_keys = {}};
    if (held_reads_ > 0) {
      --held_reads_;
      state.held_modifier_keys = held_;
    }
    return state;
  }

  platform::KeyOutputResult TypeKeys(std::span<const platform::KeyEvent> events) override {
    std::unique_lock<std::mutex> lock(mutex_);
    ++entered_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !blocked_; });
    for (const platform::KeyEvent& event : events) {
      char text[16];
      if (event.character != 0) {
        std::snprintf(text, sizeof text, "%s U+%04X", event.pressed ? "down" : "up",
                      static_cast<unsigned>(event.character));
      } else {
        std::snprintf(text, sizeof text, "%s 0x%02X", event.pressed ? "down" : "up", event.key_code);
      }
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

  std::string RefusalOfLine(std::span<const platform::KeyEvent> events) override {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const platform::KeyEvent& event : events) {
      if (event.character != 0 && event.character == refused_character_) return "cannot type it";
    }
    return {};
  }

  platform::LayoutKeymap& layout() { return layout_; }
  // A line with `character` as a character event is refused whole before its first key.
  void Refuse(char32_t character) {
    std::lock_guard<std::mutex> lock(mutex_);
    refused_character_ = character;
  }
  void SetCapsLock(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    caps_lock_ = on;
  }
  // The user holds `keys` down for the next `reads` looks at the keyboard's state.
  void HoldModifiers(std::vector<uint8_t> keys, int reads) {
    std::lock_guard<std::mutex> lock(mutex_);
    held_ = std::move(keys);
    held_reads_ = reads;
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
  platform::LayoutKeymap layout_;
  bool caps_lock_ = false;
  char32_t refused_character_ = 0;
  std::vector<uint8_t> held_;
  int held_reads_ = 0;
  int state_reads_ = 0;
};

}  // namespace lintrel::testing

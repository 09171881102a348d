#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "capture/line_buffer.h"
#include "cli/cli_process.h"
#include "platform/keyboard.h"
#include "platform/us_layout.h"
#include "platform/virtual_serial_device.h"

namespace lintrel::testing {

inline constexpr char kCliPath[] = LINTREL_CLI_PATH;

// How many times `text` occurs in `haystack`.
inline std::size_t Occurrences(const std::string& haystack, const std::string& text) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(text); at != std::string::npos;
       at = haystack.find(text, at + text.size())) {
    ++count;
  }
  return count;
}

// Waits until `done` holds, for as long as `progress` keeps changing: for runs that take
// longer than the safety limit as a whole but never stall for that long.
inline bool WaitWhileProgressing(ChildProcess& cli, const std::function<bool()>& done,
                                 const std::function<std::size_t()>& progress) {
  while (!done()) {
    const std::size_t before = progress();
    if (!cli.WaitUntil([&] { return done() || progress() != before; })) return false;
  }
  return true;
}

// `count` decimal digits in an order that does not repeat, so that lost or reordered bytes
// show in what is typed.
inline std::string RandomDigits(std::size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  std::string digits(count, '0');
  for (char& digit : digits) digit = static_cast<char>('0' + random() % 10);
  return digits;
}

// The trace lines the trace keyboard writes for `bytes`: each byte's key down and up on a
// US keyboard, inside Shift down/up when the layout wants exactly Shift; a byte without a
// key is the no-key code 0xFF.
inline std::string ExpectedTrace(std::string_view bytes) {
  std::string trace;
  char event[16];
  const auto add = [&](const char* direction, uint8_t key) {
    std::snprintf(event, sizeof event, "%s 0x%02X\n", direction, key);
    trace += event;
  };
  for (char byte : bytes) {
    const platform::KeyMapping key = platform::UsLayoutMap(static_cast<uint8_t>(byte));
    const bool with_shift = key.shift_state == platform::kShiftStateShift;
    if (with_shift) add("down", platform::kVirtualKeyShift);
    add("down", key.key_code);
    add("up", key.key_code);
    if (with_shift) add("up", platform::kVirtualKeyShift);
  }
  return trace;
}

// Reads a trace back into the text typed, chunk by chunk as the program writes it. Knows
// the characters the US layout types without a modifier or with Shift alone: printable
// ASCII, Tab and carriage return. Anything else, or events that are not whole key presses,
// stop the decoding with error() saying where.
class TraceDecoder {
 public:
  TraceDecoder() {
    for (auto& keys : characters_) keys.fill(-1);
    for (int byte = 0; byte < 0x80; ++byte) {
      const bool printable = byte >= 0x20 && byte < 0x7F;
      if (!printable && byte != '\t' && byte != '\r') continue;
      const platform::KeyMapping key = platform::UsLayoutMap(static_cast<uint8_t>(byte));
      if (key.shift_state > platform::kShiftStateShift) continue;
      int& slot = characters_[key.shift_state][key.key_code];
      if (slot < 0) slot = byte;
    }
  }

  void Feed(std::string_view chunk) {
    for (std::size_t end; (end = chunk.find('\n')) != std::string_view::npos;
         chunk.remove_prefix(end + 1)) {
      // A line split between two chunks was kept from the first.
      if (line_.empty()) {
        Event(chunk.substr(0, end));
      } else {
        line_.append(chunk.substr(0, end));
        Event(line_);
        line_.clear();
      }
      ++events_;
    }
    line_.append(chunk);
  }

  const std::string& text() const { return text_; }
  const std::string& error() const { return error_; }

 private:
  enum class Expect { kShiftOrKey, kKeyDown, kKeyUp, kShiftUp };

  void Event(std::string_view line) {
    if (!error_.empty()) return;
    const std::optional<KeyEvent> event = ParseEvent(line);
    if (!event) return Fail("not a key event: \"" + std::string(line) + "\"");
    switch (expect_) {
      case Expect::kShiftOrKey:
        shifted_ = event->down && event->key == platform::kVirtualKeyShift;
        if (shifted_) {
          expect_ = Expect::kKeyDown;
          return;
        }
        [[fallthrough]];
      case Expect::kKeyDown:
        if (!event->down || event->key == platform::kVirtualKeyShift) return Fail("expected a key down");
        key_ = event->key;
        expect_ = Expect::kKeyUp;
        return;
      case Expect::kKeyUp:
        if (event->down || event->key != key_) return Fail("expected the key to come up");
        if (characters_[shifted_ ? 1 : 0][static_cast<std::size_t>(key_)] < 0) {
          return Fail("a key that types none of the known characters");
        }
        text_ += static_cast<char>(characters_[shifted_ ? 1 : 0][static_cast<std::size_t>(key_)]);
        expect_ = shifted_ ? Expect::kShiftUp : Expect::kShiftOrKey;
        return;
      case Expect::kShiftUp:
        if (event->down || event->key != platform::kVirtualKeyShift) return Fail("expected Shift to come up");
        expect_ = Expect::kShiftOrKey;
        return;
    }
  }

  void Fail(const std::string& what) {
    error_ = "trace line " + std::to_string(events_) + ": " + what + " (after " +
             std::to_string(text_.size()) + " characters)";
  }

  // The character typed by [with Shift][key code], or -1.
  std::array<std::array<int, 256>, 2> characters_;
  std::string line_;
  std::size_t events_ = 0;
  Expect expect_ = Expect::kShiftOrKey;
  bool shifted_ = false;
  int key_ = -1;
  std::string text_;
  std::string error_;
};

// Checks, as they are typed, lines that the capacity ended: with --prefix and no end
// character, every typed line is "COMn:" and the next digits its port sent, exactly
// LineBuffer::kCapacity characters long.
class FullLineChecker {
 public:
  // The digits each port sends, by port number.
  explicit FullLineChecker(std::map<int, std::string> sent) : sent_(std::move(sent)) {
    for (const auto& entry : sent_) typed_[entry.first] = 0;
  }

  // Checks the lines completed in `text` (the whole decoded text so far).
  void Check(const std::string& text) {
    constexpr std::size_t kLine = LineBuffer::kCapacity;
    while (error_.empty() && (lines_ + 1) * kLine <= text.size()) {
      CheckLine(std::string_view(text).substr(lines_ * kLine, kLine));
      ++lines_;
    }
  }

  // The digits of `port_number` typed so far, in whole lines.
  std::size_t typed(int port_number) const { return typed_.at(port_number); }
  std::size_t lines() const { return lines_; }
  const std::string& error() const { return error_; }

 private:
  void CheckLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    const int port_number = colon > 3 && colon < 7 && line.substr(0, 3) == "COM"
                                ? std::atoi(std::string(line.substr(3, colon - 3)).c_str())
                                : -1;
    const auto port = sent_.find(port_number);
    if (port == sent_.end()) {
      error_ = "line " + std::to_string(lines_) + " does not begin with a port's prefix: " +
               std::string(line.substr(0, 16));
      return;
    }
    const std::string_view digits = line.substr(colon + 1);
    std::size_t& typed = typed_[port_number];
    if (port->second.compare(typed, digits.size(), digits) != 0) {
      error_ = "line " + std::to_string(lines_) + " of COM" + std::to_string(port_number) +
               " is not the next " + std::to_string(digits.size()) + " digits it sent after " +
               std::to_string(typed);
      return;
    }
    typed += digits.size();
  }

  std::map<int, std::string> sent_;
  std::map<int, std::size_t> typed_;
  std::size_t lines_ = 0;
  std::string error_;
};

// Sends `data` to a device a piece at a time, never more than a window ahead of what the
// program has been seen to take in, so that the device's pseudo-terminal (20 KiB on Linux 6)
// never fills and no write blocks, whether or not the program is reading.
class WindowedSender {
 public:
  static constexpr std::size_t kWindow = 8 * 1024;
  static constexpr std::size_t kPiece = 1024;

  WindowedSender(platform::VirtualSerialDevice& device, std::string data)
      : device_(device), data_(std::move(data)) {}

  // Sends what the window allows, given that the program has taken in `consumed` bytes
  // (typed them, or holds them in an unfinished line of at most LineBuffer::kCapacity).
  // False when a write failed.
  bool SendAhead(std::size_t consumed) {
    while (sent_ < data_.size() && sent_ < consumed + kWindow) {
      const std::size_t piece =
          std::min({kPiece, data_.size() - sent_, consumed + kWindow - sent_});
      if (!Send(device_, data_.substr(sent_, piece))) return false;
      sent_ += piece;
    }
    return true;
  }

  bool done() const { return sent_ == data_.size(); }
  std::size_t sent() const { return sent_; }
  const std::string& data() const { return data_; }

 private:
  platform::VirtualSerialDevice& device_;
  std::string data_;
  std::size_t sent_ = 0;
};

}  // namespace lintrel::testing

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lintrel::testing {

// The trace keyboard's output ("down 0xHH" / "up 0xHH", one key event a line, HH a
// US-English Windows virtual-key code), as tests and the benchmark read and expect it.

struct KeyEvent {
  bool down = false;
  int key = -1;
};

// One trace line, "down 0xHH" or "up 0xHH" exactly; empty for anything else.
std::optional<KeyEvent> ParseEvent(std::string_view line);

// Trace lines for typing `key` without and with Shift.
std::vector<std::string> Press(uint8_t key);
std::vector<std::string> ShiftPress(uint8_t key);

// The trace lines the trace keyboard writes for `bytes` read as Latin-1: each byte's key
// down and up on a US keyboard, inside Shift down/up when the layout wants exactly Shift;
// a character from 0xA0 up as "down U+00HH" and "up U+00HH"; nothing for 0x80..0x9F.
std::string ExpectedTrace(std::string_view bytes);

// Reads a trace back into the text typed, chunk by chunk as the program writes it. Knows
// the characters the US layout types without a modifier or with Shift alone: printable
// ASCII, Tab and carriage return. Anything else, or events that are not whole key presses,
// stop the decoding with error() saying where.
class TraceDecoder {
 public:
  TraceDecoder();

  void Feed(std::string_view chunk);

  const std::string& text() const { return text_; }
  const std::string& error() const { return error_; }
  // Whether the trace so far ends between two key presses, not in the middle of one.
  bool BetweenPresses() const { return expect_ == Expect::kShiftOrKey && line_.empty(); }

 private:
  enum class Expect { kShiftOrKey, kKeyDown, kKeyUp, kShiftUp };

  void Event(std::string_view line);
  void Fail(const std::string& what);

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

}  // namespace lintrel::testing

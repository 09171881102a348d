#pragma once

#include <cstdio>

#include "platform/keyboard.h"

namespace lintrel::platform {

// A keyboard that types nothing and writes each key event as one line, "down 0xHH" or
// "up 0xHH" (HH the virtual-key code of a US-English Windows keyboard), flushed at the
// end of every line. A write that fails (a full disk, a pipe whose reader has gone, a
// stream not open for writing) loses the output for good.
class TraceKeyboard : public Keyboard {
 public:
  explicit TraceKeyboard(std::FILE* out) : out_(out) {}

  KeyMapping Map(uint8_t character) override;
  uint8_t ShiftKey() const override;
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;

 private:
  std::FILE* out_;
};

}  // namespace lintrel::platform

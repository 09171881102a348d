#pragma once

#include <cstdio>

#include "platform/keyboard.h"

namespace lintrel::platform {

// A keyboard that types nothing and writes each key event as one line, "down 0xHH" or
// "up 0xHH" (HH the virtual-key code of a US-English Windows keyboard), flushed at the
// end of every line.
class TraceKeyboard : public Keyboard {
 public:
  explicit TraceKeyboard(std::FILE* out) : out_(out) {}

  KeyMapping Map(uint8_t character) override;
  uint8_t ShiftKey() const override;
  void KeyDown(uint8_t key_code) override;
  void KeyUp(uint8_t key_code) override;
  void EndLine() override;

 private:
  std::FILE* out_;
};

}  // namespace lintrel::platform

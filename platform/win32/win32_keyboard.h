#pragma once

#include "platform/keyboard.h"

namespace lintrel::platform {

// Key presses through keybd_event, mapped with the keyboard layout of the calling thread.
// Every event is sent as an extended key with scan code 0, Shift included.
class Win32Keyboard : public Keyboard {
 public:
  KeyMapping Map(uint8_t character) override;
  uint8_t ShiftKey() const override;
  void KeyDown(uint8_t key_code) override;
  void KeyUp(uint8_t key_code) override;
  void EndLine() override {}
};

}  // namespace lintrel::platform

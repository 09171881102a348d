#pragma once

#include <cstdint>
#include <optional>

#include "platform/key_injection.h"
#include "platform/keyboard.h"

namespace lintrel::platform {

// Key presses through SendInput, one call per line, mapped with the keyboard layout of the
// calling thread. Every event is sent as an extended key with scan code 0, Shift included
// (the events keybd_event sent one by one before).
class Win32Keyboard : public Keyboard, private KeyInjectionSystem {
 public:
  Win32Keyboard();

  KeyMapping Map(uint8_t character) override;
  uint8_t ShiftKey() const override;
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;

 private:
  // KeyInjectionSystem.
  TargetRights ForegroundWindowRights() override;
  std::size_t Inject(std::span<const KeyEvent> events) override;
  std::string LastErrorText() override;

  // This process's integrity level (the RID of its mandatory label), when readable.
  std::optional<uint32_t> own_integrity_;
  uint32_t last_error_ = 0;
};

}  // namespace lintrel::platform

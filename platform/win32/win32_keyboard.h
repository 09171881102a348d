#pragma once

#include <cstdint>
#include <optional>

#include "platform/key_injection.h"
#include "platform/keyboard.h"
#include "platform/layout_keymap.h"

namespace lintrel::platform {

// Key presses through SendInput, one call per line. Keys are chosen with the keyboard layout
// and the Caps Lock state of the thread that owns the foreground window, the one that turns
// them into characters:
// the layout's table is read per key through ToUnicodeEx (plain, Shift, AltGr as Ctrl+Alt,
// Shift+AltGr; Caps Lock off and on) whenever that layout changes. A character the layout
// has no key for goes as a Unicode packet (KEYEVENTF_UNICODE; two, a surrogate pair, above
// U+FFFF). Every key event is sent as an extended key with scan code 0, Shift included
// (the events keybd_event sent one by one before).
class Win32Keyboard : public Keyboard, private KeyInjectionSystem {
 public:
  Win32Keyboard();

  KeyboardState ReadState() override;
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;

 private:
  // KeyInjectionSystem.
  TargetRights ForegroundWindowRights() override;
  std::size_t Inject(std::span<const KeyEvent> events) override;
  std::string LastErrorText() override;

  void ReadLayout(void* layout_handle);

  // This process's integrity level (the RID of its mandatory label), when readable.
  std::optional<uint32_t> own_integrity_;
  void* layout_handle_ = nullptr;  // the HKL the table was read from
  LayoutKeymap layout_;
  uint32_t last_error_ = 0;
};

}  // namespace lintrel::platform

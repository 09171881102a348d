#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/keyboard.h"

// Xlib's connection type (Display), declared here so that users of this header do not
// inherit Xlib's macros (None, True, Bool, ...).
struct _XDisplay;

namespace lintrel::platform {

// Types into the focused window of an X server through the XTest extension.
//
// Characters map through the server's current keymap the way a person's keyboard would
// type them: the lowest key that carries the character's keysym in group 1 plain (shift
// state 0), else with Shift (1), else at a higher level such as AltGr (6, Ctrl+Alt).
// Control characters take the key a US-English Windows keyboard reports for them (Return
// for CR, Tab, Ctrl+letter keys, ...). The table follows keymap changes, which EndLine()
// picks up.
//
// Key codes are X keycodes. Keycode 255 is never used for a character, so kNoKey stays
// unambiguous.
class X11Keyboard : public Keyboard {
 public:
  // Connects to display_name (null: $DISPLAY). On failure returns null and sets *error.
  static std::unique_ptr<X11Keyboard> Open(const char* display_name, std::string* error);

  ~X11Keyboard() override;
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  KeyMapping Map(uint8_t character) override;
  uint8_t ShiftKey() const override;
  void KeyDown(uint8_t key_code) override;
  void KeyUp(uint8_t key_code) override;
  void EndLine() override;

 private:
  X11Keyboard(_XDisplay* display, int xkb_event_base);

  // Re-reads the server's keymap and rebuilds the character table and the Shift key.
  void RebuildKeyTable();
  // Refreshes the table if the keymap changed since the last look.
  void HandlePendingEvents();
  void SendKey(uint8_t key_code, bool pressed);

  _XDisplay* display_;
  // Type of every XKEYBOARD event on this connection.
  int xkb_event_base_;
  std::array<KeyMapping, 256> key_table_;
  uint8_t shift_key_ = kNoKey;
};

}  // namespace lintrel::platform

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
// for CR, Tab, Ctrl+letter keys, ...). The table follows keymap changes, which are picked
// up after each line.
//
// Each line goes out with one flush. An X error that arrives while a line is typed is that
// line's failure. The loss of the connection (the server ended) loses the output for good;
// it never ends the process, as Xlib's own handler would.
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
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;

  // Called by the process's Xlib error handlers, on the thread that is inside Xlib with
  // this keyboard's connection: the one typing.
  void NoteProtocolError(std::string description) { protocol_error_ = std::move(description); }
  void NoteConnectionLost() { connection_lost_ = true; }

 private:
  X11Keyboard(_XDisplay* display, int xkb_event_base);

  // Re-reads the server's keymap and rebuilds the character table and the Shift key.
  void RebuildKeyTable();
  // Refreshes the table if the keymap changed since the last look.
  void HandlePendingEvents();

  _XDisplay* display_;
  // The display's name, for messages.
  std::string display_name_;
  // Type of every XKEYBOARD event on this connection.
  int xkb_event_base_;
  std::array<KeyMapping, 256> key_table_;
  uint8_t shift_key_ = kNoKey;
  std::string protocol_error_;
  bool connection_lost_ = false;
};

}  // namespace lintrel::platform

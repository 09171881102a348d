#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/keyboard.h"
#include "platform/layout_keymap.h"

// Xlib's connection type (Display), declared here so that users of this header do not
// inherit Xlib's macros (None, True, Bool, ...).
struct _XDisplay;

namespace lintrel::platform {

// Types into the focused window of an X server through the XTest extension.
//
// The server's keymap fills a LayoutKeymap for the active group: every key's levels
// reached with no modifier, Shift, the level-3 shift (AltGr) and both, with Caps Lock off
// and on, as the key's type defines them; the key choice then types each character as a
// person would on that layout. Control characters take the bare key a US-English Windows
// keyboard has for them (Return for CR and LF, Tab, Backspace, Escape, the Ctrl-letter's
// key for the others; Ctrl is never pressed). Keymap, group and modifier changes are read
// from the server's XKEYBOARD notices before each line.
//
// A character no key types is typed on a spare keycode (one that carries no symbol at all)
// bound to the character's keysym. The bindings stay for later lines and are undone at
// the end (and after an X error), so that the receiving program never looks up a key whose
// binding was already taken back; a new keymap (setxkbmap) drops them. Should the process
// be killed without a chance to clean up, the bound spare keycodes keep their characters
// until the next keymap is loaded: no key the keyboard has is changed.
//
// Each line goes out with one flush. An X error that arrives while a line is typed is that
// line's failure. The loss of the connection (the server ended) loses the output for good;
// it never ends the process, as Xlib's own handler would.
//
// Key codes are X keycodes. Keycode 255 is never used, so kNoKey stays unambiguous.
class X11Keyboard : public Keyboard {
 public:
  // Connects to display_name (null: $DISPLAY). On failure returns null and sets *error.
  static std::unique_ptr<X11Keyboard> Open(const char* display_name, std::string* error);

  ~X11Keyboard() override;
  X11Keyboard(const X11Keyboard&) = delete;
  X11Keyboard& operator=(const X11Keyboard&) = delete;

  KeyboardState ReadState() override;
  KeyOutputResult TypeKeys(std::span<const KeyEvent> events) override;

  // Called by the process's Xlib error handlers, on the thread that is inside Xlib with
  // this keyboard's connection: the one typing.
  void NoteProtocolError(std::string description) { protocol_error_ = std::move(description); }
  void NoteConnectionLost() { connection_lost_ = true; }

 private:
  X11Keyboard(_XDisplay* display, int xkb_event_base);

  struct ServerKeymap;

  // Re-reads the server's keymap; then rebuilds the layout.
  void FetchKeymap();
  // Fills the layout from the keymap for the active group.
  void RebuildLayout();
  // Reads the keymap, group and modifier notices that arrived.
  void HandlePendingEvents();
  // The modifier keys that are down now (asks the server).
  std::vector<uint8_t> ModifierKeysDown();
  // The spare keycode bound to the character's keysym, binding one if needed; kNoKey when
  // no keycode is spare.
  uint8_t KeycodeForCharacter(char32_t character, std::span<const KeyEvent> line);
  // Whether Caps Lock, on now, would change the character typed on a spare keycode.
  bool CapsLockChanges(char32_t character) const;
  // Gives every bound spare keycode back its emptiness.
  void ReleaseBoundKeycodes();

  _XDisplay* display_;
  // The display's name, for messages.
  std::string display_name_;
  // Type of every XKEYBOARD event on this connection.
  int xkb_event_base_;
  std::unique_ptr<ServerKeymap> keymap_;
  LayoutKeymap layout_;
  int group_ = 0;
  unsigned int base_modifiers_ = 0;
  unsigned int locked_modifiers_ = 0;
  struct Binding {
    uint8_t keycode;
    char32_t character;
    uint64_t last_used;
  };
  std::vector<Binding> bindings_;
  uint64_t line_count_ = 0;
  std::string protocol_error_;
  bool connection_lost_ = false;
};

}  // namespace lintrel::platform

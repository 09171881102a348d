#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lintrel::platform {

// A character's key in a Windows layout mapping (VkKeyScan): the key code and the shift
// state (bits: 1 Shift, 2 Ctrl, 4 Alt). A character the layout cannot produce maps to
// kNoKey for both.
struct KeyMapping {
  uint8_t key_code = 0;
  uint8_t shift_state = 0;
};

inline constexpr uint8_t kNoKey = 255;
inline constexpr uint8_t kShiftStateShift = 1;

// One key going down or up, in the backend's key numbering; or, with `character` set, a
// character that no key of the layout types, going down or up by the system's own means
// (a Unicode packet on Windows, a spare key bound to it under X; a keyboard with no such
// means refuses the line), key_code unused.
struct KeyEvent {
  uint8_t key_code = 0;
  bool pressed = false;
  char32_t character = 0;

  bool operator==(const KeyEvent&) const = default;
};

class LayoutKeymap;

// The keyboard as a line is about to be typed.
struct KeyboardState {
  // The layout that will receive the keys; never null.
  const LayoutKeymap* layout = nullptr;
  bool caps_lock = false;
  // Modifier keys (Shift, Ctrl, Alt, AltGr, the logo keys) the user holds down now.
  std::vector<uint8_t> held_modifier_keys;
};

// What became of the key events of one line.
struct KeyOutputResult {
  // How many of the events, from the first, the system took.
  std::size_t accepted = 0;
  // Why the line did not arrive whole; empty when every event was taken.
  std::string error;
  // The output is gone for good (its stream closed or full, its X server lost): nothing
  // more can be typed through this keyboard.
  bool output_lost = false;
};

// Synthesised keyboard input into whatever window has the focus.
//
// Thread contract: not thread-safe. One thread at a time uses a keyboard (the typist's,
// once typing has begun); it may be left blocked inside TypeKeys() by an output that takes
// nothing (a stopped X server, a pipe nobody reads), so the keyboard must stay alive for as
// long as that thread may return from it.
class Keyboard {
 public:
  virtual ~Keyboard() = default;

  // Reads the layout that will receive the keys and the state of the keyboard, just before
  // a line is typed: a layout changed since the last line is in force for this one.
  virtual KeyboardState ReadState() = 0;
  // Sends the key events of one whole line as one injection, in order, so that nothing else
  // lands between them where the system allows it, and says what became of them; a paced
  // line comes one stroke a call (a key with its modifiers, pressed and released), each
  // beginning and ending with none of its keys held. May block for as long as the output
  // takes nothing.
  virtual KeyOutputResult TypeKeys(std::span<const KeyEvent> events) = 0;
  // Why this keyboard would refuse the key events of a whole line, empty when it would not.
  // Asked before the first stroke of a paced line, which reaches TypeKeys() a stroke at a
  // time, so that a line the keyboard cannot type whole is refused before any key of it goes
  // out, as an unpaced line is.
  virtual std::string RefusalOfLine(std::span<const KeyEvent> /*events*/) { return {}; }
};

// Which system keyboard to open, and how.
struct KeyboardRequest {
  std::string name;
  // LAYOUT[:VARIANT] for a keyboard that cannot read the layout of the receiving side
  // (uinput); empty: the system's layout.
  std::string layout;
};

// The platform's real keyboards, by the name --keys takes; the first is the default
// ("auto", "x11", "uinput" on Linux).
std::vector<std::string> SystemKeyboardNames();
// Opens the named system keyboard; on failure returns null and sets *error. *chosen says
// which keyboard it is and why, for a status line ("uinput (a Wayland session), layout de").
std::unique_ptr<Keyboard> OpenSystemKeyboard(const KeyboardRequest& request, std::string* error,
                                             std::string* chosen);

}  // namespace lintrel::platform

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lintrel::platform {

// A character's key: the key code and the modifiers needed to type it.
// shift_state bits: 1 Shift, 2 Ctrl, 4 Alt. A character the layout cannot produce
// maps to kNoKey for both.
struct KeyMapping {
  uint8_t key_code = 0;
  uint8_t shift_state = 0;
};

inline constexpr uint8_t kNoKey = 255;
inline constexpr uint8_t kShiftStateShift = 1;

// One key going down or up, in the backend's key numbering.
struct KeyEvent {
  uint8_t key_code = 0;
  bool pressed = false;

  bool operator==(const KeyEvent&) const = default;
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

// The key events that type a whole line, or why the line cannot be typed.
struct LineKeys {
  std::vector<KeyEvent> events;
  // Empty when every character has a key; else the reason, and nothing is typed.
  std::string error;
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

  virtual KeyMapping Map(uint8_t character) = 0;
  // A keyboard that reads a line's text itself (as UTF-8) and picks every key from its
  // layout returns the line's events here; the others return nothing, and the line is typed
  // byte by byte through Map().
  virtual std::optional<LineKeys> KeysOfLine(std::span<const uint8_t> /*line*/) { return std::nullopt; }
  // The key code of the Shift key in this backend's numbering.
  virtual uint8_t ShiftKey() const = 0;
  // Sends the key events of one whole line as one injection, in order, so that nothing else
  // lands between them where the system allows it, and says what became of them. May block
  // for as long as the output takes nothing.
  virtual KeyOutputResult TypeKeys(std::span<const KeyEvent> events) = 0;
};

// Which system keyboard to open, and how.
struct KeyboardRequest {
  std::string name;
  // LAYOUT[:VARIANT] for a keyboard that maps characters to keys itself (uinput); empty:
  // the system's layout.
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

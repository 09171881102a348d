#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/keyboard.h"

namespace lintrel {

// The key events that type a line on the keyboard as it is (its layout, Caps Lock):
// each character with the key and modifiers its layout types it with (see LayoutKeymap),
// Caps Lock compensated; a printable character no key types as a character event for the
// keyboard's own means; a control character without a key is left out. Modifier keys the
// user holds are released first and pressed again at the end, so that the line does not
// turn into shortcuts.
// `as_characters`: every printable character goes as a character event, none by the
// layout's keys (for a receiving side whose layout is not the one Lintrel sees); control
// characters (Tab, Enter) are still pressed as their keys.
std::vector<platform::KeyEvent> KeyEventsOfLine(const platform::KeyboardState& state, std::u32string_view line,
                                                bool as_characters = false);

// Delays for receiving programs that cannot take keys at full speed, and the longest each
// may be set to.
inline constexpr int kMaxKeyDelayMs = 1000;
inline constexpr int kMaxLineDelayMs = 10000;
struct Pacing {
  std::chrono::milliseconds key_delay{0};   // between two key events of a line
  std::chrono::milliseconds line_delay{0};  // after each line
};

// Waits for the time given unless a stop comes first; false when it was stopped.
using PauseFunction = std::function<bool(std::chrono::milliseconds)>;

// What became of one line.
struct LineOutcome {
  bool typed = true;
  std::string reason;        // why it was not, in words for the user
  bool output_lost = false;  // the keyboard cannot type anything any more
};

// Types finished lines as key presses. An unpaced line's events are worked out first and
// handed to the keyboard as one injection; a paced one goes event by event with the key
// delay between them, and a stop ends it at once (what is held down is let go).
//
// When the user holds a modifier key as a line comes, the sender waits for its release up
// to kHeldModifierWait (looking every kHeldModifierPoll), then types the line with the
// modifiers released around it.
//
// Thread contract: as its keyboard's; the typist is its only user.
class KeystrokeSender {
 public:
  static constexpr std::chrono::milliseconds kHeldModifierWait{500};
  static constexpr std::chrono::milliseconds kHeldModifierPoll{20};

  // Without `pause` nothing is waited for: no pacing, no waiting for held modifiers.
  explicit KeystrokeSender(platform::Keyboard& keyboard, PauseFunction pause = {})
      : keyboard_(keyboard), pause_(std::move(pause)) {}

  // An empty line sends nothing and counts as typed.
  // `as_characters`: see KeyEventsOfLine.
  LineOutcome TypeLine(std::u32string_view line, Pacing pacing = {}, bool as_characters = false);

 private:
  platform::KeyboardState StateWithModifiersLetGo();
  LineOutcome TypePaced(const std::vector<platform::KeyEvent>& events, std::chrono::milliseconds key_delay);
  LineOutcome Send(std::span<const platform::KeyEvent> events);

  platform::Keyboard& keyboard_;
  PauseFunction pause_;
};

}  // namespace lintrel

#pragma once

#include <chrono>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/keyboard.h"
#include "settings/pacing.h"

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

// The strokes of a line's key events, in order: each a run that starts with no key of the
// line held and ends with none held (a character's modifiers down, its key down and up, the
// modifiers up; a dead key and what follows it are two). The releases of the modifiers the
// user holds, before a line, are one stroke, and pressing them again after it is another.
std::vector<std::span<const platform::KeyEvent>> Strokes(std::span<const platform::KeyEvent> events);

// Waits for the time given unless a stop comes first; false when it was stopped.
using PauseFunction = std::function<bool(std::chrono::milliseconds)>;

// Asked before each key of a paced line, the first included: an empty text lets the line go
// on; any other text cuts it short there, nothing of it held, and the line is not typed for
// "cut short: " and that text.
using StrokeCheck = std::function<std::string()>;

// What became of one line.
struct LineOutcome {
  bool typed = true;
  std::string reason;        // why it was not, in words for the user
  bool output_lost = false;  // the keyboard cannot type anything any more
};

// Types finished lines as key presses. An unpaced line's events are worked out first and
// handed to the keyboard as one injection. A paced one goes out key by key: each key one
// injection (its modifiers down, the key down and up, the modifiers up), the key delay
// between two keys, so that no key is ever held while the line waits (a key held that long
// would repeat). A stop ends a paced line between two keys.
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

  // An empty line sends nothing and counts as typed. `check` is asked only when the line
  // is paced. `as_characters`: see KeyEventsOfLine.
  LineOutcome TypeLine(std::u32string_view line, Pacing pacing = {}, const StrokeCheck& check = {},
                       bool as_characters = false);
  // Presses the key that types `character` with no modifier on the keyboard's layout, with
  // `modifiers` (kModifierCtrl, ...) held: a shortcut, Ctrl+V. Not typed when the layout
  // has no such key or a modifier's key is unknown.
  LineOutcome PressShortcut(char32_t character, uint8_t modifiers);

 private:
  platform::KeyboardState StateWithModifiersLetGo();
  LineOutcome TypePaced(std::span<const platform::KeyEvent> events, std::chrono::milliseconds key_delay,
                        const StrokeCheck& check);
  LineOutcome Send(std::span<const platform::KeyEvent> events);

  platform::Keyboard& keyboard_;
  PauseFunction pause_;
};

}  // namespace lintrel

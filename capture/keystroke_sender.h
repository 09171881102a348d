#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/keyboard.h"

namespace lintrel {

// The key events that type a line: for each character, its key down and up, wrapped in
// Shift down/up when (and only when) the layout's shift state for it is exactly Shift. Any
// other modifier combination, and the no-key result, sends the bare key.
std::vector<platform::KeyEvent> KeyEventsOfLine(platform::Keyboard& keyboard, std::span<const uint8_t> line);

// What became of one line.
struct LineOutcome {
  bool typed = true;
  std::string reason;        // why it was not, in words for the user
  bool output_lost = false;  // the keyboard cannot type anything any more
};

// Types finished lines as key presses: the whole line's events are worked out first and
// handed to the keyboard as one injection.
//
// Thread contract: as its keyboard's; the typist is its only user.
class KeystrokeSender {
 public:
  explicit KeystrokeSender(platform::Keyboard& keyboard) : keyboard_(keyboard) {}

  // An empty line sends nothing and counts as typed. A line with a character that the
  // keyboard's layout cannot type is not typed at all: a code with a character left out or
  // typed as another would be booked as a wrong one.
  LineOutcome TypeLine(std::span<const uint8_t> line);

 private:
  platform::Keyboard& keyboard_;
};

}  // namespace lintrel

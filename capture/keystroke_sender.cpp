#include "capture/keystroke_sender.h"

namespace lintrel {

void KeystrokeSender::TypeLine(int port_number, std::span<const uint8_t> line) {
  std::lock_guard<std::mutex> lock(typing_);
  // Asked under the lock, so that the answer holds for this line and no other.
  if (gate_ && !gate_(port_number)) return;
  for (uint8_t character : line) TypeCharacter(character);
  keyboard_.EndLine();
  if (observer_) observer_(port_number, line);
}

void KeystrokeSender::TypeCharacter(uint8_t character) {
  const platform::KeyMapping key = keyboard_.Map(character);
  // Only a plain Shift is reproduced. A key that needs Ctrl or Alt (or both, as AltGr
  // does) is sent bare, and so is the no-key result.
  const bool with_shift = key.shift_state == platform::kShiftStateShift;
  if (with_shift) keyboard_.KeyDown(keyboard_.ShiftKey());
  keyboard_.KeyDown(key.key_code);
  keyboard_.KeyUp(key.key_code);
  if (with_shift) keyboard_.KeyUp(keyboard_.ShiftKey());
}

}  // namespace lintrel

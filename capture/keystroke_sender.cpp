#include "capture/keystroke_sender.h"

namespace lintrel {

std::vector<platform::KeyEvent> KeyEventsOfLine(platform::Keyboard& keyboard, std::span<const uint8_t> line) {
  std::vector<platform::KeyEvent> events;
  events.reserve(line.size() * 4);
  const uint8_t shift = keyboard.ShiftKey();
  for (uint8_t character : line) {
    const platform::KeyMapping key = keyboard.Map(character);
    // Only a plain Shift is reproduced. A key that needs Ctrl or Alt (or both, as AltGr
    // does) is sent bare, and so is the no-key result.
    const bool with_shift = key.shift_state == platform::kShiftStateShift;
    if (with_shift) events.push_back({shift, true});
    events.push_back({key.key_code, true});
    events.push_back({key.key_code, false});
    if (with_shift) events.push_back({shift, false});
  }
  return events;
}

LineOutcome KeystrokeSender::TypeLine(std::span<const uint8_t> line) {
  if (line.empty()) return {};
  std::optional<platform::LineKeys> own_keys = keyboard_.KeysOfLine(line);
  if (own_keys && !own_keys->error.empty()) return {false, std::move(own_keys->error), false};
  const std::vector<platform::KeyEvent> events =
      own_keys ? std::move(own_keys->events) : KeyEventsOfLine(keyboard_, line);
  platform::KeyOutputResult result = keyboard_.TypeKeys(events);
  if (result.output_lost) {
    return {false, result.error.empty() ? "the key output was lost" : std::move(result.error), true};
  }
  if (!result.error.empty()) return {false, std::move(result.error), false};
  if (result.accepted < events.size()) {
    return {false,
            "only " + std::to_string(result.accepted) + " of " + std::to_string(events.size()) +
                " key events were taken",
            false};
  }
  return {};
}

}  // namespace lintrel

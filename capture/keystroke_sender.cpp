#include "capture/keystroke_sender.h"

#include <algorithm>

#include "common/control_characters.h"
#include "platform/layout_keymap.h"

namespace lintrel {

std::vector<platform::KeyEvent> KeyEventsOfLine(const platform::KeyboardState& state, std::u32string_view line,
                                                bool as_characters) {
  std::vector<platform::KeyEvent> events;
  events.reserve(line.size() * 4 + state.held_modifier_keys.size() * 2);
  for (uint8_t key : state.held_modifier_keys) events.push_back({key, false});
  for (char32_t character : line) {
    const bool by_key = !as_characters || IsControlCharacter(character);
    if (const auto stroke = by_key ? state.layout->Choose(character, state.caps_lock) : std::nullopt) {
      state.layout->AppendKeyEvents(*stroke, events);
    } else if (!IsControlCharacter(character)) {
      events.push_back({0, true, character});
      events.push_back({0, false, character});
    }
  }
  for (auto key = state.held_modifier_keys.rbegin(); key != state.held_modifier_keys.rend(); ++key) {
    events.push_back({*key, true});
  }
  return events;
}

platform::KeyboardState KeystrokeSender::StateWithModifiersLetGo() {
  platform::KeyboardState state = keyboard_.ReadState();
  if (!pause_) return state;
  for (auto waited = std::chrono::milliseconds{0};
       !state.held_modifier_keys.empty() && waited < kHeldModifierWait; waited += kHeldModifierPoll) {
    if (!pause_(kHeldModifierPoll)) break;
    state = keyboard_.ReadState();
  }
  return state;
}

LineOutcome KeystrokeSender::Send(std::span<const platform::KeyEvent> events) {
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

LineOutcome KeystrokeSender::TypePaced(const std::vector<platform::KeyEvent>& events,
                                       std::chrono::milliseconds key_delay) {
  // The keys this line holds down, to let go of should it end early.
  std::vector<platform::KeyEvent> down;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (i > 0 && !pause_(key_delay)) {
      std::vector<platform::KeyEvent> release;
      for (auto key = down.rbegin(); key != down.rend(); ++key) release.push_back({key->key_code, false, key->character});
      if (!release.empty()) keyboard_.TypeKeys(release);
      return {false, "stopped while the line was typed", false};
    }
    LineOutcome outcome = Send(std::span(&events[i], 1));
    if (!outcome.typed) return outcome;
    const platform::KeyEvent& event = events[i];
    if (event.pressed) {
      down.push_back(event);
    } else {
      std::erase_if(down, [&](const platform::KeyEvent& held) {
        return held.key_code == event.key_code && held.character == event.character;
      });
    }
  }
  return {};
}

LineOutcome KeystrokeSender::TypeLine(std::u32string_view line, Pacing pacing, bool as_characters) {
  if (line.empty()) return {};
  const platform::KeyboardState state = StateWithModifiersLetGo();
  const std::vector<platform::KeyEvent> events = KeyEventsOfLine(state, line, as_characters);
  if (events.empty()) return {};
  if (pacing.key_delay.count() > 0 && pause_) return TypePaced(events, pacing.key_delay);
  return Send(events);
}

}  // namespace lintrel

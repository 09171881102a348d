#include "capture/keystroke_sender.h"

#include <algorithm>
#include <optional>

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

std::vector<std::span<const platform::KeyEvent>> Strokes(std::span<const platform::KeyEvent> events) {
  std::vector<std::span<const platform::KeyEvent>> strokes;
  // The keys pressed within the stroke so far and not yet released.
  std::vector<platform::KeyEvent> held;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    const platform::KeyEvent& event = events[i];
    if (event.pressed) {
      if (held.empty() && i > begin) {
        strokes.push_back(events.subspan(begin, i - begin));
        begin = i;
      }
      held.push_back(event);
      continue;
    }
    const auto pressed = std::find_if(held.begin(), held.end(), [&](const platform::KeyEvent& down) {
      return down.key_code == event.key_code && down.character == event.character;
    });
    if (pressed != held.end()) held.erase(pressed);
  }
  if (begin < events.size()) strokes.push_back(events.subspan(begin));
  return strokes;
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

LineOutcome KeystrokeSender::TypePaced(std::span<const platform::KeyEvent> events, std::chrono::milliseconds key_delay,
                                       const StrokeCheck& check) {
  if (std::string refusal = keyboard_.RefusalOfLine(events); !refusal.empty()) return {false, refusal, false};
  const std::vector<std::span<const platform::KeyEvent>> strokes = Strokes(events);
  for (std::size_t i = 0; i < strokes.size(); ++i) {
    // Between two strokes no key of the line is held: a stop or a check that says no
    // leaves nothing pressed.
    if (i > 0 && !pause_(key_delay)) return {false, "stopped while the line was typed", false};
    if (check) {
      const std::string refusal = check();
      if (!refusal.empty()) return {false, "cut short: " + refusal, false};
    }
    LineOutcome outcome = Send(strokes[i]);
    if (!outcome.typed) return outcome;
  }
  return {};
}

LineOutcome KeystrokeSender::TypeLine(std::u32string_view line, Pacing pacing, const StrokeCheck& check,
                                      bool as_characters) {
  if (line.empty()) return {};
  const platform::KeyboardState state = StateWithModifiersLetGo();
  const std::vector<platform::KeyEvent> events = KeyEventsOfLine(state, line, as_characters);
  if (events.empty()) return {};
  if (pacing.key_delay.count() > 0 && pause_) return TypePaced(events, pacing.key_delay, check);
  return Send(events);
}

LineOutcome KeystrokeSender::PressShortcut(char32_t character, uint8_t modifiers) {
  platform::KeyboardState state = StateWithModifiersLetGo();
  const std::optional<uint8_t> key = state.layout->BareKey(character);
  if (!key || !state.layout->CanPress(modifiers)) return {false, "the keyboard's layout has no key for it", false};
  std::vector<platform::KeyEvent> events;
  for (uint8_t held : state.held_modifier_keys) events.push_back({held, false});
  state.layout->AppendKeyEvents({*key, modifiers}, events);
  for (auto held = state.held_modifier_keys.rbegin(); held != state.held_modifier_keys.rend(); ++held) {
    events.push_back({*held, true});
  }
  return Send(events);
}

}  // namespace lintrel

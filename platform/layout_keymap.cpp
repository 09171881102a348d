#include "platform/layout_keymap.h"

#include <algorithm>
#include <bit>

#include "common/control_characters.h"

namespace lintrel::platform {
namespace {

constexpr uint8_t kAltGrWindows = kModifierCtrl | kModifierAlt;

// How far a combination is from a bare key; -1 for one never pressed.
int Rank(uint8_t modifiers) {
  const bool shift = (modifiers & kModifierShift) != 0;
  const uint8_t rest = modifiers & ~kModifierShift;
  if (rest == 0) return shift ? 1 : 0;
  if (rest == kAltGrWindows || rest == kModifierLevel3) return shift ? 3 : 2;
  return -1;
}

int BitIndex(uint8_t modifier) { return std::countr_zero(static_cast<unsigned>(modifier)); }

}  // namespace

void LayoutKeymap::Clear() {
  caps_off_.clear();
  caps_on_.clear();
  modifier_keys_.fill(kNoKey);
}

void LayoutKeymap::Offer(Candidates& candidates, char32_t character, KeyStroke stroke) {
  if (character == kNoCharacter || Rank(stroke.modifiers) < 0) return;
  std::vector<KeyStroke>& strokes = candidates[character];
  // After every stroke of the same or a lower rank: the first added wins a tie.
  const auto place = std::upper_bound(strokes.begin(), strokes.end(), stroke, [](KeyStroke a, KeyStroke b) {
    return Rank(a.modifiers) < Rank(b.modifiers);
  });
  strokes.insert(place, stroke);
}

void LayoutKeymap::Add(uint8_t key_code, uint8_t modifiers, char32_t character, char32_t with_caps_lock) {
  if (key_code == kNoKey) return;
  Offer(caps_off_, character, {key_code, modifiers});
  Offer(caps_on_, with_caps_lock, {key_code, modifiers});
}

void LayoutKeymap::SetModifierKey(uint8_t modifier, uint8_t key_code) {
  if (std::has_single_bit(modifier) && BitIndex(modifier) < static_cast<int>(kModifierCount)) {
    modifier_keys_[BitIndex(modifier)] = key_code;
  }
}

bool LayoutKeymap::CanPress(uint8_t modifiers) const {
  for (std::size_t bit = 0; bit < kModifierCount; ++bit) {
    if ((modifiers & (1u << bit)) != 0 && modifier_keys_[bit] == kNoKey) return false;
  }
  return true;
}

std::optional<KeyStroke> LayoutKeymap::Choose(char32_t character, bool caps_lock_on) const {
  const Candidates& candidates = caps_lock_on ? caps_on_ : caps_off_;
  const auto found = candidates.find(character);
  if (found == candidates.end()) return std::nullopt;
  for (const KeyStroke& stroke : found->second) {
    if (CanPress(stroke.modifiers)) return stroke;
  }
  return std::nullopt;
}

std::optional<uint8_t> LayoutKeymap::BareKey(char32_t character) const {
  const auto found = caps_off_.find(character);
  if (found == caps_off_.end()) return std::nullopt;
  for (const KeyStroke& stroke : found->second) {
    if (stroke.modifiers == 0) return stroke.key_code;
  }
  return std::nullopt;
}

void LayoutKeymap::AppendKeyEvents(KeyStroke stroke, std::vector<KeyEvent>& events) const {
  for (std::size_t bit = 0; bit < kModifierCount; ++bit) {
    if ((stroke.modifiers & (1u << bit)) != 0) events.push_back({modifier_keys_[bit], true});
  }
  events.push_back({stroke.key_code, true});
  events.push_back({stroke.key_code, false});
  for (std::size_t bit = kModifierCount; bit-- > 0;) {
    if ((stroke.modifiers & (1u << bit)) != 0) events.push_back({modifier_keys_[bit], false});
  }
}

char32_t ControlCharacterStandIn(char32_t character) {
  switch (character) {
    case 0x00: return U'2';
    case 0x1C: return U'\\';
    case 0x1D: return U']';
    case 0x1E: return U'6';
    case 0x1F: return U'-';
    case U'\b': case U'\t': case U'\n': case U'\r': return 0;
    default: break;
  }
  if (character >= 0x01 && character <= 0x1A) return U'a' + character - 1;
  return 0;
}

void AddControlCharacterKeys(LayoutKeymap& keymap, const NamedControlKeys& keys) {
  for (char32_t character = 0; character < 0x80; ++character) {
    if (!IsAsciiControl(character)) continue;
    uint8_t key = kNoKey;
    switch (character) {
      case U'\r': case U'\n': key = keys.enter; break;
      case U'\t': key = keys.tab; break;
      case U'\b': case 0x7F: key = keys.backspace; break;
      case 0x1B: key = keys.escape; break;
      default: key = keymap.BareKey(ControlCharacterStandIn(character)).value_or(kNoKey); break;
    }
    keymap.Add(key, 0, character, character);
  }
}

}  // namespace lintrel::platform

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/keyboard.h"

namespace lintrel::platform {

// The modifiers a key stroke holds down. Shift, Ctrl and Alt have the bits of a Windows
// shift state; AltGr is Ctrl+Alt on Windows (shift state 6) and the level-3 shift
// (ISO_Level3_Shift) under X and in XKB keymaps.
inline constexpr uint8_t kModifierShift = 1;
inline constexpr uint8_t kModifierCtrl = 2;
inline constexpr uint8_t kModifierAlt = 4;
inline constexpr uint8_t kModifierLevel3 = 8;
inline constexpr std::size_t kModifierCount = 4;

// No character: a key that types nothing in one Caps Lock state.
inline constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// One key pressed while the given modifiers are held.
struct KeyStroke {
  uint8_t key_code = 0;
  uint8_t modifiers = 0;

  bool operator==(const KeyStroke&) const = default;
};

// A keyboard layout as the key choice needs it: which character each key types with each
// combination of modifiers, with Caps Lock off and on, and which keys are the modifiers.
// A backend fills it from its system's description of the layout (an X server's XKB map,
// a libxkbcommon keymap, Windows' VkKeyScanEx/ToUnicodeEx); Choose() then picks the key
// for a character the same way for all of them.
//
// The rule: the key and modifiers that type the character with Caps Lock in the state
// given (so that Caps Lock is compensated: with it on, a letter's other case is typed with
// Shift), using only no modifier, Shift, AltGr or Shift+AltGr, never Ctrl or Alt on their
// own (Ctrl+W closes a browser tab), and only modifiers whose key is known. The fewest
// modifiers win (none, Shift, AltGr, Shift+AltGr), then the key added first.
//
// Thread contract: none; a keymap is built and read by one thread at a time.
class LayoutKeymap {
 public:
  // Forgets every key and modifier key.
  void Clear();

  // The key types `character` with `modifiers` held while Caps Lock is off, and
  // `with_caps_lock` while it is on (kNoCharacter for either: nothing).
  void Add(uint8_t key_code, uint8_t modifiers, char32_t character, char32_t with_caps_lock);
  // The key to hold for one modifier bit; AltGr on Windows takes two (Ctrl and Alt).
  void SetModifierKey(uint8_t modifier, uint8_t key_code);

  std::optional<KeyStroke> Choose(char32_t character, bool caps_lock_on) const;

  // Appends the events that type the stroke: its modifiers down (Shift first), the key
  // down and up, the modifiers up in the reverse order.
  void AppendKeyEvents(KeyStroke stroke, std::vector<KeyEvent>& events) const;

  // Whether the key of every modifier in `modifiers` is known.
  bool CanPress(uint8_t modifiers) const;

 private:
  // Each character's strokes, best first (fewest modifiers, then the order added).
  using Candidates = std::unordered_map<char32_t, std::vector<KeyStroke>>;
  static void Offer(Candidates& candidates, char32_t character, KeyStroke stroke);

  Candidates caps_off_;
  Candidates caps_on_;
  // Per modifier bit (index = bit number): its key, or kNoKey.
  std::array<uint8_t, kModifierCount> modifier_keys_{kNoKey, kNoKey, kNoKey, kNoKey};
};

}  // namespace lintrel::platform

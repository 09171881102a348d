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
  // The key that types `character` with no modifier while Caps Lock is off.
  std::optional<uint8_t> BareKey(char32_t character) const;

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

// The keys of a layout that control characters name: Enter, Tab, Backspace and Escape
// (kNoKey for one the layout lacks).
struct NamedControlKeys {
  uint8_t enter = kNoKey;
  uint8_t tab = kNoKey;
  uint8_t backspace = kNoKey;
  uint8_t escape = kNoKey;
};

// Adds the keys of the C0 control characters and DEL to a layout already filled with its
// characters; every keyboard's layout takes them from here. A control character is typed as
// a bare key, Ctrl never being pressed (Ctrl+W would close a browser tab): CR and LF as
// Enter, Tab as Tab, BS and DEL as Backspace, ESC as Escape, and every other one as the key
// that types, bare, the character of the key a US keyboard combines with Ctrl for it
// (ControlCharacterStandIn), where the layout has such a key. So such a control character
// arrives as that character or not at all, never as another one: on a German keyboard GS
// has no key rather than the 9 key, which carries ] only with AltGr.
void AddControlCharacterKeys(LayoutKeymap& keymap, const NamedControlKeys& keys);

// The character on the key a US keyboard combines with Ctrl for a control character that
// names no key of its own: a..z for SOH..SUB (ETX is c, although the US layout also types
// it with Ctrl+Break), 2 for NUL, \ for FS, ] for GS, 6 for RS, - for US. 0 for every other
// character (CR, LF, Tab, BS, ESC and DEL have their own keys).
char32_t ControlCharacterStandIn(char32_t character);

}  // namespace lintrel::platform

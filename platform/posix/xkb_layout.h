#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/keyboard_choice.h"

namespace lintrel::platform {

// One level of one key in a layout: the character the key types there and the modifiers
// that reach the level.
struct LayoutLevel {
  uint8_t evdev_code = 0;  // the kernel's key code (KEY_A is 30)
  int level = 0;           // 0 plain, 1 Shift, 2 AltGr, 3 Shift+AltGr on most keys
  char32_t character = 0;
  bool shift = false;
  bool altgr = false;

  bool operator==(const LayoutLevel&) const = default;
};

// What a keyboard with a given XKB layout types, read from the system's XKB data by
// libxkbcommon (on Debian: the xkb-data package), as the evdev rules of a pc105 keyboard
// build it, the rules that Wayland compositors and the console's keymap tools use.
struct XkbLayout {
  LayoutName name;
  // Every level of the first group that types a character and is reached with Shift,
  // AltGr (ISO_Level3_Shift), both or none; levels that need Ctrl, Alt, Num Lock or Caps
  // Lock are left out. Ordered by key code, then level.
  std::vector<LayoutLevel> levels;
  // The keys that hold the modifiers, as the layout places them.
  uint8_t shift_key = 0;
  std::optional<uint8_t> altgr_key;
};

// Compiles the layout; on failure (no such layout or variant, no XKB data) returns nothing
// and sets *error.
std::optional<XkbLayout> ReadXkbLayout(const LayoutName& name, std::string* error);

}  // namespace lintrel::platform

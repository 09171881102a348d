#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/keyboard_choice.h"
#include "platform/layout_keymap.h"

namespace lintrel::platform {

// The evdev key codes (the kernel's, KEY_A is 30) are XKB's less 8.
inline constexpr int kXkbEvdevOffset = 8;

// Fills `keymap` with what a keyboard with the named XKB layout types, read from the
// system's XKB data by libxkbcommon (on Debian: the xkb-data package) as the evdev rules
// build it for a pc105 keyboard, the rules Wayland compositors and the console's keymap
// tools use. Key codes are evdev codes. Every level of the first group that types a
// character is added, with its Shift and AltGr (level-three) modifiers and its character
// with Caps Lock on; control characters take their keys by the rule every layout
// shares (AddControlCharacterKeys; Enter, Tab, Backspace and Escape on their plain level). Only keys of the main block are used: a keypad key can mean something else to
// the program in front (a terminal in application keypad mode), and the console's keymap
// may not have the rarer ones. On failure (no such layout or variant, no XKB data) returns
// false and sets *error.
//
// `dead_keys` gets the accents that the layout types only with a dead key (^, ` and ~ on a
// German keyboard): the dead key's stroke, which followed by a space types the accent
// itself, on the console and wherever the compose rules apply.
using DeadKeys = std::map<char32_t, KeyStroke>;
bool FillXkbLayout(const LayoutName& name, LayoutKeymap& keymap, DeadKeys& dead_keys, std::string* error);

}  // namespace lintrel::platform

#pragma once

#include <cstdint>
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
// with Caps Lock on; control characters take the bare keys the US-English table names
// for them. On failure (no such layout or variant, no XKB data) returns false and sets
// *error.
bool FillXkbLayout(const LayoutName& name, LayoutKeymap& keymap, std::string* error);

}  // namespace lintrel::platform

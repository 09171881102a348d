#pragma once

// What the X11 keyboard reads from an X server's XKEYBOARD map: the user's layout for a
// group, the keys it leaves empty, and how a spare key holds several characters. Internal to
// the X11 keyboard (it brings Xlib's headers with it).

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <bitset>
#include <cstdint>
#include <vector>

#include "platform/layout_keymap.h"

namespace lintrel::platform::x11 {

// X keycodes run 8..255; 255 would be indistinguishable from kNoKey.
inline constexpr int kHighestUsableKeycode = 254;

// One bit per X keycode.
using KeycodeSet = std::bitset<256>;

// The keysym of a character (the Unicode keysym where X has no legacy one); NoSymbol for
// none (surrogates, noncharacters).
KeySym KeysymOf(char32_t character);

// Whether a keycode carries no symbol at all.
bool IsEmpty(XkbDescPtr map, int keycode);
// Whether a key holds exactly these characters, one a level of its only group (an empty key
// when every one is 0).
bool Holds(XkbDescPtr map, int keycode, const std::vector<char32_t>& levels);

// Fills `layout` with the keys of the group (out of range groups wrap, as the server does by
// default), leaving out the keycodes in `skipped` and those above kHighestUsableKeycode: the
// levels reached with no modifier, Shift, the level-3 shift and both, with Caps Lock off and
// on; the Shift and level-3 keys; the control characters' keys. `level3` is the real
// modifier of the level-3 shift (0: none).
void FillLayout(XkbDescPtr map, int group, unsigned int level3, const KeycodeSet& skipped, LayoutKeymap& layout);

// The key type that spare keys are bound with and the modifiers of its levels: four levels
// (none, Shift, level 3, both) when the layout can press Shift and the level-3 shift and the
// map has such a type, else two (none, Shift), else one.
struct SpareKeyType {
  int index = XkbOneLevelIndex;
  std::vector<uint8_t> level_modifiers{0};
};
SpareKeyType ChooseSpareKeyType(XkbDescPtr map, unsigned int level3, const LayoutKeymap& layout);

}  // namespace lintrel::platform::x11

#include "platform/posix/x11_keymap.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <utility>

#include "common/control_characters.h"

namespace lintrel::platform::x11 {
namespace {

// The character a keysym types (libxkbcommon knows the legacy keysyms as well as the
// Unicode ones); kNoCharacter for none and for control characters, which have a rule of
// their own.
char32_t CharacterOfKeysym(KeySym keysym) {
  if (keysym == NoSymbol) return kNoCharacter;
  const char32_t character = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(keysym));
  if (character == 0 || IsControlCharacter(character)) return kNoCharacter;
  return character;
}

// The shift level a key type gives for the modifiers held (those the type does not look
// at do not count; level index 0 when no entry matches), and whether Caps Lock is left
// unused by it (not in the type, or preserved by the entry).
struct Level {
  int index = 0;
  bool lock_unused = true;
};

Level LevelOf(const XkbKeyTypeRec& type, unsigned int modifiers) {
  const unsigned int relevant = modifiers & type.mods.mask;
  unsigned int consumed = type.mods.mask;
  for (int entry = 0; entry < type.map_count; ++entry) {
    const XkbKTMapEntryRec& map = type.map[entry];
    if (!map.active || map.mods.mask != relevant) continue;
    if (type.preserve != nullptr) consumed &= ~type.preserve[entry].mask;
    return {map.level, (consumed & LockMask) == 0};
  }
  return {0, (consumed & LockMask) == 0};
}

// The keysym a key gives with Caps Lock on: Xlib capitalises the symbol of a key whose type
// leaves Caps Lock unused, as a receiving program's XLookupString then does.
KeySym WithCapsLock(KeySym keysym, const Level& level) {
  if (!level.lock_unused || keysym == NoSymbol) return keysym;
  KeySym lower = NoSymbol;
  KeySym upper = NoSymbol;
  XConvertCase(keysym, &lower, &upper);
  return upper;
}

// The group of a key that the active group selects: out of range groups wrap, as the
// server does by default.
int EffectiveGroup(XkbDescPtr map, int keycode, int group) {
  const int groups = XkbKeyNumGroups(map, keycode);
  if (groups == 0) return -1;
  return group < groups ? group : group % groups;
}

KeySym SymbolAt(XkbDescPtr map, int keycode, int group, int level) {
  if (group < 0 || level >= XkbKeyGroupWidth(map, keycode, group)) return NoSymbol;
  return XkbKeySymEntry(map, keycode, level, group);
}

int LastKeycode(XkbDescPtr map) { return std::min<int>(map->max_key_code, kHighestUsableKeycode); }

// The modifier combinations typing presses, as the layout and the X server name them.
struct Combination {
  uint8_t modifiers;
  unsigned int mask;
};

std::vector<Combination> Combinations(unsigned int level3) {
  std::vector<Combination> combinations = {{0, 0}, {kModifierShift, ShiftMask}};
  if (level3 != 0) {
    combinations.push_back({kModifierLevel3, level3});
    combinations.push_back({kModifierShift | kModifierLevel3, ShiftMask | level3});
  }
  return combinations;
}

// Where the keysyms of the modifier keys and the named control keys sit: the lowest keycode
// that has them, on any level (modifiers) or on the plain level (control keys, pressed bare).
class KeysymPlaces {
 public:
  void Note(KeySym keysym, int keycode, bool plain) {
    if (keysym == NoSymbol) return;
    Place(any_level_, keysym, keycode);
    if (plain) Place(plain_level_, keysym, keycode);
  }
  uint8_t AnyLevel(KeySym keysym) const { return Find(any_level_, keysym); }
  uint8_t PlainLevel(KeySym keysym) const { return Find(plain_level_, keysym); }

 private:
  using Places = std::vector<std::pair<KeySym, int>>;
  static void Place(Places& places, KeySym keysym, int keycode) {
    if (Find(places, keysym) == kNoKey) places.emplace_back(keysym, keycode);
  }
  static uint8_t Find(const Places& places, KeySym keysym) {
    for (const auto& [symbol, keycode] : places) {
      if (symbol == keysym) return static_cast<uint8_t>(keycode);
    }
    return kNoKey;
  }

  Places any_level_;
  Places plain_level_;
};

void AddKey(XkbDescPtr map, int keycode, int group, const std::vector<Combination>& combinations,
            LayoutKeymap& layout, KeysymPlaces& places) {
  const XkbKeyTypeRec& type = *XkbKeyKeyType(map, keycode, group);
  for (const Combination& combination : combinations) {
    const char32_t plain = CharacterOfKeysym(SymbolAt(map, keycode, group, LevelOf(type, combination.mask).index));
    const Level caps_level = LevelOf(type, combination.mask | LockMask);
    const char32_t caps = CharacterOfKeysym(WithCapsLock(SymbolAt(map, keycode, group, caps_level.index), caps_level));
    layout.Add(static_cast<uint8_t>(keycode), combination.modifiers, plain, caps);
  }
  const int plain_level = LevelOf(type, 0).index;
  for (int level = 0; level < XkbKeyGroupWidth(map, keycode, group); ++level) {
    places.Note(XkbKeySymEntry(map, keycode, level, group), keycode, level == plain_level);
  }
}

}  // namespace

KeySym KeysymOf(char32_t character) { return xkb_utf32_to_keysym(static_cast<uint32_t>(character)); }

bool IsEmpty(XkbDescPtr map, int keycode) {
  const int groups = XkbKeyNumGroups(map, keycode);
  for (int group = 0; group < groups; ++group) {
    for (int level = 0; level < XkbKeyGroupWidth(map, keycode, group); ++level) {
      if (XkbKeySymEntry(map, keycode, level, group) != NoSymbol) return false;
    }
  }
  return true;
}

bool Holds(XkbDescPtr map, int keycode, const std::vector<char32_t>& levels) {
  if (std::all_of(levels.begin(), levels.end(), [](char32_t character) { return character == 0; })) {
    return IsEmpty(map, keycode);
  }
  if (XkbKeyNumGroups(map, keycode) != 1 || XkbKeyGroupWidth(map, keycode, 0) != static_cast<int>(levels.size())) {
    return false;
  }
  for (std::size_t level = 0; level < levels.size(); ++level) {
    const KeySym expected = levels[level] == 0 ? NoSymbol : KeysymOf(levels[level]);
    if (XkbKeySymEntry(map, keycode, static_cast<int>(level), 0) != expected) return false;
  }
  return true;
}

void FillLayout(XkbDescPtr map, int group, unsigned int level3, const KeycodeSet& skipped, LayoutKeymap& layout) {
  layout.Clear();
  const std::vector<Combination> combinations = Combinations(level3);
  KeysymPlaces places;
  for (int keycode = map->min_key_code; keycode <= LastKeycode(map); ++keycode) {
    const int key_group = EffectiveGroup(map, keycode, group);
    if (key_group < 0 || skipped[static_cast<std::size_t>(keycode)]) continue;
    AddKey(map, keycode, key_group, combinations, layout, places);
  }
  uint8_t shift = places.AnyLevel(XK_Shift_L);
  if (shift == kNoKey) shift = places.AnyLevel(XK_Shift_R);
  layout.SetModifierKey(kModifierShift, shift);
  // Never used to type a character; for shortcuts (the Ctrl+V of a paste).
  uint8_t ctrl = places.AnyLevel(XK_Control_L);
  if (ctrl == kNoKey) ctrl = places.AnyLevel(XK_Control_R);
  layout.SetModifierKey(kModifierCtrl, ctrl);
  if (level3 != 0) layout.SetModifierKey(kModifierLevel3, places.AnyLevel(XK_ISO_Level3_Shift));
  AddControlCharacterKeys(layout, {.enter = places.PlainLevel(XK_Return), .tab = places.PlainLevel(XK_Tab),
                                   .backspace = places.PlainLevel(XK_BackSpace),
                                   .escape = places.PlainLevel(XK_Escape)});
}

SpareKeyType ChooseSpareKeyType(XkbDescPtr map, unsigned int level3, const LayoutKeymap& layout) {
  const auto find = [&](const std::vector<Combination>& combinations) {
    unsigned int usable = 0;
    for (const Combination& combination : combinations) usable |= combination.mask;
    for (int index = 0; index < map->map->num_types; ++index) {
      const XkbKeyTypeRec& type = map->map->types[index];
      // Only the modifiers typing presses may choose the level: not Caps Lock, not Num Lock.
      if (type.num_levels != static_cast<int>(combinations.size()) || (type.mods.mask & ~usable) != 0) continue;
      bool fits = true;
      for (std::size_t level = 0; level < combinations.size(); ++level) {
        fits = fits && LevelOf(type, combinations[level].mask).index == static_cast<int>(level);
      }
      if (fits) return index;
    }
    return -1;
  };
  std::vector<Combination> combinations = Combinations(level3);
  for (; combinations.size() > 1; combinations.resize(combinations.size() / 2)) {
    uint8_t modifiers = 0;
    for (const Combination& combination : combinations) modifiers |= combination.modifiers;
    const int index = layout.CanPress(modifiers) ? find(combinations) : -1;
    if (index < 0) continue;
    SpareKeyType type{.index = index, .level_modifiers = {}};
    for (const Combination& combination : combinations) type.level_modifiers.push_back(combination.modifiers);
    return type;
  }
  return {};
}

}  // namespace lintrel::platform::x11

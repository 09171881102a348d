#include "platform/posix/xkb_layout.h"

#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <memory>
#include <optional>

#include "common/control_characters.h"

namespace lintrel::platform {
namespace {

// libxkbcommon's objects, released with their own functions.
struct XkbFree {
  void operator()(xkb_context* context) const { xkb_context_unref(context); }
  void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
  void operator()(xkb_state* state) const { xkb_state_unref(state); }
};
using Context = std::unique_ptr<xkb_context, XkbFree>;
using Keymap = std::unique_ptr<xkb_keymap, XkbFree>;
using State = std::unique_ptr<xkb_state, XkbFree>;

// Key codes are kept in a byte, and 255 stands for no key.
constexpr xkb_keycode_t kLastKeycode = 254 + kXkbEvdevOffset;

// The keys of a keyboard's main block, where layouts put their characters: the kernel's
// codes up to 127 less the keypad's (and KEY_KPCOMMA, KEY_KPEQUAL, ...).
bool IsMainBlockKey(xkb_keycode_t keycode) {
  const xkb_keycode_t code = keycode - kXkbEvdevOffset;
  const bool keypad = code == KEY_KPASTERISK || (code >= KEY_KP7 && code <= KEY_KPDOT) || code == KEY_KPENTER ||
                      code == KEY_KPSLASH || code == KEY_KPEQUAL || code == KEY_KPPLUSMINUS || code == KEY_KPCOMMA;
  return code > 0 && code <= 127 && !keypad;
}

// The accents typed with a dead key and a space.
constexpr std::pair<xkb_keysym_t, char32_t> kSpacingDeadKeys[] = {
    {XKB_KEY_dead_circumflex, U'^'}, {XKB_KEY_dead_grave, U'`'}, {XKB_KEY_dead_tilde, U'~'}};

// The modifiers a level can be reached with that typing presses: Shift, and AltGr (the
// level-three shift, on Mod5 in the evdev rules); Lock for the Caps Lock column.
struct Masks {
  xkb_mod_mask_t shift = 0;
  xkb_mod_mask_t level3 = 0;
  xkb_mod_mask_t lock = 0;
};

xkb_mod_mask_t MaskOf(xkb_keymap* keymap, const char* name) {
  const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
  return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

// The simplest mask that reaches a level with Shift and AltGr alone; none if each needs
// another modifier (Ctrl, Alt, Num Lock, Caps Lock).
std::optional<xkb_mod_mask_t> UsableMask(xkb_keymap* keymap, xkb_keycode_t keycode, xkb_level_index_t level,
                                         const Masks& masks) {
  xkb_mod_mask_t found[16];
  const std::size_t count = xkb_keymap_key_get_mods_for_level(keymap, keycode, 0, level, found, std::size(found));
  std::optional<xkb_mod_mask_t> best;
  for (std::size_t i = 0; i < count; ++i) {
    if ((found[i] & ~(masks.shift | masks.level3)) != 0) continue;
    if (!best || std::popcount(found[i]) < std::popcount(*best)) best = found[i];
  }
  return best;
}

// The character a key types with these modifiers; kNoCharacter for none (a dead key, a
// function key).
char32_t CharacterOf(xkb_state* state, xkb_keycode_t keycode, xkb_mod_mask_t mods) {
  xkb_state_update_mask(state, mods, 0, 0, 0, 0, 0);
  const uint32_t character = xkb_state_key_get_utf32(state, keycode);
  return character == 0 ? kNoCharacter : character;
}

uint8_t ModifiersOf(xkb_mod_mask_t mask, const Masks& masks) {
  return static_cast<uint8_t>(((mask & masks.shift) != 0 ? kModifierShift : 0) |
                              ((mask & masks.level3) != 0 ? kModifierLevel3 : 0));
}

// Notes the stroke of a dead key for an accent, the one with the fewest modifiers.
void NoteDeadKey(xkb_keysym_t keysym, KeyStroke stroke, DeadKeys& dead_keys) {
  for (const auto& [dead, accent] : kSpacingDeadKeys) {
    if (keysym != dead) continue;
    const auto known = dead_keys.find(accent);
    if (known == dead_keys.end() || std::popcount(stroke.modifiers) < std::popcount(known->second.modifiers)) {
      dead_keys[accent] = stroke;
    }
  }
}

void AddLevels(xkb_keymap* keymap, xkb_state* state, const Masks& masks, LayoutKeymap& out, DeadKeys& dead_keys) {
  const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(keymap), kLastKeycode);
  for (xkb_keycode_t keycode = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap), kXkbEvdevOffset);
       keycode <= last; ++keycode) {
    if (!IsMainBlockKey(keycode) || xkb_keymap_num_layouts_for_key(keymap, keycode) == 0) continue;
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, 0);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
      const std::optional<xkb_mod_mask_t> mask = UsableMask(keymap, keycode, level, masks);
      if (!mask) continue;
      const xkb_keysym_t* syms = nullptr;
      if (xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, level, &syms) == 1) {
        NoteDeadKey(syms[0], {static_cast<uint8_t>(keycode - kXkbEvdevOffset), ModifiersOf(*mask, masks)}, dead_keys);
      }
      const char32_t character = CharacterOf(state, keycode, *mask);
      // Control characters are added by the rule every layout shares.
      if (character == kNoCharacter || IsAsciiControl(character)) continue;
      out.Add(static_cast<uint8_t>(keycode - kXkbEvdevOffset), ModifiersOf(*mask, masks), character,
              CharacterOf(state, keycode, *mask | masks.lock));
    }
  }
}

// The first key of the main block that has `keysym` on its plain level, or `preferred`
// when it has.
std::optional<uint8_t> KeyOfKeysym(xkb_keymap* keymap, xkb_keysym_t keysym, uint8_t preferred = 0) {
  const xkb_keysym_t* preferred_syms = nullptr;
  if (preferred != 0 &&
      xkb_keymap_key_get_syms_by_level(keymap, preferred + kXkbEvdevOffset, 0, 0, &preferred_syms) == 1 &&
      preferred_syms[0] == keysym) {
    return preferred;
  }
  const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(keymap), kLastKeycode);
  for (xkb_keycode_t keycode = std::max<xkb_keycode_t>(xkb_keymap_min_keycode(keymap), kXkbEvdevOffset);
       keycode <= last; ++keycode) {
    if (!IsMainBlockKey(keycode)) continue;
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms) == 1 && syms[0] == keysym) {
      return static_cast<uint8_t>(keycode - kXkbEvdevOffset);
    }
  }
  return std::nullopt;
}

}  // namespace

bool FillXkbLayout(const LayoutName& name, LayoutKeymap& keymap, DeadKeys& dead_keys, std::string* error) {
  // The names are given in full, so the XKB_DEFAULT_* variables must not fill gaps.
  const Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
  if (!context) {
    *error = "cannot start libxkbcommon";
    return false;
  }
  xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
  const xkb_rule_names names{.rules = "evdev",
                             .model = "pc105",
                             .layout = name.layout.c_str(),
                             .variant = name.variant.c_str(),
                             .options = ""};
  const Keymap xkb_map(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
  const State state(xkb_map ? xkb_state_new(xkb_map.get()) : nullptr);
  if (!state) {
    *error = "no keyboard layout \"" + name.Describe() +
             "\" in the XKB data (the xkb-data package; layouts are in /usr/share/X11/xkb/symbols)";
    return false;
  }
  const Masks masks{.shift = MaskOf(xkb_map.get(), XKB_MOD_NAME_SHIFT),
                    .level3 = MaskOf(xkb_map.get(), "Mod5"),
                    .lock = MaskOf(xkb_map.get(), XKB_MOD_NAME_CAPS)};
  keymap.Clear();
  dead_keys.clear();
  AddLevels(xkb_map.get(), state.get(), masks, keymap, dead_keys);
  const auto key_of = [&](xkb_keysym_t keysym) { return KeyOfKeysym(xkb_map.get(), keysym).value_or(kNoKey); };
  AddControlCharacterKeys(keymap, {.enter = key_of(XKB_KEY_Return), .tab = key_of(XKB_KEY_Tab),
                                   .backspace = key_of(XKB_KEY_BackSpace), .escape = key_of(XKB_KEY_Escape)});
  // The keymaps also give the level-three shift to a key no keyboard has (<LVL3>); the
  // right Alt key is the one a person presses, and the console's keymap knows.
  const std::optional<uint8_t> shift = KeyOfKeysym(xkb_map.get(), XKB_KEY_Shift_L, KEY_LEFTSHIFT);
  const std::optional<uint8_t> level3 = KeyOfKeysym(xkb_map.get(), XKB_KEY_ISO_Level3_Shift, KEY_RIGHTALT);
  if (shift) keymap.SetModifierKey(kModifierShift, *shift);
  // Never used to type a character; for shortcuts (the Ctrl+V of a paste).
  if (const auto ctrl = KeyOfKeysym(xkb_map.get(), XKB_KEY_Control_L, KEY_LEFTCTRL)) {
    keymap.SetModifierKey(kModifierCtrl, *ctrl);
  }
  if (level3) keymap.SetModifierKey(kModifierLevel3, *level3);
  return true;
}

}  // namespace lintrel::platform

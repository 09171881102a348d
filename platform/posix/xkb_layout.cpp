#include "platform/posix/xkb_layout.h"

#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace lintrel::platform {
namespace {

// libxkbcommon's objects, released with their own functions.
struct ContextFree {
  void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct KeymapFree {
  void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
using Context = std::unique_ptr<xkb_context, ContextFree>;
using Keymap = std::unique_ptr<xkb_keymap, KeymapFree>;

// XKB numbers keys 8 above the kernel's codes.
constexpr xkb_keycode_t kEvdevOffset = 8;
// Key codes are kept in a byte, and 255 stands for no key.
constexpr xkb_keycode_t kHighestEvdevCode = 254;

// The modifier masks a level can be reached with that this keyboard presses: Shift and
// AltGr (the level-three modifier, Mod5 in the evdev rules).
struct ModifierMasks {
  xkb_mod_mask_t shift = 0;
  xkb_mod_mask_t altgr = 0;
};

ModifierMasks MasksOf(xkb_keymap* keymap) {
  ModifierMasks masks;
  const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
  const xkb_mod_index_t level3 = xkb_keymap_mod_get_index(keymap, "Mod5");
  if (shift != XKB_MOD_INVALID) masks.shift = 1u << shift;
  if (level3 != XKB_MOD_INVALID) masks.altgr = 1u << level3;
  return masks;
}

// The simplest mask that reaches a level with Shift and AltGr only; none if every mask
// needs another modifier.
std::optional<xkb_mod_mask_t> UsableMask(xkb_keymap* keymap, xkb_keycode_t keycode, xkb_level_index_t level,
                                         const ModifierMasks& masks) {
  xkb_mod_mask_t found[16];
  const std::size_t count = xkb_keymap_key_get_mods_for_level(keymap, keycode, 0, level, found, std::size(found));
  std::optional<xkb_mod_mask_t> best;
  for (std::size_t i = 0; i < count; ++i) {
    if ((found[i] & ~(masks.shift | masks.altgr)) != 0) continue;
    if (!best || __builtin_popcount(found[i]) < __builtin_popcount(*best)) best = found[i];
  }
  return best;
}

// The first key that carries `keysym` on its plain level.
std::optional<uint8_t> KeyOfKeysym(xkb_keymap* keymap, xkb_keysym_t keysym) {
  const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(keymap), kHighestEvdevCode + kEvdevOffset);
  for (xkb_keycode_t keycode = xkb_keymap_min_keycode(keymap); keycode <= last; ++keycode) {
    const xkb_keysym_t* syms = nullptr;
    if (keycode < kEvdevOffset) continue;
    if (xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms) == 1 && syms[0] == keysym) {
      return static_cast<uint8_t>(keycode - kEvdevOffset);
    }
  }
  return std::nullopt;
}

void ReadLevels(xkb_keymap* keymap, XkbLayout& layout) {
  const ModifierMasks masks = MasksOf(keymap);
  const xkb_keycode_t last = std::min(xkb_keymap_max_keycode(keymap), kHighestEvdevCode + kEvdevOffset);
  for (xkb_keycode_t keycode = std::max(xkb_keymap_min_keycode(keymap), kEvdevOffset); keycode <= last; ++keycode) {
    if (xkb_keymap_num_layouts_for_key(keymap, keycode) == 0) continue;
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, 0);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
      const xkb_keysym_t* syms = nullptr;
      if (xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, level, &syms) != 1) continue;
      // Dead keys and function keys type no character of their own.
      const char32_t character = xkb_keysym_to_utf32(syms[0]);
      if (character == 0) continue;
      const std::optional<xkb_mod_mask_t> mask = UsableMask(keymap, keycode, level, masks);
      if (!mask) continue;
      layout.levels.push_back({.evdev_code = static_cast<uint8_t>(keycode - kEvdevOffset),
                               .level = static_cast<int>(level),
                               .character = character,
                               .shift = (*mask & masks.shift) != 0,
                               .altgr = (*mask & masks.altgr) != 0});
    }
  }
}

}  // namespace

std::optional<XkbLayout> ReadXkbLayout(const LayoutName& name, std::string* error) {
  // The names are given in full, so the XKB_DEFAULT_* variables must not fill gaps.
  const Context context(xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
  if (!context) {
    *error = "cannot start libxkbcommon";
    return std::nullopt;
  }
  xkb_context_set_log_level(context.get(), XKB_LOG_LEVEL_CRITICAL);
  const xkb_rule_names names{.rules = "evdev",
                             .model = "pc105",
                             .layout = name.layout.c_str(),
                             .variant = name.variant.c_str(),
                             .options = ""};
  const Keymap keymap(xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (!keymap) {
    *error = "no keyboard layout \"" + name.Describe() +
             "\" in the XKB data (the xkb-data package; layouts are in /usr/share/X11/xkb/symbols)";
    return std::nullopt;
  }
  XkbLayout layout;
  layout.name = name;
  ReadLevels(keymap.get(), layout);
  const std::optional<uint8_t> shift = KeyOfKeysym(keymap.get(), XKB_KEY_Shift_L);
  if (!shift) {
    *error = "the layout \"" + name.Describe() + "\" has no Shift key";
    return std::nullopt;
  }
  layout.shift_key = *shift;
  layout.altgr_key = KeyOfKeysym(keymap.get(), XKB_KEY_ISO_Level3_Shift);
  return layout;
}

}  // namespace lintrel::platform

#pragma once

#include <cstdint>

#include "platform/keyboard.h"
#include "platform/layout_keymap.h"

namespace lintrel::platform {

// The reference key table that the keyboard backends share.
//
// The key that types a character on a US-English Windows keyboard, as the Windows layout
// mapping (VkKeyScanA) reports it there: low byte the virtual-key code, high byte the
// shift state (1 Shift, 2 Ctrl, 4 Alt); 0xFFFF where the layout has no key.
uint16_t UsLayoutKeyScan(uint8_t character);

// The same, split into key code and shift state (kNoKey for both where there is no key).
KeyMapping UsLayoutMap(uint8_t character);

// Fills the keymap with the US-English keyboard: every ASCII character the table types
// plain or with Shift (letters compensated for Caps Lock), the control characters as
// AddControlCharacterKeys gives them, and the Shift, Ctrl and Alt keys.
void FillUsLayout(LayoutKeymap& keymap);

inline constexpr uint8_t kVirtualKeyShift = 0x10;
inline constexpr uint8_t kVirtualKeyControl = 0x11;
inline constexpr uint8_t kVirtualKeyAlt = 0x12;

// Enter, Tab, Backspace and Escape as Windows numbers them (the same in every layout).
inline constexpr NamedControlKeys kVirtualKeyControlKeys{.enter = 0x0D, .tab = 0x09, .backspace = 0x08,
                                                         .escape = 0x1B};

}  // namespace lintrel::platform

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

// The virtual key whose bare key types a control character (0x00..0x1F, 0x7F): Return for
// CR and LF, Tab, Backspace, Escape, and for the others the key a US-English keyboard
// combines with Ctrl for it (A for SOH, ] for GS). Ctrl itself is never pressed for them.
// kNoKey for any other character.
uint8_t ControlCharacterVirtualKey(char32_t character);

// Fills the keymap with the US-English keyboard: every ASCII character the table types
// plain or with Shift (letters compensated for Caps Lock), the control characters as bare
// keys, and the Shift, Ctrl and Alt keys.
void FillUsLayout(LayoutKeymap& keymap);

inline constexpr uint8_t kVirtualKeyShift = 0x10;
inline constexpr uint8_t kVirtualKeyControl = 0x11;
inline constexpr uint8_t kVirtualKeyAlt = 0x12;

}  // namespace lintrel::platform

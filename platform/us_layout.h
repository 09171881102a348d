#pragma once

#include <cstdint>

#include "platform/keyboard.h"

namespace lintrel::platform {

// The reference key table that the keyboard backends share.
//
// The key that types a character on a US-English Windows keyboard, as the Windows layout
// mapping (VkKeyScanA) reports it there: low byte the virtual-key code, high byte the
// shift state (1 Shift, 2 Ctrl, 4 Alt); 0xFFFF where the layout has no key.
uint16_t UsLayoutKeyScan(uint8_t character);

// The same, split into key code and shift state (kNoKey for both where there is no key).
KeyMapping UsLayoutMap(uint8_t character);

inline constexpr uint8_t kVirtualKeyShift = 0x10;

}  // namespace lintrel::platform

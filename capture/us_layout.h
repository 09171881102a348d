#pragma once

#include <cstdint>

#include "platform/keyboard.h"

namespace lintrel {

// The key that types a character on a US-English Windows keyboard, as the Windows layout
// mapping (VkKeyScanA) reports it there: low byte the virtual-key code, high byte the
// shift state (1 Shift, 2 Ctrl, 4 Alt); 0xFFFF where the layout has no key.
uint16_t UsLayoutKeyScan(uint8_t character);

// The same, split into key code and shift state (kNoKey for both where there is no key).
platform::KeyMapping UsLayoutMap(uint8_t character);

inline constexpr uint8_t kVirtualKeyShift = 0x10;

}  // namespace lintrel

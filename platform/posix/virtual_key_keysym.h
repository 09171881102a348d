#pragma once

#include <cstdint>

namespace lintrel::platform {

// The X keysym (the same numbers in XKB keymaps) of the key that a US-English Windows
// keyboard reports by this virtual-key code for a control character: Return, Tab, the
// letter keys of Ctrl+letter, ...; 0 (NoSymbol) for any other code.
uint32_t KeysymOfVirtualKey(uint8_t virtual_key);

}  // namespace lintrel::platform

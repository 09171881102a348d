#include "platform/posix/virtual_key_keysym.h"

#include <X11/keysym.h>

namespace lintrel::platform {

uint32_t KeysymOfVirtualKey(uint8_t virtual_key) {
  if (virtual_key >= 'A' && virtual_key <= 'Z') return XK_a + (virtual_key - 'A');
  if (virtual_key >= '0' && virtual_key <= '9') return XK_0 + (virtual_key - '0');
  switch (virtual_key) {
    case 0x03: return XK_Cancel;        // VK_CANCEL
    case 0x08: return XK_BackSpace;     // VK_BACK
    case 0x09: return XK_Tab;           // VK_TAB
    case 0x0D: return XK_Return;        // VK_RETURN
    case 0x1B: return XK_Escape;        // VK_ESCAPE
    case 0x20: return XK_space;         // VK_SPACE
    case 0xBB: return XK_equal;         // VK_OEM_PLUS
    case 0xBD: return XK_minus;         // VK_OEM_MINUS
    case 0xDB: return XK_bracketleft;   // VK_OEM_4
    case 0xDC: return XK_backslash;     // VK_OEM_5
    case 0xDD: return XK_bracketright;  // VK_OEM_6
    default: return 0;
  }
}

}  // namespace lintrel::platform

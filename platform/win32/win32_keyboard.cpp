#include "platform/win32/win32_keyboard.h"

#include <windows.h>

#include <string>
#include <vector>

namespace lintrel::platform {

KeyMapping Win32Keyboard::Map(uint8_t character) {
  // The layout is the one active for this thread: the reader thread that types the line.
  const SHORT scan = VkKeyScanA(static_cast<CHAR>(character));
  const auto bits = static_cast<uint16_t>(scan);
  return {.key_code = static_cast<uint8_t>(bits & 0xFF), .shift_state = static_cast<uint8_t>(bits >> 8)};
}

uint8_t Win32Keyboard::ShiftKey() const { return VK_SHIFT; }

void Win32Keyboard::KeyDown(uint8_t key_code) { keybd_event(key_code, 0, KEYEVENTF_EXTENDEDKEY, 0); }

void Win32Keyboard::KeyUp(uint8_t key_code) {
  keybd_event(key_code, 0, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
}

std::vector<std::string> SystemKeyboardNames() { return {"win32"}; }

std::unique_ptr<Keyboard> OpenSystemKeyboard(const std::string& name, std::string* error) {
  if (name == "win32") return std::make_unique<Win32Keyboard>();
  *error = "unknown keyboard \"" + name + "\" (available: win32)";
  return nullptr;
}

}  // namespace lintrel::platform

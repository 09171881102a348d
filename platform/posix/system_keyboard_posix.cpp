#include "platform/keyboard.h"
#include "platform/posix/x11_keyboard.h"

namespace lintrel::platform {

std::vector<std::string> SystemKeyboardNames() { return {"x11"}; }

std::unique_ptr<Keyboard> OpenSystemKeyboard(const std::string& name, std::string* error) {
  if (name == "x11") return X11Keyboard::Open(nullptr, error);

  std::string known;
  for (const std::string& known_name : SystemKeyboardNames()) {
    known += (known.empty() ? "" : ", ") + known_name;
  }
  *error = "unknown keyboard \"" + name + "\" (available: " + known + ")";
  return nullptr;
}

}  // namespace lintrel::platform

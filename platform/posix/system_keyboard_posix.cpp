#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/keyboard.h"
#include "platform/keyboard_choice.h"
#include "platform/posix/uinput_keyboard.h"
#include "platform/posix/x11_keyboard.h"

namespace lintrel::platform {
namespace {

std::optional<std::string> Environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// The console's keyboard settings (Debian's keyboard-configuration), which most
// desktops take over as the session's layout. It holds a few lines; more than 64 KiB is
// not read.
std::optional<std::string> KeyboardFile() {
  constexpr std::size_t kLargestRead = 64 * 1024;
  std::ifstream file("/etc/default/keyboard");
  if (!file) return std::nullopt;
  std::string text;
  std::istreambuf_iterator<char> it(file);
  for (std::istreambuf_iterator<char> end; it != end && text.size() < kLargestRead; ++it) text += *it;
  return text;
}

bool IsWaylandSession() {
  const std::optional<std::string> display = Environment("WAYLAND_DISPLAY");
  return (display && !display->empty()) || Environment("XDG_SESSION_TYPE") == "wayland";
}

std::unique_ptr<Keyboard> OpenUinput(const KeyboardRequest& request, std::string* error, std::string* chosen) {
  const LayoutName name = ChooseLayout(ParseLayoutName(request.layout),
                                       {.env_layout = Environment("XKB_DEFAULT_LAYOUT"),
                                        .env_variant = Environment("XKB_DEFAULT_VARIANT"),
                                        .keyboard_file = KeyboardFile()});
  std::unique_ptr<Keyboard> keyboard = UinputKeyboard::Open(name, error);
  if (keyboard) *chosen += ", layout " + name.Describe();
  return keyboard;
}

std::unique_ptr<Keyboard> OpenAuto(const KeyboardRequest& request, std::string* error, std::string* chosen) {
  DisplaySession session{.wayland = IsWaylandSession(), .x_display_reachable = false, .x_display_error = {}};
  std::unique_ptr<Keyboard> x11;
  if (!session.wayland) {
    x11 = X11Keyboard::Open(nullptr, &session.x_display_error);
    session.x_display_reachable = x11 != nullptr;
  }
  std::string reason;
  const std::string name = ChooseAutoKeyboard(session, &reason);
  *chosen = name + " (" + reason + ")";
  if (name == "x11") return x11;
  return OpenUinput(request, error, chosen);
}

}  // namespace

std::vector<std::string> SystemKeyboardNames() { return {"auto", "x11", "uinput"}; }

std::unique_ptr<Keyboard> OpenSystemKeyboard(const KeyboardRequest& request, std::string* error,
                                             std::string* chosen) {
  *chosen = request.name;
  if (request.name == "auto") return OpenAuto(request, error, chosen);
  if (request.name == "x11") return X11Keyboard::Open(nullptr, error);
  if (request.name == "uinput") return OpenUinput(request, error, chosen);

  std::string known;
  for (const std::string& known_name : SystemKeyboardNames()) {
    known += (known.empty() ? "" : ", ") + known_name;
  }
  *error = "unknown keyboard \"" + request.name + "\" (available: " + known + ")";
  return nullptr;
}

}  // namespace lintrel::platform

#include "ui/win32/target_windows.h"

#include <algorithm>

namespace lintrel::ui::win32 {
namespace {

bool IsOwnWindow(const platform::WindowInfo& window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(reinterpret_cast<HWND>(static_cast<uintptr_t>(window.id)), &process_id);
  return process_id == GetCurrentProcessId();
}

}  // namespace

std::optional<platform::WindowInfo> TargetWindows::Foreground() {
  std::optional<platform::WindowInfo> window = system_->Foreground();
  if (window && IsOwnWindow(*window)) window->program_names.clear();
  return window;
}

std::vector<platform::WindowInfo> TargetWindows::Windows() {
  std::vector<platform::WindowInfo> windows = system_->Windows();
  std::erase_if(windows, IsOwnWindow);
  return windows;
}

bool TargetWindows::Activate(uint64_t id, std::string* error) {
  const HWND target = reinterpret_cast<HWND>(static_cast<uintptr_t>(id));
  if (!IsWindow(target)) {
    *error = "the window is gone";
    return false;
  }
  const HWND ui_window = ui_window_.load();
  if (ui_window == nullptr || !PostMessageW(ui_window, message_, reinterpret_cast<WPARAM>(target), 0)) {
    // No main window to ask (the program is ending): the typing thread asks itself.
    return system_->Activate(id, error);
  }
  return true;
}

}  // namespace lintrel::ui::win32

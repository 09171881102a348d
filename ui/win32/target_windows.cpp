#include "ui/win32/target_windows.h"

namespace lintrel::ui::win32 {

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

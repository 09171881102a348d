#include "ui/win32/foreground.h"

#include <string>

namespace lintrel::ui::win32 {

namespace {

bool BelongsToThisProcess(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  return process_id == GetCurrentProcessId();
}

// The taskbar and its notification area: a click on a tray icon makes them the foreground.
bool IsTaskbar(HWND window) {
  char class_name[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  const std::string name = class_name;
  return name == "Shell_TrayWnd" || name == "Shell_SecondaryTrayWnd" || name == "NotifyIconOverflowWindow";
}

// A window of another program that a user types into.
bool IsOrdinaryForeignWindow(HWND window) {
  if (window == nullptr || !IsWindow(window) || BelongsToThisProcess(window) || IsTaskbar(window)) return false;
  if (!IsWindowVisible(window) || IsIconic(window)) return false;
  const LONG_PTR extended = GetWindowLongPtrA(window, GWL_EXSTYLE);
  return (extended & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE)) == 0;
}

}  // namespace

bool ForegroundIsThisProcess() {
  const HWND foreground = GetForegroundWindow();
  return foreground != nullptr && BelongsToThisProcess(foreground);
}

void GiveForegroundBack(HWND before) {
  HWND target = nullptr;
  if (before != nullptr && IsWindow(before) && !BelongsToThisProcess(before) && !IsTaskbar(before)) {
    target = before;
  } else if (before == nullptr || IsTaskbar(before)) {
    // Top-level windows in z-order, topmost first.
    for (HWND window = GetTopWindow(nullptr); window != nullptr; window = GetWindow(window, GW_HWNDNEXT)) {
      if (IsOrdinaryForeignWindow(window)) {
        target = window;
        break;
      }
    }
  }
  if (target != nullptr) SetForegroundWindow(target);
}

}  // namespace lintrel::ui::win32

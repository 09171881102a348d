#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foreground_window.h"

namespace lintrel::ui::win32 {

// The desktop's windows as lintrel.exe's delivery sees them: the system's, except that a
// port's target is brought to the front by the main window's thread rather than the typing
// thread. That thread handles the user's input to the program (the tray icon's clicks, after
// which Windows lets the program take the foreground) and owns its windows; the typing
// thread has neither. Activate() posts the request and returns: the answer comes when the
// target is in front, if at all (Windows may refuse, and then flashes the target's taskbar
// button itself).
//
// This program's own windows are never a target: they are named by no program (a line for a
// target waits while one is in front) and never brought up.
//
// Thread contract: as ForegroundWindows (the typing thread); the window it posts to is read
// atomically, so that it may go away meanwhile.
class TargetWindows : public platform::ForegroundWindows {
 public:
  // `ui_window`: the main window, null until it exists and once it is gone; `message` comes
  // to it with the target's handle in wParam.
  TargetWindows(std::unique_ptr<platform::ForegroundWindows> system, const std::atomic<HWND>& ui_window, UINT message)
      : system_(std::move(system)), ui_window_(ui_window), message_(message) {}

  std::optional<platform::WindowInfo> Foreground() override;
  std::vector<platform::WindowInfo> Windows() override;
  bool Activate(uint64_t id, std::string* error) override;
  void Bell() override { system_->Bell(); }

 private:
  std::unique_ptr<platform::ForegroundWindows> system_;
  const std::atomic<HWND>& ui_window_;
  UINT message_;
};

}  // namespace lintrel::ui::win32

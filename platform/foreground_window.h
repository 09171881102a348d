#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lintrel::platform {

// A top-level window as delivery matches it against a port's target.
struct WindowInfo {
  uint64_t id = 0;  // the system's handle, for Activate()
  // The names its program goes by, each matched: on Windows the executable's file name
  // ("excel.exe"); on X11 the WM_CLASS instance and class, and the program of _NET_WM_PID
  // (/proc/PID/comm and the file name of /proc/PID/exe).
  std::vector<std::string> program_names;
  std::string title;  // UTF-8
};

// The desktop's windows as far as delivery needs them: which one is in front, the others to
// find a target among, and the means to bring one up and to ring the bell.
//
// Thread contract: not thread-safe; the typist's thread alone uses it once typing has begun.
class ForegroundWindows {
 public:
  virtual ~ForegroundWindows() = default;

  // The window that has the keyboard focus now; nothing when none has it or it cannot be
  // read.
  virtual std::optional<WindowInfo> Foreground() = 0;
  // The top-level windows the desktop manages, front to back where it says.
  virtual std::vector<WindowInfo> Windows() = 0;
  // Asks for the window to be brought to the front; the answer comes later, if at all (the
  // window manager or the system decides). False with *error when it could not even ask.
  virtual bool Activate(uint64_t id, std::string* error) = 0;
  // The system's short warning sound, once.
  virtual void Bell() = 0;
};

// The system's windows of the desktop this process runs in; null with *error when they
// cannot be read (no X display, a Wayland session where no ordinary client can).
std::unique_ptr<ForegroundWindows> OpenForegroundWindows(std::string* error);

}  // namespace lintrel::platform

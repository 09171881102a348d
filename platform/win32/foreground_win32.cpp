#include <windows.h>

#include <string>
#include <vector>

#include "platform/foreground_window.h"
#include "platform/win32/wide_text.h"

namespace lintrel::platform {
namespace {

// The file name of the executable that runs the window ("EXCEL.EXE"); empty when the
// process cannot be asked (one of another user, elevated).
std::string ExecutableName(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
  if (process == nullptr) return {};
  wchar_t path[MAX_PATH * 2];
  DWORD length = MAX_PATH * 2;
  std::string name;
  if (QueryFullProcessImageNameW(process, 0, path, &length)) {
    const std::wstring_view full(path, length);
    const std::size_t slash = full.find_last_of(L"\\/");
    name = Utf8Text(slash == std::wstring_view::npos ? full : full.substr(slash + 1));
  }
  CloseHandle(process);
  return name;
}

WindowInfo Describe(HWND window) {
  WindowInfo info;
  info.id = reinterpret_cast<uintptr_t>(window);
  if (std::string name = ExecutableName(window); !name.empty()) info.program_names.push_back(std::move(name));
  wchar_t title[512];
  const int length = GetWindowTextW(window, title, 512);
  info.title = Utf8Text(std::wstring_view(title, static_cast<std::size_t>(length > 0 ? length : 0)));
  return info;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM found) {
  // The windows a user switches between: visible, and owned by no other window.
  if (IsWindowVisible(window) && GetWindow(window, GW_OWNER) == nullptr) {
    reinterpret_cast<std::vector<WindowInfo>*>(found)->push_back(Describe(window));
  }
  return TRUE;
}

class Win32ForegroundWindows : public ForegroundWindows {
 public:
  std::optional<WindowInfo> Foreground() override {
    HWND window = GetForegroundWindow();
    if (window == nullptr) return std::nullopt;
    return Describe(window);
  }

  std::vector<WindowInfo> Windows() override {
    // EnumWindows goes from the top of the Z order down.
    std::vector<WindowInfo> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
  }

  // A background process may take the foreground only where Windows allows it
  // (SetForegroundWindow's rules): when the foreground window's thread shares its input
  // state, which AttachThreadInput gives for the call.
  bool Activate(uint64_t id, std::string* error) override {
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(id));
    if (!IsWindow(window)) {
      *error = "the window is gone";
      return false;
    }
    if (IsIconic(window)) ShowWindowAsync(window, SW_RESTORE);
    if (SetForegroundWindow(window)) return true;
    const DWORD own_thread = GetCurrentThreadId();
    const DWORD front_thread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
    const bool attached = front_thread != 0 && front_thread != own_thread &&
                          AttachThreadInput(own_thread, front_thread, TRUE);
    BringWindowToTop(window);
    const bool brought = SetForegroundWindow(window) != 0;
    if (attached) AttachThreadInput(own_thread, front_thread, FALSE);
    if (!brought) *error = "Windows did not let it come to the front";
    return brought;
  }

  void Bell() override { MessageBeep(MB_ICONWARNING); }
};

}  // namespace

std::unique_ptr<ForegroundWindows> OpenForegroundWindows(std::string* /*error*/) {
  return std::make_unique<Win32ForegroundWindows>();
}

}  // namespace lintrel::platform

#include <windows.h>

#include <memory>

#include "platform/stop_signal.h"

namespace lintrel::platform {
namespace {

// Set by the console's Ctrl+C, Ctrl+Break and close events; never closed.
HANDLE stop_event = nullptr;

BOOL WINAPI OnConsoleControl(DWORD /*control_type*/) {
  SetEvent(stop_event);
  // Handled: the process ends through the normal shutdown instead of being killed.
  return TRUE;
}

class Win32StopSignal : public StopSignal {
 public:
  bool WaitFor(std::chrono::milliseconds timeout) override {
    const auto milliseconds = static_cast<DWORD>(timeout.count() < 0 ? 0 : timeout.count());
    return WaitForSingleObject(stop_event, milliseconds) == WAIT_OBJECT_0;
  }
};

}  // namespace

std::unique_ptr<StopSignal> StopSignal::Install() {
  if (stop_event == nullptr) {
    stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
  return std::make_unique<Win32StopSignal>();
}

}  // namespace lintrel::platform

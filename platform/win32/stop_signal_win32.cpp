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
  Win32StopSignal() : notify_event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
  ~Win32StopSignal() override { CloseHandle(notify_event_); }
  Win32StopSignal(const Win32StopSignal&) = delete;
  Win32StopSignal& operator=(const Win32StopSignal&) = delete;

  bool WaitFor(std::chrono::milliseconds timeout) override {
    const auto milliseconds = static_cast<DWORD>(timeout.count() < 0 ? 0 : timeout.count());
    const HANDLE events[2] = {stop_event, notify_event_};
    return WaitForMultipleObjects(2, events, FALSE, milliseconds) == WAIT_OBJECT_0;
  }

  void Notify() override { SetEvent(notify_event_); }

 private:
  HANDLE notify_event_;  // auto-reset: one notification ends one wait
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

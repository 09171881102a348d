#include <windows.h>

#include <memory>

#include "platform/stop_signal.h"

namespace lintrel::platform {
namespace {

// Set by the console's control events; never closed.
HANDLE stop_event = nullptr;
// Set once the program has released its ports after a stop; never closed.
HANDLE released_event = nullptr;

// When the console is closed (or the user logs off, or the system shuts down) Windows ends
// the process as soon as the handler returns, and after 5 seconds whatever it does. The
// handler therefore holds the event until the main thread has released the ports, a
// little less than that at most.
constexpr DWORD kReleaseWaitMs = 4000;

bool EndsTheProcess(DWORD control_type) {
  return control_type == CTRL_CLOSE_EVENT || control_type == CTRL_LOGOFF_EVENT ||
         control_type == CTRL_SHUTDOWN_EVENT;
}

// Runs on a thread the system starts for the event.
BOOL WINAPI OnConsoleControl(DWORD control_type) {
  SetEvent(stop_event);
  if (EndsTheProcess(control_type)) WaitForSingleObject(released_event, kReleaseWaitMs);
  // Handled: after Ctrl+C or Ctrl+Break the process ends through the normal shutdown
  // instead of being killed.
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
  void PortsReleased() override { SetEvent(released_event); }

 private:
  HANDLE notify_event_;  // auto-reset: one notification ends one wait
};

}  // namespace

std::unique_ptr<StopSignal> StopSignal::Install() {
  if (stop_event == nullptr) {
    stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    released_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  }
  return std::make_unique<Win32StopSignal>();
}

}  // namespace lintrel::platform

#pragma once

#include <chrono>
#include <memory>

namespace lintrel::platform {

// The request to stop the process (SIGINT, SIGTERM, SIGHUP or SIGQUIT on POSIX, the
// console's Ctrl+C, Ctrl+Break or close on Windows), the request to send the polls now
// (SIGUSR1 on POSIX), and a nudge that ends a wait early.
//
// Thread contract: Install() must run on the main thread before any other thread starts,
// so that the request is delivered to WaitFor() and not to a reader thread. WaitFor() runs
// on that thread only; Notify() and PortsReleased() may be called from any thread.
class StopSignal {
 public:
  virtual ~StopSignal() = default;
  // Waits up to timeout, or until Notify(); true once a stop has been requested.
  virtual bool WaitFor(std::chrono::milliseconds timeout) = 0;
  // Ends the current WaitFor() early, or the next one at once if none is running.
  virtual void Notify() = 0;
  // Says that every port has been released after a stop request. Where the system ends
  // the process as soon as the request has been handled (a Windows console being closed),
  // the request is held until then, for a few seconds at most.
  virtual void PortsReleased() {}
  // Whether the user has asked, since the last call, for every port's poll to be sent at
  // once (SIGUSR1 on POSIX; WaitFor() returns early for it). Never on Windows.
  virtual bool TakeSendRequest() { return false; }

  static std::unique_ptr<StopSignal> Install();
};

}  // namespace lintrel::platform

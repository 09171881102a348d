#pragma once

#include <chrono>
#include <memory>

namespace lintrel::platform {

// The request to stop the process (SIGINT or SIGTERM on POSIX).
//
// Thread contract: Install() must run on the main thread before any other thread starts,
// so that the request is delivered to WaitFor() and not to a reader thread.
class StopSignal {
 public:
  virtual ~StopSignal() = default;
  // Waits up to timeout; true once a stop has been requested.
  virtual bool WaitFor(std::chrono::milliseconds timeout) = 0;

  static std::unique_ptr<StopSignal> Install();
};

}  // namespace lintrel::platform

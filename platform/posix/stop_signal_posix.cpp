#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>

#include "platform/stop_signal.h"

namespace lintrel::platform {
namespace {

// Sent to the process by Notify(). Not a real-time signal: several notifications that
// arrive before the wait takes one are merged into one.
constexpr int kNotifySignal = SIGUSR1;

sigset_t WaitedSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, kNotifySignal);
  return signals;
}

timespec ToTimespec(std::chrono::nanoseconds duration) {
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
  return timespec{.tv_sec = static_cast<time_t>(seconds.count()),
                  .tv_nsec = static_cast<long>((duration - seconds).count())};
}

// The stop signals stay blocked and are taken with sigtimedwait(), so no handler runs and
// every thread started after Install() leaves them to WaitFor().
class PosixStopSignal final : public StopSignal {
 public:
  bool WaitFor(std::chrono::milliseconds timeout) override;
  void Notify() override { kill(getpid(), kNotifySignal); }

 private:
  bool requested_ = false;
};

bool PosixStopSignal::WaitFor(std::chrono::milliseconds timeout) {
  if (requested_) return true;
  const sigset_t signals = WaitedSignals();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto remaining = std::max(std::chrono::steady_clock::duration::zero(),
                              deadline - std::chrono::steady_clock::now());
    timespec wait = ToTimespec(remaining);
    const int taken = sigtimedwait(&signals, nullptr, &wait);
    if (taken == kNotifySignal) return false;
    if (taken > 0) {
      requested_ = true;
      return true;
    }
    // EINTR: another signal's handler ran; wait for the rest of the time.
    if (errno != EINTR || remaining == std::chrono::steady_clock::duration::zero()) {
      return false;
    }
  }
}

}  // namespace

std::unique_ptr<StopSignal> StopSignal::Install() {
  const sigset_t signals = WaitedSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A closed stdout or pipe then fails the write with EPIPE instead of ending the process.
  signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixStopSignal>();
}

}  // namespace lintrel::platform

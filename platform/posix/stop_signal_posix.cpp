#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <memory>
#include <utility>

#include "platform/stop_signal.h"

namespace lintrel::platform {
namespace {

// Sent to the process by Notify(). Not a real-time signal: several notifications that
// arrive before the wait takes one are merged into one.
constexpr int kNotifySignal = SIGUSR2;
// The user's request to send the polls now.
constexpr int kSendSignal = SIGUSR1;

// Interrupt, terminate, the terminal hanging up (its window closed, the login ended) and
// quit each ask for the clean stop. Every other signal keeps its default action.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// A hang-up or quit that the process was started with ignored stays ignored: that is how
// nohup, and shells starting background jobs, ask a program to outlive its terminal.
bool KeepsInheritedIgnore(int signal_number) {
  if (signal_number != SIGHUP && signal_number != SIGQUIT) return false;
  struct sigaction current = {};
  return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// The signals WaitFor() takes; *ignored gets the stop signals that stay ignored.
sigset_t WaitedSignals(sigset_t* ignored) {
  sigset_t signals;
  sigemptyset(&signals);
  sigemptyset(ignored);
  for (const int signal_number : kStopSignals) {
    sigaddset(KeepsInheritedIgnore(signal_number) ? ignored : &signals, signal_number);
  }
  sigaddset(&signals, kNotifySignal);
  sigaddset(&signals, kSendSignal);
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
  explicit PosixStopSignal(sigset_t signals) : signals_(signals) {}
  bool WaitFor(std::chrono::milliseconds timeout) override;
  void Notify() override { kill(getpid(), kNotifySignal); }
  bool TakeSendRequest() override { return std::exchange(send_requested_, false); }

 private:
  const sigset_t signals_;
  bool requested_ = false;
  bool send_requested_ = false;
};

bool PosixStopSignal::WaitFor(std::chrono::milliseconds timeout) {
  if (requested_) return true;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    auto remaining = std::max(std::chrono::steady_clock::duration::zero(),
                              deadline - std::chrono::steady_clock::now());
    timespec wait = ToTimespec(remaining);
    const int taken = sigtimedwait(&signals_, nullptr, &wait);
    if (taken == kNotifySignal) return false;
    if (taken == kSendSignal) {
      send_requested_ = true;
      return false;
    }
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
  sigset_t ignored;
  const sigset_t signals = WaitedSignals(&ignored);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A blocked signal is kept pending even when ignored; unblocked, it is discarded.
  pthread_sigmask(SIG_UNBLOCK, &ignored, nullptr);
  // A closed stdout or pipe then fails the write with EPIPE instead of ending the process.
  signal(SIGPIPE, SIG_IGN);
  return std::make_unique<PosixStopSignal>(signals);
}

}  // namespace lintrel::platform

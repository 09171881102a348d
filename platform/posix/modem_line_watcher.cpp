#include "platform/posix/modem_line_watcher.h"

#include <linux/serial.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>
#include <utility>

namespace lintrel::platform {
namespace {

// A real-time signal nobody else in the process uses; glibc keeps its own below SIGRTMIN.
int InterruptSignal() { return SIGRTMIN + 4; }

void IgnoreInterrupt(int) {}

// The handler must exist (the default action of a real-time signal ends the process) and
// must be installed without SA_RESTART, or the kernel would resume the ioctl.
void InstallInterruptHandlerOnce() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action = {};
    action.sa_handler = IgnoreInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(InterruptSignal(), &action, nullptr);
  });
}

void UnblockInterruptSignal() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, InterruptSignal());
  pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
}

std::optional<uint64_t> CarrierChangeCount(int fd) {
  serial_icounter_struct counts = {};
  if (ioctl(fd, TIOCGICOUNT, &counts) != 0) return std::nullopt;
  return static_cast<uint32_t>(counts.dcd);
}

}  // namespace

struct ModemLineWatcher::Shared {
  Shared(WaitForChange wait, CountChanges count, int fd)
      : wait_for_change(std::move(wait)), count_changes(std::move(count)), change_fd(fd) {}
  Shared(const Shared&) = delete;
  Shared& operator=(const Shared&) = delete;
  ~Shared() { close(change_fd); }

  void Run(std::optional<uint64_t> counted);
  std::optional<uint64_t> Count() const { return count_changes ? count_changes() : std::nullopt; }
  void SignalChange() {
    uint64_t one = 1;
    // The eventfd is a counter: the only failure, a full counter, still reads as
    // "changed", so nothing is lost.
    [[maybe_unused]] ssize_t written = write(change_fd, &one, sizeof one);
  }

  const WaitForChange wait_for_change;
  const CountChanges count_changes;
  const int change_fd;
  std::atomic<bool> stop_requested{false};
  std::atomic<bool> exited{false};
};

// `counted` is the count when the watcher started. A change shows as a wait that returned
// 0 or as a count that moved since it was last looked at, whichever comes first.
void ModemLineWatcher::Shared::Run(std::optional<uint64_t> counted) {
  UnblockInterruptSignal();
  bool wait_saw_change = false;
  while (!stop_requested.load()) {
    const std::optional<uint64_t> now = Count();
    const bool count_moved = now && counted && *now != *counted;
    if (now) counted = now;
    if (wait_saw_change || count_moved) SignalChange();
    wait_saw_change = false;

    const int result = wait_for_change();
    if (stop_requested.load()) break;
    if (result == 0) {
      wait_saw_change = true;
    } else if (errno != EINTR) {
      break;  // the device has gone or cannot report its lines; nothing more to watch
    }
  }
  exited.store(true);
}

std::unique_ptr<ModemLineWatcher> ModemLineWatcher::StartForCarrier(int fd) {
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) != 0) return nullptr;
  CountChanges count;
  if (CarrierChangeCount(fd)) count = [fd] { return CarrierChangeCount(fd); };
  return Start([fd] { return ioctl(fd, TIOCMIWAIT, TIOCM_CD); }, std::move(count));
}

std::unique_ptr<ModemLineWatcher> ModemLineWatcher::Start(WaitForChange wait_for_change,
                                                          CountChanges count_changes) {
  InstallInterruptHandlerOnce();
  int change_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (change_fd < 0) return nullptr;
  auto shared = std::make_shared<Shared>(std::move(wait_for_change), std::move(count_changes), change_fd);
  // Counted here, before the thread exists, so that a change while it starts is not lost.
  const std::optional<uint64_t> counted = shared->Count();
  std::unique_ptr<ModemLineWatcher> watcher(new ModemLineWatcher(shared));
  try {
    watcher->thread_ = std::thread([shared, counted] { shared->Run(counted); });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return watcher;
}

ModemLineWatcher::ModemLineWatcher(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

ModemLineWatcher::~ModemLineWatcher() { Stop(); }

int ModemLineWatcher::ChangeFd() const { return shared_->change_fd; }

bool ModemLineWatcher::ConsumeChanges() {
  uint64_t count = 0;
  return read(shared_->change_fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

// One signal is not enough: it can arrive after the thread checked stop_requested but
// before it entered the wait, and then the wait blocks again. Keep signalling until the
// thread has left, up to the limit.
void ModemLineWatcher::Stop() {
  if (!thread_.joinable()) return;
  shared_->stop_requested.store(true);
  const auto give_up = std::chrono::steady_clock::now() + kStopLimit;
  while (!shared_->exited.load() && std::chrono::steady_clock::now() < give_up) {
    pthread_kill(thread_.native_handle(), InterruptSignal());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (shared_->exited.load()) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

}  // namespace lintrel::platform

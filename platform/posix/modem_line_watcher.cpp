#include "platform/posix/modem_line_watcher.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <system_error>

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

}  // namespace

std::unique_ptr<ModemLineWatcher> ModemLineWatcher::StartForCarrier(int fd) {
  int lines = 0;
  if (ioctl(fd, TIOCMGET, &lines) != 0) return nullptr;
  return Start([fd] { return ioctl(fd, TIOCMIWAIT, TIOCM_CD); });
}

std::unique_ptr<ModemLineWatcher> ModemLineWatcher::Start(WaitForChange wait_for_change) {
  InstallInterruptHandlerOnce();
  int change_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (change_fd < 0) return nullptr;
  std::unique_ptr<ModemLineWatcher> watcher(
      new ModemLineWatcher(std::move(wait_for_change), change_fd));
  try {
    watcher->thread_ = std::thread([raw = watcher.get()] { raw->Run(); });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return watcher;
}

ModemLineWatcher::ModemLineWatcher(WaitForChange wait_for_change, int change_fd)
    : wait_for_change_(std::move(wait_for_change)), change_fd_(change_fd) {}

ModemLineWatcher::~ModemLineWatcher() {
  Stop();
  close(change_fd_);
}

bool ModemLineWatcher::ConsumeChanges() {
  uint64_t count = 0;
  return read(change_fd_, &count, sizeof count) == static_cast<ssize_t>(sizeof count);
}

void ModemLineWatcher::Stop() {
  if (!thread_.joinable()) return;
  stop_requested_.store(true);
  InterruptUntilExited();
  thread_.join();
}

// One signal is not enough: it can arrive after the thread checked stop_requested_ but
// before it entered the wait, and then the wait blocks again. Keep signalling until the
// thread has left.
void ModemLineWatcher::InterruptUntilExited() {
  while (!exited_.load()) {
    pthread_kill(thread_.native_handle(), InterruptSignal());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void ModemLineWatcher::Run() {
  UnblockInterruptSignal();
  while (!stop_requested_.load()) {
    int result = wait_for_change_();
    if (stop_requested_.load()) break;
    if (result == 0) {
      uint64_t one = 1;
      // The eventfd is a counter: the only failure, a full counter, still reads as
      // "changed", so nothing is lost.
      [[maybe_unused]] ssize_t written = write(change_fd_, &one, sizeof one);
    } else if (errno != EINTR) {
      break;  // the device has gone or cannot report its lines; nothing more to watch
    }
  }
  exited_.store(true);
}

}  // namespace lintrel::platform

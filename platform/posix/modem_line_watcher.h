#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace lintrel::platform {

// Runs a blocking "wait for the next modem line change" call on a thread of its own and
// turns each change into a readable eventfd that poll() can watch next to the port.
//
// The wait of real serial devices is ioctl(TIOCMIWAIT), which neither closing the fd nor
// anything else short of a signal interrupts. Stop() therefore sends the thread a
// real-time signal whose handler does nothing and was installed without SA_RESTART, so
// the ioctl fails with EINTR and the thread sees the stop request.
class ModemLineWatcher {
 public:
  // Returns 0 after a change, or -1 with errno set (EINTR when interrupted by a signal).
  using WaitForChange = std::function<int()>;

  // Watches the carrier detect line of `fd`. Null when the device has no modem lines
  // (TIOCMGET fails, as on pseudo-terminals) or the watcher could not start.
  static std::unique_ptr<ModemLineWatcher> StartForCarrier(int fd);

  // Watches whatever `wait_for_change` waits for. Null if the thread or eventfd could not
  // be created.
  static std::unique_ptr<ModemLineWatcher> Start(WaitForChange wait_for_change);

  ModemLineWatcher(const ModemLineWatcher&) = delete;
  ModemLineWatcher& operator=(const ModemLineWatcher&) = delete;
  ~ModemLineWatcher();

  // Readable after a change, until ConsumeChanges().
  int ChangeFd() const { return change_fd_; }
  // True if changes had been signalled; clears them.
  bool ConsumeChanges();

  // Interrupts the wait and joins the thread. Idempotent.
  void Stop();

 private:
  ModemLineWatcher(WaitForChange wait_for_change, int change_fd);
  void InterruptUntilExited();
  void Run();

  WaitForChange wait_for_change_;
  int change_fd_;
  std::thread thread_;
  std::atomic<bool> stop_requested_{false};
  std::atomic<bool> exited_{false};
};

}  // namespace lintrel::platform

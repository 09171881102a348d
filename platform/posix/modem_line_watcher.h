#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace lintrel::platform {

// Runs a blocking "wait for the next modem line change" call on a thread of its own and
// turns each change into a readable eventfd that poll() can watch next to the port.
//
// The wait of real serial devices is ioctl(TIOCMIWAIT), which neither closing the fd nor
// anything else short of a signal interrupts. Stop() therefore sends the thread a
// real-time signal whose handler does nothing and was installed without SA_RESTART, so
// the ioctl fails with EINTR and the thread sees the stop request.
//
// TIOCMIWAIT reports only changes that come while it waits: one that comes between two
// waits (or before the first) would go unseen. Where the device also counts its changes
// (TIOCGICOUNT), the count is compared before every wait, from the moment of Start().
//
// Thread contract: ChangeFd() and ConsumeChanges() are called by the port's reader thread;
// Stop() and the destructor by the port's owner once that reader has been joined.
class ModemLineWatcher {
 public:
  // Returns 0 after a change, or -1 with errno set (EINTR when interrupted by a signal).
  using WaitForChange = std::function<int()>;
  // How many changes the device has counted so far; empty when it cannot tell.
  using CountChanges = std::function<std::optional<uint64_t>()>;

  // How long Stop() keeps interrupting a wait before it leaves the thread to end by itself.
  static constexpr std::chrono::milliseconds kStopLimit{200};

  // Watches the carrier detect line of `fd`. Null when the device has no modem lines
  // (TIOCMGET fails, as on pseudo-terminals) or the watcher could not start.
  static std::unique_ptr<ModemLineWatcher> StartForCarrier(int fd);

  // Watches whatever `wait_for_change` waits for, and what `count_changes` counts when it
  // is given. Null if the thread or eventfd could not be created.
  static std::unique_ptr<ModemLineWatcher> Start(WaitForChange wait_for_change,
                                                 CountChanges count_changes = {});

  ModemLineWatcher(const ModemLineWatcher&) = delete;
  ModemLineWatcher& operator=(const ModemLineWatcher&) = delete;
  ~ModemLineWatcher();

  // Readable after a change, until ConsumeChanges().
  int ChangeFd() const;
  // True if changes had been signalled; clears them.
  bool ConsumeChanges();

  // Interrupts the wait and joins the thread. A thread still inside its wait after
  // kStopLimit (a driver whose wait ignores signals) is left to end by itself: it uses
  // nothing of this object's any more. Idempotent.
  void Stop();

 private:
  struct Shared;  // what the thread uses; outlives this object if the thread is left behind

  explicit ModemLineWatcher(std::shared_ptr<Shared> shared);

  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace lintrel::platform

#pragma once

#include <chrono>
#include <cstddef>
#include <optional>

namespace lintrel::platform {

// When a virtual input device (the kernel's uinput) may send its events. The kernel keeps
// them for each reader of the device (a compositor, an X server) in a small buffer, drops
// them when it is full, and tells only the reader; and a reader that has not opened the
// device yet gets nothing at all. Neither loss can be seen by the sender, so it paces
// itself for the readers instead. Portable, so that the rules are tested everywhere.

using PacingClock = std::chrono::steady_clock;

// Sends events in bursts small enough for a reader's buffer, with a pause between bursts
// longer than a slow reader takes between reads: then no read interval holds events of two
// bursts, and a reader that reads that often loses nothing. The count goes on from one line
// to the next: lines typed back to back are paced as one stream.
class BurstPacer {
 public:
  BurstPacer(std::size_t events_per_burst, PacingClock::duration pause)
      : events_per_burst_(events_per_burst), pause_(pause) {}

  // How long to wait, from `now`, before the next event goes out (zero: at once).
  PacingClock::duration WaitBeforeNext(PacingClock::time_point now) const;
  // Notes an event sent at `now`.
  void Sent(PacingClock::time_point now);

 private:
  bool StartsBurst(PacingClock::time_point now) const { return !last_sent_ || now - *last_sent_ >= pause_; }

  std::size_t events_per_burst_;
  PacingClock::duration pause_;
  std::size_t in_burst_ = 0;
  std::optional<PacingClock::time_point> last_sent_;
};

// Follows who opens a device just made, to tell when its first events can go out: once a
// reader has it open and no reader has opened or closed it for `quiet` (readers that take
// the device in turn, or open, probe, close and open again, have settled), or, when no
// reader opens it, once `patience` has passed since it was made (a text console reads it
// inside the kernel, without opening it).
class NewDeviceReaders {
 public:
  NewDeviceReaders(PacingClock::time_point made, PacingClock::duration quiet, PacingClock::duration patience)
      : deadline_(made + patience), quiet_(quiet) {}

  void Opened(PacingClock::time_point at);
  void Closed(PacingClock::time_point at);
  // Whatever was opened or closed, unknown which (the system's notices overflowed): waits
  // for quiet, as after an open.
  void Lost(PacingClock::time_point at);

  // When the first event may go out; a time not after now means at once.
  PacingClock::time_point ReadyAt() const;

 private:
  PacingClock::time_point deadline_;
  PacingClock::duration quiet_;
  int open_ = 0;
  bool maybe_open_ = false;
  std::optional<PacingClock::time_point> last_change_;
};

}  // namespace lintrel::platform

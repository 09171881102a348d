#pragma once

#include <string>

namespace lintrel::bench {

// Typing through the uinput keyboard inside a QEMU guest (Debian's kernel under emulation,
// no KVM): 13-digit lines and a CR with the us layout, each read back from the event device
// before the next is typed, timed by the guest's instruction clock (kInstructionClock). A
// different machine from the host's X server: its figures are reported beside XTest's,
// never compared with them.
struct UinputGuestResult {
  int lines = 0;
  double seconds = 0;
  double lines_per_second = 0;
  double key_events_per_second = 0;
  std::string error;    // the run failed
  std::string skipped;  // QEMU, busybox or the kernel package cannot be had
};

UinputGuestResult MeasureUinputInGuest(int lines);

}  // namespace lintrel::bench

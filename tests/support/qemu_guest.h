#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace lintrel::testing {

// Guests for QEMU made by tests/kernel/make_guest.sh, for the kernel tests and the benchmark.

// Runs make_guest.sh for a guest in `work` with /init from `init` and the contents named
// (--module, --program and --copy arguments). Exit status 77 means QEMU, busybox or the
// kernel package cannot be had (the reason on its output).
CommandResult PrepareGuest(const std::string& make_guest, const std::string& kernel_cache,
                           const std::filesystem::path& work, const std::string& init,
                           const std::vector<std::string>& contents);
inline bool GuestCannotBeHad(const CommandResult& prepared) {
  return prepared.status && prepared.status->exited && prepared.status->code == 77;
}

// The command (for /usr/bin/env) that boots the guest prepared in `work`, its console on
// standard output, with `extra` QEMU arguments.
std::vector<std::string> QemuCommand(const std::filesystem::path& work, const std::vector<std::string>& extra = {});

// QEMU arguments that give the guest a clock of its own: its time advances with the
// instructions it runs (1 ns each) and jumps ahead while it idles, whatever the host's clock
// does (under plain emulation the guest's clock is the host's, and a host busy elsewhere
// stops the guest for tens of milliseconds while its time runs on). A guest that only talks
// to itself then times the same however busy the host is; one that waits for the host (a
// socket, the monitor) must not use it, as its waits would pass at once. The emulation takes
// about half as long again with it.
inline const std::vector<std::string> kInstructionClock = {"-icount", "shift=0,sleep=off"};

// Boots the guest (with `extra` QEMU arguments) and waits, for `patience` safety limits at
// most, until its console shows `end`; the console without the carriage returns the guest's
// terminal adds, or nothing (and *console_so_far) when it did not come.
std::optional<std::string> BootUntil(const std::filesystem::path& work, const std::string& end, int patience,
                                     std::string* console_so_far, const std::vector<std::string>& extra = {});

// What the uinput guest holds besides its /init: evdev and uinput, the program that types
// and reads back, the XKB data it needs, and `texts` as /texts.
std::vector<std::string> UinputGuestContents(const std::string& guest_program, const std::filesystem::path& texts);

}  // namespace lintrel::testing

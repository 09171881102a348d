#include "bench/bench_uinput.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/child_process.h"

namespace lintrel::bench {

using testing::ChildProcess;
using testing::CommandResult;
using testing::RunToEnd;

UinputGuestResult MeasureUinputInGuest(int lines) {
  namespace fs = std::filesystem;
  UinputGuestResult result;
  result.lines = lines;
  const fs::path work = fs::path(LINTREL_BENCH_GUEST_DIR) / "guest";
  const fs::path texts = fs::path(LINTREL_BENCH_GUEST_DIR) / "texts";
  fs::remove_all(texts);
  fs::create_directories(texts);
  std::ofstream(texts / "bench") << lines << "\n";
  const CommandResult prepared =
      RunToEnd({LINTREL_BENCH_MAKE_GUEST, LINTREL_BENCH_KERNEL_CACHE, work.string(), LINTREL_BENCH_UINPUT_INIT,
                "--module", "input/evdev", "--module", "input/misc/uinput", "--program", LINTREL_BENCH_UINPUT_GUEST,
                "--copy", "/usr/share/X11/xkb", "/usr/share/X11/xkb", "--copy", texts.string(), "/texts"},
               12);
  if (prepared.status && prepared.status->exited && prepared.status->code == 77) {
    result.skipped = prepared.out;
    return result;
  }
  if (!prepared.Succeeded()) {
    result.error = "the guest could not be prepared: " + prepared.out + prepared.err;
    return result;
  }
  ChildProcess qemu("/usr/bin/env", {"qemu-system-x86_64", "-m", "256", "-nographic", "-no-reboot", "-nic", "none",
                                     "-kernel", (work / "vmlinuz").string(), "-initrd",
                                     (work / "initramfs.gz").string(), "-append", "console=ttyS0 quiet panic=-1"});
  bool ended = false;
  for (int round = 0; round < 18 && !ended; ++round) {
    ended = qemu.WaitUntil([&] { return qemu.out().find("GUEST EXIT") != std::string::npos; });
  }
  const std::size_t found = qemu.out().find("GUEST BENCH ");
  int typed = 0;
  if (!ended || found == std::string::npos ||
      std::sscanf(qemu.out().c_str() + found, "GUEST BENCH lines=%d seconds=%lf", &typed, &result.seconds) != 2 ||
      typed != lines || result.seconds <= 0) {
    result.error = "the guest did not report its run: " + qemu.out();
    return result;
  }
  result.lines_per_second = lines / result.seconds;
  // Each line is 14 keys, each pressed and released.
  result.key_events_per_second = lines * 28 / result.seconds;
  return result;
}

}  // namespace lintrel::bench

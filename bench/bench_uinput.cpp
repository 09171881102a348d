#include "bench/bench_uinput.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/qemu_guest.h"

namespace lintrel::bench {

using testing::CommandResult;

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
      testing::PrepareGuest(LINTREL_BENCH_MAKE_GUEST, LINTREL_BENCH_KERNEL_CACHE, work, LINTREL_BENCH_UINPUT_INIT,
                            testing::UinputGuestContents(LINTREL_BENCH_UINPUT_GUEST, texts));
  if (testing::GuestCannotBeHad(prepared)) {
    result.skipped = prepared.out;
    return result;
  }
  if (!prepared.Succeeded()) {
    result.error = "the guest could not be prepared: " + prepared.out + prepared.err;
    return result;
  }
  std::string so_far;
  // The guest's own instruction clock: its figure is the keyboard's pacing and the guest's
  // work, however busy the host is.
  const std::optional<std::string> console =
      testing::BootUntil(work, "GUEST EXIT", 60, &so_far, testing::kInstructionClock);
  const std::size_t found = console ? console->find("GUEST BENCH ") : std::string::npos;
  int typed = 0;
  if (found == std::string::npos ||
      std::sscanf(console->c_str() + found, "GUEST BENCH lines=%d seconds=%lf", &typed, &result.seconds) != 2 ||
      typed != lines || result.seconds <= 0) {
    result.error = "the guest did not report its run: " + (console ? *console : so_far);
    return result;
  }
  result.lines_per_second = lines / result.seconds;
  // Each line is 14 keys, each pressed and released.
  result.key_events_per_second = lines * 28 / result.seconds;
  return result;
}

}  // namespace lintrel::bench

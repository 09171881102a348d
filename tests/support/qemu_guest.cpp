#include "support/qemu_guest.h"

namespace lintrel::testing {

CommandResult PrepareGuest(const std::string& make_guest, const std::string& kernel_cache,
                           const std::filesystem::path& work, const std::string& init,
                           const std::vector<std::string>& contents) {
  std::vector<std::string> command = {make_guest, kernel_cache, work.string(), init};
  command.insert(command.end(), contents.begin(), contents.end());
  // Fetching the kernel package the first time takes several safety limits.
  return RunToEnd(command, 12);
}

std::vector<std::string> QemuCommand(const std::filesystem::path& work, const std::vector<std::string>& extra) {
  std::vector<std::string> command = {"qemu-system-x86_64", "-m", "256", "-nographic", "-no-reboot", "-nic", "none",
                                      "-kernel", (work / "vmlinuz").string(), "-initrd",
                                      (work / "initramfs.gz").string(), "-append", "console=ttyS0 quiet panic=-1"};
  command.insert(command.end(), extra.begin(), extra.end());
  return command;
}

std::optional<std::string> BootUntil(const std::filesystem::path& work, const std::string& end, int patience,
                                     std::string* console_so_far, const std::vector<std::string>& extra) {
  ChildProcess qemu("/usr/bin/env", QemuCommand(work, extra));
  bool ended = false;
  for (int round = 0; round < patience && !ended; ++round) {
    ended = qemu.WaitUntil([&] { return qemu.out().find(end) != std::string::npos; });
  }
  std::string console;
  for (char c : qemu.out()) {
    if (c != '\r') console += c;
  }
  if (!ended) {
    *console_so_far = console + qemu.err();
    return std::nullopt;
  }
  return console;
}

std::vector<std::string> UinputGuestContents(const std::string& guest_program, const std::filesystem::path& texts) {
  return {"--module", "input/evdev",        "--module", "input/misc/uinput",  "--program", guest_program,
          "--copy",   "/usr/share/X11/xkb", "/usr/share/X11/xkb", "--copy",   texts.string(), "/texts"};
}

}  // namespace lintrel::testing

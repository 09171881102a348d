// lintrel-cli against a real kernel's USB-serial driver: a QEMU guest (Debian's kernel,
// ftdi_sio) with emulated adapters that the test plugs and unplugs through QEMU's monitor,
// and whose serial lines it feeds through Unix sockets. The guest runs lintrel-cli on the
// console, which QEMU gives the test as its standard output.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/qemu_guest.h"
#include "support/safety_limit.h"
#include "support/trace.h"

namespace lintrel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The serial number of the scanner the port follows, and of the one that takes its name.
constexpr char kScannerDevice[] = "usb-serial,id=scanner1,chardev=c1,serial=SCAN0001";
constexpr char kOtherDevice[] = "usb-serial,id=scanner2,chardev=c2,serial=SCAN0002";
// Emulated without KVM, the guest runs only as fast as the host's spare CPU allows: with
// both cores busy elsewhere its boot took 47 s to reach /init, and the whole test up to
// 200 s at a load of 14; each step (a USB enumeration, a re-open) takes several times as long
// as on an idle host. Nets against a hang, about twice that.
constexpr int kUsbGuestBootPatience = 30;
constexpr int kStepPatience = 3;

// A connected Unix socket, or -1. QEMU makes its sockets just after it starts.
int ConnectUnix(const fs::path& path) {
  const auto deadline = Clock::now() + kSafetyLimit;
  do {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
    if (fd >= 0) close(fd);
    std::this_thread::sleep_for(milliseconds(20));  // polling for a file QEMU has yet to make
  } while (Clock::now() < deadline);
  return -1;
}

bool Send(int fd, std::string_view text) { return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()); }

// The guest's console, read as QEMU writes it.
class Guest {
 public:
  Guest(const fs::path& work, const std::vector<std::string>& qemu_args) : qemu_("/usr/bin/env", qemu_args) {
    scanner_ = ConnectUnix(work / "scanner1.sock");
    other_ = ConnectUnix(work / "scanner2.sock");
    monitor_ = ConnectUnix(work / "monitor.sock");
  }
  ~Guest() {
    if (monitor_ >= 0) Send(monitor_, "quit\n");
    qemu_.WaitForExit();  // killed by its id with `qemu_` if it does not end
    for (int fd : {scanner_, other_, monitor_}) {
      if (fd >= 0) close(fd);
    }
  }

  bool connected() const { return scanner_ >= 0 && other_ >= 0 && monitor_ >= 0; }
  int scanner() const { return scanner_; }
  int other() const { return other_; }
  bool Monitor(const std::string& command) { return Send(monitor_, command + "\n"); }

  // The console without the carriage returns the guest's terminal adds.
  std::string Console() const {
    std::string text;
    for (char c : qemu_.out()) {
      if (c != '\r') text += c;
    }
    return text;
  }

  // Waits for `text` to appear after what earlier waits found; the time it was seen.
  std::optional<Clock::time_point> WaitFor(const std::string& text, int patience = kStepPatience) {
    for (int round = 0; round < patience; ++round) {
      std::size_t found = std::string::npos;
      if (qemu_.WaitUntil([&] { return (found = Console().find(text, seen_)) != std::string::npos; })) {
        seen_ = found + text.size();
        return Clock::now();
      }
    }
    return std::nullopt;
  }

  std::string Describe() const { return "console:\n" + Console() + "\nqemu:\n" + qemu_.err(); }

 private:
  ChildProcess qemu_;
  int scanner_ = -1;
  int other_ = -1;
  int monitor_ = -1;
  std::size_t seen_ = 0;
};

// The trace lines of the console, in order.
std::string TraceOf(const std::string& console) {
  std::istringstream lines(console);
  std::string trace;
  for (std::string line; std::getline(lines, line);) {
    if (ParseEvent(line)) trace += line + "\n";
  }
  return trace;
}

TEST(UsbSerialQemuTest, APortFollowsItsAdapterByIdentityAndIsReopenedOnItsArrival) {
  const fs::path work = fs::path(LINTREL_KERNEL_TEST_DIR) / "guest";
  std::vector<std::string> contents = {"--program", LINTREL_CLI_PATH};
  for (const char* module : {"usb/common/usb-common", "usb/core/usbcore", "usb/host/xhci-hcd", "usb/host/xhci-pci",
                             "usb/serial/usbserial", "usb/serial/ftdi_sio"}) {
    contents.insert(contents.end(), {"--module", module});
  }
  const CommandResult prepared = PrepareGuest(LINTREL_MAKE_GUEST, LINTREL_KERNEL_TEST_DIR "/kernel-cache", work,
                                              LINTREL_KERNEL_SOURCE_DIR "/usb_serial_init.sh", contents);
  if (GuestCannotBeHad(prepared)) GTEST_SKIP() << prepared.out;
  ASSERT_TRUE(prepared.Succeeded()) << prepared.out << prepared.err;

  // The adapters appear to the guest only while their socket has a client: the test
  // connects to both sockets before the guest looks for them.
  Guest guest(work, QemuCommand(work, {
                     "-chardev", "socket,id=c1,server=on,wait=off,path=" + (work / "scanner1.sock").string(),
                     "-chardev", "socket,id=c2,server=on,wait=off,path=" + (work / "scanner2.sock").string(),
                     "-monitor", "unix:" + (work / "monitor.sock").string() + ",server=on,wait=off",
                     "-device", "qemu-xhci", "-device", kScannerDevice}));
  ASSERT_TRUE(guest.connected()) << guest.Describe();

  // The port list shows the adapter with its identity; COM33 opens it.
  ASSERT_TRUE(guest.WaitFor("GUEST LIST BEGIN", kUsbGuestBootPatience)) << guest.Describe();
  ASSERT_TRUE(guest.WaitFor("  COM33  /dev/ttyUSB0  (USB 0403:6001 serial SCAN0001, interface 0)\n"))
      << guest.Describe();
  ASSERT_TRUE(guest.WaitFor("lintrel: COM33 connected (/dev/ttyUSB0)\n", kUsbGuestBootPatience)) << guest.Describe();
  ASSERT_TRUE(Send(guest.scanner(), "HELLO1\r"));
  ASSERT_TRUE(guest.WaitFor(ExpectedTrace("HELLO1\r"))) << guest.Describe();

  // Unplugged: the link is lost and the port waits 5 s (--reconnect-delay 5000) before
  // the ticks would try it again.
  ASSERT_TRUE(guest.Monitor("device_del scanner1"));
  const std::optional<Clock::time_point> lost = guest.WaitFor("lintrel: COM33 link lost");
  ASSERT_TRUE(lost) << guest.Describe();

  // Another adapter takes the name ttyUSB0: its arrival is tried, and it is not opened.
  ASSERT_TRUE(guest.Monitor(std::string("device_add ") + kOtherDevice));
  ASSERT_TRUE(guest.WaitFor("now attached to ttyUSB0")) << guest.Describe();
  ASSERT_TRUE(guest.WaitFor("lintrel: COM33 reconnection failed: the device it had (USB 0403:6001 serial "
                            "SCAN0001, interface 0) is not present"))
      << guest.Describe();
  ASSERT_TRUE(Send(guest.other(), "OTHER\r"));

  // The port's own adapter comes back as ttyUSB1 and is re-opened on its arrival, before
  // the delay runs out: nothing else opens a port during its delay.
  ASSERT_TRUE(guest.Monitor(std::string("device_add ") + kScannerDevice));
  const std::optional<Clock::time_point> arrived = guest.WaitFor("now attached to ttyUSB1");
  ASSERT_TRUE(arrived) << guest.Describe();
  const std::optional<Clock::time_point> reopened = guest.WaitFor("lintrel: COM33 reconnected: connected (/dev/ttyUSB1)");
  ASSERT_TRUE(reopened) << guest.Describe();
  EXPECT_LT(*reopened - *lost, milliseconds(5000)) << "re-opened by the delay, not on the arrival";
  const auto arrival_to_open = std::chrono::duration_cast<milliseconds>(*reopened - *arrived).count();
  std::printf("arrival to open: %lld ms (the once-a-second retry: up to 1000 ms, 500 on average)\n",
              static_cast<long long>(arrival_to_open));
  ::testing::Test::RecordProperty("arrival_to_open_ms", std::to_string(arrival_to_open));

  ASSERT_TRUE(Send(guest.scanner(), "BACK1\r"));
  ASSERT_TRUE(guest.WaitFor(ExpectedTrace("BACK1\r"))) << guest.Describe();
  EXPECT_EQ(TraceOf(guest.Console()), ExpectedTrace("HELLO1\r") + ExpectedTrace("BACK1\r"))
      << "only the port's own adapter is typed";
}

}  // namespace
}  // namespace lintrel::testing

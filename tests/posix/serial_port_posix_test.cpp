#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/line_settings.h"
#include "platform/posix/modem_line_watcher.h"
#include "platform/serial_port.h"
#include "posix/posix_test_support.h"
#include "support/safety_limit.h"

namespace {

// True once `condition` holds; false after the safety limit.
bool Eventually(const std::function<bool()>& condition) {
  const auto give_up = std::chrono::steady_clock::now() + lintrel::testing::kSafetyLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Wake-up writes (the count 1 that an eventfd takes) can be held just before they reach
// the kernel, as if the writing thread had been preempted there.
std::atomic<bool> hold_wake_ups{false};
std::atomic<bool> release_wake_ups{false};
std::atomic<int> held_wake_ups{0};

}  // namespace

// Every write() of this test program comes here first.
extern "C" ssize_t write(int fd, const void* data, size_t size) {
  uint64_t value = 0;
  if (size == sizeof value) std::memcpy(&value, data, sizeof value);
  if (value == 1 && hold_wake_ups.load()) {
    ++held_wake_ups;
    Eventually([] { return release_wake_ups.load(); });
  }
  return syscall(SYS_write, fd, data, size);
}

namespace lintrel::platform {
namespace {

using testing::BackgroundCall;
using testing::BlockingCall;
using testing::Bytes;
using testing::ReceiveBytes;
using testing::WaitReadable;

// The kernel's struct termios2 from <asm/termbits.h>, which cannot be included next to
// <termios.h>. It carries the baud rates as numbers, also those without a Bxxx constant.
struct KernelTermios2 {
  tcflag_t c_iflag;
  tcflag_t c_oflag;
  tcflag_t c_cflag;
  tcflag_t c_lflag;
  cc_t c_line;
  cc_t c_cc[19];
  speed_t c_ispeed;
  speed_t c_ospeed;
};

struct BaudRates {
  speed_t input = 0;
  speed_t output = 0;
};

std::optional<BaudRates> ReadBaudRates(int fd) {
  KernelTermios2 settings = {};
  if (ioctl(fd, _IOR('T', 0x2A, KernelTermios2), &settings) != 0) return std::nullopt;
  return BaudRates{.input = settings.c_ispeed, .output = settings.c_ospeed};
}

// A pseudo-terminal pair: the port side is opened by path, the test writes into the
// device side and keeps a port-side fd of its own to look at the terminal's settings.
class PseudoTerminal {
 public:
  PseudoTerminal() {
    std::array<char, 128> name = {};
    if (openpty(&device_fd_, &port_fd_, name.data(), nullptr, nullptr) == 0) {
      path_ = name.data();
    }
  }
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;
  ~PseudoTerminal() {
    CloseDeviceSide();
    if (port_fd_ >= 0) close(port_fd_);
  }

  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  int port_fd() const { return port_fd_; }

  bool Send(const std::vector<uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t count = write(device_fd_, bytes.data() + sent, bytes.size() - sent);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return false;
      sent += static_cast<std::size_t>(count);
    }
    return true;
  }
  bool Send(const std::string& text) {
    return Send(std::vector<uint8_t>(text.begin(), text.end()));
  }

  // What the port wrote to its device: `count` bytes, or fewer when they do not come within
  // the safety limit.
  std::vector<uint8_t> ReceiveOnDeviceSide(std::size_t count) {
    std::vector<uint8_t> received;
    const auto deadline = std::chrono::steady_clock::now() + testing::kSafetyLimit;
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd ready = {.fd = device_fd_, .events = POLLIN, .revents = 0};
      if (poll(&ready, 1, 50) != 1) continue;
      uint8_t buffer[256];
      const ssize_t got = read(device_fd_, buffer, sizeof buffer);
      if (got <= 0) break;
      received.insert(received.end(), buffer, buffer + got);
    }
    return received;
  }

  // Hangs up the port side, as unplugging a device does.
  void CloseDeviceSide() {
    if (device_fd_ >= 0) close(device_fd_);
    device_fd_ = -1;
  }

  termios PortSettings() const {
    termios settings = {};
    tcgetattr(port_fd_, &settings);
    return settings;
  }

 private:
  int device_fd_ = -1;
  int port_fd_ = -1;
  std::string path_;
};

bool IsDataEvent(const WaitResult& result, WaitOutcome outcome) {
  return result.outcome == outcome && (result.events & kEventReceived) != 0;
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(terminal_.ok()) << "openpty failed"; }

  std::unique_ptr<SerialPort> OpenPort(const LineParameters& parameters = {}) {
    OpenResult result = driver_->Open(terminal_.path(), parameters);
    EXPECT_EQ(result.error.kind, SerialErrorKind::kNone) << result.error.message;
    return std::move(result.port);
  }

  std::unique_ptr<SerialDriver> driver_ = MakeSystemSerialDriver();
  PseudoTerminal terminal_;
};

LineParameters Line(std::optional<uint32_t> baud_rate, int data_bits, int parity,
                    bool two_stop_bits) {
  return LineParameters{.baud_rate = baud_rate,
                        .data_bits = data_bits,
                        .parity = parity,
                        .two_stop_bits = two_stop_bits};
}

// Settings a port must not keep: cooked, echoing, flow-controlled, 6E2 at 4800 baud.
termios HostileSettings() {
  termios settings = {};
  settings.c_iflag = ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | BRKINT | PARMRK;
  settings.c_oflag = OPOST | ONLCR;
  settings.c_lflag = ICANON | ECHO | ECHONL | ISIG | IEXTEN;
  settings.c_cflag = CS6 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  settings.c_cc[VMIN] = 0;
  settings.c_cc[VTIME] = 5;
  cfsetispeed(&settings, B4800);
  cfsetospeed(&settings, B4800);
  return settings;
}
constexpr speed_t kHostileRate = 4800;

struct FramingCase {
  const char* name;
  LineParameters parameters;
  tcflag_t character_size;
  tcflag_t parity_flags;  // of PARENB, PARODD and CMSPAR
  bool two_stop_bits;
  speed_t baud_rate;      // what the line runs at afterwards
  bool custom_baud_rate;  // set through termios2, as it has no Bxxx constant
  speed_t speed_code;     // the Bxxx code in the termios (unchanged when termios2 sets it)
};

const FramingCase kFramings[] = {
    {"9600_8N1", Line(9600, 8, kParityNone, false), CS8, 0, false, 9600, false, B9600},
    {"19200_7E1", Line(19200, 7, kParityEven, false), CS7, PARENB, false, 19200, false, B19200},
    {"115200_8O2", Line(115200, 8, kParityOdd, true), CS8, PARENB | PARODD, true, 115200, false,
     B115200},
    {"14400_7M1", Line(14400, 7, kParityMark, false), CS7, PARENB | CMSPAR | PARODD, false, 14400,
     true, B4800},
    {"56000_8S2", Line(56000, 8, kParitySpace, true), CS8, PARENB | CMSPAR, true, 56000, true,
     B4800},
    {"1200_5N2", Line(1200, 5, kParityNone, true), CS5, 0, true, 1200, false, B1200},
    {"KeepRate_6E1", Line(std::nullopt, 6, kParityEven, false), CS6, PARENB, false, kHostileRate,
     false, B4800},
};

void PrintTo(const FramingCase& framing, std::ostream* out) { *out << framing.name; }

std::string FramingName(const ::testing::TestParamInfo<FramingCase>& param_info) {
  return param_info.param.name;
}

// The raw, unflow-controlled part every framing shares.
void ExpectRawWithoutFlowControl(const termios& settings) {
  EXPECT_EQ(
      settings.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | IXANY | BRKINT | PARMRK),
      0u);
  EXPECT_EQ(settings.c_oflag & OPOST, 0u);
  EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(settings.c_cflag & (CREAD | CLOCAL | HUPCL), tcflag_t{CREAD | CLOCAL | HUPCL});
  EXPECT_EQ(settings.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(settings.c_cc[VMIN], 1);
  EXPECT_EQ(settings.c_cc[VTIME], 0);
}

class LineParametersTest : public ::testing::TestWithParam<FramingCase> {};

TEST_P(LineParametersTest, SettingsCarryTheFraming) {
  const FramingCase& framing = GetParam();
  termios settings = HostileSettings();
  ApplyLineParameters(framing.parameters, &settings);
  ExpectRawWithoutFlowControl(settings);
  EXPECT_EQ(settings.c_cflag & CSIZE, framing.character_size);
  EXPECT_EQ(settings.c_cflag & (PARENB | PARODD | CMSPAR), framing.parity_flags);
  EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, framing.two_stop_bits);
  EXPECT_EQ(NeedsCustomBaudRate(framing.parameters), framing.custom_baud_rate);
  EXPECT_EQ(cfgetospeed(&settings), framing.speed_code);
  EXPECT_EQ(cfgetispeed(&settings), framing.speed_code);
}

INSTANTIATE_TEST_SUITE_P(Framings, LineParametersTest, ::testing::ValuesIn(kFramings), FramingName);

// A pseudo-terminal pins itself to 8 bits without parity (PARENB and CSIZE stay as the
// kernel wants them), so over one the rest of the settings and the rate are checked.
class PortSettingsTest : public SerialPortTest, public ::testing::WithParamInterface<FramingCase> {
 protected:
  void SetUp() override {
    SerialPortTest::SetUp();
    termios settings = HostileSettings();
    ASSERT_EQ(ioctl(terminal_.port_fd(), TCSETS, &settings), 0);
  }
};

TEST_P(PortSettingsTest, PortEndsUpRawAtTheRequestedRate) {
  const FramingCase& framing = GetParam();
  auto port = OpenPort(framing.parameters);
  ASSERT_NE(port, nullptr);
  termios settings = terminal_.PortSettings();
  ExpectRawWithoutFlowControl(settings);
  EXPECT_EQ(settings.c_cflag & (PARODD | CMSPAR), framing.parity_flags & (PARODD | CMSPAR));
  EXPECT_EQ((settings.c_cflag & CSTOPB) != 0, framing.two_stop_bits);

  std::optional<BaudRates> rates = ReadBaudRates(terminal_.port_fd());
  ASSERT_TRUE(rates.has_value());
  EXPECT_EQ(rates->output, framing.baud_rate);
  EXPECT_EQ(rates->input, framing.baud_rate);
}

INSTANTIATE_TEST_SUITE_P(Framings, PortSettingsTest, ::testing::ValuesIn(kFramings), FramingName);

TEST(FindInvalidLineParameterTest, NamesWhatCannotBeSet) {
  struct Case {
    LineParameters parameters;
    const char* expected_mention;  // null: valid
  };
  for (const Case& test_case : {
           Case{Line(9600, 4, kParityNone, false), "4 data bits"},
           Case{Line(9600, 9, kParityNone, false), "9 data bits"},
           Case{Line(9600, 8, 5, false), "parity code 5"},
           Case{Line(9600, 8, -1, false), "parity code -1"},
           Case{Line(0, 8, kParityNone, false), "0 baud"},
           Case{Line(9600, 5, kParitySpace, true), nullptr},
           Case{Line(std::nullopt, 8, kParityMark, false), nullptr},
           Case{Line(14400, 7, kParityEven, false), nullptr},
       }) {
    std::optional<std::string> problem = FindInvalidLineParameter(test_case.parameters);
    if (test_case.expected_mention == nullptr) {
      EXPECT_FALSE(problem.has_value()) << *problem;
    } else {
      ASSERT_TRUE(problem.has_value()) << test_case.expected_mention;
      EXPECT_NE(problem->find(test_case.expected_mention), std::string::npos) << *problem;
    }
  }
}

TEST_F(SerialPortTest, KeepsARateWithoutConstantWhenNoRateIsGiven) {
  auto earlier_port = OpenPort(Line(56000, 8, kParityNone, false));
  ASSERT_NE(earlier_port, nullptr);
  earlier_port->Close();
  auto port = OpenPort(Line(std::nullopt, 8, kParityOdd, true));
  ASSERT_NE(port, nullptr);
  std::optional<BaudRates> rates = ReadBaudRates(terminal_.port_fd());
  ASSERT_TRUE(rates.has_value());
  EXPECT_EQ(rates->output, 56000u);
  EXPECT_EQ(rates->input, 56000u);
  // The new framing is set all the same.
  EXPECT_EQ(terminal_.PortSettings().c_cflag & (PARODD | CSTOPB), tcflag_t{PARODD | CSTOPB});
}

TEST_F(SerialPortTest, EveryByteValueArrivesUnchanged) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  std::vector<uint8_t> all_values(256);
  std::iota(all_values.begin(), all_values.end(), 0);
  // CR, LF, NUL, 0xFF and the control characters a cooked terminal acts on, again in a row.
  std::vector<uint8_t> sent = all_values;
  sent.insert(sent.end(), {'\r', '\n', 0x00, 0xFF, 0x03, 0x04, 0x11, 0x13, 0x7F});
  ASSERT_TRUE(terminal_.Send(sent));
  EXPECT_EQ(ReceiveBytes(*port, sent.size()), sent);
}

// A port opened for reading refuses to write, with the reason; one opened for writing sends
// every byte as it is (requests to the device).
TEST_F(SerialPortTest, WritesOnlyWhenOpenedForWriting) {
  OpenResult read_only = driver_->Open(terminal_.path(), {});
  ASSERT_NE(read_only.port, nullptr) << read_only.error.message;
  const std::vector<uint8_t> request = {'P', '\r', 0xFF, 0x00};
  const WriteResult refused = read_only.port->Write(request);
  EXPECT_EQ(refused.count, 0u);
  EXPECT_EQ(refused.error.kind, SerialErrorKind::kUnsupported);
  EXPECT_NE(refused.error.message.find("is open for reading only"), std::string::npos) << refused.error.message;
  read_only.port.reset();

  OpenResult read_write = driver_->Open(terminal_.path(), {}, PortAccess::kReadWrite);
  ASSERT_NE(read_write.port, nullptr) << read_write.error.message;
  const WriteResult sent = read_write.port->Write(request);
  EXPECT_EQ(sent.error.kind, SerialErrorKind::kNone) << sent.error.message;
  EXPECT_EQ(sent.count, request.size());
  EXPECT_EQ(terminal_.ReceiveOnDeviceSide(request.size()), request);
}

TEST_F(SerialPortTest, BytesFromBeforeTheOpenAreDropped) {
  ASSERT_TRUE(terminal_.Send("stale\n"));
  ASSERT_TRUE(WaitReadable(terminal_.port_fd()));
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(terminal_.Send("fresh"));
  EXPECT_EQ(ReceiveBytes(*port, 5), Bytes("fresh"));
}

TEST_F(SerialPortTest, WaitWithDataQueuedReturnsImmediately) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  ASSERT_TRUE(terminal_.Send("queued"));
  ASSERT_TRUE(WaitReadable(terminal_.port_fd()));
  BackgroundCall<WaitResult> wait([&] { return port->WaitForEvent(); }, [&] { port->Wake(); });
  WaitResult result = wait.Get();
  EXPECT_TRUE(IsDataEvent(result, WaitOutcome::kImmediate))
      << "outcome " << static_cast<int>(result.outcome) << ", events " << result.events;
}

TEST_F(SerialPortTest, WaitThatBlocksUntilDataArrivesIsDeferred) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  BackgroundCall<WaitResult> wait([&] { return port->WaitForEvent(); }, [&] { port->Wake(); });
  ASSERT_TRUE(wait.WaitUntilBlockedIn(BlockingCall::kPollWithoutTimeout));
  ASSERT_TRUE(terminal_.Send("x"));
  WaitResult result = wait.Get();
  EXPECT_TRUE(IsDataEvent(result, WaitOutcome::kDeferred))
      << "outcome " << static_cast<int>(result.outcome) << ", events " << result.events;
}

TEST_F(SerialPortTest, ReadWithNothingQueuedReturnsNothingAtOnce) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  std::vector<uint8_t> buffer(kReadChunkSize);
  BackgroundCall<ReadResult> read([&] { return port->Read(buffer); },
                                  [&] { terminal_.Send("unblock"); });
  ReadResult result = read.Get();
  EXPECT_EQ(result.count, 0u);
  EXPECT_FALSE(result.device_gone);
}

TEST_F(SerialPortTest, ReadNeverFillsMoreThanTheBuffer) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  std::vector<uint8_t> sent(100);
  std::iota(sent.begin(), sent.end(), 1);
  ASSERT_TRUE(terminal_.Send(sent));
  ASSERT_TRUE(WaitReadable(terminal_.port_fd()));

  constexpr std::size_t kSmallBuffer = 16;
  constexpr uint8_t kGuard = 0xEE;
  std::vector<uint8_t> storage(kSmallBuffer * 2, kGuard);
  std::vector<uint8_t> received;
  for (int attempt = 0; attempt < 1000 && received.size() < sent.size(); ++attempt) {
    ReadResult result = port->Read(std::span(storage).first(kSmallBuffer));
    ASSERT_FALSE(result.device_gone);
    ASSERT_LE(result.count, kSmallBuffer);
    received.insert(received.end(), storage.begin(), storage.begin() + result.count);
    if (result.count == 0) {
      ASSERT_TRUE(WaitReadable(terminal_.port_fd()));
    }
  }
  EXPECT_EQ(received, sent);
  for (std::size_t i = kSmallBuffer; i < storage.size(); ++i) EXPECT_EQ(storage[i], kGuard);
}

TEST_F(SerialPortTest, ReadIntoAnEmptyBufferIsNotAHangUp) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  ReadResult result = port->Read({});
  EXPECT_EQ(result.count, 0u);
  EXPECT_FALSE(result.device_gone);
}

TEST_F(SerialPortTest, WakeEndsABlockedWaitAndEveryLaterOne) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  {
    BackgroundCall<WaitResult> wait([&] { return port->WaitForEvent(); },
                                    [&] { terminal_.Send("unblock"); });
    ASSERT_TRUE(wait.WaitUntilBlockedIn(BlockingCall::kPollWithoutTimeout));
    std::thread waker([&] { port->Wake(); });
    WaitResult result = wait.Get();
    waker.join();
    EXPECT_EQ(result.outcome, WaitOutcome::kWoken);
    EXPECT_EQ(result.events, 0u);
  }
  // Pending data does not hide the wake-up.
  ASSERT_TRUE(terminal_.Send("data"));
  ASSERT_TRUE(WaitReadable(terminal_.port_fd()));
  for (int i = 0; i < 3; ++i) {
    BackgroundCall<WaitResult> wait([&] { return port->WaitForEvent(); },
                                    [&] { terminal_.CloseDeviceSide(); });
    EXPECT_EQ(wait.Get().outcome, WaitOutcome::kWoken);
  }
}

TEST_F(SerialPortTest, WakeBeforeTheFirstWaitIsKept) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  port->Wake();
  BackgroundCall<WaitResult> wait([&] { return port->WaitForEvent(); },
                                  [&] { terminal_.Send("unblock"); });
  EXPECT_EQ(wait.Get().outcome, WaitOutcome::kWoken);
}

TEST_F(SerialPortTest, DeviceSideClosingEndsTheWaitAndReadsAsGone) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  BackgroundCall<WaitResult> wait([&] { return port->WaitForEvent(); }, [&] { port->Wake(); });
  ASSERT_TRUE(wait.WaitUntilBlockedIn(BlockingCall::kPollWithoutTimeout));
  terminal_.CloseDeviceSide();
  WaitResult result = wait.Get();
  EXPECT_EQ(result.outcome, WaitOutcome::kDeferred);
  EXPECT_NE(result.events & kEventReceived, 0u);

  std::vector<uint8_t> buffer(kReadChunkSize);
  ReadResult read = port->Read(buffer);
  EXPECT_TRUE(read.device_gone);
  EXPECT_EQ(read.count, 0u);
}

TEST_F(SerialPortTest, CloseIsIdempotentAndLeavesThePortReadableAsGone) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  port->Close();
  port->Close();
  port->Wake();
  std::vector<uint8_t> buffer(kReadChunkSize);
  EXPECT_TRUE(port->Read(buffer).device_gone);
  EXPECT_EQ(port->WaitForEvent().outcome, WaitOutcome::kFailed);
}

// A port held by another program is busy; one this program holds already, under the same
// name or another, is said to be this program's own.
TEST_F(SerialPortTest, SecondOpenIsBusyAndSaysWhoHoldsThePortUntilItIsReleased) {
  testing::TemporaryDirectory directory;
  ASSERT_TRUE(directory.ok());
  const std::string& path = terminal_.path();
  const std::string link = directory.File("scanner");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  struct Case {
    const char* holder;
    std::string held_as;  // empty: another program holds the port
    std::string opened_as;
    std::string reason;
  };
  const Case cases[] = {
      {"another program", "", path, path + " is in use by another program"},
      {"this program, same name", path, path, path + " is already open in this program"},
      {"this program, through a link", path, link,
       link + " is already open in this program as " + path + " (the same device)"},
      {"this program, the link first", link, path,
       path + " is already open in this program as " + link + " (the same device)"},
  };
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.holder);
    std::unique_ptr<SerialPort> held;
    int other_program = -1;
    if (test_case.held_as.empty()) {
      other_program = open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
      ASSERT_EQ(flock(other_program, LOCK_EX), 0);
    } else {
      held = driver_->Open(test_case.held_as, {}).port;
      ASSERT_NE(held, nullptr);
    }
    OpenResult second = driver_->Open(test_case.opened_as, {});
    EXPECT_EQ(second.port, nullptr);
    EXPECT_EQ(second.error.kind, SerialErrorKind::kBusy);
    EXPECT_EQ(second.error.message, test_case.reason);

    if (held) held->Close();
    if (other_program >= 0) close(other_program);
    OpenResult after_release = driver_->Open(test_case.opened_as, {});
    EXPECT_NE(after_release.port, nullptr) << after_release.error.message;
  }
}

// A process that makes the pseudo-terminal its controlling terminal, as a shell in a
// terminal window does, until it is ended.
class SessionOnTerminal {
 public:
  explicit SessionOnTerminal(int terminal_fd) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork() and _exit().
      const char attached = setsid() >= 0 && ioctl(terminal_fd, TIOCSCTTY, 0) == 0 ? '1' : '0';
      if (write(ready[1], &attached, 1) == 1) pause();
      _exit(0);
    }
    close(ready[1]);
    char attached = '0';
    attached_ = pid_ > 0 && read(ready[0], &attached, 1) == 1 && attached == '1';
    close(ready[0]);
  }
  SessionOnTerminal(const SessionOnTerminal&) = delete;
  SessionOnTerminal& operator=(const SessionOnTerminal&) = delete;
  ~SessionOnTerminal() { End(); }

  bool attached() const { return attached_; }
  void End() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool attached_ = false;
};

// Reading someone's terminal would take what they type there.
TEST_F(SerialPortTest, ControllingTerminalOfASessionIsRefusedUntilTheSessionEnds) {
  SessionOnTerminal session(terminal_.port_fd());
  ASSERT_TRUE(session.attached());
  OpenResult refused = driver_->Open(terminal_.path(), {});
  EXPECT_EQ(refused.port, nullptr);
  EXPECT_EQ(refused.error.kind, SerialErrorKind::kBusy);
  EXPECT_EQ(refused.error.message,
            terminal_.path() + " is the terminal of a running session (its controlling terminal)");

  session.End();
  EXPECT_NE(OpenPort(), nullptr);
}

TEST_F(SerialPortTest, WakeDuringCloseNeverWritesIntoAReusedDescriptor) {
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  testing::TemporaryDirectory directory;
  ASSERT_TRUE(directory.ok());
  struct HeldWakeUps {
    HeldWakeUps() { hold_wake_ups.store(true); }
    ~HeldWakeUps() {
      hold_wake_ups.store(false);
      release_wake_ups.store(true);
    }
  } held;
  release_wake_ups.store(false);
  held_wake_ups.store(0);
  BackgroundCall<bool> wake(
      [&] {
        port->Wake();
        return true;
      },
      [] { release_wake_ups.store(true); });
  ASSERT_TRUE(Eventually([] { return held_wake_ups.load() == 1; }));

  // The wake-up is on its way while the port closes and a file gets the lowest free number.
  port->Close();
  const int reused = open(directory.File("reused").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(reused, 0);
  release_wake_ups.store(true);
  EXPECT_TRUE(wake.Get());
  struct stat status = {};
  ASSERT_EQ(fstat(reused, &status), 0);
  EXPECT_EQ(status.st_size, 0) << "the wake-up was written into the file";
  close(reused);
}

// The terminal's exclusive flag outlives the port's fd while any other fd holds the
// terminal, and would then lock out everyone but root.
TEST_F(SerialPortTest, TerminalIsExclusiveOnlyWhileThePortIsOpen) {
  auto terminal_is_exclusive = [this] {
    int exclusive = -1;
    EXPECT_EQ(ioctl(terminal_.port_fd(), TIOCGEXCL, &exclusive), 0);
    return exclusive == 1;
  };
  auto port = OpenPort();
  ASSERT_NE(port, nullptr);
  EXPECT_TRUE(terminal_is_exclusive());
  port->Close();
  EXPECT_FALSE(terminal_is_exclusive());
}

TEST_F(SerialPortTest, InvalidFramingIsRejected) {
  struct Case {
    LineParameters parameters;
    const char* why;
  };
  for (const Case& test_case : {
           Case{Line(9600, 4, kParityNone, false), "4 data bits"},
           Case{Line(9600, 9, kParityNone, false), "9 data bits"},
           Case{Line(9600, 8, 5, false), "parity code 5"},
           Case{Line(9600, 8, -1, false), "parity code -1"},
           Case{Line(0, 8, kParityNone, false), "0 baud"},
       }) {
    OpenResult result = driver_->Open(terminal_.path(), test_case.parameters);
    EXPECT_EQ(result.port, nullptr) << test_case.why;
    EXPECT_EQ(result.error.kind, SerialErrorKind::kInvalidArgument) << test_case.why;
    EXPECT_FALSE(result.error.message.empty()) << test_case.why;
  }
  // A refused open leaves the port free.
  EXPECT_NE(OpenPort(), nullptr);
}

TEST(SerialOpenErrorTest, MissingDeviceIsNotFound) {
  testing::TemporaryDirectory directory;
  ASSERT_TRUE(directory.ok());
  std::string path = directory.File("ttyUSB7");
  OpenResult result = MakeSystemSerialDriver()->Open(path, {});
  EXPECT_EQ(result.port, nullptr);
  EXPECT_EQ(result.error.kind, SerialErrorKind::kNotFound);
  EXPECT_EQ(result.error.os_code, ENOENT);
  EXPECT_EQ(result.error.message, path + ": No such file or directory");
}

TEST(SerialOpenErrorTest, EmptyPathIsNotFound) {
  OpenResult result = MakeSystemSerialDriver()->Open("", {});
  EXPECT_EQ(result.port, nullptr);
  EXPECT_EQ(result.error.kind, SerialErrorKind::kNotFound);
}

TEST(SerialOpenErrorTest, FilesThatAreNotTerminalsAndPseudoTerminalMastersAreUnsupported) {
  testing::TemporaryDirectory directory;
  ASSERT_TRUE(directory.ok());
  std::string regular_file = directory.File("not-a-port");
  std::ofstream(regular_file) << "data";
  // A master side reached through /proc opens a new pseudo-terminal too.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  const std::string master_fd_path = "/proc/self/fd/" + std::to_string(master);
  for (const std::string& path : {regular_file, std::string("/dev/null"), directory.File(""),
                                  std::string("/dev/ptmx"), std::string("/dev/pts/ptmx"), master_fd_path}) {
    OpenResult result = MakeSystemSerialDriver()->Open(path, {});
    EXPECT_EQ(result.port, nullptr) << path;
    EXPECT_EQ(result.error.kind, SerialErrorKind::kUnsupported) << path;
    EXPECT_NE(result.error.message.find(path), std::string::npos) << result.error.message;
  }
  close(master);
}

// The watcher over a pipe: a byte in the pipe is a line change, and the read blocks the
// way the modem line ioctl does.
class ModemLineWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(pipe2(pipe_, O_CLOEXEC), 0); }
  void TearDown() override {
    close(pipe_[0]);
    close(pipe_[1]);
  }

  int ReadOneByte() {
    waiting_tid_.store(gettid());
    uint8_t byte = 0;
    ssize_t count = read(pipe_[0], &byte, 1);
    return count == 1 ? 0 : -1;
  }
  void Signal() { ASSERT_EQ(write(pipe_[1], "c", 1), 1); }

  // True once the watcher's thread is blocked reading the pipe.
  bool WaitUntilReading() {
    return Eventually([this] {
      const pid_t tid = waiting_tid_.load();
      return tid != 0 && testing::IsInCall(testing::CurrentSyscall(tid), BlockingCall::kRead);
    });
  }

  bool Stop(ModemLineWatcher& watcher) {
    BackgroundCall<bool> stop(
        [&] {
          watcher.Stop();
          return true;
        },
        [&] { Signal(); });
    return stop.Get();
  }

  int pipe_[2] = {-1, -1};
  std::atomic<pid_t> waiting_tid_{0};
};

TEST_F(ModemLineWatcherTest, EachChangeMakesTheChangeFdReadableUntilConsumed) {
  auto watcher = ModemLineWatcher::Start([this] { return ReadOneByte(); });
  ASSERT_NE(watcher, nullptr);
  EXPECT_FALSE(watcher->ConsumeChanges());
  Signal();
  ASSERT_TRUE(WaitReadable(watcher->ChangeFd()));
  EXPECT_TRUE(watcher->ConsumeChanges());
  EXPECT_FALSE(watcher->ConsumeChanges());
  EXPECT_TRUE(Stop(*watcher));
}

TEST_F(ModemLineWatcherTest, StopInterruptsAWaitThatNothingElseEnds) {
  auto watcher = ModemLineWatcher::Start([this] { return ReadOneByte(); });
  ASSERT_NE(watcher, nullptr);
  // Nothing will be written to the pipe: only Stop()'s signal can end the read.
  ASSERT_TRUE(WaitUntilReading());
  EXPECT_TRUE(Stop(*watcher));
  EXPECT_FALSE(watcher->ConsumeChanges());
}

TEST_F(ModemLineWatcherTest, StopRepeatsTheSignalWhenTheFirstOneIsMissed) {
  std::atomic<int> interruptions{0};
  // Retrying after the first interruption is what a thread does when the signal lands just
  // before it enters the wait: that signal is lost, and only a later one ends the wait.
  auto watcher = ModemLineWatcher::Start([&] {
    while (true) {
      int result = ReadOneByte();
      if (result == 0 || errno != EINTR) return result;
      if (++interruptions >= 2) return result;
    }
  });
  ASSERT_NE(watcher, nullptr);
  ASSERT_TRUE(WaitUntilReading());
  EXPECT_TRUE(Stop(*watcher));
  EXPECT_EQ(interruptions.load(), 2);
}

// Some drivers' waits go back to sleep when a signal interrupts them; stopping must not
// hang on one. The thread is left to end by itself and then touches nothing of the watcher.
TEST_F(ModemLineWatcherTest, StopGivesUpOnAWaitThatSignalsCannotEnd) {
  std::atomic<bool> wait_returned{false};
  auto watcher = ModemLineWatcher::Start([&] {
    while (ReadOneByte() != 0) {
    }
    wait_returned.store(true);
    return 0;
  });
  ASSERT_NE(watcher, nullptr);
  ASSERT_TRUE(WaitUntilReading());
  EXPECT_TRUE(Stop(*watcher));
  watcher.reset();

  Signal();
  EXPECT_TRUE(Eventually([&] { return wait_returned.load(); }));
}

// A wait reports only changes that come while it waits. The device's count of changes is
// taken when the watcher starts and looked at before every wait, so a change that comes
// before the first wait (or between two) is reported all the same.
TEST_F(ModemLineWatcherTest, ChangeCountedWhileNoWaitRanIsReported) {
  std::atomic<uint64_t> changes{0};
  std::atomic<int> looks{0};
  std::atomic<bool> thread_may_look{false};
  auto watcher = ModemLineWatcher::Start([this] { return ReadOneByte(); },
                                         [&]() -> std::optional<uint64_t> {
                                           // The first look is the start's, the second the
                                           // thread's own before its first wait.
                                           if (++looks == 2) Eventually([&] { return thread_may_look.load(); });
                                           return changes.load();
                                         });
  ASSERT_NE(watcher, nullptr);
  changes.store(1);
  thread_may_look.store(true);
  ASSERT_TRUE(WaitReadable(watcher->ChangeFd()));
  EXPECT_TRUE(watcher->ConsumeChanges());
  // A count that stays reports nothing more.
  ASSERT_TRUE(WaitUntilReading());
  EXPECT_FALSE(watcher->ConsumeChanges());
  EXPECT_TRUE(Stop(*watcher));
}

TEST_F(ModemLineWatcherTest, PseudoTerminalsHaveNoModemLinesToWatch) {
  PseudoTerminal terminal;
  ASSERT_TRUE(terminal.ok());
  EXPECT_EQ(ModemLineWatcher::StartForCarrier(terminal.port_fd()), nullptr);
}

}  // namespace
}  // namespace lintrel::platform

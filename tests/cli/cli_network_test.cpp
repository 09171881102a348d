// lintrel-cli against real peers: network ports served by ser2net (RFC 2217) and socat (raw
// TCP), and a polled instrument played on a pseudo-terminal. The protocol rules themselves
// are unit-tested (telnet_test, requester_test); these cases check that the real peers agree.

#include <gtest/gtest.h>
#include <signal.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_process.h"
#include "support/network_peers.h"
#include "support/trace.h"

namespace lintrel::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr char kCliPath[] = LINTREL_CLI_PATH;
constexpr char kPtyShimPath[] = LINTREL_PTY_SHIM_PATH;

std::string Rfc2217(int port) { return "rfc2217://127.0.0.1:" + std::to_string(port); }
std::string Tcp(int port) { return "tcp://127.0.0.1:" + std::to_string(port); }

std::string StatusLine(const std::string& text) { return "lintrel: " + text + "\n"; }

// How many of the program's status lines say `text`.
std::size_t ErrCount(const ChildProcess& cli, const std::string& text) {
  const std::vector<std::string> lines = cli.ErrLines();
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), "lintrel: " + text));
}

class CliNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_.ok());
    ASSERT_TRUE(pair_.ok());
    port_ = FreeLoopbackPort();
    ASSERT_NE(port_, 0);
  }

  std::unique_ptr<ChildProcess> Ser2net() {
    // The shim gives the pseudo-terminal a carrier line that the test switches (car<N>).
    std::unique_ptr<ChildProcess> ser2net =
        StartSer2net(pair_.port_path(), port_, {"LD_PRELOAD=" + std::string(kPtyShimPath),
                                                "PTYSHIM_DIR=" + directory_.path()});
    EXPECT_NE(ser2net, nullptr);
    return ser2net;
  }

  void SetCarrier(bool present) {
    std::ofstream(directory_.File("car" + std::to_string(pair_.PortPtyNumber()))) << (present ? "1" : "0");
  }

  TemporaryDirectory directory_;
  PtyPair pair_{directory_.path()};
  int port_ = 0;
};

TEST_F(CliNetworkTest, Rfc2217SetsTheLineOnTheServerTypesItsLinesAndSurvivesItsRestartAndCarrierDrop) {
  std::unique_ptr<ChildProcess> ser2net = Ser2net();
  ASSERT_NE(ser2net, nullptr);
  ChildProcess cli(kCliPath, CliArgs({"--port", "COM5=" + Rfc2217(port_), "--baud", "19200",
                                      "--stop-bits", "2", "--encoding", "latin-1"}));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM5 connected (" + Rfc2217(port_) + ")"))) << cli.Describe();

  // The line settings arrive through ser2net on the pseudo-terminal. Linux refuses 7 data bits
  // and parity on a pty, so those two are checked where they are encoded (Rfc2217SessionTest).
  ASSERT_TRUE(cli.WaitUntil([&] {
    const std::optional<termios> settings = pair_.PortSettings();
    return settings && cfgetospeed(&*settings) == B19200 && (settings->c_cflag & CSTOPB);
  })) << "the port side is not at 19200 baud with 2 stop bits";

  // A 0xFF data byte arrives as itself (ser2net doubles it, Lintrel undoes that).
  const std::string line = "W1\xFF\r";
  ASSERT_TRUE(pair_.Write(line));
  const std::string expected = ExpectedTrace(line);
  ASSERT_TRUE(cli.WaitUntil([&] { return cli.out() == expected; })) << cli.Describe();

  // The device server goes away and comes back: a lost link, re-opened.
  ser2net.reset();
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM5 link lost: connection to 127.0.0.1:" + std::to_string(port_) +
                                        " lost: the device server closed the connection; reconnecting in 500 ms")))
      << cli.Describe();
  ASSERT_TRUE(cli.WaitForErr(" reconnection failed: cannot connect to 127.0.0.1:" + std::to_string(port_)))
      << cli.Describe();
  ser2net = Ser2net();
  ASSERT_NE(ser2net, nullptr);
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM5 reconnected: connected (" + Rfc2217(port_) + ")"))) << cli.Describe();

  // The device's carrier drops on the far side and comes back: as on a local port, the two
  // changes make a lost link. ser2net looks at the modem lines once a second: the test lets
  // its first notice (the level the changes count from) arrive, and makes the drop longer.
  cli.DrainFor(milliseconds(1500));
  SetCarrier(false);
  cli.DrainFor(milliseconds(1500));
  SetCarrier(true);
  ASSERT_TRUE(cli.WaitUntil([&] { return ErrCount(cli, "COM5 link lost; reconnecting in 500 ms") == 1; }))
      << cli.Describe();
  ASSERT_TRUE(cli.WaitUntil([&] { return ErrCount(cli, "COM5 reconnected: connected (" + Rfc2217(port_) + ")") == 2; }))
      << cli.Describe();
  ASSERT_TRUE(pair_.Write("2\r"));
  ASSERT_TRUE(cli.WaitUntil([&] { return cli.out() == expected + ExpectedTrace("2\r"); })) << cli.Describe();
  ExpectStopsCleanly(cli);
}

TEST_F(CliNetworkTest, RawTcpTypesThePeersLinesAndReconnectsAfterAReset) {
  // The peer sends a line, then dies and the system resets the connection; nothing listens
  // afterwards.
  std::unique_ptr<ChildProcess> peer = StartTcpPeer(port_, "printf '42\\r'; sleep 30");
  ASSERT_NE(peer, nullptr);
  ChildProcess cli(kCliPath, CliArgs({"--port", "COM6=" + Tcp(port_)}));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM6 connected (" + Tcp(port_) + ")"))) << cli.Describe();
  ASSERT_TRUE(cli.WaitUntil([&] { return cli.out() == ExpectedTrace("42\r"); })) << cli.Describe();
  ASSERT_TRUE(peer->Signal(SIGKILL));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM6 link lost: connection to 127.0.0.1:" + std::to_string(port_) +
                                        " lost: Connection reset by peer; reconnecting in 500 ms")))
      << cli.Describe();
  ASSERT_TRUE(cli.WaitForErr("COM6 reconnection failed: cannot connect to 127.0.0.1:" + std::to_string(port_) +
                             ": Connection refused (retrying every second)"))
      << cli.Describe();

  peer = StartTcpPeer(port_, "printf '43\\r'; sleep 30");
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM6 reconnected: connected (" + Tcp(port_) + ")"))) << cli.Describe();
  ASSERT_TRUE(cli.WaitUntil([&] { return cli.out() == ExpectedTrace("42\r43\r"); })) << cli.Describe();
  ExpectStopsCleanly(cli);
}

TEST_F(CliNetworkTest, PeerThatAcceptsAndNeverSendsIsWaitedOnQuietlyAndReleasedAtStop) {
  std::unique_ptr<ChildProcess> peer = StartTcpPeer(port_, "sleep 30");
  ASSERT_NE(peer, nullptr);
  ChildProcess cli(kCliPath, CliArgs({"--port", "COM7=" + Tcp(port_)}));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM7 connected (" + Tcp(port_) + ")"))) << cli.Describe();
  const std::optional<milliseconds> cpu_before = cli.CpuTime();
  cli.DrainFor(milliseconds(1000));
  const std::optional<milliseconds> cpu_after = cli.CpuTime();
  ASSERT_TRUE(cpu_before && cpu_after);
  EXPECT_LT((*cpu_after - *cpu_before).count(), 300) << "the wait for data must not be a busy loop";
  EXPECT_EQ(cli.out(), "");
  EXPECT_EQ(cli.ErrLines().size(), 1u) << cli.Describe();
  ExpectStopsCleanly(cli);
}

// A scale on the pseudo-terminal: answers each `request` with `answer(n)` for the n-th one
// (the first is 0) while `answering`, and notes when each came.
class Scale {
 public:
  using Answer = std::function<std::string(std::size_t)>;
  explicit Scale(const PtyPair& pair, std::string request = "P\r",
                 Answer answer = [](std::size_t) { return "  12.50 kg\r"; })
      : pair_(pair), request_(std::move(request)), answer_(std::move(answer)), thread_([this] { Run(); }) {}
  ~Scale() {
    stop_ = true;
    thread_.join();
  }
  void SetAnswering(bool answering) { answering_ = answering; }
  std::vector<Clock::time_point> Polls() const {
    std::lock_guard lock(mutex_);
    return polls_;
  }
  std::size_t PollCount() const { return Polls().size(); }

 private:
  void Run() {
    std::string received;
    while (!stop_) {
      pollfd ready = {.fd = pair_.device_fd(), .events = POLLIN, .revents = 0};
      if (poll(&ready, 1, 20) != 1) continue;
      char buffer[64];
      const ssize_t count = read(pair_.device_fd(), buffer, sizeof buffer);
      if (count <= 0) return;
      received.append(buffer, static_cast<std::size_t>(count));
      for (std::size_t end = received.find(request_); end != std::string::npos; end = received.find(request_)) {
        received.erase(0, end + request_.size());
        std::size_t index = 0;
        {
          std::lock_guard lock(mutex_);
          index = polls_.size();
          polls_.push_back(Clock::now());
        }
        if (answering_) pair_.Write(answer_(index));
      }
    }
  }

  const PtyPair& pair_;
  const std::string request_;
  const Answer answer_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> answering_{true};
  mutable std::mutex mutex_;
  std::vector<Clock::time_point> polls_;
  std::thread thread_;
};

TEST_F(CliNetworkTest, PolledScaleIsAskedOnItsBeatAndAMissingReplyIsToldOnce) {
  Scale scale(pair_);
  ChildProcess cli(kCliPath, CliArgs({"--port", "COM8=" + pair_.port_path(), "--send-on-connect", "P\\r",
                                      "--poll", "P\\r", "--poll-every", "300", "--reply-timeout", "250"}));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM8 connected (" + pair_.port_path() + ")"))) << cli.Describe();
  const std::string weight = ExpectedTrace("  12.50 kg\r");
  // The text on connect, then five polls: each answered and typed.
  ASSERT_TRUE(cli.WaitUntil([&] { return scale.PollCount() >= 6 && cli.out().size() >= 6 * weight.size(); }))
      << cli.Describe();

  // The timer keeps a 300 ms grid from the first poll (sent 300 ms after the text on
  // connect); each poll within 150 ms of its place on it, however the machine is loaded.
  const std::vector<Clock::time_point> polls = scale.Polls();
  for (std::size_t i = 2; i < 6; ++i) {
    const auto offset = std::chrono::duration_cast<milliseconds>(polls[i] - polls[1]) - milliseconds(300 * (i - 1));
    EXPECT_LT(std::abs(offset.count()), 150) << "poll " << i;
  }

  // The scale stops answering: told once, however many polls go unanswered.
  scale.SetAnswering(false);
  const std::size_t polls_before = scale.PollCount();
  ASSERT_TRUE(cli.WaitUntil([&] { return scale.PollCount() >= polls_before + 5; })) << cli.Describe();
  EXPECT_EQ(ErrCount(cli, "COM8: no reply to the poll"), 1u) << cli.Describe();

  // An answer clears it; the next silence is told again.
  scale.SetAnswering(true);
  ASSERT_TRUE(cli.WaitUntil([&] { return scale.PollCount() >= polls_before + 7; })) << cli.Describe();
  scale.SetAnswering(false);
  ASSERT_TRUE(cli.WaitUntil([&] { return ErrCount(cli, "COM8: no reply to the poll") == 2; })) << cli.Describe();
  ExpectStopsCleanly(cli);
}

TEST_F(CliNetworkTest, Sigusr1SendsThePollAtOnceToAPortWithoutATimer) {
  Scale scale(pair_);
  ChildProcess cli(kCliPath, CliArgs({"--port", "COM9=" + pair_.port_path(), "--poll", "P\\r"}));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM9 connected (" + pair_.port_path() + ")"))) << cli.Describe();
  cli.DrainFor(milliseconds(300));
  EXPECT_EQ(scale.PollCount(), 0u) << "no timer, no text on connect: nothing sent unasked";
  ASSERT_TRUE(cli.Signal(SIGUSR1));
  ASSERT_TRUE(cli.WaitUntil([&] { return cli.out() == ExpectedTrace("  12.50 kg\r"); })) << cli.Describe();
  ASSERT_TRUE(cli.Signal(SIGUSR1));
  ASSERT_TRUE(cli.WaitUntil([&] { return scale.PollCount() == 2; })) << cli.Describe();
  ExpectStopsCleanly(cli);
}

// The ready MT-SICS profile against a balance that settles: only the stable weight is
// typed, and only once however often it is asked for.
TEST_F(CliNetworkTest, MtSicsProfileTypesTheStableWeightOnce) {
  Scale balance(pair_, "SI\r\n", [](std::size_t poll) {
    return std::string(poll < 2 ? "S D      3.10 g\r\n" : poll == 2 ? "S I\r\n" : "S S     12.50 g\r\n");
  });
  ChildProcess cli(kCliPath, CliArgs({"--port", "COM4=" + pair_.port_path(), "--profile",
                                      std::string(LINTREL_PROFILES_DIR) + "/mt-sics.txt"}));
  ASSERT_TRUE(cli.WaitForErr(StatusLine("COM4 connected (" + pair_.port_path() + ")"))) << cli.Describe();
  ASSERT_TRUE(cli.WaitUntil([&] { return balance.PollCount() >= 7; })) << cli.Describe();
  EXPECT_EQ(cli.out(), ExpectedTrace("12.50\r"));
  EXPECT_EQ(cli.ErrLines().size(), 1u) << cli.Describe();
  ExpectStopsCleanly(cli);
}

}  // namespace
}  // namespace lintrel::testing

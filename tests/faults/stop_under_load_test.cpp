// lintrel-cli stopped by SIGTERM while every one of its ports is flooded.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults/fault_support.h"
#include "platform/serial_port.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

struct FloodedPort {
  int port_number;
  std::string link;
  std::unique_ptr<platform::VirtualSerialDevice> device;
  std::unique_ptr<WindowedSender> sender;
};

TEST(StopUnderLoadTest, StopSignalDuringAFloodOnEveryPortCutsNoLineAndReleasesEveryPort) {
  constexpr std::size_t kFloodPerPort = 1024 * 1024;
  constexpr std::size_t kDigitsPerLine = LineBuffer::kCapacity - 5;  // after "COMn:"
  // Enough typed on every port that all readers are busy when the signal comes.
  constexpr std::size_t kLinesBeforeStop = 20;
  TemporaryDirectory directory;
  ASSERT_TRUE(directory.ok());

  std::vector<FloodedPort> ports;
  std::map<int, std::string> sent;
  std::vector<std::string> args = {"--prefix"};
  for (const int port_number : {1, 2, 7}) {
    FloodedPort port{.port_number = port_number,
                     .link = directory.File("COM" + std::to_string(port_number)),
                     .device = nullptr,
                     .sender = nullptr};
    port.device = MakeDevice(port.link);
    ASSERT_NE(port.device, nullptr);
    sent[port_number] = RandomDigits(kFloodPerPort, static_cast<uint32_t>(port_number));
    port.sender = std::make_unique<WindowedSender>(*port.device, sent[port_number]);
    args.insert(args.end(), {"--port", PortArg(port_number, port.link)});
    ports.push_back(std::move(port));
  }
  ChildProcess cli(kCliPath, CliArgs(args));
  ASSERT_TRUE(cli.started());
  for (const FloodedPort& port : ports) {
    ASSERT_TRUE(cli.WaitForErr(Connected(port.port_number, port.link))) << cli.Describe();
  }

  // Every line is full and whole, and each port's lines are its digits in the order sent.
  TraceDecoder decoder;
  FullLineChecker checker(sent);
  cli.StreamOutTo([&](std::string_view chunk) {
    decoder.Feed(chunk);
    checker.Check(decoder.text());
  });
  bool write_failed = false;
  const auto keep_sending = [&] {
    for (FloodedPort& port : ports) {
      write_failed = write_failed || !port.sender->SendAhead(checker.typed(port.port_number));
    }
  };
  const auto typed_in_all = [&] {
    std::size_t total = 0;
    for (const FloodedPort& port : ports) total += checker.typed(port.port_number);
    return total;
  };
  const auto busy_everywhere = [&] {
    keep_sending();
    bool enough = true;
    for (const FloodedPort& port : ports) {
      enough = enough && checker.typed(port.port_number) >= kLinesBeforeStop * kDigitsPerLine;
    }
    return enough || write_failed || !checker.error().empty() || !decoder.error().empty();
  };
  ASSERT_TRUE(WaitWhileProgressing(cli, busy_everywhere, typed_in_all)) << cli.Describe();
  ASSERT_FALSE(write_failed);
  for (const FloodedPort& port : ports) EXPECT_FALSE(port.sender->done()) << "flood too short";

  ASSERT_TRUE(cli.Signal(SIGTERM));
  // The devices go on sending while the program stops; WaitUntil gives up once it has
  // exited.
  cli.WaitUntil([&] {
    keep_sending();
    return false;
  });
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << cli.Describe();
  ExpectStatusCountsTheLinesNotTyped(cli, *status);
  EXPECT_NE(cli.err().find("lintrel: stopping\n"), std::string::npos) << cli.err();
  EXPECT_FALSE(write_failed);
  EXPECT_EQ(decoder.error(), "");
  EXPECT_EQ(checker.error(), "");
  // No line was cut short by the stop.
  EXPECT_EQ(decoder.text().size(), checker.lines() * LineBuffer::kCapacity);

  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  for (const FloodedPort& port : ports) {
    platform::OpenResult reopened = driver->Open(port.link, {});
    EXPECT_NE(reopened.port, nullptr) << "COM" << port.port_number
                                      << " not released: " << reopened.error.message;
  }
}

}  // namespace
}  // namespace lintrel::testing

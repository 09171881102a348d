// lintrel-cli losing its device: unplugged and plugged back again and again, unplugged in
// the middle of a line, and plugged back while another program holds the port.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "faults/fault_support.h"
#include "platform/serial_port.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

using std::chrono::milliseconds;

constexpr int kPort = 3;
constexpr char kLinkLost[] = "lintrel: COM3 link lost; reconnecting in 500 ms\n";
constexpr char kRetryFailed[] = "lintrel: COM3 reconnection failed: ";

// The text a trace types, or a note of what is wrong with it.
std::string TypedText(const ChildProcess& cli) {
  TraceDecoder decoder;
  decoder.Feed(cli.out());
  return decoder.error().empty() ? decoder.text() : "(bad trace: " + decoder.error() + ")";
}

class DeviceLossTest : public OneDeviceTest {
 protected:
  std::string Reconnected() const {
    return "lintrel: COM3 reconnected: connected (" + link_ + ")\n";
  }

  std::size_t CountInErr(const ChildProcess& cli, const std::string& text) const {
    return Occurrences(cli.err(), text);
  }

  // Takes the device away until the program has seen it go (the `round`-th time), and,
  // when asked, until a re-open has failed for want of it; then plugs it back in and waits
  // for the reconnection.
  void UnplugAndPlugBack(ChildProcess& cli, std::size_t round, bool until_a_retry_fails) {
    const std::size_t failed_retries = CountInErr(cli, kRetryFailed);
    device_->Unplug();
    ASSERT_TRUE(cli.WaitUntil([&] { return CountInErr(cli, kLinkLost) >= round; }))
        << "round " << round << cli.Describe();
    if (until_a_retry_fails) {
      ASSERT_TRUE(cli.WaitUntil([&] { return CountInErr(cli, kRetryFailed) > failed_retries; }))
          << "round " << round << cli.Describe();
    }
    std::string error;
    ASSERT_TRUE(device_->Plug(&error)) << error;
    ASSERT_TRUE(cli.WaitUntil([&] { return CountInErr(cli, Reconnected()) >= round; }))
        << "round " << round << cli.Describe();
  }
};

TEST_F(DeviceLossTest, ReconnectsEveryTimeWithoutLeakingThreadsOrDescriptors) {
  constexpr std::size_t kRounds = 50;
  // Some rounds plug back only after a re-open has failed, to go through the retries too.
  constexpr std::size_t kRetryEvery = 10;
  ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(kPort, link_)}));
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(kPort, link_))) << cli.Describe();
  std::string expected = "0\r";
  ASSERT_TRUE(Send(*device_, expected));
  ASSERT_TRUE(cli.WaitUntil([&] { return TypedText(cli) == expected; })) << cli.Describe();
  const std::optional<std::size_t> threads_before = cli.ThreadCount();
  const std::optional<std::size_t> descriptors_before = cli.DescriptorCount();
  ASSERT_TRUE(threads_before.has_value() && descriptors_before.has_value());

  for (std::size_t round = 1; round <= kRounds; ++round) {
    ASSERT_NO_FATAL_FAILURE(UnplugAndPlugBack(cli, round, round % kRetryEvery == 0));
    const std::string line = std::to_string(round) + "\r";
    ASSERT_TRUE(Send(*device_, line));
    expected += line;
    ASSERT_TRUE(cli.WaitUntil([&] { return TypedText(cli) == expected; }))
        << "round " << round << ": typed \"" << TypedText(cli) << "\"" << cli.Describe();
  }

  // A reader of an earlier round that has not quite ended yet would count once more.
  cli.WaitUntil([&] {
    return cli.ThreadCount() == threads_before && cli.DescriptorCount() == descriptors_before;
  });
  EXPECT_EQ(cli.ThreadCount(), threads_before) << "threads after " << kRounds << " reconnections";
  EXPECT_EQ(cli.DescriptorCount(), descriptors_before)
      << "descriptors after " << kRounds << " reconnections";
  EXPECT_EQ(CountInErr(cli, kLinkLost), kRounds) << cli.Describe();
  ExpectStopsCleanly(cli);
}

struct HalfLineCase {
  const char* name;
  std::vector<std::string> options;
  std::string half_line;   // sent before the unplug, without an end character
  std::string next_line;   // sent after the reconnection
  std::string typed;       // all that may be typed
};

TEST_F(DeviceLossTest, LineHalfReceivedWhenTheDeviceGoesIsNotTyped) {
  const std::vector<HalfLineCase> cases = {
      {"short line", {}, "12", "34\r", "34\r"},
      // One character short of a full line: were it kept, the next line would overflow it.
      {"prefixed line one short of full",
       {"--prefix", "--truncate"},
       RandomDigits(LineBuffer::kCapacity - 1 - 5, 7),
       "56\r",
       "COM3:56"},
  };
  for (const HalfLineCase& test : cases) {
    SCOPED_TRACE(test.name);
    std::vector<std::string> args = {"--port", PortArg(kPort, link_)};
    args.insert(args.end(), test.options.begin(), test.options.end());
    ChildProcess cli(kCliPath, CliArgs(args));
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.WaitForErr(Connected(kPort, link_))) << cli.Describe();

    ASSERT_TRUE(Send(*device_, test.half_line));
    // Time for the program to read the half line; if it has not, the case proves less but
    // still holds.
    cli.DrainFor(milliseconds(200));
    ASSERT_NO_FATAL_FAILURE(UnplugAndPlugBack(cli, 1, false));
    ASSERT_TRUE(Send(*device_, test.next_line));
    ASSERT_TRUE(cli.WaitUntil([&] { return !TypedText(cli).empty(); })) << cli.Describe();
    // Ending the program first shows that nothing more was typed afterwards.
    ExpectStopsCleanly(cli);
    EXPECT_EQ(TypedText(cli), test.typed);
  }
}

TEST_F(DeviceLossTest, PortHeldByAnotherProgramWhenPluggedBackIsWaitedForQuietly) {
  ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(kPort, link_)}));
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(kPort, link_))) << cli.Describe();

  // Another program takes the port between the device's return and the program's next
  // re-open. Plugging back just after a failed retry leaves it most of a second to do so;
  // should the program still come first, try again.
  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  platform::OpenResult holder;
  for (std::size_t attempt = 1; attempt <= 3 && holder.port == nullptr; ++attempt) {
    const std::size_t failed_retries = CountInErr(cli, kRetryFailed);
    device_->Unplug();
    ASSERT_TRUE(cli.WaitUntil([&] { return CountInErr(cli, kRetryFailed) > failed_retries; }))
        << cli.Describe();
    std::string error;
    ASSERT_TRUE(device_->Plug(&error)) << error;
    holder = driver->Open(link_, {});
    if (holder.port == nullptr) {
      ASSERT_TRUE(cli.WaitUntil([&] { return CountInErr(cli, Reconnected()) >= attempt; }))
          << holder.error.message << cli.Describe();
    }
  }
  ASSERT_NE(holder.port, nullptr) << "the program re-opened the port first every time";

  const std::string busy = std::string(kRetryFailed) + link_ +
                           " is in use by another program (retrying every second)\n";
  ASSERT_TRUE(cli.WaitForErr(busy)) << cli.Describe();
  ASSERT_TRUE(Send(*device_, "ABC"));
  const std::optional<milliseconds> cpu_before = cli.CpuTime();
  // Two more retries or so.
  cli.DrainFor(milliseconds(2000));
  const std::optional<milliseconds> cpu_after = cli.CpuTime();
  ASSERT_TRUE(cpu_before.has_value() && cpu_after.has_value());
  EXPECT_LT((*cpu_after - *cpu_before).count(), 500) << "CPU time while the port was held";
  EXPECT_EQ(CountInErr(cli, busy), 1u) << "the same reason again at every retry" << cli.Describe();
  // The failed opens left the other program's data alone.
  const std::vector<uint8_t> held = ReceiveBytes(*holder.port, 3);
  EXPECT_EQ(std::string(held.begin(), held.end()), "ABC");

  const std::size_t reconnections = CountInErr(cli, Reconnected());
  holder.port.reset();
  ASSERT_TRUE(cli.WaitUntil([&] { return CountInErr(cli, Reconnected()) > reconnections; }))
      << cli.Describe();
  ASSERT_TRUE(Send(*device_, "7\r"));
  ASSERT_TRUE(cli.WaitUntil([&] { return TypedText(cli) == "7\r"; }))
      << "typed \"" << TypedText(cli) << "\"" << cli.Describe();
  ExpectStopsCleanly(cli);
}

}  // namespace
}  // namespace lintrel::testing

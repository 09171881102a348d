// lintrel-cli fed what no scanner should send: a flood of megabytes that never ends a line,
// and random bytes of every value, NUL and 0x80..0xFF included.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "faults/fault_support.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(directory_.ok()); }

  TemporaryDirectory directory_;
};

TEST_F(HostileInputTest, FloodWithoutEndCharacterIsTypedInFullLinesWithNothingLost) {
  constexpr std::size_t kFlood = 10 * 1024 * 1024;
  constexpr std::size_t kPrefix = 5;  // "COM1:"
  constexpr std::size_t kDigitsPerLine = LineBuffer::kCapacity - kPrefix;
  const std::string link = directory_.File("flood");
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);
  // The prefix marks where each line begins in the trace.
  ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(1, link), "--prefix"}));
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(1, link))) << cli.Describe();

  const std::string data = RandomDigits(kFlood, 1);
  TraceDecoder decoder;
  FullLineChecker checker({{1, data}});
  cli.StreamOutTo([&](std::string_view chunk) {
    decoder.Feed(chunk);
    checker.Check(decoder.text());
  });
  WindowedSender sender(*device, data);
  bool write_failed = false;
  const auto typed = [&] { return checker.typed(1); };
  const auto broken = [&] {
    return write_failed || !decoder.error().empty() || !checker.error().empty();
  };
  // Everything but the last, unfinished line comes out in full lines.
  const std::size_t full_lines = kFlood / kDigitsPerLine;
  const auto all_full_lines_typed = [&] {
    write_failed = write_failed || !sender.SendAhead(typed());
    return broken() || checker.lines() == full_lines;
  };
  ASSERT_TRUE(WaitWhileProgressing(cli, all_full_lines_typed, typed))
      << typed() << " of " << kFlood << " typed" << cli.Describe();
  ASSERT_FALSE(write_failed);
  ASSERT_EQ(decoder.error(), "");
  ASSERT_EQ(checker.error(), "");
  EXPECT_TRUE(sender.done());

  // The end character finishes the rest.
  const std::string rest = data.substr(typed());
  ASSERT_TRUE(Send(*device, "\r"));
  const std::size_t expected_size = full_lines * LineBuffer::kCapacity + kPrefix + rest.size() + 1;
  ASSERT_TRUE(cli.WaitUntil([&] { return decoder.text().size() >= expected_size; }))
      << decoder.text().size() << " of " << expected_size << " characters typed";
  EXPECT_EQ(decoder.text().size(), expected_size);
  EXPECT_EQ(decoder.text().substr(full_lines * LineBuffer::kCapacity), "COM1:" + rest + "\r");
  ExpectStopsCleanly(cli);
}

TEST_F(HostileInputTest, EveryByteValueIsTypedAsItsKeyOrItsCharacter) {
  constexpr std::size_t kBatches = 32;
  constexpr std::size_t kBatchSize = 8 * 1024;
  constexpr std::size_t kLongestWrite = 1500;
  const std::string link = directory_.File("noise");
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);
  // Latin-1: every byte is a character of its own.
  ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(2, link), "--encoding", "latin-1"}));
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(2, link))) << cli.Describe();

  std::mt19937 random(2);
  std::string expected_trace;
  for (std::size_t batch = 0; batch < kBatches; ++batch) {
    // Random bytes in writes of random length; the first batch opens with every value in
    // order. A carriage return of its own closes each batch, so that all of it is typed.
    std::string bytes(kBatchSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<char>(batch == 0 && i < 256 ? i : random() % 256);
    }
    for (std::size_t at = 0; at < bytes.size();) {
      const std::size_t length =
          std::min<std::size_t>(1 + random() % kLongestWrite, bytes.size() - at);
      ASSERT_TRUE(Send(*device, bytes.substr(at, length)));
      at += length;
    }
    ASSERT_TRUE(Send(*device, "\r"));
    bytes += '\r';
    expected_trace += ExpectedTrace(bytes);
    ASSERT_TRUE(cli.WaitUntil([&] { return cli.out().size() >= expected_trace.size(); }))
        << "batch " << batch << ": " << cli.out().size() << " of " << expected_trace.size()
        << " trace characters" << cli.Describe();
    ASSERT_EQ(cli.out().size(), expected_trace.size()) << "batch " << batch;
    ASSERT_TRUE(cli.out() == expected_trace)
        << "batch " << batch << ": the trace differs from character "
        << std::mismatch(cli.out().begin(), cli.out().end(), expected_trace.begin()).first -
               cli.out().begin();
  }
  // 0xA0..0xFF have no key on the US layout: typed as characters, after the C1 controls,
  // which type nothing.
  EXPECT_NE(cli.out().find("down 0x08\nup 0x08\ndown U+00A0\nup U+00A0\n"), std::string::npos);
  ExpectStopsCleanly(cli);
}

}  // namespace
}  // namespace lintrel::testing

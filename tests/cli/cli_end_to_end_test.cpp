// lintrel-cli run as a separate process against pseudo-terminal devices: what it types (the
// trace keyboard's key events on standard output), what it reports (status lines on standard
// error) and how it ends.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/cli_process.h"
#include "platform/serial_port.h"
#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

using std::chrono::milliseconds;

constexpr char kCliPath[] = LINTREL_CLI_PATH;
// Between two writes that must reach the program as two separate reads.
constexpr milliseconds kPauseBetweenReads(150);

std::vector<std::string> Concat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const std::vector<std::string>& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The text a trace types, read back by the shared decoder; fails the test when the trace
// is anything but whole key presses.
std::string TypedText(const std::vector<std::string>& trace_lines) {
  TraceDecoder decoder;
  decoder.Feed(JoinLines(trace_lines));
  EXPECT_EQ(decoder.error(), "");
  EXPECT_TRUE(decoder.BetweenPresses()) << "the trace ends in the middle of a key press";
  return decoder.text();
}

// How many trace lines typing `text` (of the decoder's alphabet) takes.
std::size_t TraceLength(const std::string& text) {
  std::size_t lines = 0;
  const std::string_view shifted = "~!@#$%^&*()_+{}|:\"<>?";
  for (char c : text) lines += ((c >= 'A' && c <= 'Z') || shifted.find(c) != std::string_view::npos) ? 4 : 2;
  return lines;
}

class CliEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(directory_.ok()); }

  std::string Link(const std::string& name) const { return directory_.File(name); }

  TemporaryDirectory directory_;
};

// One write to the device, then either a wait until the trace has `trace_lines_after` lines,
// or (when that is 0) a pause so that the next write arrives as a read of its own.
struct Step {
  std::string bytes;
  std::size_t trace_lines_after = 0;
};

struct TypingCase {
  const char* name;
  std::vector<std::string> options;
  int port_number;
  std::vector<Step> steps;
  std::vector<std::string> expected_trace;
};

std::vector<TypingCase> TypingCases() {
  const std::vector<std::string> enter = Press(0x0D);
  const std::vector<std::string> com7_prefix =
      Concat({ShiftPress('C'), ShiftPress('O'), ShiftPress('M'), Press('7'), ShiftPress(0xBA)});
  std::vector<std::string> full_line;
  for (std::size_t i = 0; i < 1023; ++i) {
    for (std::string& event : Press('5')) full_line.push_back(event);
  }

  return {
      {"whole line",
       {},
       1,
       {{"Ab\r", 8}},
       {"down 0x10", "down 0x41", "up 0x41", "up 0x10", "down 0x42", "up 0x42", "down 0x0D",
        "up 0x0D"}},
      // Prefixed, so that a line wrongly ended after the first read would show as two.
      {"line over two reads, prefixed",
       {"--prefix"},
       7,
       {{"AB", 0}, {"\r", 18}},
       Concat({com7_prefix, ShiftPress('A'), ShiftPress('B'), enter})},
      {"truncate drops the end character",
       {"--truncate"},
       1,
       {{"Ab\r", 6}},
       Concat({ShiftPress('A'), Press('B')})},
      // A read ending with CR does not end the line when the end character is ETX.
      {"end character 0x03",
       {"--end-char", "0x03"},
       1,
       {{"A\r", 0}, {"B\x03", 12}},
       // ETX kept types the key of Ctrl+C, bare.
       Concat({ShiftPress('A'), enter, ShiftPress('B'), Press('C')})},
      {"end character 0x03, truncated",
       {"--end-char", "0x03", "--truncate"},
       1,
       {{"7\x03", 2}},
       Press('7')},
      // The full line must be typed (and flushed) before its end character is sent.
      {"a line ends at 1023 characters",
       {},
       1,
       {{std::string(1023, '5'), 2046}, {"\r", 2048}},
       Concat({full_line, enter})},
  };
}

TEST_F(CliEndToEndTest, TypesEachLineAsTheLineRulesSay) {
  for (const TypingCase& test : TypingCases()) {
    SCOPED_TRACE(test.name);
    const std::string link = Link("typing-" + std::to_string(test.port_number));
    std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
    ASSERT_NE(device, nullptr);
    std::vector<std::string> args = {"--port", PortArg(test.port_number, link)};
    args.insert(args.end(), test.options.begin(), test.options.end());
    ChildProcess cli(kCliPath, CliArgs(args));
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.WaitForErr(Connected(test.port_number, link))) << cli.Describe();

    for (const Step& step : test.steps) {
      ASSERT_TRUE(Send(*device, step.bytes));
      if (step.trace_lines_after == 0) {
        cli.DrainFor(kPauseBetweenReads);
      } else {
        ASSERT_TRUE(cli.WaitForOutLines(step.trace_lines_after)) << cli.Describe();
      }
    }
    // Ending the program first shows that nothing more was typed afterwards.
    ASSERT_TRUE(cli.Signal(SIGTERM));
    const std::optional<ExitStatus> status = cli.WaitForExit();
    ASSERT_TRUE(status.has_value()) << cli.Describe();
    EXPECT_TRUE(status->exited && status->code == 0) << cli.Describe();
    EXPECT_EQ(cli.out(), JoinLines(test.expected_trace));
  }
}

struct Scanner {
  int port_number;
  char tag;  // the letter every line of this port begins with
  std::unique_ptr<platform::VirtualSerialDevice> device;
  std::string link;
};

// The n-th line a port sends: its letter, n in three digits, then n % 11 more of its letter.
std::string ScanLine(char tag, int sequence) {
  char number[8];
  std::snprintf(number, sizeof number, "%03d", sequence);
  return std::string(1, tag) + number + std::string(static_cast<std::size_t>(sequence % 11), tag);
}

TEST_F(CliEndToEndTest, LinesFromSeveralPortsArriveWholeAndInOrder) {
  constexpr int kLinesPerPort = 50;
  std::vector<Scanner> scanners;
  std::vector<std::string> args;
  for (const auto& [port_number, tag] : {std::pair{1, 'A'}, {2, 'B'}, {10, 'C'}, {256, 'D'}}) {
    Scanner scanner{.port_number = port_number,
                    .tag = tag,
                    .device = nullptr,
                    .link = Link("COM" + std::to_string(port_number))};
    scanner.device = MakeDevice(scanner.link);
    ASSERT_NE(scanner.device, nullptr);
    args.insert(args.end(), {"--port", PortArg(port_number, scanner.link)});
    scanners.push_back(std::move(scanner));
  }
  ChildProcess cli(kCliPath, CliArgs(args));
  ASSERT_TRUE(cli.started());
  for (const Scanner& scanner : scanners) {
    ASSERT_TRUE(cli.WaitForErr(Connected(scanner.port_number, scanner.link))) << cli.Describe();
  }

  // Round after round every port sends its next line, starting with a different port each
  // round, so that the ports' reader threads type at the same time.
  std::size_t expected_trace_lines = 0;
  for (int sequence = 0; sequence < kLinesPerPort; ++sequence) {
    for (std::size_t i = 0; i < scanners.size(); ++i) {
      Scanner& scanner = scanners[(i + static_cast<std::size_t>(sequence)) % scanners.size()];
      const std::string line = ScanLine(scanner.tag, sequence) + "\r";
      ASSERT_TRUE(Send(*scanner.device, line));
      expected_trace_lines += TraceLength(line);
    }
    cli.DrainFor(milliseconds(2));
  }
  ASSERT_TRUE(cli.WaitForOutLines(expected_trace_lines)) << cli.Describe();

  const std::string typed = TypedText(cli.OutLines());
  ASSERT_FALSE(typed.empty());
  EXPECT_EQ(typed.back(), '\r') << "the trace ends in the middle of a line";
  std::map<char, std::vector<int>> sequences_by_tag;
  std::size_t start = 0;
  for (std::size_t end; (end = typed.find('\r', start)) != std::string::npos; start = end + 1) {
    const std::string line = typed.substr(start, end - start);
    const int sequence = line.size() >= 4 ? std::atoi(line.substr(1, 3).c_str()) : -1;
    ASSERT_EQ(line, ScanLine(line.empty() ? '?' : line[0], sequence)) << "a mixed or broken line";
    sequences_by_tag[line[0]].push_back(sequence);
  }
  std::vector<int> in_order(kLinesPerPort);
  for (int i = 0; i < kLinesPerPort; ++i) in_order[static_cast<std::size_t>(i)] = i;
  for (const Scanner& scanner : scanners) {
    EXPECT_EQ(sequences_by_tag[scanner.tag], in_order) << "COM" << scanner.port_number;
  }
  EXPECT_EQ(sequences_by_tag.size(), scanners.size());
}

// A scale and a scanner at once, each with its own profile: the scale at 9600 baud ends its
// lines with LF and gets a Tab instead, its unit taken out; the scanner at 115200 keeps
// its CR and names its group separators.
TEST_F(CliEndToEndTest, EachPortsLinesAreShapedByItsOwnProfile) {
  constexpr int kLinesPerPort = 20;
  const std::string scale_link = Link("scale");
  const std::string scanner_link = Link("scanner");
  std::unique_ptr<platform::VirtualSerialDevice> scale = MakeDevice(scale_link);
  std::unique_ptr<platform::VirtualSerialDevice> scanner = MakeDevice(scanner_link);
  ASSERT_TRUE(scale != nullptr && scanner != nullptr);
  ChildProcess cli(kCliPath, CliArgs({"--control", "name", "--port", PortArg(4, scale_link), "--baud", "9600",
                                      "--end-char", "0x0A", "--truncate", "--suffix", "\\t", "--replace", "kg=",
                                      "--port", PortArg(5, scanner_link), "--baud", "115200"}));
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(4, scale_link))) << cli.Describe();
  ASSERT_TRUE(cli.WaitForErr(Connected(5, scanner_link))) << cli.Describe();
  EXPECT_EQ(scale->PortBaudRate(), 9600u);
  EXPECT_EQ(scanner->PortBaudRate(), 115200u);

  std::string expected;
  std::size_t expected_trace_lines = 0;
  for (int i = 0; i < kLinesPerPort; ++i) {
    const std::string weight = std::to_string(10 + i) + ".5";
    const std::string code = std::to_string(100 + i);
    // The scale's CR is no end character of its own: it is named, as a control character.
    ASSERT_TRUE(Send(*scale, weight + "kg\r\n"));
    ASSERT_TRUE(Send(*scanner, "ab\x1D" + code + "\r"));
    for (const std::string& typed : {weight + "<CR>\t", "ab<GS>" + code + "\r"}) {
      expected += typed;
      expected_trace_lines += TraceLength(typed);
    }
  }
  ASSERT_TRUE(cli.WaitForOutLines(expected_trace_lines)) << cli.Describe();
  ExpectStopsCleanly(cli);
  // Whole lines in each port's order; the two ports' lines may come in any mix.
  const std::string typed = TypedText(cli.OutLines());
  std::string scale_lines;
  std::string scanner_lines;
  std::size_t start = 0;
  for (std::size_t end; (end = typed.find_first_of("\t\r", start)) != std::string::npos; start = end + 1) {
    (typed[end] == '\t' ? scale_lines : scanner_lines) += typed.substr(start, end + 1 - start);
  }
  EXPECT_EQ(start, typed.size()) << typed;
  std::string expected_scale;
  std::string expected_scanner;
  for (int i = 0; i < kLinesPerPort; ++i) {
    expected_scale += std::to_string(10 + i) + ".5<CR>\t";
    expected_scanner += "ab<GS>" + std::to_string(100 + i) + "\r";
  }
  EXPECT_EQ(scale_lines, expected_scale);
  EXPECT_EQ(scanner_lines, expected_scanner);
  EXPECT_EQ(typed.size(), expected.size());
}

TEST_F(CliEndToEndTest, ReconnectsToADeviceThatComesBackWithoutSpinningMeanwhile) {
  const std::string link = Link("scanner");
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);
  ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(3, link)}));
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(3, link))) << cli.Describe();
  ASSERT_TRUE(Send(*device, "1\r"));
  ASSERT_TRUE(cli.WaitForOutLines(4)) << cli.Describe();

  device->Unplug();
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM3 link lost; reconnecting in 500 ms\n"))
      << cli.Describe();
  const std::optional<milliseconds> cpu_before = cli.CpuTime();
  ASSERT_TRUE(cli.WaitUntil([&] {
    const std::size_t failed = cli.err().find("lintrel: COM3 reconnection failed: ");
    return failed != std::string::npos &&
           cli.err().find("(retrying every second)\n", failed) != std::string::npos;
  })) << cli.Describe();
  // Long enough for the first re-open and a retry or two to fail.
  cli.DrainFor(milliseconds(1500));
  const std::optional<milliseconds> cpu_after = cli.CpuTime();
  ASSERT_TRUE(cpu_before.has_value() && cpu_after.has_value());
  // Waiting for the device must not be a busy loop: it would burn the whole wait.
  EXPECT_LT((*cpu_after - *cpu_before).count(), 300) << "CPU time while the device was gone";

  std::string error;
  ASSERT_TRUE(device->Plug(&error)) << error;
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM3 reconnected: connected (" + link + ")\n"))
      << cli.Describe();
  ASSERT_TRUE(Send(*device, "2\r"));
  ASSERT_TRUE(cli.WaitForOutLines(8)) << cli.Describe();
  EXPECT_EQ(cli.out(), JoinLines(Concat({Press('1'), Press(0x0D), Press('2'), Press(0x0D)})));

  ASSERT_TRUE(cli.Signal(SIGTERM));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << cli.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << cli.Describe();
}

// Reads what is waiting on the device's port side without the serial driver (whose open
// would purge it); empty if nothing is.
std::string PendingOnPortSide(const std::string& link) {
  const int fd = open(link.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[64];
  const ssize_t count = read(fd, buffer, sizeof buffer);
  close(fd);
  return count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : "";
}

struct BadOptionCase {
  std::vector<std::string> args;  // "DEVICE" stands for a real device's path
  std::string option_named;
};

TEST_F(CliEndToEndTest, BadOptionEndsWithStatusTwoAndOneLineBeforeOpeningAnything) {
  const std::string link = Link("untouched");
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);
  const std::vector<BadOptionCase> cases = {
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--bogus"}, "--bogus"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--baud", "9601"}, "--baud"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--parity", "x"}, "--parity"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--port", "COM257"}, "--port"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--end-char", "0"}, "--end-char"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--end-char", "32"}, "--end-char"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--reconnect-delay", "499"},
       "--reconnect-delay"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--reconnect-delay", "5001"},
       "--reconnect-delay"},
      {{"--port", "COM1=DEVICE", "--keys", "nope"}, "--keys"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--baud"}, "--baud"},
      {{"--keys", "trace"}, "--port"},
      {{"--port", "COM1=DEVICE", "--keys", "trace", "--port", "COM2=" + link}, "--port"},
  };
  for (const BadOptionCase& test : cases) {
    std::vector<std::string> args = test.args;
    for (std::string& arg : args) {
      if (arg == "COM1=DEVICE") arg = PortArg(1, link);
    }
    SCOPED_TRACE(JoinLines(args));
    // Bytes the device sent before: opening the port would purge them.
    ASSERT_TRUE(Send(*device, "canary"));

    ChildProcess cli(kCliPath, args);
    ASSERT_TRUE(cli.started());
    const std::optional<ExitStatus> status = cli.WaitForExit();
    ASSERT_TRUE(status.has_value()) << cli.Describe();
    EXPECT_TRUE(status->exited && status->code == 2) << cli.Describe();
    EXPECT_EQ(cli.out(), "");
    ASSERT_EQ(cli.ErrLines().size(), 1u) << cli.Describe();
    EXPECT_EQ(cli.err().back(), '\n');
    EXPECT_EQ(cli.err().rfind("lintrel-cli: ", 0), 0u) << cli.err();
    EXPECT_NE(cli.err().find(test.option_named), std::string::npos) << cli.err();
    EXPECT_EQ(PendingOnPortSide(link), "canary") << "the port was opened";
  }
}

TEST_F(CliEndToEndTest, PortThatCannotBeOpenedAtStartEndsWithStatusOne) {
  const std::string busy_link = Link("held");
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(busy_link);
  ASSERT_NE(device, nullptr);
  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  platform::OpenResult holder = driver->Open(busy_link, {});
  ASSERT_NE(holder.port, nullptr) << holder.error.message;

  struct {
    const char* name;
    std::string port;
    std::string reason;
  } const cases[] = {
      {"missing device", PortArg(4, Link("missing")),
       "lintrel: COM4 open failed: " + Link("missing")},
      {"device in use", PortArg(5, busy_link), "in use"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    ChildProcess cli(kCliPath, CliArgs({"--port", test.port}));
    ASSERT_TRUE(cli.started());
    const std::optional<ExitStatus> status = cli.WaitForExit();
    ASSERT_TRUE(status.has_value()) << cli.Describe();
    EXPECT_TRUE(status->exited && status->code == 1) << cli.Describe();
    EXPECT_EQ(cli.out(), "");
    // One failure, one status line: the reason says it all.
    ASSERT_EQ(cli.ErrLines().size(), 1u) << cli.err();
    EXPECT_EQ(cli.err().rfind("lintrel: COM", 0), 0u) << cli.err();
    EXPECT_NE(cli.err().find(" open failed: "), std::string::npos) << cli.err();
    EXPECT_NE(cli.err().find(test.reason), std::string::npos) << cli.err();
  }
}

// A device path holding a line break (and what looks like a status line after it) is
// shown with the break written out, whether the port opens or not.
TEST_F(CliEndToEndTest, DevicePathWithALineBreakForgesNoStatusLine) {
  const std::string forged = "lintrel: COM9 connected (fake)";
  const std::string link = Link("dev\n" + forged);
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);
  const std::string shown_link = Link("dev\\n" + forged);
  const std::string missing = Link("gone\n" + forged);
  const std::string shown_missing = Link("gone\\n" + forged);

  ChildProcess connected(kCliPath, CliArgs({"--port", PortArg(1, link)}));
  ASSERT_TRUE(connected.WaitForErr("lintrel: COM1 connected (" + shown_link + ")\n")) << connected.Describe();
  ExpectStopsCleanly(connected);
  ChildProcess failed(kCliPath, CliArgs({"--port", PortArg(9, missing)}));
  ASSERT_TRUE(failed.WaitForExit().has_value());
  EXPECT_NE(failed.err().find("lintrel: COM9 open failed: " + shown_missing), std::string::npos) << failed.err();
  for (const ChildProcess* cli : {&connected, &failed}) {
    for (const std::string& line : cli->ErrLines()) EXPECT_NE(line, forged) << cli->err();
  }
}

// Had standard output been left closed, the first file the program opens (an eventfd)
// would have taken its number, and the trace would have been written into it.
TEST_F(CliEndToEndTest, StandardStreamsClosedAtStartAreTheNullDevice) {
  const std::string link = Link("unwatched");
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
  ASSERT_NE(device, nullptr);
  ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(3, link)}), {STDIN_FILENO, STDOUT_FILENO});
  ASSERT_TRUE(cli.started());
  ASSERT_TRUE(cli.WaitForErr(Connected(3, link))) << cli.Describe();
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO}) {
    const std::string descriptor = "/proc/" + std::to_string(cli.pid()) + "/fd/" + std::to_string(fd);
    std::error_code error;
    EXPECT_EQ(std::filesystem::read_symlink(descriptor, error), "/dev/null") << descriptor << ": " << error.message();
  }
  ExpectStopsCleanly(cli);
}

// Digits in an order that does not repeat within the flood, so that lost or reordered bytes
// show in what was typed.
std::string FloodDigits(std::size_t count) {
  std::string digits;
  uint32_t state = 12345;
  for (std::size_t i = 0; i < count; ++i) {
    state = state * 1103515245u + 12345u;
    digits += static_cast<char>('0' + (state >> 16) % 10);
  }
  return digits;
}

TEST_F(CliEndToEndTest, StopSignalsReleaseThePortsAndEndWithStatusZero) {
  // Half before the signal and half after. The test drains the program's output only
  // between writes, so the program may be stuck writing its trace while the test writes:
  // the whole flood fits in what a pseudo-terminal holds unread (4 KiB in its line
  // discipline plus the kernel's receive buffers, about 20 KiB on Linux 6), so that no
  // write can block on a program that does not read.
  constexpr std::size_t kFloodHalf = 4 * 1024;
  constexpr std::size_t kWriteSize = 1024;
  std::unique_ptr<platform::SerialDriver> driver = platform::MakeSystemSerialDriver();
  struct Case {
    int signal_number;
    bool flood;
    bool stops_cleanly;  // false: a signal Lintrel does not use, which ends it as by default
  };
  for (const Case& test_case : {Case{SIGTERM, false, true}, Case{SIGTERM, true, true}, Case{SIGINT, false, true},
                                Case{SIGINT, true, true}, Case{SIGHUP, true, true}, Case{SIGQUIT, false, true},
                                Case{SIGALRM, false, false}}) {
    const auto [signal_number, flood, stops_cleanly] = test_case;
    SCOPED_TRACE(std::string(strsignal(signal_number)) +
                 (flood ? " during a flood without end character" : " while idle"));
    const std::string link = Link("stop");
    std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(link);
    ASSERT_NE(device, nullptr);
    ChildProcess cli(kCliPath, CliArgs({"--port", PortArg(2, link)}));
    ASSERT_TRUE(cli.started());
    ASSERT_TRUE(cli.WaitForErr(Connected(2, link))) << cli.Describe();

    const std::string data = FloodDigits(flood ? 2 * kFloodHalf : 0);
    const auto send_range = [&](std::size_t from, std::size_t to) {
      for (std::size_t at = from; at < to; at += kWriteSize) {
        ASSERT_TRUE(Send(*device, data.substr(at, std::min(kWriteSize, to - at))));
      }
    };
    if (flood) {
      send_range(0, kFloodHalf);
      ASSERT_TRUE(cli.WaitForOutLines(1)) << cli.Describe();
    }
    ASSERT_TRUE(cli.Signal(signal_number));
    if (flood) send_range(kFloodHalf, data.size());

    const std::optional<ExitStatus> status = cli.WaitForExit();
    ASSERT_TRUE(status.has_value()) << cli.Describe();
    if (stops_cleanly) {
      ExpectStatusCountsTheLinesNotTyped(cli, *status);
      EXPECT_NE(cli.err().find("lintrel: stopping\n"), std::string::npos) << cli.err();
    } else {
      EXPECT_TRUE(!status->exited && status->code == signal_number) << cli.Describe();
    }
    // Whatever was typed are whole key presses of the data, in the order sent.
    const std::string typed = TypedText(cli.OutLines());
    EXPECT_TRUE(cli.out().empty() || cli.out().back() == '\n');
    EXPECT_EQ(data.compare(0, typed.size(), typed), 0) << "typed text is not what was sent";

    platform::OpenResult reopened = driver->Open(link, {});
    EXPECT_NE(reopened.port, nullptr) << "not released: " << reopened.error.message;
    reopened.port.reset();
  }
}

}  // namespace
}  // namespace lintrel::testing

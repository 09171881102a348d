// lintrel-cli's record stage end to end: what a port's pattern, GS1 reading, template and
// repeat window type through the trace keyboard, what --monitor shows (typing nothing) and
// what --preview says of lines typed in.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_path.h"
#include "cli/cli_process.h"
#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

std::size_t LineCount(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

class CliRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_.ok());
    config_home_.emplace("XDG_CONFIG_HOME", directory_.File("config"));
    link_ = directory_.File("device");
    device_ = MakeDevice(link_);
    ASSERT_NE(device_, nullptr);
  }

  // lintrel-cli on COM1 with `options` after its --port, once it is connected.
  std::unique_ptr<ChildProcess> Start(std::vector<std::string> options) {
    std::vector<std::string> args = {"--port", PortArg(1, link_)};
    args.insert(args.end(), options.begin(), options.end());
    auto cli = std::make_unique<ChildProcess>(kCliPath, CliArgs(args));
    EXPECT_TRUE(cli->WaitForErr(Connected(1, link_))) << cli->Describe();
    return cli;
  }

  // Sends the lines, waits for the keys of `typed`, stops the program and checks that those
  // keys and nothing else were typed. Returns its exit status.
  int ExpectTyped(ChildProcess& cli, const std::vector<std::string>& lines, const std::string& typed) {
    for (const std::string& line : lines) EXPECT_TRUE(Send(*device_, line));
    const std::string trace = ExpectedTrace(typed);
    EXPECT_TRUE(cli.WaitForOutLines(LineCount(trace))) << cli.Describe();
    // Lines after the last one typed: the stop comes once they have had their time.
    cli.DrainFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(cli.Signal(SIGTERM));
    const std::optional<ExitStatus> status = cli.WaitForExit();
    EXPECT_TRUE(status && status->exited) << cli.Describe();
    EXPECT_EQ(cli.out(), trace);
    return status && status->exited ? status->code : -1;
  }

  TemporaryDirectory directory_;
  std::optional<ScopedEnvironment> config_home_;
  std::string link_;
  std::unique_ptr<platform::VirtualSerialDevice> device_;
};

TEST_F(CliRecordsTest, AGs1CodeIsTypedAsItsFieldsWithTabsBetween) {
  std::unique_ptr<ChildProcess> cli = Start({"--gs1", "--template", "{01}\\t{17:%Y-%m-%d}\\t{10}\\t{21}\\r"});
  EXPECT_EQ(ExpectTyped(*cli, {"]d2010950110153000317251231" "10AB12\x1D" "21XYZ\r"},
                        "09501101530003\t2025-12-31\tAB12\tXYZ\r"),
            0);
}

TEST_F(CliRecordsTest, AScaleTypesOnlyItsStableWeights) {
  std::unique_ptr<ChildProcess> cli =
      Start({"--pattern", R"(^ST,GS,\+0*(?P<weight>\d+\.\d+)kg$)", "--unmatched", "drop", "--template", "{weight}\\r"});
  EXPECT_EQ(ExpectTyped(*cli, {"US,GS,+001.240kg\r", "ST,GS,+001.250kg\r", "US,GS,+000.020kg\r"}, "1.250\r"), 0);
  EXPECT_EQ(cli->err().find("line not typed"), std::string::npos) << cli->Describe();  // dropped without a word
}

TEST_F(CliRecordsTest, ARepeatWithinTheWindowIsNotTyped) {
  std::unique_ptr<ChildProcess> cli = Start({"--repeat-window", "5000"});
  EXPECT_EQ(ExpectTyped(*cli, {"TAG1\r", "TAG1\r", "TAG2\r", "TAG1\r"}, "TAG1\rTAG2\rTAG1\r"), 0);
}

TEST_F(CliRecordsTest, ALineTheRecordStageRefusesIsReportedAndCounted) {
  std::unique_ptr<ChildProcess> cli = Start({"--gs1"});
  EXPECT_EQ(ExpectTyped(*cli, {"0109501101530004\r", "0109501101530003\r"}, "0109501101530003\r"), 1);
  EXPECT_NE(cli->err().find("lintrel: COM1: line not typed: GS1: AI 01: wrong check digit in 09501101530004\n"),
            std::string::npos)
      << cli->Describe();
  EXPECT_NE(cli->err().find("lintrel: 1 line not typed\n"), std::string::npos) << cli->Describe();
}

TEST_F(CliRecordsTest, MonitorShowsChunksLinesAndWhatTheyWouldTypeAndTypesNothing) {
  std::unique_ptr<ChildProcess> cli = Start({"--monitor", "--pattern", R"(^ST,GS,\+0*(?P<weight>\d+\.\d+)kg$)",
                                             "--unmatched", "drop", "--template", "{weight}"});
  EXPECT_NE(cli->err().find("lintrel: monitor: lines are shown, not typed\n"), std::string::npos);
  ASSERT_TRUE(Send(*device_, "ST,GS,+001.250kg\r"));
  ASSERT_TRUE(cli->WaitForOutLines(4)) << cli->Describe();
  ASSERT_TRUE(Send(*device_, "US\r"));
  ASSERT_TRUE(cli->WaitForOutLines(7)) << cli->Describe();
  ExpectStopsCleanly(*cli);
  const std::vector<std::string> lines = cli->OutLines();
  ASSERT_EQ(lines.size(), 7u) << cli->out();
  // A time of day, to the millisecond, begins each report.
  const std::string time = lines[0].substr(0, 13);
  EXPECT_TRUE(time.size() == 13 && time[2] == ':' && time[5] == ':' && time[8] == '.' && time[12] == ' ') << time;
  EXPECT_EQ(lines[0].substr(13), "COM1 received 17 bytes: 53 54 2C 47 53 2C 2B 30 30 31 2E 32 35 30 6B 67 0D  "
                                 "\"ST,GS,+001.250kg\\r\"");
  EXPECT_EQ(lines[1].substr(13), "COM1 line: \"ST,GS,+001.250kg\\r\" (ended by its end character)");
  EXPECT_EQ(lines[2], "  field weight = \"1.250\"");
  EXPECT_EQ(lines[3], "  types: 1.250");
  EXPECT_EQ(lines[4].substr(13), "COM1 received 3 bytes: 55 53 0D  \"US\\r\"");
  EXPECT_EQ(lines[5].substr(13), "COM1 line: \"US\\r\" (ended by its end character)");
  EXPECT_EQ(lines[6], "  not typed, not reported: does not match the pattern");
}

// --preview runs lines typed in through a port's options, saved or given, and opens nothing.
TEST_F(CliRecordsTest, PreviewShowsTheFieldsAndKeysOfEachLineTypedIn) {
  const std::string input = directory_.File("input");
  std::ofstream(input) << "]d20109501101530003172512311" "0AB12\\x1D21XYZ\n0109501101530004\n\\q\n";
  // Saved first: the preview without --port tries the saved port's profile.
  const CommandResult save = RunToEnd({kCliPath, "--save", "--list-ports", "--port", "COM2=" + link_, "--gs1", "--template",
                                       "{01}\\t{17:%d.%m.%Y}\\t{10}\\t{21?}|{port}\\r"});
  ASSERT_TRUE(save.Succeeded()) << save.err;
  const CommandResult preview = RunToEnd({"sh", "-c", "exec \"$0\" --preview < \"$1\"", kCliPath, input});
  ASSERT_TRUE(preview.Succeeded()) << preview.err;
  EXPECT_EQ(preview.out,
            "> ]d201095011015300031725123110AB12\\x1D21XYZ\n"
            "  field 01 = \"09501101530003\"\n"
            "  field 17 = \"251231\"\n"
            "  field 10 = \"AB12\"\n"
            "  field 21 = \"XYZ\"\n"
            "  types: 09501101530003<Tab>31.12.2025<Tab>AB12<Tab>XYZ|COM2<Enter>\n"
            "> 0109501101530004\n"
            "  not typed: GS1: AI 01: wrong check digit in 09501101530004\n"
            "> \\q\n"
            "  not read: \\q is not an escape (\\t, \\r, \\n, \\\\, \\xHH, \\u{HHHH})\n");
}

}  // namespace
}  // namespace lintrel::testing

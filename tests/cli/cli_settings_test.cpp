// lintrel-cli's saved settings on Linux: --save writes the settings file, later runs start
// from it, --list-ports shows pinned ports, and a damaged or unwritable file never stops the
// program.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/cli_path.h"
#include "cli/cli_process.h"
#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Each test has a configuration folder of its own, given to the program as
// XDG_CONFIG_HOME; the settings file is lintrel/lintrel-cli.conf inside it.
class CliSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_.ok());
    config_home_.emplace("XDG_CONFIG_HOME", directory_.File("config"));
  }

  std::string SettingsFile() const { return directory_.File("config/lintrel/lintrel-cli.conf"); }

  void WriteSettings(const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(SettingsFile()).parent_path());
    std::ofstream(SettingsFile(), std::ios::binary) << text;
  }

  // Sends "5" and a carriage return from `device`, sees them typed, and stops the program.
  static void ExpectTypesALineAndStops(ChildProcess& cli, platform::VirtualSerialDevice& device) {
    const std::string line = "5\r";
    ASSERT_TRUE(device.Write(std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size())));
    ASSERT_TRUE(cli.WaitForOutLines(4)) << cli.Describe();
    EXPECT_EQ(cli.out(), "down 0x35\nup 0x35\ndown 0x0D\nup 0x0D\n");
    ExpectStopsCleanly(cli);
  }

  struct Finished {
    int code = -1;
    std::string out;
    std::string err;
  };

  Finished RunToEnd(const std::vector<std::string>& args) {
    ChildProcess cli(kCliPath, args);
    const std::optional<ExitStatus> status = cli.WaitForExit();
    EXPECT_TRUE(status.has_value() && status->exited) << cli.Describe();
    return {status && status->exited ? status->code : -1, cli.out(), cli.err()};
  }

  TemporaryDirectory directory_;
  std::optional<ScopedEnvironment> config_home_;
};

TEST_F(CliSettingsTest, SaveWritesTheFileThatLaterRunsStartFrom) {
  const std::string link = directory_.File("scanner");
  std::string error;
  std::unique_ptr<platform::VirtualSerialDevice> device = platform::VirtualSerialDevice::Create(link, &error);
  ASSERT_NE(device, nullptr) << error;
  // The user pinned COM200 to the scanner's stable path.
  WriteSettings("Device COM200=" + link + "\n");

  const Finished save =
      RunToEnd({"--save", "--list-ports", "--port", "COM200", "--baud", "9600", "--parity", "odd"});
  ASSERT_EQ(save.code, 0) << save.err;
  EXPECT_NE(save.out.find("* COM200  " + link + "\n"), std::string::npos) << save.out;
  const std::string file = ReadFile(SettingsFile());
  for (const char* line : {"Port=COM200\n", "Baud rate=4\n", "Parity=1\n", "Databit=1\n", "Stop bit=0\n"}) {
    EXPECT_NE(file.find(line), std::string::npos) << line << " in:\n" << file;
  }
  EXPECT_NE(file.find("Device COM200=" + link + "\n"), std::string::npos) << "the pin is kept:\n" << file;

  // Without --port the saved port is captured, through its pinned device.
  ChildProcess cli(kCliPath, {"--keys", "trace"});
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM200 connected (" + link + ")\n")) << cli.Describe();
  ExpectTypesALineAndStops(cli, *device);
}

// --save keeps each port's own options in its [COMn] section; a later run opens and shapes
// the port with them, a damaged value warned about and left as it was.
TEST_F(CliSettingsTest, SavedProfilesShapeTheLinesOfLaterRuns) {
  const std::string link = directory_.File("scale");
  std::string error;
  std::unique_ptr<platform::VirtualSerialDevice> device = platform::VirtualSerialDevice::Create(link, &error);
  ASSERT_NE(device, nullptr) << error;
  const Finished save = RunToEnd({"--save", "--list-ports", "--truncate", "--port", "COM200=" + link, "--baud",
                                  "9600", "--suffix", "\\t", "--replace", "g=", "--control", "name"});
  ASSERT_EQ(save.code, 0) << save.err;
  // The list shows the ports as saved: COM200 at the device just pinned, and marked.
  EXPECT_NE(save.out.find("* COM200  " + link + "\n"), std::string::npos) << save.out;
  std::string file = ReadFile(SettingsFile());
  EXPECT_NE(file.find("Baud rate=1\n"), std::string::npos) << "the shared rate stays:\n" << file;
  EXPECT_NE(file.find("\n[COM200]\nBaud rate=4\nTruncate=1\nSuffix=\\t\nControl characters=name\nReplace 1=g=\n"),
            std::string::npos)
      << file;
  file += "End char=99\n";
  WriteSettings(file);

  ChildProcess cli(kCliPath, {"--keys", "trace"});
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM200 connected (" + link + ")\n")) << cli.Describe();
  EXPECT_NE(cli.err().find("COM200 profile: \"End char\" = 99 is not a character code from 1 to 31; the default "
                           "is used, the stored value is kept."),
            std::string::npos)
      << cli.Describe();
  EXPECT_EQ(device->PortBaudRate(), 9600u);
  const std::string line = "5g\x02\r";
  ASSERT_TRUE(device->Write(std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size())));
  // "5<STX>" and Tab: the 5, then < S T X > with Shift where it belongs.
  ASSERT_TRUE(cli.WaitForOutLines(2 + 4 * 5 + 2)) << cli.Describe();
  EXPECT_EQ(cli.out().rfind("down 0x35\nup 0x35\ndown 0x10\ndown 0xBC\n", 0), 0u) << cli.out();
  EXPECT_NE(cli.out().find("down 0x09\nup 0x09\n"), std::string::npos) << cli.out();
  ExpectStopsCleanly(cli);
  EXPECT_NE(ReadFile(SettingsFile()).find("End char=99\n"), std::string::npos);
}

// Encoding and delays are each port's: --save keeps them in the port's section, and a later
// run with no options reads a Latin-1 scale and a UTF-8 scanner each as saved, the scale's
// line paced, the scanner's lost link re-opened after its own delay.
TEST_F(CliSettingsTest, SavedEncodingAndDelaysOfEachPortAreThoseOfLaterRuns) {
  const std::string scale_link = directory_.File("scale");
  const std::string scanner_link = directory_.File("scanner");
  std::unique_ptr<platform::VirtualSerialDevice> scale = MakeDevice(scale_link);
  std::unique_ptr<platform::VirtualSerialDevice> scanner = MakeDevice(scanner_link);
  ASSERT_TRUE(scale && scanner);
  constexpr int kKeyDelayMs = 200;
  const Finished save =
      RunToEnd({"--save", "--list-ports", "--encoding", "utf-8", "--port", "COM1=" + scale_link, "--encoding",
                "latin-1", "--key-delay", std::to_string(kKeyDelayMs), "--port", "COM2=" + scanner_link,
                "--reconnect-delay", "700"});
  ASSERT_EQ(save.code, 0) << save.err;
  const std::string file = ReadFile(SettingsFile());
  for (const char* saved :
       {"\n[COM1]\nEncoding=latin-1\nKey delay=200\n\n", "\n[COM2]\nEncoding=utf-8\nReconnection delay=700\n"}) {
    EXPECT_NE(file.find(saved), std::string::npos) << saved << " in:\n" << file;
  }

  ChildProcess cli(kCliPath, {"--keys", "trace"});
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM1 connected (" + scale_link + ")\n")) << cli.Describe();
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM2 connected (" + scanner_link + ")\n")) << cli.Describe();
  ASSERT_TRUE(Send(*scanner, "\xE9\r"));
  ASSERT_TRUE(cli.WaitForOutLines(4)) << cli.Describe();
  EXPECT_EQ(cli.out(), "down U+FFFD\nup U+FFFD\ndown 0x0D\nup 0x0D\n") << "a lone byte E9 is no UTF-8";
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(Send(*scale, "\xE9" "5\r"));
  ASSERT_TRUE(cli.WaitForOutLines(4 + 6)) << cli.Describe();
  // Three keys, the delay between each two: never sooner than that.
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 2 * std::chrono::milliseconds(kKeyDelayMs));
  EXPECT_EQ(cli.out().substr(cli.out().find("up 0x0D\n") + 8),
            "down U+00E9\nup U+00E9\ndown 0x35\nup 0x35\ndown 0x0D\nup 0x0D\n");
  scanner.reset();
  EXPECT_TRUE(cli.WaitForErr("lintrel: COM2 link lost; reconnecting in 700 ms\n")) << cli.Describe();
  ExpectStopsCleanly(cli);
}

// Where and how each port's lines are typed is kept in its section and replayed: the saved
// target is refused with the uinput keyboard (no window in front to read under Wayland), and
// the saved unicode delivery types every character by itself.
TEST_F(CliSettingsTest, SavedDeliveryOfEachPortIsThatOfLaterRuns) {
  const std::string stock_link = directory_.File("stock");
  const std::string remote_link = directory_.File("remote");
  std::unique_ptr<platform::VirtualSerialDevice> remote = MakeDevice(remote_link);
  ASSERT_TRUE(remote);
  const Finished save = RunToEnd({"--save", "--list-ports", "--port", "COM1=" + stock_link, "--target",
                                  "stockroom:Receiving", "--elsewhere", "activate", "--port", "COM2=" + remote_link,
                                  "--delivery", "unicode"});
  ASSERT_EQ(save.code, 0) << save.err;
  const std::string file = ReadFile(SettingsFile());
  for (const char* saved : {"Target=stockroom:Receiving\n", "Elsewhere=activate\n", "Delivery=unicode\n"}) {
    EXPECT_NE(file.find(saved), std::string::npos) << saved << " in:\n" << file;
  }

  const Finished refused = RunToEnd({"--keys", "uinput"});
  EXPECT_EQ(refused.code, 2);
  EXPECT_NE(refused.err.find("lintrel-cli: --target: the window in front cannot be read"), std::string::npos)
      << refused.err;

  ChildProcess cli(kCliPath, {"--keys", "trace", "--port", "COM2=" + remote_link});
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM2 connected (" + remote_link + ")\n")) << cli.Describe();
  ASSERT_TRUE(Send(*remote, "5\r"));
  ASSERT_TRUE(cli.WaitForOutLines(4)) << cli.Describe();
  EXPECT_EQ(cli.out(), "down U+0035\nup U+0035\ndown 0x0D\nup 0x0D\n");
  ExpectStopsCleanly(cli);
}

// Every --port is remembered, a device given with it as its pin; a later run without --port
// captures them all and retries one whose device is missing instead of ending.
TEST_F(CliSettingsTest, EverySavedPortIsCapturedAndAMissingOneIsRetried) {
  const std::string first_link = directory_.File("first");
  const std::string second_link = directory_.File("second");
  std::string error;
  std::unique_ptr<platform::VirtualSerialDevice> first = platform::VirtualSerialDevice::Create(first_link, &error);
  ASSERT_NE(first, nullptr) << error;
  const Finished save =
      RunToEnd({"--save", "--list-ports", "--port", "COM200=" + first_link, "--port", "COM201=" + second_link});
  ASSERT_EQ(save.code, 0) << save.err;
  const std::string file = ReadFile(SettingsFile());
  const std::vector<std::string> saved_lines = {"Port=COM200\n", "Ports=COM200,COM201\n",
                                                "Device COM200=" + first_link + "\n",
                                                "Device COM201=" + second_link + "\n"};
  for (const std::string& line : saved_lines) {
    EXPECT_NE(file.find(line), std::string::npos) << line << " in:\n" << file;
  }

  ChildProcess cli(kCliPath, {"--keys", "trace"});
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM200 connected (" + first_link + ")\n")) << cli.Describe();
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM201 open failed")) << cli.Describe();
  std::unique_ptr<platform::VirtualSerialDevice> second = platform::VirtualSerialDevice::Create(second_link, &error);
  ASSERT_NE(second, nullptr) << error;
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM201 connected (" + second_link + ")\n")) << cli.Describe();
  ExpectTypesALineAndStops(cli, *second);
}

TEST_F(CliSettingsTest, AFirstSaveWithoutPortStoresNoPort) {
  const Finished save = RunToEnd({"--save", "--baud", "9600"});
  ASSERT_EQ(save.code, 0) << save.err;
  const std::string file = ReadFile(SettingsFile());
  EXPECT_EQ(file.find("Port="), std::string::npos) << file;
  EXPECT_NE(file.find("Baud rate=4\n"), std::string::npos) << file;
}

// Whatever the file holds, the program starts, warns about what it could not read, and a
// save writes a sound file again.
TEST_F(CliSettingsTest, DamagedFilesGiveDefaultsAndAWarning) {
  struct Case {
    const char* name;
    std::string content;
    bool warns;
    const char* saved_baud;  // what --save writes back without --baud
  };
  const std::vector<Case> cases = {
      {"empty", "", false, "Baud rate=1\n"},
      {"truncated", "Port=COM4\nBaud rate=6\nPar", true, "Baud rate=6\n"},
      {"binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\xff\xfe=\x80\n\x01", 16), true, "Baud rate=1\n"},
      {"bad integer", "Baud rate=99999999999\n", true, "Baud rate=1\n"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    WriteSettings(test.content);
    const Finished save = RunToEnd({"--save"});
    EXPECT_EQ(save.code, 0) << save.err;
    const std::string warning = "lintrel-cli: Settings file \"" + SettingsFile() + "\": ";
    const bool warned = save.err.find(warning) != std::string::npos;
    EXPECT_EQ(warned, test.warns) << save.err;
    const std::string file = ReadFile(SettingsFile());
    EXPECT_NE(file.find(test.saved_baud), std::string::npos) << file;
    EXPECT_NE(file.find("Databit=1\n"), std::string::npos) << file;
  }
}

TEST_F(CliSettingsTest, SaveThatCannotWriteFailsWithTheReason) {
  // The configuration folder is a file, so nothing can be created below it (even by root).
  std::ofstream(directory_.File("config")) << "not a folder";
  const Finished save = RunToEnd({"--save", "--baud", "9600"});
  EXPECT_EQ(save.code, 1);
  EXPECT_NE(save.err.find("lintrel-cli: --save: "), std::string::npos) << save.err;
  EXPECT_EQ(ReadFile(directory_.File("config")), "not a folder");
}

// A file whose content was not read is never replaced (its port and pins would be lost):
// --save fails and says why. What else a save refuses is the settings file's own test.
TEST_F(CliSettingsTest, SaveLeavesAFileItCouldNotReadAndSaysWhy) {
  const std::string content = "Port=COM4\n" + std::string(1 << 20, '#');
  WriteSettings(content);
  const Finished save = RunToEnd({"--save", "--port", "COM3"});
  EXPECT_EQ(save.code, 1);
  EXPECT_NE(save.err.find("lintrel-cli: --save: "), std::string::npos) << save.err;
  EXPECT_NE(save.err.find("larger than 1 MiB"), std::string::npos) << save.err;
  EXPECT_EQ(save.err.find("settings saved"), std::string::npos) << save.err;
  EXPECT_EQ(ReadFile(SettingsFile()), content);
}

TEST_F(CliSettingsTest, SaveWithNowhereToKeepSettingsNamesTheMissingVariables) {
  config_home_.reset();
  const ScopedEnvironment no_config_home("XDG_CONFIG_HOME", std::nullopt);
  const ScopedEnvironment no_home("HOME", std::nullopt);
  // The program runs in an empty folder of its own, where nothing may appear.
  const std::filesystem::path folder = directory_.File("cwd");
  std::filesystem::create_directory(folder);
  const std::filesystem::path old_folder = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  const Finished save = RunToEnd({"--save", "--baud", "9600"});
  std::filesystem::current_path(old_folder);
  EXPECT_EQ(save.code, 1);
  EXPECT_NE(save.err.find("XDG_CONFIG_HOME"), std::string::npos) << save.err;
  EXPECT_NE(save.err.find("HOME is not set"), std::string::npos) << save.err;
  EXPECT_EQ(save.err.find("\"\""), std::string::npos) << save.err;
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

// Stored positions outside their lists are kept, but the port opens with the entries'
// defaults, after one warning naming them.
TEST_F(CliSettingsTest, OutOfListValuesAreKeptButNeverOpenAPort) {
  const std::string link = directory_.File("scanner");
  std::string error;
  std::unique_ptr<platform::VirtualSerialDevice> device = platform::VirtualSerialDevice::Create(link, &error);
  ASSERT_NE(device, nullptr) << error;
  WriteSettings("Port=COM7\nBaud rate=99\nParity=7\nDatabit=-1\nStop bit=0\n");

  ChildProcess cli(kCliPath, {"--port", "COM7=" + link, "--keys", "trace"});
  ASSERT_TRUE(cli.WaitForErr("lintrel: COM7 connected (" + link + ")\n")) << cli.Describe();
  ExpectTypesALineAndStops(cli, *device);
  const std::vector<std::string> lines = cli.ErrLines();
  const auto names_baud = [](const std::string& text) { return text.find("\"Baud rate\"") != std::string::npos; };
  ASSERT_EQ(std::count_if(lines.begin(), lines.end(), names_baud), 1) << cli.Describe();
  const std::string warning = *std::find_if(lines.begin(), lines.end(), names_baud);
  for (const char* part : {"\"Parity\"=7", "\"Databit\"=-1", "1200 baud", "no parity", "8 data bits"}) {
    EXPECT_NE(warning.find(part), std::string::npos) << part << " in " << warning;
  }
  EXPECT_EQ(warning.find("Stop bit"), std::string::npos) << warning;

  // A save keeps what it did not change.
  ASSERT_EQ(RunToEnd({"--save", "--stop-bits", "2"}).code, 0);
  const std::string file = ReadFile(SettingsFile());
  EXPECT_EQ(file.substr(file.find('\n') + 1), "Port=COM7\nBaud rate=99\nParity=7\nDatabit=-1\nStop bit=1\n");
}

}  // namespace
}  // namespace lintrel::testing

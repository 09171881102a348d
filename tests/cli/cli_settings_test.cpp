// lintrel-cli's saved settings on Linux: --save writes the settings file, later runs start
// from it, --list-ports shows pinned ports, and a damaged or unwritable file never stops the
// program.

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "platform/virtual_serial_device.h"
#include "posix/posix_test_support.h"

namespace lintrel::testing {
namespace {

constexpr char kCliPath[] = LINTREL_CLI_PATH;

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
    const char* old = getenv("XDG_CONFIG_HOME");
    if (old != nullptr) saved_config_home_ = old;
    setenv("XDG_CONFIG_HOME", directory_.File("config").c_str(), 1);
  }

  void TearDown() override {
    if (saved_config_home_) {
      setenv("XDG_CONFIG_HOME", saved_config_home_->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
  }

  std::string SettingsFile() const { return directory_.File("config/lintrel/lintrel-cli.conf"); }

  void WriteSettings(const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(SettingsFile()).parent_path());
    std::ofstream(SettingsFile(), std::ios::binary) << text;
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

 private:
  std::optional<std::string> saved_config_home_;
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
  const std::string line = "5\r";
  ASSERT_TRUE(device->Write(std::span(reinterpret_cast<const uint8_t*>(line.data()), line.size())));
  ASSERT_TRUE(cli.WaitForOutLines(4)) << cli.Describe();
  EXPECT_EQ(cli.out(), "down 0x35\nup 0x35\ndown 0x0D\nup 0x0D\n");
  ASSERT_TRUE(cli.Signal(SIGTERM));
  const std::optional<ExitStatus> status = cli.WaitForExit();
  ASSERT_TRUE(status.has_value()) << cli.Describe();
  EXPECT_TRUE(status->exited && status->code == 0) << cli.Describe();
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

}  // namespace
}  // namespace lintrel::testing

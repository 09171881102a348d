// lintrel-cli's layers of settings on Linux: the machine's file (found through
// XDG_CONFIG_DIRS), the user's, the command line and the policy file, each over the ones
// before it, seen through --show-settings and through the lines typed; and --save that does
// not store over a policy. The program under test is built with its policy file in the
// build tree (LINTREL_POLICY_FILE), which these tests write one at a time.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "posix/posix_test_support.h"
#include "support/trace.h"

namespace lintrel::testing {
namespace {

constexpr char kCliPath[] = LINTREL_POLICY_CLI_PATH;
constexpr char kPolicyFile[] = LINTREL_POLICY_FILE;

enum Layer { kMachine, kUser, kCommandLine, kPolicy, kLayerCount };
constexpr const char* kSourceNames[] = {"machine", "user", "command line", "policy"};
// The prefix text each layer sets for COM5: a line "5" is typed with the one in force.
constexpr const char* kPrefixes[] = {"M", "U", "C", "P"};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class CliPolicyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(directory_.ok());
    config_home_.emplace("XDG_CONFIG_HOME", directory_.File("home"));
    // Two machine folders, the first the more important; the second's file is overruled.
    config_dirs_.emplace("XDG_CONFIG_DIRS", directory_.File("xdg") + ":relative:" + directory_.File("vendor"));
    WriteFile(directory_.File("vendor/lintrel/lintrel-cli.conf"), "Prefix text=V\nSuffix=\\t\n");
  }
  void TearDown() override { std::filesystem::remove(kPolicyFile); }

  std::filesystem::path UserFile() const { return directory_.File("home/lintrel/lintrel-cli.conf"); }

  // COM5's prefix text set by the layers chosen; the others leave it to the layer below.
  std::vector<std::string> SetUpLayers(const std::vector<Layer>& layers) {
    std::filesystem::remove(kPolicyFile);
    std::filesystem::remove(UserFile());
    std::filesystem::remove(directory_.File("xdg/lintrel/lintrel-cli.conf"));
    std::vector<std::string> args = {"--keys", "trace", "--port", "COM5=" + directory_.File("scanner")};
    for (Layer layer : layers) {
      // The machine's and the policy's for every port, the user's in COM5's section.
      const std::string every_port = std::string("Prefix text=") + kPrefixes[layer] + "\n";
      if (layer == kMachine) WriteFile(directory_.File("xdg/lintrel/lintrel-cli.conf"), every_port);
      if (layer == kUser) WriteFile(UserFile(), std::string("[COM5]\nPrefix text=") + kPrefixes[layer] + "\n");
      if (layer == kCommandLine) args.insert(args.end(), {"--prefix-text", kPrefixes[layer]});
      if (layer == kPolicy) WriteFile(kPolicyFile, every_port);
    }
    return args;
  }

  static CommandResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), kCliPath);
    return RunToEnd(args);
  }
  static CommandResult ShowSettings(std::vector<std::string> args) {
    args.push_back("--show-settings");
    return Run(args);
  }
  static int Code(const CommandResult& result) { return result.status && result.status->exited ? result.status->code : -1; }

  TemporaryDirectory directory_;
  std::optional<ScopedEnvironment> config_home_;
  std::optional<ScopedEnvironment> config_dirs_;
};

// Every set of layers: the highest that sets the value gives it, and --show-settings names it.
TEST_F(CliPolicyTest, EachLayerStandsOverTheOnesBelowIt) {
  for (unsigned set = 1; set < (1u << kLayerCount); ++set) {
    std::vector<Layer> layers;
    for (int layer = kMachine; layer < kLayerCount; ++layer) {
      if (set & (1u << layer)) layers.push_back(static_cast<Layer>(layer));
    }
    const Layer highest = layers.back();
    const CommandResult shown = ShowSettings(SetUpLayers(layers));
    ASSERT_TRUE(shown.Succeeded()) << shown.err;
    const std::string expected = std::string(kSourceNames[highest]) + std::string(20 - std::strlen(kSourceNames[highest]), ' ') +
                                 "Prefix text=" + kPrefixes[highest] + "\n";
    EXPECT_NE(shown.out.find("[COM5]\n"), std::string::npos) << shown.out;
    EXPECT_NE(shown.out.find(expected), std::string::npos) << "set " << set << ":\n" << shown.out;
    // The second machine folder's suffix shows through every layer that does not set one.
    EXPECT_NE(shown.out.find("machine             Suffix=\\t\n"), std::string::npos) << shown.out;
  }
}

// The lines typed follow the same order: each layer in turn over all the ones below it.
TEST_F(CliPolicyTest, TheLinesTypedFollowTheLayerInForce) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeDevice(directory_.File("scanner"));
  ASSERT_NE(device, nullptr);
  std::vector<Layer> layers;
  for (Layer layer : {kMachine, kUser, kCommandLine, kPolicy}) {
    layers.push_back(layer);
    ChildProcess cli(kCliPath, SetUpLayers(layers));
    ASSERT_TRUE(cli.WaitForErr(Connected(5, directory_.File("scanner")))) << cli.Describe();
    ASSERT_TRUE(Send(*device, "5\r"));
    const std::string expected = ExpectedTrace(std::string(kPrefixes[layer]) + "5\r\t");
    ASSERT_TRUE(cli.WaitUntil([&] { return cli.out().size() >= expected.size(); })) << cli.Describe();
    EXPECT_EQ(cli.out(), expected) << kSourceNames[layer];
    if (layer == kPolicy) {
      EXPECT_NE(cli.err().find("lintrel-cli: \"Prefix text\" of COM5 is set by your administrator: \"P\" is used, "
                               "not \"C\"\n"),
                std::string::npos)
          << cli.Describe();
    }
    ExpectStopsCleanly(cli);
  }
}

// (--list-ports ends the run once the settings are saved.)
// --save stores nothing when an option given is one a policy sets otherwise, and says so; a
// save that agrees with the policies stores the rest and leaves the policy's values to it.
TEST_F(CliPolicyTest, SaveDoesNotStoreOverAPolicy) {
  WriteFile(kPolicyFile, "End char=3\nKey delay=20\n[COM5]\nBaud rate=4\n");
  WriteFile(UserFile(), "[COM5]\nSuffix=x\n");
  const CommandResult refused = Run({"--save", "--list-ports", "--port", "COM5", "--end-char", "10", "--suffix", "y"});
  EXPECT_EQ(Code(refused), 1);
  EXPECT_EQ(refused.err,
            "lintrel-cli: --save: not saved: \"End char\" of COM5 is set by your administrator: \"3\" is used, not "
            "\"10\"\n");
  EXPECT_EQ(ReadFile(UserFile()), "[COM5]\nSuffix=x\n");

  const CommandResult saved =
      Run({"--save", "--list-ports", "--port", "COM5", "--baud", "9600", "--end-char", "3", "--suffix", "y"});
  ASSERT_EQ(Code(saved), 0) << saved.err;
  const std::string file = ReadFile(UserFile());
  EXPECT_NE(file.find("[COM5]\nSuffix=y\n"), std::string::npos) << file;
  EXPECT_EQ(file.find("End char"), std::string::npos) << "the policy's value is not copied:\n" << file;
  EXPECT_EQ(file.find("Baud rate=4"), std::string::npos) << file;
  const CommandResult shown = ShowSettings({});
  EXPECT_NE(shown.out.find("policy              End char=3\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("user                Suffix=y\n"), std::string::npos) << shown.out;
  // The delays and the encoding are among the values shown, as every profile value.
  EXPECT_NE(shown.out.find("policy              Key delay=20\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("default             Line delay=0\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("default             Encoding="), std::string::npos) << shown.out;
}

}  // namespace
}  // namespace lintrel::testing

#include "app/cli/cli_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/line_settings_store.h"
#include "settings/memory_settings_store.h"
#include "settings/port_profile.h"

namespace lintrel::cli {
namespace {

// The command line between the stored settings and the policies, with in-memory stores.
class CliSettingsLayersTest : public ::testing::Test {
 protected:
  // Layers the stores as they are now, parses `args` over them, then applies them as
  // lintrel-cli does.
  CliOptions Apply(std::vector<std::string> args) {
    settings_.emplace(std::vector<SettingsLayer>{{SettingSource::kMachine, &machine_, "machine"},
                                                 {SettingSource::kUser, &user_, "user"},
                                                 {SettingSource::kPolicy, &policy_, "policy"}});
    args.insert(args.end(), {"--keys", "trace"});
    ParseResult parsed = ParseCliOptions(args, {}, LineSettings{.port_name = ""}, LoadSavedPortNames(*settings_));
    EXPECT_EQ(parsed.error, "");
    command_line_ = CommandLineSettings(parsed.options);
    std::vector<std::string> warnings;
    ApplySettings(*settings_, parsed.options, &warnings);
    settings_->AddLayer({.source = SettingSource::kCommandLine, .store = &command_line_, .location = ""});
    return parsed.options;
  }

  MemorySettingsStore machine_, user_, policy_, command_line_;
  std::optional<LayeredSettings> settings_;
};

TEST_F(CliSettingsLayersTest, OptionsStandOverTheStoredValuesAndPoliciesOverTheOptions) {
  machine_.WriteString("Replace 1", "a=b");
  machine_.WriteInt("Truncate", 1);
  user_.WriteInt(PortProfileEntry(5, kEndCharEntry), 10);
  policy_.WriteString(kSuffixEntry, "\\t");
  const CliOptions options =
      Apply({"--port", "COM5", "--no-replace", "--suffix", "x", "--port", "COM6", "--end-char", "3"});
  const PortCaptureRules five = CaptureRulesOf(options, options.ports[0]);
  const PortCaptureRules six = CaptureRulesOf(options, options.ports[1]);
  EXPECT_TRUE(five.shaping.replacements.empty()) << "--no-replace empties the machine's list";
  EXPECT_EQ(six.shaping.replacements, (std::vector<Replacement>{{"a", "b"}}));
  EXPECT_EQ(five.end_character, 10);
  EXPECT_EQ(six.end_character, 3);
  EXPECT_EQ(five.truncate, true);
  EXPECT_EQ(five.shaping.suffix, "\t") << "the policy's, not the option's";
  EXPECT_EQ(OverruledOptions(*settings_),
            (std::vector<std::string>{"\"Suffix\" of COM5 is set by your administrator: \"\\t\" is used, not \"x\""}));
  EXPECT_EQ(settings_->SourceOf(PortProfileEntry(6, kEndCharEntry)), SettingSource::kCommandLine);
}

// A policy's "Ports" are the ports captured, whatever --port names; a device given for one of
// them stays with it.
TEST_F(CliSettingsLayersTest, APolicysPortsStandForThePortsGiven) {
  policy_.WriteString("Ports", "COM7,COM5");
  const CliOptions given = Apply({"--port", "COM5=/dev/ttyUSB3", "--port", "COM6"});
  ASSERT_EQ(given.ports.size(), 2u);
  EXPECT_EQ(given.ports[0].port_number, 7);
  EXPECT_EQ(given.ports[1].port_number, 5);
  EXPECT_EQ(given.ports[1].device_path, "/dev/ttyUSB3");
  EXPECT_TRUE(given.ports_from_settings) << "one that cannot be opened is waited for";
  EXPECT_EQ(OverruledOptions(*settings_),
            (std::vector<std::string>{"\"Ports\" is set by your administrator: \"COM7,COM5\" is used, not \"COM5,COM6\""}));
}

}  // namespace
}  // namespace lintrel::cli

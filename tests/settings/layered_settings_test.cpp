#include "settings/layered_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fakes/fake_settings_store.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"

namespace lintrel {
namespace {

using testing::FakeSettingsStore;
using Value = FakeSettingsStore::Value;

// One store for each source, layered.
class LayeredSettingsTest : public ::testing::Test {
 protected:
  LayeredSettings Layers() {
    return LayeredSettings({{SettingSource::kPolicy, &policy_, "policy"},
                            {SettingSource::kMachine, &machine_, "machine"},
                            {SettingSource::kUser, &user_, "user"},
                            {SettingSource::kRecommended, &recommended_, "recommended"},
                            {SettingSource::kCommandLine, &command_line_, "command line"}});
  }

  FakeSettingsStore machine_, recommended_, user_, command_line_, policy_;
};

// Every pair of layers, each way round: the value of the layer of higher precedence is read,
// and named as the source; a port's value set for every port in a layer stands for the port
// there.
TEST_F(LayeredSettingsTest, TheLayerOfHighestPrecedenceThatHoldsAValueGivesIt) {
  const std::vector<std::pair<SettingSource, FakeSettingsStore*>> ranked = {
      {SettingSource::kMachine, &machine_}, {SettingSource::kRecommended, &recommended_},
      {SettingSource::kUser, &user_},       {SettingSource::kCommandLine, &command_line_},
      {SettingSource::kPolicy, &policy_}};
  const std::string end_char = PortProfileEntry(5, kEndCharEntry);
  for (std::size_t low = 0; low < ranked.size(); ++low) {
    for (std::size_t high = low + 1; high < ranked.size(); ++high) {
      for (FakeSettingsStore* store : {&machine_, &recommended_, &user_, &command_line_, &policy_}) store->values.clear();
      ranked[low].second->values[end_char] = int32_t{10};
      ranked[high].second->values[end_char] = int32_t{3};
      LayeredSettings settings = Layers();
      const std::string pair = std::string(SettingSourceName(ranked[low].first)) + " under " +
                               std::string(SettingSourceName(ranked[high].first));
      EXPECT_EQ(settings.ReadInt(end_char), 3) << pair;
      EXPECT_EQ(settings.SourceOf(end_char), ranked[high].first) << pair;
      EXPECT_EQ(settings.SourceOf(PortProfileEntry(6, kEndCharEntry)), SettingSource::kDefault) << pair;

      // The higher layer's value for every port, outside the sections, does the same; the
      // user's is the program's own shared value, which leaves the port with none of its own.
      ranked[high].second->values.clear();
      ranked[high].second->values[kEndCharEntry] = int32_t{3};
      LayeredSettings shared = Layers();
      const bool falls_back = ranked[high].first != SettingSource::kUser;
      EXPECT_EQ(shared.ReadInt(end_char), falls_back ? std::optional<int32_t>(3) : std::nullopt) << pair;
      EXPECT_EQ(shared.SourceOf(PortProfileEntry(6, kEndCharEntry)),
                falls_back ? ranked[high].first : SettingSource::kDefault)
          << pair;
    }
  }
}

// The user's values outside the sections are the program's shared ones, every kind of them
// (line settings, capture and record options): a port with none of its own takes them from
// the program, never a lower layer's value for that port.
TEST_F(LayeredSettingsTest, TheUsersSharedValuesStandOverALowerLayersValuesForAPort) {
  machine_.values = {{"Ports\\COM5\\Suffix", std::string("M")}, {"Ports\\COM5\\Pattern", std::string("(?<a>.*)")}};
  recommended_.values = {{"Ports\\COM5\\Truncate", int32_t{1}}, {"Suffix", std::string("R")}};
  user_.values = {{"Suffix", std::string("U")}, {"Pattern", std::string("x")}, {"Truncate", int32_t{0}}};
  LayeredSettings settings = Layers();
  EXPECT_EQ(LoadPortProfile(settings, 5, nullptr), PortProfile{});
  EXPECT_EQ(settings.SourceOf("Ports\\COM5\\Suffix"), SettingSource::kDefault);
  EXPECT_EQ(settings.ReadString("Suffix"), "U");

  user_.values.clear();
  LayeredSettings without_users = Layers();
  EXPECT_EQ(LoadPortProfile(without_users, 5, nullptr),
            (PortProfile{.truncate = true, .suffix = "R", .pattern = "(?<a>.*)"}));
}

// A value put into the user's store by someone else while the program runs is read, over a
// shared one, as it was before there were layers.
TEST_F(LayeredSettingsTest, AValueStoredByAnotherProgramSinceTheStartIsTheUsers) {
  user_.values = {{"Suffix", std::string("S")}};
  machine_.values = {{"Ports\\COM12\\Suffix", std::string("M")}};
  LayeredSettings settings = Layers();
  user_.values["Ports\\COM12\\Suffix"] = std::string("U");
  EXPECT_EQ(LoadPortProfile(settings, 12, nullptr).suffix, "U");
  EXPECT_EQ(settings.SourceOf("Ports\\COM12\\Suffix"), SettingSource::kUser);
}

// "Port" and "Ports", and a port's replacements, are each one value: a layer's list is never
// merged with a lower one's.
TEST_F(LayeredSettingsTest, AValueOfSeveralEntriesComesWholeFromOneLayer) {
  user_.values = {{"Port", std::string("COM3")},
                  {"Ports\\COM5\\Replace 1", std::string("a=b")},
                  {"Ports\\COM5\\Replace 2", std::string("c=d")}};
  machine_.values = {{"Replace 1", std::string("x=y")}};
  policy_.values = {{"Ports", std::string("COM5,COM7")}, {"Ports\\COM5\\Replace 3", std::string("e=f")}};
  LayeredSettings settings = Layers();
  EXPECT_EQ(LoadSavedPortNames(settings), (std::vector<std::string>{"COM5", "COM7"}));
  EXPECT_EQ(settings.ReadString("Port"), std::nullopt);
  EXPECT_EQ(LoadPortProfile(settings, 5, nullptr).replacements, (std::vector<Replacement>{{"e", "f"}}));
  EXPECT_EQ(LoadPortProfile(settings, 6, nullptr).replacements, (std::vector<Replacement>{{"x", "y"}}));
  EXPECT_EQ(settings.SourceOf("Ports\\COM5\\Replace 1"), SettingSource::kPolicy);
}

TEST_F(LayeredSettingsTest, WritesGoToTheUserAndNeverOverAPolicy) {
  policy_.values = {{"Ports\\COM5\\End char", int32_t{13}}, {"Suffix", std::string("\\t")}};
  user_.values = {{"Ports\\COM5\\End char", int32_t{10}}};
  recommended_.values = {{"Ports\\COM5\\Truncate", int32_t{1}}};
  LayeredSettings settings = Layers();

  // The policy's own value, and the one the layers below give already, store nothing.
  settings.WriteInt("Ports\\COM5\\End char", 13);
  settings.WriteInt("Ports\\COM5\\Truncate", 1);
  settings.Remove("Ports\\COM5\\End char");
  std::string error;
  EXPECT_TRUE(settings.Flush(&error)) << error;
  EXPECT_EQ(user_.flushed_values, (std::map<std::string, Value>{{"Ports\\COM5\\End char", int32_t{10}}}))
      << "the user's own value stays for when the policy goes";

  // Any other value over a policy is refused and named; the rest is stored.
  settings.WriteInt("Ports\\COM5\\End char", 9);
  settings.WriteString("Ports\\COM7\\Suffix", "X");
  settings.WriteInt("Ports\\COM5\\Truncate", 0);
  settings.WriteInt("Baud rate", 4);
  EXPECT_FALSE(settings.Flush(&error));
  EXPECT_EQ(error, "\"End char\" of COM5, \"Suffix\" of COM7 are set by your administrator and not stored");
  EXPECT_EQ(user_.flushed_values, (std::map<std::string, Value>{{"Ports\\COM5\\End char", int32_t{10}},
                                                                {"Ports\\COM5\\Truncate", int32_t{0}},
                                                                {"Baud rate", int32_t{4}}}));
  EXPECT_TRUE(settings.Flush(&error)) << "a refusal is told once";

  // What the user's store fails to write is told with the refusals.
  user_.flush_failure = "disk full";
  settings.WriteInt("Ports\\COM5\\End char", 9);
  EXPECT_FALSE(settings.Flush(&error));
  EXPECT_EQ(error, "disk full; \"End char\" of COM5 is set by your administrator and not stored");
}

// The user's own value, once written, stands for a machine's: the user follows a machine's or
// a recommended value only until they change it, and a value the user holds is rewritten.
TEST_F(LayeredSettingsTest, AValueWrittenOverALowerLayerIsTheUsersFromThenOn) {
  machine_.values = {{"Ports\\COM2\\Replace 1", std::string("a=b")}, {"Ports\\COM2\\Replace 2", std::string("c=d")}};
  recommended_.values = {{"Baud rate", int32_t{4}}};
  LayeredSettings settings = Layers();
  WritePortProfile(settings, 2, {.replacements = std::vector<Replacement>{{"a", "b"}}});
  settings.WriteInt("Baud rate", 6);
  std::string error;
  ASSERT_TRUE(settings.Flush(&error)) << error;
  EXPECT_EQ(LoadPortProfile(settings, 2, nullptr).replacements, (std::vector<Replacement>{{"a", "b"}}))
      << "the user's list of one, not merged with the machine's second";
  EXPECT_EQ(settings.SourceOf("Ports\\COM2\\Replace 1"), SettingSource::kUser);
  EXPECT_EQ(settings.ReadInt("Baud rate"), 6);
  settings.WriteInt("Baud rate", 4);
  ASSERT_TRUE(settings.Flush(&error)) << error;
  EXPECT_EQ(user_.flushed_values.at("Baud rate"), Value(int32_t{4})) << "held by the user: written";
  settings.Remove("Baud rate");
  EXPECT_EQ(settings.SourceOf("Baud rate"), SettingSource::kRecommended);
}

TEST_F(LayeredSettingsTest, PoliciesAloneAndTheValuesTheyOverrule) {
  policy_.values = {{"Truncate", int32_t{1}}, {"Ports\\COM5\\Suffix", std::string("P")}};
  command_line_.values = {{"Ports\\COM5\\Truncate", int32_t{0}}, {"Ports\\COM5\\Suffix", std::string("P")},
                          {"Ports\\COM5\\End char", int32_t{10}}};
  user_.values = {{"Ports\\COM6\\Truncate", int32_t{0}}};
  LayeredSettings settings = Layers();
  EXPECT_EQ(LoadPortProfile(settings.Policies(), 9, nullptr), (PortProfile{.truncate = true}));
  EXPECT_EQ(LoadPortProfile(settings.Policies(), 5, nullptr), (PortProfile{.truncate = true, .suffix = "P"}));
  EXPECT_EQ(settings.Policies().Names(), (std::vector<std::string>{"Ports\\COM5\\Suffix", "Truncate"}));
  const std::vector<OverruledValue> overruled = settings.OverruledByPolicy(SettingSource::kCommandLine);
  ASSERT_EQ(overruled.size(), 1u);
  EXPECT_EQ(overruled[0].entry, "Ports\\COM5\\Truncate");
  EXPECT_EQ(overruled[0].value, "0");
  EXPECT_EQ(overruled[0].policy_value, "1");
  EXPECT_EQ(settings.OverruledByPolicy(SettingSource::kUser).size(), 1u);
}

}  // namespace
}  // namespace lintrel

#include "ui/policy_locks.h"

#include <gtest/gtest.h>

#include <chrono>

#include "settings/memory_settings_store.h"

namespace lintrel::ui {
namespace {

TEST(PolicyLocksTest, AControlIsLockedWhereAPolicySetsItsValueForThePortOrForEvery) {
  MemorySettingsStore user, recommended, policy;
  user.WriteInt("Ports\\COM5\\Truncate", 1);
  recommended.WriteString("Suffix", "x");
  policy.WriteInt("End char", 10);
  policy.WriteString("Ports\\COM5\\Replace 2", "a=b");
  policy.WriteInt("Ports\\COM6\\Baud rate", 4);
  policy.WriteInt("Follow devices", 0);
  policy.WriteString("Ports\\COM5\\Template", "{line}");
  const LayeredSettings settings({{SettingSource::kUser, &user, ""},
                                  {SettingSource::kRecommended, &recommended, ""},
                                  {SettingSource::kPolicy, &policy, ""}});
  EXPECT_EQ(OptionsLocksFor(settings, 5),
            (OptionsLocks{.end_character = true, .replacements = true, .template_text = true, .follow_devices = true}));
  EXPECT_EQ(OptionsLocksFor(settings, -1), (OptionsLocks{.end_character = true, .follow_devices = true}));
  EXPECT_EQ(LineLocksFor(settings, 6), (LineLocks{.baud = true}));
  EXPECT_FALSE(LineLocksFor(settings, 5).Any());
  EXPECT_FALSE(ConnectedPortsLocked(settings));
  policy.WriteString("Connected ports", "COM5");
  EXPECT_TRUE(ConnectedPortsLocked(LayeredSettings({{SettingSource::kUser, &user, ""},
                                                    {SettingSource::kPolicy, &policy, ""}})));
}

// The delays a policy sets are shown for the port, or for every port, in place of the shared
// ones; one out of its range is not, as a profile does not take it.
TEST(PolicyLocksTest, TheDelaysAPolicySetsAreShown) {
  MemorySettingsStore user, policy;
  policy.WriteInt("Key delay", 20);
  policy.WriteInt("Ports\\COM5\\Line delay", 300);
  policy.WriteInt("Ports\\COM6\\Key delay", kMaxKeyDelayMs + 1);
  LayeredSettings settings({{SettingSource::kUser, &user, ""}, {SettingSource::kPolicy, &policy, ""}});
  using std::chrono::milliseconds;
  const Pacing shared{.key_delay = milliseconds(5), .line_delay = milliseconds(7)};
  EXPECT_EQ(WithPolicyDelays(settings, 5, shared), (Pacing{milliseconds(20), milliseconds(300)}));
  EXPECT_EQ(WithPolicyDelays(settings, -1, shared), (Pacing{milliseconds(20), milliseconds(7)}));
  EXPECT_EQ(WithPolicyDelays(settings, 6, shared), shared);
  EXPECT_EQ(OptionsLocksFor(settings, 5),
            (OptionsLocks{.key_delay = true, .line_delay = true}));
}

}  // namespace
}  // namespace lintrel::ui

#include "ui/policy_locks.h"

#include <gtest/gtest.h>

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
  policy.WriteInt("Key delay", 20);
  policy.WriteString("Ports\\COM5\\Target", "excel.exe");
  policy.WriteString("Ports\\COM5\\Hotkey", "Ctrl+F9");
  policy.WriteInt("Poll every", 500);
  const LayeredSettings settings({{SettingSource::kUser, &user, ""},
                                  {SettingSource::kRecommended, &recommended, ""},
                                  {SettingSource::kPolicy, &policy, ""}});
  EXPECT_EQ(OptionsLocksFor(settings, 5),
            (OptionsLocks{.end_character = true, .replacements = true, .template_text = true, .key_delay = true,
                          .follow_devices = true, .target = true, .poll_every = true, .hotkey = true}));
  EXPECT_EQ(OptionsLocksFor(settings, -1), (OptionsLocks{.end_character = true, .key_delay = true, .follow_devices = true,
                                                         .poll_every = true}));
  EXPECT_EQ(LineLocksFor(settings, 6), (LineLocks{.baud = true}));
  EXPECT_FALSE(LineLocksFor(settings, 5).Any());
  EXPECT_FALSE(ConnectedPortsLocked(settings));
  policy.WriteString("Connected ports", "COM5");
  EXPECT_TRUE(ConnectedPortsLocked(LayeredSettings({{SettingSource::kUser, &user, ""},
                                                    {SettingSource::kPolicy, &policy, ""}})));
}

}  // namespace
}  // namespace lintrel::ui

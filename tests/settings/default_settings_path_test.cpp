#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "posix/posix_test_support.h"
#include "settings/settings_file.h"

namespace lintrel {
namespace {

using testing::ScopedEnvironment;

TEST(DefaultSettingsPathTest, FollowsXdgConfigHomeThenHome) {
  struct Case {
    std::optional<std::string> xdg_config_home;
    std::optional<std::string> home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"/srv/config", "/home/ann", "/srv/config/lintrel/lintrel.conf"},
      {"/srv/config", std::nullopt, "/srv/config/lintrel/lintrel.conf"},
      {std::nullopt, "/home/ann", "/home/ann/.config/lintrel/lintrel.conf"},
      {"", "/home/ann", "/home/ann/.config/lintrel/lintrel.conf"},
      {"relative/config", "/home/ann", "/home/ann/.config/lintrel/lintrel.conf"},
      {std::nullopt, std::nullopt, ""},
      {"", "", ""},
      {"relative/config", std::nullopt, ""},
      {std::nullopt, "relative/home", ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE("XDG_CONFIG_HOME=" + test.xdg_config_home.value_or("(unset)") +
                 " HOME=" + test.home.value_or("(unset)"));
    ScopedEnvironment xdg("XDG_CONFIG_HOME", test.xdg_config_home);
    ScopedEnvironment home("HOME", test.home);
    EXPECT_EQ(DefaultSettingsPath("lintrel").string(), test.expected);
  }
}

TEST(DefaultSettingsPathTest, TheApplicationNameNamesTheFile) {
  ScopedEnvironment xdg("XDG_CONFIG_HOME", "/srv/config");
  EXPECT_EQ(DefaultSettingsPath("lintrel-cli"), "/srv/config/lintrel/lintrel-cli.conf");
}

}  // namespace
}  // namespace lintrel

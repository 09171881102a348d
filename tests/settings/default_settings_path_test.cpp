#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/settings_file.h"

namespace lintrel {
namespace {

// Sets an environment variable (or unsets it for nullopt) for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    Set(value);
  }
  ~ScopedEnvironment() { Set(old_); }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      setenv(name_, value->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

  const char* name_;
  std::optional<std::string> old_;
};

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

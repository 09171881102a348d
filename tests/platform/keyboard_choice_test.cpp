#include "platform/keyboard_choice.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace lintrel::platform {
namespace {

TEST(LayoutNameTest, LayoutAndVariantAreXkbNamesAndNothingElse) {
  struct Case {
    const char* text;
    std::optional<LayoutName> expected;
  };
  const Case cases[] = {
      {"de", LayoutName{"de", ""}},
      {"fr:azerty", LayoutName{"fr", "azerty"}},
      {"us:alt-intl", LayoutName{"us", "alt-intl"}},
      {"", std::nullopt},
      {":nodeadkeys", std::nullopt},
      {"de:", std::nullopt},
      {"de,us", std::nullopt},
      {"../../etc/passwd", std::nullopt},  // names never reach outside the XKB data
      {"de(nodeadkeys)", std::nullopt},
      {"de:a:b", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseLayoutName(c.text), c.expected);
  }
  EXPECT_EQ((LayoutName{"de", "nodeadkeys"}.Describe()), "de(nodeadkeys)");
  EXPECT_EQ((LayoutName{"de", ""}.Describe()), "de");
}

TEST(ChooseLayoutTest, GivenThenEnvironmentThenKeyboardFileThenUs) {
  const std::string keyboard_file =
      "# KEYBOARD CONFIGURATION FILE\nXKBMODEL=\"pc105\"\nXKBLAYOUT=\"fr,us\"\nXKBVARIANT=\"azerty,\"\n"
      "XKBOPTIONS=\"\"\n";
  struct Case {
    const char* name;
    std::optional<LayoutName> given;
    LayoutSources sources;
    LayoutName expected;
  };
  const Case cases[] = {
      {"given wins", LayoutName{"de", ""}, {"us", "intl", keyboard_file}, {"de", ""}},
      {"environment", std::nullopt, {"de", "nodeadkeys", keyboard_file}, {"de", "nodeadkeys"}},
      {"environment list", std::nullopt, {"ch,de", std::nullopt, std::nullopt}, {"ch", ""}},
      {"empty environment", std::nullopt, {"", std::nullopt, keyboard_file}, {"fr", "azerty"}},
      {"bad environment", std::nullopt, {"x/y", std::nullopt, keyboard_file}, {"fr", "azerty"}},
      {"keyboard file", std::nullopt, {std::nullopt, std::nullopt, keyboard_file}, {"fr", "azerty"}},
      {"unquoted file", std::nullopt, {std::nullopt, std::nullopt, "XKBLAYOUT=de\n"}, {"de", ""}},
      {"file without layout", std::nullopt, {std::nullopt, std::nullopt, "XKBMODEL=pc105\n"}, {"us", ""}},
      {"nothing", std::nullopt, {}, {"us", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ChooseLayout(c.given, c.sources), c.expected);
  }
}

TEST(ChooseAutoKeyboardTest, X11OnlyOnAnXDisplayOutsideWayland) {
  struct Case {
    DisplaySession session;
    const char* expected;
    const char* reason;
  };
  const Case cases[] = {
      {{.wayland = false, .x_display_reachable = true, .x_display_error = {}}, "x11", "an X display"},
      {{.wayland = true, .x_display_reachable = true, .x_display_error = {}}, "uinput", "a Wayland session"},
      {{.wayland = true, .x_display_reachable = false, .x_display_error = {}}, "uinput", "a Wayland session"},
      {{.wayland = false, .x_display_reachable = false, .x_display_error = {}}, "uinput", "no X display"},
      // The X keyboard was tried: its error is the reason, not lost.
      {{.wayland = false, .x_display_reachable = false, .x_display_error = "cannot open X display \":5\""},
       "uinput", "x11: cannot open X display \":5\""},
  };
  for (const Case& c : cases) {
    std::string reason;
    EXPECT_EQ(ChooseAutoKeyboard(c.session, &reason), c.expected);
    EXPECT_EQ(reason, c.reason);
  }
}

}  // namespace
}  // namespace lintrel::platform

#include "settings/hotkey.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel {
namespace {

// What the user writes, and how it is written back.
TEST(HotkeyTest, AcceptedTextsAreWrittenBackInOneSpelling) {
  const struct {
    const char* text;
    const char* written;
    unsigned modifiers;
    int key;
  } cases[] = {
      {"Ctrl+Alt+F9", "Ctrl+Alt+F9", Hotkey::kCtrl | Hotkey::kAlt, 0x78},
      {" alt + ctrl + f9 ", "Ctrl+Alt+F9", Hotkey::kCtrl | Hotkey::kAlt, 0x78},
      {"Control+Shift+p", "Ctrl+Shift+P", Hotkey::kCtrl | Hotkey::kShift, 'P'},
      {"F24", "F24", 0, 0x87},
      {"Shift+F1", "Shift+F1", Hotkey::kShift, 0x70},
      {"Ctrl+NumPad7", "Ctrl+NumPad7", Hotkey::kCtrl, 0x67},
      {"Shift+PageDown", "Shift+PageDown", Hotkey::kShift, 0x22},
      {"Ctrl+Win+Shift+Alt+Delete", "Ctrl+Alt+Shift+Win+Delete", 0xF, 0x2E},
  };
  for (const auto& c : cases) {
    std::string error;
    const std::optional<Hotkey> hotkey = ParseHotkey(c.text, &error);
    ASSERT_TRUE(hotkey.has_value()) << c.text << ": " << error;
    EXPECT_EQ(hotkey->modifiers, c.modifiers) << c.text;
    EXPECT_EQ(hotkey->key, c.key) << c.text;
    EXPECT_EQ(hotkey->Text(), c.written) << c.text;
    EXPECT_EQ(ParseHotkey(hotkey->Text(), nullptr), hotkey) << c.text;
  }
}

TEST(HotkeyTest, RefusedTextsSayWhatIsWrong) {
  const struct {
    const char* text;
    const char* problem;
  } cases[] = {
      {"", "the key is missing"},
      {"Ctrl+Q+F9", "\"Q\" is not Ctrl, Alt, Shift or Win"},
      {"Ctrl+Ctrl+F9", "Ctrl is given twice"},
      {"Ctrl+F25", "\"F25\" is not a key"},
      {"Ctrl+F09", "\"F09\" is not a key"},
      {"Ctrl+NumPad10", "\"NumPad10\" is not a key"},
      // Keys that type a character would be taken from every program, Lintrel's lines too.
      {"A", "A types a character"},
      {"Shift+7", "7 types a character"},
      {"Space", "Space types a character"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseHotkey(c.text, &error).has_value()) << c.text;
    EXPECT_NE(error.find(c.problem), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(error.rfind("\"" + std::string(c.text) + "\": ", 0), 0u) << "names the text: " << error;
  }
}

}  // namespace
}  // namespace lintrel

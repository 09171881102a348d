// The portable key choice: which key and modifiers type a character, for layouts filled as
// the backends fill them (an XKB map with a level-3 shift, Windows with AltGr as Ctrl+Alt).

#include "platform/layout_keymap.h"

#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "platform/us_layout.h"

namespace lintrel::platform {
namespace {

constexpr uint8_t kShiftKey = 50;
constexpr uint8_t kLevel3Key = 92;
constexpr uint8_t kCtrlKey = 37;
constexpr uint8_t kAltKey = 64;
constexpr uint8_t kAltGr = kModifierLevel3;
constexpr uint8_t kAltGrWindows = kModifierCtrl | kModifierAlt;

// A few keys of a German layout as an X server describes them: Q is alphabetic (Caps Lock
// swaps its first two levels, not the AltGr ones), the digit keys are not.
LayoutKeymap GermanKeys(uint8_t altgr = kAltGr) {
  LayoutKeymap keymap;
  keymap.SetModifierKey(kModifierShift, kShiftKey);
  keymap.SetModifierKey(kModifierLevel3, kLevel3Key);
  keymap.SetModifierKey(kModifierCtrl, kCtrlKey);
  keymap.SetModifierKey(kModifierAlt, kAltKey);
  keymap.Add(24, 0, U'q', U'Q');
  keymap.Add(24, kModifierShift, U'Q', U'q');
  keymap.Add(24, altgr, U'@', U'@');
  keymap.Add(16, 0, U'7', U'7');
  keymap.Add(16, kModifierShift, U'/', U'/');
  keymap.Add(16, altgr, U'{', U'{');
  keymap.Add(20, 0, U'ß', U'ẞ');
  keymap.Add(20, kModifierShift, U'?', U'?');
  keymap.Add(20, altgr, U'\\', U'\\');
  keymap.Add(26, altgr, U'€', U'€');
  // A key that types 'a' only with Ctrl, and one that types 'b' only with Alt: never used.
  keymap.Add(38, kModifierCtrl, U'a', U'a');
  keymap.Add(56, kModifierAlt, U'b', U'b');
  // Two keys with the same character: the first added wins.
  keymap.Add(87, 0, U'1', U'1');
  keymap.Add(10, 0, U'1', U'1');
  // A character on a plain key of a later key and a Shift level of an earlier one.
  keymap.Add(61, kModifierShift, U'-', U'-');
  keymap.Add(62, 0, U'-', U'-');
  return keymap;
}

struct ChoiceCase {
  char32_t character;
  bool caps_lock;
  std::optional<KeyStroke> expected;
};

TEST(LayoutKeymapTest, ChoosesTheFewestModifiersWithCapsLockCompensated) {
  const ChoiceCase cases[] = {
      {U'q', false, KeyStroke{24, 0}},
      {U'Q', false, KeyStroke{24, kModifierShift}},
      {U'q', true, KeyStroke{24, kModifierShift}},
      {U'Q', true, KeyStroke{24, 0}},
      {U'@', false, KeyStroke{24, kAltGr}},
      {U'@', true, KeyStroke{24, kAltGr}},
      {U'7', true, KeyStroke{16, 0}},
      {U'/', true, KeyStroke{16, kModifierShift}},
      {U'ß', false, KeyStroke{20, 0}},
      {U'ẞ', true, KeyStroke{20, 0}},
      {U'ß', true, std::nullopt},
      {U'€', false, KeyStroke{26, kAltGr}},
      {U'a', false, std::nullopt},
      {U'b', false, std::nullopt},
      {U'1', false, KeyStroke{87, 0}},
      {U'-', false, KeyStroke{62, 0}},
      {U'Ω', false, std::nullopt},
  };
  const LayoutKeymap keymap = GermanKeys();
  for (const ChoiceCase& test : cases) {
    EXPECT_EQ(keymap.Choose(test.character, test.caps_lock), test.expected)
        << "U+" << std::hex << static_cast<uint32_t>(test.character) << " caps " << test.caps_lock;
  }
}

TEST(LayoutKeymapTest, WindowsAltGrIsCtrlWithAltAndNeverCtrlOrAltAlone) {
  const LayoutKeymap keymap = GermanKeys(kAltGrWindows);
  EXPECT_EQ(keymap.Choose(U'{', false), (KeyStroke{16, kAltGrWindows}));
  EXPECT_EQ(keymap.Choose(U'a', false), std::nullopt);

  std::vector<KeyEvent> events;
  keymap.AppendKeyEvents(KeyStroke{16, kAltGrWindows}, events);
  const std::vector<KeyEvent> expected = {
      {kCtrlKey, true}, {kAltKey, true}, {16, true}, {16, false}, {kAltKey, false}, {kCtrlKey, false}};
  EXPECT_EQ(events, expected);
}

TEST(LayoutKeymapTest, ALevelWhoseModifierHasNoKeyIsNotChosen) {
  LayoutKeymap keymap;
  keymap.SetModifierKey(kModifierShift, kShiftKey);
  keymap.Add(16, kAltGr, U'{', U'{');
  keymap.Add(16, kModifierShift | kAltGr, U'}', U'}');
  keymap.Add(30, kModifierShift | kAltGr, U'@', U'@');
  keymap.Add(31, kModifierShift, U'@', U'@');
  EXPECT_EQ(keymap.Choose(U'{', false), std::nullopt);
  EXPECT_EQ(keymap.Choose(U'@', false), (KeyStroke{31, kModifierShift}));

  keymap.SetModifierKey(kModifierLevel3, kLevel3Key);
  std::vector<KeyEvent> events;
  keymap.AppendKeyEvents(*keymap.Choose(U'}', false), events);
  const std::vector<KeyEvent> expected = {{kShiftKey, true}, {kLevel3Key, true}, {16, true},
                                          {16, false},       {kLevel3Key, false}, {kShiftKey, false}};
  EXPECT_EQ(events, expected);
}

TEST(LayoutKeymapTest, TheUsLayoutTypesAsciiAsTheTableSays) {
  LayoutKeymap keymap;
  FillUsLayout(keymap);
  for (char32_t character = 0x20; character < 0x7F; ++character) {
    const std::optional<KeyStroke> stroke = keymap.Choose(character, false);
    ASSERT_TRUE(stroke.has_value()) << static_cast<int>(character);
    const KeyMapping us = UsLayoutMap(static_cast<uint8_t>(character));
    EXPECT_EQ(stroke->key_code, us.key_code) << static_cast<int>(character);
    EXPECT_EQ(stroke->modifiers, us.shift_state == kShiftStateShift ? kModifierShift : 0)
        << static_cast<int>(character);
  }
  EXPECT_EQ(keymap.Choose(U'a', true), (KeyStroke{'A', kModifierShift}));
  EXPECT_EQ(keymap.Choose(U'!', true), (KeyStroke{'1', kModifierShift}));
  EXPECT_EQ(keymap.Choose(U'é', false), std::nullopt);
}

// Every control character is a bare key, Ctrl never held; the same rule fills the layouts
// of every keyboard, here the US one by its virtual keys.
TEST(ControlCharacterKeysTest, TheUsLayoutTypesEachControlCharacterAsABareKey) {
  LayoutKeymap keymap;
  FillUsLayout(keymap);
  const std::pair<char32_t, uint8_t> cases[] = {
      {U'\r', 0x0D}, {U'\n', 0x0D}, {U'\t', 0x09}, {U'\b', 0x08}, {0x7F, 0x08}, {0x1B, 0x1B},
      {0x01, 'A'}, {0x1A, 'Z'},
      {0x03, 'C'},  // the C key of Ctrl+C, not Ctrl+Break's Cancel key, which types nothing on X
      {0x00, '2'}, {0x1C, 0xDC}, {0x1D, 0xDD}, {0x1E, '6'}, {0x1F, 0xBD},
  };
  for (const auto& [character, key] : cases) {
    SCOPED_TRACE(static_cast<int>(character));
    EXPECT_EQ(keymap.Choose(character, false), (KeyStroke{key, 0}));
    EXPECT_EQ(keymap.Choose(character, true), (KeyStroke{key, 0}));
  }
  for (char32_t c1 = 0x80; c1 < 0xA0; ++c1) EXPECT_EQ(keymap.Choose(c1, false), std::nullopt);
}

// A control character types the character its US key types, or nothing: never the other
// character of a key that has its stand-in only on another level.
TEST(ControlCharacterKeysTest, AStandInOnlyOnAnotherLevelGivesNoKey) {
  LayoutKeymap keymap = GermanKeys();
  keymap.Add(38, 0, U'a', U'A');
  keymap.Add(17, 0, U'9', U'9');
  keymap.Add(17, kAltGr, U']', U']');  // GS's stand-in, with AltGr only
  keymap.Add(11, kModifierShift, U'2', U'2');  // NUL's, with Shift only
  AddControlCharacterKeys(keymap, {.enter = 36, .tab = 23, .backspace = kNoKey, .escape = 9});
  EXPECT_EQ(keymap.Choose(0x01, false), (KeyStroke{38, 0}));
  EXPECT_EQ(keymap.Choose(U'\n', false), (KeyStroke{36, 0}));
  EXPECT_EQ(keymap.Choose(0x1B, false), (KeyStroke{9, 0}));
  for (char32_t none : {char32_t{0x1D}, char32_t{0x00}, char32_t{U'\b'}, char32_t{0x7F}, char32_t{0x03}}) {
    EXPECT_EQ(keymap.Choose(none, false), std::nullopt) << static_cast<int>(none);
  }
}

}  // namespace
}  // namespace lintrel::platform

#include "platform/posix/xkb_layout.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <optional>
#include <string>
#include <vector>

#include "common/utf8_text.h"

namespace lintrel::platform {
namespace {

struct StrokeCase {
  char32_t character;
  std::optional<KeyStroke> expected;  // evdev key code and modifiers
};

constexpr uint8_t kShift = kModifierShift;
constexpr uint8_t kAltGr = kModifierLevel3;

LayoutKeymap Filled(const LayoutName& name, DeadKeys* dead_keys = nullptr) {
  LayoutKeymap keymap;
  DeadKeys dead;
  std::string error;
  EXPECT_TRUE(FillXkbLayout(name, keymap, dead, &error)) << error;
  if (dead_keys != nullptr) *dead_keys = dead;
  return keymap;
}

void ExpectStrokes(const LayoutName& name, const std::vector<StrokeCase>& cases) {
  const LayoutKeymap keymap = Filled(name);
  for (const StrokeCase& c : cases) {
    SCOPED_TRACE(name.Describe() + " '" + EncodeUtf8(c.character) + "'");
    EXPECT_EQ(keymap.Choose(c.character, false), c.expected);
  }
}

// The keys a person types these characters with, as the kernel numbers them.
TEST(XkbLayoutTest, UsKeysAndNoAltGr) {
  ExpectStrokes({"us", ""}, {
      {U'a', KeyStroke{KEY_A, 0}}, {U'A', KeyStroke{KEY_A, kShift}}, {U'1', KeyStroke{KEY_1, 0}},
      {U'!', KeyStroke{KEY_1, kShift}}, {U'@', KeyStroke{KEY_2, kShift}}, {U'~', KeyStroke{KEY_GRAVE, kShift}},
      // The main block's keys, never the keypad's (KEY_KPLEFTPAREN, KEY_KPASTERISK).
      {U'(', KeyStroke{KEY_9, kShift}}, {U'*', KeyStroke{KEY_8, kShift}}, {U'+', KeyStroke{KEY_EQUAL, kShift}},
      {U'\r', KeyStroke{KEY_ENTER, 0}}, {U'\n', KeyStroke{KEY_ENTER, 0}}, {U'\t', KeyStroke{KEY_TAB, 0}},
      {U'\x01', KeyStroke{KEY_A, 0}},  // Ctrl+A's key, bare
      {U'\x03', KeyStroke{KEY_C, 0}}, {U'\x1d', KeyStroke{KEY_RIGHTBRACE, 0}}, {U'\x7f', KeyStroke{KEY_BACKSPACE, 0}},
      {U'é', std::nullopt}, {U'€', std::nullopt}, {U'Ω', std::nullopt},
  });
}

TEST(XkbLayoutTest, GermanQwertzWithAltGr) {
  ExpectStrokes({"de", ""}, {
      {U'z', KeyStroke{KEY_Y, 0}}, {U'Y', KeyStroke{KEY_Z, kShift}}, {U'ß', KeyStroke{KEY_MINUS, 0}},
      {U'@', KeyStroke{KEY_Q, kAltGr}}, {U'{', KeyStroke{KEY_7, kAltGr}}, {U'[', KeyStroke{KEY_8, kAltGr}},
      {U']', KeyStroke{KEY_9, kAltGr}}, {U'}', KeyStroke{KEY_0, kAltGr}}, {U'\\', KeyStroke{KEY_MINUS, kAltGr}},
      {U'~', KeyStroke{KEY_RIGHTBRACE, kAltGr}}, {U'|', KeyStroke{KEY_102ND, kAltGr}},
      {U'€', KeyStroke{KEY_E, kAltGr}}, {U'"', KeyStroke{KEY_2, kShift}}, {U'Ω', KeyStroke{KEY_Q, kShift | kAltGr}},
      {U'Ж', std::nullopt},
      // Control characters: the key that types their US stand-in bare, or none.
      {U'\x1a', KeyStroke{KEY_Y, 0}}, {U'\x1d', std::nullopt}, {U'\x1b', KeyStroke{KEY_ESC, 0}},
  });
}

TEST(XkbLayoutTest, FrenchAzertyDigitsWithShift) {
  ExpectStrokes({"fr", ""}, {
      {U'a', KeyStroke{KEY_Q, 0}}, {U'q', KeyStroke{KEY_A, 0}}, {U'1', KeyStroke{KEY_1, kShift}},
      {U'&', KeyStroke{KEY_1, 0}}, {U'é', KeyStroke{KEY_2, 0}}, {U'@', KeyStroke{KEY_0, kAltGr}},
      {U'#', KeyStroke{KEY_3, kAltGr}}, {U'€', KeyStroke{KEY_E, kAltGr}}, {U'Ω', KeyStroke{KEY_A, kShift | kAltGr}},
      {U'Ж', std::nullopt},
      {U'\x01', KeyStroke{KEY_Q, 0}}, {U'\x00', std::nullopt}, {U'\x1e', std::nullopt}, {U'\r', KeyStroke{KEY_ENTER, 0}},
  });
}

TEST(XkbLayoutTest, CapsLockColumnTurnsLettersRound) {
  const LayoutKeymap keymap = Filled({"de", ""});
  EXPECT_EQ(keymap.Choose(U'a', true), (KeyStroke{KEY_A, kShift}));
  EXPECT_EQ(keymap.Choose(U'ä', true), (KeyStroke{KEY_APOSTROPHE, kShift}));
  EXPECT_EQ(keymap.Choose(U'1', true), (KeyStroke{KEY_1, 0}));
}

TEST(XkbLayoutTest, AccentsOnlyOnDeadKeysAndTheVariantWithout) {
  DeadKeys dead_keys;
  EXPECT_EQ(Filled({"de", ""}, &dead_keys).Choose(U'^', false), std::nullopt);
  EXPECT_EQ(dead_keys, (DeadKeys{{U'^', {KEY_GRAVE, 0}}, {U'`', {KEY_EQUAL, kShift}}}));
  // The German variant without dead keys types ^ with one key press.
  EXPECT_EQ(Filled({"de", "nodeadkeys"}).Choose(U'^', false), (KeyStroke{KEY_GRAVE, 0}));
  // The right Alt key is AltGr, not the keymaps' extra level-three key.
  std::vector<KeyEvent> events;
  Filled({"de", ""}).AppendKeyEvents({KEY_Q, kAltGr}, events);
  EXPECT_EQ(events.front(), (KeyEvent{KEY_RIGHTALT, true}));
}

TEST(XkbLayoutTest, UnknownLayout) {
  LayoutKeymap keymap;
  DeadKeys dead_keys;
  std::string error;
  EXPECT_FALSE(FillXkbLayout({"xx", ""}, keymap, dead_keys, &error));
  EXPECT_EQ(error.rfind("no keyboard layout \"xx\"", 0), 0u) << error;
}

}  // namespace
}  // namespace lintrel::platform

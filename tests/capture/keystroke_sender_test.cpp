#include "capture/keystroke_sender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_keyboard.h"

namespace lintrel {
namespace {

using platform::KeyOutputResult;
using testing::FakeKeyboard;
using Events = std::vector<std::string>;

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(KeystrokeSenderTest, ShiftWrapsOnlyCharactersThatNeedShiftAndTheLineIsOneInjection) {
  FakeKeyboard keyboard;
  KeystrokeSender sender(keyboard);
  EXPECT_TRUE(sender.TypeLine(Bytes("Ab\r")).typed);
  EXPECT_EQ(keyboard.Events(), (Events{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "down 0x42",
                                       "up 0x42", "down 0x0D", "up 0x0D", "end"}));
}

TEST(KeystrokeSenderTest, OtherModifierStatesSendTheBareKey) {
  // Ctrl, Alt, Ctrl+Alt (AltGr), Shift+Ctrl and the no-key result all send just the key.
  for (uint8_t state : {2, 4, 6, 3, 255}) {
    FakeKeyboard keyboard;
    keyboard.ForceMapping({0x45, state});
    KeystrokeSender(keyboard).TypeLine(Bytes("e"));
    EXPECT_EQ(keyboard.Events(), (Events{"down 0x45", "up 0x45", "end"})) << int(state);
  }
}

TEST(KeystrokeSenderTest, CharacterWithoutKeySendsKeyCode255) {
  FakeKeyboard keyboard;
  KeystrokeSender(keyboard).TypeLine(Bytes("\xE9"));
  EXPECT_EQ(keyboard.Events(), (Events{"down 0xFF", "up 0xFF", "end"}));
}

// A keyboard that chooses a line's keys itself sends exactly those; when it has no key
// for a character, nothing of the line is typed and its reason is the line's.
TEST(KeystrokeSenderTest, AKeyboardsOwnKeysForALineAreSentOrItsReasonEndsTheLine) {
  FakeKeyboard keyboard;
  keyboard.ForceLineKeys({.events = {{0x64, true}, {0x10, true}, {0x10, false}, {0x64, false}}, .error = {}});
  EXPECT_TRUE(KeystrokeSender(keyboard).TypeLine(Bytes("@")).typed);
  EXPECT_EQ(keyboard.Events(), (Events{"down 0x64", "down 0x10", "up 0x10", "up 0x64", "end"}));

  keyboard.ForceLineKeys({.events = {}, .error = "no key for 'Ω' in layout de"});
  const LineOutcome outcome = KeystrokeSender(keyboard).TypeLine(Bytes("a\xCE\xA9"));
  EXPECT_FALSE(outcome.typed);
  EXPECT_EQ(outcome.reason, "no key for 'Ω' in layout de");
  EXPECT_FALSE(outcome.output_lost);
  EXPECT_EQ(keyboard.Events().size(), 5u) << "nothing more was typed";
}

TEST(KeystrokeSenderTest, EmptyLineSendsNothing) {
  FakeKeyboard keyboard;
  EXPECT_TRUE(KeystrokeSender(keyboard).TypeLine({}).typed);
  EXPECT_TRUE(keyboard.Events().empty());
}

// "ab" is four events: a line is typed only when the keyboard took all four.
TEST(KeystrokeSenderTest, TheKeyboardsAccountDecidesWhetherTheLineWasTyped) {
  struct Case {
    const char* name;
    KeyOutputResult result;
    LineOutcome expected;
  };
  const Case cases[] = {
      {"all taken", {.accepted = 4, .error = {}}, {true, "", false}},
      {"some taken, no reason given", {.accepted = 3, .error = {}}, {false, "only 3 of 4 key events were taken", false}},
      {"some taken, with the system's reason",
       {.accepted = 1, .error = "Windows took 1 of 4 key events"},
       {false, "Windows took 1 of 4 key events", false}},
      {"an error although all were taken", {.accepted = 4, .error = "X error BadValue"}, {false, "X error BadValue", false}},
      {"output gone", {.accepted = 0, .error = "cannot write", .output_lost = true}, {false, "cannot write", true}},
      {"output gone, no reason given", {.accepted = 0, .error = {}, .output_lost = true},
       {false, "the key output was lost", true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeKeyboard keyboard;
    keyboard.AnswerWith({c.result});
    const LineOutcome outcome = KeystrokeSender(keyboard).TypeLine(Bytes("ab"));
    EXPECT_EQ(outcome.typed, c.expected.typed);
    EXPECT_EQ(outcome.reason, c.expected.reason);
    EXPECT_EQ(outcome.output_lost, c.expected.output_lost);
  }
}

}  // namespace
}  // namespace lintrel

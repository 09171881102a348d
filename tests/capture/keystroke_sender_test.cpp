#include "capture/keystroke_sender.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "fakes/fake_keyboard.h"
#include "platform/layout_keymap.h"

namespace lintrel {
namespace {

using platform::KeyOutputResult;
using testing::FakeKeyboard;
using Events = std::vector<std::string>;

using namespace std::chrono_literals;

TEST(KeystrokeSenderTest, ShiftWrapsOnlyCharactersThatNeedShiftAndTheLineIsOneInjection) {
  FakeKeyboard keyboard;
  KeystrokeSender sender(keyboard);
  EXPECT_TRUE(sender.TypeLine(U"A\t\u00E9\r", {}, {}, /*as_characters=*/true).typed);
  EXPECT_EQ(keyboard.Events(), (Events{"down U+0041", "up U+0041", "down 0x09", "up 0x09", "down U+00E9",
                                       "up U+00E9", "down 0x0D", "up 0x0D", "end"}));
}

// Stands in for the typist's pause: returns at once, records what was asked, and reports a
// stop from the given call on.
struct RecordedPauses {
  std::vector<std::chrono::milliseconds> asked;
  std::size_t stop_at = SIZE_MAX;

  PauseFunction Function() {
    return [this](std::chrono::milliseconds time) {
      asked.push_back(time);
      return asked.size() < stop_at;
    };
  }
};

TEST(KeystrokeSenderTest, HeldModifiersAreWaitedForThenReleasedAroundTheLine) {
  FakeKeyboard keyboard;
  RecordedPauses pauses;
  KeystrokeSender sender(keyboard, pauses.Function());
  // Let go while the sender waits: the line goes out as usual.
  keyboard.HoldModifiers({0x10}, 3);
  EXPECT_TRUE(sender.TypeLine(U"a").typed);
  EXPECT_EQ(pauses.asked.size(), 3u);
  // Held for good: released around the line after the bounded wait, then pressed again.
  keyboard.HoldModifiers({0x10, 0x11}, 1000);
  EXPECT_TRUE(sender.TypeLine(U"a").typed);
  EXPECT_EQ(pauses.asked.size(), 3u + KeystrokeSender::kHeldModifierWait / KeystrokeSender::kHeldModifierPoll);
  EXPECT_EQ(keyboard.Events(), (Events{"down 0x41", "up 0x41", "end", "up 0x10", "up 0x11", "down 0x41", "up 0x41",
                                       "down 0x11", "down 0x10", "end"}));
}

TEST(KeystrokeSenderTest, StrokesBeginAndEndWithNoKeyOfTheLineHeld) {
  using platform::KeyEvent;
  const KeyEvent shift_down{0x10, true};
  const KeyEvent shift_up{0x10, false};
  const KeyEvent a_down{0x41, true};
  const KeyEvent a_up{0x41, false};
  const KeyEvent ctrl_down{0x11, true};
  const KeyEvent ctrl_up{0x11, false};
  struct Case {
    const char* name;
    std::vector<KeyEvent> events;
    std::vector<std::size_t> stroke_sizes;
  };
  const Case cases[] = {
      {"nothing", {}, {}},
      {"a key with its modifier, then a bare key", {shift_down, a_down, a_up, shift_up, a_down, a_up}, {4, 2}},
      {"a character without a key", {{0, true, U'é'}, {0, false, U'é'}, a_down, a_up}, {2, 2}},
      {"the user's modifier let go before and pressed after",
       {ctrl_up, shift_up, a_down, a_up, shift_down, ctrl_down}, {2, 2, 2}},
      {"a key released out of order", {ctrl_down, shift_down, a_down, ctrl_up, a_up, shift_up, a_down, a_up}, {6, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::size_t> sizes;
    std::size_t total = 0;
    for (std::span<const KeyEvent> stroke : Strokes(c.events)) {
      EXPECT_EQ(stroke.data(), c.events.data() + total) << "strokes follow one another";
      sizes.push_back(stroke.size());
      total += stroke.size();
    }
    EXPECT_EQ(sizes, c.stroke_sizes);
  }
}

// Each stroke is one injection and the delay comes only between them, so no key is held
// while the line waits; a stop between two strokes leaves nothing pressed.
TEST(KeystrokeSenderTest, APacedLineGoesKeyByKeyAndAStopComesOnlyBetweenKeys) {
  FakeKeyboard keyboard;
  RecordedPauses pauses;
  KeystrokeSender sender(keyboard, pauses.Function());
  EXPECT_TRUE(sender.TypeLine(U"Ab\r", {.key_delay = 7ms}).typed);
  EXPECT_EQ(pauses.asked, (std::vector<std::chrono::milliseconds>{7ms, 7ms}));
  EXPECT_EQ(keyboard.Events(), (Events{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "end", "down 0x42", "up 0x42",
                                       "end", "down 0x0D", "up 0x0D", "end"}));

  FakeKeyboard stopped_keyboard;
  pauses.asked.clear();
  pauses.stop_at = 2;  // the stop comes before "c"
  const LineOutcome outcome =
      KeystrokeSender(stopped_keyboard, pauses.Function()).TypeLine(U"Abc", {.key_delay = 7ms});
  EXPECT_FALSE(outcome.typed);
  EXPECT_EQ(outcome.reason, "stopped while the line was typed");
  EXPECT_EQ(stopped_keyboard.Events(), (Events{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "end", "down 0x42",
                                               "up 0x42", "end"}));
}

// A paced line reaches the keyboard a stroke at a time: a line it cannot type whole is
// refused before its first stroke, as an unpaced line is, not after the keys before the
// character it lacks.
TEST(KeystrokeSenderTest, APacedLineTheKeyboardRefusesSendsNoKey) {
  FakeKeyboard keyboard;
  keyboard.Refuse(U'丁');
  RecordedPauses pauses;
  const LineOutcome outcome = KeystrokeSender(keyboard, pauses.Function()).TypeLine(U"ab丁", {.key_delay = 7ms});
  EXPECT_FALSE(outcome.typed);
  EXPECT_EQ(outcome.reason, "cannot type it");
  EXPECT_TRUE(keyboard.Events().empty());
  EXPECT_TRUE(pauses.asked.empty());
}

TEST(KeystrokeSenderTest, EmptyLineSendsNothing) {
  FakeKeyboard keyboard;
  EXPECT_TRUE(KeystrokeSender(keyboard).TypeLine(U"").typed);
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
    const LineOutcome outcome = KeystrokeSender(keyboard).TypeLine(U"ab");
    EXPECT_EQ(outcome.typed, c.expected.typed);
    EXPECT_EQ(outcome.reason, c.expected.reason);
    EXPECT_EQ(outcome.output_lost, c.expected.output_lost);
  }
}

}  // namespace
}  // namespace lintrel

#include "capture/paste_sender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_clipboard.h"
#include "fakes/fake_keyboard.h"

namespace lintrel {
namespace {

using platform::KeyOutputResult;
using testing::FakeClipboard;
using testing::FakeKeyboard;
using Texts = std::vector<std::string>;

// Ctrl+V on the US layout the fake keyboard has.
const Texts kCtrlV = {"down 0x11", "down 0x56", "up 0x56", "up 0x11", "end"};

TEST(PasteSplitTest, OnlyTheEnterAndTabKeysAtTheEndArePressedAfterThePaste) {
  struct Case {
    std::u32string line;
    PasteParts parts;
  };
  const std::vector<Case> cases = {
      {U"abc\r", {U"abc", U"\r"}},
      {U"abc\t\r\n", {U"abc", U"\t\r\n"}},
      {U"a\tb", {U"a\tb", U""}},
      {U"one\ntwo\r", {U"one\ntwo", U"\r"}},
      {U"\tlead", {U"\tlead", U""}},
      {U"\r", {U"", U"\r"}},
      {U"", {U"", U""}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitForPaste(c.line), c.parts) << std::string(c.line.begin(), c.line.end());
  }
}

class PasteSenderTest : public ::testing::Test {
 protected:
  LineOutcome Paste(const std::u32string& line) { return sender_.PasteLine(line); }

  FakeKeyboard keyboard_;
  KeystrokeSender keys_{keyboard_};
  FakeClipboard clipboard_{"the user's copy"};
  PasteSender sender_{clipboard_, keys_};
};

// The text goes in by Ctrl+V, the clipboard is put back once it was taken, and the Tab at
// the end is a key after both.
TEST_F(PasteSenderTest, PastesTheTextThenPutsTheClipboardBackThenPressesTheEndKeys) {
  std::size_t key_injections_at_await = 0;
  clipboard_.OnAwait([&] { key_injections_at_await = keyboard_.Events().size(); });
  const LineOutcome outcome = Paste(U"R\u00E9f 12\u20AC\t");
  EXPECT_TRUE(outcome.typed) << outcome.reason;
  EXPECT_EQ(clipboard_.Calls(), (Texts{"save", "put R\u00E9f 12\u20AC", "await", "restore"}));
  EXPECT_EQ(key_injections_at_await, kCtrlV.size());
  Texts expected = kCtrlV;
  expected.insert(expected.end(), {"down 0x09", "up 0x09", "end"});
  EXPECT_EQ(keyboard_.Events(), expected);
  EXPECT_EQ(clipboard_.Contents(), "the user's copy");
}

TEST_F(PasteSenderTest, ALineOfEndKeysAloneLeavesTheClipboardAlone) {
  EXPECT_TRUE(Paste(U"\r").typed);
  EXPECT_TRUE(clipboard_.Calls().empty());
  EXPECT_EQ(keyboard_.Events(), (Texts{"down 0x0D", "up 0x0D", "end"}));
}

// Whatever step fails, the line is not typed, for that step's reason, no key of it follows,
// and the clipboard holds the user's copy again (a clipboard that could not be read is not
// touched at all).
TEST_F(PasteSenderTest, AFailedPasteIsNotTypedAndTheClipboardIsPutBack) {
  struct Case {
    std::string failing_step;
    std::string reason;
    Texts calls;
  };
  const std::vector<Case> cases = {
      {"save", "the clipboard could not be read: busy", {"save"}},
      {"put", "the clipboard could not be set: busy", {"save", "put x", "restore"}},
      {"await", "busy", {"save", "put x", "await", "restore"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing_step);
    FakeKeyboard keyboard;
    KeystrokeSender keys(keyboard);
    FakeClipboard clipboard("the user's copy");
    clipboard.Fail(c.failing_step, "busy");
    const LineOutcome outcome = PasteSender(clipboard, keys).PasteLine(U"x\r");
    EXPECT_FALSE(outcome.typed);
    EXPECT_EQ(outcome.reason, c.reason);
    EXPECT_EQ(clipboard.Calls(), c.calls);
    EXPECT_EQ(clipboard.Contents(), "the user's copy");
    for (const std::string& event : keyboard.Events()) EXPECT_NE(event, "down 0x0D");
  }
}

TEST_F(PasteSenderTest, ACtrlVTheKeyboardDidNotTakeIsNotTypedAndTheClipboardIsPutBack) {
  keyboard_.AnswerWith({KeyOutputResult{.accepted = 1, .error = "the server refused", .output_lost = false}});
  const LineOutcome outcome = Paste(U"x\r");
  EXPECT_FALSE(outcome.typed);
  EXPECT_EQ(outcome.reason, "Ctrl+V: the server refused");
  EXPECT_EQ(clipboard_.Calls(), (Texts{"save", "put x", "restore"}));
  EXPECT_EQ(clipboard_.Contents(), "the user's copy");
}

// The line is in the window: it counts as typed, and the clipboard's trouble is told beside.
TEST_F(PasteSenderTest, AClipboardThatCouldNotBePutBackIsAWarningBesideATypedLine) {
  clipboard_.Fail("restore", "busy");
  std::string warning;
  const LineOutcome outcome = sender_.PasteLine(U"x\r", {}, {}, &warning);
  EXPECT_TRUE(outcome.typed);
  EXPECT_EQ(warning, "the clipboard could not be put back: busy");
  EXPECT_EQ(keyboard_.Events().back(), "end");
  EXPECT_EQ(keyboard_.Events().size(), kCtrlV.size() + 3);
}

// Modifiers the user holds do not turn Ctrl+V into another shortcut; a layout without a V
// key pastes nothing.
TEST_F(PasteSenderTest, TheCtrlVLetsHeldModifiersGoAndNeedsAVKey) {
  keyboard_.HoldModifiers({0x10}, 1);
  EXPECT_TRUE(keys_.PressShortcut(U'v', platform::kModifierCtrl).typed);
  EXPECT_EQ(keyboard_.Events(),
            (Texts{"up 0x10", "down 0x11", "down 0x56", "up 0x56", "up 0x11", "down 0x10", "end"}));

  FakeKeyboard no_v;
  no_v.layout().Clear();
  KeystrokeSender keys(no_v);
  const LineOutcome outcome = PasteSender(clipboard_, keys).PasteLine(U"x");
  EXPECT_FALSE(outcome.typed);
  EXPECT_EQ(outcome.reason, "Ctrl+V: the keyboard's layout has no key for it");
}

}  // namespace
}  // namespace lintrel

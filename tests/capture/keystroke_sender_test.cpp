#include "capture/keystroke_sender.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_keyboard.h"

namespace lintrel {
namespace {

using testing::FakeKeyboard;
using Events = std::vector<std::string>;

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(KeystrokeSenderTest, ShiftWrapsOnlyCharactersThatNeedShift) {
  FakeKeyboard keyboard;
  KeystrokeSender sender(keyboard);
  sender.TypeLine(1, Bytes("Ab\r"));
  EXPECT_EQ(keyboard.Events(), (Events{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "down 0x42",
                                       "up 0x42", "down 0x0D", "up 0x0D", "end"}));
}

TEST(KeystrokeSenderTest, OtherModifierStatesSendTheBareKey) {
  // Ctrl, Ctrl+Alt (AltGr), Shift+Ctrl and the no-key result all send just the key.
  for (uint8_t state : {2, 4, 6, 3, 255}) {
    FakeKeyboard keyboard;
    keyboard.ForceMapping({0x45, state});
    KeystrokeSender sender(keyboard);
    sender.TypeLine(1, Bytes("e"));
    EXPECT_EQ(keyboard.Events(), (Events{"down 0x45", "up 0x45", "end"})) << int(state);
  }
}

TEST(KeystrokeSenderTest, CharacterWithoutKeySendsKeyCode255) {
  FakeKeyboard keyboard;
  KeystrokeSender sender(keyboard);
  sender.TypeLine(1, Bytes("\xE9"));
  EXPECT_EQ(keyboard.Events(), (Events{"down 0xFF", "up 0xFF", "end"}));
}

TEST(KeystrokeSenderTest, ObserverHearsOfEachTypedLine) {
  FakeKeyboard keyboard;
  KeystrokeSender sender(keyboard);
  std::vector<std::pair<int, std::string>> seen;
  sender.SetLineObserver([&](int port, std::span<const uint8_t> line) {
    seen.emplace_back(port, std::string(line.begin(), line.end()));
  });
  sender.TypeLine(7, Bytes("12\r"));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::pair<int, std::string>{7, "12\r"}));
}

// A gate that says no drops the line whole (no key, no end of line, no observer); it is
// asked for every line, with the line's port.
TEST(KeystrokeSenderTest, GateDropsTheLinesItRefusesWhole) {
  FakeKeyboard keyboard;
  KeystrokeSender sender(keyboard);
  std::vector<int> asked;
  int observed = 0;
  sender.SetLineObserver([&](int, std::span<const uint8_t>) { ++observed; });
  sender.SetLineGate([&](int port) {
    asked.push_back(port);
    return port != 4;
  });
  sender.TypeLine(4, Bytes("no\r"));
  sender.TypeLine(5, Bytes("A"));
  EXPECT_EQ(asked, (std::vector<int>{4, 5}));
  EXPECT_EQ(keyboard.Events(), (Events{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "end"}));
  EXPECT_EQ(observed, 1);
}

// Two readers finishing lines at the same time: every line is typed whole.
TEST(KeystrokeSenderTest, LinesFromSeveralThreadsNeverInterleave) {
  FakeKeyboard keyboard;
  keyboard.slow = true;
  KeystrokeSender sender(keyboard);
  constexpr int kLinesPerThread = 150;
  auto type_lines = [&](std::string line, int port) {
    for (int i = 0; i < kLinesPerThread; ++i) sender.TypeLine(port, Bytes(line));
  };
  std::thread first(type_lines, "abc\r", 1);
  std::thread second(type_lines, "XYZ\r", 2);
  first.join();
  second.join();

  FakeKeyboard lower_alone, upper_alone;
  KeystrokeSender(lower_alone).TypeLine(1, Bytes("abc\r"));
  KeystrokeSender(upper_alone).TypeLine(2, Bytes("XYZ\r"));
  const Events lower_line = lower_alone.Events();
  const Events upper_line = upper_alone.Events();

  const Events events = keyboard.Events();
  int lower = 0, upper = 0;
  for (std::size_t at = 0; at < events.size();) {
    const bool is_lower = events[at] == lower_line[0];
    const Events& expected = is_lower ? lower_line : upper_line;
    ASSERT_LE(at + expected.size(), events.size());
    ASSERT_TRUE(std::equal(expected.begin(), expected.end(), events.begin() + static_cast<long>(at)))
        << "a line was interleaved at event " << at;
    (is_lower ? lower : upper)++;
    at += expected.size();
  }
  EXPECT_EQ(lower, kLinesPerThread);
  EXPECT_EQ(upper, kLinesPerThread);
}

}  // namespace
}  // namespace lintrel

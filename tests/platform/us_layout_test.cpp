#include "platform/us_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace lintrel::platform {
namespace {

struct KeyScanCase {
  uint8_t character;
  uint16_t expected;  // what VkKeyScanA returns for it on a US-English Windows keyboard
};

std::string Describe(uint8_t character) {
  char text[48];
  if (character >= 0x20 && character < 0x7F) {
    std::snprintf(text, sizeof text, "character '%c' (0x%02X)", character, character);
  } else {
    std::snprintf(text, sizeof text, "byte 0x%02X", character);
  }
  return text;
}

void ExpectKeyScans(const std::vector<KeyScanCase>& cases) {
  for (const KeyScanCase& c : cases) {
    SCOPED_TRACE(Describe(c.character));
    EXPECT_EQ(UsLayoutKeyScan(c.character), c.expected);
  }
}

TEST(UsLayoutKeyScanTest, LettersUseTheirKeyAndShiftForCapitals) {
  ExpectKeyScans({
      {'a', 0x0041}, {'m', 0x004D}, {'q', 0x0051}, {'z', 0x005A},
      {'A', 0x0141}, {'M', 0x014D}, {'Q', 0x0151}, {'Z', 0x015A},
  });
}

TEST(UsLayoutKeyScanTest, DigitsUseTheMainRowNotTheKeypad) {
  ExpectKeyScans({{'0', 0x0030}, {'1', 0x0031}, {'2', 0x0032}, {'6', 0x0036}, {'9', 0x0039}});
}

TEST(UsLayoutKeyScanTest, UnshiftedPunctuation) {
  ExpectKeyScans({
      {'`', 0x00C0},
      {'-', 0x00BD},  // the main minus key, not the keypad's
      {'=', 0x00BB},
      {'[', 0x00DB},
      {']', 0x00DD},
      {'\\', 0x00DC},  // the main backslash key, not the extra 102-key one
      {';', 0x00BA},
      {'\'', 0x00DE},
      {',', 0x00BC},
      {'.', 0x00BE},  // not the keypad's decimal point
      {'/', 0x00BF},  // not the keypad's divide
      {' ', 0x0020},
  });
}

TEST(UsLayoutKeyScanTest, ShiftedPunctuation) {
  ExpectKeyScans({
      {'!', 0x0131}, {'@', 0x0132}, {'#', 0x0133}, {'$', 0x0134}, {'%', 0x0135},
      {'^', 0x0136}, {'&', 0x0137}, {'*', 0x0138}, {'(', 0x0139}, {')', 0x0130},
      {'_', 0x01BD}, {'+', 0x01BB}, {'~', 0x01C0}, {'{', 0x01DB}, {'}', 0x01DD},
      {'|', 0x01DC}, {':', 0x01BA}, {'"', 0x01DE}, {'<', 0x01BC}, {'>', 0x01BE},
      {'?', 0x01BF},
  });
}

TEST(UsLayoutKeyScanTest, ControlCharactersWithAKeyOfTheirOwn) {
  ExpectKeyScans({
      {'\b', 0x0008},  // Backspace
      {'\t', 0x0009},  // Tab
      {'\r', 0x000D},  // Enter
      {0x1B, 0x001B},  // Escape: preferred to Ctrl+[, which comes first in the layout
      {0x03, 0x0003},  // Ctrl+Break types ETX with no further modifier
  });
}

TEST(UsLayoutKeyScanTest, ControlCharactersFromCtrlColumns) {
  ExpectKeyScans({
      {'\n', 0x020D},  // Ctrl+Enter
      {0x7F, 0x0208},  // Ctrl+Backspace
      {0x1C, 0x02DC},  // Ctrl+backslash
      {0x1D, 0x02DD},  // Ctrl+]
      {0x00, 0x0332},  // Shift+Ctrl+2
      {0x1E, 0x0336},  // Shift+Ctrl+6
      {0x1F, 0x03BD},  // Shift+Ctrl+minus
  });
}

TEST(UsLayoutKeyScanTest, OtherControlCharactersAreCtrlPlusTheirLetter) {
  ExpectKeyScans({
      {0x01, 0x0241}, {0x02, 0x0242}, {0x04, 0x0244}, {0x07, 0x0247}, {0x0B, 0x024B},
      {0x0C, 0x024C}, {0x0E, 0x024E}, {0x11, 0x0251}, {0x13, 0x0253}, {0x1A, 0x025A},
  });
}

TEST(UsLayoutKeyScanTest, NoByteFrom0x80UpHasAKey) {
  for (int byte = 0x80; byte <= 0xFF; ++byte) {
    SCOPED_TRACE(Describe(static_cast<uint8_t>(byte)));
    EXPECT_EQ(UsLayoutKeyScan(static_cast<uint8_t>(byte)), 0xFFFF);
  }
}

TEST(UsLayoutMapTest, SplitsKeyScanIntoKeyAndShiftState) {
  for (int byte = 0; byte <= 0xFF; ++byte) {
    const auto character = static_cast<uint8_t>(byte);
    SCOPED_TRACE(Describe(character));
    const uint16_t scan = UsLayoutKeyScan(character);
    const platform::KeyMapping mapping = UsLayoutMap(character);
    if (scan == 0xFFFF) {
      EXPECT_EQ(mapping.key_code, platform::kNoKey);
      EXPECT_EQ(mapping.shift_state, platform::kNoKey);
    } else {
      EXPECT_EQ(mapping.key_code, scan & 0xFF);
      EXPECT_EQ(mapping.shift_state, scan >> 8);
    }
  }
}

TEST(UsLayoutMapTest, ExamplesOfEachShape) {
  EXPECT_EQ(UsLayoutMap('a').key_code, 0x41);
  EXPECT_EQ(UsLayoutMap('a').shift_state, 0);
  EXPECT_EQ(UsLayoutMap('?').key_code, 0xBF);
  EXPECT_EQ(UsLayoutMap('?').shift_state, platform::kShiftStateShift);
  EXPECT_EQ(UsLayoutMap('\n').key_code, 0x0D);
  EXPECT_EQ(UsLayoutMap('\n').shift_state, 2);
  EXPECT_EQ(UsLayoutMap(0xE9).key_code, platform::kNoKey);
  EXPECT_EQ(UsLayoutMap(0xE9).shift_state, platform::kNoKey);
}

// What each key of a US keyboard's main section types, alone and with Shift, written
// down independently of the layout table so the two check each other.
struct KeyCap {
  uint8_t key_code;
  char plain;
  char shifted;
};

std::vector<KeyCap> UsKeyCaps() {
  std::vector<KeyCap> caps = {
      {0x20, ' ', ' '},  {'0', '0', ')'},   {'1', '1', '!'},   {'2', '2', '@'},
      {'3', '3', '#'},   {'4', '4', '$'},   {'5', '5', '%'},   {'6', '6', '^'},
      {'7', '7', '&'},   {'8', '8', '*'},   {'9', '9', '('},   {0xBA, ';', ':'},
      {0xBB, '=', '+'},  {0xBC, ',', '<'},  {0xBD, '-', '_'},  {0xBE, '.', '>'},
      {0xBF, '/', '?'},  {0xC0, '`', '~'},  {0xDB, '[', '{'},  {0xDC, '\\', '|'},
      {0xDD, ']', '}'},  {0xDE, '\'', '"'},
  };
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    caps.push_back({static_cast<uint8_t>(letter), static_cast<char>(letter - 'A' + 'a'), letter});
  }
  return caps;
}

std::optional<char> TypedBy(const std::vector<KeyCap>& caps, platform::KeyMapping mapping) {
  for (const KeyCap& cap : caps) {
    if (cap.key_code != mapping.key_code) continue;
    if (mapping.shift_state == 0) return cap.plain;
    if (mapping.shift_state == platform::kShiftStateShift) return cap.shifted;
  }
  return std::nullopt;
}

TEST(UsLayoutMapTest, EveryPrintableCharacterRoundTripsThroughAUsKeyboard) {
  const std::vector<KeyCap> caps = UsKeyCaps();
  for (int byte = 0x20; byte <= 0x7E; ++byte) {
    const auto character = static_cast<uint8_t>(byte);
    SCOPED_TRACE(Describe(character));
    const std::optional<char> typed = TypedBy(caps, UsLayoutMap(character));
    ASSERT_TRUE(typed.has_value()) << "mapped to a key or shift state a US keyboard lacks";
    EXPECT_EQ(static_cast<uint8_t>(*typed), character);
  }
}

}  // namespace
}  // namespace lintrel::platform

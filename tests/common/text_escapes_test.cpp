#include "common/text_escapes.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel {
namespace {

TEST(TextEscapesTest, EveryEscapeAndItsBytes) {
  const struct {
    std::string text;
    std::string bytes;
  } cases[] = {
      {"", ""},
      {"plain =; text", "plain =; text"},
      {"\\t\\r\\n\\\\", "\t\r\n\\"},
      {"\\x1D\\x1e\\x00", std::string("\x1D\x1E\x00", 3)},
      {"\\xFFz", "\xFFz"},
      {"\\u{41}\\u{e9}\\u{20AC}\\u{1F600}", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"\\u{10FFFF}", "\xF4\x8F\xBF\xBF"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParseEscapes(c.text, &error), c.bytes) << c.text << ": " << error;
    EXPECT_EQ(ParseEscapes(FormatEscapes(c.bytes), &error), c.bytes) << c.text;
  }
}

// A wrong escape is an error naming it, never text typed as it stands.
TEST(TextEscapesTest, WrongEscapesAreNamed) {
  const struct {
    std::string text;
    std::string named;
  } cases[] = {
      {"a\\q", "\\q is not an escape"},       {"\\x1", "\\x1 is not an escape"},
      {"\\xG0", "\\xG0 is not an escape"},    {"\\u41", "\\u is not an escape"},
      {"\\u{}", "\\u{} is not an escape"},    {"\\u{110000}", "\\u{110000} is not an escape"},
      {"\\u{D800}", "\\u{D800} is not"},      {"\\u{1234567}", "is not an escape"},
      {"\\u{41", "\\u{ is not an escape"},    {"end\\", "a lone \\ ends the text"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParseEscapes(c.text, &error), std::nullopt) << c.text;
    EXPECT_NE(error.find(c.named), std::string::npos) << c.text << " gave: " << error;
  }
}

TEST(TextEscapesTest, FormattedTextHoldsNoControlCharacter) {
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte) every_byte += static_cast<char>(byte);
  const std::string formatted = FormatEscapes(every_byte);
  for (const char c : formatted) {
    EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 || c == 0x7F) << static_cast<int>(c);
  }
  std::string error;
  EXPECT_EQ(ParseEscapes(formatted, &error), every_byte);
}

}  // namespace
}  // namespace lintrel

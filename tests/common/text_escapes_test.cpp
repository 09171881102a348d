#include "common/text_escapes.h"

#include <gtest/gtest.h>

#include <string>

#include "common/code_page.h"
#include "common/utf8_text.h"

namespace lintrel {
namespace {

TEST(TextEscapesTest, EveryEscapeAndItsCharacters) {
  const struct {
    std::string text;
    std::string characters;
  } cases[] = {
      {"", ""},
      {"plain =; text", "plain =; text"},
      {"\\t\\r\\n\\\\", "\t\r\n\\"},
      {"\\x1D\\x1e\\x00", std::string("\x1D\x1E\x00", 3)},
      // \xHH is the character U+00HH, never a byte of its own.
      {"\\xE9\\xFFz", "\u00E9\u00FFz"},
      {"\\x85\\xC3\\xA9", "\u0085\u00C3\u00A9"},
      {"\\u{41}\\u{e9}\\u{20AC}\\u{1F600}", "A\u00E9\u20AC\U0001F600"},
      {"\\u{10FFFF}", "\U0010FFFF"},
      {"Grüße €", "Grüße €"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParseEscapes(c.text, &error), c.characters) << c.text << ": " << error;
    EXPECT_EQ(ParseEscapes(FormatEscapes(c.characters), &error), c.characters) << c.text;
    EXPECT_EQ(ParseEscapes(FormatStoredText(c.characters), &error), c.characters) << c.text;
  }
}

// A wrong escape or a text that is no UTF-8 is an error naming it, never text typed as it
// stands.
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
      {"caf\xE9", "is not UTF-8"},            {"\xC3", "is not UTF-8"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParseEscapes(c.text, &error), std::nullopt) << c.text;
    EXPECT_NE(error.find(c.named), std::string::npos) << c.text << " gave: " << error;
    // A stored text that is no UTF-8 is an older version's bytes; a wrong escape is wrong there too.
    if (c.named != "is not UTF-8") {
      EXPECT_EQ(ParseStoredText(c.text, nullptr, &error), std::nullopt) << c.text;
    }
  }
}

// Shown text holds no control character; stored text is printable ASCII alone. Both read
// back as the characters they were made from.
TEST(TextEscapesTest, FormattedTextsReadBack) {
  std::string characters;
  for (char32_t c = 0; c < 0x300; ++c) characters += EncodeUtf8(c);
  characters += EncodeUtf8(0x20AC) + EncodeUtf8(0xFFFD) + EncodeUtf8(0x1F600);
  const std::string shown = FormatEscapes(characters);
  for (const char32_t c : DecodeUtf8(shown)) {
    EXPECT_FALSE(c < 0x20 || (c >= 0x7F && c <= 0x9F)) << static_cast<uint32_t>(c);
  }
  const std::string stored = FormatStoredText(characters);
  for (const char c : stored) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c);
  std::string error;
  EXPECT_EQ(ParseEscapes(shown, &error), characters);
  EXPECT_EQ(ParseStoredText(stored, nullptr, &error), characters);
  EXPECT_EQ(ParseStoredText(stored, &Windows1252CodePage(), &error), characters);
  EXPECT_EQ(FormatStoredText("é\\\u0085"), "\\u{E9}\\\\\\u{85}");
  EXPECT_EQ(FormatEscapes("é\\\u0085"), "é\\\\\\x85");
}

// Texts that older versions stored, each as the store gives it back now (the registry read
// through its Unicode calls, the file as UTF-8), and the characters the user had written.
TEST(TextEscapesTest, OlderStoredTextsReadAsTheyWereWritten) {
  const CodePage* const kRegistry = &Windows1252CodePage();
  const struct {
    const char* name;
    std::string stored;
    const CodePage* code_page;
    std::string characters;
  } cases[] = {
      {"\\u{...} kept as UTF-8 bytes in the file", "Kilo\xC2\xB0", nullptr, "Kilo°"},
      {"UTF-8 written as \\x bytes", "\\xC3\\xA9", nullptr, "é"},
      {"a C1 control written as its UTF-8 bytes", "\\xC2\\x85", nullptr, "\u0085"},
      {"a lone \\xE9 meant é", "\\xE9=e", nullptr, "é=e"},
      {"a dialog's ANSI text through the registry", "Gr\u00FC\u00DFe:", kRegistry, "Grüße:"},
      {"a Euro sign typed in an ANSI dialog", "\u20AC", kRegistry, "€"},
      {"\\u{20AC} stored as bytes, garbled by the ANSI call", "\u00E2\u201A\u00AC", kRegistry, "€"},
      {"a byte Windows-1252 leaves out, mapped to C1", "\u00C5\u0081", kRegistry, "Ł"},
      {"\\x80 is U+0080, not the code page's Euro sign", "\\x80", kRegistry, "\u0080"},
      {"a character outside the code page stays", "Ж\\t", kRegistry, "Ж\t"},
      {"this version's form", "\\u{20AC}\\x1D|", kRegistry, "€\x1D|"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_EQ(ParseStoredText(c.stored, c.code_page, &error), c.characters) << c.name << ": " << error;
  }
}

}  // namespace
}  // namespace lintrel

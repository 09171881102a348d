// Decoding a received line's bytes into characters: the three encodings, and UTF-8 that
// is not UTF-8.

#include "capture/text_decoding.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "capture/line_shaping.h"

namespace lintrel {
namespace {

std::u32string Decode(std::string_view bytes, TextEncoding encoding, const CodePage* ansi = nullptr) {
  return DecodeText({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, encoding, ansi);
}

TEST(TextDecodingTest, EachEncodingReadsItsBytes) {
  struct Case {
    std::string_view bytes;
    TextEncoding encoding;
    std::u32string text;
  };
  const Case cases[] = {
      {"A1 \r", TextEncoding::kUtf8, U"A1 \r"},
      {"Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80", TextEncoding::kUtf8, U"Grüße € 😀"},
      {"\xE9\x80\xFF", TextEncoding::kLatin1, U"é\x80ÿ"},
      {"\xE9\x80\x81\x9F", TextEncoding::kAnsi, U"é€\uFFFDŸ"},
      {std::string_view("\0\x7F", 2), TextEncoding::kAnsi, std::u32string(U"\0\x7F", 2)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(c.bytes, c.encoding), c.text) << TextEncodingName(c.encoding) << " " << c.bytes;
  }
}

// Each maximal piece that is no character is one U+FFFD; what follows is read again.
TEST(TextDecodingTest, BrokenUtf8BecomesOneReplacementCharacterPerBrokenPiece) {
  struct Case {
    std::string_view bytes;
    std::u32string text;
  };
  const Case cases[] = {
      {"a\xC3", U"a\uFFFD"},                    // cut short at the end
      {"\xC3" "a", U"\uFFFDa"},                 // cut short by an ASCII byte
      {"\xE2\x82" "b", U"\uFFFDb"},             // two of three bytes: one U+FFFD
      {"\x80\xBF", U"\uFFFD\uFFFD"},            // lone continuation bytes
      {"\xC0\xAF", U"\uFFFD\uFFFD"},            // overlong '/'
      {"\xE0\x80\xAF", U"\uFFFD\uFFFD\uFFFD"},  // overlong, three bytes
      {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},  // a surrogate
      {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xFE\xFF", U"\uFFFD\uFFFD"},
      {"\xF0\x9F\x98" "\xC3\xA9", U"\uFFFDé"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(c.bytes, TextEncoding::kUtf8), c.text) << ::testing::PrintToString(std::string(c.bytes));
  }
}

TEST(TextDecodingTest, AnsiUsesTheSystemsCodePageWhenThereIsOne) {
  CodePage cyrillic = Windows1252CodePage();
  cyrillic[0xC0] = U'А';
  EXPECT_EQ(Decode("\xC0", TextEncoding::kAnsi, &cyrillic), U"А");
  EXPECT_EQ(Decode("\xC0", TextEncoding::kAnsi), U"À");
}

// Decoding comes first: the end character dropped is the last character, not a byte of
// a character before it.
TEST(TextDecodingTest, ShapingDecodesThenDropsTheEndCharacter) {
  const std::string_view bytes = "\xE2\x82\xAC\r";
  const FinishedLine line{{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, true};
  CaptureOptions options{.prefix = false, .truncate = true, .end_character = '\r', .encoding = TextEncoding::kUtf8};
  EXPECT_EQ(ShapeLine(line, options).keys, U"€");
  options.truncate = false;
  EXPECT_EQ(ShapeLine(line, options).keys, U"€\r");
  EXPECT_EQ(ParseTextEncoding("UTF8"), TextEncoding::kUtf8);
  EXPECT_EQ(ParseTextEncoding("cp1252"), std::nullopt);
}

}  // namespace
}  // namespace lintrel

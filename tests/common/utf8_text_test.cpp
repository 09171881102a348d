#include "common/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel {
namespace {

std::u32string Decode(std::string_view text) {
  return DecodeUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

TEST(Utf8TextTest, ValidTextDecodesAndEncodesBack) {
  const std::u32string text = U"a\u00E9\u20AC\u03A9\U0001F600";
  const std::string encoded = "a\xC3\xA9\xE2\x82\xAC\xCE\xA9\xF0\x9F\x98\x80";
  EXPECT_EQ(Decode(encoded), text);
  std::string back;
  for (char32_t c : text) back += EncodeUtf8(c);
  EXPECT_EQ(back, encoded);
}

TEST(Utf8TextTest, EveryInvalidByteBecomesOneReplacementCharacter) {
  struct Case {
    const char* name;
    std::string text;
    std::u32string expected;
  };
  const Case cases[] = {
      {"Latin-1 byte", "caf\xE9", U"caf\uFFFD"},
      {"lone continuation", "\x80" "a", U"\uFFFDa"},
      {"cut short", "\xE2\x82" "a", U"\uFFFD\uFFFDa"},
      {"cut at the end", "a\xF0\x9F", U"a\uFFFD\uFFFD"},
      {"overlong slash", "\xC0\xAF", U"\uFFFD\uFFFD"},
      {"surrogate", "\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"},
      {"past U+10FFFF", "\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"never a lead", "\xFF", U"\uFFFD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.text), c.expected);
  }
}

}  // namespace
}  // namespace lintrel

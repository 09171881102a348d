#include "common/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel {
namespace {

std::u32string Decode(std::string_view text) {
  return DecodeUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// Broken text is tested with the line decoding.
TEST(Utf8TextTest, ValidTextDecodesAndEncodesBack) {
  const std::u32string text = U"a\u00E9\u20AC\u03A9\U0001F600";
  const std::string encoded = "a\xC3\xA9\xE2\x82\xAC\xCE\xA9\xF0\x9F\x98\x80";
  EXPECT_EQ(Decode(encoded), text);
  std::string back;
  for (char32_t c : text) back += EncodeUtf8(c);
  EXPECT_EQ(back, encoded);
}

}  // namespace
}  // namespace lintrel

#include "common/printable_text.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel {
namespace {

TEST(PrintableTextTest, ControlCharactersAreWrittenOutAndEverythingElseStays) {
  const struct {
    std::string text;
    std::string shown;
  } cases[] = {
      {"/dev/ttyUSB0", "/dev/ttyUSB0"},
      {"/dev/fake\nlintrel: COM9 connected (/dev/x)", "/dev/fake\\nlintrel: COM9 connected (/dev/x)"},
      {"a\rb\tc", "a\\rb\\tc"},
      {std::string("nul\0bell\a", 9), "nul\\x00bell\\x07"},
      {"\x1b[2Jclear\x7f", "\\x1B[2Jclear\\x7F"},
      {"\\\\.\\COM5", "\\\\.\\COM5"},                    // backslashes stay
      {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 text stays
      {"csi\xC2\x9B" "2J nbsp\xC2\xA0", "csi\\xC2\\x9B2J nbsp\xC2\xA0"},  // only C1 controls
      {"end\xC2", "end\xC2"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeControlCharacters(c.text), c.shown) << c.shown;
}

}  // namespace
}  // namespace lintrel

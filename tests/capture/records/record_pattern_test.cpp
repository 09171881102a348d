#include "capture/records/record_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel::records {
namespace {

std::shared_ptr<const RecordPattern> Compiled(std::string_view pattern) {
  std::string error;
  std::shared_ptr<const RecordPattern> compiled = RecordPattern::Compile(pattern, &error);
  EXPECT_TRUE(compiled) << pattern << ": " << error;
  return compiled;
}

// "flag=ST weight=1.250", or "no match".
std::string Fields(std::string_view pattern, std::u32string_view line) {
  const std::optional<RecordFields> fields = Compiled(pattern)->Match(line);
  if (!fields) return "no match";
  std::string text;
  for (const RecordField& field : *fields) {
    std::string value;
    for (const char32_t c : field.value) value += c < 0x80 ? static_cast<char>(c) : '?';
    text += (text.empty() ? "" : " ") + field.name + "=" + value;
  }
  return text;
}

TEST(RecordPattern, NamedGroupsBecomeFieldsInThePatternsOrder) {
  const char* scale = R"(^(?P<flag>ST|US),GS,\+0*(?P<weight>\d+\.\d+)kg$)";
  EXPECT_EQ(Fields(scale, U"ST,GS,+001.250kg"), "flag=ST weight=1.250");
  EXPECT_EQ(Fields(scale, U"ST,GS,+001.250kg "), "no match");
  EXPECT_EQ(Fields(R"((?P<z>\d)(?P<a>\d))", U"x12"), "z=1 a=2");  // searched anywhere in the line
  EXPECT_EQ(Fields(R"(A(?P<opt>B)?C)", U"AC"), "");                // a group left out is no field
  EXPECT_EQ(Fields(R"(\x1D(?P<after>\w+))", U"01\x1D" U"21AB"), "after=21AB");
  EXPECT_EQ(Fields(R"(^é(?P<rest>.)$)", U"éß"), "rest=?");  // characters, not bytes
}

TEST(RecordPattern, AWrongPatternIsRefusedWithItsReason) {
  const struct {
    const char* pattern;
    const char* error;
  } cases[] = {
      {"(ab", "missing ): (ab"},
      {R"((a)\1)", "invalid escape sequence: \\1"},  // no backreferences: they need backtracking
      {"(?P<line>x)", "the group name \"line\" is taken by the template's {line}"},
      {"(?P<n!>a)", "invalid named capture group: (?P<n!>"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(RecordPattern::Compile(c.pattern, &error)) << c.pattern;
    EXPECT_EQ(error, c.error) << c.pattern;
  }
}

TEST(RecordPattern, PatternsThatBacktrackingEnginesTakeExponentialTimeOnAnswerAtOnce) {
  // A backtracking engine tries 2^n ways to split the a's before it fails; n = 5000 would
  // never end. ctest's time-out guards this test.
  const std::u32string as = std::u32string(5000, U'a') + U"b";
  EXPECT_EQ(Fields("^(a+)+$", as), "no match");
  EXPECT_EQ(Fields("^(a|aa)*$", as), "no match");
  EXPECT_EQ(Fields("(?P<x>(a*)*c)", as), "no match");
}

}  // namespace
}  // namespace lintrel::records

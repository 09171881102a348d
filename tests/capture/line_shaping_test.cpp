#include "capture/line_shaping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text_escapes.h"
#include "common/utf8_text.h"

namespace lintrel {
namespace {

struct ShapingCase {
  const char* name;
  std::string text;          // as the buffer finished it
  std::size_t prefix_length;  // of the port name at its start
  bool ended;                // by the end character (13)
  bool truncate;
  ShapingRules rules;
  std::string typed;
};

ShapingRules Rules(std::vector<Replacement> replacements, ControlMap control = ControlMap::kKeep,
                   std::string prefix_text = "", std::string suffix = "") {
  return {std::move(replacements), control, std::move(prefix_text), std::move(suffix)};
}

ShapedLine ShapeBytes(const std::string& text, std::size_t prefix_length, bool ended, bool truncate,
                      const ShapingRules& rules, TextEncoding encoding = TextEncoding::kUtf8) {
  const FinishedLine line{std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), ended, prefix_length};
  const CaptureOptions options{.prefix = prefix_length > 0, .truncate = truncate, .encoding = encoding};
  return ShapeLine(line, options, nullptr, rules);
}

std::string Shape(const std::string& text, std::size_t prefix_length, bool ended, bool truncate,
                  const ShapingRules& rules, TextEncoding encoding = TextEncoding::kUtf8) {
  const ShapedLine shaped = ShapeBytes(text, prefix_length, ended, truncate, rules, encoding);
  EXPECT_EQ(shaped.refusal, "") << text;
  std::string typed;
  for (const char32_t character : shaped.keys) typed += EncodeUtf8(character);
  return typed;
}

// A rule's text as the user gives it, escapes and all.
std::string Text(std::string_view escaped) {
  std::string error;
  const std::optional<std::string> text = ParseEscapes(escaped, &error);
  EXPECT_TRUE(text.has_value()) << escaped << ": " << error;
  return text.value_or("");
}

// Every rule alone, then the order in which they meet.
TEST(LineShapingTest, EachRuleAndTheirOrder) {
  const ShapingCase cases[] = {
      {"no rules", "ABC\r", 0, true, false, {}, "ABC\r"},
      {"suffix after the kept end character", "ABC\r", 0, true, false, Rules({}, ControlMap::kKeep, "", "\t"),
       "ABC\r\t"},
      {"suffix instead of the end character", "ABC\r", 0, true, true, Rules({}, ControlMap::kKeep, "", "\t"),
       "ABC\t"},
      {"prefix text after the port name", "COM3:ABC\r", 5, true, true, Rules({}, ControlMap::kKeep, "> ", "<"),
       "COM3:> ABC<"},
      {"replacements in order, each over the last's result", "a-b", 0, false, false,
       Rules({{"-", "+"}, {"+", "=="}, {"a=", "A"}}), "A=b"},
      {"a replacement is literal, not a pattern", "a.b.*", 0, false, false, Rules({{".*", "!"}}), "a.b!"},
      {"a replacement does not search its own output", "aa", 0, false, false, Rules({{"a", "aa"}}), "aaaa"},
      {"the port name is never replaced", "COM3:COM3", 5, false, false, Rules({{"COM", "x"}}), "COM3:x3"},
      {"controls kept", "\x1D" "01\x1E" "x", 0, false, false, Rules({}, ControlMap::kKeep), "\x1D" "01\x1E" "x"},
      {"controls dropped, the end character kept", "A\x1D" "B\x04\r", 0, true, false, Rules({}, ControlMap::kDrop),
       "AB\r"},
      {"controls named", std::string("A\x1D" "B\x1E\x04\x7F\x00\r", 8), 0, true, false, Rules({}, ControlMap::kName),
       "A<GS>B<RS><EOT><DEL><NUL>\r"},
      {"the end character is no control to the map", "AB\r", 0, true, false, Rules({}, ControlMap::kName), "AB\r"},
      {"an end character not at the end of a full line is mapped", "A\rB", 0, false, false,
       Rules({}, ControlMap::kName), "A<CR>B"},
      {"replacement before the map: GS made Tab stays a Tab", "A\x1D" "B\x1E", 0, false, false,
       Rules({{"\x1D", "\t"}}, ControlMap::kDrop), "A\tB"},
      {"replacement of the kept end character", "AB\r", 0, true, false, Rules({{"\r", "\n"}}), "AB\n"},
      {"truncation before replacement", "AB\r", 0, true, true, Rules({{"\r", "X"}}), "AB"},
  };
  for (const ShapingCase& c : cases) {
    EXPECT_EQ(Shape(c.text, c.prefix_length, c.ended, c.truncate, c.rules), c.typed) << c.name;
  }
}

// A line shaping leaves empty types nothing, not even its prefix text or suffix; the port
// name alone is still typed, as without shaping.
TEST(LineShapingTest, AnEmptyLineTypesNothing) {
  const ShapingRules around = Rules({{"X", ""}}, ControlMap::kDrop, "[", "\t");
  const ShapingCase cases[] = {
      {"end character truncated", "\r", 0, true, true, around, ""},
      {"replaced away", "XX\r", 0, true, true, around, ""},
      {"controls dropped", "\x1D\x04", 0, false, false, around, ""},
      {"kept end character is content", "\r", 0, true, false, around, "[\r\t"},
      {"port name alone", "COM3:\r", 5, true, true, around, "COM3:"},
      {"port name alone, the rest replaced away", "COM3:XX", 5, false, false, around, "COM3:"},
  };
  for (const ShapingCase& c : cases) {
    EXPECT_EQ(Shape(c.text, c.prefix_length, c.ended, c.truncate, c.rules), c.typed) << c.name;
  }
}

// The line limit holds on what was received: a full line keeps every character and gets
// its suffix whole; shaping never splits it.
TEST(LineShapingTest, AFullLineGetsItsWholeSuffix) {
  const std::string full(LineBuffer::kCapacity, 'A');
  std::string error;
  const ShapingRules rules = Rules({{"A", "BB"}}, ControlMap::kKeep, "", *ParseEscapes("\\t\\u{e9}", &error));
  const std::string typed = Shape(full, 0, false, true, rules);
  EXPECT_EQ(typed, std::string(2 * LineBuffer::kCapacity, 'B') + "\t\xC3\xA9");
}

// \xHH in a rule is the character U+00HH, matched against the characters the line's bytes
// decode to: é whether it came as E9 (Latin-1, Windows-1252) or C3 A9 (UTF-8), and never a
// byte that is no character (U+FFFD).
TEST(LineShapingTest, EscapesAboveAsciiAreCharacters) {
  const ShapingRules rules = Rules({{Text("\\xE9"), "e"}, {Text("\\x80"), "C1"}, {Text("\\u{20AC}"), "EUR"}},
                                   ControlMap::kKeep, "", Text("\\xB0"));
  const struct {
    TextEncoding encoding;
    std::string received;
    std::string typed;
  } cases[] = {
      {TextEncoding::kLatin1, "caf\xE9 \x80", "cafe C1\u00B0"},
      {TextEncoding::kAnsi, "caf\xE9 \x80", "cafe EUR\u00B0"},  // 80 is the Euro sign in Windows-1252
      {TextEncoding::kUtf8, "caf\xC3\xA9 \xC2\x80 \xE2\x82\xAC", "cafe C1 EUR\u00B0"},
      {TextEncoding::kUtf8, "caf\xE9 \x80", "caf\uFFFD \uFFFD\u00B0"},  // broken bytes stay broken
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Shape(c.received, 0, false, false, rules, c.encoding), c.typed) << TextEncodingName(c.encoding);
  }
  // Only a rule that names U+FFFD matches what could not be decoded.
  EXPECT_EQ(Shape("caf\xE9", 0, false, false, Rules({{Text("\\u{FFFD}"), "?"}})), "caf?");
}

// A line that replacements grow beyond the limit is refused whole, with the reason; a line
// at the limit is typed.
TEST(LineShapingTest, ALineGrownPastTheLimitIsRefused) {
  std::vector<Replacement> doubling;
  for (int i = 0; i < 20; ++i) doubling.push_back({"a", "aa"});
  const ShapedLine grown = ShapeBytes("a", 0, false, false, Rules(doubling));
  EXPECT_TRUE(grown.keys.empty());
  EXPECT_EQ(grown.refusal, "shaping makes it longer than 65536 characters");

  const std::string at_limit(kMaxShapedLineLength / 2 - 1, 'b');
  EXPECT_EQ(ShapeBytes(at_limit, 0, false, false, Rules({{"b", "cc"}}, ControlMap::kKeep, "", "dd")).keys.size(),
            kMaxShapedLineLength);
  EXPECT_EQ(ShapeBytes(at_limit, 0, false, false, Rules({{"b", "cc"}}, ControlMap::kKeep, "", "ddd")).refusal,
            grown.refusal);
}

}  // namespace
}  // namespace lintrel

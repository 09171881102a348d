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

std::string Shape(const std::string& text, std::size_t prefix_length, bool ended, bool truncate,
                  const ShapingRules& rules) {
  const FinishedLine line{std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), ended, prefix_length};
  const CaptureOptions options{.prefix = prefix_length > 0, .truncate = truncate, .encoding = TextEncoding::kUtf8};
  std::string typed;
  for (const char32_t character : ShapeLine(line, options, nullptr, rules)) typed += EncodeUtf8(character);
  return typed;
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
      {"port name stays", "COM3:\r", 5, true, true, around, "COM3:[\t"},
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

}  // namespace
}  // namespace lintrel

#include "capture/records/record_template.h"

#include <gtest/gtest.h>

#include <string>

#include "common/utf8_text.h"

namespace lintrel::records {
namespace {

const RecordFields kFields = {
    {"weight", U"1.250"},
    {"01", U"09501101530003"},
    {"17", U"250200", CivilTime{2025, 2, 28}},
    {"lot", U"AB12"},
};

// What the template types for kFields, line "L", port COM5 at 2026-03-04 05:06:07; or
// "not typed: REASON" / "error: ERROR".
std::string Expanded(std::string_view text) {
  std::string error;
  const std::optional<RecordTemplate> parsed = RecordTemplate::Parse(text, &error);
  if (!parsed) return "error: " + error;
  const TemplateValues values{kFields, U"L", "COM5", CivilTime{2026, 3, 4, 5, 6, 7}};
  std::string reason;
  const std::optional<std::u32string> typed = parsed->Expand(values, &reason);
  return typed ? EncodeUtf8(*typed) : "not typed: " + reason;
}

TEST(RecordTemplate, ExpandsEachKindOfField) {
  const struct {
    const char* text;
    const char* typed;
  } cases[] = {
      {R"({01}\t{17:%Y-%m-%d}\t{lot}\r)", "09501101530003\t2025-02-28\tAB12\r"},
      {"{weight}", "1.250"},
      {"{17}", "250200"},  // a date as it came, unless given a format
      {"[{line}] from {port}", "[L] from COM5"},
      {"{time:%d.%m.%y %H:%M:%S %a %B %j %I%p %u %e %F %T %R %D %%}",
       "04.03.26 05:06:07 Wed March 063 05AM 3  4 2026-03-04 05:06:07 05:06 03/04/26 %"},
      {"{time}", "2026-03-04 05:06:07"},
      {"{lot?}/{serial?}/", "AB12//"},
      {"{serial}", "not typed: the line has no field {serial}"},
      {"{{{lot}}}", "{AB12}"},
      {R"(\u{20AC} \x41 \\{lot})", "€ A \\AB12"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Expanded(c.text), c.typed) << c.text;
}

TEST(RecordTemplate, AWrongTemplateIsRefusedWithItsReason) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"{lot", "error: a { without its } (write {{ for the brace itself)"},
      {"lot}", "error: a } without its { (write }} for the brace itself)"},
      {"{}", "error: {} is no field: a name of letters, digits and _ goes in braces"},
      {"{a b}", "error: {a b} is no field: a name of letters, digits and _ goes in braces"},
      {"{10:%Y}", "error: {10:%Y}: only {time} and the GS1 date AIs (11, 17, ...) take a format"},
      {"{weight:%Y}", "error: {weight:%Y}: only {time} and the GS1 date AIs (11, 17, ...) take a format"},
      {"{time:%Q}", "error: {time:%Q}: %Q is not one of the time conversions (%Y %m %d %H %M %S ...)"},
      {"{17:%Y%}", "error: {17:%Y%}: the format ends in a lone %"},
      {R"({lot}\q)", "error: \\q is not an escape"},
  };
  // The start of the reason: the escape's names the escapes it takes.
  for (const auto& c : cases) EXPECT_EQ(Expanded(c.text).substr(0, std::string(c.error).size()), c.error) << c.text;
}

TEST(RecordTemplate, SaysWhetherItTypesTheTime) {
  std::string error;
  EXPECT_TRUE(RecordTemplate::Parse("x{time:%H}", &error)->UsesTime());
  EXPECT_FALSE(RecordTemplate::Parse("{17:%H}{line}", &error)->UsesTime());
}

}  // namespace
}  // namespace lintrel::records

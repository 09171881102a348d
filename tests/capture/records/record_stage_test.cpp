#include "capture/records/record_stage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "common/utf8_text.h"

namespace lintrel::records {
namespace {

using std::chrono::milliseconds;

// Mid-June: the same year in every time zone.
const std::chrono::system_clock::time_point kArrival = std::chrono::sys_days{std::chrono::year(2026) / 6 / 15};

// "type: TEXT", "not typed: REASON" or "dropped: REASON" for a line received as `received`
// whose shaped line is "<" + received + ">".
std::string Outcome(const RecordRules& rules, std::u32string_view received) {
  std::string error;
  const std::shared_ptr<const RecordStage> stage = RecordStage::Make(rules, &error);
  if (!stage) return "error: " + error;
  const std::u32string shaped = U"<" + std::u32string(received) + U">";
  const RecordOutcome outcome = stage->Apply({received, shaped, "COM5", kArrival});
  switch (outcome.verdict) {
    case RecordVerdict::kType: return "type: " + EncodeUtf8(outcome.text);
    case RecordVerdict::kNotTyped: return "not typed: " + outcome.reason;
    case RecordVerdict::kDropped: return "dropped: " + outcome.reason;
  }
  return "";
}

TEST(RecordStage, APatternPicksTheLinesAndUnmatchedSaysWhatBecomesOfTheOthers) {
  RecordRules rules{.pattern = R"(^ST,GS,\+0*(?P<weight>\d+\.\d+)kg$)", .template_text = "{weight}"};
  EXPECT_EQ(Outcome(rules, U"ST,GS,+001.250kg"), "type: 1.250");
  EXPECT_EQ(Outcome(rules, U"US,GS,+001.240kg"), "not typed: does not match the pattern");
  rules.unmatched = UnmatchedLines::kDrop;
  EXPECT_EQ(Outcome(rules, U"US,GS,+001.240kg"), "dropped: does not match the pattern");
  rules.unmatched = UnmatchedLines::kType;
  EXPECT_EQ(Outcome(rules, U"US,GS,+001.240kg"), "type: <US,GS,+001.240kg>");  // as shaping makes it
  rules.template_text.clear();
  EXPECT_EQ(Outcome(rules, U"ST,GS,+001.250kg"), "type: <ST,GS,+001.250kg>");  // a pattern alone filters
}

TEST(RecordStage, Gs1ElementStringsBecomeFieldsForTheTemplate) {
  const RecordRules rules{.gs1 = true, .template_text = R"({01}\t{17:%Y-%m-%d}\t{10}\t{21}\r)"};
  EXPECT_EQ(Outcome(rules, U"]d2" U"0109501101530003" U"17251231" U"10AB12\x1D" U"21XYZ"),
            "type: 09501101530003\t2025-12-31\tAB12\tXYZ\r");
  EXPECT_EQ(Outcome(rules, U"010950110153000317251231" U"10AB12"),
            "not typed: the line has no field {21}");
  EXPECT_EQ(Outcome(rules, U"0109501101530004"), "not typed: GS1: AI 01: wrong check digit in 09501101530004");
  EXPECT_EQ(Outcome({.gs1 = true}, U"0109501101530003"), "type: <0109501101530003>");
}

TEST(RecordStage, APatternBeforeTheGs1ReadingPicksTheLinesThatAreGs1Codes) {
  const RecordRules rules{
      .pattern = R"(^\]d2)", .unmatched = UnmatchedLines::kType, .gs1 = true, .template_text = "{01}"};
  EXPECT_EQ(Outcome(rules, U"]d20109501101530003"), "type: 09501101530003");
  EXPECT_EQ(Outcome(rules, U"4006381333931"), "type: <4006381333931>");
}

TEST(RecordStage, FieldsOfThePatternAndTheAisGoTogether) {
  const RecordRules rules{.pattern = R"(^\](?P<symbology>..))", .gs1 = true, .template_text = "{symbology}:{01}"};
  EXPECT_EQ(Outcome(rules, U"]C10109501101530003"), "type: C1:09501101530003");
}

TEST(RecordStage, WrongRulesAreRefusedNamingTheOption) {
  EXPECT_EQ(RecordRulesError({.pattern = "(x"}), "--pattern: missing ): (x");
  EXPECT_EQ(RecordRulesError({.template_text = "{x"}), "--template: a { without its } (write {{ for the brace itself)");
  EXPECT_EQ(RecordRulesError({.pattern = "x", .template_text = "{x}"}), "");
}

TEST(RecordStage, AStoredPatternOrTemplateThatCannotBeUsedIsLeftOutWithAWarning) {
  PortProfile profile{.pattern = "(x", .gs1 = true, .template_text = "{01}"};
  std::vector<std::string> warnings;
  LeaveOutWrongRecordValues(profile, 3, &warnings);
  EXPECT_EQ(profile, (PortProfile{.gs1 = true, .template_text = "{01}"}));
  EXPECT_EQ(warnings, std::vector<std::string>{"COM3 profile: \"Pattern\" is wrong: missing ): (x; the default is "
                                               "used, the stored value is kept."});
}

TEST(RepeatFilter, ALineEqualToTheOneBeforeWithinTheWindowIsARepeat) {
  RepeatFilter repeats;
  const RepeatFilter::Clock::time_point start{};
  const milliseconds window{500};
  EXPECT_FALSE(repeats.IsRepeat(U"TAG1", start, window));
  EXPECT_TRUE(repeats.IsRepeat(U"TAG1", start + milliseconds(500), window));   // at the window's edge
  EXPECT_TRUE(repeats.IsRepeat(U"TAG1", start + milliseconds(1000), window));  // each repeat starts it again
  EXPECT_FALSE(repeats.IsRepeat(U"TAG1", start + milliseconds(1501), window)); // just after it
  EXPECT_FALSE(repeats.IsRepeat(U"TAG2", start + milliseconds(1502), window)); // another line
  EXPECT_FALSE(repeats.IsRepeat(U"TAG1", start + milliseconds(1503), window)); // not the one just before
  EXPECT_FALSE(repeats.IsRepeat(U"TAG1", start + milliseconds(1504), milliseconds(0)));  // no window: none
}

}  // namespace
}  // namespace lintrel::records

#include "capture/line_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/utf8_text.h"

namespace lintrel {
namespace {

// A port's lines through shaping and the record stage, as its reader hands them on.
class PortLineRecordsTest : public ::testing::Test {
 protected:
  // "type: TEXT" and the like for the bytes of a line collected with `prefix` ("COM4:" or
  // "") and ended by CR, `later` after the line before.
  std::string Process(const std::string& prefix, const std::string& text, std::chrono::milliseconds later = {}) {
    const std::string collected = prefix + text + "\r";
    const std::vector<uint8_t> bytes(collected.begin(), collected.end());
    steady_ += later;
    last_ = records_.Process({bytes, true, prefix.size()}, snapshot_, nullptr, std::chrono::system_clock::now(),
                             steady_);
    switch (last_.outcome.verdict) {
      case records::RecordVerdict::kType: return "type: " + EncodeUtf8(last_.outcome.text);
      case records::RecordVerdict::kNotTyped: return "not typed: " + last_.outcome.reason;
      case records::RecordVerdict::kDropped: break;
    }
    return "dropped: " + last_.outcome.reason;
  }

  void Use(const CaptureOptions& options, const PortCaptureRules& rules) {
    snapshot_ = {options, std::make_shared<const PortCaptureRules>(rules)};
  }

  PortLineRecords records_{"COM4"};
  PortCaptureSnapshot snapshot_{};
  LineResult last_;
  records::RepeatFilter::Clock::time_point steady_{};
};

TEST_F(PortLineRecordsTest, WithoutRecordRulesTheShapedLineIsTyped) {
  Use({.truncate = true}, {.shaping = {.suffix = "\t"}});
  EXPECT_EQ(Process("", "A\x1D" "B"), "type: A\x1D" "B\t");
  EXPECT_EQ(last_.received, U"") << "decoded for the record stage only";
  EXPECT_EQ(Process("", ""), "dropped: nothing left to type");
}

TEST_F(PortLineRecordsTest, ThePatternSeesTheLineWithoutItsEndCharacterAndTheTemplatesLineIsTheShapedOne) {
  // Without truncation the shaped line keeps its CR; the pattern's $ is before it all the same.
  Use({.prefix = true}, {.shaping = {.replacements = {{"\x1D", "|"}}, .prefix_text = "<", .suffix = ">"},
                         .records = {.pattern = "^(?P<code>[A-Z]+)\x1D[0-9]$", .template_text = "{code}={line}"}});
  EXPECT_EQ(Process("COM4:", "AB\x1D" "7"), "type: AB=COM4:<AB|7\r>");
  EXPECT_EQ(last_.received, U"AB\x1D" U"7");
}

TEST_F(PortLineRecordsTest, RepeatsAreToldByTheLineReceivedAndComeFirst) {
  Use({}, {.records = {.pattern = "^X", .unmatched = UnmatchedLines::kReport, .repeat_window_ms = 100}});
  EXPECT_EQ(Process("", "Y"), "not typed: does not match the pattern");
  EXPECT_EQ(Process("", "Y", std::chrono::milliseconds(100)), "dropped: repeats the line before");
  EXPECT_EQ(Process("", "X1", std::chrono::milliseconds(1)), "type: X1\r");
  EXPECT_EQ(Process("", "X1", std::chrono::milliseconds(101)), "type: X1\r");
}

TEST_F(PortLineRecordsTest, NewRulesAreCompiledWhenTheyChange) {
  Use({.truncate = true}, {.records = {.template_text = "1:{line}"}});
  EXPECT_EQ(Process("", "a"), "type: 1:a");
  Use({.truncate = true}, {.records = {.template_text = "2:{line}"}});
  EXPECT_EQ(Process("", "a"), "type: 2:a");
  // Rules that cannot be used (the front ends check them first) type nothing.
  Use({.truncate = true}, {.records = {.template_text = "{"}});
  EXPECT_EQ(Process("", "a"), "not typed: --template: a { without its } (write {{ for the brace itself)");
}

}  // namespace
}  // namespace lintrel

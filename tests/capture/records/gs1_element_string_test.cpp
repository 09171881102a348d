#include "capture/records/gs1_element_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lintrel::records {
namespace {

constexpr int kThisYear = 2026;

std::u32string Line(std::string_view ascii) {
  std::u32string line;
  for (const char c : ascii) line.push_back(c == '|' ? kGroupSeparator : static_cast<char32_t>(c));
  return line;
}

std::string Ascii(std::u32string_view text) { return std::string(text.begin(), text.end()); }

// "01=09501101530003 17=251231": the AIs and their data as read.
std::string Elements(std::string_view line) {
  const Gs1Reading reading = ReadGs1ElementString(Line(line), kThisYear);
  if (!reading.error.empty()) return "error: " + reading.error;
  std::string text;
  for (const Gs1Element& element : reading.elements) {
    text += (text.empty() ? "" : " ") + element.ai + "=" + Ascii(element.data);
  }
  return text;
}

struct ReadCase {
  const char* line;  // '|' stands for GS
  const char* read;
};

TEST(Gs1ElementString, ReadsElementStringsWithAndWithoutSymbologyIdentifiers) {
  const ReadCase cases[] = {
      {"]d20109501101530003" "17251231" "10AB12|21XYZ", "01=09501101530003 17=251231 10=AB12 21=XYZ"},
      {"0109501101530003" "17251231" "10AB12|21XYZ", "01=09501101530003 17=251231 10=AB12 21=XYZ"},
      {"]C1|0109501101530003", "01=09501101530003"},
      {"|0109501101530003", "01=09501101530003"},
      {"]e00109501101530003", "01=09501101530003"},
      {"]Q3" "00106141411234567897", "00=106141411234567897"},
      {"]J1" "4145901234123457", "414=5901234123457"},
      {"0109501101530003|3103001250", "01=09501101530003 3103=001250"},  // a GS where none is needed
      {"10AB12|", "10=AB12"},                                          // and one at the end
      {"3103001250" "10LOT 7", "error: GS1: AI 10: U+0020 is not allowed in GS1 data"},
      {"2535901101400001ABC|21S", "253=5901101400001ABC 21=S"},
      {"7007250101250131", "7007=250101250131"},
      {"8008251231235959", "8008=251231235959"},
      {"725020120229|10ABC", "7250=20120229 10=ABC"},
  };
  for (const ReadCase& c : cases) EXPECT_EQ(Elements(c.line), c.read) << c.line;
}

TEST(Gs1ElementString, SaysWhyALineIsNoValidElementString) {
  const ReadCase cases[] = {
      {"0109501101530004", "error: GS1: AI 01: wrong check digit in 09501101530004"},
      {"00106141411234567890", "error: GS1: AI 00: wrong check digit in 106141411234567890"},
      {"4145901234123450", "error: GS1: AI 414: wrong check digit in 5901234123450"},
      {"23412345", "error: GS1: no Application Identifier at \"23412345\""},
      {"01095011015300031X", "error: GS1: no Application Identifier at \"1X\""},
      {"7001123456789012310AB", "error: GS1: AI 7001: no GS separator after its 13 characters"},
      {"10ABCDEFGHIJKLMNOPQRSTU", "error: GS1: AI 10: data longer than 20 characters (a GS separator missing?)"},
      {"010950110153000", "error: GS1: AI 01: 13 characters of data, 14 needed"},
      {"01095011015|30003", "error: GS1: AI 01: 9 characters of data, 14 needed"},
      {"253123", "error: GS1: AI 253: 3 characters of data, at least 13 needed"},
      {"0109501101530ABC", "error: GS1: AI 01: data must be digits"},
      {"421A234", "error: GS1: AI 421: the first 3 characters must be digits"},
      {"10|21X", "error: GS1: AI 10: no data"},
      {"17251301", "error: GS1: AI 17: 251301 is no date (YYMMDD)"},
      {"17250230", "error: GS1: AI 17: 250230 is no date (YYMMDD)"},
      {"4326250100", "error: GS1: AI 4326: 250100 is no date (YYMMDD)"},  // DD 00 only where GS1 allows it
      {"70032512312460", "error: GS1: AI 7003: 2512312460 is no date (YYMMDDHHMM)"},
      {"]E05901234123457", "error: GS1: ]E0 is not the identifier of a GS1 symbol"},
      {"]d2", "error: GS1: no element string"},
      {"", "error: GS1: no element string"},
      {"10A||21B", "error: GS1: two GS separators in a row after AI 10"},
      {"10A|10B", "error: GS1: AI 10 twice, with different data"},
  };
  for (const ReadCase& c : cases) EXPECT_EQ(Elements(c.line), c.read) << c.line;
  EXPECT_EQ(Elements("10A|10A"), "10=A");  // the same data twice is one element
}

TEST(Gs1ElementString, DatesResolveTheirCenturyAndDayZeroAsGs1Defines) {
  struct DateCase {
    const char* line;
    int year, month, day, hour, minute;
  };
  const DateCase cases[] = {
      {"17251231", 2025, 12, 31, 0, 0},
      {"17250200", 2025, 2, 28, 0, 0},  // DD 00: the last day of the month
      {"17240200", 2024, 2, 29, 0, 0},
      {"17760101", 2076, 1, 1, 0, 0},   // 50 years ahead: this century
      {"17770101", 1977, 1, 1, 0, 0},   // 51 ahead: the last one
      {"70032512312359", 2025, 12, 31, 23, 59},
      {"800825123114", 2025, 12, 31, 14, 0},  // 8008: the minutes and seconds may be left out
  };
  for (const DateCase& c : cases) {
    const Gs1Reading reading = ReadGs1ElementString(Line(c.line), kThisYear);
    ASSERT_EQ(reading.error, "") << c.line;
    ASSERT_TRUE(reading.elements.at(0).moment) << c.line;
    const CivilTime& moment = *reading.elements[0].moment;
    EXPECT_EQ((std::vector<int>{moment.year, moment.month, moment.day, moment.hour, moment.minute}),
              (std::vector<int>{c.year, c.month, c.day, c.hour, c.minute}))
        << c.line;
  }
  EXPECT_EQ(Gs1Year(30, 2099), 2130);  // 69 back is further than 50 ahead
  EXPECT_EQ(Gs1Year(49, 2000), 2049);
  EXPECT_EQ(Gs1Year(51, 2000), 1951);
}

TEST(Gs1ElementString, CheckDigitIsGs1sModulo10) {
  EXPECT_TRUE(HasValidCheckDigit(U"09501101530003"));
  EXPECT_TRUE(HasValidCheckDigit(U"5901234123457"));
  EXPECT_TRUE(HasValidCheckDigit(U"96385074"));  // a GTIN-8
  EXPECT_FALSE(HasValidCheckDigit(U"96385075"));
  EXPECT_FALSE(HasValidCheckDigit(U"7"));
  EXPECT_FALSE(HasValidCheckDigit(U"95A1"));
}

}  // namespace
}  // namespace lintrel::records

#include "capture/records/gs1_identifiers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace lintrel::records {
namespace {

// One line of gs1_ai_list.txt, with what its format says.
struct ListedAi {
  std::string first;
  std::string last;
  int min_length = 0;
  int max_length = 0;
  int digits = 0;  // Gs1Identifier::kAllDigits when every part is digits
  bool separator = false;
  int check_offset = 0;
  int check_length = 0;
  std::string date = "none";
};

// "N13+[X..17]": the lengths and leading digits of the parts.
void ReadFormat(const std::string& format, ListedAi& ai) {
  std::stringstream parts(format);
  bool all_digits = true;
  bool leading = true;
  for (std::string part; std::getline(parts, part, '+');) {
    const bool optional = part.front() == '[';
    if (optional) part = part.substr(1, part.size() - 2);
    const bool numeric = part[0] == 'N';
    const bool variable = part.compare(1, 2, "..") == 0;
    const int length = std::stoi(part.substr(variable ? 3 : 1));
    ai.min_length += optional ? 0 : (variable ? 1 : length);
    ai.max_length += length;
    all_digits = all_digits && numeric;
    if (leading && numeric && !variable) ai.digits += length;
    leading = leading && numeric && !variable;
  }
  if (all_digits) ai.digits = Gs1Identifier::kAllDigits;
}

std::vector<ListedAi> ReadList() {
  std::ifstream file(LINTREL_GS1_AI_LIST);
  std::vector<ListedAi> list;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream words(line);
    std::string ais;
    std::string format;
    words >> ais >> format;
    ListedAi ai;
    const std::size_t dash = ais.find('-');
    ai.first = ais.substr(0, dash);
    ai.last = dash == std::string::npos ? ai.first : ais.substr(dash + 1);
    ReadFormat(format, ai);
    for (std::string word; words >> word;) {
      if (word == "FNC1") ai.separator = true;
      if (word.rfind("check=", 0) == 0) {
        ai.check_offset = std::stoi(word.substr(6));
        ai.check_length = std::stoi(word.substr(word.find('+') + 1));
      }
      if (word.rfind("date=", 0) == 0) ai.date = word.substr(5);
    }
    list.push_back(ai);
  }
  return list;
}

std::string DateName(const Gs1Identifier& id) {
  std::string name;
  switch (id.date) {
    case Gs1Date::kNone: return "none";
    case Gs1Date::kYymmdd: name = "yymmdd"; break;
    case Gs1Date::kYymmd0: name = "yymmd0"; break;
    case Gs1Date::kYymmddRange: name = "range"; break;
    case Gs1Date::kYyyymmdd: name = "yyyymmdd"; break;
  }
  return id.time == Gs1Time::kFollows ? name + "+time" : name;
}

// Every AI of a range: "3100".."3105", "91".."99".
std::vector<std::string> AisOf(const std::string& first, const std::string& last) {
  std::vector<std::string> ais;
  for (int number = std::stoi(first); number <= std::stoi(last); ++number) {
    std::string ai = std::to_string(number);
    ais.push_back(std::string(first.size() - ai.size(), '0') + ai);
  }
  return ais;
}

TEST(Gs1Identifiers, EveryListedAiHasItsFormatLengthsCheckDigitAndDate) {
  const std::vector<ListedAi> list = ReadList();
  ASSERT_GT(list.size(), 180u);
  for (const ListedAi& listed : list) {
    for (const std::string& ai : AisOf(listed.first, listed.last)) {
      SCOPED_TRACE("AI " + ai);
      const Gs1Identifier* id = Gs1IdentifierNamed(ai);
      ASSERT_NE(id, nullptr);
      EXPECT_EQ(id->min_length, listed.min_length);
      EXPECT_EQ(id->max_length, listed.max_length);
      EXPECT_EQ(id->digits, listed.digits);
      EXPECT_EQ(id->predefined_length, !listed.separator);
      EXPECT_EQ(id->check_offset, listed.check_offset);
      EXPECT_EQ(id->check_length, listed.check_length);
      EXPECT_EQ(DateName(*id), listed.date);
    }
  }
}

TEST(Gs1Identifiers, TheTableHoldsNoAiBeyondTheListAndNoneIsAPrefixOfAnother) {
  std::set<std::string> listed;
  for (const ListedAi& ai : ReadList()) {
    for (const std::string& one : AisOf(ai.first, ai.last)) listed.insert(one);
  }
  std::set<std::string> table;
  for (const Gs1Identifier& id : Gs1Identifiers()) {
    for (const std::string& one : AisOf(std::string(id.first), std::string(id.last))) table.insert(one);
  }
  EXPECT_EQ(table, listed);
  // Prefix-free: an AI is read from the first digits that name one.
  for (const std::string& ai : table) {
    for (std::size_t length = 2; length < ai.size(); ++length) EXPECT_EQ(table.count(ai.substr(0, length)), 0u) << ai;
  }
}

TEST(Gs1Identifiers, FindsTheAiADigitStringBeginsWith) {
  EXPECT_EQ(FindGs1Identifier("0109501101530003")->first, "01");
  EXPECT_EQ(FindGs1Identifier("3103001250")->first, "3100");
  EXPECT_EQ(FindGs1Identifier("7003")->first, "7003");
  EXPECT_EQ(FindGs1Identifier("2341"), nullptr);  // neither 23, 234 nor 2341
  EXPECT_EQ(FindGs1Identifier("0"), nullptr);
  EXPECT_EQ(Gs1IdentifierNamed("310"), nullptr);  // the beginning of an AI is none
}

}  // namespace
}  // namespace lintrel::records

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_file.h"

namespace lintrel {
namespace {

using namespace std::string_literals;  // NUL bytes inside literals

std::vector<std::size_t> WarningLines(const ParsedSettings& parsed) {
  std::vector<std::size_t> lines;
  for (const SettingsWarning& warning : parsed.warnings) lines.push_back(warning.line);
  return lines;
}

struct ParseCase {
  const char* label;
  std::string text;
  std::vector<SettingsEntry> entries;
  std::vector<std::size_t> warning_lines;
  std::string first_reason_part;  // a piece of the first warning's reason
};

TEST(ParseSettingsTextTest, ReadsEntriesAndReportsDamagedLines) {
  const std::vector<ParseCase> cases = {
      {"names with spaces, values verbatim",
       "Port=COM3\nBaud rate= 5 \nName=a=b\n",
       {{"Port", "COM3"}, {"Baud rate", " 5 "}, {"Name", "a=b"}},
       {2, 3},
       "32-bit"},
      {"empty value", "Port=\n", {{"Port", ""}}, {}, ""},
      {"comments and blank lines",
       "# Port=COM4\n\n  \t\n  # indented\nPort=COM5\n",
       {{"Port", "COM5"}},
       {},
       ""},
      {"windows line ends",
       "Port=COM3\r\nParity=2\r\n",
       {{"Port", "COM3"}, {"Parity", "2"}},
       {},
       ""},
      {"only one carriage return is a line end", "Port=COM3\r\r\n", {}, {1}, "control"},
      {"byte order mark", "\xEF\xBB\xBFPort=COM6\n", {{"Port", "COM6"}}, {}, ""},
      {"no equals sign", "Port=COM3\njust words\n", {{"Port", "COM3"}}, {2}, "no '='"},
      {"empty name", "=5\n  =6\n", {}, {1, 2}, "empty name"},
      {"NUL byte", "Port=CO\0M3\nParity=1\n"s, {{"Parity", "1"}}, {1}, "NUL"},
      {"control character", "Port=COM\x1b[3\n", {}, {1}, "control"},
      {"tab is allowed", "Port=a\tb\n", {{"Port", "a\tb"}}, {}, ""},
      {"not UTF-8", "Port=COM\xff\n", {}, {1}, "UTF-8"},
      {"overlong UTF-8", "Port=\xC0\xAF\n", {}, {1}, "UTF-8"},
      {"surrogate in UTF-8", "Port=\xED\xA0\x80\n", {}, {1}, "UTF-8"},
      {"cut UTF-8 sequence", "Port=\xE2\x82", {}, {1}, "UTF-8"},
      {"UTF-8 is kept",
       "Port=Caf\xC3\xA9 \xF0\x9F\x93\xA0\n",
       {{"Port", "Caf\xC3\xA9 \xF0\x9F\x93\xA0"}},
       {},
       ""},
      {"repeated name: last wins in the first place",
       "Port=COM1\nParity=2\nPort=COM8\n",
       {{"Port", "COM8"}, {"Parity", "2"}},
       {3},
       "line 1"},
      {"integer overflow",
       "Baud rate=99999999999\n",
       {{"Baud rate", "99999999999"}},
       {1},
       "\"Baud rate\""},
      {"truncated last line without value",
       "Port=COM2\nStop bit=",
       {{"Port", "COM2"}, {"Stop bit", ""}},
       {2},
       "\"Stop bit\""},
      {"truncated last line without equals",
       "Port=COM2\nStop b",
       {{"Port", "COM2"}},
       {2},
       "no '='"},
      {"blanks around a name", "Port =COM3\n", {{"Port ", "COM3"}}, {1}, "blanks"},
      {"device pins",
       "Device COM0=/dev/a\nDevice COM256=/dev/b\n",
       {{"Device COM0", "/dev/a"}, {"Device COM256", "/dev/b"}},
       {},
       ""},
      {"pin beyond COM256",
       "Device COM257=/dev/a\n",
       {{"Device COM257", "/dev/a"}},
       {1},
       "no port"},
      {"pin with a leading zero",
       "Device COM03=/dev/a\n",
       {{"Device COM03", "/dev/a"}},
       {1},
       "no port"},
      {"pin with a sign", "Device COM-1=/dev/a\n", {{"Device COM-1", "/dev/a"}}, {1}, "no port"},
      {"pin to a relative path",
       "Device COM3=ttyUSB0\n",
       {{"Device COM3", "ttyUSB0"}},
       {1},
       "absolute"},
  };
  for (const ParseCase& test : cases) {
    SCOPED_TRACE(test.label);
    const ParsedSettings parsed = ParseSettingsText(test.text);
    EXPECT_EQ(parsed.entries, test.entries);
    EXPECT_EQ(WarningLines(parsed), test.warning_lines);
    if (!parsed.warnings.empty()) {
      EXPECT_NE(parsed.warnings.front().reason.find(test.first_reason_part), std::string::npos)
          << parsed.warnings.front().reason;
    }
  }
}

// Every line that nothing reads where it stands gets one warning; its entry is still kept
// (a later version's setting survives a save).
TEST(ParseSettingsTextTest, EveryLineNotUsedIsWarnedOnce) {
  const std::string text =
      "Port=COM1\n"
      "Ports=COM1,COM2\n"
      "Device COM2=/dev/ttyUSB0\n"
      "Suffix=\\t\n"                 // 4: a port's setting before the sections
      "Colour=blue\n"                  // 5: no setting at all
      "[com1]\n"                       // "COM" in any case
      "Suffix=\\t\n"
      "Replace 1=a=b\n"
      "Replace 3=c=d\n"                // a gap: still read
      "Replace 01=e=f\n"               // 10
      "Replace x=g=h\n"                // 11
      "Replace 101=i=j\n"              // 12: beyond the last
      "Device COM2=/dev/ttyUSB1\n"     // 13: a pin inside a section
      "Port=COM2\n"                    // 14: a shared setting inside a section
      " [Com2] \n"
      "Truncate=1\n";
  const ParsedSettings parsed = ParseSettingsText(text);
  EXPECT_EQ(WarningLines(parsed), (std::vector<std::size_t>{4, 5, 10, 11, 12, 13, 14}));
  const std::vector<std::string> reason_parts = {"used only in a [COMn] section", "names no setting",
                                                 "names no replacement (Replace 1 to Replace 100)",
                                                 "names no replacement", "names no replacement",
                                                 "inside [COM1] is not used", "belongs before the first section"};
  for (std::size_t i = 0; i < parsed.warnings.size() && i < reason_parts.size(); ++i) {
    EXPECT_TRUE(parsed.warnings[i].unused_entry) << parsed.warnings[i].reason;
    EXPECT_NE(parsed.warnings[i].reason.find(reason_parts[i]), std::string::npos) << parsed.warnings[i].reason;
  }
  EXPECT_EQ(parsed.entries.size(), 14u) << "every entry kept";
  const auto has = [&parsed](const std::string& name) {
    return std::any_of(parsed.entries.begin(), parsed.entries.end(),
                       [&name](const SettingsEntry& entry) { return entry.name == name; });
  };
  EXPECT_TRUE(has("Ports\\COM1\\Replace 3"));
  EXPECT_TRUE(has("Ports\\COM2\\Truncate"));
}

TEST(ParseSettingsTextTest, KeepsTheFirstHundredWarningsAndCountsTheRest) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "garbage\n";
  text += "Port=COM4\n";
  const ParsedSettings parsed = ParseSettingsText(text);
  ASSERT_EQ(parsed.warnings.size(), ParsedSettings::kMaxWarnings);
  EXPECT_EQ(parsed.warnings.back().line, ParsedSettings::kMaxWarnings);
  EXPECT_EQ(parsed.warnings_left_off, 1000 - ParsedSettings::kMaxWarnings);
  EXPECT_EQ(parsed.entries, (std::vector<SettingsEntry>{{"Port", "COM4"}}));
}

// Random bytes, biased towards the characters the format gives meaning to. Whatever is read
// from them must write out and read back unchanged: the file keeps what it could read.
TEST(ParseSettingsTextTest, ArbitraryBytesReadBackTheSameAfterFormatting) {
  const std::string alphabet = "=\n\r#\t abBd COM1-9\xff\xc3\xa9\x80\x1b"s + '\0';
  std::mt19937 random(12345);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> any_byte(0, 255);
  std::uniform_int_distribution<std::size_t> length(0, 300);
  for (int round = 0; round < 3000; ++round) {
    std::string text(length(random), '\0');
    for (char& c : text) {
      c = round % 4 == 0 ? static_cast<char>(any_byte(random)) : alphabet[pick(random)];
    }
    const ParsedSettings parsed = ParseSettingsText(text);
    const std::size_t line_count =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    for (const SettingsWarning& warning : parsed.warnings) {
      ASSERT_GE(warning.line, 1u);
      ASSERT_LE(warning.line, line_count);
    }
    const ParsedSettings again = ParseSettingsText(FormatSettingsText(parsed.entries));
    ASSERT_EQ(again.entries, parsed.entries) << "round " << round;
  }
}

TEST(FormatSettingsTextTest, WritesOneLinePerEntryAfterAComment) {
  const std::string text = FormatSettingsText({{"Port", "COM3"}, {"Baud rate", "-1"}});
  EXPECT_EQ(text.substr(text.find('\n') + 1), "Port=COM3\nBaud rate=-1\n");
  EXPECT_EQ(text.front(), '#');
  EXPECT_TRUE(ParseSettingsText(text).warnings.empty());
}

TEST(ParseSettingsIntTest, TakesOnlyWholeDecimalInt32Text) {
  const std::vector<std::pair<std::string, std::optional<int32_t>>> cases = {
      {"0", 0},
      {"-1", -1},
      {"11", 11},
      {"007", 7},
      {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999", std::nullopt},
      {"", std::nullopt},
      {"-", std::nullopt},
      {"+1", std::nullopt},
      {" 1", std::nullopt},
      {"1 ", std::nullopt},
      {"1.0", std::nullopt},
      {"0x10", std::nullopt},
      {"one", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseSettingsInt(text), expected) << '"' << text << '"';
  }
}

TEST(UnstorableEntryReasonTest, RejectsWhatWouldNotReadBackUnchanged) {
  struct Case {
    std::string name;
    std::string value;
    const char* reason_part;  // nullptr: storable
  };
  const std::vector<Case> cases = {
      {"Port", "COM3", nullptr},
      {"Port", "", nullptr},
      {"Port", " spaced = out ", nullptr},
      {"Baud rate", "-1", nullptr},
      {"Device COM3", "/dev/ttyUSB0", nullptr},
      {"Some other entry", "x", nullptr},
      {"Port", "COM3\nBaud rate=7", "control"},
      {"Po=rt", "x", "'='"},
      {"#Port", "x", "'#'"},
      {"", "x", "empty"},
      {"  ", "x", "empty"},
      {" Port", "x", "blanks"},
      {"Port", "COM3\r", "control"},
      {"Port", "CO\0M3"s, "NUL"},
      {"Port", "COM\xff", "UTF-8"},
      {"Baud rate", "fast", "32-bit"},
      {"Device COM3", "ttyUSB0", "absolute"},
      {"Device COM300", "/dev/ttyUSB0", "no port"},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name + "=" + test.value);
    const std::optional<std::string> reason = UnstorableEntryReason(test.name, test.value);
    if (test.reason_part == nullptr) {
      EXPECT_EQ(reason, std::nullopt);
    } else {
      ASSERT_TRUE(reason.has_value());
      EXPECT_NE(reason->find(test.reason_part), std::string::npos) << *reason;
    }
  }
}

}  // namespace
}  // namespace lintrel

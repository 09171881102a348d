#include "settings/port_profile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/code_page.h"
#include "fakes/fake_settings_store.h"

namespace lintrel {
namespace {

// A profile that sets every value, with texts that need escapes to be stored.
PortProfile EveryValue() {
  return {.baud_index = 10, .parity_index = 2, .data_bit_index = 0, .stop_bit_index = 1, .end_character = 10,
          .truncate = true, .prefix = false, .prefix_text = "[\\]", .suffix = "\t",
          .replacements = std::vector<Replacement>{{"\x1D", "|"}, {"a=b", "\r\n"}}, .control = ControlMap::kName,
          .pattern = R"(^(?P<w>\d+)\x1D)", .unmatched = UnmatchedLines::kType, .gs1 = true,
          .template_text = R"({w}\t{17:%Y})", .repeat_window_ms = 60000,
          .send_on_connect = "@\r\n", .poll = "SI\r\n", .poll_every_ms = 500, .reply_timeout_ms = 3'600'000,
          .hotkey = Hotkey{.modifiers = Hotkey::kCtrl | Hotkey::kAlt, .key = 0x78},
          .encoding = TextEncoding::kLatin1, .key_delay_ms = 0, .line_delay_ms = 10000,
          .target = "Excel.exe:Book 1: Stock", .elsewhere = Elsewhere::kActivate, .delivery = DeliveryMethod::kPaste,
          .sound_not_typed = true};
}

TEST(PortProfileTest, EveryValueReadsBackAsWritten) {
  testing::FakeSettingsStore store;
  WritePortProfile(store, 5, EveryValue());
  std::vector<std::string> warnings;
  EXPECT_EQ(LoadPortProfile(store, 5, &warnings), EveryValue());
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  // Stored plainly, the texts escaped, under the port's own names.
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Suffix"), "\\t");
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Replace 2"), "a\\x3Db=\\r\\n");
  EXPECT_EQ(store.ReadInt("Ports\\COM5\\End char"), 10);
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Encoding"), "latin-1");
  EXPECT_EQ(store.ReadInt("Ports\\COM5\\Key delay"), 0);
  // The pattern and template as written: their escapes are their own.
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Pattern"), R"(^(?P<w>\d+)\x1D)");
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Unmatched lines"), "type");
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Poll"), "SI\\r\\n");
  EXPECT_EQ(store.ReadInt("Ports\\COM5\\Poll every"), 500);
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Hotkey"), "Ctrl+Alt+F9");
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Target"), "Excel.exe:Book 1: Stock");
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Elsewhere"), "activate");
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Delivery"), "paste");
  EXPECT_EQ(store.ReadInt("Ports\\COM5\\Not typed sound"), 1);
  // Another port has none of it.
  EXPECT_TRUE(LoadPortProfile(store, 6, &warnings).Empty());
}

// Texts are stored as printable ASCII, so that every version reads them, through the
// registry's ANSI calls too; what older versions stored reads as the user wrote it.
TEST(PortProfileTest, TextsBeyondAsciiAreStoredAsEscapes) {
  testing::FakeSettingsStore store;
  const PortProfile written{.prefix_text = "Grüße:", .replacements = std::vector<Replacement>{{"kg", "Kilo°"}}};
  WritePortProfile(store, 2, written);
  EXPECT_EQ(store.ReadString("Ports\\COM2\\Prefix text"), "Gr\\u{FC}\\u{DF}e:");
  EXPECT_EQ(store.ReadString("Ports\\COM2\\Replace 1"), "kg=Kilo\\u{B0}");
  EXPECT_EQ(LoadPortProfile(store, 2, nullptr), written);

  // As an older version left them in the registry: the dialog's ANSI bytes, and a \u{20AC}
  // stored as its UTF-8 bytes, both turned into characters by the ANSI calls (Windows-1252).
  store.older_versions_code_page = &Windows1252CodePage();
  store.values["Ports\\COM2\\Prefix text"] = std::string("Gr\u00FC\u00DFe:");
  store.values["Ports\\COM2\\Replace 1"] = std::string("EUR=\u00E2\u201A\u00AC");
  const PortProfile older = LoadPortProfile(store, 2, nullptr);
  EXPECT_EQ(older.prefix_text, "Grüße:");
  EXPECT_EQ(older.replacements, (std::vector<Replacement>{{"EUR", "€"}}));
}

// The shared options stand at the top level under a section's names, beside the shared line
// settings, which are not theirs and stay as they are.
TEST(PortProfileTest, TheSharedOptionsStandBesideTheSharedLineSettings) {
  testing::FakeSettingsStore store;
  store.WriteInt("Baud rate", 4);
  store.WriteString("End char", "many");
  std::vector<std::string> warnings;
  EXPECT_TRUE(LoadSharedProfile(store, &warnings).Empty());
  EXPECT_EQ(warnings, std::vector<std::string>{"Shared options: \"End char\" is not a character code from 1 to 31; "
                                               "the default is used, the stored value is kept."});

  WriteSharedProfile(store, EveryValue());
  PortProfile without_lines = EveryValue();
  without_lines.baud_index = without_lines.parity_index = without_lines.data_bit_index =
      without_lines.stop_bit_index = std::nullopt;
  EXPECT_EQ(LoadSharedProfile(store, nullptr), without_lines);
  EXPECT_EQ(store.ReadString("Suffix"), "\\t");
  EXPECT_EQ(store.ReadInt("Baud rate"), 4);
  EXPECT_FALSE(store.values.contains("Parity"));
  EXPECT_TRUE(LoadPortProfile(store, 5, nullptr).Empty()) << "no port's own";
}

TEST(PortProfileTest, AValueLeftUnsetIsRemoved) {
  testing::FakeSettingsStore store;
  WritePortProfile(store, 5, EveryValue());
  PortProfile fewer = EveryValue();
  fewer.suffix.reset();
  fewer.baud_index.reset();
  fewer.replacements = std::vector<Replacement>{{"x", "y"}};
  WritePortProfile(store, 5, fewer);
  EXPECT_EQ(LoadPortProfile(store, 5, nullptr), fewer);
  EXPECT_FALSE(store.values.contains("Ports\\COM5\\Suffix"));
  EXPECT_FALSE(store.values.contains("Ports\\COM5\\Replace 2"));
}

// A gap in the numbers (a file edited by hand) loses no replacement after it; a save
// leaves no stale one behind.
TEST(PortProfileTest, AGapInTheReplacementsSkipsNone) {
  testing::FakeSettingsStore store;
  store.values["Ports\\COM3\\Replace 1"] = std::string("a=b");
  store.values["Ports\\COM3\\Replace 3"] = std::string("c=d");
  store.values["Ports\\COM3\\Replace 100"] = std::string("e=f");
  EXPECT_EQ(LoadPortProfile(store, 3, nullptr).replacements,
            (std::vector<Replacement>{{"a", "b"}, {"c", "d"}, {"e", "f"}}));
  WritePortProfile(store, 3, {.replacements = std::vector<Replacement>{{"x", "y"}}});
  EXPECT_EQ(store.values.size(), 1u);
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Replace 1"), "x=y");
}

TEST(PortProfileTest, KnowsTheNamesOfAPortsSection) {
  for (const char* name : {"Baud rate", "End char", "Truncate", "Suffix", "Control characters", "Replace 1",
                           "Replace 100", "Send on connect", "Poll", "Poll every", "Reply timeout", "Hotkey"}) {
    EXPECT_TRUE(IsPortProfileEntry(name)) << name;
  }
  for (const char* name : {"Port", "Device COM1", "Replace 0", "Replace 01", "Replace 101", "Replace", "suffix"}) {
    EXPECT_FALSE(IsPortProfileEntry(name)) << name;
  }
}

// Each damaged value: one warning naming it, the default used, the stored value kept.
TEST(PortProfileTest, DamagedValuesAreWarnedAboutAndKept) {
  const struct {
    std::string entry;
    testing::FakeSettingsStore::Value stored;
    std::string warned;
  } cases[] = {
      {"End char", 0, "\"End char\" = 0 is not a character code from 1 to 31"},
      {"End char", std::string("13"), "\"End char\" is not a character code"},
      {"Truncate", 2, "\"Truncate\" = 2 is not 0 or 1"},
      {"Control characters", std::string("loud"), "\"loud\" is not keep, drop or name"},
      {"Suffix", std::string("\\q"), "\"Suffix\" has a wrong escape: \\q is not an escape"},
      {"Replace 1", std::string("no equals"), "\"Replace 1\" is left out"},
      {"Replace 1", std::string("=x"), "FROM is empty"},
      {"Baud rate", 11, "\"Baud rate\" 11 is outside its list"},
      {"Parity", std::string("odd"), "\"Parity\" is not a number"},
      {"Encoding", std::string("utf-16"), "\"utf-16\" is not ansi, utf-8 or latin-1"},
      {"Encoding", 1, "\"Encoding\" is not"},
      {"Key delay", 1001, "\"Key delay\" = 1001 is not a number of milliseconds from 0 to 1000"},
      {"Line delay", -1, "\"Line delay\" = -1 is not a number of milliseconds from 0 to 10000"},
      {"Line delay", std::string("slow"), "\"Line delay\" is not a number of milliseconds"},
      {"Unmatched lines", std::string("keep"), "\"keep\" is not report, drop or type"},
      {"GS1", 2, "\"GS1\" = 2 is not 0 or 1"},
      {"Target", std::string(":Title"), "\":Title\" names no program"},
      {"Elsewhere", std::string("wait"), "\"wait\" is not hold, activate or drop"},
      {"Delivery", std::string("type"), "\"type\" is not keys, unicode or paste"},
      {"Repeat window", 60001, "\"Repeat window\" = 60001 is not a number of milliseconds from 0 to 60000"},
      {"Poll", std::string("P\\q"), "\"Poll\" has a wrong escape: \\q is not an escape"},
      {"Poll every", 99, "\"Poll every\" = 99 is not a number of milliseconds from 100 to 3600000"},
      {"Hotkey", std::string("Ctrl+Ctrl+F9"), "\"Hotkey\" is no hotkey: \"Ctrl+Ctrl+F9\": Ctrl is given twice"},
      {"Reply timeout", 3'600'001, "\"Reply timeout\" = 3600001 is not a number of milliseconds from 100 to 3600000"},
  };
  for (const auto& c : cases) {
    testing::FakeSettingsStore store;
    store.values["Ports\\COM7\\" + c.entry] = c.stored;
    std::vector<std::string> warnings;
    const PortProfile profile = LoadPortProfile(store, 7, &warnings);
    ASSERT_EQ(warnings.size(), 1u) << c.entry;
    EXPECT_EQ(warnings[0].rfind("COM7 profile: \"" + c.entry + "\"", 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find(c.warned), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[0].find("the stored value is kept"), std::string::npos) << warnings[0];
    EXPECT_EQ(store.values.size(), 1u) << "nothing written";
    // Only an out-of-list position is kept for the port, as the shared positions are.
    if (c.entry == "Baud rate") {
      EXPECT_EQ(profile.baud_index, 11);
    } else {
      EXPECT_TRUE(profile.Empty() || profile.replacements == std::vector<Replacement>{}) << c.entry;
    }
  }
}

TEST(PortProfileTest, ValuesAPortSetsStandOverTheDefaults) {
  PortProfile profile{.baud_index = 4, .end_character = 10, .suffix = "\t"};
  PortProfile given{.parity_index = 2, .suffix = "\r"};
  profile.Overlay(given);
  const LineSettings line = profile.LineOver(LineSettings{.port_name = "COM9", .baud_index = 10, .stop_bit_index = 1});
  EXPECT_EQ(line, (LineSettings{.port_name = "COM9", .baud_index = 4, .parity_index = 2, .stop_bit_index = 1}));
  const ShapingRules shared{.replacements = {{"a", "b"}}, .control = ControlMap::kDrop, .prefix_text = "P"};
  const PortCaptureRules rules = profile.CaptureRules(shared);
  EXPECT_EQ(rules.shaping, (ShapingRules{.replacements = {{"a", "b"}}, .control = ControlMap::kDrop,
                                         .prefix_text = "P", .suffix = "\r"}));
  const CaptureOptions options = rules.Over({.prefix = true, .truncate = true});
  EXPECT_EQ(options, (CaptureOptions{.prefix = true, .truncate = true, .end_character = 10}));

  // The encoding and the delays, each on its own.
  profile.Overlay({.encoding = TextEncoding::kUtf8, .line_delay_ms = 50});
  EXPECT_EQ(profile.CaptureRules({}).Over({.encoding = TextEncoding::kAnsi}).encoding, TextEncoding::kUtf8);
  using std::chrono::milliseconds;
  EXPECT_EQ(profile.OwnPacing().Over({.key_delay = milliseconds(7), .line_delay = milliseconds(8)}),
            (Pacing{.key_delay = milliseconds(7), .line_delay = milliseconds(50)}));
}

// The target splits at its first colon; an empty one given for a run means none, and is
// stored as none.
TEST(PortProfileTest, TheDeliveryValuesMakeTheRules) {
  EXPECT_EQ(PortProfile{}.Delivery(), DeliveryRules{});
  const PortProfile profile{.target = "xterm:build: log", .elsewhere = Elsewhere::kDrop,
                            .delivery = DeliveryMethod::kUnicode};
  const DeliveryRules rules = profile.Delivery();
  ASSERT_TRUE(rules.target.has_value());
  EXPECT_EQ(*rules.target, (DeliveryTarget{"xterm", "build: log"}));
  EXPECT_EQ(rules.elsewhere, Elsewhere::kDrop);
  EXPECT_EQ(rules.method, DeliveryMethod::kUnicode);
  EXPECT_EQ(ParseElsewhere("HOLD"), Elsewhere::kHold);
  EXPECT_EQ(ParseDeliveryMethod("Paste"), DeliveryMethod::kPaste);

  testing::FakeSettingsStore store;
  WritePortProfile(store, 4, {.target = "gedit"});
  PortProfile none{.target = ""};
  EXPECT_FALSE(none.Delivery().target.has_value());
  WritePortProfile(store, 4, none);
  EXPECT_FALSE(store.values.contains("Ports\\COM4\\Target"));
}

}  // namespace
}  // namespace lintrel

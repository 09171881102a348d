#include "ui/options_form.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

#include "ui/dialog_lists.h"

namespace lintrel::ui {
namespace {

// Each message names its field.
constexpr const char* kNotAnInteger = "Reconnection Delay(ms): Please enter an integer.";
constexpr const char* kOutOfRange = "Reconnection Delay(ms): Please enter an integer between 500 and 5000.";

struct Stored {
  int prefix;
  int delay;
  int end_character;
  int truncate;
  bool operator==(const Stored&) const = default;
};

Stored StoredIn(const CaptureOptions& options) {
  return {options.prefix, options.reconnect_delay_ms, options.end_character, options.truncate};
}

void PrintTo(const Stored& stored, std::ostream* out) {
  *out << "{prefix " << stored.prefix << ", delay " << stored.delay << ", end " << stored.end_character
       << ", truncate " << stored.truncate << "}";
}

// --- Opening the dialog --------------------------------------------------------------

TEST(OptionsFormTest, DefaultsOpenAsPrefixOffOneSecondCrAndNoTruncation) {
  const CaptureOptions options;
  const OptionsForm form = FormFromOptions(options);
  EXPECT_FALSE(form.prefix);
  EXPECT_EQ(form.delay_text, "1000");
  EXPECT_EQ(form.end_character_index, 12);
  EXPECT_EQ(kEndCharacterTexts[static_cast<std::size_t>(form.end_character_index)], "CR    [0D]");
  EXPECT_FALSE(form.truncate);
}

TEST(OptionsFormTest, StoredValuesOpenAsTheyAre) {
  CaptureOptions options;
  options.prefix = true;
  options.reconnect_delay_ms = 2750;
  options.end_character = 10;
  options.truncate = true;
  const OptionsForm form = FormFromOptions(options);
  EXPECT_TRUE(form.prefix);
  EXPECT_EQ(form.delay_text, "2750");
  EXPECT_EQ(form.end_character_index, 9);
  EXPECT_TRUE(form.truncate);
}

TEST(OptionsFormTest, EndCharacterOutsideTheListSelectsNoEntry) {
  CaptureOptions options;
  for (int code : {0, 32, 127, -5, 255}) {
    options.end_character = static_cast<uint8_t>(code);
    EXPECT_EQ(FormFromOptions(options).end_character_index, -1) << code;
  }
  for (int code : {1, 31}) {
    options.end_character = static_cast<uint8_t>(code);
    EXPECT_EQ(FormFromOptions(options).end_character_index, code - 1) << code;
  }
}

// --- Applying the dialog -------------------------------------------------------------

class ApplyOptionsFormTest : public ::testing::Test {
 protected:
  ApplyOptionsFormTest() {
    options_.prefix = false;
    options_.reconnect_delay_ms = 1500;
    options_.end_character = 13;
    options_.truncate = false;
  }

  // A form that changes every value, with the given delay text.
  static OptionsForm ChangedForm(std::string delay_text) {
    OptionsForm form;
    form.prefix = true;
    form.delay_text = std::move(delay_text);
    form.end_character_index = 9;  // LF
    form.truncate = true;
    return form;
  }

  CaptureOptions options_;
  const Stored before_{0, 1500, 13, 0};
};

TEST_F(ApplyOptionsFormTest, RejectedDelayStoresNothing) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"499", kOutOfRange},         {"5001", kOutOfRange},          {"-1", kOutOfRange},
      {"0", kOutOfRange},           {"-2147483648", kOutOfRange},   {"abc", kNotAnInteger},
      {"", kNotAnInteger},          {"   ", kNotAnInteger},         {"12abc", kNotAnInteger},
      {"99999999999", kNotAnInteger}, {"2147483648", kNotAnInteger}, {"1 000", kNotAnInteger},
      {"1.5", kNotAnInteger},       {"+-700", kNotAnInteger},       {"0x600", kNotAnInteger},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("delay text \"") + c.text + "\"");
    const std::optional<OptionsFormError> error = ApplyOptionsForm(ChangedForm(c.text), options_);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->field, OptionsField::kDelay);
    EXPECT_EQ(error->message, c.message);
    EXPECT_EQ(StoredIn(options_), before_);
  }
}

TEST_F(ApplyOptionsFormTest, AcceptedDelayStoresAllFourValues) {
  for (const auto& [text, delay] : {std::pair{"500", 500}, std::pair{"5000", 5000}, std::pair{" 750 ", 750},
                                    std::pair{"+2000", 2000}, std::pair{"\t1200\r\n", 1200}}) {
    SCOPED_TRACE(std::string("delay text \"") + text + "\"");
    CaptureOptions options;
    options.end_character = 13;
    EXPECT_FALSE(ApplyOptionsForm(ChangedForm(text), options).has_value());
    EXPECT_EQ(StoredIn(options), (Stored{1, delay, 10, 1}));
  }
}

TEST_F(ApplyOptionsFormTest, ClearedChecksAreStoredToo) {
  options_.prefix = true;
  options_.truncate = true;
  OptionsForm form = ChangedForm("600");
  form.prefix = false;
  form.truncate = false;
  form.end_character_index = 0;
  ASSERT_FALSE(ApplyOptionsForm(form, options_).has_value());
  EXPECT_EQ(StoredIn(options_), (Stored{0, 600, 1, 0}));
}

TEST_F(ApplyOptionsFormTest, EndCharacterEntryMapsToItsCodeAndNoEntryKeepsTheOldOne) {
  for (int index = 0; index < 31; ++index) {
    OptionsForm form = ChangedForm("1000");
    form.end_character_index = index;
    ASSERT_FALSE(ApplyOptionsForm(form, options_).has_value());
    EXPECT_EQ(options_.end_character, index + 1) << index;
  }

  options_.end_character = 10;
  OptionsForm form = ChangedForm("3000");
  form.end_character_index = -1;  // text typed into the list's edit field
  ASSERT_FALSE(ApplyOptionsForm(form, options_).has_value());
  EXPECT_EQ(StoredIn(options_), (Stored{1, 3000, 10, 1}));
}

TEST_F(ApplyOptionsFormTest, FormOpenedFromTheOptionsAppliesBackUnchanged) {
  options_.prefix = true;
  options_.reconnect_delay_ms = 4321;
  options_.end_character = 27;
  const Stored opened = StoredIn(options_);
  ASSERT_FALSE(ApplyOptionsForm(FormFromOptions(options_), options_).has_value());
  EXPECT_EQ(StoredIn(options_), opened);
}

// --- Reading integers ----------------------------------------------------------------

TEST(ParseDialogIntegerTest, WholeSignedDecimalsWithBlanksAroundThem) {
  EXPECT_EQ(ParseDialogInteger("42"), 42);
  EXPECT_EQ(ParseDialogInteger("+42"), 42);
  EXPECT_EQ(ParseDialogInteger(" -7 "), -7);
  EXPECT_EQ(ParseDialogInteger("007"), 7);
  EXPECT_EQ(ParseDialogInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseDialogInteger("-2147483648"), -2147483647 - 1);
}

TEST(ParseDialogIntegerTest, AnythingElseIsNotAnInteger) {
  for (const char* text : {"", " ", "+", "-", "+-1", "--1", "1-", "4 2", "12abc", "abc", "1e3", "0x10",
                           "2147483648", "-2147483649", "99999999999"}) {
    EXPECT_EQ(ParseDialogInteger(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(IntegerRangeMessageTest, FillsInBothBounds) {
  EXPECT_EQ(IntegerRangeMessage(500, 5000), "Please enter an integer between 500 and 5000.");
  EXPECT_EQ(IntegerRangeMessage(-3, 12), "Please enter an integer between -3 and 12.");
}

// --- The end-character list ----------------------------------------------------------

// Each entry splits into the two columns the dialog draws: a name without blanks, and the
// hexadecimal code of its character.
TEST(EndCharacterTextsTest, EachEntryIsANameAndTheHexCodeOfItsCharacter) {
  ASSERT_EQ(kEndCharacterTexts.size(), 31u);
  for (std::size_t i = 0; i < kEndCharacterTexts.size(); ++i) {
    char code[8];
    std::snprintf(code, sizeof code, "[%02X]", static_cast<unsigned>(i + 1));
    const EndCharacterColumns columns = SplitEndCharacterText(kEndCharacterTexts[i]);
    EXPECT_EQ(columns.code, code) << i << ": " << kEndCharacterTexts[i];
    EXPECT_TRUE(columns.name.size() >= 2 && columns.name.find(' ') == std::string_view::npos) << columns.name;
    EXPECT_EQ(EndCharacterCode(static_cast<int>(i)), static_cast<int>(i + 1));
    EXPECT_EQ(EndCharacterIndex(static_cast<int>(i + 1)), static_cast<int>(i));
  }
}

TEST(EndCharacterTextsTest, TextsKeepTheirExactBlanks) {
  EXPECT_EQ(kEndCharacterTexts[0], "SOH [01]");
  EXPECT_EQ(kEndCharacterTexts[1], "STX  [02] ");
  EXPECT_EQ(kEndCharacterTexts[9], "LF     [0A]");
  EXPECT_EQ(kEndCharacterTexts[12], "CR    [0D]");
  EXPECT_EQ(kEndCharacterTexts[26], "ESC  [1B]");
  EXPECT_EQ(kEndCharacterTexts[30], "US    [1F]");
}

// The typing fields: both delays are checked before anything is stored; the encoding is
// the list's position.
TEST_F(ApplyOptionsFormTest, TypingDelaysAndEncoding) {
  const struct {
    const char* key_delay;
    const char* line_delay;
    std::optional<OptionsField> rejected;
  } cases[] = {
      {"0", "0", std::nullopt},       {"1000", "10000", std::nullopt}, {"1001", "0", OptionsField::kKeyDelay},
      {"-1", "0", OptionsField::kKeyDelay}, {"5", "x", OptionsField::kLineDelay}, {"5", "10001", OptionsField::kLineDelay},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key_delay) + " / " + c.line_delay);
    CaptureOptions options = options_;
    Pacing pacing{.key_delay = std::chrono::milliseconds(3), .line_delay = std::chrono::milliseconds(4)};
    OptionsForm form = FormFromOptions(options, pacing);
    EXPECT_EQ(form.key_delay_text, "3");
    form.encoding_index = static_cast<int>(TextEncoding::kUtf8);
    form.key_delay_text = c.key_delay;
    form.line_delay_text = c.line_delay;
    const std::optional<OptionsFormError> error = ApplyOptionsForm(form, options, pacing);
    if (c.rejected) {
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->field, *c.rejected);
      const char* label = *c.rejected == OptionsField::kKeyDelay ? "Key delay (ms): " : "Line delay (ms): ";
      EXPECT_EQ(error->message.rfind(label, 0), 0u) << error->message;
      EXPECT_EQ(options.encoding, options_.encoding);
      EXPECT_EQ(pacing.key_delay.count(), 3);
    } else {
      EXPECT_FALSE(error.has_value());
      EXPECT_EQ(options.encoding, TextEncoding::kUtf8);
      EXPECT_EQ(pacing.key_delay.count(), std::stoi(c.key_delay));
      EXPECT_EQ(pacing.line_delay.count(), std::stoi(c.line_delay));
    }
  }
}

}  // namespace
}  // namespace lintrel::ui

namespace lintrel::ui {
namespace {

TEST(ShapingFormTest, FieldsReadBackWithTheirEscapes) {
  const ShapingRules rules{{{"\x1D", "|"}, {"a=b", ""}}, ControlMap::kName, "\\", "\t"};
  OptionsForm form;
  ShapingToForm(rules, form);
  EXPECT_EQ(form.suffix, "\\t");
  EXPECT_EQ(form.replacements, "\\x1D=|\r\na\\x3Db=");
  form.replacements += "\r\n\r\n";  // blank lines are no rules
  ShapingRules read;
  EXPECT_EQ(ApplyShapingForm(form, read), std::nullopt);
  EXPECT_EQ(read, rules);
}

// A wrong field names itself and leaves every rule as it was.
TEST(ShapingFormTest, AWrongFieldIsNamedAndNothingChanges) {
  const struct {
    OptionsForm form;
    OptionsField field;
    std::string message;
  } cases[] = {
      {{.prefix_text = "\\q"}, OptionsField::kPrefixText, "Prefix text: \\q is not an escape"},
      {{.suffix = "\\x4"}, OptionsField::kSuffix, "Suffix: \\x4 is not an escape"},
      {{.replacements = "a=b\r\nno rule"}, OptionsField::kReplacements, "Replace: \"no rule\" is not FROM=TO"},
      {{.replacements = "=b"}, OptionsField::kReplacements, "Replace: \"=b\" replaces nothing"},
  };
  for (const auto& c : cases) {
    const ShapingRules before{{{"x", "y"}}, ControlMap::kDrop, "p", "s"};
    ShapingRules rules = before;
    const std::optional<OptionsFormError> error = ApplyShapingForm(c.form, rules);
    ASSERT_TRUE(error.has_value()) << c.message;
    EXPECT_EQ(error->field, c.field);
    EXPECT_EQ(error->message.rfind(c.message, 0), 0u) << error->message;
    EXPECT_EQ(rules, before);
  }
}

// --- The target ------------------------------------------------------------------------

TEST(OptionsFormTest, TheTargetOpensAsStoredAndComesBackTheSame) {
  const DeliveryRules stored{ParseDeliveryTarget("excel.exe:Stock: 2026"), Elsewhere::kActivate,
                             DeliveryMethod::kUnicode};
  OptionsForm form;
  DeliveryToForm(stored, form);
  EXPECT_EQ(form.target_title, "Stock: 2026");  // a colon in the title part is the title's
  DeliveryRules read;
  ASSERT_EQ(ApplyDeliveryForm(form, read), std::nullopt);
  EXPECT_EQ(read, stored);
}

TEST(OptionsFormTest, TheTargetFieldsAreCheckedBeforeAnythingIsTaken) {
  const struct {
    const char* program;
    const char* title;
    int method;
    std::optional<OptionsField> field;
    const char* target;  // as stored when accepted; "" for none
  } cases[] = {
      {"  notepad.exe ", "", 0, std::nullopt, "notepad.exe"},
      {"", "", 0, std::nullopt, ""},
      {"   ", "", 1, std::nullopt, ""},
      {"excel", " Orders", 0, std::nullopt, "excel: Orders"},
      {"C:\\Office\\excel.exe", "", 0, OptionsField::kTargetProgram, nullptr},
      {"tools/excel", "", 0, OptionsField::kTargetProgram, nullptr},
      {"excel:Orders", "", 0, OptionsField::kTargetProgram, nullptr},
      {"", "Orders", 0, OptionsField::kTargetTitle, nullptr},
      {"excel", "", 2, std::nullopt, "excel"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + "|" + c.title);
    OptionsForm form;
    form.target_program = c.program;
    form.target_title = c.title;
    form.delivery_index = c.method;
    form.elsewhere_index = 2;
    const DeliveryRules before{ParseDeliveryTarget("kept"), Elsewhere::kHold, DeliveryMethod::kKeys};
    DeliveryRules rules = before;
    const std::optional<OptionsFormError> error = ApplyDeliveryForm(form, rules);
    if (c.field) {
      ASSERT_TRUE(error.has_value());
      EXPECT_EQ(error->field, *c.field);
      EXPECT_EQ(rules, before);
      continue;
    }
    ASSERT_EQ(error, std::nullopt) << error->message;
    EXPECT_EQ(rules.target ? DeliveryTargetText(*rules.target) : "", c.target);
    EXPECT_EQ(rules.elsewhere, Elsewhere::kDrop);
  }
  // The method and the sound go through as they are, also without a target.
  OptionsForm paste;
  paste.delivery_index = 2;
  paste.sound_not_typed = true;
  DeliveryRules rules;
  ASSERT_EQ(ApplyDeliveryForm(paste, rules), std::nullopt);
  EXPECT_EQ(rules.method, DeliveryMethod::kPaste);
  EXPECT_TRUE(rules.sound_not_typed);
  OptionsForm back;
  DeliveryToForm(rules, back);
  EXPECT_EQ(back.delivery_index, 2);
  EXPECT_TRUE(back.sound_not_typed);
}

}  // namespace
}  // namespace lintrel::ui

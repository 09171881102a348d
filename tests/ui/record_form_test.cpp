#include "ui/record_form.h"

#include <gtest/gtest.h>

#include <string>

namespace lintrel::ui {
namespace {

TEST(RecordFormTest, TheGroupShowsTheRulesAndReadsThemBack) {
  const RecordRules rules{.pattern = "^(?P<w>\\d+)", .unmatched = UnmatchedLines::kDrop, .gs1 = true,
                          .template_text = "{w}\\t", .repeat_window_ms = 250};
  const RecordForm form = RecordFormFromRules(rules);
  EXPECT_EQ(form.unmatched_index, 1);
  EXPECT_EQ(form.repeat_window_text, "250");
  RecordRules read;
  EXPECT_FALSE(ApplyRecordForm(form, read));
  EXPECT_EQ(read, rules);
}

TEST(RecordFormTest, AWrongValueKeepsTheRulesAndNamesItsField) {
  const struct {
    RecordForm form;
    RecordField field;
    const char* message;
  } cases[] = {
      {{.pattern = "(x", .repeat_window_text = "0"}, RecordField::kPattern, "Pattern: missing ): (x"},
      {{.template_text = "{x", .repeat_window_text = "0"}, RecordField::kTemplate,
       "Template: a { without its } (write {{ for the brace itself)"},
      {{.repeat_window_text = "soon"}, RecordField::kRepeatWindow, "Please enter an integer."},
      {{.repeat_window_text = "60001"}, RecordField::kRepeatWindow, "Please enter an integer between 0 and 60000."},
  };
  for (const auto& c : cases) {
    RecordRules rules{.pattern = "kept"};
    const std::optional<RecordFormError> error = ApplyRecordForm(c.form, rules);
    ASSERT_TRUE(error) << c.message;
    EXPECT_EQ(error->field, c.field);
    EXPECT_EQ(error->message, c.message);
    EXPECT_EQ(rules, RecordRules{.pattern = "kept"});
  }
}

TEST(RecordFormTest, TheTestFieldShowsWhatASampleLineWouldType) {
  const RecordForm form{.gs1 = true, .template_text = "{01}\\t{17:%Y-%m-%d}", .repeat_window_text = "0"};
  const PortCaptureRules port{.truncate = true, .shaping = {.suffix = "\r"}};
  EXPECT_EQ(TestRecordForm(form, "0109501101530003\\x1D17251231", {}, port, 5),
            "field 01 = \"09501101530003\"\r\nfield 17 = \"251231\"\r\ntypes: 09501101530003<Tab>2025-12-31");
  EXPECT_EQ(TestRecordForm(form, "0109501101530004", {}, port, 5),
            "not typed: GS1: AI 01: wrong check digit in 09501101530004");
  EXPECT_EQ(TestRecordForm({.template_text = "{", .repeat_window_text = "0"}, "x", {}, port, 5),
            "Template: a { without its } (write {{ for the brace itself)");
  // Without records, the port's shaping: the end character left out, its suffix typed.
  EXPECT_EQ(TestRecordForm({.repeat_window_text = "0"}, "ab", {}, port, 5), "types: ab<Enter>");
}

}  // namespace
}  // namespace lintrel::ui

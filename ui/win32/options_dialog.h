#pragma once

#include <optional>

#include "settings/capture_options.h"
#include "ui/options_form.h"
#include "ui/win32/dialog.h"

namespace lintrel::ui::win32 {

// The Options dialog: edits the capture options. Readers keep using the values as they
// were until OK has checked and stored all four; Cancel leaves them untouched.
class OptionsDialog : public Dialog {
 public:
  // `end_character_editable`: whether the end character may be changed (no port open).
  OptionsDialog(HINSTANCE instance, SharedCaptureOptions& options, bool end_character_editable);

 private:
  void FillInitialLists() override;
  bool Exchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  // The end-character list draws each entry as two columns, so that the codes line up.
  std::optional<LRESULT> OnDrawItem(const DRAWITEMSTRUCT& item);

  SharedCaptureOptions& options_;
  bool end_character_editable_;
  OptionsForm form_;
};

}  // namespace lintrel::ui::win32

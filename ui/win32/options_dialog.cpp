#include "ui/win32/options_dialog.h"

#include <string>

#include "ui/dialog_lists.h"
#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {

OptionsDialog::OptionsDialog(HINSTANCE instance, SharedCaptureOptions& options, bool end_character_editable)
    : Dialog(instance, IDD_OPTIONS),
      options_(options),
      end_character_editable_(end_character_editable),
      form_(FormFromOptions(options.Load())) {}

void OptionsDialog::FillInitialLists() {
  AddListEntries(Item(IDC_END_CHARACTER), kEndCharacterTexts);
}

bool OptionsDialog::Exchange(DataExchange& exchange) {
  exchange.Check(IDC_PORT_PREFIX, form_.prefix);
  exchange.Text(IDC_RECONNECT_DELAY, form_.delay_text);
  exchange.ListIndex(IDC_END_CHARACTER, form_.end_character_index);
  exchange.Check(IDC_TRUNCATE, form_.truncate);
  return true;
}

BOOL OptionsDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  EnableWindow(Item(IDC_END_CHARACTER), end_character_editable_ ? TRUE : FALSE);
  return TRUE;
}

void OptionsDialog::OnOK() {
  UpdateData(true);
  CaptureOptions updated = options_.Load();
  if (const std::optional<OptionsFormError> error = ApplyOptionsForm(form_, updated)) {
    DataExchange exchange(hwnd(), true);
    exchange.Fail(IDC_RECONNECT_DELAY, error->message);
    return;
  }
  // All four at once: a reader sees the old options or the new ones, never a mix.
  options_.Publish(updated);
  EndDialog(IDOK);
}

}  // namespace lintrel::ui::win32

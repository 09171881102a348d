#pragma once

#include <map>
#include <optional>
#include <utility>

#include "settings/capture_options.h"
#include "settings/connection_memory.h"
#include "ui/main_window.h"
#include "ui/options_form.h"
#include "ui/policy_locks.h"
#include "ui/record_form.h"
#include "ui/win32/administrator_note.h"
#include "ui/win32/dialog.h"

namespace lintrel::ui::win32 {

// The Options dialog: edits the capture options, the shaping, the records and the target of
// the selected port (or the shared capture options when no port is selected), the typing
// delays, and the options of running all day. Its Test field shows, as it is typed, what a
// sample line would type under the dialog's values as they stand. Nothing changes until OK has checked every value; OK then writes the
// dialog's choices to `options`, `pacing`, `startup` and `start_with_windows`, which the
// caller applies. Cancel leaves everything untouched.
class OptionsDialog : public Dialog {
 public:
  // `end_character_editable`: whether the end character may be changed (its port is not
  // connected).
  OptionsDialog(HINSTANCE instance, PortOptions& options, Pacing& pacing, bool end_character_editable,
                StartupOptions& startup, bool& start_with_windows);

  // The controls whose values a policy sets: disabled, and named as set by the administrator.
  void SetLocks(const OptionsLocks& locks) { locks_ = locks; }
  // The hotkeys of the other ports, which the Requests dialog does not give this port too.
  void SetOtherHotkeys(std::map<int, Hotkey> hotkeys) { other_hotkeys_ = std::move(hotkeys); }

 private:
  void FillInitialLists() override;
  bool Exchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  // The end-character list draws each entry as two columns, so that the codes line up.
  std::optional<LRESULT> OnDrawItem(const DRAWITEMSTRUCT& item);
  // Shows in the Test field's result what its sample line would type now.
  void UpdateTest();
  // The Requests dialog, for the port's requests until OK.
  void OpenRequests();

  PortOptions& options_;
  Pacing& pacing_;
  bool end_character_editable_;
  OptionsForm form_;
  RecordForm record_form_;
  bool initialized_ = false;  // the controls show the values (their changes are the user's)
  StartupOptions& startup_;
  bool& start_with_windows_;
  // What the three check boxes show, until OK.
  StartupOptions startup_shown_;
  bool start_with_windows_shown_;
  OptionsLocks locks_;
  AdministratorNote note_;
  // What the Requests dialog was left with, until OK.
  PortRequestValues requests_shown_;
  std::map<int, Hotkey> other_hotkeys_;
};

}  // namespace lintrel::ui::win32

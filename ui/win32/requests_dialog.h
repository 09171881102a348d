#pragma once

#include <map>

#include "ui/policy_locks.h"
#include "ui/requests_form.h"
#include "ui/win32/administrator_note.h"
#include "ui/win32/dialog.h"

namespace lintrel::ui::win32 {

// The Requests dialog, opened from the Options dialog: what a port sends to its device (a
// text on connect, a poll and its timer, the reply timeout) and the hotkey that sends its
// poll at once. OK checks every field and writes them to `values`; the Options dialog's own
// OK stores them with the port's other options. Cancel changes nothing.
class RequestsDialog : public Dialog {
 public:
  // `other_hotkeys`: the hotkeys of the other ports, which this port cannot have too.
  RequestsDialog(HINSTANCE instance, int port_number, PortRequestValues& values, std::map<int, Hotkey> other_hotkeys,
                 const OptionsLocks& locks);

 private:
  bool Exchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override;

  int port_number_;
  PortRequestValues& values_;
  std::map<int, Hotkey> other_hotkeys_;
  RequestsForm form_;
  OptionsLocks locks_;
  AdministratorNote note_;
};

}  // namespace lintrel::ui::win32

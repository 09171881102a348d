#include "ui/win32/requests_dialog.h"

#include <string>
#include <utility>
#include <vector>

#include "common/port_number.h"
#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {
namespace {

int ControlOf(RequestsField field) {
  switch (field) {
    case RequestsField::kSendOnConnect: return IDC_SEND_ON_CONNECT;
    case RequestsField::kPoll: return IDC_POLL;
    case RequestsField::kPollEvery: return IDC_POLL_EVERY;
    case RequestsField::kReplyTimeout: return IDC_REPLY_TIMEOUT;
    case RequestsField::kHotkey: break;
  }
  return IDC_HOTKEY;
}

}  // namespace

RequestsDialog::RequestsDialog(HINSTANCE instance, int port_number, PortRequestValues& values,
                               std::map<int, Hotkey> other_hotkeys, const OptionsLocks& locks)
    : Dialog(instance, IDD_REQUESTS),
      port_number_(port_number),
      values_(values),
      other_hotkeys_(std::move(other_hotkeys)),
      form_(RequestsFormFrom(values)),
      locks_(locks) {}

bool RequestsDialog::Exchange(DataExchange& exchange) {
  exchange.Text(IDC_SEND_ON_CONNECT, form_.send_on_connect);
  exchange.Text(IDC_POLL, form_.poll);
  exchange.Text(IDC_POLL_EVERY, form_.poll_every_text);
  exchange.Text(IDC_REPLY_TIMEOUT, form_.reply_timeout_text);
  exchange.Text(IDC_HOTKEY, form_.hotkey_text);
  return true;
}

BOOL RequestsDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  SetWindowTextA(hwnd(), ("Requests of " + PortName(port_number_)).c_str());
  std::vector<int> locked;
  for (const auto& [is_locked, id] :
       {std::pair{locks_.send_on_connect, IDC_SEND_ON_CONNECT}, std::pair{locks_.poll, IDC_POLL},
        std::pair{locks_.poll_every, IDC_POLL_EVERY}, std::pair{locks_.reply_timeout, IDC_REPLY_TIMEOUT},
        std::pair{locks_.hotkey, IDC_HOTKEY}}) {
    if (is_locked) locked.push_back(id);
  }
  note_.Show(hwnd(), locked);
  return TRUE;
}

void RequestsDialog::OnOK() {
  UpdateData(true);
  if (const std::optional<RequestsFormError> error = ApplyRequestsForm(form_, values_, other_hotkeys_)) {
    DataExchange exchange(hwnd(), true);
    exchange.Fail(ControlOf(error->field), error->message);
    return;
  }
  EndDialog(IDOK);
}

}  // namespace lintrel::ui::win32

#include "ui/win32/dialog.h"

#include <exception>
#include <filesystem>
#include <vector>

#include "platform/win32/wide_text.h"
#include "ui/messages.h"

namespace lintrel::ui::win32 {

namespace {

// Messages whose answer is the dialog procedure's return value rather than DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string ProgramName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::string stem = platform::Utf8Text(std::filesystem::path(path).stem().wstring());
  return stem.empty() ? "lintrel" : stem;
}

Dialog::Dialog(HINSTANCE instance, int template_id) : instance_(instance), template_id_(template_id) {}

INT_PTR Dialog::RunModal(HWND owner) {
  // A Unicode dialog: its controls hold UTF-16 text, which the W calls give and take.
  return DialogBoxParamW(instance_, MAKEINTRESOURCEW(template_id_), owner, &Dialog::DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

void Dialog::OnMessage(UINT message, MessageHandler handler) { message_handlers_[message] = std::move(handler); }

void Dialog::OnCommand(int id, CommandHandler handler) { command_handlers_[id] = std::move(handler); }

void Dialog::OnNotification(int id, int code, CommandHandler handler) {
  notification_handlers_[{id, code}] = std::move(handler);
}

bool Dialog::UpdateData(bool save) {
  DataExchange exchange(hwnd_, save);
  return Exchange(exchange);
}

void Dialog::EndDialog(INT_PTR result) { ::EndDialog(hwnd_, result); }

BOOL Dialog::OnInitDialog() {
  FillInitialLists();
  UpdateData(false);
  return TRUE;
}

void Dialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<Dialog*>(lparam);
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    dialog->hwnd_ = hwnd;
  }
  auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (dialog == nullptr) return FALSE;  // messages before WM_INITDIALOG (WM_SETFONT)
  // An exception must not unwind through the system's code that called this procedure:
  // the user is told, and the message counts as not handled.
  INT_PTR answer = FALSE;
  try {
    answer = dialog->Dispatch(message, wparam, lparam);
  } catch (const std::exception& e) {
    ShowMessageBox(hwnd, std::string(kActionFailedMessage) + e.what(), MB_ICONERROR);
  } catch (...) {
    ShowMessageBox(hwnd, std::string(kActionFailedMessage) + "unknown error", MB_ICONERROR);
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    dialog->hwnd_ = nullptr;
  }
  return answer;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) return OnInitDialog();
  if (const auto handler = message_handlers_.find(message); handler != message_handlers_.end()) {
    const std::optional<LRESULT> answer = handler->second(wparam, lparam);
    if (!answer) return FALSE;
    if (AnswersDirectly(message)) return static_cast<INT_PTR>(*answer);
    SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, *answer);
    return TRUE;
  }
  if (message == WM_COMMAND) return DispatchCommand(wparam) ? TRUE : FALSE;
  return FALSE;
}

bool Dialog::DispatchCommand(WPARAM wparam) {
  const int id = LOWORD(wparam);
  const int code = HIWORD(wparam);
  if (const auto handler = notification_handlers_.find({id, code}); handler != notification_handlers_.end()) {
    handler->second();
    return true;
  }
  // Clicks, menu commands (code 0) and accelerators (code 1).
  if (code == BN_CLICKED || code == 1) {
    if (const auto handler = command_handlers_.find(id); handler != command_handlers_.end()) {
      handler->second();
      return true;
    }
    if (id == IDOK) {
      OnOK();
      return true;
    }
    if (id == IDCANCEL) {
      OnCancel();
      return true;
    }
  }
  return false;
}

void DataExchange::ListIndex(int id, int& index) {
  const HWND list = GetDlgItem(dialog_, id);
  if (save_) {
    index = static_cast<int>(SendMessageA(list, CB_GETCURSEL, 0, 0));
  } else {
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

void DataExchange::Check(int id, bool& checked) {
  if (save_) {
    checked = IsDlgButtonChecked(dialog_, id) == BST_CHECKED;
  } else {
    CheckDlgButton(dialog_, id, checked ? BST_CHECKED : BST_UNCHECKED);
  }
}

void DataExchange::Text(int id, std::string& text) {
  if (save_) {
    text = WindowText(GetDlgItem(dialog_, id));
  } else {
    SetItemText(dialog_, id, text);
  }
}

bool DataExchange::Fail(int id, const std::string& message) {
  ShowMessageBox(dialog_, message, MB_ICONEXCLAMATION);
  const HWND control = GetDlgItem(dialog_, id);
  SetFocus(control);
  SendMessageA(control, EM_SETSEL, 0, -1);
  return false;
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  return platform::Utf8Text(std::wstring_view(text.data(), static_cast<std::size_t>(copied > 0 ? copied : 0)));
}

void SetItemText(HWND dialog, int id, std::string_view text) {
  SetDlgItemTextW(dialog, id, platform::WideText(text).c_str());
}

void AddListEntry(HWND list, std::string_view text) {
  SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(platform::WideText(text).c_str()));
}

std::string ListEntryText(HWND list, int index) {
  const LRESULT length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return "";
  std::vector<wchar_t> text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  return platform::Utf8Text(text.data());
}

void ShowMessageBox(HWND owner, const std::string& text, UINT icon) {
  MessageBoxW(owner, platform::WideText(text).c_str(), platform::WideText(kProgramTitle).c_str(), MB_OK | icon);
}

}  // namespace lintrel::ui::win32

#include "ui/win32/monitor_dialog.h"

#include <string>

#include "common/port_number.h"
#include "platform/win32/wide_text.h"
#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {
namespace {

// Appends to a read-only edit control and shows its end; beyond `limit` characters the
// oldest half goes first.
void Append(HWND edit, const std::wstring& text, int limit) {
  if (GetWindowTextLengthW(edit) + static_cast<int>(text.size()) > limit) {
    SendMessageW(edit, EM_SETSEL, 0, limit / 2);
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L""));
  }
  const int end = GetWindowTextLengthW(edit);
  SendMessageW(edit, EM_SETSEL, end, end);
  SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace

MonitorDialog::MonitorDialog(HINSTANCE instance, MainWindow& window, int port_number)
    : Dialog(instance, IDD_MONITOR), window_(window), port_number_(port_number) {
  OnMessage(kReportsMessage, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    ShowWaitingReports();
    return 0;
  });
  OnCommand(IDC_MONITOR_CLEAR, [this] { SetDlgItemTextW(hwnd(), IDC_MONITOR_TEXT, L""); });
  OnMessage(WM_DESTROY, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    window_.SetLineMonitor(nullptr);
    post_to_->store(nullptr);
    return std::nullopt;
  });
}

MonitorDialog::~MonitorDialog() {
  window_.SetLineMonitor(nullptr);
  post_to_->store(nullptr);
  if (font_ != nullptr) DeleteObject(font_);
}

BOOL MonitorDialog::OnInitDialog() {
  Dialog::OnInitDialog();
  const std::string port = PortName(port_number_);
  SetItemText(hwnd(), IDC_MONITOR_PORT,
              port + ": every chunk received, each line and what it types. Lines are typed as usual.");
  SetWindowTextW(hwnd(), platform::WideText("Monitor " + port).c_str());
  // Hex columns line up in a fixed-width face.
  font_ = CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
  if (font_ != nullptr) SendMessageW(Item(IDC_MONITOR_TEXT), WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
  SendMessageW(Item(IDC_MONITOR_TEXT), EM_SETLIMITTEXT, 0, 0);
  post_to_->store(hwnd());
  feed_ = std::make_shared<MonitorFeed>(port_number_, [post_to = post_to_] {
    if (const HWND window = post_to->load()) PostMessageW(window, kReportsMessage, 0, 0);
  });
  window_.SetLineMonitor(feed_);
  SetFocus(Item(IDCANCEL));
  return FALSE;
}

void MonitorDialog::ShowWaitingReports() {
  if (!feed_) return;
  const std::string text = feed_->TakeText();
  if (!text.empty()) Append(Item(IDC_MONITOR_TEXT), platform::WideText(text), kMaxShown);
}

}  // namespace lintrel::ui::win32

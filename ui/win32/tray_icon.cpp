#include "ui/win32/tray_icon.h"

#include "platform/win32/wide_text.h"

namespace lintrel::ui::win32 {

void TrayIcon::Add(HWND window, UINT callback_message, HICON image) {
  // The first layout of the record: message, icon and a tip of up to 64 characters.
  record_.cbSize = NOTIFYICONDATAW_V1_SIZE;
  record_.hWnd = window;
  record_.uID = kIconId;
  record_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  record_.uCallbackMessage = callback_message;
  record_.hIcon = image;
  lstrcpynW(record_.szTip, L"Lintrel", 64);
  added_ = true;
  Shell_NotifyIconW(NIM_ADD, &record_);
}

void TrayIcon::AddAgain() {
  if (added_) Shell_NotifyIconW(NIM_ADD, &record_);
}

void TrayIcon::SetImage(HICON image) {
  record_.hIcon = image;
  if (added_) Shell_NotifyIconW(NIM_MODIFY, &record_);
}

void TrayIcon::SetTip(const std::string& text) {
  lstrcpynW(record_.szTip, platform::WideText(text).c_str(), std::size(record_.szTip));
  if (added_) Shell_NotifyIconW(NIM_MODIFY, &record_);
}

void TrayIcon::ShowNotice(const std::string& title, const std::string& text) {
  if (!added_) return;
  // The first layout of the record has no balloon: a copy in the second layout carries it.
  NOTIFYICONDATAW notice = record_;
  notice.cbSize = NOTIFYICONDATAW_V2_SIZE;
  notice.uFlags = NIF_INFO;
  lstrcpynW(notice.szInfoTitle, platform::WideText(title).c_str(), std::size(notice.szInfoTitle));
  lstrcpynW(notice.szInfo, platform::WideText(text).c_str(), std::size(notice.szInfo));
  notice.dwInfoFlags = NIIF_WARNING;
  Shell_NotifyIconW(NIM_MODIFY, &notice);
}

void TrayIcon::Remove(HICON small_icon) {
  if (!added_) return;
  record_.uFlags = NIF_MESSAGE | NIF_ICON;
  record_.uCallbackMessage = 0;
  record_.uID = kIconId;
  record_.hIcon = small_icon;
  Shell_NotifyIconW(NIM_DELETE, &record_);
  added_ = false;
}

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace lintrel::ui::win32

#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace lintrel::ui::win32 {

// The notification-area icon of a window: one record, reused for every add, change and
// removal; only its image changes while the program runs. Failures are silent: without a
// notification area the program runs without the icon.
//
// Thread contract: UI thread only.
class TrayIcon {
 public:
  static constexpr UINT kIconId = 1;

  // Shows the icon; `callback_message` arrives at `window` with the mouse message in lParam.
  void Add(HWND window, UINT callback_message, HICON image);
  // Shows the icon again after the notification area was re-created (Explorer restarted).
  void AddAgain();
  void SetImage(HICON image);
  // The tip shown with the pointer over the icon, cut to what the record holds (63 characters).
  void SetTip(const std::string& text);
  // A balloon notice beside the icon (a warning); the text is cut to what the notification
  // area takes (63 characters of title, 255 of text).
  void ShowNotice(const std::string& title, const std::string& text);
  void Remove(HICON small_icon);

 private:
  NOTIFYICONDATAW record_{};
  bool added_ = false;
};

// The registered message that Explorer broadcasts when the taskbar is (re-)created.
UINT TaskbarCreatedMessage();

}  // namespace lintrel::ui::win32

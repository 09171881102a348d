#pragma once

#include <memory>
#include <optional>
#include <string>

#include "discovery/port_list.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/system_settings.h"
#include "settings/line_settings.h"
#include "ui/main_window.h"
#include "ui/win32/dialog.h"
#include "ui/win32/tray_icon.h"

namespace lintrel::ui::win32 {

// The main window: port and line settings, Connect, Options and About, hidden to the
// notification area instead of minimized. Closing it with its close box saves the line
// settings; every way out stops the readers before the ports are released.
//
// Thread contract: UI thread only; the readers it starts never touch a window.
class MainDialog : public Dialog, private MainWindowView {
 public:
  // `tray_message`: the registered message the tray icon calls back with.
  MainDialog(HINSTANCE instance, platform::UserSettings settings, UINT tray_message,
             platform::SerialDriver& driver, platform::Keyboard& keyboard);
  ~MainDialog() override;

 private:
  static constexpr UINT_PTR kSupervisionTimer = 100;
  static constexpr UINT kSupervisionInterval = 1000;
  // Fires at the next deadline between ticks: the end of the icon flash, a reconnection.
  static constexpr UINT_PTR kDeadlineTimer = 101;

  // Dialog.
  void FillInitialLists() override;
  bool Exchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;

  // MainWindowView.
  std::string SelectedPortText() override;
  LineSettings ReadLineControls() override;
  void SetConnectCaption(std::string_view caption) override;
  void EnableLineControls() override;
  void ShowMessage(std::string_view text) override;
  void SetTrayImage(TrayImage image) override;

  void AddAboutToSystemMenu();
  void FillPortList();
  void OnClose();
  void OnTimer(UINT_PTR timer);
  void ScheduleDeadline();
  std::optional<LRESULT> OnSysCommand(WPARAM command);
  std::optional<LRESULT> OnPaint();
  LRESULT OnTrayCallback(LPARAM mouse_message);
  void ShowTrayMenu();
  void ShowAbout();
  void OpenOptions();

  platform::UserSettings settings_;
  UINT tray_message_;
  // The Port list as it was filled at start; it names the device behind each port.
  PortList ports_;
  LineSettings line_;
  MainWindow window_;
  TrayIcon tray_;
  HICON large_icon_;
  HICON icon_normal_ = nullptr;
  HICON icon_activity_ = nullptr;
  HICON icon_paused_ = nullptr;
};

}  // namespace lintrel::ui::win32

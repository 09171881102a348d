#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "discovery/device_identity.h"
#include "discovery/port_list.h"
#include "platform/foreground_window.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/system_settings.h"
#include "settings/connection_memory.h"
#include "settings/line_settings.h"
#include "ui/main_window.h"
#include "ui/win32/administrator_note.h"
#include "ui/win32/dialog.h"
#include "ui/win32/tray_icon.h"

namespace lintrel::ui::win32 {

// The main window: port and line settings, Connect, Options and About, hidden to the
// notification area instead of minimized. Closing it with its close box saves the line
// settings; every way out stops the readers before the ports are released. Lines are never
// typed into a window of this program: while one has the foreground they are dropped, and
// the tray icon says so. The connected ports are remembered and connected again at the next
// start; ports follow their devices, and are re-opened as soon as a device arrives or the
// computer wakes up.
//
// Thread contract: UI thread only; the readers it starts never touch a window, they post.
class MainDialog : public Dialog, private MainWindowView {
 public:
  // `tray_message`: the registered message the tray icon calls back with. `start_hidden`:
  // the window stays hidden (the icon only) until the user brings it up.
  MainDialog(HINSTANCE instance, platform::ProgramSettings settings, UINT tray_message,
             platform::SerialDriver& driver, std::shared_ptr<platform::Keyboard> keyboard,
             bool start_hidden = false);
  ~MainDialog() override;

  // The main window of a running Lintrel in this session, or null.
  static HWND FindRunning();
  // The registered message that asks a running Lintrel to show its window.
  static UINT ShowWindowMessage();
  // The registered message "Lintrel.Exit" that asks a running Lintrel to end as the tray
  // menu's Exit does (the installer and uninstaller broadcast it before they replace or
  // remove its files).
  static UINT ExitMessage();

 private:
  static constexpr UINT_PTR kSupervisionTimer = 100;
  static constexpr UINT kSupervisionInterval = 1000;
  // Fires at the next deadline between ticks: the end of the icon flash, a reconnection.
  static constexpr UINT_PTR kDeadlineTimer = 101;
  // Posted by the typing thread when it dropped a line.
  static constexpr UINT kDroppedLinesMessage = WM_APP + 1;
  // Posted by the typing thread to bring a port's target up (its handle in wParam).
  static constexpr UINT kActivateTargetMessage = WM_APP + 2;
  // Posted when the Port list's "Network port..." entry was picked: the dialog opens once the
  // list has closed and its notification has returned.
  static constexpr UINT kAddNetworkPortMessage = WM_APP + 3;

  // Dialog.
  void FillInitialLists() override;
  bool Exchange(DataExchange& exchange) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

  // MainWindowView.
  std::string SelectedPortText() override;
  LineSettings ReadLineControls() override;
  void ShowLineControls(const LineSettings& line) override;
  void SetConnectCaption(std::string_view caption) override;
  void SetPauseCaption(std::string_view caption) override;
  void EnablePause(bool enabled) override;
  void EnableLineSettings(bool enabled) override;
  void SetStatusText(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void ShowNotice(std::string_view title, std::string_view text) override;
  void SetTrayImage(TrayImage image) override;
  void SetTrayTip(std::string_view text) override;
  void RefreshPortList(const std::vector<int>& active_ports) override;

  void AddAboutToSystemMenu();
  void FillPortList();
  // Shows `ports` in the Port list and selects the entry named `selected` (none: nothing).
  void ShowPortList(const PortList& ports, std::optional<std::size_t> selected);
  // Connects the ports remembered from the last run, unless the user turned that off.
  void ReconnectRemembered();
  void RegisterForDeviceNotices();
  std::optional<LRESULT> OnDeviceChange(WPARAM event, LPARAM data);
  // Keeps a window that starts hidden from being shown by the dialog's start.
  std::optional<LRESULT> OnWindowPosChanging(WINDOWPOS& position);
  void OnClose();
  // Ends the program at once, without saving: every port released first, then any dialog
  // or message box of this program that is open, then the main window.
  void Exit();
  void OnTimer(UINT_PTR timer);
  void ScheduleDeadline();
  std::optional<LRESULT> OnSysCommand(WPARAM command);
  std::optional<LRESULT> OnPaint();
  LRESULT OnTrayCallback(LPARAM mouse_message);
  void ShowTrayMenu();
  // A click on the notice that lines wait: the window they wait for comes to the front (the
  // click lets this program give it the foreground).
  void BringWaitingTargetUp();
  void RunTrayCommand(UINT command);
  // Shows the window in front of the others, also when it is covered rather than hidden;
  // with a dialog or message box of it open, that comes to the front.
  void BringUp();
  // The window of this program that belongs in front: the open dialog or message box, else
  // the main window.
  HWND FrontWindow() const;
  // Puts the focus on a button the way the Tab key does, so that Enter presses it.
  void FocusButton(int id);
  void ShowAbout();
  void OpenOptions();
  // The Monitor window for the selected port, until the user closes it.
  void OpenMonitor();
  void ApplyStartupOptions(const StartupOptions& startup, bool start_with_windows);
  // Disables the line-setting lists a policy sets for the selected port, and the others
  // while a connection holds them.
  void ShowLineLocks();
  // Takes the ports' hotkeys from the system, again after a change: each one it refuses is
  // told once a run (a message box when the user just set it, else a notice).
  void RegisterHotkeys(bool user_just_set);
  void UnregisterHotkeys();
  // The Port list's "Network port..." entry: asks for the port, stores it and selects it.
  void AddNetworkPort();

  platform::ProgramSettings settings_;
  UINT tray_message_;
  // The Port list as it was filled at start; it names the device behind each port.
  PortList ports_;
  LineSettings line_;
  // Where the typing thread posts; null before the window exists and after it is gone.
  std::atomic<HWND> notice_window_{nullptr};
  std::unique_ptr<DeviceIdentities> identities_;
  StartupOptions startup_;
  bool start_hidden_;
  HDEVNOTIFY device_notices_ = nullptr;
  // The desktop's windows as the main window's thread reads them (the typing thread has its
  // own).
  std::unique_ptr<platform::ForegroundWindows> windows_;
  MainWindow window_;
  TrayIcon tray_;
  HICON large_icon_;
  HICON icon_normal_ = nullptr;
  HICON icon_activity_ = nullptr;
  HICON icon_paused_ = nullptr;
  bool line_settings_enabled_ = true;
  AdministratorNote line_note_;
  // The hotkeys the system gave this window, by port number (which is also their id).
  std::map<int, Hotkey> hotkeys_;
  // The hotkeys refused and told so: port number and hotkey text.
  std::set<std::pair<int, std::string>> hotkeys_refused_;
  // The entry of the Port list selected before "Network port..." was.
  std::optional<std::size_t> port_selected_;
};

}  // namespace lintrel::ui::win32

#include "ui/win32/main_dialog.h"

#include <dbt.h>
#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "discovery/system_ports.h"
#include "platform/clipboard.h"
#include "platform/text_code_page.h"
#include "platform/win32/system_error_text.h"
#include "platform/win32/wide_text.h"
#include "settings/line_settings_store.h"
#include "settings/settings_file.h"
#include "ui/policy_locks.h"
#include "ui/dialog_lists.h"
#include "ui/win32/about_dialog.h"
#include "ui/win32/foreground.h"
#include "ui/win32/login_start.h"
#include "ui/win32/monitor_dialog.h"
#include "ui/win32/network_port_dialog.h"
#include "ui/win32/options_dialog.h"
#include "ui/win32/resource.h"
#include "ui/win32/target_windows.h"

namespace lintrel::ui::win32 {

namespace {

// The desktop's windows (on Windows they can always be read).
std::unique_ptr<platform::ForegroundWindows> SystemWindows() {
  std::string error;
  return platform::OpenForegroundWindows(&error);
}

HICON LoadIconImage(HINSTANCE instance, int id) {
  return static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
}

// Replaces the menu item at `position` by a text item with the same command.
void RenameMenuItem(HMENU menu, int position, std::string_view text) {
  const UINT command = GetMenuItemID(menu, position);
  DeleteMenu(menu, static_cast<UINT>(position), MF_BYPOSITION);
  InsertMenuW(menu, static_cast<UINT>(position), MF_BYPOSITION | MF_STRING, command,
              platform::WideText(text).c_str());
}

// A button's caption with its underlined letter: the first `letter` (in either case) of the
// caption, as "Dis&connect" and "&Connect" share the letter C.
std::string WithMnemonic(std::string_view caption, char letter) {
  const auto is_letter = [letter](char c) { return c == letter || c == letter - 'a' + 'A'; };
  std::string text;
  bool marked = false;
  for (char c : caption) {
    if (!marked && is_letter(c)) {
      text.push_back('&');
      marked = true;
    }
    text.push_back(c);
  }
  return text;
}

// Every dialog and message box of this thread that is shown, the one in front first.
BOOL CALLBACK CollectOpenDialog(HWND window, LPARAM list_pointer) {
  auto* list = reinterpret_cast<std::vector<HWND>*>(list_pointer);
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (std::strcmp(class_name, "#32770") == 0 && IsWindowVisible(window)) list->push_back(window);
  return TRUE;
}

// The main window is the dialog captioned "Lintrel" that has the Port list (a message box
// is captioned the same).
BOOL CALLBACK FindMainWindow(HWND window, LPARAM found_pointer) {
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (std::strcmp(class_name, "#32770") != 0 || GetDlgItem(window, IDC_PORT) == nullptr) return TRUE;
  if (WindowText(window) != kProgramTitle) return TRUE;
  *reinterpret_cast<HWND*>(found_pointer) = window;
  return FALSE;
}

// The device notices' constants as the portable rule knows them.
static_assert(kDeviceArrivalEvent == DBT_DEVICEARRIVAL && kDeviceRemoveCompleteEvent == DBT_DEVICEREMOVECOMPLETE &&
              kDevNodesChangedEvent == DBT_DEVNODES_CHANGED && kPortDeviceType == DBT_DEVTYP_PORT &&
              kDeviceInterfaceType == DBT_DEVTYP_DEVICEINTERFACE && kResumeSuspendEvent == PBT_APMRESUMESUSPEND &&
              kResumeAutomaticEvent == PBT_APMRESUMEAUTOMATIC);
// A hotkey's modifiers as the system numbers them.
static_assert(Hotkey::kAlt == MOD_ALT && Hotkey::kCtrl == MOD_CONTROL && Hotkey::kShift == MOD_SHIFT &&
              Hotkey::kWin == MOD_WIN);

}  // namespace

HWND MainDialog::FindRunning() {
  HWND found = nullptr;
  EnumWindows(FindMainWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

UINT MainDialog::ShowWindowMessage() {
  static const UINT message = RegisterWindowMessageW(L"Lintrel.ShowWindow");
  return message;
}

UINT MainDialog::ExitMessage() {
  static const UINT message = RegisterWindowMessageW(L"Lintrel.Exit");
  return message;
}

MainDialog::MainDialog(HINSTANCE instance, platform::ProgramSettings settings, UINT tray_message,
                       platform::SerialDriver& driver, std::shared_ptr<platform::Keyboard> keyboard,
                       bool start_hidden)
    : Dialog(instance, IDD_MAIN),
      settings_(std::move(settings)),
      tray_message_(tray_message),
      identities_(MakeSystemDeviceIdentities()),
      start_hidden_(start_hidden),
      windows_(SystemWindows()),
      window_(*this, driver, std::move(keyboard),
              // As lintrel-cli resolves a port: the Port list's device (a network port's address)
              // through the same pins.
              [this](int port_number) { return ResolveDevicePath(ports_, port_number, settings_.device_pins); },
              {.foreground_is_ours = ForegroundIsThisProcess,
               .foreground_window = [] { return reinterpret_cast<std::uintptr_t>(GetForegroundWindow()); },
               .wake_ui =
                   [this] {
                     const HWND window = notice_window_.load();
                     if (window != nullptr) PostMessageA(window, kDroppedLinesMessage, 0, 0);
                   }},
              identities_.get()),
      large_icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDI_NORMAL))) {
  line_.baud_index = line_.parity_index = line_.data_bit_index = line_.stop_bit_index = -1;
  line_.port_name.clear();
  window_.capture_options().SetAnsiCodePage(platform::SystemCodePage());
  std::string clipboard_error;
  window_.UseDelivery(std::make_unique<TargetWindows>(SystemWindows(), notice_window_, kActivateTargetMessage),
                      platform::OpenSystemClipboard(&clipboard_error));

  OnMessage(WM_CLOSE, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    OnClose();
    return 0;
  });
  OnMessage(WM_TIMER, [this](WPARAM timer, LPARAM) -> std::optional<LRESULT> {
    OnTimer(timer);
    return 0;
  });
  OnMessage(WM_SYSCOMMAND, [this](WPARAM command, LPARAM) { return OnSysCommand(command); });
  OnMessage(WM_PAINT, [this](WPARAM, LPARAM) { return OnPaint(); });
  OnMessage(WM_QUERYDRAGICON, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    return reinterpret_cast<LRESULT>(large_icon_);
  });
  OnMessage(tray_message_, [this](WPARAM, LPARAM mouse) -> std::optional<LRESULT> { return OnTrayCallback(mouse); });
  OnMessage(TaskbarCreatedMessage(), [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    tray_.AddAgain();
    return 0;
  });
  OnMessage(WM_DEVICECHANGE, [this](WPARAM event, LPARAM data) { return OnDeviceChange(event, data); });
  OnMessage(WM_POWERBROADCAST, [this](WPARAM event, LPARAM) -> std::optional<LRESULT> {
    if (IsResume(static_cast<uint32_t>(event))) {
      window_.Resumed(MainWindow::Clock::now());
      ScheduleDeadline();
    }
    return TRUE;
  });
  OnMessage(WM_WINDOWPOSCHANGING, [this](WPARAM, LPARAM position) {
    return OnWindowPosChanging(*reinterpret_cast<WINDOWPOS*>(position));
  });
  OnMessage(kAddNetworkPortMessage, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    AddNetworkPort();
    return 0;
  });
  OnMessage(WM_HOTKEY, [this](WPARAM id, LPARAM) -> std::optional<LRESULT> {
    window_.SendNowTo(static_cast<int>(id), MainWindow::Clock::now());
    ScheduleDeadline();
    return 0;
  });
  OnMessage(WM_DESTROY, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    UnregisterHotkeys();
    notice_window_.store(nullptr);
    if (device_notices_ != nullptr) UnregisterDeviceNotification(device_notices_);
    device_notices_ = nullptr;
    tray_.Remove(reinterpret_cast<HICON>(SendMessageA(hwnd(), WM_GETICON, ICON_SMALL, 0)));
    return std::nullopt;
  });
  OnMessage(kDroppedLinesMessage, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    window_.ShowDroppedLines(MainWindow::Clock::now());
    return 0;
  });
  OnMessage(kActivateTargetMessage, [this](WPARAM target, LPARAM) -> std::optional<LRESULT> {
    std::string error;  // refused: the lines wait on, and their notice says so already
    windows_->Activate(static_cast<uint64_t>(target), &error);
    return 0;
  });
  OnMessage(ShowWindowMessage(), [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    BringUp();
    return 0;
  });
  OnMessage(ExitMessage(), [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    Exit();
    return 0;
  });

  // A click leaves the focus on the button without making it the default one, and Enter
  // would then be the dialog's OK; given the focus the way Tab gives it, Enter presses it.
  OnCommand(IDC_CONNECT, [this] {
    window_.TogglePortConnection();
    FocusButton(IDC_CONNECT);
  });
  OnCommand(IDC_PAUSE, [this] {
    window_.TogglePause();
    FocusButton(IDC_PAUSE);
  });
  OnCommand(IDC_OPTIONS, [this] {
    OpenOptions();
    FocusButton(IDC_OPTIONS);
  });
  OnCommand(IDC_MONITOR, [this] {
    OpenMonitor();
    FocusButton(IDC_MONITOR);
  });
  OnCommand(IDC_ABOUT, [this] {
    ShowAbout();
    FocusButton(IDC_ABOUT);
  });
  // The tray menu's commands, also when they come as WM_COMMAND.
  OnCommand(ID_STATUS_CONNECT, [this] { RunTrayCommand(ID_STATUS_CONNECT); });
  OnCommand(ID_STATUS_PAUSE, [this] { RunTrayCommand(ID_STATUS_PAUSE); });
  OnCommand(ID_STATUS_SEND_NOW, [this] { RunTrayCommand(ID_STATUS_SEND_NOW); });
  OnCommand(ID_STATUS_ABOUT, [this] { RunTrayCommand(ID_STATUS_ABOUT); });
  OnNotification(IDC_PORT, CBN_SELENDOK, [this] {
    const LRESULT selected = SendMessageW(Item(IDC_PORT), CB_GETCURSEL, 0, 0);
    if (selected != CB_ERR && static_cast<std::size_t>(selected) == ports_.size()) {
      PostMessageW(hwnd(), kAddNetworkPortMessage, 0, 0);
      return;
    }
    if (selected != CB_ERR) port_selected_ = static_cast<std::size_t>(selected);
    window_.SelectPortFromCombo(SelectedPortText());
    ShowLineLocks();
  });
}

MainDialog::~MainDialog() {
  // Whichever way the dialog ended, no reader outlives it: destroying window_ releases every
  // port after this.
  for (HICON icon : {icon_normal_, icon_activity_, icon_paused_}) {
    if (icon != nullptr) DestroyIcon(icon);
  }
}

void MainDialog::FillInitialLists() {
  AddListEntries(Item(IDC_BAUD_RATE), kBaudRateTexts);
  AddListEntries(Item(IDC_PARITY), kParityTexts);
  AddListEntries(Item(IDC_DATA_BIT), kDataBitTexts);
  AddListEntries(Item(IDC_STOP_BIT), kStopBitTexts);
}

bool MainDialog::Exchange(DataExchange& exchange) {
  exchange.ListIndex(IDC_BAUD_RATE, line_.baud_index);
  exchange.ListIndex(IDC_PARITY, line_.parity_index);
  exchange.ListIndex(IDC_DATA_BIT, line_.data_bit_index);
  exchange.ListIndex(IDC_STOP_BIT, line_.stop_bit_index);
  return true;
}

BOOL MainDialog::OnInitDialog() {
  notice_window_.store(hwnd());
  line_ = LoadLineSettings(*settings_.store);
  Dialog::OnInitDialog();
  AddAboutToSystemMenu();
  SendMessageA(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(large_icon_));
  SendMessageA(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(large_icon_));
  icon_normal_ = LoadIconImage(instance(), IDI_NORMAL);
  icon_activity_ = LoadIconImage(instance(), IDI_ACTIVITY);
  icon_paused_ = LoadIconImage(instance(), IDI_PAUSED);
  tray_.Add(hwnd(), tray_message_, icon_normal_);
  FillPortList();
  ReconnectRemembered();
  ShowLineLocks();
  window_.ShowPortStatus();
  RegisterForDeviceNotices();
  RegisterHotkeys(/*user_just_set=*/false);
  SetTimer(hwnd(), kSupervisionTimer, kSupervisionInterval, nullptr);
  return TRUE;
}

void MainDialog::OnOK() {
  // Enter in a list. It ends the program as OK would, but not while a port is connected or
  // waiting for its device: a stray key must not stop the capture without a word.
  if (window_.HasActivePorts()) return;
  Exit();
}

void MainDialog::OnCancel() {
  // Escape: while ports are connected the window steps aside as minimizing does.
  if (window_.HasActivePorts()) {
    ShowWindow(hwnd(), SW_HIDE);
    return;
  }
  window_.ReleaseAllPorts();
  EndDialog(IDCANCEL);
}

void MainDialog::AddAboutToSystemMenu() {
  const HMENU system_menu = GetSystemMenu(hwnd(), FALSE);
  if (system_menu == nullptr) return;
  wchar_t text[256] = {};
  if (LoadStringW(instance(), IDS_ABOUTBOX, text, static_cast<int>(std::size(text))) <= 0) return;
  AppendMenuW(system_menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(system_menu, MF_STRING, IDM_ABOUTBOX, text);
}

void MainDialog::FillPortList() {
  ports_ = ListSystemPorts(settings_.device_pins);
  // The saved port itself, else the Port list's prefix rule.
  ShowPortList(ports_, ports_.FindSaved(line_.port_name));
}

void MainDialog::RefreshPortList(const std::vector<int>& active_ports) {
  const std::string selected = SelectedPortText();
  ports_ = WithActivePorts(ListSystemPorts(settings_.device_pins), active_ports);
  std::optional<std::size_t> index;
  for (std::size_t i = 0; i < ports_.size() && !selected.empty(); ++i) {
    if (ports_.entries()[i].name == selected) index = i;
  }
  ShowPortList(ports_, index);
}

void MainDialog::ShowPortList(const PortList& ports, std::optional<std::size_t> selected) {
  // The list keeps the order it is given, PortList's (by port number).
  const HWND list = Item(IDC_PORT);
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  for (const PortEntry& entry : ports.entries()) AddListEntry(list, PortListText(entry));
  AddListEntry(list, kNetworkPortEntry);
  SendMessageW(list, CB_SETCURSEL, selected ? static_cast<WPARAM>(*selected) : static_cast<WPARAM>(-1), 0);
  port_selected_ = selected;
  // The open list is wide enough for a network port's address.
  SendMessageW(list, CB_SETDROPPEDWIDTH, 240, 0);
}

void MainDialog::ReconnectRemembered() {
  startup_ = LoadStartupOptions(*settings_.store);
  window_.SetFollowDevices(startup_.follow_devices);
  // Before the reconnections: each port opens with its own rules.
  window_.UseProfilesIn(settings_.store.get());
  // Ports a policy sets are connected at every start, and what the user connects or
  // disconnects is not remembered over them.
  const bool ports_fixed = ConnectedPortsLocked(*settings_.store);
  if (startup_.reconnect_at_start || ports_fixed) window_.Reconnect(LoadRememberedPorts(*settings_.store));
  if (!ports_fixed) window_.RememberConnectionsIn(settings_.store.get());
}

void MainDialog::RegisterForDeviceNotices() {
  // Every top-level window hears of ports coming and going by the system's broadcast; the
  // COM port interface's notices also come for drivers that the broadcast leaves out.
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = GUID_DEVINTERFACE_COMPORT;
  device_notices_ = RegisterDeviceNotificationA(hwnd(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

std::optional<LRESULT> MainDialog::OnDeviceChange(WPARAM event, LPARAM data) {
  std::optional<uint32_t> device_type;
  if ((event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE) && data != 0) {
    device_type = reinterpret_cast<const DEV_BROADCAST_HDR*>(data)->dbch_devicetype;
  }
  window_.OnDeviceChange(ClassifyDeviceChange(static_cast<uint32_t>(event), device_type));
  ScheduleDeadline();
  return TRUE;
}

std::optional<LRESULT> MainDialog::OnWindowPosChanging(WINDOWPOS& position) {
  // The dialog shows itself once it has started, whatever its template says: a start
  // hidden takes the showing (and the activation) out of that move.
  if (start_hidden_) position.flags = (position.flags & ~SWP_SHOWWINDOW) | SWP_NOACTIVATE;
  return std::nullopt;
}

std::string MainDialog::SelectedPortText() {
  // The port's name, without the address a network port shows after it.
  const LRESULT selected = SendMessageW(Item(IDC_PORT), CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR || static_cast<std::size_t>(selected) >= ports_.size()) return "";
  return ports_.entries()[static_cast<std::size_t>(selected)].name;
}

LineSettings MainDialog::ReadLineControls() {
  UpdateData(true);
  return line_;
}

void MainDialog::ShowLineControls(const LineSettings& line) {
  line_ = line;
  UpdateData(false);
}

void MainDialog::SetConnectCaption(std::string_view caption) {
  SetItemText(hwnd(), IDC_CONNECT, WithMnemonic(caption, 'c'));
}

void MainDialog::SetPauseCaption(std::string_view caption) {
  SetItemText(hwnd(), IDC_PAUSE, WithMnemonic(caption, 'u'));
}

void MainDialog::EnablePause(bool enabled) { EnableWindow(Item(IDC_PAUSE), enabled ? TRUE : FALSE); }

void MainDialog::EnableLineSettings(bool enabled) {
  line_settings_enabled_ = enabled;
  ShowLineLocks();
}

void MainDialog::ShowLineLocks() {
  const LineLocks locks = LineLocksFor(*settings_.store, window_.MonitoredPort());
  std::vector<int> locked;
  for (const auto& [is_locked, id] : {std::pair{locks.baud, IDC_BAUD_RATE}, std::pair{locks.parity, IDC_PARITY},
                                      std::pair{locks.data_bit, IDC_DATA_BIT}, std::pair{locks.stop_bit, IDC_STOP_BIT}}) {
    EnableWindow(Item(id), line_settings_enabled_ && !is_locked ? TRUE : FALSE);
    if (is_locked) locked.push_back(id);
  }
  line_note_.Show(hwnd(), locked);
}

void MainDialog::SetStatusText(std::string_view text) { SetItemText(hwnd(), IDC_STATUS, text); }

void MainDialog::ShowMessage(std::string_view text) { ShowMessageBox(hwnd(), std::string(text), 0); }

void MainDialog::ShowNotice(std::string_view title, std::string_view text) {
  tray_.ShowNotice(std::string(title), std::string(text));
}

void MainDialog::SetTrayImage(TrayImage image) {
  switch (image) {
    case TrayImage::kNormal:
      tray_.SetImage(icon_normal_);
      break;
    case TrayImage::kActivity:
      tray_.SetImage(icon_activity_);
      break;
    case TrayImage::kPaused:
      tray_.SetImage(icon_paused_);
      break;
  }
}

void MainDialog::SetTrayTip(std::string_view text) { tray_.SetTip(std::string(text)); }

void MainDialog::OnClose() {
  std::string error;
  // The port a policy selects at start is selected at every start: the one selected now is
  // not stored over it.
  if (!window_.SaveSettings(*settings_.store, &error, !settings_.store->SetByPolicy(kPortEntry))) {
    ShowMessageBox(hwnd(), "The settings could not be saved: " + error, MB_ICONEXCLAMATION);
  }
  window_.ReleaseAllPorts();
  EndDialog(IDCANCEL);
}

void MainDialog::Exit() {
  window_.ReleaseAllPorts();
  // A dialog of this program may be open (the tray menu works beside it): it is closed as
  // Cancel would close it, so that its modal loop ends and with it the program.
  std::vector<HWND> open;
  EnumThreadWindows(GetCurrentThreadId(), CollectOpenDialog, reinterpret_cast<LPARAM>(&open));
  for (HWND dialog : open) {
    if (dialog != hwnd()) SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  }
  EndDialog(IDOK);
}

void MainDialog::OnTimer(UINT_PTR timer) {
  const auto now = MainWindow::Clock::now();
  if (timer == kSupervisionTimer) {
    window_.Tick(now);
  } else if (timer == kDeadlineTimer) {
    KillTimer(hwnd(), kDeadlineTimer);
    window_.RunDue(now);
  }
  ScheduleDeadline();
}

void MainDialog::ScheduleDeadline() {
  const std::optional<MainWindow::Clock::time_point> due = window_.NextDue();
  if (!due) {
    KillTimer(hwnd(), kDeadlineTimer);
    return;
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*due - MainWindow::Clock::now());
  SetTimer(hwnd(), kDeadlineTimer, static_cast<UINT>(std::max<long long>(wait.count(), USER_TIMER_MINIMUM)),
           nullptr);
}

std::optional<LRESULT> MainDialog::OnSysCommand(WPARAM command) {
  // The low four bits of a system command are the system's own.
  const WPARAM id = command & 0xFFF0;
  if (id == SC_MINIMIZE) {
    // Hidden to the notification area instead; a click on the icon brings it back.
    ShowWindow(hwnd(), SW_HIDE);
    return 0;
  }
  if (id == IDM_ABOUTBOX) {
    ShowAbout();
    return 0;
  }
  return std::nullopt;
}

std::optional<LRESULT> MainDialog::OnPaint() {
  if (!IsIconic(hwnd())) return std::nullopt;
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(hwnd(), &paint);
  SendMessageA(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, large_icon_);
  EndPaint(hwnd(), &paint);
  return 0;
}

LRESULT MainDialog::OnTrayCallback(LPARAM mouse_message) {
  if (mouse_message == WM_LBUTTONUP) {
    BringUp();
  } else if (mouse_message == WM_RBUTTONUP) {
    ShowTrayMenu();
  } else if (mouse_message == NIN_BALLOONUSERCLICK) {
    BringWaitingTargetUp();
  }
  return 1;
}

void MainDialog::ShowTrayMenu() {
  const HMENU loaded = LoadMenuA(instance(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
  if (loaded == nullptr) return;
  const HMENU menu = GetSubMenu(loaded, 0);
  POINT cursor{};
  GetCursorPos(&cursor);
  const TrayMenuTexts texts = window_.MenuTexts();
  RenameMenuItem(menu, 0, texts.connect);
  RenameMenuItem(menu, 1, texts.pause);
  // While a dialog of this program is open (its owner, this window, is then disabled), only
  // Exit is offered: a port connected meanwhile would escape the dialog's checks.
  if (!IsWindowEnabled(hwnd())) {
    for (UINT command : {ID_STATUS_CONNECT, ID_STATUS_PAUSE, ID_STATUS_SEND_NOW, ID_STATUS_ABOUT}) {
      EnableMenuItem(menu, command, MF_BYCOMMAND | MF_GRAYED);
    }
  }
  // Without the foreground the menu would not close when the user clicks elsewhere. The
  // window that had it gets it back afterwards: typed lines belong there, not here. An open
  // dialog or message box takes it rather than its disabled owner, which would otherwise be
  // raised over it (Wine does so) and leave the program looking frozen.
  const HWND before = GetForegroundWindow();
  const HWND front = FrontWindow();
  SetForegroundWindow(front);
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY, cursor.x, cursor.y, 0, front, nullptr));
  PostMessageW(front, WM_NULL, 0, 0);
  DestroyMenu(loaded);
  RunTrayCommand(command);
  // Unless the click that closed the menu went to another window, which then has it.
  if (ForegroundIsThisProcess()) GiveForegroundBack(before);
}

void MainDialog::BringWaitingTargetUp() {
  for (const auto& [port_number, target_text] : window_.waiting()) {
    const std::optional<DeliveryTarget> target = ParseDeliveryTarget(target_text);
    if (!target) continue;
    for (const platform::WindowInfo& window : windows_->Windows()) {
      if (!MatchesTarget(*target, window)) continue;
      std::string error;
      windows_->Activate(window.id, &error);
      return;
    }
  }
}

void MainDialog::RunTrayCommand(UINT command) {
  switch (command) {
    case ID_STATUS_CONNECT:
      window_.TogglePortConnection();
      break;
    case ID_STATUS_PAUSE:
      window_.TogglePause();
      break;
    case ID_STATUS_SEND_NOW:
      // The current port's poll; its reply timeout becomes a deadline.
      window_.SendNow(MainWindow::Clock::now());
      ScheduleDeadline();
      break;
    case ID_STATUS_ABOUT:
      ShowAbout();
      break;
    case IDOK:  // Exit
      Exit();
      break;
    default:  // the menu was closed without a choice
      break;
  }
}

void MainDialog::BringUp() {
  start_hidden_ = false;
  ShowWindow(hwnd(), IsIconic(hwnd()) ? SW_RESTORE : SW_SHOW);
  SetForegroundWindow(FrontWindow());
}

HWND MainDialog::FrontWindow() const {
  // A modal dialog or message box disables its owner; the last one opened is in front.
  if (IsWindowEnabled(hwnd())) return hwnd();
  const HWND popup = GetLastActivePopup(hwnd());
  return popup != nullptr && IsWindowVisible(popup) ? popup : hwnd();
}

void MainDialog::FocusButton(int id) {
  if (IsWindowVisible(hwnd()) && IsWindowEnabled(Item(id))) {
    SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
  }
}

void MainDialog::ShowAbout() {
  AboutDialog about(instance());
  about.RunModal(hwnd());
}

void MainDialog::OpenMonitor() {
  const int port_number = window_.MonitoredPort();
  if (!IsPortNumber(port_number)) {
    ShowMessageBox(hwnd(), std::string(kMonitorNoPortMessage), MB_ICONINFORMATION);
    return;
  }
  MonitorDialog monitor(instance(), window_, port_number);
  monitor.RunModal(hwnd());
}

void MainDialog::OpenOptions() {
  StartupOptions startup = startup_;
  bool start_with_windows = StartsAtLogin();
  PortOptions port_options = window_.OptionsForDialog();
  OptionsDialog options(instance(), port_options, port_options.pacing, window_.EndCharacterEditable(), startup,
                        start_with_windows);
  options.SetLocks(OptionsLocksFor(*settings_.store, port_options.port_number));
  std::map<int, Hotkey> other_hotkeys = window_.PortHotkeys();
  other_hotkeys.erase(port_options.port_number);
  options.SetOtherHotkeys(std::move(other_hotkeys));
  if (options.RunModal(hwnd()) != IDOK) return;
  std::string error;
  if (!window_.ApplyOptions(port_options, &error)) {
    ShowMessageBox(hwnd(), std::string(kActionFailedMessage) + error, MB_ICONEXCLAMATION);
  }
  RegisterHotkeys(/*user_just_set=*/true);
  ApplyStartupOptions(startup, start_with_windows);
}

void MainDialog::RegisterHotkeys(bool user_just_set) {
  const std::map<int, Hotkey> wanted = window_.PortHotkeys();
  if (wanted == hotkeys_) return;
  UnregisterHotkeys();
  for (const auto& [port_number, hotkey] : wanted) {
    // The port number is the hotkey's id (0 to 256, within the ids a program may use).
    if (RegisterHotKey(hwnd(), port_number, hotkey.modifiers | MOD_NOREPEAT, static_cast<UINT>(hotkey.key))) {
      hotkeys_[port_number] = hotkey;
      continue;
    }
    const DWORD failure = GetLastError();
    if (!hotkeys_refused_.insert({port_number, hotkey.Text()}).second) continue;
    const std::string reason = failure == ERROR_HOTKEY_ALREADY_REGISTERED
                                   ? "another program has it"
                                   : "the system refused it (" + platform::SystemErrorText(failure) + ")";
    const std::string text = HotkeyRefusedText(port_number, hotkey.Text(), reason);
    if (user_just_set) {
      ShowMessageBox(hwnd(), text, MB_ICONEXCLAMATION);
    } else {
      ShowNotice(kHotkeyRefusedTitle, text);
    }
  }
}

void MainDialog::UnregisterHotkeys() {
  for (const auto& [port_number, hotkey] : hotkeys_) UnregisterHotKey(hwnd(), port_number);
  hotkeys_.clear();
}

void MainDialog::AddNetworkPort() {
  // The list shows the port it showed until the new one is there.
  SendMessageW(Item(IDC_PORT), CB_SETCURSEL, port_selected_ ? static_cast<WPARAM>(*port_selected_) : static_cast<WPARAM>(-1),
               0);
  NetworkPort port;
  NetworkPortDialog dialog(instance(), MachinePortNumbers(ports_), port);
  if (dialog.RunModal(hwnd()) != IDOK) return;
  // Where lintrel-cli keeps the device a port name stands for (--port COMn=ADDRESS --save).
  settings_.store->WriteString(DevicePinEntry(port.port_number), port.address);
  std::string error;
  if (!settings_.store->Flush(&error)) {
    ShowMessageBox(hwnd(), std::string(kActionFailedMessage) + error, MB_ICONEXCLAMATION);
  }
  settings_.device_pins[port.port_number] = port.address;
  RefreshPortList(window_.ActivePorts());
  const std::string name = PortName(port.port_number);
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    if (ports_.entries()[i].name == name) {
      SendMessageW(Item(IDC_PORT), CB_SETCURSEL, i, 0);
      port_selected_ = i;
    }
  }
  window_.SelectPortFromCombo(name);
  ShowLineLocks();
}

void MainDialog::ApplyStartupOptions(const StartupOptions& startup, bool start_with_windows) {
  startup_ = startup;
  window_.SetFollowDevices(startup.follow_devices);
  std::string first_error;
  std::string error;
  // Written each time: a program that was moved keeps starting from where it is now.
  if (!SetStartAtLogin(start_with_windows, &error)) first_error = error;
  if (!SaveStartupOptions(*settings_.store, startup, &error) && first_error.empty()) first_error = error;
  if (!first_error.empty()) ShowMessageBox(hwnd(), std::string(kActionFailedMessage) + first_error, MB_ICONEXCLAMATION);
}

}  // namespace lintrel::ui::win32

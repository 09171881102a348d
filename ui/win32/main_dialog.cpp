#include "ui/win32/main_dialog.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "discovery/system_ports.h"
#include "settings/line_settings_store.h"
#include "ui/dialog_lists.h"
#include "ui/win32/about_dialog.h"
#include "ui/win32/options_dialog.h"
#include "ui/win32/resource.h"

namespace lintrel::ui::win32 {

namespace {

HICON LoadIconImage(HINSTANCE instance, int id) {
  return static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
}

// Replaces the menu item at `position` by a text item with the same command.
void RenameMenuItem(HMENU menu, int position, std::string_view text) {
  const UINT command = GetMenuItemID(menu, position);
  const std::string caption(text);
  DeleteMenu(menu, static_cast<UINT>(position), MF_BYPOSITION);
  InsertMenuA(menu, static_cast<UINT>(position), MF_BYPOSITION | MF_STRING, command, caption.c_str());
}

}  // namespace

MainDialog::MainDialog(HINSTANCE instance, platform::UserSettings settings, UINT tray_message,
                       platform::SerialDriver& driver, platform::Keyboard& keyboard)
    : Dialog(instance, IDD_MAIN),
      settings_(std::move(settings)),
      tray_message_(tray_message),
      window_(*this, driver, keyboard, [this](int port_number) { return ResolveDevicePath(ports_, port_number); }),
      large_icon_(LoadIconA(instance, MAKEINTRESOURCEA(IDI_NORMAL))) {
  line_.baud_index = line_.parity_index = line_.data_bit_index = line_.stop_bit_index = -1;
  line_.port_name.clear();

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
  OnMessage(WM_DESTROY, [this](WPARAM, LPARAM) -> std::optional<LRESULT> {
    tray_.Remove(reinterpret_cast<HICON>(SendMessageA(hwnd(), WM_GETICON, ICON_SMALL, 0)));
    return std::nullopt;
  });

  OnCommand(IDC_CONNECT, [this] { window_.TogglePortConnection(); });
  OnCommand(ID_STATUS_CONNECT, [this] { window_.TogglePortConnection(); });
  OnCommand(IDC_OPTIONS, [this] { OpenOptions(); });
  OnCommand(IDC_ABOUT, [this] { ShowAbout(); });
  OnCommand(ID_STATUS_PAUSE, [this] { window_.TogglePause(); });
  OnCommand(ID_STATUS_ABOUT, [this] { ShowAbout(); });
  OnNotification(IDC_PORT, CBN_SELENDOK, [this] { window_.SelectPortFromCombo(SelectedPortText()); });
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
  SetTimer(hwnd(), kSupervisionTimer, kSupervisionInterval, nullptr);
  return TRUE;
}

void MainDialog::AddAboutToSystemMenu() {
  const HMENU system_menu = GetSystemMenu(hwnd(), FALSE);
  if (system_menu == nullptr) return;
  char text[256] = {};
  if (LoadStringA(instance(), IDS_ABOUTBOX, text, static_cast<int>(sizeof text)) <= 0) return;
  AppendMenuA(system_menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(system_menu, MF_STRING, IDM_ABOUTBOX, text);
}

void MainDialog::FillPortList() {
  const HWND list = Item(IDC_PORT);
  ports_ = ListSystemPorts(settings_.device_pins);
  for (const PortEntry& entry : ports_.entries()) {
    SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.name.c_str()));
  }
  // The saved port by prefix, searching from the second entry round to the first. An empty
  // name would match the second entry, whatever it is: it selects nothing.
  int found = CB_ERR;
  if (!line_.port_name.empty()) {
    found = static_cast<int>(SendMessageA(list, CB_FINDSTRING, 0, reinterpret_cast<LPARAM>(line_.port_name.c_str())));
  }
  SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
}

std::string MainDialog::SelectedPortText() {
  const HWND list = Item(IDC_PORT);
  const LRESULT selected = SendMessageA(list, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return "";
  const LRESULT length = SendMessageA(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
  if (length == CB_ERR) return "";
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(text.data()));
  text.resize(std::strlen(text.c_str()));
  return text;
}

LineSettings MainDialog::ReadLineControls() {
  UpdateData(true);
  return line_;
}

void MainDialog::SetConnectCaption(std::string_view caption) {
  SetDlgItemTextA(hwnd(), IDC_CONNECT, std::string(caption).c_str());
}

void MainDialog::EnableLineControls() {
  for (int id : {IDC_PORT, IDC_BAUD_RATE, IDC_PARITY, IDC_DATA_BIT, IDC_STOP_BIT}) EnableWindow(Item(id), TRUE);
}

void MainDialog::ShowMessage(std::string_view text) { ShowMessageBox(hwnd(), std::string(text), 0); }

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

void MainDialog::OnClose() {
  std::string error;
  if (!window_.SaveSettings(*settings_.store, &error)) {
    ShowMessageBox(hwnd(), "The settings could not be saved: " + error, MB_ICONEXCLAMATION);
  }
  window_.ReleaseAllPorts();
  EndDialog(IDCANCEL);
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
    ShowWindow(hwnd(), SW_SHOW);
  } else if (mouse_message == WM_RBUTTONUP) {
    ShowTrayMenu();
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
  // Without the foreground the menu would not close when the user clicks elsewhere.
  SetForegroundWindow(hwnd());
  TrackPopupMenu(menu, 0, cursor.x, cursor.y, 0, hwnd(), nullptr);
  PostMessageA(hwnd(), WM_NULL, 0, 0);
  DestroyMenu(loaded);
}

void MainDialog::ShowAbout() {
  AboutDialog about(instance());
  about.RunModal(hwnd());
}

void MainDialog::OpenOptions() {
  OptionsDialog options(instance(), window_.capture_options(), window_.EndCharacterEditable());
  options.RunModal(hwnd());
}

}  // namespace lintrel::ui::win32

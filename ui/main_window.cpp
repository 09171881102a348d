#include "ui/main_window.h"

#include "common/port_number.h"
#include "settings/line_settings_store.h"

namespace lintrel::ui {

namespace {

// The current port of an entry that names no port (COM300): connecting it fails.
constexpr int kNoSlot = -1;

// An entry names its port by the port-name rule. With nothing selected the text is empty,
// which stands for port 0 (the Port list's selection before the user has picked one).
int PortNumberOfEntry(std::string_view entry_text) {
  if (entry_text.empty()) return 0;
  return ParsePortName(entry_text).value_or(kNoSlot);
}

// "COM3, COM5" of the ports doing `activity`; empty when none does.
std::string PortNames(const std::vector<PortStatus>& ports, PortActivity activity, int* count) {
  std::string names;
  *count = 0;
  for (const PortStatus& port : ports) {
    if (port.activity != activity) continue;
    if (!names.empty()) names += ", ";
    names += PortName(port.port_number);
    ++*count;
  }
  return names;
}

}  // namespace

std::string PortStatusText(const std::vector<PortStatus>& ports) {
  std::string text;
  const auto add = [&](PortActivity activity, std::string_view one, std::string_view several) {
    int count = 0;
    const std::string names = PortNames(ports, activity, &count);
    if (count == 0) return;
    if (!text.empty()) text += "; ";
    text += names + " " + std::string(count == 1 ? one : several);
  };
  add(PortActivity::kConnected, "connected", "connected");
  add(PortActivity::kPaused, "paused", "paused");
  add(PortActivity::kWaiting, "waiting for its device", "waiting for their devices");
  return text.empty() ? std::string(kNoPortConnectedStatus) : text;
}

std::string DroppedLinesNotice(const OwnWindowGuard::Dropped& dropped) {
  const std::string port = PortName(dropped.last_port);
  const std::string what = dropped.lines == 1
                               ? "A line from " + port + " was"
                               : std::to_string(dropped.lines) + " lines (the last from " + port + ") were";
  return what + " not typed, because a window of Lintrel had the keyboard focus. Click into the window the "
                "lines are for, then scan again.";
}

MainWindow::MainWindow(MainWindowView& view, platform::SerialDriver& driver, platform::Keyboard& keyboard,
                       DevicePathResolver device_path, OwnWindowHooks own_window)
    : view_(view),
      guard_(std::move(own_window.foreground_is_ours), std::move(own_window.wake_ui)),
      sender_(keyboard),
      connection_(table_, options_, driver, sender_, *this, std::move(device_path)),
      supervisor_(table_, connection_, options_, *this) {
  sender_.SetLineGate([this](int port_number) { return guard_.MayType(port_number); });
}

void MainWindow::SelectPortFromCombo(std::string_view entry_text) {
  current_port_ = PortNumberOfEntry(entry_text);
  ShowCurrentPort();
}

void MainWindow::TogglePortConnection() {
  // The saved port is selected at start without the user picking it.
  if (current_port_ == 0) SelectPortFromCombo(view_.SelectedPortText());
  if (supervisor_.AwaitsReconnect(current_port_)) {
    // Disconnect of a port that waits for its device: it waits no more.
    supervisor_.CancelReconnect(current_port_);
    ShowCurrentPort();
    view_.SetTrayImage(TrayImage::kNormal);
  } else {
    connection_.TogglePortConnection(current_port_);
  }
  ShowPortStatus();
}

void MainWindow::TogglePause() {
  const bool paused = IsPortNumber(current_port_) && table_.TogglePause(current_port_);
  view_.SetTrayImage(paused ? TrayImage::kPaused : TrayImage::kNormal);
  ShowPortStatus();
}

TrayMenuTexts MainWindow::MenuTexts() const {
  const PortActivity activity = ActivityOf(current_port_);
  return {activity == PortActivity::kIdle ? kConnectCaption : kDisconnectCaption,
          activity == PortActivity::kPaused ? kResumeCaption : kPauseCaption};
}

void MainWindow::Tick(Clock::time_point now) {
  RefreshTrayIcon(now);
  supervisor_.Tick(now);
  // A lost link of the current port is released above and then waits for its device.
  ShowCurrentPort();
  ShowPortStatus();
}

void MainWindow::RunDue(Clock::time_point now) {
  if (flash_ends_ && *flash_ends_ <= now) {
    flash_ends_.reset();
    const PortSlot* current = CurrentSlot();
    if (current == nullptr || !current->paused.load()) view_.SetTrayImage(TrayImage::kNormal);
  }
  supervisor_.RunDue(now);
  ShowPortStatus();
}

std::optional<MainWindow::Clock::time_point> MainWindow::NextDue() const {
  std::optional<Clock::time_point> next = supervisor_.NextDue();
  if (flash_ends_ && (!next || *flash_ends_ < *next)) next = flash_ends_;
  return next;
}

bool MainWindow::EndCharacterEditable() const { return table_.OpenPortCount() == 0; }

bool MainWindow::HasActivePorts() const {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    if (ActivityOf(port_number) != PortActivity::kIdle) return true;
  }
  return false;
}

PortActivity MainWindow::ActivityOf(int port_number) const {
  if (!IsPortNumber(port_number)) return PortActivity::kIdle;
  const PortSlot& slot = table_[port_number];
  if (slot.connected.load()) return slot.paused.load() ? PortActivity::kPaused : PortActivity::kConnected;
  return supervisor_.AwaitsReconnect(port_number) ? PortActivity::kWaiting : PortActivity::kIdle;
}

void MainWindow::ShowPortStatus() {
  std::vector<PortStatus> ports;
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    const PortActivity activity = ActivityOf(port_number);
    if (activity != PortActivity::kIdle) ports.push_back({port_number, activity});
  }
  std::string text = PortStatusText(ports);
  if (status_shown_ == text) return;
  view_.SetStatusText(text);
  status_shown_ = std::move(text);
}

void MainWindow::ShowDroppedLines() {
  const OwnWindowGuard::Dropped dropped = guard_.TakeDropped();
  if (dropped.lines > 0) view_.ShowNotice(kLineNotTypedTitle, DroppedLinesNotice(dropped));
}

bool MainWindow::SaveSettings(SettingsStore& store, std::string* error) {
  LineSettings settings = view_.ReadLineControls();
  settings.port_name = view_.SelectedPortText();
  return SaveLineSettings(store, settings, error);
}

void MainWindow::ReleaseAllPorts() {
  connection_.ReleaseAllPorts();
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    supervisor_.CancelReconnect(port_number);
  }
  ShowCurrentPort();
  ShowPortStatus();
}

LineSettings MainWindow::PullLineSettings() { return view_.ReadLineControls(); }

void MainWindow::PortConnected(int port_number, const std::string& /*device_path*/) {
  if (port_number == current_port_) ShowCurrentPort();
}

void MainWindow::PortDisconnected(int port_number) {
  // The icon and the button show the current port: another port's disconnect leaves them.
  if (port_number != current_port_) return;
  ShowCurrentPort();
  view_.SetTrayImage(TrayImage::kNormal);
}

void MainWindow::PortOpenFailed(int /*port_number*/, const std::string& /*device_path*/,
                                const platform::SerialError& /*error*/, bool reconnecting) {
  // A supervised re-open fails quietly and is tried again; the user's own connect is told.
  if (!reconnecting) view_.ShowMessage(kPortOpenFailMessage);
}

const PortSlot* MainWindow::CurrentSlot() const {
  return IsPortNumber(current_port_) ? &table_[current_port_] : nullptr;
}

void MainWindow::ShowCurrentPort() {
  // A port that is connected, or waiting for its device, keeps the line settings it was
  // opened with: they are locked until it is disconnected.
  const bool active = ActivityOf(current_port_) != PortActivity::kIdle;
  const std::string_view caption = active ? kDisconnectCaption : kConnectCaption;
  if (caption_shown_ != caption) {
    view_.SetConnectCaption(caption);
    caption_shown_ = caption;
  }
  if (line_settings_enabled_ != !active) {
    view_.EnableLineSettings(!active);
    line_settings_enabled_ = !active;
  }
}

void MainWindow::RefreshTrayIcon(Clock::time_point now) {
  // No valid port selected: nothing to show, the image stays as an idle port's would.
  const PortSlot* current = CurrentSlot();
  if (current == nullptr) return;
  if (current->paused.load()) {
    view_.SetTrayImage(TrayImage::kPaused);
  } else if (current->connected.load()) {
    // Flash the activity image for half a second.
    view_.SetTrayImage(TrayImage::kActivity);
    flash_ends_ = now + kFlashDuration;
  }
}

}  // namespace lintrel::ui

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

}  // namespace

MainWindow::MainWindow(MainWindowView& view, platform::SerialDriver& driver, platform::Keyboard& keyboard,
                       DevicePathResolver device_path)
    : view_(view),
      sender_(keyboard),
      connection_(table_, options_, driver, sender_, *this, std::move(device_path)),
      supervisor_(table_, connection_, options_, *this) {}

void MainWindow::SelectPortFromCombo(std::string_view entry_text) {
  current_port_ = PortNumberOfEntry(entry_text);
  ShowCaptionForCurrentPort();
}

void MainWindow::TogglePortConnection() {
  // The saved port is selected at start without the user picking it.
  if (current_port_ == 0) SelectPortFromCombo(view_.SelectedPortText());
  connection_.TogglePortConnection(current_port_);
}

void MainWindow::TogglePause() {
  const bool paused = IsPortNumber(current_port_) && table_.TogglePause(current_port_);
  view_.SetTrayImage(paused ? TrayImage::kPaused : TrayImage::kNormal);
}

TrayMenuTexts MainWindow::MenuTexts() const {
  const PortSlot* slot = CurrentSlot();
  const bool connected = slot != nullptr && slot->connected.load();
  const bool paused = connected && slot->paused.load();
  return {connected ? kDisconnectCaption : kConnectCaption, paused ? kResumeCaption : kPauseCaption};
}

void MainWindow::Tick(Clock::time_point now) {
  RefreshTrayIcon(now);
  supervisor_.Tick(now);
}

void MainWindow::RunDue(Clock::time_point now) {
  if (flash_ends_ && *flash_ends_ <= now) {
    flash_ends_.reset();
    const PortSlot* current = CurrentSlot();
    if (current == nullptr || !current->paused.load()) view_.SetTrayImage(TrayImage::kNormal);
  }
  supervisor_.RunDue(now);
}

std::optional<MainWindow::Clock::time_point> MainWindow::NextDue() const {
  std::optional<Clock::time_point> next = supervisor_.NextDue();
  if (flash_ends_ && (!next || *flash_ends_ < *next)) next = flash_ends_;
  return next;
}

bool MainWindow::EndCharacterEditable() const { return table_.OpenPortCount() == 0; }

bool MainWindow::SaveSettings(SettingsStore& store, std::string* error) {
  LineSettings settings = view_.ReadLineControls();
  settings.port_name = view_.SelectedPortText();
  return SaveLineSettings(store, settings, error);
}

void MainWindow::ReleaseAllPorts() { connection_.ReleaseAllPorts(); }

LineSettings MainWindow::PullLineSettings() { return view_.ReadLineControls(); }

void MainWindow::PortConnected(int port_number, const std::string& /*device_path*/) {
  if (port_number == current_port_) ShowCaptionForCurrentPort();
}

void MainWindow::PortDisconnected(int port_number) {
  view_.EnableLineControls();
  // The icon and the button show the current port: another port's disconnect leaves them.
  if (port_number != current_port_) return;
  ShowCaptionForCurrentPort();
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

void MainWindow::ShowCaptionForCurrentPort() {
  const PortSlot* slot = CurrentSlot();
  view_.SetConnectCaption(slot != nullptr && slot->connected.load() ? kDisconnectCaption : kConnectCaption);
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

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
  table_.current_port = IsPortNumber(current_port_) ? current_port_ : 0;
  ShowCaptionForCurrentPort();
}

void MainWindow::TogglePortConnection() {
  // The saved port is selected at start without the user picking it.
  if (current_port_ == 0) SelectPortFromCombo(view_.SelectedPortText());
  connection_.TogglePortConnection(current_port_);
}

void MainWindow::TogglePause() {
  const int paused = IsPortNumber(current_port_) ? table_.TogglePause(current_port_) : 0;
  view_.SetTrayImage(paused == 1 ? TrayImage::kPaused : TrayImage::kNormal);
}

TrayMenuTexts MainWindow::MenuTexts() const {
  const PortSlot* slot = CurrentSlot();
  const bool connected = slot != nullptr && slot->connected.load() == 1;
  const bool paused = connected && slot->paused.load() == 1;
  return {connected ? kDisconnectCaption : kConnectCaption, paused ? kResumeCaption : kPauseCaption};
}

void MainWindow::Tick(Clock::time_point now) { supervisor_.Tick(now); }

void MainWindow::RunDue(Clock::time_point now) { supervisor_.RunDue(now); }

std::optional<MainWindow::Clock::time_point> MainWindow::NextDue() const { return supervisor_.NextDue(); }

bool MainWindow::EndCharacterEditable() const { return table_.OpenPortCount() == 0; }

bool MainWindow::SaveSettings(SettingsStore& store, std::string* error) {
  LineSettings settings = view_.ReadLineControls();
  settings.port_name = view_.SelectedPortText();
  return SaveLineSettings(store, settings, error);
}

void MainWindow::ReleaseAllPorts() { connection_.ReleaseAllPorts(); }

LineSettings MainWindow::PullLineSettings() { return view_.ReadLineControls(); }

void MainWindow::ShowMessage(std::string_view text) { view_.ShowMessage(text); }

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

void MainWindow::SetTrayImage(TrayImage image) { view_.SetTrayImage(image); }

const PortSlot* MainWindow::CurrentSlot() const {
  return IsPortNumber(current_port_) ? &table_[current_port_] : nullptr;
}

void MainWindow::ShowCaptionForCurrentPort() {
  const PortSlot* slot = CurrentSlot();
  view_.SetConnectCaption(slot != nullptr && slot->connected.load() == 1 ? kDisconnectCaption
                                                                          : kConnectCaption);
}

}  // namespace lintrel::ui

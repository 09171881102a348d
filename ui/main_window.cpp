#include "ui/main_window.h"

#include <algorithm>

#include "capture/records/record_stage.h"
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

// A value that stands for itself where it differs from the one it would otherwise follow.
template <typename T>
std::optional<T> OwnValue(const T& value, const T& followed) {
  return value == followed ? std::nullopt : std::optional<T>(value);
}

// The port whose name a device path ends in ("\\.\COM7", "dev/COM7"); -1 for none.
int PortNumberOfDevice(std::string_view device_path) {
  const std::size_t separator = device_path.find_last_of("\\/");
  const std::string_view name = separator == std::string_view::npos ? device_path : device_path.substr(separator + 1);
  return ParsePortName(name).value_or(-1);
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
  if (text.empty()) return std::string(kNoPortConnectedStatus);
  for (const PortStatus& port : ports) {
    if (port.device_port >= 0) text += "; " + PortMovedText(port.port_number, port.device_port);
  }
  return text;
}

PortList WithActivePorts(PortList system_ports, const std::vector<int>& active_ports) {
  for (int port_number : active_ports) {
    const bool listed = std::any_of(system_ports.entries().begin(), system_ports.entries().end(),
                                    [&](const PortEntry& entry) { return ParsePortName(entry.name) == port_number; });
    if (!listed) system_ports.Add(PortName(port_number));
  }
  return system_ports;
}

std::string DroppedLinesNotice(const OwnWindowGuard::Dropped& dropped) {
  const std::string port = PortName(dropped.last_port);
  const std::string what = dropped.lines == 1
                               ? "A line from " + port + " was"
                               : std::to_string(dropped.lines) + " lines (the last from " + port + ") were";
  return what + " not typed, because a window of Lintrel had the keyboard focus. Click into the window the "
                "lines are for, then scan again.";
}

std::string WithOpenFailure(const std::string& status, const std::string& failure) {
  if (failure.empty()) return status;
  return status + (!status.empty() && status.back() == '.' ? " " : "; ") + failure;
}

std::string LineNotTypedNotice(int port_number, const std::string& reason) {
  return "A line from " + PortName(port_number) + " was not typed: " + reason;
}

NoticeText DeliveryNoticeText(const DeliveryNotice& notice) {
  const std::string port = PortName(notice.port_number);
  switch (notice.kind) {
    case DeliveryNotice::Kind::kHolding:
      return {std::string(kLinesWaitingTitle),
              "Lines from " + port + " wait for " + notice.target + " until it is in front (" + notice.detail + ")."};
    case DeliveryNotice::Kind::kReleased:
      return {std::string(kLinesReleasedTitle), "No line from " + port + " waits for " + notice.target + " any more."};
    case DeliveryNotice::Kind::kNotTyped: {
      const std::string what = notice.count == 1 ? "A line from " + port + " was"
                                                 : std::to_string(notice.count) + " lines from " + port + " were";
      return {std::string(kLineNotTypedTitle), what + " not typed: " + notice.detail};
    }
    case DeliveryNotice::Kind::kWarning:
      return {std::string(kTypingWarningTitle), port + ": " + notice.detail};
    case DeliveryNotice::Kind::kUnicode:
      return {std::string(kTypedAsUnicodeTitle), notice.target + " in front is a remote session (" + notice.detail +
                                                     "): the lines from " + port +
                                                     " are typed as Unicode characters."};
  }
  return {};
}

std::string TrayTipText(const std::map<int, std::string>& waiting) {
  std::string tip(kProgramTitle);
  if (waiting.empty()) return tip;
  if (waiting.size() == 1) {
    return tip + ": lines of " + PortName(waiting.begin()->first) + " wait for " + waiting.begin()->second;
  }
  std::string ports;
  for (const auto& [port_number, target] : waiting) ports += (ports.empty() ? "" : ", ") + PortName(port_number);
  return tip + ": lines of " + ports + " wait for their targets";
}

std::string WithWaitingLines(const std::string& status, const std::map<int, std::string>& waiting) {
  std::string text = status;
  for (const auto& [port_number, target] : waiting) {
    const bool sentence_ended = !text.empty() && text.back() == '.';
    text += std::string(sentence_ended ? " Lines" : "; lines") + " of " + PortName(port_number) + " wait for " + target;
  }
  return text;
}

MainWindow::MainWindow(MainWindowView& view, platform::SerialDriver& driver,
                       std::shared_ptr<platform::Keyboard> keyboard, DevicePathResolver device_path,
                       OwnWindowHooks own_window, DeviceIdentities* identities)
    : view_(view),
      guard_(std::move(own_window.foreground_is_ours), std::move(own_window.foreground_window), own_window.wake_ui),
      typist_(std::move(keyboard)),
      connection_(table_, options_, driver, typist_, *this,
                  [this](int port_number) { return ResolveDevice(port_number); }),
      supervisor_(table_, connection_, options_, *this),
      requester_(table_, options_, *this),
      device_path_(std::move(device_path)),
      identities_(identities) {
  if (identities_ != nullptr) follower_.emplace(*identities_);
  // A port with a target needs no guard: its lines go into the target's window alone, and the
  // desktop's windows as UseDelivery() is given them never name one of this program's (so
  // that such a line waits, rather than being dropped, while a window of it is in front).
  // delivery_ is set before the typist starts, if at all.
  typist_.SetLineGate([this](int port_number) {
    return (delivery_ && delivery_->HasTarget(port_number)) || guard_.MayType(port_number);
  });
  typist_.SetStrokeCheck([this](int /*port_number*/) { return guard_.PacedLineCheck(); });
  typist_.SetReportNotice(std::move(own_window.wake_ui));
}

void MainWindow::SelectPortFromCombo(std::string_view entry_text) {
  port_picked_ = true;
  SelectEntry(entry_text);
}

void MainWindow::SelectEntry(std::string_view entry_text) {
  current_port_ = PortNumberOfEntry(entry_text);
  ShowLineSettingsOf(current_port_);
  ShowCurrentPort();
}

void MainWindow::ShowLineSettingsOf(int port_number) {
  if (!IsPortNumber(port_number)) return;
  // An active port's lists show what it runs with, locked; a Disconnect and Connect from the
  // window then opens it with the same settings.
  if (ActivityOf(port_number) != PortActivity::kIdle) {
    if (const std::optional<LineSettings>& opened = opened_with_[static_cast<std::size_t>(port_number)]) {
      view_.ShowLineControls(*opened);
    }
    return;
  }
  // An idle port's own line settings come up in the lists, to be connected with or changed.
  const PortProfile& profile = ProfileOf(port_number);
  if (profile.baud_index || profile.parity_index || profile.data_bit_index || profile.stop_bit_index) {
    view_.ShowLineControls(profile.LineOver(view_.ReadLineControls()));
  }
}

void MainWindow::TogglePortConnection() {
  // The saved port is selected at start without the user picking it; connecting it picks it.
  port_picked_ = true;
  if (current_port_ == 0) SelectEntry(view_.SelectedPortText());
  open_failure_.clear();
  // The user's connect starts afresh: the controls' settings, the device that has the name.
  if (ActivityOf(current_port_) == PortActivity::kIdle) ForgetPort(current_port_);
  if (supervisor_.AwaitsReconnect(current_port_)) {
    // Disconnect of a port that waits for its device: it waits no more.
    supervisor_.CancelReconnect(current_port_);
    ShowCurrentPort();
    view_.SetTrayImage(TrayImage::kNormal);
  } else {
    const bool connecting = ActivityOf(current_port_) == PortActivity::kIdle;
    if (connection_.TogglePortConnection(current_port_) && connecting) SaveProfileLine(current_port_);
  }
  if (ActivityOf(current_port_) == PortActivity::kIdle) ForgetPort(current_port_);
  RememberConnections();
  ShowPortStatus();
}

void MainWindow::TogglePause() {
  const bool paused = IsPortNumber(current_port_) && table_.TogglePause(current_port_);
  view_.SetTrayImage(paused ? TrayImage::kPaused : TrayImage::kNormal);
  ShowCurrentPort();
  ShowPortStatus();
}

TrayMenuTexts MainWindow::MenuTexts() const {
  const PortActivity activity = ActivityOf(current_port_);
  return {activity == PortActivity::kIdle ? kConnectCaption : kDisconnectCaption,
          activity == PortActivity::kPaused ? kResumeCaption : kPauseCaption};
}

void MainWindow::Tick(Clock::time_point now) {
  RefreshTrayIcon(now);
  typist_.DeliverReports(*this);
  supervisor_.Tick(now);
  requester_.RunDue(now);
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
  requester_.RunDue(now);
  ShowPortStatus();
}

std::optional<MainWindow::Clock::time_point> MainWindow::NextDue() const {
  std::optional<Clock::time_point> next = supervisor_.NextDue();
  for (const std::optional<Clock::time_point>& due : {flash_ends_, requester_.NextDue()}) {
    if (due && (!next || *due < *next)) next = due;
  }
  return next;
}

bool MainWindow::EndCharacterEditable() const {
  if (port_picked_ && IsPortNumber(current_port_)) return ActivityOf(current_port_) == PortActivity::kIdle;
  return table_.OpenPortCount() == 0;
}

void MainWindow::UseDelivery(std::unique_ptr<platform::ForegroundWindows> windows,
                             std::unique_ptr<platform::Clipboard> clipboard) {
  delivery_ = std::make_shared<Delivery>(std::move(windows));
  typist_.SetDelivery(delivery_);
  if (clipboard) typist_.SetClipboard(std::move(clipboard));
}

void MainWindow::UseProfilesIn(SettingsStore* store) {
  profile_store_ = store;
  profiles_.clear();
  if (store == nullptr) return;
  std::vector<std::string> warnings;
  const PortProfile shared = LoadSharedProfile(*store, &warnings);
  for (const std::string& warning : warnings) view_.ShowNotice(kProfileWarningTitle, warning);
  const PortCaptureRules rules = shared.CaptureRules({});
  options_.Publish(rules.Over(options_.Load()));
  shared_shaping_ = rules.shaping;
  pacing_ = shared.OwnPacing().Over(Pacing{});
  typist_.SetPacing(pacing_);
}

bool MainWindow::StoreSharedOptions(std::string* error) {
  if (profile_store_ == nullptr) return true;
  // What differs from the defaults is stored; a value set back to its default is removed.
  const CaptureOptions options = options_.Load();
  const CaptureOptions defaults;
  const ShapingRules none;
  PortProfile shared;
  shared.end_character = OwnValue(static_cast<int>(options.end_character), static_cast<int>(defaults.end_character));
  shared.truncate = OwnValue(options.truncate, defaults.truncate);
  shared.prefix = OwnValue(options.prefix, defaults.prefix);
  shared.prefix_text = OwnValue(shared_shaping_.prefix_text, none.prefix_text);
  shared.suffix = OwnValue(shared_shaping_.suffix, none.suffix);
  shared.replacements = OwnValue(shared_shaping_.replacements, none.replacements);
  shared.control = OwnValue(shared_shaping_.control, none.control);
  shared.encoding = OwnValue(options.encoding, defaults.encoding);
  shared.reconnect_delay_ms = OwnValue(options.reconnect_delay_ms, defaults.reconnect_delay_ms);
  shared.key_delay_ms = OwnValue(static_cast<int>(pacing_.key_delay.count()), 0);
  shared.line_delay_ms = OwnValue(static_cast<int>(pacing_.line_delay.count()), 0);
  WriteSharedProfile(*profile_store_, shared);
  return profile_store_->Flush(error);
}

PortProfile& MainWindow::ProfileOf(int port_number) {
  const auto [found, added] = profiles_.try_emplace(port_number);
  if (added && profile_store_ != nullptr) {
    std::vector<std::string> warnings;
    found->second = LoadPortProfile(*profile_store_, port_number, &warnings);
    records::LeaveOutWrongRecordValues(found->second, port_number, &warnings);
    for (const std::string& warning : warnings) view_.ShowNotice(kProfileWarningTitle, warning);
  }
  return found->second;
}

void MainWindow::PublishRules(int port_number) {
  if (!IsPortNumber(port_number)) return;
  const PortProfile& profile = ProfileOf(port_number);
  const PortCaptureRules rules = profile.CaptureRules(shared_shaping_);
  options_.PublishPortRules(port_number, std::make_shared<const PortCaptureRules>(rules));
  typist_.SetPortPacing(port_number, profile.OwnPacing());
  if (!delivery_) return;
  delivery_->PublishRules(port_number, profile.Delivery());
}

PortOptions MainWindow::OptionsForDialog() {
  // Until the user picks a port the shared options are edited, as before profiles.
  const int port_number = port_picked_ ? current_port_ : -1;
  if (!IsPortNumber(port_number)) {
    return {.port_number = -1, .options = options_.Load(), .shaping = shared_shaping_, .records = {}, .pacing = pacing_};
  }
  const PortProfile& profile = ProfileOf(port_number);
  const PortCaptureRules rules = profile.CaptureRules(shared_shaping_);
  return {.port_number = port_number,
          .options = rules.Over(options_.Load()),
          .shaping = rules.shaping,
          .records = rules.records,
          .pacing = profile.OwnPacing().Over(pacing_),
          .delivery = profile.Delivery(),
          .requests = {.requests = profile.Requests(), .hotkey = profile.hotkey}};
}

int MainWindow::MonitoredPort() {
  return current_port_ != 0 ? current_port_ : PortNumberOfEntry(view_.SelectedPortText());
}

bool MainWindow::ApplyOptions(const PortOptions& edited, std::string* error) {
  if (!IsPortNumber(edited.port_number)) {
    options_.Publish(edited.options);
    shared_shaping_ = edited.shaping;
    pacing_ = edited.pacing;
    typist_.SetPacing(pacing_);
    // Every port that reads now takes the new shared shaping where it has none of its own.
    for (int port_number : ActivePorts()) PublishRules(port_number);
    return StoreSharedOptions(error);
  }
  // The reconnection delay is every port's, also when a port is picked.
  CaptureOptions shared = options_.Load();
  shared.reconnect_delay_ms = edited.options.reconnect_delay_ms;
  options_.Publish(shared);
  PortProfile& profile = ProfileOf(edited.port_number);
  profile.end_character =
      OwnValue(static_cast<int>(edited.options.end_character), static_cast<int>(shared.end_character));
  profile.truncate = OwnValue(edited.options.truncate, shared.truncate);
  profile.prefix = OwnValue(edited.options.prefix, shared.prefix);
  profile.prefix_text = OwnValue(edited.shaping.prefix_text, shared_shaping_.prefix_text);
  profile.suffix = OwnValue(edited.shaping.suffix, shared_shaping_.suffix);
  profile.replacements = OwnValue(edited.shaping.replacements, shared_shaping_.replacements);
  profile.control = OwnValue(edited.shaping.control, shared_shaping_.control);
  profile.encoding = OwnValue(edited.options.encoding, shared.encoding);
  profile.key_delay_ms = OwnValue(static_cast<int>(edited.pacing.key_delay.count()),
                                  static_cast<int>(pacing_.key_delay.count()));
  profile.line_delay_ms = OwnValue(static_cast<int>(edited.pacing.line_delay.count()),
                                   static_cast<int>(pacing_.line_delay.count()));
  // Records are a port's alone.
  const RecordRules no_records;
  profile.pattern = OwnValue(edited.records.pattern, no_records.pattern);
  profile.unmatched = OwnValue(edited.records.unmatched, no_records.unmatched);
  profile.gs1 = OwnValue(edited.records.gs1, no_records.gs1);
  profile.template_text = OwnValue(edited.records.template_text, no_records.template_text);
  profile.repeat_window_ms = OwnValue(edited.records.repeat_window_ms, no_records.repeat_window_ms);
  // So is the target.
  const DeliveryRules no_rules;
  profile.target = edited.delivery.target ? std::optional(DeliveryTargetText(*edited.delivery.target)) : std::nullopt;
  profile.elsewhere = OwnValue(edited.delivery.elsewhere, no_rules.elsewhere);
  profile.delivery = OwnValue(edited.delivery.method, no_rules.method);
  // So are its requests; what is empty or off is not stored.
  const PortRequests& requests = edited.requests.requests;
  profile.send_on_connect = OwnValue(requests.send_on_connect, std::string());
  profile.poll = OwnValue(requests.poll, std::string());
  profile.poll_every_ms = OwnValue(requests.poll_every_ms, 0);
  profile.reply_timeout_ms = OwnValue(requests.reply_timeout_ms, 0);
  profile.hotkey = edited.requests.hotkey;
  PublishRules(edited.port_number);
  if (profile_store_ == nullptr) return true;
  WritePortProfile(*profile_store_, edited.port_number, profile);
  return StoreSharedOptions(error);  // the shared reconnection delay, and one flush for both
}

void MainWindow::SaveProfileLine(int port_number) {
  if (!IsPortNumber(port_number)) return;
  const std::optional<LineSettings>& opened = opened_with_[static_cast<std::size_t>(port_number)];
  if (!opened) return;
  PortProfile& profile = ProfileOf(port_number);
  profile.baud_index = opened->baud_index;
  profile.parity_index = opened->parity_index;
  profile.data_bit_index = opened->data_bit_index;
  profile.stop_bit_index = opened->stop_bit_index;
  if (profile_store_ == nullptr) return;
  WritePortProfile(*profile_store_, port_number, profile);
  std::string error;
  if (!profile_store_->Flush(&error)) view_.ShowNotice(kProfileNotSavedTitle, error);
}

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
  for (int port_number : ActivePorts()) {
    const PortActivity activity = ActivityOf(port_number);
    const auto moved = device_ports_.find(port_number);
    const bool shows_move = moved != device_ports_.end() && activity != PortActivity::kWaiting;
    ports.push_back({port_number, activity, shows_move ? moved->second : -1});
  }
  std::string text = WithOpenFailure(WithWaitingLines(PortStatusText(ports), waiting_), open_failure_);
  if (status_shown_ == text) return;
  view_.SetStatusText(text);
  status_shown_ = std::move(text);
}

void MainWindow::ShowDroppedLines(Clock::time_point now) {
  const OwnWindowGuard::Dropped dropped = guard_.TakeDropped();
  if (dropped.lines > 0) {
    if (dropped_shown_.lines > 0 && now - last_drop_ > kDroppedLinesSpan) dropped_shown_ = {};
    dropped_shown_.lines += dropped.lines;
    dropped_shown_.last_port = dropped.last_port;
    last_drop_ = now;
    view_.ShowNotice(kLineNotTypedTitle, DroppedLinesNotice(dropped_shown_));
  }
  typist_.DeliverReports(*this);
}

void MainWindow::SetFollowDevices(bool follow) {
  follow_devices_ = follow;
  if (!follower_) return;
  if (!follow) {
    follower_->ForgetAll();
    return;
  }
  // The ports connected now note the devices they have, to follow them from now on.
  for (int port_number : ActivePorts()) {
    if (table_[port_number].connected.load()) ResolveDevice(port_number);
  }
}

void MainWindow::RememberConnectionsIn(SettingsStore* store) {
  memory_ = store;
  remembered_ = RememberedPorts();
}

void MainWindow::Reconnect(const std::vector<RememberedPort>& ports) {
  for (const RememberedPort& port : ports) {
    const int number = port.port_number;
    if (!IsPortNumber(number) || ActivityOf(number) != PortActivity::kIdle) continue;
    // The profile is the store of a port's line settings; what the remembered entry says is
    // taken only where the profile says nothing (a profile that could not be written).
    opened_with_[static_cast<std::size_t>(number)] = ProfileOf(number).LineOver(port.line);
    if (follower_ && follow_devices_ && !port.device_key.empty()) {
      if (std::optional<DeviceIdentity> identity = identities_->Restore(port.device_key)) {
        follower_->Note(number, std::move(*identity));
      }
    }
    supervisor_.ConnectOrAwait(number);
  }
  remembered_ = RememberedPorts();
  // The selected entry is the current port now: its button shows what it would do.
  if (!ports.empty() && current_port_ == 0) SelectEntry(view_.SelectedPortText());
  ShowPortStatus();
}

std::vector<RememberedPort> MainWindow::RememberedPorts() const {
  std::vector<RememberedPort> ports;
  for (int port_number : ActivePorts()) {
    RememberedPort port{.port_number = port_number,
                        .line = opened_with_[static_cast<std::size_t>(port_number)].value_or(LineSettings{}),
                        .device_key = {}};
    port.line.port_name = PortName(port_number);
    const DeviceIdentity* device = follower_ ? follower_->Noted(port_number) : nullptr;
    if (device != nullptr && device->follows) port.device_key = device->key;
    ports.push_back(std::move(port));
  }
  return ports;
}

std::vector<int> MainWindow::ActivePorts() const {
  std::vector<int> ports;
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    if (ActivityOf(port_number) != PortActivity::kIdle) ports.push_back(port_number);
  }
  return ports;
}

void MainWindow::OnDeviceChange(DeviceChange change) {
  if (change == DeviceChange::kNone) return;
  view_.RefreshPortList(ActivePorts());
  if (change != DeviceChange::kRemoved) supervisor_.DevicesArrived();
  ShowCurrentPort();
  ShowPortStatus();
}

void MainWindow::Resumed(Clock::time_point now) {
  supervisor_.Tick(now);
  supervisor_.DevicesArrived();
  ShowCurrentPort();
  ShowPortStatus();
}

bool MainWindow::SaveSettings(SettingsStore& store, std::string* error, bool with_port) {
  LineSettings settings = view_.ReadLineControls();
  settings.port_name = view_.SelectedPortText();
  return with_port ? SaveLineSettings(store, settings, error) : SaveLinePositions(store, settings, error);
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

LineSettings MainWindow::LineSettingsFor(int port_number) {
  if (!IsPortNumber(port_number)) return view_.ReadLineControls();
  // Asked at every open: the port's reader starts with its own rules.
  PublishRules(port_number);
  std::optional<LineSettings>& opened = opened_with_[static_cast<std::size_t>(port_number)];
  if (!opened) opened = view_.ReadLineControls();
  return *opened;
}

void MainWindow::PortConnected(int port_number, const std::string& device_path) {
  const int device_port = PortNumberOfDevice(device_path);
  if (device_port >= 0 && device_port != port_number) {
    // Told once for each new name; the status line says it while the port is open.
    const auto [known, added] = device_ports_.try_emplace(port_number, device_port);
    if (added || known->second != device_port) {
      known->second = device_port;
      const DeviceIdentity* device = follower_ ? follower_->Noted(port_number) : nullptr;
      view_.ShowNotice(kPortMovedTitle, PortMovedText(port_number, device_port) +
                                            (device != nullptr ? " (" + device->description + ")." : "."));
    }
  } else {
    device_ports_.erase(port_number);
  }
  if (port_number == current_port_) ShowCurrentPort();
}

void MainWindow::PortDisconnected(int port_number) {
  // The icon and the button show the current port: another port's disconnect leaves them.
  if (port_number != current_port_) return;
  ShowCurrentPort();
  view_.SetTrayImage(TrayImage::kNormal);
}

void MainWindow::PortOpenFailed(int port_number, const std::string& device_path, const platform::SerialError& error,
                                bool reconnecting) {
  // A supervised re-open fails quietly and is tried again; the user's own connect is told,
  // with the port and the system's reason in the status line behind the message.
  if (reconnecting) return;
  open_failure_ = PortName(port_number) + " open failed: " + (error.message.empty() ? device_path : error.message);
  ShowPortStatus();
  view_.ShowMessage(kPortOpenFailMessage);
}

ResolvedDevice MainWindow::ResolveDevice(int port_number) {
  if (!follower_ || !follow_devices_) return device_path_(port_number);
  return follower_->Resolve(port_number, [&] { return device_path_(port_number); });
}

void MainWindow::ForgetPort(int port_number) {
  if (!IsPortNumber(port_number)) return;
  if (follower_) follower_->Forget(port_number);
  opened_with_[static_cast<std::size_t>(port_number)].reset();
  device_ports_.erase(port_number);
}

void MainWindow::RememberConnections() {
  if (memory_ == nullptr) return;
  std::vector<RememberedPort> ports = RememberedPorts();
  if (ports == remembered_) return;
  std::string error;
  if (!SaveRememberedPorts(*memory_, ports, &error)) {
    view_.ShowNotice(kNotRememberedTitle, error);
    return;
  }
  remembered_ = std::move(ports);
}

void MainWindow::LineNotTyped(int port_number, const std::string& reason, bool /*output_lost*/) {
  view_.ShowNotice(kLineNotTypedTitle, LineNotTypedNotice(port_number, reason));
}

void MainWindow::DeliveryChanged(const DeliveryNotice& notice) {
  if (notice.kind == DeliveryNotice::Kind::kHolding || notice.kind == DeliveryNotice::Kind::kReleased) {
    if (notice.kind == DeliveryNotice::Kind::kHolding) {
      waiting_[notice.port_number] = notice.target;
    } else {
      waiting_.erase(notice.port_number);
    }
    view_.SetTrayTip(TrayTipText(waiting_));
  }
  const NoticeText text = DeliveryNoticeText(notice);
  view_.ShowNotice(text.title, text.text);
  ShowPortStatus();
}

void MainWindow::RequestProblem(int port_number, const std::string& problem) {
  view_.ShowNotice(kRequestProblemTitle, PortName(port_number) + ": " + problem);
}

bool MainWindow::SendNow(Clock::time_point now) { return requester_.SendNow(current_port_, now); }

bool MainWindow::SendNowTo(int port_number, Clock::time_point now) { return requester_.SendNow(port_number, now); }

std::map<int, Hotkey> MainWindow::PortHotkeys() {
  std::map<int, Hotkey> hotkeys;
  if (profile_store_ == nullptr) return hotkeys;
  for (const std::string& entry : profile_store_->Names()) {
    const std::optional<PortEntryName> port = SplitPortProfileEntry(entry);
    if (!port || port->name != kHotkeyEntry) continue;
    if (const std::optional<Hotkey>& hotkey = ProfileOf(port->port_number).hotkey) hotkeys[port->port_number] = *hotkey;
  }
  return hotkeys;
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
  const PortActivity activity = ActivityOf(current_port_);
  const std::string_view pause_caption = activity == PortActivity::kPaused ? kResumeCaption : kPauseCaption;
  if (pause_caption_shown_ != pause_caption) {
    view_.SetPauseCaption(pause_caption);
    pause_caption_shown_ = pause_caption;
  }
  const bool pausable = activity == PortActivity::kConnected || activity == PortActivity::kPaused;
  if (pause_enabled_ != pausable) {
    view_.EnablePause(pausable);
    pause_enabled_ = pausable;
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

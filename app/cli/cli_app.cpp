#include "app/cli/cli_app.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "common/port_number.h"
#include "common/printable_text.h"
#include "platform/standard_streams.h"
#include "platform/text_code_page.h"
#include "platform/trace_keyboard.h"

namespace lintrel::cli {

void PrintMessage(std::FILE* out, std::string_view prefix, std::string_view text) {
  platform::WriteWithin(out, std::string(prefix) + EscapeControlCharacters(text) + "\n", kMessageWriteLimit);
}

void StatusLines::Print(std::string_view text) { PrintMessage(out_, "lintrel: ", text); }

CaptureOptions CaptureOptionsOf(const CliOptions& options) {
  return {.prefix = options.prefix,
          .truncate = options.truncate,
          .end_character = static_cast<uint8_t>(options.end_character),
          .encoding = options.encoding.value_or(platform::DefaultTextEncoding()),
          .reconnect_delay_ms = options.reconnect_delay_ms};
}

namespace {

std::string LinesText(std::size_t count) { return std::to_string(count) + (count == 1 ? " line" : " lines"); }

}  // namespace

LineSettings StatusLines::LineSettingsFor(int port_number) {
  const auto found = port_lines_.find(port_number);
  return found == port_lines_.end() ? line_ : found->second;
}

void StatusLines::PortConnected(int port_number, const std::string& device_path) {
  ++connections_;
  const bool reconnection = lost_[port_number];
  lost_[port_number] = false;
  last_retry_failure_.erase(port_number);
  Print(PortName(port_number) + (reconnection ? " reconnected: connected (" : " connected (") +
        device_path + ")");
}

void StatusLines::PortDisconnected(int port_number) { Print(PortName(port_number) + " disconnected"); }

void StatusLines::PortOpenFailed(int port_number, const std::string& device_path,
                                 const platform::SerialError& error, bool reconnecting) {
  const std::string reason = error.message.empty() ? device_path : error.message;
  if (!reconnecting) {
    Print(PortName(port_number) + " open failed: " + reason);
    return;
  }
  // Retries come every second: report each new reason once.
  std::string& last = last_retry_failure_[port_number];
  if (last == reason) return;
  last = reason;
  Print(PortName(port_number) + " reconnection failed: " + reason + " (retrying every second)");
}

void StatusLines::LinkLost(int port_number, const LinkLoss& loss) {
  lost_[port_number] = true;
  Print(PortName(port_number) + " link lost" + (loss.cause.empty() ? "" : ": " + loss.cause) + "; reconnecting in " +
        std::to_string(loss.reconnect_delay.count()) + " ms");
}

void StatusLines::RequestProblem(int port_number, const std::string& problem) {
  Print(PortName(port_number) + ": " + problem);
}

void StatusLines::LineNotTyped(int port_number, const std::string& reason, bool output_lost) {
  if (output_lost) output_lost_ = true;
  Print(PortName(port_number) + ": line not typed: " + reason);
}

void StatusLines::DeliveryChanged(const DeliveryNotice& notice) {
  const std::string port = PortName(notice.port_number) + ": ";
  switch (notice.kind) {
    case DeliveryNotice::Kind::kHolding:
      Print(port + "lines wait for " + notice.target + " until it is in front (" + notice.detail + ")");
      break;
    case DeliveryNotice::Kind::kReleased:
      Print(port + "no line waits for " + notice.target + " any more");
      break;
    case DeliveryNotice::Kind::kUnicode:
      Print(port + notice.target + " in front is a remote session (" + notice.detail +
            "): its lines are typed as Unicode characters");
      break;
    case DeliveryNotice::Kind::kWarning:
      Print(port + notice.detail);
      break;
    case DeliveryNotice::Kind::kNotTyped:
      Print(port + (notice.count == 1 ? "line" : std::to_string(notice.count) + " lines") + " not typed: " +
            notice.detail);
      break;
  }
}

CliApp::CliApp(const CliOptions& options, std::shared_ptr<platform::Keyboard> keyboard,
               platform::SerialDriver& driver, std::FILE* status, DevicePathResolver system_paths,
               DeviceIdentities* identities)
    : options_(options),
      system_paths_(std::move(system_paths)),
      follower_(identities != nullptr ? std::optional<DeviceFollower>(std::in_place, *identities) : std::nullopt),
      capture_(CaptureOptionsOf(options)),
      status_(status, options.line),
      typist_(std::move(keyboard)),
      connection_(table_, capture_, driver, typist_, status_,
                  [this](int port_number) { return DevicePath(port_number); }),
      supervisor_(table_, connection_, capture_, status_),
      requester_(table_, capture_, status_) {
  // A reader that finds its link lost, and the typist with a line it could not type, wake
  // the supervision loop, which otherwise sleeps for as long as every link is up.
  const auto wake = [this] {
    if (platform::StopSignal* waker = waker_.load()) waker->Notify();
  };
  connection_.SetLinkLostNotice(wake);
  typist_.SetReportNotice(wake);
  capture_.SetAnsiCodePage(platform::SystemCodePage());
  typist_.SetPacing({.key_delay = std::chrono::milliseconds(options.key_delay_ms),
                     .line_delay = std::chrono::milliseconds(options.line_delay_ms)});
  for (const PortRequest& request : options_.ports) {
    status_.SetPortLineSettings(request.port_number, LineSettingsOf(options_, request));
    capture_.PublishPortRules(request.port_number,
                              std::make_shared<const PortCaptureRules>(CaptureRulesOf(options_, request)));
    typist_.SetPortPacing(request.port_number, request.profile.OwnPacing());
  }
}

CliApp::~CliApp() { Release(); }

void CliApp::UseDelivery(std::unique_ptr<platform::ForegroundWindows> windows) {
  auto delivery = std::make_shared<Delivery>(std::move(windows));
  for (const PortRequest& request : options_.ports) delivery->SetRules(request.port_number, request.profile.Delivery());
  typist_.SetDelivery(std::move(delivery));
}

bool CliApp::ConnectAll() {
  for (const PortRequest& request : options_.ports) {
    if (connection_.Connect(request.port_number)) continue;
    if (!options_.ports_from_settings) return false;
    // Waits for its device as a lost link does: retried each second and on every arrival.
    table_[request.port_number].link_state.store(LinkState::kAwaitingReconnect);
  }
  return true;
}

void CliApp::DeviceArrived() {
  device_arrived_.store(true);
  if (platform::StopSignal* waker = waker_.load()) waker->Notify();
}

void CliApp::Serve(platform::StopSignal& stop, const std::function<bool()>& finished) {
  using Clock = LinkSupervisor::Clock;
  // How often `finished` is asked, when there is one.
  constexpr auto kFinishedPoll = std::chrono::milliseconds(50);
  // The longest single wait while every link is up; a notice (a lost link, a line not
  // typed) ends it sooner.
  constexpr auto kIdleWait = std::chrono::hours(1);
  waker_.store(&stop);
  if (device_arrived_.load()) stop.Notify();  // an arrival before the loop ran
  Clock::time_point next_tick = Clock::now();
  while (true) {
    // Reports that came before the loop, or while it worked, are printed before it waits.
    typist_.DeliverReports(status_);
    if (status_.output_lost() || (finished && finished())) break;
    const Clock::time_point before = Clock::now();
    // Ticks run once a second only while a link is lost or being retried; otherwise the
    // next lost link is taken at once.
    const bool link_work = supervisor_.HasLinkWork();
    if (!link_work) next_tick = before;
    Clock::time_point wake = link_work ? next_tick : before + kIdleWait;
    if (const auto due = supervisor_.NextDue()) wake = std::min(wake, *due);
    if (const auto due = requester_.NextDue()) wake = std::min(wake, *due);
    if (finished) wake = std::min(wake, before + kFinishedPoll);
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(std::max(wake, before) - before);
    if (stop.WaitFor(std::max(timeout, std::chrono::milliseconds(0)))) break;

    const Clock::time_point now = Clock::now();
    if (device_arrived_.exchange(false)) supervisor_.DevicesArrived();
    if (now >= next_tick && supervisor_.HasLinkWork()) {
      supervisor_.Tick(now);
      next_tick = now + LinkSupervisor::kTickInterval;
    }
    supervisor_.RunDue(now);
    // After the supervisor, so that a port it has just re-opened sends its text on connect.
    if (stop.TakeSendRequest()) requester_.SendNowToAll(now);
    requester_.RunDue(now);
  }
  waker_.store(nullptr);
}

Typist::Finished CliApp::Release() {
  connection_.ReleaseAllPorts();
  const Typist::Finished finished = typist_.Finish();
  typist_.DeliverReports(status_);
  return finished;
}

int ReportEnd(StatusLines& status, const Typist::Finished& finished) {
  if (!finished.joined) {
    status.Print("key output blocked at the stop: " + LinesText(finished.lines_not_typed) + " not typed");
  } else if (finished.lines_not_typed > 0) {
    status.Print(LinesText(finished.lines_not_typed) + " not typed");
  }
  return finished.lines_not_typed > 0 ? 1 : 0;
}

void ExitIfTypistLeftBehind(const Typist::Finished& finished, platform::StopSignal& stop, int status) {
  if (finished.joined) return;
  stop.PortsReleased();
  std::_Exit(status);
}

ResolvedDevice CliApp::DevicePath(int port_number) {
  if (!follower_) return WantedDevice(port_number);
  return follower_->Resolve(port_number, [this, port_number] { return WantedDevice(port_number); });
}

ResolvedDevice CliApp::WantedDevice(int port_number) const {
  for (const PortRequest& request : options_.ports) {
    if (request.port_number == port_number && !request.device_path.empty()) return request.device_path;
  }
  return system_paths_(port_number);
}

bool AnyTarget(const CliOptions& options) {
  return std::any_of(options.ports.begin(), options.ports.end(),
                     [](const PortRequest& port) { return port.profile.Delivery().target.has_value(); });
}

bool AnyPaste(const CliOptions& options) {
  return std::any_of(options.ports.begin(), options.ports.end(),
                     [](const PortRequest& port) { return port.profile.Delivery().method == DeliveryMethod::kPaste; });
}

bool AnySoundNotTyped(const CliOptions& options) {
  return std::any_of(options.ports.begin(), options.ports.end(),
                     [](const PortRequest& port) { return port.profile.Delivery().sound_not_typed; });
}

std::string DeliveryRefusal(const CliOptions& options, const std::string& chosen) {
  if (AnyTarget(options) && chosen.rfind("uinput", 0) == 0) {
    return "--target: the window in front cannot be read by an ordinary program under Wayland, which the uinput "
           "keyboard types for; a target needs an X session (--keys x11)";
  }
  return "";
}

std::unique_ptr<platform::Keyboard> OpenKeyboard(const CliOptions& options, std::FILE* trace_out, std::string* error,
                                                 std::string* chosen) {
  *chosen = options.keys;
  if (options.keys == "trace") return std::make_unique<platform::TraceKeyboard>(trace_out);
  return platform::OpenSystemKeyboard({.name = options.keys, .layout = options.layout}, error, chosen);
}

std::string KeyboardChoiceText(const CliOptions& options, const std::string& chosen) {
  if (chosen == options.keys && options.keys != "uinput") return "";
  return "keys: " + chosen;
}

}  // namespace lintrel::cli

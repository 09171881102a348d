#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/cli/cli_options.h"
#include "capture/capture_events.h"
#include "capture/link_supervisor.h"
#include "capture/port_connection.h"
#include "capture/port_table.h"
#include "capture/requester.h"
#include "capture/typist.h"
#include "discovery/device_identity.h"
#include "platform/foreground_window.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "platform/stop_signal.h"

namespace lintrel::cli {

// How long one message may wait for a stream that takes nothing (a paused terminal)
// before it is dropped.
inline constexpr std::chrono::milliseconds kMessageWriteLimit{100};

// Writes `prefix` and `text` as one line, control characters in `text` escaped, unless the
// stream takes nothing for kMessageWriteLimit.
void PrintMessage(std::FILE* out, std::string_view prefix, std::string_view text);

// The capture options as the command line gives them (every port's).
CaptureOptions CaptureOptionsOf(const CliOptions& options);

// The user interface of the command line: status lines on a stream.
class StatusLines : public CaptureEvents {
 public:
  StatusLines(std::FILE* out, LineSettings line) : out_(out), line_(std::move(line)) {}

  LineSettings PullLineSettings() override { return line_; }
  // A port with line settings of its own opens with those.
  LineSettings LineSettingsFor(int port_number) override;
  void SetPortLineSettings(int port_number, LineSettings line) { port_lines_[port_number] = std::move(line); }
  void PortConnected(int port_number, const std::string& device_path) override;
  void PortDisconnected(int port_number) override;
  void PortOpenFailed(int port_number, const std::string& device_path, const platform::SerialError& error,
                      bool reconnecting) override;
  void LinkLost(int port_number, const LinkLoss& loss) override;
  void LineNotTyped(int port_number, const std::string& reason, bool output_lost) override;
  void RequestProblem(int port_number, const std::string& problem) override;
  void DeliveryChanged(const DeliveryNotice& notice) override;

  // How many times any port has connected; readable from any thread.
  int connections() const { return connections_.load(); }
  // Whether the key output has gone for good, which ends the program.
  bool output_lost() const { return output_lost_; }

  void Print(std::string_view text);

 private:
  std::FILE* out_;
  LineSettings line_;
  std::map<int, LineSettings> port_lines_;
  std::atomic<int> connections_{0};
  bool output_lost_ = false;
  std::map<int, bool> lost_;                       // ports between a lost link and its re-open
  std::map<int, std::string> last_retry_failure_;  // so each new reason is reported once
};

// The capture engine as the command line runs it.
class CliApp {
 public:
  // A port given without a device path opens the device `system_paths` names for it. With
  // `identities`, a port re-opens only the device it first opened (see DeviceFollower).
  CliApp(const CliOptions& options, std::shared_ptr<platform::Keyboard> keyboard, platform::SerialDriver& driver,
         std::FILE* status, DevicePathResolver system_paths, DeviceIdentities* identities = nullptr);
  ~CliApp();

  // Connects every requested port; false (with status lines) if one could not be opened.
  // Saved ports that cannot be opened are left to the supervisor's retries instead.
  bool ConnectAll();
  // A serial device has appeared: the ports waiting for theirs are tried at once. Safe to
  // call from any thread (a device monitor's).
  void DeviceArrived();
  // Supervises the links until a stop is requested, the key output is lost, or `finished`
  // says so.
  void Serve(platform::StopSignal& stop, const std::function<bool()>& finished = {});
  // Stops every reader and releases every port, then gives the typist what time is left
  // to type the lines it holds. Says how many lines were not typed in all.
  Typist::Finished Release();

  // Shows what every reader receives and makes of it (see LineMonitor). Before ConnectAll().
  void SetLineMonitor(std::shared_ptr<LineMonitor> monitor) { connection_.SetLineMonitor(std::move(monitor)); }

  // Types each port's lines where and how its --target, --elsewhere and --delivery say,
  // seeing the desktop through `windows` (null: no port has a target, and lines go to the
  // window in front). Before ConnectAll().
  void UseDelivery(std::unique_ptr<platform::ForegroundWindows> windows);
  // The clipboard the lines of ports with --delivery paste go through. Before ConnectAll().
  void UseClipboard(std::shared_ptr<platform::Clipboard> clipboard) { typist_.SetClipboard(std::move(clipboard)); }

  Typist& typist() { return typist_; }
  StatusLines& status() { return status_; }

 private:
  ResolvedDevice DevicePath(int port_number);
  ResolvedDevice WantedDevice(int port_number) const;

  CliOptions options_;
  DevicePathResolver system_paths_;
  std::optional<DeviceFollower> follower_;
  SharedCaptureOptions capture_;
  StatusLines status_;
  // Before the connection: its readers are joined before the typist is finished.
  Typist typist_;
  PortTable table_;
  PortConnection connection_;
  LinkSupervisor supervisor_;
  Requester requester_;
  std::atomic<platform::StopSignal*> waker_{nullptr};  // the loop's wait, while Serve() runs
  std::atomic<bool> device_arrived_{false};
};

// The status lines that end a run: what was not typed. Returns the exit status: 0, or 1
// when any line was not typed.
int ReportEnd(StatusLines& status, const Typist::Finished& finished);

// Ends the process at once when the typist was left inside a blocked output: the usual
// exit would flush standard output, which blocks too, and destroy the keyboard under the
// typist. The ports are released by then.
void ExitIfTypistLeftBehind(const Typist::Finished& finished, platform::StopSignal& stop, int status);

// Whether any port has a --target.
bool AnyTarget(const CliOptions& options);
// Whether any port's lines are delivered by paste.
bool AnyPaste(const CliOptions& options);
// Whether any port has --sound-not-typed.
bool AnySoundNotTyped(const CliOptions& options);
// Why the run cannot deliver as its ports ask with the keyboard `chosen` (OpenKeyboard's
// *chosen); empty when it can.
std::string DeliveryRefusal(const CliOptions& options, const std::string& chosen);

// Opens the keyboard that --keys names ("trace" writes to `trace_out`) with the --layout
// given; null and *error when it cannot be opened. *chosen says which keyboard it is.
std::unique_ptr<platform::Keyboard> OpenKeyboard(const CliOptions& options, std::FILE* trace_out, std::string* error,
                                                 std::string* chosen);

// The status line that names the keyboard opened ("keys: uinput (a Wayland session), layout
// de") when --keys alone does not say it: auto chose one, or uinput types for a layout.
// Empty otherwise.
std::string KeyboardChoiceText(const CliOptions& options, const std::string& chosen);

}  // namespace lintrel::cli

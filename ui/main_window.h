#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture_events.h"
#include "capture/delivery.h"
#include "capture/link_supervisor.h"
#include "capture/port_connection.h"
#include "capture/port_table.h"
#include "capture/requester.h"
#include "discovery/device_identity.h"
#include "discovery/port_list.h"
#include "capture/typist.h"
#include "platform/clipboard.h"
#include "platform/foreground_window.h"
#include "platform/keyboard.h"
#include "platform/serial_port.h"
#include "settings/capture_options.h"
#include "settings/connection_memory.h"
#include "settings/line_settings.h"
#include "settings/port_profile.h"
#include "settings/settings_store.h"
#include "ui/messages.h"
#include "ui/own_window_guard.h"
#include "ui/requests_form.h"
#include "ui/system_notices.h"

namespace lintrel::ui {

// The tray icon images that show the current port's state.
enum class TrayImage { kNormal, kActivity, kPaused };

inline constexpr std::string_view kConnectCaption = "Connect";
inline constexpr std::string_view kDisconnectCaption = "Disconnect";
inline constexpr std::string_view kPauseCaption = "Pause";
inline constexpr std::string_view kResumeCaption = "Resume";

// What the main window's logic asks of the window itself (the Windows dialog, or a test
// double). Every call comes on the UI thread.
class MainWindowView {
 public:
  virtual ~MainWindowView() = default;

  // The text of the Port list's selected entry; empty when none is selected.
  virtual std::string SelectedPortText() = 0;
  // The selected positions of the baud rate, parity, data bit and stop bit lists (-1: none).
  virtual LineSettings ReadLineControls() = 0;
  // Selects the four positions in those lists (a port's own line settings).
  virtual void ShowLineControls(const LineSettings& line) = 0;
  virtual void SetConnectCaption(std::string_view caption) = 0;
  // The Pause button: "Pause" or "Resume", usable while the current port is connected.
  virtual void SetPauseCaption(std::string_view caption) = 0;
  virtual void EnablePause(bool enabled) = 0;
  // Enables or disables the four line-setting lists (the Port list stays enabled).
  virtual void EnableLineSettings(bool enabled) = 0;
  // The line that says what the ports are doing.
  virtual void SetStatusText(std::string_view text) = 0;
  virtual void ShowMessage(std::string_view text) = 0;
  // A notice that does not stop the user (a balloon of the tray icon).
  virtual void ShowNotice(std::string_view title, std::string_view text) = 0;
  virtual void SetTrayImage(TrayImage image) = 0;
  // The tray icon's tip (what shows with the pointer over it).
  virtual void SetTrayTip(std::string_view text) = 0;
  // Lists the system's ports again, with `active_ports` (connected or waiting) among them
  // also when the system no longer lists them, and the entry selected before still selected.
  virtual void RefreshPortList(const std::vector<int>& active_ports) = 0;
};

// What a port is doing, as the window shows it.
enum class PortActivity {
  kIdle,
  kConnected,
  kPaused,
  kWaiting,  // its link was lost; it is re-opened once its device is back
};

struct PortStatus {
  int port_number;
  PortActivity activity;
  // The port whose name its device has now, when the port followed its device to another
  // name; -1 when it has the port's own.
  int device_port = -1;
};

// The status line for the ports that are not idle, in the order given: "COM3, COM5
// connected; COM4 paused; COM7 waiting for its device", or that no port is connected; then
// "COM5 is now COM8" for each port that followed its device to another name.
std::string PortStatusText(const std::vector<PortStatus>& ports);

// The Port list after the system's ports changed: `system_ports`, plus each of
// `active_ports` the system no longer lists (it can still be disconnected there).
PortList WithActivePorts(PortList system_ports, const std::vector<int>& active_ports);

// The notice for lines kept out of this program's own windows.
std::string DroppedLinesNotice(const OwnWindowGuard::Dropped& dropped);
// The status line with the reason the user's last connect failed after it: "No port
// connected. COM9 open failed: ...", "COM3 connected; COM9 open failed: ...".
std::string WithOpenFailure(const std::string& status, const std::string& failure);
// The notice for a line the key output did not take (once per cause).
std::string LineNotTypedNotice(int port_number, const std::string& reason);

// A notice's title and text.
struct NoticeText {
  std::string title;
  std::string text;
  bool operator==(const NoticeText&) const = default;
};
// The notice about a change of a port's delivery (lines waiting for its target, no longer
// waiting, given up, typed as Unicode for a remote session).
NoticeText DeliveryNoticeText(const DeliveryNotice& notice);
// The tray icon's tip: the program's name, and the ports whose lines wait for their target
// (port number to target, as the notices name it).
std::string TrayTipText(const std::map<int, std::string>& waiting);
// The status line with the ports whose lines wait after it.
std::string WithWaitingLines(const std::string& status, const std::map<int, std::string>& waiting);

// How the window keeps lines out of its own windows (each may be called on any thread).
struct OwnWindowHooks {
  std::function<bool()> foreground_is_ours;
  // The window in front now, as an opaque handle (0 for none): a paced line stops when another
  // window than the one it began in comes to the front.
  std::function<std::uintptr_t()> foreground_window;
  // Asks the UI thread to call MainWindow::ShowDroppedLines(); also when the typist has a
  // line not typed to report. Must not block.
  std::function<void()> wake_ui;
};

// The two texts of the tray menu that depend on the current port.
struct TrayMenuTexts {
  std::string_view connect;  // "Connect" or "Disconnect"
  std::string_view pause;    // "Pause" or "Resume"
};

// What the Options dialog edits: the capture options and the shaping of one port (its own
// values over the shared ones), or the shared capture options when no port is selected.
struct PortOptions {
  int port_number = -1;  // -1: no port, the shared options
  CaptureOptions options{};
  ShapingRules shaping{};
  RecordRules records{};
  Pacing pacing{};
  DeliveryRules delivery{};  // a port's alone
  // What the port sends to its device, and its hotkey: a port's alone.
  PortRequestValues requests{};
};

// The main window's logic: the port table, the capture options, connecting, pausing, the
// once-a-second supervision, the tray icon and saving the line settings.
//
// Thread contract: every call on the UI thread. The readers it starts hand their lines to
// one typing thread; the destructor stops and joins every reader before the ports are
// released, and gives the typist a short while for what it holds: an output that takes
// nothing (typing stuck) never holds up the closing.
class MainWindow : private CaptureEvents {
 public:
  using Clock = LinkSupervisor::Clock;
  // How long the tray icon shows its activity image each second.
  static constexpr std::chrono::milliseconds kFlashDuration{500};
  // While lines keep being dropped this close after each other, the notice about them is
  // one, its count the total: a notice shown anew replaces the one before, which would
  // otherwise say only how many came since.
  static constexpr std::chrono::seconds kDroppedLinesSpan{10};

  // `device_path` names the device of a port by its name. With `identities` (which must
  // outlive the window), a port follows the device it was connected to (see
  // SetFollowDevices). The keyboard goes to the typing thread, which keeps it while it runs.
  MainWindow(MainWindowView& view, platform::SerialDriver& driver, std::shared_ptr<platform::Keyboard> keyboard,
             DevicePathResolver device_path, OwnWindowHooks own_window = {},
             DeviceIdentities* identities = nullptr);
  // Destroying the connection stops and joins every reader before its port is released.
  ~MainWindow() override = default;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // The user picked an entry of the Port list: it becomes the current port, and the
  // Connect button shows what it would do to that port.
  void SelectPortFromCombo(std::string_view entry_text);
  // Whether the user has picked a port since the start (the saved port selected at start
  // does not count): until then the Options dialog edits the options every port shares.
  bool port_picked() const { return port_picked_; }
  // The Connect button and the tray menu's first item. Before any port was picked, the
  // Port list's selected entry is taken. A port waiting for its device counts as
  // connected: the button offers Disconnect, which stops the waiting.
  void TogglePortConnection();
  // The tray menu's Pause/Resume: only a connected port pauses.
  void TogglePause();
  TrayMenuTexts MenuTexts() const;
  // The tray menu's "Send now": sends the current port's poll text at once. False when the
  // port has no poll, or is not connected, or is paused.
  bool SendNow(Clock::time_point now);
  // The same for the port a hotkey belongs to, whichever port is current.
  bool SendNowTo(int port_number, Clock::time_point now);
  // The hotkeys the ports' profiles set, by port number.
  std::map<int, Hotkey> PortHotkeys();

  // The once-a-second timer: the tray icon shows the current port's state (flashing while it
  // is connected), lines that were not typed are told, then lost links are supervised. Between
  // ticks, the deadlines: the end of the flash, the reconnection delays and the ports'
  // requests (text on connect, polls, reply timeouts).
  void Tick(Clock::time_point now);
  void RunDue(Clock::time_point now);
  std::optional<Clock::time_point> NextDue() const;

  // Whether the end character of what the Options dialog edits may be changed now: the
  // current port's while that port is not connected (other ports may be); before the user
  // picked a port, the shared one while no port is open.
  bool EndCharacterEditable() const;

  // Types each port's lines where and how its profile's target, elsewhere and delivery values
  // say, looking at the desktop's windows through `windows`, which must never name a window
  // of this program as any target's; before the first port is connected. Without it every
  // line goes to the window in front. With `clipboard`, lines can also be typed by pasting.
  void UseDelivery(std::unique_ptr<platform::ForegroundWindows> windows,
                   std::unique_ptr<platform::Clipboard> clipboard = nullptr);

  // Where the ports' profiles and the shared options are kept (see port_profile.h): the
  // shared options are read now; a port's profile when it is first selected or opened; its
  // line settings are written when the user connects it, its options (or the shared ones) on
  // the Options dialog's OK. Null: nowhere (every port uses the shared values, which start
  // from their defaults).
  void UseProfilesIn(SettingsStore* store);
  // What the Options dialog shows: the current port's options (its own over the shared
  // ones); the shared ones until the user picks a port (the saved port selected at start is
  // not picked yet), or for an entry that names no port.
  PortOptions OptionsForDialog();
  // The Options dialog's OK: the reconnection delay and the encoding are every port's; for a
  // port, the values that differ from the shared ones become its own and are stored, the
  // others are no longer its own; without a port, the shared options change, the shaping
  // included, for every port that has no value of its own. False, with *error, when the
  // profile could not be stored (the options are in force all the same).
  bool ApplyOptions(const PortOptions& edited, std::string* error);
  // The port whose lines the Monitor window shows: the current one (0 before the user
  // picked one: then the Port list's selected entry, if it names a port).
  int MonitoredPort();
  // Shows every reader's chunks and lines to `monitor` from now on (null: to none).
  void SetLineMonitor(std::shared_ptr<LineMonitor> monitor) { connection_.SetLineMonitor(std::move(monitor)); }
  // Whether any port is connected or waiting for its device: then Enter and Escape do not
  // end the program, which would stop the capture without a word.
  bool HasActivePorts() const;
  PortActivity ActivityOf(int port_number) const;
  // The ports whose lines wait for their target now, and that target (APP[:TITLE-PART]).
  const std::map<int, std::string>& waiting() const { return waiting_; }

  // Shows the status line (at start, and after anything that may have changed it).
  void ShowPortStatus();
  // On the UI thread, after OwnWindowHooks::wake_ui: tells the user of the lines dropped
  // because a window of this program had the focus (counted together while they come
  // within kDroppedLinesSpan of each other), and of lines the key output did not take.
  void ShowDroppedLines(Clock::time_point now);

  // On (the default, with identities): a port re-opens the device it was connected to, also
  // under another name ("COM5 is now COM7"), and never another device that took its name.
  // Off: a port opens whatever device has its name.
  void SetFollowDevices(bool follow);
  // Where the connected ports are remembered (see connection_memory.h): written whenever the
  // user connects or disconnects a port, so that they are known however the program ends.
  // A port that waits for its device stays remembered. Null: nowhere.
  void RememberConnectionsIn(SettingsStore* store);
  // At start: connects the remembered ports, each with its line settings and its device. A
  // port that cannot be opened waits for its device without a word, as after a lost link.
  void Reconnect(const std::vector<RememberedPort>& ports);
  // The ports connected or waiting, as they would be remembered now.
  std::vector<RememberedPort> RememberedPorts() const;
  std::vector<int> ActivePorts() const;

  // A device notice: on an arrival (or an unnamed change) every port waiting for its device
  // is tried at once; on any change the Port list is listed again.
  void OnDeviceChange(DeviceChange change);
  // The computer woke up: lost links are released and every waiting port is tried at once.
  void Resumed(Clock::time_point now);

  // Writes the Port list's selected text and the four line-setting positions. False, with
  // *error, when the store could not be written.
  // Without `with_port` (a policy selects the port at start) the port is not written.
  bool SaveSettings(SettingsStore& store, std::string* error, bool with_port = true);
  // Stops every reader and releases every port.
  void ReleaseAllPorts();

  SharedCaptureOptions& capture_options() { return options_; }
  const PortTable& port_table() const { return table_; }
  int current_port() const { return current_port_; }

 private:
  // CaptureEvents: what the engine tells the window.
  LineSettings PullLineSettings() override;
  // A port is re-opened with the settings it was first opened with, whatever the controls
  // show now (they may be set up for another port).
  LineSettings LineSettingsFor(int port_number) override;
  void PortConnected(int port_number, const std::string& device_path) override;
  void PortDisconnected(int port_number) override;
  void PortOpenFailed(int port_number, const std::string& device_path, const platform::SerialError& error,
                      bool reconnecting) override;
  void LineNotTyped(int port_number, const std::string& reason, bool output_lost) override;
  void RequestProblem(int port_number, const std::string& problem) override;
  void DeliveryChanged(const DeliveryNotice& notice) override;

  ResolvedDevice ResolveDevice(int port_number);
  // After the user's connect or disconnect left the port idle: its settings, device and
  // name are its own again.
  void ForgetPort(int port_number);
  // Writes the remembered ports when they changed.
  void RememberConnections();

  // The port's profile, read from the store at its first use (warnings shown as notices).
  PortProfile& ProfileOf(int port_number);
  // Readers of the port use its own rules (over the shared shaping) from now on, and the
  // typist its own delays.
  void PublishRules(int port_number);
  // After the user connected the port: the line settings it was opened with are its own.
  void SaveProfileLine(int port_number);
  // Writes the shared options where the profiles are kept; false with *error on failure.
  bool StoreSharedOptions(std::string* error);

  // Makes the entry the current port (SelectPortFromCombo without the user's pick).
  void SelectEntry(std::string_view entry_text);
  // Shows the port's line settings in the lists: what an active port runs with, an idle
  // port's own (the lists stay as they are for a port that has none).
  void ShowLineSettingsOf(int port_number);
  // The current port's slot, or null when no valid port is selected (COM300).
  const PortSlot* CurrentSlot() const;
  // The button's caption and the line settings' state follow the current port.
  void ShowCurrentPort();
  void RefreshTrayIcon(Clock::time_point now);

  MainWindowView& view_;
  SharedCaptureOptions options_;
  Pacing pacing_;
  PortTable table_;
  OwnWindowGuard guard_;
  // Before the connection, whose readers are joined before the typist is finished; after
  // the guard, which it asks before each line.
  Typist typist_;
  PortConnection connection_;
  LinkSupervisor supervisor_;
  // Sends each port's requests (text on connect, polls) from the UI thread's timers.
  Requester requester_;
  // What the view shows now, so that it is told only of changes.
  std::string caption_shown_;
  std::string pause_caption_shown_;
  std::optional<bool> pause_enabled_;
  std::optional<bool> line_settings_enabled_;
  std::optional<std::string> status_shown_;
  // The port the button, the tray menu and the icon act on; 0 until the user picks one.
  // It may name no port (-1), which then fails to connect and shows the normal icon.
  int current_port_ = 0;
  bool port_picked_ = false;
  std::optional<Clock::time_point> flash_ends_;
  // Why the user's last connect failed, for the status line until the next one.
  std::string open_failure_;
  // The lines dropped so far in the run of drops the notice shows, and the last drop's time.
  OwnWindowGuard::Dropped dropped_shown_;
  Clock::time_point last_drop_{};
  // The shaping of every port that sets none of its own.
  ShapingRules shared_shaping_;

  DevicePathResolver device_path_;
  DeviceIdentities* identities_;
  std::optional<DeviceFollower> follower_;
  bool follow_devices_ = true;
  // The line settings each port was opened with, for its re-opens.
  std::array<std::optional<LineSettings>, kPortNumberCount> opened_with_{};
  // Ports whose device has another port's name now: port number to that port's number.
  std::map<int, int> device_ports_;
  SettingsStore* memory_ = nullptr;
  std::vector<RememberedPort> remembered_;
  SettingsStore* profile_store_ = nullptr;
  std::map<int, PortProfile> profiles_;  // read so far
  // Shared with the typist, which asks it before each line; null without UseDelivery().
  std::shared_ptr<Delivery> delivery_;
  // The ports whose lines wait for their target, and that target.
  std::map<int, std::string> waiting_;
  // The ports told that their stored method cannot be used in this version.
};

}  // namespace lintrel::ui

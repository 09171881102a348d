// lintrel.exe, the Windows program, run under Wine on a private Xvfb display inside a Wine
// desktop (with its taskbar and notification area). A driver program of the tests reads and
// works its windows from outside, the way a user's clicks and keys would; COM ports are
// pseudo-terminal pairs; lines are typed into a separate window of the tests and read back.
// Screenshots of the main window and the Options dialog are left in the build folder.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "platform/virtual_serial_device.h"
#include "support/network_peers.h"
#include "support/xvfb_server.h"
#include "ui/win32/resource.h"
#include "wine/gui_driver_client.h"
#include "wine/port_registry.h"
#include "wine/wine_prefix.h"
#include "wine/wine_suite.h"

namespace lintrel::testing {
namespace {

using std::chrono::milliseconds;

constexpr char kLintrel[] = LINTREL_WINDOWS_GUI_PATH;
constexpr char kDriver[] = LINTREL_GUI_DRIVER_PATH;
constexpr char kKeyTarget[] = LINTREL_KEY_TARGET_PATH;
constexpr char kPtyShim[] = LINTREL_PTY_SHIM_PATH;
constexpr char kScreenshotFolder[] = LINTREL_SCREENSHOT_DIR;
constexpr char kSettingsKey[] = "HKEY_CURRENT_USER\\Software\\VANTORIL SOFTWARE\\lintrel";
constexpr char kPolicyKey[] = "HKEY_LOCAL_MACHINE\\Software\\Policies\\VANTORIL SOFTWARE\\lintrel";
constexpr char kRunKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Two pseudo-terminal ports in the device map beside the ports of kPortRegistry, and COM9,
// which the device map lists but no device stands behind.
constexpr char kTestPortsRegistry[] =
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n"
    "\"\\\\Device\\\\Serial5\"=\"COM5\"\r\n"
    "\"\\\\Device\\\\Serial12\"=\"COM12\"\r\n"
    "\"\\\\Device\\\\Serial9\"=\"COM9\"\r\n";
// The Port list, by port number, and its entry that adds a network port.
constexpr char kPortEntries[] = "COM1|COM2|COM5|COM7|COM9|COM10|COM12|Network port...";
constexpr char kPortOpenFail[] = "Port open fail!!\\r\\nPlease check the status!!";
// Between two writes that must reach the program as two separate reads.
constexpr milliseconds kPauseBetweenReads(200);

constexpr int kMessageText = GuiDriverClient::kMessageText;

std::string Id(int id) { return std::to_string(id); }

class WineGuiTest : public WineSuite<85, /*kVirtualDesktop=*/true> {
 protected:
  // A German keymap: the typing cases show that keys follow the layout, and the dead keys
  // (^, ` and ´) are there.
  static void SetUpTestSuite() { StartSuite("de"); }

  void SetUp() override {
    SetUpSuite({kLintrel, kDriver, kKeyTarget});
    if (IsSkipped() || HasFatalFailure()) return;
    // No stored settings nor policies, no start at login, and the ports of the tests in the
    // device map.
    std::string error;
    ASSERT_TRUE(prefix().ImportRegistry(std::string("[-") + kSettingsKey + "]\r\n[-" + kPolicyKey + "]\r\n[" + kRunKey +
                                            "]\r\n\"Lintrel\"=-\r\n" + kPortRegistry + "\r\n" + kTestPortsRegistry,
                                        &error))
        << error;
  }

  void TearDown() override {
    if (HasFailure()) Screenshot(std::string("failed-") + CurrentTestName());
    // A program a failed test left running would take the next test's windows.
    if (app_) {
      Drive({"close", "main"});
      app_->WaitForExit();
      app_.reset();
    }
    if (target_) {
      Drive({"close", "target"});
      target_->WaitForExit();
      target_.reset();
    }
    for (auto& [name, receiver] : receivers_) {
      Drive({"close", "target=" + name});
      receiver->WaitForExit();
    }
    receivers_.clear();
  }

  static const char* CurrentTestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

  // The driver of lintrel.exe's windows (see gui_driver_client.h).
  static GuiDriverClient Driver() { return GuiDriverClient(prefix(), kDriver); }
  std::vector<std::string> Drive(const std::vector<std::string>& verbs) { return Driver().Drive(verbs); }
  std::string DriveOne(const std::vector<std::string>& verbs) { return Driver().DriveOne(verbs); }

  // Starts lintrel.exe (with the shim that gives ptys modem lines) and waits for its window.
  void StartLintrel(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {kLintrel};
    args.insert(args.end(), options.begin(), options.end());
    app_ = prefix().Start(args, {"LD_PRELOAD=" + std::string(kPtyShim), "PTYSHIM_DIR=" + prefix().root().string()});
    if (options.empty()) {
      ASSERT_EQ(DriveOne({"wait", "main"}), "ok") << "the main window did not appear";
    } else {
      ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"count", "main"}) == "1"; })) << "no main window";
    }
  }

  // A value the running program writes after what the test did has shown (a dialog closed,
  // a caption changed): looked for until it is there.
  bool StoredBecomes(const std::string& key, const std::string& name, const std::string& expected) {
    return app_->WaitUntil([&] { return prefix().QueryValue(key, name) == expected; });
  }

  bool StatusBecomes(const std::string& expected) {
    return app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_STATUS)}) == expected; });
  }

  // Waits for lintrel.exe to end by itself and checks that it ended well.
  void ExpectLintrelEnds() {
    ASSERT_TRUE(app_);
    const std::optional<ExitStatus> status = app_->WaitForExit();
    ASSERT_TRUE(status.has_value()) << "lintrel.exe did not end";
    EXPECT_TRUE(status->exited && status->code == 0) << app_->Describe();
    app_.reset();
  }

  // Which of the three images the notification area shows now, told by the colour of its
  // tile: blue (normal), green (activity) or amber (paused). The Wine desktop's notification
  // area holds the program's icon alone, at the right end of the taskbar.
  std::string TrayImageShown() {
    const std::string picture = (prefix().root() / "tray.png").string();
    ChildProcess capture("/usr/bin/env", {"DISPLAY=" + display_name(), "import", "-window", "root", "-crop",
                                          "16x16+1006+750", picture});
    capture.WaitForExit();
    ChildProcess average("/usr/bin/convert", {picture, "-scale", "1x1!", "txt:-"});
    average.WaitForExit();
    double red = 0, green = 0, blue = 0;
    const std::size_t open = average.out().find("0,0: (");
    if (open == std::string::npos ||
        std::sscanf(average.out().c_str() + open, "0,0: (%lf,%lf,%lf)", &red, &green, &blue) != 3) {
      return "unreadable";
    }
    if (red > blue) return "paused";
    if (green > blue) return "activity";
    return "normal";
  }

  // The images the notification area shows while the program runs on for `samples` looks.
  std::set<std::string> TrayImagesSeen(int samples) {
    std::set<std::string> seen;
    for (int i = 0; i < samples; ++i) seen.insert(TrayImageShown());
    return seen;
  }

  // Picks the port in the Port list as a user would.
  void SelectPort(const std::string& name) {
    const std::vector<std::string> entries = Split(DriveOne({"list", "main", Id(IDC_PORT)}), '|');
    for (std::size_t i = 1; i < entries.size(); ++i) {
      if (entries[i] == name) {
        ASSERT_EQ(DriveOne({"select", "main", Id(IDC_PORT), std::to_string(i - 1)}), "ok");
        return;
      }
    }
    FAIL() << name << " is not in the Port list: " << Describe();
  }

  // What the program shows, for a failure's message.
  std::string Describe() {
    std::string text = "Port list \"" + DriveOne({"list", "main", Id(IDC_PORT)}) + "\", status \"" +
                       DriveOne({"text", "main", Id(IDC_STATUS)}) + "\"";
    if (DriveOne({"visible", "message"}) == "1") {
      text += ", message \"" + DriveOne({"text", "message", Id(kMessageText)}) + "\"";
    }
    return text;
  }

  void ConnectPort(const std::string& name) {
    SelectPort(name);
    ASSERT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Connect");
    Drive({"click", "main", Id(IDC_CONNECT)});
    ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_CONNECT)}) == "Disconnect"; }))
        << name << " did not connect: " << Describe();
  }

  // Starts lintrel.exe with COMn on a new pseudo-terminal pair, connected.
  std::unique_ptr<platform::VirtualSerialDevice> StartConnectedTo(int port_number) {
    std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(port_number);
    if (device == nullptr) return nullptr;
    StartLintrel();
    if (!HasFatalFailure()) ConnectPort("COM" + std::to_string(port_number));
    return HasFatalFailure() ? nullptr : std::move(device);
  }

  // Starts lintrel.exe with COM5 connected, its stored target `target`.
  std::unique_ptr<platform::VirtualSerialDevice> StartConnectedToTarget(const std::string& target) {
    std::string error;
    const bool stored = prefix().ImportRegistry(
        std::string("[") + kSettingsKey + "\\Ports\\COM5]\r\n\"Target\"=\"" + target + "\"\r\n", &error);
    EXPECT_TRUE(stored) << error;
    return stored ? StartConnectedTo(5) : nullptr;
  }

  // Starts the typing target; it takes the focus, so start it after the clicks.
  std::filesystem::path StartTypingTarget() {
    const std::filesystem::path typed = prefix().root() / (std::string(CurrentTestName()) + ".typed");
    std::filesystem::remove(typed);
    target_ = prefix().Start({kKeyTarget, WinePrefix::WindowsPath(typed)});
    EXPECT_TRUE(TypedBecomes(typed, "")) << "the typing target never had the focus";
    return typed;
  }

  // Starts a copy of the typing target named NAME.exe, a program of that name, which takes
  // the focus; what is typed into it goes to the file it returns.
  std::filesystem::path StartReceiver(const std::string& name) {
    const std::filesystem::path program = prefix().root() / (name + ".exe");
    std::filesystem::copy_file(kKeyTarget, program, std::filesystem::copy_options::overwrite_existing);
    const std::filesystem::path typed = prefix().root() / (name + ".typed");
    std::filesystem::remove(typed);
    receivers_.emplace_back(name, prefix().Start({program.string(), WinePrefix::WindowsPath(typed)}));
    EXPECT_TRUE(TypedBecomes(typed, "")) << name << " never had the focus";
    return typed;
  }

  bool BalloonHas(const std::string& text) {
    return app_->WaitUntil([&] { return DriveOne({"balloon"}).find(text) != std::string::npos; });
  }

  bool TypedBecomes(const std::filesystem::path& typed, const std::string& expected) {
    return app_->WaitUntil([&] { return ReadWhole(typed) == expected; });
  }

  // The message box's text, which is then closed with its OK button.
  std::string TakeMessage() { return Driver().TakeMessage(); }

  // A picture of one window (or, without one, of the whole Wine desktop) for a person to
  // look at. The Wine desktop covers the display, so the window's screen rectangle is its
  // place in the picture.
  void Screenshot(const std::string& name, const std::string& window = "") {
    std::filesystem::create_directories(kScreenshotFolder);
    const std::string file = std::string(kScreenshotFolder) + "/" + name + ".png";
    std::vector<std::string> args = {"DISPLAY=" + display_name(), "import", "-window", "root"};
    if (!window.empty()) {
      const std::string rectangle = DriveOne({"rect", window});
      if (rectangle.find('x') != std::string::npos && rectangle.rfind("error", 0) != 0) {
        args.insert(args.end(), {"-crop", rectangle});
      }
    }
    args.push_back(file);
    ChildProcess import("/usr/bin/env", args);
    import.WaitForExit();
  }

  // What the program wrote to the pair's port until it holds `expected` (or the wait ends).
  std::string WrittenUntil(const PtyPair& pair, std::string& written, const std::string& expected) {
    app_->WaitUntil([&] {
      written += pair.ReadFor(milliseconds(100));
      return written.find(expected) != std::string::npos;
    });
    return written;
  }

  std::unique_ptr<ChildProcess> app_;
  std::unique_ptr<ChildProcess> target_;
  std::vector<std::pair<std::string, std::unique_ptr<ChildProcess>>> receivers_;
};

TEST_F(WineGuiTest, FirstStartShowsTheWindowWithTheDefaultsAndEscapeSavesNothing) {
  StartLintrel();
  EXPECT_EQ(DriveOne({"text", "main"}), "Lintrel");

  // Every control of the window, in tab order, with its text.
  const std::vector<std::string> controls = Split(DriveOne({"controls", "main"}), ';');
  std::vector<std::string> described;
  for (const std::string& control : controls) {
    const std::vector<std::string> fields = Split(control.substr(control.find_first_not_of(' ')), '|');
    ASSERT_GE(fields.size(), 3u) << control;
    if (fields[1] == "Static" && fields[0] == "-1" && fields[2].find(':') == std::string::npos) continue;  // logo
    // A drop-down list's own text is its selection, read below.
    described.push_back(fields[0] + " " + fields[1] + (fields[1] == "ComboBox" ? "" : " " + fields[2]));
  }
  EXPECT_EQ(described, (std::vector<std::string>{"-1 Static Port:", "1000 ComboBox", "-1 Static Baud rate:",
                                                 "1001 ComboBox", "-1 Static Parity:", "1002 ComboBox",
                                                 "-1 Static Data bit:", "1003 ComboBox", "-1 Static Stop bit:",
                                                 "1004 ComboBox", "1005 Button Connect", "1022 Button Pause",
                                                 "1006 Button Options", "1008 Button Monitor", "1007 Button About",
                                                 "1013 Static No port connected."}));

  // The line lists with their defaults selected: 1200 baud, no parity, 8 data bits, 1 stop bit.
  EXPECT_EQ(DriveOne({"list", "main", "1001"}), "1|600|1200|2400|4800|9600|14400|19200|38400|56000|57600|115200");
  EXPECT_EQ(DriveOne({"list", "main", "1002"}), "0|None|Odd|Even|Mark|Space");
  EXPECT_EQ(DriveOne({"list", "main", "1003"}), "1|7|8");
  EXPECT_EQ(DriveOne({"list", "main", "1004"}), "0|1|2");
  // The Port list from the device map (less its Bluetooth modem entry) and the Bluetooth
  // stack's keys, sorted; the default "COM1" selects COM1 itself, not COM10.
  EXPECT_EQ(DriveOne({"list", "main", Id(IDC_PORT)}), std::string("0|") + kPortEntries);
  Screenshot("main-window", "main");

  // The About box, from its button and from the system menu's item.
  for (const std::vector<std::string>& open : {std::vector<std::string>{"click", "main", Id(IDC_ABOUT)},
                                               std::vector<std::string>{"syscommand", "main", "16"}}) {
    Drive(open);
    ASSERT_EQ(DriveOne({"wait", "about"}), "ok");
    EXPECT_NE(DriveOne({"controls", "about"}).find("Lintrel Version 1.02"), std::string::npos);
    EXPECT_EQ(Drive({"click", "about", "1", "gone", "about"}).back(), "ok");
  }

  // Escape ends the program without saving.
  Drive({"fg", "main", "key", "escape"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), std::nullopt);

  // An option it does not know is said, and nothing starts.
  app_ = prefix().Start({kLintrel, "--bogus"});
  EXPECT_EQ(TakeMessage(),
            "Unknown option \"--bogus\".\\n\\nlintrel.exe takes --tray (start hidden, with the icon in the "
            "notification area only) and --version.");
  const std::optional<ExitStatus> status = app_->WaitForExit();
  ASSERT_TRUE(status.has_value());
  EXPECT_TRUE(status->exited && status->code == 2) << app_->Describe();
  app_.reset();
  EXPECT_EQ(DriveOne({"count", "main"}), "0");
}

TEST_F(WineGuiTest, TheSavedPortIsSelectedAndTheCloseBoxSavesTheFiveValues) {
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kSettingsKey +
                                          "]\r\n\"Port\"=\"com1\"\r\n\"Baud rate\"=dword:0000000b\r\n"
                                          "\"Stop bit\"=dword:00000001\r\n",
                                      &error))
      << error;
  StartLintrel();
  // The saved port itself, although COM10 begins with it too and comes first in the prefix
  // search.
  EXPECT_EQ(DriveOne({"list", "main", Id(IDC_PORT)}), std::string("0|") + kPortEntries);
  // A stored rate outside the list shows no selection; the stop bits are the stored two.
  EXPECT_EQ(Split(DriveOne({"list", "main", Id(IDC_BAUD_RATE)}), '|').front(), "-1");
  EXPECT_EQ(Split(DriveOne({"list", "main", "1004"}), '|').front(), "1");

  SelectPort("COM12");
  Drive({"select", "main", "1002", "2", "select", "main", "1003", "0"});
  Drive({"close", "main"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), "COM12");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Baud rate"), "0xffffffff");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Parity"), "0x2");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Databit"), "0x0");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Stop bit"), "0x1");
}

TEST_F(WineGuiTest, ConnectedPortsTypeIntoTheFocusedWindowAndAFailedConnectSaysSo) {
  std::unique_ptr<platform::VirtualSerialDevice> first = MakeComPort(5);
  std::unique_ptr<platform::VirtualSerialDevice> second = MakeComPort(12);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  StartLintrel();
  ConnectPort("COM5");

  // COM9 has no device: the user is told, and COM5 runs on.
  SelectPort("COM9");
  Drive({"click", "main", Id(IDC_CONNECT)});
  ASSERT_EQ(DriveOne({"wait", "message"}), "ok");
  EXPECT_EQ(DriveOne({"text", "message"}), "Lintrel");
  EXPECT_EQ(TakeMessage(), kPortOpenFail);
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Connect");
  // The port and the system's reason, in the status line.
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_STATUS)}).rfind("COM5 connected; COM9 open failed: \\\\.\\COM9: ", 0),
            0u)
      << Describe();
  ConnectPort("COM12");

  // Each port's lines, whole, into the window that has the focus.
  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*first, "Hello, World! 42\r"));
  ASSERT_TRUE(TypedBecomes(typed, "Hello, World! 42\r\n")) << ReadWhole(typed).value_or("(none)");
  ASSERT_TRUE(Send(*second, "sec"));
  app_->DrainFor(kPauseBetweenReads);
  EXPECT_EQ(ReadWhole(typed), "Hello, World! 42\r\n") << "typed before the end character";
  ASSERT_TRUE(Send(*second, "ond\r"));
  ASSERT_TRUE(TypedBecomes(typed, "Hello, World! 42\r\nsecond\r\n")) << ReadWhole(typed).value_or("(none)");

  // Disconnect COM5: its lines are no longer typed, COM12's still are.
  SelectPort("COM5");
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Disconnect");
  Drive({"click", "main", Id(IDC_CONNECT)});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_CONNECT)}) == "Connect"; }));
  Drive({"fg", "target"});
  ASSERT_TRUE(Send(*first, "lost\r"));
  ASSERT_TRUE(Send(*second, "third\r"));
  ASSERT_TRUE(TypedBecomes(typed, "Hello, World! 42\r\nsecond\r\nthird\r\n")) << ReadWhole(typed).value_or("(none)");

  Drive({"close", "main"});
  ExpectLintrelEnds();
}

TEST_F(WineGuiTest, APortWhoseCarrierDroppedIsReopenedByTheTimer) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  SetCarrier(5, true);
  StartLintrel();
  // A delay long enough to see the port released, however slow the machine.
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options", "settext", "options", Id(IDC_RECONNECT_DELAY), "3000",
         "click", "options", "1", "gone", "options"});
  ConnectPort("COM5");
  const std::filesystem::path typed = StartTypingTarget();

  // Two carrier changes seen by waits that had to block count the link down to lost; the
  // next tick releases the port (the status line says it waits meanwhile) and re-opens it
  // after the reconnection delay.
  ASSERT_TRUE(DropCarrierUntil(5, *app_, [&] {
    return DriveOne({"text", "main", Id(IDC_STATUS)}) == "COM5 waiting for its device";
  })) << "the lost link was not released";
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_STATUS)}) == "COM5 connected"; }))
      << "the port was not re-opened";
  EXPECT_EQ(DriveOne({"visible", "message"}), "0") << "a supervised re-open must not show a message";

  ASSERT_TRUE(Send(*device, "again\r"));
  ASSERT_TRUE(TypedBecomes(typed, "again\r\n")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

TEST_F(WineGuiTest, OptionsAreCheckedCancelledAndAppliedToTheNextLine) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  StartLintrel();

  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  // The defaults, with the end character open to change while no port is open.
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_RECONNECT_DELAY)}), "1000");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_PORT_PREFIX)}), "0");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_TRUNCATE)}), "0");
  const std::vector<std::string> ends = Split(DriveOne({"list", "options", Id(IDC_END_CHARACTER)}), '|');
  ASSERT_EQ(ends.size(), 32u);
  EXPECT_EQ(ends[0], "12");
  EXPECT_EQ(ends[13], "CR    [0D]");
  EXPECT_EQ(ends[2], "STX  [02] ");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_END_CHARACTER)}), "1");
  EXPECT_EQ(DriveOne({"focus", "options"}), Id(IDC_PORT_PREFIX));
  Screenshot("options-dialog", "options");

  // Rejected delays: the message, and the dialog stays open.
  const std::string range = "Reconnection Delay(ms): Please enter an integer between 500 and 5000.";
  for (const auto& [text, message] : std::vector<std::pair<std::string, std::string>>{
           {"499", range}, {"5001", range}, {"abc", "Reconnection Delay(ms): Please enter an integer."}, {"-1", range}}) {
    Drive({"settext", "options", Id(IDC_RECONNECT_DELAY), text, "click", "options", "1"});
    EXPECT_EQ(TakeMessage(), message) << text;
    EXPECT_EQ(DriveOne({"visible", "options"}), "1") << text;
  }

  // Cancel keeps every value as it was.
  Drive({"check", "options", Id(IDC_PORT_PREFIX), "1", "check", "options", Id(IDC_TRUNCATE), "1", "select", "options",
         Id(IDC_END_CHARACTER), "9", "settext", "options", Id(IDC_RECONNECT_DELAY), "700", "click", "options", "2"});
  ASSERT_EQ(DriveOne({"gone", "options"}), "ok");
  // Back on the button that opened the dialog, which Enter would press.
  EXPECT_EQ(DriveOne({"focus", "main"}), Id(IDC_OPTIONS));
  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_RECONNECT_DELAY)}), "1000");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_PORT_PREFIX)}), "0");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_TRUNCATE)}), "0");
  EXPECT_EQ(Split(DriveOne({"list", "options", Id(IDC_END_CHARACTER)}), '|').front(), "12");

  // OK: line feed ends lines now, and is not typed; lines are read as UTF-8.
  Drive({"select", "options", Id(IDC_END_CHARACTER), "9", "check", "options", Id(IDC_TRUNCATE), "1", "settext",
         "options", Id(IDC_RECONNECT_DELAY), "500", "select", "options", Id(IDC_ENCODING), "1", "settext", "options",
         Id(IDC_KEY_DELAY), "3", "settext", "options", Id(IDC_LINE_DELAY), "20", "click", "options", "1"});
  ASSERT_EQ(DriveOne({"gone", "options"}), "ok");

  ConnectPort("COM5");
  // With a port open the end character cannot be changed.
  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_END_CHARACTER)}), "0");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_RECONNECT_DELAY)}), "500");
  Drive({"click", "options", "2", "gone", "options"});

  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*device, "AB\n"));
  ASSERT_TRUE(TypedBecomes(typed, "AB")) << ReadWhole(typed).value_or("(none)");
  // A carriage return is now an ordinary character of the line.
  ASSERT_TRUE(Send(*device, "C\rD\n"));
  ASSERT_TRUE(TypedBecomes(typed, "ABC\r\nD")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();

  // Every option set before a port was picked is kept for the next start, the Typing ones
  // too: a UTF-8 device's line arrives as sent (the target keeps Windows-1252).
  StartLintrel();
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(Split(DriveOne({"list", "options", Id(IDC_END_CHARACTER)}), '|').front(), "9");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_TRUNCATE)}), "1");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_RECONNECT_DELAY)}), "500");
  EXPECT_EQ(Split(DriveOne({"list", "options", Id(IDC_ENCODING)}), '|').front(), "1");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_KEY_DELAY)}), "3");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_LINE_DELAY)}), "20");
  Drive({"click", "options", "2", "gone", "options"});
  // Connected again at start, as it was at the end.
  ASSERT_TRUE(StatusBecomes("COM5 connected"));
  Drive({"fg", "target"});
  ASSERT_TRUE(Send(*device, "Gr\xC3\xBC\xC3\x9F" "e\n"));
  ASSERT_TRUE(TypedBecomes(typed, "ABC\r\nDGr\xFC\xDF" "e")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// Each port has options of its own: COM12's end character and suffix change while COM5 is
// connected, and each port's lines are typed by its own.
TEST_F(WineGuiTest, APortsOwnOptionsChangeWhileAnotherPortIsConnected) {
  std::unique_ptr<platform::VirtualSerialDevice> first = MakeComPort(5);
  std::unique_ptr<platform::VirtualSerialDevice> second = MakeComPort(12);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  StartLintrel();
  ConnectPort("COM5");
  SelectPort("COM12");
  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_SHAPING_GROUP)}), "Lines of COM12");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_END_CHARACTER)}), "1") << "COM12 is not connected";
  // A wrong escape is named, never typed.
  Drive({"settext", "options", Id(IDC_SUFFIX), "\\q", "click", "options", "1"});
  EXPECT_EQ(TakeMessage().rfind("Suffix: \\q is not an escape", 0), 0u);
  Drive({"select", "options", Id(IDC_END_CHARACTER), "9", "check", "options", Id(IDC_TRUNCATE), "1", "settext",
         "options", Id(IDC_SUFFIX), "\\t", "click", "options", "1"});
  ASSERT_EQ(DriveOne({"gone", "options"}), "ok");
  const std::string profile_key = std::string(kSettingsKey) + "\\Ports\\COM12";
  EXPECT_TRUE(StoredBecomes(profile_key, "Suffix", "\\t"));
  EXPECT_TRUE(StoredBecomes(profile_key, "End char", "0xa"));
  EXPECT_TRUE(StoredBecomes(profile_key, "Truncate", "0x1"));
  ConnectPort("COM12");

  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*second, "ab\n"));
  ASSERT_TRUE(TypedBecomes(typed, "ab\t")) << ReadWhole(typed).value_or("(none)");
  ASSERT_TRUE(Send(*first, "cd\r"));
  ASSERT_TRUE(TypedBecomes(typed, "ab\tcd\r\n")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// Texts outside ASCII entered in the dialog (a prefix text, a suffix with an escape) and the
// German keymap's dead-key characters: typed as such, shown back as entered. The suffix is
// entered before a port is picked: it is every port's that has none of its own.
TEST_F(WineGuiTest, TextsOutsideAsciiAndDeadKeyCharactersArriveAsEntered) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  StartLintrel();
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_SHAPING_GROUP)}), "Lines of every port");
  Drive({"settext", "options", Id(IDC_SUFFIX), "%C3%A9\\u{20AC}\\r", "check", "options", Id(IDC_TRUNCATE), "1",
         "click", "options", "1", "gone", "options"});

  SelectPort("COM5");
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_SHAPING_GROUP)}), "Lines of COM5");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_SUFFIX)}), "\xC3\xA9\xE2\x82\xAC\\r") << "the shared suffix";
  Drive({"settext", "options", Id(IDC_PREFIX_TEXT), "Gr%C3%BC%C3%9Fe:", "click", "options", "1", "gone", "options"});
  // Stored with escapes, printable ASCII that reads the same through any code page.
  const std::string profile_key = std::string(kSettingsKey) + "\\Ports\\COM5";
  EXPECT_TRUE(StoredBecomes(profile_key, "Prefix text", "Gr\\u{FC}\\u{DF}e:"));
  EXPECT_EQ(prefix().QueryValue(profile_key, "Suffix"), std::nullopt) << "the shared suffix is not COM5's own";
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_PREFIX_TEXT)}), "Gr\xC3\xBC\xC3\x9F" "e:");
  Drive({"click", "options", "2", "gone", "options"});

  // A suffix as an older version stored it through the registry's ANSI calls: the UTF-8 bytes
  // of \u{20AC}, then an é typed in its dialog (Windows-1252 0xE9). It reads as written.
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry(
      "[" + std::string(kSettingsKey) + "\\Ports\\COM12]\r\n\"Suffix\"=\"\xE2\x82\xAC\xE9\"\r\n", &error))
      << error;
  SelectPort("COM12");
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_SUFFIX)}), "\xE2\x82\xAC\xC3\xA9");
  Drive({"click", "options", "2", "gone", "options"});
  SelectPort("COM5");

  ConnectPort("COM5");
  const std::filesystem::path typed = StartTypingTarget();
  // Windows-1252, the encoding every port starts with ("ANSI"), as the target keeps it.
  ASSERT_TRUE(Send(*device, "X^Y `a\xB4 b P^ Q\r"));
  EXPECT_TRUE(TypedBecomes(typed, "Gr\xFC\xDF" "e:X^Y `a\xB4 b P^ Q\xE9\x80\r\n"))
      << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

TEST_F(WineGuiTest, TrayIconMenuHidesShowsPausesAndExitsWithoutSaving) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  StartLintrel();

  // Not connected: "Connect" and "Pause".
  EXPECT_EQ(Drive({"tray", "right", "wait", "menu", "menutexts", "key", "escape", "gone", "menu"}),
            (std::vector<std::string>{"ok", "ok", "Connect|Pause|Send now|About|-|Exit", "ok", "ok"}));

  // The menu's first item connects the selected port.
  SelectPort("COM5");
  Drive({"tray", "right", "wait", "menu", "key", "down", "key", "enter", "gone", "menu"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_CONNECT)}) == "Disconnect"; }));
  EXPECT_EQ(Drive({"tray", "right", "wait", "menu", "menutexts", "key", "escape", "gone", "menu"})[2],
            "Disconnect|Pause|Send now|About|-|Exit");

  // Connected, the icon flashes its activity image for half of each second.
  std::set<std::string> seen;
  ASSERT_TRUE(app_->WaitUntil([&] {
    seen.insert(TrayImageShown());
    return seen.count("activity") == 1 && seen.count("normal") == 1;
  })) << "the tray icon did not flash";
  EXPECT_EQ(seen.count("paused"), 0u);

  // Paused: the paused image, without a flash; "Resume", and nothing is typed.
  Drive({"command", "main", Id(ID_STATUS_PAUSE)});
  // The command is posted: the program takes it a moment later.
  ASSERT_TRUE(app_->WaitUntil([&] { return TrayImageShown() == "paused"; })) << "the paused image never showed";
  EXPECT_EQ(TrayImagesSeen(12), std::set<std::string>{"paused"});
  EXPECT_EQ(Drive({"tray", "right", "wait", "menu", "menutexts", "key", "escape", "gone", "menu"})[2],
            "Disconnect|Resume|Send now|About|-|Exit");
  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*device, "dropped\r"));
  app_->DrainFor(milliseconds(500));
  EXPECT_EQ(ReadWhole(typed), "");
  Drive({"command", "main", Id(ID_STATUS_PAUSE)});
  ASSERT_TRUE(app_->WaitUntil([&] { return TrayImageShown() != "paused"; })) << "the port was not resumed";
  ASSERT_TRUE(Send(*device, "kept\r"));
  ASSERT_TRUE(TypedBecomes(typed, "kept\r\n")) << ReadWhole(typed).value_or("(none)");

  // Minimizing hides the window; a left click on the icon shows it again.
  Drive({"syscommand", "main", "61472"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"visible", "main"}) == "0"; }));
  Drive({"tray", "left"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"visible", "main"}) == "1"; }));

  // The menu's Exit (its last item) ends the program without saving.
  Drive({"tray", "right", "wait", "menu", "key", "up", "key", "enter"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), std::nullopt);
}

// A line that arrives while a window of Lintrel has the foreground is not typed into it
// (its carriage return would press a button or end the program): it is dropped, and the
// tray icon says so. The tray menu gives the foreground back to the window that had it.
TEST_F(WineGuiTest, LinesAreNeverTypedIntoLintrelsOwnWindows) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedTo(5);
  ASSERT_NE(device, nullptr);
  // The click leaves the focus on the button as Tab would: Enter there presses the button.
  EXPECT_EQ(DriveOne({"focus", "main"}), Id(IDC_CONNECT));
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_STATUS)}), "COM5 connected");

  Drive({"fg", "main"});
  ASSERT_TRUE(Send(*device, "scan\r"));
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"balloon"}).find("COM5 was not typed") != std::string::npos; }))
      << "no notice of the dropped line";
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Disconnect");
  // Escape with a port connected hides the window rather than ending the program.
  Drive({"key", "escape"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"visible", "main"}) == "0"; }));

  // Paused and resumed from the tray menu while the typing target has the foreground.
  const std::filesystem::path typed = StartTypingTarget();
  for (const char* expected_texts : {"Disconnect|Pause|Send now|About|-|Exit", "Disconnect|Resume|Send now|About|-|Exit"}) {
    EXPECT_EQ(Drive({"tray", "right", "wait", "menu", "menutexts"}).back(), expected_texts);
    Drive({"key", "down", "key", "down", "key", "enter", "gone", "menu"});
    ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"foreground"}) == "target"; }))
        << "the foreground stayed with " << DriveOne({"foreground"});
  }
  ASSERT_TRUE(Send(*device, "typed\r"));
  ASSERT_TRUE(TypedBecomes(typed, "typed\r\n")) << ReadWhole(typed).value_or("(none)");

  // A run of dropped lines is counted whole, however many notices it took to tell them: ten,
  // or eleven while the line dropped above is less than MainWindow::kDroppedLinesSpan ago.
  Drive({"fg", "main"});
  std::string ten_lines;
  for (int line = 0; line < 10; ++line) ten_lines += "scan" + std::to_string(line) + "\r";
  ASSERT_TRUE(Send(*device, ten_lines));
  const std::string counted = " lines (the last from COM5) were not typed";
  std::string notice;
  ASSERT_TRUE(app_->WaitUntil([&] {
    notice = DriveOne({"balloon"});
    return notice.find("10" + counted) != std::string::npos || notice.find("11" + counted) != std::string::npos;
  })) << "the notice says: " << notice;
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// A paced line stops at the key where Lintrel's window comes to the front: the rest of it
// (its carriage return would press Disconnect, which has the focus there) goes nowhere, and
// the line is reported cut short. The next line is typed whole into the window in front.
TEST_F(WineGuiTest, APacedLineStopsWhenLintrelsWindowComesToTheFront) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedTo(5);
  ASSERT_NE(device, nullptr);
  // Slow enough that the line is still being typed when the window has come up, however
  // slow the machine.
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options", "settext", "options", Id(IDC_KEY_DELAY), "400", "click",
         "options", "1", "gone", "options"});
  const std::filesystem::path typed = StartTypingTarget();
  const std::string line = "abcdefghijklmnopqrstu";
  ASSERT_TRUE(Send(*device, line + "\r"));
  ASSERT_TRUE(app_->WaitUntil([&] { return ReadWhole(typed).value_or("").size() >= 2; }))
      << ReadWhole(typed).value_or("(none)");
  Drive({"fg", "main"});
  std::string notice;
  ASSERT_TRUE(app_->WaitUntil([&] {
    notice = DriveOne({"balloon"});
    return notice.find("cut short") != std::string::npos;
  })) << "the notice says: " << notice;
  EXPECT_NE(notice.find("A line from COM5 was not typed: cut short: a window of Lintrel came to the front"),
            std::string::npos)
      << notice;
  const std::string cut = ReadWhole(typed).value_or("(none)");
  EXPECT_LT(cut.size(), line.size()) << cut;
  EXPECT_EQ(line.rfind(cut, 0), 0u) << cut;
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Disconnect");
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_STATUS)}), "COM5 connected");

  Drive({"fg", "target"});
  ASSERT_TRUE(Send(*device, "next\r"));
  ASSERT_TRUE(TypedBecomes(typed, cut + "next\r\n")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// Exit from the tray menu while the Options dialog is open ends the program at once; until
// then the menu offers nothing else.
TEST_F(WineGuiTest, ExitWithTheOptionsDialogOpenEndsTheProgram) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedTo(5);
  ASSERT_NE(device, nullptr);
  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(Drive({"tray", "right", "wait", "menu", "menutexts"}).back(),
            "Disconnect (grayed)|Pause (grayed)|Send now (grayed)|About (grayed)|-|Exit");
  // Closed without a choice, the menu leaves the dialog in front of its window, where it
  // still takes Escape.
  Drive({"key", "escape", "gone", "menu"});
  EXPECT_EQ(DriveOne({"foreground"}), "options");
  EXPECT_EQ(DriveOne({"above", "options", "main"}), "1");
  Drive({"tray", "left"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"foreground"}) == "options"; }));
  EXPECT_EQ(DriveOne({"above", "options", "main"}), "1");
  Drive({"tray", "right", "wait", "menu"});
  Drive({"key", "up", "key", "enter"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), std::nullopt);
}

// A paused port whose device is unplugged is released and waits for it, with the window
// answering; plugged back, the port is re-opened and still paused.
TEST_F(WineGuiTest, AnUnpluggedPausedPortWaitsForItsDeviceAndComesBackPaused) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedTo(5);
  ASSERT_NE(device, nullptr);
  const auto status_becomes = [&](const std::string& expected) {
    return app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_STATUS)}) == expected; });
  };
  // The window's own Pause button, as the tray menu's item.
  Drive({"click", "main", Id(IDC_PAUSE)});
  ASSERT_TRUE(status_becomes("COM5 paused"));
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_PAUSE)}), "Resume");

  device->Unplug();
  ASSERT_TRUE(status_becomes("COM5 waiting for its device")) << "the unplugged port was not released";
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Disconnect");
  EXPECT_EQ(DriveOne({"enabled", "main", Id(IDC_BAUD_RATE)}), "0");
  std::string error;
  ASSERT_TRUE(device->Plug(&error)) << error;
  ASSERT_TRUE(status_becomes("COM5 paused")) << "the port was not re-opened";

  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*device, "dropped\r"));
  app_->DrainFor(milliseconds(500));
  EXPECT_EQ(ReadWhole(typed), "");
  Drive({"command", "main", Id(ID_STATUS_PAUSE)});
  ASSERT_TRUE(status_becomes("COM5 connected"));
  ASSERT_TRUE(Send(*device, "kept\r"));
  ASSERT_TRUE(TypedBecomes(typed, "kept\r\n")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// A second start and a click on the tray icon bring the running window to the front, also
// when it is only covered by another window.
TEST_F(WineGuiTest, ASecondStartAndATrayClickBringTheRunningWindowUp) {
  StartLintrel();
  StartTypingTarget();
  ASSERT_EQ(DriveOne({"foreground"}), "target");
  Drive({"tray", "left"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"foreground"}) == "main"; }));

  Drive({"syscommand", "main", "61472"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"visible", "main"}) == "0"; }));
  const CommandResult second = prefix().Run({kLintrel});
  EXPECT_TRUE(second.Succeeded()) << second.err;
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"foreground"}) == "main"; }));
  EXPECT_EQ(DriveOne({"count", "main"}), "1");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// The ports connected when the program ends (here by the tray menu's Exit, which saves no
// settings) are connected again at the next start, each with its own line settings; one
// whose device is missing waits for it without a word. The option turns that off.
TEST_F(WineGuiTest, ConnectedPortsAreConnectedAgainAtTheNextStart) {
  std::unique_ptr<platform::VirtualSerialDevice> first = MakeComPort(5);
  std::unique_ptr<platform::VirtualSerialDevice> second = MakeComPort(12);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  StartLintrel();
  SelectPort("COM5");
  Drive({"select", "main", Id(IDC_BAUD_RATE), "4"});
  ConnectPort("COM5");
  SelectPort("COM12");
  Drive({"select", "main", Id(IDC_BAUD_RATE), "10"});
  ConnectPort("COM12");
  Drive({"tray", "right", "wait", "menu", "key", "up", "key", "enter"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Connected ports"), "COM5,COM12");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "COM5 line settings"), "4,0,1,0");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "COM12 line settings"), "10,0,1,0");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), std::nullopt);

  second.reset();  // COM12's device is gone
  StartLintrel();
  ASSERT_TRUE(StatusBecomes("COM5 connected; COM12 waiting for its device"));
  EXPECT_EQ(DriveOne({"visible", "message"}), "0");
  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*first, "back\r"));
  ASSERT_TRUE(TypedBecomes(typed, "back\r\n")) << ReadWhole(typed).value_or("(none)");

  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  // The port selected at start is not picked: the options every port shares.
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_SHAPING_GROUP)}), "Lines of every port");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_RECONNECT_AT_START)}), "1");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_FOLLOW_DEVICES)}), "1");
  Drive({"check", "options", Id(IDC_RECONNECT_AT_START), "0", "click", "options", "1", "gone", "options"});
  // Saved once the dialog has closed: looked for until it is there.
  EXPECT_TRUE(app_->WaitUntil([&] { return prefix().QueryValue(kSettingsKey, "Reconnect at start") == "0x0"; }));

  // Each port shows the line settings it runs with, also the one waiting for its device;
  // a Disconnect and Connect keeps them.
  const auto baud_shown = [&] { return Split(DriveOne({"list", "main", Id(IDC_BAUD_RATE)}), '|').front(); };
  SelectPort("COM12");
  EXPECT_EQ(baud_shown(), "10");
  SelectPort("COM5");
  EXPECT_EQ(baud_shown(), "4");
  Drive({"click", "main", Id(IDC_CONNECT)});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"text", "main", Id(IDC_CONNECT)}) == "Connect"; }));
  EXPECT_EQ(baud_shown(), "4");
  ConnectPort("COM5");
  EXPECT_TRUE(StoredBecomes(kSettingsKey, "COM5 line settings", "4,0,1,0"));
  EXPECT_TRUE(StoredBecomes(std::string(kSettingsKey) + "\\Ports\\COM5", "Baud rate", "0x4"));
  Drive({"close", "main"});
  ExpectLintrelEnds();

  StartLintrel();
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_STATUS)}), "No port connected.");
  Drive({"close", "main"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Connected ports"), "COM5,COM12") << "kept for when it is on again";
}

// "Start with Windows" writes the Run value that starts the program with --tray: hidden, its
// icon only, until the user brings it up; a second start with --tray leaves it so. Turned
// off, the value is removed.
TEST_F(WineGuiTest, StartWithWindowsStartsHiddenInTheNotificationArea) {
  StartLintrel();
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_START_WITH_WINDOWS)}), "0");
  Drive({"check", "options", Id(IDC_START_WITH_WINDOWS), "1", "click", "options", "1", "gone", "options"});
  const std::string run = "\"" + WinePrefix::WindowsPath(kLintrel) + "\" --tray";
  EXPECT_TRUE(app_->WaitUntil([&] { return prefix().QueryValue(kRunKey, "Lintrel") == run; }));
  Drive({"close", "main"});
  ExpectLintrelEnds();

  StartLintrel({"--tray"});
  EXPECT_EQ(DriveOne({"visible", "main"}), "0");
  const CommandResult second = prefix().Run({kLintrel, "--tray"});
  EXPECT_TRUE(second.Succeeded()) << second.err;
  app_->DrainFor(milliseconds(300));
  EXPECT_EQ(DriveOne({"count", "main"}), "1");
  EXPECT_EQ(DriveOne({"visible", "main"}), "0");
  Drive({"tray", "left"});
  ASSERT_TRUE(app_->WaitUntil([&] { return DriveOne({"visible", "main"}) == "1"; }));

  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_START_WITH_WINDOWS)}), "1");
  Drive({"check", "options", Id(IDC_START_WITH_WINDOWS), "0", "click", "options", "1", "gone", "options"});
  EXPECT_TRUE(app_->WaitUntil([&] { return prefix().QueryValue(kRunKey, "Lintrel") == std::nullopt; }));
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// The system's notice that a port arrived re-opens a port waiting for its device at once,
// long before its reconnection delay has run out.
TEST_F(WineGuiTest, ADeviceArrivalReopensAWaitingPortAtOnce) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  StartLintrel();
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options", "settext", "options", Id(IDC_RECONNECT_DELAY), "5000",
         "click", "options", "1", "gone", "options"});
  ConnectPort("COM5");
  device->Unplug();
  ASSERT_TRUE(StatusBecomes("COM5 waiting for its device"));
  std::string error;
  ASSERT_TRUE(device->Plug(&error)) << error;
  // The notice is handled before the driver's message returns: the port is open by then.
  EXPECT_EQ(Drive({"text", "main", Id(IDC_STATUS), "arrived", "main", "COM5", "text", "main", Id(IDC_STATUS)}),
            (std::vector<std::string>{"COM5 waiting for its device", "ok", "COM5 connected"}));
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// The Options dialog's Records group: its Test field shows what a sample line would type as
// the values are typed in, a wrong pattern keeps the dialog open naming it, and OK stores
// the port's record values, which its next lines are typed with.
TEST_F(WineGuiTest, TheRecordsGroupsTestFieldShowsWhatASampleLineTypesAndOkKeepsTheRules) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  StartLintrel();
  SelectPort("COM5");
  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_RECORDS_GROUP)}), "Records of COM5");
  EXPECT_EQ(DriveOne({"list", "options", Id(IDC_UNMATCHED)}), "0|Report|Drop|Type");
  Drive({"check", "options", Id(IDC_GS1), "1", "check", "options", Id(IDC_TRUNCATE), "1", "settext", "options",
         Id(IDC_TEMPLATE), "{01}\\t{17:%Y-%m-%d}\\t{10}", "settext", "options", Id(IDC_TEST_LINE),
         "]d20109501101530003172512311" "0AB12"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_TEST_RESULT)}),
            "field 01 = \"09501101530003\"\\r\\nfield 17 = \"251231\"\\r\\nfield 10 = \"AB12\"\\r\\n"
            "types: 09501101530003<Tab>2025-12-31<Tab>AB12");
  Screenshot("options-dialog-records", "options");
  Drive({"settext", "options", Id(IDC_TEST_LINE), "0109501101530004"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_TEST_RESULT)}),
            "not typed: GS1: AI 01: wrong check digit in 09501101530004");
  Drive({"settext", "options", Id(IDC_PATTERN), "(x"});
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_TEST_RESULT)}), "Pattern: missing ): (x");
  Drive({"click", "options", "1"});
  EXPECT_EQ(TakeMessage(), "Pattern: missing ): (x");
  Drive({"settext", "options", Id(IDC_PATTERN), "", "click", "options", "1", "gone", "options"});
  const std::string profile_key = std::string(kSettingsKey) + "\\Ports\\COM5";
  EXPECT_EQ(prefix().QueryValue(profile_key, "GS1"), "0x1");
  EXPECT_EQ(prefix().QueryValue(profile_key, "Template"), "{01}\\t{17:%Y-%m-%d}\\t{10}");

  ConnectPort("COM5");
  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*device, "]d20109501101530003172512311" "0AB12\r"));
  ASSERT_TRUE(TypedBecomes(typed, "09501101530003\t2025-12-31\tAB12")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// The Monitor window shows what the selected port receives and what each line types, live.
TEST_F(WineGuiTest, TheMonitorWindowShowsAReceivedLineAndWhatItTypes) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedTo(5);
  ASSERT_NE(device, nullptr);
  Drive({"click", "main", Id(IDC_MONITOR)});
  ASSERT_EQ(DriveOne({"wait", "monitor"}), "ok");
  EXPECT_EQ(DriveOne({"text", "monitor"}), "Monitor COM5");
  ASSERT_TRUE(Send(*device, "AB\r"));
  std::string shown;
  ASSERT_TRUE(app_->WaitUntil([&] {
    shown = DriveOne({"text", "monitor", Id(IDC_MONITOR_TEXT)});
    return shown.find("types:") != std::string::npos;
  })) << shown;
  EXPECT_NE(shown.find(" COM5 received 3 bytes: 41 42 0D  \"AB\\r\"\\r\\n"), std::string::npos) << shown;
  EXPECT_NE(shown.find(" COM5 line: \"AB\\r\" (ended by its end character)\\r\\n  types: AB<Enter>"),
            std::string::npos)
      << shown;
  Screenshot("monitor-window", "monitor");
  Drive({"click", "monitor", "2", "gone", "monitor"});
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// Machine policies: the ports they set are connected at start even with "Reconnect at start"
// off, their end character and truncation hold for them, and what the user connects or
// selects is not stored over them.
TEST_F(WineGuiTest, PoliciesConnectTheirPortsAndSetTheirValues) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kPolicyKey +
                                          "]\r\n\"Connected ports\"=\"COM5\"\r\n\"Port\"=\"COM5\"\r\n"
                                          "\"End char\"=dword:0000000a\r\n\"Truncate\"=dword:00000001\r\n[" +
                                          kSettingsKey + "]\r\n\"Reconnect at start\"=dword:00000000\r\n",
                                      &error))
      << error;
  StartLintrel();
  ASSERT_TRUE(StatusBecomes("COM5 connected"));
  const std::filesystem::path typed = StartTypingTarget();
  ASSERT_TRUE(Send(*device, "a\rb\n"));
  ASSERT_TRUE(TypedBecomes(typed, "a\r\nb")) << ReadWhole(typed).value_or("(none)");

  SelectPort("COM12");
  Drive({"close", "main"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), std::nullopt) << "the policy's port stays the one selected";
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Connected ports"), std::nullopt);
}

// The controls a machine policy sets are disabled and named "Set by your administrator", in
// the main window for the port the policy sets its line for, and in the Options dialog; OK
// stores nothing over the policy and leaves the user's own value.
TEST_F(WineGuiTest, ControlsAPolicySetsAreDisabledAndNamedAsSetByTheAdministrator) {
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kPolicyKey +
                                          "]\r\n\"End char\"=dword:0000000a\r\n\"Truncate\"=dword:00000001\r\n"
                                          "\"Key delay\"=dword:00000014\r\n[" +
                                          kPolicyKey + "\\Ports\\COM5]\r\n\"Baud rate\"=dword:00000006\r\n[" +
                                          kSettingsKey + "]\r\n\"End char\"=dword:0000000d\r\n",
                                      &error))
      << error;
  StartLintrel();
  SelectPort("COM12");
  EXPECT_EQ(DriveOne({"enabled", "main", Id(IDC_BAUD_RATE)}), "1");
  SelectPort("COM5");
  EXPECT_EQ(DriveOne({"enabled", "main", Id(IDC_BAUD_RATE)}), "0");
  EXPECT_EQ(DriveOne({"enabled", "main", Id(IDC_PARITY)}), "1");
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_BAUD_RATE)}), "19200");
  EXPECT_NE(DriveOne({"controls", "main"}).find("|Set by your administrator: Baud rate|"), std::string::npos)
      << Describe();

  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_END_CHARACTER)}), "0");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_END_CHARACTER)}).substr(0, 2), "LF");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_TRUNCATE)}), "0");
  EXPECT_EQ(DriveOne({"checked", "options", Id(IDC_TRUNCATE)}), "1");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_SUFFIX)}), "1");
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_KEY_DELAY)}), "0");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_KEY_DELAY)}), "20");
  const std::string options = DriveOne({"controls", "options"});
  EXPECT_NE(options.find("|Set by your administrator: End Char, Truncate End Char, Key delay (ms)|"), std::string::npos)
      << options;
  Screenshot("options-set-by-administrator", "options");
  EXPECT_EQ(Drive({"click", "options", "1", "gone", "options"}).back(), "ok");
  EXPECT_EQ(DriveOne({"visible", "message"}), "0") << "nothing refused: the policy's values are not stored";

  Drive({"close", "main"});
  ExpectLintrelEnds();
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "End char"), "0xd") << "the user's own value stays";
  EXPECT_EQ(prefix().QueryValue(kSettingsKey + std::string("\\Ports\\COM5"), "Truncate"), std::nullopt);
}

// A port's lines for another program than the one in front wait, and the notice and the
// status line say so; they go into their target, found by its executable's name, once it is
// in front. The Options dialog's Target group sets the port's values, checked first; with
// "Bring it to the front" the target comes up by itself.
TEST_F(WineGuiTest, LinesWaitForTheTargetApplicationOrBringItUp) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedToTarget("ALPHA");
  ASSERT_NE(device, nullptr);
  const std::filesystem::path typed_a = StartReceiver("alpha");
  const std::filesystem::path typed_b = StartReceiver("bravo");
  ASSERT_TRUE(Send(*device, "one\r"));
  ASSERT_TRUE(BalloonHas("Lines from COM5 wait for ALPHA until it is in front (bravo.exe is in front)."))
      << DriveOne({"balloon"});
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_STATUS)}), "COM5 connected; lines of COM5 wait for ALPHA");
  // A click on the notice brings the target up.
  Drive({"tray", "balloon"});
  ASSERT_TRUE(TypedBecomes(typed_a, "one\r\n")) << ReadWhole(typed_a).value_or("(none)");
  EXPECT_TRUE(StatusBecomes("COM5 connected")) << Describe();
  // Lintrel's own window in front is another window: the line waits rather than being dropped.
  Drive({"fg", "main"});
  ASSERT_TRUE(Send(*device, "mine\r"));
  ASSERT_TRUE(StatusBecomes("COM5 connected; lines of COM5 wait for ALPHA")) << Describe();
  Drive({"fg", "target=alpha"});
  ASSERT_TRUE(TypedBecomes(typed_a, "one\r\nmine\r\n")) << ReadWhole(typed_a).value_or("(none)");

  Drive({"click", "main", Id(IDC_OPTIONS)});
  ASSERT_EQ(DriveOne({"wait", "options"}), "ok");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_TARGET_GROUP)}), "Target of COM5");
  EXPECT_EQ(DriveOne({"text", "options", Id(IDC_TARGET_PROGRAM)}), "ALPHA");
  EXPECT_EQ(DriveOne({"list", "options", Id(IDC_ELSEWHERE)}),
            "0|Hold the lines until it is in front|Bring it to the front|Report as not typed");
  EXPECT_EQ(DriveOne({"list", "options", Id(IDC_DELIVERY_METHOD)}), "0|Keys|Unicode characters|Paste");
  Screenshot("options-dialog-target", "options");
  Drive({"settext", "options", Id(IDC_TARGET_PROGRAM), "C:\\apps\\alpha.exe", "click", "options", "1"});
  EXPECT_EQ(TakeMessage(), "Target application: its file name alone, such as excel.exe, without a folder");
  Drive({"settext", "options", Id(IDC_TARGET_PROGRAM), "alpha.exe", "select", "options", Id(IDC_ELSEWHERE), "1",
         "click", "options", "1"});
  ASSERT_EQ(DriveOne({"gone", "options"}), "ok");
  const std::string port_key = std::string(kSettingsKey) + "\\Ports\\COM5";
  ASSERT_TRUE(StoredBecomes(port_key, "Elsewhere", "activate"));
  EXPECT_EQ(prefix().QueryValue(port_key, "Target"), "alpha.exe");

  Drive({"fg", "target=bravo"});
  ASSERT_TRUE(Send(*device, "two\r"));
  ASSERT_TRUE(TypedBecomes(typed_a, "one\r\nmine\r\ntwo\r\n")) << ReadWhole(typed_a).value_or("(none)");
  EXPECT_EQ(DriveOne({"foreground"}), "target=alpha");
  EXPECT_EQ(ReadWhole(typed_b), "");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// A remote session's viewer in front takes its lines as Unicode characters, said once.
TEST_F(WineGuiTest, ARemoteSessionViewerInFrontIsTypedUnicodeCharacters) {
  std::unique_ptr<platform::VirtualSerialDevice> device = StartConnectedToTarget("mstsc");
  ASSERT_NE(device, nullptr);
  const std::filesystem::path typed = StartReceiver("mstsc");
  ASSERT_TRUE(Send(*device, "Ab1\r"));
  ASSERT_TRUE(TypedBecomes(typed, "Ab1\r\n")) << ReadWhole(typed).value_or("(none)");
  EXPECT_TRUE(BalloonHas("mstsc in front is a remote session (mstsc.exe): the lines from COM5 are typed as Unicode "
                         "characters."))
      << DriveOne({"balloon"});
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

// The Requests dialog from Options: a wrong value is named, the values are the port's own in
// the registry, the text on connect goes out, and the hotkey pressed while another program
// has the focus sends the poll; a hotkey another program holds is told.
TEST_F(WineGuiTest, TheRequestsDialogStoresThePortsRequestsAndItsHotkeySendsThePoll) {
  PtyPair pair(prefix().root().string());
  ASSERT_TRUE(pair.ok());
  std::filesystem::remove(prefix().ComPortLink(5));
  std::filesystem::create_symlink(pair.port_path(), prefix().ComPortLink(5));
  StartLintrel();
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options"});
  EXPECT_EQ(DriveOne({"enabled", "options", Id(IDC_REQUESTS)}), "0") << "no port picked: no requests";
  Drive({"click", "options", "2", "gone", "options"});

  SelectPort("COM5");
  Drive({"click", "main", Id(IDC_OPTIONS), "wait", "options", "click", "options", Id(IDC_REQUESTS)});
  const std::string requests = "caption=Requests of COM5";
  ASSERT_EQ(DriveOne({"wait", requests}), "ok") << Describe();
  Drive({"settext", requests, Id(IDC_SEND_ON_CONNECT), "ID\\r", "settext", requests, Id(IDC_POLL), "P\\r",
         "settext", requests, Id(IDC_POLL_EVERY), "99", "settext", requests, Id(IDC_REPLY_TIMEOUT), "5000",
         "settext", requests, Id(IDC_HOTKEY), "ctrl+alt+f9", "click", requests, "1"});
  EXPECT_EQ(TakeMessage(), "Poll every (ms): Please enter an integer between 100 and 3600000. Empty: off.");
  Drive({"settext", requests, Id(IDC_POLL_EVERY), "", "click", requests, "1", "gone", requests});
  EXPECT_EQ(Drive({"click", "options", "1", "gone", "options"}).back(), "ok") << Describe();

  const std::string port_key = kSettingsKey + std::string("\\Ports\\COM5");
  EXPECT_EQ(prefix().QueryValue(port_key, "Send on connect"), "ID\\r");
  EXPECT_EQ(prefix().QueryValue(port_key, "Poll"), "P\\r");
  EXPECT_EQ(prefix().QueryValue(port_key, "Reply timeout"), "0x1388");
  EXPECT_EQ(prefix().QueryValue(port_key, "Hotkey"), "Ctrl+Alt+F9");
  EXPECT_EQ(prefix().QueryValue(port_key, "Poll every"), std::nullopt);

  ConnectPort("COM5");
  std::string written;
  EXPECT_EQ(WrittenUntil(pair, written, "ID\r"), "ID\r") << "the text on connect";
  // The focus is elsewhere: the typing target's window.
  StartTypingTarget();
  // Pressed as keyboard input (keybd_event), which wineserver matches against the session's
  // hotkeys. xdotool's keys reach Wine's windows (it types "xy" into the target) but Wine 8
  // did not match Ctrl+Alt+F9 from the X server to the hotkey: nothing was sent.
  Drive({"chord", "ctrl+alt+f9"});
  EXPECT_EQ(WrittenUntil(pair, written, "P\r"), "ID\rP\r") << Describe();
  Drive({"close", "main"});
  ExpectLintrelEnds();

  // Another program has the hotkey at the next start: a notice says so.
  std::unique_ptr<ChildProcess> holder = prefix().Start({kDriver, "holdhotkey", "ctrl+alt+f9", "sleep", "60000"});
  ASSERT_TRUE(holder->WaitForOutLines(1) && holder->OutLines()[0].rfind("ok", 0) == 0) << holder->Describe();
  StartLintrel();
  std::string notice;
  EXPECT_TRUE(app_->WaitUntil([&] {
    notice = DriveOne({"balloon"});
    return notice.find("Ctrl+Alt+F9") != std::string::npos;
  })) << notice;
  EXPECT_NE(notice.find("The hotkey Ctrl+Alt+F9 of COM5 does not work: another program has it."), std::string::npos)
      << notice;
  holder->Signal(SIGKILL);
  holder->WaitForExit();
}

// "Network port..." in the Port list: the port is checked, stored where lintrel-cli stores
// it, listed with its address, and its lines from a raw TCP peer are typed.
TEST_F(WineGuiTest, ANetworkPortAddedFromThePortListTypesTheLinesOfItsPeer) {
  const int tcp_port = FreeLoopbackPort();
  ASSERT_NE(tcp_port, 0);
  // The peer sends the line once the test writes it: after the typing target has the focus.
  // (No quotes in the command: socat reads them itself.)
  const std::filesystem::path line = prefix().root() / "network-line";
  std::filesystem::remove(line);
  std::unique_ptr<ChildProcess> peer = StartTcpPeer(
      tcp_port, "while [ ! -e " + line.string() + " ]; do sleep 0.05; done; cat " + line.string() + "; sleep 30");
  ASSERT_NE(peer, nullptr) << "socat did not listen";
  StartLintrel();
  const std::string address = "tcp://127.0.0.1:" + std::to_string(tcp_port);
  const std::string dialog = "caption=Network port";
  const std::vector<std::string> entries = Split(DriveOne({"list", "main", Id(IDC_PORT)}), '|');
  ASSERT_EQ(entries.back(), "Network port...");
  Drive({"select", "main", Id(IDC_PORT), std::to_string(entries.size() - 2)});
  ASSERT_EQ(DriveOne({"wait", dialog}), "ok") << Describe();
  EXPECT_EQ(DriveOne({"text", dialog, Id(IDC_NETWORK_PORT)}), "COM3") << "the lowest number the machine leaves free";
  Drive({"settext", dialog, Id(IDC_NETWORK_ADDRESS), address, "settext", dialog, Id(IDC_NETWORK_PORT), "COM5", "click",
         dialog, "1"});
  EXPECT_EQ(TakeMessage(), "COM port: COM5 is a port of this computer; choose one it does not use");
  Drive({"settext", dialog, Id(IDC_NETWORK_PORT), "COM20", "click", dialog, "1", "gone", dialog});

  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Device COM20"), address);
  const std::string listed = "COM20  " + address;
  EXPECT_EQ(DriveOne({"list", "main", Id(IDC_PORT)}),
            "7|COM1|COM2|COM5|COM7|COM9|COM10|COM12|" + listed + "|Network port...");
  EXPECT_EQ(DriveOne({"text", "main", Id(IDC_CONNECT)}), "Connect");
  Drive({"click", "main", Id(IDC_CONNECT)});
  ASSERT_TRUE(StatusBecomes("COM20 connected")) << Describe();
  const std::filesystem::path typed = StartTypingTarget();
  const std::filesystem::path unsent = line.string() + ".new";
  std::ofstream(unsent) << "Net 7\r";
  std::filesystem::rename(unsent, line);
  EXPECT_TRUE(TypedBecomes(typed, "Net 7\r\n")) << ReadWhole(typed).value_or("(none)");
  Drive({"close", "main"});
  ExpectLintrelEnds();
}

}  // namespace
}  // namespace lintrel::testing

// lintrel-cli.exe, the Windows build, run under Wine in a prefix of its own on a private Xvfb
// display: the Windows serial backend over a pseudo-terminal pair linked as a COM port, the
// Windows keyboard typing into a window, the settings in the registry, and the Port list
// built from the device map and the Bluetooth registry keys.

#include <algorithm>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "platform/virtual_serial_device.h"
#include "support/network_peers.h"
#include "support/xvfb_server.h"
#include "wine/gui_driver_client.h"
#include "wine/port_registry.h"
#include "wine/wine_prefix.h"
#include "wine/wine_suite.h"

namespace lintrel::testing {
namespace {

using std::chrono::milliseconds;

constexpr char kWindowsCli[] = LINTREL_WINDOWS_CLI_PATH;
constexpr char kKeyTarget[] = LINTREL_KEY_TARGET_PATH;
constexpr char kPtyShim[] = LINTREL_PTY_SHIM_PATH;
constexpr char kGuiDriver[] = LINTREL_GUI_DRIVER_PATH;
constexpr char kSettingsKey[] = "HKEY_CURRENT_USER\\Software\\VANTORIL SOFTWARE\\lintrel-cli";
// Between two writes that must reach the program as two separate reads.
constexpr milliseconds kPauseBetweenReads(200);

std::string Trace(const std::vector<std::vector<std::string>>& presses) {
  std::string text;
  for (const std::vector<std::string>& press : presses) {
    for (const std::string& event : press) text += event + "\n";
  }
  return text;
}

bool FileBecomes(ChildProcess& process, const std::filesystem::path& path, const std::string& expected) {
  return process.WaitUntil([&] { return ReadWhole(path) == expected; });
}

class WineCliTest : public WineSuite<81, /*kVirtualDesktop=*/false> {
 protected:
  // A German keymap: every typing test of the suite then shows that keys follow the layout.
  static void SetUpTestSuite() { StartSuite("de"); }

  void SetUp() override {
    SetUpSuite({kWindowsCli});
    if (IsSkipped() || HasFatalFailure()) return;
    std::string error;
    ASSERT_TRUE(prefix().ImportRegistry(std::string("[-") + kSettingsKey + "]\r\n", &error)) << error;
  }

  CommandResult RunCli(std::vector<std::string> args) {
    args.insert(args.begin(), kWindowsCli);
    return prefix().Run(args);
  }

  // Runs the program with the pseudo-terminal shim, which gives ptys the modem lines that
  // Wine's serial waits ask for; the carrier of /dev/pts/N is the file carN in the root.
  std::unique_ptr<ChildProcess> StartCliOnPtys(std::vector<std::string> args) {
    args.insert(args.begin(), kWindowsCli);
    return prefix().Start(args, {"LD_PRELOAD=" + std::string(kPtyShim), "PTYSHIM_DIR=" + prefix().root().string()});
  }

  // The program on COM5 (device_), typing into a key target (target_) that writes what
  // arrives to typed_. The newest window gets the keyboard focus: the target starts after
  // the program has connected.
  void StartTypingIntoTarget(const std::vector<std::string>& args) {
    device_ = MakeComPort(5);
    ASSERT_NE(device_, nullptr);
    cli_ = StartCliOnPtys(args);
    ASSERT_TRUE(cli_->WaitForErr("lintrel: COM5 connected")) << cli_->Describe();
    typed_ = prefix().root() / "typed.txt";
    target_ = prefix().Start({kKeyTarget, WinePrefix::WindowsPath(typed_)});
    ASSERT_TRUE(FileBecomes(*target_, typed_, "")) << "the target window never had the focus" << target_->Describe();
  }

  std::unique_ptr<platform::VirtualSerialDevice> device_;
  std::unique_ptr<ChildProcess> cli_;
  std::unique_ptr<ChildProcess> target_;
  std::filesystem::path typed_;
};

TEST_F(WineCliTest, TypesLinesFromAComPortAndStopsOnInterrupt) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  std::unique_ptr<ChildProcess> cli = StartCliOnPtys({"--keys", "trace", "--port", "COM5", "--baud", "9600"});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 connected (\\\\.\\COM5)")) << cli->Describe();

  // A whole line in one read, then one split over two reads.
  ASSERT_TRUE(Send(*device, "Ab1\r"));
  ASSERT_TRUE(cli->WaitForOutLines(10)) << cli->Describe();
  ASSERT_TRUE(Send(*device, "x"));
  cli->DrainFor(kPauseBetweenReads);
  EXPECT_EQ(cli->OutLines().size(), 10u) << "typed before the end character: " << cli->Describe();
  ASSERT_TRUE(Send(*device, "y\r"));
  ASSERT_TRUE(cli->WaitForOutLines(16)) << cli->Describe();

  const std::string lines =
      Trace({ShiftPress('A'), Press('B'), Press('1'), Press(0x0D), Press('X'), Press('Y'), Press(0x0D)});
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), lines);

  // A burst longer than one read is typed at once: the bytes left after the first read are
  // taken without waiting for more to arrive (Wine's waits report queued bytes at every
  // wait, as Windows' do not, so this checks that draining loses and repeats nothing).
  ASSERT_TRUE(Send(*device, std::string(1500, '5') + "\r"));
  ASSERT_TRUE(cli->WaitForOutLines(16 + 2 * 1501)) << cli->Describe();
  std::vector<std::vector<std::string>> burst(1500, Press('5'));
  burst.push_back(Press(0x0D));
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), lines + Trace(burst));
  ExpectStopsCleanly(*cli, SIGINT);
}

TEST_F(WineCliTest, TypesIntoTheFocusedWindowWithTheWindowsKeyboard) {
  ASSERT_NO_FATAL_FAILURE(StartTypingIntoTarget({"--port", "COM5"}));

  // Shifted and plain letters, digits, punctuation, a space and Enter (which the edit box
  // stores as CR LF); then a line split over two reads.
  ASSERT_TRUE(Send(*device_, "Hello, World! 42\r"));
  ASSERT_TRUE(FileBecomes(*cli_, typed_, "Hello, World! 42\r\n")) << ReadWhole(typed_).value_or("(none)");
  ASSERT_TRUE(Send(*device_, "a-b"));
  cli_->DrainFor(kPauseBetweenReads);
  EXPECT_EQ(ReadWhole(typed_), "Hello, World! 42\r\n") << "typed before the end character";
  ASSERT_TRUE(Send(*device_, "_C\r"));
  EXPECT_TRUE(FileBecomes(*cli_, typed_, "Hello, World! 42\r\na-b_C\r\n")) << ReadWhole(typed_).value_or("(none)");

  ExpectStopsCleanly(*cli_, SIGINT);
}

// Pasted through the clipboard: the line arrives whole (the Tab inside it too), its Enter
// pressed after it, and the clipboard holds the user's copy again.
TEST_F(WineCliTest, PastesALineAndPutsTheClipboardBack) {
  const GuiDriverClient driver(prefix(), kGuiDriver);
  ASSERT_EQ(driver.DriveOne({"copy", "copied by the user"}), "ok");
  ASSERT_NO_FATAL_FAILURE(StartTypingIntoTarget({"--port", "COM5", "--delivery", "paste", "--encoding", "utf-8"}));
  ASSERT_TRUE(Send(*device_, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC\t1\r"));
  EXPECT_TRUE(FileBecomes(*cli_, typed_, "Gr\xFC\xDF" "e \x80\t1\r\n")) << ReadWhole(typed_).value_or("(none)");
  EXPECT_EQ(driver.DriveOne({"clipboard"}), "copied by the user");
  EXPECT_EQ(cli_->err().find("not typed"), std::string::npos) << cli_->Describe();
  ExpectStopsCleanly(*cli_, SIGINT);
}

// On the German layout: AltGr characters, UTF-8 characters the target gets as Unicode
// packets or through their German keys. The edit box keeps its text in
// the ANSI code page (Windows-1252 here).
TEST_F(WineCliTest, TypesTrueToTheGermanLayoutWithUnicodePackets) {
  ASSERT_NO_FATAL_FAILURE(StartTypingIntoTarget({"--port", "COM5", "--encoding", "utf-8"}));

  ASSERT_TRUE(Send(*device_, "user@example.com {a} [b] \\ ~ |\r"));
  std::string expected = "user@example.com {a} [b] \\ ~ |\r\n";
  ASSERT_TRUE(FileBecomes(*cli_, typed_, expected)) << ReadWhole(typed_).value_or("(none)");
  ASSERT_TRUE(Send(*device_, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xC2\xB1\r"));
  expected += "Gr\xFC\xDF" "e \x80 \xB1\r\n";
  ASSERT_TRUE(FileBecomes(*cli_, typed_, expected)) << ReadWhole(typed_).value_or("(none)");
  ExpectStopsCleanly(*cli_, SIGINT);
}

// The German layout's dead keys: ^, ` and ´ arrive whole, also before a letter they would
// otherwise combine with and before a space; so do characters made with them (ê).
TEST_F(WineCliTest, TypesTheDeadKeyCharactersOfTheGermanLayout) {
  ASSERT_NO_FATAL_FAILURE(StartTypingIntoTarget({"--port", "COM5", "--encoding", "utf-8"}));

  ASSERT_TRUE(Send(*device_, "X^Y `a\xC2\xB4 b P^ Q \xC3\xAA^\r"));
  EXPECT_TRUE(FileBecomes(*cli_, typed_, "X^Y `a\xB4 b P^ Q \xEA^\r\n")) << ReadWhole(typed_).value_or("(none)");
  ExpectStopsCleanly(*cli_, SIGINT);
}

// Caps Lock switched on at the display, as by the user's key: the target's own keys then
// type capitals, and the program compensates, so that the line arrives as it was sent
// (with "@", AltGr+Q on the German layout).
TEST_F(WineCliTest, CompensatesCapsLockSwitchedOnAtTheDisplay) {
  ASSERT_NO_FATAL_FAILURE(StartTypingIntoTarget({"--port", "COM5"}));

  // Without a window manager the display's keyboard focus follows the pointer: keys pressed
  // at the display go to the target with the pointer over it. Pressed, not sent to the
  // window (xdotool's --window, a synthetic event), so that the display's Caps Lock changes.
  const std::string display = "DISPLAY=" + display_name();
  ASSERT_TRUE(RunToEnd({display, "xdotool", "search", "--name", "^Lintrel key target$", "mousemove", "--window", "%1",
                        "40", "40"})
                  .Succeeded())
      << "xdotool failed (tools/setup.sh installs it)";
  const auto press_at_target = [&](const char* key) {
    return RunToEnd({display, "xdotool", "key", key}).Succeeded();
  };
  // The suite shares the display and the prefix: Caps Lock goes off again, also when a
  // check fails.
  bool caps_lock_on = press_at_target("Caps_Lock");
  struct AtExit {
    std::function<void()> run;
    ~AtExit() { run(); }
  } switch_off{[&] {
    if (caps_lock_on) press_at_target("Caps_Lock");
  }};
  ASSERT_TRUE(caps_lock_on) << "xdotool failed";
  // The target's key turns into a capital: Wine took the display's Caps Lock.
  ASSERT_TRUE(press_at_target("a"));
  ASSERT_TRUE(FileBecomes(*target_, typed_, "A")) << ReadWhole(typed_).value_or("(none)");

  ASSERT_TRUE(Send(*device_, "SN-Ab12cD @\r"));
  EXPECT_TRUE(FileBecomes(*cli_, typed_, "ASN-Ab12cD @\r\n")) << ReadWhole(typed_).value_or("(none)");

  // Off again, seen by the target before the next case starts its own.
  caps_lock_on = !press_at_target("Caps_Lock");
  ASSERT_TRUE(press_at_target("a"));
  EXPECT_TRUE(FileBecomes(*target_, typed_, "ASN-Ab12cD @\r\na")) << ReadWhole(typed_).value_or("(none)");
  ExpectStopsCleanly(*cli_, SIGINT);
}

// Options reach the program as the characters they are, not as the ANSI code page's bytes:
// a suffix "é" (UTF-8 on the command line of a UTF-8 locale) is typed as é.
TEST_F(WineCliTest, OptionsOutsideAsciiArriveAsCharacters) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  std::unique_ptr<ChildProcess> cli = prefix().Start(
      {kWindowsCli, "--keys", "trace", "--port", "COM5", "--suffix", "\xC3\xA9"},
      {"LC_ALL=C.UTF-8", "LD_PRELOAD=" + std::string(kPtyShim), "PTYSHIM_DIR=" + prefix().root().string()});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 connected")) << cli->Describe();
  ASSERT_TRUE(Send(*device, "a\r"));
  ASSERT_TRUE(cli->WaitForOutLines(6)) << cli->Describe();
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), ExpectedTrace("a\r\xE9"));
  ExpectStopsCleanly(*cli, SIGINT);
}

TEST_F(WineCliTest, TwoPortsAndTheLineRulesOptions) {
  std::unique_ptr<platform::VirtualSerialDevice> first = MakeComPort(5);
  std::unique_ptr<platform::VirtualSerialDevice> second = MakeComPort(12);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  std::unique_ptr<ChildProcess> cli = StartCliOnPtys(
      {"--keys", "trace", "--prefix", "--truncate", "--end-char", "0x0A", "--port", "COM5", "--port", "COM12"});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 connected")) << cli->Describe();
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM12 connected")) << cli->Describe();

  // The end character is now line feed, not typed; each line begins with its port's name.
  ASSERT_TRUE(Send(*first, "7\n"));
  ASSERT_TRUE(cli->WaitForOutLines(20)) << cli->Describe();
  ASSERT_TRUE(Send(*second, "8\n"));
  ASSERT_TRUE(cli->WaitForOutLines(42)) << cli->Describe();

  const uint8_t kColonKey = 0xBA;  // Shift and the ;: key on a US layout
  EXPECT_EQ(WithoutCarriageReturns(cli->out()),
            Trace({ShiftPress('C'), ShiftPress('O'), ShiftPress('M'), Press('5'), ShiftPress(kColonKey), Press('7'),
                   ShiftPress('C'), ShiftPress('O'), ShiftPress('M'), Press('1'), Press('2'), ShiftPress(kColonKey),
                   Press('8')}));
  ExpectStopsCleanly(*cli, SIGINT);
}

// A target is matched against the executable of the window in front, ignoring case and
// ".exe": the key target's lines arrive in it.
TEST_F(WineCliTest, TypesIntoTheTargetNamedByItsExecutable) {
  ASSERT_NO_FATAL_FAILURE(StartTypingIntoTarget({"--port", "COM5", "--target", "LINTREL_KEY_TARGET"}));
  ASSERT_TRUE(Send(*device_, "T1\r"));
  EXPECT_TRUE(FileBecomes(*cli_, typed_, "T1\r\n")) << ReadWhole(typed_).value_or("(none)") << cli_->Describe();
  EXPECT_EQ(cli_->err().find("lines wait"), std::string::npos) << cli_->Describe();
  ExpectStopsCleanly(*cli_, SIGINT);
}

TEST_F(WineCliTest, ReopensAPortWhoseCarrierDropped) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  SetCarrier(5, true);
  std::unique_ptr<ChildProcess> cli = StartCliOnPtys({"--keys", "trace", "--port", "COM5", "--reconnect-delay", "500"});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 connected")) << cli->Describe();

  // Two carrier changes seen by waits that had to block count the link down to lost.
  ASSERT_TRUE(DropCarrierUntil(
      5, *cli, [&] { return cli->err().find("lintrel: COM5 link lost; reconnecting in 500 ms") != std::string::npos; }))
      << cli->Describe();
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 reconnected: connected")) << cli->Describe();

  ASSERT_TRUE(Send(*device, "9\r"));
  ASSERT_TRUE(cli->WaitForOutLines(4)) << cli->Describe();
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), Trace({Press('9'), Press(0x0D)}));
  ExpectStopsCleanly(*cli, SIGINT);
}

TEST_F(WineCliTest, ReopensAPortWhoseDeviceWasUnplugged) {
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  std::unique_ptr<ChildProcess> cli = StartCliOnPtys({"--keys", "trace", "--port", "COM5", "--reconnect-delay", "500"});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 connected")) << cli->Describe();

  device->Unplug();
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 link lost; reconnecting in 500 ms")) << cli->Describe();
  std::string error;
  ASSERT_TRUE(device->Plug(&error)) << error;
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 reconnected: connected")) << cli->Describe();
  ASSERT_TRUE(Send(*device, "8\r"));
  ASSERT_TRUE(cli->WaitForOutLines(4)) << cli->Describe();
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), Trace({Press('8'), Press(0x0D)}));
  ExpectStopsCleanly(*cli, SIGINT);
}

// The Windows build's network port against ser2net serving a pty pair with RFC 2217: the
// line settings set through the server, lines typed, Winsock through Asio under Wine.
TEST_F(WineCliTest, Rfc2217PortThroughSer2net) {
  const std::filesystem::path directory = prefix().root() / "network";
  std::filesystem::create_directories(directory);
  PtyPair pair(directory.string());
  ASSERT_TRUE(pair.ok());
  const int port = FreeLoopbackPort();
  ASSERT_NE(port, 0);
  std::unique_ptr<ChildProcess> ser2net = StartSer2net(pair.port_path(), port);
  ASSERT_NE(ser2net, nullptr);
  const std::string address = "rfc2217://127.0.0.1:" + std::to_string(port);
  std::unique_ptr<ChildProcess> cli =
      prefix().Start({kWindowsCli, "--keys", "trace", "--port", "COM20=" + address, "--baud", "19200"});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM20 connected (" + address + ")")) << cli->Describe();
  ASSERT_TRUE(cli->WaitUntil([&] {
    const std::optional<termios> settings = pair.PortSettings();
    return settings && cfgetospeed(&*settings) == B19200;
  })) << "the port side is not at 19200 baud";
  ASSERT_TRUE(pair.Write("Ab1\r"));
  ASSERT_TRUE(cli->WaitForOutLines(10)) << cli->Describe();
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), Trace({ShiftPress('A'), Press('B'), Press('1'), Press(0x0D)}));
  ExpectStopsCleanly(*cli, SIGINT);
}

TEST_F(WineCliTest, MissingComPortFailsWithTheSystemsReason) {
  const CommandResult result = RunCli({"--keys", "trace", "--port", "COM9"});
  ASSERT_TRUE(result.status.has_value());
  EXPECT_TRUE(result.status->exited && result.status->code == 1) << result.err;
  // One failure, one status line.
  EXPECT_EQ(result.err.rfind("lintrel: COM9 open failed: \\\\.\\COM9: ", 0), 0u) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST_F(WineCliTest, SaveWritesTheFiveValuesThatLaterRunsStartFrom) {
  // First start: nothing stored, so a port must be given.
  const CommandResult first = RunCli({"--keys", "trace"});
  ASSERT_TRUE(first.status.has_value());
  EXPECT_EQ(first.status->code, 2) << first.err;
  EXPECT_NE(first.err.find("no port given"), std::string::npos) << first.err;

  const CommandResult save = RunCli({"--save", "--list-ports", "--baud", "9600", "--parity", "even", "--data-bits",
                                     "7", "--stop-bits", "2", "--port", "COM7", "--suffix", "\\t"});
  ASSERT_TRUE(save.Succeeded()) << save.err;
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), "COM7");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Baud rate"), "0x4");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Parity"), "0x2");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Databit"), "0x0");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Stop bit"), "0x1");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Ports"), "COM7");
  // The port's own options go to its profile, a subkey of its own.
  EXPECT_EQ(prefix().QueryValue(kSettingsKey + std::string("\\Ports\\COM7"), "Suffix"), "\\t");

  // The next run captures the saved port with the saved line settings; a saved port that
  // is missing is retried, not the end of the program.
  std::unique_ptr<ChildProcess> next = StartCliOnPtys({"--keys", "trace"});
  ASSERT_TRUE(next->WaitForErr("lintrel: COM7 open failed")) << next->Describe();
  ExpectStopsCleanly(*next, SIGINT);
}

TEST_F(WineCliTest, StoredValuesAreTakenAsTheyAre) {
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kSettingsKey +
                                          "]\r\n\"Port\"=\"COM3\"\r\n\"Baud rate\"=dword:ffffffff\r\n",
                                      &error))
      << error;
  // Saving again without choosing a rate keeps "nothing selected" (-1); the other
  // entries get their defaults.
  const CommandResult save = RunCli({"--save"});
  ASSERT_TRUE(save.Succeeded()) << save.err;
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Port"), "COM3");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Baud rate"), "0xffffffff");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Parity"), "0x0");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Databit"), "0x1");
  EXPECT_EQ(prefix().QueryValue(kSettingsKey, "Stop bit"), "0x0");
}

TEST_F(WineCliTest, PortListFromTheDeviceMapAndBluetoothWithTheSavedPortSelected) {
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry(kPortRegistry, &error)) << error;
  ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kSettingsKey + "]\r\n\"Port\"=\"COM1\"\r\n", &error))
      << error;

  const CommandResult list = RunCli({"--list-ports"});
  ASSERT_TRUE(list.Succeeded()) << list.err;
  // By port number; the Bluetooth modem entry of the device map left out; the saved "COM1"
  // selects COM1 itself, not COM10, which also begins with it.
  EXPECT_EQ(list.out, "* COM1\n  COM2\n  COM7\n  COM10\n");

  ASSERT_TRUE(prefix().ImportRegistry(std::string("[") + kSettingsKey + "]\r\n\"Port\"=\"com7\"\r\n", &error))
      << error;
  EXPECT_EQ(RunCli({"--list-ports"}).out, "  COM1\n  COM2\n* COM7\n  COM10\n");
}

// A machine policy's "End char" stands over the user's own: lines end where the policy says,
// --save does not store over it and says so, --show-settings names it. A recommended value is
// used until the user sets one of their own.
TEST_F(WineCliTest, APolicyStandsOverTheUsersValueAndARecommendedOneUnderIt) {
  const std::string policies = "HKEY_LOCAL_MACHINE\\Software\\Policies\\VANTORIL SOFTWARE\\lintrel-cli";
  const std::string recommended = "HKEY_CURRENT_USER\\Software\\Policies\\VANTORIL SOFTWARE\\lintrel-cli\\Recommended";
  std::string error;
  ASSERT_TRUE(prefix().ImportRegistry("[" + policies + "]\r\n\"End char\"=dword:0000000a\r\n[" + recommended +
                                          "]\r\n\"Prefix text\"=\"R\"\r\n[" + kSettingsKey +
                                          "\\Ports\\COM5]\r\n\"End char\"=dword:00000003\r\n\"Truncate\"=dword:00000001\r\n",
                                      &error))
      << error;
  struct Cleanup {
    ~Cleanup() {
      std::string ignored;
      prefix().ImportRegistry("[-" + policies + "]\r\n[-" + recommended + "]\r\n", &ignored);
    }
    std::string policies, recommended;
  } cleanup{policies, recommended};

  // The line ends at the policy's line feed, not at the user's ETX; the recommended prefix
  // comes before it.
  std::unique_ptr<platform::VirtualSerialDevice> device = MakeComPort(5);
  ASSERT_NE(device, nullptr);
  std::unique_ptr<ChildProcess> cli = StartCliOnPtys({"--keys", "trace", "--port", "COM5", "--end-char", "3"});
  ASSERT_TRUE(cli->WaitForErr("lintrel: COM5 connected")) << cli->Describe();
  EXPECT_NE(cli->err().find("\"End char\" of COM5 is set by your administrator: \"10\" is used, not \"3\""),
            std::string::npos)
      << cli->Describe();
  ASSERT_TRUE(Send(*device, "56\n"));
  // Every key of the line, Shift's too: the trace comes a stroke at a time.
  const std::string typed = Trace({ShiftPress('R'), Press('5'), Press('6')});
  const auto keys = static_cast<std::size_t>(std::count(typed.begin(), typed.end(), '\n'));
  ASSERT_TRUE(cli->WaitForOutLines(keys)) << cli->Describe();
  EXPECT_EQ(WithoutCarriageReturns(cli->out()), typed);
  ExpectStopsCleanly(*cli, SIGINT);

  const CommandResult refused = RunCli({"--save", "--list-ports", "--port", "COM5", "--end-char", "3"});
  EXPECT_FALSE(refused.Succeeded());
  EXPECT_NE(refused.err.find("--save: not saved: \"End char\" of COM5 is set by your administrator"),
            std::string::npos)
      << refused.err;
  CommandResult shown = RunCli({"--show-settings", "--port", "COM5"});
  ASSERT_TRUE(shown.Succeeded()) << shown.err;
  EXPECT_NE(shown.out.find("policy              End char=10\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("recommended policy  Prefix text=R\n"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("policy              " + policies.substr(0, 18)), std::string::npos) << shown.out;

  const CommandResult saved = RunCli({"--save", "--list-ports", "--port", "COM5", "--prefix-text", "U"});
  ASSERT_TRUE(saved.Succeeded()) << saved.err;
  EXPECT_EQ(prefix().QueryValue(std::string(kSettingsKey) + "\\Ports\\COM5", "End char"), "0x3")
      << "the user's own value stays under the policy";
  shown = RunCli({"--show-settings"});
  EXPECT_NE(shown.out.find("user                Prefix text=U\n"), std::string::npos) << shown.out;
}

}  // namespace
}  // namespace lintrel::testing

#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "discovery/pnp_device_identity.h"
#include "discovery/port_names.h"
#include "fake_main_window_view.h"
#include "fakes/fake_clipboard.h"
#include "fakes/fake_foreground_windows.h"
#include "fakes/fake_keyboard.h"
#include "fakes/fake_pnp_devices.h"
#include "fakes/fake_serial.h"
#include "fakes/fake_settings_store.h"
#include "support/link_state.h"
#include "support/safety_limit.h"

namespace lintrel::ui {
namespace {

using platform::SerialErrorKind;
using platform::WaitOutcome;
using std::chrono::milliseconds;
using testing::FakeKeyboard;
using testing::FakeMainWindowView;
using testing::FakePnpDevices;
using testing::FakeSerialDriver;
using testing::FakeSerialPort;
using testing::FakeSettingsStore;
using Events = std::vector<std::string>;
using Captions = std::vector<std::string>;
using Images = std::vector<TrayImage>;
using Clock = MainWindow::Clock;

constexpr const char* kOpenFail = "Port open fail!!\r\nPlease check the status!!";

// The main window's logic over a recording view, with port n as the fake device "dev/COMn".
class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : window_(view_, driver_, keyboard_, Resolver()) {}

  DevicePathResolver Resolver() {
    return [this](int port) {
      resolved_.push_back(port);
      return Device(port);
    };
  }

  static std::string Device(int port) { return "dev/COM" + std::to_string(port); }
  FakeSerialPort* Port(int port) { return driver_.LastPort(Device(port)); }
  const PortSlot& Slot(int port) const { return window_.port_table()[port]; }

  // Picks the entry and presses Connect; the port's reader is started and waiting.
  void SelectAndConnect(const std::string& entry, int port) {
    window_.SelectPortFromCombo(entry);
    window_.TogglePortConnection();
    ASSERT_EQ(Slot(port).connected.load(), 1) << entry;
    ASSERT_NE(Port(port), nullptr) << entry;
    ASSERT_TRUE(Port(port)->WaitUntilDrained()) << entry;
  }

  bool LinkStateBecomes(int port, int expected) const { return testing::LinkStateBecomes(Slot(port), expected); }

  // The reader sees a carrier change reported at once: its link is lost.
  void LoseLink(int port) {
    Port(port)->PushCarrierChange(WaitOutcome::kImmediate);
    ASSERT_TRUE(LinkStateBecomes(port, LinkState::kLost));
  }

  bool NoSlotConnected() const {
    for (const PortSlot& slot : window_.port_table().slots) {
      if (slot.connected.load() != 0 || slot.port != nullptr) return false;
    }
    return true;
  }

  FakeMainWindowView view_;
  FakeSerialDriver driver_;
  std::shared_ptr<FakeKeyboard> keyboard_ = std::make_shared<FakeKeyboard>();
  std::vector<int> resolved_;  // every port number whose device path was asked for
  MainWindow window_;
  const Clock::time_point start_ = Clock::now();
};

// --- Picking a port -------------------------------------------------------------------

TEST_F(MainWindowTest, PickedEntryBecomesCurrentAndTheCaptionShowsWhatConnectWouldDo) {
  window_.SelectPortFromCombo("COM3");
  EXPECT_EQ(window_.current_port(), 3);
  EXPECT_EQ(view_.captions, Captions{"Connect"});

  window_.TogglePortConnection();
  EXPECT_EQ(view_.caption(), "Disconnect");

  // Another port that is not connected, then back to the connected one.
  window_.SelectPortFromCombo("COM4");
  EXPECT_EQ(window_.current_port(), 4);
  EXPECT_EQ(view_.caption(), "Connect");
  window_.SelectPortFromCombo("COM3");
  EXPECT_EQ(window_.current_port(), 3);
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_EQ(Slot(4).connected.load(), 0);
}

TEST_F(MainWindowTest, EntriesWithoutASlotNeverOpenAnything) {
  // A port that is connected must not be touched by the slotless entries either.
  SelectAndConnect("COM3", 3);
  resolved_.clear();

  for (const char* entry : {"COM300", "COM1234", "COM257", "COM-0", "COM03", "COM3 (USB)"}) {
    SCOPED_TRACE(entry);
    view_.messages.clear();
    ASSERT_NO_THROW(window_.SelectPortFromCombo(entry));
    EXPECT_EQ(view_.caption(), "Connect");
    const TrayMenuTexts texts = window_.MenuTexts();
    EXPECT_EQ(texts.connect, "Connect");
    EXPECT_EQ(texts.pause, "Pause");

    ASSERT_NO_THROW(window_.TogglePortConnection());
    EXPECT_EQ(view_.messages, std::vector<std::string>{kOpenFail});
    EXPECT_TRUE(resolved_.empty());
    ASSERT_NO_THROW(window_.TogglePause());
    EXPECT_EQ(view_.tray_images.back(), TrayImage::kNormal);
    // No valid port selected: the icon does not show another port's state, nor flash.
    view_.tray_images.clear();
    ASSERT_NO_THROW(window_.Tick(start_));
    ASSERT_NO_THROW(window_.RunDue(start_ + milliseconds(500)));
    EXPECT_TRUE(view_.tray_images.empty());
  }
  EXPECT_EQ(driver_.OpenCount(Device(300)), 0);
  EXPECT_EQ(driver_.OpenCount(Device(1234)), 0);
  EXPECT_EQ(driver_.OpenCount(Device(257)), 0);
  EXPECT_EQ(driver_.OpenCount(Device(0)), 0);
  EXPECT_EQ(driver_.OpenCount(Device(3)), 1);
  EXPECT_EQ(Slot(3).connected.load(), 1);
  EXPECT_EQ(Slot(3).paused.load(), 0);
  EXPECT_EQ(Slot(0).connected.load(), 0);
  EXPECT_EQ(window_.port_table().OpenPortCount(), 1);
}

// One current port, the window's: an entry that names no port shows no port's state, not
// that of COM0.
TEST_F(MainWindowTest, EntryWithoutASlotDoesNotShowPortZerosState) {
  SelectAndConnect("COM0", 0);
  window_.SelectPortFromCombo("COM300");
  view_.tray_images.clear();
  window_.Tick(start_);
  EXPECT_TRUE(view_.tray_images.empty());
  EXPECT_FALSE(window_.NextDue().has_value());
  EXPECT_EQ(window_.MenuTexts().connect, "Connect");

  window_.SelectPortFromCombo("COM0");
  window_.Tick(start_ + milliseconds(1000));
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kActivity});
}

TEST_F(MainWindowTest, FirstConnectTakesThePortListsSelection) {
  // The saved port is selected at start without the user picking it.
  view_.selected_port_text = "COM5";
  window_.TogglePortConnection();
  EXPECT_EQ(window_.current_port(), 5);
  EXPECT_EQ(Slot(5).connected.load(), 1);
  EXPECT_EQ(driver_.OpenCount(Device(5)), 1);
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_TRUE(view_.messages.empty());

  // From then on the current port is the one acted on.
  view_.selected_port_text = "COM6";
  window_.TogglePortConnection();
  EXPECT_EQ(Slot(5).connected.load(), 0);
  EXPECT_EQ(driver_.OpenCount(Device(6)), 0);
  EXPECT_EQ(view_.caption(), "Connect");
}

TEST_F(MainWindowTest, EmptySelectionTriesPortZeroAndFails) {
  view_.selected_port_text = "";
  driver_.SetFailure(Device(0), SerialErrorKind::kNotFound);
  window_.TogglePortConnection();
  EXPECT_EQ(resolved_, std::vector<int>{0});
  EXPECT_EQ(view_.messages, std::vector<std::string>{kOpenFail});
  EXPECT_EQ(Slot(0).connected.load(), 0);
  EXPECT_EQ(view_.caption(), "Connect");
  EXPECT_TRUE(NoSlotConnected());
}

// --- Connecting and disconnecting ----------------------------------------------------

TEST_F(MainWindowTest, ConnectOpensWithTheLineControlsAndLeavesTheTrayImage) {
  view_.line_settings.baud_index = 10;
  view_.line_settings.parity_index = platform::kParityEven;
  view_.line_settings.data_bit_index = 0;
  view_.line_settings.stop_bit_index = 1;
  SelectAndConnect("COM3", 3);

  EXPECT_GE(view_.line_reads, 1);
  const platform::LineParameters line = driver_.LastParameters();
  EXPECT_EQ(line.baud_rate, 115200u);
  EXPECT_EQ(line.parity, platform::kParityEven);
  EXPECT_EQ(line.data_bits, 7);
  EXPECT_TRUE(line.two_stop_bits);

  EXPECT_EQ(view_.captions, (Captions{"Connect", "Disconnect"}));
  EXPECT_TRUE(view_.tray_images.empty());
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_FALSE(view_.line_settings_open());
  EXPECT_FALSE(window_.EndCharacterEditable());
}

TEST_F(MainWindowTest, FailedConnectTellsTheUserOnce) {
  driver_.SetFailure(Device(7), SerialErrorKind::kBusy);
  window_.SelectPortFromCombo("COM7");
  window_.TogglePortConnection();
  EXPECT_EQ(view_.messages, std::vector<std::string>{kOpenFail});
  EXPECT_EQ(view_.captions, Captions{"Connect"});
  EXPECT_TRUE(view_.tray_images.empty());
  EXPECT_EQ(Slot(7).connected.load(), 0);
  EXPECT_TRUE(window_.EndCharacterEditable());
  // The message names neither port nor reason: the status line behind it does.
  EXPECT_EQ(view_.status(), "No port connected. COM7 open failed: dev/COM7: cannot open");

  // The next press tries again, and succeeds once the device can be opened.
  driver_.ClearFailure(Device(7));
  window_.TogglePortConnection();
  EXPECT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(Slot(7).connected.load(), 1);
  EXPECT_EQ(view_.status(), "COM7 connected");
}

TEST_F(MainWindowTest, DisconnectReturnsTheWindowToIdle) {
  SelectAndConnect("COM3", 3);
  window_.TogglePause();
  ASSERT_EQ(Slot(3).paused.load(), 1);
  FakeSerialPort* port = Port(3);
  view_.tray_images.clear();

  window_.TogglePortConnection();
  EXPECT_EQ(view_.caption(), "Connect");
  EXPECT_TRUE(view_.line_settings_open());
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kNormal});
  EXPECT_TRUE(port->woken());
  EXPECT_TRUE(port->closed());
  EXPECT_EQ(Slot(3).connected.load(), 0);
  EXPECT_EQ(Slot(3).paused.load(), 0);
  EXPECT_TRUE(window_.EndCharacterEditable());
  EXPECT_EQ(window_.MenuTexts().connect, "Connect");
  EXPECT_EQ(window_.MenuTexts().pause, "Pause");

  // Connected again, the port is not paused any more.
  window_.TogglePortConnection();
  EXPECT_EQ(window_.MenuTexts().connect, "Disconnect");
  EXPECT_EQ(window_.MenuTexts().pause, "Pause");
  EXPECT_EQ(Slot(3).paused.load(), 0);
}

// The end character is each port's own: locked while that port is connected, free while
// another port is.
TEST_F(MainWindowTest, APortsEndCharacterIsLockedOnlyWhileThatPortIsConnected) {
  EXPECT_TRUE(window_.EndCharacterEditable());
  SelectAndConnect("COM3", 3);
  SelectAndConnect("COM4", 4);
  EXPECT_EQ(Slot(3).connected.load(), 1);
  EXPECT_EQ(Slot(4).connected.load(), 1);
  EXPECT_EQ(window_.port_table().OpenPortCount(), 2);
  EXPECT_FALSE(window_.EndCharacterEditable());

  window_.SelectPortFromCombo("COM3");
  EXPECT_FALSE(window_.EndCharacterEditable());
  window_.TogglePortConnection();
  EXPECT_EQ(Slot(3).connected.load(), 0);
  EXPECT_EQ(Slot(4).connected.load(), 1);
  EXPECT_TRUE(window_.EndCharacterEditable()) << "COM4 is connected, COM3 is not";

  window_.SelectPortFromCombo("COM4");
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_FALSE(window_.EndCharacterEditable());
  window_.TogglePortConnection();
  EXPECT_TRUE(window_.EndCharacterEditable());
}

TEST_F(MainWindowTest, SupervisionOfAnotherPortLeavesTheCurrentCaptionAlone) {
  SelectAndConnect("COM3", 3);
  SelectAndConnect("COM4", 4);  // COM4 is current and connected
  const Captions before = view_.captions;
  ASSERT_EQ(view_.caption(), "Disconnect");

  // COM3's link is lost: released, then re-opened, without a word on COM4's button or a
  // change of the icon, which shows COM4 paused.
  window_.TogglePause();
  view_.tray_images.clear();
  LoseLink(3);
  window_.Tick(start_);
  EXPECT_EQ(Slot(3).connected.load(), 0);
  EXPECT_EQ(view_.captions, before);
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kPaused});
  window_.TogglePause();
  window_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(Slot(3).connected.load(), 1);
  EXPECT_EQ(view_.captions, before);
  ASSERT_TRUE(LinkStateBecomes(3, LinkState::kFresh));

  // The current port's own link: while it waits for the re-open, the button offers to stop
  // the waiting.
  LoseLink(4);
  window_.Tick(start_ + milliseconds(2000));
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_EQ(Slot(4).connected.load(), 0);
  window_.RunDue(start_ + milliseconds(3000));
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_EQ(Slot(4).connected.load(), 1);
  EXPECT_TRUE(view_.messages.empty());
}

// --- Pausing and the tray menu -------------------------------------------------------

// The tray menu's item and the window's Pause button say the same, and the button can be
// pressed only while the current port is connected.
TEST_F(MainWindowTest, OnlyAConnectedPortPauses) {
  window_.SelectPortFromCombo("COM3");
  window_.TogglePause();
  EXPECT_EQ(Slot(3).paused.load(), 0);
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kNormal});
  EXPECT_EQ(window_.MenuTexts().connect, "Connect");
  EXPECT_EQ(window_.MenuTexts().pause, "Pause");
  EXPECT_EQ(view_.pause_caption(), "Pause");
  EXPECT_FALSE(view_.pause_open());

  window_.TogglePortConnection();
  EXPECT_EQ(window_.MenuTexts().connect, "Disconnect");
  EXPECT_EQ(window_.MenuTexts().pause, "Pause");
  EXPECT_TRUE(view_.pause_open());

  window_.TogglePause();
  EXPECT_EQ(Slot(3).paused.load(), 1);
  EXPECT_EQ(view_.tray_images.back(), TrayImage::kPaused);
  EXPECT_EQ(window_.MenuTexts().connect, "Disconnect");
  EXPECT_EQ(window_.MenuTexts().pause, "Resume");
  EXPECT_EQ(view_.pause_caption(), "Resume");
  EXPECT_TRUE(view_.pause_open());
  window_.SelectPortFromCombo("COM4");
  EXPECT_EQ(view_.pause_caption(), "Pause");
  EXPECT_FALSE(view_.pause_open());
  window_.SelectPortFromCombo("COM3");

  window_.TogglePause();
  EXPECT_EQ(Slot(3).paused.load(), 0);
  EXPECT_EQ(view_.tray_images, (Images{TrayImage::kNormal, TrayImage::kPaused, TrayImage::kNormal}));
  EXPECT_EQ(window_.MenuTexts().pause, "Pause");
  EXPECT_EQ(view_.pause_caption(), "Pause");
  window_.TogglePortConnection();
  EXPECT_FALSE(view_.pause_open());
}

TEST_F(MainWindowTest, PauseAndMenuFollowTheCurrentPortOnly) {
  SelectAndConnect("COM3", 3);
  window_.TogglePause();
  window_.SelectPortFromCombo("COM4");  // not connected
  EXPECT_EQ(window_.MenuTexts().connect, "Connect");
  EXPECT_EQ(window_.MenuTexts().pause, "Pause");
  window_.TogglePause();
  EXPECT_EQ(Slot(3).paused.load(), 1);
  EXPECT_EQ(Slot(4).paused.load(), 0);
}

// --- The supervision tick ------------------------------------------------------------

TEST_F(MainWindowTest, TickFlashesTheActivityImageForAConnectedCurrentPort) {
  window_.SelectPortFromCombo("COM3");
  window_.Tick(start_);
  EXPECT_TRUE(view_.tray_images.empty());  // not connected: nothing to show
  EXPECT_FALSE(window_.NextDue().has_value());

  window_.TogglePortConnection();
  window_.Tick(start_ + milliseconds(1000));
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kActivity});
  EXPECT_EQ(window_.NextDue(), start_ + milliseconds(1500));
  window_.RunDue(start_ + milliseconds(1499));
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kActivity});
  window_.RunDue(start_ + milliseconds(1500));
  EXPECT_EQ(view_.tray_images, (Images{TrayImage::kActivity, TrayImage::kNormal}));
  EXPECT_FALSE(window_.NextDue().has_value());
}

TEST_F(MainWindowTest, TickShowsAPausedCurrentPortWithoutFlash) {
  SelectAndConnect("COM3", 3);
  window_.TogglePause();
  view_.tray_images.clear();
  window_.Tick(start_);
  EXPECT_EQ(view_.tray_images, Images{TrayImage::kPaused});
  EXPECT_FALSE(window_.NextDue().has_value());
}

TEST_F(MainWindowTest, LostLinkIsReleasedAndReopenedAfterTheConfiguredDelay) {
  window_.capture_options().Publish({.reconnect_delay_ms = 2000});
  SelectAndConnect("COM3", 3);
  FakeSerialPort* first = Port(3);
  LoseLink(3);

  window_.Tick(start_);
  EXPECT_TRUE(first->closed());
  EXPECT_EQ(Slot(3).connected.load(), 0);
  EXPECT_EQ(Slot(3).link_state.load(), LinkState::kAwaitingReconnect);
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_FALSE(view_.line_settings_open());
  EXPECT_EQ(view_.tray_images.back(), TrayImage::kNormal);

  // The controls set up for another port meanwhile: the re-open keeps the port's own.
  window_.SelectPortFromCombo("COM4");
  view_.line_settings.baud_index = 4;

  window_.RunDue(start_ + milliseconds(1999));
  EXPECT_EQ(driver_.OpenCount(Device(3)), 1);
  EXPECT_EQ(window_.NextDue(), start_ + milliseconds(2000));

  window_.RunDue(start_ + milliseconds(2000));
  EXPECT_EQ(driver_.OpenCount(Device(3)), 2);
  EXPECT_EQ(Slot(3).connected.load(), 1);
  EXPECT_EQ(driver_.LastParameters().baud_rate, 1200u);
  EXPECT_TRUE(view_.messages.empty());

  // The new reader types.
  ASSERT_TRUE(LinkStateBecomes(3, LinkState::kFresh));
  Port(3)->PushImmediate("1\r");
  EXPECT_TRUE(keyboard_->WaitForLines(1));
}

TEST_F(MainWindowTest, FailedReopenOfAVanishedDeviceIsRetriedWithoutAMessage) {
  SelectAndConnect("COM5", 5);
  Port(5)->PushDeviceGone();
  ASSERT_TRUE(LinkStateBecomes(5, LinkState::kLost));
  driver_.SetFailure(Device(5), SerialErrorKind::kNotFound);

  window_.Tick(start_);
  window_.RunDue(start_ + milliseconds(1000));
  window_.Tick(start_ + milliseconds(1000));
  window_.Tick(start_ + milliseconds(2000));
  EXPECT_TRUE(view_.messages.empty());
  EXPECT_EQ(Slot(5).connected.load(), 0);
  EXPECT_EQ(Slot(5).link_state.load(), LinkState::kAwaitingReconnect);
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_EQ(view_.status(), "COM5 waiting for its device");

  driver_.ClearFailure(Device(5));
  window_.Tick(start_ + milliseconds(3000));
  EXPECT_EQ(Slot(5).connected.load(), 1);
  EXPECT_EQ(driver_.OpenCount(Device(5)), 2);
  EXPECT_EQ(view_.caption(), "Disconnect");
  EXPECT_TRUE(view_.messages.empty());
}

// A port waiting for its device says so, keeps its line settings locked, and is given up
// by Disconnect: it is not re-opened when the device comes back.
TEST_F(MainWindowTest, WaitingPortIsShownAndDisconnectStopsTheWaiting) {
  SelectAndConnect("COM5", 5);
  EXPECT_EQ(view_.status(), "COM5 connected");
  Port(5)->PushDeviceGone();
  ASSERT_TRUE(LinkStateBecomes(5, LinkState::kLost));
  driver_.SetFailure(Device(5), SerialErrorKind::kNotFound);
  window_.Tick(start_);
  window_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(window_.ActivityOf(5), PortActivity::kWaiting);
  EXPECT_EQ(view_.status(), "COM5 waiting for its device");
  EXPECT_EQ(window_.MenuTexts().connect, "Disconnect");
  EXPECT_FALSE(view_.line_settings_open());
  EXPECT_TRUE(window_.HasActivePorts());

  window_.TogglePortConnection();
  EXPECT_EQ(window_.ActivityOf(5), PortActivity::kIdle);
  EXPECT_EQ(view_.caption(), "Connect");
  EXPECT_TRUE(view_.line_settings_open());
  EXPECT_EQ(view_.status(), "No port connected.");
  EXPECT_FALSE(window_.HasActivePorts());
  driver_.ClearFailure(Device(5));
  window_.Tick(start_ + milliseconds(2000));
  EXPECT_EQ(driver_.OpenCount(Device(5)), 1);
  EXPECT_TRUE(view_.messages.empty());
}

// The line settings are locked while the current port is connected, whichever port that is.
TEST_F(MainWindowTest, LineSettingsFollowTheCurrentPort) {
  SelectAndConnect("COM3", 3);
  EXPECT_FALSE(view_.line_settings_open());
  window_.SelectPortFromCombo("COM4");
  EXPECT_TRUE(view_.line_settings_open());
  window_.SelectPortFromCombo("COM3");
  EXPECT_FALSE(view_.line_settings_open());
  window_.TogglePause();
  EXPECT_FALSE(view_.line_settings_open());
  EXPECT_EQ(view_.status(), "COM3 paused");
}

// A connected port's lists show the settings it runs with, not those of the port shown
// before; a Disconnect and Connect from the window keeps them.
TEST_F(MainWindowTest, AnActivePortShowsTheLineSettingsItRunsWith) {
  view_.line_settings.baud_index = 1;
  SelectAndConnect("COM3", 3);
  view_.line_settings.baud_index = 4;
  SelectAndConnect("COM4", 4);
  window_.SelectPortFromCombo("COM3");
  EXPECT_EQ(view_.line_settings.baud_index, 1);
  window_.SelectPortFromCombo("COM4");
  EXPECT_EQ(view_.line_settings.baud_index, 4);

  window_.TogglePortConnection();
  EXPECT_TRUE(view_.line_settings_open());
  EXPECT_EQ(view_.line_settings.baud_index, 4);
  window_.TogglePortConnection();
  EXPECT_EQ(driver_.LastParameters().baud_rate, 9600u);
}

TEST(PortStatusTextTest, NamesEachActivityOnce) {
  using A = PortActivity;
  const struct {
    std::vector<PortStatus> ports;
    std::string expected;
  } cases[] = {
      {{}, "No port connected."},
      {{{3, A::kConnected}}, "COM3 connected"},
      {{{3, A::kConnected}, {4, A::kPaused}, {5, A::kConnected}, {7, A::kWaiting}},
       "COM3, COM5 connected; COM4 paused; COM7 waiting for its device"},
      {{{0, A::kWaiting}, {256, A::kWaiting}}, "COM0, COM256 waiting for their devices"},
  };
  for (const auto& test_case : cases) EXPECT_EQ(PortStatusText(test_case.ports), test_case.expected);
}

// --- Lines kept out of the program's own windows ---------------------------------------

TEST(MainWindowOwnWindowTest, LinesAreDroppedWhileAWindowOfTheProgramHasTheFocus) {
  FakeMainWindowView view;
  FakeSerialDriver driver;
  auto keyboard = std::make_shared<FakeKeyboard>();
  // Whether a window of the program is in front, as each line is about to be typed: the
  // lines typed mark how far the typing thread has come.
  const std::vector<bool> ours = {true, true, false, true, false, true, false};
  std::atomic<std::size_t> asked{0};
  std::atomic<int> wakes{0};
  MainWindow window(view, driver, keyboard, [](int port) { return "dev/COM" + std::to_string(port); },
                    {.foreground_is_ours = [&] { return ours.at(asked++); },
                     .foreground_window = {},
                     .wake_ui = [&] { ++wakes; }});
  window.SelectPortFromCombo("COM3");
  window.TogglePortConnection();
  FakeSerialPort* port = driver.LastPort("dev/COM3");
  ASSERT_NE(port, nullptr);

  for (const char* line : {"ab\r", "cd\r", "g\r"}) port->PushImmediate(line);
  ASSERT_TRUE(keyboard->WaitForLines(1));
  EXPECT_EQ(wakes.load(), 1) << "the UI is told once until it takes the count";
  const MainWindow::Clock::time_point start = MainWindow::Clock::now();
  window.ShowDroppedLines(start);
  window.ShowDroppedLines(start);
  EXPECT_EQ(view.notices, std::vector<std::string>{
                              "Line not typed: 2 lines (the last from COM3) were not typed, because a window of "
                              "Lintrel had the keyboard focus. Click into the window the lines are for, then scan "
                              "again."});

  // Dropped soon after: the notice shown anew counts them all.
  for (const char* line : {"e\r", "f\r"}) port->PushImmediate(line);
  ASSERT_TRUE(keyboard->WaitForLines(2));
  EXPECT_EQ(wakes.load(), 2);
  window.ShowDroppedLines(start + MainWindow::kDroppedLinesSpan);
  EXPECT_EQ(view.notices.back().substr(0, 38), "Line not typed: 3 lines (the last from");
  // Long after the last: a count of its own.
  for (const char* line : {"h\r", "i\r"}) port->PushImmediate(line);
  ASSERT_TRUE(keyboard->WaitForLines(3));
  window.ShowDroppedLines(start + 3 * MainWindow::kDroppedLinesSpan);
  EXPECT_EQ(view.notices.back().substr(0, 44), "Line not typed: A line from COM3 was not typ");
  EXPECT_EQ(view.notices.size(), 3u);
  EXPECT_EQ(keyboard->Events(), (Events{"down 0x47", "up 0x47", "down 0x0D", "up 0x0D", "end", "down 0x46", "up 0x46",
                                        "down 0x0D", "up 0x0D", "end", "down 0x49", "up 0x49", "down 0x0D", "up 0x0D",
                                        "end"}));
}

// A paced line whose window leaves the front stops at its next key and is reported cut
// short; the next line begins in the window now in front and is typed whole.
TEST(MainWindowOwnWindowTest, APacedLineStopsWhereAnotherWindowCameToTheFront) {
  FakeMainWindowView view;
  FakeSerialDriver driver;
  auto keyboard = std::make_shared<FakeKeyboard>();
  // Asked as the first line begins and before each of its keys: window 9 comes to the front
  // after two of them.
  std::atomic<int> asked{0};
  MainWindow window(view, driver, keyboard, [](int port) { return "dev/COM" + std::to_string(port); },
                    {.foreground_is_ours = [] { return false; },
                     .foreground_window = [&]() -> std::uintptr_t { return ++asked <= 3 ? 7 : 9; },
                     .wake_ui = [] {}});
  PortOptions options = window.OptionsForDialog();
  options.pacing.key_delay = milliseconds(1);
  std::string error;
  ASSERT_TRUE(window.ApplyOptions(options, &error)) << error;
  window.SelectPortFromCombo("COM3");
  window.TogglePortConnection();
  FakeSerialPort* port = driver.LastPort("dev/COM3");
  ASSERT_NE(port, nullptr);

  port->PushImmediate("abcd\r");
  port->PushImmediate("x\r");
  ASSERT_TRUE(keyboard->WaitForLines(4));
  EXPECT_EQ(keyboard->Events(), (Events{"down 0x41", "up 0x41", "end", "down 0x42", "up 0x42", "end", "down 0x58",
                                        "up 0x58", "end", "down 0x0D", "up 0x0D", "end"}));
  window.Tick(MainWindow::Clock::now());
  EXPECT_EQ(view.notices, std::vector<std::string>{"Line not typed: A line from COM3 was not typed: cut short: "
                                                   "another window came to the front"});
}

// Each check begins with the window in front as it is handed out, and is then asked before
// each key with the foreground as it is by then.
TEST(OwnWindowGuardTest, APacedLineStopsWhenItsWindowIsNoLongerInFront) {
  struct Front {
    bool ours;
    std::uintptr_t window;
  };
  const struct {
    const char* name;
    bool windows_told_apart;
    Front later;
    std::string_view reason;
  } cases[] = {
      {"the same window", true, {false, 7}, ""},
      {"Lintrel's window", true, {true, 9}, kOwnWindowInFront},
      {"another window", true, {false, 9}, kOtherWindowInFront},
      {"no window", true, {false, 0}, kOtherWindowInFront},
      {"another window, windows not told apart", false, {false, 9}, ""},
      {"Lintrel's window, windows not told apart", false, {true, 9}, kOwnWindowInFront},
  };
  for (const auto& test_case : cases) {
    Front front{false, 7};
    std::function<std::uintptr_t()> foreground_window;
    if (test_case.windows_told_apart) foreground_window = [&] { return front.window; };
    OwnWindowGuard guard([&] { return front.ours; }, foreground_window, {});
    const std::function<std::string()> check = guard.PacedLineCheck();
    EXPECT_EQ(check(), "") << test_case.name;
    front = test_case.later;
    EXPECT_EQ(check(), test_case.reason) << test_case.name;
    EXPECT_EQ(check(), test_case.reason) << test_case.name << ", asked again";
    // A line that begins in the window now in front goes on there, unless it is Lintrel's.
    EXPECT_EQ(guard.PacedLineCheck()(), front.ours ? kOwnWindowInFront : "") << test_case.name << ", next line";
  }
}

// --- Saving the line settings --------------------------------------------------------

TEST_F(MainWindowTest, SaveSettingsWritesTheSelectedPortAndTheFourPositions) {
  view_.selected_port_text = "COM7";
  view_.line_settings.port_name = "COM9";  // the Port list's text wins
  view_.line_settings.baud_index = 4;
  view_.line_settings.parity_index = -1;
  view_.line_settings.data_bit_index = 0;
  view_.line_settings.stop_bit_index = 1;
  FakeSettingsStore store;
  std::string error;
  ASSERT_TRUE(window_.SaveSettings(store, &error));

  using Value = FakeSettingsStore::Value;
  EXPECT_EQ(store.flushed_values, (std::map<std::string, Value>{{"Port", Value(std::string("COM7"))},
                                                                 {"Baud rate", Value(int32_t{4})},
                                                                 {"Parity", Value(int32_t{-1})},
                                                                 {"Databit", Value(int32_t{0})},
                                                                 {"Stop bit", Value(int32_t{1})}}));
  EXPECT_EQ(store.calls.back(), "flush");
}

// A port a policy selects at start is not stored over: the four positions alone are saved.
TEST_F(MainWindowTest, SaveSettingsWithoutThePortLeavesItAsItWas) {
  view_.selected_port_text = "COM7";
  view_.line_settings.baud_index = 4;
  FakeSettingsStore store;
  store.values["Port"] = std::string("COM3");
  std::string error;
  ASSERT_TRUE(window_.SaveSettings(store, &error, /*with_port=*/false));
  EXPECT_EQ(store.flushed_values.at("Port"), FakeSettingsStore::Value(std::string("COM3")));
  EXPECT_EQ(store.flushed_values.at("Baud rate"), FakeSettingsStore::Value(int32_t{4}));
}

TEST_F(MainWindowTest, SaveSettingsWithNothingSelectedWritesAnEmptyPort) {
  view_.selected_port_text = "";
  view_.line_settings = LineSettings{};
  FakeSettingsStore store;
  std::string error;
  ASSERT_TRUE(window_.SaveSettings(store, &error));
  EXPECT_EQ(store.ReadString("Port"), std::string());
  EXPECT_EQ(store.ReadInt("Baud rate"), LineSettings::kDefaultBaudIndex);
}

TEST_F(MainWindowTest, SaveSettingsReportsAStoreThatCannotBeWritten) {
  view_.selected_port_text = "COM2";
  FakeSettingsStore store;
  store.flush_failure = "the disk is full";
  std::string error;
  EXPECT_FALSE(window_.SaveSettings(store, &error));
  EXPECT_EQ(error, "the disk is full");
  EXPECT_TRUE(store.flushed_values.empty());
}

// --- Releasing the ports -------------------------------------------------------------

TEST_F(MainWindowTest, ReleaseAllPortsStopsEveryReaderAndClosesEveryPort) {
  SelectAndConnect("COM1", 1);
  SelectAndConnect("COM2", 2);
  SelectAndConnect("COM256", 256);
  window_.ReleaseAllPorts();
  for (int port : {1, 2, 256}) {
    SCOPED_TRACE(port);
    EXPECT_TRUE(Port(port)->woken());
    EXPECT_TRUE(Port(port)->closed());
    EXPECT_EQ(Slot(port).reader, nullptr);
    EXPECT_EQ(Slot(port).port, nullptr);
    EXPECT_EQ(Slot(port).connected.load(), 0);
  }
  EXPECT_TRUE(window_.EndCharacterEditable());
}

// Closing with the typing stuck (an output that takes nothing) must not hang either.
TEST(MainWindowLifetimeTest, DestructorStopsEveryReaderAndClosesEveryPort) {
  for (const bool typing_stuck : {false, true}) {
    SCOPED_TRACE(typing_stuck ? "typing stuck" : "idle");
    FakeMainWindowView view;
    FakeSerialDriver driver;
    auto keyboard = std::make_shared<FakeKeyboard>();
    if (typing_stuck) keyboard->Block();
    {
      MainWindow window(view, driver, keyboard, [](int port) { return "dev/COM" + std::to_string(port); });
      for (const char* entry : {"COM3", "COM4"}) {
        window.SelectPortFromCombo(entry);
        window.TogglePortConnection();
      }
      ASSERT_EQ(window.port_table().OpenPortCount(), 2);
      ASSERT_TRUE(driver.LastPort("dev/COM3")->WaitUntilDrained());
      ASSERT_TRUE(driver.LastPort("dev/COM4")->WaitUntilDrained());
      EXPECT_FALSE(driver.LastPort("dev/COM3")->closed());
      if (typing_stuck) {
        driver.LastPort("dev/COM3")->PushImmediate("x\r");
        ASSERT_TRUE(keyboard->WaitForCalls(1));
      }
    }
    // The driver keeps the fake ports alive after the window has let them go.
    for (const char* device : {"dev/COM3", "dev/COM4"}) {
      EXPECT_TRUE(driver.LastPort(device)->woken()) << device;
      EXPECT_TRUE(driver.LastPort(device)->closed()) << device;
    }
    keyboard->Unblock();
  }
}

// --- Typing end to end ---------------------------------------------------------------

TEST_F(MainWindowTest, ReceivedLinesAreTypedWithTheCurrentEndCharacter) {
  SelectAndConnect("COM3", 3);
  Port(3)->PushImmediate("AB\r");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(keyboard_->Events(), (Events{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "down 0x10",
                                        "down 0x42", "up 0x42", "up 0x10", "down 0x0D", "up 0x0D", "end"}));

  // With the end character set to LF, a CR no longer ends the line; the LF does.
  window_.TogglePortConnection();
  ASSERT_TRUE(window_.EndCharacterEditable());
  window_.capture_options().Publish({.end_character = 10});
  window_.TogglePortConnection();
  ASSERT_TRUE(Port(3)->WaitUntilDrained());
  Port(3)->PushImmediate("c\rd\n");
  ASSERT_TRUE(keyboard_->WaitForLines(2));
  const Events events = keyboard_->Events();
  const Events second(events.begin() + 11, events.end());
  EXPECT_EQ(second, (Events{"down 0x43", "up 0x43", "down 0x0D", "up 0x0D", "down 0x44", "up 0x44", "down 0x0D",
                            "up 0x0D", "end"}));
}

// --- Requests to the device ----------------------------------------------------------------

// A port's stored requests: the text on connect and the polls go out from the window's
// deadlines; "Send now" sends the current port's poll; a missing reply is one notice.
TEST_F(MainWindowTest, StoredRequestsAreSentAndSendNowPollsTheCurrentPort) {
  FakeSettingsStore store;
  store.WriteString("Ports\\COM3\\Send on connect", "ID\\r");
  store.WriteString("Ports\\COM3\\Poll", "P\\r");
  store.WriteInt("Ports\\COM3\\Poll every", 500);
  store.WriteInt("Ports\\COM3\\Reply timeout", 300);
  window_.UseProfilesIn(&store);
  EXPECT_FALSE(window_.SendNow(start_)) << "not connected";
  SelectAndConnect("COM3", 3);
  ASSERT_TRUE(window_.NextDue().has_value()) << "the text on connect is due";
  window_.RunDue(start_);
  EXPECT_EQ(Port(3)->writes(), (std::vector<std::string>{"ID\r"}));
  EXPECT_EQ(window_.NextDue(), start_ + milliseconds(500));

  ASSERT_TRUE(window_.SendNow(start_ + milliseconds(100)));
  window_.RunDue(start_ + milliseconds(400));  // the reply timeout of the poll sent now
  window_.RunDue(start_ + milliseconds(500));
  window_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(Port(3)->writes(), (std::vector<std::string>{"ID\r", "P\r", "P\r", "P\r"}));
  EXPECT_EQ(view_.notices, (std::vector<std::string>{"Device not answering: COM3: no reply to the poll"}));

  window_.SelectPortFromCombo("COM4");
  EXPECT_FALSE(window_.SendNow(start_ + milliseconds(1100))) << "COM4 has no poll";
}

// The Requests dialog's values are the port's own: stored, sent, and its hotkey known; a
// hotkey polls its port whichever port is current.
TEST_F(MainWindowTest, RequestsFromTheOptionsAreStoredAndTheHotkeyPollsItsPort) {
  FakeSettingsStore store;
  window_.UseProfilesIn(&store);
  window_.SelectPortFromCombo("COM3");
  PortOptions options = window_.OptionsForDialog();
  EXPECT_EQ(options.requests, PortRequestValues{});
  const Hotkey hotkey{.modifiers = Hotkey::kCtrl, .key = 0x78};
  options.requests = {.requests = {.send_on_connect = "", .poll = "P\r", .poll_every_ms = 0, .reply_timeout_ms = 200},
                      .hotkey = hotkey};
  std::string error;
  ASSERT_TRUE(window_.ApplyOptions(options, &error)) << error;
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Poll"), "P\\r");
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Hotkey"), "Ctrl+F9");
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\Poll every"), std::nullopt) << "off is not stored";
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Send on connect"), std::nullopt);
  EXPECT_EQ(window_.PortHotkeys(), (std::map<int, Hotkey>{{3, hotkey}}));
  EXPECT_EQ(window_.OptionsForDialog().requests, options.requests);

  SelectAndConnect("COM3", 3);
  window_.SelectPortFromCombo("COM4");
  ASSERT_TRUE(window_.SendNowTo(3, start_));
  EXPECT_EQ(Port(3)->writes(), (std::vector<std::string>{"P\r"}));
  EXPECT_FALSE(window_.SendNowTo(4, start_)) << "COM4 has no poll and is not connected";

  // Cleared: the hotkey is gone from the store and from the ports' hotkeys.
  window_.SelectPortFromCombo("COM3");
  options = window_.OptionsForDialog();
  options.requests.hotkey.reset();
  ASSERT_TRUE(window_.ApplyOptions(options, &error)) << error;
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Hotkey"), std::nullopt);
  EXPECT_TRUE(window_.PortHotkeys().empty());
}

// --- Profiles -------------------------------------------------------------------------

// The Options dialog edits the selected port's profile: stored, and in force for that port
// only, also while another port is connected.
TEST_F(MainWindowTest, EachPortTypesWithItsOwnOptions) {
  FakeSettingsStore store;
  window_.UseProfilesIn(&store);
  SelectAndConnect("COM4", 4);
  window_.SelectPortFromCombo("COM3");
  ASSERT_TRUE(window_.EndCharacterEditable());
  PortOptions options = window_.OptionsForDialog();
  ASSERT_EQ(options.port_number, 3);
  EXPECT_EQ(options.options, window_.capture_options().Load());
  options.options.end_character = 10;
  options.options.truncate = true;
  options.shaping.suffix = "\t";
  std::string error;
  ASSERT_TRUE(window_.ApplyOptions(options, &error)) << error;
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\End char"), 10);
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Suffix"), "\\t");
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\Port name prefix"), std::nullopt) << "the shared value is not its own";
  EXPECT_EQ(window_.capture_options().Load(), CaptureOptions{}) << "the shared options stay";

  window_.TogglePortConnection();
  ASSERT_TRUE(Port(3)->WaitUntilDrained());
  Port(3)->PushImmediate("a\r\n");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  Port(4)->PushImmediate("b\r");
  ASSERT_TRUE(keyboard_->WaitForLines(2));
  EXPECT_EQ(keyboard_->Events(), (Events{"down 0x41", "up 0x41", "down 0x0D", "up 0x0D", "down 0x09", "up 0x09",
                                        "end", "down 0x42", "up 0x42", "down 0x0D", "up 0x0D", "end"}));
}

// A port's line settings are its own: connecting stores them, selecting the idle port
// shows them again; a damaged stored value is one notice.
TEST_F(MainWindowTest, APortsLineSettingsComeBackWhenItIsSelected) {
  FakeSettingsStore store;
  store.WriteString("Ports\\COM5\\Control characters", "loud");
  window_.UseProfilesIn(&store);
  view_.line_settings = {.port_name = "", .baud_index = 4};
  SelectAndConnect("COM3", 3);
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\Baud rate"), 4);
  window_.TogglePortConnection();
  view_.line_settings.baud_index = 10;
  window_.SelectPortFromCombo("COM5");
  EXPECT_EQ(view_.line_shows, 0) << "COM5 has no line settings of its own";
  EXPECT_EQ(view_.notices, (std::vector<std::string>{"Port settings damaged: COM5 profile: \"Control characters\" "
                                                     "\"loud\" is not keep, drop or name; the default is used, the "
                                                     "stored value is kept."}));
  window_.SelectPortFromCombo("COM3");
  EXPECT_EQ(view_.line_settings.baud_index, 4);
  EXPECT_EQ(store.ReadString("Ports\\COM5\\Control characters"), "loud");
}

// Options with no port picked are every port's, the shaping too: a port without a value of
// its own takes the shared one, a port with its own keeps it.
TEST_F(MainWindowTest, TheSharedShapingIsEveryPortsWithoutItsOwn) {
  FakeSettingsStore store;
  window_.UseProfilesIn(&store);
  store.WriteString("Ports\\COM4\\Suffix", "#");
  PortOptions shared = window_.OptionsForDialog();
  ASSERT_EQ(shared.port_number, -1);
  shared.shaping.suffix = "!";
  shared.options.truncate = true;
  std::string error;
  ASSERT_TRUE(window_.ApplyOptions(shared, &error)) << error;
  EXPECT_EQ(window_.OptionsForDialog().shaping.suffix, "!") << "kept for the next opening";
  // Stored beside the shared line settings, read again at the next start.
  EXPECT_EQ(store.ReadString("Suffix"), "!");
  EXPECT_EQ(store.ReadInt("Truncate"), 1);
  EXPECT_EQ(store.ReadInt("End char"), std::nullopt) << "a default is not stored";
  {
    FakeMainWindowView view;
    MainWindow next_start(view, driver_, keyboard_, Resolver());
    next_start.UseProfilesIn(&store);
    const PortOptions read = next_start.OptionsForDialog();
    EXPECT_EQ(read.shaping.suffix, "!");
    EXPECT_TRUE(read.options.truncate);
  }

  SelectAndConnect("COM3", 3);
  SelectAndConnect("COM4", 4);
  Port(3)->PushImmediate("a\r");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  Port(4)->PushImmediate("b\r");
  ASSERT_TRUE(keyboard_->WaitForLines(2));
  EXPECT_EQ(keyboard_->Events(), (Events{"down 0x41", "up 0x41", "down 0x10", "down 0x31", "up 0x31", "up 0x10",
                                        "end", "down 0x42", "up 0x42", "down 0x10", "down 0x33", "up 0x33",
                                        "up 0x10", "end"}));

  // COM3 shows the shared suffix; kept unchanged, it does not become COM3's own.
  window_.SelectPortFromCombo("COM3");
  PortOptions options = window_.OptionsForDialog();
  EXPECT_EQ(options.shaping.suffix, "!");
  ASSERT_TRUE(window_.ApplyOptions(options, &error)) << error;
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Suffix"), std::nullopt);
}

// The Typing options and the reconnection delay are kept like the others: with no port
// picked as every port's, with a port picked as that port's own where they differ (the
// reconnection delay stays every port's).
TEST_F(MainWindowTest, TypingOptionsAreKeptForTheNextStartSharedAndPerPort) {
  FakeSettingsStore store;
  window_.UseProfilesIn(&store);
  PortOptions shared = window_.OptionsForDialog();
  shared.options.encoding = TextEncoding::kUtf8;
  shared.options.reconnect_delay_ms = 700;
  shared.pacing = {.key_delay = milliseconds(5), .line_delay = milliseconds(20)};
  std::string error;
  ASSERT_TRUE(window_.ApplyOptions(shared, &error)) << error;
  EXPECT_EQ(store.ReadString("Encoding"), "utf-8");
  EXPECT_EQ(store.ReadInt("Key delay"), 5);
  EXPECT_EQ(store.ReadInt("Line delay"), 20);
  EXPECT_EQ(store.ReadInt("Reconnection delay"), 700);

  window_.SelectPortFromCombo("COM3");
  PortOptions own = window_.OptionsForDialog();
  EXPECT_EQ(own.pacing, shared.pacing) << "a port without its own follows the shared ones";
  EXPECT_EQ(own.options.encoding, TextEncoding::kUtf8);
  own.options.encoding = TextEncoding::kLatin1;
  own.options.reconnect_delay_ms = 900;
  own.pacing.key_delay = milliseconds(9);
  ASSERT_TRUE(window_.ApplyOptions(own, &error)) << error;
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Encoding"), "latin-1");
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\Key delay"), 9);
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\Line delay"), std::nullopt) << "the shared one, not COM3's own";
  EXPECT_EQ(store.ReadInt("Ports\\COM3\\Reconnection delay"), std::nullopt);
  EXPECT_EQ(store.ReadInt("Reconnection delay"), 900);
  EXPECT_EQ(store.ReadString("Encoding"), "utf-8");

  FakeMainWindowView view;
  MainWindow next_start(view, driver_, keyboard_, Resolver());
  next_start.UseProfilesIn(&store);
  const PortOptions read_shared = next_start.OptionsForDialog();
  EXPECT_EQ(read_shared.options.encoding, TextEncoding::kUtf8);
  EXPECT_EQ(read_shared.options.reconnect_delay_ms, 900);
  EXPECT_EQ(read_shared.pacing, shared.pacing);
  next_start.SelectPortFromCombo("COM3");
  const PortOptions read_own = next_start.OptionsForDialog();
  EXPECT_EQ(read_own.options.encoding, TextEncoding::kLatin1);
  EXPECT_EQ(read_own.pacing, (Pacing{.key_delay = milliseconds(9), .line_delay = milliseconds(20)}));
}

TEST_F(MainWindowTest, LinesNotTypedAreShownOncePerCauseAtTheNextTick) {
  SelectAndConnect("COM3", 3);
  keyboard_->AnswerWith({{.accepted = 0, .error = "refused"}, {.accepted = 0, .error = "refused"}});
  for (const char* line : {"a\r", "b\r", "c\r"}) Port(3)->PushImmediate(line);
  // The third line is typed once the first two were accounted for.
  ASSERT_TRUE(keyboard_->WaitForLines(3));
  window_.Tick(start_);
  EXPECT_EQ(view_.notices, (std::vector<std::string>{"Line not typed: A line from COM3 was not typed: refused"}));
}

// --- Delivery to a target -------------------------------------------------------------

TEST(DeliveryTextsTest, NoticesTipAndStatusNameThePortAndTheTarget) {
  using Kind = DeliveryNotice::Kind;
  EXPECT_EQ(DeliveryNoticeText({5, Kind::kReleased, "excel.exe", "", 0}),
            (NoticeText{"Lines no longer waiting", "No line from COM5 waits for excel.exe any more."}));
  EXPECT_EQ(DeliveryNoticeText({7, Kind::kNotTyped, "x", "waited longer than 5 minutes for x", 12}).text,
            "12 lines from COM7 were not typed: waited longer than 5 minutes for x");
  EXPECT_EQ(TrayTipText({}), "Lintrel");
  EXPECT_EQ(TrayTipText({{7, "a"}, {5, "b"}}), "Lintrel: lines of COM5, COM7 wait for their targets");
  EXPECT_EQ(WithWaitingLines("No port connected.", {{5, "a"}, {6, "b"}}),
            "No port connected. Lines of COM5 wait for a; lines of COM6 wait for b");
}

// A port's stored target: its lines wait while another window is in front (also one of the
// program's own, where a line of a port without a target would be dropped), and the tray
// icon's tip and the status line say so until they are typed. The Options dialog changes the
// rules while the port runs.
TEST(MainWindowOwnWindowTest, LinesForATargetWaitWhileTheTipAndStatusSaySo) {
  FakeMainWindowView view;
  FakeSerialDriver driver;
  auto keyboard = std::make_shared<FakeKeyboard>();
  std::atomic<bool> ours{true};
  MainWindow window(view, driver, keyboard, [](int port) { return "dev/COM" + std::to_string(port); },
                    {.foreground_is_ours = [&] { return ours.load(); }, .foreground_window = {}, .wake_ui = {}});
  auto* windows = new testing::FakeForegroundWindows;
  windows->Open(testing::FakeForegroundWindows::Window(1, {"stock.exe"}, "Stock"));
  windows->Open(testing::FakeForegroundWindows::Window(2, {}, "Lintrel"));  // as lintrel.exe names its own
  windows->Front(2);
  auto* clipboard = new testing::FakeClipboard("kept");
  window.UseDelivery(std::unique_ptr<platform::ForegroundWindows>(windows),
                     std::unique_ptr<platform::Clipboard>(clipboard));
  FakeSettingsStore store;
  store.WriteString("Ports\\COM3\\Target", "stock");
  store.WriteString("Ports\\COM3\\Delivery", "paste");
  window.UseProfilesIn(&store);
  window.SelectPortFromCombo("COM3");
  window.TogglePortConnection();
  FakeSerialPort* port = driver.LastPort("dev/COM3");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(view.notices, std::vector<std::string>{});
  const auto notices_after = [&](const char* line) {
    view.notices.clear();
    port->PushImmediate(line);
    const auto deadline = MainWindow::Clock::now() + testing::kSafetyLimit;
    while (view.notices.empty() && MainWindow::Clock::now() < deadline) {
      std::this_thread::sleep_for(milliseconds(5));
      window.ShowDroppedLines(MainWindow::Clock::now());
    }
    return view.notices;
  };

  EXPECT_EQ(notices_after("a\r"), (std::vector<std::string>{"Lines waiting: Lines from COM3 wait for stock until it "
                                                            "is in front (another window is in front)."}));
  EXPECT_EQ(view.tray_tips, (std::vector<std::string>{"Lintrel: lines of COM3 wait for stock"}));
  EXPECT_EQ(view.status(), "COM3 connected; lines of COM3 wait for stock");
  EXPECT_EQ(windows->bells(), 1);
  ours = false;
  windows->Front(1);
  // The paste's Ctrl+V, then the end character pressed after it (once the clipboard is back).
  ASSERT_TRUE(keyboard->WaitForLines(2));
  // Pasted through the program's clipboard, the end character pressed after.
  EXPECT_EQ(keyboard->Events(),
            (Events{"down 0x11", "down 0x56", "up 0x56", "up 0x11", "end", "down 0x0D", "up 0x0D", "end"}));
  EXPECT_EQ(clipboard->Calls(), (std::vector<std::string>{"save", "put a", "await", "restore"}));
  EXPECT_EQ(clipboard->Contents(), "kept");
  window.Tick(MainWindow::Clock::now());
  EXPECT_EQ(view.tray_tips.back(), "Lintrel");
  EXPECT_EQ(view.status(), "COM3 connected");

  // Another target, and a line for it dropped while it is not in front.
  PortOptions options = window.OptionsForDialog();
  ASSERT_EQ(options.delivery.target, (DeliveryTarget{"stock", ""}));
  options.delivery = {DeliveryTarget{"mail.exe", "Inbox"}, Elsewhere::kDrop, DeliveryMethod::kUnicode};
  std::string error;
  ASSERT_TRUE(window.ApplyOptions(options, &error)) << error;
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Target"), "mail.exe:Inbox");
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Elsewhere"), "drop");
  EXPECT_EQ(store.ReadString("Ports\\COM3\\Delivery"), "unicode");
  EXPECT_EQ(notices_after("b\r"), (std::vector<std::string>{"Line not typed: A line from COM3 was not typed: "
                                                            "mail.exe:Inbox is not in front (stock.exe is in front)"}));
}

TEST_F(MainWindowTest, APausedPortDropsWhatArrives) {
  SelectAndConnect("COM3", 3);
  window_.TogglePause();
  Port(3)->PushImmediate("x\r");
  ASSERT_TRUE(Port(3)->WaitUntilDrained());
  window_.TogglePause();
  Port(3)->PushImmediate("y\r");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(keyboard_->Events(), (Events{"down 0x59", "up 0x59", "down 0x0D", "up 0x0D", "end"}));
}

// --- Running all day ---------------------------------------------------------------------

TEST_F(MainWindowTest, WakingUpReleasesALostLinkAndReopensItAtOnce) {
  SelectAndConnect("COM5", 5);
  LoseLink(5);
  window_.Resumed(start_);
  EXPECT_EQ(driver_.OpenCount(Device(5)), 2) << "not after the reconnection delay";
  EXPECT_EQ(Slot(5).connected.load(), 1);
  EXPECT_FALSE(window_.NextDue().has_value());
  EXPECT_EQ(view_.status(), "COM5 connected");
}

TEST(DeviceChangeTest, OnlySerialArrivalsAndRemovalsCount) {
  using C = DeviceChange;
  const struct {
    uint32_t event;
    std::optional<uint32_t> type;
    DeviceChange change;
  } cases[] = {
      {kDeviceArrivalEvent, kPortDeviceType, C::kArrived},
      {kDeviceArrivalEvent, kDeviceInterfaceType, C::kArrived},
      {kDeviceRemoveCompleteEvent, kPortDeviceType, C::kRemoved},
      {kDeviceRemoveCompleteEvent, kDeviceInterfaceType, C::kRemoved},
      {kDevNodesChangedEvent, std::nullopt, C::kChanged},
      {kDeviceArrivalEvent, 2, C::kNone},           // a volume
      {kDeviceArrivalEvent, std::nullopt, C::kNone},
      {0x8001, kPortDeviceType, C::kNone},          // a query to remove
  };
  for (const auto& test_case : cases) {
    EXPECT_EQ(ClassifyDeviceChange(test_case.event, test_case.type), test_case.change);
  }
  EXPECT_TRUE(IsResume(kResumeAutomaticEvent) && IsResume(kResumeSuspendEvent));
  EXPECT_FALSE(IsResume(0x0004));  // going to sleep
}

TEST(WithActivePortsTest, AnActivePortStaysListedWhenItsDeviceIsGone) {
  PortList system;
  system.Add("COM3");
  system.Add("COM10");
  const PortList listed = WithActivePorts(system, {3, 5, 256});
  EXPECT_EQ(testing::Names(listed), (std::vector<std::string>{"COM3", "COM5", "COM10", "COM256"}));
}

// lintrel.exe as it runs all day, over the device manager's list of ports (SetupAPI, faked)
// and the registry (faked): ports named "\\.\COMn" as on Windows.
class AllDayTest : public ::testing::Test {
 protected:
  AllDayTest() {
    auto devices = std::make_unique<FakePnpDevices>();
    devices_ = devices.get();
    identities_ = std::make_unique<PnpDeviceIdentities>(std::move(devices));
  }

  // A start of the program: its window, with the remembered ports connected.
  void Start() {
    window_.reset();
    window_ = std::make_unique<MainWindow>(view_, driver_, keyboard_, [](int port) { return Path(port); },
                                           OwnWindowHooks{}, identities_.get());
    window_->UseProfilesIn(&store_);
    window_->Reconnect(LoadRememberedPorts(store_));
    window_->RememberConnectionsIn(&store_);
  }

  void Connect(const std::string& entry, int baud_index) {
    view_.line_settings.baud_index = baud_index;
    window_->SelectPortFromCombo(entry);
    window_->TogglePortConnection();
  }

  std::optional<std::string> Stored(const std::string& entry) { return store_.ReadString(entry); }

  static std::string Path(int port) { return "\\\\.\\COM" + std::to_string(port); }

  FakeMainWindowView view_;
  FakeSerialDriver driver_;
  std::shared_ptr<FakeKeyboard> keyboard_ = std::make_shared<FakeKeyboard>();
  FakeSettingsStore store_;
  FakePnpDevices* devices_;
  std::unique_ptr<PnpDeviceIdentities> identities_;
  std::unique_ptr<MainWindow> window_;
  const Clock::time_point start_ = Clock::now();
};

constexpr char kScanner[] = "USB\\VID_0403&PID_6001\\SCAN0001";

TEST_F(AllDayTest, TheUsersConnectionsAreRememberedWithTheirLinesAndDevices) {
  devices_->Plug("COM3", kScanner);
  Start();
  Connect("COM3", 4);
  Connect("COM4", 10);  // not listed by the device manager: it opens by its name
  EXPECT_EQ(Stored("Connected ports"), "COM3,COM4");
  EXPECT_EQ(Stored("COM3 line settings"), "4,0,1,0");
  EXPECT_EQ(Stored("COM3 device"), kScanner);
  EXPECT_EQ(Stored("COM4 line settings"), "10,0,1,0");
  EXPECT_EQ(Stored("COM4 device"), std::nullopt);

  driver_.SetFailure(Path(9), SerialErrorKind::kNotFound);
  Connect("COM9", 1);
  EXPECT_EQ(Stored("Connected ports"), "COM3,COM4") << "a failed connect is not remembered";
  Connect("COM3", 1);  // disconnects it
  EXPECT_EQ(Stored("Connected ports"), "COM4");
  EXPECT_EQ(Stored("COM3 line settings"), std::nullopt);
  EXPECT_EQ(Stored("COM3 device"), std::nullopt);

  // Every way out releases the ports; the remembered ones stay as they were.
  const std::size_t writes = store_.calls.size();
  window_->ReleaseAllPorts();
  window_.reset();
  EXPECT_EQ(store_.calls.size(), writes);
  EXPECT_EQ(Stored("Connected ports"), "COM4");
}

TEST_F(AllDayTest, RememberedPortsComeBackAtStartOnTheirDevicesWithTheirLines) {
  store_.WriteString("Connected ports", "COM8,COM3");
  store_.WriteString("COM3 line settings", "4,0,1,0");
  store_.WriteString("COM3 device", kScanner);
  store_.WriteString("COM8 line settings", "10,0,1,0");
  devices_->Plug("COM6", kScanner);  // plugged into another socket while the program was off
  devices_->Plug("COM3", "USB\\VID_0403&PID_6001\\OTHER");
  driver_.SetFailure(Path(8), SerialErrorKind::kNotFound);
  view_.selected_port_text = "COM3";
  view_.line_settings.baud_index = 0;
  const std::size_t writes = store_.calls.size();

  Start();
  EXPECT_EQ(driver_.OpenCount(Path(6)), 1);
  EXPECT_EQ(driver_.OpenCount(Path(3)), 0) << "another device that took COM3's name";
  EXPECT_EQ(driver_.LastParameters().baud_rate, 9600u);
  EXPECT_EQ(view_.status(), "COM3 connected; COM8 waiting for its device; COM3 is now COM6");
  EXPECT_EQ(view_.notices, std::vector<std::string>{
                               "Device found again: COM3 is now COM6 (USB 0403:6001 serial SCAN0001)."});
  EXPECT_TRUE(view_.messages.empty()) << "a remembered port that cannot be opened waits silently";
  EXPECT_EQ(view_.caption(), "Disconnect") << "the selected COM3 is connected";

  // COM8's device arrives: opened at once, with its own line settings.
  driver_.ClearFailure(Path(8));
  window_->OnDeviceChange(DeviceChange::kArrived);
  EXPECT_EQ(view_.port_list_refreshes, (std::vector<std::vector<int>>{{3, 8}}));
  EXPECT_EQ(driver_.OpenCount(Path(8)), 1);
  EXPECT_EQ(driver_.LastParameters().baud_rate, 115200u);
  EXPECT_EQ(view_.status(), "COM3, COM8 connected; COM3 is now COM6");
  EXPECT_EQ(store_.calls.size(), writes) << "nothing changed that the user did";
}

// A port's profile is the one store of its line settings: at the next start it runs, and is
// shown, with those (the remembered entry, written for older versions, where the profile has
// none); a Disconnect and Connect keeps them.
TEST_F(AllDayTest, RememberedPortsRunWithTheirProfilesLineSettings) {
  Start();
  Connect("COM6", 6);
  Connect("COM5", 1);
  EXPECT_EQ(store_.ReadInt("Ports\\COM6\\Baud rate"), 6);
  EXPECT_EQ(Stored("COM6 line settings"), "6,0,1,0");
  store_.Remove("Ports\\COM5\\Baud rate");
  store_.WriteString("COM5 line settings", "2,0,1,0");

  view_.selected_port_text = "COM5";
  view_.line_settings.baud_index = 0;
  Start();
  EXPECT_EQ(view_.line_settings.baud_index, 2) << "the selected port shows what it runs with";
  EXPECT_EQ(window_->OptionsForDialog().port_number, -1) << "the saved port selected at start is not picked";
  window_->SelectPortFromCombo("COM6");
  EXPECT_EQ(view_.line_settings.baud_index, 6);
  EXPECT_FALSE(view_.line_settings_open());
  window_->TogglePortConnection();
  window_->TogglePortConnection();
  EXPECT_EQ(driver_.LastParameters().baud_rate, 19200u);
  EXPECT_EQ(Stored("COM6 line settings"), "6,0,1,0");
}

TEST_F(AllDayTest, AnArrivalReopensAWaitingPortOnItsOwnDeviceUnlessFollowingIsOff) {
  devices_->Plug("COM5", kScanner);
  Start();
  Connect("COM5", 1);
  const auto lose_device = [&](int port) {
    FakeSerialPort* open = driver_.LastPort(Path(port));
    open->PushDeviceGone();
    ASSERT_TRUE(testing::LinkStateBecomes(window_->port_table()[5], LinkState::kLost));
    window_->Tick(start_);
    ASSERT_EQ(window_->ActivityOf(5), PortActivity::kWaiting);
  };
  lose_device(5);
  devices_->Unplug("COM5");
  window_->OnDeviceChange(DeviceChange::kRemoved);
  devices_->Plug("COM5", "USB\\VID_0403&PID_6001\\OTHER");
  window_->OnDeviceChange(DeviceChange::kArrived);
  EXPECT_EQ(driver_.OpenCount(Path(5)), 1) << "another device under the old name";
  EXPECT_EQ(view_.status(), "COM5 waiting for its device");

  devices_->Plug("COM7", kScanner);
  window_->OnDeviceChange(DeviceChange::kChanged);
  EXPECT_EQ(driver_.OpenCount(Path(7)), 1) << "at once, before the reconnection delay";
  EXPECT_EQ(view_.status(), "COM5 connected; COM5 is now COM7");
  window_->OnDeviceChange(DeviceChange::kNone);
  EXPECT_EQ(view_.port_list_refreshes.size(), 3u);

  // Not following: the port opens whatever has its name.
  window_->SetFollowDevices(false);
  lose_device(7);
  window_->OnDeviceChange(DeviceChange::kArrived);
  EXPECT_EQ(driver_.OpenCount(Path(5)), 2);
  EXPECT_EQ(view_.status(), "COM5 connected");
}

}  // namespace
}  // namespace lintrel::ui

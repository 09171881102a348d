#include "capture/port_connection.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "engine_fixture.h"

namespace lintrel {
namespace {

using platform::SerialErrorKind;
using testing::EngineTest;

using PortConnectionTest = EngineTest;

TEST_F(PortConnectionTest, FreshTableIsIdle) {
  EXPECT_EQ(table_.OpenPortCount(), 0);
  for (const PortSlot& slot : table_.slots) {
    EXPECT_EQ(slot.connected.load(), 0);
    EXPECT_EQ(slot.paused.load(), 0);
    EXPECT_EQ(slot.port, nullptr);
    EXPECT_EQ(slot.reader, nullptr);
    EXPECT_EQ(slot.link_state.load(), LinkState::kFresh);
  }
  EXPECT_EQ(table_.slots.size(), 257u);
}

TEST_F(PortConnectionTest, ConnectOpensTheDeviceWithTheCurrentLineSettingsAndStartsTheReader) {
  events_.settings.baud_index = 10;
  events_.settings.parity_index = platform::kParityEven;
  events_.settings.data_bit_index = 0;
  events_.settings.stop_bit_index = 1;
  ASSERT_TRUE(connection_.TogglePortConnection(3));

  EXPECT_EQ(Slot(3).connected.load(), 1);
  EXPECT_NE(Slot(3).reader, nullptr);
  EXPECT_EQ(table_.OpenPortCount(), 1);
  EXPECT_EQ(events_.calls, std::vector<std::string>{"connected COM3"});
  const platform::LineParameters line = driver_.LastParameters();
  EXPECT_EQ(line.baud_rate, 115200u);
  EXPECT_EQ(line.parity, platform::kParityEven);
  EXPECT_EQ(line.data_bits, 7);
  EXPECT_TRUE(line.two_stop_bits);

  Port(3)->PushImmediate("ok\r");
  EXPECT_TRUE(keyboard_->WaitForLines(1));
}

TEST_F(PortConnectionTest, DisconnectStopsTheReaderBeforeClosingAndClearsTheFlags) {
  ASSERT_TRUE(connection_.TogglePortConnection(5));
  ASSERT_TRUE(Port(5)->WaitUntilDrained());
  EXPECT_TRUE(table_.TogglePause(5));
  ASSERT_TRUE(connection_.TogglePortConnection(5));

  EXPECT_TRUE(Port(5)->woken());
  EXPECT_TRUE(Port(5)->closed());
  EXPECT_EQ(Slot(5).connected.load(), 0);
  EXPECT_EQ(Slot(5).paused.load(), 0);
  EXPECT_EQ(Slot(5).port, nullptr);
  EXPECT_EQ(Slot(5).reader, nullptr);
  EXPECT_EQ(table_.OpenPortCount(), 0);
  // A disconnect by the user leaves the link state alone.
  EXPECT_EQ(Slot(5).link_state.load(), LinkState::kFresh);
  EXPECT_EQ(events_.calls.back(), "disconnected COM5");

  // Reconnecting starts unpaused.
  ASSERT_TRUE(connection_.TogglePortConnection(5));
  EXPECT_EQ(Slot(5).paused.load(), 0);
}

TEST_F(PortConnectionTest, PauseDoesNothingOnAPortThatIsNotConnected) {
  EXPECT_FALSE(table_.TogglePause(4));
  EXPECT_EQ(Slot(4).paused.load(), 0);
}

TEST_F(PortConnectionTest, FailedConnectIsReportedAndLeavesTheSlotIdle) {
  driver_.SetFailure(Device(9), SerialErrorKind::kNotFound);
  EXPECT_FALSE(connection_.TogglePortConnection(9));
  EXPECT_EQ(events_.calls, std::vector<std::string>{"failed COM9"});
  EXPECT_EQ(Slot(9).connected.load(), 0);
  EXPECT_EQ(Slot(9).port, nullptr);
  EXPECT_EQ(table_.OpenPortCount(), 0);
}

TEST_F(PortConnectionTest, APortWhoseDeviceCannotBeFoundFailsWithTheReasonAndOpensNothing) {
  absent_devices_[3] = "COM3's device is not plugged in";
  EXPECT_FALSE(connection_.TogglePortConnection(3));
  EXPECT_EQ(driver_.OpenCount(Device(3)), 0);
  EXPECT_EQ(events_.calls, std::vector<std::string>{"failed COM3"});
  EXPECT_EQ(events_.failure_reasons, std::vector<std::string>{"COM3's device is not plugged in"});
  EXPECT_EQ(Slot(3).connected.load(), 0);
}

TEST_F(PortConnectionTest, FailedConnectOfASlotAwaitingReconnectionIsSilent) {
  driver_.SetFailure(Device(9), SerialErrorKind::kNotFound);
  Slot(9).link_state.store(LinkState::kAwaitingReconnect);
  EXPECT_FALSE(connection_.TogglePortConnection(9));
  EXPECT_EQ(events_.calls, std::vector<std::string>{"failed-silently COM9"});
}

TEST_F(PortConnectionTest, PortNumbersWithoutASlotAreRefusedBeforeAnyOpen) {
  for (int port : {257, 300, -1}) {
    EXPECT_FALSE(connection_.TogglePortConnection(port));
    EXPECT_FALSE(connection_.Connect(port));
    connection_.Disconnect(port);
    EXPECT_EQ(driver_.OpenCount(Device(port)), 0);
  }
  EXPECT_EQ(events_.calls, (std::vector<std::string>{"failed COM257", "failed COM257", "failed COM300",
                                                     "failed COM300", "failed COM-1", "failed COM-1"}));
}

// A reader whose thread cannot be started makes the connect fail like an open that failed:
// the port is released and never left connected without a reader, and a supervised re-open
// is tried again until a thread can be had.
TEST_F(PortConnectionTest, ReaderThreadThatCannotStartIsAFailedOpen) {
  thread_starts_fail_.store(true);
  EXPECT_FALSE(connection_.TogglePortConnection(3));
  EXPECT_EQ(events_.calls, std::vector<std::string>{"failed COM3"});
  ASSERT_EQ(events_.failure_reasons.size(), 1u);
  EXPECT_NE(events_.failure_reasons[0].find("cannot start a reader"), std::string::npos) << events_.failure_reasons[0];
  EXPECT_FALSE(Slot(3).connected.load());
  EXPECT_EQ(Slot(3).reader, nullptr);
  EXPECT_EQ(Slot(3).port, nullptr);
  EXPECT_TRUE(Port(3)->closed());
  EXPECT_EQ(table_.OpenPortCount(), 0);

  // A lost link whose re-open cannot start a reader: quietly retried on every tick.
  thread_starts_fail_.store(false);
  ASSERT_TRUE(connection_.Connect(4));
  ASSERT_TRUE(Port(4)->WaitUntilDrained());
  Port(4)->PushCarrierChange(platform::WaitOutcome::kImmediate);
  ASSERT_TRUE(LinkStateBecomes(4, LinkState::kLost));
  const auto start = LinkSupervisor::Clock::now();
  supervisor_.Tick(start);
  thread_starts_fail_.store(true);
  supervisor_.RunDue(start + std::chrono::milliseconds(1000));
  supervisor_.Tick(start + std::chrono::milliseconds(1000));
  EXPECT_EQ(std::count(events_.calls.begin(), events_.calls.end(), "failed-silently COM4"), 2);
  EXPECT_FALSE(Slot(4).connected.load());
  EXPECT_EQ(Slot(4).link_state.load(), LinkState::kAwaitingReconnect);
  EXPECT_TRUE(supervisor_.HasLinkWork());

  thread_starts_fail_.store(false);
  supervisor_.Tick(start + std::chrono::milliseconds(2000));
  EXPECT_TRUE(Slot(4).connected.load());
  EXPECT_TRUE(LinkStateBecomes(4, LinkState::kFresh));
}

TEST_F(PortConnectionTest, TwoPortsRunIndependently) {
  ASSERT_TRUE(connection_.TogglePortConnection(1));
  ASSERT_TRUE(connection_.TogglePortConnection(2));
  EXPECT_EQ(table_.OpenPortCount(), 2);

  Port(1)->PushImmediate("a\r");
  Port(2)->PushImmediate("b\r");
  ASSERT_TRUE(keyboard_->WaitForLines(2));

  ASSERT_TRUE(connection_.TogglePortConnection(1));
  EXPECT_EQ(table_.OpenPortCount(), 1);
  EXPECT_EQ(Slot(2).connected.load(), 1);
  Port(2)->PushImmediate("c\r");
  EXPECT_TRUE(keyboard_->WaitForLines(3));
}

TEST_F(PortConnectionTest, ReleaseAllPortsStopsEveryReaderAndClosesEveryPort) {
  for (int port : {0, 7, 256}) ASSERT_TRUE(connection_.TogglePortConnection(port));
  connection_.ReleaseAllPorts();
  for (int port : {0, 7, 256}) {
    EXPECT_TRUE(Port(port)->woken());
    EXPECT_TRUE(Port(port)->closed());
    EXPECT_EQ(Slot(port).reader, nullptr);
    EXPECT_EQ(Slot(port).connected.load(), 0);
  }
  EXPECT_EQ(table_.OpenPortCount(), 0);
}

}  // namespace
}  // namespace lintrel

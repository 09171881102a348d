#include "capture/link_supervisor.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace lintrel {
namespace {

using platform::SerialErrorKind;
using platform::WaitOutcome;
using std::chrono::milliseconds;
using testing::EngineTest;

class LinkSupervisorTest : public EngineTest {
 protected:
  using Clock = LinkSupervisor::Clock;

  // Connects the port and waits until its reader has started and is waiting.
  void ConnectAndSettle(int port) {
    ASSERT_TRUE(connection_.TogglePortConnection(port));
    ASSERT_TRUE(Port(port)->WaitUntilDrained());
  }

  // Makes the port's reader report a lost link.
  void LoseLink(int port) {
    Port(port)->PushCarrierChange(WaitOutcome::kImmediate);
    ASSERT_TRUE(LinkStateBecomes(port, LinkState::kLost));
  }

  Clock::time_point start_ = Clock::now();
};

TEST_F(LinkSupervisorTest, LostLinkIsReleasedThenReopenedAfterTheDelay) {
  options_.Publish({.reconnect_delay_ms = 2500});
  ConnectAndSettle(4);
  LoseLink(4);
  testing::FakeSerialPort* first = Port(4);

  supervisor_.Tick(start_);
  EXPECT_TRUE(first->closed());
  EXPECT_EQ(Slot(4).connected.load(), 0);
  EXPECT_EQ(Slot(4).link_state.load(), LinkState::kAwaitingReconnect);
  EXPECT_EQ(supervisor_.NextDue(), start_ + milliseconds(2500));

  // Ticks and deadlines before the delay has passed do not re-open it.
  supervisor_.Tick(start_ + milliseconds(1000));
  supervisor_.RunDue(start_ + milliseconds(2499));
  EXPECT_EQ(driver_.OpenCount(Device(4)), 1);

  supervisor_.RunDue(start_ + milliseconds(2500));
  EXPECT_EQ(driver_.OpenCount(Device(4)), 2);
  EXPECT_EQ(Slot(4).connected.load(), 1);
  EXPECT_TRUE(LinkStateBecomes(4, LinkState::kFresh));
  EXPECT_EQ(events_.calls, (std::vector<std::string>{"connected COM4", "lost COM4", "disconnected COM4",
                                                    "connected COM4"}));

  // The new reader types.
  Port(4)->PushImmediate("back\r");
  EXPECT_TRUE(keyboard_->WaitForLines(1));
}

TEST_F(LinkSupervisorTest, APausedPortStaysPausedWhenItsLinkIsReopened) {
  ConnectAndSettle(4);
  ConnectAndSettle(5);
  table_.TogglePause(4);
  LoseLink(4);
  LoseLink(5);

  supervisor_.Tick(start_);
  EXPECT_EQ(Slot(4).paused.load(), 0) << "a released port is not paused";
  supervisor_.RunDue(start_ + milliseconds(options_.Load().reconnect_delay_ms));
  ASSERT_EQ(Slot(4).connected.load(), 1);
  ASSERT_EQ(Slot(5).connected.load(), 1);
  EXPECT_EQ(Slot(4).paused.load(), 1);
  EXPECT_EQ(Slot(5).paused.load(), 0);

  // Still paused: what arrives is dropped.
  ASSERT_TRUE(LinkStateBecomes(4, LinkState::kFresh));
  Port(4)->PushImmediate("x\r");
  ASSERT_TRUE(Port(4)->WaitUntilDrained());
  EXPECT_TRUE(keyboard_->Events().empty());
}

TEST_F(LinkSupervisorTest, FailedReopenIsRetriedEveryTickWithoutAMessage) {
  ConnectAndSettle(2);
  LoseLink(2);
  driver_.SetFailure(Device(2), SerialErrorKind::kNotFound);
  supervisor_.Tick(start_);
  supervisor_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(driver_.OpenCount(Device(2)), 1);  // the failed attempt opened nothing

  for (int tick = 2; tick <= 4; ++tick) supervisor_.Tick(start_ + milliseconds(1000 * tick));
  EXPECT_EQ(std::count(events_.calls.begin(), events_.calls.end(), "failed COM2"), 0);
  EXPECT_EQ(std::count(events_.calls.begin(), events_.calls.end(), "failed-silently COM2"), 4);
  EXPECT_EQ(Slot(2).link_state.load(), LinkState::kAwaitingReconnect);

  driver_.ClearFailure(Device(2));
  supervisor_.Tick(start_ + milliseconds(5000));
  EXPECT_EQ(Slot(2).connected.load(), 1);
  EXPECT_TRUE(LinkStateBecomes(2, LinkState::kFresh));
}

TEST_F(LinkSupervisorTest, VanishedDeviceIsReopenedOnceItIsBack) {
  ConnectAndSettle(6);
  Port(6)->PushDeviceGone();
  ASSERT_TRUE(LinkStateBecomes(6, LinkState::kLost));
  supervisor_.Tick(start_);
  supervisor_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(Slot(6).connected.load(), 1);
  Port(6)->PushImmediate("again\r");
  EXPECT_TRUE(keyboard_->WaitForLines(1));
}

TEST_F(LinkSupervisorTest, ADeviceArrivalReopensWaitingPortsAtOnceAndTicksStayTheFallback) {
  options_.Publish({.reconnect_delay_ms = 5000});
  ConnectAndSettle(4);
  ConnectAndSettle(7);
  LoseLink(4);
  supervisor_.Tick(start_);
  absent_devices_[4] = "its device is not plugged in";

  // Another device arrives: the waiting port is tried at once, finds no device of its own,
  // and is left to the ticks; the port whose link is up is left alone.
  supervisor_.DevicesArrived();
  EXPECT_EQ(driver_.OpenCount(Device(4)), 1);
  EXPECT_EQ(Slot(4).link_state.load(), LinkState::kAwaitingReconnect);
  EXPECT_EQ(events_.failure_reasons, std::vector<std::string>{"its device is not plugged in"});
  EXPECT_EQ(supervisor_.NextDue(), start_ + milliseconds(5000)) << "its delay still runs";
  supervisor_.Tick(start_ + milliseconds(1000));
  EXPECT_EQ(events_.failure_reasons.size(), 1u) << "no tick retries it during the delay";

  // Its own device arrives, long before the delay or the next tick.
  absent_devices_.clear();
  supervisor_.DevicesArrived();
  EXPECT_EQ(Slot(4).connected.load(), 1);
  EXPECT_EQ(driver_.OpenCount(Device(4)), 2);
  EXPECT_EQ(driver_.OpenCount(Device(7)), 1);
  EXPECT_TRUE(LinkStateBecomes(4, LinkState::kFresh));
  EXPECT_FALSE(supervisor_.HasLinkWork());
  EXPECT_FALSE(supervisor_.NextDue().has_value());
}

// A waiting port, given up by the user during the delay or after failed re-opens, is not
// re-opened any more, and stays given up when its device comes back.
TEST_F(LinkSupervisorTest, ACancelledReconnectIsNeverTried) {
  for (const bool after_failed_reopen : {false, true}) {
    SCOPED_TRACE(after_failed_reopen);
    const int port = after_failed_reopen ? 3 : 4;
    const Clock::time_point now = start_ + milliseconds(after_failed_reopen ? 10000 : 0);
    ConnectAndSettle(port);
    Port(port)->PushDeviceGone();
    ASSERT_TRUE(LinkStateBecomes(port, LinkState::kLost));
    driver_.SetFailure(Device(port), SerialErrorKind::kNotFound);
    EXPECT_FALSE(supervisor_.AwaitsReconnect(port));
    supervisor_.Tick(now);
    EXPECT_TRUE(supervisor_.AwaitsReconnect(port));
    if (after_failed_reopen) {
      supervisor_.RunDue(now + milliseconds(1000));
      EXPECT_TRUE(supervisor_.AwaitsReconnect(port));
    }

    supervisor_.CancelReconnect(port);
    EXPECT_FALSE(supervisor_.AwaitsReconnect(port));
    EXPECT_FALSE(supervisor_.HasLinkWork());
    EXPECT_FALSE(supervisor_.NextDue().has_value());
    driver_.ClearFailure(Device(port));
    supervisor_.RunDue(now + milliseconds(2000));
    supervisor_.Tick(now + milliseconds(3000));
    EXPECT_EQ(driver_.OpenCount(Device(port)), 1);
    EXPECT_EQ(Slot(port).connected.load(), 0);
  }
}

TEST_F(LinkSupervisorTest, LostStateWithoutReaderOrConnectionIsLeftAlone) {
  Slot(8).link_state.store(LinkState::kLost);  // neither connected nor with a reader
  supervisor_.Tick(start_);
  EXPECT_EQ(driver_.OpenCount(Device(8)), 0);
  EXPECT_EQ(Slot(8).link_state.load(), LinkState::kLost);
  EXPECT_FALSE(supervisor_.NextDue().has_value());
}

// Each port waits its own delay, the shared one unless it sets one of its own, and the
// front end is told which.
TEST_F(LinkSupervisorTest, TwoLostLinksInOneTickEachGetTheirOwnDelay) {
  options_.PublishPortRules(200, std::make_shared<const PortCaptureRules>(PortCaptureRules{.reconnect_delay_ms = 3000}));
  ConnectAndSettle(1);
  ConnectAndSettle(200);
  LoseLink(1);
  LoseLink(200);
  supervisor_.Tick(start_);
  EXPECT_EQ(Slot(1).connected.load(), 0);
  EXPECT_EQ(Slot(200).connected.load(), 0);
  ASSERT_EQ(events_.link_losses.size(), 2u);
  EXPECT_EQ(events_.link_losses[0].reconnect_delay, milliseconds(1000));
  EXPECT_EQ(events_.link_losses[1].reconnect_delay, milliseconds(3000));
  supervisor_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(Slot(1).connected.load(), 1);
  EXPECT_EQ(Slot(200).connected.load(), 0);
  supervisor_.RunDue(start_ + milliseconds(3000));
  EXPECT_EQ(Slot(200).connected.load(), 1);
}

// A reader that failed is re-opened like a lost link, and the front end is told what failed.
TEST_F(LinkSupervisorTest, AFailedReaderIsReopenedAndItsFailureReported) {
  ConnectAndSettle(6);
  Port(6)->Push({.outcome = WaitOutcome::kImmediate, .events = platform::kEventReceived, .bytes = {'x'},
                 .read_throws = true});
  ASSERT_TRUE(LinkStateBecomes(6, LinkState::kLost));
  supervisor_.Tick(start_);
  ASSERT_EQ(events_.link_losses.size(), 1u);
  EXPECT_EQ(events_.link_losses[0].cause, "reading failed: out of memory");
  supervisor_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(Slot(6).connected.load(), 1);
}

TEST_F(LinkSupervisorTest, MoreCarrierChangesBeforeATickStillReopenTheLink) {
  ConnectAndSettle(5);
  EXPECT_FALSE(supervisor_.HasLinkWork());
  for (int change = 0; change < 3; ++change) Port(5)->PushCarrierChange(WaitOutcome::kDeferred);
  ASSERT_TRUE(Port(5)->WaitUntilDrained());
  ASSERT_EQ(Slot(5).link_state.load(), LinkState::kLost);
  EXPECT_TRUE(supervisor_.HasLinkWork());

  supervisor_.Tick(start_);
  EXPECT_EQ(Slot(5).connected.load(), 0);
  EXPECT_TRUE(supervisor_.HasLinkWork());  // the re-open is pending
  supervisor_.RunDue(start_ + milliseconds(1000));
  EXPECT_EQ(Slot(5).connected.load(), 1);
  EXPECT_EQ(driver_.OpenCount(Device(5)), 2);
  EXPECT_TRUE(LinkStateBecomes(5, LinkState::kFresh));
  EXPECT_FALSE(supervisor_.HasLinkWork());
}

}  // namespace
}  // namespace lintrel

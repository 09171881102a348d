#include "capture/reader_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fakes/fake_capture_events.h"
#include "fakes/fake_keyboard.h"
#include "fakes/fake_serial.h"
#include "support/link_state.h"
#include "support/safety_limit.h"

namespace lintrel {
namespace {

using platform::WaitOutcome;
using testing::FakeKeyboard;
using testing::FakeSerialPort;
using testing::LinkStateBecomes;

// One reader on port 3 over a fake port, typing into a fake keyboard.
class ReaderThreadTest : public ::testing::Test {
 protected:
  ReaderThreadTest()
      : typist_(keyboard_), reader_(3, slot_, port_, options_, typist_, [this] { ++link_lost_notices_; }) {
    typist_.Start();
    slot_.connected.store(1);
    slot_.link_state.store(LinkState::kAwaitingReconnect);
  }

  // Starts the reader on a thread that tells when the reader's loop has returned.
  void StartAndSettle() {
    reader_.Start([this](std::function<void()> body) {
      return std::thread([this, body = std::move(body)] {
        body();
        ended_.set_value();
      });
    });
    ASSERT_TRUE(port_.WaitUntilDrained());
  }

  // Whether the reader's loop returned (waiting for it within the safety limit): after
  // that it reads, waits and types nothing more.
  bool ReaderEnded() { return reader_ended_.wait_for(testing::kSafetyLimit) == std::future_status::ready; }

  // The text typed so far, one character per key-down that is not Shift.
  std::string Typed() const {
    std::string text;
    for (const std::string& event : keyboard_->Events()) {
      if (event.rfind("down ", 0) == 0 && event != "down 0x10") text += event.substr(5);
      if (event == "end") text += "|";
    }
    return text;
  }

  std::shared_ptr<FakeKeyboard> keyboard_ = std::make_shared<FakeKeyboard>();
  Typist typist_;
  SharedCaptureOptions options_;
  PortSlot slot_;
  FakeSerialPort port_;
  std::atomic<int> link_lost_notices_{0};
  std::promise<void> ended_;
  std::future<void> reader_ended_ = ended_.get_future();
  ReaderThread reader_;
};

TEST_F(ReaderThreadTest, StartingMarksTheLinkFresh) {
  StartAndSettle();
  EXPECT_EQ(slot_.link_state.load(), LinkState::kFresh);
}

TEST_F(ReaderThreadTest, TypesLinesFromImmediateAndDeferredWaits) {
  StartAndSettle();
  port_.PushImmediate("A");
  port_.PushDeferred("1\r");
  port_.PushDeferred("B\r");
  ASSERT_TRUE(keyboard_->WaitForLines(2));
  EXPECT_EQ(Typed(), "0x410x310x0D|0x420x0D|");
}

TEST_F(ReaderThreadTest, BytesReadWhilePausedAreDropped) {
  StartAndSettle();
  port_.PushImmediate("AB");
  ASSERT_TRUE(port_.WaitUntilDrained());
  slot_.paused.store(1);
  port_.PushImmediate("lost\r");
  port_.PushDeferred("lost too\r");
  ASSERT_TRUE(port_.WaitUntilDrained());
  slot_.paused.store(0);
  port_.PushDeferred("C\r");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  // The part received before the pause is completed by what came after it.
  EXPECT_EQ(Typed(), "0x410x420x430x0D|");
}

TEST_F(ReaderThreadTest, OptionsAreReadAfreshForEachChunk) {
  StartAndSettle();
  options_.Publish({.truncate = true, .end_character = 0x03});
  port_.PushImmediate("A\r\x03");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(Typed(), "0x410x0D|");
}

// A line its shaping would grow past the limit is counted and reported with the reason, not
// thrown; the reader goes on with the next line.
TEST_F(ReaderThreadTest, ALineShapingRefusesIsReportedAndTheNextTyped) {
  auto rules = std::make_shared<PortCaptureRules>();
  for (int i = 0; i < 20; ++i) rules->shaping.replacements.push_back({"a", "aa"});
  options_.PublishPortRules(3, rules);
  StartAndSettle();
  port_.PushImmediate("a\rB\r");
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(Typed(), "0x420x0D|");
  testing::FakeCaptureEvents events;
  typist_.DeliverReports(events);
  EXPECT_EQ(events.calls, std::vector<std::string>{"not-typed COM3"});
  EXPECT_EQ(events.failure_reasons, std::vector<std::string>{"shaping makes it longer than 65536 characters"});
}

TEST_F(ReaderThreadTest, CarrierChangeAloneAtOnceMeansTheLinkIsLost) {
  StartAndSettle();
  port_.PushCarrierChange(WaitOutcome::kImmediate);
  EXPECT_TRUE(LinkStateBecomes(slot_, LinkState::kLost));
  ASSERT_TRUE(port_.WaitUntilDrained());
  EXPECT_EQ(link_lost_notices_.load(), 1);
}

// A device that raises its carrier with its first data: the change comes just after the
// data, at once. The carrier is up, so it counts as one change and the link stays; one
// that leaves the carrier down is the lost link.
TEST_F(ReaderThreadTest, CarrierChangeAtOnceThatLeftTheCarrierUpCountsAsOneChange) {
  StartAndSettle();
  port_.PushImmediate("A\r");
  port_.Push({WaitOutcome::kImmediate, platform::kEventCarrierChanged, {}, false, /*carrier_present=*/true});
  ASSERT_TRUE(port_.WaitUntilDrained());
  EXPECT_EQ(slot_.link_state.load(), LinkState::kFresh - 1);
  EXPECT_EQ(link_lost_notices_.load(), 0);
  port_.Push({WaitOutcome::kImmediate, platform::kEventCarrierChanged, {}, false, /*carrier_present=*/false});
  EXPECT_TRUE(LinkStateBecomes(slot_, LinkState::kLost));
  ASSERT_TRUE(port_.WaitUntilDrained());
  EXPECT_EQ(link_lost_notices_.load(), 1);
}

// Further changes leave the link lost: counting on would reach the "awaiting reconnection"
// value, which the supervisor ignores while a reader runs, and the link would stay down.
TEST_F(ReaderThreadTest, CarrierChangesSeenLaterCountDownToLostAndStayThere) {
  StartAndSettle();
  for (int expected : {1, 0, 0, 0}) {
    port_.PushCarrierChange(WaitOutcome::kDeferred);
    ASSERT_TRUE(port_.WaitUntilDrained());
    EXPECT_EQ(slot_.link_state.load(), expected);
    EXPECT_EQ(link_lost_notices_.load(), expected == 0 ? 1 : 0);
  }
}

TEST_F(ReaderThreadTest, CarrierChangesThatDoNotCount) {
  StartAndSettle();
  // Reported together with received data.
  port_.Push({WaitOutcome::kImmediate, platform::kEventReceived | platform::kEventCarrierChanged, {'x'}});
  port_.Push({WaitOutcome::kDeferred, platform::kEventReceived | platform::kEventCarrierChanged, {'y'}});
  ASSERT_TRUE(port_.WaitUntilDrained());
  EXPECT_EQ(slot_.link_state.load(), LinkState::kFresh);
  // Seen later while the port is paused.
  slot_.paused.store(1);
  port_.PushCarrierChange(WaitOutcome::kDeferred);
  ASSERT_TRUE(port_.WaitUntilDrained());
  EXPECT_EQ(slot_.link_state.load(), LinkState::kFresh);
}

TEST_F(ReaderThreadTest, VanishedDeviceIsALostLinkAndTheReaderStopsReading) {
  StartAndSettle();
  port_.PushImmediate("half a li");
  port_.PushDeviceGone();
  ASSERT_TRUE(LinkStateBecomes(slot_, LinkState::kLost));
  // It does not go on waiting on (and failing against) the dead device.
  EXPECT_TRUE(ReaderEnded());
  EXPECT_EQ(port_.waits(), 2);
  EXPECT_TRUE(Typed().empty());
  EXPECT_EQ(reader_.failure(), "") << "a lost link, not a failure of the reader";
  reader_.Stop();
  EXPECT_EQ(link_lost_notices_.load(), 1);
}

TEST_F(ReaderThreadTest, WaitThatFindsTheDeviceGoneEndsTheReaderWithoutReading) {
  StartAndSettle();
  port_.PushImmediate("AB");
  port_.Push({.outcome = WaitOutcome::kDeviceGone, .events = 0, .bytes = {'C', '\r'}});
  ASSERT_TRUE(LinkStateBecomes(slot_, LinkState::kLost));
  EXPECT_TRUE(ReaderEnded());
  EXPECT_EQ(port_.waits(), 2);
  EXPECT_TRUE(Typed().empty());
  reader_.Stop();
}

// Nothing escapes a reader: one that fails ends as a lost link, so that the port is
// re-opened, and keeps what failed for the report.
TEST_F(ReaderThreadTest, AReaderThatFailsEndsAsALostLinkAndSaysWhatFailed) {
  StartAndSettle();
  port_.Push({.outcome = WaitOutcome::kImmediate, .events = platform::kEventReceived, .bytes = {'A'},
              .read_throws = true});
  ASSERT_TRUE(LinkStateBecomes(slot_, LinkState::kLost));
  EXPECT_TRUE(ReaderEnded());
  EXPECT_EQ(reader_.failure(), "reading failed: out of memory");
  EXPECT_EQ(link_lost_notices_.load(), 1);
}

// A failed wait ends the reader as a lost link whether the port is paused or not: waiting
// again on such a port would fail at once, round and round.
class ReaderThreadFailedWaitTest : public ReaderThreadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ReaderThreadFailedWaitTest, EndsTheReaderAsALostLink) {
  StartAndSettle();
  slot_.paused.store(GetParam());
  port_.Push({.outcome = WaitOutcome::kFailed, .events = 0, .bytes = {}});
  ASSERT_TRUE(LinkStateBecomes(slot_, LinkState::kLost));
  reader_.Stop();
  EXPECT_EQ(port_.waits(), 1);
  EXPECT_EQ(link_lost_notices_.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(PausedOrNot, ReaderThreadFailedWaitTest, ::testing::Bool());

TEST_F(ReaderThreadTest, StopWakesABlockedWaitAndJoins) {
  StartAndSettle();
  reader_.Stop();
  EXPECT_TRUE(port_.woken());
  reader_.Stop();  // a second stop is harmless
}

TEST_F(ReaderThreadTest, EndsOnceTheSlotIsNoLongerConnected) {
  StartAndSettle();
  slot_.connected.store(0);
  port_.PushImmediate("x");
  // The loop test after that iteration ends the thread without any stop request: it
  // never waits again.
  EXPECT_TRUE(ReaderEnded());
  EXPECT_EQ(port_.waits(), 1);
}

}  // namespace
}  // namespace lintrel

#include "capture/requester.h"

#include <gtest/gtest.h>

#include "engine_fixture.h"

namespace lintrel {
namespace {

using std::chrono::milliseconds;
using testing::EngineTest;

class RequesterTest : public EngineTest {
 protected:
  using Clock = Requester::Clock;

  void SetRequests(int port, PortRequests requests, TextEncoding encoding = TextEncoding::kUtf8) {
    options_.Publish({.encoding = encoding});
    auto rules = std::make_shared<PortCaptureRules>();
    rules->requests = std::move(requests);
    options_.PublishPortRules(port, rules);
  }

  void ConnectAndSettle(int port) {
    ASSERT_TRUE(connection_.Connect(port));
    ASSERT_TRUE(Port(port)->WaitUntilDrained());
    events_.calls.clear();
  }

  // The port's reader finishes a line (a reply) and is waiting again.
  void Reply(int port, std::string_view line) {
    Port(port)->PushImmediate(line);
    ASSERT_TRUE(Port(port)->WaitUntilDrained());
  }

  std::vector<std::string> Writes(int port) { return Port(port)->writes(); }

  Requester requester_{table_, options_, events_};
  Clock::time_point start_ = Clock::now();
};

TEST_F(RequesterTest, PortWithoutRequestsStaysReadOnlyAndOneWithThemIsOpenedForWriting) {
  ConnectAndSettle(1);
  SetRequests(2, {.poll = "P\r", .poll_every_ms = 500});
  ConnectAndSettle(2);
  EXPECT_EQ(Port(1)->access(), platform::PortAccess::kRead);
  EXPECT_EQ(Port(2)->access(), platform::PortAccess::kReadWrite);
  requester_.RunDue(start_ + milliseconds(5000));
  EXPECT_TRUE(Writes(1).empty());
}

TEST_F(RequesterTest, TextOnConnectGoesOncePerOpenAndPollsKeepTheirBeat) {
  SetRequests(3, {.send_on_connect = "SIR\r\n", .poll = "P\r", .poll_every_ms = 500});
  ConnectAndSettle(3);
  requester_.RunDue(start_);
  requester_.RunDue(start_ + milliseconds(499));
  EXPECT_EQ(Writes(3), (std::vector<std::string>{"SIR\r\n"}));
  EXPECT_EQ(requester_.NextDue(), start_ + milliseconds(500));

  requester_.RunDue(start_ + milliseconds(500));
  requester_.RunDue(start_ + milliseconds(1020));  // late: the next stays on the 500 ms grid
  EXPECT_EQ(requester_.NextDue(), start_ + milliseconds(1500));
  // After a stall longer than the interval the beat starts again from now, without a burst.
  requester_.RunDue(start_ + milliseconds(4200));
  EXPECT_EQ(Writes(3), (std::vector<std::string>{"SIR\r\n", "P\r", "P\r", "P\r"}));
  EXPECT_EQ(requester_.NextDue(), start_ + milliseconds(4700));

  // A re-open sends the text on connect again.
  connection_.Disconnect(3);
  ConnectAndSettle(3);
  requester_.RunDue(start_ + milliseconds(4800));
  EXPECT_EQ(Writes(3), (std::vector<std::string>{"SIR\r\n"}));
}

TEST_F(RequesterTest, NoPollWhilePausedNorWhileTheReplyIsUnderWayForUpToTwoSeconds) {
  SetRequests(4, {.poll = "W\r", .poll_every_ms = 500});
  ConnectAndSettle(4);
  requester_.RunDue(start_);
  table_.TogglePause(4);
  requester_.RunDue(start_ + milliseconds(500));
  requester_.RunDue(start_ + milliseconds(1000));
  EXPECT_TRUE(Writes(4).empty());
  EXPECT_FALSE(requester_.SendNow(4, start_ + milliseconds(1100)));
  table_.TogglePause(4);

  requester_.RunDue(start_ + milliseconds(1500));
  ASSERT_EQ(Writes(4).size(), 1u);
  Reply(4, "12.5");  // a reply without its end character yet
  requester_.RunDue(start_ + milliseconds(2000));
  requester_.RunDue(start_ + milliseconds(3000));
  EXPECT_EQ(Writes(4).size(), 1u) << "held while the reply's line is under way";
  requester_.RunDue(start_ + milliseconds(3500));
  EXPECT_EQ(Writes(4).size(), 2u) << "sent anyway 2 s after the poll the line answers";
  Reply(4, " kg\r");
  requester_.RunDue(start_ + milliseconds(4000));
  EXPECT_EQ(Writes(4).size(), 3u);
}

TEST_F(RequesterTest, MissingReplyIsReportedOnceAndClearedByTheNextLine) {
  SetRequests(5, {.poll = "P\r", .poll_every_ms = 500, .reply_timeout_ms = 800});
  ConnectAndSettle(5);
  requester_.RunDue(start_);
  requester_.RunDue(start_ + milliseconds(500));
  EXPECT_EQ(requester_.NextDue(), start_ + milliseconds(1000));
  requester_.RunDue(start_ + milliseconds(1000));
  requester_.RunDue(start_ + milliseconds(1300));  // the first poll's deadline
  for (int ms = 1500; ms <= 5000; ms += 500) requester_.RunDue(start_ + milliseconds(ms));
  EXPECT_EQ(events_.calls, (std::vector<std::string>{"request-problem COM5"}));
  EXPECT_EQ(events_.failure_reasons, (std::vector<std::string>{"no reply to the poll"}));

  Reply(5, "1.00 kg\r");
  requester_.RunDue(start_ + milliseconds(5100));
  requester_.RunDue(start_ + milliseconds(5500));
  requester_.RunDue(start_ + milliseconds(6300));  // no line after the poll at 5500
  EXPECT_EQ(events_.calls, (std::vector<std::string>{"request-problem COM5", "answered COM5",
                                                    "request-problem COM5"}));
}

TEST_F(RequesterTest, RequestThatCannotBeSentIsReportedOnceWithItsReason) {
  SetRequests(6, {.poll = "\u20AC\r", .poll_every_ms = 500}, TextEncoding::kLatin1);
  ConnectAndSettle(6);
  for (int ms = 0; ms <= 2000; ms += 500) requester_.RunDue(start_ + milliseconds(ms));
  EXPECT_EQ(events_.failure_reasons, (std::vector<std::string>{"poll not sent: U+20AC is not in latin-1"}));

  SetRequests(6, {.poll = "P\r", .poll_every_ms = 500});
  Port(6)->SetWriteFailure("dev/COM6: Input/output error");
  for (int ms = 2500; ms <= 4000; ms += 500) requester_.RunDue(start_ + milliseconds(ms));
  EXPECT_EQ(events_.failure_reasons.back(), "poll not sent: dev/COM6: Input/output error");
  EXPECT_EQ(events_.failure_reasons.size(), 2u);
}

TEST_F(RequesterTest, SendNowSendsThePollOfEveryConnectedPortThatHasOne) {
  SetRequests(7, {.poll = "SI\r\n"});  // no timer: sent only when asked
  SetRequests(8, {.send_on_connect = "hello"});
  ConnectAndSettle(7);
  ConnectAndSettle(8);
  requester_.RunDue(start_);
  EXPECT_EQ(requester_.NextDue(), std::nullopt);
  requester_.SendNowToAll(start_ + milliseconds(10));
  EXPECT_EQ(Writes(7), (std::vector<std::string>{"SI\r\n"}));
  EXPECT_EQ(Writes(8), (std::vector<std::string>{"hello"}));
}

TEST_F(RequesterTest, NetworkPortSendsNothingBeforeItsLinkIsUp) {
  driver_.SetConnectsLater(Device(9));
  SetRequests(9, {.send_on_connect = "ID\r", .poll = "P\r", .poll_every_ms = 500});
  ConnectAndSettle(9);
  requester_.RunDue(start_);
  requester_.RunDue(start_ + milliseconds(1000));
  EXPECT_TRUE(Writes(9).empty());
  Port(9)->Push({.outcome = platform::WaitOutcome::kDeferred, .events = platform::kEventLinkUp});
  ASSERT_TRUE(testing::PollUntil([&] { return Slot(9).link_up.load(); }));
  supervisor_.Tick(start_ + milliseconds(1100));
  requester_.RunDue(start_ + milliseconds(1100));
  requester_.RunDue(start_ + milliseconds(1600));
  EXPECT_EQ(Writes(9), (std::vector<std::string>{"ID\r", "P\r"}));
}

}  // namespace
}  // namespace lintrel

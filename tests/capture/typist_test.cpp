#include "capture/typist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fakes/fake_capture_events.h"
#include "fakes/fake_clipboard.h"
#include "fakes/fake_foreground_windows.h"
#include "fakes/fake_keyboard.h"
#include "support/link_state.h"

namespace lintrel {
namespace {

using platform::KeyOutputResult;
using testing::FakeCaptureEvents;
using testing::FakeKeyboard;
using testing::PollUntil;
using Typed = std::vector<std::pair<int, std::string>>;
using Calls = std::vector<std::string>;

// Long enough for any queue of these tests to be typed, however slow the machine (a
// sanitizer build): only a net against a typist that never finishes.
constexpr std::chrono::seconds kDrainLimit(10);

class TypistTest : public ::testing::Test {
 protected:
  TypistTest() {
    typist_.SetLineObserver([this](int port, std::u32string_view line) {
      std::lock_guard<std::mutex> lock(mutex_);
      typed_.emplace_back(port, std::string(line.begin(), line.end()));
    });
  }

  bool Type(int port, const std::string& text, const std::atomic<bool>& cancel) {
    return typist_.Enqueue(port, std::u32string(text.begin(), text.end()), cancel);
  }
  bool Type(int port, const std::string& text) { return Type(port, text, never_); }

  Typed TypedLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return typed_;
  }

  const std::atomic<bool> never_{false};
  std::shared_ptr<FakeKeyboard> keyboard_ = std::make_shared<FakeKeyboard>();
  Typist typist_{keyboard_};
  FakeCaptureEvents events_;
  std::mutex mutex_;
  Typed typed_;
};

TEST_F(TypistTest, LinesAreTypedInTheOrderTheyArrivedWhateverTheirPort) {
  const Typed sent = {{1, "a1"}, {2, "b1"}, {2, "b2"}, {1, "a2"}, {7, "c1"}};
  for (const auto& [port, text] : sent) ASSERT_TRUE(Type(port, text));
  typist_.Start();
  ASSERT_TRUE(keyboard_->WaitForLines(sent.size()));
  const Typist::Finished finished = typist_.Finish(kDrainLimit);
  EXPECT_TRUE(finished.joined);
  EXPECT_EQ(finished.lines_not_typed, 0u);
  EXPECT_EQ(TypedLines(), sent);
}

// Readers on several threads: each line is one injection, and each port's lines keep
// their order.
TEST_F(TypistTest, LinesFromSeveralThreadsArriveWholeAndInOrderPerPort) {
  constexpr int kLinesPerThread = 200;
  typist_.Start();
  const auto send = [this](int port) {
    for (int i = 0; i < kLinesPerThread; ++i) Type(port, "COM" + std::to_string(port) + ":" + std::to_string(i));
  };
  std::thread first(send, 1);
  std::thread second(send, 2);
  first.join();
  second.join();
  ASSERT_TRUE(keyboard_->WaitForLines(2 * kLinesPerThread));
  ASSERT_TRUE(typist_.Finish(kDrainLimit).joined);

  std::vector<int> next(3, 0);
  for (const auto& [port, text] : TypedLines()) {
    ASSERT_EQ(text, "COM" + std::to_string(port) + ":" + std::to_string(next[port])) << "out of order";
    ++next[port];
  }
  EXPECT_EQ(next[1], kLinesPerThread);
  EXPECT_EQ(next[2], kLinesPerThread);
}

// A gate that says no drops the line whole (no key, no observer, not counted: the front
// end accounts for it); it is asked for every line, with the line's port.
TEST_F(TypistTest, AGateThatSaysNoDropsTheLineWhole) {
  std::vector<int> asked;
  typist_.SetLineGate([&](int port) {
    asked.push_back(port);
    return port != 4;
  });
  ASSERT_TRUE(Type(4, "no\r"));
  ASSERT_TRUE(Type(5, "A"));
  typist_.Start();
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 0u);
  EXPECT_EQ(asked, (std::vector<int>{4, 5}));
  EXPECT_EQ(keyboard_->Events(), (Calls{"down 0x10", "down 0x41", "up 0x41", "up 0x10", "end"}));
  EXPECT_EQ(TypedLines(), (Typed{{5, "A"}}));
}

// The check the front end hands out as a paced line begins is asked before each key; when
// it says no, the line stops there (each key is whole, so nothing is held) and counts as
// not typed for the front end's reason. The next line gets a check of its own.
TEST_F(TypistTest, AStrokeCheckThatSaysNoCutsAPacedLineShortBetweenKeys) {
  std::vector<int> lines_begun;
  int keys_of_port_5 = 0;
  typist_.SetStrokeCheck([&](int port) -> StrokeCheck {
    lines_begun.push_back(port);
    return [&keys_of_port_5, port] {
      return port == 5 && ++keys_of_port_5 > 2 ? std::string("Lintrel came to the front") : std::string();
    };
  });
  typist_.SetPacing({.key_delay = std::chrono::milliseconds(1)});
  ASSERT_TRUE(Type(5, "abc"));
  ASSERT_TRUE(Type(6, "d"));
  typist_.Start();
  ASSERT_TRUE(keyboard_->WaitForLines(3));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 1u);
  EXPECT_EQ(lines_begun, (std::vector<int>{5, 6}));
  EXPECT_EQ(keyboard_->Events(),
            (Calls{"down 0x41", "up 0x41", "end", "down 0x42", "up 0x42", "end", "down 0x44", "up 0x44", "end"}));
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"not-typed COM5"}));
  EXPECT_EQ(events_.failure_reasons, (Calls{"cut short: Lintrel came to the front"}));
  EXPECT_EQ(TypedLines(), (Typed{{6, "d"}}));
}

// A paced line goes key by key, an unpaced one as one injection: a port's own key delay
// stands over the shared one, and a port without one of its own takes the shared one.
TEST_F(TypistTest, APortsOwnKeyDelayStandsOverTheSharedOne) {
  typist_.SetPacing({.key_delay = std::chrono::milliseconds(1)});
  typist_.SetPortPacing(5, {.key_delay = std::chrono::milliseconds(0), .line_delay = std::nullopt});
  ASSERT_TRUE(Type(5, "ab"));
  ASSERT_TRUE(Type(6, "ab"));
  typist_.Start();
  ASSERT_TRUE(keyboard_->WaitForLines(3));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 0u);
  EXPECT_EQ(keyboard_->Events(), (Calls{"down 0x41", "up 0x41", "down 0x42", "up 0x42", "end", "down 0x41", "up 0x41",
                                        "end", "down 0x42", "up 0x42", "end"}));
}

TEST_F(TypistTest, FailuresAreReportedOncePerCauseAndATypedLineEndsOne) {
  const KeyOutputResult jammed{.accepted = 0, .error = "jammed"};
  const KeyOutputResult dropped{.accepted = 0, .error = "dropped"};
  keyboard_->AnswerWith({jammed, jammed, {.accepted = 2, .error = {}}, jammed, dropped, dropped});
  typist_.Start();
  for (int port : {1, 2, 3, 4, 5, 6}) ASSERT_TRUE(Type(port, "x"));
  ASSERT_TRUE(keyboard_->WaitForLines(6));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 5u);
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"not-typed COM1", "not-typed COM4", "not-typed COM5"}));
  EXPECT_EQ(events_.failure_reasons, (Calls{"jammed", "jammed", "dropped"}));
  EXPECT_FALSE(typist_.output_lost());
}

TEST_F(TypistTest, AfterTheOutputIsLostNoLineReachesTheKeyboard) {
  keyboard_->AnswerWith({{.accepted = 2, .error = {}}, {.accepted = 0, .error = "gone", .output_lost = true}});
  std::atomic<int> notices{0};
  typist_.SetReportNotice([&] { ++notices; });
  typist_.Start();
  for (int port : {1, 2, 3, 4}) Type(port, "x");
  ASSERT_TRUE(keyboard_->WaitForCalls(2));
  const Typist::Finished finished = typist_.Finish(kDrainLimit);
  EXPECT_EQ(finished.lines_not_typed, 3u);
  EXPECT_TRUE(typist_.output_lost());
  EXPECT_FALSE(Type(5, "x")) << "taken after Finish()";
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"output-lost COM2"}));
  EXPECT_EQ(notices.load(), 1);
  const std::vector<std::string> keys = keyboard_->Events();
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "end"), 2) << "only the first two lines reached the keyboard";
}

// A reader never waits on the keyboard, only for room in a full queue, and a stop ends
// that wait: the line is dropped and counted.
TEST_F(TypistTest, AFullQueueHoldsAReaderOnlyUntilItIsStopped) {
  keyboard_->Block();
  typist_.Start();
  const std::string line(1000, 'x');
  ASSERT_TRUE(Type(1, line));
  ASSERT_TRUE(keyboard_->WaitForCalls(1));
  std::size_t queued = 0;
  for (; (queued + 1) * line.size() <= Typist::kQueueCapacity; ++queued) ASSERT_TRUE(Type(1, line));

  std::atomic<bool> cancel{false};
  bool taken = true;
  std::thread reader([&] { taken = Type(2, line, cancel); });
  const bool waited = PollUntil([&] { return typist_.readers_waiting() == 1; });
  cancel = true;
  typist_.WakeWaiters();
  reader.join();
  EXPECT_TRUE(waited) << "a full queue did not hold the reader";
  EXPECT_FALSE(taken);
  EXPECT_EQ(typist_.readers_waiting(), 0u);

  keyboard_->Unblock();
  ASSERT_TRUE(keyboard_->WaitForLines(queued + 1));
  const Typist::Finished finished = typist_.Finish(kDrainLimit);
  EXPECT_TRUE(finished.joined);
  EXPECT_EQ(finished.lines_not_typed, 1u);
  EXPECT_EQ(TypedLines().size(), queued + 1);
}

// A stop begins no line, paced or not: the line being typed is finished (unpaced) or cut
// short at its next key (paced), and not one key of the lines queued behind it is sent.
class TypistStopTest : public TypistTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TypistStopTest, NoKeyOfALineNotBegunIsSent) {
  const bool paced = GetParam();
  std::promise<void> first_line_begun;
  typist_.SetLineGate([&, asked = 0](int) mutable {
    if (++asked == 1) first_line_begun.set_value();
    return true;
  });
  if (paced) {
    typist_.SetPacing({.key_delay = std::chrono::milliseconds(1000)});
  } else {
    // The unpaced line waits for a held Shift, a wait that the stop cuts short too.
    keyboard_->HoldModifiers({0x10}, 1000);
  }
  for (const char* line : {"abc", "def", "ghi", "jkl"}) ASSERT_TRUE(Type(1, line));
  typist_.Start();
  first_line_begun.get_future().wait();
  const Typist::Finished finished = typist_.Finish(kDrainLimit);
  EXPECT_TRUE(finished.joined);
  if (paced) {
    EXPECT_EQ(keyboard_->Events(), (Calls{"down 0x41", "up 0x41", "end"}));
    EXPECT_EQ(finished.lines_not_typed, 4u);
  } else {
    EXPECT_EQ(keyboard_->Events(), (Calls{"up 0x10", "down 0x41", "up 0x41", "down 0x42", "up 0x42", "down 0x43",
                                          "up 0x43", "down 0x10", "end"}));
    EXPECT_EQ(finished.lines_not_typed, 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(PacedOrNot, TypistStopTest, ::testing::Bool());

TEST_F(TypistTest, FinishLeavesAKeyboardThatTakesNothingBehindAndCountsWhatWasNotTyped) {
  keyboard_->Block();
  typist_.Start();
  for (int port : {1, 2, 3}) ASSERT_TRUE(Type(port, "x"));
  ASSERT_TRUE(keyboard_->WaitForCalls(1));
  const Typist::Finished finished = typist_.Finish(std::chrono::milliseconds(50));
  EXPECT_FALSE(finished.joined);
  EXPECT_EQ(finished.lines_not_typed, 3u) << "the line inside the keyboard and the two queued";
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 3u) << "counted once";
  // Released later, the thread ends without typing or reporting anything more.
  keyboard_->Unblock();
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  typist_.DeliverReports(events_);
  EXPECT_TRUE(events_.calls.empty());
}

// A port with a target: its lines wait while another window is in front, without holding up
// another port's, and are typed once it comes back, in order; what still waits at the end
// counts as not typed.
TEST_F(TypistTest, HeldLinesWaitForTheirTargetWithoutHoldingUpOtherPorts) {
  auto* windows = new testing::FakeForegroundWindows;
  windows->Open(testing::FakeForegroundWindows::Window(1, {"stock"}));
  windows->Open(testing::FakeForegroundWindows::Window(2, {"mail"}));
  windows->Front(2);
  auto delivery = std::make_shared<Delivery>(std::unique_ptr<platform::ForegroundWindows>(windows));
  delivery->SetRules(1, {DeliveryTarget{"stock", ""}, Elsewhere::kHold, DeliveryMethod::kKeys, false});
  delivery->SetRules(3, {DeliveryTarget{"nowhere", ""}, Elsewhere::kHold, DeliveryMethod::kKeys, false});
  typist_.SetDelivery(delivery);
  typist_.Start();
  ASSERT_TRUE(Type(1, "a"));
  ASSERT_TRUE(Type(3, "z"));
  ASSERT_TRUE(Type(2, "m"));
  ASSERT_TRUE(Type(1, "b"));
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  windows->Front(1);
  ASSERT_TRUE(keyboard_->WaitForLines(3));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 1u);  // "z", for a program never there
  EXPECT_EQ(TypedLines(), (Typed{{2, "m"}, {1, "a"}, {1, "b"}}));
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"holding COM1", "holding COM3", "released COM1"}));
}

TEST_F(TypistTest, ALineForATargetNotInFrontWithDropIsReportedNotTyped) {
  auto* windows = new testing::FakeForegroundWindows;
  windows->Open(testing::FakeForegroundWindows::Window(2, {"mail"}));
  windows->Front(2);
  auto delivery = std::make_shared<Delivery>(std::unique_ptr<platform::ForegroundWindows>(windows));
  delivery->SetRules(1, {DeliveryTarget{"stock", ""}, Elsewhere::kDrop, DeliveryMethod::kKeys, false});
  typist_.SetDelivery(delivery);
  typist_.Start();
  ASSERT_TRUE(Type(1, "a"));
  ASSERT_TRUE(Type(1, "b"));
  ASSERT_TRUE(Type(2, "m"));  // a port without a target, into the window in front
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 2u);
  EXPECT_EQ(TypedLines(), (Typed{{2, "m"}}));
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"not-typed COM1"}));
  EXPECT_EQ(events_.failure_reasons, (Calls{"stock is not in front (mail is in front)"}));
}

// The sound for a line not typed is the port's own: each line of a port that asks for it,
// whether delivery dropped it or its shaping refused it, and none for another port's.
TEST_F(TypistTest, APortWithTheSoundForLinesNotTypedRingsForEachOfItsOwn) {
  auto* windows = new testing::FakeForegroundWindows;
  windows->Open(testing::FakeForegroundWindows::Window(2, {"mail"}));
  windows->Front(2);
  auto delivery = std::make_shared<Delivery>(std::unique_ptr<platform::ForegroundWindows>(windows));
  delivery->SetRules(1, {DeliveryTarget{"stock", ""}, Elsewhere::kDrop, DeliveryMethod::kKeys, true});
  delivery->SetRules(3, {DeliveryTarget{"stock", ""}, Elsewhere::kDrop, DeliveryMethod::kKeys, false});
  typist_.SetDelivery(delivery);
  typist_.Start();
  ASSERT_TRUE(Type(1, "a"));
  ASSERT_TRUE(typist_.EnqueueNotTyped(1, "refused", never_));
  ASSERT_TRUE(Type(3, "c"));
  ASSERT_TRUE(Type(2, "m"));  // after the others: typed once they were
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 3u);
  EXPECT_EQ(windows->bells(), 2);
}

// Lines pushed out of a full hold queue are told with their count, once for the cause.
TEST_F(TypistTest, LinesGivenUpByDeliveryAreCountedAndToldOnce) {
  auto* windows = new testing::FakeForegroundWindows;
  auto delivery = std::make_shared<Delivery>(std::unique_ptr<platform::ForegroundWindows>(windows));
  delivery->SetRules(1, {DeliveryTarget{"nowhere", ""}, Elsewhere::kHold, DeliveryMethod::kKeys});
  typist_.SetDelivery(delivery);
  // The holding, then the first line pushed out of the full queue.
  std::promise<void> pushed_out;
  std::atomic<int> reports{0};
  typist_.SetReportNotice([&] {
    if (++reports == 2) pushed_out.set_value();
  });
  typist_.Start();
  const std::size_t lines = HoldQueue::kMaxLines + 3;
  for (std::size_t i = 0; i < lines; ++i) ASSERT_TRUE(Type(1, "x"));
  ASSERT_EQ(pushed_out.get_future().wait_for(kDrainLimit), std::future_status::ready);
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, lines);
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"holding COM1", "not-typed COM1"}));
}

// A paced line stops at the first key after its target left the front: nothing more of it
// goes into the window that came up.
TEST_F(TypistTest, APacedLineStopsWhenItsTargetLeavesTheFront) {
  auto* windows = new testing::FakeForegroundWindows;
  windows->Open(testing::FakeForegroundWindows::Window(1, {"stock"}));
  windows->Open(testing::FakeForegroundWindows::Window(2, {"mail"}));
  windows->Front(1);
  // Read as the line begins and before its first key; the mailbox is up before the second.
  windows->FrontAfterReads(2, 3);
  auto delivery = std::make_shared<Delivery>(std::unique_ptr<platform::ForegroundWindows>(windows));
  delivery->SetRules(1, {DeliveryTarget{"stock", ""}, Elsewhere::kHold, DeliveryMethod::kKeys, false});
  typist_.SetDelivery(delivery);
  typist_.SetPacing({.key_delay = std::chrono::milliseconds(1)});
  std::promise<void> reported;
  typist_.SetReportNotice([&] { reported.set_value(); });
  typist_.Start();
  ASSERT_TRUE(Type(1, "abc"));
  ASSERT_EQ(reported.get_future().wait_for(kDrainLimit), std::future_status::ready);
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 1u);
  EXPECT_EQ(keyboard_->Events(), (Calls{"down 0x41", "up 0x41", "end"}));
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.failure_reasons, (Calls{"cut short: stock is no longer in front (mail is in front)"}));
}

// A port that delivers by paste goes through the clipboard, and what went wrong beside a
// pasted line is told; a typist given no clipboard pastes nothing.
TEST_F(TypistTest, PasteLinesGoThroughTheClipboardAndItsTroubleIsTold) {
  auto delivery = std::make_shared<Delivery>(nullptr);
  delivery->SetRules(1, {std::nullopt, Elsewhere::kHold, DeliveryMethod::kPaste, false});
  delivery->SetRules(2, {std::nullopt, Elsewhere::kHold, DeliveryMethod::kPaste, false});
  typist_.SetDelivery(delivery);
  auto clipboard = std::make_shared<testing::FakeClipboard>("kept");
  clipboard->Fail("restore", "busy");
  typist_.SetClipboard(clipboard);
  typist_.Start();
  ASSERT_TRUE(Type(1, "a"));
  ASSERT_TRUE(keyboard_->WaitForLines(1));
  EXPECT_EQ(typist_.Finish(kDrainLimit).lines_not_typed, 0u);
  EXPECT_EQ(TypedLines(), (Typed{{1, "a"}}));
  EXPECT_EQ(clipboard->Calls(), (Calls{"save", "put a", "await", "restore"}));
  typist_.DeliverReports(events_);
  EXPECT_EQ(events_.calls, (Calls{"warning COM1"}));
  EXPECT_EQ(events_.failure_reasons, (Calls{"the clipboard could not be put back: busy"}));

  Typist without(keyboard_);
  without.SetDelivery(delivery);
  std::promise<void> reported;
  without.SetReportNotice([&] { reported.set_value(); });
  without.Start();
  ASSERT_TRUE(without.Enqueue(2, U"b", never_));
  ASSERT_EQ(reported.get_future().wait_for(kDrainLimit), std::future_status::ready);
  EXPECT_EQ(without.Finish(kDrainLimit).lines_not_typed, 1u);
  FakeCaptureEvents events;
  without.DeliverReports(events);
  EXPECT_EQ(events.failure_reasons, (Calls{"no clipboard to paste with"}));
}

}  // namespace
}  // namespace lintrel

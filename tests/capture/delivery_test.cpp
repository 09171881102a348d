#include "capture/delivery.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/fake_foreground_windows.h"

namespace lintrel {
namespace {

using testing::FakeForegroundWindows;
using Kind = DeliveryStep::Kind;
using Notice = DeliveryNotice::Kind;

TEST(MatchesTargetTest, ProgramNamesIgnoreCaseAndTitlePartsAreFoundAnywhere) {
  const platform::WindowInfo excel = FakeForegroundWindows::Window(1, {"EXCEL.EXE"}, "Stock 2026.xlsx - Excel");
  const platform::WindowInfo x_window = FakeForegroundWindows::Window(2, {"gedit", "Gedit", "gedit-bin"}, "notes");
  const struct {
    const char* target;
    const platform::WindowInfo& window;
    bool matches;
  } cases[] = {
      {"excel.exe", excel, true},
      {"Excel", excel, true},  // the .exe is not needed
      {"excel.exe:stock 2026", excel, true},
      {"excel.exe:Orders", excel, false},
      {"exce", excel, false},  // a program name is whole, not a part
      {"word.exe", excel, false},
      {"GEDIT", x_window, true},  // WM_CLASS instance or class
      {"gedit-bin", x_window, true},  // the program of _NET_WM_PID
      {"gedit:NOTES", x_window, true},
      {"notes", x_window, false},  // a title is no program name
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchesTarget(*ParseDeliveryTarget(c.target), c.window), c.matches) << c.target;
  }
  EXPECT_FALSE(MatchesTarget({"x", ""}, FakeForegroundWindows::Window(3, {})));
  EXPECT_TRUE(MatchesTarget({"x", ""}, FakeForegroundWindows::Window(4, {"x"}, "")));  // a window without a title
}

TEST(HoldQueueTest, TheOldestGoBeyondTheCountOrTheTime) {
  HoldQueue queue;
  const HoldQueue::Clock::time_point start{};
  for (std::size_t i = 0; i < HoldQueue::kMaxLines; ++i) {
    ASSERT_EQ(queue.Push(std::u32string(1, U'a' + static_cast<char32_t>(i % 26)), start), 0u);
  }
  EXPECT_EQ(queue.Push(U"late", start + std::chrono::seconds(200)), 1u);
  EXPECT_EQ(queue.size(), HoldQueue::kMaxLines);
  EXPECT_EQ(queue.Pop(), U"b");  // "a", the oldest, went
  EXPECT_EQ(queue.Expire(start + HoldQueue::kMaxWait), 0u);
  EXPECT_EQ(queue.Expire(start + HoldQueue::kMaxWait + std::chrono::seconds(1)), HoldQueue::kMaxLines - 2);
  EXPECT_EQ(queue.Pop(), U"late");
  EXPECT_TRUE(queue.empty());
  EXPECT_EQ(queue.Pop(), std::nullopt);
}

class DeliveryTest : public ::testing::Test {
 protected:
  DeliveryTest() {
    windows_->Open(FakeForegroundWindows::Window(kStock, {"stock"}, "Stock"));
    windows_->Open(FakeForegroundWindows::Window(kMail, {"mail"}, "Inbox"));
    windows_->Open(FakeForegroundWindows::Window(kRemote, {"mstsc.exe"}, "Remote Desktop"));
  }

  void Rules(int port, const char* target, Elsewhere elsewhere = Elsewhere::kHold,
             DeliveryMethod method = DeliveryMethod::kKeys) {
    delivery_.SetRules(port, {ParseDeliveryTarget(target), elsewhere, method, false});
  }
  std::vector<Notice> NoticeKinds() {
    std::vector<Notice> kinds;
    for (const DeliveryNotice& notice : delivery_.TakeNotices()) kinds.push_back(notice.kind);
    return kinds;
  }

  static constexpr uint64_t kStock = 1, kMail = 2, kRemote = 3;
  FakeForegroundWindows* windows_ = new FakeForegroundWindows;
  Delivery::Clock::time_point now_{};
  Delivery delivery_{std::unique_ptr<FakeForegroundWindows>(windows_), [this] { return now_; }};
};

TEST_F(DeliveryTest, WithoutATargetEveryLineIsTypedIntoTheWindowInFront) {
  delivery_.SetRules(4, {std::nullopt, Elsewhere::kDrop, DeliveryMethod::kUnicode, false});
  windows_->Front(kMail);
  EXPECT_EQ(delivery_.Route(4, U"x").kind, Kind::kType);
  EXPECT_EQ(delivery_.Route(4, U"x").method, DeliveryMethod::kUnicode);
  EXPECT_EQ(delivery_.Route(9, U"x").kind, Kind::kType);  // a port without rules
  EXPECT_EQ(delivery_.StrokeCheck(4), "");
  EXPECT_FALSE(delivery_.HasTargets());
}

// Lines wait whole, in arrival order, and a line that comes while others wait goes behind
// them even with its target in front.
TEST_F(DeliveryTest, HeldLinesAreTypedInOrderOnceTheTargetIsInFront) {
  Rules(3, "stock");
  windows_->Front(kMail);
  EXPECT_EQ(delivery_.Route(3, U"one").kind, Kind::kHeld);
  EXPECT_EQ(delivery_.Route(3, U"two").kind, Kind::kHeld);
  EXPECT_EQ(windows_->bells(), 1);  // once, as the holding began
  const std::vector<DeliveryNotice> notices = delivery_.TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], (DeliveryNotice{3, Notice::kHolding, "stock", "mail is in front", 0}));
  EXPECT_EQ(delivery_.NextReady(), std::nullopt);

  windows_->Front(kStock);
  EXPECT_EQ(delivery_.Route(3, U"three").kind, Kind::kHeld);
  for (const char32_t* expected : {U"one", U"two", U"three"}) {
    const std::optional<Delivery::Ready> ready = delivery_.NextReady();
    ASSERT_TRUE(ready.has_value());
    EXPECT_EQ(ready->port_number, 3);
    EXPECT_EQ(ready->line, expected);
  }
  EXPECT_FALSE(delivery_.AnyHeld());
  EXPECT_EQ(NoticeKinds(), std::vector<Notice>{Notice::kReleased});
  EXPECT_EQ(delivery_.Route(3, U"four").kind, Kind::kType);
}

TEST_F(DeliveryTest, EachPortWaitsForItsOwnTarget) {
  Rules(1, "stock");
  Rules(2, "mail");
  windows_->Front(kMail);
  EXPECT_EQ(delivery_.Route(1, U"for stock").kind, Kind::kHeld);
  EXPECT_EQ(delivery_.Route(2, U"for mail").kind, Kind::kType);
  EXPECT_EQ(delivery_.NextReady(), std::nullopt);
  windows_->Front(0);  // no window in front: nothing goes anywhere
  EXPECT_EQ(delivery_.Route(2, U"for mail").kind, Kind::kHeld);
  EXPECT_EQ(delivery_.NextReady(), std::nullopt);
  windows_->Front(kStock);
  EXPECT_EQ(delivery_.NextReady()->line, U"for stock");
  EXPECT_EQ(delivery_.NextReady(), std::nullopt);
}

TEST_F(DeliveryTest, DropReportsTheLineWithTheWindowInFront) {
  Rules(5, "stock:Stock", Elsewhere::kDrop);
  windows_->Front(kMail);
  const DeliveryStep step = delivery_.Route(5, U"x");
  EXPECT_EQ(step.kind, Kind::kNotTyped);
  EXPECT_EQ(step.reason, "stock:Stock is not in front (mail is in front)");
  EXPECT_FALSE(delivery_.AnyHeld());
  EXPECT_EQ(windows_->bells(), 0);
}

TEST_F(DeliveryTest, ActivateAsksForTheTargetAndHoldsTheLineUntilItIsUp) {
  Rules(6, "stock", Elsewhere::kActivate);
  windows_->activation_works = false;
  windows_->Front(kMail);
  EXPECT_EQ(delivery_.Route(6, U"x").kind, Kind::kHeld);
  EXPECT_EQ(windows_->activated(), std::vector<uint64_t>{kStock});
  const std::vector<DeliveryNotice> refused = delivery_.TakeNotices();
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].detail, "stock could not be brought to the front: refused");

  windows_->activation_works = true;
  EXPECT_EQ(delivery_.Route(6, U"y").kind, Kind::kHeld);  // asks again, and it comes up
  EXPECT_EQ(delivery_.NextReady()->line, U"x");
  EXPECT_EQ(delivery_.NextReady()->line, U"y");

  Rules(7, "absent", Elsewhere::kActivate);
  EXPECT_EQ(delivery_.Route(7, U"z").kind, Kind::kHeld);
  EXPECT_EQ(delivery_.TakeNotices().back().detail, "absent is not running");
}

// With no target running at all, or one that never comes, lines wait up to the bound and
// are then reported, counted.
TEST_F(DeliveryTest, LinesBeyondTheBoundAreReportedNotTyped) {
  Rules(8, "absent");
  windows_->Front(kMail);
  for (std::size_t i = 0; i < HoldQueue::kMaxLines + 2; ++i) delivery_.Route(8, U"x");
  std::vector<DeliveryNotice> notices = delivery_.TakeNotices();
  ASSERT_EQ(notices.size(), 3u);
  EXPECT_EQ(notices[1].kind, Notice::kNotTyped);
  EXPECT_EQ(notices[1].count + notices[2].count, 2u);
  EXPECT_EQ(notices[1].detail, "more than 100 lines waited for absent");

  now_ += HoldQueue::kMaxWait + std::chrono::seconds(1);
  EXPECT_EQ(delivery_.NextReady(), std::nullopt);
  notices = delivery_.TakeNotices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0], (DeliveryNotice{8, Notice::kNotTyped, "absent", "waited longer than 5 minutes for absent",
                                        HoldQueue::kMaxLines}));
  EXPECT_EQ(notices[1].kind, Notice::kReleased);
  EXPECT_FALSE(delivery_.AnyHeld());
}

TEST_F(DeliveryTest, ARemoteSessionInFrontTakesUnicodeAndSaysSoOnce) {
  Rules(1, "mstsc");
  Rules(2, "mstsc", Elsewhere::kHold, DeliveryMethod::kPaste);
  windows_->Front(kRemote);
  EXPECT_EQ(delivery_.Route(1, U"x").method, DeliveryMethod::kUnicode);
  EXPECT_EQ(delivery_.Route(1, U"x").method, DeliveryMethod::kUnicode);
  EXPECT_EQ(delivery_.Route(2, U"x").method, DeliveryMethod::kPaste);  // chosen by the user: kept
  const std::vector<DeliveryNotice> notices = delivery_.TakeNotices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0], (DeliveryNotice{1, Notice::kUnicode, "mstsc", "mstsc.exe", 0}));
}

TEST_F(DeliveryTest, TheStrokeCheckStopsALineWhenTheTargetLeavesTheFront) {
  Rules(3, "stock");
  windows_->Front(kStock);
  EXPECT_EQ(delivery_.StrokeCheck(3), "");
  windows_->Front(kMail);
  EXPECT_EQ(delivery_.StrokeCheck(3), "stock is no longer in front (mail is in front)");
}

// Rules changed while the typing runs: held lines stay for the same target, however it is
// spelled (and are typed as the new rules say); lines held for a target the port no longer
// has are given up, counted.
TEST_F(DeliveryTest, PublishedRulesTakeEffectAtTheNextLook) {
  Rules(3, "stock");
  windows_->Front(kMail);
  ASSERT_EQ(delivery_.Route(3, U"one").kind, Kind::kHeld);
  delivery_.PublishRules(3, {ParseDeliveryTarget("STOCK.exe"), Elsewhere::kHold, DeliveryMethod::kUnicode});
  windows_->Front(kStock);
  std::optional<Delivery::Ready> ready = delivery_.NextReady();
  ASSERT_TRUE(ready.has_value());
  EXPECT_EQ(ready->method, DeliveryMethod::kUnicode);
  delivery_.TakeNotices();

  windows_->Front(kMail);
  ASSERT_EQ(delivery_.Route(3, U"two").kind, Kind::kHeld);
  ASSERT_EQ(delivery_.Route(3, U"three").kind, Kind::kHeld);
  delivery_.TakeNotices();
  delivery_.PublishRules(3, {ParseDeliveryTarget("mail"), Elsewhere::kHold, DeliveryMethod::kKeys});
  EXPECT_EQ(delivery_.NextReady(), std::nullopt);
  const std::vector<DeliveryNotice> notices = delivery_.TakeNotices();
  ASSERT_EQ(notices.size(), 2u);
  EXPECT_EQ(notices[0], (DeliveryNotice{3, Notice::kNotTyped, "STOCK.exe",
                                        "they waited for STOCK.exe, no longer the port's target", 2}));
  EXPECT_EQ(notices[1].kind, Notice::kReleased);
  EXPECT_EQ(delivery_.Route(3, U"four").kind, Kind::kType);

  // No target any more: lines go to the window in front; a port outside the table is ignored.
  delivery_.PublishRules(3, {});
  delivery_.PublishRules(kHighestPortNumber + 1, {ParseDeliveryTarget("stock"), Elsewhere::kDrop, {}});
  windows_->Front(kRemote);
  EXPECT_EQ(delivery_.StrokeCheck(3), "");
  EXPECT_EQ(delivery_.Route(3, U"five").kind, Kind::kType);
}

}  // namespace
}  // namespace lintrel

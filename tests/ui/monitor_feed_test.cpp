#include "ui/monitor_feed.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace lintrel::ui {
namespace {

TEST(MonitorFeedTest, GathersItsPortsReportsAndNotifiesOncePerBatch) {
  std::atomic<int> notices{0};
  MonitorFeed feed(5, [&] { ++notices; });
  const std::vector<uint8_t> bytes = {'7', '\r'};
  const auto when = std::chrono::system_clock::now();
  feed.ChunkReceived(6, when, bytes);  // another port's
  EXPECT_EQ(notices.load(), 0);
  feed.ChunkReceived(5, when, bytes);
  LineResult result;
  result.outcome.text = U"7\r";
  feed.LineFinished(5, when, {bytes, true, 0}, result);
  EXPECT_EQ(notices.load(), 1) << "one notice while text waits";
  const std::string text = feed.TakeText();
  EXPECT_EQ(text.substr(12), " COM5 received 2 bytes: 37 0D  \"7\\r\"\r\n" + text.substr(0, 12) +
                                 " COM5 line: \"7\\r\" (ended by its end character)\r\n  types: 7<Enter>\r\n");
  EXPECT_EQ(feed.TakeText(), "");
  feed.ChunkReceived(5, when, bytes);
  EXPECT_EQ(notices.load(), 2);
}

TEST(MonitorFeedTest, ReportsBeyondWhatWaitsAreCountedNotKept) {
  MonitorFeed feed(1, {});
  const std::vector<uint8_t> chunk(1000, 'x');
  std::size_t added = 0;
  for (; added * 1000 < MonitorFeed::kMaxWaiting * 2; ++added) feed.ChunkReceived(1, {}, chunk);
  const std::string text = feed.TakeText();
  EXPECT_LT(text.size(), MonitorFeed::kMaxWaiting + 10000);
  const std::size_t kept = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) - 1;
  EXPECT_NE(text.find("(" + std::to_string(added - kept) + " reports left out"), std::string::npos) << kept;
}

}  // namespace
}  // namespace lintrel::ui

#include "platform/reader_pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace lintrel::platform {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr PacingClock::time_point At(microseconds offset) { return PacingClock::time_point(offset); }

// The times a writer that takes `write_time` per event sends `count` events at, as fast as
// the pacer lets it.
std::vector<PacingClock::time_point> PacedTimes(BurstPacer& pacer, int count, microseconds write_time) {
  std::vector<PacingClock::time_point> sent;
  PacingClock::time_point now = At(microseconds(0));
  for (int i = 0; i < count; ++i) {
    now += pacer.WaitBeforeNext(now);
    pacer.Sent(now);
    sent.push_back(now);
    now += write_time;
  }
  return sent;
}

TEST(BurstPacerTest, WaitsThePauseAfterAFullBurstAndStartsAfreshAfterAPause) {
  BurstPacer pacer(3, milliseconds(12));
  const std::vector<PacingClock::time_point> sent = PacedTimes(pacer, 7, microseconds(100));
  const std::vector<PacingClock::time_point> expected = {
      At(microseconds(0)),     At(microseconds(100)),   At(microseconds(200)),  // a burst
      At(microseconds(12200)), At(microseconds(12300)), At(microseconds(12400)),  // 12 ms after its last
      At(microseconds(24400))};
  EXPECT_EQ(sent, expected);

  // Events sent slowly, each within the pause of the one before, are still one burst.
  BurstPacer slow(3, milliseconds(12));
  for (int ms : {0, 11, 22}) {
    EXPECT_EQ(slow.WaitBeforeNext(At(milliseconds(ms))), PacingClock::duration::zero()) << ms;
    slow.Sent(At(milliseconds(ms)));
  }
  EXPECT_EQ(slow.WaitBeforeNext(At(milliseconds(30))), milliseconds(4));
  // A pause as long as the pause ends the burst.
  EXPECT_EQ(slow.WaitBeforeNext(At(milliseconds(34))), PacingClock::duration::zero());
}

// What the pacing is for: a reader that reads every interval, whenever it began, never
// finds more than one burst waiting, for writers of any speed.
TEST(BurstPacerTest, AReaderThatReadsOftenEnoughNeverFindsMoreThanABurst) {
  for (const microseconds write_time : {microseconds(0), microseconds(5), microseconds(300), microseconds(2000)}) {
    BurstPacer pacer(24, milliseconds(12));
    const std::vector<PacingClock::time_point> sent = PacedTimes(pacer, 1000, write_time);
    for (const microseconds interval : {microseconds(10000), microseconds(11900)}) {
      for (microseconds phase(0); phase < interval; phase += microseconds(250)) {
        std::size_t most = 0;
        for (PacingClock::time_point read = At(phase); read <= sent.back(); read += interval) {
          const auto first = std::upper_bound(sent.begin(), sent.end(), read);
          const auto last = std::upper_bound(sent.begin(), sent.end(), read + interval);
          most = std::max(most, static_cast<std::size_t>(last - first));
        }
        ASSERT_LE(most, 24u) << "write " << write_time.count() << " us, reads every " << interval.count()
                             << " us from " << phase.count() << " us";
      }
    }
  }
}

TEST(NewDeviceReadersTest, ReadyOnceTheReadersOpensHaveSettledOrWhenNoneCame) {
  enum Kind { kOpen, kClose, kLost };
  struct Notice {
    Kind kind;
    int at_ms;
  };
  struct Case {
    std::string name;
    std::vector<Notice> notices;
    int ready_ms;
  };
  // Made at 0, quiet 200 ms, patience 2 s.
  const std::vector<Case> cases = {
      {"no reader opens it", {}, 2000},
      {"one reader opens it", {{kOpen, 10}}, 210},
      {"a second reader comes later", {{kOpen, 10}, {kOpen, 150}}, 350},
      {"opened, probed, closed and opened again", {{kOpen, 10}, {kClose, 15}, {kOpen, 20}}, 220},
      {"opened and closed again: no reader left", {{kOpen, 10}, {kClose, 15}}, 2000},
      {"a close without its open", {{kClose, 10}}, 2000},
      {"an open just before the patience ends", {{kOpen, 1950}}, 2000},
      {"notices lost", {{kLost, 30}}, 230},
  };
  for (const Case& test : cases) {
    NewDeviceReaders readers(At(microseconds(0)), milliseconds(200), std::chrono::seconds(2));
    for (const Notice& notice : test.notices) {
      const PacingClock::time_point at = At(milliseconds(notice.at_ms));
      if (notice.kind == kOpen) readers.Opened(at);
      if (notice.kind == kClose) readers.Closed(at);
      if (notice.kind == kLost) readers.Lost(at);
    }
    EXPECT_EQ(readers.ReadyAt(), At(milliseconds(test.ready_ms))) << test.name;
  }
}

}  // namespace
}  // namespace lintrel::platform

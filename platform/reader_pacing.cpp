#include "platform/reader_pacing.h"

#include <algorithm>

namespace lintrel::platform {

PacingClock::duration BurstPacer::WaitBeforeNext(PacingClock::time_point now) const {
  if (StartsBurst(now) || in_burst_ < events_per_burst_) return PacingClock::duration::zero();
  return *last_sent_ + pause_ - now;
}

void BurstPacer::Sent(PacingClock::time_point now) {
  in_burst_ = StartsBurst(now) ? 1 : in_burst_ + 1;
  last_sent_ = now;
}

void NewDeviceReaders::Opened(PacingClock::time_point at) {
  ++open_;
  last_change_ = at;
}

void NewDeviceReaders::Closed(PacingClock::time_point at) {
  // A close of an open made before the watch began counts for nothing.
  open_ = std::max(open_ - 1, 0);
  last_change_ = at;
}

void NewDeviceReaders::Lost(PacingClock::time_point at) {
  maybe_open_ = true;
  last_change_ = at;
}

PacingClock::time_point NewDeviceReaders::ReadyAt() const {
  if ((open_ == 0 && !maybe_open_) || !last_change_) return deadline_;
  return std::min(*last_change_ + quiet_, deadline_);
}

}  // namespace lintrel::platform

#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "capture/capture_events.h"
#include "capture/port_table.h"
#include "settings/capture_options.h"

namespace lintrel {

// Sends each port's requests (PortRequests in its capture rules) to its device: the text to
// send on connect once per open, the poll on its timer while the port is connected and not
// paused, and the poll at once when the user asks ("Send now", SIGUSR1). A poll is not sent
// while the line of the previous reply is under way, for at most kIncompleteReplyHold after
// that poll (a device that lost its end character must not stop the polls for good). A poll
// with no line back within the reply timeout is reported once ("no reply to the poll"), as
// is a request that could not be sent; a line from the port clears the report, so that the
// next such problem is told again. Nothing here sleeps: the times are deadlines that the UI
// thread's loop or timer serves through RunDue().
//
// Thread contract: UI thread only. Reads the slots' counters, which readers write.
class Requester {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::seconds kIncompleteReplyHold{2};

  Requester(PortTable& table, const SharedCaptureOptions& options, CaptureEvents& events);

  // Sends what has fallen due and reports the replies that did not come.
  void RunDue(Clock::time_point now);
  // The earliest time RunDue() has something to do, if any.
  std::optional<Clock::time_point> NextDue() const;
  // Sends the port's poll now, if it has one and is connected and not paused; false if not.
  bool SendNow(int port_number, Clock::time_point now);
  // SendNow() for every port.
  void SendNowToAll(Clock::time_point now);

 private:
  struct PortState {
    int opens_seen = 0;
    uint64_t lines_seen = 0;
    std::optional<Clock::time_point> next_poll;
    std::optional<Clock::time_point> reply_due;  // the earliest unanswered poll's deadline
    std::optional<Clock::time_point> last_poll;
    std::string reported;  // the problem last told; empty once a line came
  };

  void RunPort(int port_number, Clock::time_point now);
  void TakeReplies(int port_number, PortState& state, Clock::time_point now);
  bool SendPoll(int port_number, const PortRequests& requests, Clock::time_point now);
  bool Send(int port_number, const std::string& text, const std::string& what);
  void Report(int port_number, const std::string& problem);
  PortRequests RequestsOf(int port_number) const;
  PortState& StateOf(int port_number) { return states_[static_cast<std::size_t>(port_number)]; }

  PortTable& table_;
  const SharedCaptureOptions& options_;
  CaptureEvents& events_;
  std::array<PortState, kPortNumberCount> states_{};
};

}  // namespace lintrel

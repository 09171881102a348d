#pragma once

#include <array>
#include <chrono>
#include <optional>

#include "capture/capture_events.h"
#include "capture/port_connection.h"
#include "capture/port_table.h"
#include "settings/capture_options.h"

namespace lintrel {

// Once a second: closes every port whose link was lost and re-opens it after the
// reconnection delay, and retries a failed re-open on each later tick; reports a network
// port connected once its link is up, and one that could not connect as a failed open,
// retried on each later tick like a missing device; a device's arrival
// re-opens the waiting ports at once (the ticks stay as the fallback). Nothing here sleeps:
// the reconnection delays are deadlines that the UI thread's loop or timer serves through
// RunDue().
//
// Thread contract: UI thread only. Reads link_state, which readers write.
class LinkSupervisor {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kTickInterval{1000};

  LinkSupervisor(PortTable& table, PortConnection& connection, const SharedCaptureOptions& options,
                 CaptureEvents& events);

  // The once-a-second walk.
  void Tick(Clock::time_point now);
  // Carries out the delayed re-opens that have fallen due.
  void RunDue(Clock::time_point now);
  // A serial device has appeared: every port waiting to be re-opened is tried at once,
  // without waiting for its delay or the next tick (the device may be its own, back again).
  // A port that still finds no device keeps its schedule.
  void DevicesArrived();
  // Connects the port; when it cannot be opened now it waits for its device as a port after
  // a lost link does (tried on every tick and every arrival, failures reported as retries),
  // for ports that should be connected without the user asking now (remembered ones).
  void ConnectOrAwait(int port_number);
  // The earliest pending re-open, if any.
  std::optional<Clock::time_point> NextDue() const;
  // Whether the next tick has anything to do: a link that is lost, a re-open to try again,
  // or a network port's connection to report. A loop may skip ticks until a reader reports a lost link.
  bool HasLinkWork() const;

  // Whether the port was released after a lost link and waits to be re-opened, during the
  // reconnection delay or retried on every tick after a failed re-open.
  bool AwaitsReconnect(int port_number) const;
  // The user gives up on a waiting port: it is not re-opened any more. A port that does not
  // wait stays as it is.
  void CancelReconnect(int port_number);

 private:
  bool Reconnect(int port_number);
  // A port that connects later lost its link before it was ever up.
  void ConnectionFailed(int port_number);

  PortTable& table_;
  PortConnection& connection_;
  const SharedCaptureOptions& options_;
  CaptureEvents& events_;
  std::array<std::optional<Clock::time_point>, kPortNumberCount> reconnect_due_{};
  // Ports that were paused when their link was lost: re-opened, they stay paused, so that a
  // link blip never starts typing that the user had stopped.
  std::array<bool, kPortNumberCount> paused_when_lost_{};
};

}  // namespace lintrel

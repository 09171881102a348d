#pragma once

#include <array>
#include <chrono>
#include <optional>

#include "capture/port_connection.h"
#include "capture/port_table.h"
#include "capture/ui_hooks.h"
#include "settings/capture_options.h"

namespace lintrel {

// Once a second: shows the current port's state in the tray icon, closes every port whose
// link was lost and re-opens it after the reconnection delay, and retries a failed re-open
// on each later tick. Nothing here sleeps: the icon flash and the reconnection delays are
// deadlines that the UI thread's loop or timer serves through RunDue().
//
// Thread contract: UI thread only. Reads link_state, which readers write.
class LinkSupervisor {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kTickInterval{1000};
  static constexpr std::chrono::milliseconds kFlashDuration{500};

  // Without a tray icon (`shows_tray_icon` false) there is no icon to refresh or flash.
  LinkSupervisor(PortTable& table, PortConnection& connection, const CaptureOptions& options,
                 UiHooks& hooks, bool shows_tray_icon = true);

  // The once-a-second walk.
  void Tick(Clock::time_point now);
  // Carries out what has fallen due: the end of the icon flash, delayed re-opens.
  void RunDue(Clock::time_point now);
  // The earliest pending deadline, if any.
  std::optional<Clock::time_point> NextDue() const;
  // Whether the next tick has anything to do besides the tray icon: a link that is lost, or
  // a re-open to try again. A loop without a tray icon may skip ticks until a reader reports
  // a lost link.
  bool HasLinkWork() const;

 private:
  void RefreshTrayIcon(Clock::time_point now);
  void Reconnect(int port_number);

  PortTable& table_;
  PortConnection& connection_;
  const CaptureOptions& options_;
  UiHooks& hooks_;
  const bool shows_tray_icon_;
  std::optional<Clock::time_point> flash_ends_;
  std::array<std::optional<Clock::time_point>, kPortNumberCount> reconnect_due_{};
  // Ports that were paused when their link was lost: re-opened, they stay paused, so that a
  // link blip never starts typing that the user had stopped.
  std::array<bool, kPortNumberCount> paused_when_lost_{};
};

}  // namespace lintrel

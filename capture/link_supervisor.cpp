#include "capture/link_supervisor.h"


namespace lintrel {

namespace {

// A reader found its link lost: the port is to be released and re-opened.
bool LinkLost(const PortSlot& slot) {
  return slot.link_state.load() == LinkState::kLost && slot.reader != nullptr;
}

// The port was released after a lost link and waits to be re-opened.
bool AwaitsReopen(const PortSlot& slot) {
  return slot.link_state.load() == LinkState::kAwaitingReconnect && slot.reader == nullptr;
}

}  // namespace

LinkSupervisor::LinkSupervisor(PortTable& table, PortConnection& connection,
                               const CaptureOptions& options, UiHooks& hooks, bool shows_tray_icon)
    : table_(table),
      connection_(connection),
      options_(options),
      hooks_(hooks),
      shows_tray_icon_(shows_tray_icon) {}

void LinkSupervisor::Tick(Clock::time_point now) {
  if (shows_tray_icon_) RefreshTrayIcon(now);
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    PortSlot& slot = table_[port_number];
    const bool connected = slot.connected.load() == 1;
    auto& due = reconnect_due_[static_cast<std::size_t>(port_number)];

    if (LinkLost(slot) && connected) {
      // Release, mark as waiting, and re-open once the reconnection delay has passed.
      hooks_.LinkLost(port_number);
      paused_when_lost_[static_cast<std::size_t>(port_number)] = slot.paused.load() == 1;
      connection_.TogglePortConnection(port_number);
      slot.link_state.store(LinkState::kAwaitingReconnect);
      due = now + std::chrono::milliseconds(options_.reconnect_delay_ms.load());
    } else if (AwaitsReopen(slot) && !connected && !due.has_value()) {
      // A re-open that failed earlier is tried again on every tick.
      Reconnect(port_number);
    }
  }
}

void LinkSupervisor::RunDue(Clock::time_point now) {
  if (flash_ends_ && *flash_ends_ <= now) {
    flash_ends_.reset();
    if (table_[table_.current_port].paused.load() == 0) hooks_.SetTrayImage(TrayImage::kNormal);
  }
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    auto& due = reconnect_due_[static_cast<std::size_t>(port_number)];
    if (!due || *due > now) continue;
    due.reset();
    const PortSlot& slot = table_[port_number];
    // The user may have connected the port during the delay.
    if (AwaitsReopen(slot) && slot.connected.load() == 0) {
      Reconnect(port_number);
    }
  }
}

std::optional<LinkSupervisor::Clock::time_point> LinkSupervisor::NextDue() const {
  std::optional<Clock::time_point> next = flash_ends_;
  for (const auto& due : reconnect_due_) {
    if (due && (!next || *due < *next)) next = due;
  }
  return next;
}

bool LinkSupervisor::HasLinkWork() const {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    if (LinkLost(table_[port_number]) || AwaitsReopen(table_[port_number])) return true;
  }
  return false;
}

void LinkSupervisor::RefreshTrayIcon(Clock::time_point now) {
  const PortSlot& current = table_[table_.current_port];
  if (current.paused.load() != 0) {
    hooks_.SetTrayImage(TrayImage::kPaused);
  } else if (current.connected.load() != 0) {
    // Flash the activity image for half a second.
    hooks_.SetTrayImage(TrayImage::kActivity);
    flash_ends_ = now + kFlashDuration;
  }
}

void LinkSupervisor::Reconnect(int port_number) {
  if (!connection_.TogglePortConnection(port_number)) return;
  bool& was_paused = paused_when_lost_[static_cast<std::size_t>(port_number)];
  if (was_paused) table_[port_number].paused.store(1);
  was_paused = false;
}

}  // namespace lintrel

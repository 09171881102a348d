#include "capture/link_supervisor.h"

#include <utility>

#include "capture/reader_thread.h"

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
                               const SharedCaptureOptions& options, CaptureEvents& events)
    : table_(table), connection_(connection), options_(options), events_(events) {}

void LinkSupervisor::Tick(Clock::time_point now) {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    PortSlot& slot = table_[port_number];
    const bool connected = slot.connected.load();
    auto& due = reconnect_due_[static_cast<std::size_t>(port_number)];

    if (LinkLost(slot) && connected) {
      // Release, mark as waiting, and re-open once the port's reconnection delay has passed.
      const std::chrono::milliseconds delay(options_.LoadFor(port_number).options.reconnect_delay_ms);
      events_.LinkLost(port_number, {delay, slot.reader->failure()});
      paused_when_lost_[static_cast<std::size_t>(port_number)] = slot.paused.load();
      connection_.Disconnect(port_number);
      slot.link_state.store(LinkState::kAwaitingReconnect);
      due = now + delay;
    } else if (AwaitsReopen(slot) && !connected && !due.has_value()) {
      // A re-open that failed earlier is tried again on every tick.
      Reconnect(port_number);
    }
  }
}

void LinkSupervisor::RunDue(Clock::time_point now) {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    auto& due = reconnect_due_[static_cast<std::size_t>(port_number)];
    if (!due || *due > now) continue;
    due.reset();
    const PortSlot& slot = table_[port_number];
    // The user may have connected the port during the delay.
    if (AwaitsReopen(slot) && !slot.connected.load()) Reconnect(port_number);
  }
}

void LinkSupervisor::DevicesArrived() {
  for (int port_number = kLowestPortNumber; port_number <= kHighestPortNumber; ++port_number) {
    const PortSlot& slot = table_[port_number];
    if (!AwaitsReopen(slot) || slot.connected.load()) continue;
    // Another device's arrival leaves the port's schedule as it was: a pending delay stays.
    auto& due = reconnect_due_[static_cast<std::size_t>(port_number)];
    const std::optional<Clock::time_point> pending = std::exchange(due, std::nullopt);
    if (!Reconnect(port_number)) due = pending;
  }
}

void LinkSupervisor::ConnectOrAwait(int port_number) {
  if (!IsPortNumber(port_number) || table_[port_number].connected.load()) return;
  // Marked first, so that a failed open is reported as a retry and not to the user.
  table_[port_number].link_state.store(LinkState::kAwaitingReconnect);
  connection_.Connect(port_number);
}

std::optional<LinkSupervisor::Clock::time_point> LinkSupervisor::NextDue() const {
  std::optional<Clock::time_point> next;
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

bool LinkSupervisor::AwaitsReconnect(int port_number) const {
  if (!IsPortNumber(port_number)) return false;
  const PortSlot& slot = table_[port_number];
  return AwaitsReopen(slot) && !slot.connected.load();
}

void LinkSupervisor::CancelReconnect(int port_number) {
  if (!AwaitsReconnect(port_number)) return;
  const auto index = static_cast<std::size_t>(port_number);
  reconnect_due_[index].reset();
  paused_when_lost_[index] = false;
  // Back to the state of a port that was never connected.
  table_[port_number].link_state.store(LinkState::kFresh);
}

bool LinkSupervisor::Reconnect(int port_number) {
  if (!connection_.Connect(port_number)) return false;
  bool& was_paused = paused_when_lost_[static_cast<std::size_t>(port_number)];
  if (was_paused) table_[port_number].paused.store(true);
  was_paused = false;
  return true;
}

}  // namespace lintrel

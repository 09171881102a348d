#pragma once

#include <chrono>
#include <thread>

#include "capture/port_table.h"
#include "support/safety_limit.h"

namespace lintrel::testing {

// Polls (bounded by the safety limit) until `condition`, about something another thread
// writes, holds.
template <typename Condition>
bool PollUntil(Condition condition) {
  const auto give_up = std::chrono::steady_clock::now() + kSafetyLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Until the slot's link state, which its reader thread writes, reads `expected`.
inline bool LinkStateBecomes(const PortSlot& slot, int expected) {
  return PollUntil([&] { return slot.link_state.load() == expected; });
}

}  // namespace lintrel::testing

#include "platform/key_injection.h"

namespace lintrel::platform {

TargetRights CompareIntegrity(std::optional<uint32_t> own, std::optional<uint32_t> target) {
  if (!own || !target) return TargetRights::kUnknown;
  return *target > *own ? TargetRights::kHigher : TargetRights::kNotHigher;
}

KeyOutputResult InjectKeys(KeyInjectionSystem& system, std::span<const KeyEvent> events) {
  if (events.empty()) return {};
  if (system.ForegroundWindowRights() == TargetRights::kHigher) {
    return {.accepted = 0,
            .error = "the window in front belongs to a program running with higher rights (as administrator), "
                     "which Windows keeps key presses from"};
  }
  const std::size_t accepted = system.Inject(events);
  if (accepted >= events.size()) return {.accepted = events.size(), .error = {}};
  std::string error = "Windows took " + std::to_string(accepted) + " of " + std::to_string(events.size()) +
                      " key events";
  if (const std::string reason = system.LastErrorText(); !reason.empty()) error += ": " + reason;
  return {.accepted = accepted, .error = error};
}

}  // namespace lintrel::platform

#include "ui/policy_locks.h"

#include <string>

#include "common/port_number.h"
#include "settings/connection_memory.h"
#include "settings/line_settings_store.h"
#include "settings/port_profile.h"

namespace lintrel::ui {
namespace {

// Whether a policy sets the port's value `name` (its own, or the one for every port).
bool Locked(const LayeredSettings& settings, int port_number, const std::string& name) {
  return settings.SetByPolicy(IsPortNumber(port_number) ? PortProfileEntry(port_number, name) : name);
}

}  // namespace

OptionsLocks OptionsLocksFor(const LayeredSettings& settings, int port_number) {
  const auto locked = [&](const char* name) { return Locked(settings, port_number, name); };
  return {.end_character = locked(kEndCharEntry),
          .truncate = locked(kTruncateEntry),
          .prefix = locked(kPortNamePrefixEntry),
          .prefix_text = locked(kPrefixTextEntry),
          .suffix = locked(kSuffixEntry),
          .replacements = Locked(settings, port_number, std::string(kReplaceEntry) + " 1"),
          .control = locked(kControlEntry),
          .pattern = locked(kPatternEntry),
          .unmatched = locked(kUnmatchedEntry),
          .gs1 = locked(kGs1Entry),
          .template_text = locked(kTemplateEntry),
          .repeat_window = locked(kRepeatWindowEntry),
          .encoding = locked(kEncodingEntry),
          .key_delay = locked(kKeyDelayEntry),
          .line_delay = locked(kLineDelayEntry),
          .reconnect_delay = locked(kReconnectionDelayEntry),
          .reconnect_at_start = settings.SetByPolicy(kReconnectAtStartEntry),
          .follow_devices = settings.SetByPolicy(kFollowDevicesEntry),
          .target = locked(kTargetEntry),
          .elsewhere = locked(kElsewhereEntry),
          .delivery = locked(kDeliveryEntry),
          .sound_not_typed = locked(kNotTypedSoundEntry),
          .send_on_connect = locked(kSendOnConnectEntry),
          .poll = locked(kPollEntry),
          .poll_every = locked(kPollEveryEntry),
          .reply_timeout = locked(kReplyTimeoutEntry),
          .hotkey = locked(kHotkeyEntry)};
}

LineLocks LineLocksFor(const LayeredSettings& settings, int port_number) {
  const auto locked = [&](const char* name) { return Locked(settings, port_number, name); };
  return {.baud = locked(kBaudRateEntry),
          .parity = locked(kParityEntry),
          .data_bit = locked(kDataBitEntry),
          .stop_bit = locked(kStopBitEntry)};
}

bool ConnectedPortsLocked(const LayeredSettings& settings) { return settings.SetByPolicy(kConnectedPortsEntry); }

}  // namespace lintrel::ui
